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

// The lent range copied in: the file is `data` alone again.
void settle(TiffMemoryFile* f) {
    if (f->lentAt < 0)
        return;
    f->data.append(f->lent());
    f->data.append(f->tail);
    f->lentAt = -1;
    f->lentSize = 0;
    f->tail.clear();
    f->lendable = {};
}

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t size) {
    TiffMemoryFile* f = fileOf(h);
    settle(f);
    const qint64 n = std::clamp<qint64>(f->data.size() - f->position, 0, size);
    if (n > 0)
        std::memcpy(buffer, f->data.constData() + f->position, size_t(n));
    f->position += n;
    return tmsize_t(n);
}

// Writes at `at` of the array, which grows to take the bytes.
void writeInto(QByteArray& array, qint64 at, const void* buffer, tmsize_t size) {
    const qint64 end = at + size;
    if (end > array.size()) {
        if (end > array.capacity())
            array.reserve(std::max<qint64>(end, array.capacity() * 2));
        array.resize(end);
    }
    std::memcpy(array.data() + at, buffer, size_t(size));
}

tmsize_t writeProc(thandle_t h, void* buffer, tmsize_t size) {
    TiffMemoryFile* f = fileOf(h);
    const char* from = static_cast<const char*>(buffer);
    const char* lendable = f->lendable.data();
    const bool fromLendable =
        !f->lendable.isEmpty() && from >= lendable && from + size <= lendable + f->lendable.size();
    if (fromLendable && f->lentAt < 0 && f->position == f->data.size() && from == lendable)
        f->lentAt = f->position; // the range starts
    if (fromLendable && f->lentAt >= 0 && f->tail.isEmpty() &&
        f->position == f->lentAt + f->lentSize && from == lendable + f->lentSize) {
        f->lentSize += size;
        f->position += size;
        return size;
    }
    if (f->lentAt >= 0 && f->position + size > f->lentAt && f->position < f->lentAt + f->lentSize)
        settle(f); // into the range itself
    if (f->lentAt >= 0 && f->position >= f->lentAt + f->lentSize)
        writeInto(f->tail, f->position - (f->lentAt + f->lentSize), buffer, size);
    else
        writeInto(f->data, f->position, buffer, size);
    f->position += size;
    return size;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    TiffMemoryFile* f = fileOf(h);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = f->position;
    else if (whence == SEEK_END)
        base = f->size();
    f->position = base + qint64(offset);
    return toff_t(f->position);
}

int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t h) {
    return toff_t(fileOf(h)->size());
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
