// SPDX-License-Identifier: MIT
// Building the metadata of test sources and reading it back from outputs,
// with code of the tests' own: TIFF-structured blocks (an EXIF block, or a
// whole little TIFF file), JPEG segments, PNG chunks, PSD resources.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace testing {

// --- TIFF structures, little-endian --------------------------------------

struct TiffEntry {
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray value;   // raw value bytes
    int directory = -1; // the value is the offset of this directory
    int blob = -1;      // the value is the offset of this blob
};
struct TiffDirectory {
    QList<TiffEntry> entries;
    int next = -1; // the directory linked after this one
};

inline QByteArray le(quint32 value, int size) {
    QByteArray out;
    for (int i = 0; i < size; ++i)
        out += char((value >> (8 * i)) & 0xFF);
    return out;
}
inline TiffEntry ascii(quint16 tag, const QByteArray& text) {
    return {tag, 2, quint32(text.size() + 1), text + '\0'};
}
inline TiffEntry shortValue(quint16 tag, quint32 v) {
    return {tag, 3, 1, le(v, 2)};
}
inline TiffEntry longValue(quint16 tag, quint32 v) {
    return {tag, 4, 1, le(v, 4)};
}
inline TiffEntry rationals(quint16 tag, const QList<quint32>& parts) {
    QByteArray value;
    for (quint32 p : parts)
        value += le(p, 4);
    return {tag, 5, quint32(parts.size() / 2), value};
}
inline TiffEntry bytesValue(quint16 tag, const QByteArray& bytes) {
    return {tag, 7, quint32(bytes.size()), bytes};
}
inline TiffEntry pointer(quint16 tag, int directory) {
    return {tag, 4, 1, {}, directory};
}
inline TiffEntry blobOffset(quint16 tag, int blob) {
    return {tag, 4, 1, {}, -1, blob};
}

// Directories first, each followed by its long values, then the blobs.
inline QByteArray buildTiff(const QList<TiffDirectory>& dirs, const QList<QByteArray>& blobs = {}) {
    QList<quint32> dirAt;
    quint32 end = 8;
    for (const TiffDirectory& d : dirs) {
        dirAt.append(end);
        end += 2 + 12 * quint32(d.entries.size()) + 4;
        for (const TiffEntry& e : d.entries)
            if (e.value.size() > 4)
                end += quint32(e.value.size() + 1) & ~1u;
    }
    QList<quint32> blobAt;
    for (const QByteArray& b : blobs) {
        blobAt.append(end);
        end += quint32(b.size() + 1) & ~1u;
    }
    QByteArray out = QByteArray("II*\0", 4) + le(8, 4);
    for (const TiffDirectory& d : dirs) {
        QByteArray values;
        quint32 valueAt = quint32(out.size()) + 2 + 12 * quint32(d.entries.size()) + 4;
        out += le(quint32(d.entries.size()), 2);
        for (const TiffEntry& e : d.entries) {
            out += le(e.tag, 2) + le(e.type, 2) + le(e.count, 4);
            if (e.directory >= 0)
                out += le(dirAt[e.directory], 4);
            else if (e.blob >= 0)
                out += le(blobAt[e.blob], 4);
            else if (e.value.size() <= 4)
                out += e.value + QByteArray(4 - e.value.size(), '\0');
            else {
                out += le(valueAt + quint32(values.size()), 4);
                values += e.value;
                if (e.value.size() % 2)
                    values += '\0';
            }
        }
        out += le(d.next >= 0 ? dirAt[d.next] : 0, 4);
        out += values;
    }
    for (const QByteArray& b : blobs)
        out += b + QByteArray(b.size() % 2, '\0');
    return out;
}

// The tags of the first directory and of the Exif and GPS directories it
// points to (their numbers do not overlap for the tags the tests look at),
// as text: ASCII without its end, numbers in decimal, rationals "n/d,n/d".
// Key -1 holds the first directory's link to a next one (the thumbnail's).
inline QMap<int, QString> readTags(const QByteArray& block) {
    QMap<int, QString> tags;
    const bool big = block.startsWith("MM");
    const auto u = [&](qsizetype at, int size) -> quint32 {
        quint32 v = 0;
        for (int i = 0; i < size; ++i) {
            const quint32 byte = at + i >= 0 && at + i < block.size() ? quint8(block[at + i]) : 0u;
            v = big ? (v << 8) | byte : v | (byte << (8 * i));
        }
        return v;
    };
    QList<quint32> pending{u(4, 4)};
    for (int visited = 0; !pending.isEmpty() && visited < 3; ++visited) {
        const quint32 at = pending.takeFirst();
        const quint32 count = u(at, 2);
        for (quint32 i = 0; i < count && i < 200; ++i) {
            const qsizetype e = at + 2 + 12 * i;
            const quint32 tag = u(e, 2), type = u(e + 2, 2), n = u(e + 4, 4);
            const int unit = type == 3 ? 2 : type == 5 ? 8 : type == 4 ? 4 : 1;
            const qsizetype valueAt = qint64(n) * unit <= 4 ? e + 8 : qsizetype(u(e + 8, 4));
            if (tag == 0x8769 || tag == 0x8825)
                pending.append(u(e + 8, 4));
            if (type == 2)
                tags[int(tag)] = QString::fromLatin1(block.mid(valueAt, n)).section(QChar(0), 0, 0);
            else if (type == 3 || type == 4)
                tags[int(tag)] = QString::number(u(valueAt, unit));
            else if (type == 5) {
                QStringList parts;
                for (quint32 k = 0; k < n && k < 8; ++k)
                    parts << QStringLiteral("%1/%2")
                                 .arg(u(valueAt + 8 * k, 4))
                                 .arg(u(valueAt + 8 * k + 4, 4));
                tags[int(tag)] = parts.join(',');
            }
        }
        if (visited == 0)
            tags[-1] = QString::number(u(at + 2 + 12 * count, 4));
    }
    return tags;
}

// --- containers ------------------------------------------------------------

inline QByteArray jpegSegment(uchar marker, const QByteArray& payload) {
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF") + char(marker) + char(length >> 8) + char(length & 0xFF) + payload;
}

// The JPEG with the segments put right after its start marker.
inline QByteArray withSegments(const QByteArray& jpeg, const QByteArray& segments) {
    return jpeg.left(2) + segments + jpeg.mid(2);
}

// The compressed data of a JPEG: from its start-of-scan marker on.
inline QByteArray scanData(const QByteArray& jpeg) {
    return jpeg.mid(jpeg.indexOf("\xFF\xDA"));
}

inline quint32 crc32Of(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    QByteArray length;
    for (int i = 3; i >= 0; --i)
        length += char((quint32(data.size()) >> (8 * i)) & 0xFF);
    const quint32 crc = crc32Of(type + data);
    QByteArray tail;
    for (int i = 3; i >= 0; --i)
        tail += char((crc >> (8 * i)) & 0xFF);
    return length + type + data + tail;
}

// The data of every chunk of the type, in order.
inline QList<QByteArray> pngChunks(const QByteArray& png, const QByteArray& type) {
    QList<QByteArray> found;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const quint32 length = (quint32(quint8(png[at])) << 24) |
                               (quint32(quint8(png[at + 1])) << 16) |
                               (quint32(quint8(png[at + 2])) << 8) | quint32(quint8(png[at + 3]));
        if (png.mid(at + 4, 4) == type)
            found.append(png.mid(at + 8, length));
        at += 12 + qsizetype(length);
    }
    return found;
}

inline QByteArray psdResource(quint16 id, const QByteArray& data) {
    QByteArray out = QByteArray("8BIM") + char(id >> 8) + char(id & 0xFF) + QByteArray(2, '\0');
    for (int i = 3; i >= 0; --i)
        out += char((quint32(data.size()) >> (8 * i)) & 0xFF);
    return out + data + QByteArray(data.size() % 2, '\0');
}

} // namespace testing
