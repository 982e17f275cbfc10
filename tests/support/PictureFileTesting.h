// SPDX-License-Identifier: MIT
// Saving and loading pictures in the picture tests: by the product's own
// path, or by ImageMagick's general path alone, which the direct codecs are
// held to. The format is taken from the file name's extension here, for the
// tests' convenience; the product always passes the format itself.
#pragma once

#include "conversion/PictureConversion.h"
#include "input/PictureReading.h"
#include "input/PictureSniffing.h"
#include "magick/MagickDecoding.h"
#include "magick/MagickEncoding.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

inline TargetFormat formatForExtension(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (TargetFormat format : kTargetFormats)
        if (extensionOf(format).mid(1) == suffix)
            return format;
    if (suffix == QLatin1String("jpeg"))
        return TargetFormat::Jpg;
    if (suffix == QLatin1String("tif"))
        return TargetFormat::Tiff;
    throw std::invalid_argument("no target format for " + path.toStdString());
}

// Written as the batch writes it: prepared, then committed.
inline void saveAs(const Picture& picture, const QString& path) {
    preparePictureFile(picture, formatForExtension(path), path)->commit();
}

inline PictureObject loadGeneral(const QString& path) {
    const QByteArray bytes = readPictureBytes(path);
    return std::make_shared<const Picture>(
        decodeWithMagick(bytes, *recognise(bytes), path, std::stop_token()));
}

inline void saveGeneral(const Picture& picture, const QString& path) {
    const QByteArray bytes = encodeWithMagick(picture, formatForExtension(path), std::stop_token());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

inline quint32 opaque(quint32 rgb) {
    return 0xFF000000u | rgb;
}

// One pixel of an 8-bit picture as 0xAARRGGBB; a fully transparent pixel has
// no colour.
inline quint32 argbAt(const Picture& p, int x, int y) {
    Q_ASSERT(p.bitsPerSample == 8);
    const auto* s = reinterpret_cast<const uchar*>(p.pixels.constData()) +
                    (qsizetype(y) * p.width + x) * p.channelCount();
    switch (p.channels) {
    case Picture::Channels::Gray:
        return opaque(quint32(s[0]) * 0x010101u);
    case Picture::Channels::Rgb:
        return opaque(quint32(s[0]) << 16 | quint32(s[1]) << 8 | s[2]);
    case Picture::Channels::Rgba:
        return s[3] == 0 ? 0
                         : quint32(s[3]) << 24 | quint32(s[0]) << 16 | quint32(s[1]) << 8 | s[2];
    }
    return 0;
}
