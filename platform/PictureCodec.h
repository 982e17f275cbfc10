// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"
#include "TargetFormat.h"

#include <QString>

#include <memory>
#include <stop_token>

// A picture encoded for its target file but not yet in place. Destroying it
// uncommitted leaves the target as it was and removes what was written.
class PreparedPicture {
public:
    virtual ~PreparedPicture() = default;
    // Puts the file in place, replacing an existing one. Throws a write
    // failure (PlatformError).
    virtual void commit() = 0;
};

// Decoding, encoding and previewing pictures. load, prepare and
// memoryNeeded may run on worker threads, several at once; the preview
// calls run on the event thread. Failures throw PlatformError. A request on
// `stop` ends a load or prepare early with PlatformError(Cancelled).
class PictureCodec {
public:
    virtual ~PictureCodec() = default;

    // An upright, single-frame picture; an empty file name gives the empty
    // picture (nullptr).
    virtual PictureObject load(const QString& fileName, std::stop_token stop = {}) = 0;
    // Encodes the picture in the format for the file, everything short of
    // putting the file in place.
    virtual std::unique_ptr<PreparedPicture> prepare(const PictureObject& picture,
                                                     TargetFormat format, const QString& fileName,
                                                     std::stop_token stop = {}) = 0;

    // A picture for the preview box: possibly a smaller decode. A preview
    // handed over with rememberPreview for this file is returned as it is.
    virtual PictureObject loadPreview(const QString& fileName) = 0;
    // A decoded picture made small enough for the preview box.
    virtual PictureObject previewOf(const PictureObject& picture) = 0;
    // Keeps a preview the batch made from its own decode, so that showing the
    // row does not decode the file again.
    virtual void rememberPreview(const QString& fileName, const PictureObject& preview) = 0;

    // The memory converting the file takes at most, judged from its header
    // alone; 0 when the header does not say (the file then fails early).
    virtual qint64 memoryNeeded(const QString& fileName) = 0;
    // What the rows of a batch may take together.
    virtual qint64 memoryBudget() const = 0;
};
