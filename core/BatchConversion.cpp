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

BatchConversion::BatchConversion(WindowState& state, std::shared_ptr<PictureCodec> codec,
                                 Desktop& desktop, BatchControls controls)
    : m_state(state)
    , m_codec(std::move(codec))
    , m_desktop(desktop)
    , m_controls(controls) {}

void BatchConversion::askOutputFolder() {
    if (const auto folder = m_desktop.browseForFolder(Messages::kFolderPrompt))
        m_state.outputFolder = *folder;
}

void BatchConversion::convertAll(TargetFormat format) {
    askOutputFolder();
    if (m_state.outputFolder.isEmpty())
        return;

    const QStringView extension = extensionOf(format);
    const int rowCount = m_controls.list.rowCount();
    QStringList sources;
    sources.reserve(rowCount);
    for (int row = 0; row < rowCount; ++row)
        sources.append(m_controls.list.rowText(row));
    // No output may land on a file of the list: it would be lost.
    OutputNames names(sources, [this](const QString& path) { return m_codec->fileIdentity(path); });
    QList<RowJob> jobs;
    jobs.reserve(rowCount);
    for (const QString& source : sources)
        jobs.append({source, format,
                     names.claim(source, m_state.outputFolder, baseName(source), extension)});
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
    ListBox& list = m_controls.list;
    try {
        if (outcome.failure) {
            // The row is selected as it would be had it converted. Showing it
            // fails as converting it did; the conversion's own failure, with
            // its detail, is the one reported.
            try {
                list.selectRow(row);
            } catch (const PlatformError&) {
            }
            throw *outcome.failure;
        }
        // Selecting the row raises the list click, which shows the preview
        // made from the batch's own decode.
        m_codec->rememberPreview(job.source, outcome.preview);
        list.selectRow(row);
        m_controls.preview.setPicture(m_codec->loadPreview(list.rowText(row)));
        outcome.file->commit();
    } catch (const PlatformError& error) {
        const HandlerFailure failure = HandlerFailure::forFile(
            Messages::kConvertFailedTitle, Messages::kConvertFailedText, job.source, error);
        throw HandlerFailure(failure.title(), failure.text() + u'\n' +
                                                  Messages::stoppedBatchText(row, rowCount - row));
    }
}

void BatchConversion::finish() {
    m_state.lastOutputFolder = m_state.outputFolder;
    m_controls.viewOutputButton.setEnabled(true);
    m_desktop.showMessage(Messages::kDoneText + m_state.outputFolder, Messages::kDoneTitle,
                          MessageIcon::Information);
    m_state.outputFolder.clear();
}
