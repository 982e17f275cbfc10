// SPDX-License-Identifier: MIT
// The Qt desktop: the filter and result text of the file-open
// dialog, the real dialogs and message box driven offscreen, and opening
// folders with awkward names.
#include "ExplorerArgument.h"
#include "FileDialogText.h"
#include "PlatformError.h"
#include "QtDesktop.h"
#include "QtFileOpenDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

Q_DECLARE_METATYPE(std::optional<int>)
Q_DECLARE_METATYPE(MessageIcon)

namespace {

const QString kOpenFilter =
    QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;)|"
                   "*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;");
const QString kAddFilter =
    QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico)|*.bmp;*.jpg;*.gif;*.pcx;*.ico");

QString nulJoined(const QStringList& parts) {
    return parts.join(QChar(u'\0'));
}

// Calls `act` with the first visible top-level widget of type T once one
// appears, i.e. while the code under test sits in its exec(). Stops looking
// after about five seconds. Should `act` leave the widget open, it is
// rejected two seconds later, unless it closes before, so that a fault fails
// the test instead of hanging it (the file dialogs are shown again in later
// tests).
template <typename T> void whenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer(qApp);
    auto attempts = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, attempts, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<T*>(widget); found && found->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(found);
                auto* dialog = static_cast<QDialog*>(found);
                if (!dialog->isVisible())
                    return;
                auto* fallback = new QTimer(dialog);
                QObject::connect(fallback, &QTimer::timeout, dialog, &QDialog::reject);
                QObject::connect(dialog, &QDialog::finished, fallback, &QObject::deleteLater);
                fallback->setSingleShot(true);
                fallback->start(2000);
                return;
            }
        }
        if (++*attempts > 250)
            timer->deleteLater();
    });
    timer->start(20);
}

// Types into the dialog's file name box, as a user would; several names go in
// double quotes.
void typeFileNames(QFileDialog* dialog, const QString& text) {
    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        edit->setText(text);
}

bool touch(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// Waits until the dialog's file list shows `name`: its folder is read on a
// thread of its own, and typing selects the rows it finds listed.
bool waitUntilListed(QFileDialog* dialog, const QString& name) {
    auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
    return view && QTest::qWaitFor([&] {
               const QModelIndexList found = view->model()->match(
                   view->model()->index(0, 0, view->rootIndex()), Qt::DisplayRole, name);
               return !found.isEmpty();
           });
}

void pressOpen(QFileDialog* dialog) {
    if (auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        buttons->button(QDialogButtonBox::Open)->click();
}

QString qtSettingsFile() {
    return QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("QtProject.conf");
}

// A stand-in for the desktop's opener, found first on the PATH while it
// lives: it writes each argument on a line of `arguments` and exits with
// `exitCode`. With no exit code, the PATH holds no opener at all.
struct StubOpener {
    QTemporaryDir folder;
    QByteArray savedPath = qgetenv("PATH");

    explicit StubOpener(std::optional<int> exitCode) {
        if (exitCode) {
            QFile script(folder.filePath(QStringLiteral("xdg-open")));
            script.open(QIODevice::WriteOnly);
            script.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done"
                                        " > '%1'\nexit %2\n")
                             .arg(arguments())
                             .arg(*exitCode)
                             .toUtf8());
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("PATH", QFile::encodeName(folder.path()) + (exitCode ? ":" + savedPath : ""));
    }
    ~StubOpener() { qputenv("PATH", savedPath); }
    QString arguments() const { return folder.filePath(QStringLiteral("arguments")); }
    QStringList received() const {
        QFile file(arguments());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
};

// Notes when an opener's end has been handled: the process that ran it is
// then deleted later, and that event passes through here.
class OpenerEnds : public QObject {
public:
    int handled = 0;
    OpenerEnds() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::DeferredDelete && qobject_cast<QProcess*>(watched))
            ++handled;
        return false;
    }
};

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

public:
    // The dialogs made here may write Qt's settings: to a home of the suite's
    // own, set before the application exists.
    static void initMain() {
        static QTemporaryDir home;
        if (!home.isValid())
            qFatal("no temporary home");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    }

private slots:
    void parseFilter_data();
    void parseFilter();
    void patternsIgnoreCase_data();
    void patternsIgnoreCase();
    void qtNameFilterKeepsDescription();
    void resultText_data();
    void resultText();
    void chosenFolderText_data();
    void chosenFolderText();

    void configuredDialogListsPicturesInAnyCase();
    void configuredDialogSingleFileWithoutMultiSelectFlag();
    void showOpenSeveralFiles();
    void showOpenCancelled();
    void typedNamesOutsideTheFilterAreTaken_data();
    void typedNamesOutsideTheFilterAreTaken();
    void dialogsWriteNoSettings_data();
    void dialogsWriteNoSettings();

    void browseForFolder();
    void showMessage_data();
    void showMessage();

    void openFolderPassesFolderAsIs_data();
    void openFolderPassesFolderAsIs();
    void openFolderFailures_data();
    void openFolderFailures();
    void explorerArgument_data();
    void explorerArgument();
};

void DesktopTest::parseFilter_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QList<DialogNameFilter>>("expected");

    const QString open =
        QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;)");
    const QString add = QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico)");
    QTest::newRow("open filter, trailing ;")
        << kOpenFilter
        << QList<DialogNameFilter>{
               {open, {"*.bmp", "*.jpg", "*.gif", "*.pcx", "*.ico", "*.png", "*.tiff", "*.psd"}}};
    QTest::newRow("add filter") << kAddFilter
                                << QList<DialogNameFilter>{
                                       {add, {"*.bmp", "*.jpg", "*.gif", "*.pcx", "*.ico"}}};
    QTest::newRow("empty patterns and blanks dropped")
        << "Pictures|;*.png;; *.jpg ;" << QList<DialogNameFilter>{{"Pictures", {"*.png", "*.jpg"}}};
    QTest::newRow("several pairs")
        << "Bitmaps|*.bmp|All|*.*"
        << QList<DialogNameFilter>{{"Bitmaps", {"*.bmp"}}, {"All", {"*.*"}}};
    QTest::newRow("description only") << "Anything" << QList<DialogNameFilter>{{"Anything", {"*"}}};
    QTest::newRow("empty") << "" << QList<DialogNameFilter>{};
}

void DesktopTest::parseFilter() {
    QFETCH(QString, filter);
    QFETCH(QList<DialogNameFilter>, expected);

    const QList<DialogNameFilter> actual = parseDialogFilter(filter);
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual.at(i).description, expected.at(i).description);
        QCOMPARE(actual.at(i).patterns, expected.at(i).patterns);
    }
}

void DesktopTest::patternsIgnoreCase_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("matches");

    QTest::newRow("camera name") << "*.jpg"
                                 << "IMG_0001.JPG" << true;
    QTest::newRow("lower") << "*.jpg"
                           << "a.jpg" << true;
    QTest::newRow("mixed") << "*.tiff"
                           << "Scan.TiFf" << true;
    QTest::newRow("other extension") << "*.jpg"
                                     << "a.jpeg" << false;
    QTest::newRow("extension only in the middle") << "*.png"
                                                  << "a.png.txt" << false;
    QTest::newRow("chinese name") << "*.bmp"
                                  << "照片 1.BMP" << true;
    QTest::newRow("existing class kept") << "*.[jp]ng"
                                         << "a.pNG" << true;
}

// Matched case-sensitively on purpose: the patterns themselves must carry the
// case-insensitivity, whatever the file list underneath does.
void DesktopTest::patternsIgnoreCase() {
    QFETCH(QString, pattern);
    QFETCH(QString, fileName);
    QFETCH(bool, matches);

    const QString written = caseInsensitivePattern(pattern);
    const QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(written));
    QVERIFY2(expression.isValid(), qPrintable(written));
    QCOMPARE(expression.match(fileName).hasMatch(), matches);
}

void DesktopTest::qtNameFilterKeepsDescription() {
    QCOMPARE(caseInsensitivePattern("*.[jp]ng"), QStringLiteral("*.[jp][nN][gG]"));
    const DialogNameFilter filter = parseDialogFilter(kAddFilter).value(0);
    QCOMPARE(qtNameFilter(filter),
             QStringLiteral("所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico) (*.[bB][mM][pP] "
                            "*.[jJ][pP][gG] *.[gG][iI][fF] *.[pP][cC][xX] *.[iI][cC][oO])"));
}

void DesktopTest::resultText_data() {
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("expected");

    const QString nix = QStringLiteral("/");
    const QString win = QStringLiteral("\\");
    QTest::newRow("single") << nix << QStringList{"/home/u/pics/a.jpg"} << "/home/u/pics/a.jpg";
    QTest::newRow("single windows") << win << QStringList{"C:/pics/a.jpg"} << "C:\\pics\\a.jpg";
    QTest::newRow("several in order")
        << nix << QStringList{"/home/u/pics/b.gif", "/home/u/pics/IMG_0001.JPG"}
        << nulJoined({"/home/u/pics", "b.gif", "IMG_0001.JPG"});
    QTest::newRow("several windows") << win << QStringList{"C:/pics/a.jpg", "C:/pics/b.png"}
                                     << nulJoined({"C:\\pics", "a.jpg", "b.png"});
    QTest::newRow("root") << nix << QStringList{"/a.jpg", "/b.jpg"}
                          << nulJoined({"/", "a.jpg", "b.jpg"});
    QTest::newRow("drive root") << win << QStringList{"D:/a.jpg", "D:/b.jpg"}
                                << nulJoined({"D:\\", "a.jpg", "b.jpg"});
    QTest::newRow("spaces and chinese")
        << nix << QStringList{"/home/u/我的 图片/照片 一.png", "/home/u/我的 图片/b c.jpg"}
        << nulJoined({"/home/u/我的 图片", "照片 一.png", "b c.jpg"});
    QTest::newRow("typed name in a subfolder") << nix << QStringList{"/p/a.jpg", "/p/sub/b.jpg"}
                                               << nulJoined({"/p", "a.jpg", "sub/b.jpg"});
    QTest::newRow("none") << nix << QStringList{} << "";

    // No fixed capacity: 40 long names are well past 260 characters.
    QStringList many;
    QStringList expected{"/data/pictures"};
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("holiday photograph number %1.jpg").arg(i);
        many << "/data/pictures/" + name;
        expected << name;
    }
    QTest::newRow("long result") << nix << many << nulJoined(expected);
}

void DesktopTest::resultText() {
    QFETCH(QString, separator);
    QFETCH(QStringList, selected);
    QFETCH(QString, expected);

    QCOMPARE(dialogResultText(selected, separator.at(0)), expected);
}

// What the folder chooser gives for the item accepted: its path, or an empty
// text for an item without one.
void DesktopTest::chosenFolderText_data() {
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QList<QUrl>>("selected");
    QTest::addColumn<QString>("expected");

    QTest::newRow("folder") << "/" << QList<QUrl>{QUrl::fromLocalFile("/home/u/输出")}
                            << "/home/u/输出";
    QTest::newRow("network share")
        << "\\" << QList<QUrl>{QUrl("file://server/share/out")} << "\\\\server\\share\\out";
    QTest::newRow("the computer itself") << "\\" << QList<QUrl>{QUrl()} << "";
    QTest::newRow("a virtual folder")
        << "\\" << QList<QUrl>{QUrl("clsid:20D04FE0-3AEA-1069-A2D8-08002B30309D")} << "";
    QTest::newRow("an item named by its shell id")
        << "\\" << QList<QUrl>{QUrl("data:text/plain;base64,OjpbMjBENF0=")} << "";
}

void DesktopTest::chosenFolderText() {
    QFETCH(QString, separator);
    QFETCH(QList<QUrl>, selected);
    QFETCH(QString, expected);
    QCOMPARE(chosenFolder(selected, separator.at(0)), expected);
}

void DesktopTest::configuredDialogListsPicturesInAnyCase() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* name : {"IMG_0001.JPG", "b.Bmp", "c.png", "notes.txt", "d.jpeg"})
        QVERIFY(touch(dir.filePath(QString::fromUtf8(name))));

    QtFileOpenDialog settings;
    settings.setFlags(FileOpenDialog::kMultiSelectFlags);
    settings.setFilter(kOpenFilter);
    QFileDialog dialog;
    settings.configure(dialog);
    dialog.setDirectory(dir.path());
    dialog.show();

    QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
    QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    QCOMPARE(types->count(), 1);
    QCOMPARE(types->currentText(), parseDialogFilter(kOpenFilter).value(0).description);

    auto* model = dialog.findChild<QFileSystemModel*>();
    QVERIFY(model);
    auto listed = [&] {
        const QModelIndex root = model->index(dir.path());
        QStringList names;
        for (int row = 0; row < model->rowCount(root); ++row)
            names << model->index(row, 0, root).data().toString();
        names.sort();
        return names;
    };
    QTRY_COMPARE(listed(), (QStringList{"IMG_0001.JPG", "b.Bmp", "c.png"}));
}

void DesktopTest::configuredDialogSingleFileWithoutMultiSelectFlag() {
    QtFileOpenDialog settings;
    settings.setFlags(FileOpenDialog::kMultiSelectFlags & ~QtFileOpenDialog::kAllowMultiSelect);
    settings.setFilter(kAddFilter);
    QFileDialog dialog;
    settings.configure(dialog);
    QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFile);
    QVERIFY(dialog.testOption(QFileDialog::DontResolveSymlinks));
}

void DesktopTest::showOpenSeveralFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(touch(dir.filePath("IMG_0001.JPG")));
    QVERIFY(touch(dir.filePath("b c.png")));

    QWidget owner;
    QtDesktop desktop;
    desktop.setOwner(&owner);
    FileOpenDialog& dialog = desktop.fileOpenDialog();
    dialog.setCancelError(true);
    dialog.setFlags(FileOpenDialog::kMultiSelectFlags);
    dialog.setFilter(kOpenFilter);

    QWidget* seenParent = nullptr;
    bool wasModal = false;
    whenShown<QFileDialog>([&](QFileDialog* shown) {
        seenParent = shown->parentWidget();
        wasModal = QApplication::activeModalWidget() == shown;
        shown->setDirectory(dir.path());
        typeFileNames(shown, QStringLiteral("\"IMG_0001.JPG\" \"b c.png\""));
        static_cast<QDialog*>(shown)->accept(); // QFileDialog::accept, which checks the names
    });
    dialog.showOpen();

    QCOMPARE(seenParent, &owner);
    QVERIFY(wasModal);
    QCOMPARE(dialog.fileName(),
             nulJoined({QDir::toNativeSeparators(dir.path()), "IMG_0001.JPG", "b c.png"}));
}

void DesktopTest::showOpenCancelled() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(touch(dir.filePath("a.jpg")));

    QtDesktop desktop;
    FileOpenDialog& dialog = desktop.fileOpenDialog();
    dialog.setFlags(0);
    dialog.setFilter(kAddFilter);

    // A first, accepted use leaves a name behind ...
    whenShown<QFileDialog>([&](QFileDialog* shown) {
        shown->setDirectory(dir.path());
        typeFileNames(shown, QStringLiteral("a.jpg"));
        static_cast<QDialog*>(shown)->accept(); // QFileDialog::accept, which checks the names
    });
    dialog.showOpen();
    QCOMPARE(dialog.fileName(), QDir::toNativeSeparators(dir.filePath("a.jpg")));

    // ... which a cancel without CancelError clears, quietly.
    dialog.setCancelError(false);
    whenShown<QFileDialog>([](QFileDialog* shown) { shown->reject(); });
    dialog.showOpen();
    QCOMPARE(dialog.fileName(), QString());

    dialog.setCancelError(true);
    whenShown<QFileDialog>([](QFileDialog* shown) { shown->reject(); });
    try {
        dialog.showOpen();
        QFAIL("a cancel with CancelError set must throw");
    } catch (const PlatformError& error) {
        QCOMPARE(error.kind(), FailureKind::Cancelled);
    }
    QCOMPARE(dialog.fileName(), QString());
}

void DesktopTest::typedNamesOutsideTheFilterAreTaken_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("taken");

    QTest::newRow("a hidden name after a listed one")
        << kOpenFilter << R"("a.jpg" "scan.tif")" << QStringList{"a.jpg", "scan.tif"};
    QTest::newRow("a hidden name first") << kOpenFilter << R"("scan.tif" "a.jpg" "b.png")"
                                         << QStringList{"scan.tif", "a.jpg", "b.png"};
    QTest::newRow("a hidden name alone") << kOpenFilter << "scan.tif" << QStringList{"scan.tif"};
    QTest::newRow("the add filter hides a psd")
        << kAddFilter << R"("a.jpg" "layers.psd")" << QStringList{"a.jpg", "layers.psd"};
    QTest::newRow("listed names, in the typed order")
        << kOpenFilter << R"("b.png" "a.jpg")" << QStringList{"b.png", "a.jpg"};
}

// Typed once the folder is listed, as a user does, into the open or add dialog.
void DesktopTest::typedNamesOutsideTheFilterAreTaken() {
    QFETCH(QString, filter);
    QFETCH(QString, typed);
    QFETCH(QStringList, taken);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char* name : {"a.jpg", "b.png", "scan.tif", "layers.psd"})
        QVERIFY(touch(dir.filePath(name)));
    QtDesktop desktop;
    FileOpenDialog& dialog = desktop.fileOpenDialog();
    dialog.setFlags(FileOpenDialog::kMultiSelectFlags);
    dialog.setFilter(filter);
    whenShown<QFileDialog>([&](QFileDialog* shown) {
        shown->setDirectory(dir.path());
        if (waitUntilListed(shown, "a.jpg")) {
            typeFileNames(shown, typed);
            pressOpen(shown);
        }
    });
    dialog.showOpen();

    QStringList paths;
    for (const QString& name : taken)
        paths << dir.filePath(name);
    QCOMPARE(dialog.fileName(), dialogResultText(paths));
}

void DesktopTest::dialogsWriteNoSettings_data() {
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("accept");
    QTest::newRow("pictures picked") << false << true;
    QTest::newRow("pictures dialog cancelled") << false << false;
    QTest::newRow("folder chosen") << true << true;
    QTest::newRow("folder dialog cancelled") << true << false;
}

// Qt's own settings file stays unwritten, also once the window and the
// desktop are gone.
void DesktopTest::dialogsWriteNoSettings() {
    QFETCH(bool, folder);
    QFETCH(bool, accept);

    QFile::remove(qtSettingsFile()); // the dialogs the tests above make write it
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && touch(dir.filePath("a.jpg")));
    {
        QWidget owner;
        QtDesktop desktop;
        desktop.setOwner(&owner);
        whenShown<QFileDialog>([&](QFileDialog* shown) {
            shown->setDirectory(dir.path());
            typeFileNames(shown, folder ? QString() : "a.jpg");
            accept ? pressOpen(shown) : shown->reject();
        });
        if (folder) {
            QCOMPARE(desktop.browseForFolder(QStringLiteral("选择")).has_value(), accept);
        } else {
            desktop.fileOpenDialog().showOpen(); // a cancel does not throw: no CancelError
            QCOMPARE(desktop.fileOpenDialog().fileName().isEmpty(), !accept);
        }
    }
    QVERIFY(!QFile::exists(qtSettingsFile()));
}

void DesktopTest::browseForFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("输出 folder"));
    QVERIFY(QDir().mkpath(folder));

    QWidget owner;
    QtDesktop desktop;
    desktop.setOwner(&owner);

    QString seenTitle;
    QWidget* seenParent = nullptr;
    QFileDialog::FileMode seenMode = QFileDialog::AnyFile;
    whenShown<QFileDialog>([&](QFileDialog* shown) {
        seenTitle = shown->windowTitle();
        seenParent = shown->parentWidget();
        seenMode = shown->fileMode();
        shown->setDirectory(dir.path());
        typeFileNames(shown, folder);
        static_cast<QDialog*>(shown)->accept(); // QFileDialog::accept, which checks the names
    });
    const std::optional<QString> chosen = desktop.browseForFolder(QStringLiteral("选择输出文件夹"));
    QCOMPARE(seenTitle, QStringLiteral("选择输出文件夹"));
    QCOMPARE(seenParent, &owner);
    QCOMPARE(seenMode, QFileDialog::Directory);
    QVERIFY(chosen.has_value());
    QCOMPARE(*chosen, QDir::toNativeSeparators(folder));

    whenShown<QFileDialog>([](QFileDialog* shown) { shown->reject(); });
    QVERIFY(!desktop.browseForFolder(QStringLiteral("选择输出文件夹")).has_value());

    // Accepted on the computer itself, above every folder: an answer, but no folder.
    whenShown<QFileDialog>([](QFileDialog* shown) {
        shown->setDirectory(QString());
        static_cast<QDialog*>(shown)->done(QDialog::Accepted);
    });
    QCOMPARE(desktop.browseForFolder(QStringLiteral("选择输出文件夹")), std::optional(QString()));
}

void DesktopTest::showMessage_data() {
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<QMessageBox::Icon>("shownIcon");
    QTest::newRow("information") << MessageIcon::Information << QMessageBox::Information;
    QTest::newRow("warning") << MessageIcon::Warning << QMessageBox::Warning;
}

void DesktopTest::showMessage() {
    QFETCH(MessageIcon, icon);
    QFETCH(QMessageBox::Icon, shownIcon);
    QWidget owner;
    QtDesktop desktop;
    desktop.setOwner(&owner);

    const QString prompt = QStringLiteral("转换完成: <b>a.jpg</b>");
    bool found = false;
    bool wasModal = false;
    QWidget* seenParent = nullptr;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QString seenTitle;
    QString seenText;
    Qt::TextFormat seenFormat = Qt::AutoText;
    qsizetype buttonCount = 0;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        found = true;
        wasModal = box->isModal() && QApplication::activeModalWidget() == box;
        seenParent = box->parentWidget();
        seenIcon = box->icon();
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenFormat = box->textFormat();
        buttonCount = box->buttons().size();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    desktop.showMessage(prompt, QStringLiteral("提示"), icon);

    QVERIFY(found);
    QVERIFY(wasModal);
    QCOMPARE(seenParent, &owner);
    QCOMPARE(seenIcon, shownIcon);
    QCOMPARE(seenTitle, QStringLiteral("提示"));
    QCOMPARE(seenText, prompt);
    QCOMPARE(seenFormat, Qt::PlainText);
    QCOMPARE(buttonCount, 1);
}

void DesktopTest::openFolderPassesFolderAsIs_data() {
    QTest::addColumn<QString>("folder");

    QTest::newRow("spaces") << "/tmp/my pictures/out put";
    QTest::newRow("quotes") << "/tmp/it's \"quoted\"";
    QTest::newRow("semicolon") << "/tmp/a; rm -rf x";
    QTest::newRow("command substitution") << "/tmp/$(touch pwned)`id`";
    QTest::newRow("url characters") << "/tmp/50% #1 ?x=y";
    QTest::newRow("chinese") << "/tmp/输出 图片";
}

// The folder reaches the opener as one file URL, whatever its name, and a
// successful open reports nothing.
void DesktopTest::openFolderPassesFolderAsIs() {
#ifdef Q_OS_WIN
    QSKIP("Windows opens folders with Explorer; see explorerArgument");
#endif
    QFETCH(QString, folder);

    StubOpener opener(0);
    QtDesktop desktop;
    OpenerEnds ends;
    bool reported = false;
    desktop.openFolder(folder, [&](const PlatformError&) { reported = true; });
    QTRY_COMPARE(ends.handled, 1);
    QCOMPARE(opener.received().size(), 1);
    const QUrl passed(opener.received().first());
    QCOMPARE(passed.toLocalFile(), folder);
    QVERIFY(!reported);
}

// An opener that gives up is reported later, without the caller waiting; no
// opener at all is reported at once.
void DesktopTest::openFolderFailures_data() {
    QTest::addColumn<std::optional<int>>("exitCode");
    QTest::addColumn<bool>("throws");
    QTest::newRow("opener exits 3") << std::optional<int>(3) << false;
    QTest::newRow("no opener") << std::optional<int>() << true;
}

void DesktopTest::openFolderFailures() {
#ifdef Q_OS_WIN
    QSKIP("Windows opens folders with Explorer; see explorerArgument");
#endif
    QFETCH(std::optional<int>, exitCode);
    QFETCH(bool, throws);

    StubOpener opener(exitCode);
    QtDesktop desktop;
    int reports = 0;
    try {
        desktop.openFolder(QStringLiteral("/tmp/x"), [&](const PlatformError&) { ++reports; });
        QVERIFY(!throws);
        QCOMPARE(reports, 0); // not yet: the opener has not answered
        QTRY_COMPARE(reports, 1);
    } catch (const PlatformError& error) {
        QVERIFY(throws);
        QCOMPARE(error.kind(), FailureKind::CannotStart);
    }
}

// Explorer's command line: one quoted argument with Windows separators, the
// characters a shell would act on passed as they are.
void DesktopTest::explorerArgument_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");

    const QString deep = QStringLiteral("C:/") + QStringLiteral("子文件夹/").repeated(60) + "out";
    QString deepNative = deep;
    deepNative.replace(u'/', u'\\');

    QTest::newRow("shell characters") << "C:/My Pictures/a & b ^c %PATH% (1)"
                                      << R"x("C:\My Pictures\a & b ^c %PATH% (1)")x";
    QTest::newRow("chinese") << "D:/输出 图片"
                             << R"x("D:\输出 图片")x";
    QTest::newRow("drive root") << "D:/"
                                << R"x("D:\.")x";
    QTest::newRow("drive root, native") << "D:\\"
                                        << R"x("D:\.")x";
    QTest::newRow("native") << "C:\\out\\jpg"
                            << R"x("C:\out\jpg")x";
    QTest::newRow("unc share") << "//server/share/out"
                               << R"x("\\server\share\out")x";
    QTest::newRow("over 260 characters") << deep << u'"' + deepNative + u'"';
}

void DesktopTest::explorerArgument() {
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(::explorerArgument(folder), expected);
}

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
