// SPDX-License-Identifier: MIT
// libFuzzer harness over the PNG chunk walker: the metadata blocks read from
// a PNG, and written into it before its first IDAT.
#include "FuzzSupport.h"
#include "metadata/MetadataBlocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const PictureMetadata found = metadata::ofPng(bytes);
    // The PNG's own blocks come first, so they are still the ones read.
    const QByteArray rewritten = metadata::withPngMetadata(bytes, found);
    if (!rewritten.isEmpty()) {
        const PictureMetadata back = metadata::ofPng(rewritten);
        fuzz::require(back.exif == found.exif && back.xmp == found.xmp);
    }
    return 0;
}
