// SPDX-License-Identifier: MIT
// The limits a picture is held to before any pixel memory is taken.
#pragma once

#include <QString>
#include <QtGlobal>

// Limits on what a picture may declare before we decode it.
inline constexpr qint64 kMaxPictureSide = 20000;
inline constexpr qint64 kMaxPicturePixels = 200'000'000;
// A file this many times smaller than the pixels it declares cannot hold
// them: no codec we read packs more than a few thousand pixels into a byte.
// Such a file is a decompression bomb (a few bytes declaring a picture that
// takes gigabytes and minutes), refused before any pixel memory is taken.
// Pictures up to kBombCheckFloor pixels are never refused this way.
inline constexpr qint64 kMaxPixelsPerFileByte = 100'000;
inline constexpr qint64 kBombCheckFloor = 16'000'000;
// Files larger than this are not read into memory at all.
inline constexpr qint64 kMaxPictureFileBytes = qint64(512) * 1024 * 1024;

// Refuses a picture without pixels, or larger than our limits (kMaxPictureSide,
// kMaxPicturePixels). Throws PlatformError: NotAPicture or PictureTooLarge.
void checkDimensions(const QString& fileName, qint64 width, qint64 height);
