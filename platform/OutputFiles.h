// SPDX-License-Identifier: MIT
// Putting encoded pictures in place, for the picture files code.
#pragma once

#include "PictureFiles.h"

#include <QByteArray>
#include <QString>

#include <memory>

// Refuses a target that is not a regular file or that nobody may write, even
// where the system would let us replace it (as root, or by renaming over it).
// Throws PlatformError(CannotWrite).
void checkReplaceable(const QString& fileName);

// Writes the bytes ahead, in the target's folder but out of sight; commit()
// puts them in place over the target in one step. A file never committed
// leaves nothing behind. Throws PlatformError(CannotWrite).
std::unique_ptr<PreparedPictureFile> prepareOutputFile(const QByteArray& bytes,
                                                       const QString& fileName);
