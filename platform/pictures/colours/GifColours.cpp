// SPDX-License-Identifier: MIT
#include "colours/GifColours.h"

#include "PlatformError.h"
#include "colours/ColourReduction.h"
#include "pixels/PixelConversions.h"

#include <limits>

namespace {

// Row y of the picture as 8-bit RGBA with alpha 0 or 255, prepared as
// prepareGifAlpha prepares it, without a prepared copy of the whole picture.
template <typename Sample> void readRow(const Picture& picture, int y, std::uint8_t* rgba) {
    constexpr quint64 max = std::numeric_limits<Sample>::max();
    const int channels = picture.channelCount();
    const auto* s = reinterpret_cast<const Sample*>(picture.pixels.constData()) +
                    qsizetype(y) * picture.width * channels;
    auto toEight = [](quint64 v) {
        if constexpr (sizeof(Sample) == 1)
            return std::uint8_t(v);
        else
            return eightBits(quint16(v));
    };
    for (int x = 0; x < picture.width; ++x, s += channels, rgba += 4) {
        if (channels < 3) {
            rgba[0] = rgba[1] = rgba[2] = toEight(s[0]);
            rgba[3] = 255;
            continue;
        }
        const quint64 alpha = channels == 4 ? quint64(s[3]) : max;
        if (alpha == 0) {
            rgba[0] = rgba[1] = rgba[2] = 255;
            rgba[3] = 0;
            continue;
        }
        for (int c = 0; c < 3; ++c)
            rgba[c] = toEight(alpha == max ? quint64(s[c]) : blendOntoWhite<Sample>(s[c], alpha));
        rgba[3] = 255;
    }
}

} // namespace

PalettePicture reduceColoursForGif(const Picture& picture, const std::stop_token& stop) {
    PalettePicture reduced;
    reduced.width = picture.width;
    reduced.height = picture.height;
    reduced.indexes = QByteArray(qsizetype(picture.width) * picture.height, Qt::Uninitialized);
    auto* indexes = reinterpret_cast<std::uint8_t*>(reduced.indexes.data());
    const colours::Checkpoint checkpoint = [&stop] { throwIfStopped(stop); };
    colours::Reduction reduction;
    if (picture.bitsPerSample == 8 && picture.channelCount() == 3) {
        // The usual photo: its rows are read where they lie.
        const colours::RgbRows rows{
            reinterpret_cast<const std::uint8_t*>(picture.pixels.constData()),
            std::ptrdiff_t(picture.width) * 3};
        reduction =
            colours::reduceColours(picture.width, picture.height, rows, indexes, checkpoint);
    } else {
        const colours::RowReader rows = [&picture](int y, std::uint8_t* rgba) {
            if (picture.bitsPerSample == 16)
                readRow<quint16>(picture, y, rgba);
            else
                readRow<quint8>(picture, y, rgba);
        };
        reduction = colours::reduceColours(picture.width, picture.height, rows, indexes, checkpoint,
                                           !picture.hasAlpha());
    }
    reduced.palette = QByteArray(reinterpret_cast<const char*>(reduction.palette.data()),
                                 qsizetype(reduction.palette.size()));
    reduced.transparentIndex = reduction.transparentIndex;
    return reduced;
}
