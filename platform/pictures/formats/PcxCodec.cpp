// SPDX-License-Identifier: MIT
// The PCX file (version 5, run-length encoded a plane at a time), laid out
// as the general path writes it: no resolution, rows as wide as the picture.
// A photo takes three colour planes; black and white one plane of 1 bit; up
// to 256 colours one plane of 8 bits and the palette at the end.
#include "formats/DirectCodecs.h"
#include "formats/PaletteCodecs.h"
#include "structures/ByteOrder.h"

#include <algorithm>
#include <limits>

namespace directcodec {
namespace {

// Runs of up to 63 equal bytes become a count byte (0xC0 | n) and the value; a
// lone byte stands for itself unless its top two bits would read as a count.
// A photo's rows are mostly lone bytes, so those are written without
// counting a run first.
char* appendRuns(const uchar* plane, qsizetype length, char* out) {
    qsizetype i = 0;
    while (i < length) {
        const uchar value = plane[i];
        if (i + 1 == length || plane[i + 1] != value) {
            if ((value & 0xC0) == 0xC0)
                *out++ = char(0xC1);
            *out++ = char(value);
            ++i;
            continue;
        }
        const qsizetype longest = std::min<qsizetype>(63, length - i);
        qsizetype run = 2;
        while (run < longest && plane[i + run] == value)
            ++run;
        *out++ = char(0xC0 | run);
        *out++ = char(value);
        i += run;
    }
    return out;
}

char* startHeader(char* h, int width, int height, int bitsPerPixel, int planes,
                  qsizetype bytesPerLine) {
    std::fill(h, h + 128, '\0');
    h[0] = 0x0A; // manufacturer
    h[1] = 5;    // version
    h[2] = 1;    // run-length encoding
    h[3] = char(bitsPerPixel);
    putLittleEndian(h + 8, quint32(width - 1), 2);
    putLittleEndian(h + 10, quint32(height - 1), 2);
    h[65] = char(planes);
    putLittleEndian(h + 66, quint32(bytesPerLine), 2);
    putLittleEndian(h + 68, 1, 2); // colour palette info
    return h + 128;
}

void checkSize(int width, int height) {
    if (width > std::numeric_limits<quint16>::max() || height > std::numeric_limits<quint16>::max())
        throw CodecError("the picture is too large for a PCX file");
}

} // namespace

QByteArray encodePalettePcx(int width, int height, const PictureKind& kind) {
    if (kind.isPhoto() || std::any_of(kind.colours.cbegin(), kind.colours.cend(),
                                      [](quint32 c) { return (c >> 24) != 0xFF; }))
        throw CodecError("the palette PCX takes up to 256 opaque colours");
    checkSize(width, height);
    const bool bilevel = kind.kind == PictureKind::Kind::Bilevel;
    const int bits = bilevel ? 1 : 8;
    const qsizetype rowBytes = packedRowBytes(width, bits);
    // At worst every byte takes two; then the palette.
    QByteArray out(128 + 2 * rowBytes * height + 769, Qt::Uninitialized);
    char* at = startHeader(out.data(), width, height, bits, 1, rowBytes);
    if (bilevel) // the 16-colour header palette: black, white
        std::fill(out.data() + 19, out.data() + 22, char(0xFF));
    QByteArray row(rowBytes, Qt::Uninitialized);
    const auto* indexes = reinterpret_cast<const uchar*>(kind.indexes.constData());
    for (int y = 0; y < height; ++y, indexes += width) {
        packIndexes(indexes, width, bits, reinterpret_cast<uchar*>(row.data()));
        at = appendRuns(reinterpret_cast<const uchar*>(row.constData()), rowBytes, at);
    }
    if (!bilevel) {
        *at++ = 0x0C;
        std::fill(at, at + 768, '\0');
        for (qsizetype i = 0; i < kind.colours.size(); ++i) {
            const quint32 c = kind.colours[i];
            at[3 * i] = char((c >> 16) & 0xFF);
            at[3 * i + 1] = char((c >> 8) & 0xFF);
            at[3 * i + 2] = char(c & 0xFF);
        }
        at += 768;
    }
    out.truncate(at - out.constData());
    return out;
}

QByteArray encodePcx(const Picture& picture) {
    if (picture.bitsPerSample != 8 || picture.hasAlpha())
        throw CodecError("the PCX encoder takes 8-bit gray or RGB");
    checkSize(picture.width, picture.height);
    const qsizetype width = picture.width;
    // At worst every byte takes two.
    QByteArray out(128 + 2 * 3 * width * picture.height, Qt::Uninitialized);
    char* at = startHeader(out.data(), picture.width, picture.height, 8, 3, width);

    QByteArray planes(3 * width, Qt::Uninitialized);
    auto* red = reinterpret_cast<uchar*>(planes.data());
    uchar* green = red + width;
    uchar* blue = green + width;
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

} // namespace directcodec
