// SPDX-License-Identifier: MIT
// A TIFF file in memory behind libtiff's client I/O, read from or built into
// a byte array, with libtiff's messages kept per file instead of on stderr or
// in the global handlers ImageMagick installs.
#pragma once

#include <QByteArray>

#include <tiffio.h>

namespace directcodec {

struct TiffMemoryFile {
    QByteArray data;
    qint64 position = 0;
    QByteArray error; // the first error libtiff reported
};

// Opens the file with the given libtiff mode ("rm" to read, "w" to write);
// null when libtiff cannot, with the reason in file.error.
TIFF* openTiffInMemory(TiffMemoryFile& file, const char* mode);

} // namespace directcodec
