// SPDX-License-Identifier: MIT
#include "QtFileOpenDialog.h"

#include "FileDialogText.h"
#include "PlatformError.h"

#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QScopeGuard>

namespace {
// The folder the last file dialog of this run was showing.
QString& lastFolder() {
    static QString folder = QDir::currentPath();
    return folder;
}
} // namespace

KeptFileDialog::KeptFileDialog()
    : QFileDialog(nullptr, QString(), lastFolder()) {
    // Qt has just read its settings, which another program may have left:
    // start without their history.
    setHistory({});
}

KeptFileDialog& KeptFileDialog::forFiles() {
    static KeptFileDialog* const dialog = new KeptFileDialog; // never deleted: see the class
    return *dialog;
}

KeptFileDialog& KeptFileDialog::forFolders() {
    static KeptFileDialog* const dialog = new KeptFileDialog; // never deleted: see the class
    return *dialog;
}

bool KeptFileDialog::run(QWidget* owner) {
    // A child of the owner while shown, for its place and modality; on its own
    // otherwise, so that the owner's end does not destroy it.
    setParent(owner, windowFlags());
    const auto detach = qScopeGuard([this] { setParent(nullptr, windowFlags()); });

    setDirectory(lastFolder());
    if (auto* nameBox = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        nameBox->clear();
    if (auto* rows = findChild<QListView*>(QStringLiteral("listView")))
        rows->selectionModel()->clear();

    const bool accepted = exec() == QDialog::Accepted;
    lastFolder() = directory().absolutePath();
    return accepted;
}

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

QString QtFileOpenDialog::FileName() const {
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

void QtFileOpenDialog::ShowOpen() {
    m_fileName.clear();

    KeptFileDialog& dialog = KeptFileDialog::forFiles();
    configure(dialog);
    const bool accepted = dialog.run(m_owner);
    const QStringList selected = accepted ? dialog.selectedFiles() : QStringList();

    if (selected.isEmpty()) {
        if (m_cancelError)
            throw PlatformError(FailureKind::Cancelled,
                                QStringLiteral("file-open dialog cancelled"));
        return;
    }
    m_fileName = dialogResultText(selected);
}
