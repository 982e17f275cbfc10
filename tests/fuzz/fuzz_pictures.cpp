// SPDX-License-Identifier: MIT
// libFuzzer harness over the picture load path: the input bytes become a file,
// which is loaded and written to every target format, and converted to JPG as
// the batch does it. A PlatformError is the expected way for a bad input to
// end; anything else -- a crash, a sanitizer report, another exception, a
// hang -- is a fault.
#include "PlatformError.h"
#include "conversion/PictureConversion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const QTemporaryDir& workDir() {
    static const QTemporaryDir dir;
    if (!dir.isValid())
        std::abort();
    return dir;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QTemporaryDir& dir = workDir();
    const QString input = dir.filePath(QStringLiteral("input"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            std::abort();
    }

    PictureObject picture;
    try {
        picture = loadPictureFile(input);
    } catch (const PlatformError&) {
        return 0;
    }
    if (!picture || picture->width <= 0 || picture->height <= 0 ||
        picture->pixels.size() != picture->bytesPerLine() * picture->height)
        std::abort(); // a loaded picture is always whole

    for (TargetFormat format : kTargetFormats) {
        const QString output = dir.filePath(QStringLiteral("out") + extensionOf(format).toString());
        try {
            preparePictureFile(*picture, format, output)->commit();
        } catch (const PlatformError&) {
        }
        QFile::remove(output);
    }
    // A JPEG to JPG as the batch converts it: its data carried over or
    // turned losslessly, its metadata rewritten.
    const QString carried = dir.filePath(QStringLiteral("carried.jpg"));
    try {
        convertPictureFile(input, TargetFormat::Jpg, carried, 64, 64).file->commit();
    } catch (const PlatformError&) {
    }
    QFile::remove(carried);
    return 0;
}
