// SPDX-License-Identifier: MIT
#include "BatchConversion.h"

#include "Messages.h"
#include "PlatformError.h"
#include "RowPipeline.h"

#include <QEventLoop>
#include <QTimer>

namespace {
// How often the event thread wakes while it waits for a row, to move the
// progress indicator and notice a cancel.
constexpr int kWakeEveryMs = 100;

// Keeps the window painting until the row is ready; false when the user
// cancelled. Until the progress indicator is on screen nothing the user does
// reaches the window; once it is, it is modal.
bool waitForRow(RowPipeline& pipeline, int row, int totalRows, BatchProgress& progress) {
    QEventLoop loop;
    QObject::connect(&pipeline, &RowPipeline::rowReady, &loop, &QEventLoop::quit);
    QTimer wake;
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start(kWakeEveryMs);
    while (!progress.wasCancelled() && !pipeline.isReady(row)) {
        progress.setProgress(row, totalRows);
        loop.exec(progress.isShown() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    }
    return !progress.wasCancelled();
}
} // namespace

BatchConversion::BatchConversion(FormState& state, std::shared_ptr<PictureCodec> codec,
                                 Desktop& desktop, BatchControls controls)
    : m_state(state)
    , m_codec(std::move(codec))
    , m_desktop(desktop)
    , m_controls(controls) {}

void BatchConversion::Showbc() {
    if (const auto folder = m_desktop.browseForFolder(Messages::kFolderPrompt))
        m_state.OutputDir = *folder;
}

void BatchConversion::zhuanhuanClick(TargetFormat format) {
    Showbc();
    if (m_state.OutputDir.isEmpty())
        return;

    const QStringView extension = extensionOf(format);
    const int rowCount = m_controls.List1.ListCount();
    QList<RowJob> jobs;
    jobs.reserve(rowCount);
    OutputNames names;
    for (int row = 0; row < rowCount; ++row) {
        const QString source = m_controls.List1.List(row);
        jobs.append(
            {source, format, names.claim(source, m_state.OutputDir, Getfn(source), extension)});
    }
    if (rowCount > 0)
        convertRows(jobs);
    finish();
}

void BatchConversion::convertRows(const QList<RowJob>& jobs) {
    const int rowCount = int(jobs.size());
    const std::unique_ptr<BatchProgress> progress = m_desktop.startBatchProgress(rowCount);
    RowPipeline pipeline(m_codec, jobs);
    for (int row = 0; row < rowCount; ++row) {
        // A cancel is what the user asked for, not a failure. The pipeline
        // goes with the handler and does not wait for its workers.
        if (!waitForRow(pipeline, row, rowCount, *progress))
            throw HandlerFailure(Messages::kCancelledTitle, Messages::cancelledText(row), false);
        commitRow(row, pipeline.take(row), jobs.at(row), rowCount);
        progress->setProgress(row + 1, rowCount);
    }
}

void BatchConversion::commitRow(int row, RowOutcome outcome, const RowJob& job, int rowCount) {
    ListBox& list = m_controls.List1;
    try {
        if (outcome.failure) {
            // The row is selected as it would be had it converted; showing it
            // fails just as converting it did.
            list.setListIndex(row);
            throw PlatformError(*outcome.failure, job.source);
        }
        // Selecting the row raises the list click, which shows the preview
        // made from the batch's own decode.
        m_codec->rememberPreview(job.source, outcome.preview);
        list.setListIndex(row);
        m_controls.Picture1.setPicture(m_codec->loadPreview(list.List(row)));
        outcome.file->commit();
    } catch (const PlatformError& error) {
        const HandlerFailure failure = HandlerFailure::forFile(
            Messages::kConvertFailedTitle, Messages::kConvertFailedText, job.source, error.kind());
        throw HandlerFailure(failure.title(), failure.text() + u'\n' +
                                                  Messages::stoppedBatchText(row, rowCount - row));
    }
}

void BatchConversion::finish() {
    m_state.LastOutputDir = m_state.OutputDir;
    m_controls.CmdCha.setEnabled(true);
    m_desktop.showMessage(Messages::kDoneText + m_state.OutputDir, Messages::kDoneTitle,
                          MessageIcon::Information);
    m_state.OutputDir.clear();
}
