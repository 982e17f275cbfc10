// SPDX-License-Identifier: MIT
#pragma once

#include "PictureServices.h"
#include "PlatformError.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <optional>

// One row of a batch: the picture to read and the file to write.
struct RowJob {
    QString source;
    QString target;
};

// What a worker made of one row: the prepared output and a preview from the
// same decode, or why the row failed.
struct RowOutcome {
    std::unique_ptr<PreparedPicture> file;
    PictureObject preview;
    std::optional<FailureKind> failure;
};

// Decodes and encodes the rows of a batch on worker threads, a few rows ahead
// of the row the event thread is committing, so memory stays bounded however
// long the list is. Rows are handed out strictly in order. Destroying the
// pipeline stops the workers and discards every output not yet taken.
class RowPipeline : public QObject {
    Q_OBJECT

public:
    RowPipeline(PictureServices& services, QList<RowJob> jobs);
    ~RowPipeline() override;

    bool isReady(int row) const;
    // The outcome of a ready row; rows must be taken in order. Taking a row
    // lets the workers start on a further one.
    RowOutcome take(int row);

signals:
    // Emitted from a worker thread when a row's outcome is ready.
    void rowReady(int row);

private:
    void scheduleAhead();
    void work(int row);

    PictureServices& m_services;
    const QList<RowJob> m_jobs;
    QThreadPool m_pool;
    const int m_rowsAhead;

    mutable QMutex m_mutex;
    std::map<int, RowOutcome> m_outcomes; // ready, not yet taken
    int m_nextToSchedule = 0;
    int m_nextToTake = 0;
    bool m_failedRowSeen = false;
    std::atomic<bool> m_stopping{false};
};
