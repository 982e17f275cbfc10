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
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

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
} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void wholeRoad();
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
    QTest::mouseClick(form.findChild<QPushButton*>("Command7"), Qt::LeftButton);
    auto* list = form.findChild<QListWidget*>("List1");
    desktop.folderAnswers = {QDir::toNativeSeparators(dir.path())};
    if (preview)
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
    else
        QTest::mouseClick(form.findChild<QPushButton*>("zhuanhuan(4)"), Qt::LeftButton);

    QCOMPARE(desktop.messages.size(), 1);
    QString text = desktop.messages.first().second;
    QVERIFY2(text.contains(path + u'\n' + reason), qPrintable(text));
    QVERIFY2(!text.remove(path).remove(reason).contains(QRegularExpression("[A-Za-z]")),
             qPrintable(text));
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
