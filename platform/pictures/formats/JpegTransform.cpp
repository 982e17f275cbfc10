// SPDX-License-Identifier: MIT
// A JPEG turned upright in the coefficient domain with TurboJPEG, so a JPG
// written from a JPEG is not a second generation of it.
#include "formats/DirectCodecs.h"
#include "metadata/MetadataBlocks.h"

#include <turbojpeg.h>

#include <cstdlib>
#include <memory>

namespace directcodec {
namespace {

struct TransformHandle {
    tjhandle handle = tjInitTransform();
    ~TransformHandle() {
        if (handle)
            tjDestroy(handle);
    }
    TransformHandle() = default;
    TransformHandle(const TransformHandle&) = delete;
    TransformHandle& operator=(const TransformHandle&) = delete;
};

// The lossless operation that undoes each EXIF orientation.
int operationFor(int orientation) {
    switch (orientation) {
    case 2:
        return TJXOP_HFLIP;
    case 3:
        return TJXOP_ROT180;
    case 4:
        return TJXOP_VFLIP;
    case 5:
        return TJXOP_TRANSPOSE;
    case 6:
        return TJXOP_ROT90;
    case 7:
        return TJXOP_TRANSVERSE;
    case 8:
        return TJXOP_ROT270;
    default:
        return TJXOP_NONE;
    }
}

} // namespace

std::optional<QByteArray> uprightJpegLosslessly(const QByteArray& jpeg, int orientation,
                                                const PictureMetadata& metadata) {
    TransformHandle t;
    if (!t.handle)
        return std::nullopt;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0;
    int height = 0;
    int sampling = 0;
    int colourSpace = 0;
    // 12-bit and lossless JPEGs fail here; CMYK and YCCK are refused below,
    // as the general path converts them to sRGB.
    if (tjDecompressHeader3(t.handle, data, size, &width, &height, &sampling, &colourSpace) != 0 ||
        (colourSpace != TJCS_YCbCr && colourSpace != TJCS_GRAY))
        return std::nullopt;

    const bool swaps = orientation >= 5 && orientation <= 8;
    const PictureMetadata upright =
        metadata::upright(metadata, swaps ? height : width, swaps ? width : height);
    const int operation = operationFor(orientation);
    if (operation == TJXOP_NONE) {
        const QByteArray out = metadata::withJpegMetadata(jpeg, upright);
        return out.isEmpty() ? std::nullopt : std::optional<QByteArray>(out);
    }

    tjtransform transform{};
    transform.op = operation;
    // A partial block on an edge that would move makes the transform fail
    // rather than be trimmed or left in place; the segments of the source
    // are all copied, and ours replace the EXIF, XMP and APP13 below.
    transform.options = TJXOPT_PERFECT;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int failed =
        tjTransform(t.handle, data, size, 1, &out, &outSize, &transform, TJFLAG_STOPONWARNING);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, tjFree);
    if (failed != 0 || !out || outSize == 0)
        return std::nullopt;
    const QByteArray transformed =
        QByteArray::fromRawData(reinterpret_cast<const char*>(out), qsizetype(outSize));
    const QByteArray withMetadata = metadata::withJpegMetadata(transformed, upright);
    if (withMetadata.isEmpty())
        return std::nullopt;
    return withMetadata;
}

} // namespace directcodec
