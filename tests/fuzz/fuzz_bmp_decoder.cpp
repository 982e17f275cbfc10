// SPDX-License-Identifier: MIT
// libFuzzer harness over the direct BMP decoder.
#include "FuzzSupport.h"
#include "formats/DirectCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    try {
        const std::optional<Picture> picture = directcodec::decodeBmp(bytes, fuzz::refuseLarge);
        if (picture)
            fuzz::require(picture->width > 0 && picture->height > 0 &&
                          picture->pixels.size() == picture->bytesPerLine() * picture->height);
    } catch (const directcodec::CodecError&) {
    } catch (const fuzz::Refused&) {
    }
    return 0;
}
