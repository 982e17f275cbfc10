// SPDX-License-Identifier: MIT
// The 24-bit PCX file (version 5, three colour planes per row, run-length
// encoded a plane at a time), laid out byte for byte as the general path
// writes it: no resolution, no palette, rows as wide as the picture, gray
// pictures as 24-bit too.
#include "ByteOrder.h"
#include "FastCodecs.h"

#include <algorithm>
#include <limits>

namespace fastcodec {
namespace {

// Runs of up to 63 equal bytes become a count byte (0xC0 | n) and the value; a
// lone byte stands for itself unless its top two bits would read as a count.
char* appendRuns(const uchar* plane, qsizetype length, char* out) {
    qsizetype i = 0;
    while (i < length) {
        const uchar value = plane[i];
        qsizetype run = 1;
        while (run < 63 && i + run < length && plane[i + run] == value)
            ++run;
        if (run > 1 || (value & 0xC0) == 0xC0)
            *out++ = char(0xC0 | run);
        *out++ = char(value);
        i += run;
    }
    return out;
}

} // namespace

QByteArray encodePcx(const Picture& picture) {
    if (picture.bitsPerSample != 8 || picture.hasAlpha())
        throw CodecError("the PCX encoder takes 8-bit gray or RGB");
    if (picture.width > std::numeric_limits<quint16>::max() ||
        picture.height > std::numeric_limits<quint16>::max())
        throw CodecError("the picture is too large for a PCX file");
    constexpr qsizetype kHeaderBytes = 128;
    const qsizetype width = picture.width;
    // At worst every byte takes two.
    QByteArray out(kHeaderBytes + 2 * 3 * width * picture.height, Qt::Uninitialized);
    char* h = out.data();
    std::fill(h, h + kHeaderBytes, '\0');
    h[0] = 0x0A; // manufacturer
    h[1] = 5;    // version
    h[2] = 1;    // run-length encoding
    h[3] = 8;    // bits per pixel and plane
    putLittleEndian(h + 8, quint32(picture.width - 1), 2);
    putLittleEndian(h + 10, quint32(picture.height - 1), 2);
    h[65] = 3; // planes
    putLittleEndian(h + 66, quint32(picture.width), 2);
    putLittleEndian(h + 68, 1, 2); // colour palette info

    QByteArray planes(3 * width, Qt::Uninitialized);
    auto* red = reinterpret_cast<uchar*>(planes.data());
    uchar* green = red + width;
    uchar* blue = green + width;
    char* at = h + kHeaderBytes;
    const bool gray = picture.channels == Picture::Channels::Gray;
    const auto* src = reinterpret_cast<const uchar*>(picture.pixels.constData());
    for (qsizetype y = 0; y < picture.height; ++y) {
        if (gray) {
            for (qsizetype x = 0; x < width; ++x, ++src)
                red[x] = green[x] = blue[x] = *src;
        } else {
            for (qsizetype x = 0; x < width; ++x, src += 3) {
                red[x] = src[0];
                green[x] = src[1];
                blue[x] = src[2];
            }
        }
        at = appendRuns(red, width, at);
        at = appendRuns(green, width, at);
        at = appendRuns(blue, width, at);
    }
    out.truncate(at - out.constData());
    return out;
}

} // namespace fastcodec
