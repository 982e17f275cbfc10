// SPDX-License-Identifier: MIT
// Decodes the general path gets wrong: TIFFs in separate planes, GIF frames
// reaching past the logical screen, 1-bit PCX.
#include "conversion/PictureConversion.h"
#include "magick/MagickSetup.h"
#include "support/FileTesting.h"
#include "support/PictureFileTesting.h"

#include <Magick++.h>
#include <tiffio.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

// A TIFF in separate planes, written by libtiff: samples[s] holds plane s.
bool writePlanarTiff(const QString& path, int width, int height, int bits, int photometric,
                     int extra, int compression, const QList<QList<quint16>>& samples) {
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tiff)
        return false;
    const uint16_t count = uint16_t(samples.size());
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height)) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(bits)) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, count) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_SEPARATE)) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, uint16_t(photometric)) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, uint16_t(compression)) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(4));
    if (ok && extra >= 0) {
        const uint16_t kind = uint16_t(extra);
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
    }
    QByteArray row(width * bits / 8, '\0');
    for (uint16_t s = 0; ok && s < count; ++s)
        for (int y = 0; ok && y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const quint16 v = samples[s][y * width + x];
                if (bits == 8)
                    row[x] = char(v);
                else
                    std::memcpy(row.data() + 2 * x, &v, 2);
            }
            ok = TIFFWriteScanline(tiff, row.data(), uint32_t(y), s) == 1;
        }
    TIFFClose(tiff);
    return ok;
}

// The GIF with its logical screen and its frame's place set: ImageMagick
// writes the frame, the header is then made to say what the case needs.
QByteArray gifWithScreen(const QString& path, int frameSide, int screenSide, int left, int top) {
    QByteArray rgb;
    for (int y = 0; y < frameSide; ++y)
        for (int x = 0; x < frameSide; ++x)
            rgb += x < frameSide / 2 ? QByteArray("\xFF\0\0", 3) : QByteArray("\0\0\xFF", 3);
    Magick::Image frame(static_cast<size_t>(frameSide), static_cast<size_t>(frameSide), "RGB",
                        MagickCore::CharPixel, rgb.constData());
    frame.write(path.toStdString() + ".gif");
    QByteArray gif = readAll(path + ".gif");
    auto put16 = [&](qsizetype at, int v) {
        gif[at] = char(v & 0xFF);
        gif[at + 1] = char(v >> 8);
    };
    put16(6, screenSide);
    put16(8, screenSide);
    qsizetype at = 13;
    if (quint8(gif.at(10)) & 0x80)
        at += 3 * (2 << (quint8(gif.at(10)) & 7));
    while (gif.at(at) == 0x21) { // extensions: label, then blocks up to an empty one
        at += 2;
        while (gif.at(at) != 0)
            at += quint8(gif.at(at)) + 1;
        ++at;
    }
    if (gif.at(at) != 0x2C)
        return {};
    put16(at + 1, left);
    put16(at + 3, top);
    return gif;
}

} // namespace

class PictureDecodesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(prepareMagick().isEmpty());
        QVERIFY(m_dir.isValid());
    }
    void readsSeparatePlanes_data();
    void readsSeparatePlanes();
    void clipsGifFrameToScreen_data();
    void clipsGifFrameToScreen();
    void readsOneBitPcxSetBitsAsWhite();
};

void PictureDecodesTest::readsSeparatePlanes_data() {
    QTest::addColumn<int>("photometric");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("extra"); // the extra sample's kind, -1 for none
    QTest::addColumn<int>("compression");
    QTest::newRow("gray and alpha") << int(PHOTOMETRIC_MINISBLACK) << 2 << 8
                                    << int(EXTRASAMPLE_UNASSALPHA) << int(COMPRESSION_NONE);
    QTest::newRow("gray and alpha, Deflate")
        << int(PHOTOMETRIC_MINISBLACK) << 2 << 8 << int(EXTRASAMPLE_UNASSALPHA)
        << int(COMPRESSION_ADOBE_DEFLATE);
    QTest::newRow("gray and alpha, 16-bit") << int(PHOTOMETRIC_MINISBLACK) << 2 << 16
                                            << int(EXTRASAMPLE_UNASSALPHA) << int(COMPRESSION_LZW);
    QTest::newRow("gray and premultiplied alpha")
        << int(PHOTOMETRIC_MINISBLACK) << 2 << 8 << int(EXTRASAMPLE_ASSOCALPHA)
        << int(COMPRESSION_NONE);
    QTest::newRow("white-is-zero and alpha")
        << int(PHOTOMETRIC_MINISWHITE) << 2 << 8 << int(EXTRASAMPLE_UNASSALPHA)
        << int(COMPRESSION_NONE);
    QTest::newRow("rgb") << int(PHOTOMETRIC_RGB) << 3 << 8 << -1 << int(COMPRESSION_LZW);
    QTest::newRow("rgb and alpha, 16-bit")
        << int(PHOTOMETRIC_RGB) << 4 << 16 << int(EXTRASAMPLE_UNASSALPHA) << int(COMPRESSION_NONE);
}

// Each plane lands in its channel: gray with alpha reads as gray (equal colour
// samples) with its alpha, not as red and green.
void PictureDecodesTest::readsSeparatePlanes() {
    QFETCH(int, photometric);
    QFETCH(int, samples);
    QFETCH(int, bits);
    QFETCH(int, extra);
    QFETCH(int, compression);
    const int width = 23;
    const int height = 11;
    const int max = bits == 8 ? 255 : 65535;
    const bool alpha = extra >= 0;
    const bool premultiplied = extra == EXTRASAMPLE_ASSOCALPHA;
    const int colours = alpha ? samples - 1 : samples;
    // Alpha runs through 0 .. max across; premultiplied alpha is full or none.
    auto alphaAt = [&](int x) { return premultiplied ? (x % 2) * max : x * max / (width - 1); };
    auto colourAt = [&](int x, int y, int s) {
        return ((x * 37 + y * 11 + s * 90) % 256) * max / 255;
    };
    QList<QList<quint16>> planes(samples);
    for (int s = 0; s < samples; ++s)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                int v = s == colours ? alphaAt(x) : colourAt(x, y, s);
                if (s < colours && premultiplied && alphaAt(x) == 0)
                    v = 0;
                planes[s] << quint16(v);
            }
    const QString file = path("planes.tif");
    QVERIFY(writePlanarTiff(file, width, height, bits, photometric, extra, compression, planes));

    const PictureObject picture = loadPictureFile(file);
    QCOMPARE(picture->width, width);
    QCOMPARE(picture->height, height);
    QCOMPARE(picture->bitsPerSample, bits);
    const int channels = alpha ? 4 : colours;
    QCOMPARE(picture->channelCount(), channels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                int expected = c == 3 ? alphaAt(x) : colourAt(x, y, colours == 1 ? 0 : c);
                if (c < 3 && photometric == PHOTOMETRIC_MINISWHITE)
                    expected = max - expected;
                if (c < 3 && premultiplied && alphaAt(x) == 0)
                    expected = 0;
                const qsizetype at = (qsizetype(y) * width + x) * channels + c;
                quint16 seen = 0;
                if (bits == 8)
                    seen = quint8(picture->pixels.at(at));
                else
                    std::memcpy(&seen, picture->pixels.constData() + 2 * at, 2);
                if (seen != expected)
                    QFAIL(qPrintable(QStringLiteral("(%1, %2) channel %3 is %4, not %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(c)
                                         .arg(seen)
                                         .arg(expected)));
            }
}

void PictureDecodesTest::clipsGifFrameToScreen_data() {
    QTest::addColumn<int>("frameSide");
    QTest::addColumn<int>("screenSide");
    QTest::addColumn<int>("offset"); // the frame's place, across and down
    QTest::newRow("frame past the corner") << 16 << 32 << 24;
    QTest::newRow("frame inside") << 16 << 32 << 8;
    QTest::newRow("frame larger than the screen") << 32 << 16 << 0;
    QTest::newRow("frame filling the screen") << 16 << 16 << 0;
}

// The picture is the logical screen: the frame at its place, the rest
// transparent, what lies beyond the screen cut off.
void PictureDecodesTest::clipsGifFrameToScreen() {
    QFETCH(int, frameSide);
    QFETCH(int, screenSide);
    QFETCH(int, offset);
    const QString file = path("screen.gif");
    const QByteArray gif = gifWithScreen(file, frameSide, screenSide, offset, offset);
    QVERIFY(!gif.isEmpty());
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(gif) == gif.size());
    out.close();

    const PictureObject picture = loadPictureFile(file);
    QCOMPARE(picture->width, screenSide);
    QCOMPARE(picture->height, screenSide);
    const Picture& p = *picture;
    for (int y = 0; y < screenSide; ++y)
        for (int x = 0; x < screenSide; ++x) {
            const int fx = x - offset;
            const int fy = y - offset;
            const bool inFrame = fx >= 0 && fy >= 0 && fx < frameSide && fy < frameSide;
            const quint32 expected = !inFrame             ? 0
                                     : fx < frameSide / 2 ? opaque(0xFF0000)
                                                          : opaque(0x0000FF);
            if (argbAt(p, x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("(%1, %2) is %3")
                                     .arg(x)
                                     .arg(y)
                                     .arg(argbAt(p, x, y), 8, 16, QChar('0'))));
        }
}

// A PCX of one bit and one plane, as written by other programs: a set bit is
// white, whatever the 16-colour header palette holds.
void PictureDecodesTest::readsOneBitPcxSetBitsAsWhite() {
    QByteArray pcx(128, '\0');
    pcx[0] = 0x0A;
    pcx[1] = 5;
    pcx[2] = 1;
    pcx[3] = 1;
    pcx[8] = 9; // ten pixels across, two down
    pcx[10] = 1;
    pcx[65] = 1;
    pcx[66] = 2;
    pcx += QByteArray("\x0F\x40\xC1\xF0\x00", 5); // runs: 0x0F 0x40, then 0xF0 0x00
    const QString file = path("onebit.pcx");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(pcx) == pcx.size());
    out.close();
    const PictureObject picture = loadPictureFile(file);
    QCOMPARE(picture->width, 10);
    QCOMPARE(picture->height, 2);
    const char* rows[] = {"0000111101", "1111000000"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x)
            QCOMPARE(argbAt(*picture, x, y), opaque(rows[y][x] == '1' ? 0xFFFFFF : 0));
}

QTEST_GUILESS_MAIN(PictureDecodesTest)
#include "tst_pictureDecodes.moc"
