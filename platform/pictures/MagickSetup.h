// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// One-time set-up of the codec library for the whole process: initialisation,
// the coder allow-list and the resource limits. Safe to call from any thread,
// as often as wanted; only the first call does the work. The codec is not
// started when the policy files leave it rights other than ours (a format we
// convert refused, or a script, document or delegate allowed).
// Returns an empty string when the codec is ready, else why it is not.
QString prepareMagick();

// An sRGB colour profile, the target when CMYK or Lab pictures are converted.
// Built once by prepareMagick() and never changed afterwards.
const QByteArray& srgbIccProfile();

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
