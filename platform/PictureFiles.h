// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"

#include <QString>

// Reads a picture file into an upright, sRGB, single-frame picture.
// Throws PlatformError: FileMissing, NotAPicture or PictureTooLarge.
PictureObject loadPictureFile(const QString& fileName);

// Writes the picture in the format the file name's extension names. The file
// appears only once complete; on failure an existing file stays as it was.
// Throws PlatformError(CannotWrite).
void savePictureFile(const Picture& picture, const QString& fileName);
