// SPDX-License-Identifier: MIT
// A TIFF file in memory behind libtiff's client I/O, read from or built into
// a byte array, with libtiff's messages kept per file instead of on stderr or
// in the global handlers ImageMagick installs.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <tiffio.h>

namespace directcodec {

struct TiffMemoryFile {
    QByteArray data;
    qint64 position = 0;
    QByteArray error; // the first error libtiff reported

    // Memory the file may take by reference instead of copying it: the
    // picture's samples, written as they lie. Appended writes from it, in
    // its own order, make one range of the file that `data` stops short of;
    // what is written after the range goes to `tail`. Any other write into
    // the range copies it in first, after which the file is `data` alone.
    QByteArrayView lendable;
    qint64 lentAt = -1; // the range's place in the file, -1 while none
    qsizetype lentSize = 0;
    QByteArray tail;

    qint64 size() const { return lentAt < 0 ? data.size() : lentAt + lentSize + tail.size(); }
    // The range's bytes, from the lendable memory.
    QByteArrayView lent() const { return lendable.first(lentSize); }
};

// Opens the file with the given libtiff mode ("rm" to read, "w" to write);
// null when libtiff cannot, with the reason in file.error.
TIFF* openTiffInMemory(TiffMemoryFile& file, const char* mode);

} // namespace directcodec
