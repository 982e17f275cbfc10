// SPDX-License-Identifier: MIT
// The simple BMPs read directly: uncompressed 24- and 32-bit and 8-bit
// palettes, bottom-up or top-down, under the common 40-byte header or the
// 108- and 124-byte ones in sRGB. The picture is the one ImageMagick's reader
// gives; every other BMP is left to it.
#include "formats/DirectCodecs.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace directcodec {
namespace {

quint32 u32(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 u16(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}

constexpr qsizetype kFileHeader = 14;
constexpr quint32 kInfoHeader = 40;
constexpr quint32 kCompressionNone = 0;
constexpr quint32 kBitFields = 3;

// The longer headers hold colour masks and a colour space; taken when that
// space is sRGB or the system's (which is sRGB) and no profile comes with it.
bool isSrgbHeader(const QByteArray& bytes, quint32 header) {
    if (header != 108 && header != 124)
        return false;
    const quint32 space = u32(bytes, kFileHeader + 56);
    const bool srgb = space == 0x73524742 || space == 0x57696E20; // "sRGB", "Win "
    return srgb && (header == 108 || u32(bytes, kFileHeader + 116) == 0);
}

} // namespace

std::optional<Picture> decodeBmp(const QByteArray& bytes, const SizeCheck& check,
                                 std::stop_token stop) {
    if (bytes.size() < kFileHeader + qsizetype(kInfoHeader) || !bytes.startsWith("BM"))
        throw CodecError("no BMP picture");
    const quint32 header = u32(bytes, kFileHeader);
    if (header > quint32(bytes.size()) - kFileHeader ||
        (header != kInfoHeader && !isSrgbHeader(bytes, header)))
        return std::nullopt;
    // ImageMagick refuses a file whose header gives another length; other
    // compression and depths go to it too. Bit fields are taken as the
    // usual 32-bit layout only, with or without alpha.
    const qint32 width = qint32(u32(bytes, 18));
    const qint32 height = qint32(u32(bytes, 22));
    const int bits = u16(bytes, 28);
    const quint32 compression = u32(bytes, 30);
    const quint32 alphaMask = header > kInfoHeader ? u32(bytes, kFileHeader + 52) : 0;
    const bool bitFields =
        compression == kBitFields && header > kInfoHeader && bits == 32 &&
        u32(bytes, kFileHeader + 40) == 0x00FF0000 && u32(bytes, kFileHeader + 44) == 0x0000FF00 &&
        u32(bytes, kFileHeader + 48) == 0x000000FF && (alphaMask == 0 || alphaMask == 0xFF000000);
    if (u32(bytes, 2) != quint32(bytes.size()) || u16(bytes, 26) != 1 ||
        !(compression == kCompressionNone || bitFields) ||
        !(bits == 8 || bits == 24 || bits == 32) || width <= 0 || height == 0 ||
        height == INT32_MIN || u32(bytes, 46) > quint32(bytes.size()))
        return std::nullopt;
    const qint64 rows = height < 0 ? -qint64(height) : qint64(height);
    check(width, rows);

    // An 8-bit palette: blue, green, red and a spare byte an entry, after the
    // headers; an index past it goes to the general path.
    std::array<uchar, 256 * 3> palette{};
    quint32 colours = 0;
    if (bits == 8) {
        colours = u32(bytes, 46) == 0 ? 256 : u32(bytes, 46);
        if (colours > 256 || kFileHeader + header + 4 * qsizetype(colours) > bytes.size())
            return std::nullopt;
        const char* entry = bytes.constData() + kFileHeader + header;
        for (quint32 i = 0; i < colours; ++i, entry += 4) {
            palette[3 * i] = uchar(entry[2]);
            palette[3 * i + 1] = uchar(entry[1]);
            palette[3 * i + 2] = uchar(entry[0]);
        }
    }
    const qsizetype stored = 4 * ((qsizetype(width) * bits + 31) / 32);
    const qsizetype start = u32(bytes, 10);
    if (start < kFileHeader + qsizetype(header) || start > bytes.size() ||
        rows > (bytes.size() - start) / stored)
        return std::nullopt;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData() + start);

    // ImageMagick takes the fourth byte of a 32-bit pixel for alpha when bit
    // fields say so, or under the 40-byte header once one of them is not zero.
    bool alpha = bitFields && alphaMask != 0;
    if (bits == 32 && header == kInfoHeader)
        for (qsizetype i = 3; i < stored * rows && !alpha; i += 4)
            alpha = data[i] != 0;

    Picture picture;
    picture.width = width;
    picture.height = int(rows);
    picture.channels = alpha ? Picture::Channels::Rgba : Picture::Channels::Rgb;
    const qsizetype line = picture.bytesPerLine();
    picture.pixels = QByteArray(line * picture.height, Qt::Uninitialized);
    for (qint64 y = 0; y < rows; ++y) {
        const uchar* in = data + (height < 0 ? y : rows - 1 - y) * stored;
        auto* out = reinterpret_cast<uchar*>(picture.pixels.data()) + y * line;
        if (bits == 8) {
            for (qint32 x = 0; x < width; ++x, out += 3) {
                if (in[x] >= colours)
                    return std::nullopt;
                std::memcpy(out, palette.data() + 3 * in[x], 3);
            }
        } else {
            const int step = bits / 8;
            for (qint32 x = 0; x < width; ++x, in += step) {
                *out++ = in[2];
                *out++ = in[1];
                *out++ = in[0];
                if (alpha)
                    *out++ = in[3];
            }
        }
        throwIfStopped(stop);
    }
    return picture;
}

} // namespace directcodec
