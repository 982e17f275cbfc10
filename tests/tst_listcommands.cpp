// SPDX-License-Identifier: MIT
// The list commands of the window: open, add, preview, delete and view-now,
// driven through the real window with a scripted platform.
#include "ControlNames.h"
#include "MainWindow.h"
#include "PreviewBox.h"
#include "fakes/WindowSession.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace ControlNames;

namespace {
const QString kOpenFilter =
    QStringLiteral("Filter=所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;)"
                   "|*.bmp;*.jpg;*.gif;*.pcx;*.ico;*.png;*.tiff;*.psd;");
const QString kAddFilter = QStringLiteral(
    "Filter=所有支持的格式(*.bmp;*.jpg;*.gif;*.pcx;*.ico)|*.bmp;*.jpg;*.gif;*.pcx;*.ico");

// Rows are named by letter: "A" is /p/A.jpg (\p\A.jpg on Windows).
QString rowPath(const QString& letter) {
    return QDir::toNativeSeparators("/p/" + letter + ".jpg");
}

// A window on a scripted platform, driven the way a user drives it.
struct Session : WindowSession {
    // "open:A,B" / "add:C" / "click:1" / "delete" / "convert" / "fail:B" / "cancel-open"
    // / "ctrl-click:1" / "double-click:1" / "drag:0-2" / "click-below" / "key:down"
    // / "key:ctrl-space"
    void perform(const QString& action) {
        const QString verb = action.section(':', 0, 0);
        const QString argument = action.section(':', 1);
        if (verb == "open" || verb == "add") {
            QStringList parts{"/p"};
            for (const QString& letter : argument.split(','))
                parts << letter + ".jpg";
            desktop.dialog.answers = {parts.size() == 2 ? rowPath(argument)
                                                        : parts.join(QChar(u'\0'))};
            press(verb == "open" ? kOpenButton : kAddButton);
        } else if (verb == "cancel-open") {
            press(kOpenButton);
        } else if (verb == "click") {
            clickRow(argument.toInt());
        } else if (verb == "ctrl-click") {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              rowCentre(argument.toInt()));
        } else if (verb == "double-click") {
            // Through the window, which turns the second press into a double click.
            QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {},
                               list->viewport()->mapTo(&form, rowCentre(argument.toInt())));
        } else if (verb == "drag") {
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, rowCentre(argument.at(0)));
            QTest::mouseMove(list->viewport(), rowCentre(argument.at(2)));
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, rowCentre(argument.at(2)));
        } else if (verb == "click-below") {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              rowCentre(list->count() - 1) + QPoint(0, 40));
        } else if (verb == "key") {
            list->setFocus();
            QTest::keyClick(list, argument == "down" ? Qt::Key_Down : Qt::Key_Space,
                            argument == "down" ? Qt::NoModifier : Qt::ControlModifier);
        } else if (verb == "delete") {
            press(kDeleteButton);
        } else if (verb == "convert") {
            desktop.folderAnswers = {QStringLiteral("/out")};
            press(convertButton(TargetFormat::Png));
        } else if (verb == "fail") {
            codec->loadFailures.insert(rowPath(argument), FailureKind::FileMissing);
        }
    }
    QPoint rowCentre(int row) const { return list->visualItemRect(list->item(row)).center(); }
    QPoint rowCentre(QChar row) const { return rowCentre(row.digitValue()); }
    // How often each row was previewed, as "A1 B2".
    QString previews() const {
        QStringList counts;
        for (QChar letter : QStringLiteral("ABC"))
            if (const int count = codec->loadsOf(rowPath(letter)))
                counts << letter + QString::number(count);
        return counts.join(u' ');
    }
    int selectedRow() const {
        const auto selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->row(selected.first());
    }
    // The source of the previewed picture; empty when the preview is empty.
    QString shown() const {
        return FakeCodec::sourceOf(form.findChild<PreviewBox*>(kPreview)->picture());
    }
};
} // namespace

class ListCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void openAndAdd_data();
    void openAndAdd();
    void dialogSettingsInOrder();
    void openKeepsPreviewAndPreviewedRow();
    void deleteSequences_data();
    void deleteSequences();
    void failingClickIsReportedAndLeavesState();
    void clicksNeverClearTheSelection_data();
    void clicksNeverClearTheSelection();
    void everyClickOnARowRunsTheListClickOnce_data();
    void everyClickOnARowRunsTheListClickOnce();
    void onlyTheLeftButtonChoosesARow_data();
    void onlyTheLeftButtonChoosesARow();
    void viewNowPassesTheFolderWhole();
    void viewNowReportsAFileManagerThatFails_data();
    void viewNowReportsAFileManagerThatFails();
};

void ListCommandsTest::openAndAdd_data() {
    QTest::addColumn<QList<std::optional<QString>>>("answers"); // nullopt cancels
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("label3");

    const QChar nul(u'\0');
    using Answers = QList<std::optional<QString>>;
    QTest::newRow("single file") << Answers{"/pics/a.jpg"} << QStringList{kOpenButton}
                                 << QStringList{"/pics/a.jpg"} << "/pics/";
    QTest::newRow("several files in dialog order")
        << Answers{QStringList{"/pics", "b.gif", "a.jpg"}.join(nul)} << QStringList{kOpenButton}
        << QStringList{"/pics/b.gif", "/pics/a.jpg"} << "/pics/";
    QTest::newRow("root folder") << Answers{QStringList{"/", "a.jpg", "b.jpg"}.join(nul)}
                                 << QStringList{kOpenButton} << QStringList{"/a.jpg", "/b.jpg"}
                                 << "/";
    QTest::newRow("same file twice")
        << Answers{"/pics/a.jpg", "/pics/a.jpg"} << QStringList{kOpenButton, kAddButton}
        << QStringList{"/pics/a.jpg", "/pics/a.jpg"} << "/pics/";
    QTest::newRow("add after open from another folder")
        << Answers{QStringList{"/pics", "a.jpg", "b.gif"}.join(nul),
                   QStringList{"/more", "c.bmp", "d.pcx"}.join(nul)}
        << QStringList{kOpenButton, kAddButton}
        << QStringList{"/pics/a.jpg", "/pics/b.gif", "/more/c.bmp", "/more/d.pcx"} << "/more/";
    QTest::newRow("open replaces the rows")
        << Answers{"/pics/a.jpg", "/more/c.bmp"} << QStringList{kOpenButton, kOpenButton}
        << QStringList{"/more/c.bmp"} << "/more/";
    QTest::newRow("cancelled open changes nothing")
        << Answers{"/pics/a.jpg", std::nullopt} << QStringList{kOpenButton, kOpenButton}
        << QStringList{"/pics/a.jpg"} << "/pics/";
    QTest::newRow("cancelled add changes nothing")
        << Answers{"/pics/a.jpg", std::nullopt} << QStringList{kOpenButton, kAddButton}
        << QStringList{"/pics/a.jpg"} << "/pics/";
    QTest::newRow("cancel before any selection")
        << Answers{std::nullopt} << QStringList{kOpenButton} << QStringList{} << "无";
}

void ListCommandsTest::openAndAdd() {
    QFETCH(QList<std::optional<QString>>, answers);
    QFETCH(QStringList, buttons);
    QFETCH(QStringList, rows);
    QFETCH(QString, label3);

    Session session;
    session.desktop.dialog.answers = answers;
    for (const QString& button : buttons)
        session.press(qPrintable(button));

    for (QString& row : rows)
        row = QDir::toNativeSeparators(row);
    QCOMPARE(session.rows(), rows);
    QCOMPARE(session.selectedRow(), -1);
    QCOMPARE(session.form.findChild<QLabel*>(kSelectionFolder)->text(),
             QDir::toNativeSeparators(label3));
    QVERIFY(session.desktop.messages.isEmpty());
}

void ListCommandsTest::dialogSettingsInOrder() {
    Session session;
    session.desktop.dialog.settings.clear();
    session.press(kOpenButton);
    session.press(kAddButton);
    const QStringList expected{"CancelError=1", "Flags=1573380", kOpenFilter,
                               "CancelError=1", "Flags=1573380", kAddFilter};
    QCOMPARE(session.desktop.dialog.settings, expected);
}

void ListCommandsTest::openKeepsPreviewAndPreviewedRow() {
    Session session;
    for (const char* action : {"open:A,B", "click:1", "open:C,D,E"})
        session.perform(action);
    QCOMPARE(session.shown(), rowPath("B"));
    QCOMPARE(session.form.state().previewedRow, 1);
    QCOMPARE(session.selectedRow(), -1);
    QCOMPARE(session.form.state().selectionParts,
             (QStringList{QDir::toNativeSeparators("/p/"), "C.jpg", "D.jpg", "E.jpg"}));
}

void ListCommandsTest::deleteSequences_data() {
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("rows"); // letters left in the list
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("shown"); // letter shown, or "" for the empty preview
    QTest::addColumn<int>("selIndex");

    const auto actions = [](const char* text) { return QString::fromLatin1(text).split(' '); };
    QTest::newRow("middle row") << actions("open:A,B,C click:1 delete") << "AC" << 1 << "C" << 1;
    QTest::newRow("first row") << actions("open:A,B,C click:0 delete") << "BC" << 0 << "B" << 0;
    QTest::newRow("last row") << actions("open:A,B,C click:2 delete") << "AB" << -1 << "" << 2;
    QTest::newRow("last row twice")
        << actions("open:A,B,C click:2 delete delete") << "AB" << -1 << "" << 2;
    QTest::newRow("only row") << actions("open:A click:0 delete") << "" << -1 << "" << 0;
    QTest::newRow("no selection after open selects the row previewed last")
        << actions("open:A,B,C delete") << "ABC" << 0 << "A" << 0;
    QTest::newRow("second press then removes it")
        << actions("open:A,B,C delete delete") << "BC" << 0 << "B" << 0;
    QTest::newRow("no selection, row previewed last beyond the rows")
        << actions("open:A,B,C,D,E click:4 open:A,B,C delete") << "ABC" << -1 << "" << 4;
    QTest::newRow("no selection, row previewed last equal to the row count")
        << actions("open:A,B,C,D click:3 open:A,B,C delete") << "ABC" << -1 << "" << 3;
    QTest::newRow("empty list") << actions("delete") << "" << -1 << "" << 0;
    QTest::newRow("right after a batch")
        << actions("open:A,B,C convert delete") << "AB" << -1 << "" << 2;
    QTest::newRow("failing click then delete removes the clicked row")
        << actions("open:A,B,C click:0 fail:B click:1 delete") << "AC" << 0 << "A" << 0;
    QTest::newRow("next row cannot be shown")
        << actions("open:A,B,C click:0 fail:B delete") << "BC" << 0 << "A" << 0;
}

void ListCommandsTest::deleteSequences() {
    QFETCH(QStringList, actions);
    QFETCH(QString, rows);
    QFETCH(int, selected);
    QFETCH(QString, shown);
    QFETCH(int, selIndex);

    Session session;
    for (const QString& action : actions)
        session.perform(action);

    QStringList expectedRows;
    for (QChar letter : rows)
        expectedRows << rowPath(letter);
    QCOMPARE(session.rows(), expectedRows);
    QCOMPARE(session.selectedRow(), selected);
    QCOMPARE(session.shown(), shown.isEmpty() ? QString() : rowPath(shown));
    QCOMPARE(session.form.state().previewedRow, selIndex);
}

void ListCommandsTest::failingClickIsReportedAndLeavesState() {
    Session session;
    for (const char* action : {"open:A,B", "click:0", "fail:B", "click:1"})
        session.perform(action);

    const QList<QPair<QString, QString>> expected{
        {"无法预览", "无法打开图片：" + rowPath("B") + "\n文件不存在"}};
    QCOMPARE(session.desktop.messages, expected);
    QCOMPARE(session.selectedRow(), 1);
    QCOMPARE(session.shown(), rowPath("A"));
    QCOMPARE(session.form.state().previewedRow, 0);
}

void ListCommandsTest::clicksNeverClearTheSelection_data() {
    QTest::addColumn<QString>("actions");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("rows"); // letters left after a delete

    QTest::newRow("click below the last row") << "open:A,B,C click:1 click-below" << 1 << "ABC";
    QTest::newRow("ctrl+click on the selected row")
        << "open:A,B,C click:1 ctrl-click:1" << 1 << "ABC";
    QTest::newRow("ctrl+space on the selected row")
        << "open:A,B,C click:1 key:ctrl-space" << 1 << "ABC";
    QTest::newRow("ctrl+click on another row") << "open:A,B,C click:1 ctrl-click:2" << 2 << "ABC";
    QTest::newRow("the down key") << "open:A,B,C click:0 key:down" << 1 << "ABC";
    QTest::newRow("delete after a click below")
        << "open:A,B,C click:1 click-below delete" << 1 << "AC";
}

void ListCommandsTest::clicksNeverClearTheSelection() {
    QFETCH(QString, actions);
    QFETCH(int, selected);
    QFETCH(QString, rows);

    Session session;
    for (const QString& action : actions.split(' '))
        session.perform(action);
    QCOMPARE(session.selectedRow(), selected);
    QStringList expectedRows;
    for (QChar letter : rows)
        expectedRows << rowPath(letter);
    QCOMPARE(session.rows(), expectedRows);
}

void ListCommandsTest::everyClickOnARowRunsTheListClickOnce_data() {
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("previews");
    QTest::addColumn<int>("messages"); // 无法预览

    QTest::newRow("a row") << "open:A,B,C click:1"
                           << "B1" << 0;
    QTest::newRow("the selected row again") << "open:A,B,C click:1 click:1"
                                            << "B2" << 0;
    QTest::newRow("ctrl+click on the selected row") << "open:A,B,C click:1 ctrl-click:1"
                                                    << "B2" << 0;
    QTest::newRow("below the last row") << "open:A,B,C click:1 click-below"
                                        << "B1" << 0;
    QTest::newRow("double click") << "open:A,B,C double-click:2"
                                  << "C1" << 0;
    QTest::newRow("drag from a row to another") << "open:A,B,C drag:0-2"
                                                << "C1" << 0;
    QTest::newRow("the down key") << "open:A,B,C click:0 key:down"
                                  << "A1 B1" << 0;
    QTest::newRow("a failing row twice") << "open:A,B,C click:0 fail:B click:1 click:1"
                                         << "A1 B2" << 2;
}

void ListCommandsTest::everyClickOnARowRunsTheListClickOnce() {
    QFETCH(QString, actions);
    QFETCH(QString, previews);
    QFETCH(int, messages);

    Session session;
    for (const QString& action : actions.split(' '))
        session.perform(action);
    QCOMPARE(session.previews(), previews);
    QCOMPARE(session.desktop.messages.size(), messages);
}

void ListCommandsTest::onlyTheLeftButtonChoosesARow_data() {
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("previews");

    QTest::newRow("left") << Qt::LeftButton << false << 1 << "A1 B1";
    QTest::newRow("left, double") << Qt::LeftButton << true << 1 << "A1 B1";
    QTest::newRow("right") << Qt::RightButton << false << 0 << "A1";
    QTest::newRow("right, double") << Qt::RightButton << true << 0 << "A1";
    QTest::newRow("middle") << Qt::MiddleButton << false << 0 << "A1";
    QTest::newRow("middle, double") << Qt::MiddleButton << true << 0 << "A1";
}

void ListCommandsTest::onlyTheLeftButtonChoosesARow() {
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, doubleClick);
    QFETCH(int, selected);
    QFETCH(QString, previews);

    Session session;
    session.perform("open:A,B,C");
    session.perform("click:0");
    // Through the window, which turns a second press into a double click.
    const QPoint at = session.list->viewport()->mapTo(&session.form, session.rowCentre(1));
    if (doubleClick)
        QTest::mouseDClick(session.form.windowHandle(), button, {}, at);
    else
        QTest::mouseClick(session.form.windowHandle(), button, {}, at);
    QCOMPARE(session.selectedRow(), selected);
    QCOMPARE(session.previews(), previews);
}

void ListCommandsTest::viewNowPassesTheFolderWhole() {
    const QString folder = QStringLiteral("/tmp/my \"pictures\"; $(touch x) 'a'");
    Session session;
    session.perform("open:A");
    session.desktop.folderAnswers = {folder};
    session.press(convertButton(TargetFormat::Jpg));
    QVERIFY(session.form.findChild<QPushButton*>(kViewOutputButton)->isEnabled());

    session.press(kViewOutputButton);
    QCOMPARE(session.desktop.openedFolders, QStringList{QDir::toNativeSeparators(folder)});
}

void ListCommandsTest::viewNowReportsAFileManagerThatFails_data() {
    QTest::addColumn<bool>("cannotStart");
    QTest::newRow("cannot be started") << true;
    QTest::newRow("gives up after starting") << false;
}

void ListCommandsTest::viewNowReportsAFileManagerThatFails() {
    QFETCH(bool, cannotStart);
    Session session;
    session.perform("convert");
    session.desktop.messages.clear();
    session.desktop.icons.clear();
    session.desktop.fileManagerFails = cannotStart;
    session.desktop.fileManagerGivesUp = !cannotStart;
    session.press(kViewOutputButton);
    const QList<QPair<QString, QString>> expected{
        {"无法打开文件夹", "无法打开文件夹：" + QDir::toNativeSeparators("/out")}};
    QCOMPARE(session.desktop.messages, expected);
    QCOMPARE(session.desktop.icons, QList<MessageIcon>{MessageIcon::Warning});
}

QTEST_MAIN(ListCommandsTest)
#include "tst_listcommands.moc"
