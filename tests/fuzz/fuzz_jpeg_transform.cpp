// SPDX-License-Identifier: MIT
// libFuzzer harness over the lossless upright transform, as a JPEG to JPG
// conversion reaches it: after a preview decode without warnings, turned by
// its EXIF orientation, with its own metadata put back.
#include "FuzzSupport.h"
#include "formats/DirectCodecs.h"
#include "metadata/ExifBlocks.h"
#include "metadata/MetadataBlocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    try {
        long warnings = 0;
        if (!directcodec::decodeJpeg(bytes, fuzz::refuseLarge, 1, 1, {}, &warnings) || warnings > 0)
            return 0;
    } catch (const directcodec::CodecError&) {
        return 0;
    } catch (const fuzz::Refused&) {
        return 0;
    }
    const PictureMetadata found = metadata::ofJpeg(bytes);
    (void)directcodec::uprightJpegLosslessly(bytes, exif::orientationOf(found.exif), found);
    return 0;
}
