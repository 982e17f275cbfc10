// SPDX-License-Identifier: MIT
// Where the metadata blocks live in JPEG and PNG files: read from a source's
// bytes and written into an encoded file's bytes, so every encoder (ours or
// the general path's) gets the same blocks in the same places.
#pragma once

#include "Picture.h"

#include <QByteArray>

namespace metadata {

// The raw blocks of a JPEG's APP1 (EXIF, XMP) and APP13 segments, as found
// (not yet made upright). A segment cut short ends the search.
PictureMetadata ofJpeg(const QByteArray& jpeg);

// The raw blocks of a PNG's eXIf chunk and uncompressed iTXt chunk keyed
// "XML:com.adobe.xmp".
PictureMetadata ofPng(const QByteArray& png);

// Photoshop image resources holding only the given IPTC record.
QByteArray photoshopWithIptc(const QByteArray& iptc);

// The blocks made fit for an upright picture of the given size: the EXIF
// patched (dropped when damaged), an XMP tiff:Orientation set to 1.
PictureMetadata upright(const PictureMetadata& raw, int width, int height);

// The JPEG with its EXIF, XMP and APP13 segments replaced by the picture's
// (put after the JFIF header), every other segment and the compressed data
// as they were. A block too large for a segment is left out. Empty when the
// JPEG's segments cannot be followed.
QByteArray withJpegMetadata(const QByteArray& jpeg, const PictureMetadata& blocks);

// The PNG with an eXIf and an iTXt XML:com.adobe.xmp chunk before its first
// IDAT. Empty when its chunks cannot be followed.
QByteArray withPngMetadata(const QByteArray& png, const PictureMetadata& blocks);

} // namespace metadata
