// SPDX-License-Identifier: MIT
// libFuzzer harness over format sniffing: the format and size a file's first
// bytes declare, the name of a format we do not read, and the size the whole
// file's headers declare, read piece by piece as from a file.
#include "FuzzSupport.h"
#include "input/PictureSniffing.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes = fuzz::bytesOf(data, size);
    (void)recognise(bytes);
    (void)unsupportedFormatOf(bytes);
    QBuffer file(&bytes);
    fuzz::require(file.open(QIODevice::ReadOnly));
    (void)declaredSizeOf(file);
    return 0;
}
