// SPDX-License-Identifier: MIT
// Reworking pixels for the targets that need it: gray from RGB, alpha
// blended onto white, 16-bit samples reduced to 8.
#pragma once

#include "Picture.h"

#include <limits>

// The gray samples of an RGB picture whose pixels are all gray.
Picture grayOf(const Picture& picture);

// The picture as 8-bit gray or RGB: alpha blended onto white and 16-bit
// samples reduced, with the rounding ImageMagick uses when it removes alpha
// against a white background at 16 bits and then writes 8 bits.
Picture flattenedEightBit(const Picture& picture);

// GIF has one fully transparent palette entry and nothing in between: fully
// transparent pixels stay transparent (as one colour, white), partly
// transparent ones are blended onto white and become opaque.
void prepareGifAlpha(Picture& picture);

// A sample of a pixel with the given alpha blended onto white, rounded to
// the nearest level of its own depth (8 or 16 bits): the one blend of every
// target that drops partial transparency. At 16 bits and then reduced by
// eightBits, it is ImageMagick's removal of alpha against white.
template <typename Sample> constexpr Sample blendOntoWhite(quint64 sample, quint64 alpha) {
    constexpr quint64 max = std::numeric_limits<Sample>::max();
    return Sample((sample * alpha + max * (max - alpha) + max / 2) / max);
}

// ImageMagick's reduction of a 16-bit sample to 8 bits (its Q16 rounding).
inline quint8 eightBits(quint16 v) {
    const quint32 q = quint32(v) + 128u;
    return quint8((q - (q >> 8)) >> 8);
}
