// SPDX-License-Identifier: MIT
// Reading TIFF structures (EXIF blocks and TIFF files) with every offset
// checked: the one reader of TIFF headers and directories, for the EXIF
// blocks, the orientation and the size a TIFF declares.
#pragma once

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <optional>

namespace tiffdir {

// Tags this unit looks at.
constexpr quint16 kImageWidth = 0x0100;
constexpr quint16 kImageLength = 0x0101;
constexpr quint16 kOrientation = 0x0112;
constexpr quint16 kThumbnailOffset = 0x0201;
constexpr quint16 kThumbnailLength = 0x0202;
constexpr quint16 kExifDirectory = 0x8769;
constexpr quint16 kGpsDirectory = 0x8825;
constexpr quint16 kInteropDirectory = 0xA005;
constexpr quint16 kPixelXDimension = 0xA002;
constexpr quint16 kPixelYDimension = 0xA003;
constexpr quint16 kMakerNote = 0x927C;

constexpr quint16 kShort = 3;
constexpr quint16 kLong = 4;
constexpr quint16 kIfd = 13;

// A block larger than this holds no EXIF a picture needs (a TIFF file may be
// up to 4 GiB); a directory with more entries than this is not one a camera
// writes.
constexpr qint64 kMaxBlock = 16 * 1024 * 1024;
constexpr qint64 kMaxTiffFile = 0xFFFFFFFFLL;
constexpr quint32 kMaxEntries = 4096;

// Bytes per value of each TIFF field type; 0 for a type we do not know.
inline int typeSize(quint16 type) {
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
    case 13:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 0;
    }
}

struct Entry {
    quint16 tag = 0;
    quint16 type = 0;
    quint32 count = 0;
    qsizetype at = 0;        // where the 12-byte entry starts
    qsizetype valueAt = 0;   // where its value starts: inside the entry, or at its offset
    qsizetype valueSize = 0; // bytes of the value
};

struct Directory {
    qsizetype at = 0;
    QList<Entry> entries;
    qsizetype nextLinkAt = 0; // where the offset of the next directory is stored
    quint32 next = 0;

    const Entry* find(quint16 tag) const {
        for (const Entry& e : entries)
            if (e.tag == tag)
                return &e;
        return nullptr;
    }
};

// The block's bytes with bounds-checked reads in its byte order. Offsets
// count from the start of the block, or of the file a window was read from.
class Reader {
public:
    explicit Reader(const QByteArray& block, qint64 maxSize = kMaxBlock)
        : m_bytes(block)
        , m_maxSize(maxSize) {}
    // The bytes of a file from offset `base` on, in the byte order its header
    // gave: the part of a large file a look needs.
    Reader(const QByteArray& window, qint64 base, bool bigEndian)
        : m_bytes(window)
        , m_maxSize(kMaxTiffFile)
        , m_base(base)
        , m_big(bigEndian) {}

    bool readHeader() {
        if (m_bytes.size() < 8 || m_bytes.size() > m_maxSize)
            return false;
        if (m_bytes.startsWith("II"))
            m_big = false;
        else if (m_bytes.startsWith("MM"))
            m_big = true;
        else
            return false;
        return u16(2) == 42;
    }
    bool bigEndian() const { return m_big; }
    quint32 firstDirectory() const { return u32(4); }
    qsizetype size() const { return m_bytes.size(); }
    bool holds(qint64 at, qint64 length) const {
        at -= m_base;
        return at >= 0 && length >= 0 && at <= m_bytes.size() && length <= m_bytes.size() - at;
    }
    quint32 u8(qsizetype at) const { return read(at, 1); }
    quint32 u16(qsizetype at) const { return read(at, 2); }
    quint32 u32(qsizetype at) const { return read(at, 4); }

    // The directory at the offset, or nothing when it or a value it points to
    // lies outside the block, or it was seen before (a loop).
    std::optional<Directory> directory(quint32 offset) {
        if (!holds(offset, 2) || m_seen.contains(offset))
            return std::nullopt;
        m_seen.append(offset);
        Directory dir;
        dir.at = offset;
        const quint32 count = u16(offset);
        if (count > kMaxEntries || !holds(qint64(offset) + 2, qint64(count) * 12 + 4))
            return std::nullopt;
        for (quint32 i = 0; i < count; ++i) {
            Entry e;
            e.at = qsizetype(offset) + 2 + qsizetype(i) * 12;
            e.tag = quint16(u16(e.at));
            e.type = quint16(u16(e.at + 2));
            e.count = u32(e.at + 4);
            const int unit = typeSize(e.type);
            if (unit == 0)
                return std::nullopt;
            const qint64 size = qint64(e.count) * unit;
            e.valueAt = size <= 4 ? e.at + 8 : qsizetype(u32(e.at + 8));
            if (!holds(e.valueAt, size))
                return std::nullopt;
            e.valueSize = qsizetype(size);
            dir.entries.append(e);
        }
        dir.nextLinkAt = qsizetype(offset) + 2 + qsizetype(count) * 12;
        dir.next = u32(dir.nextLinkAt);
        return dir;
    }

    // Calls visit(tag, type, where the entry starts) for the entries of the
    // directory at the offset, at most maxEntries of them, as far as the bytes
    // hold them, until it returns false. Unlike directory(), nothing else is
    // checked: a quick look for one tag in a directory that may be read only
    // in part.
    template <typename Visit>
    void scanEntries(qint64 offset, quint32 maxEntries, Visit visit) const {
        if (!holds(offset, 2))
            return;
        const quint32 count = std::min(u16(qsizetype(offset)), maxEntries);
        for (quint32 i = 0; i < count; ++i) {
            const qint64 at = offset + 2 + qint64(i) * 12;
            if (!holds(at, 12) ||
                !visit(quint16(u16(qsizetype(at))), quint16(u16(qsizetype(at + 2))), qsizetype(at)))
                return;
        }
    }

    // The directory an entry points to (Exif, GPS, interoperability).
    std::optional<Directory> subDirectory(const Entry& e) {
        if ((e.type != kLong && e.type != kIfd) || e.count != 1)
            return std::nullopt;
        return directory(u32(e.valueAt));
    }

private:
    quint32 read(qsizetype at, int size) const {
        const auto* p = reinterpret_cast<const uchar*>(m_bytes.constData()) + (at - m_base);
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value = m_big ? (value << 8) | p[i] : value | (quint32(p[i]) << (8 * i));
        return value;
    }

    const QByteArray& m_bytes;
    qint64 m_maxSize;
    qint64 m_base = 0;
    bool m_big = false;
    QList<quint32> m_seen;
};

inline void put(QByteArray& bytes, qsizetype at, quint32 value, int size, bool big) {
    for (int i = 0; i < size; ++i) {
        const int shift = big ? 8 * (size - 1 - i) : 8 * i;
        bytes[at + i] = char((value >> shift) & 0xFF);
    }
}

} // namespace tiffdir
