// SPDX-License-Identifier: MIT
// Faults from the file system: sources that are no picture files, outputs that
// cannot be written, a full disk and awkward names. The real picture files and
// the real batch, with fake controls; every case must end in a PlatformError
// and a message naming the file, never in a crash or a hang.
#include "BatchConversion.h"
#include "Messages.h"
#include "PlatformError.h"
#include "conversion/FilePictureCodec.h"
#include "conversion/PictureConversion.h"
#include "fakes/FakeControls.h"
#include "fakes/FakeDesktop.h"
#include "support/FileTesting.h"
#include "support/PictureFileTesting.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
constexpr auto kPatience = std::chrono::seconds(20);

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// What a call ended with: no failure, or a PlatformError's kind and detail.
struct Outcome {
    bool failed = false;
    FailureKind kind = FailureKind::Cancelled;
    QString detail;
};

Outcome outcomeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const PlatformError& e) {
        return {true, e.kind(), e.detail()};
    }
    return {};
}

// Runs `work` on its own thread and waits for it a bounded time; when it does
// not come back, `unblock` is called (it must make the work return) and the
// test fails. When `unprivileged`, the thread checks files as nobody: the file
// system user of a thread is its own, so this works when the tests run as root.
template <typename Result>
std::optional<Result> bounded(const std::function<Result()>& work, bool unprivileged,
                              const std::function<void()>& unblock = {}) {
    auto future = std::async(std::launch::async, [&] {
        if (unprivileged && geteuid() == 0) {
            setfsgid(kNobody);
            setfsuid(kNobody);
        }
        return work();
    });
    if (future.wait_for(kPatience) == std::future_status::ready)
        return future.get();
    if (unblock)
        unblock();
    future.wait();
    return std::nullopt;
}

// The batch wired the way the window wires it, over the real picture files.
// `beforeSave` runs before each row is put in place, with the number of
// files saved so far, so a test can change the file system in the middle.
struct Batch {
    WindowState state;
    std::shared_ptr<FilePictureCodec> codec = std::make_shared<FilePictureCodec>();
    FakeDesktop desktop;
    FakeListBox list;
    FakeImage picture;
    FakeButton viewNow;
    BatchConversion batch{state, codec, desktop, {list, picture, viewNow}};
    QString folder;
    std::function<void(int)> beforeSave;

    Batch(const QStringList& rows, const QString& outputFolder)
        : folder(outputFolder) {
        list.rows = rows;
        list.setClickHandler([this] {
            picture.setPicture(codec->loadPreview(list.rowText(list.selectedRow())));
            state.previewedRow = list.selectedRow();
        });
        // The progress is told of every row written, before the next one.
        desktop.onProgress = [this, lastSeen = -1](int saved) mutable {
            if (saved != lastSeen && beforeSave)
                beforeSave(saved);
            lastSeen = saved;
        };
    }
    // The text of the failure that ended the batch, or "" when it completed.
    QString run(int formatIndex) {
        desktop.folderAnswers = {folder};
        try {
            batch.convertAll(kTargetFormats.at(formatIndex));
        } catch (const HandlerFailure& failure) {
            return failure.text();
        }
        return {};
    }
};

// The message of a batch that stopped at `source`, with `converted` rows
// written before it and `remaining` rows (it included) not.
QString failureText(const QString& source, const QString& reason, int converted, int remaining) {
    return Messages::kConvertFailedText + source + u'\n' + reason + u'\n' +
           Messages::stoppedBatchText(converted, remaining);
}

// A picture of noise, which no encoder can make small.
Picture noise(int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    p.pixels.resize(p.bytesPerLine() * height);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(p.pixels.data()), p.pixels.size() / 4);
    return p;
}

// Creates `depth` nested folders of `nameLength` bytes each under `base`,
// through the POSIX calls relative to a descriptor (a path longer than
// PATH_MAX cannot be passed whole), and puts `content` at the bottom.
QString makeDeepFile(const QString& base, int depth, int nameLength, const QByteArray& content) {
    const QByteArray component(nameLength, 'd');
    int dir = open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY);
    QString path = base;
    for (int i = 0; i < depth && dir >= 0; ++i) {
        mkdirat(dir, component.constData(), 0755);
        const int next = openat(dir, component.constData(), O_RDONLY | O_DIRECTORY);
        close(dir);
        dir = next;
        path += u'/' + QString::fromLatin1(component);
    }
    if (dir < 0)
        return {};
    const int file = openat(dir, "deep.png", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    close(dir);
    if (file < 0 || write(file, content.constData(), size_t(content.size())) != content.size())
        return {};
    close(file);
    return path + QStringLiteral("/deep.png");
}

// Removes a folder and all below it through descriptors, so that trees deeper
// than PATH_MAX and names that are not UTF-8 go too (QDir cannot reach them).
void removeTree(int parent, const char* name) {
    const int dir = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (dir >= 0) {
        if (DIR* stream = fdopendir(dup(dir))) {
            while (const dirent* entry = readdir(stream)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                    continue;
                if (unlinkat(dir, entry->d_name, 0) != 0)
                    removeTree(dir, entry->d_name);
            }
            closedir(stream);
        }
        close(dir);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

// A temporary folder removed by bytes, whatever was made in it.
struct ScratchDir : QTemporaryDir {
    ~ScratchDir() {
        if (isValid())
            removeTree(AT_FDCWD, QFile::encodeName(path()).constData());
    }
};

// A tmpfs mounted for one test, unmounted on every way out.
struct SmallFileSystem {
    QString path;
    bool mounted = false;
    explicit SmallFileSystem(const QString& where, const char* size)
        : path(where) {
        const QByteArray options = QByteArray("size=") + size;
        mounted = geteuid() == 0 && QDir().mkpath(where) &&
                  mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", 0,
                        options.constData()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted)
            umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
};

// A limit on the size of any file this process writes: writes beyond it fail
// (EFBIG) as on a full disk. The signal the kernel sends is ignored.
struct FileSizeLimit {
    rlimit saved{};
    void (*savedHandler)(int) = nullptr;
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }
};

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sourceFaults_data();
    void sourceFaults();
    void outputFolderFaults_data();
    void outputFolderFaults();
    void fullDisk_data();
    void fullDisk();
    void awkwardNames_data();
    void awkwardNames();
    void regressions_data();
    void regressions();
};

void FaultsTest::initTestCase() {
    QVERIFY(QFile::exists(corpusFile("hopper.png")));
}

// A source that cannot be read as a picture: the load fails with the right
// kind, naming the file, and a batch over [good, fault, good] writes the first
// row, stops at the fault with the user's message and writes nothing after it.
void FaultsTest::sourceFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<FailureKind>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("directory") << "directory" << FailureKind::NotAPicture
                               << "不是可识别的图片，或文件已损坏";
    QTest::newRow("fifo") << "fifo" << FailureKind::NotAPicture << "不是可识别的图片，或文件已损坏";
    QTest::newRow("symlink to a fifo")
        << "fifo link" << FailureKind::NotAPicture << "不是可识别的图片，或文件已损坏";
    QTest::newRow("no read permission")
        << "unreadable" << FailureKind::CannotRead << "无法读取文件";
    QTest::newRow("symlink loop") << "loop" << FailureKind::FileMissing << "文件不存在";
    QTest::newRow("dangling symlink") << "dangling" << FailureKind::FileMissing << "文件不存在";
    QTest::newRow("removed after listing") << "removed" << FailureKind::FileMissing << "文件不存在";
    QTest::newRow("empty file") << "empty" << FailureKind::NotAPicture
                                << "不是可识别的图片，或文件已损坏";
}

void FaultsTest::sourceFaults() {
    QFETCH(QString, fault);
    QFETCH(FailureKind, kind);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Everyone may look into the folders, so that a check as nobody meets only
    // the fault under test.
    QCOMPARE(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString out = dir.filePath("out");
    QVERIFY(QDir().mkdir(out));
    QCOMPARE(chmod(QFile::encodeName(out).constData(), 0777), 0);
    const QString first = dir.filePath("first.png");
    const QString last = dir.filePath("last.png");
    const QString source = dir.filePath("fault.png");
    for (const QString& good : {first, last, source}) {
        QVERIFY(QFile::copy(corpusFile("hopper.png"), good));
        QCOMPARE(chmod(QFile::encodeName(good).constData(), 0644), 0);
    }

    const QByteArray sourceName = QFile::encodeName(source);
    std::function<void()> unblock;
    bool unprivileged = false;
    if (fault != "removed")
        QVERIFY(QFile::remove(source));
    if (fault == "directory") {
        QVERIFY(QDir().mkdir(source));
    } else if (fault == "fifo" || fault == "fifo link") {
        if (fault == "fifo") {
            QCOMPARE(mkfifo(sourceName.constData(), 0666), 0);
        } else {
            const QByteArray fifo = QFile::encodeName(dir.filePath("pipe"));
            QCOMPARE(mkfifo(fifo.constData(), 0666), 0);
            QCOMPARE(symlink(fifo.constData(), sourceName.constData()), 0);
        }
        // A writer that opens and closes at once ends a reader stuck on the FIFO.
        unblock = [sourceName] {
            const int writer = open(sourceName.constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                close(writer);
        };
    } else if (fault == "unreadable") {
        QVERIFY(QFile::copy(corpusFile("hopper.png"), source));
        QCOMPARE(chmod(sourceName.constData(), 0), 0);
        unprivileged = true;
    } else if (fault == "loop") {
        const QByteArray other = QFile::encodeName(dir.filePath("other.png"));
        QCOMPARE(symlink(other.constData(), sourceName.constData()), 0);
        QCOMPARE(symlink(sourceName.constData(), other.constData()), 0);
    } else if (fault == "dangling") {
        QCOMPARE(symlink("nowhere.png", sourceName.constData()), 0);
    } else if (fault == "empty") {
        writeFile(source, {});
    }

    // The file on its own.
    if (fault != "removed") {
        const auto loaded = bounded<Outcome>(
            [&] { return outcomeOf([&] { loadPictureFile(source); }); }, unprivileged, unblock);
        QVERIFY2(loaded, "loading the file did not come back");
        QVERIFY(loaded->failed);
        QCOMPARE(loaded->kind, kind);
        QVERIFY2(loaded->detail.startsWith(QDir::toNativeSeparators(source)),
                 qPrintable(loaded->detail));
    }

    // In a batch; "removed" takes the file away after it was listed.
    Batch batch({first, source, last}, out);
    if (fault == "removed")
        QVERIFY(QFile::remove(source));
    const auto text = bounded<QString>([&] { return batch.run(4); }, unprivileged, unblock);
    QVERIFY2(text, "the batch did not come back");
    QCOMPARE(*text, failureText(source, reason, 1, 2));
    QCOMPARE(entries(out), QStringList{"first.png"});
    QVERIFY(batch.desktop.messages.isEmpty());
    QCOMPARE(batch.state.outputFolder, out);
}

// The output folder goes away, or may no longer be written, in the middle of a
// batch: the rows before it are written, the failing row is reported and
// nothing partial is left.
void FaultsTest::outputFolderFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failingRow");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder removed before row 1") << "removed" << 1 << "输出文件夹不存在";
    QTest::newRow("folder removed before row 2") << "removed" << 2 << "输出文件夹不存在";
    QTest::newRow("folder replaced by a file") << "file" << 1 << "输出文件夹不存在";
    QTest::newRow("folder made read-only") << "read-only" << 2 << "没有写入权限";
}

void FaultsTest::outputFolderFaults() {
    QFETCH(QString, fault);
    QFETCH(int, failingRow);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    QStringList rows;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png"}) {
        rows << dir.filePath(name);
        QVERIFY(QFile::copy(corpusFile("hopper.png"), rows.last()));
        QCOMPARE(chmod(QFile::encodeName(rows.last()).constData(), 0644), 0);
    }
    const QString out = dir.filePath("out");
    const QString moved = dir.filePath("moved");
    QVERIFY(QDir().mkdir(out));
    // As root the batch runs as nobody, who owns the folder: only then does a
    // read-only folder stop the writes.
    const bool unprivileged = fault == "read-only";
    if (unprivileged && geteuid() == 0)
        QCOMPARE(chown(QFile::encodeName(out).constData(), kNobody, kNobody), 0);

    Batch batch(rows, out);
    batch.beforeSave = [&](int saves) {
        if (saves != failingRow)
            return;
        const QByteArray outName = QFile::encodeName(out);
        if (fault == "read-only") {
            chmod(outName.constData(), 0555);
        } else {
            rename(outName.constData(), QFile::encodeName(moved).constData());
            if (fault == "file")
                writeFile(out, "not a folder");
        }
    };
    const auto text = bounded<QString>([&] { return batch.run(4); }, unprivileged);
    QVERIFY(text);

    QCOMPARE(*text, failureText(rows.at(failingRow), reason, failingRow, 4 - failingRow));
    QStringList written;
    for (int row = 0; row < failingRow; ++row)
        written << QFileInfo(rows.at(row)).baseName() + ".png";
    QCOMPARE(entries(fault == "read-only" ? out : moved), written);
    if (fault == "file")
        QCOMPARE(readAll(out), QByteArray("not a folder"));
    for (const QString& name : written)
        QVERIFY(loadPictureFile((fault == "read-only" ? out : moved) + '/' + name));
}

// A disk that fills up while the output is written: the half-written file is
// removed and a file that was there before stays as it was.
void FaultsTest::fullDisk_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("tmpfs of 1 MiB") << "tmpfs";
    QTest::newRow("file size limit of 1 MiB") << "limit";
}

void FaultsTest::fullDisk() {
    QFETCH(QString, fault);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString small = dir.filePath("small.png");
    const QString large = dir.filePath("large.png");
    QVERIFY(QFile::copy(corpusFile("hopper.png"), small));
    saveAs(noise(800, 800), large); // about 2 MB as PNG or BMP
    const QString out = dir.filePath("out");

    std::optional<SmallFileSystem> tmpfs;
    if (fault == "tmpfs") {
        tmpfs.emplace(out, "1m");
        if (!tmpfs->mounted)
            QSKIP("mounting a tmpfs needs root (and a system that allows it)");
    } else {
        QVERIFY(QDir().mkdir(out));
    }
    const QString kept = out + "/large.bmp";
    writeFile(kept, "the file from before");

    // The single file, to a new name and over the old file.
    const Picture picture = noise(800, 800);
    std::optional<FileSizeLimit> limit;
    if (fault == "limit")
        limit.emplace(1024 * 1024);
    for (const QString& target : {out + "/new.bmp", kept}) {
        const Outcome saved = outcomeOf([&] { saveAs(picture, target); });
        QVERIFY(saved.failed);
        QCOMPARE(saved.kind, FailureKind::DiskFull);
        QVERIFY2(saved.detail.startsWith(target), qPrintable(saved.detail));
        QCOMPARE(entries(out), QStringList{"large.bmp"});
        QCOMPARE(readAll(kept), QByteArray("the file from before"));
    }

    // A batch: the small picture fits, the large one does not.
    Batch batch({small, large}, out);
    const QString text = batch.run(1);
    limit.reset();
    QCOMPARE(text, failureText(large, "磁盘空间不足", 1, 1));
    QCOMPARE(entries(out), (QStringList{"large.bmp", "small.bmp"}));
    QCOMPARE(readAll(kept), QByteArray("the file from before"));
    QVERIFY(loadPictureFile(out + "/small.bmp"));
}

// Names the file system takes badly or not at all. A name it cannot hold fails
// clearly; a name it holds converts.
void FaultsTest::awkwardNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<FailureKind>("kind"); // when it does not

    QTest::newRow("newline") << "two\nlines" << true << FailureKind::Cancelled;
    QTest::newRow("255 bytes") << QString(251, u'n') << true << FailureKind::Cancelled;
    QTest::newRow("255 bytes of Chinese")
        << QString(83, u'图') + "ab" << true << FailureKind::Cancelled;
    QTest::newRow("256 bytes") << QString(252, u'n') << false << FailureKind::FileMissing;
    QTest::newRow("300 bytes of Chinese")
        << QString(100, u'图') << false << FailureKind::FileMissing;
    QTest::newRow("path over 4096 bytes") << "deep" << false << FailureKind::FileMissing;
    QTest::newRow("invalid UTF-8") << "invalid" << false << FailureKind::FileMissing;
}

void FaultsTest::awkwardNames() {
    QFETCH(QString, name);
    QFETCH(bool, converts);
    QFETCH(FailureKind, kind);

    ScratchDir dir;
    QVERIFY(dir.isValid());
    const QByteArray png = readAll(corpusFile("hopper.png"));
    QVERIFY(!png.isEmpty());
    QString source;
    if (name == "deep") {
        source = makeDeepFile(dir.path(), 24, 200, png);
        QVERIFY(!source.isEmpty());
        QVERIFY(QFile::encodeName(source).size() > 4096);
    } else if (name == "invalid") {
        // The name is made from bytes. Qt decodes file names as UTF-8 and
        // leaves out of a listing what does not decode back to the same bytes;
        // the path a user could name is the decoded one, which does not lead
        // to the file.
        const QByteArray bytes = QFile::encodeName(dir.path()) + "/bad\xFF\xFEname.png";
        const int file = open(bytes.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(file >= 0);
        QCOMPARE(write(file, png.constData(), size_t(png.size())), png.size());
        close(file);
        source = QFile::decodeName(bytes);
        QVERIFY(QFile::encodeName(source) != bytes);
    } else {
        source = dir.filePath(name + ".png");
        // Written with POSIX calls on the byte name: too long a name fails here
        // the way it fails for any program.
        const int file =
            open(QFile::encodeName(source).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QCOMPARE(file >= 0, converts);
        if (file >= 0) {
            QCOMPARE(write(file, png.constData(), size_t(png.size())), png.size());
            close(file);
        }
    }

    const Outcome loaded = outcomeOf([&] { loadPictureFile(source); });
    QCOMPARE(loaded.failed, !converts);
    if (loaded.failed) {
        QCOMPARE(loaded.kind, kind);
        QVERIFY2(loaded.detail.startsWith(QDir::toNativeSeparators(source)),
                 qPrintable(loaded.detail));
    }

    // Written beside the source with the same name, and through a batch.
    const Picture picture = noise(8, 8);
    const QString target = source.left(source.size() - 4) + ".jpg";
    const Outcome saved = outcomeOf([&] { saveAs(picture, target); });
    if (converts && name != "invalid") {
        QVERIFY(!saved.failed);
        QVERIFY(loadPictureFile(target));
    } else if (saved.failed) {
        QCOMPARE(saved.kind, FailureKind::CannotWrite);
        QVERIFY2(saved.detail.startsWith(QDir::toNativeSeparators(target)),
                 qPrintable(saved.detail));
    }

    const QString out = dir.filePath("out");
    QVERIFY(QDir().mkdir(out));
    Batch batch({source}, out);
    const QString text = batch.run(0);
    if (converts) {
        QCOMPARE(text, QString());
        QCOMPARE(entries(out), QStringList{baseName(source) + ".jpg"});
    } else {
        QCOMPARE(text, failureText(source, Messages::failureReason(kind), 0, 1));
        QCOMPARE(entries(out), QStringList{});
    }
}

// Inputs that once went wrong (tests/regressions/, named after what they
// showed): each ends the way the table says, promptly and without output.
void FaultsTest::regressions_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<FailureKind>("kind");
    // A few bytes declaring a picture within our limits whose pixel cache is
    // beyond the codec's: it was reported as damaged, not as too large.
    QTest::newRow("png 14000 x 14000")
        << "png-14000x14000-cache-exhausted.png" << FailureKind::PictureTooLarge;
    QTest::newRow("gif screen 10000 x 10000")
        << "gif-screen-10000x10000-cache-exhausted.gif" << FailureKind::PictureTooLarge;
}

void FaultsTest::regressions() {
    QFETCH(QString, file);
    QFETCH(FailureKind, kind);
    const QString source = QStringLiteral(VELMORA_REGRESSIONS_DIR "/") + file;
    QVERIFY(QFile::exists(source));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::copy(source, dir.filePath(file)));
    Batch batch({dir.filePath(file)}, dir.filePath("out"));
    QVERIFY(QDir().mkdir(dir.filePath("out")));
    const auto text = bounded<QString>([&] { return batch.run(4); }, false);
    QVERIFY2(text, "the batch did not come back");
    QCOMPARE(*text, failureText(dir.filePath(file), Messages::failureReason(kind), 0, 1));
    QCOMPARE(entries(dir.filePath("out")), QStringList{});
}

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
