// SPDX-License-Identifier: MIT
// The throughput benchmark. It drives the real window with the real codecs on
// Qt's offscreen platform, the way a user would: open 16 photos, press each of
// the seven convert buttons, click a large picture to preview it. The same
// files go through ImageMagick's mogrify and through the codec libraries' own
// command-line tools (the floor), in the same run, on the same cores. Peak
// memory of a long batch is measured in child processes of this program.
//
// The corpus is made by ImageMagick's convert, not by our code, and is kept
// between runs. Everything else lives in a temporary folder that is removed at
// the end.
#include "ControlNames.h"
#include "GifBench.h"
#include "MainWindow.h"
#include "Messages.h"
#include "MetadataBench.h"
#include "OutputNaming.h"
#include "PeakMemory.h"
#include "PlatformError.h"
#include "PreviewBox.h"
#include "QtDesktop.h"
#include "conversion/FilePictureCodec.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// ---- what is measured --------------------------------------------------------

constexpr int kPhotoCount = 16;
constexpr int kBaseCount = 4; // distinct fractal bases the photos are varied from
constexpr int kPreviewClicks = 5;
// Big photos: single pictures to GIF by size, and cancels during batches of
// the 24-megapixel photo, each the median of this many runs.
constexpr int kBigPhotoRuns = 3;
constexpr int kCancelRows = 8;
constexpr double kCancelAfterSeconds = 2.5;

// Our JPEG output keeps the source's quality (the corpus is written at 92) and
// its 4:2:0 colour sampling, with optimised Huffman tables; the floor is made
// the same way.
constexpr int kJpegQuality = 92;
constexpr const char* kJpegSampling = "2x2";
// Our PNG output is zlib level 3 with the Average filter on every row.
constexpr int kPngZlibLevel = 3;
// Our TIFF output is uncompressed, as pnmtotiff writes by default.

// Bumped whenever the corpus recipe changes, so a cached corpus is remade.
const QString kCorpusStamp = QStringLiteral("velmora-bench corpus 1: 16 x 4000x3000 + 6000x4000, "
                                            "plasma fractal, blur 0x2, gaussian noise, q92 4:2:0");

struct Target {
    int formatIndex; // the convert button, ControlNames::kConvertButtons[formatIndex]
    QString name;    // in the table
    QString extension;
    QStringList mogrifyExtra;
    QString floorScript; // bash; $f is the source, $o the output without extension; empty: none
    bool lossless;
};

QList<Target> allTargets() {
    const QString q = QString::number(kJpegQuality);
    return {
        {0,
         "JPG",
         "jpg",
         {},
         QStringLiteral("djpeg \"$f\" | cjpeg -quality %1 -sample %2 -optimize > \"$o.jpg\"")
             .arg(q, QLatin1String(kJpegSampling)),
         false},
        {1, "BMP", "bmp", {}, QStringLiteral("djpeg -bmp \"$f\" > \"$o.bmp\""), true},
        {2, "GIF", "gif", {}, {}, false},
        {3, "PCX", "pcx", {}, {}, true},
        {4,
         "PNG",
         "png",
         {},
         QStringLiteral("djpeg \"$f\" | pnmtopng -compression %1 -avg > \"$o.png\"")
             .arg(kPngZlibLevel),
         true},
        // mogrify cannot write an icon larger than 256 x 256 at all.
        {5, "ICO", "ico", {QStringLiteral("-resize"), QStringLiteral("256x256>")}, {}, false},
        {6, "TIFF", "tiff", {}, QStringLiteral("djpeg \"$f\" | pnmtotiff > \"$o.tiff\""), true},
    };
}

// ---- small helpers -------------------------------------------------------------

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

void progress(const QString& text) {
    QTextStream err(stderr);
    err << "[bench] " << text << Qt::endl;
}

// The temporary folder of the run, removed also when the run gives up.
QString g_workFolder;

[[noreturn]] void die(const QString& text) {
    QTextStream err(stderr);
    err << "velmora_bench: " << text << Qt::endl;
    if (!g_workFolder.isEmpty())
        QDir(g_workFolder).removeRecursively();
    std::exit(2);
}

QString tool(const QString& name) {
    // The system's own copy first, so a wrapper earlier on PATH is not measured.
    QString path =
        QStandardPaths::findExecutable(name, {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        die(QStringLiteral("%1 is missing; scripts/bench.sh installs it").arg(name));
    return path;
}

struct Finished {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

QProcess* start(const QString& program, const QStringList& arguments) {
    auto* process = new QProcess;
    process->start(program, arguments);
    if (!process->waitForStarted(-1))
        die(QStringLiteral("cannot start %1").arg(program));
    return process;
}

Finished finish(QProcess* process) {
    process->waitForFinished(-1);
    Finished result;
    result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    result.output = process->readAllStandardOutput();
    result.errors = process->readAllStandardError();
    delete process;
    return result;
}

Finished run(const QString& program, const QStringList& arguments) {
    return finish(start(program, arguments));
}

// Runs the commands at the same time; dies naming the first that fails.
void runTogether(const QList<std::pair<QString, QStringList>>& commands) {
    QList<QProcess*> running;
    for (const auto& [program, arguments] : commands)
        running << start(program, arguments);
    QString failure;
    for (int i = 0; i < running.size(); ++i) {
        const Finished done = finish(running[i]);
        if (done.exitCode != 0 && failure.isEmpty())
            failure = QStringLiteral("%1 %2 failed (%3): %4")
                          .arg(commands[i].first, commands[i].second.join(' '))
                          .arg(done.exitCode)
                          .arg(QString::fromLocal8Bit(done.errors.right(2000)));
    }
    if (!failure.isEmpty())
        die(failure);
}

double seconds(qint64 nanoseconds) {
    return double(nanoseconds) / 1e9;
}

QString fixed(double value, int decimals = 2) {
    return QString::number(value, 'f', decimals);
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Files of the folder with the extension, and their total size.
struct FolderFiles {
    int count = 0;
    qint64 bytes = 0;
    int empty = 0;
};

FolderFiles filesIn(const QString& folder, const QString& extension) {
    FolderFiles files;
    const QFileInfoList entries =
        QDir(folder).entryInfoList({QStringLiteral("*.") + extension}, QDir::Files);
    for (const QFileInfo& entry : entries) {
        ++files.count;
        files.bytes += entry.size();
        if (entry.size() == 0)
            ++files.empty;
    }
    return files;
}

QString megabytes(qint64 bytes) {
    return fixed(double(bytes) / 1e6, 1);
}

// ---- the corpus ------------------------------------------------------------------

QString photoName(int i) {
    return QStringLiteral("photo-%1.jpg").arg(i + 1, 2, 10, QChar(u'0'));
}
const QString kLargeName = QStringLiteral("large-24mp.jpg");

QStringList photoNames() {
    QStringList names;
    for (int i = 0; i < kPhotoCount; ++i)
        names << photoName(i);
    return names;
}

// Plasma fractal for the large shapes, a blur for soft edges, gaussian noise
// for sensor grain: compresses like a photo, neither flat nor pure noise.
QStringList fractalArguments(int seed, const QString& size) {
    return {QStringLiteral("-seed"),
            QString::number(seed),
            QStringLiteral("-size"),
            size,
            QStringLiteral("plasma:fractal"),
            QStringLiteral("-blur"),
            QStringLiteral("0x2"),
            QStringLiteral("-attenuate"),
            QStringLiteral("0.4"),
            QStringLiteral("+noise"),
            QStringLiteral("Gaussian")};
}

const QStringList kJpegWriteArguments{QStringLiteral("-quality"), QString::number(kJpegQuality),
                                      QStringLiteral("-sampling-factor"), QStringLiteral("2x2")};

void makeCorpus(const QString& folder, const QString& convert) {
    QDir dir(folder);
    const QString stampPath = dir.filePath(QStringLiteral("corpus.txt"));
    bool complete = QFile::exists(stampPath) && QFile::exists(dir.filePath(kLargeName));
    for (const QString& name : photoNames())
        complete = complete && QFile::exists(dir.filePath(name));
    if (complete) {
        QFile stamp(stampPath);
        if (stamp.open(QIODevice::ReadOnly) && QString::fromUtf8(stamp.readAll()) == kCorpusStamp) {
            progress(QStringLiteral("corpus: reusing %1").arg(folder));
            return;
        }
    }
    progress(QStringLiteral("corpus: making it in %1 (kept for the next run)").arg(folder));
    QElapsedTimer timer;
    timer.start();
    QFile::remove(stampPath);
    if (!dir.mkpath(QStringLiteral(".")))
        die(QStringLiteral("cannot make %1").arg(folder));

    // The bases and the large picture, two at a time.
    QList<std::pair<QString, QStringList>> jobs;
    QStringList bases;
    for (int b = 0; b < kBaseCount; ++b) {
        bases << dir.filePath(QStringLiteral("base-%1.ppm").arg(b));
        jobs.append({convert,
                     fractalArguments(11 + 12 * b, QStringLiteral("4000x3000")) +
                         QStringList{QStringLiteral("-depth"), QStringLiteral("8"), bases.last()}});
    }
    jobs.append({convert, fractalArguments(71, QStringLiteral("6000x4000")) + kJpegWriteArguments +
                              QStringList{dir.filePath(kLargeName)}});
    for (qsizetype i = 0; i < jobs.size(); i += 2)
        runTogether(jobs.mid(i, 2));

    // Each photo: a base with its own exposure, colour and framing.
    jobs.clear();
    for (int i = 0; i < kPhotoCount; ++i) {
        const QString modulate = QStringLiteral("%1,%2,%3")
                                     .arg(85 + (i * 7) % 30)
                                     .arg(80 + (i * 13) % 50)
                                     .arg(70 + (i * 17) % 60);
        const QString roll = QStringLiteral("+%1+%2").arg((i * 331) % 4000).arg((i * 187) % 3000);
        QStringList arguments{bases[i % kBaseCount], QStringLiteral("-modulate"), modulate,
                              QStringLiteral("-roll"), roll};
        if ((i / kBaseCount) % 2)
            arguments << QStringLiteral("-flop");
        jobs.append(
            {convert, arguments + kJpegWriteArguments + QStringList{dir.filePath(photoName(i))}});
    }
    for (qsizetype i = 0; i < jobs.size(); i += 2)
        runTogether(jobs.mid(i, 2));
    for (const QString& base : bases)
        QFile::remove(base);

    QFile stamp(stampPath);
    if (!stamp.open(QIODevice::WriteOnly) || stamp.write(kCorpusStamp.toUtf8()) < 0)
        die(QStringLiteral("cannot write %1").arg(stampPath));
    progress(QStringLiteral("corpus: made in %1 s").arg(fixed(seconds(timer.nsecsElapsed()), 1)));
}

// ---- the window, scripted ----------------------------------------------------------

QElapsedTimer& benchClock() {
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

// The open dialog answers with the files it is told to, as a user picking them.
class ScriptedOpenDialog : public FileOpenDialog {
public:
    QString nextAnswer; // taken by the next ShowOpen; empty cancels

    void setCancelError(bool) override {}
    void setFlags(int) override {}
    void setFilter(const QString&) override {}
    void showOpen() override {
        m_fileName = std::exchange(nextAnswer, QString());
        if (m_fileName.isEmpty())
            throw PlatformError(FailureKind::Cancelled, QStringLiteral("cancelled"));
    }
    QString fileName() const override { return m_fileName; }

private:
    QString m_fileName;
};

// The real desktop, except that the folder chooser and the open dialog answer
// as scripted and the message box is closed at once, its time noted.
class BenchDesktop : public QtDesktop {
public:
    struct Message {
        qint64 at = 0; // benchClock() nanoseconds
        QString title;
        QString text;
    };

    ScriptedOpenDialog dialog;
    QString nextFolder;
    QList<Message> messages;

    FileOpenDialog& fileOpenDialog() override { return dialog; }
    std::optional<QString> browseForFolder(const QString&) override {
        if (nextFolder.isEmpty())
            return std::nullopt;
        return QDir::toNativeSeparators(std::exchange(nextFolder, QString()));
    }
    void showMessage(const QString& text, const QString& title, MessageIcon) override {
        messages.append({benchClock().nsecsElapsed(), title, text});
    }
};

class Window {
public:
    Window() {
        m_desktop.setOwner(&m_form);
        m_codec->setPreviewBox(m_form.previewBoxSize());
        m_form.show();
        if (!QTest::qWaitForWindowExposed(&m_form))
            progress(QStringLiteral("warning: the window was not exposed"));
        m_list = m_form.findChild<QListWidget*>(ControlNames::kPictureList);
        m_preview = m_form.findChild<PreviewBox*>(ControlNames::kPreview);
        if (!m_list || !m_preview)
            die(QStringLiteral("the window has no List1 or Picture1"));
    }

    // The open command with the files picked in the dialog.
    void open(const QString& folder, const QStringList& names) {
        QStringList parts{QDir::toNativeSeparators(folder)};
        parts += names;
        m_desktop.dialog.nextAnswer = names.size() == 1
                                          ? QDir::toNativeSeparators(folder + '/' + names.first())
                                          : parts.join(QChar(u'\0'));
        press(ControlNames::kOpenButton);
        if (m_list->count() != names.size())
            die(QStringLiteral("the list holds %1 rows after opening %2 files")
                    .arg(m_list->count())
                    .arg(names.size()));
    }

    struct Batch {
        double seconds = 0;
        QString title;
        QString text;
    };

    // Presses convert button formatIndex, choosing the folder; the time runs from
    // the click to the message that ends the batch.
    Batch convert(int formatIndex, const QString& folder) {
        m_desktop.messages.clear();
        m_desktop.nextFolder = folder;
        const qint64 started = benchClock().nsecsElapsed();
        press(ControlNames::kConvertButtons[formatIndex]);
        // The click returns once the batch has ended; wait anyway, in case it
        // ever hands the work to the event loop.
        if (m_desktop.messages.isEmpty() &&
            !QTest::qWaitFor([&] { return !m_desktop.messages.isEmpty(); }, 3600 * 1000))
            die(QStringLiteral("no message after convert button %1").arg(formatIndex));
        const BenchDesktop::Message& message = m_desktop.messages.first();
        return {seconds(message.at - started), message.title, message.text};
    }

    // Clicks a row as a user does; the time runs from the click until the
    // preview holds a new picture and has been painted.
    double clickRow(int row) {
        const QRect place = m_list->visualItemRect(m_list->item(row));
        const PictureObject before = m_preview->picture();
        m_desktop.messages.clear();
        const qint64 started = benchClock().nsecsElapsed();
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, place.center());
        if (!m_desktop.messages.isEmpty())
            die(QStringLiteral("clicking row %1: %2")
                    .arg(row)
                    .arg(m_desktop.messages.first().text));
        if (!m_preview->picture() || m_preview->picture() == before)
            die(QStringLiteral("clicking row %1 did not show a new picture").arg(row));
        m_preview->repaint();
        return seconds(benchClock().nsecsElapsed() - started);
    }

    PictureObject shown() const { return m_preview->picture(); }

private:
    void press(const QString& name) {
        auto* button = m_form.findChild<QPushButton*>(name);
        if (!button)
            die(QStringLiteral("the window has no button %1").arg(name));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    std::shared_ptr<FilePictureCodec> m_codec = std::make_shared<FilePictureCodec>();
    BenchDesktop m_desktop;
    MainWindow m_form{m_codec, m_desktop};
    QListWidget* m_list = nullptr;
    PreviewBox* m_preview = nullptr;
};

QString outputExtension(int formatIndex) {
    return extensionOf(kTargetFormats.at(formatIndex)).toString().mid(1);
}

// ---- peak memory ---------------------------------------------------------------------

const QString kMemoryTag = QStringLiteral("velmora-bench-memory");

// The child side: one batch of `rows` pictures to the target (PNG unless told),
// then the peaks. Also handy under a profiler: nothing but our own work runs.
int memoryRun(int rows, const QString& corpus, const QString& work, const QString& targetName) {
    std::optional<Target> target;
    for (const Target& candidate : allTargets())
        if (candidate.name.compare(targetName, Qt::CaseInsensitive) == 0)
            target = candidate;
    if (!target)
        die(QStringLiteral("no target %1").arg(targetName));
    const QString sources = QDir(work).filePath(QStringLiteral("rows-%1").arg(rows));
    const QString output =
        QDir(work).filePath(QStringLiteral("%1-%2").arg(target->extension).arg(rows));
    if (!QDir().mkpath(sources) || !QDir().mkpath(output))
        die(QStringLiteral("cannot make folders in %1").arg(work));
    QStringList names;
    for (int i = 0; i < rows; ++i) {
        names << QStringLiteral("row-%1.jpg").arg(i + 1, 4, 10, QChar(u'0'));
        const QString copy = QDir(sources).filePath(names.last());
        QFile::remove(copy);
        if (!QFile::copy(QDir(corpus).filePath(photoName(i % kPhotoCount)), copy))
            die(QStringLiteral("cannot copy to %1").arg(copy));
    }

    Window window;
    window.open(sources, names);
    const Window::Batch batch = window.convert(target->formatIndex, output);
    const FolderFiles files = filesIn(output, outputExtension(target->formatIndex));
    // VmHWM, not getrusage's ru_maxrss: that one survives exec and so still
    // holds the resident size this process had as a fork of the bench.
    out() << kMemoryTag << ' ' << vmHwmKiB() << ' ' << fixed(batch.seconds) << ' ' << files.count
          << ' ' << (batch.title == Messages::kDoneTitle ? "done" : "failed") << Qt::endl;
    QDir(sources).removeRecursively();
    QDir(output).removeRecursively();
    return 0;
}

struct MemoryPeak {
    int rows = 0;
    qint64 hwmKiB = 0;
    double seconds = 0;
};

MemoryPeak measureMemory(int rows, const QString& corpus, const QString& work) {
    progress(QStringLiteral("memory: a %1-picture batch to PNG in a child process").arg(rows));
    const Finished done = run(QCoreApplication::applicationFilePath(),
                              {QStringLiteral("--memory-run"), QString::number(rows),
                               QStringLiteral("--corpus"), corpus, QStringLiteral("--work"), work});
    for (const QByteArray& line : done.output.split('\n')) {
        const QStringList fields = QString::fromUtf8(line).split(' ');
        if (fields.size() == 5 && fields[0] == kMemoryTag) {
            if (fields[3].toInt() != rows || fields[4] != QLatin1String("done"))
                die(QStringLiteral("the %1-picture batch wrote %2 files (%3)")
                        .arg(rows)
                        .arg(fields[3], fields[4]));
            return {rows, fields[1].toLongLong(), fields[2].toDouble()};
        }
    }
    die(QStringLiteral("the %1-picture memory run failed (%2): %3")
            .arg(rows)
            .arg(done.exitCode)
            .arg(QString::fromLocal8Bit(done.errors.right(2000))));
}

// Every timed run starts with nothing left to write back from the one before:
// hundreds of megabytes of bitmaps still on their way to the disk would slow
// whichever run comes next, above all ours, which waits for its files to be
// on the disk before it puts them in place.
void settleDisk() {
    ::sync();
}

// ---- big photos: GIF time by size, cancel latency -----------------------------------------

// Copies one picture of the corpus into `rows` files of a folder of their own.
// Copies, not links: rows naming one file share one output.
QStringList copyRows(const QString& corpus, const QString& picture, const QString& folder,
                     int rows) {
    if (!QDir().mkpath(folder))
        die(QStringLiteral("cannot make %1").arg(folder));
    QStringList names;
    for (int i = 0; i < rows; ++i) {
        names << QStringLiteral("row-%1.jpg").arg(i + 1, 2, 10, QChar(u'0'));
        if (!QFile::copy(QDir(corpus).filePath(picture), QDir(folder).filePath(names.last())))
            die(QStringLiteral("cannot copy to %1").arg(names.last()));
    }
    return names;
}

// ImageMagick's pixel caches that went to disk, in the temporary folder.
QStringList diskCaches() {
    return QDir(QDir::tempPath())
        .entryList({QStringLiteral("magick-*")}, QDir::Files | QDir::Hidden);
}

struct SizeRun {
    double seconds = 0;
    bool diskCacheSeen = false;
};

// One picture converted through the window, the median of `runs`; notes
// whether ImageMagick ever put a pixel cache on disk meanwhile.
SizeRun singlePicture(const QString& corpus, const QString& work, const QString& picture,
                      const Target& target, int runs) {
    const QString sources = QDir(work).filePath(QStringLiteral("single-") + picture);
    const QStringList names = copyRows(corpus, picture, sources, 1);
    const QStringList cachesBefore = diskCaches();
    SizeRun result;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (const QString& cache : diskCaches())
            result.diskCacheSeen = result.diskCacheSeen || !cachesBefore.contains(cache);
    });
    watch.start(50);
    QList<double> times;
    Window window;
    window.open(sources, names);
    for (int i = 0; i < runs; ++i) {
        const QString output = QDir(work).filePath(QStringLiteral("single-out-%1").arg(i));
        QDir().mkpath(output);
        settleDisk();
        const Window::Batch batch = window.convert(target.formatIndex, output);
        if (batch.title != Messages::kDoneTitle)
            die(QStringLiteral("%1 to %2: %3").arg(picture, target.name, batch.text));
        times << batch.seconds;
        QDir(output).removeRecursively();
    }
    QDir(sources).removeRecursively();
    result.seconds = median(times);
    return result;
}

struct CancelRun {
    double seconds = 0; // click on 取消 to the message
    int written = 0;    // files on disk
    int counted = -1;   // files the message counts
    bool leftovers = false;
};

// A batch of `rows` copies of the 24-megapixel photo; 取消 is clicked once the
// batch has run for `after` seconds, when the workers are deep in the codec.
CancelRun cancelDuringBatch(const QString& corpus, const QString& work, const Target& target,
                            int rows, double after) {
    const QString sources = QDir(work).filePath(QStringLiteral("cancel-rows"));
    const QString output = QDir(work).filePath(QStringLiteral("cancel-out"));
    QDir(sources).removeRecursively();
    QDir(output).removeRecursively();
    const QStringList names = copyRows(corpus, kLargeName, sources, rows);
    QDir().mkpath(output);

    Window window;
    window.open(sources, names);
    qint64 clickedAt = -1;
    const qint64 started = benchClock().nsecsElapsed();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (clickedAt >= 0 || seconds(benchClock().nsecsElapsed() - started) < after)
            return;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QProgressDialog*>(widget);
                dialog && dialog->isVisible())
                if (auto* cancel = dialog->findChild<QPushButton*>()) {
                    clickedAt = benchClock().nsecsElapsed();
                    QTest::mouseClick(cancel, Qt::LeftButton);
                    return;
                }
    });
    watch.start(10);
    settleDisk();
    const Window::Batch batch = window.convert(target.formatIndex, output);
    watch.stop();
    if (clickedAt < 0 || batch.title != Messages::kCancelledTitle)
        die(QStringLiteral("the batch to %1 was not cancelled: %2").arg(target.name, batch.text));
    CancelRun run;
    run.seconds = batch.seconds - seconds(clickedAt - started);
    const QRegularExpression count(QStringLiteral("(\\d+)"));
    if (const auto match = count.match(batch.text); match.hasMatch())
        run.counted = match.captured(1).toInt();
    // The workers of the cancelled rows finish in the background; what they
    // made must not appear.
    QTest::qWait(3000);
    const QStringList files = QDir(output).entryList(QDir::Files | QDir::Hidden);
    for (const QString& file : files)
        run.leftovers = run.leftovers || !file.endsWith('.' + target.extension);
    run.written = int(files.size());
    QDir(sources).removeRecursively();
    QDir(output).removeRecursively();
    return run;
}

// ---- the machine -------------------------------------------------------------------------

QString machine() {
    QString model = QStringLiteral("unknown CPU");
    QFile cpu(QStringLiteral("/proc/cpuinfo"));
    if (cpu.open(QIODevice::ReadOnly))
        for (const QByteArray& line : cpu.readAll().split('\n'))
            if (line.startsWith("model name")) {
                model = QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
    double memoryGiB = 0;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly))
        for (const QByteArray& line : meminfo.readAll().split('\n'))
            if (line.startsWith("MemTotal:"))
                memoryGiB = line.mid(9).trimmed().split(' ').first().toDouble() / 1024 / 1024;
    return QStringLiteral("%1 cores (%2), %3 GiB RAM")
        .arg(QThread::idealThreadCount())
        .arg(model)
        .arg(fixed(memoryGiB, 1));
}

// ---- the run ---------------------------------------------------------------------------------

struct Row {
    Target target;
    double velmora = 0;
    qint64 velmoraBytes = 0;
    double mogrify = 0;
    qint64 mogrifyBytes = 0;
    // CPU seconds, user and system: steadier than the wall clock on a busy machine.
    double velmoraCpu = 0;
    double mogrifyCpu = 0;
    std::optional<double> floor;
};

struct Tools {
    QString convert = tool(QStringLiteral("convert"));
    QString mogrify = tool(QStringLiteral("mogrify"));
    QString identify = tool(QStringLiteral("identify"));
    QString compare = tool(QStringLiteral("compare"));
    QString bash = tool(QStringLiteral("bash"));
    // Looked up so a missing one is reported before anything is measured.
    QStringList codecTools{tool(QStringLiteral("djpeg")), tool(QStringLiteral("cjpeg")),
                           tool(QStringLiteral("pnmtopng")), tool(QStringLiteral("pnmtotiff"))};
};

QString identifyField(const Tools& tools, const QString& format, const QString& file) {
    const Finished done = run(tools.identify, {QStringLiteral("-format"), format, file});
    if (done.exitCode != 0)
        return QStringLiteral("(identify failed)");
    return QString::fromUtf8(done.output).trimmed();
}

// The checks on one output of ours, one line each.
QStringList checkOutput(const Tools& tools, const Target& target, const QString& source,
                        const QString& output) {
    QStringList lines;
    if (target.lossless) {
        const Finished done = run(tools.compare, {QStringLiteral("-metric"), QStringLiteral("AE"),
                                                  source, output, QStringLiteral("null:")});
        const QString differing = QString::fromUtf8(done.errors).trimmed();
        const bool same = done.exitCode == 0 && differing == QLatin1String("0");
        lines << QStringLiteral(
                     "- %1 %2: %3 — `compare -metric AE` with the source: %4 pixels differ")
                     .arg(target.name, QFileInfo(output).fileName(),
                          same ? QStringLiteral("PASS") : QStringLiteral("FAIL"), differing);
    }
    if (target.extension == QLatin1String("jpg")) {
        const QString q = QStringLiteral("%Q");
        const QString sourceQuality = identifyField(tools, q, source);
        const QString outputQuality = identifyField(tools, q, output);
        lines << QStringLiteral("- JPG %1: %2 — quality %3, the source's %4 (chroma sampling %5)")
                     .arg(QFileInfo(output).fileName(),
                          sourceQuality == outputQuality ? QStringLiteral("PASS")
                                                         : QStringLiteral("FAIL"),
                          outputQuality, sourceQuality,
                          identifyField(tools, QStringLiteral("%[jpeg:sampling-factor]"), output));
    }
    return lines;
}

double runMogrify(const Tools& tools, const Target& target, const QStringList& files,
                  const QString& folder) {
    QDir().mkpath(folder);
    QStringList arguments{QStringLiteral("-path"), folder, QStringLiteral("-format"),
                          target.extension};
    arguments += target.mogrifyExtra;
    arguments += files;
    QElapsedTimer timer;
    timer.start();
    const Finished done = run(tools.mogrify, arguments);
    const double elapsed = seconds(timer.nsecsElapsed());
    if (done.exitCode != 0)
        die(QStringLiteral("mogrify to %1 failed: %2")
                .arg(target.name, QString::fromLocal8Bit(done.errors.right(2000))));
    return elapsed;
}

// The codec tools over the files, split over as many processes as we have cores.
double runFloor(const Tools& tools, const Target& target, const QStringList& files,
                const QString& folder) {
    QDir().mkpath(folder);
    const QString script =
        QStringLiteral("out=$1; shift; for f; do b=${f##*/}; o=$out/${b%.*}; %1 || exit 1; done")
            .arg(target.floorScript);
    const int processes = std::max(1, QThread::idealThreadCount());
    QList<std::pair<QString, QStringList>> commands;
    for (int p = 0; p < processes; ++p) {
        QStringList arguments{QStringLiteral("-o"),    QStringLiteral("pipefail"),
                              QStringLiteral("-c"),    script,
                              QStringLiteral("floor"), folder};
        for (qsizetype i = p; i < files.size(); i += processes)
            arguments << files[i];
        commands.append({tools.bash, arguments});
    }
    QElapsedTimer timer;
    timer.start();
    runTogether(commands);
    return seconds(timer.nsecsElapsed());
}

// What a tool wrote into the folder; the run gives up unless it is a file per photo.
FolderFiles expectEveryPhoto(const QString& folder, const Target& target, const QString& tool) {
    const FolderFiles written = filesIn(folder, target.extension);
    if (written.count != kPhotoCount)
        die(QStringLiteral("%1 wrote %2 %3 files, not %4")
                .arg(tool)
                .arg(written.count)
                .arg(target.name)
                .arg(kPhotoCount));
    return written;
}

bool isGif(const Target& target) {
    return target.extension == QLatin1String("gif");
}

QString ratio(double a, double b) {
    return b > 0 ? fixed(a / b, 2) + QStringLiteral("×") : QStringLiteral("–");
}

int benchmark(const QString& corpus, const QString& workRoot, const QStringList& only,
              const QList<int>& memoryRows, int previewClicks, int bigPhotoRuns, bool keep) {
    QElapsedTimer total;
    total.start();
    const Tools tools;
    makeCorpus(corpus, tools.convert);

    QDir().mkpath(workRoot);
    QTemporaryDir work(QDir(workRoot).filePath(QStringLiteral("velmora-bench-XXXXXX")));
    if (!work.isValid())
        die(QStringLiteral("cannot make a temporary folder in %1").arg(workRoot));
    work.setAutoRemove(!keep);
    if (!keep)
        g_workFolder = work.path();
    if (keep)
        progress(QStringLiteral("outputs are kept in %1").arg(work.path()));
    QStringList files;
    for (const QString& name : photoNames())
        files << QDir(corpus).filePath(name);

    QList<Target> targets;
    for (const Target& target : allTargets())
        if (only.isEmpty() || only.contains(target.name, Qt::CaseInsensitive))
            targets << target;

    QList<Row> rows;
    QStringList checks;
    {
        // The files are read once, and one picture previewed, so the first
        // batch pays neither for a cold disk cache nor for setting up the codec.
        for (const QString& file : files) {
            QFile warm(file);
            if (warm.open(QIODevice::ReadOnly))
                warm.readAll();
        }
        Window window;
        window.open(corpus, photoNames());
        window.clickRow(kPhotoCount - 1);
        for (const Target& target : targets) {
            Row row;
            row.target = target;
            const QString folder = work.filePath(QStringLiteral("velmora-") + target.extension);
            QDir().mkpath(folder);
            progress(
                QStringLiteral("Velmora: %1 pictures to %2").arg(kPhotoCount).arg(target.name));
            settleDisk();
            const double cpuBefore = gifbench::cpuSeconds(RUSAGE_SELF);
            const Window::Batch batch = window.convert(target.formatIndex, folder);
            row.velmoraCpu = gifbench::cpuSeconds(RUSAGE_SELF) - cpuBefore;
            const QString extension = outputExtension(target.formatIndex);
            const FolderFiles written = filesIn(folder, extension);
            const QString expected = Messages::kDoneText + QDir::toNativeSeparators(folder);
            if (batch.title != Messages::kDoneTitle || batch.text != expected)
                die(QStringLiteral("converting to %1 ended with \"%2\": %3")
                        .arg(target.name, batch.title, batch.text));
            if (written.count != kPhotoCount || written.empty != 0)
                die(QStringLiteral("converting to %1 wrote %2 files (%3 empty), not %4")
                        .arg(target.name)
                        .arg(written.count)
                        .arg(written.empty)
                        .arg(kPhotoCount));
            checks << QStringLiteral("- %1: the message names the folder, %2 files written — PASS")
                          .arg(target.name)
                          .arg(written.count);
            checks +=
                checkOutput(tools, target, files.first(),
                            QDir(folder).filePath(QFileInfo(files.first()).completeBaseName() +
                                                  '.' + extension));
            row.velmora = batch.seconds;
            row.velmoraBytes = written.bytes;
            // GIFs are kept until they have been compared with mogrify's.
            if (!keep && !isGif(target))
                QDir(folder).removeRecursively();
            rows << row;
        }
    }

    QStringList mogrifyNotes;
    for (Row& row : rows) {
        const QString folder = work.filePath(QStringLiteral("mogrify-") + row.target.extension);
        progress(
            QStringLiteral("mogrify: %1 pictures to %2").arg(kPhotoCount).arg(row.target.name));
        settleDisk();
        const double cpuBefore = gifbench::cpuSeconds(RUSAGE_CHILDREN);
        row.mogrify = runMogrify(tools, row.target, files, folder);
        row.mogrifyCpu = gifbench::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        const FolderFiles written = expectEveryPhoto(folder, row.target, QStringLiteral("mogrify"));
        row.mogrifyBytes = written.bytes;
        if (row.target.extension == QLatin1String("jpg"))
            mogrifyNotes << QStringLiteral("- mogrify JPG keeps the source's chroma sampling: %1")
                                .arg(identifyField(tools, QStringLiteral("%[jpeg:sampling-factor]"),
                                                   QDir(folder).filePath(photoName(0))));
        if (!keep && !isGif(row.target))
            QDir(folder).removeRecursively();
    }

    QStringList gifLines;
    for (const Row& row : rows) {
        if (!isGif(row.target))
            continue;
        progress(QStringLiteral("GIF: quality against mogrify's, the sky gradient, graphics"));
        const QString ours = work.filePath(QStringLiteral("velmora-gif"));
        const QString theirs = work.filePath(QStringLiteral("mogrify-gif"));
        const QList<gifbench::QualityRow> photos = gifbench::compareFolders(files, ours, theirs);
        const QList<gifbench::QualityRow> made = gifbench::madePictures(work.path(), tools.mogrify);
        progress(QStringLiteral("GIF: the 24-megapixel photo on one core"));
        settleDisk();
        const gifbench::SingleRun large =
            gifbench::convertOnOneCore(QCoreApplication::applicationFilePath(),
                                       QDir(corpus).filePath(kLargeName), work.path());
        gifLines = gifbench::report(photos, made, large, {row.velmora, row.mogrify},
                                    {row.velmoraCpu, row.mogrifyCpu});
        if (!keep) {
            QDir(ours).removeRecursively();
            QDir(theirs).removeRecursively();
        }
    }

    QStringList notes = mogrifyNotes;
    for (Row& row : rows) {
        if (row.target.floorScript.isEmpty())
            continue;
        const QString folder = work.filePath(QStringLiteral("floor-") + row.target.extension);
        progress(QStringLiteral("floor: %1 pictures to %2").arg(kPhotoCount).arg(row.target.name));
        settleDisk();
        row.floor = runFloor(tools, row.target, files, folder);
        const FolderFiles written =
            expectEveryPhoto(folder, row.target, QStringLiteral("the floor"));
        notes << QStringLiteral("- floor %1: %2 MB").arg(row.target.name, megabytes(written.bytes));
        if (!keep)
            QDir(folder).removeRecursively();
    }

    // The preview of the large picture, alternating with a photo so that every
    // click is a new load.
    QList<double> previews;
    QString previewSize;
    if (previewClicks > 0) {
        progress(QStringLiteral("preview: %1 clicks on the 24-megapixel row").arg(previewClicks));
        Window window;
        window.open(corpus, {photoName(0), kLargeName});
        window.clickRow(0);
        for (int i = 0; i < previewClicks; ++i) {
            previews << window.clickRow(1);
            previewSize =
                QStringLiteral("%1×%2").arg(window.shown()->width).arg(window.shown()->height);
            window.clickRow(0);
        }
    }

    SizeRun gif12;
    SizeRun gif24;
    QList<std::pair<QString, QList<CancelRun>>> cancels;
    if (bigPhotoRuns > 0) {
        const Target gif = allTargets().at(2);
        progress(QStringLiteral("big photos: 12 and 24 megapixels to GIF"));
        gif12 = singlePicture(corpus, work.path(), photoName(0), gif, bigPhotoRuns);
        gif24 = singlePicture(corpus, work.path(), kLargeName, gif, bigPhotoRuns);
        for (const Target& target : {gif, allTargets().at(4)}) {
            progress(QStringLiteral("cancel: during a batch to %1").arg(target.name));
            QList<CancelRun> runs;
            for (int i = 0; i < bigPhotoRuns; ++i)
                runs << cancelDuringBatch(corpus, work.path(), target, kCancelRows,
                                          kCancelAfterSeconds);
            cancels.append({target.name, runs});
        }
    }

    QList<MemoryPeak> peaks;
    for (const int count : memoryRows)
        peaks << measureMemory(count, corpus, work.path());

    // ---- the report
    out() << "Machine: " << machine() << "  \n";
    out() << "Codec: "
          << QString::fromUtf8(run(tools.convert, {QStringLiteral("-version")}).output)
                 .section('\n', 0, 0)
                 .remove(QStringLiteral("Version: "))
          << "  \n";
    out() << "Corpus: " << kPhotoCount << " JPEG photos of 4000×3000 (quality " << kJpegQuality
          << ")\n\n";
    out() << "| target | Velmora s | mogrify s | ratio | floor s | Velmora/floor | Velmora total "
             "output MB | mogrify total output MB |\n";
    out() << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const Row& row : rows) {
        out() << "| " << row.target.name << " | " << fixed(row.velmora) << " | "
              << fixed(row.mogrify) << " | " << ratio(row.velmora, row.mogrify) << " | "
              << (row.floor ? fixed(*row.floor) : QStringLiteral("–")) << " | "
              << (row.floor ? ratio(row.velmora, *row.floor) : QStringLiteral("–")) << " | "
              << megabytes(row.velmoraBytes) << " | " << megabytes(row.mogrifyBytes) << " |\n";
    }
    out() << "\nratio: Velmora s / mogrify s (below 1× is faster than mogrify). Floor: ";
    out() << "`djpeg | cjpeg -quality " << kJpegQuality << " -sample " << kJpegSampling
          << " -optimize`, `djpeg -bmp`, `djpeg | pnmtopng -compression " << kPngZlibLevel
          << " -avg`, `djpeg | pnmtotiff`, in " << QThread::idealThreadCount()
          << " processes, each over its share of the files.\n";
    for (const QString& note : notes)
        out() << note << '\n';
    if (!gifLines.isEmpty())
        out() << '\n' << gifLines.join('\n') << '\n';
    for (const Row& row : rows)
        if (row.target.extension == QLatin1String("jpg"))
            out() << jpegTargetNote(row.velmora, row.mogrify, row.floor.value_or(0)) << '\n';
    for (const QString& line : metadataReport(files.first(), work.path(), tools.mogrify))
        out() << line << '\n';
    if (!previews.isEmpty()) {
        out() << "\nPreview of the 24-megapixel row (click to painted, shown at " << previewSize
              << "): median " << fixed(median(previews), 3) << " s of " << previews.size() << " (";
        QStringList each;
        for (double s : previews)
            each << fixed(s, 3);
        out() << each.join(QStringLiteral(", ")) << ")\n";
    }
    if (bigPhotoRuns > 0) {
        out() << "\nBig photos, one picture to GIF (median of " << bigPhotoRuns << "):\n\n";
        out() << "- 12 megapixels (4000×3000): " << fixed(gif12.seconds) << " s\n";
        out() << "- 24 megapixels (6000×4000): " << fixed(gif24.seconds) << " s, "
              << ratio(gif24.seconds, gif12.seconds) << " the 12-megapixel time (target ≤ 2.5×)\n";
        out() << "- ImageMagick's pixel cache went to disk: "
              << (gif12.diskCacheSeen || gif24.diskCacheSeen ? "yes" : "no") << "\n";
        out() << "\nCancel, from the click on 取消 to the message (" << kCancelRows
              << " rows of the 24-megapixel photo, clicked " << fixed(kCancelAfterSeconds, 1)
              << " s into the batch; target ≤ 1 s):\n\n";
        for (const auto& [name, runs] : cancels) {
            QList<double> times;
            QStringList each;
            bool countsMatch = true;
            bool clean = true;
            for (const CancelRun& run : runs) {
                times << run.seconds;
                each << fixed(run.seconds, 3);
                countsMatch = countsMatch && run.counted == run.written;
                clean = clean && !run.leftovers;
            }
            out() << "- " << name << ": median " << fixed(median(times), 3) << " s ("
                  << each.join(QStringLiteral(", "))
                  << "); the message counts the files on disk: " << (countsMatch ? "yes" : "NO")
                  << "; nothing else left in the folder: " << (clean ? "yes" : "NO") << "\n";
        }
    }
    if (!peaks.isEmpty()) {
        out() << "\nPeak memory of a batch to PNG (each in a fresh process):\n\n";
        for (const MemoryPeak& peak : peaks)
            out() << "- " << peak.rows << " pictures: VmHWM " << fixed(peak.hwmKiB / 1024.0, 0)
                  << " MiB, " << fixed(peak.seconds, 1) << " s\n";
        if (peaks.size() >= 2)
            out() << "- ratio " << peaks.last().rows << "/" << peaks.first().rows << ": "
                  << fixed(double(peaks.last().hwmKiB) / double(peaks.first().hwmKiB), 2) << "×\n";
    }
    out() << "\nChecks:\n\n";
    for (const QString& check : checks)
        out() << check << '\n';
    out() << "\nWhole run: " << fixed(seconds(total.nsecsElapsed()), 0) << " s\n";
    out().flush();
    return 0;
}

QList<int> parseCounts(const QString& text) {
    QList<int> counts;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value <= 0)
            die(QStringLiteral("not a picture count: %1").arg(part));
        counts << value;
    }
    return counts;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora_bench"));
    benchClock();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times Velmora's convert buttons against mogrify and the codec tools."));
    parser.addHelpOption();
    const QCommandLineOption corpusOption(
        QStringLiteral("corpus"), QStringLiteral("Folder the corpus is made in and reused from."),
        QStringLiteral("folder"), QStringLiteral(VELMORA_BENCH_CORPUS));
    const QCommandLineOption workOption(QStringLiteral("work"),
                                        QStringLiteral("Folder for the temporary outputs."),
                                        QStringLiteral("folder"), QDir::tempPath());
    const QCommandLineOption targetsOption(QStringLiteral("targets"),
                                           QStringLiteral("Only these targets, e.g. jpg,png."),
                                           QStringLiteral("list"));
    const QCommandLineOption memoryOption(
        QStringLiteral("memory-rows"),
        QStringLiteral("Picture counts of the memory batches; 0 skips them."),
        QStringLiteral("list"), QStringLiteral("50,200"));
    const QCommandLineOption previewOption(
        QStringLiteral("preview-clicks"),
        QStringLiteral("Timed clicks on the large picture; 0 skips them."), QStringLiteral("n"),
        QString::number(kPreviewClicks));
    const QCommandLineOption bigPhotoOption(
        QStringLiteral("big-photo-runs"),
        QStringLiteral("Runs of the big-photo GIF times and of each cancel; 0 skips them."),
        QStringLiteral("n"), QString::number(kBigPhotoRuns));
    const QCommandLineOption memoryRunOption(
        QStringLiteral("memory-run"),
        QStringLiteral("Only run one batch of n pictures (to PNG, or the first of --targets) "
                       "and report its peak memory; the full run uses it in child processes."),
        QStringLiteral("n"));
    const QCommandLineOption gifOneCoreOption(
        QStringLiteral("gif-one-core"),
        QStringLiteral("Only convert this picture to GIF on one CPU and report its time and "
                       "peak memory; the full run uses it in a child process."),
        QStringLiteral("file"));
    const QCommandLineOption keepOption(QStringLiteral("keep"),
                                        QStringLiteral("Keep every output in the work folder."));
    parser.addOptions({keepOption, corpusOption, workOption, targetsOption, memoryOption,
                       previewOption, bigPhotoOption, memoryRunOption, gifOneCoreOption});
    parser.process(app);

    const QString corpus = QDir(parser.value(corpusOption)).absolutePath();
    const QString work = QDir(parser.value(workOption)).absolutePath();
    if (parser.isSet(gifOneCoreOption))
        return gifbench::oneCoreChild(parser.value(gifOneCoreOption), work);
    if (parser.isSet(memoryRunOption)) {
        const QList<int> rows = parseCounts(parser.value(memoryRunOption));
        if (rows.size() != 1)
            die(QStringLiteral("--memory-run takes one count"));
        const QStringList target = parser.value(targetsOption).split(',', Qt::SkipEmptyParts);
        return memoryRun(rows.first(), corpus, work,
                         target.isEmpty() ? QStringLiteral("PNG") : target.first());
    }
    QStringList only = parser.value(targetsOption).split(',', Qt::SkipEmptyParts);
    const QList<int> memoryRows = parser.value(memoryOption) == QLatin1String("0")
                                      ? QList<int>{}
                                      : parseCounts(parser.value(memoryOption));
    bool ok = false;
    const int previewClicks = parser.value(previewOption).toInt(&ok);
    if (!ok || previewClicks < 0)
        die(QStringLiteral("--preview-clicks takes a count"));
    const int bigPhotoRuns = parser.value(bigPhotoOption).toInt(&ok);
    if (!ok || bigPhotoRuns < 0)
        die(QStringLiteral("--big-photo-runs takes a count"));
    return benchmark(corpus, work, only, memoryRows, previewClicks, bigPhotoRuns,
                     parser.isSet(keepOption));
}
