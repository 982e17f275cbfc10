// SPDX-License-Identifier: MIT
#pragma once

#include "PictureServices.h"

#include <QDateTime>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <memory>

class QtFileOpenDialog;

// The real platform: pictures through the codecs, dialogs and the message box
// with Qt, the file manager through the desktop.
class QtPictureServices : public PictureServices {
public:
    QtPictureServices();
    ~QtPictureServices() override;

    // The window that owns the dialogs and the message box.
    void setOwner(QWidget* owner);
    // The size previews are made for.
    void setPreviewBox(QSize box) { m_previewBox = box; }

    PictureObject LoadPicture(const QString& fileName) override;
    void SavePicture(const PictureObject& picture, const QString& fileName) override;
    std::unique_ptr<PreparedPicture> preparePicture(const PictureObject& picture,
                                                    const QString& fileName) override;
    PictureObject loadPreview(const QString& fileName) override;
    PictureObject previewOf(const PictureObject& picture) override;
    void rememberPreview(const QString& fileName, const PictureObject& preview) override;
    std::unique_ptr<BatchProgress> startBatchProgress(int totalRows) override;
    FileOpenDialog& CommonDialog1() override;
    std::optional<QString> browseForFolder(const QString& prompt) override;
    void openFolder(const QString& folder) override;
    void ShowMessage(const QString& prompt, const QString& title) override;

private:
    // A preview handed over by the batch, valid while the file is unchanged.
    struct RememberedPreview {
        QString fileName;
        qint64 size = -1;
        QDateTime modified;
        PictureObject preview;
    };

    QPointer<QWidget> m_owner;
    QSize m_previewBox{297, 365};
    RememberedPreview m_remembered;
    std::unique_ptr<QtFileOpenDialog> m_dialog;
};
