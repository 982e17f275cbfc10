// SPDX-License-Identifier: MIT
#include "RowPipeline.h"

#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <stop_token>

// What the workers share with the pipeline; a worker keeps it alive while it
// runs, so a pipeline may go before its workers do.
struct RowPipeline::Shared {
    Shared(std::shared_ptr<PictureCodec> codec, QList<RowJob> jobs)
        : codec(std::move(codec))
        , jobs(std::move(jobs)) {}

    const std::shared_ptr<PictureCodec> codec;
    const QList<RowJob> jobs;
    std::stop_source stop;
    std::atomic<bool> failedRowSeen{false};

    QMutex mutex;
    std::map<int, RowOutcome> outcomes; // ready, not yet taken
    RowPipeline* owner = nullptr;       // null once the pipeline is gone

    void work(int row);
};

void RowPipeline::Shared::work(int row) {
    const std::stop_token stopToken = stop.get_token();
    if (stopToken.stop_requested())
        return;
    const RowJob& job = jobs.at(row);
    RowOutcome outcome;
    try {
        ConvertedPicture converted = codec->convert(job.source, job.format, job.target, stopToken);
        outcome.file = std::move(converted.file);
        outcome.preview = std::move(converted.preview);
    } catch (const PlatformError& error) {
        outcome = {};
        outcome.failure = error;
    } catch (const std::bad_alloc&) {
        outcome = {};
        outcome.failure =
            PlatformError(FailureKind::PictureTooLarge, QStringLiteral("out of memory"));
    } catch (const std::exception& error) {
        outcome = {};
        outcome.failure =
            PlatformError(FailureKind::NotAPicture, QString::fromLocal8Bit(error.what()));
    }
    if (outcome.failure)
        failedRowSeen = true;
    QMutexLocker lock(&mutex);
    if (!owner || stopToken.stop_requested()) {
        lock.unlock();
        return; // the outcome is dropped here, its output file with it
    }
    outcomes.emplace(row, std::move(outcome));
    emit owner->rowReady(row);
}

int RowPipeline::defaultRowsAhead() {
    // One row per worker in flight and one more waiting to be committed.
    return std::max(2, QThread::idealThreadCount()) + 1;
}

RowPipeline::RowPipeline(std::shared_ptr<PictureCodec> codec, QList<RowJob> jobs, int rowsAhead)
    : m_shared(std::make_shared<Shared>(std::move(codec), std::move(jobs)))
    , m_workers(new QThreadPool)
    , m_rowsAhead(std::max(1, rowsAhead))
    , m_memoryBudget(m_shared->codec->memoryBudget()) {
    m_workers->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    m_shared->owner = this;
    scheduleAhead();
}

RowPipeline::~RowPipeline() {
    m_shared->stop.request_stop();
    m_workers->clear(); // rows not started yet never start
    std::map<int, RowOutcome> dropped;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->owner = nullptr;
        dropped.swap(m_shared->outcomes);
    }
    // Rows not taken go with `dropped`: their prepared files are removed.
    if (m_workers->waitForDone(0)) {
        delete m_workers;
        return;
    }
    // Rows still inside a codec call finish in the background. Their pool
    // takes no events, so it is let go of this thread (which may have no event
    // loop to delete it later) and deleted on a thread of Qt's own pool once
    // they are done; the program waits for that pool at exit.
    m_workers->moveToThread(nullptr);
    QThreadPool::globalInstance()->start([workers = m_workers] {
        workers->waitForDone();
        delete workers;
    });
}

bool RowPipeline::isReady(int row) const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->outcomes.count(row) != 0;
}

RowOutcome RowPipeline::take(int row) {
    RowOutcome outcome;
    {
        QMutexLocker lock(&m_shared->mutex);
        Q_ASSERT(row == m_nextToTake);
        auto found = m_shared->outcomes.find(row);
        Q_ASSERT(found != m_shared->outcomes.end());
        outcome = std::move(found->second);
        m_shared->outcomes.erase(found);
    }
    ++m_nextToTake;
    m_memoryInFlight -= m_memoryOfRowsInFlight.takeFirst();
    scheduleAhead();
    return outcome;
}

// Runs on the event thread only, like take(); the workers never schedule.
void RowPipeline::scheduleAhead() {
    const QList<RowJob>& jobs = m_shared->jobs;
    // Nothing after a failing row will be committed, so nothing is made.
    while (!m_shared->failedRowSeen && m_nextToSchedule < jobs.size() &&
           m_nextToSchedule < m_nextToTake + m_rowsAhead) {
        const int row = m_nextToSchedule;
        if (m_memoryOfNextRow < 0)
            m_memoryOfNextRow =
                std::max<qint64>(0, m_shared->codec->memoryNeeded(jobs.at(row).source));
        const qint64 memory = m_memoryOfNextRow;
        if (!m_memoryOfRowsInFlight.isEmpty() && m_memoryInFlight + memory > m_memoryBudget)
            return;
        m_memoryOfNextRow = -1;
        m_memoryOfRowsInFlight.append(memory);
        m_memoryInFlight += memory;
        ++m_nextToSchedule;
        m_workers->start([shared = m_shared, row] { shared->work(row); });
    }
}
