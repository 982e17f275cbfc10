// SPDX-License-Identifier: MIT
// The PCX file (version 5, run-length encoded a plane at a time), laid out
// as the general path writes it: no resolution, rows as wide as the picture.
// A photo takes three colour planes; black and white one plane of 1 bit; up
// to 256 colours one plane of 8 bits and the palette at the end.
#include "formats/DirectCodecs.h"
#include "formats/PaletteCodecs.h"
#include "structures/ByteOrder.h"
#include "structures/FileBytes.h"

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

namespace {

// Rows are encoded into a buffer of about this size, reused for the whole
// file, and handed out as it fills.
constexpr qsizetype kChunkBytes = 256 << 10;

class PcxFileBytes final : public FileBytes {
public:
    explicit PcxFileBytes(Picture picture)
        : m_picture(std::move(picture)) {
        if (m_picture.bitsPerSample != 8 || m_picture.hasAlpha())
            throw CodecError("the PCX encoder takes 8-bit gray or RGB");
        checkSize(m_picture.width, m_picture.height);
        const qsizetype width = m_picture.width;
        m_planes = QByteArray(3 * width, Qt::Uninitialized);
        // At worst every byte of a row takes two.
        m_chunk = QByteArray(std::max(kChunkBytes, 128 + 2 * 3 * width), Qt::Uninitialized);
    }
    QByteArrayView next() override {
        char* at = m_chunk.data();
        if (!m_headerDone) {
            m_headerDone = true;
            at = startHeader(at, m_picture.width, m_picture.height, 8, 3, m_picture.width);
        }
        const qsizetype worstRow = 2 * 3 * qsizetype(m_picture.width);
        const char* end = m_chunk.constData() + m_chunk.size();
        while (m_nextRow < m_picture.height && end - at >= worstRow)
            at = appendRow(m_nextRow++, at);
        return QByteArrayView(m_chunk.constData(), at - m_chunk.constData());
    }

private:
    // Row y as three planes, each run-length encoded.
    char* appendRow(qsizetype y, char* at) {
        const qsizetype width = m_picture.width;
        auto* red = reinterpret_cast<uchar*>(m_planes.data());
        uchar* green = red + width;
        uchar* blue = green + width;
        const auto* src = reinterpret_cast<const uchar*>(m_picture.pixels.constData()) +
                          y * m_picture.bytesPerLine();
        if (m_picture.channels == Picture::Channels::Gray) {
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
        return appendRuns(blue, width, at);
    }

    Picture m_picture;
    QByteArray m_planes;
    QByteArray m_chunk;
    qsizetype m_nextRow = 0;
    bool m_headerDone = false;
};

} // namespace

std::unique_ptr<FileBytes> pcxFileBytes(Picture picture) {
    return std::make_unique<PcxFileBytes>(std::move(picture));
}

QByteArray encodePcx(const Picture& picture) {
    return pcxFileBytes(picture)->joined();
}

} // namespace directcodec
