// SPDX-License-Identifier: MIT
// Picture files: every corpus picture into every target, damaged and hostile
// files, refusals, literal file names and a save that fails. Putting outputs
// in place is tested in tst_outputfiles.
#include "PlatformError.h"
#include "conversion/FilePictureCodec.h"
#include "conversion/PictureConversion.h"
#include "input/PictureLimits.h"
#include "magick/MagickSetup.h"
#include "pixels/PictureScaling.h"
#include "support/FileTesting.h"
#include "support/PictureFileTesting.h"

#include <Magick++.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

namespace {

const QStringList kTargets = {"jpg", "bmp", "gif", "pcx", "png", "ico", "tiff"};

QString corpusDir(const char* sub) {
    return QStringLiteral(VELMORA_CORPUS_DIR "/") + QLatin1String(sub);
}

QByteArray fileHead(const QString& path, qint64 n) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(n) : QByteArray();
}

bool hasMagic(const QByteArray& b, const QString& target) {
    if (target == "jpg")
        return b.startsWith("\xFF\xD8\xFF");
    if (target == "bmp")
        return b.startsWith("BM");
    if (target == "gif")
        return b.startsWith("GIF87a") || b.startsWith("GIF89a");
    if (target == "pcx")
        return b.size() > 3 && b[0] == 0x0A && b[2] == 1;
    if (target == "png")
        return b.startsWith("\x89PNG\r\n\x1A\n");
    if (target == "ico")
        return b.startsWith(QByteArray("\0\0\1\0", 4));
    if (target == "tiff")
        return b.startsWith(QByteArray("II*\0", 4)) || b.startsWith(QByteArray("MM\0*", 4));
    return false;
}

// One pixel as 8-bit RGBA, whatever the picture's layout.
QList<int> pixelAt(const Picture& p, int x, int y) {
    const int bytes = p.bitsPerSample / 8;
    const char* at = p.pixels.constData() + y * p.bytesPerLine() + x * p.channelCount() * bytes;
    auto sample = [&](int c) {
        if (bytes == 1)
            return int(quint8(at[c]));
        quint16 v;
        std::memcpy(&v, at + 2 * c, 2);
        return int(v >> 8);
    };
    switch (p.channels) {
    case Picture::Channels::Gray:
        return {sample(0), sample(0), sample(0), 255};
    case Picture::Channels::Rgb:
        return {sample(0), sample(1), sample(2), 255};
    case Picture::Channels::Rgba:
        return {sample(0), sample(1), sample(2), sample(3)};
    }
    return {};
}

QPoint firstTransparentPixel(const Picture& p) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (pixelAt(p, x, y)[3] == 0)
                return {x, y};
    return {-1, -1};
}

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    const quint32 length = quint32(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char(length >> shift));
    const QByteArray body = QByteArray(type) + data;
    const quint32 crc = crc32(body);
    chunk += body;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char(crc >> shift));
    return chunk;
}

// A valid PNG header declaring width x height, with a few bytes of image data.
QByteArray pngDeclaring(quint32 width, quint32 height) {
    QByteArray ihdr;
    for (quint32 v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr.append(char(v >> shift));
    ihdr.append("\x08\x02\x00\x00\x00", 5);
    const QByteArray idat = qCompress(QByteArray(64, '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1A\n") + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat) +
           pngChunk("IEND", {});
}

Picture solid(int width, int height, Picture::Channels channels, QList<quint8> sample) {
    Picture p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    for (int i = 0; i < width * height; ++i)
        for (quint8 s : sample)
            p.pixels.append(char(s));
    return p;
}

} // namespace

class PicturesTest : public QObject {
    Q_OBJECT

private slots:
    void convertsGoodPictures_data();
    void convertsGoodPictures();
    void appliesExifOrientation();
    void transparency_data();
    void transparency();
    void gifBlendsPartialAlphaOntoWhite();
    void drawsGifFrameOnItsScreen();
    void keepsSixteenBits_data();
    void keepsSixteenBits();
    void keepsGrayAndConvertsCmyk();
    void fitsLargeIcons();
    void previewAveragesEveryCoveredPixel_data();
    void previewAveragesEveryCoveredPixel();
    void countsGifColoursAsImageMagick_data();
    void countsGifColoursAsImageMagick();
    void shrinksPhotosToIconsLikeFilteredResize_data();
    void shrinksPhotosToIconsLikeFilteredResize();
    void keepsProfileAndQuality_data();
    void keepsProfileAndQuality();
    void convertsInParallel();
    void survivesBadFiles_data();
    void survivesBadFiles();
    void refuses_data();
    void refuses();
    void namesFormatsWeDoNotRead_data();
    void namesFormatsWeDoNotRead();
    void codecRefusesOtherCoders_data();
    void codecRefusesOtherCoders();
    void appliesOurResourceLimits_data();
    void appliesOurResourceLimits();
    void grantsOurRightsOnly_data();
    void grantsOurRightsOnly();
    void takesNamesLiterally_data();
    void takesNamesLiterally();
    void failedSaveKeepsExistingFile();
    void emptyPictures();
};

void PicturesTest::convertsGoodPictures_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    const QStringList files = QDir(corpusDir("good")).entryList(QDir::Files, QDir::Name);
    QVERIFY(files.size() > 40);
    for (const QString& file : files)
        for (const QString& target : kTargets)
            QTest::addRow("%s to %s", qPrintable(file), qPrintable(target))
                << corpusDir("good") + "/" + file << target;
}

void PicturesTest::convertsGoodPictures() {
    QFETCH(QString, source);
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const PictureObject picture = loadPictureFile(source);
    QVERIFY(picture);
    QVERIFY(picture->width > 0 && picture->height > 0);
    QCOMPARE(picture->pixels.size(), picture->bytesPerLine() * picture->height);

    const QString output = dir.filePath("out." + target);
    saveAs(*picture, output);
    QCOMPARE(entries(dir.path()), QStringList{"out." + target});
    // Kept on request, to compare the outputs of two builds
    // (scripts/windows/compare-outputs.sh).
    if (const QString keep = qEnvironmentVariable("VELMORA_KEEP_OUTPUTS"); !keep.isEmpty()) {
        const QString kept = keep + u'/' + QFileInfo(source).fileName() + u'.' + target;
        QFile::remove(kept);
        QVERIFY(QFile::copy(output, kept));
    }
    QVERIFY2(hasMagic(fileHead(output, 8), target), qPrintable(fileHead(output, 8).toHex()));

    const PictureObject back = loadPictureFile(output);
    if (target == "ico") {
        QVERIFY(back->width <= 256 && back->height <= 256);
        if (picture->width <= 256 && picture->height <= 256) {
            QCOMPARE(back->width, picture->width);
            QCOMPARE(back->height, picture->height);
        } else {
            QCOMPARE(std::max(back->width, back->height), 256);
            const double aspect = double(picture->width) / picture->height;
            QVERIFY(qAbs(double(back->width) / back->height - aspect) < 0.02 * aspect + 0.01);
        }
    } else {
        QCOMPARE(back->width, picture->width);
        QCOMPARE(back->height, picture->height);
    }
}

void PicturesTest::appliesExifOrientation() {
    for (const char* name : {"hopper_orientation_6.jpg", "hopper_orientation_3.jpg"}) {
        const QString source = corpusDir("good") + "/" + name;
        Magick::Image raw;
        raw.ping(source.toStdString());
        const PictureObject upright = loadPictureFile(source);
        const bool quarterTurn = QByteArray(name).contains("_6");
        QCOMPARE(size_t(upright->width), quarterTurn ? raw.rows() : raw.columns());
        QCOMPARE(size_t(upright->height), quarterTurn ? raw.columns() : raw.rows());
        // Both show the same picture as the plain file, whose top-left is light.
        const PictureObject plain = loadPictureFile(corpusDir("good") + "/hopper.jpg");
        const QList<int> expected = pixelAt(*plain, 2, 2);
        const QList<int> seen = pixelAt(*upright, 2, 2);
        for (int c = 0; c < 3; ++c)
            QVERIFY2(qAbs(seen[c] - expected[c]) < 40, name);
    }
}

void PicturesTest::transparency_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("keepsAlpha");
    for (const char* file : {"transparent.gif", "rgba32.bmp", "rgb_trns.png"})
        for (const QString& target : kTargets)
            QTest::addRow("%s to %s", file, qPrintable(target))
                << corpusDir("good") + "/" + file << target
                << (target == "gif" || target == "png" || target == "ico" || target == "tiff");
}

void PicturesTest::transparency() {
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, keepsAlpha);
    const PictureObject picture = loadPictureFile(source);
    QVERIFY(picture->hasAlpha());
    const QPoint at = firstTransparentPixel(*picture);
    QVERIFY(at.x() >= 0);
    if (target == "ico" && (picture->width > 256 || picture->height > 256))
        QSKIP("the icon is scaled; pixel positions differ");

    QTemporaryDir dir;
    const QString output = dir.filePath("out." + target);
    saveAs(*picture, output);
    const PictureObject back = loadPictureFile(output);
    const QList<int> pixel = pixelAt(*back, at.x(), at.y());
    if (keepsAlpha) {
        QCOMPARE(pixel[3], 0);
    } else {
        QVERIFY(!back->hasAlpha());
        // JPEG may ring a little next to an edge; black or grey would be a fault.
        for (int c = 0; c < 3; ++c)
            QVERIFY2(pixel[c] >= 230, qPrintable(QString::number(pixel[c])));
    }
}

void PicturesTest::gifBlendsPartialAlphaOntoWhite() {
    // Black at half opacity, then a fully transparent red pixel, then opaque blue.
    Picture p = solid(3, 1, Picture::Channels::Rgba, {});
    p.pixels = QByteArray::fromHex("00000080ff0000000000ffff");
    QTemporaryDir dir;
    const QString output = dir.filePath("blend.gif");
    saveAs(p, output);
    const PictureObject back = loadPictureFile(output);
    const QList<int> half = pixelAt(*back, 0, 0);
    QCOMPARE(half[3], 255);
    for (int c = 0; c < 3; ++c)
        QVERIFY2(qAbs(half[c] - 127) <= 2, qPrintable(QString::number(half[c])));
    QCOMPARE(pixelAt(*back, 1, 0)[3], 0);
    QCOMPARE(pixelAt(*back, 2, 0), (QList<int>{0, 0, 255, 255}));
}

void PicturesTest::drawsGifFrameOnItsScreen() {
    // A 2 x 2 red frame at (1, 1) on a 4 x 4 logical screen.
    const quint8 red[12] = {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0};
    Magick::Image frame(2, 2, "RGB", MagickCore::CharPixel, red);
    frame.page(Magick::Geometry(4, 4, 1, 1));
    Magick::Blob blob;
    frame.write(&blob, "GIF");
    QTemporaryDir dir;
    QFile file(dir.filePath("frame.gif"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
    file.close();

    const PictureObject picture = loadPictureFile(file.fileName());
    QCOMPARE(picture->width, 4);
    QCOMPARE(picture->height, 4);
    QCOMPARE(pixelAt(*picture, 0, 0)[3], 0);
    QCOMPARE(pixelAt(*picture, 1, 1), (QList<int>{255, 0, 0, 255}));
    QCOMPARE(pixelAt(*picture, 2, 2), (QList<int>{255, 0, 0, 255}));
    QCOMPARE(pixelAt(*picture, 3, 3)[3], 0);
}

void PicturesTest::keepsSixteenBits_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("bits");
    QTest::newRow("png") << "png" << 16;
    QTest::newRow("tiff") << "tiff" << 16;
    QTest::newRow("jpg") << "jpg" << 8;
    QTest::newRow("gif") << "gif" << 8;
}

void PicturesTest::keepsSixteenBits() {
    QFETCH(QString, target);
    QFETCH(int, bits);
    const PictureObject picture = loadPictureFile(corpusDir("good") + "/tiff_16bit_RGBa.tiff");
    QCOMPARE(picture->bitsPerSample, 16);
    QVERIFY(picture->hasAlpha());
    QTemporaryDir dir;
    const QString output = dir.filePath("out." + target);
    saveAs(*picture, output);
    const PictureObject back = loadPictureFile(output);
    QCOMPARE(back->bitsPerSample, bits);
    if (bits == 16) {
        QCOMPARE(back->channels, picture->channels);
        QCOMPARE(back->pixels, picture->pixels);
    }
}

void PicturesTest::keepsGrayAndConvertsCmyk() {
    const PictureObject gray = loadPictureFile(corpusDir("good") + "/hopper_gray.jpg");
    QCOMPARE(gray->channels, Picture::Channels::Gray);
    QCOMPARE(gray->bitsPerSample, 8);
    QTemporaryDir dir;
    for (const char* target : {"png", "jpg", "tiff"}) {
        const QString output = dir.filePath(QStringLiteral("gray.") + target);
        saveAs(*gray, output);
        QCOMPARE(loadPictureFile(output)->channels, Picture::Channels::Gray);
    }

    // CMYK becomes sRGB: the sample is red at the top left and black at the
    // bottom right (an inverted Adobe CMYK would turn both around).
    for (const char* name : {"pil_sample_cmyk.jpg", "tiff_strip_cmyk_jpeg.tif"}) {
        const PictureObject cmyk = loadPictureFile(corpusDir("good") + "/" + name);
        QCOMPARE(cmyk->channels, Picture::Channels::Rgb);
        QVERIFY(cmyk->iccProfile.isEmpty());
        const QList<int> topLeft = pixelAt(*cmyk, 0, 0);
        QVERIFY2(topLeft[0] > 200 && topLeft[1] < 60 && topLeft[2] < 60, name);
        const QList<int> bottomRight = pixelAt(*cmyk, cmyk->width - 1, cmyk->height - 1);
        QVERIFY2(bottomRight[0] < 40 && bottomRight[1] < 40 && bottomRight[2] < 40, name);
    }
}

void PicturesTest::fitsLargeIcons() {
    QTemporaryDir dir;
    const QString output = dir.filePath("wide.ico");
    saveAs(solid(600, 300, Picture::Channels::Rgb, {10, 200, 30}), output);
    const PictureObject back = loadPictureFile(output);
    QCOMPARE(back->width, 256);
    QCOMPARE(back->height, 128);
    QCOMPARE(pixelAt(*back, 100, 60).mid(0, 3), (QList<int>{10, 200, 30}));
}

void PicturesTest::previewAveragesEveryCoveredPixel_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("boxWidth");
    QTest::addColumn<int>("boxHeight");
    QTest::newRow("photo into the preview box") << 1200 << 900 << 3 << 8 << 297 << 198;
    QTest::newRow("uneven blocks") << 1001 << 77 << 3 << 8 << 300 << 40;
    QTest::newRow("gray, tall") << 31 << 700 << 1 << 8 << 297 << 198;
    QTest::newRow("with alpha") << 640 << 480 << 4 << 8 << 64 << 64;
    QTest::newRow("16-bit") << 500 << 333 << 3 << 16 << 100 << 100;
}

// Each preview pixel is the plain average of the source pixels it covers.
void PicturesTest::previewAveragesEveryCoveredPixel() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(int, boxWidth);
    QFETCH(int, boxHeight);
    auto source = std::make_shared<Picture>();
    source->width = width;
    source->height = height;
    source->channels = Picture::Channels(channels);
    source->bitsPerSample = bits;
    source->pixels = QByteArray(source->bytesPerLine() * height, Qt::Uninitialized);
    const qsizetype samples = qsizetype(width) * height * channels;
    auto sample = [&](qsizetype i) -> quint64 {
        return bits == 8 ? uchar(source->pixels[i])
                         : reinterpret_cast<const quint16*>(source->pixels.constData())[i];
    };
    quint32 state = 7;
    for (qsizetype i = 0; i < samples; ++i) {
        state = state * 1664525u + 1013904223u;
        if (bits == 8)
            source->pixels[i] = char(state >> 24);
        else
            reinterpret_cast<quint16*>(source->pixels.data())[i] = quint16(state >> 16);
    }
    const PictureObject preview = scaledToFit(source, boxWidth, boxHeight);
    QCOMPARE(preview->bitsPerSample, 8);
    QVERIFY(preview->width <= boxWidth && preview->height <= boxHeight);
    QVERIFY(preview->width == boxWidth || preview->height == boxHeight);
    for (int y = 0; y < preview->height; ++y)
        for (int x = 0; x < preview->width; ++x) {
            const int top = int(qint64(y) * height / preview->height);
            const int bottom = std::max(top + 1, int(qint64(y + 1) * height / preview->height));
            const int left = int(qint64(x) * width / preview->width);
            const int right = std::max(left + 1, int(qint64(x + 1) * width / preview->width));
            for (int c = 0; c < channels; ++c) {
                quint64 sum = 0;
                for (int sy = top; sy < bottom; ++sy)
                    for (int sx = left; sx < right; ++sx)
                        sum += sample((qsizetype(sy) * width + sx) * channels + c);
                const quint64 count = quint64(bottom - top) * quint64(right - left);
                const int expected = int((sum / count) >> (bits == 16 ? 8 : 0));
                const int seen =
                    uchar(preview->pixels[(qsizetype(y) * preview->width + x) * channels + c]);
                if (seen != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 channel %3: %4, not %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(c)
                                         .arg(seen)
                                         .arg(expected)));
            }
        }
}

void PicturesTest::countsGifColoursAsImageMagick_data() {
    QTest::addColumn<int>("colours");      // distinct opaque colours
    QTest::addColumn<bool>("transparent"); // plus transparent (white) pixels
    QTest::addColumn<bool>("gray");
    QTest::newRow("256 colours") << 256 << false << false;
    QTest::newRow("257 colours") << 257 << false << false;
    QTest::newRow("255 colours and transparency") << 255 << true << false;
    QTest::newRow("256 colours and transparency") << 256 << true << false;
    QTest::newRow("256 grays") << 256 << false << true;
}

// Whether a picture maps exactly or is reduced is decided by counting its
// colours; our count must agree with ImageMagick's, transparency included.
void PicturesTest::countsGifColoursAsImageMagick() {
    QFETCH(int, colours);
    QFETCH(bool, transparent);
    QFETCH(bool, gray);
    Picture picture;
    picture.width = 64;
    picture.height = 64;
    picture.channels = gray          ? Picture::Channels::Gray
                       : transparent ? Picture::Channels::Rgba
                                     : Picture::Channels::Rgb;
    picture.pixels = QByteArray(picture.bytesPerLine() * picture.height, Qt::Uninitialized);
    auto* at = reinterpret_cast<uchar*>(picture.pixels.data());
    for (int i = 0; i < picture.width * picture.height; ++i) {
        const int colour = i % (colours + (transparent ? 1 : 0));
        const bool clear = colour == colours;
        if (gray) {
            *at++ = uchar(colour);
            continue;
        }
        // Opaque white is among the colours, so it differs from the
        // transparent white only by its alpha.
        *at++ = clear || colour == 0 ? 255 : uchar(colour);
        *at++ = clear || colour == 0 ? 255 : uchar(colour * 7);
        *at++ = clear || colour == 0 ? 255 : uchar(colour / 2);
        if (transparent)
            *at++ = clear ? 0 : 255;
    }
    Magick::Image reference(64, 64,
                            gray          ? "I"
                            : transparent ? "RGBA"
                                          : "RGB",
                            MagickCore::CharPixel, picture.pixels.constData());
    reference.depth(8);
    const bool exact = reference.totalColors() <= 256;
    const Picture sourceOnly = picture;
    reference.quantizeColors(256);
    reference.quantizeDither(!exact);
    if (!exact)
        reference.quantizeDitherMethod(MagickCore::FloydSteinbergDitherMethod);
    reference.quantize();
    Magick::Blob blob;
    reference.write(&blob, "GIF");

    QTemporaryDir dir;
    const QString output = dir.filePath("count.gif");
    saveAs(picture, output);
    const PictureObject ours = loadPictureFile(output);
    QFile written(dir.filePath("reference.gif"));
    QVERIFY(written.open(QIODevice::WriteOnly));
    written.write(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
    written.close();
    const PictureObject expected = loadPictureFile(written.fileName());
    QCOMPARE(ours->channels, expected->channels);
    // Exact pictures come out as ImageMagick's; the others are reduced too,
    // by our own reduction (held to ImageMagick's in tst_colourreduction).
    if (exact)
        QVERIFY(ours->pixels == expected->pixels);
    else
        QVERIFY(ours->pixels != sourceOnly.pixels);
}

void PicturesTest::shrinksPhotosToIconsLikeFilteredResize_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("iconWidth");
    QTest::addColumn<int>("iconHeight");
    QTest::newRow("camera photo") << 4000 << 3000 << 256 << 192;
    QTest::newRow("portrait, odd sides") << 1537 << 3001 << 131 << 256;
    QTest::newRow("just over the block size") << 1024 << 1023 << 256 << 256;
    QTest::newRow("a thin strip") << 5000 << 9 << 256 << 0; // 0: whatever ImageMagick makes of it
}

// Big pictures take a shortcut to the icon; it must keep the size ImageMagick
// would fit them to and look like its filtered resize.
void PicturesTest::shrinksPhotosToIconsLikeFilteredResize() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, iconWidth);
    QFETCH(int, iconHeight);
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels = QByteArray(picture.bytesPerLine() * height, Qt::Uninitialized);
    auto* at = reinterpret_cast<uchar*>(picture.pixels.data());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            *at++ = uchar(255.0 * x / width);
            *at++ = uchar(127.5 + 127.0 * std::sin(x / 97.0 + y / 61.0));
            *at++ = uchar(255.0 * y / height);
        }
    Magick::Image reference(size_t(width), size_t(height), "RGB", MagickCore::CharPixel,
                            picture.pixels.constData());
    reference.resize(Magick::Geometry(256, 256));
    if (iconHeight == 0)
        iconHeight = int(reference.rows());
    QCOMPARE(int(reference.columns()), iconWidth);

    QTemporaryDir dir;
    const QString output = dir.filePath("photo.ico");
    saveAs(picture, output);
    const PictureObject back = loadPictureFile(output);
    QCOMPARE(back->width, iconWidth);
    QCOMPARE(back->height, iconHeight);
    std::vector<quint8> expected(size_t(iconWidth) * iconHeight * 3);
    reference.write(0, 0, size_t(iconWidth), size_t(iconHeight), "RGB", MagickCore::CharPixel,
                    expected.data());
    int worst = 0;
    double total = 0;
    for (int y = 0; y < iconHeight; ++y)
        for (int x = 0; x < iconWidth; ++x) {
            const QList<int> seen = pixelAt(*back, x, y);
            for (int c = 0; c < 3; ++c) {
                const int d = qAbs(seen[c] - expected[(size_t(y) * iconWidth + x) * 3 + c]);
                worst = std::max(worst, d);
                total += d;
            }
        }
    const double mean = total / (double(iconWidth) * iconHeight * 3);
    QVERIFY2(worst <= 8 && mean < 1.0,
             qPrintable(QStringLiteral("worst %1, mean %2").arg(worst).arg(mean)));
}

void PicturesTest::keepsProfileAndQuality_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("keepsProfile");
    QTest::addColumn<int>("quality"); // of the JPEG written, 0 when not a JPEG
    QTest::newRow("profile into jpg") << "icc_profile_big.jpg"
                                      << "jpg" << true << 100;
    QTest::newRow("profile into png") << "icc_profile_big.jpg"
                                      << "png" << true << 0;
    QTest::newRow("profile into tiff") << "icc_profile_big.jpg"
                                       << "tiff" << true << 0;
    // (The PNG writer replaces this file's standard sRGB profile by an sRGB chunk.)
    QTest::newRow("16-bit profile into tiff") << "tiff_16bit_RGBa.tiff"
                                              << "tiff" << true << 0;
    QTest::newRow("profile not into gif") << "icc_profile_big.jpg"
                                          << "gif" << false << 0;
    QTest::newRow("jpeg keeps its quality") << "flower.jpg"
                                            << "jpg" << false << 75;
    QTest::newRow("png gets the usual quality") << "hopper.png"
                                                << "jpg" << false << 92;
}

void PicturesTest::keepsProfileAndQuality() {
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, keepsProfile);
    QFETCH(int, quality);
    const PictureObject picture = loadPictureFile(corpusDir("good") + "/" + source);
    QTemporaryDir dir;
    const QString output = dir.filePath("out." + target);
    saveAs(*picture, output);
    const PictureObject back = loadPictureFile(output);
    if (keepsProfile) {
        QVERIFY(!picture->iccProfile.isEmpty());
        QCOMPARE(back->iccProfile, picture->iccProfile);
    } else {
        QVERIFY(back->iccProfile.isEmpty());
    }
    QCOMPARE(back->jpegQuality, quality);
}

// Several workers at once give the same bytes as one alone.
void PicturesTest::convertsInParallel() {
    QTemporaryDir dir;
    const QStringList sources = {"hopper.jpg", "transparent.gif", "pil_sample_cmyk.jpg",
                                 "tiff_16bit_RGBa.tiff"};
    auto convert = [&](int worker, int round) {
        for (const QString& name : sources) {
            const PictureObject picture = loadPictureFile(corpusDir("good") + "/" + name);
            for (const char* target : {"png", "gif", "jpg"})
                saveAs(*picture, dir.filePath(QStringLiteral("%1-%2-%3.%4")
                                                  .arg(worker)
                                                  .arg(round)
                                                  .arg(name)
                                                  .arg(target)));
        }
    };
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 4; ++worker)
        workers.emplace_back([&, worker] {
            for (int round = 0; round < 3; ++round)
                convert(worker, round);
        });
    for (std::thread& t : workers)
        t.join();
    const QStringList written = entries(dir.path());
    QCOMPARE(written.size(), 4 * 3 * sources.size() * 3);
    for (const QString& name : written) {
        const QString reference = QStringLiteral("0-0-") + name.section(u'-', 2);
        QCOMPARE(fileHead(dir.filePath(name), 1 << 24), fileHead(dir.filePath(reference), 1 << 24));
    }
}

void PicturesTest::survivesBadFiles_data() {
    QTest::addColumn<QString>("source");
    const QStringList files = QDir(corpusDir("bad")).entryList(QDir::Files, QDir::Name);
    QVERIFY(files.size() > 10);
    for (const QString& file : files)
        QTest::newRow(qPrintable(file)) << corpusDir("bad") + "/" + file;
}

void PicturesTest::survivesBadFiles() {
    QFETCH(QString, source);
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    bool converted = false;
    try {
        const PictureObject picture = loadPictureFile(source);
        QVERIFY(picture->width > 0 && picture->height > 0);
        saveAs(*picture, dir.filePath("out.png"));
        converted = true;
    } catch (const PlatformError& e) {
        QVERIFY(e.kind() == FailureKind::NotAPicture || e.kind() == FailureKind::PictureTooLarge);
        QVERIFY(e.detail().contains(QFileInfo(source).fileName()));
    }
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(entries(dir.path()), converted ? QStringList{"out.png"} : QStringList{});
}

void PicturesTest::refuses_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<FailureKind>("expected");
    QTest::newRow("svg named jpg")
        << QByteArray("<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" "
                      "width=\"10\" height=\"10\"><rect width=\"10\" height=\"10\"/></svg>")
        << FailureKind::UnsupportedFormat;
    QTest::newRow("mvg named jpg") << QByteArray("push graphic-context\nviewbox 0 0 10 10\n"
                                                 "fill red rectangle 0 0 10 10\npop "
                                                 "graphic-context\n")
                                   << FailureKind::NotAPicture;
    QTest::newRow("zero bytes") << QByteArray() << FailureKind::NotAPicture;
    QTest::newRow("jpeg magic only") << QByteArray("\xFF\xD8\xFF\xE0") << FailureKind::NotAPicture;
    QTest::newRow("png 100000 x 100000")
        << pngDeclaring(100000, 100000) << FailureKind::PictureTooLarge;
    QTest::newRow("png 20001 x 1") << pngDeclaring(20001, 1) << FailureKind::PictureTooLarge;
    QTest::newRow("png 0 x 10") << pngDeclaring(0, 10) << FailureKind::NotAPicture;
    QByteArray gif("GIF89a\xFF\xFF\xFF\xFF\x00\x00\x00;", 14);
    QTest::newRow("gif screen 65535 x 65535") << gif << FailureKind::PictureTooLarge;
}

void PicturesTest::refuses() {
    QFETCH(QByteArray, content);
    QFETCH(FailureKind, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.jpg");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(failureOf([&] { loadPictureFile(path); }), expected);
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(failureOf([&] { loadPictureFile(dir.filePath("absent.png")); }),
             FailureKind::FileMissing);
}

// A format we do not read is named by its signature, for a conversion and a
// preview alike; damaged files of our own formats are not taken for one ("").
void PicturesTest::namesFormatsWeDoNotRead_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("format");
    const auto bytes = [](std::string_view text) { return QByteArray(text.data(), text.size()); };
    const auto isoMedia = [](const char* brands) { // main brand, then the compatible ones
        QByteArray box = QByteArray("ftyp") + QByteArray(brands, 4) + QByteArray(4, '\0');
        box += QByteArray(brands + 4);
        return QByteArray(3, '\0') + char(box.size() + 4) + box + "\0\0\0\x10mdat";
    };
    using namespace std::string_view_literals;
    QTest::newRow("WebP") << bytes("RIFF\x24\0\0\0WEBPVP8 \x18\0\0\0"sv) << "WebP";
    QTest::newRow("HEIC") << isoMedia("heicmif1heic") << "HEIC";
    QTest::newRow("HEIF") << isoMedia("mif1mif1") << "HEIF";
    QTest::newRow("AVIF") << isoMedia("avifavifmif1miaf") << "AVIF";
    QTest::newRow("AVIF by a compatible brand") << isoMedia("mif1mif1avif") << "AVIF";
    QTest::newRow("CR3") << isoMedia("crx crx isom") << "CR3";
    QTest::newRow("MP4 video") << isoMedia("isomisommp41") << "";
    QTest::newRow("JPEG XL") << bytes("\xFF\x0A\xFA\x7F"sv) << "JPEG XL";
    QTest::newRow("JPEG XL box") << bytes("\0\0\0\x0CJXL \r\n\x87\n"sv) << "JPEG XL";
    QTest::newRow("JPEG 2000") << bytes("\0\0\0\x0CjP  \r\n\x87\n"sv) << "JPEG 2000";
    QTest::newRow("J2K") << bytes("\xFF\x4F\xFF\x51\0\x2F"sv) << "JPEG 2000";
    QTest::newRow("JPEG XR") << bytes("II\xBC\x01\x08\0\0\0"sv) << "JPEG XR";
    QTest::newRow("PDF") << QByteArray("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n") << "PDF";
    QTest::newRow("PostScript") << QByteArray("%!PS-Adobe-3.0\n%%Pages: 1\n") << "PostScript";
    QTest::newRow("EPS") << QByteArray("%!PS-Adobe-3.0 EPSF-3.0\n") << "EPS";
    QTest::newRow("EPS with preview") << bytes("\xC5\xD0\xD3\xC6\x20\0\0\0"sv) << "EPS";
    QTest::newRow("PSB") << bytes("8BPS\0\2\0\0\0\0\0\0\0\3"sv) << "PSB";
    QTest::newRow("OpenEXR") << bytes("v/1\x01\2\0\0\0"sv) << "OpenEXR";
    QTest::newRow("Radiance") << QByteArray("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n")
                              << "Radiance HDR";
    QTest::newRow("XCF") << QByteArray("gimp xcf v011\0", 14) << "XCF";
    QTest::newRow("QOI") << QByteArray("qoif\0\0\0\x10\0\0\0\x10\4\0", 14) << "QOI";
    QTest::newRow("WMF") << bytes("\xD7\xCD\xC6\x9A\0\0"sv) << "WMF";
    QTest::newRow("EMF") << bytes("\1\0\0\0\x6C\0\0\0"sv) + QByteArray(32, '\0') + " EMF"
                         << "EMF";
    QTest::newRow("CRW") << bytes("II\x1A\0\0\0HEAPCCDR"sv) << "CRW";
    QTest::newRow("RAF") << QByteArray("FUJIFILMCCD-RAW 0201") << "RAF";
    QTest::newRow("ORF") << bytes("IIRO\x08\0\0\0"sv) << "ORF";
    QTest::newRow("RW2") << bytes("IIU\0\x08\0\0\0"sv) << "RW2";
    QTest::newRow("PBM") << QByteArray("P1\n2 2\n0 1\n1 0\n") << "PBM";
    QTest::newRow("PPM") << QByteArray("P6\n1 1\n255\n\0\0\0", 14) << "PPM";
    QTest::newRow("PAM") << QByteArray("P7\nWIDTH 1\n") << "PAM";
    const QByteArray svg("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>");
    QTest::newRow("SVG") << svg << "SVG";
    QTest::newRow("SVG after a BOM and blanks") << "\xEF\xBB\xBF\n  " + svg << "SVG";
    QTest::newRow("SVG after declaration, comment, doctype")
        << "<?xml version=\"1.0\"?>\n<!-- drawn by hand -->\n<!DOCTYPE svg PUBLIC "
           "\"-//W3C//DTD SVG 1.1//EN\" \"x.dtd\">\n" +
               svg
        << "SVG";
    QTest::newRow("HTML holding an SVG") << "<!DOCTYPE html><html><body>" + svg << "";
    QTest::newRow("XML of another kind") << QByteArray("<?xml version=\"1.0\"?><svgs/>") << "";
    QTest::newRow("text") << QByteArray("P1 is a text file") << "";
    const QByteArray jpeg = fileHead(corpusDir("good") + "/hopper.jpg", 1 << 20);
    const QByteArray png = fileHead(corpusDir("good") + "/hopper.png", 1 << 20);
    QTest::newRow("JPEG cut in its headers") << jpeg.left(300) << "";
    QTest::newRow("PNG cut in its data") << png.left(png.size() / 2) << "";
}

void PicturesTest::namesFormatsWeDoNotRead() {
    QFETCH(QByteArray, content);
    QFETCH(QString, format);
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.png");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    for (const bool preview : {false, true}) {
        try {
            preview ? loadPreviewFile(path, 100, 100) : loadPictureFile(path);
            QFAIL("read as a picture");
        } catch (const PlatformError& e) {
            QCOMPARE(e.kind(),
                     format.isEmpty() ? FailureKind::NotAPicture : FailureKind::UnsupportedFormat);
            QCOMPARE(e.formatName(), format);
        }
    }
}

void PicturesTest::codecRefusesOtherCoders_data() {
    QTest::addColumn<QString>("coder");
    QTest::addColumn<QByteArray>("content");
    const QByteArray svg("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>");
    QTest::newRow("SVG") << "SVG" << svg;
    QTest::newRow("MVG") << "MVG" << QByteArray("viewbox 0 0 4 4\nfill red rectangle 0 0 4 4\n");
    QTest::newRow("MSL") << "MSL" << QByteArray("<image><read filename=\"/etc/hosts\"/></image>");
    QTest::newRow("TEXT") << "TEXT" << QByteArray("hello");
    QTest::newRow("PS") << "PS" << QByteArray("%!PS\nshowpage\n");
    QTest::newRow("EPHEMERAL") << "EPHEMERAL" << QByteArray("x");
    QTest::newRow("URL") << "URL" << QByteArray("x");
    QTest::newRow("PSD write") << "PSD" << QByteArray();
}

// The allow-list itself, not just our own format detection.
void PicturesTest::codecRefusesOtherCoders() {
    QFETCH(QString, coder);
    QFETCH(QByteArray, content);
    QVERIFY(prepareMagick().isEmpty());
    Magick::Image image;
    QString message;
    try {
        if (content.isEmpty()) {
            const quint8 red[3] = {255, 0, 0};
            Magick::Image pixel(1, 1, "RGB", MagickCore::CharPixel, red);
            Magick::Blob out;
            pixel.write(&out, coder.toStdString());
        } else {
            image.read(Magick::Blob(content.constData(), size_t(content.size())),
                       coder.toStdString());
        }
    } catch (const Magick::Exception& e) {
        message = QString::fromLocal8Bit(e.what());
    }
    // Refused either by the policy check or because the coder may not even load.
    QVERIFY2(message.contains("security policy") || message.contains("no decode delegate"),
             qPrintable(message));
}

// Our limits hold whatever a system's policy caps them at (Debian's caps the
// pixel cache far below them): the policy file of ours in the temporary
// folder was found and read, under any user's folder name.
void PicturesTest::appliesOurResourceLimits_data() {
    QTest::addColumn<int>("resource");
    QTest::addColumn<qint64>("limit");
    using namespace MagickCore;
    QTest::newRow("width") << int(WidthResource) << kMaxPictureSide;
    QTest::newRow("height") << int(HeightResource) << kMaxPictureSide;
    QTest::newRow("area") << int(AreaResource) << kMaxPicturePixels * 10;
    QTest::newRow("disk") << int(DiskResource) << qint64(1024) * 1024 * 1024;
    QTest::newRow("threads") << int(ThreadResource) << qint64(1);
}

void PicturesTest::appliesOurResourceLimits() {
    QFETCH(int, resource);
    QFETCH(qint64, limit);
    QVERIFY(prepareMagick().isEmpty());
    QCOMPARE(qint64(MagickCore::GetMagickResourceLimit(MagickCore::ResourceType(resource))), limit);
}

// The rights the codec runs with, whichever way its policy was installed and
// whatever the system's policy files add. Also run by ctest under a system
// policy that takes a module away (the codec must then refuse every picture).
void PicturesTest::grantsOurRightsOnly_data() {
    QTest::addColumn<int>("domain");
    QTest::addColumn<int>("rights");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("allowed");
    using namespace MagickCore;
    const auto row = [](PolicyDomain domain, PolicyRights rights, const char* name, bool allowed) {
        QTest::addRow("%s %s %s", CommandOptionToMnemonic(MagickPolicyDomainOptions, domain), name,
                      CommandOptionToMnemonic(MagickPolicyRightsOptions, rights))
            << int(domain) << int(rights) << QByteArray(name) << allowed;
    };
    for (const char* format : {"JPEG", "BMP", "GIF", "PCX", "PNG", "ICO", "TIFF"})
        for (PolicyRights rights : {ReadPolicyRights, WritePolicyRights})
            row(CoderPolicyDomain, rights, format, true);
    row(CoderPolicyDomain, ReadPolicyRights, "PSD", true);
    for (const char* coder : {"SVG", "MVG", "MSL", "TEXT", "PS", "PDF", "URL"})
        row(CoderPolicyDomain, ReadPolicyRights, coder, false);
    for (const char* delegate : {"gs", "https", "svg"})
        row(DelegatePolicyDomain, ExecutePolicyRights, delegate, false);
    row(PathPolicyDomain, ReadPolicyRights, "@pictures.txt", false);
}

void PicturesTest::grantsOurRightsOnly() {
    QFETCH(int, domain);
    QFETCH(int, rights);
    QFETCH(QByteArray, name);
    QFETCH(bool, allowed);
    if (const QString notReady = prepareMagick(); !notReady.isEmpty()) {
        QCOMPARE(failureOf([] { loadPictureFile(corpusDir("good") + "/hopper.png"); }),
                 FailureKind::CodecNotReady);
        QFAIL(qPrintable(notReady));
    }
    QCOMPARE(MagickCore::IsRightsAuthorized(MagickCore::PolicyDomain(domain),
                                            MagickCore::PolicyRights(rights),
                                            name.constData()) == MagickCore::MagickTrue,
             allowed);
}

void PicturesTest::takesNamesLiterally_data() {
    QTest::addColumn<QString>("stem");
    // Windows allows neither ':' nor '"' in a file name.
#ifndef Q_OS_WIN
    QTest::newRow("colon") << "png:a";
    QTest::newRow("spaces and quotes") << "my 'pic' \"x\"";
#endif
    QTest::newRow("frame index") << "a[1]";
    QTest::newRow("printf pattern") << "a%d";
    QTest::newRow("spaces and single quotes") << "my 'pic' x";
    QTest::newRow("chinese") << QString::fromUtf8("照片 一");
    QTest::newRow("at sign") << "@list";
}

void PicturesTest::takesNamesLiterally() {
    QFETCH(QString, stem);
    QTemporaryDir dir;
    const QString source = dir.filePath(stem + ".png");
    QVERIFY(QFile::copy(corpusDir("good") + "/hopper.png", source));
    // The PNG output replaces the copy, which keeps the corpus file's
    // read-only mode (a read-only file that Windows refuses to replace).
    QVERIFY(QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner));
    const PictureObject picture = loadPictureFile(source);
    QCOMPARE(picture->width, 128);
    for (const QString& target : kTargets)
        saveAs(*picture, dir.filePath(stem + "." + target));
    QStringList expected{stem + ".png"};
    for (const QString& target : kTargets)
        if (target != "png")
            expected << stem + "." + target;
    expected.sort();
    QStringList written = entries(dir.path());
    written.sort();
    QCOMPARE(written, expected);
    QVERIFY(hasMagic(fileHead(dir.filePath(stem + ".gif"), 8), "gif"));
}

void PicturesTest::failedSaveKeepsExistingFile() {
    QTemporaryDir dir;
    const QString target = dir.filePath("old.jpg");
    const Picture good = solid(8, 8, Picture::Channels::Rgb, {200, 10, 10});
    saveAs(good, target);
    const QByteArray before = fileHead(target, 1 << 20);
    Picture broken = good;
    broken.pixels.chop(5);
    QCOMPARE(failureOf([&] { saveAs(broken, target); }), FailureKind::CannotWrite);
    QCOMPARE(fileHead(target, 1 << 20), before);
    QCOMPARE(entries(dir.path()), QStringList{"old.jpg"});
}

// An empty file name previews as the empty picture, and converts to nothing.
void PicturesTest::emptyPictures() {
    FilePictureCodec codec;
    QCOMPARE(codec.loadPreview(QString()), PictureObject());
    QTemporaryDir dir;
    const QString target = dir.filePath("out.png");
    QCOMPARE(failureOf([&] { codec.convert(QString(), TargetFormat::Png, target); }),
             FailureKind::FileMissing);
    QVERIFY(!QFile::exists(target));
}

QTEST_GUILESS_MAIN(PicturesTest)
#include "tst_pictures.moc"
