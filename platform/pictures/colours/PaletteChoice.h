// SPDX-License-Identifier: MIT
// Choosing a palette for a picture from a histogram of its colours: Wu's
// variance cuts give a first palette, k-means passes over the histogram's
// cells refine it. Part of ColourReduction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace colours {

// The histogram keeps 6 bits of each channel: fine enough for k-means to
// place colours within a few levels, small enough (2^18 cells) to stay cheap.
constexpr int kFineBits = 6;
constexpr int kFineSide = 1 << kFineBits;

struct HistogramCell {
    std::uint64_t count = 0;
    std::uint64_t red = 0; // sums of the pixels' 8-bit samples
    std::uint64_t green = 0;
    std::uint64_t blue = 0;
};

inline int fineCellOf(int red, int green, int blue) {
    constexpr int drop = 8 - kFineBits;
    return ((red >> drop) << (2 * kFineBits)) | ((green >> drop) << kFineBits) | (blue >> drop);
}

struct Histogram {
    std::vector<HistogramCell> cells =
        std::vector<HistogramCell>(std::size_t(1) << (3 * kFineBits));
    bool hasBlack = false; // a pixel is exactly (0, 0, 0)
    bool hasWhite = false; // a pixel is exactly (255, 255, 255)
};

// Up to `maxColours` colours (red, green, blue bytes) for the pixels counted;
// none when no pixel was.
// Pure black and pure white are in it exactly when the picture has them, so
// the deepest shadows and brightest highlights keep their colour.
// `largeColours` (0xRRGGBB) have entries of their own beside this palette and
// their pixels are left out of the histogram; the palette is then chosen for
// the picture's other colours: its edges and gradients around flat areas.
std::vector<std::uint8_t> choosePalette(const Histogram& histogram, int maxColours,
                                        const std::vector<std::uint32_t>& largeColours = {});

} // namespace colours
