// SPDX-License-Identifier: MIT
#include "conversion/FilePictureCodec.h"

#include "conversion/PictureConversion.h"
#include "input/PictureSniffing.h"
#include "magick/MagickSetup.h"
#include "pixels/PictureScaling.h"
#include "system/OutputFiles.h"
#include "system/SystemMemory.h"

#include <QFileInfo>

namespace {
// What converting one pixel may take at most: the decoded picture, the
// general path's 16-bit working copies and the encoded output together.
// Our PNG writer, which takes 8-bit pictures only, holds the picture, its
// filtered rows and room for the whole compressed stream at once: three
// times 4 bytes a pixel at most, the metadata's copy of the output coming
// after the filtered rows are freed.
constexpr qint64 kBytesPerPixelInFlight = 16;
} // namespace

FilePictureCodec::FilePictureCodec() {
    prepareMagick();
}

ConvertedPicture FilePictureCodec::convert(const QString& source, TargetFormat format,
                                           const QString& target, std::stop_token stop) {
    PictureFileConversion conversion = convertPictureFile(
        source, format, target, m_previewBox.width(), m_previewBox.height(), stop);
    ConvertedPicture converted;
    converted.file = std::move(conversion.file);
    converted.preview = previewOf(conversion.picture);
    return converted;
}

PictureObject FilePictureCodec::loadPreview(const QString& fileName) {
    if (fileName.isEmpty())
        return nullptr;
    if (fileName == m_remembered.fileName) {
        const QFileInfo info(fileName);
        if (info.size() == m_remembered.size && info.lastModified() == m_remembered.modified)
            return m_remembered.preview;
    }
    return previewOf(loadPreviewFile(fileName, m_previewBox.width(), m_previewBox.height()));
}

PictureObject FilePictureCodec::previewOf(const PictureObject& picture) const {
    return scaledToFit(picture, m_previewBox.width(), m_previewBox.height());
}

void FilePictureCodec::rememberPreview(const QString& fileName, const PictureObject& preview) {
    const QFileInfo info(fileName);
    m_remembered = {fileName, info.size(), info.lastModified(), preview};
}

qint64 FilePictureCodec::memoryNeeded(const QString& fileName) {
    const DeclaredSize size = declaredSizeOfFile(fileName);
    if (!size.isKnown())
        return 0;
    return size.width * size.height * kBytesPerPixelInFlight;
}

qint64 FilePictureCodec::memoryBudget() const {
    return conversionMemoryBudget();
}

std::optional<FileIdentity> FilePictureCodec::fileIdentity(const QString& fileName) {
    return identifyFile(fileName);
}
