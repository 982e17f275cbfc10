// SPDX-License-Identifier: MIT
// EXIF directories moved between TIFF files and EXIF blocks: rebuilt, not
// patched, so their values are laid out anew.
#include "metadata/ExifBlocks.h"
#include "structures/TiffDirectories.h"

#include <algorithm>
#include <utility>

namespace exif {

using namespace tiffdir;

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

// `bytes` are those from offset `base` on (0 for a whole block or file).
NewDirectory copyOf(const QByteArray& bytes, const Directory& dir, bool (*keep)(quint16),
                    qsizetype base = 0) {
    NewDirectory out;
    for (const Entry& e : dir.entries)
        if (keep(e.tag))
            out.append({e.tag, e.type, e.count, bytes.mid(e.valueAt - base, e.valueSize), -1});
    return out;
}

qsizetype sizeOf(const NewDirectory& dir) {
    qsizetype size = 2 + 12 * dir.size() + 4;
    for (const NewEntry& e : dir)
        if (e.value.size() > 4)
            size += (e.value.size() + 1) & ~qsizetype(1);
    return size;
}

// The directories laid out one after another from the absolute offset
// `start`, each followed by its long values.
QByteArray layOut(QList<NewDirectory> dirs, bool big, qsizetype start) {
    QList<qsizetype> at;
    qsizetype end = start;
    for (NewDirectory& dir : dirs) {
        std::sort(dir.begin(), dir.end(),
                  [](const NewEntry& a, const NewEntry& b) { return a.tag < b.tag; });
        at.append(end);
        end += sizeOf(dir);
    }
    QByteArray out(end - start, '\0');
    for (qsizetype d = 0; d < dirs.size(); ++d) {
        const NewDirectory& dir = dirs[d];
        const qsizetype base = at[d] - start;
        qsizetype data = base + 2 + 12 * dir.size() + 4;
        put(out, base, quint32(dir.size()), 2, big);
        for (qsizetype i = 0; i < dir.size(); ++i) {
            const NewEntry& e = dir[i];
            const qsizetype entry = base + 2 + 12 * i;
            put(out, entry, e.tag, 2, big);
            put(out, entry + 2, e.pointsTo >= 0 ? kLong : e.type, 2, big);
            put(out, entry + 4, e.pointsTo >= 0 ? 1 : e.count, 4, big);
            if (e.pointsTo >= 0) {
                put(out, entry + 8, quint32(at[e.pointsTo]), 4, big);
            } else if (e.value.size() <= 4) {
                std::copy(e.value.begin(), e.value.end(), out.begin() + entry + 8);
            } else {
                put(out, entry + 8, quint32(start + data), 4, big);
                std::copy(e.value.begin(), e.value.end(), out.begin() + data);
                data += (e.value.size() + 1) & ~qsizetype(1);
            }
        }
    }
    return out;
}

QByteArray serialise(const QList<NewDirectory>& dirs, bool big) {
    QByteArray header(8, '\0');
    header[0] = header[1] = big ? 'M' : 'I';
    put(header, 2, 42, 2, big);
    put(header, 4, 8, 4, big);
    return header + layOut(dirs, big, 8);
}

// A value's bytes in the other byte order: each number turned, a rational's
// two numbers each.
QByteArray swapped(QByteArray value, quint16 type) {
    const int unit = type == 5 || type == 10 ? 4 : typeSize(type);
    for (qsizetype at = 0; unit > 1 && at + unit <= value.size(); at += unit)
        std::reverse(value.begin() + at, value.begin() + at + unit);
    return value;
}

// The Exif and GPS directories of a block, and its descriptive first-directory
// tags, ready to be written in the given byte order; nothing when damaged.
struct ExifParts {
    NewDirectory descriptive;
    QList<std::pair<quint16, NewDirectory>> subDirectories;
};

std::optional<ExifParts> partsOf(const QByteArray& block, bool big, qint64 maxSize = kMaxBlock) {
    Reader reader(block, maxSize);
    if (!reader.readHeader())
        return std::nullopt;
    const std::optional<Directory> first = reader.directory(reader.firstDirectory());
    if (!first)
        return std::nullopt;
    const auto inOrder = [&](NewDirectory dir) {
        if (reader.bigEndian() != big)
            for (NewEntry& e : dir)
                e.value = swapped(e.value, e.type);
        return dir;
    };
    ExifParts parts;
    parts.descriptive = inOrder(copyOf(block, *first, isDescriptive));
    const auto exifKeeps = [](quint16 tag) {
        return tag != kMakerNote && tag != kInteropDirectory;
    };
    for (quint16 tag : {kExifDirectory, kGpsDirectory}) {
        const Entry* e = first->find(tag);
        if (!e)
            continue;
        const std::optional<Directory> sub = reader.subDirectory(*e);
        if (!sub)
            return std::nullopt;
        parts.subDirectories.append({tag, inOrder(copyOf(block, *sub, +exifKeeps))});
    }
    return parts;
}

} // namespace

QByteArray exifOfTiffFile(const QByteArray& tiff) {
    if (tiff.startsWith("II+") || tiff.startsWith(QByteArray("MM\0+", 4)) || tiff.size() < 8)
        return {};
    const bool big = tiff.startsWith("MM");
    const std::optional<ExifParts> parts = partsOf(tiff, big, kMaxTiffFile);
    if (!parts)
        return {};
    QList<NewDirectory> dirs{parts->descriptive};
    bool describes = !parts->subDirectories.isEmpty();
    for (const NewEntry& e : parts->descriptive)
        describes = describes || e.tag == 0x010F || e.tag == 0x0110 || e.tag == 0x0132 ||
                    e.tag == 0x013B || e.tag == 0x8298;
    if (!describes)
        return {};
    for (const auto& [tag, dir] : parts->subDirectories) {
        dirs.append(dir);
        dirs[0].append({tag, kLong, 1, {}, int(dirs.size() - 1)});
    }
    return serialise(dirs, big);
}

namespace {

// What goes after a TIFF file of `fileSize` bytes, padded to an even size,
// for the block: the file's own first directory, less any EXIF pointers,
// with the block's descriptive tags it lacks, and the block's directories
// (the first directory's values that point into the file, the strips among
// them, stay valid). `window` reads the part of the file that holds the first
// directory and its values, `bytes` being that part. Nothing when either is
// damaged or the file would grow too large.
std::optional<QByteArray> exifAfterTiff(Reader& window, const QByteArray& bytes, qsizetype base,
                                        quint32 firstDirectory, qint64 fileSize,
                                        const QByteArray& block) {
    const bool big = window.bigEndian();
    const std::optional<Directory> first = window.directory(firstDirectory);
    const std::optional<ExifParts> parts = partsOf(block, big);
    if (!first || !parts)
        return std::nullopt;
    QList<NewDirectory> dirs{copyOf(
        bytes, *first, [](quint16 tag) { return tag != kExifDirectory && tag != kGpsDirectory; },
        base)};
    for (const NewEntry& e : parts->descriptive)
        if (!first->find(e.tag))
            dirs[0].append(e);
    for (const auto& [tag, dir] : parts->subDirectories) {
        dirs.append(dir);
        dirs[0].append({tag, kLong, 1, {}, int(dirs.size() - 1)});
    }
    const qsizetype start = qsizetype(fileSize + 1) & ~qsizetype(1);
    QByteArray appended = layOut(dirs, big, start);
    if (start + appended.size() > kMaxTiffFile)
        return std::nullopt;
    return appended;
}

} // namespace

bool putExifInTiff(QByteArray& tiff, const QByteArray& block) {
    Reader reader(tiff, kMaxTiffFile);
    if (block.isEmpty() || !reader.readHeader())
        return false;
    const std::optional<QByteArray> appended =
        exifAfterTiff(reader, tiff, 0, reader.firstDirectory(), tiff.size(), block);
    if (!appended)
        return false;
    const qsizetype start = (tiff.size() + 1) & ~qsizetype(1);
    tiff.resize(start, '\0');
    tiff += *appended;
    put(tiff, 4, quint32(start), 4, reader.bigEndian());
    return true;
}

bool putExifInTiffEnd(QByteArray& head, QByteArray& end, qint64 endAt, const QByteArray& block) {
    Reader header(head, kMaxTiffFile);
    if (block.isEmpty() || !header.readHeader() || endAt < head.size())
        return false;
    Reader window(end, endAt, header.bigEndian());
    const qint64 fileSize = endAt + end.size();
    const std::optional<QByteArray> appended =
        exifAfterTiff(window, end, qsizetype(endAt), header.firstDirectory(), fileSize, block);
    if (!appended)
        return false;
    const qsizetype start = qsizetype(fileSize + 1) & ~qsizetype(1);
    end.resize(start - qsizetype(endAt), '\0');
    end += *appended;
    put(head, 4, quint32(start), 4, header.bigEndian());
    return true;
}

} // namespace exif
