// SPDX-License-Identifier: MIT
#include "metadata/ExifBlocks.h"
#include "structures/TiffDirectories.h"

#include <QList>

#include <algorithm>
#include <optional>
#include <utility>

namespace exif {
namespace {

using namespace tiffdir;

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

// The bytes of an orientation value of the type: it may be a BYTE, SHORT,
// LONG or SLONG; 0 for any other type.
int orientationSize(quint16 type) {
    switch (type) {
    case 1:
        return 1;
    case kShort:
        return 2;
    case kLong:
    case 9:
        return 4;
    default:
        return 0;
    }
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

int orientationOf(const QByteArray& block) {
    Reader reader(block);
    if (!reader.readHeader())
        return 1;
    quint32 value = 0;
    reader.scanEntries(reader.firstDirectory(), 0xFFFF,
                       [&](quint16 tag, quint16 type, qsizetype at) {
                           if (tag != kOrientation)
                               return true;
                           // One value, in the entry itself.
                           const int size = orientationSize(type);
                           if (size > 0 && reader.u32(at + 4) == 1)
                               value = size == 1   ? reader.u8(at + 8)
                                       : size == 2 ? reader.u16(at + 8)
                                                   : reader.u32(at + 8);
                           return false;
                       });
    return value >= 1 && value <= 8 ? int(value) : 1;
}

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
    // The orientation becomes one SHORT, 1, whatever type and count it had,
    // so no reader finds another value in it.
    if (const Entry* e = first->find(kOrientation)) {
        put(out, e->at + 2, kShort, 2, big);
        put(out, e->at + 4, 1, 4, big);
        put(out, e->at + 8, 0, 4, big);
        put(out, e->at + 8, 1, 2, big);
    }
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

} // namespace exif
