// SPDX-License-Identifier: MIT
// Putting outputs in place: into folders with awkward names and paths longer
// than Windows' old 260-character limit, over a previous output, over a
// target another program holds open, and outputs refused or dropped. Runs on Linux and, under Wine,
// on Windows, where the wide-character and long-path APIs are the point.
#include "PlatformError.h"
#include "support/FileTesting.h"
#include "system/OutputFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <stdexcept>
#include <thread>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(FailureKind)

namespace {

void writeOutput(const QByteArray& bytes, const QString& fileName) {
    prepareOutputFile(bytes, fileName)->commit();
}

} // namespace

class OutputFilesTest : public QObject {
    Q_OBJECT

private slots:
    void writesIntoAwkwardFolders_data();
    void writesIntoAwkwardFolders();
    void targetHeldOpen();
    void targetStaysUntilCommit();
    void droppedOutputLeavesNothing();
    void failedOutputLeavesFolderAsItWas_data();
    void failedOutputLeavesFolderAsItWas();
};

void OutputFilesTest::writesIntoAwkwardFolders_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("chinese") << "输出/图片 一"
                             << "照片.png";
    QTest::newRow("shell characters") << "a & b ^c %d (1)"
                                      << "50% #1.jpg";
    QTest::newRow("over 260 characters")
        << QStringLiteral("很长的子文件夹名字一二三/").repeated(25) << "深处的照片.tiff";
}

// The output lands under its own name, replaces an earlier one in one step,
// and leaves nothing else behind.
void OutputFilesTest::writesIntoAwkwardFolders() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString path = root.filePath(folder);
    QVERIFY(QDir().mkpath(path));
    const QString target = path + u'/' + name;
    QVERIFY(target.size() > folder.size());

    writeOutput("first", target);
    QCOMPARE(readAll(target), QByteArray("first"));
    writeOutput("second, longer", target);
    QCOMPARE(readAll(target), QByteArray("second, longer"));
    QCOMPARE(entries(path), QStringList{name});
}

// Windows will not replace a file another program has open: the output fails
// as a write failure ("无法写入文件"), and the target and the folder stay as
// they were. POSIX systems replace the name and the holder keeps the old file.
void OutputFilesTest::targetHeldOpen() {
    QTemporaryDir root;
    const QString target = root.filePath("held.png");
    QFile holder(target);
    QVERIFY(holder.open(QIODevice::ReadWrite));
    holder.write("kept");
    holder.flush();

    const FailureKind failure = failureOf([&] { writeOutput("new", target); });
#ifdef Q_OS_WIN
    QCOMPARE(failure, FailureKind::CannotWrite);
    QCOMPARE(readAll(target), QByteArray("kept"));
#else
    QCOMPARE(failure, FailureKind::Cancelled);
    QCOMPARE(readAll(target), QByteArray("new"));
    QVERIFY(holder.seek(0));
    QCOMPARE(holder.readAll(), QByteArray("kept"));
#endif
    QCOMPARE(entries(root.path()), QStringList{"held.png"});
}

// The old file stays whole until the commit, which may come from another
// thread, and the new one keeps its permissions.
void OutputFilesTest::targetStaysUntilCommit() {
    QTemporaryDir root;
    const QString target = root.filePath("photo.png");
    QVERIFY(writeAll(target, "the old file"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ReadGroup));
    checkReplaceable(target);
    const auto prepared = prepareOutputFile("the new file", target);
    QCOMPARE(readAll(target), QByteArray("the old file"));
    std::thread([&] { prepared->commit(); }).join();
    QCOMPARE(entries(root.path()), QStringList{"photo.png"});
    QCOMPARE(readAll(target), QByteArray("the new file"));
#ifndef Q_OS_WIN // Windows files have no mode bits to keep
    QCOMPARE(QFile::permissions(target), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadGroup | QFileDevice::ReadUser |
                                             QFileDevice::WriteUser);
#endif
}

// Nothing under the target's name until committed, at most a hidden file
// where the file system has no unnamed files; nothing at all once dropped.
void OutputFilesTest::droppedOutputLeavesNothing() {
    QTemporaryDir root;
    const QString target = root.filePath("out.jpg");
    {
        const auto prepared = prepareOutputFile("never committed", target);
        QVERIFY(!QFile::exists(target));
        const QStringList waiting = entries(root.path());
        QVERIFY(waiting.size() <= 1);
        for (const QString& name : waiting)
            QVERIFY2(name.startsWith('.') && name.endsWith(".part"), qPrintable(name));
    }
    QCOMPARE(entries(root.path()), QStringList());
}

void OutputFilesTest::failedOutputLeavesFolderAsItWas_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<FailureKind>("expected");
    QTest::newRow("read-only target") << "read-only target" << FailureKind::NoWriteAccess;
    QTest::newRow("target made read-only after preparing")
        << "read-only after preparing" << FailureKind::NoWriteAccess;
    // A regular file used as a folder fails for every user, root included.
    QTest::newRow("a file for a folder") << "file for a folder" << FailureKind::FolderMissing;
    QTest::newRow("folder not writable") << "folder not writable" << FailureKind::NoWriteAccess;
}

// A refused output leaves the target with its old content and nothing beside
// it, whether it is refused before the bytes are written or at the commit.
void OutputFilesTest::failedOutputLeavesFolderAsItWas() {
    QFETCH(QString, fault);
    QFETCH(FailureKind, expected);
    QTemporaryDir root;
    const QString old = root.filePath("photo.png");
    QVERIFY(writeAll(old, "keep me"));
    QString folder = root.path();
    QString target = old;
    QStringList left{"photo.png"};
    // As the codec writes: the target checked, the bytes written ahead, the commit.
    std::function<void()> write = [&] {
        checkReplaceable(target);
        writeOutput("new", target);
    };
    if (fault == "read-only target") {
        QVERIFY(QFile::setPermissions(old, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ReadOther));
    } else if (fault == "read-only after preparing") {
        write = [&] {
            checkReplaceable(target);
            const auto prepared = prepareOutputFile("new", target);
            if (!QFile::setPermissions(old, QFileDevice::ReadOwner))
                throw std::runtime_error("cannot make the target read-only");
            prepared->commit();
        };
    } else if (fault == "file for a folder") {
        target = old + "/out.png";
    } else {
#ifdef Q_OS_WIN
        QSKIP("a Windows folder's permissions are not its read-only attribute");
#else
        if (geteuid() == 0)
            QSKIP("permissions are not enforced for root");
#endif
        QVERIFY(QDir(root.path()).mkdir("locked"));
        folder = root.filePath("locked");
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        target = folder + "/out.png";
        left.clear();
    }
    QCOMPARE(failureOf(write), expected);
    QCOMPARE(entries(folder), left);
    QCOMPARE(readAll(old), QByteArray("keep me"));
}

QTEST_GUILESS_MAIN(OutputFilesTest)
#include "tst_outputfiles.moc"
