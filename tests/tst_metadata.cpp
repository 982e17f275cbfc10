// SPDX-License-Identifier: MIT
// What a photo carries, through a conversion: which blocks each target keeps
// and what their tags say; damaged EXIF; and JPG written from a JPEG without
// a second generation.
#include "conversion/PictureConversion.h"
#include "magick/MagickSetup.h"
#include "support/CameraSources.h"
#include "support/FileTesting.h"
#include "support/MetadataTesting.h"
#include "support/PictureFileTesting.h"

#include <Magick++.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <turbojpeg.h>

#include <cstdlib>

using namespace testing;

namespace {

// The blocks an output carries, read by ImageMagick, except a PNG's eXIf and
// iTXt chunks and a TIFF's EXIF, which it does not read as blocks.
struct Carried {
    QByteArray exif, xmp, iptc, icc;
    int width = 0, height = 0;
};

Carried carriedBy(const QString& file) {
    Magick::Image image;
    image.quiet(true); // libtiff's notes on tags it types otherwise are no failure
    image.ping(file.toStdString());
    const auto profile = [&](const char* name) {
        const Magick::Blob blob = image.profile(name);
        return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
    };
    Carried carried{profile("exif"), profile("xmp"),       profile("iptc"),
                    profile("icc"),  int(image.columns()), int(image.rows())};
    if (carried.exif.startsWith(QByteArray("Exif\0\0", 6)))
        carried.exif.remove(0, 6);
    // A TIFF is a TIFF structure itself: its EXIF is its first directory's
    // descriptive tags and its Exif and GPS directories.
    if (file.endsWith(QLatin1String(".tiff"))) {
        const QMap<int, QString> tags = readTags(readAll(file));
        if (tags.contains(0x8769) || tags.contains(Make))
            carried.exif = readAll(file);
    }
    if (file.endsWith(QLatin1String(".png"))) {
        carried.exif = pngChunks(readAll(file), "eXIf").value(0);
        const QByteArray itxt = pngChunks(readAll(file), "iTXt").value(0);
        if (itxt.startsWith("XML:com.adobe.xmp"))
            carried.xmp = itxt.mid(22);
    }
    return carried;
}

} // namespace

class MetadataTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // Converted as the batch converts a row, and put in place.
    PictureObject convert(const QString& source, TargetFormat format, const QString& target) {
        PictureFileConversion c = convertPictureFile(source, format, target, 297, 365);
        c.file->commit();
        return c.picture;
    }

private slots:
    void initTestCase();
    void keepsWhatTargetHolds_data();
    void keepsWhatTargetHolds();
    void dropsDamagedExif_data();
    void dropsDamagedExif();
    void carriesJpegData_data();
    void carriesJpegData();
    void cmykBecomesSrgbJpeg();
};

void MetadataTest::initTestCase() {
    QVERIFY(prepareMagick().isEmpty());
    QVERIFY(m_dir.isValid());
    for (int orientation : {1, 6, 8})
        QVERIFY(writeAll(path(QStringLiteral("jpeg-%1.jpg").arg(orientation)),
                         cameraJpeg(orientation)));
    QVERIFY(writeAll(path("png.png"), cameraPng()));
    QVERIFY(writeAll(path("tiff.tiff"), cameraTiff()));
    QVERIFY(writeAll(path("psd.psd"), cameraPsd()));
    QVERIFY(QDir().mkpath(path("out")));
}

void MetadataTest::keepsWhatTargetHolds_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<TargetFormat>("format");
    QTest::addColumn<QString>("kept"); // E: EXIF, X: XMP, I: IPTC, C: colour profile
    QTest::addColumn<bool>("upright"); // the stored picture is turned to be upright
    struct Source {
        const char* name;
        const char* carries;
        bool turned;
    };
    const Source sources[] = {{"jpeg-1.jpg", "EXIC", false}, {"jpeg-6.jpg", "EXIC", true},
                              {"jpeg-8.jpg", "EXIC", true},  {"png.png", "EXC", false},
                              {"tiff.tiff", "EXIC", true},   {"psd.psd", "EXIC", false}};
    const std::pair<TargetFormat, const char*> targets[] = {
        {TargetFormat::Jpg, "EXIC"}, {TargetFormat::Png, "EXC"}, {TargetFormat::Tiff, "EXIC"},
        {TargetFormat::Bmp, ""},     {TargetFormat::Pcx, ""},    {TargetFormat::Gif, ""},
        {TargetFormat::Ico, ""}};
    for (const Source& s : sources)
        for (const auto& [format, holds] : targets) {
            QString kept;
            for (QChar c : QString::fromLatin1(holds))
                if (QString::fromLatin1(s.carries).contains(c))
                    kept += c;
            QTest::addRow("%s to %s", s.name, qPrintable(extensionOf(format).mid(1).toString()))
                << QString::fromLatin1(s.name) << format << kept << s.turned;
        }
}

void MetadataTest::keepsWhatTargetHolds() {
    QFETCH(QString, source);
    QFETCH(TargetFormat, format);
    QFETCH(QString, kept);
    QFETCH(bool, upright);
    const QString target = path("out/" + QFileInfo(source).baseName() + "-" +
                                QFileInfo(source).suffix() + extensionOf(format).toString());
    convert(path(source), format, target);
    const Carried carried = carriedBy(target);
    const int width = upright ? kHeight : kWidth;
    const int height = upright ? kWidth : kHeight;
    if (format != TargetFormat::Ico) {
        QCOMPARE(carried.width, width);
        QCOMPARE(carried.height, height);
    }
    QCOMPARE(!carried.exif.isEmpty(), kept.contains('E'));
    QCOMPARE(!carried.xmp.isEmpty(), kept.contains('X'));
    QCOMPARE(!carried.iptc.isEmpty(), kept.contains('I'));
    QCOMPARE(!carried.icc.isEmpty(), kept.contains('C'));
    if (kept.contains('E')) {
        const QMap<int, QString> tags = readTags(carried.exif);
        QCOMPARE(tags.value(Make), QString::fromLatin1(kMake));
        QCOMPARE(tags.value(DateTimeOriginal), QString::fromLatin1(kTaken));
        QCOMPARE(tags.value(GpsLatitude), kLatitude);
        QCOMPARE(tags.value(Orientation), QStringLiteral("1"));
        QCOMPARE(tags.value(PixelX), QString::number(width));
        QCOMPARE(tags.value(PixelY), QString::number(height));
        if (tags.contains(ImageWidth)) {
            QCOMPARE(tags.value(ImageWidth), QString::number(width));
            QCOMPARE(tags.value(ImageLength), QString::number(height));
        }
        QCOMPARE(tags.value(NextDirectory), QStringLiteral("0"));
        QVERIFY(!carried.exif.contains("THUMBNAIL"));
    }
    if (kept.contains('X')) {
        QVERIFY(carried.xmp.contains(kTitle));
        QVERIFY2(carried.xmp.contains("tiff:Orientation=\"1\""), carried.xmp.constData());
    }
    if (kept.contains('I'))
        QVERIFY(carried.iptc.contains(kKeyword));
    if (kept.contains('C'))
        QCOMPARE(carried.icc, srgbIccProfile());
    // Nothing of the blocks hides elsewhere in a file that keeps none.
    if (kept.isEmpty()) {
        const QByteArray bytes = readAll(target);
        QVERIFY(!bytes.contains(kMake) && !bytes.contains(kTitle) && !bytes.contains(kKeyword));
    }
}

// Hostile EXIF blocks (tests/regressions/exif-*.jpg, also fuzzing seeds): the
// conversion succeeds, upright by the orientation the decoder could read,
// and keeps the EXIF only when all of it can be followed.
void MetadataTest::dropsDamagedExif_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("keepsExif");
    QTest::newRow("directory past the end") << "exif-ifd-offset-past-end.jpg" << false;
    QTest::newRow("loop between directories") << "exif-loop-between-ifds.jpg" << false;
    QTest::newRow("count 2^32-1") << "exif-count-4294967295.jpg" << false;
    QTest::newRow("65535 entries") << "exif-65535-entries.jpg" << false;
    // The thumbnail's link is cut in any case, so its loop does no harm.
    QTest::newRow("thumbnail loops to IFD0") << "exif-thumbnail-loops-to-ifd0.jpg" << true;
    // The orientation is written as one SHORT, 1, whatever it was.
    QTest::newRow("orientation a BYTE") << "exif-orientation-byte.jpg" << true;
    QTest::newRow("orientation without a value") << "exif-orientation-count-0.jpg" << true;
}

void MetadataTest::dropsDamagedExif() {
    QFETCH(QString, file);
    QFETCH(bool, keepsExif);
    const QString source = QStringLiteral(VELMORA_REGRESSIONS_DIR "/") + file;
    for (TargetFormat format : {TargetFormat::Jpg, TargetFormat::Png, TargetFormat::Tiff}) {
        const QString target = path("out/damaged" + extensionOf(format).toString());
        convert(source, format, target);
        const Carried carried = carriedBy(target);
        QVERIFY(carried.width > 0 && carried.height > 0);
        QCOMPARE(!carried.exif.isEmpty(), keepsExif);
        if (keepsExif) {
            QCOMPARE(readTags(carried.exif).value(Orientation), QStringLiteral("1"));
            QCOMPARE(readTags(carried.exif).value(Make), QString::fromLatin1(kMake));
        }
    }
}

// JPG from a JPEG: the compressed data carried over when the orientation is
// normal; turned in the coefficients when every block is whole (64 x 48
// here, a multiple of 16 as 4000 x 3000 is, kept small for speed); decoded
// and encoded again otherwise, still upright; CMYK becomes an sRGB JPEG.
void MetadataTest::carriesJpegData_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("carried"); // "same", "turned", "encoded"
    QTest::newRow("normal") << 64 << 48 << 1 << "same";
    QTest::newRow("normal, partial blocks") << 65 << 49 << 1 << "same";
    QTest::newRow("orientation 6") << 64 << 48 << 6 << "turned";
    QTest::newRow("orientation 3") << 64 << 48 << 3 << "turned";
    QTest::newRow("orientation 6, partial blocks") << 65 << 49 << 6 << "encoded";
    QTest::newRow("orientation 8, partial blocks") << 65 << 49 << 8 << "encoded";
}

void MetadataTest::carriesJpegData() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, orientation);
    QFETCH(QString, carried);
    const QByteArray plain = encodedByMagick("JPEG", width, height, false);
    // A comment only a carried file keeps: encoding again writes none (and a
    // JPEG encoded again at its own quality may well come out the same).
    const QByteArray comment("carried, not encoded again");
    const QByteArray source =
        withSegments(plain, jpegSegment(0xE1, QByteArray("Exif\0\0", 6) + cameraExif(orientation)) +
                                jpegSegment(0xFE, comment));
    QVERIFY(writeAll(path("carry-source.jpg"), source));
    QVERIFY(writeAll(path("carry-plain.jpg"), plain));
    const QString target = path("out/carry.jpg");
    convert(path("carry-source.jpg"), TargetFormat::Jpg, target);
    const QByteArray out = readAll(target);
    QCOMPARE(readTags(carriedBy(target).exif).value(Orientation), QStringLiteral("1"));
    QCOMPARE(out.contains(comment), carried != QLatin1String("encoded"));

    const PictureObject expected = loadPictureFile(path("carry-source.jpg"));
    const PictureObject seen = loadPictureFile(target);
    QCOMPARE(seen->width, expected->width);
    QCOMPARE(seen->height, expected->height);
    if (carried == QLatin1String("same")) {
        QCOMPARE(scanData(out), scanData(plain));
        QCOMPARE(seen->pixels, expected->pixels);
        return;
    }
    QVERIFY(scanData(out) != scanData(plain));
    // Upright: close to the upright decode. A turned picture differs only by
    // the inverse DCT's rounding, which falls in other places once the
    // blocks are turned; one encoded again differs more. Turned the wrong way,
    // these gradients would differ by tens on average.
    qint64 total = 0;
    int largest = 0;
    for (qsizetype i = 0; i < seen->pixels.size(); ++i) {
        const int difference =
            std::abs(int(quint8(seen->pixels[i])) - int(quint8(expected->pixels[i])));
        total += difference;
        largest = std::max(largest, difference);
    }
    QVERIFY2(total < seen->pixels.size() * 4, qPrintable(QString::number(total)));
    if (carried == QLatin1String("turned"))
        QVERIFY2(largest <= 4, qPrintable(QString::number(largest)));
    if (carried == QLatin1String("turned")) {
        // Lossless: turned back, the coefficients decode to the source's samples.
        const int back = orientation == 6   ? TJXOP_ROT270
                         : orientation == 8 ? TJXOP_ROT90
                                            : TJXOP_ROT180;
        tjhandle handle = tjInitTransform();
        tjtransform transform{};
        transform.op = back;
        transform.options = TJXOPT_PERFECT | TJXOPT_COPYNONE;
        unsigned char* turned = nullptr;
        unsigned long turnedSize = 0;
        QCOMPARE(tjTransform(handle, reinterpret_cast<const unsigned char*>(out.constData()),
                             static_cast<unsigned long>(out.size()), 1, &turned, &turnedSize,
                             &transform, 0),
                 0);
        QVERIFY(writeAll(path("carry-back.jpg"),
                         QByteArray(reinterpret_cast<const char*>(turned), qsizetype(turnedSize))));
        tjFree(turned);
        tjDestroy(handle);
        QCOMPARE(loadPictureFile(path("carry-back.jpg"))->pixels,
                 loadPictureFile(path("carry-plain.jpg"))->pixels);
    }
}

void MetadataTest::cmykBecomesSrgbJpeg() {
    const QString target = path("out/cmyk.jpg");
    convert(QStringLiteral(VELMORA_CORPUS_DIR "/good/pil_sample_cmyk.jpg"), TargetFormat::Jpg,
            target);
    Magick::Image image;
    image.ping(target.toStdString());
    QCOMPARE(int(image.colorSpace()), int(MagickCore::sRGBColorspace));
    QCOMPARE(QString::fromStdString(image.attribute("jpeg:colorspace")), QStringLiteral("2"));
}

QTEST_GUILESS_MAIN(MetadataTest)
#include "tst_metadata.moc"
