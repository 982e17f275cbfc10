// SPDX-License-Identifier: MIT
#pragma once

#include "FileIdentity.h"
#include "Picture.h"
#include "TargetFormat.h"

#include <QString>

#include <memory>
#include <optional>
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

// One picture converted: its output, written ahead and waiting to be put in
// place, and a preview made from the same decode.
struct ConvertedPicture {
    std::unique_ptr<PreparedPicture> file;
    PictureObject preview;
};

// Converting and previewing pictures. convert and memoryNeeded may run on
// worker threads, several at once; the preview calls run on the event thread.
// Failures throw PlatformError.
class PictureCodec {
public:
    virtual ~PictureCodec() = default;

    // Reads the source, turns it upright and encodes it in the format for
    // `target`: everything short of putting the file in place. A request on
    // `stop` ends the work early with PlatformError(Cancelled).
    virtual ConvertedPicture convert(const QString& source, TargetFormat format,
                                     const QString& target, std::stop_token stop = {}) = 0;

    // A picture for the preview box: possibly a smaller decode; an empty file
    // name gives the empty picture. A preview handed over with rememberPreview
    // for this file is returned as it is.
    virtual PictureObject loadPreview(const QString& fileName) = 0;
    // Keeps a preview the batch made from its own decode, so that showing the
    // row does not decode the file again.
    virtual void rememberPreview(const QString& fileName, const PictureObject& preview) = 0;

    // The memory converting the file takes at most, judged from its header
    // alone; 0 when the header does not say (the file then fails early).
    virtual qint64 memoryNeeded(const QString& fileName) = 0;
    // What the rows of a batch may take together.
    virtual qint64 memoryBudget() const = 0;

    // The file a path names, as the file system tells files apart; none when
    // there is no such file. The batch asks it to keep its outputs off the
    // files it reads.
    virtual std::optional<FileIdentity> fileIdentity(const QString& fileName) = 0;
};
