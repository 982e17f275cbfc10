// SPDX-License-Identifier: MIT
#include "tiff/TiffPlanesReading.h"

#include "PlatformError.h"
#include "tiff/TiffMemoryFile.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

namespace directcodec {
namespace {

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// The layout of the planes, or nothing when the general path is to read them.
struct Planes {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t colourSamples = 0; // 1 gray, 3 RGB
    bool alpha = false;
    bool premultiplied = false;
    bool minIsWhite = false;
};

std::optional<Planes> planesOf(TIFF* tiff) {
    uint16_t planar = PLANARCONFIG_CONTIG, photometric = 0, samples = 1, format = SAMPLEFORMAT_UINT;
    Planes planes;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &planes.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    if (planar != PLANARCONFIG_SEPARATE || TIFFIsTiled(tiff) || format != SAMPLEFORMAT_UINT ||
        (planes.bits != 8 && planes.bits != 16) ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &planes.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &planes.height))
        return std::nullopt;
    if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)
        planes.colourSamples = 1;
    else if (photometric == PHOTOMETRIC_RGB)
        planes.colourSamples = 3;
    else
        return std::nullopt;
    planes.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    if (samples != planes.colourSamples + 1 && samples != planes.colourSamples)
        return std::nullopt;
    if (samples > planes.colourSamples) {
        // An extra sample of unspecified meaning is taken for alpha, as the
        // general path takes it.
        uint16_t count = 0;
        uint16_t* kinds = nullptr;
        planes.alpha = true;
        if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count > 0)
            planes.premultiplied = kinds[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    return planes;
}

template <typename Sample> void finish(Picture& picture, const Planes& planes) {
    constexpr quint32 max = std::numeric_limits<Sample>::max();
    auto* p = reinterpret_cast<Sample*>(picture.pixels.data());
    const qsizetype count = qsizetype(picture.width) * picture.height;
    const int step = picture.channelCount();
    for (qsizetype i = 0; i < count; ++i, p += step) {
        if (planes.minIsWhite)
            p[0] = Sample(max - p[0]);
        if (planes.alpha && planes.premultiplied) {
            const quint32 a = p[3];
            for (int c = 0; c < planes.colourSamples; ++c)
                p[c] = a == 0 ? 0 : Sample(std::min<quint32>(max, (p[c] * max + a / 2) / a));
        }
        if (planes.alpha && planes.colourSamples == 1)
            p[1] = p[2] = p[0];
    }
}

} // namespace

std::optional<Picture> decodeTiffPlanes(const QByteArray& bytes, const SizeCheck& check,
                                        std::stop_token stop) {
    TiffMemoryFile file;
    file.data = bytes; // shared, not copied: reading never writes
    std::unique_ptr<TIFF, TiffCloser> tiff(openTiffInMemory(file, "rm"));
    if (!tiff)
        return std::nullopt; // the general path says what is wrong
    const std::optional<Planes> planes = planesOf(tiff.get());
    if (!planes)
        return std::nullopt;
    check(qint64(planes->width), qint64(planes->height));

    Picture picture;
    picture.width = int(planes->width);
    picture.height = int(planes->height);
    picture.bitsPerSample = planes->bits;
    picture.channels = planes->alpha                ? Picture::Channels::Rgba
                       : planes->colourSamples == 1 ? Picture::Channels::Gray
                                                    : Picture::Channels::Rgb;
    picture.pixels = QByteArray(picture.bytesPerLine() * picture.height, '\0');
    const int sampleBytes = planes->bits / 8;
    const int step = picture.channelCount() * sampleBytes;
    const int sampleCount = planes->colourSamples + (planes->alpha ? 1 : 0);
    QByteArray row(std::max<qsizetype>(TIFFScanlineSize(tiff.get()), picture.width * sampleBytes),
                   Qt::Uninitialized);
    for (int s = 0; s < sampleCount; ++s) {
        // Gray with alpha is held as RGBA: its alpha goes to the fourth channel.
        const int channel = s == planes->colourSamples ? picture.channelCount() - 1 : s;
        for (int y = 0; y < picture.height; ++y) {
            if (TIFFReadScanline(tiff.get(), row.data(), uint32_t(y), uint16_t(s)) != 1)
                throw CodecError(file.error.isEmpty() ? "libtiff could not read the picture"
                                                      : file.error.toStdString());
            char* out = picture.pixels.data() + qsizetype(y) * picture.bytesPerLine() +
                        channel * sampleBytes;
            const char* in = row.constData();
            for (int x = 0; x < picture.width; ++x, out += step, in += sampleBytes)
                std::memcpy(out, in, size_t(sampleBytes));
            if (y % 64 == 0)
                throwIfStopped(stop);
        }
    }
    if (picture.bitsPerSample == 16)
        finish<quint16>(picture, *planes);
    else
        finish<quint8>(picture, *planes);

    uint32_t iccSize = 0;
    void* icc = nullptr;
    // A gray profile cannot describe the RGBA that gray with alpha becomes.
    if (!(planes->alpha && planes->colourSamples == 1) &&
        TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0)
        picture.iccProfile = QByteArray(static_cast<const char*>(icc), qsizetype(iccSize));
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    return orientation > ORIENTATION_TOPLEFT && orientation <= ORIENTATION_LEFTBOT
               ? orient(picture, orientation)
               : picture;
}

} // namespace directcodec
