// SPDX-License-Identifier: MIT
// libFuzzer harness over the TIFF directory reader, as the EXIF blocks and
// TIFF files use it: the orientation of an EXIF block (a JPEG's or a PNG's,
// or the input itself), the block made upright, a TIFF file's declared size,
// its EXIF taken out and put back in.
#include "FuzzSupport.h"
#include "input/PictureSniffing.h"
#include "metadata/ExifBlocks.h"
#include "metadata/MetadataBlocks.h"

#include <QBuffer>

namespace {

// Wider than a SHORT holds, so the width is also written as a LONG.
constexpr int kWidth = 70000;
constexpr int kHeight = 480;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes = fuzz::bytesOf(data, size);
    const QByteArray block = bytes.startsWith("\xFF\xD8")  ? metadata::ofJpeg(bytes).exif
                             : bytes.startsWith("\x89PNG") ? metadata::ofPng(bytes).exif
                                                           : bytes;
    (void)exif::orientationOf(block);
    // An upright block says so, and is upright already: made so again, it
    // loses at most bytes at its end that nothing points to any more.
    const QByteArray upright = exif::uprightExif(block, kWidth, kHeight);
    if (!upright.isEmpty()) {
        fuzz::require(exif::orientationOf(upright) == 1);
        const QByteArray again = exif::uprightExif(upright, kWidth, kHeight);
        fuzz::require(!again.isEmpty() && upright.startsWith(again));
    }

    QBuffer file(&bytes);
    fuzz::require(file.open(QIODevice::ReadOnly));
    (void)declaredSizeOf(file);
    // The EXIF a TIFF file gives is a sound block, which goes back in.
    const QByteArray ofTiff = exif::exifOfTiffFile(bytes);
    if (!ofTiff.isEmpty()) {
        fuzz::require(!exif::uprightExif(ofTiff, kWidth, kHeight).isEmpty());
        QByteArray withExif = bytes;
        fuzz::require(exif::putExifInTiff(withExif, ofTiff));
    }
    QByteArray withBlock = bytes;
    (void)exif::putExifInTiff(withBlock, block);
    return 0;
}
