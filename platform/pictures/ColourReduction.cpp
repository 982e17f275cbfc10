// SPDX-License-Identifier: MIT
#include "ColourReduction.h"

#include "PaletteChoice.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace colours {
namespace {

constexpr int kMaxColours = 256;
constexpr int kRowsBetweenCheckpoints = 64;
constexpr int kLastCell = (1 << (3 * kFineBits)) - 1;
// Pictures larger than this build their histogram from a quarter of their
// pixels: still millions of them.
constexpr std::int64_t kSampledAbove = 4'000'000;

void checkNow(const Checkpoint& checkpoint, int y) {
    if (checkpoint && y % kRowsBetweenCheckpoints == 0)
        checkpoint();
}

inline std::uint32_t packed(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

// The distinct opaque colours of a picture in the order they first appear,
// counted until there are more than a GIF holds. An open-addressed set,
// at most a quarter full.
class ExactColours {
public:
    ExactColours()
        : m_keys(kSlots)
        , m_indexes(kSlots, -1) {}

    bool tooMany() const { return m_tooMany; }
    int count() const { return int(m_colours.size()); }
    const std::vector<std::uint32_t>& colours() const { return m_colours; }

    void add(std::uint32_t colour) {
        if (m_tooMany)
            return;
        std::uint32_t& slot = m_keys[find(colour)];
        int& index = m_indexes[size_t(&slot - m_keys.data())];
        if (index >= 0)
            return;
        if (count() == kMaxColours) {
            m_tooMany = true;
            return;
        }
        slot = colour;
        index = count();
        m_colours.push_back(colour);
    }
    int indexOf(std::uint32_t colour) const { return m_indexes[find(colour)]; }

private:
    static constexpr int kSlotBits = 10;
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;

    size_t find(std::uint32_t colour) const {
        std::uint32_t at = (colour * 2654435761u) >> (32 - kSlotBits);
        while (m_indexes[at] >= 0 && m_keys[at] != colour)
            at = (at + 1) & (kSlots - 1);
        return at;
    }

    std::vector<std::uint32_t> m_keys;
    std::vector<int> m_indexes;
    std::vector<std::uint32_t> m_colours;
    bool m_tooMany = false;
};

// The nearest palette entry to a colour, exactly, without searching the whole
// palette. The colour cube is cut into cells, and each cell keeps, once asked
// for, the entries that can be nearest to some colour in it: those no farther
// from the cell than the cell's farthest point is from the entry that is
// nearest to all of it. Cells of 16 levels a side take their entries from the
// whole palette; cells of 4 levels take theirs from the big cell around them,
// and most of them end up with one entry, the answer itself.
class NearestColour {
public:
    explicit NearestColour(const std::vector<std::uint8_t>& palette)
        : m_palette(palette)
        , m_bigCells(size_t(1) << (3 * kBigBits), kUnknown)
        , m_cells(size_t(1) << (3 * kBits), kUnknownCell) {
        m_everyEntry.resize(palette.size() / 3);
        for (size_t e = 0; e < m_everyEntry.size(); ++e)
            m_everyEntry[e] = std::uint16_t(e);
    }

    int find(int red, int green, int blue) {
        constexpr int drop = 8 - kBits;
        const size_t cell =
            size_t((red >> drop) << (2 * kBits) | (green >> drop) << kBits | (blue >> drop));
        std::uint32_t known = m_cells[cell];
        if (known == kUnknownCell)
            known = m_cells[cell] = cellFrom(fillCell(red >> drop, green >> drop, blue >> drop));
        if (known >> 24 == 1) // a single candidate: the answer itself
            return int(known & 0xFF);
        if ((known & kListCell) == 0) {
            // Up to three entries in the cell itself, the first repeated in
            // the slots it does not use: no branch on how many there are.
            const std::uint32_t a = nearnessKey(int(known & 0xFF), red, green, blue);
            const std::uint32_t b = nearnessKey(int(known >> 8 & 0xFF), red, green, blue);
            const std::uint32_t c = nearnessKey(int(known >> 16 & 0xFF), red, green, blue);
            return int(std::min(a, std::min(b, c)) & 0xFF);
        }
        const std::uint16_t* candidate = m_lists.data() + (known & ~kListCell);
        const int count = *candidate++;
        std::uint32_t best = nearnessKey(candidate[0], red, green, blue);
        for (int i = 1; i < count; ++i)
            best = std::min(best, nearnessKey(candidate[i], red, green, blue));
        return int(best & 0xFF);
    }

private:
    static constexpr int kBits = 6;
    static constexpr int kBigBits = 4;
    // A big cell holds kUnknown, ~entry for a single candidate, or where its
    // list starts in m_lists (a count, then the entries).
    static constexpr std::int32_t kUnknown = INT32_MIN;
    // A cell holds 0 when unknown, kListCell and where its list starts, or
    // up to three entries a byte each and their count in the top byte.
    static constexpr std::uint32_t kUnknownCell = 0;
    static constexpr std::uint32_t kListCell = 0x80000000u;

    // The squared distance to the entry, then the entry: the smallest key is
    // the nearest entry, the first of equals.
    std::uint32_t nearnessKey(int entry, int red, int green, int blue) const {
        const std::uint8_t* p = m_palette.data() + entry * 3;
        const int dr = p[0] - red, dg = p[1] - green, db = p[2] - blue;
        return std::uint32_t(dr * dr + dg * dg + db * db) << 8 | std::uint32_t(entry);
    }

    std::uint32_t cellFrom(std::int32_t list) {
        if (list < 0) {
            const auto only = std::uint32_t(~list);
            return 1u << 24 | only << 16 | only << 8 | only;
        }
        const int count = m_lists[size_t(list)];
        if (count > 3)
            return kListCell | std::uint32_t(list);
        const std::uint16_t* entry = m_lists.data() + list + 1;
        const std::uint32_t first = entry[0];
        const std::uint32_t second = entry[1];
        const std::uint32_t third = count == 3 ? entry[2] : first;
        m_lists.resize(size_t(list)); // kept in the cell instead
        return std::uint32_t(count) << 24 | third << 16 | second << 8 | first;
    }

    std::int32_t fillCell(int r, int g, int b) {
        constexpr int up = kBits - kBigBits;
        const size_t big = size_t((r >> up) << (2 * kBigBits) | (g >> up) << kBigBits | (b >> up));
        if (m_bigCells[big] == kUnknown) {
            const std::int32_t list = listFor(r >> up, g >> up, b >> up, 8 - kBigBits,
                                              m_everyEntry.data(), int(m_everyEntry.size()));
            m_bigCells[big] = list;
        }
        const std::int32_t bigList = m_bigCells[big];
        if (bigList < 0)
            return bigList;
        // Copied: the lists grow while it is read.
        const int count = m_lists[size_t(bigList)];
        std::copy_n(m_lists.begin() + bigList + 1, count, m_within.begin());
        return listFor(r, g, b, 8 - kBits, m_within.data(), count);
    }

    // The candidates among `entries` for the cell at (r, g, b) in cells of
    // 2^shift levels a side. Worked out in doubled coordinates, where the
    // cell's centre and half-width are whole numbers, a channel at a time, so
    // the compiler can work on several entries at once.
    std::int32_t listFor(int r, int g, int b, int shift, const std::uint16_t* entries, int count) {
        const int span = (1 << shift) - 1; // the cell's width, doubled half-width
        const int centre[3] = {(r << (shift + 1)) + span, (g << (shift + 1)) + span,
                               (b << (shift + 1)) + span};
        int* nearest = m_nearest.data();
        int* farthest = m_farthest.data();
        std::fill(nearest, nearest + count, 0);
        std::fill(farthest, farthest + count, 0);
        int* samples = m_samples.data();
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < count; ++i)
                samples[i] = m_palette[size_t(entries[i]) * 3 + size_t(c)];
            for (int i = 0; i < count; ++i) {
                const int d = std::abs(2 * samples[i] - centre[c]);
                const int far = d + span;
                const int near = d > span ? d - span : 0;
                farthest[i] += far * far;
                nearest[i] += near * near;
            }
        }
        int bound = farthest[0];
        for (int i = 1; i < count; ++i)
            bound = farthest[i] < bound ? farthest[i] : bound;
        const size_t start = m_lists.size();
        m_lists.push_back(0);
        for (int i = 0; i < count; ++i)
            if (nearest[i] <= bound) {
                m_lists.push_back(entries[i]);
                ++m_lists[start];
            }
        if (m_lists[start] == 1) {
            const std::int32_t only = ~std::int32_t(m_lists[start + 1]);
            m_lists.resize(start);
            return only;
        }
        return std::int32_t(start);
    }

    const std::vector<std::uint8_t>& m_palette;
    std::vector<std::uint16_t> m_everyEntry;
    std::vector<std::uint16_t> m_within = std::vector<std::uint16_t>(256);
    std::vector<std::int32_t> m_bigCells;
    std::vector<std::uint32_t> m_cells;
    std::vector<std::uint16_t> m_lists;
    // Room for one list's work: a channel of each entry, and each entry's
    // squared distances to the cell's nearest and farthest points.
    std::vector<int> m_samples = std::vector<int>(256);
    std::vector<int> m_nearest = std::vector<int>(256);
    std::vector<int> m_farthest = std::vector<int>(256);
};

// One row of the error diffusion, in the direction Step (1: left to right).
// `error` points at the first pixel's error from the row above, `below` at
// where that pixel's error for the next row goes; `below` is written from
// one pixel behind the first to one beyond the last, so it needs no clearing.
// The error passed ahead and the two sums still open below are carried in
// variables rather than read back from memory. Transparent pixels neither
// take nor pass on error.
template <int Step>
void diffuseRow(const std::uint8_t* pixel, const int* error, int* below, std::uint8_t* out,
                int width, NearestColour& nearest, const std::uint8_t* palette,
                std::uint8_t transparent) {
    int ahead[3] = {0, 0, 0};  // 7/16 of the last pixel's error
    int open[3] = {0, 0, 0};   // what the pixel below the last one has so far
    int beyond[3] = {0, 0, 0}; // what the pixel below and ahead of it has so far
    for (int i = 0; i < width;
         ++i, pixel += 4 * Step, error += 3 * Step, below += 3 * Step, out += Step) {
        int e[3] = {0, 0, 0};
        if (pixel[3] == 0) {
            *out = transparent;
        } else {
            const int red = std::clamp(pixel[0] + ((error[0] + ahead[0] + 8) >> 4), 0, 255);
            const int green = std::clamp(pixel[1] + ((error[1] + ahead[1] + 8) >> 4), 0, 255);
            const int blue = std::clamp(pixel[2] + ((error[2] + ahead[2] + 8) >> 4), 0, 255);
            const int index = nearest.find(red, green, blue);
            *out = std::uint8_t(index);
            const std::uint8_t* chosen = palette + index * 3;
            e[0] = red - chosen[0];
            e[1] = green - chosen[1];
            e[2] = blue - chosen[2];
        }
        for (int c = 0; c < 3; ++c) {
            below[-3 * Step + c] = open[c] + e[c] * 3;
            open[c] = beyond[c] + e[c] * 5;
            beyond[c] = e[c];
            ahead[c] = e[c] * 7;
        }
    }
    for (int c = 0; c < 3; ++c) {
        below[-3 * Step + c] = open[c];
        below[c] = beyond[c];
    }
}

// Serpentine Floyd-Steinberg: each pixel's error goes 7/16 ahead, 3/16 behind
// below, 5/16 below and 1/16 ahead below; odd rows run right to left so the
// error does not pile up on one side. Errors are kept in sixteenths.
void diffuse(int width, int height, const RowReader& rows, const std::vector<std::uint8_t>& palette,
             int transparentIndex, std::uint8_t* indexes, const Checkpoint& checkpoint) {
    NearestColour nearest(palette);
    std::vector<std::uint8_t> row(size_t(width) * 4);
    // Three samples a pixel, with a pixel of margin on both sides.
    std::vector<int> thisRow(size_t(width + 2) * 3), nextRow(thisRow.size());
    const auto transparent = std::uint8_t(transparentIndex);
    for (int y = 0; y < height; ++y) {
        checkNow(checkpoint, y);
        rows(y, row.data());
        std::uint8_t* out = indexes + size_t(y) * size_t(width);
        if (y % 2 == 0)
            diffuseRow<1>(row.data(), thisRow.data() + 3, nextRow.data() + 3, out, width, nearest,
                          palette.data(), transparent);
        else
            diffuseRow<-1>(row.data() + size_t(width - 1) * 4, thisRow.data() + size_t(width) * 3,
                           nextRow.data() + size_t(width) * 3, out + width - 1, width, nearest,
                           palette.data(), transparent);
        std::swap(thisRow, nextRow);
    }
}

} // namespace

Reduction reduceColours(int width, int height, const RowReader& rows, std::uint8_t* indexes,
                        const Checkpoint& checkpoint, bool opaque) {
    // One pass: the exact colours while there are few, the histogram, and
    // whether any pixel is transparent. Once a big picture is known to have
    // too many colours, every other pixel of every other row is enough for
    // the histogram; transparency is still looked for everywhere.
    ExactColours exact;
    Histogram histogram;
    bool transparent = false;
    const bool big = std::int64_t(width) * height > kSampledAbove;
    auto count = [&histogram](const std::uint8_t* p) {
        const int at = fineCellOf(p[0], p[1], p[2]);
        HistogramCell& cell = histogram.cells[size_t(at)];
        ++cell.count;
        cell.red += p[0];
        cell.green += p[1];
        cell.blue += p[2];
        if (at == 0 && packed(p) == 0)
            histogram.hasBlack = true;
        else if (at == kLastCell && packed(p) == 0xFFFFFF)
            histogram.hasWhite = true;
    };
    std::vector<std::uint8_t> row(size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        checkNow(checkpoint, y);
        if (big && exact.tooMany() && opaque && y % 2 != 0)
            continue; // a row the histogram skips, with no transparency to look for
        rows(y, row.data());
        if (big && exact.tooMany()) {
            for (int x = 0; x < width; ++x)
                transparent = transparent || row[size_t(x) * 4 + 3] == 0;
            for (int x = 0; x < width && y % 2 == 0; x += 2)
                if (row[size_t(x) * 4 + 3] != 0)
                    count(row.data() + size_t(x) * 4);
            continue;
        }
        std::uint32_t previous = 0xFFFFFFFFu;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = row.data() + size_t(x) * 4;
            if (p[3] == 0) {
                transparent = true;
                continue;
            }
            const std::uint32_t colour = packed(p);
            if (colour != previous && !exact.tooMany()) // runs of one colour are common
                exact.add(colour);
            previous = colour;
            count(p);
        }
    }
    const int opaqueSlots = transparent ? kMaxColours - 1 : kMaxColours;

    Reduction reduction;
    if (!exact.tooMany() && exact.count() <= opaqueSlots) {
        for (const std::uint32_t colour : exact.colours())
            for (const int shift : {16, 8, 0})
                reduction.palette.push_back(std::uint8_t(colour >> shift));
        if (transparent) {
            reduction.transparentIndex = exact.count();
            reduction.palette.insert(reduction.palette.end(), {0, 0, 0});
        }
        for (int y = 0; y < height; ++y) {
            checkNow(checkpoint, y);
            rows(y, row.data());
            std::uint8_t* out = indexes + size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = row.data() + size_t(x) * 4;
                out[x] =
                    std::uint8_t(p[3] == 0 ? reduction.transparentIndex : exact.indexOf(packed(p)));
            }
        }
        return reduction;
    }

    reduction.palette = choosePalette(histogram, opaqueSlots);
    std::vector<std::uint8_t> opaqueColours = reduction.palette;
    if (transparent) {
        reduction.transparentIndex = int(reduction.palette.size() / 3);
        reduction.palette.insert(reduction.palette.end(), {0, 0, 0});
    }
    diffuse(width, height, rows, opaqueColours, reduction.transparentIndex, indexes, checkpoint);
    return reduction;
}

} // namespace colours
