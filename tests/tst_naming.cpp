// SPDX-License-Identifier: MIT
// Splitting a dialog result and naming the outputs, with Windows and Linux
// separators.
#include "OutputNaming.h"
#include "WindowState.h"

#include <QTest>

namespace {
const QChar kNul(u'\0');

QString nulJoined(const QStringList& parts) {
    return parts.join(kNul);
}
} // namespace

class NamingTest : public QObject {
    Q_OBJECT

private slots:
    void splitsSelectionIntoFolderAndNames_data();
    void splitsSelectionIntoFolderAndNames();
    void newSelectionReplacesThePreviousOne();
    void baseNameDropsTheLastExtension_data();
    void baseNameDropsTheLastExtension();
    void outputPath_data();
    void outputPath();
    void windowsPathsWithSlashes_data();
    void windowsPathsWithSlashes();
    void targetFormatTable();
};

void NamingTest::splitsSelectionIntoFolderAndNames_data() {
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("dialogResult");
    QTest::addColumn<QStringList>("expected");

    const QString win = QStringLiteral("\\");
    const QString nix = QStringLiteral("/");
    QTest::newRow("win single") << win << "C:\\pics\\a.jpg" << QStringList{"C:\\pics\\", "a.jpg"};
    QTest::newRow("win multi") << win << nulJoined({"C:\\pics", "a.jpg", "b.gif"})
                               << QStringList{"C:\\pics\\", "a.jpg", "b.gif"};
    QTest::newRow("win drive root multi")
        << win << nulJoined({"C:\\", "a.jpg", "b.jpg"}) << QStringList{"C:\\", "a.jpg", "b.jpg"};
    QTest::newRow("win drive root single") << win << "D:\\x.png" << QStringList{"D:\\", "x.png"};
    QTest::newRow("no separator") << win << "a.jpg" << QStringList{"", "a.jpg"};
    QTest::newRow("win dotted name")
        << win << "C:\\p\\my.photo.bmp" << QStringList{"C:\\p\\", "my.photo.bmp"};

    QTest::newRow("nix single") << nix << "/home/u/pics/a.jpg"
                                << QStringList{"/home/u/pics/", "a.jpg"};
    QTest::newRow("nix multi keeps order")
        << nix << nulJoined({"/home/u/pics", "b.gif", "a.jpg", "c d.png"})
        << QStringList{"/home/u/pics/", "b.gif", "a.jpg", "c d.png"};
    QTest::newRow("nix root multi")
        << nix << nulJoined({"/", "a.jpg", "b.jpg"}) << QStringList{"/", "a.jpg", "b.jpg"};
    QTest::newRow("nix root single") << nix << "/x.png" << QStringList{"/", "x.png"};
    QTest::newRow("nix dotted name")
        << nix << "/p/my.photo.bmp" << QStringList{"/p/", "my.photo.bmp"};
    QTest::newRow("backslash is a plain character on linux")
        << nix << "/p/a\\b.jpg" << QStringList{"/p/", "a\\b.jpg"};
}

void NamingTest::splitsSelectionIntoFolderAndNames() {
    QFETCH(QString, separator);
    QFETCH(QString, dialogResult);
    QFETCH(QStringList, expected);

    WindowState state;
    state.splitSelection(dialogResult, separator.at(0));
    QCOMPARE(state.selectionParts, expected);
}

void NamingTest::newSelectionReplacesThePreviousOne() {
    WindowState state;
    state.splitSelection(nulJoined({"C:\\pics", "a.jpg", "b.gif"}), u'\\');
    state.splitSelection(QStringLiteral("E:\\c.bmp"), u'\\');
    QCOMPARE(state.selectionParts, (QStringList{"E:\\", "c.bmp"}));
}

void NamingTest::baseNameDropsTheLastExtension_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    const struct {
        const char* name;
        const char* expected;
    } names[] = {
        {"photo.jpg", "photo"}, {"my.photo.bmp", "my.photo"},
        {"scan.tiff", "scan"},  {"photo.jpeg", "photo"},
        {"a.ico", "a"},         {"a.b", "a"},
        {"a.bm", "a"},          {"photo.", "photo"},
        {".hidden", ".hidden"}, {"README", "README"},
        {"照片.png", "照片"},   {"a b [1].gif", "a b [1]"},
    };
    for (const auto& n : names) {
        const QString name = QString::fromUtf8(n.name);
        const QString expected = QString::fromUtf8(n.expected);
        QTest::addRow("win %s", n.name) << "C:\\pics\\" + name << expected;
        QTest::addRow("nix %s", n.name) << "/home/u/pics/" + name << expected;
        QTest::addRow("bare %s", n.name) << name << expected;
    }
    // The dot of a folder name never counts.
    QTest::newRow("dotted folder") << "/home/u/my.pics/README"
                                   << "README";
}

void NamingTest::baseNameDropsTheLastExtension() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const QChar separator = path.contains(u'/') ? u'/' : u'\\';
    QCOMPARE(baseName(path, separator), expected);
}

void NamingTest::outputPath_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("expected");

    QTest::newRow("win png") << "D:\\out"
                             << "C:\\pics\\photo.jpg" << 4 << "D:\\out\\photo.png";
    QTest::newRow("win tiff") << "D:\\out"
                              << "C:\\pics\\photo.jpg" << 6 << "D:\\out\\photo.tiff";
    QTest::newRow("win drive root") << "D:\\"
                                    << "C:\\pics\\photo.jpg" << 4 << "D:\\photo.png";
    QTest::newRow("win four-letter source") << "D:\\out"
                                            << "C:\\pics\\scan.tiff" << 0 << "D:\\out\\scan.jpg";
    QTest::newRow("nix png") << "/out"
                             << "/pics/photo.jpg" << 4 << "/out/photo.png";
    QTest::newRow("nix root") << "/"
                              << "/pics/photo.jpg" << 4 << "/photo.png";
    QTest::newRow("nix folder with trailing separator") << "/out/"
                                                        << "/pics/x.gif" << 1 << "/out/x.bmp";
    QTest::newRow("nix four-letter source") << "/out"
                                            << "/pics/scan.tiff" << 0 << "/out/scan.jpg";
}

void NamingTest::outputPath() {
    QFETCH(QString, folder);
    QFETCH(QString, source);
    QFETCH(int, button);
    QFETCH(QString, expected);
    const QChar separator = folder.contains(u'/') ? u'/' : u'\\';
    QCOMPARE(::outputPath(folder, baseName(source, separator), extensionOf(kTargetFormats[button]),
                          separator),
             expected);
}

// Windows paths may come with forward slashes, or a mix: each is a
// separator there, and a folder ending in one gets no second.
void NamingTest::windowsPathsWithSlashes_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");
    QTest::newRow("slashes") << "D:/out"
                             << "C:/pics/photo.jpg"
                             << "D:/out\\photo.png";
    QTest::newRow("mixed") << "D:\\out"
                           << "C:\\pics/sub\\a.b/photo.jpg"
                           << "D:\\out\\photo.png";
    QTest::newRow("drive root with a slash") << "D:/"
                                             << "C:\\pics\\photo.jpg"
                                             << "D:/photo.png";
    QTest::newRow("unc share") << "//server/share"
                               << "//server/pics/照片.gif"
                               << "//server/share\\照片.png";
}

void NamingTest::windowsPathsWithSlashes() {
    QFETCH(QString, folder);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QCOMPARE(::outputPath(folder, baseName(source, u'\\'), u".png", u'\\'), expected);
}

void NamingTest::targetFormatTable() {
    // Index, caption and extension are what the buttons and the batch rely on.
    const QStringList captions{"JPG保存路径", "BMP保存路径", "GIF保存路径", "PCX保存路径",
                               "PNG保存路径", "ICO保存路径", "TIFF保存路径"};
    const QStringList extensions{".jpg", ".bmp", ".gif", ".pcx", ".png", ".ico", ".tiff"};
    QCOMPARE(kTargetFormats.size(), size_t(7));
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(convertButtonCaption(kTargetFormats[i]).toString(), captions[i]);
        QCOMPARE(extensionOf(kTargetFormats[i]).toString(), extensions[i]);
    }
}

QTEST_GUILESS_MAIN(NamingTest)
#include "tst_naming.moc"
