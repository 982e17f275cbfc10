// SPDX-License-Identifier: MIT
// libFuzzer harness over the direct JPEG decoder, made upright by its EXIF;
// inputs of odd length are decoded scaled to a box, as previews are.
#include "DecoderHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const int box = size % 2 ? 16 : 0;
    fuzz::checkDecoder([&] { return directcodec::decodeJpeg(bytes, fuzz::refuseLarge, box, box); });
    return 0;
}
