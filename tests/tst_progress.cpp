// SPDX-License-Identifier: MIT
// The progress dialog of a long batch, and cancelling a batch through it.
#include "ControlNames.h"
#include "MainWindow.h"
#include "QtBatchProgress.h"
#include "fakes/FakeCodec.h"
#include "fakes/FakeDesktop.h"
#include "system/OutputFiles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace ControlNames;

namespace {
QProgressDialog* shownProgressDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QProgressDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// The window with the real progress dialog over a scripted codec.
struct ProgressSession {
    std::shared_ptr<FakeCodec> codec;
    FakeDesktop desktop;
    MainWindow form;
    QListWidget* list = form.findChild<QListWidget*>(kPictureList);

    explicit ProgressSession(std::shared_ptr<FakeCodec> withCodec)
        : codec(std::move(withCodec))
        , form(codec, desktop) {
        desktop.progressFactory = [this](int totalRows) {
            return std::make_unique<QtBatchProgress>(&form, totalRows);
        };
        form.show();
    }
};

// Real output files for the scripted pictures, written the way the real
// codec writes them: ahead, out of sight, put in place on commit.
class FileWritingCodec : public FakeCodec {
public:
    std::unique_ptr<PreparedPicture> prepare(const PictureObject& picture, TargetFormat,
                                             const QString& fileName) override {
        checkReplaceable(fileName);
        return prepareOutputFile(picture->pixels, fileName);
    }
};
} // namespace

class ProgressTest : public QObject {
    Q_OBJECT

private slots:
    void appearsAfterHalfASecond();
    void cancelStopsTheBatchThroughTheWindow();
    void cancelDoesNotWaitForARunningCodec();
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
    QCOMPARE(dialog->windowTitle(), QStringLiteral("转换进度"));
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
    auto codec = std::make_shared<FakeCodec>();
    codec->loadDelayMs = 120;
    ProgressSession session(codec);
    MainWindow& form = session.form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QListWidget* list = session.list;
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
        auto* deleteButton = form.findChild<QPushButton*>(kDeleteButton);
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {},
                          deleteButton->mapTo(&form, deleteButton->rect().center()));
        rowsWrittenAtCancel = int(codec->savedTargets().size());
        dialog->findChild<QPushButton*>()->click();
    });
    watcher.start(50);

    session.desktop.folderAnswers = {QStringLiteral("/out")};
    QTest::mouseClick(form.findChild<QPushButton*>(convertButton(TargetFormat::Png)),
                      Qt::LeftButton);
    watcher.stop();

    QVERIFY(rowsWrittenAtCancel > 0);
    const int written = int(codec->savedTargets().size());
    QVERIFY2(written < 40, qPrintable(QString::number(written)));
    QCOMPARE(list->count(), 40); // the delete click was blocked
    const QList<QPair<QString, QString>> expected{
        {"转换已取消", QStringLiteral("已取消，已转换 %1 张图片。").arg(written)}};
    QCOMPARE(session.desktop.messages, expected);
    QCOMPARE(session.desktop.icons, QList<MessageIcon>{MessageIcon::Information});
    QCOMPARE(form.state().outputFolder, QDir::toNativeSeparators(QStringLiteral("/out")));
    QVERIFY(!form.findChild<QPushButton*>(kViewOutputButton)->isEnabled());
    QVERIFY(!shownProgressDialog());
}

// A cancel while workers are inside a codec call that does not look at its
// stop token (as a long call into a library may not): the window gets its
// message without waiting for them, the message counts the files on disk,
// and what the workers finish afterwards is neither written nor left behind.
void ProgressTest::cancelDoesNotWaitForARunningCodec() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Gate gate;
    auto codec = std::make_shared<FileWritingCodec>();
    codec->gate = &gate;
    QStringList rows;
    for (int i = 0; i < 6; ++i)
        rows << QStringLiteral("/p/%1.jpg").arg(i);
    codec->gatedRows = rows.mid(2); // rows 0 and 1 convert; the rest hang

    {
        ProgressSession session(codec);
        QVERIFY(QTest::qWaitForWindowExposed(&session.form));
        session.list->addItems(rows);
        bool cancelled = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            QProgressDialog* dialog = shownProgressDialog();
            if (!dialog || cancelled || !gate.waitForHeld(1, 0))
                return;
            cancelled = true;
            dialog->findChild<QPushButton*>()->click();
        });
        watcher.start(20);
        // Should the window wait for the held rows after all, open the gate
        // late so the test fails instead of hanging.
        QTimer::singleShot(20000, &session.form, [&gate] { gate.open(); });

        session.desktop.folderAnswers = {folder.path()};
        QTest::mouseClick(session.form.findChild<QPushButton*>(convertButton(TargetFormat::Png)),
                          Qt::LeftButton);
        watcher.stop();

        QVERIFY(cancelled);
        QVERIFY2(gate.waitForHeld(1, 0), "the handler waited for the codec");
        const QStringList written = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(written, (QStringList{"0.png", "1.png"}));
        const QList<QPair<QString, QString>> expected{
            {"转换已取消", QStringLiteral("已取消，已转换 2 张图片。")}};
        QCOMPARE(session.desktop.messages, expected);
    }

    // The held rows finish after the window is gone; nothing of theirs stays.
    gate.open();
    QTRY_COMPARE_WITH_TIMEOUT(codec.use_count(), 1L, 10000);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"0.png", "1.png"}));
}

QTEST_MAIN(ProgressTest)
#include "tst_progress.moc"
