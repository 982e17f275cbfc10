// SPDX-License-Identifier: MIT
#pragma once
// The direct writers for pictures that are not photos: each keeps a bilevel,
// gray or few-colour picture in the smallest type its format holds, and
// every one decodes to exactly the samples of the picture it was given.

#include "Picture.h"
#include "pixels/PictureKind.h"
#include "structures/FileBytes.h"

#include <QByteArray>

#include <memory>

namespace directcodec {

// A Windows bitmap with a palette: black and white at 1 bit a pixel; other
// palettes at the 1, 4 or 8 bits they need, or 8 bits run-length encoded
// (BI_RLE8) where that is smaller. Takes a bilevel, gray or palette kind
// without alpha.
QByteArray encodePaletteBmp(int width, int height, const PictureKind& kind);

// A PCX file of one plane: 1 bit a pixel for black and white, else 8 bits
// with the 256-colour palette at the end. Takes a kind without alpha.
QByteArray encodePalettePcx(int width, int height, const PictureKind& kind);

// The TIFF for the picture's kind: CCITT Group 4 for black and white (Deflate
// where a dither pattern makes Group 4 larger than the bare bits), 8-bit gray
// or a 1- to 8-bit palette with Deflate, a few-colour picture with alpha as
// its samples with Deflate; a photo as encodeTiff(picture) writes it.
QByteArray encodeTiffByKind(const Picture& picture, const PictureKind& kind);
// The same file handed out as it is written: an uncompressed photo's strips
// are the picture's own samples, which it keeps (shared, not copied). A
// non-empty EXIF block is put in as exif::putExifInTiff does.
std::unique_ptr<FileBytes> tiffFileBytesByKind(const Picture& picture, const PictureKind& kind,
                                               const QByteArray& exif);

} // namespace directcodec
