// SPDX-License-Identifier: MIT
// The camera photos the metadata tests convert: one picture (64 x 48, whole
// 16 x 16 blocks) stored as JPEG, PNG, TIFF and PSD with the EXIF, XMP, IPTC
// and colour profile a camera and a photo editor would leave in it.
#pragma once

#include "magick/MagickSetup.h"
#include "support/MetadataTesting.h"

#include <Magick++.h>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testing {

const QByteArray kMake("Canon");
const QByteArray kTaken("2024:05:06 07:08:09");
const QString kLatitude = QStringLiteral("48/1,30/1,0/1");
const QByteArray kTitle("Velmora test title");
const QByteArray kKeyword("kw-velmora");
const QByteArray kThumbnail("\xFF\xD8THUMBNAIL-OF-THE-OLD-ORIENTATION\xFF\xD9");
constexpr int kWidth = 64; // stored size of every source: whole 16 x 16 blocks
constexpr int kHeight = 48;

// Tag numbers the checks read.
enum Tag {
    ImageWidth = 0x0100,
    ImageLength = 0x0101,
    Make = 0x010F,
    Orientation = 0x0112,
    DateTimeOriginal = 0x9003,
    PixelX = 0xA002,
    PixelY = 0xA003,
    GpsLatitude = 2,
    NextDirectory = -1
};

// A camera's EXIF: make, size and orientation, the date taken, a GPS position
// and a thumbnail.
inline QByteArray cameraExif(int orientation) {
    return buildTiff(
        {{{shortValue(ImageWidth, kWidth), shortValue(ImageLength, kHeight), ascii(Make, kMake),
           shortValue(Orientation, quint32(orientation)), pointer(0x8769, 1), pointer(0x8825, 2)},
          3},
         {{ascii(DateTimeOriginal, kTaken), shortValue(PixelX, kWidth),
           shortValue(PixelY, kHeight)}},
         {{ascii(1, "N"), rationals(GpsLatitude, {48, 1, 30, 1, 0, 1})}},
         {{shortValue(0x0103, 6), blobOffset(0x0201, 0),
           longValue(0x0202, quint32(kThumbnail.size()))}}},
        {kThumbnail});
}

inline QByteArray xmpPacket(int orientation) {
    return QStringLiteral(
               "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
               "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
               "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" tiff:Orientation=\"%1\"><dc:title>"
               "<rdf:Alt><rdf:li xml:lang=\"x-default\">%2</rdf:li></rdf:Alt></dc:title>"
               "</rdf:Description></rdf:RDF></x:xmpmeta>")
        .arg(orientation)
        .arg(QString::fromLatin1(kTitle))
        .toUtf8();
}

// An IPTC record holding one keyword (2:25).
inline QByteArray iptcRecord() {
    return QByteArray("\x1C\x02\x19\x00", 4) + char(kKeyword.size()) + kKeyword;
}

// Red grows to the right, green downwards, with a little noise.
inline QByteArray gradientPixels() {
    QByteArray pixels;
    quint32 seed = 7;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            pixels += char(x * 255 / kWidth);
            pixels += char(y * 255 / kHeight);
            pixels += char(96 + (seed >> 29));
        }
    return pixels;
}

inline QByteArray encodedByMagick(const char* coder, int width, int height, bool withIcc,
                                  const char* sampling = "2x2") {
    const QByteArray pixels = gradientPixels();
    Magick::Image image(size_t(width), size_t(height), "RGB", MagickCore::CharPixel,
                        pixels.constData());
    if (withIcc)
        image.profile("ICC", Magick::Blob(srgbIccProfile().constData(), srgbIccProfile().size()));
    image.quality(90);
    image.defineValue("jpeg", "sampling-factor", sampling);
    Magick::Blob blob;
    image.write(&blob, coder);
    return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
}

inline QByteArray cameraJpeg(int orientation) {
    const QByteArray plain = encodedByMagick("JPEG", kWidth, kHeight, true);
    return withSegments(plain,
                        jpegSegment(0xE1, QByteArray("Exif\0\0", 6) + cameraExif(orientation)) +
                            jpegSegment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                                                  xmpPacket(orientation)) +
                            jpegSegment(0xED, QByteArray("Photoshop 3.0\0", 14) +
                                                  psdResource(0x0404, iptcRecord())));
}

inline QByteArray cameraPng() {
    const QByteArray png = encodedByMagick("PNG", kWidth, kHeight, true);
    const qsizetype idat = png.indexOf("IDAT") - 4;
    return png.left(idat) + pngChunk("eXIf", cameraExif(1)) +
           pngChunk("iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmpPacket(1)) +
           png.mid(idat);
}

// An uncompressed RGB TIFF stored a quarter turn anticlockwise (orientation
// 6), with its EXIF in Exif and GPS directories, XMP, IPTC and a profile.
inline QByteArray cameraTiff() {
    const QByteArray pixels = gradientPixels();
    const TiffEntry bits{0x0102, 3, 3, QByteArray("\x08\0\x08\0\x08\0", 6)};
    return buildTiff(
        {{{shortValue(ImageWidth, kWidth), shortValue(ImageLength, kHeight), bits,
           shortValue(0x0103, 1), shortValue(0x0106, 2), ascii(Make, kMake), blobOffset(0x0111, 0),
           shortValue(Orientation, 6), shortValue(0x0115, 3), shortValue(0x0116, kHeight),
           longValue(0x0117, quint32(pixels.size())), shortValue(0x011C, 1),
           TiffEntry{700, 1, quint32(xmpPacket(6).size()), xmpPacket(6)},
           bytesValue(33723, iptcRecord()), pointer(0x8769, 1), bytesValue(34675, srgbIccProfile()),
           pointer(0x8825, 2)}},
         {{ascii(DateTimeOriginal, kTaken), shortValue(PixelX, kWidth),
           shortValue(PixelY, kHeight)}},
         {{ascii(1, "N"), rationals(GpsLatitude, {48, 1, 30, 1, 0, 1})}}},
        {pixels});
}

// A flat RGB PSD whose image resources hold the EXIF, XMP, IPTC and profile.
inline QByteArray cameraPsd() {
    const QByteArray resources =
        psdResource(0x0404, iptcRecord()) + psdResource(0x040F, srgbIccProfile()) +
        psdResource(0x0422, cameraExif(1)) + psdResource(0x0424, xmpPacket(1));
    const auto be = [](quint32 v, int size) {
        QByteArray out;
        for (int i = size - 1; i >= 0; --i)
            out += char((v >> (8 * i)) & 0xFF);
        return out;
    };
    QByteArray psd = QByteArray("8BPS") + be(1, 2) + QByteArray(6, '\0') + be(3, 2) +
                     be(kHeight, 4) + be(kWidth, 4) + be(8, 2) + be(3, 2);
    psd += be(0, 4) + be(quint32(resources.size()), 4) + resources + be(0, 4) + be(0, 2);
    const QByteArray pixels = gradientPixels();
    for (int c = 0; c < 3; ++c) // planar
        for (qsizetype i = c; i < pixels.size(); i += 3)
            psd += pixels[i];
    return psd;
}

} // namespace testing
