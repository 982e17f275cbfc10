// SPDX-License-Identifier: MIT
// The folder chooser.
#include "FileDialogText.h"
#include "QtDesktop.h"
#include "QtFileOpenDialog.h"

std::optional<QString> QtDesktop::browseForFolder(const QString& prompt) {
    KeptFileDialog& dialog = KeptFileDialog::forFolders();
    dialog.setWindowTitle(prompt);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!dialog.run(m_owner))
        return std::nullopt;
    return chosenFolder(dialog.selectedUrls());
}
