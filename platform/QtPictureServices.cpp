// SPDX-License-Identifier: MIT
// Construction, the owner window and the pictures. The dialogs, the message
// box and the file manager each live in a file of their own.
#include "QtPictureServices.h"

#include "PictureFiles.h"
#include "PlatformError.h"
#include "QtFileOpenDialog.h"

QtPictureServices::QtPictureServices()
    : m_dialog(std::make_unique<QtFileOpenDialog>()) {}

QtPictureServices::~QtPictureServices() = default;

void QtPictureServices::setOwner(QWidget* owner) {
    m_owner = owner;
    m_dialog->setOwner(owner);
}

PictureObject QtPictureServices::LoadPicture(const QString& fileName) {
    if (fileName.isEmpty())
        return nullptr;
    return loadPictureFile(fileName);
}

void QtPictureServices::SavePicture(const PictureObject& picture, const QString& fileName) {
    if (!picture)
        throw PlatformError(FailureKind::CannotWrite,
                            QStringLiteral("no picture to write to %1").arg(fileName));
    savePictureFile(*picture, fileName);
}

FileOpenDialog& QtPictureServices::CommonDialog1() {
    return *m_dialog;
}
