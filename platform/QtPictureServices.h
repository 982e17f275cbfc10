// SPDX-License-Identifier: MIT
#pragma once

#include "PictureServices.h"

#include <QPointer>
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

    PictureObject LoadPicture(const QString& fileName) override;
    void SavePicture(const PictureObject& picture, const QString& fileName) override;
    FileOpenDialog& CommonDialog1() override;
    std::optional<QString> browseForFolder(const QString& prompt) override;
    void openFolder(const QString& folder) override;
    void ShowMessage(const QString& prompt, const QString& title) override;

private:
    QPointer<QWidget> m_owner;
    std::unique_ptr<QtFileOpenDialog> m_dialog;
};
