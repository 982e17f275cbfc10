// SPDX-License-Identifier: MIT
// The plain Windows bitmap (BITMAPINFOHEADER, 24-bit BGR, rows bottom-up and
// padded to four bytes), laid out as the general path writes it: gray
// pictures as 24-bit too, no resolution, no palette.
#include "formats/DirectCodecs.h"
#include "structures/ByteOrder.h"
#include "structures/FileBytes.h"

#include <algorithm>
#include <limits>

namespace directcodec {
namespace {

constexpr qsizetype kHeaderBytes = 14 + 40;
// Rows go out bottom-up through a buffer of about this size, reused for the
// whole file.
constexpr qsizetype kChunkBytes = 256 << 10;

class BmpFileBytes final : public FileBytes {
public:
    explicit BmpFileBytes(Picture picture)
        : m_picture(std::move(picture))
        , m_rowBytes((qsizetype(m_picture.width) * 3 + 3) & ~qsizetype(3))
        , m_nextRow(m_picture.width > 0 ? m_picture.height - 1 : -1) {
        if (m_picture.bitsPerSample != 8 || m_picture.hasAlpha())
            throw CodecError("the BMP encoder takes 8-bit gray or RGB");
        const qsizetype imageBytes = m_rowBytes * m_picture.height;
        if (kHeaderBytes + imageBytes > std::numeric_limits<quint32>::max())
            throw CodecError("the picture is too large for a bitmap file");
        const qsizetype chunkRows = std::clamp<qsizetype>(
            kChunkBytes / std::max(m_rowBytes, qsizetype(1)), 1, std::max(m_picture.height, 1));
        m_chunk = QByteArray(std::max(kHeaderBytes, chunkRows * m_rowBytes), Qt::Uninitialized);
    }
    QByteArrayView next() override {
        if (!m_headerDone) {
            m_headerDone = true;
            return header();
        }
        if (m_nextRow < 0)
            return {};
        // Rows bottom-up, as many as the buffer holds.
        const qsizetype rows = std::min(m_chunk.size() / m_rowBytes, m_nextRow + 1);
        auto* dst = reinterpret_cast<uchar*>(m_chunk.data());
        for (qsizetype i = 0; i < rows; ++i, --m_nextRow, dst += m_rowBytes)
            fillRow(m_nextRow, dst);
        return QByteArrayView(m_chunk.constData(), rows * m_rowBytes);
    }

private:
    QByteArrayView header() {
        char* h = m_chunk.data();
        std::fill(h, h + kHeaderBytes, '\0');
        h[0] = 'B';
        h[1] = 'M';
        putLittleEndian(h + 2, quint32(kHeaderBytes + m_rowBytes * m_picture.height), 4);
        putLittleEndian(h + 10, quint32(kHeaderBytes), 4);
        putLittleEndian(h + 14, 40, 4);
        putLittleEndian(h + 18, quint32(m_picture.width), 4);
        putLittleEndian(h + 22, quint32(m_picture.height), 4);
        putLittleEndian(h + 26, 1, 2);  // planes
        putLittleEndian(h + 28, 24, 2); // bits per pixel
        putLittleEndian(h + 34, quint32(m_rowBytes * m_picture.height), 4);
        return QByteArrayView(h, kHeaderBytes);
    }

    // Row y as BGR, padded.
    void fillRow(qsizetype y, uchar* dst) const {
        const qsizetype width = m_picture.width;
        const auto* src = reinterpret_cast<const uchar*>(m_picture.pixels.constData()) +
                          y * m_picture.bytesPerLine();
        if (m_picture.channels == Picture::Channels::Gray) {
            for (qsizetype x = 0; x < width; ++x, dst += 3)
                dst[0] = dst[1] = dst[2] = src[x];
        } else {
            for (qsizetype x = 0; x < width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
        std::fill(dst, dst + (m_rowBytes - width * 3), uchar(0)); // padding
    }

    Picture m_picture;
    qsizetype m_rowBytes;
    qsizetype m_nextRow;
    QByteArray m_chunk;
    bool m_headerDone = false;
};

} // namespace

std::unique_ptr<FileBytes> bmpFileBytes(Picture picture) {
    return std::make_unique<BmpFileBytes>(std::move(picture));
}

QByteArray encodeBmp(const Picture& picture) {
    return bmpFileBytes(picture)->joined();
}

} // namespace directcodec
