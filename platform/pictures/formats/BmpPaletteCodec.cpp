// SPDX-License-Identifier: MIT
// The Windows bitmap with a palette (BITMAPINFOHEADER, rows bottom-up): the
// bits a pixel the colours need among 1, 4 and 8, or 8-bit rows run-length
// encoded as BI_RLE8 (as the general path writes a palette bitmap) when the
// runs take less room.
#include "formats/DirectCodecs.h"
#include "formats/PaletteCodecs.h"
#include "structures/ByteOrder.h"

#include <algorithm>
#include <limits>

namespace directcodec {
namespace {

constexpr quint32 kRle8 = 1;

// One row in BI_RLE8: runs of two or more as (count, index); stretches of at
// least three indexes with no run in them as (0, count, indexes), padded to
// an even length; what is left as runs of one.
void appendRle8Row(const uchar* row, int width, QByteArray& out) {
    int x = 0;
    while (x < width) {
        int run = 1;
        while (run < 255 && x + run < width && row[x + run] == row[x])
            ++run;
        if (run >= 2) {
            out += char(run);
            out += char(row[x]);
            x += run;
            continue;
        }
        int end = x;
        while (end < width && end - x < 255 &&
               !(end + 2 < width && row[end] == row[end + 1] && row[end] == row[end + 2]))
            ++end;
        const int literal = std::max(end - x, 1);
        if (literal >= 3) {
            out += char(0);
            out += char(literal);
            out.append(reinterpret_cast<const char*>(row + x), literal);
            if (literal % 2)
                out += char(0);
        } else {
            for (int i = 0; i < literal; ++i) {
                out += char(1);
                out += char(row[x + i]);
            }
        }
        x += literal;
    }
}

QByteArray rle8Pixels(int width, int height, const QByteArray& indexes) {
    QByteArray out;
    out.reserve(indexes.size() / 4 + 2 * height + 2);
    for (int y = height - 1; y >= 0; --y) {
        appendRle8Row(reinterpret_cast<const uchar*>(indexes.constData()) + qsizetype(y) * width,
                      width, out);
        out += char(0);
        out += char(y == 0 ? 1 : 0); // end of the bitmap after the last row, else of the line
    }
    return out;
}

QByteArray packedPixels(int width, int height, const QByteArray& indexes, int bits) {
    const qsizetype rowBytes = (packedRowBytes(width, bits) + 3) & ~qsizetype(3);
    QByteArray out(rowBytes * height, '\0');
    for (int y = 0; y < height; ++y)
        packIndexes(reinterpret_cast<const uchar*>(indexes.constData()) + qsizetype(y) * width,
                    width, bits,
                    reinterpret_cast<uchar*>(out.data()) + qsizetype(height - 1 - y) * rowBytes);
    return out;
}

} // namespace

QByteArray encodePaletteBmp(int width, int height, const PictureKind& kind) {
    if (kind.isPhoto() || kind.colours.isEmpty() ||
        std::any_of(kind.colours.cbegin(), kind.colours.cend(),
                    [](quint32 c) { return (c >> 24) != 0xFF; }))
        throw CodecError("the palette bitmap takes up to 256 opaque colours");
    // Black and white stays 1-bit; other palettes take runs of 8-bit indexes
    // where they are smaller than the packed indexes (a blank page, flat areas).
    int bits = kind.indexBits() == 2 ? 4 : kind.indexBits();
    QByteArray pixels = packedPixels(width, height, kind.indexes, bits);
    quint32 compression = 0;
    if (kind.kind != PictureKind::Kind::Bilevel) {
        QByteArray runs = rle8Pixels(width, height, kind.indexes);
        if (runs.size() < pixels.size()) {
            pixels = std::move(runs);
            compression = kRle8;
            bits = 8;
        }
    }
    const qsizetype paletteBytes = 4 * kind.colours.size();
    const qsizetype headerBytes = 14 + 40 + paletteBytes;
    if (headerBytes + pixels.size() > std::numeric_limits<quint32>::max())
        throw CodecError("the picture is too large for a bitmap file");

    QByteArray out(headerBytes, '\0');
    char* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    putLittleEndian(h + 2, quint32(headerBytes + pixels.size()), 4);
    putLittleEndian(h + 10, quint32(headerBytes), 4);
    putLittleEndian(h + 14, 40, 4);
    putLittleEndian(h + 18, quint32(width), 4);
    putLittleEndian(h + 22, quint32(height), 4);
    putLittleEndian(h + 26, 1, 2); // planes
    putLittleEndian(h + 28, quint32(bits), 2);
    putLittleEndian(h + 30, compression, 4);
    putLittleEndian(h + 34, quint32(pixels.size()), 4);
    putLittleEndian(h + 46, quint32(kind.colours.size()), 4); // colours used
    for (qsizetype i = 0; i < kind.colours.size(); ++i) {
        const quint32 c = kind.colours[i];
        char* entry = h + 54 + 4 * i; // blue, green, red, reserved
        entry[0] = char(c & 0xFF);
        entry[1] = char((c >> 8) & 0xFF);
        entry[2] = char((c >> 16) & 0xFF);
    }
    out += pixels;
    return out;
}

} // namespace directcodec
