// SPDX-License-Identifier: MIT
// Picture files: reading one into a picture and encoding a picture for its
// target, each through a direct codec where one gives what ImageMagick's
// general path gives, and through the general path otherwise. Our code reads
// and writes the bytes; the codecs only ever see memory, decoded with a
// format chosen from the content, so a file's name never reaches them.
#pragma once

#include "Picture.h"
#include "PictureCodec.h"
#include "TargetFormat.h"

#include <QString>

#include <memory>
#include <stop_token>

// Reads a picture file into an upright, sRGB, single-frame picture.
// Throws PlatformError: FileMissing, CannotRead, NotAPicture, PictureTooLarge,
// or Cancelled once `stop` is requested.
PictureObject loadPictureFile(const QString& fileName, std::stop_token stop = {});

// A smaller decode for showing in a box of the given size, where the format
// allows one (JPEG); otherwise the whole picture. Upright like loadPictureFile.
PictureObject loadPreviewFile(const QString& fileName, int boxWidth, int boxHeight);

// Encodes the picture in the format and writes it ahead for fileName; the
// file appears only on commit, and on failure an existing file stays as it
// was. Safe to call from several threads at once. Throws a write failure, or
// PlatformError(Cancelled) once `stop` is requested.
std::unique_ptr<PreparedPicture> preparePictureFile(const Picture& picture, TargetFormat format,
                                                    const QString& fileName,
                                                    std::stop_token stop = {});

// The picture's bytes in the format, from the direct codec where it applies,
// else from the general path. Throws as preparePictureFile.
QByteArray encodePicture(const Picture& picture, TargetFormat format, const std::stop_token& stop);
