// SPDX-License-Identifier: MIT
#include "pixels/PixelChecks.h"

#include "pixels/ColourSet.h"

namespace {

// Whether every pixel of an RGB(A) picture is gray (alpha aside).
template <typename Sample> bool allGray(const Picture& p) {
    const auto* s = reinterpret_cast<const Sample*>(p.pixels.constData());
    const qsizetype count = qsizetype(p.width) * p.height;
    const int step = p.channelCount();
    for (qsizetype i = 0; i < count; ++i, s += step)
        if (s[0] != s[1] || s[1] != s[2])
            return false;
    return true;
}

} // namespace

bool isAllGray(const Picture& p) {
    if (p.channels == Picture::Channels::Gray)
        return true;
    return p.bitsPerSample == 16 ? allGray<quint16>(p) : allGray<quint8>(p);
}

bool hasMoreColoursThan(const Picture& picture, int limit) {
    Q_ASSERT(picture.bitsPerSample == 8);
    ColourSet colours(limit);
    const int channels = picture.channelCount();
    const auto* p = reinterpret_cast<const uchar*>(picture.pixels.constData());
    const qsizetype count = qsizetype(picture.width) * picture.height;
    quint32 previous = 0;
    for (qsizetype i = 0; i < count; ++i, p += channels) {
        quint32 key = 0;
        for (int c = 0; c < channels; ++c)
            key = key << 8 | p[c];
        if (i > 0 && key == previous)
            continue; // runs of one colour are common
        previous = key;
        if (colours.add(key) < 0)
            return true;
    }
    return false;
}

bool hasPartialAlpha(const Picture& p) {
    const auto* s = reinterpret_cast<const uchar*>(p.pixels.constData()) + 3;
    const qsizetype count = qsizetype(p.width) * p.height;
    for (qsizetype i = 0; i < count; ++i, s += 4)
        if (*s != 0 && *s != 255)
            return true;
    return false;
}
