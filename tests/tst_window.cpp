// SPDX-License-Identifier: MIT
// The main window as it opens: every control's place, caption and state,
// the focus order and the convert buttons' indexes.
#include "Form1.h"
#include "Translations.h"
#include "fakes/FakeCodec.h"
#include "fakes/FakeDesktop.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

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
    void messageBoxButtonIsChinese();
};

void WindowTest::controls_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("shown");

    const struct {
        const char* name;
        const char* caption;
        QRect place;
        bool enabled;
        bool shown;
    } rows[] = {
        {"Command7", "打开图片", {32, 48, 69, 37}, true, true},
        {"Command1", "删除图片", {32, 96, 69, 37}, true, true},
        {"Command2", "添加图片", {32, 144, 69, 37}, true, true},
        {"CmdCha", "立即查看", {32, 192, 69, 33}, false, true},
        {"Label1", "文件列表：", {112, 32, 73, 17}, true, true},
        {"List1", "", {120, 48, 121, 364}, true, true},
        {"Label2", "图片预览 ：", {256, 32, 89, 17}, true, true},
        {"Picture1", "", {264, 48, 297, 365}, true, true},
        {"zhuanhuan(1)", "BMP保存路径", {579, 48, 80, 37}, true, true},
        {"zhuanhuan(0)", "JPG保存路径", {579, 95, 80, 37}, true, true},
        {"zhuanhuan(2)", "GIF保存路径", {579, 142, 80, 37}, true, true},
        {"zhuanhuan(3)", "PCX保存路径", {579, 189, 80, 37}, true, true},
        {"zhuanhuan(4)", "PNG保存路径", {579, 236, 80, 37}, true, true},
        {"zhuanhuan(5)", "ICO保存路径", {579, 283, 80, 37}, true, true},
        {"zhuanhuan(6)", "TIFF保存路径", {579, 328, 80, 37}, true, true},
        {"Label3", "无", {192, 504, 553, 25}, true, false},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << QString::fromUtf8(row.caption) << row.place << row.enabled
                                << row.shown;
}

void WindowTest::controls() {
    QFETCH(QString, caption);
    QFETCH(QRect, place);
    QFETCH(bool, enabled);
    QFETCH(bool, shown);

    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    Form1 form(codec, desktop);
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
    Form1 form(codec, desktop);
    // The Load handler has run before the window is shown.
    QVERIFY(desktop.dialog.settings.contains("CancelError=1"));
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QCOMPARE(form.windowTitle(), QStringLiteral("Velmora"));
    QCOMPARE(form.size(), QSize(696, 454));
    QCOMPARE(form.minimumSize(), form.maximumSize());

    auto* list = form.findChild<QListWidget*>("List1");
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->palette().color(QPalette::Base), QColor(26, 142, 255));
    QCOMPARE(list->palette().color(QPalette::Text), QColor(Qt::white));
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(QApplication::focusWidget(), list);

    const QRect screen = form.screen()->availableGeometry();
    const QPoint offCentre = form.frameGeometry().center() - screen.center();
    QVERIFY2(offCentre.manhattanLength() <= 4, qPrintable(QString::number(offCentre.x())));

    const FormState& state = form.state();
    QVERIFY(state.FileParts.isEmpty());
    QCOMPARE(state.SelIndex, 0);
    QVERIFY(state.OutputDir.isEmpty() && state.LastOutputDir.isEmpty());
}

void WindowTest::focusOrder_data() {
    QTest::addColumn<bool>("viewNowEnabled");
    QTest::addColumn<QStringList>("expected");

    const QStringList afterViewNow{"Command7",     "Command1",     "Command2",     "zhuanhuan(6)",
                                   "zhuanhuan(5)", "zhuanhuan(0)", "zhuanhuan(1)", "zhuanhuan(2)",
                                   "zhuanhuan(3)", "zhuanhuan(4)", "List1"};
    QTest::newRow("view-now disabled") << false << afterViewNow;
    QTest::newRow("view-now enabled") << true << QStringList{"CmdCha"} + afterViewNow;
}

void WindowTest::focusOrder() {
    QFETCH(bool, viewNowEnabled);
    QFETCH(QStringList, expected);

    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    Form1 form(codec, desktop);
    form.findChild<QPushButton*>("CmdCha")->setEnabled(viewNowEnabled);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(focusChainFrom(form.findChild<QWidget*>("List1"), int(expected.size())), expected);
}

void WindowTest::convertButtonsHandTheirIndex() {
    // Top to bottom the column is BMP, JPG, GIF, PCX, PNG, ICO, TIFF.
    const QStringList expectedTargets{"/out/a.bmp", "/out/a.jpg", "/out/a.gif", "/out/a.pcx",
                                      "/out/a.png", "/out/a.ico", "/out/a.tiff"};
    auto codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    Form1 form(codec, desktop);
    form.show();
    form.findChild<QListWidget*>("List1")->addItem("/p/a.jpg");

    QList<QPushButton*> column;
    for (int i = 0; i < 7; ++i)
        column << form.findChild<QPushButton*>(QStringLiteral("zhuanhuan(%1)").arg(i));
    std::sort(column.begin(), column.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });

    for (QPushButton* button : column) {
        desktop.folderAnswers = {QStringLiteral("/out")};
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(codec->savedTargets(), expectedTargets);
    QVERIFY(!form.findChild<QLabel*>("Label3")->isVisible());
}

void WindowTest::messageBoxButtonIsChinese() {
    QMessageBox box(QMessageBox::Information, "t", "x", QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
