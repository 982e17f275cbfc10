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
// CodecNotReady, or Cancelled once `stop` is requested.
PictureObject loadPictureFile(const QString& fileName, std::stop_token stop = {});

// A smaller decode for showing in a box of the given size, where the format
// allows one (JPEG); otherwise the whole picture. Upright like loadPictureFile.
PictureObject loadPreviewFile(const QString& fileName, int boxWidth, int boxHeight);

// One source converted: its output written ahead, and the decode a preview is
// made from (the whole picture, or a scaled decode where the output was
// carried over without one).
struct PictureFileConversion {
    std::unique_ptr<PreparedPicture> file;
    PictureObject picture;
};

// Reads, decodes and encodes the source for `target`, as loadPictureFile and
// preparePictureFile do, except that a JPEG written as JPG keeps its own
// compressed data, turned upright losslessly where needed; only when that
// cannot be done exactly is it decoded and encoded. Throws as those two.
PictureFileConversion convertPictureFile(const QString& source, TargetFormat format,
                                         const QString& target, int previewWidth, int previewHeight,
                                         std::stop_token stop = {});

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
