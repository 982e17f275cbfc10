// SPDX-License-Identifier: MIT
#include "pixels/PixelConversions.h"

#include <cstring>
#include <limits>
#include <vector>

namespace {

template <typename Sample> void prepareGifAlpha(Sample* p, qsizetype pixelCount) {
    constexpr quint64 max = std::numeric_limits<Sample>::max();
    for (qsizetype i = 0; i < pixelCount; ++i, p += 4) {
        const quint64 alpha = p[3];
        if (alpha == 0) {
            p[0] = p[1] = p[2] = Sample(max);
        } else if (alpha != max) {
            for (int c = 0; c < 3; ++c)
                p[c] = blendOntoWhite<Sample>(p[c], alpha);
            p[3] = Sample(max);
        }
    }
}

} // namespace

Picture grayOf(const Picture& p) {
    Picture gray = p;
    gray.channels = Picture::Channels::Gray;
    const int bytes = p.bitsPerSample / 8;
    gray.pixels = QByteArray(gray.bytesPerLine() * gray.height, Qt::Uninitialized);
    const qsizetype count = qsizetype(p.width) * p.height;
    const char* src = p.pixels.constData();
    char* dst = gray.pixels.data();
    for (qsizetype i = 0; i < count; ++i)
        std::memcpy(dst + i * bytes, src + i * 3 * bytes, size_t(bytes));
    return gray;
}

Picture flattenedEightBit(const Picture& picture) {
    if (picture.bitsPerSample == 8 && !picture.hasAlpha())
        return picture;
    Picture out = picture;
    out.bitsPerSample = 8;
    out.channels = picture.hasAlpha() ? Picture::Channels::Rgb : picture.channels;
    const int inChannels = picture.channelCount();
    const int outChannels = out.channelCount();
    out.pixels = QByteArray(out.bytesPerLine() * out.height, Qt::Uninitialized);
    const qsizetype count = qsizetype(picture.width) * picture.height;
    auto* dst = reinterpret_cast<uchar*>(out.pixels.data());
    if (picture.bitsPerSample == 8) {
        // Every 8-bit sample and alpha pair, computed once.
        std::vector<uchar> table(256 * 256);
        for (int a = 0; a < 256; ++a)
            for (int v = 0; v < 256; ++v)
                table[size_t(a) * 256 + size_t(v)] = blendOntoWhite<quint8>(quint64(v), quint64(a));
        const auto* src = reinterpret_cast<const uchar*>(picture.pixels.constData());
        for (qsizetype i = 0; i < count; ++i, src += 4, dst += 3) {
            const uchar* row = table.data() + size_t(src[3]) * 256;
            dst[0] = row[src[0]];
            dst[1] = row[src[1]];
            dst[2] = row[src[2]];
        }
        return out;
    }
    const auto* src = reinterpret_cast<const quint16*>(picture.pixels.constData());
    for (qsizetype i = 0; i < count; ++i, src += inChannels, dst += outChannels) {
        if (picture.hasAlpha()) {
            for (int c = 0; c < 3; ++c)
                dst[c] = eightBits(blendOntoWhite<quint16>(src[c], src[3]));
        } else {
            for (int c = 0; c < outChannels; ++c)
                dst[c] = eightBits(src[c]);
        }
    }
    return out;
}

void prepareGifAlpha(Picture& picture) {
    if (!picture.hasAlpha())
        return;
    const qsizetype count = qsizetype(picture.width) * picture.height;
    if (picture.bitsPerSample == 16)
        prepareGifAlpha(reinterpret_cast<quint16*>(picture.pixels.data()), count);
    else
        prepareGifAlpha(reinterpret_cast<quint8*>(picture.pixels.data()), count);
}
