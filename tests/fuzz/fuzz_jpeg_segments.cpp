// SPDX-License-Identifier: MIT
// libFuzzer harness over the JPEG segment walker: the metadata blocks read
// from a JPEG, written back into it and read again, and the size its frame
// header declares, read piece by piece as from a file.
#include "FuzzSupport.h"
#include "input/PictureSniffing.h"
#include "metadata/MetadataBlocks.h"

#include <QBuffer>

namespace {

// The block as a segment with this prefix can hold it, else nothing.
QByteArray fitting(const QByteArray& block, qsizetype prefix) {
    return prefix + block.size() <= 0xFFFF - 2 ? block : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes = fuzz::bytesOf(data, size);
    const PictureMetadata blocks = metadata::upright(metadata::ofJpeg(bytes), 64, 48);
    // What is written in is what is read out, each block that fits a segment.
    const QByteArray rewritten = metadata::withJpegMetadata(bytes, blocks);
    if (!rewritten.isEmpty()) {
        const PictureMetadata back = metadata::ofJpeg(rewritten);
        fuzz::require(back.exif == fitting(blocks.exif, 6));
        fuzz::require(back.xmp == fitting(blocks.xmp, 29));
        fuzz::require(back.photoshop == fitting(blocks.photoshop, 14));
    }
    QBuffer file(&bytes);
    fuzz::require(file.open(QIODevice::ReadOnly));
    (void)declaredSizeOf(file);
    return 0;
}
