// SPDX-License-Identifier: MIT
#include "pixels/PictureKind.h"

#include "pixels/ColourSet.h"

#include <algorithm>
#include <array>

namespace {

quint32 packedColour(const uchar* p, Picture::Channels channels) {
    switch (channels) {
    case Picture::Channels::Gray:
        return 0xFF000000u | quint32(p[0]) << 16 | quint32(p[0]) << 8 | p[0];
    case Picture::Channels::Rgb:
        return 0xFF000000u | quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
    case Picture::Channels::Rgba:
        return quint32(p[3]) << 24 | quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
    }
    return 0;
}

bool isOpaqueGray(quint32 c) {
    const quint32 r = (c >> 16) & 0xFF;
    return (c >> 24) == 0xFF && r == ((c >> 8) & 0xFF) && r == (c & 0xFF);
}

} // namespace

int PictureKind::indexBits() const {
    const qsizetype n = colours.size();
    return n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
}

PictureKind pictureKindOf(const Picture& picture) {
    PictureKind kind;
    if (picture.bitsPerSample != 8)
        return kind;
    const qsizetype count = qsizetype(picture.width) * picture.height;
    const int step = picture.channelCount();
    QByteArray indexes(count, Qt::Uninitialized);
    ColourSet index(256);
    const auto* p = reinterpret_cast<const uchar*>(picture.pixels.constData());
    auto* out = reinterpret_cast<uchar*>(indexes.data());
    quint32 previous = 0;
    int previousIndex = -1;
    for (qsizetype i = 0; i < count; ++i, p += step) {
        const quint32 colour = packedColour(p, picture.channels);
        if (colour != previous || previousIndex < 0) { // runs of one colour are common
            previousIndex = index.add(colour);
            if (previousIndex < 0)
                return kind;
            previous = colour;
        }
        out[i] = uchar(previousIndex);
    }
    // Ascending colours, and the indexes renumbered to match.
    const std::vector<std::uint32_t>& colours = index.colours();
    QList<quint32> sorted(colours.cbegin(), colours.cend());
    std::sort(sorted.begin(), sorted.end());
    std::array<uchar, 256> renumber{};
    for (size_t i = 0; i < colours.size(); ++i)
        renumber[i] =
            uchar(std::lower_bound(sorted.cbegin(), sorted.cend(), colours[i]) - sorted.cbegin());
    for (qsizetype i = 0; i < count; ++i)
        out[i] = renumber[out[i]];

    const bool gray = std::all_of(sorted.cbegin(), sorted.cend(), isOpaqueGray);
    const bool bilevel = std::all_of(sorted.cbegin(), sorted.cend(), [](quint32 c) {
        return c == 0xFF000000u || c == 0xFFFFFFFFu;
    });
    if (bilevel) {
        // Always both entries, black first, so that a picture of one of them
        // still reads right where a reader takes 0 for black and 1 for white.
        if (sorted.size() == 1 && sorted[0] == 0xFFFFFFFFu)
            std::fill(out, out + count, uchar(1));
        sorted = {0xFF000000u, 0xFFFFFFFFu};
    }
    kind.kind = bilevel ? PictureKind::Kind::Bilevel
                : gray  ? PictureKind::Kind::Gray
                        : PictureKind::Kind::Palette;
    kind.colours = std::move(sorted);
    kind.indexes = std::move(indexes);
    return kind;
}

void packIndexes(const uchar* indexes, int count, int bits, uchar* out) {
    if (bits == 8) {
        std::copy(indexes, indexes + count, out);
        return;
    }
    const int perByte = 8 / bits;
    const qsizetype bytes = packedRowBytes(count, bits);
    std::fill(out, out + bytes, uchar(0));
    for (int x = 0; x < count; ++x)
        out[x / perByte] |= uchar(indexes[x] << (8 - bits * (x % perByte + 1)));
}
