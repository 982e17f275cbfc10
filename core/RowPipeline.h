// SPDX-License-Identifier: MIT
#pragma once

#include "PictureCodec.h"
#include "PlatformError.h"

#include <QList>
#include <QObject>

class QThreadPool;

#include <memory>
#include <optional>

// One row of a batch: the picture to read, and the file to write in a format.
struct RowJob {
    QString source;
    TargetFormat format;
    QString target;
};

// What a worker made of one row: the prepared output and a preview from the
// same decode, or why the row failed, with the codec's own detail.
struct RowOutcome {
    std::unique_ptr<PreparedPicture> file;
    PictureObject preview;
    std::optional<PlatformError> failure;
};

// Decodes and encodes the rows of a batch on worker threads, a few rows ahead
// of the row the event thread is committing: no more rows at once than the
// workers and one waiting row, and no more than the memory budget holds (a
// single row always may run, however big). Rows are handed out strictly in
// order, and nothing is started after a row that failed.
//
// Destroying the pipeline asks the rows still running to stop and returns at
// once: the window never waits for a codec. Those rows end on their own in
// the background (they hold what they need), and what they made is dropped.
// Each batch has workers of its own, made by the thread that runs the batch.
class RowPipeline : public QObject {
    Q_OBJECT

public:
    // How many rows may be under way at once, whatever the memory says.
    static int defaultRowsAhead();

    RowPipeline(std::shared_ptr<PictureCodec> codec, QList<RowJob> jobs,
                int rowsAhead = defaultRowsAhead());
    ~RowPipeline() override;

    // Rows handed to the workers so far, counted from the first. Rows are
    // started only here, by the constructor and by take().
    int rowsStarted() const { return m_nextToSchedule; }
    bool isReady(int row) const;
    // The outcome of a ready row; rows must be taken in order. Taking a row
    // lets the workers start on further ones.
    RowOutcome take(int row);

signals:
    // Emitted from a worker thread when a row's outcome is ready.
    void rowReady(int row);

private:
    struct Shared;
    void scheduleAhead();

    std::shared_ptr<Shared> m_shared;
    QThreadPool* m_workers; // deleted when its last row is done
    const int m_rowsAhead;
    const qint64 m_memoryBudget;
    // Rows started and not yet taken, with the memory each was judged to need.
    QList<qint64> m_memoryOfRowsInFlight;
    qint64 m_memoryInFlight = 0;
    qint64 m_memoryOfNextRow = -1; // judged once, while the row waits for room
    int m_nextToSchedule = 0;
    int m_nextToTake = 0;
};
