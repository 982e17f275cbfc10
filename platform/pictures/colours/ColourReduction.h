// SPDX-License-Identifier: MIT
// Reducing an 8-bit picture to a palette of at most 256 colours, as a GIF
// holds it. Pictures with few enough colours keep them exactly; others get a
// palette chosen from the picture (Wu's variance cuts on a coarse histogram,
// refined by a few k-means passes) and Floyd-Steinberg error diffusion. A
// colour on at least 1 % of the pixels (a graphic's flat areas) keeps an
// entry of its own that only its pixels take, undiffused, so the area stays
// flat and the colour covers as many pixels as before. Plain C++ with no
// shared state: the same pixels give the same bytes on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace colours {

// Fills `rgba` with row y as 8-bit red, green, blue, alpha; alpha is 0 for a
// pixel that stays transparent and 255 for every other one. Rows are asked
// for in order, each several times, so a reader converts on the fly instead
// of holding a converted copy of the whole picture.
using RowReader = std::function<void(int y, std::uint8_t* rgba)>;

// Rows of 8-bit red, green, blue with no alpha, `stride` bytes apart, the
// first at `first`: read where they lie, with no copy of any row.
struct RgbRows {
    const std::uint8_t* first = nullptr;
    std::ptrdiff_t stride = 0;
};

// Called now and then during the long passes; throws to stop the work.
using Checkpoint = std::function<void()>;

struct Reduction {
    std::vector<std::uint8_t> palette; // red, green, blue: 1 to 256 colours
    // The entry transparent pixels take (black, as ImageMagick's writer
    // makes it, so readers that show its colour agree), or -1.
    int transparentIndex = -1;
};

// Reduces the picture to at most 256 colours, one entry of them taken by
// transparency when a pixel is transparent. Writes one palette index a pixel
// into `indexes` (width x height bytes, rows top to bottom). `opaque` says the
// picture has no alpha at all, so a big one need not read every row to look
// for transparent pixels before its colours are chosen.
Reduction reduceColours(int width, int height, const RowReader& rows, std::uint8_t* indexes,
                        const Checkpoint& checkpoint = {}, bool opaque = false);
// The same for an opaque picture's packed rows: the same palette and indexes
// as a reader that gives those rows with alpha 255.
Reduction reduceColours(int width, int height, const RgbRows& rows, std::uint8_t* indexes,
                        const Checkpoint& checkpoint = {});

} // namespace colours
