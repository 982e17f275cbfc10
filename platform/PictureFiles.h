// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"
#include "PictureCodec.h"

#include <QString>

#include <memory>
#include <stop_token>

// Reads a picture file into an upright, sRGB, single-frame picture.
// Throws PlatformError: FileMissing, CannotRead, NotAPicture, PictureTooLarge,
// or Cancelled once `stop` is requested.
PictureObject loadPictureFile(const QString& fileName, std::stop_token stop = {});

// Writes the picture in the format the file name's extension names. The file
// appears only once complete; on failure an existing file stays as it was.
// Throws PlatformError (a write failure).
void savePictureFile(const Picture& picture, const QString& fileName);

// A smaller decode for showing in a box of the given size, where the format
// allows one (JPEG); otherwise the whole picture. Upright like loadPictureFile.
PictureObject loadPreviewFile(const QString& fileName, int boxWidth, int boxHeight);

// Encodes the picture for fileName (the work of savePictureFile, short of
// putting the file in place). Safe to call from several threads at once.
// Throws a write failure, or PlatformError(Cancelled) once `stop` is requested.
std::unique_ptr<PreparedPicture> preparePictureFile(const Picture& picture, const QString& fileName,
                                                    std::stop_token stop = {});
