// SPDX-License-Identifier: MIT
// Construction, the owner window and the pictures. The dialogs, the message
// box and the file manager each live in a file of their own.
#include "QtPictureServices.h"

#include "PictureFiles.h"
#include "PictureScaling.h"
#include "PlatformError.h"
#include "QtBatchProgress.h"
#include "QtFileOpenDialog.h"

#include <QFileInfo>

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

namespace {
class PreparedPictureAdapter : public PreparedPicture {
public:
    explicit PreparedPictureAdapter(std::unique_ptr<PreparedPictureFile> file)
        : m_file(std::move(file)) {}
    void commit() override { m_file->commit(); }

private:
    std::unique_ptr<PreparedPictureFile> m_file;
};
} // namespace

std::unique_ptr<PreparedPicture> QtPictureServices::preparePicture(const PictureObject& picture,
                                                                   const QString& fileName) {
    if (!picture)
        throw PlatformError(FailureKind::CannotWrite,
                            QStringLiteral("no picture to write to %1").arg(fileName));
    return std::make_unique<PreparedPictureAdapter>(preparePictureFile(*picture, fileName));
}

PictureObject QtPictureServices::loadPreview(const QString& fileName) {
    if (fileName.isEmpty())
        return nullptr;
    if (fileName == m_remembered.fileName) {
        const QFileInfo info(fileName);
        if (info.size() == m_remembered.size && info.lastModified() == m_remembered.modified)
            return m_remembered.preview;
    }
    return previewOf(loadPreviewFile(fileName, m_previewBox.width(), m_previewBox.height()));
}

PictureObject QtPictureServices::previewOf(const PictureObject& picture) {
    return scaledToFit(picture, m_previewBox.width(), m_previewBox.height());
}

void QtPictureServices::rememberPreview(const QString& fileName, const PictureObject& preview) {
    const QFileInfo info(fileName);
    m_remembered = {fileName, info.size(), info.lastModified(), preview};
}

std::unique_ptr<BatchProgress> QtPictureServices::startBatchProgress(int totalRows) {
    return std::make_unique<QtBatchProgress>(m_owner, totalRows);
}
