// SPDX-License-Identifier: MIT
#include "input/PictureLimits.h"

#include "PlatformError.h"

void checkDimensions(const QString& fileName, qint64 width, qint64 height) {
    if (width == 0 || height == 0)
        failFor(FailureKind::NotAPicture, fileName, QStringLiteral("the picture has no pixels"));
    if (width > kMaxPictureSide || height > kMaxPictureSide ||
        double(width) * double(height) > double(kMaxPicturePixels))
        failFor(FailureKind::PictureTooLarge, fileName,
                QStringLiteral("%1 x %2 pixels is beyond our limits").arg(width).arg(height));
}
