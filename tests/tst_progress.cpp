// SPDX-License-Identifier: MIT
// The progress dialog of a long batch, and cancelling a batch through it.
#include "Form1.h"
#include "QtBatchProgress.h"
#include "fakes/FakeServices.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {
QProgressDialog* shownProgressDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QProgressDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// Rows that take a while to decode, with the real progress dialog.
class SlowServices : public FakeServices {
public:
    QWidget* owner = nullptr;
    PictureObject LoadPicture(const QString& fileName) override {
        QThread::msleep(120);
        return FakeServices::LoadPicture(fileName);
    }
    std::unique_ptr<BatchProgress> startBatchProgress(int totalRows) override {
        return std::make_unique<QtBatchProgress>(owner, totalRows);
    }
};
} // namespace

class ProgressTest : public QObject {
    Q_OBJECT

private slots:
    void appearsAfterHalfASecond();
    void cancelStopsTheBatchThroughTheWindow();
};

void ProgressTest::appearsAfterHalfASecond() {
    QWidget owner;
    owner.show();
    QtBatchProgress progress(&owner, 10);
    progress.setProgress(0, 10);
    QVERIFY(!progress.isShown());

    QTest::qWait(600);
    progress.setProgress(3, 10);
    QVERIFY(progress.isShown());
    QProgressDialog* dialog = shownProgressDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    QCOMPARE(dialog->labelText(), QStringLiteral("正在转换图片…\n3 / 10"));
    QCOMPARE(dialog->value(), 3);
    auto* cancel = dialog->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("取消"));

    QVERIFY(!progress.wasCancelled());
    cancel->click();
    QVERIFY(progress.wasCancelled());
}

void ProgressTest::cancelStopsTheBatchThroughTheWindow() {
    SlowServices services;
    Form1 form(services);
    services.owner = &form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* list = form.findChild<QListWidget*>("List1");
    for (int i = 0; i < 40; ++i)
        list->addItem(QStringLiteral("/p/%1.jpg").arg(i));

    // Once the dialog is up, a click on the list must not reach the window,
    // and the cancel button must.
    int rowsWrittenAtCancel = -1;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [&] {
        QProgressDialog* dialog = shownProgressDialog();
        if (!dialog || rowsWrittenAtCancel >= 0)
            return;
        // Through the window system, as a real click comes.
        auto* deleteButton = form.findChild<QPushButton*>("Command1");
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {},
                          deleteButton->mapTo(&form, deleteButton->rect().center()));
        rowsWrittenAtCancel = int(services.saves.size());
        dialog->findChild<QPushButton*>()->click();
    });
    watcher.start(50);

    services.folderAnswers = {QStringLiteral("/out")};
    QTest::mouseClick(form.findChild<QPushButton*>("zhuanhuan(4)"), Qt::LeftButton);
    watcher.stop();

    QVERIFY(rowsWrittenAtCancel > 0);
    const int written = int(services.saves.size());
    QVERIFY2(written < 40, qPrintable(QString::number(written)));
    QCOMPARE(list->count(), 40); // the delete click was blocked
    const QList<QPair<QString, QString>> expected{
        {"转换已取消", QStringLiteral("已取消，已转换 %1 张图片。").arg(written)}};
    QCOMPARE(services.messages, expected);
    QCOMPARE(form.state().OutputDir, QStringLiteral("/out"));
    QVERIFY(!form.findChild<QPushButton*>("CmdCha")->isEnabled());
    QVERIFY(!shownProgressDialog());
}

QTEST_MAIN(ProgressTest)
#include "tst_progress.moc"
