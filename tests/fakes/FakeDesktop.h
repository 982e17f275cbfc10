// SPDX-License-Identifier: MIT
// A scripted desktop: every dialog answer, message and opened folder is
// recorded, and the progress indicator cancels when told to. The dialogs give
// their answers with the system's separators, as the real ones do; answers
// are scripted with '/'.
#pragma once

#include "Desktop.h"
#include "PlatformError.h"

#include <QDir>
#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

class FakeFileDialog : public FileOpenDialog {
public:
    // The next answers of showOpen; nullopt is a cancel.
    QList<std::optional<QString>> answers;
    QStringList settings; // "CancelError=1", "Flags=...", "Filter=..." in call order
    QString result;

    void setCancelError(bool on) override { settings << QStringLiteral("CancelError=%1").arg(on); }
    void setFlags(int flags) override { settings << QStringLiteral("Flags=%1").arg(flags); }
    void setFilter(const QString& filter) override { settings << "Filter=" + filter; }
    void showOpen() override {
        const auto answer = answers.isEmpty() ? std::nullopt : answers.takeFirst();
        if (!answer)
            throw PlatformError(FailureKind::Cancelled, QStringLiteral("cancelled"));
        result = QDir::toNativeSeparators(*answer);
    }
    QString fileName() const override { return result; }
};

// A progress indicator that the test can make the user cancel; `onProgress`
// sees every step (after each row written, the number written so far).
class FakeProgress : public BatchProgress {
public:
    FakeProgress(int cancelAtRow, std::function<void(int)> onProgress)
        : m_cancelAtRow(cancelAtRow)
        , m_onProgress(std::move(onProgress)) {}
    void setProgress(int doneRows, int) override {
        if (m_onProgress)
            m_onProgress(doneRows);
        if (m_cancelAtRow >= 0 && doneRows >= m_cancelAtRow)
            m_cancelled = true;
    }
    bool wasCancelled() const override { return m_cancelled; }
    bool isShown() const override { return false; }

private:
    int m_cancelAtRow;
    std::function<void(int)> m_onProgress;
    bool m_cancelled = false;
};

class FakeDesktop : public Desktop {
public:
    QList<std::optional<QString>> folderAnswers;
    bool fileManagerFails = false;   // cannot be started at all
    bool fileManagerGivesUp = false; // starts, then reports a failure
    int cancelAtRow = -1;            // the user cancels once this many rows are written
    std::function<void(int)> onProgress;
    // When set, makes the progress indicator (say, the real one).
    std::function<std::unique_ptr<BatchProgress>(int)> progressFactory;

    QList<QPair<QString, QString>> messages; // (title, text)
    QList<MessageIcon> icons;
    QStringList folderPrompts;
    QStringList openedFolders;
    FakeFileDialog dialog;

    FileOpenDialog& fileOpenDialog() override { return dialog; }
    std::optional<QString> browseForFolder(const QString& prompt) override {
        folderPrompts << prompt;
        const auto answer = folderAnswers.isEmpty() ? std::nullopt : folderAnswers.takeFirst();
        return answer ? std::optional(QDir::toNativeSeparators(*answer)) : std::nullopt;
    }
    void openFolder(const QString& folder,
                    std::function<void(const PlatformError&)> onLateFailure) override {
        if (fileManagerFails)
            throw PlatformError(FailureKind::CannotStart, folder);
        openedFolders << folder;
        if (fileManagerGivesUp && onLateFailure)
            onLateFailure(PlatformError(FailureKind::CannotStart, QStringLiteral("gave up")));
    }
    void showMessage(const QString& text, const QString& title, MessageIcon icon) override {
        messages.append({title, text});
        icons.append(icon);
    }
    std::unique_ptr<BatchProgress> startBatchProgress(int totalRows) override {
        if (progressFactory)
            return progressFactory(totalRows);
        return std::make_unique<FakeProgress>(cancelAtRow, onProgress);
    }
};
