// SPDX-License-Identifier: MIT
// Construction, the owner window, the message box and the progress
// indicator. The dialogs and the file manager each live in a file of their own.
#include "QtDesktop.h"

#include "QtBatchProgress.h"
#include "QtFileOpenDialog.h"

#include <QMessageBox>

QtDesktop::QtDesktop()
    : m_dialog(std::make_unique<QtFileOpenDialog>()) {}

QtDesktop::~QtDesktop() = default;

void QtDesktop::setOwner(QWidget* owner) {
    m_owner = owner;
    m_dialog->setOwner(owner);
}

FileOpenDialog& QtDesktop::fileOpenDialog() {
    return *m_dialog;
}

void QtDesktop::showMessage(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    title, text, QMessageBox::Ok, m_owner);
    // Messages carry file names; a name with "<" must not be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::unique_ptr<BatchProgress> QtDesktop::startBatchProgress(int totalRows) {
    return std::make_unique<QtBatchProgress>(m_owner, totalRows);
}
