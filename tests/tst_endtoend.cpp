// SPDX-License-Identifier: MIT
// The whole road through the real window with the real codecs: open, preview,
// delete, add, convert to every format, view the output folder. Only the
// dialogs, the message box and the file manager are scripted.
#include "ControlNames.h"
#include "MainWindow.h"
#include "PreviewBox.h"
#include "conversion/FilePictureCodec.h"
#include "conversion/PictureConversion.h"
#include "fakes/FakeDesktop.h"
#include "support/FileTesting.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

using namespace ControlNames;

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

// Every file under a folder (not through links to folders) with its bytes,
// by its path relative to the folder.
QHash<QString, QByteArray> filesUnder(const QString& folder) {
    QHash<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        files[QDir(folder).relativeFilePath(file.fileName())] =
            file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable";
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
    void failuresAreToldInChineseAndLogged_data();
    void failuresAreToldInChineseAndLogged();
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
    auto* list = form.findChild<QListWidget*>(kPictureList);
    auto* preview = form.findChild<PreviewBox*>(kPreview);
    const auto press = [&](const QString& name) {
        QTest::mouseClick(form.findChild<QPushButton*>(name), Qt::LeftButton);
    };

    // Open all but the last, then add the last.
    const QString folder = QDir::toNativeSeparators(pictures.path());
    desktop.dialog.answers = {
        (QStringList{folder} + names.mid(0, names.size() - 1)).join(QChar(u'\0')),
        pictures.filePath(names.last())};
    press(kOpenButton);
    press(kAddButton);
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
    press(kDeleteButton);
    QCOMPARE(list->count(), names.size() - 1);
    names.removeFirst();

    for (int format = 0; format < 7; ++format) {
        const QString extension = extensionOf(kTargetFormats[format]).toString();
        const QString target = outputs.filePath(extension.mid(1));
        QVERIFY(QDir().mkpath(target));
        const QString folderChosen = QDir::toNativeSeparators(target);
        desktop.folderAnswers = {folderChosen};
        desktop.messages.clear();
        press(kConvertButtons[format]);

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

    press(kViewOutputButton);
    QCOMPARE(desktop.openedFolders,
             QStringList{QDir::toNativeSeparators(outputs.filePath(QStringLiteral("tiff")))});
}

void EndToEndTest::outputsNeverReplaceSources_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("folder");      // the output folder, in the pictures' folder
    QTest::addColumn<QStringList>("rows");    // as named in the open dialog
    QTest::addColumn<QStringList>("written"); // the files holding an output afterwards

    for (int format = 0; format < 7; ++format) {
        const QFileInfo own(kOwnPictures[format]);
        QTest::addRow("%s into its own folder", kOwnPictures[format])
            << format << "" << QStringList{own.fileName()}
            << QStringList{own.completeBaseName() + " (2)." + own.suffix()};
    }
    const QStringList second{"hopper (2).jpg"};
    QTest::newRow("row spelled with ./") << 0 << "" << QStringList{"./hopper.jpg"} << second;
    QTest::newRow("row through a symbolic link")
        << 0 << "" << QStringList{"link.jpg"} << QStringList{"link (2).jpg"};
    QTest::newRow("folder through a symbolic link")
        << 0 << "linked" << QStringList{"hopper.jpg"} << second;
    QTest::newRow("row in other letter case")
        << 1 << "" << QStringList{"RGBA32.BMP"} << QStringList{"RGBA32 (2).bmp"};
    QTest::newRow("two rows naming one file")
        << 0 << "" << QStringList{"hopper.jpg", "./hopper.jpg"} << second;
    QTest::newRow("two rows naming one file, one through a link")
        << 0 << "" << QStringList{"hopper.jpg", "link.jpg"} << second;
    QTest::newRow("a later row's source") << 0 << "" << QStringList{"in/hopper.jpg", "hopper.jpg"}
                                          << QStringList{"hopper (2).jpg", "hopper (3).jpg"};
    QTest::newRow("a file not of the list")
        << 4 << "" << QStringList{"hopper.jpg"} << QStringList{"hopper.png"};
}

void EndToEndTest::outputsNeverReplaceSources() {
    QFETCH(int, format);
    QFETCH(QString, folder);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, written);

    QTemporaryDir pictures;
    const QString corpus = QStringLiteral(VELMORA_CORPUS_DIR "/good/");
    QVERIFY(pictures.isValid() && QDir(pictures.path()).mkdir("in"));
    for (const char* name : kOwnPictures)
        QVERIFY(copyWritable(corpus + name, pictures.filePath(name)));
    // A photo to be turned upright, so that its JPG differs from it, and
    // another picture of its name.
    QVERIFY(QFile::remove(pictures.filePath("hopper.jpg")) &&
            copyWritable(corpus + "hopper_orientation_6.jpg", pictures.filePath("hopper.jpg")) &&
            copyWritable(corpus + "hopper.jpg", pictures.filePath("in/hopper.jpg")));
    std::error_code noLinks;
    const std::filesystem::path place = pictures.path().toStdWString();
    std::filesystem::create_symlink("hopper.jpg", place / "link.jpg", noLinks);
    if (!noLinks)
        std::filesystem::create_directory_symlink(".", place / "linked", noLinks);
    if (noLinks && (folder == "linked" || rows.contains("link.jpg")))
        QSKIP("this system makes no symbolic links here");
    if (rows.contains("RGBA32.BMP") && !QFileInfo::exists(pictures.filePath("RGBA32.BMP")))
        QSKIP("this file system tells letter cases apart");
    // Files already there that are not of the list are replaced by outputs of their names.
    for (const QString name : {"hopper.png", "hopper (2).jpg"}) {
        QFile file(pictures.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not ours") > 0);
    }
    const QHash<QString, QByteArray> before = filesUnder(pictures.path());

    auto codec = std::make_shared<FilePictureCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    desktop.dialog.answers = {(QStringList{pictures.path()} + rows).join(QChar(u'\0'))};
    QTest::mouseClick(form.findChild<QPushButton*>(kOpenButton), Qt::LeftButton);
    const QString chosen =
        QDir::toNativeSeparators(folder.isEmpty() ? pictures.path() : pictures.filePath(folder));
    desktop.folderAnswers = {chosen};
    QTest::mouseClick(form.findChild<QPushButton*>(kConvertButtons[format]), Qt::LeftButton);

    const QList<QPair<QString, QString>> done{
        {"转换完毕", "图片转换完毕！图片已经被输出保存路径到" + chosen}};
    QCOMPARE(desktop.messages, done);
    const QHash<QString, QByteArray> after = filesUnder(pictures.path());
    QStringList names = after.keys(), expected = before.keys() + written;
    expected.removeDuplicates();
    expected.sort();
    names.sort();
    QCOMPARE(names, expected);
    const QByteArray magic = magicOf(extensionOf(kTargetFormats[format]).toString());
    for (const QString& name : names)
        QVERIFY2(written.contains(name) ? after[name].startsWith(magic)
                                        : after[name] == before[name],
                 qPrintable(name));
}

// The user reads the cause in Chinese; the codec's own words go to the log,
// with the file, for a conversion and a preview alike.
void EndToEndTest::failuresAreToldInChineseAndLogged_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("preview"); // else converted
    QTest::addColumn<QString>("reason");
    QFile damagedFile(QStringLiteral(VELMORA_CORPUS_DIR "/bad/shortfile.bmp"));
    QVERIFY(damagedFile.open(QIODevice::ReadOnly));
    // Damage the codec itself reports, in its own words.
    const QByteArray damaged = damagedFile.readAll();
    const QString notAPicture = QStringLiteral("不是可识别的图片，或文件已损坏");
    QTest::newRow("damaged, converted") << damaged << false << notAPicture;
    QTest::newRow("damaged, previewed") << damaged << true << notAPicture;
    QTest::newRow("WebP, converted")
        << QByteArray("RIFF\x24\0\0\0WEBPVP8 ", 16) << false << "不支持的图片格式：WebP";
}

void EndToEndTest::failuresAreToldInChineseAndLogged() {
    QFETCH(QByteArray, content);
    QFETCH(bool, preview);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("照片 1.jpg")));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    QString why;
    try {
        loadPictureFile(path);
    } catch (const PlatformError& e) {
        why = e.detail().mid(path.size() + 2); // after "<file>: "
    }
    QVERIFY(!why.isEmpty());
    // One line in the log: the file, the kind of failure, the codec's words.
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression('^' + QRegularExpression::escape(path) +
                                            ": [a-z ]+: " + QRegularExpression::escape(why) + '$'));
    auto codec = std::make_shared<FilePictureCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    desktop.dialog.answers = {path};
    QTest::mouseClick(form.findChild<QPushButton*>(kOpenButton), Qt::LeftButton);
    auto* list = form.findChild<QListWidget*>(kPictureList);
    desktop.folderAnswers = {QDir::toNativeSeparators(dir.path())};
    if (preview)
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
    else
        QTest::mouseClick(form.findChild<QPushButton*>(convertButton(TargetFormat::Png)),
                          Qt::LeftButton);

    QCOMPARE(desktop.messages.size(), 1);
    QString text = desktop.messages.first().second;
    QVERIFY2(text.contains(path + u'\n' + reason), qPrintable(text));
    QVERIFY2(!text.remove(path).remove(reason).contains(QRegularExpression("[A-Za-z]")),
             qPrintable(text));
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
