// SPDX-License-Identifier: MIT
// Putting outputs in place: into folders with awkward names and paths longer
// than Windows' old 260-character limit, over a previous output, and over a
// target another program holds open. Runs on Linux and, under Wine, on
// Windows, where the wide-character and long-path APIs are the point.
#include "OutputFiles.h"
#include "PlatformError.h"
#include "support/FileTesting.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

    FailureKind failure = FailureKind::Cancelled; // stands for "did not fail"
    try {
        writeOutput("new", target);
    } catch (const PlatformError& error) {
        failure = error.kind();
    }
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

QTEST_GUILESS_MAIN(OutputFilesTest)
#include "tst_outputfiles.moc"
