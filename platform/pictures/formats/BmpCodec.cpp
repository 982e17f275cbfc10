// SPDX-License-Identifier: MIT
// The plain Windows bitmap (BITMAPINFOHEADER, 24-bit BGR, rows bottom-up and
// padded to four bytes), laid out as the general path writes it: gray
// pictures as 24-bit too, no resolution, no palette.
#include "formats/DirectCodecs.h"
#include "structures/ByteOrder.h"

#include <algorithm>
#include <limits>

namespace directcodec {
QByteArray encodeBmp(const Picture& picture) {
    if (picture.bitsPerSample != 8 || picture.hasAlpha())
        throw CodecError("the BMP encoder takes 8-bit gray or RGB");
    constexpr qsizetype kHeaderBytes = 14 + 40;
    const qsizetype rowBytes = (qsizetype(picture.width) * 3 + 3) & ~qsizetype(3);
    const qsizetype imageBytes = rowBytes * picture.height;
    if (kHeaderBytes + imageBytes > std::numeric_limits<quint32>::max())
        throw CodecError("the picture is too large for a bitmap file");

    QByteArray out(kHeaderBytes + imageBytes, Qt::Uninitialized);
    char* h = out.data();
    std::fill(h, h + kHeaderBytes, '\0');
    h[0] = 'B';
    h[1] = 'M';
    putLittleEndian(h + 2, quint32(out.size()), 4);
    putLittleEndian(h + 10, quint32(kHeaderBytes), 4);
    putLittleEndian(h + 14, 40, 4);
    putLittleEndian(h + 18, quint32(picture.width), 4);
    putLittleEndian(h + 22, quint32(picture.height), 4);
    putLittleEndian(h + 26, 1, 2);  // planes
    putLittleEndian(h + 28, 24, 2); // bits per pixel
    putLittleEndian(h + 34, quint32(imageBytes), 4);

    const bool gray = picture.channels == Picture::Channels::Gray;
    const qsizetype line = picture.bytesPerLine();
    for (qsizetype y = 0; y < picture.height; ++y) {
        const auto* src = reinterpret_cast<const uchar*>(picture.pixels.constData()) + y * line;
        auto* dst =
            reinterpret_cast<uchar*>(h + kHeaderBytes + (picture.height - 1 - y) * rowBytes);
        if (gray) {
            for (qsizetype x = 0; x < picture.width; ++x, dst += 3)
                dst[0] = dst[1] = dst[2] = src[x];
        } else {
            for (qsizetype x = 0; x < picture.width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
        std::fill(dst, dst + (rowBytes - qsizetype(picture.width) * 3), uchar(0)); // padding
    }
    return out;
}

} // namespace directcodec
