// SPDX-License-Identifier: MIT
// The GIF part of the bench: how our GIFs look next to mogrify's (blurred
// PSNR and worst block, the colours that cover a large share of the picture,
// PictureQuality.h) and how big they are, on the photos, on a smooth sky
// gradient and on graphics made here, and what one 24-megapixel photo to GIF
// costs on one core.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace gifbench {

// The largest GIF, against mogrify's, that still meets the target.
constexpr double kMaxSizeRatio = 1.25;

struct QualityRow {
    QString picture;
    double oursPsnr = 0, oursWorst = 0;
    double mogrifyPsnr = 0, mogrifyWorst = 0;
    int largeColours = 0; // colours on at least 1 % of the source's pixels
    int oursKept = 0;     // of them, kept on exactly their pixels
    int mogrifyKept = 0;
    qint64 oursBytes = 0, mogrifyBytes = 0;
    double oursSeconds = -1, mogrifySeconds = -1; // only for the pictures made here
    bool met() const {
        return oursPsnr >= mogrifyPsnr && oursWorst >= mogrifyWorst && oursKept == largeColours &&
               oursBytes > 0 && double(oursBytes) <= kMaxSizeRatio * double(mogrifyBytes);
    }
};

// Each source against the GIF of the same base name in each folder.
QList<QualityRow> compareFolders(const QStringList& sources, const QString& oursFolder,
                                 const QString& mogrifyFolder);

// Pictures made in memory, the same on every run: a smooth sky-like gradient,
// then graphics (a screenshot, a chart, a logo, a test card and a flat
// background with gradient corners), each converted by our codec and by
// mogrify in `work`; both times and both scores.
QList<QualityRow> madePictures(const QString& work, const QString& mogrify);

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
QStringList report(const QList<QualityRow>& photos, const QList<QualityRow>& made,
                   const SingleRun& large, BatchTimes wall, BatchTimes cpu);

} // namespace gifbench
