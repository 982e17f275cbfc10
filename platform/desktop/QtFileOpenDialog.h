// SPDX-License-Identifier: MIT
#pragma once

#include "Desktop.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QFileDialog;

// The file-open dialog on QFileDialog. Each showOpen builds a fresh dialog
// from the current settings; QFileDialog itself remembers the last folder.
class QtFileOpenDialog : public FileOpenDialog {
public:
    // Flag bits we act on; the others the commands pass concern the look of a
    // native dialog and have no counterpart here.
    static constexpr int kAllowMultiSelect = 0x200;
    static constexpr int kNoDereferenceLinks = 0x100000;

    explicit QtFileOpenDialog(QWidget* owner = nullptr);

    void setOwner(QWidget* owner);

    void setCancelError(bool cancelError) override;
    void setFlags(int flags) override;
    void setFilter(const QString& filter) override;
    void showOpen() override;
    QString fileName() const override;

    // Applies the current settings to a dialog. showOpen uses it; it is public
    // so the settings can be looked at on a dialog that is not run.
    void configure(QFileDialog& dialog) const;

private:
    QPointer<QWidget> m_owner;
    bool m_cancelError = false;
    int m_flags = 0;
    QString m_filter;
    QString m_fileName;
};
