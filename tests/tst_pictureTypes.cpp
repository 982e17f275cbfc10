// SPDX-License-Identifier: MIT
// The type each target is written in for each kind of picture (bilevel, gray,
// few colours, photo), and the samples it keeps.
#include "conversion/PictureConversion.h"
#include "magick/MagickSetup.h"
#include "support/FileTesting.h"
#include "support/PictureFileTesting.h"

#include <tiffio.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

quint32 littleEndian(const QByteArray& b, qsizetype at, int size) {
    quint32 v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | quint8(b.at(at + i));
    return v;
}

quint32 next(quint32& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

// The generated pictures, 8-bit, with odd widths so packed rows end
// mid-byte. `colour(x, y)` gives 0xAARRGGBB.
template <typename Colour>
Picture generated(int width, int height, Picture::Channels channels, Colour colour) {
    Picture p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    p.pixels = QByteArray(p.bytesPerLine() * height, Qt::Uninitialized);
    auto* s = reinterpret_cast<uchar*>(p.pixels.data());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const quint32 c = colour(x, y);
            if (channels == Picture::Channels::Gray) {
                *s++ = uchar(c);
                continue;
            }
            *s++ = uchar(c >> 16);
            *s++ = uchar(c >> 8);
            *s++ = uchar(c);
            if (channels == Picture::Channels::Rgba)
                *s++ = uchar(c >> 24);
        }
    return p;
}

// The picture at 16 bits, each low byte unlike its high one so that 8 bits
// would not hold the samples.
Picture widened(const Picture& p) {
    Picture wide = p;
    wide.bitsPerSample = 16;
    wide.pixels.resize(p.pixels.size() * 2);
    auto* d = reinterpret_cast<quint16*>(wide.pixels.data());
    for (qsizetype i = 0; i < p.pixels.size(); ++i)
        d[i] = quint16(quint8(p.pixels[i]) << 8 | (quint8(p.pixels[i]) ^ 0x5A));
    return wide;
}

Picture pictureNamed(const QString& name) {
    using C = Picture::Channels;
    if (name == "bilevel") // text-like strokes on white
        return generated(67, 43, C::Rgb, [](int x, int y) {
            return opaque((x / 3 + y / 5) % 4 == 0 || x % 7 == 0 ? 0 : 0xFFFFFF);
        });
    if (name == "bilevel dither")
        return generated(64, 48, C::Rgb, [](int x, int y) {
            return opaque((x + y) % 2 == 0 || (x * y) % 5 == 1 ? 0 : 0xFFFFFF);
        });
    if (name == "white")
        return generated(9, 5, C::Rgb, [](int, int) { return opaque(0xFFFFFF); });
    if (name == "gray") // a scan's shading: one level a row, all 256 levels
        return generated(61, 256, C::Gray, [](int, int y) { return quint32(255 - y); });
    if (name == "gray noise")
        return generated(61, 40, C::Rgb, [seed = 7u](int, int) mutable {
            const quint32 v = next(seed) & 0xFF;
            return opaque(v << 16 | v << 8 | v);
        });
    if (name == "16 colours") // in no order, as a dithered picture
        return generated(45, 30, C::Rgb, [seed = 5u](int, int) mutable {
            return opaque((next(seed) & 15) * 0x0F0B07u);
        });
    if (name == "256 colours") // in no order: the runs would not pay
        return generated(64, 64, C::Rgb, [seed = 3u](int x, int y) mutable {
            const quint32 i = (quint32(y * 64 + x) + (next(seed) & 0xFF)) & 0xFF;
            return opaque(i * 0x010307u & 0xFFFFFF);
        });
    if (name == "photo")
        return generated(53, 37, C::Rgb, [seed = 11u](int x, int y) mutable {
            return opaque(quint32(x * 4) << 16 | quint32(y * 6) << 8 | (next(seed) & 0xFF));
        });
    if (name == "flat, gradient corner") // a graphic of thousands of colours
        return generated(201, 150, C::Rgb, [](int x, int y) {
            return opaque(x < 64 && y < 64 ? quint32(255 - x) << 16 | quint32(64 + y) << 8 | 127
                                           : 0xFF407F);
        });
    if (name == "few colours, 16-bit")
        return widened(generated(201, 150, C::Rgb, [](int x, int y) {
            return opaque(x < 100 ? 0x334CB2 : y < 75 ? 0xE6D91A : 0x1A9933);
        }));
    if (name == "16 colours, cut out") // opaque or fully transparent
        return generated(40, 33, C::Rgba, [](int x, int y) {
            const quint32 rgb = quint32((x / 5 + y / 3) % 15 + 1) * 0x110D05u;
            return (x - 20) * (x - 20) + (y - 16) * (y - 16) > 196 ? rgb : opaque(rgb);
        });
    if (name == "gray, cut out") // a level a column, the corners transparent
        return generated(40, 30, C::Rgba, [](int x, int y) {
            const quint32 gray = quint32(x * 6) * 0x010101u;
            return (x < 5 || x > 34) && (y < 5 || y > 24) ? gray : opaque(gray);
        });
    if (name == "4 colours, half transparent") // becomes few colours on white
        return generated(30, 20, C::Rgba, [](int x, int y) {
            return (x < 15 ? 0x80000000u : 0xFF000000u) | (y < 10 ? 0xFF0000u : 0x0000FFu);
        });
    if (name == "icon of 256 x 256")
        return generated(256, 256, C::Rgb, [](int x, int y) {
            return opaque(quint32((x / 32 + y / 32) % 8) * 0x1F0F07u);
        });
    if (name == "cut-out icon of 256 x 256")
        return generated(256, 256, C::Rgba, [](int x, int y) {
            const quint32 rgb = quint32((x / 32 + y / 32) % 8) * 0x1F0F07u;
            return x < 64 && y < 64 ? rgb : opaque(rgb);
        });
    return {};
}

// What the written file's header says: the bits a pixel and how the pixels
// are stored, in the format's own terms.
QString typeWritten(const QString& path, const QString& target) {
    const QByteArray b = readAll(path);
    if (target == "bmp")
        return QStringLiteral("%1-bit compression %2")
            .arg(littleEndian(b, 28, 2))
            .arg(littleEndian(b, 30, 4));
    if (target == "pcx")
        return QStringLiteral("%1-bit %2 planes").arg(int(b.at(3))).arg(int(b.at(65)));
    if (target == "ico") {
        const qsizetype at = littleEndian(b, 18, 4);
        if (b.mid(at, 8) == "\x89PNG\r\n\x1A\n")
            return QStringLiteral("PNG colour type %1").arg(int(b.at(at + 25)));
        return QStringLiteral("%1-bit").arg(littleEndian(b, at + 14, 2));
    }
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "r");
    if (!tiff)
        return QStringLiteral("unreadable");
    uint16_t bits = 0, samples = 0, photometric = 0, compression = 0, predictor = PREDICTOR_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_ADOBE_DEFLATE)
        TIFFGetField(tiff, TIFFTAG_PREDICTOR, &predictor);
    TIFFClose(tiff);
    const char* kind = photometric == PHOTOMETRIC_MINISWHITE   ? "white-is-zero"
                       : photometric == PHOTOMETRIC_MINISBLACK ? "gray"
                       : photometric == PHOTOMETRIC_PALETTE    ? "palette"
                                                               : "rgb";
    const char* packing =
        compression == COMPRESSION_CCITTFAX4 ? "G4"
        : compression == COMPRESSION_ADOBE_DEFLATE
            ? (predictor == PREDICTOR_HORIZONTAL ? "Deflate predictor" : "Deflate")
        : compression == COMPRESSION_NONE ? "none"
                                          : "other";
    return QStringLiteral("%1x%2-bit %3 %4").arg(samples).arg(bits).arg(kind, packing);
}

void comparePixels(const Picture& seen, const Picture& expected) {
    QCOMPARE(seen.width, expected.width);
    QCOMPARE(seen.height, expected.height);
    if (expected.bitsPerSample == 16) {
        QCOMPARE(seen.bitsPerSample, 16);
        QCOMPARE(seen.pixels, expected.pixels);
        return;
    }
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (argbAt(seen, x, y) != argbAt(expected, x, y))
                QFAIL(qPrintable(QStringLiteral("(%1, %2) is %3, not %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(argbAt(seen, x, y), 8, 16, QChar('0'))
                                     .arg(argbAt(expected, x, y), 8, 16, QChar('0'))));
}

} // namespace

class PictureTypesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(prepareMagick().isEmpty());
        QVERIFY(m_dir.isValid());
    }
    void keepsTheSmallestType_data();
    void keepsTheSmallestType();
};

void PictureTypesTest::keepsTheSmallestType_data() {
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("type");
    const struct {
        const char* picture;
        const char* bmp;
        const char* pcx;
        const char* tiff;
        const char* ico;
    } rows[] = {
        {"bilevel", "1-bit compression 0", "1-bit 1 planes", "1x1-bit white-is-zero G4", "1-bit"},
        {"white", "1-bit compression 0", "1-bit 1 planes", "1x1-bit white-is-zero G4", "1-bit"},
        {"gray", "8-bit compression 1", "8-bit 1 planes", "1x8-bit gray Deflate predictor",
         "8-bit"},
        {"gray noise", "8-bit compression 0", "8-bit 1 planes", "1x8-bit gray Deflate predictor",
         "8-bit"},
        {"16 colours", "4-bit compression 0", "8-bit 1 planes", "1x4-bit palette Deflate", "4-bit"},
        {"256 colours", "8-bit compression 0", "8-bit 1 planes", "1x8-bit palette Deflate",
         "8-bit"},
        {"photo", "24-bit compression 0", "8-bit 3 planes", "3x8-bit rgb none", "32-bit"},
        // Flat areas and gradients keep their colours and compress.
        {"flat, gradient corner", "24-bit compression 0", "8-bit 3 planes",
         "3x8-bit rgb Deflate predictor", "32-bit"},
        {"few colours, 16-bit", nullptr, nullptr, "3x16-bit rgb Deflate predictor", nullptr},
        // Flattened onto white for BMP and PCX: the cut-out part adds white;
        // the flat areas take fewer bytes as runs.
        {"16 colours, cut out", "8-bit compression 1", "8-bit 1 planes", "4x8-bit rgb Deflate",
         "4-bit"},
        {"4 colours, half transparent", "8-bit compression 1", "8-bit 1 planes",
         "4x8-bit rgb Deflate", "32-bit"},
        // Gray with alpha goes through the general path for TIFF.
        {"gray, cut out", "8-bit compression 0", "8-bit 1 planes", "2x8-bit gray Deflate predictor",
         "8-bit"},
        // Group 4 codes a dither pattern in more bytes than its bare bits.
        {"bilevel dither", "1-bit compression 0", "1-bit 1 planes", "1x1-bit white-is-zero Deflate",
         "1-bit"},
    };
    for (const auto& row : rows)
        for (const auto& [target, type] : {std::pair{"bmp", row.bmp}, std::pair{"pcx", row.pcx},
                                           std::pair{"tiff", row.tiff}, std::pair{"ico", row.ico}})
            if (type) // none: the target is not among the row's concerns
                QTest::addRow("%s to %s", row.picture, target) << row.picture << target << type;
    QTest::newRow("icon of 256 x 256 to ico") << "icon of 256 x 256"
                                              << "ico"
                                              << "PNG colour type 3";
    // The icon writer writes a PNG entry with transparency as RGBA.
    QTest::newRow("cut-out icon of 256 x 256 to ico") << "cut-out icon of 256 x 256"
                                                      << "ico"
                                                      << "PNG colour type 6";
}

// The header says the smallest type that holds the picture, and the pixels
// read back are those of the type written before (24-bit bitmaps and PCX,
// uncompressed TIFF, 32-bit icons), as ImageMagick decodes both.
void PictureTypesTest::keepsTheSmallestType() {
    QFETCH(QString, picture);
    QFETCH(QString, target);
    QFETCH(QString, type);
    const Picture source = pictureNamed(picture);
    QVERIFY(source.width > 0);
    const QString written = path("typed." + target);
    saveAs(source, written);
    QCOMPARE(typeWritten(written, target), type);
    const PictureObject back = loadGeneral(written);
    if (target == "ico") {
        comparePixels(*back, source);
        return;
    }
    const QString before = path("before." + target);
    saveGeneral(source, before);
    comparePixels(*back, *loadGeneral(before));
}

QTEST_GUILESS_MAIN(PictureTypesTest)
#include "tst_pictureTypes.moc"
