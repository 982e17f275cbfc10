// SPDX-License-Identifier: MIT
#include "ExifBlocks.h"

#include <QList>

#include <algorithm>
#include <optional>
#include <utility>

namespace exif {
namespace {

// Tags this unit looks at.
constexpr quint16 kImageWidth = 0x0100;
constexpr quint16 kImageLength = 0x0101;
constexpr quint16 kOrientation = 0x0112;
constexpr quint16 kThumbnailOffset = 0x0201;
constexpr quint16 kThumbnailLength = 0x0202;
constexpr quint16 kStripOffsets = 0x0111;
constexpr quint16 kStripByteCounts = 0x0117;
constexpr quint16 kExifDirectory = 0x8769;
constexpr quint16 kGpsDirectory = 0x8825;
constexpr quint16 kInteropDirectory = 0xA005;
constexpr quint16 kPixelXDimension = 0xA002;
constexpr quint16 kPixelYDimension = 0xA003;
constexpr quint16 kMakerNote = 0x927C;

constexpr quint16 kShort = 3;
constexpr quint16 kLong = 4;
constexpr quint16 kIfd = 13;

// A block larger than this holds no EXIF a picture needs; a directory with
// more entries than this is not one a camera writes.
constexpr qsizetype kMaxBlock = 16 * 1024 * 1024;
constexpr quint32 kMaxEntries = 4096;

// Bytes per value of each TIFF field type; 0 for a type we do not know.
int typeSize(quint16 type) {
    switch (type) {
    case 1: case 2: case 6: case 7:
        return 1;
    case 3: case 8:
        return 2;
    case 4: case 9: case 11: case 13:
        return 4;
    case 5: case 10: case 12:
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

// The block's bytes with bounds-checked reads in its byte order.
class Reader {
public:
    explicit Reader(const QByteArray& block) : m_bytes(block) {}

    bool readHeader() {
        if (m_bytes.size() < 8 || m_bytes.size() > kMaxBlock)
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
        return at >= 0 && length >= 0 && at <= m_bytes.size() && length <= m_bytes.size() - at;
    }
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

    // The directory an entry points to (Exif, GPS, interoperability).
    std::optional<Directory> subDirectory(const Entry& e) {
        if ((e.type != kLong && e.type != kIfd) || e.count != 1)
            return std::nullopt;
        return directory(u32(e.valueAt));
    }

private:
    quint32 read(qsizetype at, int size) const {
        const auto* p = reinterpret_cast<const uchar*>(m_bytes.constData()) + at;
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value = m_big ? (value << 8) | p[i] : value | (quint32(p[i]) << (8 * i));
        return value;
    }

    const QByteArray& m_bytes;
    bool m_big = false;
    QList<quint32> m_seen;
};

void put(QByteArray& bytes, qsizetype at, quint32 value, int size, bool big) {
    for (int i = 0; i < size; ++i) {
        const int shift = big ? 8 * (size - 1 - i) : 8 * i;
        bytes[at + i] = char((value >> shift) & 0xFF);
    }
}

// Sets a one-value SHORT or LONG entry, turning a SHORT into a LONG when the
// value needs it (both fit in the entry itself).
void setNumber(QByteArray& bytes, const Entry& e, quint32 value, bool big) {
    if (e.count != 1 || (e.type != kShort && e.type != kLong))
        return;
    if (e.type == kShort && value > 0xFFFF)
        put(bytes, e.at + 2, kLong, 2, big);
    const bool asShort = e.type == kShort && value <= 0xFFFF;
    put(bytes, e.at + 8, 0, 4, big);
    put(bytes, e.at + 8, value, asShort ? 2 : 4, big);
}

using Range = std::pair<qsizetype, qsizetype>; // [first, end)

void noteDirectory(QList<Range>& ranges, const Directory& dir) {
    ranges.append({dir.at, dir.nextLinkAt + 4});
    for (const Entry& e : dir.entries)
        if (e.valueSize > 4)
            ranges.append({e.valueAt, e.valueAt + e.valueSize});
}

bool overlaps(const QList<Range>& ranges, Range r) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const Range& k) { return r.first < k.second && k.first < r.second; });
}

// The thumbnail's parts: its directory and the data it points to.
QList<Range> thumbnailRanges(Reader& reader, quint32 offset) {
    QList<Range> ranges;
    const std::optional<Directory> dir = reader.directory(offset);
    if (!dir)
        return ranges;
    noteDirectory(ranges, *dir);
    const Entry* start = dir->find(kThumbnailOffset);
    const Entry* length = dir->find(kThumbnailLength);
    if (start && length && start->count == 1 && length->count == 1) {
        const qint64 first = reader.u32(start->valueAt);
        const qint64 size = reader.u32(length->valueAt);
        if (reader.holds(first, size))
            ranges.append({qsizetype(first), qsizetype(first + size)});
    }
    return ranges;
}

} // namespace

QByteArray uprightExif(const QByteArray& block, int width, int height) {
    Reader reader(block);
    if (!reader.readHeader())
        return {};
    const std::optional<Directory> first = reader.directory(reader.firstDirectory());
    if (!first)
        return {};
    QList<Directory> kept{*first};
    std::optional<Directory> exifDir;
    for (quint16 tag : {kExifDirectory, kGpsDirectory}) {
        if (const Entry* e = first->find(tag)) {
            std::optional<Directory> sub = reader.subDirectory(*e);
            if (!sub)
                return {};
            if (tag == kExifDirectory)
                exifDir = sub;
            kept.append(*sub);
        }
    }
    if (exifDir) {
        if (const Entry* e = exifDir->find(kInteropDirectory)) {
            std::optional<Directory> interop = reader.subDirectory(*e);
            if (!interop)
                return {};
            kept.append(*interop);
        }
    }

    QList<Range> keptRanges{{0, 8}};
    for (const Directory& dir : kept)
        noteDirectory(keptRanges, dir);
    // The thumbnail: a damaged one is simply cut loose.
    const QList<Range> thumbnail =
        first->next != 0 ? thumbnailRanges(reader, first->next) : QList<Range>();

    const bool big = reader.bigEndian();
    QByteArray out = block;
    if (const Entry* e = first->find(kOrientation))
        setNumber(out, *e, 1, big);
    if (const Entry* e = first->find(kImageWidth))
        setNumber(out, *e, quint32(width), big);
    if (const Entry* e = first->find(kImageLength))
        setNumber(out, *e, quint32(height), big);
    if (exifDir) {
        if (const Entry* e = exifDir->find(kPixelXDimension))
            setNumber(out, *e, quint32(width), big);
        if (const Entry* e = exifDir->find(kPixelYDimension))
            setNumber(out, *e, quint32(height), big);
    }
    put(out, first->nextLinkAt, 0, 4, big);

    // What lies past the last kept byte goes (usually the thumbnail); the
    // thumbnail's parts inside the kept span are blanked.
    qsizetype end = 8;
    for (const Range& r : keptRanges)
        end = std::max(end, r.second);
    out.truncate(end);
    for (const Range& r : thumbnail) {
        const Range inside{r.first, std::min(r.second, end)};
        if (inside.first < inside.second && !overlaps(keptRanges, inside))
            std::fill(out.begin() + inside.first, out.begin() + inside.second, '\0');
    }
    return out;
}

int orientationOf(const QByteArray& block) {
    Reader reader(block);
    if (!reader.readHeader())
        return 1;
    const std::optional<Directory> first = reader.directory(reader.firstDirectory());
    const Entry* e = first ? first->find(kOrientation) : nullptr;
    if (!e || e->count != 1 || (e->type != kShort && e->type != kLong))
        return 1;
    const quint32 value = e->type == kShort ? reader.u16(e->valueAt) : reader.u32(e->valueAt);
    return value >= 1 && value <= 8 ? int(value) : 1;
}

namespace {

// The tags of a TIFF file's first directory that describe the photo rather
// than how its pixels are stored.
bool isDescriptive(quint16 tag) {
    switch (tag) {
    case 0x010E: // ImageDescription
    case 0x010F: // Make
    case 0x0110: // Model
    case kOrientation:
    case 0x011A: // XResolution
    case 0x011B: // YResolution
    case 0x0128: // ResolutionUnit
    case 0x0131: // Software
    case 0x0132: // DateTime
    case 0x013B: // Artist
    case 0x8298: // Copyright
        return true;
    default:
        return false;
    }
}

// A directory to be written: its entries' raw values and the directories its
// pointer entries lead to (by index into the list being built).
struct NewEntry {
    quint16 tag;
    quint16 type;
    quint32 count;
    QByteArray value; // raw, in the block's byte order
    int pointsTo = -1;
};
using NewDirectory = QList<NewEntry>;

NewDirectory copyOf(const QByteArray& bytes, const Directory& dir, bool (*keep)(quint16)) {
    NewDirectory out;
    for (const Entry& e : dir.entries)
        if (keep(e.tag))
            out.append({e.tag, e.type, e.count, bytes.mid(e.valueAt, e.valueSize), -1});
    return out;
}

qsizetype sizeOf(const NewDirectory& dir) {
    qsizetype size = 2 + 12 * dir.size() + 4;
    for (const NewEntry& e : dir)
        if (e.value.size() > 4)
            size += (e.value.size() + 1) & ~qsizetype(1);
    return size;
}

QByteArray serialise(QList<NewDirectory> dirs, bool big) {
    QList<qsizetype> at;
    qsizetype end = 8;
    for (NewDirectory& dir : dirs) {
        std::sort(dir.begin(), dir.end(),
                  [](const NewEntry& a, const NewEntry& b) { return a.tag < b.tag; });
        at.append(end);
        end += sizeOf(dir);
    }
    QByteArray out(end, '\0');
    out[0] = out[1] = big ? 'M' : 'I';
    put(out, 2, 42, 2, big);
    put(out, 4, 8, 4, big);
    for (qsizetype d = 0; d < dirs.size(); ++d) {
        const NewDirectory& dir = dirs[d];
        qsizetype data = at[d] + 2 + 12 * dir.size() + 4;
        put(out, at[d], quint32(dir.size()), 2, big);
        for (qsizetype i = 0; i < dir.size(); ++i) {
            const NewEntry& e = dir[i];
            const qsizetype entry = at[d] + 2 + 12 * i;
            put(out, entry, e.tag, 2, big);
            put(out, entry + 2, e.pointsTo >= 0 ? kLong : e.type, 2, big);
            put(out, entry + 4, e.pointsTo >= 0 ? 1 : e.count, 4, big);
            if (e.pointsTo >= 0) {
                put(out, entry + 8, quint32(at[e.pointsTo]), 4, big);
            } else if (e.value.size() <= 4) {
                std::copy(e.value.begin(), e.value.end(), out.begin() + entry + 8);
            } else {
                put(out, entry + 8, quint32(data), 4, big);
                std::copy(e.value.begin(), e.value.end(), out.begin() + data);
                data += (e.value.size() + 1) & ~qsizetype(1);
            }
        }
    }
    return out;
}

} // namespace

QByteArray exifOfTiffFile(const QByteArray& tiff) {
    Reader reader(tiff);
    if (tiff.startsWith("II+") || tiff.startsWith("MM\0+") || !reader.readHeader())
        return {};
    const std::optional<Directory> first = reader.directory(reader.firstDirectory());
    if (!first)
        return {};
    QList<NewDirectory> dirs{copyOf(tiff, *first, isDescriptive)};
    bool describes = false;
    for (quint16 tag : {quint16(0x010F), quint16(0x0110), quint16(0x0132), quint16(0x013B),
                        quint16(0x8298)})
        describes = describes || first->find(tag);
    // The Exif directory without the makers' notes, whose own offsets would
    // point elsewhere once moved, and without the interoperability pointer.
    const auto exifKeeps = [](quint16 tag) { return tag != kMakerNote && tag != kInteropDirectory; };
    const auto allKept = [](quint16) { return true; };
    for (quint16 tag : {kExifDirectory, kGpsDirectory}) {
        const Entry* e = first->find(tag);
        if (!e)
            continue;
        const std::optional<Directory> sub = reader.subDirectory(*e);
        if (!sub)
            return {};
        dirs.append(copyOf(tiff, *sub, tag == kExifDirectory ? +exifKeeps : +allKept));
        dirs[0].append({tag, kLong, 1, {}, int(dirs.size() - 1)});
        describes = true;
    }
    if (!describes)
        return {};
    return serialise(dirs, reader.bigEndian());
}

} // namespace exif
