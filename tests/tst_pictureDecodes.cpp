// SPDX-License-Identifier: MIT
// Decodes the general path gets wrong: TIFFs in separate planes, GIF frames
// reaching past the logical screen, 1-bit PCX; and the direct PNG and BMP
// decoders held to the general path.
#include "conversion/PictureConversion.h"
#include "formats/DirectCodecs.h"
#include "input/PictureSniffing.h"
#include "magick/MagickDecoding.h"
#include "magick/MagickSetup.h"
#include "support/FileTesting.h"
#include "support/PictureFileTesting.h"

#include <Magick++.h>
#include <png.h>
#include <tiffio.h>

#include <QDir>
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

// What a generated PNG carries besides its pixels.
enum class PngExtra {
    None,
    Transparency,
    Gamma1,
    GrayGamma1,
    Primaries,
    Profile,
    Exif6,
    Multiples257,
    BadIndex,
    GrayPalette
};

[[noreturn]] void pngFailed(png_structp, png_const_charp message) {
    throw std::runtime_error(message);
}

// A 37 x 23 PNG written by libpng, one byte a sample up to 8 bits (libpng
// packs them), samples varying across and down.
QByteArray generatedPng(int colourType, int depth, bool interlaced, PngExtra extra) {
    const int width = 37, height = 23, max = (1 << depth) - 1;
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    auto sample = [&](int x, int y, int c) {
        const int v = (x * 7 + y * 13 + c * 29) % (max + 1);
        return depth < 16 || extra == PngExtra::Multiples257 ? v : (v * 131 + x) & 0xFFFF;
    };
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
        },
        nullptr);
    png_set_check_for_invalid_index(png, 0);
    png_set_IHDR(png, info, width, height, depth, colourType, interlaced ? 1 : 0, 0, 0);
    std::vector<png_color> palette(
        colourType == 3 ? (extra == PngExtra::BadIndex ? (max + 1) / 2 : max + 1) : 0);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = extra == PngExtra::GrayPalette
                         ? png_color{png_byte(i), png_byte(i), png_byte(i)}
                         : png_color{png_byte(i * 37), png_byte(i * 91), png_byte(i * 53)};
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    const png_byte alphas[] = {0, 64, 128, 255, 10};
    png_color_16 key{0, png_uint_16(sample(1, 0, 0)), png_uint_16(sample(1, 0, 1)),
                     png_uint_16(sample(1, 0, 2)), png_uint_16(sample(1, 0, 0))};
    if (extra == PngExtra::Transparency)
        png_set_tRNS(png, info, alphas, std::min<int>(5, int(palette.size())), &key);
    if (extra == PngExtra::Gamma1 || extra == PngExtra::GrayGamma1)
        png_set_gAMA_fixed(png, info, 100000);
    if (extra == PngExtra::Primaries)
        png_set_cHRM_fixed(png, info, 31270, 32900, 70000, 30000, 20000, 70000, 15000, 6000);
    if (extra == PngExtra::Profile) {
        Magick::Image withProfile(corpusFile("icc_profile_big.jpg").toStdString());
        const Magick::Blob icc = withProfile.profile("ICC");
        png_set_iCCP(png, info, "icc", 0, static_cast<png_const_bytep>(icc.data()),
                     png_uint_32(icc.length()));
    }
    png_byte exif[] = "II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0";
    if (extra == PngExtra::Exif6)
        png_set_eXIf_1(png, info, sizeof exif - 1, exif);
    png_write_info(png, info);
    if (depth < 8)
        png_set_packing(png);
    const int passes = png_set_interlace_handling(png);
    QByteArray row(width * channels * (depth == 16 ? 2 : 1), '\0');
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels; ++c) {
                    const int v = sample(x, y, c), at = x * channels + c;
                    if (depth == 16)
                        row[2 * at] = char(v >> 8), row[2 * at + 1] = char(v);
                    else
                        row[at] = char(v);
                }
            png_write_row(png, reinterpret_cast<png_bytep>(row.data()));
        }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A 37 x 23 BMP with the 40-byte header: 8-bit with `colours` palette
// entries (the header counting none for 256) and indexes below `indexes`, or
// 24- or 32-bit, the fourth byte of a 32-bit pixel `fourth` or varying (-1).
QByteArray generatedBmp(int bits, bool topDown, int colours, int indexes, bool grayPalette,
                        int fourth) {
    const int width = 37, height = 23, stored = (width * bits + 31) / 32 * 4;
    const int start = 54 + (bits == 8 ? 4 * colours : 0);
    QByteArray b(start + stored * height, '\0');
    auto put = [&](int at, quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            b[at + i] = char(v >> (8 * i));
    };
    put(0, 'B' | 'M' << 8, 2);
    put(2, quint32(b.size()), 4);
    put(10, quint32(start), 4);
    put(14, 40, 4);
    put(18, width, 4);
    put(22, quint32(topDown ? -height : height), 4);
    put(26, 1, 2);
    put(28, quint32(bits), 2);
    put(46, colours == 256 ? 0 : quint32(colours), 4);
    for (int i = 0; i < (bits == 8 ? colours : 0); ++i)
        put(54 + 4 * i,
            grayPalette ? i * 0x010101 : (i * 37 % 256) << 16 | (i * 91 % 256) << 8 | i * 53 % 256,
            4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * bits / 8; ++x) {
            const int v = (x * 7 + y * 13) % 251;
            b[start + y * stored + x] = char(bits == 8                                 ? v % indexes
                                             : bits == 32 && x % 4 == 3 && fourth >= 0 ? fourth
                                                                                       : v);
        }
    return b;
}

// A 37 x 23 BMP as ImageMagick writes it (the 124-byte header in sRGB), of
// the given channels, each sample one of `levels` values.
QByteArray magickBmp(const std::string& map, int levels) {
    QByteArray samples;
    for (size_t i = 0; i < 37 * 23 * map.size(); ++i)
        samples += char(int(i * 37 % size_t(levels)) * 255 / (levels - 1));
    Magick::Image image(37, 23, map, MagickCore::CharPixel, samples.constData());
    Magick::Blob blob;
    image.write(&blob, "BMP");
    return QByteArray(static_cast<const char*>(blob.data()), qsizetype(blob.length()));
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
    void decodesDirectlyLikeGeneralPath_data();
    void decodesDirectlyLikeGeneralPath();
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

void PictureDecodesTest::decodesDirectlyLikeGeneralPath_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("mustTake");
    const QString corpus = QStringLiteral(VELMORA_CORPUS_DIR);
    const QStringList common{"pal8.bmp",        "rgb24.bmp",    "hopper.png",        "p_16.png",
                             "icc_profile.png", "rgb_trns.png", "p_trns_single.png", "l_trns.png",
                             "i_trns.png",      "1_trns.png"};
    for (const QString& folder : {corpus + "/good", corpus + "/bad"})
        for (const QFileInfo& file : QDir(folder).entryInfoList({"*.png", "*.bmp"}, QDir::Files))
            QTest::newRow(qPrintable(file.fileName()))
                << readAll(file.filePath()) << common.contains(file.fileName());
    const QList<QPair<int, QList<int>>> types{
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const auto& [type, depths] : types)
        for (int depth : depths)
            for (bool interlaced : {false, true})
                for (PngExtra extra : {PngExtra::None, PngExtra::Transparency})
                    if (extra == PngExtra::None || type == 0 || type == 2 || type == 3)
                        QTest::addRow("type %d, %d-bit%s%s", type, depth,
                                      interlaced ? ", interlaced" : "",
                                      extra == PngExtra::None ? "" : ", tRNS")
                            << generatedPng(type, depth, interlaced, extra) << true;
    const QList<std::tuple<const char*, int, int, PngExtra, bool>> special{
        {"gamma 1", 2, 8, PngExtra::Gamma1, false},
        {"gray, gamma 1", 0, 8, PngExtra::GrayGamma1, false},
        {"other primaries", 2, 8, PngExtra::Primaries, false},
        {"colour profile", 2, 8, PngExtra::Profile, true},
        {"EXIF orientation 6", 2, 8, PngExtra::Exif6, false},
        {"16-bit, multiples of 257", 2, 16, PngExtra::Multiples257, true},
        {"index past the palette", 3, 4, PngExtra::BadIndex, false},
        {"gray palette", 3, 8, PngExtra::GrayPalette, true}};
    for (const auto& [name, type, depth, extra, mustTake] : special)
        QTest::newRow(name) << generatedPng(type, depth, false, extra) << mustTake;
    QTest::newRow("BMP 24-bit") << generatedBmp(24, false, 0, 0, false, 0) << true;
    QTest::newRow("BMP 24-bit, top-down") << generatedBmp(24, true, 0, 0, false, 0) << true;
    QTest::newRow("BMP 32-bit, fourth bytes zero")
        << generatedBmp(32, false, 0, 0, false, 0) << true;
    QTest::newRow("BMP 32-bit, alpha") << generatedBmp(32, true, 0, 0, false, -1) << true;
    QTest::newRow("BMP 8-bit, 200 colours") << generatedBmp(8, false, 200, 200, false, 0) << true;
    QTest::newRow("BMP 8-bit, 256 gray") << generatedBmp(8, true, 256, 256, true, 0) << true;
    QTest::newRow("BMP by ImageMagick, RGB") << magickBmp("RGB", 256) << true;
    QTest::newRow("BMP by ImageMagick, RGBA") << magickBmp("RGBA", 256) << true;
    QTest::newRow("BMP by ImageMagick, few colours") << magickBmp("RGB", 5) << false;
    QTest::newRow("BMP 8-bit, index past the palette")
        << generatedBmp(8, false, 100, 256, false, 0) << false;
}

// The direct decoders either leave a file to the general path or give exactly
// its picture; the common PNGs and BMPs they take.
void PictureDecodesTest::decodesDirectlyLikeGeneralPath() {
    QFETCH(QByteArray, file);
    QFETCH(bool, mustTake);
    const std::optional<SourceHeader> header = recognise(file);
    std::optional<Picture> direct;
    try {
        if (header && header->format == SourceFormat::Bmp)
            direct = directcodec::decodeBmp(file, [](qint64, qint64) {});
        else
            direct = directcodec::decodePng(
                file, [](qint64, qint64) {},
                [&](const QByteArray& icc) {
                    return magickColourProfile(file, SourceFormat::Png, "agreement") == icc;
                });
    } catch (const directcodec::CodecError&) {
    }
    std::optional<Picture> general;
    try {
        if (header)
            general = decodeWithMagick(file, *header, "agreement", {});
    } catch (const std::exception&) {
    }
    if (mustTake)
        QVERIFY(direct.has_value());
    if (!direct)
        return;
    QVERIFY2(general.has_value(), "the general path refuses what the direct decoder took");
    QCOMPARE(direct->width, general->width);
    QCOMPARE(direct->height, general->height);
    QCOMPARE(direct->channels, general->channels);
    QCOMPARE(direct->bitsPerSample, general->bitsPerSample);
    QVERIFY(direct->pixels == general->pixels);
    QCOMPARE(direct->iccProfile, general->iccProfile);
}

QTEST_GUILESS_MAIN(PictureDecodesTest)
#include "tst_pictureDecodes.moc"
