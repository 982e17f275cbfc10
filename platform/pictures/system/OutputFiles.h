// SPDX-License-Identifier: MIT
// Putting encoded pictures in place. The bytes are written ahead, out of
// sight in the target's folder; commit() puts them over the target in one
// step; a file never committed leaves nothing behind.
#pragma once

#include "PictureCodec.h"
#include "PlatformError.h"
#include "structures/FileBytes.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// Refuses a target that is not a regular file or that nobody may write, even
// where the system would let us replace it (as root, or by renaming over it).
// Throws a write failure.
void checkReplaceable(const QString& fileName);

// Writes the bytes ahead for fileName; the caller has checked the target with
// checkReplaceable, and commit() checks it again. Throws a write failure.
std::unique_ptr<PreparedPicture> prepareOutputFile(const QByteArray& bytes,
                                                   const QString& fileName);
// The same for a file handed out in pieces, each written as it comes.
std::unique_ptr<PreparedPicture> prepareOutputFile(FileBytes& bytes, const QString& fileName);

// A short hidden name for a file waiting beside its target (the target's own
// name could be too long to extend).
QString hiddenOutputName();

// The file a path names (following links), or none when it cannot be looked
// at. Opens nothing for reading or writing and never keeps another program
// from the file.
std::optional<FileIdentity> identifyFile(const QString& fileName);
