// SPDX-License-Identifier: MIT
// How close a reduced picture looks to its source. Dithering noise makes a
// plain PSNR misleading, so both pictures are first blurred with a Gaussian of
// sigma 1 pixel, roughly what the eye averages at a normal viewing distance;
// then the PSNR of the whole, and of the worst 8 x 8 block, which catches
// banding in smooth skies that the whole would hide. For graphics, also
// whether each colour that covers a large share of the source comes back on
// exactly its pixels. Shared by the bench and the tests.
#pragma once

#include "Picture.h"
#include "pixels/PixelConversions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quality {

struct Score {
    double blurredPsnr = 0;    // dB; 99 for identical pictures
    double worstBlockPsnr = 0; // dB, of the worst 8 x 8 block
};

// The picture as 8-bit RGB samples, alpha composited onto white.
inline std::vector<float> rgbOnWhite(const Picture& picture) {
    const Picture flat = flattenedEightBit(picture);
    const qsizetype count = qsizetype(flat.width) * flat.height;
    const auto* s = reinterpret_cast<const uchar*>(flat.pixels.constData());
    std::vector<float> rgb(size_t(count) * 3);
    const bool gray = flat.channels == Picture::Channels::Gray;
    for (qsizetype i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[size_t(i * 3 + c)] = float(gray ? s[i] : s[i * 3 + c]);
    return rgb;
}

// A separable Gaussian of sigma 1 (radius 3), edges repeated. Both passes run
// along rows, so they stream through memory.
inline void blur(std::vector<float>& rgb, int width, int height) {
    constexpr int radius = 3;
    float kernel[2 * radius + 1];
    float total = 0;
    for (int i = -radius; i <= radius; ++i)
        total += kernel[i + radius] = std::exp(-0.5f * float(i * i));
    for (float& k : kernel)
        k /= total;
    const size_t rowSamples = size_t(width) * 3;
    // Across: each row padded with its edge pixels.
    std::vector<float> padded((size_t(width) + 2 * radius) * 3);
    for (int y = 0; y < height; ++y) {
        float* row = rgb.data() + size_t(y) * rowSamples;
        for (int x = -radius; x < width + radius; ++x)
            for (int c = 0; c < 3; ++c)
                padded[size_t(x + radius) * 3 + size_t(c)] =
                    row[size_t(std::clamp(x, 0, width - 1)) * 3 + size_t(c)];
        for (size_t i = 0; i < rowSamples; ++i) {
            float sum = 0;
            for (int k = 0; k <= 2 * radius; ++k)
                sum += kernel[k] * padded[i + size_t(k) * 3];
            row[i] = sum;
        }
    }
    // Down: each output row from the seven rows around it in a copy.
    const std::vector<float> source = rgb;
    for (int y = 0; y < height; ++y) {
        float* out = rgb.data() + size_t(y) * rowSamples;
        std::fill(out, out + rowSamples, 0.0f);
        for (int k = -radius; k <= radius; ++k) {
            const float* in = source.data() + size_t(std::clamp(y + k, 0, height - 1)) * rowSamples;
            const float weight = kernel[k + radius];
            for (size_t i = 0; i < rowSamples; ++i)
                out[i] += weight * in[i];
        }
    }
}

inline double psnr(double squaredError, double samples) {
    if (samples <= 0 || squaredError <= 0)
        return 99;
    return std::min(99.0, 10 * std::log10(255.0 * 255.0 * samples / squaredError));
}

// Both pictures must have the same size.
inline Score blurredScore(const Picture& source, const Picture& reduced) {
    const int width = source.width;
    const int height = source.height;
    std::vector<float> a = rgbOnWhite(source);
    std::vector<float> b = rgbOnWhite(reduced);
    blur(a, width, height);
    blur(b, width, height);
    const int blocksAcross = (width + 7) / 8;
    const int blocksDown = (height + 7) / 8;
    std::vector<double> blockError(size_t(blocksAcross) * size_t(blocksDown));
    double total = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double e = 0;
            for (int c = 0; c < 3; ++c) {
                const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c);
                const double d = double(a[at]) - double(b[at]);
                e += d * d;
            }
            total += e;
            blockError[size_t(y / 8) * size_t(blocksAcross) + size_t(x / 8)] += e;
        }
    Score score;
    score.blurredPsnr = psnr(total, 3.0 * width * height);
    score.worstBlockPsnr = 99;
    for (int by = 0; by < blocksDown; ++by)
        for (int bx = 0; bx < blocksAcross; ++bx) {
            const int w = std::min(8, width - bx * 8);
            const int h = std::min(8, height - by * 8);
            score.worstBlockPsnr = std::min(
                score.worstBlockPsnr,
                psnr(blockError[size_t(by) * size_t(blocksAcross) + size_t(bx)], 3.0 * w * h));
        }
    return score;
}

// The colours that cover at least 1 % of the source's pixels (partial alpha
// composited onto white; fully transparent pixels, which a GIF keeps
// transparent, are no colour), and how many of them the reduced picture shows
// on exactly the same pixels and on no other: the same colour, the same
// share, no noise.
struct LargeColours {
    int found = 0;
    int kept = 0;
};

inline bool isTransparent(const Picture& picture, size_t i) {
    if (!picture.hasAlpha())
        return false;
    if (picture.bitsPerSample == 8)
        return picture.pixels[qsizetype(i) * 4 + 3] == 0;
    return reinterpret_cast<const quint16*>(picture.pixels.constData())[i * 4 + 3] == 0;
}

inline LargeColours largeColoursKept(const Picture& source, const Picture& reduced) {
    const std::vector<float> a = rgbOnWhite(source);
    const std::vector<float> b = rgbOnWhite(reduced);
    const size_t count = a.size() / 3;
    auto colourAt = [](const std::vector<float>& rgb, size_t i) {
        return std::uint32_t(rgb[i * 3]) << 16 | std::uint32_t(rgb[i * 3 + 1]) << 8 |
               std::uint32_t(rgb[i * 3 + 2]);
    };
    // Every 24-bit colour's count, then, for the large ones, their number.
    std::vector<std::uint32_t> table(size_t(1) << 24);
    for (size_t i = 0; i < count; ++i)
        table[colourAt(a, i)] += isTransparent(source, i) ? 0 : 1;
    LargeColours result;
    for (std::uint32_t& entry : table)
        entry =
            entry > 0 && std::uint64_t(entry) * 100 >= count ? std::uint32_t(++result.found) : 0;
    std::vector<std::int64_t> missed(size_t(result.found) + 1), stray(missed.size());
    for (size_t i = 0; i < count; ++i) {
        const std::uint32_t was = colourAt(a, i), is = colourAt(b, i);
        const bool transparent = isTransparent(source, i);
        if (transparent != isTransparent(reduced, i) || (!transparent && was != is)) {
            missed[transparent ? 0 : table[was]] += 1;
            stray[isTransparent(reduced, i) ? 0 : table[is]] += 1;
        }
    }
    for (size_t n = 1; n < missed.size(); ++n)
        result.kept += missed[n] == 0 && stray[n] == 0 ? 1 : 0;
    return result;
}

} // namespace quality
