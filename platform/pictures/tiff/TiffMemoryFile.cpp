// SPDX-License-Identifier: MIT
#include "tiff/TiffMemoryFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace directcodec {
namespace {

TiffMemoryFile* fileOf(thandle_t h) {
    return static_cast<TiffMemoryFile*>(h);
}

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t size) {
    TiffMemoryFile* f = fileOf(h);
    const qint64 n = std::clamp<qint64>(f->data.size() - f->position, 0, size);
    if (n > 0)
        std::memcpy(buffer, f->data.constData() + f->position, size_t(n));
    f->position += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t h, void* buffer, tmsize_t size) {
    TiffMemoryFile* f = fileOf(h);
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
    TiffMemoryFile* f = fileOf(h);
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
    return toff_t(fileOf(h)->data.size());
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    TiffMemoryFile* f = fileOf(user);
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

TIFF* openTiffInMemory(TiffMemoryFile& file, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &file);
    TIFF* tiff = TIFFClientOpenExt("memory", mode, &file, readProc, writeProc, seekProc, closeProc,
                                   sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

} // namespace directcodec
