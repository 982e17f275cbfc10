// SPDX-License-Identifier: MIT
#include "GifBench.h"

#include "PeakMemory.h"
#include "PictureQuality.h"
#include "conversion/FilePictureCodec.h"
#include "conversion/PictureConversion.h"
#include "input/PictureSniffing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>

#include <cmath>

#include <sched.h>
#include <sys/resource.h>

namespace gifbench {
namespace {

const QString kOneCoreTag = QStringLiteral("velmora-bench-gif-one-core");

QString fixed(double value, int decimals = 2) {
    return QString::number(value, 'f', decimals);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct GifScore {
    quality::Score score;
    quality::LargeColours large;
    qint64 bytes = 0;
};

GifScore scoreOf(const Picture& source, const QString& gif) {
    const PictureObject reduced = loadPictureFile(gif);
    if (!reduced || reduced->width != source.width || reduced->height != source.height)
        return {};
    return {quality::blurredScore(source, *reduced), quality::largeColoursKept(source, *reduced),
            QFileInfo(gif).size()};
}

QualityRow rowOf(const QString& name, const GifScore& ours, const GifScore& theirs) {
    QualityRow row;
    row.picture = name;
    row.oursPsnr = ours.score.blurredPsnr;
    row.oursWorst = ours.score.worstBlockPsnr;
    row.mogrifyPsnr = theirs.score.blurredPsnr;
    row.mogrifyWorst = theirs.score.worstBlockPsnr;
    row.largeColours = ours.large.found;
    row.oursKept = ours.large.kept;
    row.mogrifyKept = theirs.large.kept;
    row.oursBytes = ours.bytes;
    row.mogrifyBytes = theirs.bytes;
    return row;
}

// Deep blue overhead to a pale haze at the horizon, warmer towards the sun on
// the right: slow, smooth changes, where banding shows first.
Picture skyPicture(int width, int height) {
    Picture sky;
    sky.width = width;
    sky.height = height;
    sky.pixels = QByteArray(sky.bytesPerLine() * height, Qt::Uninitialized);
    auto* p = reinterpret_cast<uchar*>(sky.pixels.data());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double t = std::pow(double(y) / (height - 1), 0.8);
            const double dx = double(x - width * 0.85) / width, dy = double(y - height) / height;
            const double glow = 40 * std::exp(-(dx * dx + dy * dy) * 6);
            const double rgb[3] = {38 + 170 * t + glow, 86 + 142 * t + glow * 0.6,
                                   168 + 80 * t - glow * 0.3};
            for (double v : rgb)
                *p++ = uchar(std::clamp(std::lround(v), 0L, 255L));
        }
    return sky;
}

Picture pictureOf(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Picture picture;
    picture.width = rgb.width();
    picture.height = rgb.height();
    for (int y = 0; y < rgb.height(); ++y)
        picture.pixels.append(reinterpret_cast<const char*>(rgb.constScanLine(y)),
                              picture.bytesPerLine());
    return picture;
}

// Words of made-up text, the same on every run.
class Words {
public:
    QString next(int count) {
        static const char* const words[] = {
            "convert", "folder", "picture", "batch",  "output", "colour",  "palette", "select",
            "preview", "format", "list",    "photos", "window", "quality", "saved",   "files"};
        QStringList line;
        for (int i = 0; i < count; ++i) {
            m_state = m_state * 1103515245u + 12345u;
            line << QString::fromLatin1(words[(m_state >> 16) % 16]);
        }
        return line.join(' ');
    }

private:
    quint32 m_state = 7;
};

void startPainting(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::NoPen);
}

QFont fontOf(int pixels, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// A window of an application: a title bar in a gradient, a flat side bar and
// page, anti-aliased text in several sizes and colours, a rounded button.
Picture screenshotPicture() {
    QImage image(1280, 800, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter painter(&image);
    startPainting(painter);
    QLinearGradient title(0, 0, 1280, 0);
    title.setColorAt(0, QColor(28, 72, 150));
    title.setColorAt(1, QColor(96, 160, 226));
    painter.fillRect(0, 0, 1280, 44, title);
    painter.fillRect(0, 44, 260, 756, QColor(226, 231, 239));
    painter.fillRect(280, 64, 980, 716, Qt::white);
    Words words;
    painter.setPen(Qt::white);
    painter.setFont(fontOf(20, true));
    painter.drawText(16, 30, words.next(3));
    painter.setFont(fontOf(15));
    painter.setPen(QColor(40, 40, 40));
    for (int i = 0; i < 16; ++i)
        painter.drawText(24, 84 + 40 * i, words.next(2));
    painter.setFont(fontOf(26, true));
    painter.drawText(310, 110, words.next(4));
    painter.setFont(fontOf(14));
    for (int i = 0; i < 26; ++i) {
        painter.setPen(i % 7 == 3 ? QColor(20, 90, 200) : QColor(30, 30, 30));
        painter.drawText(310, 150 + 22 * i, words.next(9 + i % 4));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(46, 125, 220));
    painter.drawRoundedRect(QRectF(1100, 720, 140, 40), 8, 8);
    painter.setPen(Qt::white);
    painter.setFont(fontOf(16, true));
    painter.drawText(QRectF(1100, 720, 140, 40), Qt::AlignCenter, QStringLiteral("OK"));
    painter.end();
    return pictureOf(image);
}

// A bar chart: flat bars and grid lines on a gradient, labels and a legend.
Picture chartPicture() {
    QImage image(1200, 800, QImage::Format_RGB32);
    QPainter painter(&image);
    startPainting(painter);
    QLinearGradient back(0, 0, 0, 800);
    back.setColorAt(0, QColor(252, 252, 255));
    back.setColorAt(1, QColor(200, 214, 236));
    painter.fillRect(image.rect(), back);
    painter.setFont(fontOf(14));
    for (int i = 0; i <= 5; ++i) {
        painter.fillRect(100, 700 - 120 * i, 1050, 1, QColor(170, 170, 180));
        painter.setPen(QColor(60, 60, 70));
        painter.drawText(40, 705 - 120 * i, QString::number(20 * i));
        painter.setPen(Qt::NoPen);
    }
    const QColor series[] = {QColor(230, 80, 60), QColor(60, 140, 220), QColor(90, 180, 90),
                             QColor(240, 180, 40)};
    Words words;
    for (int group = 0; group < 6; ++group) {
        for (int s = 0; s < 4; ++s) {
            const int height = 80 + (group * 97 + s * 151) % 520;
            painter.fillRect(130 + group * 170 + s * 34, 700 - height, 30, height, series[s]);
        }
        painter.setPen(QColor(60, 60, 70));
        painter.drawText(130 + group * 170, 730, words.next(1));
        painter.setPen(Qt::NoPen);
    }
    for (int s = 0; s < 4; ++s) {
        painter.fillRect(900, 30 + 26 * s, 18, 18, series[s]);
        painter.setPen(QColor(60, 60, 70));
        painter.drawText(926, 45 + 26 * s, words.next(1));
        painter.setPen(Qt::NoPen);
    }
    painter.setFont(fontOf(22, true));
    painter.setPen(QColor(30, 30, 40));
    painter.drawText(100, 50, words.next(3));
    painter.end();
    return pictureOf(image);
}

// A logo, a ring and letters, on a flat background with gradients in its
// corners.
Picture logoPicture() {
    QImage image(1000, 700, QImage::Format_RGB32);
    image.fill(QColor(22, 40, 84));
    QPainter painter(&image);
    startPainting(painter);
    const QPointF corners[4] = {{0, 0}, {1000, 0}, {0, 700}, {1000, 700}};
    const QColor glows[4] = {QColor(250, 200, 60), QColor(60, 200, 220), QColor(200, 80, 180),
                             QColor(120, 220, 90)};
    for (int i = 0; i < 4; ++i) {
        QRadialGradient glow(corners[i], 320);
        glow.setColorAt(0, glows[i]);
        glow.setColorAt(1, QColor(22, 40, 84));
        painter.setBrush(glow);
        painter.drawEllipse(corners[i], 320, 320);
    }
    painter.setBrush(QColor(250, 250, 250));
    painter.drawEllipse(QPointF(500, 300), 150, 150);
    painter.setBrush(QColor(232, 70, 50));
    painter.drawEllipse(QPointF(500, 300), 110, 110);
    painter.setPen(QColor(250, 250, 250));
    painter.setFont(fontOf(150, true));
    painter.drawText(QRectF(350, 150, 300, 300), Qt::AlignCenter, QStringLiteral("V"));
    painter.setFont(fontOf(64, true));
    painter.drawText(QRectF(0, 480, 1000, 100), Qt::AlignCenter, QStringLiteral("VELMORA"));
    painter.end();
    return pictureOf(image);
}

// A test card: flat colour bars and grey steps, smooth ramps of grey and of
// each primary, a ring.
Picture testCardPicture() {
    QImage image(1280, 720, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    QPainter painter(&image);
    startPainting(painter);
    const QColor bars[] = {QColor(191, 191, 191), QColor(191, 191, 0), QColor(0, 191, 191),
                           QColor(0, 191, 0),     QColor(191, 0, 191), QColor(191, 0, 0),
                           QColor(0, 0, 191),     QColor(16, 16, 16)};
    for (int i = 0; i < 8; ++i)
        painter.fillRect(i * 160, 0, 160, 300, bars[i]);
    const QColor ends[] = {Qt::white, QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
    for (int i = 0; i < 4; ++i) {
        QLinearGradient ramp(0, 0, 1280, 0);
        ramp.setColorAt(0, Qt::black);
        ramp.setColorAt(1, ends[i]);
        painter.fillRect(0, 320 + 60 * i, 1280, 50, ramp);
    }
    for (int i = 0; i < 11; ++i)
        painter.fillRect(i * 116 + 2, 570, 112, 130,
                         QColor::fromRgb(i * 255 / 10, i * 255 / 10, i * 255 / 10));
    painter.setPen(QPen(Qt::white, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(640, 360), 330, 330);
    painter.end();
    return pictureOf(image);
}

// A flat pink background over about 84 % of a wide picture, triangles of
// two-way gradients in its corners.
Picture pinkCornersPicture() {
    QImage image(2000, 1000, QImage::Format_RGB32);
    image.fill(QColor(255, 64, 127));
    QPainter painter(&image);
    startPainting(painter);
    const QPointF corners[4] = {{0, 0}, {2000, 0}, {0, 1000}, {2000, 1000}};
    const QColor from[4] = {QColor(255, 230, 60), QColor(40, 120, 250), QColor(60, 220, 140),
                            QColor(250, 250, 250)};
    const QColor to[4] = {QColor(120, 20, 160), QColor(250, 150, 40), QColor(20, 40, 90),
                          QColor(255, 140, 190)};
    for (int i = 0; i < 4; ++i) {
        const QPointF c = corners[i];
        const QPointF along(c.x() == 0 ? 440 : 1560, c.y());
        const QPointF down(c.x(), c.y() == 0 ? 360 : 640);
        QLinearGradient across(along, down);
        across.setColorAt(0, from[i]);
        across.setColorAt(1, to[i]);
        QPainterPath triangle(c);
        triangle.lineTo(along);
        triangle.lineTo(down);
        triangle.closeSubpath();
        painter.fillPath(triangle, across);
        // A second gradient from the corner outwards, so colours vary both ways.
        QRadialGradient shade(c, 440);
        shade.setColorAt(0, QColor(0, 0, 0, 110));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        painter.fillPath(triangle, shade);
    }
    painter.end();
    return pictureOf(image);
}

bool runMogrify(const QString& mogrify, const QString& folder, const QString& png) {
    QProcess process;
    process.start(mogrify, {QStringLiteral("-path"), folder, QStringLiteral("-format"),
                            QStringLiteral("gif"), png});
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

// One made picture through our codec and mogrify, both timed.
QualityRow madeRow(const QString& name, const Picture& picture, const QString& work,
                   const QString& mogrify) {
    const QString folder = QDir(work).filePath(QStringLiteral("made"));
    const QString theirsFolder = QDir(folder).filePath(QStringLiteral("mogrify"));
    QDir().mkpath(theirsFolder);
    const QString png = QDir(folder).filePath(QStringLiteral("picture.png"));
    const std::stop_token never;
    writeFile(png, encodePicture(picture, TargetFormat::Png, never));

    QElapsedTimer timer;
    timer.start();
    const QByteArray ours = encodePicture(picture, TargetFormat::Gif, never);
    const double oursSeconds = double(timer.nsecsElapsed()) / 1e9;
    const QString oursGif = QDir(folder).filePath(QStringLiteral("ours.gif"));
    writeFile(oursGif, ours);
    timer.restart();
    runMogrify(mogrify, theirsFolder, png);
    const double mogrifySeconds = double(timer.nsecsElapsed()) / 1e9;

    QualityRow row =
        rowOf(name, scoreOf(picture, oursGif),
              scoreOf(picture, QDir(theirsFolder).filePath(QStringLiteral("picture.gif"))));
    row.oursSeconds = oursSeconds;
    row.mogrifySeconds = mogrifySeconds;
    QDir(folder).removeRecursively();
    return row;
}

} // namespace

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto toSeconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

QList<QualityRow> compareFolders(const QStringList& sources, const QString& oursFolder,
                                 const QString& mogrifyFolder) {
    QList<QualityRow> rows;
    for (const QString& source : sources) {
        const QString gif = QFileInfo(source).completeBaseName() + QStringLiteral(".gif");
        const PictureObject picture = loadPictureFile(source);
        rows.append(rowOf(QFileInfo(source).fileName(),
                          scoreOf(*picture, QDir(oursFolder).filePath(gif)),
                          scoreOf(*picture, QDir(mogrifyFolder).filePath(gif))));
    }
    return rows;
}

QList<QualityRow> madePictures(const QString& work, const QString& mogrify) {
    return {
        madeRow(QStringLiteral("sky gradient 1600×1000"), skyPicture(1600, 1000), work, mogrify),
        madeRow(QStringLiteral("screenshot 1280×800"), screenshotPicture(), work, mogrify),
        madeRow(QStringLiteral("bar chart 1200×800"), chartPicture(), work, mogrify),
        madeRow(QStringLiteral("logo 1000×700"), logoPicture(), work, mogrify),
        madeRow(QStringLiteral("test card 1280×720"), testCardPicture(), work, mogrify),
        madeRow(QStringLiteral("pink, gradient corners 2000×1000"), pinkCornersPicture(), work,
                mogrify)};
}

SingleRun convertOnOneCore(const QString& benchProgram, const QString& source,
                           const QString& work) {
    QProcess process;
    process.start(benchProgram,
                  {QStringLiteral("--gif-one-core"), source, QStringLiteral("--work"), work});
    process.waitForFinished(-1);
    SingleRun run;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QStringList f = QString::fromUtf8(line).split(' ');
        if (f.size() == 7 && f[0] == kOneCoreTag)
            return {f[1].toDouble(),   f[2].toDouble(),   f[3].toLongLong(),
                    f[4].toLongLong(), f[5].toLongLong(), f[6].toInt()};
    }
    run.wallSeconds = -1;
    return run;
}

int oneCoreChild(const QString& source, const QString& work) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    int cpu = 0;
    while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &allowed))
        ++cpu;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0)
        cpu = -1;

    FilePictureCodec codec;
    const DeclaredSize size = declaredSizeOfFile(source);
    const QString target = QDir(work).filePath(QFileInfo(source).completeBaseName() + ".gif");
    const qint64 startKiB = vmHwmKiB();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    ConvertedPicture converted = codec.convert(source, TargetFormat::Gif, target);
    converted.file->commit();
    const double wall = double(timer.nsecsElapsed()) / 1e9;
    const double cpuUsed = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    QTextStream(stdout) << kOneCoreTag << ' ' << wall << ' ' << cpuUsed << ' ' << vmHwmKiB() << ' '
                        << startKiB << ' ' << size.width * size.height * 4 << ' ' << cpu
                        << Qt::endl;
    QFile::remove(target);
    return 0;
}

QStringList report(const QList<QualityRow>& photos, const QList<QualityRow>& made,
                   const SingleRun& large, BatchTimes wall, BatchTimes cpu) {
    QStringList lines;
    lines << QStringLiteral("GIF quality: each picture and its GIF blurred with a Gaussian of "
                            "σ = 1, then PSNR of the whole and of the worst 8×8 block (dB); the "
                            "colours that cover at least 1 % of the picture, and how many of them "
                            "each GIF shows on exactly their pixels; the sizes. Target: Velmora ≥ "
                            "mogrify on both PSNRs, every large colour kept, size ≤ %1× mogrify's")
                 .arg(kMaxSizeRatio)
          << QString()
          << QStringLiteral("| picture | Velmora PSNR | mogrify PSNR | Velmora worst block | "
                            "mogrify worst block | large colours | kept by Velmora | kept by "
                            "mogrify | Velmora KiB | mogrify KiB | size ratio | met |")
          << QStringLiteral("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|");
    int met = 0;
    const QList<QualityRow> all = photos + made;
    for (const QualityRow& row : all) {
        met += row.met() ? 1 : 0;
        lines << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 | %11 | %12 |")
                     .arg(row.picture, fixed(row.oursPsnr), fixed(row.mogrifyPsnr),
                          fixed(row.oursWorst), fixed(row.mogrifyWorst))
                     .arg(row.largeColours)
                     .arg(row.oursKept)
                     .arg(row.mogrifyKept)
                     .arg(fixed(row.oursBytes / 1024.0, 0), fixed(row.mogrifyBytes / 1024.0, 0),
                          row.mogrifyBytes > 0
                              ? fixed(double(row.oursBytes) / double(row.mogrifyBytes))
                              : QStringLiteral("–"),
                          row.met() ? QStringLiteral("yes") : QStringLiteral("NO"));
    }
    lines << QString()
          << QStringLiteral("- targets met on %1 of %2 pictures").arg(met).arg(all.size());
    QStringList times;
    for (const QualityRow& row : made)
        times << QStringLiteral("%1: Velmora %2 s, mogrify %3 s")
                     .arg(row.picture, fixed(row.oursSeconds, 3), fixed(row.mogrifySeconds, 3));
    lines << QStringLiteral("- the made pictures alone: ") + times.join(QStringLiteral("; "));
    if (wall.velmora > 0 && wall.mogrify > 0)
        lines << QStringLiteral("- GIF, 16 photos: Velmora %1 s, mogrify %2 s: %3× (target ≤ "
                                "0.15×); CPU time Velmora %4 s, mogrify %5 s: %6×")
                     .arg(fixed(wall.velmora), fixed(wall.mogrify),
                          fixed(wall.velmora / wall.mogrify), fixed(cpu.velmora),
                          fixed(cpu.mogrify),
                          cpu.mogrify > 0 ? fixed(cpu.velmora / cpu.mogrify) : QStringLiteral("–"));
    if (large.wallSeconds < 0) {
        lines << QStringLiteral("- 24-megapixel photo on one core: the child process failed");
        return lines;
    }
    const double rgbaMiB = double(large.rgbaBytes) / 1024 / 1024;
    lines << QStringLiteral("- 24-megapixel photo → GIF in a fresh process held to CPU %1: %2 s "
                            "(its CPU time %3 s; target ≤ 1.5 s)")
                 .arg(large.cpu)
                 .arg(fixed(large.wallSeconds), fixed(large.cpuSeconds))
          << QStringLiteral("- its peak memory: VmHWM %1 MiB, of which %2 MiB were there before "
                            "the conversion; 8-bit RGBA size %3 MiB (target ≤ 2× = %4 MiB): "
                            "whole process %5×, conversion alone %6×")
                 .arg(fixed(large.peakKiB / 1024.0, 0), fixed(large.startKiB / 1024.0, 0),
                      fixed(rgbaMiB, 1), fixed(2 * rgbaMiB, 0),
                      fixed(large.peakKiB / 1024.0 / rgbaMiB),
                      fixed((large.peakKiB - large.startKiB) / 1024.0 / rgbaMiB));
    return lines;
}

} // namespace gifbench
