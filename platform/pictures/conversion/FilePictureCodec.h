// SPDX-License-Identifier: MIT
#pragma once

#include "PictureCodec.h"

#include <QDateTime>
#include <QSize>

// Pictures from and to files, through the direct codecs and ImageMagick.
class FilePictureCodec : public PictureCodec {
public:
    // Sets the codec library up, once per process (it reads the environment,
    // which is safe only before the workers start).
    FilePictureCodec();

    // The size previews are made for.
    void setPreviewBox(QSize box) { m_previewBox = box; }

    ConvertedPicture convert(const QString& source, TargetFormat format, const QString& target,
                             std::stop_token stop = {}) override;
    PictureObject loadPreview(const QString& fileName) override;
    void rememberPreview(const QString& fileName, const PictureObject& preview) override;
    qint64 memoryNeeded(const QString& fileName) override;
    qint64 memoryBudget() const override;
    std::optional<FileIdentity> fileIdentity(const QString& fileName) override;

private:
    PictureObject previewOf(const PictureObject& picture) const;

    // A preview handed over by the batch, valid while the file is unchanged.
    struct RememberedPreview {
        QString fileName;
        qint64 size = -1;
        QDateTime modified;
        PictureObject preview;
    };

    QSize m_previewBox{297, 365};
    RememberedPreview m_remembered;
};
