// SPDX-License-Identifier: MIT
// The row pipeline's own promises, with a scripted codec whose loads the test
// holds at a gate: how many rows run at once, the order rows are handed out
// in, the stop after a failed row, and going away with rows still running.
#include "RowPipeline.h"
#include "fakes/FakeCodec.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

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
    void memoryBoundsTheRowsInFlight_data();
    void memoryBoundsTheRowsInFlight();
};

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

QTEST_GUILESS_MAIN(RowPipelineTest)
#include "tst_rowpipeline.moc"
