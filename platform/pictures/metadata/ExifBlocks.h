// SPDX-License-Identifier: MIT
// EXIF blocks: a TIFF header and its directories, as a JPEG's APP1 segment
// holds them after "Exif\0\0" and a PNG's eXIf chunk holds them bare. Read
// defensively: every offset is checked against the block, a directory is
// visited once, and a block that breaks any rule counts as damaged.
#pragma once

#include <QByteArray>

namespace exif {

// The orientation (1..8) the block's first directory gives, 1 when it gives
// none or one out of range (or not one number: a count other than 1, a type
// other than BYTE, SHORT, LONG or SLONG). Only as much of the directory is
// read as the block holds, entry by entry.
int orientationOf(const QByteArray& block);

// The block made fit for an upright picture of the given size: orientation 1
// (normal), the width and height tags that are present set to the size, the
// thumbnail (the second directory and its data) removed. Everything else is
// patched in place, so offsets the makers' notes keep inside stay right.
// Empty when the block is damaged.
QByteArray uprightExif(const QByteArray& block, int width, int height);

// The EXIF a TIFF file carries in its first directory: the descriptive tags
// (make, model, date, artist, copyright, resolution, orientation) and the
// Exif and GPS directories, built into a block of their own. Empty when the
// file has none of them or its directories are damaged.
QByteArray exifOfTiffFile(const QByteArray& tiff);

// Puts into the TIFF file the block's Exif and GPS directories (without the
// makers' notes, whose inner offsets would not survive the move) and its
// descriptive tags the file lacks, in a new first directory written after
// the file's data, in the file's byte order. False, with the file unchanged,
// when either is damaged.
bool putExifInTiff(QByteArray& tiff, const QByteArray& block);
// The same for a file held as its first bytes `head` (the header at least),
// bytes not looked at, and `end` from file offset `endAt` on, which holds the
// first directory and its values: `end` grows and the header in `head` points
// at the new directory.
bool putExifInTiffEnd(QByteArray& head, QByteArray& end, qint64 endAt, const QByteArray& block);

} // namespace exif
