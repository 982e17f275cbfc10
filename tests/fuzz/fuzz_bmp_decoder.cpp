// SPDX-License-Identifier: MIT
// libFuzzer harness over the direct BMP decoder.
#include "DecoderHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    fuzz::checkDecoder([&] { return directcodec::decodeBmp(bytes, fuzz::refuseLarge); });
    return 0;
}
