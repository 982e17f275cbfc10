// SPDX-License-Identifier: MIT
// libFuzzer harness over the direct JPEG decoder, made upright by its EXIF;
// inputs of odd length are decoded scaled to a box, as previews are.
#include "FuzzSupport.h"
#include "formats/DirectCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const int box = size % 2 ? 16 : 0;
    try {
        const std::optional<Picture> picture =
            directcodec::decodeJpeg(bytes, fuzz::refuseLarge, box, box);
        if (picture)
            fuzz::require(picture->width > 0 && picture->height > 0 &&
                          picture->pixels.size() == picture->bytesPerLine() * picture->height);
    } catch (const directcodec::CodecError&) {
    } catch (const fuzz::Refused&) {
    }
    return 0;
}
