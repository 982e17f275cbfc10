// SPDX-License-Identifier: MIT
// The row pipeline's own promises, with a scripted codec whose loads the test
// holds at a gate: how many rows run at once, the order rows are handed out
// in, the stop after a failed row, and going away with rows still running.
#include "RowPipeline.h"
#include "fakes/FakeCodec.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
QList<RowJob> jobsFor(int count) {
    QList<RowJob> jobs;
    for (int i = 0; i < count; ++i)
        jobs.append({QStringLiteral("/p/%1.jpg").arg(i), TargetFormat::Png,
                     QStringLiteral("/out/%1.png").arg(i)});
    return jobs;
}

// Takes every row in order as it becomes ready; the rows' sources in the
// order they were taken, "!" for a failed row.
QStringList takeAll(RowPipeline& pipeline, int rows) {
    QStringList taken;
    for (int row = 0; row < rows; ++row) {
        if (!QTest::qWaitFor([&] { return pipeline.isReady(row); }, 10000))
            return taken << QStringLiteral("timeout at %1").arg(row);
        RowOutcome outcome = pipeline.take(row);
        taken << (outcome.failure ? QStringLiteral("!") : FakeCodec::sourceOf(outcome.preview));
        if (outcome.failure)
            break;
    }
    return taken;
}
} // namespace

class RowPipelineTest : public QObject {
    Q_OBJECT

private slots:
    void lookAheadBoundsTheRowsStarted_data();
    void lookAheadBoundsTheRowsStarted();
    void rowsFinishingOutOfOrderAreHandedOutInOrder();
    void nothingStartsAfterAFailedRow();
    void memoryBoundsTheRowsInFlight_data();
    void memoryBoundsTheRowsInFlight();
    void goingAwayWithRowsRunningDoesNotWait();
};

// With no row taken, exactly the look-ahead's worth of rows is made; each row
// taken lets one more start.
void RowPipelineTest::lookAheadBoundsTheRowsStarted_data() {
    QTest::addColumn<int>("rowsAhead");
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
    QTest::newRow("the default") << RowPipeline::defaultRowsAhead();
}

void RowPipelineTest::lookAheadBoundsTheRowsStarted() {
    QFETCH(int, rowsAhead);
    auto codec = std::make_shared<FakeCodec>();
    const QList<RowJob> jobs = jobsFor(12);
    RowPipeline pipeline(codec, jobs, rowsAhead);

    const auto loadsSoFar = [&] {
        int loads = 0;
        for (const RowJob& job : jobs)
            loads += codec->loadsOf(job.source);
        return loads;
    };
    for (int taken = 0; taken < 3; ++taken) {
        // Rows are started here, by the constructor and by take(); the
        // workers load exactly those.
        QCOMPARE(pipeline.rowsStarted(), taken + rowsAhead);
        QTRY_COMPARE(loadsSoFar(), taken + rowsAhead);
        QVERIFY(QTest::qWaitFor([&] { return pipeline.isReady(taken); }, 10000));
        QVERIFY(!pipeline.take(taken).failure);
    }
}

// A slow first row does not let later rows overtake it.
void RowPipelineTest::rowsFinishingOutOfOrderAreHandedOutInOrder() {
    Gate gate;
    auto codec = std::make_shared<FakeCodec>();
    const QList<RowJob> jobs = jobsFor(6);
    codec->gate = &gate;
    codec->gatedRows = {jobs.first().source};
    RowPipeline pipeline(codec, jobs, 3);

    QVERIFY(QTest::qWaitFor([&] { return pipeline.isReady(1) && pipeline.isReady(2); }, 10000));
    QVERIFY(!pipeline.isReady(0));
    gate.open();
    QStringList expected;
    for (const RowJob& job : jobs)
        expected << job.source;
    QCOMPARE(takeAll(pipeline, int(jobs.size())), expected);
}

// Once a row has failed, taking it starts nothing more: nothing after it
// would be written.
void RowPipelineTest::nothingStartsAfterAFailedRow() {
    auto codec = std::make_shared<FakeCodec>();
    const QList<RowJob> jobs = jobsFor(10);
    codec->loadFailures.insert(jobs.at(2).source, FailureKind::NotAPicture);
    RowPipeline pipeline(codec, jobs, 2);

    QStringList expected{jobs.at(0).source, jobs.at(1).source, QStringLiteral("!")};
    QCOMPARE(takeAll(pipeline, int(jobs.size())), expected);
    // Row 3 may have started before row 2 failed; no row after it ever does.
    QVERIFY2(pipeline.rowsStarted() <= 4, qPrintable(QString::number(pipeline.rowsStarted())));
}

// Rows that each need more than half the budget run one at a time; a row that
// needs more than all of it still runs, alone.
void RowPipelineTest::memoryBoundsTheRowsInFlight_data() {
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("perRow");
    QTest::addColumn<int>("mostAtOnce");

    QTest::newRow("over half the budget each") << qint64(100) << qint64(60) << 1;
    QTest::newRow("over the whole budget each") << qint64(100) << qint64(250) << 1;
    QTest::newRow("a third each") << qint64(100) << qint64(33) << 3;
}

void RowPipelineTest::memoryBoundsTheRowsInFlight() {
    QFETCH(qint64, budget);
    QFETCH(qint64, perRow);
    QFETCH(int, mostAtOnce);

    auto codec = std::make_shared<FakeCodec>();
    codec->budget = budget;
    codec->loadDelayMs = 30; // long enough for the rows let in to overlap
    const QList<RowJob> jobs = jobsFor(8);
    for (const RowJob& job : jobs)
        codec->memory.insert(job.source, perRow);

    RowPipeline pipeline(codec, jobs, /*rowsAhead=*/4);
    QStringList expected;
    for (const RowJob& job : jobs)
        expected << job.source;
    QCOMPARE(takeAll(pipeline, int(jobs.size())), expected);
    QVERIFY2(codec->mostLoadsRunning <= mostAtOnce,
             qPrintable(QString::number(codec->mostLoadsRunning)));
    if (mostAtOnce > 1 && QThread::idealThreadCount() >= mostAtOnce)
        QVERIFY(codec->mostLoadsRunning > 1);
}

// Rows held inside a codec call that never looks at its stop token: the
// pipeline goes at once, and the rows, once let go, are dropped and let go of
// everything they held.
void RowPipelineTest::goingAwayWithRowsRunningDoesNotWait() {
    Gate gate;
    auto codec = std::make_shared<FakeCodec>();
    const QList<RowJob> jobs = jobsFor(4);
    codec->gate = &gate;
    for (const RowJob& job : jobs)
        codec->gatedRows << job.source;
    // Lets the rows go after ten seconds, should the pipeline wait for them.
    std::atomic<bool> measured{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !measured; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gate.open();
    });
    bool heldBefore = false;
    {
        RowPipeline pipeline(codec, jobs, 4);
        heldBefore = gate.waitForHeld(1);
    }
    const bool heldAfter = gate.waitForHeld(1, 0);
    measured = true;
    watchdog.join();
    QVERIFY(heldBefore);
    QVERIFY2(heldAfter, "the pipeline waited for its rows");
    QTRY_COMPARE_WITH_TIMEOUT(codec.use_count(), 1L, 10000);
    QVERIFY(codec->savedTargets().isEmpty());
}

QTEST_GUILESS_MAIN(RowPipelineTest)
#include "tst_rowpipeline.moc"
