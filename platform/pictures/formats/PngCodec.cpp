// SPDX-License-Identifier: MIT
// PNG written by us: each row filtered with whichever of the five filters
// leaves the smallest residuals, the whole picture compressed at once through
// libdeflate, and the ancillary chunks the general path writes for a picture
// (gAMA and cHRM of sRGB, a white bKGD, iCCP for a profile) with no time stamps.
#include "formats/DirectCodecs.h"

#include <libdeflate.h>

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace directcodec {
namespace {

using Byte = std::uint8_t;

// Asks for huge pages behind a large buffer not yet touched, where the system
// gives them on request: touched for the first time, tens of megabytes in
// pages of 4 KB take a page fault each, which costs more than filtering them.
void preferHugePages(void* data, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kPage = 4096;
    const std::uintptr_t begin =
        (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kPage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

// ---- Filtering -----------------------------------------------------------------

enum Filter { None, Sub, Up, Average, Paeth, FilterCount };

// The predictor of the Paeth filter, in 16-bit steps so that the compiler
// vectorises it: pa = |b - c|, pb = |a - c|, pc = |a + b - 2c|.
inline Byte paethOf(Byte a, Byte b, Byte c) {
    const std::int16_t pa = std::int16_t(std::abs(std::int16_t(b - c)));
    const std::int16_t pb = std::int16_t(std::abs(std::int16_t(a - c)));
    const std::int16_t pc = std::int16_t(std::abs(std::int16_t(a + b - 2 * c)));
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Byte i of a row filtered, i >= bpp: the byte to its left and the one above
// that are in the rows.
template <Filter F>
inline Byte filtered(const Byte* row, const Byte* above, std::size_t i, int bpp) {
    if constexpr (F == Sub)
        return Byte(row[i] - row[i - bpp]);
    if constexpr (F == Up)
        return Byte(row[i] - above[i]);
    if constexpr (F == Average)
        return Byte(row[i] - ((row[i - bpp] + above[i]) >> 1));
    if constexpr (F == Paeth)
        return Byte(row[i] - paethOf(row[i - bpp], above[i], above[i - bpp]));
    return row[i];
}

// The first pixel's bytes, whose left neighbours count as 0.
template <Filter F> inline Byte filteredFirst(Byte value, Byte above) {
    if constexpr (F == Up || F == Paeth) // Paeth of (0, b, 0) is b
        return Byte(value - above);
    if constexpr (F == Average)
        return Byte(value - (above >> 1));
    return value;
}

// What a filtered byte costs: its distance from 0 as a signed byte. The row
// with the smallest sum usually compresses best.
inline unsigned costOf(Byte value) {
    return unsigned(std::abs(int(std::int8_t(value))));
}

// Filters a row of `size` bytes into `out` and returns its cost. The loops
// are vectorised at -O3 (a fixed-length inner block would not be: -O3 unrolls
// it in full first, which made filtering three times as slow).
template <Filter F>
std::uint64_t filterRow(const Byte* __restrict row, const Byte* __restrict above, std::size_t size,
                        int bpp, Byte* __restrict out) {
    // Up to 128 a byte: a stretch's cost stays within 32 bits.
    constexpr std::size_t kStretch = std::size_t(1) << 16;
    std::uint64_t cost = 0;
    std::size_t i = 0;
    for (; i < std::min(size, std::size_t(bpp)); ++i) {
        out[i] = filteredFirst<F>(row[i], above[i]);
        cost += costOf(out[i]);
    }
    while (i < size) {
        const std::size_t end = std::min(size, i + kStretch);
        unsigned stretchCost = 0;
        for (; i < end; ++i) {
            const Byte value = filtered<F>(row, above, i, bpp);
            out[i] = value;
            stretchCost += costOf(value);
        }
        cost += stretchCost;
    }
    return cost;
}

using RowFilter = std::uint64_t (*)(const Byte*, const Byte*, std::size_t, int, Byte*);
constexpr RowFilter kRowFilters[FilterCount] = {filterRow<None>, filterRow<Sub>, filterRow<Up>,
                                                filterRow<Average>, filterRow<Paeth>};

// The picture's rows as PNG stores them (16-bit samples big-endian), each
// after its filter type byte, with the summed cost of the chosen filters.
struct FilteredRows {
    std::unique_ptr<Byte[]> data;
    std::size_t size = 0;
    std::uint64_t cost = 0;
};

FilteredRows filterRows(const Picture& picture, const std::stop_token& stop) {
    const std::size_t line = std::size_t(picture.bytesPerLine());
    const int bpp = picture.channelCount() * picture.bitsPerSample / 8;
    const bool swap = picture.bitsPerSample == 16 && QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    FilteredRows rows;
    rows.size = (line + 1) * std::size_t(picture.height);
    rows.data = std::make_unique_for_overwrite<Byte[]>(rows.size);
    preferHugePages(rows.data.get(), rows.size);
    // The row above starts as zeros; 16-bit rows are swapped into two
    // buffers in turn, so the one above stays. The trial and best filtered
    // rows trade places.
    std::unique_ptr<Byte[]> scratch = std::make_unique<Byte[]>(5 * line);
    const Byte* above = scratch.get();
    Byte* swapped = scratch.get() + line;
    Byte* spare = swapped + line;
    Byte* trial = spare + line;
    Byte* best = trial + line;
    const auto* pixels = reinterpret_cast<const Byte*>(picture.pixels.constData());
    for (int y = 0; y < picture.height; ++y) {
        const Byte* row = pixels + std::size_t(y) * line;
        if (swap) {
            qFromBigEndian<quint16>(row, qsizetype(line / 2), swapped);
            row = swapped;
            std::swap(swapped, spare);
        }
        std::uint64_t bestCost = UINT64_MAX;
        Byte bestFilter = None;
        for (int f = None; f < FilterCount; ++f) {
            const std::uint64_t cost = kRowFilters[f](row, above, line, bpp, trial);
            if (cost < bestCost) {
                bestCost = cost;
                bestFilter = Byte(f);
                std::swap(trial, best);
            }
        }
        Byte* out = rows.data.get() + std::size_t(y) * (line + 1);
        out[0] = bestFilter;
        std::memcpy(out + 1, best, line);
        rows.cost += bestCost;
        above = row;
        if (y % 64 == 63)
            throwIfStopped(stop);
    }
    return rows;
}

// ---- Compressing and chunks ----------------------------------------------------

// Photos leave residuals of 5 to 9 a byte, which level 1 compresses about as
// well as zlib's level 3 in a third of the time; higher levels gain 1 % there
// at half as much time again. Drawings of flat areas and gradients leave
// residuals far below 1 a byte: there level 9 writes a third less than level 1
// and is still fast, as its matches are long.
constexpr int kPhotoLevel = 1;
constexpr int kDrawingLevel = 9;
constexpr int kProfileLevel = 9;
bool isDrawing(const FilteredRows& rows) {
    return rows.cost < rows.size;
}

// IDAT chunks of this size: the chunk overhead is negligible, and a reader
// never holds much of a chunk at once.
constexpr std::size_t kIdatSize = std::size_t(1) << 18;

struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, FreeCompressor>;

Compressor compressorAt(int level) {
    Compressor compressor(libdeflate_alloc_compressor(level));
    if (!compressor)
        throw std::bad_alloc();
    return compressor;
}

void putBigEndian(Byte* at, std::uint32_t value) {
    qToBigEndian(value, at);
}

// A chunk whose data is already in place at `at + 8`: its length, type and CRC.
void closeChunk(Byte* at, const char* type, std::size_t size) {
    putBigEndian(at, std::uint32_t(size));
    std::memcpy(at + 4, type, 4);
    putBigEndian(at + 8 + size, std::uint32_t(libdeflate_crc32(0, at + 4, size + 4)));
}

void appendChunk(QByteArray& out, const char* type, const QByteArray& data) {
    const qsizetype at = out.size();
    out.resize(at + 12 + data.size());
    Byte* chunk = reinterpret_cast<Byte*>(out.data()) + at;
    if (!data.isEmpty())
        std::memcpy(chunk + 8, data.constData(), std::size_t(data.size()));
    closeChunk(chunk, type, std::size_t(data.size()));
}

QByteArray bigEndian(std::initializer_list<std::uint32_t> values, int bytesEach) {
    QByteArray out;
    for (const std::uint32_t value : values)
        for (int shift = 8 * (bytesEach - 1); shift >= 0; shift -= 8)
            out += char((value >> shift) & 0xFF);
    return out;
}

// The profile compressed as a zlib stream after its name and method.
QByteArray iccpData(const QByteArray& profile) {
    const Compressor compressor = compressorAt(kProfileLevel);
    const std::size_t bound =
        libdeflate_zlib_compress_bound(compressor.get(), std::size_t(profile.size()));
    QByteArray data("icc\0\0", 5);
    data.resize(5 + qsizetype(bound));
    const std::size_t size = libdeflate_zlib_compress(
        compressor.get(), profile.constData(), std::size_t(profile.size()), data.data() + 5, bound);
    if (size == 0)
        throw CodecError("the colour profile could not be compressed");
    data.resize(5 + qsizetype(size));
    return data;
}

// The signature and every chunk before the image data.
QByteArray headerOf(const Picture& picture) {
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    const int colourType = picture.channels == Picture::Channels::Gray  ? 0
                           : picture.channels == Picture::Channels::Rgb ? 2
                                                                        : 6;
    QByteArray ihdr = bigEndian({std::uint32_t(picture.width), std::uint32_t(picture.height)}, 4);
    ihdr += char(picture.bitsPerSample);
    ihdr += char(colourType);
    ihdr += QByteArray(3, '\0'); // deflate, adaptive filters, no interlacing
    appendChunk(out, "IHDR", ihdr);
    appendChunk(out, "gAMA", bigEndian({45455}, 4));
    if (!picture.iccProfile.isEmpty())
        appendChunk(out, "iCCP", iccpData(picture.iccProfile));
    appendChunk(out, "cHRM", bigEndian({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}, 4));
    const std::uint32_t white = picture.bitsPerSample == 16 ? 0xFFFF : 0xFF;
    appendChunk(out, "bKGD",
                colourType == 0 ? bigEndian({white}, 2) : bigEndian({white, white, white}, 2));
    return out;
}

} // namespace

QByteArray encodePng(const Picture& picture, std::stop_token stop) {
    QByteArray out = headerOf(picture);
    const FilteredRows rows = filterRows(picture, stop);
    throwIfStopped(stop);
    const Compressor compressor = compressorAt(isDrawing(rows) ? kDrawingLevel : kPhotoLevel);
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), rows.size);
    const std::size_t maxChunks = std::max<std::size_t>(1, (bound + kIdatSize - 1) / kIdatSize);
    // The stream is compressed straight into the output where the first
    // IDAT's data goes; the chunks after it then move up to make room for
    // their length, type and CRC.
    const std::size_t header = std::size_t(out.size());
    out.resize(qsizetype(header + 12 * maxChunks + bound + 12));
    Byte* idat = reinterpret_cast<Byte*>(out.data()) + header;
    preferHugePages(idat, std::size_t(out.size()) - header);
    const std::size_t size =
        libdeflate_zlib_compress(compressor.get(), rows.data.get(), rows.size, idat + 8, bound);
    if (size == 0)
        throw CodecError("the rows could not be compressed");
    const std::size_t chunks = std::max<std::size_t>(1, (size + kIdatSize - 1) / kIdatSize);
    for (std::size_t k = chunks; k-- > 0;) {
        const std::size_t length = std::min(kIdatSize, size - k * kIdatSize);
        Byte* chunk = idat + k * (kIdatSize + 12);
        std::memmove(chunk + 8, idat + 8 + k * kIdatSize, length);
        closeChunk(chunk, "IDAT", length);
    }
    Byte* end = idat + size + 12 * chunks;
    closeChunk(end, "IEND", 0);
    out.resize(qsizetype(end + 12 - reinterpret_cast<Byte*>(out.data())));
    return out;
}

} // namespace directcodec
