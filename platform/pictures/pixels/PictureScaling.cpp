// SPDX-License-Identifier: MIT
#include "pixels/PictureScaling.h"

#include <algorithm>
#include <type_traits>
#include <vector>

namespace {
template <typename Sample> void averageInto(const Picture& source, Picture& target) {
    // Sums of 16-bit samples over a tall band could pass 32 bits.
    using Sum = std::conditional_t<sizeof(Sample) == 2, quint64, quint32>;
    const int channels = source.channelCount();
    const qsizetype sourceLine = qsizetype(source.width) * channels;
    const auto* samples = reinterpret_cast<const Sample*>(source.pixels.constData());
    const int shift = sizeof(Sample) == 2 ? 8 : 0;
    auto* out = reinterpret_cast<uchar*>(target.pixels.data());

    // Column spans are the same for every output row.
    std::vector<int> columnStart(size_t(target.width) + 1);
    for (int x = 0; x <= target.width; ++x)
        columnStart[size_t(x)] = int(qint64(x) * source.width / target.width);

    // Each band of source rows is first summed down every column, a plain
    // pass over whole rows that the compiler turns into vector adds, then
    // across each output pixel's columns.
    std::vector<Sum> columnSums(static_cast<size_t>(sourceLine));
    for (int y = 0; y < target.height; ++y) {
        const int rowBegin = int(qint64(y) * source.height / target.height);
        const int rowEnd =
            std::max(rowBegin + 1, int(qint64(y + 1) * source.height / target.height));
        std::fill(columnSums.begin(), columnSums.end(), Sum(0));
        for (int sy = rowBegin; sy < rowEnd; ++sy) {
            const Sample* row = samples + qsizetype(sy) * sourceLine;
            for (qsizetype i = 0; i < sourceLine; ++i)
                columnSums[size_t(i)] += row[i];
        }
        for (int x = 0; x < target.width; ++x) {
            const int begin = columnStart[size_t(x)];
            const int end = std::max(begin + 1, columnStart[size_t(x) + 1]);
            const quint64 count = quint64(end - begin) * quint64(rowEnd - rowBegin);
            for (int c = 0; c < channels; ++c) {
                quint64 sum = 0;
                for (int sx = begin; sx < end; ++sx)
                    sum += columnSums[size_t(sx) * channels + c];
                *out++ = uchar((sum / count) >> shift);
            }
        }
    }
}

} // namespace

PictureObject scaledToFit(const PictureObject& picture, int boxWidth, int boxHeight) {
    if (!picture || picture->width <= 0 || picture->height <= 0 || boxWidth <= 0 || boxHeight <= 0)
        return picture;
    if (picture->width <= boxWidth && picture->height <= boxHeight)
        return picture;

    auto scaled = std::make_shared<Picture>();
    const double factor =
        std::min(double(boxWidth) / picture->width, double(boxHeight) / picture->height);
    scaled->width = std::max(1, int(picture->width * factor + 0.5));
    scaled->height = std::max(1, int(picture->height * factor + 0.5));
    scaled->channels = picture->channels;
    scaled->bitsPerSample = 8;
    scaled->iccProfile = picture->iccProfile;
    scaled->pixels.resize(scaled->bytesPerLine() * scaled->height);
    if (picture->bitsPerSample == 16)
        averageInto<quint16>(*picture, *scaled);
    else
        averageInto<quint8>(*picture, *scaled);
    return scaled;
}
