// SPDX-License-Identifier: MIT
#include "colours/PaletteChoice.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace colours {
namespace {

// ---- Wu's variance cuts -------------------------------------------------------
// On the histogram's cells: boxes of the colour cube are split where the split
// removes the most squared error, the box with the largest error first.

constexpr int kWuSide = kFineSide + 1; // plus the zero plane of the sums

inline int wuAt(int r, int g, int b) {
    return (r * kWuSide + g) * kWuSide + b;
}

// Cumulative moments: each entry sums every cell at or below it.
struct Moments {
    std::vector<double> weight, red, green, blue, squares;
    Moments()
        : weight(kWuSide * kWuSide * kWuSide)
        , red(weight.size())
        , green(weight.size())
        , blue(weight.size())
        , squares(weight.size()) {}
};

struct Box {
    int lower[3]; // exclusive
    int upper[3]; // inclusive
};

struct BoxSums {
    double weight = 0, red = 0, green = 0, blue = 0, squares = 0;
    double colourEnergy() const { return (red * red + green * green + blue * blue) / weight; }
    double variance() const { return weight > 0 ? squares - colourEnergy() : 0; }
};

double volume(const Box& box, const std::vector<double>& m) {
    const int r0 = box.lower[0], r1 = box.upper[0];
    const int g0 = box.lower[1], g1 = box.upper[1];
    const int b0 = box.lower[2], b1 = box.upper[2];
    return m[wuAt(r1, g1, b1)] - m[wuAt(r1, g1, b0)] - m[wuAt(r1, g0, b1)] + m[wuAt(r1, g0, b0)] -
           m[wuAt(r0, g1, b1)] + m[wuAt(r0, g1, b0)] + m[wuAt(r0, g0, b1)] - m[wuAt(r0, g0, b0)];
}

BoxSums sumsOf(const Box& box, const Moments& m) {
    return {volume(box, m.weight), volume(box, m.red), volume(box, m.green), volume(box, m.blue),
            volume(box, m.squares)};
}

Moments momentsOf(const Histogram& histogram) {
    Moments m;
    for (int r = 0; r < kFineSide; ++r)
        for (int g = 0; g < kFineSide; ++g)
            for (int b = 0; b < kFineSide; ++b) {
                const HistogramCell& cell =
                    histogram.cells[size_t((r << (2 * kFineBits)) | (g << kFineBits) | b)];
                if (cell.count == 0)
                    continue;
                const int at = wuAt(r + 1, g + 1, b + 1);
                const double sr = double(cell.red), sg = double(cell.green), sb = double(cell.blue),
                             n = double(cell.count);
                m.weight[at] += n;
                m.red[at] += sr;
                m.green[at] += sg;
                m.blue[at] += sb;
                // The spread within a cell is left out: it is a few levels at most.
                m.squares[at] += (sr * sr + sg * sg + sb * sb) / n;
            }
    for (std::vector<double>* v : {&m.weight, &m.red, &m.green, &m.blue, &m.squares}) {
        std::vector<double>& a = *v;
        for (int r = 1; r < kWuSide; ++r)
            for (int g = 1; g < kWuSide; ++g)
                for (int b = 1; b < kWuSide; ++b)
                    a[wuAt(r, g, b)] += a[wuAt(r - 1, g, b)] + a[wuAt(r, g - 1, b)] +
                                        a[wuAt(r, g, b - 1)] - a[wuAt(r - 1, g - 1, b)] -
                                        a[wuAt(r - 1, g, b - 1)] - a[wuAt(r, g - 1, b - 1)] +
                                        a[wuAt(r - 1, g - 1, b - 1)];
    }
    return m;
}

// Splits the box where the two halves keep the most colour energy; false when
// it holds a single cell or all its pixels lie in one plane of it.
bool cut(Box& box, Box& other, const Moments& m) {
    const BoxSums whole = sumsOf(box, m);
    double best = -1;
    int bestAxis = -1;
    int bestAt = 0;
    for (int axis = 0; axis < 3; ++axis)
        for (int at = box.lower[axis] + 1; at < box.upper[axis]; ++at) {
            Box half = box;
            half.upper[axis] = at;
            const BoxSums low = sumsOf(half, m);
            const BoxSums high{whole.weight - low.weight, whole.red - low.red,
                               whole.green - low.green, whole.blue - low.blue, 0};
            if (low.weight <= 0 || high.weight <= 0)
                continue;
            const double score = low.colourEnergy() + high.colourEnergy();
            if (score > best) {
                best = score;
                bestAxis = axis;
                bestAt = at;
            }
        }
    if (bestAxis < 0)
        return false;
    other = box;
    box.upper[bestAxis] = bestAt;
    other.lower[bestAxis] = bestAt;
    return true;
}

struct Centre {
    double red = 0, green = 0, blue = 0;
    bool pinned = false; // kept where it is by the refinement
};

std::vector<Centre> wuCentres(const Histogram& histogram, int count) {
    const Moments m = momentsOf(histogram);
    std::vector<Box> boxes{Box{{0, 0, 0}, {kFineSide, kFineSide, kFineSide}}};
    std::vector<double> variances{sumsOf(boxes[0], m).variance()};
    while (int(boxes.size()) < count) {
        const auto widest = std::max_element(variances.begin(), variances.end());
        if (*widest <= 0)
            break;
        const size_t at = size_t(widest - variances.begin());
        Box other{};
        if (!cut(boxes[at], other, m)) {
            variances[at] = 0;
            continue;
        }
        boxes.push_back(other);
        variances[at] = sumsOf(boxes[at], m).variance();
        variances.push_back(sumsOf(other, m).variance());
    }
    std::vector<Centre> centres;
    for (const Box& box : boxes) {
        const BoxSums s = sumsOf(box, m);
        if (s.weight > 0)
            centres.push_back({s.red / s.weight, s.green / s.weight, s.blue / s.weight, false});
    }
    return centres;
}

// ---- k-means over the histogram's cells -------------------------------------------

struct Point {
    float red, green, blue, weight;
};

// Where unused search lanes sit: its squared distance to any colour is
// infinite, which orders above every real distance.
constexpr float kFar = std::numeric_limits<float>::infinity();

std::vector<Point> pointsOf(const Histogram& histogram) {
    std::vector<Point> points;
    for (const HistogramCell& cell : histogram.cells)
        if (cell.count > 0) {
            const double n = double(cell.count);
            points.push_back({float(double(cell.red) / n), float(double(cell.green) / n),
                              float(double(cell.blue) / n), float(n)});
        }
    return points;
}

// Each point goes to its nearest centre (the first of equals), each free
// centre moves to the mean of its points. A centre that got no point takes the
// point that is worst served (the largest weighted squared distance), so no
// palette entry is wasted.
void refine(std::vector<Centre>& centres, const std::vector<Point>& points, int passes) {
    const size_t k = centres.size();
    // The search runs over a fixed number of lanes, so the compiler works on
    // several centres at once with no leftover loop; lanes past the last
    // centre are infinitely far and never nearest.
    constexpr size_t kLanes = 256;
    std::vector<float> cr(kLanes, kFar), cg(kLanes, kFar), cb(kLanes, kFar);
    std::vector<int> distances(kLanes);
    std::vector<int> nearest(points.size());
    std::vector<float> errors(points.size());
    // Hamerly's bounds: the distance to the assigned centre is at most
    // upper, to any other centre at least lower.
    std::vector<float> upper(points.size()), lower(points.size());
    std::vector<std::array<float, 3>> previous(k);
    std::vector<float> moves(k);
    std::vector<size_t> jumped; // centres that took a new point in the last pass
    for (int pass = 0; pass < passes; ++pass) {
        for (size_t c = 0; c < k; ++c) {
            cr[c] = float(centres[c].red);
            cg[c] = float(centres[c].green);
            cb[c] = float(centres[c].blue);
        }
        // How far each centre moved in the last pass: a point whose centre
        // is still nearer than any other could have come needs no search.
        // Centres that jumped to a new place are looked at one by one.
        float farthestMove = 0;
        for (size_t c = 0; c < k && pass > 0; ++c) {
            const float dr = cr[c] - previous[c][0], dg = cg[c] - previous[c][1],
                        db = cb[c] - previous[c][2];
            moves[c] = std::sqrt(dr * dr + dg * dg + db * db);
            if (std::find(jumped.begin(), jumped.end(), c) == jumped.end())
                farthestMove = std::max(farthestMove, moves[c]);
        }
        std::vector<std::array<double, 4>> sums(k, {0, 0, 0, 0});
        for (size_t p = 0; p < points.size(); ++p) {
            const Point& point = points[p];
            bool searched = true;
            if (pass > 0) {
                upper[p] += moves[size_t(nearest[p])];
                lower[p] -= farthestMove;
                searched = upper[p] >= lower[p];
                for (size_t i = 0; i < jumped.size() && !searched; ++i) {
                    const size_t c = jumped[i];
                    const float dr = cr[c] - point.red, dg = cg[c] - point.green,
                                db = cb[c] - point.blue;
                    searched = dr * dr + dg * dg + db * db <= upper[p] * upper[p];
                }
            }
            if (searched) {
                // Squared distances of non-negative floats order as their bit
                // patterns do, so the minimums below are integer ones, which
                // the compiler does several at a time.
                const float* __restrict red = cr.data();
                const float* __restrict green = cg.data();
                const float* __restrict blue = cb.data();
                int* __restrict d = distances.data();
                for (size_t c = 0; c < kLanes; ++c) {
                    const float dr = red[c] - point.red, dg = green[c] - point.green,
                                db = blue[c] - point.blue;
                    d[c] = std::bit_cast<int>(dr * dr + dg * dg + db * db);
                }
                int bestDistance = d[0];
                for (size_t c = 1; c < kLanes; ++c)
                    bestDistance = d[c] < bestDistance ? d[c] : bestDistance;
                const size_t best = size_t(std::find(d, d + k, bestDistance) - d);
                d[best] = std::numeric_limits<int>::max();
                int secondDistance = d[0];
                for (size_t c = 1; c < kLanes; ++c)
                    secondDistance = d[c] < secondDistance ? d[c] : secondDistance;
                nearest[p] = int(best);
                upper[p] = std::sqrt(std::bit_cast<float>(bestDistance));
                lower[p] = std::sqrt(std::bit_cast<float>(secondDistance));
            }
            const size_t best = size_t(nearest[p]);
            errors[p] = upper[p] * upper[p] * point.weight;
            std::array<double, 4>& s = sums[best];
            s[0] += double(point.red) * point.weight;
            s[1] += double(point.green) * point.weight;
            s[2] += double(point.blue) * point.weight;
            s[3] += point.weight;
        }
        for (size_t c = 0; c < k; ++c)
            previous[c] = {cr[c], cg[c], cb[c]};
        std::vector<size_t> worstFirst;
        jumped.clear();
        for (size_t c = 0; c < k; ++c) {
            if (centres[c].pinned)
                continue;
            if (sums[c][3] > 0) {
                centres[c].red = sums[c][0] / sums[c][3];
                centres[c].green = sums[c][1] / sums[c][3];
                centres[c].blue = sums[c][2] / sums[c][3];
                continue;
            }
            if (worstFirst.empty()) {
                worstFirst.resize(points.size());
                for (size_t p = 0; p < points.size(); ++p)
                    worstFirst[p] = p;
                std::stable_sort(worstFirst.begin(), worstFirst.end(),
                                 [&](size_t a, size_t b) { return errors[a] > errors[b]; });
            }
            jumped.push_back(c);
            const size_t taken = worstFirst.front();
            worstFirst.erase(worstFirst.begin());
            errors[taken] = 0;
            centres[c].red = points[taken].red;
            centres[c].green = points[taken].green;
            centres[c].blue = points[taken].blue;
            if (worstFirst.empty())
                worstFirst.push_back(taken); // more empty centres than points: share it
        }
    }
}

// Error diffusion can only make colours that lie between palette entries; the
// mean of a cluster lies inside it, so k-means leaves the picture's most
// saturated, brightest and darkest colours outside the palette's reach and
// their error piles up into blotches. Entries on the palette's edge (away from
// the mean of their nearest neighbours) move outward by that distance; inner
// entries, whose neighbours surround them, hardly move. Entries from
// `movable` on are neighbours only, and no entry moves farther than
// `farthest` levels.
void spreadTowardsEdges(std::vector<Centre>& centres, size_t movable, double farthest) {
    // Tuned on photos, a sky gradient and flat colours with noise: more
    // spread helps photos and hurts the flat colours' clusters.
    constexpr double kSpread = 0.7;
    constexpr size_t kNeighbours = 12;
    if (centres.size() <= kNeighbours)
        return;
    std::vector<Centre> moved = centres;
    std::vector<std::pair<double, size_t>> distances;
    for (size_t i = 0; i < movable; ++i) {
        if (centres[i].pinned)
            continue;
        distances.clear();
        for (size_t j = 0; j < centres.size(); ++j) {
            const double dr = centres[j].red - centres[i].red;
            const double dg = centres[j].green - centres[i].green;
            const double db = centres[j].blue - centres[i].blue;
            if (j != i)
                distances.push_back({dr * dr + dg * dg + db * db, j});
        }
        std::partial_sort(distances.begin(), distances.begin() + long(kNeighbours),
                          distances.end());
        double mean[3] = {0, 0, 0};
        for (size_t n = 0; n < kNeighbours; ++n) {
            const Centre& neighbour = centres[distances[n].second];
            mean[0] += neighbour.red / double(kNeighbours);
            mean[1] += neighbour.green / double(kNeighbours);
            mean[2] += neighbour.blue / double(kNeighbours);
        }
        double move[3] = {kSpread * (centres[i].red - mean[0]),
                          kSpread * (centres[i].green - mean[1]),
                          kSpread * (centres[i].blue - mean[2])};
        const double length = std::sqrt(move[0] * move[0] + move[1] * move[1] + move[2] * move[2]);
        if (length > farthest)
            for (double& m : move)
                m *= farthest / length;
        moved[i].red = std::clamp(centres[i].red + move[0], 0.0, 255.0);
        moved[i].green = std::clamp(centres[i].green + move[1], 0.0, 255.0);
        moved[i].blue = std::clamp(centres[i].blue + move[2], 0.0, 255.0);
    }
    moved.resize(movable);
    centres = std::move(moved);
}

Centre centreOf(std::uint32_t colour) {
    return {double(colour >> 16), double(colour >> 8 & 0xFF), double(colour & 0xFF), false};
}

std::uint8_t toByte(double value) {
    return std::uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

} // namespace

std::vector<std::uint8_t> choosePalette(const Histogram& histogram, int maxColours,
                                        const std::vector<std::uint32_t>& largeColours) {
    maxColours = std::clamp(maxColours, 1, 256); // as many as the search has lanes
    const std::vector<Point> points = pointsOf(histogram);
    if (points.empty())
        return {};
    std::vector<Centre> pinned;
    if (histogram.hasBlack && maxColours > 2)
        pinned.push_back({0, 0, 0, true});
    if (histogram.hasWhite && maxColours > 2)
        pinned.push_back({255, 255, 255, true});
    // A gradient that runs into a flat area needs entries near its colour,
    // which it cannot take: each large colour seeds an entry, which k-means
    // moves to the pixels around it or, if none are there, elsewhere.
    std::vector<Centre> seeds;
    for (const std::uint32_t colour : largeColours)
        if (int(seeds.size() + pinned.size()) + 1 < maxColours)
            seeds.push_back(centreOf(colour));
    const int boxes = std::max(1, maxColours - int(pinned.size() + seeds.size()));
    std::vector<Centre> centres = wuCentres(histogram, boxes);
    // Fewer boxes than colours when the picture's colours fill few cells (a
    // smooth gradient): the rest start empty and take the worst-served colours.
    while (centres.size() < size_t(boxes) && !centres.empty())
        centres.push_back(centres.front());
    centres.insert(centres.end(), seeds.begin(), seeds.end());
    centres.insert(centres.end(), pinned.begin(), pinned.end());
    refine(centres, points, 4);
    if (largeColours.empty()) {
        spreadTowardsEdges(centres, centres.size(), std::numeric_limits<double>::infinity());
    } else {
        // Around flat areas, entries serve their edges, small clusters whose
        // nearest entries may lie far off: an entry moves a few levels at
        // most, and the large colours, which bound the colours around them,
        // count among its neighbours.
        constexpr double kFarthestBesideFlatAreas = 8;
        const size_t own = centres.size();
        for (const std::uint32_t colour : largeColours)
            centres.push_back(centreOf(colour));
        spreadTowardsEdges(centres, own, kFarthestBesideFlatAreas);
    }
    std::vector<std::uint8_t> palette;
    for (const Centre& c : centres)
        for (double v : {c.red, c.green, c.blue})
            palette.push_back(toByte(v));
    return palette;
}

} // namespace colours
