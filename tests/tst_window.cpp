// SPDX-License-Identifier: MIT
// The main window as it opens: every control's place, caption and state,
// the focus order and the convert buttons' indexes; the keys on the focused
// control, and how the list shows its rows.
#include "ControlNames.h"
#include "MainWindow.h"
#include "PictureList.h"
#include "Translations.h"
#include "fakes/FakeCodec.h"
#include "fakes/FakeDesktop.h"
#include "fakes/WindowSession.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <vector>

using namespace ControlNames;

namespace {
QStringList focusChainFrom(QWidget* start, int steps) {
    QStringList names;
    start->setFocus();
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names << QApplication::focusWidget()->objectName();
    }
    return names;
}

// Everything the handlers leave on the scripted platform and in the list.
QString trace(const WindowSession& session) {
    const FakeDesktop& desktop = session.desktop;
    return QStringList{desktop.dialog.settings.join(u','), desktop.folderPrompts.join(u','),
                       desktop.openedFolders.join(u','), session.rows().join(u',')}
        .join(u'|');
}

// Two rows, the second selected, and one batch done so that view-now is
// enabled; the dialogs the handlers open are then cancelled.
void prepare(WindowSession& session) {
    session.desktop.dialog.answers = {QStringList{"/p", "a.jpg", "b.jpg"}.join(QChar(u'\0'))};
    session.press(kOpenButton);
    session.desktop.folderAnswers = {QStringLiteral("/out")};
    session.press(convertButton(TargetFormat::Jpg));
    session.clickRow(1);
}

// The pixels of a control whose grey level differs by more than a third of
// the scale between two pictures of it.
int changedPixels(const QImage& before, const QImage& after) {
    const QImage a = before.convertToFormat(QImage::Format_Grayscale8);
    const QImage b = after.convertToFormat(QImage::Format_Grayscale8);
    int changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            changed += std::abs(a.pixelColor(x, y).value() - b.pixelColor(x, y).value()) > 85;
    return changed;
}
} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installChineseTranslations(*QCoreApplication::instance()); }
    void controls_data();
    void controls();
    void windowAtStart();
    void focusOrder_data();
    void focusOrder();
    void convertButtonsHandTheirIndex();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void rowsShowTheirFileName_data();
    void rowsShowTheirFileName();
    void messageBoxButtonIsChinese();
};

void WindowTest::controls_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("shown");

    const struct {
        QLatin1StringView name;
        const char* caption;
        QRect place;
        bool enabled;
        bool shown;
    } rows[] = {
        {kOpenButton, "打开图片", {32, 48, 69, 37}, true, true},
        {kDeleteButton, "删除图片", {32, 96, 69, 37}, true, true},
        {kAddButton, "添加图片", {32, 144, 69, 37}, true, true},
        {kViewOutputButton, "立即查看", {32, 192, 69, 33}, false, true},
        {kListCaption, "文件列表：", {112, 32, 73, 17}, true, true},
        {kPictureList, "", {120, 48, 121, 364}, true, true},
        {kPreviewCaption, "图片预览 ：", {256, 32, 89, 17}, true, true},
        {kPreview, "", {264, 48, 297, 365}, true, true},
        {convertButton(TargetFormat::Bmp), "BMP保存路径", {579, 48, 80, 37}, true, true},
        {convertButton(TargetFormat::Jpg), "JPG保存路径", {579, 95, 80, 37}, true, true},
        {convertButton(TargetFormat::Gif), "GIF保存路径", {579, 142, 80, 37}, true, true},
        {convertButton(TargetFormat::Pcx), "PCX保存路径", {579, 189, 80, 37}, true, true},
        {convertButton(TargetFormat::Png), "PNG保存路径", {579, 236, 80, 37}, true, true},
        {convertButton(TargetFormat::Ico), "ICO保存路径", {579, 283, 80, 37}, true, true},
        {convertButton(TargetFormat::Tiff), "TIFF保存路径", {579, 328, 80, 37}, true, true},
        {kSelectionFolder, "无", {192, 504, 553, 25}, true, false},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name.data())
            << QString::fromUtf8(row.caption) << row.place << row.enabled << row.shown;
}

void WindowTest::controls() {
    QFETCH(QString, caption);
    QFETCH(QRect, place);
    QFETCH(bool, enabled);
    QFETCH(bool, shown);

    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QWidget* control = form.findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->geometry(), place);
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(control->isVisible(), shown);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->isDefault() && !button->autoDefault());
        QVERIFY(button->toolTip().isEmpty());
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        QCOMPARE(label->text(), caption);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    }
}

void WindowTest::windowAtStart() {
    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    // The Load handler has run before the window is shown.
    QVERIFY(desktop.dialog.settings.contains("CancelError=1"));
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QCOMPARE(form.windowTitle(), QStringLiteral("Velmora"));
    QCOMPARE(form.objectName(), kWindow);
    QCOMPARE(form.size(), QSize(696, 454));
    QCOMPARE(form.minimumSize(), form.maximumSize());

    auto* list = form.findChild<QListWidget*>(kPictureList);
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->palette().color(QPalette::Base), QColor(26, 142, 255));
    QCOMPARE(list->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(QApplication::focusWidget(), list);

    const QRect screen = form.screen()->availableGeometry();
    const QPoint offCentre = form.frameGeometry().center() - screen.center();
    QVERIFY2(offCentre.manhattanLength() <= 4, qPrintable(QString::number(offCentre.x())));

    const WindowState& state = form.state();
    QVERIFY(state.selectionParts.isEmpty());
    QCOMPARE(state.previewedRow, 0);
    QVERIFY(state.outputFolder.isEmpty() && state.lastOutputFolder.isEmpty());
}

void WindowTest::focusOrder_data() {
    QTest::addColumn<bool>("viewNowEnabled");
    QTest::addColumn<QStringList>("expected");

    // The convert buttons by index: TIFF, ICO, then JPG, BMP, GIF, PCX, PNG.
    QStringList afterViewNow{kOpenButton, kDeleteButton, kAddButton};
    for (const int button : {6, 5, 0, 1, 2, 3, 4})
        afterViewNow << kConvertButtons[button];
    afterViewNow << kPictureList;
    QTest::newRow("view-now disabled") << false << afterViewNow;
    QTest::newRow("view-now enabled") << true << QStringList{kViewOutputButton} + afterViewNow;
}

void WindowTest::focusOrder() {
    QFETCH(bool, viewNowEnabled);
    QFETCH(QStringList, expected);

    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    form.findChild<QPushButton*>(kViewOutputButton)->setEnabled(viewNowEnabled);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(focusChainFrom(form.findChild<QWidget*>(kPictureList), int(expected.size())),
             expected);
}

void WindowTest::convertButtonsHandTheirIndex() {
    // Top to bottom the column is BMP, JPG, GIF, PCX, PNG, ICO, TIFF.
    QStringList expectedTargets;
    for (const char* name : {"a.bmp", "a.jpg", "a.gif", "a.pcx", "a.png", "a.ico", "a.tiff"})
        expectedTargets << QDir::toNativeSeparators(QStringLiteral("/out/") + name);
    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    MainWindow form(codec, desktop);
    form.show();
    form.findChild<QListWidget*>(kPictureList)->addItem("/p/a.jpg");

    QList<QPushButton*> column;
    for (int i = 0; i < 7; ++i)
        column << form.findChild<QPushButton*>(kConvertButtons[i]);
    std::sort(column.begin(), column.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });

    for (QPushButton* button : column) {
        desktop.folderAnswers = {QStringLiteral("/out")};
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(codec->savedTargets(), expectedTargets);
    QVERIFY(!form.findChild<QLabel*>(kSelectionFolder)->isVisible());
}

void WindowTest::enterPressesTheFocusedButton_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");

    std::vector<QLatin1StringView> controls{kOpenButton, kDeleteButton, kAddButton,
                                            kViewOutputButton};
    controls.insert(controls.end(), kConvertButtons.begin(), kConvertButtons.end());
    controls.push_back(kPictureList);
    for (QLatin1StringView control : controls) {
        QTest::addRow("%s, Enter", control.data()) << QString(control) << int(Qt::Key_Return);
        QTest::addRow("%s, keypad Enter", control.data()) << QString(control) << int(Qt::Key_Enter);
    }
}

// Enter on a focused button does what a click on it does; on the list it does
// nothing, as there is no default button. A focused button shows it plainly.
void WindowTest::enterPressesTheFocusedButton() {
    QFETCH(QString, control);
    QFETCH(int, key);

    WindowSession clicked;
    prepare(clicked);
    WindowSession entered;
    prepare(entered);
    QVERIFY(QTest::qWaitForWindowActive(&entered.form));
    const QString before = trace(entered);

    QWidget* widget = entered.form.findChild<QWidget*>(control);
    const QImage unfocused = widget->grab().toImage();
    widget->setFocus();
    QCOMPARE(QApplication::focusWidget(), widget);
    QTest::keyClick(widget, Qt::Key(key));

    if (qobject_cast<QPushButton*>(widget)) {
        QVERIFY(changedPixels(unfocused, widget->grab().toImage()) >= 40);
        QTest::mouseClick(clicked.form.findChild<QPushButton*>(control), Qt::LeftButton);
        QCOMPARE(trace(entered), trace(clicked));
        QVERIFY(trace(entered) != before);
    } else {
        QCOMPARE(trace(entered), before);
    }
}

void WindowTest::rowsShowTheirFileName_data() {
    QTest::addColumn<QStringList>("opened"); // a folder and its names, as the dialog gives them
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("shown"); // each row's text, or its start…end

    const QStringList chinese{"/home/用户/图片/二〇二三年 夏天 旅行/第三天", "照片一.jpg",
                              "照片二.jpg"};
    const QStringList latin{"/home/someone/Pictures/holiday 2023/day three", "photo 1.jpg"};
    QTest::newRow("chinese, then latin added")
        << chinese << latin << QStringList{"/h…/照片一.jpg", "/h…/照片二.jpg", "/h…/photo 1.jpg"};
    QTest::newRow("latin, then chinese added")
        << latin << chinese << QStringList{"/h…/photo 1.jpg", "/h…/照片一.jpg", "/h…/照片二.jpg"};
    QTest::newRow("short paths") << QStringList{"/p", "a.jpg", "b.jpg"} << QStringList{"/p/c.jpg"}
                                 << QStringList{"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"};
    QTest::newRow("a name too long even alone")
        << QStringList{"/p/a photograph with a name far too long for the list.jpg"}
        << QStringList{"/p/b.jpg"} << QStringList{"a ph….jpg", "/p/b.jpg"};
}

// Every row is as tall as the others, before and after an add, holds its full
// path and shows as much of it as fits, always the end of the file name.
void WindowTest::rowsShowTheirFileName() {
    QFETCH(QStringList, opened);
    QFETCH(QStringList, added);
    QFETCH(QStringList, shown);

    WindowSession session;
    auto* list = qobject_cast<PictureList*>(session.list);
    QVERIFY(list);
    session.desktop.dialog.answers = {opened.join(QChar(u'\0')), added.join(QChar(u'\0'))};
    session.press(kOpenButton);
    const int height = list->visualItemRect(list->item(0)).height();
    session.press(kAddButton);

    const QFontMetrics metrics(list->font());
    QVERIFY(height >= metrics.boundingRect(QStringLiteral("照片 Ag")).height());
    QCOMPARE(list->count(), shown.size());
    for (int row = 0; row < list->count(); ++row) {
        const QString text = list->shownText(row);
        const QString expected = QDir::toNativeSeparators(shown.at(row));
        const QString start = expected.section(u'…', 0, 0);
        const QString end = expected.section(u'…', -1);
        QCOMPARE(list->visualItemRect(list->item(row)).height(), height);
        QVERIFY2(text.startsWith(start) && text.endsWith(end), qPrintable(text));
        QCOMPARE(text.contains(u'…'), shown.at(row).contains(u'…'));
        QVERIFY2(metrics.horizontalAdvance(text) <= list->viewport()->width(), qPrintable(text));
        QVERIFY(list->item(row)->text().endsWith(end));
    }
    QVERIFY(!list->horizontalScrollBar()->isVisible());
}

void WindowTest::messageBoxButtonIsChinese() {
    QMessageBox box(QMessageBox::Information, "t", "x", QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
