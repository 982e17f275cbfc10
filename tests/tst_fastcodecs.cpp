// SPDX-License-Identifier: MIT
// The direct codecs against the general ImageMagick path: the same decoded
// samples, the same pictures written back, the same JPEG settings; and
// previews.
#include "PlatformError.h"
#include "conversion/PictureConversion.h"
#include "formats/DirectCodecs.h"
#include "magick/MagickSetup.h"
#include "support/FileTesting.h"
#include "support/PictureFileTesting.h"

#include <Magick++.h>

#include <QDir>
#include <QFile>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

// A photo-like picture: smooth gradients with a little deterministic noise
// (far more than 256 colours), optionally with varying alpha or 16 bits.
Picture photoLike(int width, int height, Picture::Channels channels, int bits) {
    Picture p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    p.bitsPerSample = bits;
    p.pixels = QByteArray(p.bytesPerLine() * height, Qt::Uninitialized);
    quint32 seed = 12345;
    const int n = p.channelCount();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < n; ++c) {
                seed = seed * 1664525u + 1013904223u;
                int v = (x * 255 / width + y * 255 / height * (c + 1) + int(seed >> 28)) % 256;
                if (c == 3)
                    v = (x + y) * 255 / (width + height); // alpha: 0 .. 254
                const qsizetype at = (qsizetype(y) * width + x) * n + c;
                if (bits == 8)
                    p.pixels[at] = char(v);
                else
                    reinterpret_cast<quint16*>(p.pixels.data())[at] =
                        quint16(v * 257 + int(seed >> 24) % 200);
            }
    return p;
}

// Red grows to the right, green downwards: which way a picture is turned shows.
Picture gradient(int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            p.pixels += char(x * 255 / width);
            p.pixels += char(y * 255 / height);
            p.pixels += char(128);
        }
    return p;
}

// A minimal EXIF segment that holds only the orientation.
QByteArray exifSegment(int orientation) {
    QByteArray payload("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
    payload += char(orientation);
    payload += QByteArray("\0\0\0\0\0\0", 6);
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF\xE1") + char(length >> 8) + char(length & 0xFF) + payload;
}

// The JPEG with an EXIF orientation put right after its start marker.
QByteArray withOrientation(const QByteArray& jpeg, int orientation) {
    return jpeg.left(2) + exifSegment(orientation) + jpeg.mid(2);
}

void comparePictures(const Picture& seen, const Picture& expected) {
    QCOMPARE(seen.width, expected.width);
    QCOMPARE(seen.height, expected.height);
    QCOMPARE(int(seen.channels), int(expected.channels));
    QCOMPARE(seen.bitsPerSample, expected.bitsPerSample);
    QCOMPARE(seen.iccProfile, expected.iccProfile);
    if (seen.pixels != expected.pixels) {
        qsizetype at = 0;
        while (seen.pixels[at] == expected.pixels[at])
            ++at;
        QFAIL(qPrintable(QStringLiteral("samples differ from byte %1 on (%2 vs %3)")
                             .arg(at)
                             .arg(int(quint8(seen.pixels[at])))
                             .arg(int(quint8(expected.pixels[at])))));
    }
}

struct JpegFacts {
    size_t quality = 0;
    QString sampling;
    QString colourSpace;
};

JpegFacts jpegFacts(const QString& path) {
    Magick::Image image;
    image.ping(path.toStdString());
    return {image.quality(), QString::fromStdString(image.attribute("jpeg:sampling-factor")),
            QString::fromStdString(image.attribute("jpeg:colorspace"))};
}

} // namespace

class FastCodecsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase();
    void decodesJpegLikeGeneralPath_data();
    void decodesJpegLikeGeneralPath();
    void leavesUnusualJpegsToGeneralPath();
    void writesLikeGeneralPath_data();
    void writesLikeGeneralPath();
    void roundTripsLosslessly_data();
    void roundTripsLosslessly();
    void flattensOntoWhiteLikeGeneralPath_data();
    void flattensOntoWhiteLikeGeneralPath();
    void writesGifLikeGeneralPath_data();
    void writesGifLikeGeneralPath();
    void gifKeepsEveryIndex_data();
    void gifKeepsEveryIndex();
    void writesJpegSettings_data();
    void writesJpegSettings();
    void notesJpegSamplingUpright_data();
    void notesJpegSamplingUpright();
    void previewCoversBoxUpright_data();
    void previewCoversBoxUpright();
};

void FastCodecsTest::initTestCase() {
    QVERIFY(prepareMagick().isEmpty());
    QVERIFY(m_dir.isValid());
    // Generated JPEGs: colour at the two samplings, progressive, gray, and a
    // non-square one that shows which way it is turned.
    const Picture photo = photoLike(300, 200, Picture::Channels::Rgb, 8);
    Picture q75 = photo;
    q75.jpegQuality = 75;
    saveGeneral(q75, path("q75.jpg"));
    saveGeneral(photo, path("q92.jpg"));
    saveGeneral(photoLike(64, 48, Picture::Channels::Gray, 8), path("gray.jpg"));
    Magick::Image progressive(path("q75.jpg").toStdString());
    progressive.interlaceType(MagickCore::PlaneInterlace);
    progressive.write(path("progressive.jpg").toStdString());
    Magick::Image halfAcross(path("q92.jpg").toStdString());
    halfAcross.defineValue("jpeg", "sampling-factor", "2x1");
    halfAcross.write(path("s422.jpg").toStdString());
    QVERIFY(writeAll(path("s422-turned6.jpg"), withOrientation(readAll(path("s422.jpg")), 6)));
    const QByteArray q75bytes = readAll(path("q75.jpg"));
    QVERIFY(writeAll(path("truncated.jpg"), q75bytes.left(q75bytes.size() * 2 / 3)));
    saveGeneral(gradient(300, 200), path("gradient.jpg"));
    const QByteArray plain = readAll(path("gradient.jpg"));
    for (int orientation = 1; orientation <= 8; ++orientation)
        QVERIFY(writeAll(path(QStringLiteral("turned%1.jpg").arg(orientation)),
                         withOrientation(orientation % 2 ? q75bytes : plain, orientation)));
}

void FastCodecsTest::decodesJpegLikeGeneralPath_data() {
    QTest::addColumn<QString>("file");
    for (const char* name :
         {"hopper.jpg", "hopper_orientation_3.jpg", "hopper_orientation_6.jpg",
          "exif-72dpi-int.jpg", "hopper_gray.jpg", "icc_profile_big.jpg", "flower.jpg"})
        QTest::newRow(name) << corpusFile(name);
    for (const char* name : {"q75.jpg", "q92.jpg", "gray.jpg", "progressive.jpg", "truncated.jpg"})
        QTest::newRow(name) << path(name);
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::addRow("orientation %d", orientation)
            << path(QStringLiteral("turned%1.jpg").arg(orientation));
}

void FastCodecsTest::decodesJpegLikeGeneralPath() {
    QFETCH(QString, file);
    const PictureObject general = loadGeneral(file);
    // The direct decoder itself takes the file (no quiet fallback) ...
    const std::optional<Picture> direct =
        directcodec::decodeJpeg(readAll(file), [](qint64, qint64) {});
    QVERIFY(direct.has_value());
    comparePictures(*direct, *general);
    // ... and the public entry point gives the general path's quality too.
    const PictureObject fast = loadPictureFile(file);
    comparePictures(*fast, *general);
    QCOMPARE(fast->jpegQuality, general->jpegQuality);
    QVERIFY(fast->jpegQuality > 0);
    QCOMPARE(direct->jpegSamplingX, general->jpegSamplingX);
    QCOMPARE(direct->jpegSamplingY, general->jpegSamplingY);
}

void FastCodecsTest::leavesUnusualJpegsToGeneralPath() {
    const QByteArray cmyk = readAll(corpusFile("pil_sample_cmyk.jpg"));
    QVERIFY(!directcodec::decodeJpeg(cmyk, [](qint64, qint64) {}).has_value());
    comparePictures(*loadPictureFile(corpusFile("pil_sample_cmyk.jpg")),
                    *loadGeneral(corpusFile("pil_sample_cmyk.jpg")));
    // The declared size is refused before any pixels are decoded.
    QVERIFY_THROWS_EXCEPTION(
        std::length_error,
        directcodec::decodeJpeg(readAll(path("q75.jpg")), [](qint64 w, qint64 h) {
            if (w == 300 && h == 200)
                throw std::length_error("refused");
        }));
}

void FastCodecsTest::writesLikeGeneralPath_data() {
    QTest::addColumn<QString>("source"); // empty: the generated picture
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("target");
    const QStringList lossless = {"png", "bmp", "pcx", "tiff"};
    for (const QString& target : lossless) {
        for (const char* name : {"hopper.jpg", "hopper_gray.jpg", "icc_profile_big.jpg",
                                 "rgba32.bmp", "tiff_16bit_RGBa.tiff", "p_16.png", "hopper.png",
                                 "transparent.gif", "l_trns.png", "1_trns.png"})
            QTest::addRow("%s to %s", name, qPrintable(target))
                << corpusFile(name) << 0 << 0 << target;
        for (int channels : {1, 3, 4})
            for (int bits : {8, 16})
                QTest::addRow("generated %d x %d-bit to %s", channels, bits, qPrintable(target))
                    << QString() << channels << bits << target;
    }
}

// Written directly or by the general path, the file decodes to the same picture.
void FastCodecsTest::writesLikeGeneralPath() {
    QFETCH(QString, source);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(QString, target);
    const Picture picture = source.isEmpty() ? photoLike(97, 61, Picture::Channels(channels), bits)
                                             : *loadPictureFile(source);
    const QString fast = path("fast." + target);
    const QString general = path("general." + target);
    saveAs(picture, fast);
    saveGeneral(picture, general);
    // A bitmap in direct colour (24 bits; three planes for PCX) is the
    // general path's byte for byte; a palette (tst_pictureTypes) is compared
    // here by its pixels.
    const QByteArray written = readAll(fast);
    if ((target == "bmp" && written.size() > 28 && written[28] == 24) ||
        (target == "pcx" && written.size() > 65 && written[65] == 3))
        QCOMPARE(written, readAll(general));
    comparePictures(*loadGeneral(fast), *loadGeneral(general));
}

void FastCodecsTest::roundTripsLosslessly_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    for (const char* target : {"png", "tiff"})
        for (int channels : {1, 3, 4})
            for (int bits : {8, 16})
                QTest::addRow("%d x %d-bit %s", channels, bits, target)
                    << channels << bits << target << 53 << 37;
    // PNG's filters at the edges: one pixel, one row, one column.
    for (int channels : {1, 3, 4})
        for (int bits : {8, 16})
            for (const QSize size : {QSize(1, 1), QSize(7, 1), QSize(1, 5)})
                QTest::addRow("%d x %d-bit png %dx%d", channels, bits, size.width(), size.height())
                    << channels << bits << "png" << size.width() << size.height();
    QTest::newRow("gray bmp") << 1 << 8 << "bmp" << 53 << 37;
    QTest::newRow("rgb bmp") << 3 << 8 << "bmp" << 53 << 37;
    QTest::newRow("gray pcx") << 1 << 8 << "pcx" << 53 << 37;
    QTest::newRow("rgb pcx") << 3 << 8 << "pcx" << 53 << 37;
}

// The direct encoders themselves (whatever the dispatcher would choose) keep
// every sample, as read back by the general path.
void FastCodecsTest::roundTripsLosslessly() {
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(QString, target);
    QFETCH(int, width);
    QFETCH(int, height);
    Picture picture = photoLike(width, height, Picture::Channels(channels), bits);
    if (target == "png" && channels > 1) // the colour profile goes along
        picture.iccProfile = loadPictureFile(corpusFile("icc_profile_big.jpg"))->iccProfile;
    const QByteArray encoded = target == "png"    ? directcodec::encodePng(picture)
                               : target == "tiff" ? directcodec::encodeTiff(picture)
                               : target == "pcx"  ? directcodec::encodePcx(picture)
                                                  : directcodec::encodeBmp(picture);
    QVERIFY(writeAll(path("direct." + target), encoded));
    const PictureObject back = loadGeneral(path("direct." + target));
    if (target != "png" && target != "tiff" && channels == 1) { // gray is held as RGB
        QCOMPARE(back->width, picture.width);
        for (qsizetype i = 0; i < picture.pixels.size(); ++i)
            QCOMPARE(back->pixels[i * back->channelCount()], picture.pixels[i]);
        return;
    }
    comparePictures(*back, picture);
}

void FastCodecsTest::flattensOntoWhiteLikeGeneralPath_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("target");
    for (const char* target : {"bmp", "pcx", "jpg"})
        for (int bits : {8, 16})
            QTest::addRow("%d-bit to %s", bits, target) << bits << target;
}

// Every 8-bit sample and alpha pair (and 16-bit ones around them) blended onto
// white: the same bitmap bytes as the general path; the same JPEG samples.
void FastCodecsTest::flattensOntoWhiteLikeGeneralPath() {
    QFETCH(int, bits);
    QFETCH(QString, target);
    Picture p;
    p.width = 256;
    p.height = 256;
    p.channels = Picture::Channels::Rgba;
    p.bitsPerSample = bits;
    p.pixels = QByteArray(p.bytesPerLine() * p.height, Qt::Uninitialized);
    for (int a = 0; a < 256; ++a)
        for (int v = 0; v < 256; ++v) {
            const int values[4] = {v, 255 - v, (v * 7) % 256, a};
            for (int c = 0; c < 4; ++c) {
                const qsizetype at = (qsizetype(a) * 256 + v) * 4 + c;
                if (bits == 8)
                    p.pixels[at] = char(values[c]);
                else
                    reinterpret_cast<quint16*>(p.pixels.data())[at] =
                        quint16(values[c] * 257 + (v * 31 + a) % 257);
            }
        }
    const QString fast = path("flat-fast." + target);
    const QString general = path("flat-general." + target);
    saveAs(p, fast);
    saveGeneral(p, general);
    if (target != "jpg")
        QCOMPARE(readAll(fast), readAll(general));
    comparePictures(*loadGeneral(fast), *loadGeneral(general));
}

void FastCodecsTest::writesGifLikeGeneralPath_data() {
    QTest::addColumn<QString>("source"); // empty: the generated picture
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    for (const char* name : {"hopper_gray.jpg", "p_16.png", "transparent.gif", "1_trns.png"})
        QTest::newRow(name) << corpusFile(name) << 0 << 0 << 0;
    QTest::newRow("gray photo") << QString() << 1 << 200 << 150;
    QTest::newRow("one pixel") << QString() << 3 << 1 << 1;
}

// Pictures a GIF holds exactly (up to 256 colours, transparency included)
// show the same pixels as ImageMagick's own file. Pictures with more colours
// get our own reduction, held to ImageMagick's in tst_colourreduction.
void FastCodecsTest::writesGifLikeGeneralPath() {
    QFETCH(QString, source);
    QFETCH(int, channels);
    QFETCH(int, width);
    QFETCH(int, height);
    const Picture picture = source.isEmpty()
                                ? photoLike(width, height, Picture::Channels(channels), 8)
                                : *loadPictureFile(source);
    saveAs(picture, path("fast.gif"));
    saveGeneral(picture, path("general.gif"));
    comparePictures(*loadGeneral(path("fast.gif")), *loadGeneral(path("general.gif")));
}

void FastCodecsTest::gifKeepsEveryIndex_data() {
    QTest::addColumn<int>("colours");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("pattern"); // 0: noise, 1: runs, 2: one colour
    QTest::newRow("one colour") << 1 << 50 << 40 << 2;
    QTest::newRow("two colours, noise") << 2 << 300 << 200 << 0;
    QTest::newRow("five colours, noise") << 5 << 131 << 77 << 0;
    QTest::newRow("256 colours, noise, table cleared often") << 256 << 640 << 480 << 0;
    QTest::newRow("256 colours, long runs") << 256 << 512 << 512 << 1;
    QTest::newRow("one pixel") << 3 << 1 << 1 << 0;
}

// The direct encoder alone: every index comes back through ImageMagick's
// reader, whatever the code widths and table clears it went through.
void FastCodecsTest::gifKeepsEveryIndex() {
    QFETCH(int, colours);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, pattern);
    QByteArray palette(colours * 3, Qt::Uninitialized);
    for (int i = 0; i < colours; ++i) {
        palette[i * 3] = char(i);
        palette[i * 3 + 1] = char(255 - i);
        palette[i * 3 + 2] = char((i * 37) % 256);
    }
    QByteArray indexes(qsizetype(width) * height, Qt::Uninitialized);
    quint32 state = 12345;
    for (qsizetype i = 0; i < indexes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        indexes[i] = char(pattern == 2   ? 0
                          : pattern == 1 ? (i / 97) % colours
                                         : (state >> 16) % quint32(colours));
    }
    QVERIFY(writeAll(path("direct.gif"), directcodec::encodeGif(width, height, palette, indexes)));
    const PictureObject back = loadGeneral(path("direct.gif"));
    QCOMPARE(back->width, width);
    QCOMPARE(back->height, height);
    QCOMPARE(back->bitsPerSample, 8);
    for (qsizetype i = 0; i < indexes.size(); ++i) {
        const int index = uchar(indexes[i]);
        const QList<int> expected{uchar(palette[index * 3]), uchar(palette[index * 3 + 1]),
                                  uchar(palette[index * 3 + 2])};
        QList<int> seen;
        for (int c = 0; c < 3; ++c)
            seen << uchar(back->pixels[i * back->channelCount() +
                                       (back->channels == Picture::Channels::Gray ? 0 : c)]);
        if (seen != expected)
            QFAIL(qPrintable(QStringLiteral("pixel %1").arg(i)));
    }
}

void FastCodecsTest::writesJpegSettings_data() {
    QTest::addColumn<int>("sourceQuality"); // 0: not from a JPEG
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("sourceSampling"); // empty: none known
    QTest::addColumn<QString>("sampling");
    QTest::newRow("not a JPEG") << 0 << 3 << 92 << ""
                                << "1x1,1x1,1x1";
    QTest::newRow("quality 75") << 75 << 3 << 75 << ""
                                << "2x2,1x1,1x1";
    QTest::newRow("quality 89") << 89 << 3 << 89 << ""
                                << "2x2,1x1,1x1";
    QTest::newRow("quality 90") << 90 << 3 << 90 << ""
                                << "1x1,1x1,1x1";
    QTest::newRow("quality 100") << 100 << 3 << 100 << ""
                                 << "1x1,1x1,1x1";
    QTest::newRow("rgba") << 0 << 4 << 92 << ""
                          << "1x1,1x1,1x1";
    QTest::newRow("gray") << 80 << 1 << 80 << ""
                          << "1x1";
    // A JPEG source's sampling wins over the quality's.
    QTest::newRow("source 4:2:0 at 92") << 92 << 3 << 92 << "2x2"
                                        << "2x2,1x1,1x1";
    QTest::newRow("source 4:2:2 at 95") << 95 << 3 << 95 << "2x1"
                                        << "2x1,1x1,1x1";
    QTest::newRow("source 4:4:0 at 80") << 80 << 3 << 80 << "1x2"
                                        << "1x2,1x1,1x1";
    QTest::newRow("source 4:4:4 at 75") << 75 << 3 << 75 << "1x1"
                                        << "1x1,1x1,1x1";
    QTest::newRow("gray, source 2x2") << 80 << 1 << 80 << "2x2"
                                      << "1x1";
}

// The quality and sampling intended, as the general path writes them, at a
// size within a couple of per cent of its file.
void FastCodecsTest::writesJpegSettings() {
    QFETCH(int, sourceQuality);
    QFETCH(int, channels);
    QFETCH(int, quality);
    QFETCH(QString, sourceSampling);
    QFETCH(QString, sampling);
    Picture picture = photoLike(320, 240, Picture::Channels(channels), 8);
    picture.jpegQuality = sourceQuality;
    if (!sourceSampling.isEmpty()) {
        picture.jpegSamplingX = sourceSampling.section('x', 0, 0).toInt();
        picture.jpegSamplingY = sourceSampling.section('x', 1, 1).toInt();
    }
    saveAs(picture, path("settings-fast.jpg"));
    saveGeneral(picture, path("settings-general.jpg"));
    const JpegFacts fast = jpegFacts(path("settings-fast.jpg"));
    const JpegFacts general = jpegFacts(path("settings-general.jpg"));
    QCOMPARE(fast.quality, size_t(quality));
    QCOMPARE(fast.sampling, sampling);
    QCOMPARE(general.quality, fast.quality);
    QCOMPARE(general.sampling, fast.sampling);
    QCOMPARE(general.colourSpace, fast.colourSpace);
    const double ratio = double(QFileInfo(path("settings-fast.jpg")).size()) /
                         double(QFileInfo(path("settings-general.jpg")).size());
    QVERIFY2(ratio > 0.98 && ratio < 1.02, qPrintable(QString::number(ratio)));
}

void FastCodecsTest::notesJpegSamplingUpright_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("samplingX");
    QTest::addColumn<int>("samplingY");
    QTest::newRow("4:2:0") << path("q75.jpg") << 2 << 2;
    QTest::newRow("4:4:4") << path("q92.jpg") << 1 << 1;
    QTest::newRow("4:2:2") << path("s422.jpg") << 2 << 1;
    QTest::newRow("4:2:2 stood upright") << path("s422-turned6.jpg") << 1 << 2;
    QTest::newRow("gray") << path("gray.jpg") << 0 << 0;
}

// Both decoders note the sampling the encoders keep, as seen upright.
void FastCodecsTest::notesJpegSamplingUpright() {
    QFETCH(QString, file);
    QFETCH(int, samplingX);
    QFETCH(int, samplingY);
    for (const PictureObject& picture : {loadPictureFile(file), loadGeneral(file)}) {
        QCOMPARE(picture->jpegSamplingX, samplingX);
        QCOMPARE(picture->jpegSamplingY, samplingY);
    }
}

void FastCodecsTest::previewCoversBoxUpright_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("boxWidth");
    QTest::addColumn<int>("boxHeight");
    QTest::addColumn<int>("width"); // of the preview, upright
    QTest::addColumn<int>("height");
    // The stored picture is 300 x 200; turned by 6 or 8 it stands 200 x 300.
    QTest::newRow("eighth") << 1 << 30 << 25 << 38 << 25;
    QTest::newRow("quarter") << 1 << 60 << 40 << 75 << 50;
    QTest::newRow("half, one side just over") << 1 << 76 << 10 << 150 << 100;
    QTest::newRow("whole") << 1 << 200 << 180 << 300 << 200;
    QTest::newRow("box larger than picture") << 1 << 4000 << 4000 << 300 << 200;
    QTest::newRow("turned, eighth") << 6 << 25 << 30 << 25 << 38;
    QTest::newRow("turned, height decides") << 6 << 20 << 70 << 50 << 75;
    QTest::newRow("turned back, half") << 8 << 90 << 140 << 100 << 150;
    QTest::newRow("mirrored, quarter") << 4 << 70 << 45 << 75 << 50;
}

void FastCodecsTest::previewCoversBoxUpright() {
    QFETCH(int, orientation);
    QFETCH(int, boxWidth);
    QFETCH(int, boxHeight);
    QFETCH(int, width);
    QFETCH(int, height);
    QVERIFY(orientation % 2 == 0 || orientation == 1);
    const QString file = orientation == 1 ? path("gradient.jpg")
                                          : path(QStringLiteral("turned%1.jpg").arg(orientation));
    const PictureObject preview = loadPreviewFile(file, boxWidth, boxHeight);
    QCOMPARE(preview->width, width);
    QCOMPARE(preview->height, height);
    QVERIFY(preview->width >= std::min(boxWidth, width) &&
            preview->height >= std::min(boxHeight, height));
    // Upright: the preview's corners look like the full decode's corners.
    const PictureObject full = loadGeneral(file);
    for (auto [fx, fy] : {std::pair{0.1, 0.1}, {0.9, 0.1}, {0.1, 0.9}, {0.9, 0.9}}) {
        const int px = int(fx * preview->width), py = int(fy * preview->height);
        const int x = int(fx * full->width), y = int(fy * full->height);
        for (int c = 0; c < 3; ++c) {
            const int seen = quint8(preview->pixels[(qsizetype(py) * preview->width + px) * 3 + c]);
            const int expected = quint8(full->pixels[(qsizetype(y) * full->width + x) * 3 + c]);
            QVERIFY2(qAbs(seen - expected) < 40,
                     qPrintable(QStringLiteral("corner %1,%2 channel %3: %4 vs %5")
                                    .arg(fx)
                                    .arg(fy)
                                    .arg(c)
                                    .arg(seen)
                                    .arg(expected)));
        }
    }
}

QTEST_GUILESS_MAIN(FastCodecsTest)
#include "tst_fastcodecs.moc"
