// SPDX-License-Identifier: MIT
// Opening a folder on Windows: Explorer started directly, the folder as its
// one argument, no shell in between.
#include "QtPictureServices.h"

#include "PlatformError.h"

#include <QDir>
#include <QProcess>

void QtPictureServices::openFolder(const QString& folder) {
    if (!QProcess::startDetached(QStringLiteral("explorer.exe"),
                                 {QDir::toNativeSeparators(folder)}))
        throw PlatformError(FailureKind::CannotStart, folder);
}
