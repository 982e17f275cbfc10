// SPDX-License-Identifier: MIT
// GIF colours by our own reduction, through the product's path: few colours,
// transparency and the large flat colours of graphics kept exactly, photos
// and graphics reduced at least as well as ImageMagick's own reduction by the
// blurred measure the bench uses, the same bytes on every run and thread, and
// pictures of extreme shapes.
#include "PictureQuality.h"
#include "PlatformError.h"
#include "colours/ColourReduction.h"
#include "conversion/PictureConversion.h"
#include "formats/DirectCodecs.h"
#include "magick/MagickEncoding.h"
#include "magick/MagickSetup.h"
#include "pixels/PixelConversions.h"
#include "support/PictureFileTesting.h"

#include <QImage>
#include <QTest>

#include <cmath>
#include <thread>

namespace {

enum class Kind { Sky, Plasma, FlatWithNoise, FewColours, Transparent, PartlyTransparent, Graphic };

quint32 nextRandom(quint32& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Test pictures, each made the same way every time.
Picture makePicture(Kind kind, int width, int height, int bits = 8) {
    Picture p;
    p.width = width;
    p.height = height;
    const bool alpha = kind == Kind::Transparent || kind == Kind::PartlyTransparent;
    p.channels = alpha ? Picture::Channels::Rgba : Picture::Channels::Rgb;
    p.bitsPerSample = bits;
    p.pixels = QByteArray(p.bytesPerLine() * height, Qt::Uninitialized);
    quint32 seed = 2024;
    const int n = p.channelCount();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / std::max(1, width - 1);
            const double v = double(y) / std::max(1, height - 1);
            double rgba[4] = {0, 0, 0, 255};
            switch (kind) {
            case Kind::Graphic: // a flat pink band above the sky
                if (v < 0.4) {
                    rgba[0] = 255, rgba[1] = 64, rgba[2] = 127;
                    break;
                }
                [[fallthrough]];
            case Kind::Sky: // deep blue to pale haze, a soft glow on one side
                rgba[0] = 40 + 165 * v + 35 * std::exp(-((u - 0.8) * (u - 0.8)) * 8);
                rgba[1] = 90 + 135 * v;
                rgba[2] = 170 + 75 * v;
                break;
            case Kind::Plasma: // overlapping waves of colour and a little grain
            case Kind::Transparent:
            case Kind::PartlyTransparent:
                for (int c = 0; c < 3; ++c)
                    rgba[c] = 128 + 60 * std::sin(u * (5 + c) + v * (3 - c) * 2.3) +
                              50 * std::cos((u * u + v) * (4 + 2 * c)) +
                              double(nextRandom(seed) % 13) - 6;
                if (kind == Kind::Transparent && (x / 7 + y / 5) % 4 == 0)
                    rgba[3] = 0;
                if (kind == Kind::PartlyTransparent)
                    rgba[3] = (x * 7 + y * 3) % 256;
                break;
            case Kind::FlatWithNoise: { // four flat areas, each with grain
                static const int flats[4][3] = {
                    {200, 30, 40}, {20, 120, 60}, {240, 240, 230}, {30, 30, 90}};
                const int* flat = flats[(x * 2 / width) + 2 * (y * 2 / height)];
                for (int c = 0; c < 3; ++c)
                    rgba[c] = flat[c] + double(nextRandom(seed) % 31) - 15;
                break;
            }
            case Kind::FewColours:
                for (int c = 0; c < 3; ++c)
                    rgba[c] = ((x / 3 + y / 2 * 5) % 17) * 15 + c * 3;
                break;
            }
            for (int c = 0; c < n; ++c) {
                const double value = std::clamp(rgba[c], 0.0, 255.0);
                const qsizetype at = (qsizetype(y) * width + x) * n + c;
                if (bits == 8)
                    p.pixels[at] = char(std::lround(value));
                else
                    reinterpret_cast<quint16*>(p.pixels.data())[at] =
                        quint16(std::lround(value * 257));
            }
        }
    return p;
}

QByteArray productGif(const Picture& picture) {
    return encodePicture(picture, TargetFormat::Gif, std::stop_token());
}

// The GIF read back as 8-bit RGBA by Qt's reader, which takes sides as long
// as 65535 (ImageMagick's is held to the product's limits).
PictureObject readBack(const QByteArray& gif) {
    QImage image = QImage::fromData(gif, "GIF");
    if (image.isNull())
        return nullptr;
    image.convertTo(QImage::Format_RGBA8888);
    auto picture = std::make_shared<Picture>();
    picture->width = image.width();
    picture->height = image.height();
    picture->channels = Picture::Channels::Rgba;
    for (int y = 0; y < image.height(); ++y)
        picture->pixels.append(reinterpret_cast<const char*>(image.constScanLine(y)),
                               picture->bytesPerLine());
    return picture;
}

// The source as GIF shows it: 8-bit RGBA, partial alpha blended onto white,
// fully transparent pixels left with alpha 0.
QList<int> preparedPixel(const Picture& p, qsizetype i) {
    QList<int> s;
    for (int c = 0; c < p.channelCount(); ++c)
        s << (p.bitsPerSample == 8 ? uchar(p.pixels[i * p.channelCount() + c])
                                   : eightBits(reinterpret_cast<const quint16*>(
                                         p.pixels.constData())[i * p.channelCount() + c]));
    if (!p.hasAlpha())
        return s << 255;
    if (s[3] == 0)
        return {-1, -1, -1, 0}; // any colour
    for (int c = 0; c < 3; ++c)
        s[c] = (s[c] * s[3] + 255 * (255 - s[3]) + 127) / 255;
    s[3] = 255;
    return s;
}

quint32 packed(const uchar* rgb) {
    return quint32(rgb[0]) << 16 | quint32(rgb[1]) << 8 | rgb[2];
}

QList<int> shownPixel(const Picture& p, qsizetype i) {
    const int n = p.channelCount();
    const auto* s = reinterpret_cast<const uchar*>(p.pixels.constData()) + i * n;
    if (n == 4 && s[3] == 0)
        return {-1, -1, -1, 0};
    return {s[0], s[n >= 3 ? 1 : 0], s[n >= 3 ? 2 : 0], n == 4 ? s[3] : 255};
}

// A flat colour on the first `flatPixels` pixels (rows top to bottom), a
// smooth gradient with thousands of colours (or, with `fewColours`, 216) on
// the rest, some of it transparent with `holes`. The gradient's blue is odd,
// the flat colour's even: no gradient pixel has the flat colour.
constexpr quint32 kFlat = 0x7882AA; // (120, 130, 170), amid the gradient's colours

Picture flatBesideGradient(int width, int height, int flatPixels, bool holes, bool fewColours) {
    Picture p;
    p.width = width;
    p.height = height;
    p.channels = holes ? Picture::Channels::Rgba : Picture::Channels::Rgb;
    p.pixels = QByteArray(p.bytesPerLine() * height, Qt::Uninitialized);
    auto* s = reinterpret_cast<uchar*>(p.pixels.data());
    for (int i = 0; i < width * height; ++i, s += p.channelCount()) {
        const double u = double(i % width) / width, v = double(i / width) / height;
        const double steps = fewColours ? 6 : 256;
        const int rgb[3] = {int(40 + 170 * std::floor(u * steps) / steps),
                            int(60 + 150 * std::floor(v * steps) / steps),
                            2 * int(50 + 30 * std::floor((u + v) * steps / 2) / steps) + 1};
        for (int c = 0; c < 3; ++c)
            s[c] = uchar(i < flatPixels ? kFlat >> (16 - 8 * c) & 0xFF : rgb[c]);
        if (holes)
            s[3] = i >= flatPixels && (i % width / 7 + i / width / 5) % 4 == 0 ? 0 : 255;
    }
    return p;
}

} // namespace

class ColourReductionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(prepareMagick().isEmpty(), "ImageMagick is not ready"); }
    void mapsFewColoursExactly_data();
    void mapsFewColoursExactly();
    void reducesAtLeastAsWellAsImageMagick_data();
    void reducesAtLeastAsWellAsImageMagick();
    void givesTheSameBytesOnEveryRunAndThread_data();
    void givesTheSameBytesOnEveryRunAndThread();
    void takesPicturesOfExtremeShapes_data();
    void takesPicturesOfExtremeShapes();
    void stopsWhenAsked();
    void readsFewerRowsOfAnOpaquePictureForTheSameResult_data();
    void readsFewerRowsOfAnOpaquePictureForTheSameResult();
    void keepsALargeColourExactAndFlat_data();
    void keepsALargeColourExactAndFlat();
};

void ColourReductionTest::mapsFewColoursExactly_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bits");
    QTest::newRow("17 colours") << int(Kind::FewColours) << 90 << 40 << 8;
    QTest::newRow("17 colours, 16-bit") << int(Kind::FewColours) << 90 << 40 << 16;
    QTest::newRow("256 colours in a 16 x 16 plasma") << int(Kind::Plasma) << 16 << 16 << 8;
    QTest::newRow("transparent holes in a small plasma") << int(Kind::Transparent) << 15 << 17 << 8;
    QTest::newRow("partial alpha, few colours left after blending")
        << int(Kind::PartlyTransparent) << 1 << 60 << 8;
}

// What a GIF can hold exactly comes back exactly: every colour, and
// transparency where the source is fully transparent.
void ColourReductionTest::mapsFewColoursExactly() {
    QFETCH(int, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bits);
    const Picture source = makePicture(Kind(kind), width, height, bits);
    const PictureObject back = readBack(productGif(source));
    QVERIFY(back);
    QCOMPARE(back->width, width);
    QCOMPARE(back->height, height);
    for (qsizetype i = 0; i < qsizetype(width) * height; ++i)
        QCOMPARE(shownPixel(*back, i), preparedPixel(source, i));
}

void ColourReductionTest::reducesAtLeastAsWellAsImageMagick_data() {
    QTest::addColumn<QString>("file"); // empty: the generated picture
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("sky gradient") << QString() << int(Kind::Sky) << 320 << 200;
    QTest::newRow("plasma") << QString() << int(Kind::Plasma) << 300 << 220;
    QTest::newRow("flat colours with noise") << QString() << int(Kind::FlatWithNoise) << 256 << 192;
    QTest::newRow("flat band above a sky") << QString() << int(Kind::Graphic) << 320 << 200;
    QTest::newRow("plasma with transparent holes")
        << QString() << int(Kind::Transparent) << 200 << 150;
    QTest::newRow("plasma with partial alpha")
        << QString() << int(Kind::PartlyTransparent) << 200 << 150;
    QTest::newRow("16-bit plasma") << QString() << int(Kind::Plasma) << 97 << 61;
    for (const char* name : {"hopper.jpg", "hopper.png"})
        QTest::newRow(name) << QStringLiteral(VELMORA_CORPUS_DIR "/good/") + name << 0 << 0 << 0;
}

// Blurred as the eye sees it, our GIF is at least as close to the source as
// one made of ImageMagick's own reduction, on the whole and in its worst block.
void ColourReductionTest::reducesAtLeastAsWellAsImageMagick() {
    QFETCH(QString, file);
    QFETCH(int, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    const Picture source = file.isEmpty()
                               ? makePicture(Kind(kind), width, height, width == 97 ? 16 : 8)
                               : *loadPictureFile(file);
    const PictureObject ours = readBack(productGif(source));
    QVERIFY(ours);
    QByteArray reference;
    if (const auto reduced = reduceColoursWithMagick(source, std::stop_token()))
        reference =
            directcodec::encodeGif(source.width, source.height, reduced->palette, reduced->indexes);
    else // transparency stays, which only ImageMagick's own writer places
        reference = encodeWithMagick(source, TargetFormat::Gif, std::stop_token());
    const PictureObject theirs = readBack(reference);
    QVERIFY(theirs);
    const quality::Score a = quality::blurredScore(source, *ours);
    const quality::Score b = quality::blurredScore(source, *theirs);
    const QByteArray scores = QStringLiteral("ours %1 dB (worst block %2), ImageMagick's %3 (%4)")
                                  .arg(a.blurredPsnr, 0, 'f', 2)
                                  .arg(a.worstBlockPsnr, 0, 'f', 2)
                                  .arg(b.blurredPsnr, 0, 'f', 2)
                                  .arg(b.worstBlockPsnr, 0, 'f', 2)
                                  .toUtf8();
    QVERIFY2(a.blurredPsnr >= b.blurredPsnr, scores.constData());
    QVERIFY2(a.worstBlockPsnr >= b.worstBlockPsnr, scores.constData());
    qInfo("%s", scores.constData());
    // Reduced, not kept: a photo-like picture has far more than 256 colours.
    QVERIFY2(a.blurredPsnr < 99, scores.constData());
}

void ColourReductionTest::givesTheSameBytesOnEveryRunAndThread_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("sky gradient") << int(Kind::Sky);
    QTest::newRow("plasma") << int(Kind::Plasma);
    QTest::newRow("plasma with transparent holes") << int(Kind::Transparent);
    QTest::newRow("flat band above a sky") << int(Kind::Graphic);
}

// One worker, then two at once: every GIF of the picture has the same bytes.
void ColourReductionTest::givesTheSameBytesOnEveryRunAndThread() {
    QFETCH(int, kind);
    const Picture source = makePicture(Kind(kind), 240, 180);
    const QByteArray first = productGif(source);
    const QByteArray second = productGif(source);
    QByteArray onWorkers[2];
    {
        std::jthread a([&] { onWorkers[0] = productGif(source); });
        std::jthread b([&] { onWorkers[1] = productGif(source); });
    }
    QVERIFY(!first.isEmpty());
    QVERIFY(second == first);
    QVERIFY(onWorkers[0] == first);
    QVERIFY(onWorkers[1] == first);
}

void ColourReductionTest::takesPicturesOfExtremeShapes_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1 x 1") << 1 << 1;
    QTest::newRow("1 x 65535") << 1 << 65535;
    QTest::newRow("65535 x 1") << 65535 << 1;
}

// The largest sides a GIF holds, and the smallest picture: read back at their
// size, and close to the source once blurred.
void ColourReductionTest::takesPicturesOfExtremeShapes() {
    QFETCH(int, width);
    QFETCH(int, height);
    const Picture source = makePicture(Kind::Plasma, width, height);
    const PictureObject back = readBack(productGif(source));
    QVERIFY(back);
    QCOMPARE(back->width, width);
    QCOMPARE(back->height, height);
    const quality::Score score = quality::blurredScore(source, *back);
    QVERIFY2(score.blurredPsnr > 30, QByteArray::number(score.blurredPsnr).constData());
}

void ColourReductionTest::stopsWhenAsked() {
    const Picture source = makePicture(Kind::Plasma, 300, 300);
    std::stop_source stop;
    stop.request_stop();
    try {
        encodePicture(source, TargetFormat::Gif, stop.get_token());
        QFAIL("the reduction went on after the stop");
    } catch (const PlatformError& e) {
        QCOMPARE(e.kind(), FailureKind::Cancelled);
    }
}

void ColourReductionTest::readsFewerRowsOfAnOpaquePictureForTheSameResult_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("fewerReads"); // above the size whose histogram is sampled
    QTest::newRow("plasma, sampled") << int(Kind::Plasma) << 2100 << 2000 << true;
    QTest::newRow("sky, sampled, odd height") << int(Kind::Sky) << 2000 << 2003 << true;
    QTest::newRow("plasma, every pixel counted") << int(Kind::Plasma) << 300 << 200 << false;
    QTest::newRow("few colours, sampled size") << int(Kind::FewColours) << 2100 << 2000 << false;
}

// Told a picture has no alpha, the reduction reads fewer rows before choosing
// its colours and still gives the same palette and the same indexes; so do
// the picture's RGB rows read in place.
void ColourReductionTest::readsFewerRowsOfAnOpaquePictureForTheSameResult() {
    QFETCH(int, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, fewerReads);
    const Picture source = makePicture(Kind(kind), width, height);
    struct Result {
        colours::Reduction reduction;
        std::vector<std::uint8_t> indexes;
        qint64 rowsRead = 0;
    };
    auto reduce = [&source](bool opaque) {
        Result result;
        result.indexes.resize(size_t(source.width) * size_t(source.height));
        const colours::RowReader rows = [&source, &result](int y, std::uint8_t* rgba) {
            ++result.rowsRead;
            const auto* s = reinterpret_cast<const uchar*>(source.pixels.constData()) +
                            qsizetype(y) * source.bytesPerLine();
            for (int x = 0; x < source.width; ++x, s += 3, rgba += 4) {
                std::copy_n(s, 3, rgba);
                rgba[3] = 255;
            }
        };
        result.reduction = colours::reduceColours(source.width, source.height, rows,
                                                  result.indexes.data(), {}, opaque);
        return result;
    };
    const Result told = reduce(true);
    const Result notTold = reduce(false);
    QVERIFY(told.reduction.palette == notTold.reduction.palette);
    QCOMPARE(told.reduction.transparentIndex, -1);
    QVERIFY(told.indexes == notTold.indexes);
    // Its packed RGB rows, read where they lie, give the same again.
    std::vector<std::uint8_t> inPlace(told.indexes.size());
    const colours::RgbRows rgb{reinterpret_cast<const std::uint8_t*>(source.pixels.constData()),
                               source.bytesPerLine()};
    const colours::Reduction fromRgb =
        colours::reduceColours(source.width, source.height, rgb, inPlace.data());
    QVERIFY(fromRgb.palette == told.reduction.palette);
    QCOMPARE(fromRgb.transparentIndex, -1);
    QVERIFY(inPlace == told.indexes);
    QCOMPARE(notTold.rowsRead, 2 * qint64(height));
    // Once the colours are too many for a palette, about every other row is
    // skipped until the reduction proper reads them all.
    if (fewerReads)
        QVERIFY2(told.rowsRead < notTold.rowsRead - height / 3,
                 QByteArray::number(told.rowsRead).constData());
    else
        QCOMPARE(told.rowsRead, notTold.rowsRead);
}

void ColourReductionTest::keepsALargeColourExactAndFlat_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("flatPixels");
    QTest::addColumn<bool>("holes");
    QTest::addColumn<bool>("fewColours");
    QTest::addColumn<bool>("kept");
    QTest::newRow("a tenth of the picture") << 200 << 100 << 2000 << false << false << true;
    QTest::newRow("exactly 1 %") << 200 << 100 << 200 << false << false << true;
    QTest::newRow("one pixel under 1 %: reduced as the rest")
        << 200 << 100 << 199 << false << false << false;
    QTest::newRow("transparent holes") << 200 << 100 << 2000 << true << false << true;
    QTest::newRow("few colours: every one exact") << 200 << 100 << 2000 << false << true << true;
    QTest::newRow("histogram sampled") << 2100 << 2000 << 420000 << false << false << true;
}

// A colour on at least 1 % of the pixels has an entry that its pixels, and
// only they, take, while the gradient beside it is still diffused; transparent
// pixels share one entry of their own.
void ColourReductionTest::keepsALargeColourExactAndFlat() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, flatPixels);
    QFETCH(bool, holes);
    QFETCH(bool, fewColours);
    QFETCH(bool, kept);
    const Picture source = flatBesideGradient(width, height, flatPixels, holes, fewColours);
    const int n = source.channelCount();
    std::vector<std::uint8_t> indexes(size_t(width) * size_t(height));
    const colours::RowReader rows = [&](int y, std::uint8_t* rgba) {
        const auto* s = reinterpret_cast<const uchar*>(source.pixels.constData()) +
                        qsizetype(y) * source.bytesPerLine();
        for (int x = 0; x < width; ++x, s += n, rgba += 4) {
            std::copy_n(s, 3, rgba);
            rgba[3] = holes ? s[3] : 255;
        }
    };
    const colours::Reduction r =
        colours::reduceColours(width, height, rows, indexes.data(), {}, !holes);
    QVERIFY(r.palette.size() <= 256 * 3);
    QCOMPARE(r.transparentIndex >= 0, holes);
    Picture shown = source; // the reduced picture, transparent where the GIF is
    auto* out = reinterpret_cast<uchar*>(shown.pixels.data());
    qint64 misses = 0, strays = 0, inexact = 0;
    for (size_t i = 0; i < indexes.size(); ++i, out += n) {
        const auto* in = reinterpret_cast<const uchar*>(source.pixels.constData()) + i * size_t(n);
        const bool transparent = holes && in[3] == 0;
        QCOMPARE(indexes[i] == r.transparentIndex, transparent);
        if (transparent)
            continue;
        std::copy_n(r.palette.data() + indexes[i] * 3, 3, out);
        const bool wasFlat = qsizetype(i) < flatPixels, isFlat = packed(out) == kFlat;
        misses += wasFlat && !isFlat ? 1 : 0;
        strays += isFlat && !wasFlat ? 1 : 0;
        inexact += packed(out) != packed(in) ? 1 : 0;
    }
    const double psnr = quality::blurredScore(source, shown).blurredPsnr;
    const QByteArray found = QStringLiteral("%1 flat pixels changed, %2 others made flat, %3 dB")
                                 .arg(misses)
                                 .arg(strays)
                                 .arg(psnr, 0, 'f', 2)
                                 .toUtf8();
    QVERIFY2((misses == 0 && strays == 0) == kept, found.constData());
    if (fewColours)
        QCOMPARE(inexact, 0);
    else // diffused: close once blurred, not in bands
        QVERIFY2(psnr > 50, found.constData());
    qInfo("%s", found.constData());
}

QTEST_GUILESS_MAIN(ColourReductionTest)
#include "tst_colourreduction.moc"
