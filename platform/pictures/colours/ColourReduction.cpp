// SPDX-License-Identifier: MIT
#include "colours/ColourReduction.h"

#include "colours/PaletteChoice.h"
#include "pixels/ColourSet.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#if defined(_MSC_VER)
#define COLOURS_NOINLINE __declspec(noinline)
#else
#define COLOURS_NOINLINE __attribute__((noinline))
#endif

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

// Where the passes get their rows from. A reader's rows are copied into a
// buffer of four bytes a pixel; packed RGB rows are read where they lie,
// three bytes a pixel and every pixel opaque.
class ReaderRows {
public:
    static constexpr int kStep = 4;
    static constexpr bool kMayBeTransparent = true;

    ReaderRows(const RowReader& read, int width)
        : m_read(read)
        , m_row(size_t(width) * 4) {}
    const std::uint8_t* row(int y) {
        m_read(y, m_row.data());
        return m_row.data();
    }
    static bool transparent(const std::uint8_t* p) { return p[3] == 0; }
    // The pixel's four bytes, red lowest and alpha highest, in one load.
    static std::uint32_t wordOf(const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }

private:
    const RowReader& m_read;
    std::vector<std::uint8_t> m_row;
};

class InPlaceRgbRows {
public:
    static constexpr int kStep = 3;
    static constexpr bool kMayBeTransparent = false;

    explicit InPlaceRgbRows(const RgbRows& rows)
        : m_rows(rows) {}
    const std::uint8_t* row(int y) const {
        return m_rows.first + std::ptrdiff_t(y) * m_rows.stride;
    }
    static bool transparent(const std::uint8_t*) { return false; }
    static std::uint32_t wordOf(const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               0xFF000000u;
    }

private:
    RgbRows m_rows;
};

// A colour on at least 1/kLargeShareDivisor of the picture's pixels keeps
// its own palette entry and stays flat: the background of a graphic, the bars
// of a chart, the patches of a test card. In a photo hardly any colour comes
// near it (at most a clipped white or black).
constexpr std::int64_t kLargeShareDivisor = 100;

// Pixel counts of exact colours in buckets, for finding the large colours
// without a table of every colour. A multiplication by an odd number modulo
// 2^24 maps the colours one to one; its top bits name the bucket and its low
// bits the colour within it, so a bucket holds at most 1024 colours. A large
// colour makes its bucket large; a photo has no large bucket at all.
class ColourBuckets {
public:
    static constexpr int kWithinBits = 10;
    static constexpr int kWithin = 1 << kWithinBits;
    static constexpr int kBuckets = 1 << (24 - kWithinBits);

    // The mix of a word's colour: alpha, above bit 23, drops out.
    static std::uint32_t mixed(std::uint32_t word) { return (word * kMix) & 0xFFFFFF; }
    // The colour (0xRRGGBB) of a mix.
    static std::uint32_t colourOf(std::uint32_t mix) {
        const std::uint32_t word = (mix * kUnmix) & 0xFFFFFF;
        return (word & 0xFF) << 16 | (word & 0xFF00) | word >> 16;
    }

    // Every opaque pixel of the row; a word is a pixel's bytes as
    // Rows::wordOf gives them, alpha highest.
    template <typename Rows> void countRow(const std::uint8_t* pixel, int width) {
        std::uint32_t* totals = m_totals.data();
        for (int x = 0; x < width; ++x, pixel += Rows::kStep) {
            const std::uint32_t word = Rows::wordOf(pixel);
            totals[mixed(word) >> kWithinBits] += word >> 24 != 0 ? 1 : 0;
        }
    }
    std::uint32_t total(int bucket) const { return m_totals[size_t(bucket)]; }

private:
    static constexpr std::uint32_t kMix = 0x3779B1;
    // The inverse of kMix modulo 2^32, and so modulo 2^24, by Newton's steps.
    static constexpr std::uint32_t kUnmix = [] {
        std::uint32_t inverse = kMix;
        for (int i = 0; i < 5; ++i)
            inverse *= 2 - kMix * inverse;
        return inverse;
    }();
    static_assert(kMix * kUnmix == 1);

    std::vector<std::uint32_t> m_totals = std::vector<std::uint32_t>(kBuckets);
};

struct LargeColour {
    std::uint32_t colour = 0;
    std::uint32_t pixels = 0;    // in the whole picture
    std::uint32_t histogram = 0; // of them, counted in the histogram
};

// Which pixels the first pass put into the histogram: every opaque one above
// row sampledFrom, from there on every other pixel of every other row.
struct HistogramSample {
    int sampledFrom = 0;
    bool has(int x, int y) const { return y < sampledFrom || (y % 2 == 0 && x % 2 == 0); }
};

// The large colours, largest first, counted exactly over every pixel: only
// the buckets that may hold one are counted colour by colour, in a pass of
// their own, which a picture without a large bucket never makes. When the
// first pass read only every other row, a bucket is looked into from half
// the share on, so a colour as common on the rows it skipped is still found.
template <typename Rows>
std::vector<LargeColour> largeColours(const ColourBuckets& buckets, std::int64_t countedPixels,
                                      int width, int height, const HistogramSample& sample,
                                      Rows& rows, const Checkpoint& checkpoint) {
    const std::int64_t pixels = std::int64_t(width) * height;
    const std::int64_t divisor =
        countedPixels < pixels ? 2 * kLargeShareDivisor : kLargeShareDivisor;
    std::vector<int> looked; // the buckets looked into
    std::vector<std::int16_t> lookedAt(ColourBuckets::kBuckets, -1);
    for (int b = 0; b < ColourBuckets::kBuckets; ++b)
        if (buckets.total(b) > 0 && std::int64_t(buckets.total(b)) * divisor >= countedPixels) {
            lookedAt[size_t(b)] = std::int16_t(looked.size());
            looked.push_back(b);
        }
    if (looked.empty())
        return {};
    std::vector<std::uint32_t> all(looked.size() * ColourBuckets::kWithin);
    std::vector<std::uint32_t> sampled(all.size());
    for (int y = 0; y < height; ++y) {
        checkNow(checkpoint, y);
        const std::uint8_t* row = rows.row(y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t word = Rows::wordOf(row + size_t(x) * Rows::kStep);
            const std::uint32_t mix = ColourBuckets::mixed(word);
            const int at = lookedAt[mix >> ColourBuckets::kWithinBits];
            if (at < 0 || word >> 24 == 0)
                continue;
            const size_t slot =
                size_t(at) * ColourBuckets::kWithin + (mix & (ColourBuckets::kWithin - 1));
            ++all[slot];
            sampled[slot] += sample.has(x, y) ? 1 : 0;
        }
    }
    std::vector<LargeColour> large;
    for (size_t slot = 0; slot < all.size(); ++slot)
        if (std::int64_t(all[slot]) * kLargeShareDivisor >= pixels) {
            const std::uint32_t mix = std::uint32_t(looked[slot / ColourBuckets::kWithin])
                                          << ColourBuckets::kWithinBits |
                                      std::uint32_t(slot % ColourBuckets::kWithin);
            large.push_back({ColourBuckets::colourOf(mix), all[slot], sampled[slot]});
        }
    std::sort(large.begin(), large.end(), [](const LargeColour& a, const LargeColour& b) {
        return a.pixels != b.pixels ? a.pixels > b.pixels : a.colour < b.colour;
    });
    return large;
}

// The palette entries of the large colours by their exact colour, for the
// error diffusion: an open-addressed table at most a quarter full.
class LargeColourIndex {
public:
    LargeColourIndex(const std::vector<LargeColour>& large, int firstEntry) {
        for (size_t i = 0; i < large.size(); ++i) {
            std::uint32_t at = slotOf(large[i].colour);
            while (m_entries[at] >= 0)
                at = (at + 1) & (kSlots - 1);
            m_colours[at] = large[i].colour;
            m_entries[at] = std::int16_t(firstEntry + int(i));
        }
    }
    // The entry of a large colour, or -1.
    int find(std::uint32_t colour) const {
        std::uint32_t at = slotOf(colour);
        while (m_entries[at] >= 0 && m_colours[at] != colour)
            at = (at + 1) & (kSlots - 1);
        return m_entries[at];
    }

private:
    static constexpr int kSlotBits = 9; // 512 slots for at most 100 colours
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;
    static std::uint32_t slotOf(std::uint32_t colour) {
        return (colour * 2654435761u) >> (32 - kSlotBits);
    }

    std::vector<std::uint32_t> m_colours = std::vector<std::uint32_t>(kSlots);
    std::vector<std::int16_t> m_entries = std::vector<std::int16_t>(kSlots, -1);
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
        m_scaled.resize(m_everyEntry.size() * 4);
        for (size_t at = 0; at < palette.size(); ++at)
            m_scaled[at / 3 * 4 + at % 3] = palette[at] << 4;
    }

    // The entry chosen for a colour, and how far the colour lies past it in
    // sixteenths of a level (the colour less the entry's, times 16).
    struct Choice {
        int entry;
        int past[3];
    };

    Choice find(int red, int green, int blue) {
        constexpr int drop = 8 - kBits;
        const size_t cell =
            size_t((red >> drop) << (2 * kBits) | (green >> drop) << kBits | (blue >> drop));
        std::uint32_t known = m_cells[cell];
        if (known == kUnknownCell) [[unlikely]]
            known = learn(cell, red >> drop, green >> drop, blue >> drop);
        const Scaled colour{red << 4, green << 4, blue << 4};
        if ((known & kListCell) == 0) {
            // Up to three entries in the cell itself, the first repeated in
            // the slots it does not use: no branch on how many there are,
            // nor on which is nearest, so the next pixel need not wait.
            Candidate best = candidate(int(known & 0xFF), colour);
            best = nearer(best, candidate(int(known >> 8 & 0xFF), colour));
            best = nearer(best, candidate(int(known >> 16 & 0xFF), colour));
            return {best.entry, {best.past[0], best.past[1], best.past[2]}};
        }
        const std::uint16_t* entry = m_lists.data() + (known & ~kListCell);
        const int count = *entry++;
        Candidate best = candidate(entry[0], colour);
        for (int i = 1; i < count; ++i)
            best = nearer(best, candidate(entry[i], colour));
        return {best.entry, {best.past[0], best.past[1], best.past[2]}};
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

    struct Scaled {
        int red, green, blue; // times 16
    };
    // An entry's key orders by the squared distance to it, then by the entry
    // itself: distances in sixteenths square to multiples of 256, so the
    // entry added below them decides between equals, the first winning.
    struct Candidate {
        int key;
        int entry;
        int past[3];
    };
    Candidate candidate(int entry, const Scaled& colour) const {
        const int* p = m_scaled.data() + entry * 4;
        const int dr = colour.red - p[0], dg = colour.green - p[1], db = colour.blue - p[2];
        return {dr * dr + dg * dg + db * db + entry, entry, {dr, dg, db}};
    }
    static Candidate nearer(const Candidate& a, const Candidate& b) {
        const bool second = b.key < a.key;
        return {second ? b.key : a.key,
                second ? b.entry : a.entry,
                {second ? b.past[0] : a.past[0], second ? b.past[1] : a.past[1],
                 second ? b.past[2] : a.past[2]}};
    }

    // The first question about a cell, answered once: kept out of line, so
    // the quick path above is small enough to inline into the diffusion.
    COLOURS_NOINLINE std::uint32_t learn(size_t cell, int r, int g, int b) {
        return m_cells[cell] = cellFrom(fillCell(r, g, b));
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
    std::vector<int> m_scaled; // each entry's samples times 16, and a fourth unused
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
// take nor pass on error; nor, with KeepLarge, do pixels of a large colour,
// which take its entry whatever error reaches them, so a flat area stays flat.
template <typename Rows, int Step, bool KeepLarge>
void diffuseRow(const std::uint8_t* pixel, const int* error, int* below, std::uint8_t* out,
                int width, NearestColour& nearest, std::uint8_t transparent,
                const LargeColourIndex& large) {
    int ahead[3] = {0, 0, 0};  // 7/16 of the last pixel's error
    int open[3] = {0, 0, 0};   // what the pixel below the last one has so far
    int beyond[3] = {0, 0, 0}; // what the pixel below and ahead of it has so far
    for (int i = 0; i < width;
         ++i, pixel += Rows::kStep * Step, error += 3 * Step, below += 3 * Step, out += Step) {
        int e[3] = {0, 0, 0};
        if (Rows::transparent(pixel)) {
            *out = transparent;
        } else if (const int kept = KeepLarge ? large.find(packed(pixel)) : -1; kept >= 0) {
            *out = std::uint8_t(kept);
        } else {
            const int red = std::clamp(pixel[0] + ((error[0] + ahead[0] + 8) >> 4), 0, 255);
            const int green = std::clamp(pixel[1] + ((error[1] + ahead[1] + 8) >> 4), 0, 255);
            const int blue = std::clamp(pixel[2] + ((error[2] + ahead[2] + 8) >> 4), 0, 255);
            const NearestColour::Choice chosen = nearest.find(red, green, blue);
            *out = std::uint8_t(chosen.entry);
            for (int c = 0; c < 3; ++c)
                e[c] = chosen.past[c] >> 4; // exact: a multiple of 16
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
// error does not pile up on one side. Errors are kept in sixteenths. Only
// the entries of `palette` are searched; the large colours' entries follow.
template <bool KeepLarge, typename Rows>
void diffuse(int width, int height, Rows& rows, const std::vector<std::uint8_t>& palette,
             const LargeColourIndex& large, int transparentIndex, std::uint8_t* indexes,
             const Checkpoint& checkpoint) {
    NearestColour nearest(palette);
    // Three samples a pixel, with a pixel of margin on both sides.
    std::vector<int> thisRow(size_t(width + 2) * 3), nextRow(thisRow.size());
    const auto transparent = std::uint8_t(transparentIndex);
    for (int y = 0; y < height; ++y) {
        checkNow(checkpoint, y);
        const std::uint8_t* row = rows.row(y);
        std::uint8_t* out = indexes + size_t(y) * size_t(width);
        if (y % 2 == 0)
            diffuseRow<Rows, 1, KeepLarge>(row, thisRow.data() + 3, nextRow.data() + 3, out, width,
                                           nearest, transparent, large);
        else
            diffuseRow<Rows, -1, KeepLarge>(row + size_t(width - 1) * Rows::kStep,
                                            thisRow.data() + size_t(width) * 3,
                                            nextRow.data() + size_t(width) * 3, out + width - 1,
                                            width, nearest, transparent, large);
        std::swap(thisRow, nextRow);
    }
}

// Takes a large colour's pixels out of the histogram, so the palette is
// chosen for the other pixels.
void leaveOut(Histogram& histogram, const LargeColour& large) {
    const int red = int(large.colour >> 16), green = int(large.colour >> 8 & 0xFF),
              blue = int(large.colour & 0xFF);
    HistogramCell& cell = histogram.cells[size_t(fineCellOf(red, green, blue))];
    cell.count -= large.histogram;
    cell.red -= std::uint64_t(large.histogram) * std::uint64_t(red);
    cell.green -= std::uint64_t(large.histogram) * std::uint64_t(green);
    cell.blue -= std::uint64_t(large.histogram) * std::uint64_t(blue);
    if (large.colour == 0)
        histogram.hasBlack = false;
    if (large.colour == 0xFFFFFF)
        histogram.hasWhite = false;
}

// No other entry shows a large colour, so the colour covers as many pixels
// in the GIF as in the picture: an entry that would is moved one level of
// green (or a few, past other large colours), which no eye sees.
void keepApartFrom(const std::vector<LargeColour>& large, std::vector<std::uint8_t>& palette) {
    auto isLarge = [&large](std::uint32_t colour) {
        return std::any_of(large.begin(), large.end(),
                           [colour](const LargeColour& l) { return l.colour == colour; });
    };
    for (size_t at = 0; at < palette.size(); at += 3) {
        const int step = palette[at + 1] < 128 ? 1 : -1;
        while (isLarge(packed(palette.data() + at)))
            palette[at + 1] = std::uint8_t(palette[at + 1] + step);
    }
}

template <typename Rows>
Reduction reduce(int width, int height, Rows& rows, std::uint8_t* indexes,
                 const Checkpoint& checkpoint, bool opaque) {
    // One pass: the exact colours while there are few, the histogram, the
    // buckets of exact colours on every row read, and whether any pixel is
    // transparent. Once a big picture is known to have too many colours,
    // every other pixel of every other row is enough for the histogram;
    // transparency is still looked for everywhere.
    // The distinct opaque colours in the order they first appear, counted
    // until there are more than a GIF holds.
    ColourSet exact(kMaxColours);
    bool tooMany = false;
    Histogram histogram;
    ColourBuckets buckets;
    std::int64_t bucketed = 0; // pixels on the rows read, opaque or not
    HistogramSample sample{height};
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
    constexpr int step = Rows::kStep;
    for (int y = 0; y < height; ++y) {
        checkNow(checkpoint, y);
        if (big && tooMany && sample.sampledFrom == height)
            sample.sampledFrom = y;
        if (big && tooMany && opaque && y % 2 != 0)
            continue; // a row the histogram skips, with no transparency to look for
        const std::uint8_t* row = rows.row(y);
        buckets.countRow<Rows>(row, width);
        bucketed += width;
        if (big && tooMany) {
            for (int x = 0; x < width && Rows::kMayBeTransparent; ++x)
                transparent = transparent || Rows::transparent(row + size_t(x) * step);
            for (int x = 0; x < width && y % 2 == 0; x += 2)
                if (!Rows::transparent(row + size_t(x) * step))
                    count(row + size_t(x) * step);
            continue;
        }
        std::uint32_t previous = 0xFFFFFFFFu;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = row + size_t(x) * step;
            if (Rows::transparent(p)) {
                transparent = true;
                continue;
            }
            const std::uint32_t colour = packed(p);
            if (colour != previous && !tooMany) // runs of one colour are common
                tooMany = exact.add(colour) < 0;
            previous = colour;
            count(p);
        }
    }
    const int opaqueSlots = transparent ? kMaxColours - 1 : kMaxColours;

    Reduction reduction;
    if (!tooMany && exact.size() <= opaqueSlots) {
        for (const std::uint32_t colour : exact.colours())
            for (const int shift : {16, 8, 0})
                reduction.palette.push_back(std::uint8_t(colour >> shift));
        if (transparent) {
            reduction.transparentIndex = exact.size();
            reduction.palette.insert(reduction.palette.end(), {0, 0, 0});
        }
        for (int y = 0; y < height; ++y) {
            checkNow(checkpoint, y);
            const std::uint8_t* row = rows.row(y);
            std::uint8_t* out = indexes + size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = row + size_t(x) * step;
                out[x] = std::uint8_t(Rows::transparent(p) ? reduction.transparentIndex
                                                           : exact.numberOf(packed(p)));
            }
        }
        return reduction;
    }

    // The large colours take entries of their own, and only their pixels take
    // them: the rest of the palette is chosen for the other pixels.
    const std::vector<LargeColour> large =
        largeColours(buckets, bucketed, width, height, sample, rows, checkpoint);
    std::vector<std::uint32_t> largeList;
    for (const LargeColour& colour : large) {
        leaveOut(histogram, colour);
        largeList.push_back(colour.colour);
    }
    std::vector<std::uint8_t> opaqueColours =
        choosePalette(histogram, opaqueSlots - int(large.size()), largeList);
    // Not seen: the colours counted before the histogram was sampled were
    // more than a palette holds, so some of them are not large.
    if (opaqueColours.empty())
        opaqueColours = {0, 0, 0};
    keepApartFrom(large, opaqueColours);
    reduction.palette = opaqueColours;
    for (const LargeColour& colour : large)
        for (const int shift : {16, 8, 0})
            reduction.palette.push_back(std::uint8_t(colour.colour >> shift));
    if (transparent) {
        reduction.transparentIndex = int(reduction.palette.size() / 3);
        reduction.palette.insert(reduction.palette.end(), {0, 0, 0});
    }
    const LargeColourIndex largeIndex(large, int(opaqueColours.size() / 3));
    if (large.empty())
        diffuse<false>(width, height, rows, opaqueColours, largeIndex, reduction.transparentIndex,
                       indexes, checkpoint);
    else
        diffuse<true>(width, height, rows, opaqueColours, largeIndex, reduction.transparentIndex,
                      indexes, checkpoint);
    return reduction;
}

} // namespace

Reduction reduceColours(int width, int height, const RowReader& rows, std::uint8_t* indexes,
                        const Checkpoint& checkpoint, bool opaque) {
    ReaderRows source(rows, width);
    return reduce(width, height, source, indexes, checkpoint, opaque);
}

Reduction reduceColours(int width, int height, const RgbRows& rows, std::uint8_t* indexes,
                        const Checkpoint& checkpoint) {
    InPlaceRgbRows source(rows);
    return reduce(width, height, source, indexes, checkpoint, true);
}

} // namespace colours
