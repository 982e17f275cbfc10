// SPDX-License-Identifier: MIT
// A scripted platform: pictures are tagged with the path they came from, and
// every dialog answer, save and message is recorded.
#pragma once

#include "PictureServices.h"
#include "PlatformError.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QStringList>

#include <functional>

class FakeFileDialog : public FileOpenDialog {
public:
    // The next answers of ShowOpen; nullopt is a cancel.
    QList<std::optional<QString>> answers;
    QStringList settings; // "CancelError=1", "Flags=...", "Filter=..." in call order
    QString fileName;

    void setCancelError(bool on) override { settings << QStringLiteral("CancelError=%1").arg(on); }
    void setFlags(int flags) override { settings << QStringLiteral("Flags=%1").arg(flags); }
    void setFilter(const QString& filter) override { settings << "Filter=" + filter; }
    void ShowOpen() override {
        const auto answer = answers.isEmpty() ? std::nullopt : answers.takeFirst();
        if (!answer)
            throw PlatformError(FailureKind::Cancelled, QStringLiteral("cancelled"));
        fileName = *answer;
    }
    QString FileName() const override { return fileName; }
};

// Records the moment a prepared picture is put in place, or dropped.
class FakePreparedPicture : public PreparedPicture {
public:
    FakePreparedPicture(std::function<void()> onCommit, std::function<void()> onDiscard)
        : m_onCommit(std::move(onCommit))
        , m_onDiscard(std::move(onDiscard)) {}
    ~FakePreparedPicture() override {
        if (!m_committed)
            m_onDiscard();
    }
    void commit() override {
        m_onCommit();
        m_committed = true;
    }

private:
    std::function<void()> m_onCommit;
    std::function<void()> m_onDiscard;
    bool m_committed = false;
};

// A progress indicator that the test can make the user cancel.
class FakeProgress : public BatchProgress {
public:
    explicit FakeProgress(int cancelAtRow)
        : m_cancelAtRow(cancelAtRow) {}
    void setProgress(int doneRows, int) override {
        if (m_cancelAtRow >= 0 && doneRows >= m_cancelAtRow)
            m_cancelled = true;
    }
    bool wasCancelled() const override { return m_cancelled; }
    bool isShown() const override { return false; }

private:
    int m_cancelAtRow;
    bool m_cancelled = false;
};

// Loads and prepares run on worker threads during a batch, so the records they
// touch are guarded.
class FakeServices : public PictureServices {
public:
    // The source path a fake picture was loaded from.
    static QString sourceOf(const PictureObject& picture) {
        return picture ? QString::fromUtf8(picture->pixels) : QString();
    }

    QHash<QString, FailureKind> loadFailures; // path -> why it cannot be loaded
    QStringList unwritable;                   // targets that cannot be saved
    QList<std::optional<QString>> folderAnswers;
    bool fileManagerFails = false;

    int cancelAtRow = -1; // the user cancels once this many rows are written

    QHash<QString, int> loads;               // path -> number of full decodes
    QStringList discarded;                   // targets prepared but never written
    QList<QPair<QString, QString>> saves;    // (source of the picture, target)
    QList<QPair<QString, QString>> messages; // (title, text)
    QStringList folderPrompts;
    QStringList openedFolders;
    FakeFileDialog dialog;

    PictureObject LoadPicture(const QString& fileName) override {
        if (fileName.isEmpty())
            return nullptr;
        QMutexLocker lock(&m_mutex);
        ++loads[fileName];
        if (loadFailures.contains(fileName))
            throw PlatformError(loadFailures.value(fileName), fileName);
        auto picture = std::make_shared<Picture>();
        picture->width = picture->height = 1;
        picture->pixels = fileName.toUtf8();
        return picture;
    }
    void SavePicture(const PictureObject& picture, const QString& fileName) override {
        preparePicture(picture, fileName)->commit();
    }
    std::unique_ptr<PreparedPicture> preparePicture(const PictureObject& picture,
                                                    const QString& fileName) override {
        if (!picture)
            throw PlatformError(FailureKind::CannotWrite, fileName);
        const QString source = sourceOf(picture);
        return std::make_unique<FakePreparedPicture>(
            [this, source, fileName] {
                QMutexLocker lock(&m_mutex);
                if (unwritable.contains(fileName))
                    throw PlatformError(FailureKind::CannotWrite, fileName);
                saves.append({source, fileName});
            },
            [this, fileName] {
                QMutexLocker lock(&m_mutex);
                discarded << fileName;
            });
    }
    // Previews are the pictures themselves; a remembered one is not decoded again.
    PictureObject loadPreview(const QString& fileName) override {
        if (!fileName.isEmpty() && fileName == m_rememberedFile)
            return m_rememberedPreview;
        return LoadPicture(fileName);
    }
    PictureObject previewOf(const PictureObject& picture) override { return picture; }
    void rememberPreview(const QString& fileName, const PictureObject& preview) override {
        m_rememberedFile = fileName;
        m_rememberedPreview = preview;
    }
    std::unique_ptr<BatchProgress> startBatchProgress(int) override {
        return std::make_unique<FakeProgress>(cancelAtRow);
    }
    FileOpenDialog& CommonDialog1() override { return dialog; }
    std::optional<QString> browseForFolder(const QString& prompt) override {
        folderPrompts << prompt;
        return folderAnswers.isEmpty() ? std::nullopt : folderAnswers.takeFirst();
    }
    void openFolder(const QString& folder) override {
        if (fileManagerFails)
            throw PlatformError(FailureKind::CannotStart, folder);
        openedFolders << folder;
    }
    void ShowMessage(const QString& prompt, const QString& title) override {
        messages.append({title, prompt});
    }

private:
    QMutex m_mutex;
    QString m_rememberedFile;
    PictureObject m_rememberedPreview;
};
