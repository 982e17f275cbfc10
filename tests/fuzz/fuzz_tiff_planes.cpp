// SPDX-License-Identifier: MIT
// libFuzzer harness over the decoder of TIFFs in separate planes.
#include "DecoderHarness.h"
#include "tiff/TiffPlanesReading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    fuzz::checkDecoder([&] { return directcodec::decodeTiffPlanes(bytes, fuzz::refuseLarge); });
    return 0;
}
