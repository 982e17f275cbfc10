// SPDX-License-Identifier: MIT
#include "metadata/MetadataBlocks.h"

#include "metadata/ExifBlocks.h"
#include "structures/ByteOrder.h"
#include "structures/JpegSegments.h"

#include <zlib.h>

namespace metadata {
namespace {

const QByteArray kExifPrefix("Exif\0\0", 6);
const QByteArray kXmpPrefix("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray kPhotoshopPrefix("Photoshop 3.0\0", 14);
const QByteArray kXmpKeyword("XML:com.adobe.xmp");

using jpeg::kApp0;
using jpeg::kApp1;
using jpeg::kApp13;
// The most a segment's payload holds (its length field counts itself).
constexpr qsizetype kMaxSegmentPayload = 0xFFFF - 2;

// Calls visit(marker, segment start, payload start, payload end) for every
// segment before the compressed data; returns where the scan's segment
// starts, or -1 when the segments cannot be followed.
template <typename Visit> qsizetype walkJpeg(const QByteArray& jpeg, Visit visit) {
    const qint64 scan =
        jpeg::walkSegments(jpeg::MemoryBytes(jpeg), [&](const jpeg::Segment& segment) {
            visit(segment.marker, qsizetype(segment.at), qsizetype(segment.payloadAt),
                  qsizetype(segment.payloadEnd));
            return true;
        });
    return scan < 0 ? -1 : qsizetype(scan);
}

bool isOurs(uchar marker, const QByteArray& payload) {
    return (marker == kApp1 &&
            (payload.startsWith(kExifPrefix) || payload.startsWith(kXmpPrefix))) ||
           (marker == kApp13 && payload.startsWith(kPhotoshopPrefix));
}

void appendSegment(QByteArray& out, uchar marker, const QByteArray& prefix,
                   const QByteArray& block) {
    const qsizetype size = prefix.size() + block.size();
    if (block.isEmpty() || size > kMaxSegmentPayload)
        return;
    out += char(0xFF);
    out += char(marker);
    out += char((size + 2) >> 8);
    out += char((size + 2) & 0xFF);
    out += prefix;
    out += block;
}

void appendChunk(QByteArray& out, const char* type, const QByteArray& data) {
    char header[8];
    for (int i = 0; i < 4; ++i)
        header[i] = char((quint32(data.size()) >> (8 * (3 - i))) & 0xFF);
    std::copy(type, type + 4, header + 4);
    out.append(header, 8);
    out += data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
    for (int i = 0; i < 4; ++i)
        out += char((crc >> (8 * (3 - i))) & 0xFF);
}

// Calls visit(type, data start, data length) for each chunk; returns where
// the first IDAT starts, or -1 when the chunks cannot be followed.
template <typename Visit> qsizetype walkPng(const QByteArray& png, Visit visit) {
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(signature))
        return -1;
    const auto* d = reinterpret_cast<const uchar*>(png.constData());
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const qint64 length = readBigEndian(d + at, 4);
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "IDAT")
            return at;
        if (length > png.size() - at - 12)
            return -1;
        visit(type, at + 8, qsizetype(length));
        at += 12 + qsizetype(length);
    }
    return -1;
}

} // namespace

PictureMetadata ofJpeg(const QByteArray& jpeg) {
    PictureMetadata found;
    walkJpeg(jpeg, [&](uchar marker, qsizetype, qsizetype first, qsizetype end) {
        const QByteArray payload = QByteArray::fromRawData(jpeg.constData() + first, end - first);
        if (marker == kApp1 && found.exif.isEmpty() && payload.startsWith(kExifPrefix))
            found.exif = payload.mid(kExifPrefix.size());
        else if (marker == kApp1 && found.xmp.isEmpty() && payload.startsWith(kXmpPrefix))
            found.xmp = payload.mid(kXmpPrefix.size());
        else if (marker == kApp13 && found.photoshop.isEmpty() &&
                 payload.startsWith(kPhotoshopPrefix))
            found.photoshop = payload.mid(kPhotoshopPrefix.size());
    });
    return found;
}

PictureMetadata ofPng(const QByteArray& png) {
    PictureMetadata found;
    walkPng(png, [&](const QByteArray& type, qsizetype first, qsizetype length) {
        const QByteArray data = png.mid(first, length);
        if (type == "eXIf" && found.exif.isEmpty()) {
            // Some writers keep the JPEG segment's prefix.
            found.exif = data.startsWith(kExifPrefix) ? data.mid(kExifPrefix.size()) : data;
        } else if (type == "iTXt" && found.xmp.isEmpty() && data.startsWith(kXmpKeyword + '\0')) {
            // keyword \0, compression flag, method, language \0, translated keyword \0, text
            qsizetype at = kXmpKeyword.size() + 1;
            if (at + 2 > data.size() || data[at] != '\0')
                return; // compressed XMP is left out
            at += 2;
            for (int field = 0; field < 2 && at >= 0; ++field) {
                at = data.indexOf('\0', at);
                if (at >= 0)
                    ++at;
            }
            if (at > 0)
                found.xmp = data.mid(at);
        }
    });
    return found;
}

QByteArray photoshopWithIptc(const QByteArray& iptc) {
    if (iptc.isEmpty() || iptc.size() > 0x7FFFFFFF)
        return {};
    // "8BIM", resource 0x0404, an empty name padded to even, the length, the
    // data padded to even.
    QByteArray out("8BIM\x04\x04\0\0", 8);
    for (int i = 0; i < 4; ++i)
        out += char((quint32(iptc.size()) >> (8 * (3 - i))) & 0xFF);
    out += iptc;
    if (iptc.size() % 2)
        out += '\0';
    return out;
}

PictureMetadata upright(const PictureMetadata& raw, int width, int height) {
    PictureMetadata out = raw;
    if (!raw.exif.isEmpty())
        out.exif = exif::uprightExif(raw.exif, width, height);
    // The simple forms of the orientation in XMP (an attribute or an element
    // holding a digit) become 1; anything else is left as written. Bytes are
    // replaced in place, so the rest of the packet stays exactly as it was
    // (and no regular expression, with its per-thread state, runs on the
    // worker threads).
    for (char digit = '2'; digit <= '8'; ++digit) {
        out.xmp.replace(QByteArray("tiff:Orientation=\"") + digit + '"', "tiff:Orientation=\"1\"");
        out.xmp.replace(QByteArray("<tiff:Orientation>") + digit + "</tiff:Orientation>",
                        "<tiff:Orientation>1</tiff:Orientation>");
    }
    return out;
}

QByteArray withJpegMetadata(const QByteArray& jpeg, const PictureMetadata& blocks) {
    QByteArray kept;
    qsizetype headerEnd = 2; // after SOI and the APP0 segments that follow it
    bool inHeader = true;
    const qsizetype scan =
        walkJpeg(jpeg, [&](uchar marker, qsizetype at, qsizetype first, qsizetype end) {
            const QByteArray payload =
                QByteArray::fromRawData(jpeg.constData() + first, end - first);
            if (inHeader && marker == kApp0) {
                headerEnd = end;
                return;
            }
            inHeader = false;
            if (!isOurs(marker, payload))
                kept.append(jpeg.constData() + at, end - at);
        });
    if (scan < 0)
        return {};
    QByteArray out;
    out.reserve(jpeg.size() + blocks.exif.size() + blocks.xmp.size() + blocks.photoshop.size() +
                64);
    out.append(jpeg.constData(), headerEnd);
    appendSegment(out, kApp1, kExifPrefix, blocks.exif);
    appendSegment(out, kApp1, kXmpPrefix, blocks.xmp);
    appendSegment(out, kApp13, kPhotoshopPrefix, blocks.photoshop);
    out += kept;
    out.append(jpeg.constData() + scan, jpeg.size() - scan);
    return out;
}

QByteArray withPngMetadata(const QByteArray& png, const PictureMetadata& blocks) {
    const qsizetype idat = walkPng(png, [](const QByteArray&, qsizetype, qsizetype) {});
    if (idat < 0)
        return {};
    QByteArray chunks;
    if (!blocks.exif.isEmpty())
        appendChunk(chunks, "eXIf", blocks.exif);
    if (!blocks.xmp.isEmpty())
        appendChunk(chunks, "iTXt", kXmpKeyword + QByteArray("\0\0\0\0\0", 5) + blocks.xmp);
    QByteArray out;
    out.reserve(png.size() + chunks.size());
    out.append(png.constData(), idat);
    out += chunks;
    out.append(png.constData() + idat, png.size() - idat);
    return out;
}

} // namespace metadata
