// SPDX-License-Identifier: MIT
#pragma once

#include "Desktop.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QtFileOpenDialog;

// The desktop through Qt: dialogs and the message box owned by the window,
// the file manager through the system's own opener.
class QtDesktop : public Desktop {
public:
    QtDesktop();
    ~QtDesktop() override;

    // The window that owns the dialogs and the message box.
    void setOwner(QWidget* owner);

    FileOpenDialog& fileOpenDialog() override;
    std::optional<QString> browseForFolder(const QString& prompt) override;
    void openFolder(const QString& folder,
                    std::function<void(const PlatformError&)> onLateFailure) override;
    void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
    std::unique_ptr<BatchProgress> startBatchProgress(int totalRows) override;

private:
    QPointer<QWidget> m_owner;
    std::unique_ptr<QtFileOpenDialog> m_dialog;
};
