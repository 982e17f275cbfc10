// SPDX-License-Identifier: MIT
// The batch over the list rows, with fake controls and a scripted platform.
#include "BatchConversion.h"
#include "Messages.h"
#include "fakes/FakeCodec.h"
#include "fakes/FakeControls.h"
#include "fakes/FakeDesktop.h"

#include <QDir>
#include <QTest>

Q_DECLARE_METATYPE(FailureKind)

namespace {
// The pieces the batch works on, wired the way the window wires them: the
// list click previews the selected row and remembers it in previewedRow.
struct Rig {
    WindowState state;
    std::shared_ptr<FakeCodec> codec = std::make_shared<FakeCodec>();
    FakeDesktop desktop;
    FakeListBox list;
    FakeImage picture;
    FakeButton viewNow;
    BatchConversion batch{state, codec, desktop, {list, picture, viewNow}};
    QList<int> clicks;

    explicit Rig(const QStringList& rows) {
        list.rows = rows;
        viewNow.enabled = false;
        list.setClickHandler([this] {
            clicks << list.selectedRow();
            picture.setPicture(codec->loadPreview(list.rowText(list.selectedRow())));
            state.previewedRow = list.selectedRow();
        });
    }
    QStringList savedTargets() const { return codec->savedTargets(); }
};

// As the folder dialog gives it: with the system's separators.
const QString kOut = QDir::toNativeSeparators(QStringLiteral("/out"));

// An output in kOut, joined with the system's separator as the batch joins it.
QString out(const QString& name) {
    return kOut + QDir::separator() + name;
}
} // namespace

class BatchTest : public QObject {
    Q_OBJECT

private slots:
    void convertsRowsInOrderAndCompletes();
    void failingRowEndsTheBatch_data();
    void failingRowEndsTheBatch();
    void cancelledBrowserWithoutFolderDoesNothing();
    void folderWithoutPathStopsTheBatch();
    void emptyListStillCompletes();
    void rowsNeverOverwriteEachOther_data();
    void rowsNeverOverwriteEachOther();
    void eachRowIsDecodedOnce();
    void failureInALongBatchCommitsInOrderUpToIt();
    void cancelKeepsWhatWasWritten();
};

void BatchTest::convertsRowsInOrderAndCompletes() {
    Rig rig({"/p/a.jpg", "/p/b.gif", "/q/c.tiff"});
    rig.desktop.folderAnswers = {kOut};

    rig.batch.convertAll(TargetFormat::Png);

    QCOMPARE(rig.desktop.folderPrompts, QStringList{"请选择图片输出的保存路径："});
    const QList<QPair<QString, QString>> expectedSaves{
        {"/p/a.jpg", out("a.png")}, {"/p/b.gif", out("b.png")}, {"/q/c.tiff", out("c.png")}};
    QCOMPARE(rig.codec->saves, expectedSaves);
    QCOMPARE(rig.clicks, (QList<int>{0, 1, 2}));
    QCOMPARE(rig.list.selectedRow(), 2);
    QCOMPARE(FakeCodec::sourceOf(rig.picture.shown), QStringLiteral("/q/c.tiff"));
    QCOMPARE(rig.state.previewedRow, 2);
    QCOMPARE(rig.state.lastOutputFolder, kOut);
    QVERIFY(rig.viewNow.enabled);
    QCOMPARE(rig.state.outputFolder, QString());
    const QList<QPair<QString, QString>> expectedMessages{
        {"转换完毕", "图片转换完毕！图片已经被输出保存路径到" + kOut}};
    QCOMPARE(rig.desktop.messages, expectedMessages);
}

void BatchTest::failingRowEndsTheBatch_data() {
    QTest::addColumn<bool>("whenWriting"); // else when loading
    QTest::addColumn<FailureKind>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << false << FailureKind::FileMissing << "文件不存在";
    QTest::newRow("not a picture")
        << false << FailureKind::NotAPicture << "不是可识别的图片，或文件已损坏";
    QTest::newRow("too large") << false << FailureKind::PictureTooLarge << "图片尺寸超出限制";
    QTest::newRow("no write access") << true << FailureKind::NoWriteAccess << "没有写入权限";
    QTest::newRow("disk full") << true << FailureKind::DiskFull << "磁盘空间不足";
    QTest::newRow("folder gone") << true << FailureKind::FolderMissing << "输出文件夹不存在";
    QTest::newRow("cannot write") << true << FailureKind::CannotWrite << "无法写入文件";
}

void BatchTest::failingRowEndsTheBatch() {
    QFETCH(bool, whenWriting);
    QFETCH(FailureKind, kind);
    QFETCH(QString, reason);

    Rig rig({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/d.jpg"});
    if (whenWriting)
        rig.codec->unwritable.insert(out("b.bmp"), kind);
    else
        rig.codec->loadFailures.insert("/p/b.jpg", kind);
    rig.desktop.folderAnswers = {kOut};

    try {
        rig.batch.convertAll(TargetFormat::Bmp);
        QFAIL("the batch went past a failing row");
    } catch (const HandlerFailure& failure) {
        QCOMPARE(failure.title(), QStringLiteral("转换失败"));
        QCOMPARE(failure.text(),
                 "无法转换图片：/p/b.jpg\n" + reason + "\n已转换 1 张图片，其余 3 张未转换。");
        QVERIFY(failure.isWarning());
    }
    QCOMPARE(rig.savedTargets(), QStringList{out("a.bmp")});
    QVERIFY(rig.desktop.messages.isEmpty());
    QVERIFY(!rig.viewNow.enabled);
    QCOMPARE(rig.state.lastOutputFolder, QString());
    QCOMPARE(rig.state.outputFolder, kOut);

    // The folder is kept, so cancelling the browser converts into it again.
    rig.codec->loadFailures.clear();
    rig.codec->unwritable.clear();
    rig.codec->saves.clear();
    rig.batch.convertAll(TargetFormat::Jpg);
    QCOMPARE(rig.savedTargets(),
             (QStringList{out("a.jpg"), out("b.jpg"), out("c.jpg"), out("d.jpg")}));
    QCOMPARE(rig.state.lastOutputFolder, kOut);
}

void BatchTest::cancelledBrowserWithoutFolderDoesNothing() {
    Rig rig({"/p/a.jpg"});
    auto shown = std::make_shared<Picture>();
    rig.picture.shown = shown;

    rig.batch.convertAll(TargetFormat::Jpg);

    QVERIFY(rig.clicks.isEmpty());
    QVERIFY(rig.codec->saves.isEmpty());
    QVERIFY(rig.desktop.messages.isEmpty());
    QCOMPARE(rig.picture.shown, PictureObject(shown));
    QCOMPARE(rig.list.selectedRow(), -1);
    QVERIFY(!rig.viewNow.enabled);
}

// A chosen item without a path empties the folder a failed batch kept (where
// a cancel would convert into it again): nothing is converted or said.
void BatchTest::folderWithoutPathStopsTheBatch() {
    Rig rig({"/p/a.jpg"});
    rig.codec->loadFailures.insert("/p/a.jpg", FailureKind::FileMissing);
    rig.desktop.folderAnswers = {kOut, QString()};
    QVERIFY_THROWS_EXCEPTION(HandlerFailure, rig.batch.convertAll(TargetFormat::Gif));
    rig.codec->loadFailures.clear();
    rig.batch.convertAll(TargetFormat::Gif);
    QVERIFY(rig.codec->saves.isEmpty());
    QCOMPARE(rig.state.outputFolder, QString());
    QVERIFY(rig.desktop.messages.isEmpty());
}

void BatchTest::emptyListStillCompletes() {
    Rig rig({});
    rig.desktop.folderAnswers = {kOut};

    rig.batch.convertAll(TargetFormat::Tiff);

    QVERIFY(rig.codec->saves.isEmpty());
    QCOMPARE(rig.state.lastOutputFolder, kOut);
    QVERIFY(rig.viewNow.enabled);
    QCOMPARE(rig.desktop.messages.size(), 1);
    QCOMPARE(rig.state.outputFolder, QString());
}

void BatchTest::rowsNeverOverwriteEachOther_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("targets");

    QTest::newRow("same base name, other folders") << kOut << QStringList{"/a/x.jpg", "/b/x.gif"}
                                                   << QStringList{out("x.bmp"), out("x (2).bmp")};
    QTest::newRow("third copy") << kOut << QStringList{"/a/x.jpg", "/b/x.gif", "/c/x.pcx"}
                                << QStringList{out("x.bmp"), out("x (2).bmp"), out("x (3).bmp")};
    QTest::newRow("the same row twice writes one file")
        << kOut << QStringList{"/a/x.jpg", "/a/x.jpg"} << QStringList{out("x.bmp"), out("x.bmp")};
    QTest::newRow("a name that looks like a copy")
        << kOut << QStringList{"/a/x.jpg", "/b/x.gif", "/c/x (2).png"}
        << QStringList{out("x.bmp"), out("x (2).bmp"), out("x (2) (2).bmp")};
    QTest::newRow("names holding a percent sign")
        << kOut << QStringList{"/a/5%2.jpg", "/b/5%2.gif"}
        << QStringList{out("5%2.bmp"), out("5%2 (2).bmp")};
    QTest::newRow("names differing in case") << kOut << QStringList{"/a/X.jpg", "/b/x.gif"}
                                             << QStringList{out("X.bmp"), out("x (2).bmp")};
    QTest::newRow("root folder") << "/" << QStringList{"/a/x.jpg", "/b/x.gif"}
                                 << QStringList{QDir::toNativeSeparators("/x.bmp"),
                                                QDir::toNativeSeparators("/x (2).bmp")};
}

void BatchTest::rowsNeverOverwriteEachOther() {
    QFETCH(QString, folder);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, targets);

    Rig rig(rows);
    rig.desktop.folderAnswers = {folder};
    rig.batch.convertAll(TargetFormat::Bmp);
    QCOMPARE(rig.savedTargets(), targets);
}

namespace {
QStringList letterRows(int count) {
    QStringList rows;
    for (int i = 0; i < count; ++i)
        rows << QStringLiteral("/p/%1.jpg").arg(i);
    return rows;
}
} // namespace

void BatchTest::eachRowIsDecodedOnce() {
    const QStringList rows = letterRows(12);
    Rig rig(rows);
    rig.desktop.folderAnswers = {kOut};
    rig.batch.convertAll(TargetFormat::Png);

    QCOMPARE(rig.codec->saves.size(), rows.size());
    for (const QString& row : rows)
        QCOMPARE(rig.codec->loads.value(row), 1);
    // The last row is shown, from the batch's own decode.
    QCOMPARE(FakeCodec::sourceOf(rig.picture.shown), rows.last());
}

void BatchTest::failureInALongBatchCommitsInOrderUpToIt() {
    const QStringList rows = letterRows(12);
    Rig rig(rows);
    rig.codec->loadFailures.insert(rows.at(5), FailureKind::NotAPicture);
    rig.desktop.folderAnswers = {kOut};

    QVERIFY_THROWS_EXCEPTION(HandlerFailure, rig.batch.convertAll(TargetFormat::Bmp));

    QStringList expected;
    for (int i = 0; i < 5; ++i)
        expected << out(QStringLiteral("%1.bmp")).arg(i);
    QCOMPARE(rig.savedTargets(), expected);
    // Whatever was made ahead of the failing row was thrown away.
    for (const QString& target : rig.codec->discarded)
        QVERIFY2(!expected.contains(target), qPrintable(target));
    // The failing row is selected; its preview failed, so previewedRow stays behind.
    QCOMPARE(rig.list.selectedRow(), 5);
    QCOMPARE(rig.state.previewedRow, 4);
    QCOMPARE(rig.state.outputFolder, kOut);
}

void BatchTest::cancelKeepsWhatWasWritten() {
    Rig rig(letterRows(8));
    rig.desktop.cancelAtRow = 3;
    rig.desktop.folderAnswers = {kOut};

    try {
        rig.batch.convertAll(TargetFormat::Jpg);
        QFAIL("a cancelled batch completed");
    } catch (const HandlerFailure& failure) {
        QCOMPARE(failure.title(), QStringLiteral("转换已取消"));
        QCOMPARE(failure.text(), QStringLiteral("已取消，已转换 3 张图片。"));
        QVERIFY(!failure.isWarning());
    }
    QCOMPARE(rig.savedTargets(), (QStringList{out("0.jpg"), out("1.jpg"), out("2.jpg")}));
    QCOMPARE(rig.list.selectedRow(), 2);
    QVERIFY(rig.desktop.messages.isEmpty());
    QVERIFY(!rig.viewNow.enabled);
    QCOMPARE(rig.state.outputFolder, kOut);
}

QTEST_GUILESS_MAIN(BatchTest)
#include "tst_batch.moc"
