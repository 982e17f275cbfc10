// SPDX-License-Identifier: MIT
#include "RowPipeline.h"

#include <QMutexLocker>

RowPipeline::RowPipeline(PictureServices& services, QList<RowJob> jobs)
    : m_services(services)
    , m_jobs(std::move(jobs))
    ,
    // One row per worker in flight and one more waiting to be committed.
    m_rowsAhead(std::max(2, QThread::idealThreadCount()) + 1) {
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    QMutexLocker lock(&m_mutex);
    scheduleAhead();
}

RowPipeline::~RowPipeline() {
    m_stopping = true;
    m_pool.waitForDone();
    // Outcomes not taken go with m_outcomes: their prepared files are dropped.
}

bool RowPipeline::isReady(int row) const {
    QMutexLocker lock(&m_mutex);
    return m_outcomes.count(row) != 0;
}

RowOutcome RowPipeline::take(int row) {
    QMutexLocker lock(&m_mutex);
    Q_ASSERT(row == m_nextToTake);
    auto found = m_outcomes.find(row);
    Q_ASSERT(found != m_outcomes.end());
    RowOutcome outcome = std::move(found->second);
    m_outcomes.erase(found);
    ++m_nextToTake;
    scheduleAhead();
    return outcome;
}

// Called with m_mutex held.
void RowPipeline::scheduleAhead() {
    // Nothing after a failing row will be committed, so nothing is made.
    while (!m_failedRowSeen && m_nextToSchedule < m_jobs.size() &&
           m_nextToSchedule < m_nextToTake + m_rowsAhead) {
        const int row = m_nextToSchedule++;
        m_pool.start([this, row] { work(row); });
    }
}

void RowPipeline::work(int row) {
    if (m_stopping)
        return;
    const RowJob& job = m_jobs.at(row);
    RowOutcome outcome;
    try {
        const PictureObject picture = m_services.LoadPicture(job.source);
        outcome.file = m_services.preparePicture(picture, job.target);
        outcome.preview = m_services.previewOf(picture);
    } catch (const PlatformError& error) {
        outcome = {};
        outcome.failure = error.kind();
    } catch (const std::bad_alloc&) {
        outcome = {};
        outcome.failure = FailureKind::PictureTooLarge;
    } catch (const std::exception&) {
        outcome = {};
        outcome.failure = FailureKind::NotAPicture;
    }
    {
        QMutexLocker lock(&m_mutex);
        if (outcome.failure)
            m_failedRowSeen = true;
        m_outcomes.emplace(row, std::move(outcome));
    }
    emit rowReady(row);
}
