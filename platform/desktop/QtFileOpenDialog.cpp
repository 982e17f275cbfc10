// SPDX-License-Identifier: MIT
#include "QtFileOpenDialog.h"

#include "FileDialogText.h"
#include "PlatformError.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>

#include <algorithm>

namespace {
// The folder the last file dialog of this run was showing.
QString& lastFolder() {
    static QString folder = QDir::currentPath();
    return folder;
}

// What QFileDialog writes into its name box for these selected files: the
// name alone, or several names each in double quotes.
QString nameBoxText(const QStringList& selectedPaths) {
    QStringList names;
    for (const QString& path : selectedPaths)
        names << QFileInfo(path).fileName();
    if (names.size() == 1)
        return names.first();
    for (QString& name : names)
        name = u'"' + name + u'"';
    return names.join(u' ');
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
    if (QLineEdit* box = nameBox()) {
        box->clear();
        // After Qt's own handler, which was connected first.
        connect(box, &QLineEdit::textChanged, this, &KeptFileDialog::enableOpenForTypedNames,
                Qt::UniqueConnection);
    }
    if (QListView* rows = fileRows())
        rows->selectionModel()->clear();

    const bool accepted = exec() == QDialog::Accepted;
    lastFolder() = directory().absolutePath();
    return accepted;
}

void KeptFileDialog::accept() {
    QLineEdit* box = nameBox();
    QListView* rows = fileRows();
    if (takesTypedNames() && box && rows && !box->text().isEmpty() &&
        box->text() != nameBoxText(selectedFiles()))
        rows->selectionModel()->clear();
    QFileDialog::accept();
}

// Qt disables Open while no row is selected and a typed name is not in its
// (filtered) list.
void KeptFileDialog::enableOpenForTypedNames() {
    QPushButton* open = openButton();
    if (open && !open->isEnabled() && takesTypedNames() && typedNamesExist())
        open->setEnabled(true);
}

bool KeptFileDialog::takesTypedNames() const {
    return fileMode() == ExistingFile || fileMode() == ExistingFiles;
}

bool KeptFileDialog::typedNamesExist() const {
    const QLineEdit* box = nameBox();
    const QString text = box ? box->text() : QString();
    // One name as it stands, or several each in double quotes, as Qt reads them.
    QStringList names;
    if (!text.contains(u'"')) {
        names << text;
    } else {
        const QStringList parts = text.split(u'"');
        for (qsizetype i = 1; i < parts.size(); i += 2)
            names << parts.at(i);
    }
    const QDir folder = directory();
    return std::all_of(names.cbegin(), names.cend(), [&](const QString& name) {
        return !name.isEmpty() && QFileInfo::exists(folder.absoluteFilePath(name));
    });
}

QLineEdit* KeptFileDialog::nameBox() const {
    return findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

QListView* KeptFileDialog::fileRows() const {
    return findChild<QListView*>(QStringLiteral("listView"));
}

QPushButton* KeptFileDialog::openButton() const {
    const auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
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
