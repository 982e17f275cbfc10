// SPDX-License-Identifier: MIT
// The GIF part of the bench: how our GIFs look next to mogrify's (blurred
// PSNR and worst block, PictureQuality.h) on the photos and on a smooth sky
// gradient, and what one 24-megapixel photo to GIF costs on one core.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace gifbench {

struct QualityRow {
    QString picture;
    double oursPsnr = 0, oursWorst = 0;
    double mogrifyPsnr = 0, mogrifyWorst = 0;
    double oursSeconds = -1, mogrifySeconds = -1; // only for the gradient
    bool met() const { return oursPsnr >= mogrifyPsnr && oursWorst >= mogrifyWorst; }
};

// Each source against the GIF of the same base name in each folder.
QList<QualityRow> compareFolders(const QStringList& sources, const QString& oursFolder,
                                 const QString& mogrifyFolder);

// A smooth sky-like gradient, made in memory, converted by our codec and by
// mogrify in `work`; both times and both scores.
QualityRow skyGradient(const QString& work, const QString& mogrify);

struct SingleRun {
    double wallSeconds = 0;
    double cpuSeconds = 0; // user + system of the converting process
    qint64 peakKiB = 0;    // VmHWM at the end
    qint64 startKiB = 0;   // VmHWM before the conversion
    qint64 rgbaBytes = 0;  // the picture's size as 8-bit RGBA
    int cpu = -1;          // the one CPU it was held to
};

// One picture to GIF in a fresh child process held to one CPU.
SingleRun convertOnOneCore(const QString& benchProgram, const QString& source, const QString& work);

// The child side of convertOnOneCore (option --gif-one-core); prints one line.
int oneCoreChild(const QString& source, const QString& work);

// CPU seconds (user and system) of this process (RUSAGE_SELF) or of its
// finished children (RUSAGE_CHILDREN).
double cpuSeconds(int who);

struct BatchTimes {
    double velmora = 0;
    double mogrify = 0;
};

// The Markdown lines of the GIF section: the 16-photo batch by the clock and
// by CPU time.
QStringList report(const QList<QualityRow>& photos, const QualityRow& gradient,
                   const SingleRun& large, BatchTimes wall, BatchTimes cpu);

} // namespace gifbench
