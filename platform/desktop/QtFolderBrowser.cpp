// SPDX-License-Identifier: MIT
// The folder chooser.
#include "QtDesktop.h"
#include "QtFileOpenDialog.h"

#include <QDir>

std::optional<QString> QtDesktop::browseForFolder(const QString& prompt) {
    KeptFileDialog& dialog = KeptFileDialog::forFolders();
    dialog.setWindowTitle(prompt);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!dialog.run(m_owner))
        return std::nullopt;
    const QStringList selected = dialog.selectedFiles();
    if (selected.isEmpty() || selected.first().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(selected.first());
}
