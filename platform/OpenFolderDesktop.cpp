// SPDX-License-Identifier: MIT
// Opening a folder through the desktop (Linux and other Unix desktops): the
// folder travels as a file URL, so no shell ever sees it.
#include "QtPictureServices.h"

#include "PlatformError.h"

#include <QDesktopServices>
#include <QUrl>

void QtPictureServices::openFolder(const QString& folder) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        throw PlatformError(FailureKind::CannotStart, folder);
}
