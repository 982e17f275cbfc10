// SPDX-License-Identifier: MIT
// Placeholder until the codec lands.
#include "PictureFiles.h"

#include "PlatformError.h"

PictureObject loadPictureFile(const QString& fileName) {
    if (fileName.isEmpty())
        return nullptr;
    throw PlatformError(FailureKind::NotAPicture, fileName);
}

void savePictureFile(const Picture&, const QString& fileName) {
    throw PlatformError(FailureKind::CannotWrite, fileName);
}
