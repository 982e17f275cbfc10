// SPDX-License-Identifier: MIT
#include "GifBench.h"

#include "FilePictureCodec.h"
#include "PeakMemory.h"
#include "PictureFiles.h"
#include "PictureQuality.h"
#include "PictureSniffing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

quality::Score scoreOf(const Picture& source, const QString& gif) {
    const PictureObject reduced = loadPictureFile(gif);
    if (reduced->width != source.width || reduced->height != source.height)
        return {};
    return quality::blurredScore(source, *reduced);
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
        const quality::Score ours = scoreOf(*picture, QDir(oursFolder).filePath(gif));
        const quality::Score theirs = scoreOf(*picture, QDir(mogrifyFolder).filePath(gif));
        rows.append({QFileInfo(source).fileName(), ours.blurredPsnr, ours.worstBlockPsnr,
                     theirs.blurredPsnr, theirs.worstBlockPsnr});
    }
    return rows;
}

QualityRow skyGradient(const QString& work, const QString& mogrify) {
    const Picture sky = skyPicture(1600, 1000);
    const QString folder = QDir(work).filePath(QStringLiteral("sky"));
    QDir().mkpath(folder);
    const QString png = QDir(folder).filePath(QStringLiteral("sky.png"));
    const std::stop_token never;
    writeFile(png, encodePicture(sky, TargetFormat::Png, never));

    QualityRow row;
    row.picture = QStringLiteral("sky gradient 1600×1000");
    QElapsedTimer timer;
    timer.start();
    const QByteArray ours = encodePicture(sky, TargetFormat::Gif, never);
    row.oursSeconds = double(timer.nsecsElapsed()) / 1e9;
    const QString oursGif = QDir(folder).filePath(QStringLiteral("ours.gif"));
    writeFile(oursGif, ours);

    const QString theirsFolder = QDir(folder).filePath(QStringLiteral("mogrify"));
    QDir().mkpath(theirsFolder);
    QProcess process;
    timer.restart();
    process.start(mogrify, {QStringLiteral("-path"), theirsFolder, QStringLiteral("-format"),
                            QStringLiteral("gif"), png});
    process.waitForFinished(-1);
    row.mogrifySeconds = double(timer.nsecsElapsed()) / 1e9;

    const quality::Score a = scoreOf(sky, oursGif);
    const quality::Score b = scoreOf(sky, QDir(theirsFolder).filePath(QStringLiteral("sky.gif")));
    row.oursPsnr = a.blurredPsnr;
    row.oursWorst = a.worstBlockPsnr;
    row.mogrifyPsnr = b.blurredPsnr;
    row.mogrifyWorst = b.worstBlockPsnr;
    QDir(folder).removeRecursively();
    return row;
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

QStringList report(const QList<QualityRow>& photos, const QualityRow& gradient,
                   const SingleRun& large, BatchTimes wall, BatchTimes cpu) {
    QStringList lines;
    lines << QStringLiteral("GIF quality: each picture and its GIF blurred with a Gaussian of "
                            "σ = 1, then PSNR of the whole and of the worst 8×8 block (dB; "
                            "target: Velmora ≥ mogrify on both)")
          << QString()
          << QStringLiteral("| picture | Velmora PSNR | mogrify PSNR | Velmora worst block | "
                            "mogrify worst block | met |")
          << QStringLiteral("|---|---:|---:|---:|---:|---|");
    int met = 0;
    QList<QualityRow> all = photos;
    all << gradient;
    for (const QualityRow& row : all) {
        met += row.met() ? 1 : 0;
        lines << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |")
                     .arg(row.picture, fixed(row.oursPsnr), fixed(row.mogrifyPsnr),
                          fixed(row.oursWorst), fixed(row.mogrifyWorst),
                          row.met() ? QStringLiteral("yes") : QStringLiteral("NO"));
    }
    lines << QString()
          << QStringLiteral("- quality met on %1 of %2 pictures").arg(met).arg(all.size());
    lines << QStringLiteral("- the sky gradient alone: Velmora %1 s, mogrify %2 s")
                 .arg(fixed(gradient.oursSeconds, 3), fixed(gradient.mogrifySeconds, 3));
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
