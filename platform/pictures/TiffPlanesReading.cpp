// SPDX-License-Identifier: MIT
#include "TiffPlanesReading.h"

#include "PlatformError.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace fastcodec {
namespace {

// The file is read from memory behind libtiff's client I/O.
struct MemoryFile {
    const QByteArray& data;
    qint64 position = 0;
    QByteArray error;
};

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    const qint64 n = std::clamp<qint64>(f->data.size() - f->position, 0, size);
    if (n > 0)
        std::memcpy(buffer, f->data.constData() + f->position, size_t(n));
    f->position += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = f->position;
    else if (whence == SEEK_END)
        base = f->data.size();
    f->position = base + qint64(offset);
    return toff_t(f->position);
}

int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t h) {
    return toff_t(static_cast<MemoryFile*>(h)->data.size());
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* f = static_cast<MemoryFile*>(user);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (f->error.isEmpty())
        f->error = QByteArray(module ? module : "TIFF") + ": " + text;
    return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

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
    MemoryFile file{bytes, 0, {}};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &file);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("memory", "rm", &file, readProc,
                                                             writeProc, seekProc, closeProc,
                                                             sizeProc, mapProc, unmapProc, options));
    TIFFOpenOptionsFree(options);
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
    picture.channels = planes->alpha                   ? Picture::Channels::Rgba
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

} // namespace fastcodec
