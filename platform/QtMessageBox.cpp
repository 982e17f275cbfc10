// SPDX-License-Identifier: MIT
// The information message.
#include "QtPictureServices.h"

#include <QMessageBox>

void QtPictureServices::ShowMessage(const QString& prompt, const QString& title) {
    QMessageBox box(QMessageBox::Information, title, prompt, QMessageBox::Ok, m_owner);
    // Messages carry file names; a name with "<" must not be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
