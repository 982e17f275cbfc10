// SPDX-License-Identifier: MIT
// TIFF through libtiff directly: uncompressed, strips of about a megabyte,
// alpha as unassociated extra sample, the colour profile in its tag, like the
// general path; the XMP and the IPTC's Photoshop resources in theirs.
#include "FastCodecs.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace fastcodec {
namespace {

// The file is built in memory behind libtiff's client I/O.
struct MemoryFile {
    QByteArray data;
    qint64 position = 0;
    QByteArray error;
};

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    const qint64 n = std::clamp<qint64>(f->data.size() - f->position, 0, size);
    std::memcpy(buffer, f->data.constData() + f->position, size_t(n));
    f->position += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t h, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    const qint64 end = f->position + size;
    if (end > f->data.size()) {
        if (end > f->data.capacity())
            f->data.reserve(std::max<qint64>(end, f->data.capacity() * 2));
        f->data.resize(end);
    }
    std::memcpy(f->data.data() + f->position, buffer, size_t(size));
    f->position = end;
    return size;
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

// Per-file handlers keep messages off stderr and off the global handlers
// ImageMagick installs.
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

} // namespace

QByteArray encodeTiff(const Picture& picture) {
    MemoryFile file;
    file.data.reserve(picture.pixels.size() / 2 + 4096);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &file);
    TIFF* tiff = TIFFClientOpenExt("memory", "w", &file, readProc, writeProc, seekProc, closeProc,
                                   sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!tiff)
        throw CodecError(file.error.isEmpty() ? "libtiff could not start a file"
                                              : file.error.toStdString());

    const int channels = picture.channelCount();
    const qsizetype line = picture.bytesPerLine();
    const int rowsPerStrip = int(std::clamp<qsizetype>(
        ((1 << 20) / std::max<qsizetype>(line, 1)) & ~qsizetype(15), 1, picture.height));
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(picture.height)) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(picture.bitsPerSample)) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels)) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                           uint16_t(channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE)) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip)) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    if (ok && picture.hasAlpha()) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    if (ok && !picture.iccProfile.isEmpty())
        ok = TIFFSetField(tiff, TIFFTAG_ICCPROFILE, uint32_t(picture.iccProfile.size()),
                          picture.iccProfile.constData());
    const PictureMetadata& blocks = picture.metadata;
    if (ok && !blocks.xmp.isEmpty())
        ok = TIFFSetField(tiff, TIFFTAG_XMLPACKET, uint32_t(blocks.xmp.size()),
                          blocks.xmp.constData());
    if (ok && !blocks.photoshop.isEmpty())
        ok = TIFFSetField(tiff, TIFFTAG_PHOTOSHOP, uint32_t(blocks.photoshop.size()),
                          blocks.photoshop.constData());
    // libtiff's predictor works on the buffer in place, so rows go through a copy.
    QByteArray row(line, Qt::Uninitialized);
    for (int y = 0; ok && y < picture.height; ++y) {
        std::memcpy(row.data(), picture.pixels.constData() + qsizetype(y) * line, size_t(line));
        ok = TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    if (!ok || !file.error.isEmpty())
        throw CodecError(file.error.isEmpty() ? "libtiff could not write the picture"
                                              : file.error.toStdString());
    return std::move(file.data);
}

} // namespace fastcodec
