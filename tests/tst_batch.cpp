// SPDX-License-Identifier: MIT
// The batch over the list rows, with fake controls and a scripted platform.
#include "BatchConversion.h"
#include "Messages.h"
#include "fakes/FakeControls.h"
#include "fakes/FakeServices.h"

#include <QTest>

namespace {
// The pieces the batch works on, wired the way the window wires them: the
// list click previews the selected row and remembers it in SelIndex.
struct Rig {
    FormState state;
    FakeServices services;
    FakeListBox list;
    FakeImage picture;
    FakeButton viewNow;
    BatchConversion batch{state, services, {list, picture, viewNow}};
    QList<int> clicks;

    explicit Rig(const QStringList& rows) {
        list.rows = rows;
        viewNow.enabled = false;
        list.setClickHandler([this] {
            clicks << list.ListIndex();
            picture.setPicture(services.loadPreview(list.List(list.ListIndex())));
            state.SelIndex = list.ListIndex();
        });
    }
    QStringList savedTargets() const {
        QStringList targets;
        for (const auto& save : services.saves)
            targets << save.second;
        return targets;
    }
};

const QString kOut = QStringLiteral("/out");
} // namespace

class BatchTest : public QObject {
    Q_OBJECT

private slots:
    void convertsRowsInOrderAndCompletes();
    void failingRowEndsTheBatch_data();
    void failingRowEndsTheBatch();
    void cancelledBrowserWithoutFolderDoesNothing();
    void emptyListStillCompletes();
    void rowsNeverOverwriteEachOther_data();
    void rowsNeverOverwriteEachOther();
    void eachRowIsDecodedOnce();
    void failureInALongBatchCommitsInOrderUpToIt();
    void cancelKeepsWhatWasWritten();
};

void BatchTest::convertsRowsInOrderAndCompletes() {
    Rig rig({"/p/a.jpg", "/p/b.gif", "/q/c.tiff"});
    rig.services.folderAnswers = {kOut};

    rig.batch.zhuanhuanClick(4);

    QCOMPARE(rig.services.folderPrompts, QStringList{"请选择图片输出的保存路径："});
    const QList<QPair<QString, QString>> expectedSaves{
        {"/p/a.jpg", "/out/a.png"}, {"/p/b.gif", "/out/b.png"}, {"/q/c.tiff", "/out/c.png"}};
    QCOMPARE(rig.services.saves, expectedSaves);
    QCOMPARE(rig.clicks, (QList<int>{0, 1, 2}));
    QCOMPARE(rig.list.ListIndex(), 2);
    QCOMPARE(FakeServices::sourceOf(rig.picture.shown), QStringLiteral("/q/c.tiff"));
    QCOMPARE(rig.state.SelIndex, 2);
    QCOMPARE(rig.state.LastOutputDir, kOut);
    QVERIFY(rig.viewNow.enabled);
    QCOMPARE(rig.state.OutputDir, QString());
    const QList<QPair<QString, QString>> expectedMessages{
        {"转换完毕", "图片转换完毕！图片已经被输出保存路径到/out"}};
    QCOMPARE(rig.services.messages, expectedMessages);
}

void BatchTest::failingRowEndsTheBatch_data() {
    QTest::addColumn<QString>("loadFailure"); // "", "missing", "damaged", "huge"
    QTest::addColumn<bool>("unwritable");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing file") << "missing" << false << "文件不存在";
    QTest::newRow("not a picture") << "damaged" << false << "不是可识别的图片，或文件已损坏";
    QTest::newRow("too large") << "huge" << false << "图片尺寸超出限制";
    QTest::newRow("cannot write") << "" << true << "无法写入文件";
}

void BatchTest::failingRowEndsTheBatch() {
    QFETCH(QString, loadFailure);
    QFETCH(bool, unwritable);
    QFETCH(QString, reason);

    Rig rig({"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"});
    const QHash<QString, FailureKind> kinds{{"missing", FailureKind::FileMissing},
                                            {"damaged", FailureKind::NotAPicture},
                                            {"huge", FailureKind::PictureTooLarge}};
    if (!loadFailure.isEmpty())
        rig.services.loadFailures.insert("/p/b.jpg", kinds.value(loadFailure));
    if (unwritable)
        rig.services.unwritable << "/out/b.bmp";
    rig.services.folderAnswers = {kOut};

    try {
        rig.batch.zhuanhuanClick(1);
        QFAIL("the batch went past a failing row");
    } catch (const HandlerFailure& failure) {
        QCOMPARE(failure.title(), QStringLiteral("转换失败"));
        QCOMPARE(failure.text(), "无法转换图片：/p/b.jpg\n" + reason);
    }
    QCOMPARE(rig.savedTargets(), QStringList{"/out/a.bmp"});
    QVERIFY(rig.services.messages.isEmpty());
    QVERIFY(!rig.viewNow.enabled);
    QCOMPARE(rig.state.LastOutputDir, QString());
    QCOMPARE(rig.state.OutputDir, kOut);

    // The folder is kept, so cancelling the browser converts into it again.
    rig.services.loadFailures.clear();
    rig.services.unwritable.clear();
    rig.services.saves.clear();
    rig.batch.zhuanhuanClick(0);
    QCOMPARE(rig.savedTargets(), (QStringList{"/out/a.jpg", "/out/b.jpg", "/out/c.jpg"}));
    QCOMPARE(rig.state.LastOutputDir, kOut);
}

void BatchTest::cancelledBrowserWithoutFolderDoesNothing() {
    Rig rig({"/p/a.jpg"});
    auto shown = std::make_shared<Picture>();
    rig.picture.shown = shown;

    rig.batch.zhuanhuanClick(0);

    QVERIFY(rig.clicks.isEmpty());
    QVERIFY(rig.services.saves.isEmpty());
    QVERIFY(rig.services.messages.isEmpty());
    QCOMPARE(rig.picture.shown, PictureObject(shown));
    QCOMPARE(rig.list.ListIndex(), -1);
    QVERIFY(!rig.viewNow.enabled);
}

void BatchTest::emptyListStillCompletes() {
    Rig rig({});
    rig.services.folderAnswers = {kOut};

    rig.batch.zhuanhuanClick(6);

    QVERIFY(rig.services.saves.isEmpty());
    QCOMPARE(rig.state.LastOutputDir, kOut);
    QVERIFY(rig.viewNow.enabled);
    QCOMPARE(rig.services.messages.size(), 1);
    QCOMPARE(rig.state.OutputDir, QString());
}

void BatchTest::rowsNeverOverwriteEachOther_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("targets");

    QTest::newRow("same base name, other folders") << kOut << QStringList{"/a/x.jpg", "/b/x.gif"}
                                                   << QStringList{"/out/x.bmp", "/out/x (2).bmp"};
    QTest::newRow("third copy") << kOut << QStringList{"/a/x.jpg", "/b/x.gif", "/c/x.pcx"}
                                << QStringList{"/out/x.bmp", "/out/x (2).bmp", "/out/x (3).bmp"};
    QTest::newRow("the same row twice writes one file")
        << kOut << QStringList{"/a/x.jpg", "/a/x.jpg"} << QStringList{"/out/x.bmp", "/out/x.bmp"};
    QTest::newRow("a name that looks like a copy")
        << kOut << QStringList{"/a/x.jpg", "/b/x.gif", "/c/x (2).png"}
        << QStringList{"/out/x.bmp", "/out/x (2).bmp", "/out/x (2) (2).bmp"};
    QTest::newRow("names differing in case") << kOut << QStringList{"/a/X.jpg", "/b/x.gif"}
                                             << QStringList{"/out/X.bmp", "/out/x (2).bmp"};
    QTest::newRow("root folder") << "/" << QStringList{"/a/x.jpg", "/b/x.gif"}
                                 << QStringList{"/x.bmp", "/x (2).bmp"};
}

void BatchTest::rowsNeverOverwriteEachOther() {
    QFETCH(QString, folder);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, targets);

    Rig rig(rows);
    rig.services.folderAnswers = {folder};
    rig.batch.zhuanhuanClick(1);
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
    rig.services.folderAnswers = {kOut};
    rig.batch.zhuanhuanClick(4);

    QCOMPARE(rig.services.saves.size(), rows.size());
    for (const QString& row : rows)
        QCOMPARE(rig.services.loads.value(row), 1);
    // The last row is shown, from the batch's own decode.
    QCOMPARE(FakeServices::sourceOf(rig.picture.shown), rows.last());
}

void BatchTest::failureInALongBatchCommitsInOrderUpToIt() {
    const QStringList rows = letterRows(12);
    Rig rig(rows);
    rig.services.loadFailures.insert(rows.at(5), FailureKind::NotAPicture);
    rig.services.folderAnswers = {kOut};

    QVERIFY_THROWS_EXCEPTION(HandlerFailure, rig.batch.zhuanhuanClick(1));

    QStringList expected;
    for (int i = 0; i < 5; ++i)
        expected << QStringLiteral("/out/%1.bmp").arg(i);
    QCOMPARE(rig.savedTargets(), expected);
    // Whatever was made ahead of the failing row was thrown away.
    for (const QString& target : rig.services.discarded)
        QVERIFY2(!expected.contains(target), qPrintable(target));
    // The failing row is selected; its preview failed, so SelIndex stays behind.
    QCOMPARE(rig.list.ListIndex(), 5);
    QCOMPARE(rig.state.SelIndex, 4);
    QCOMPARE(rig.state.OutputDir, kOut);
}

void BatchTest::cancelKeepsWhatWasWritten() {
    Rig rig(letterRows(8));
    rig.services.cancelAtRow = 3;
    rig.services.folderAnswers = {kOut};

    try {
        rig.batch.zhuanhuanClick(0);
        QFAIL("a cancelled batch completed");
    } catch (const HandlerFailure& failure) {
        QCOMPARE(failure.title(), QStringLiteral("转换已取消"));
        QCOMPARE(failure.text(), QStringLiteral("已取消，已转换 3 张图片。"));
    }
    QCOMPARE(rig.savedTargets(), (QStringList{"/out/0.jpg", "/out/1.jpg", "/out/2.jpg"}));
    QCOMPARE(rig.list.ListIndex(), 2);
    QVERIFY(rig.services.messages.isEmpty());
    QVERIFY(!rig.viewNow.enabled);
    QCOMPARE(rig.state.OutputDir, kOut);
}

QTEST_GUILESS_MAIN(BatchTest)
#include "tst_batch.moc"
