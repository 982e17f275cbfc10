// SPDX-License-Identifier: MIT
#include "QtFileOpenDialog.h"

#include "FileDialogText.h"
#include "PlatformError.h"

#include <QFileDialog>

QtFileOpenDialog::QtFileOpenDialog(QWidget* owner)
    : m_owner(owner) {}

void QtFileOpenDialog::setOwner(QWidget* owner) {
    m_owner = owner;
}

void QtFileOpenDialog::setCancelError(bool cancelError) {
    m_cancelError = cancelError;
}

void QtFileOpenDialog::setFlags(int flags) {
    m_flags = flags;
}

void QtFileOpenDialog::setFilter(const QString& filter) {
    m_filter = filter;
}

QString QtFileOpenDialog::fileName() const {
    return m_fileName;
}

void QtFileOpenDialog::configure(QFileDialog& dialog) const {
    // Qt's own dialog on every platform: its file list applies our patterns,
    // written with both cases of every letter, so IMG_0001.JPG shows under
    // "*.jpg" whatever the file system or a native dialog would do. Hiding the
    // filter details makes the list of types show our description as given
    // rather than description plus patterns.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontResolveSymlinks, (m_flags & kNoDereferenceLinks) != 0);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((m_flags & kAllowMultiSelect) ? QFileDialog::ExistingFiles
                                                     : QFileDialog::ExistingFile);

    QStringList nameFilters;
    for (const DialogNameFilter& filter : parseDialogFilter(m_filter))
        nameFilters << qtNameFilter(filter);
    if (!nameFilters.isEmpty())
        dialog.setNameFilters(nameFilters);
}

void QtFileOpenDialog::showOpen() {
    m_fileName.clear();

    QFileDialog dialog(m_owner);
    configure(dialog);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    const QStringList selected = accepted ? dialog.selectedFiles() : QStringList();

    if (selected.isEmpty()) {
        if (m_cancelError)
            throw PlatformError(FailureKind::Cancelled,
                                QStringLiteral("file-open dialog cancelled"));
        return;
    }
    m_fileName = dialogResultText(selected);
}
