// SPDX-License-Identifier: MIT
// A scripted platform: pictures are tagged with the path they came from, and
// every dialog answer, save and message is recorded.
#pragma once

#include "PictureServices.h"
#include "PlatformError.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>

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

    QHash<QString, int> loads;               // path -> number of loads
    QList<QPair<QString, QString>> saves;    // (source of the picture, target)
    QList<QPair<QString, QString>> messages; // (title, text)
    QStringList folderPrompts;
    QStringList openedFolders;
    FakeFileDialog dialog;

    PictureObject LoadPicture(const QString& fileName) override {
        if (fileName.isEmpty())
            return nullptr;
        ++loads[fileName];
        if (loadFailures.contains(fileName))
            throw PlatformError(loadFailures.value(fileName), fileName);
        auto picture = std::make_shared<Picture>();
        picture->width = picture->height = 1;
        picture->pixels = fileName.toUtf8();
        return picture;
    }
    void SavePicture(const PictureObject& picture, const QString& fileName) override {
        if (!picture || unwritable.contains(fileName))
            throw PlatformError(FailureKind::CannotWrite, fileName);
        saves.append({sourceOf(picture), fileName});
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
};
