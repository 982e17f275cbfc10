// SPDX-License-Identifier: MIT
// The folder chooser.
#include "QtDesktop.h"

#include <QDir>
#include <QFileDialog>

std::optional<QString> QtDesktop::browseForFolder(const QString& prompt) {
    QFileDialog dialog(m_owner, prompt);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList selected = dialog.selectedFiles();
    if (selected.isEmpty() || selected.first().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(selected.first());
}
