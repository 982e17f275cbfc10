// SPDX-License-Identifier: MIT
// The whole road through the real window with the real codecs: open, preview,
// delete, add, convert to every format, view the output folder. Only the
// dialogs, the message box and the file manager are scripted.
#include "FilePictureCodec.h"
#include "MainWindow.h"
#include "PictureFiles.h"
#include "PreviewBox.h"
#include "fakes/FakeDesktop.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

namespace {
const char* const kSources[] = {
    "hopper.jpg",       "hopper_orientation_6.jpg", "transparent.gif", "rgba32.bmp",
    "hopper.psd",       "tiff_16bit_RGBa.tiff",     "pil184.pcx",      "hopper.ico",
    "p_trns_single.png"};

// The first bytes each target format starts with.
QByteArray magicOf(const QString& extension) {
    static const QHash<QString, QByteArray> magic{
        {".jpg", QByteArray("\xFF\xD8\xFF")}, {".bmp", QByteArray("BM")},
        {".gif", QByteArray("GIF8")},         {".pcx", QByteArray("\x0A")},
        {".png", QByteArray("\x89PNG")},      {".ico", QByteArray("\0\0\1\0", 4)},
        {".tiff", QByteArray("II*\0", 4)}};
    return magic.value(extension);
}

// Every file under a folder (not through links to folders), by its path
// relative to the folder, with its bytes.
QHash<QString, QByteArray> filesUnder(const QString& folder) {
    QHash<QString, QByteArray> files;
    QDirIterator entries(folder, QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        QFile file(entries.next());
        files.insert(QDir(folder).relativeFilePath(file.fileName()),
                     file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable"));
    }
    return files;
}

// The pictures of the folder that is also chosen as the output folder, one
// per target format in the buttons' order.
const char* const kOwnPictures[] = {"hopper.jpg",          "rgba32.bmp",        "transparent.gif",
                                    "pil184.pcx",          "p_trns_single.png", "hopper.ico",
                                    "tiff_16bit_RGBa.tiff"};
} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void wholeRoad();
    void outputsNeverReplaceSources_data();
    void outputsNeverReplaceSources();
};

void EndToEndTest::wholeRoad() {
    QTemporaryDir pictures;
    QTemporaryDir outputs;
    QVERIFY(pictures.isValid() && outputs.isValid());
    QStringList names;
    for (const char* name : kSources) {
        QVERIFY(QFile::copy(QStringLiteral(VELMORA_CORPUS_DIR "/good/") + name,
                            pictures.filePath(name)));
        names << name;
    }

    auto codec = std::make_shared<FilePictureCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    codec->setPreviewBox(form.previewBoxSize());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* list = form.findChild<QListWidget*>("List1");
    auto* preview = form.findChild<PreviewBox*>("Picture1");
    const auto press = [&](const QString& name) {
        QTest::mouseClick(form.findChild<QPushButton*>(name), Qt::LeftButton);
    };

    // Open all but the last, then add the last.
    const QString folder = QDir::toNativeSeparators(pictures.path());
    desktop.dialog.answers = {
        (QStringList{folder} + names.mid(0, names.size() - 1)).join(QChar(u'\0')),
        pictures.filePath(names.last())};
    press("Command7");
    press("Command2");
    QCOMPARE(list->count(), names.size());

    // Preview a row.
    const int rotated = int(names.indexOf("hopper_orientation_6.jpg"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(rotated)).center());
    QVERIFY(!preview->shownImage().isNull());
    QCOMPARE(form.state().previewedRow, rotated);
    QVERIFY(desktop.messages.isEmpty());

    // Delete the first row.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    press("Command1");
    QCOMPARE(list->count(), names.size() - 1);
    names.removeFirst();

    for (int format = 0; format < 7; ++format) {
        const QString extension = extensionOf(kTargetFormats[format]).toString();
        const QString target = outputs.filePath(extension.mid(1));
        QVERIFY(QDir().mkpath(target));
        const QString folderChosen = QDir::toNativeSeparators(target);
        desktop.folderAnswers = {folderChosen};
        desktop.messages.clear();
        press(QStringLiteral("zhuanhuan(%1)").arg(format));

        const QList<QPair<QString, QString>> done{
            {"转换完毕", "图片转换完毕！图片已经被输出保存路径到" + folderChosen}};
        QCOMPARE(desktop.messages, done);
        QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), names.size());
        for (const QString& name : names) {
            const QString output = target + '/' + QFileInfo(name).completeBaseName() + extension;
            QFile file(output);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(output));
            QVERIFY2(file.read(8).startsWith(magicOf(extension)), qPrintable(output));
            const PictureObject written = loadPictureFile(output);
            QVERIFY(written && written->width > 0);
            if (extension == ".ico")
                QVERIFY(written->width <= 256 && written->height <= 256);
        }
        QCOMPARE(list->currentRow(), names.size() - 1);
        QCOMPARE(form.state().previewedRow, names.size() - 1);
    }

    press("CmdCha");
    QCOMPARE(desktop.openedFolders,
             QStringList{QDir::toNativeSeparators(outputs.filePath(QStringLiteral("tiff")))});
}

void EndToEndTest::outputsNeverReplaceSources_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("outputFolder"); // below the pictures' folder
    QTest::addColumn<QStringList>("rows");     // as named in the open dialog
    QTest::addColumn<QString>("unrelated");    // a file of ours already in the output folder
    QTest::addColumn<QStringList>("written");  // the files that hold an output afterwards
    QTest::addColumn<QString>("needs");        // "links", "caseless" or nothing

    for (int format = 0; format < 7; ++format) {
        const QString name = kOwnPictures[format];
        const QString second =
            QFileInfo(name).completeBaseName() + " (2)." + QFileInfo(name).suffix();
        QTest::addRow("%s into its own folder", qPrintable(name))
            << format << "" << QStringList{name} << "" << QStringList{second} << "";
    }
    const QStringList secondJpg{"hopper (2).jpg"};
    QTest::newRow("row spelled with ./")
        << 0 << "" << QStringList{"./hopper.jpg"} << "" << secondJpg << "";
    QTest::newRow("output folder spelled with ..")
        << 0 << "in/.." << QStringList{"hopper.jpg"} << "" << secondJpg << "";
    QTest::newRow("row through a symbolic link")
        << 0 << "" << QStringList{"link.jpg"} << "" << QStringList{"link (2).jpg"} << "links";
    QTest::newRow("output folder through a symbolic link")
        << 0 << "linked" << QStringList{"hopper.jpg"} << "" << secondJpg << "links";
    QTest::newRow("row in other letter case") << 0 << "" << QStringList{"HOPPER.JPG"} << ""
                                              << QStringList{"HOPPER (2).jpg"} << "caseless";
    QTest::newRow("two rows naming one file")
        << 0 << "" << QStringList{"hopper.jpg", "./hopper.jpg"} << "" << secondJpg << "";
    QTest::newRow("two rows naming one file, one through a link")
        << 0 << "" << QStringList{"hopper.jpg", "link.jpg"} << "" << secondJpg << "links";
    QTest::newRow("a later row's source")
        << 0 << "" << QStringList{"in/hopper.jpg", "hopper.jpg"} << ""
        << QStringList{"hopper (2).jpg", "hopper (3).jpg"} << "";
    QTest::newRow("an unrelated file of the output's name is replaced")
        << 4 << "" << QStringList{"hopper.jpg"} << "hopper.png" << QStringList{"hopper.png"} << "";
    QTest::newRow("an unrelated file of the next name is replaced")
        << 0 << "" << QStringList{"hopper.jpg"} << "hopper (2).jpg" << secondJpg << "";
}

void EndToEndTest::outputsNeverReplaceSources() {
    QFETCH(int, format);
    QFETCH(QString, outputFolder);
    QFETCH(QStringList, rows);
    QFETCH(QString, unrelated);
    QFETCH(QStringList, written);
    QFETCH(QString, needs);

    QTemporaryDir pictures;
    QVERIFY(pictures.isValid() && QDir(pictures.path()).mkdir("in"));
    const QString corpus = QStringLiteral(VELMORA_CORPUS_DIR "/good/");
    for (const char* name : kOwnPictures)
        QVERIFY(QFile::copy(corpus + name, pictures.filePath(name)));
    // A photo to be turned upright, so that its JPG differs from it, and
    // another picture of its name.
    QVERIFY(QFile::remove(pictures.filePath("hopper.jpg")));
    QVERIFY(QFile::copy(corpus + "hopper_orientation_6.jpg", pictures.filePath("hopper.jpg")));
    QVERIFY(QFile::copy(corpus + "hopper.jpg", pictures.filePath("in/hopper.jpg")));
    if (needs == "caseless" && !QFileInfo::exists(pictures.filePath("HOPPER.JPG")))
        QSKIP("this file system tells letter cases apart");
    if (needs == "links") {
        std::error_code failed;
        const std::filesystem::path folder = pictures.path().toStdWString();
        std::filesystem::create_symlink("hopper.jpg", folder / "link.jpg", failed);
        if (!failed)
            std::filesystem::create_directory_symlink(".", folder / "linked", failed);
        if (failed)
            QSKIP("this system makes no symbolic links here");
    }
    if (!unrelated.isEmpty()) {
        QFile file(pictures.filePath(unrelated));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not from this batch") > 0);
    }
    const QHash<QString, QByteArray> before = filesUnder(pictures.path());

    auto codec = std::make_shared<FilePictureCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    desktop.dialog.answers = {(QStringList{pictures.path()} + rows).join(QChar(u'\0'))};
    QTest::mouseClick(form.findChild<QPushButton*>("Command7"), Qt::LeftButton);
    const QString folderChosen = QDir::toNativeSeparators(
        outputFolder.isEmpty() ? pictures.path() : pictures.filePath(outputFolder));
    desktop.folderAnswers = {folderChosen};
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("zhuanhuan(%1)").arg(format)),
                      Qt::LeftButton);

    const QList<QPair<QString, QString>> done{
        {"转换完毕", "图片转换完毕！图片已经被输出保存路径到" + folderChosen}};
    QCOMPARE(desktop.messages, done);
    const QHash<QString, QByteArray> after = filesUnder(pictures.path());
    QStringList expectedNames = before.keys() + written;
    expectedNames.removeDuplicates();
    QStringList names = after.keys();
    expectedNames.sort();
    names.sort();
    QCOMPARE(names, expectedNames);
    const QByteArray magic = magicOf(extensionOf(kTargetFormats[format]).toString());
    for (const QString& name : names) {
        if (written.contains(name))
            QVERIFY2(after.value(name).startsWith(magic), qPrintable(name));
        else
            QVERIFY2(after.value(name) == before.value(name), qPrintable(name));
    }
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
