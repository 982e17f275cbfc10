// SPDX-License-Identifier: MIT
// Opening a folder on Windows: Explorer started directly, the folder as its
// one argument in quotes, no shell in between, so "&", "^" and "%" in a
// folder's name mean nothing. Explorer's exit code says nothing (it is 1 on
// success too), so only a failure to start it is reported.
#include "QtDesktop.h"

#include "PlatformError.h"

#include <QDir>
#include <QProcess>

void QtDesktop::openFolder(const QString& folder, std::function<void()>) {
    QString native = QDir::toNativeSeparators(folder);
    // A closing backslash would escape the closing quote ("D:\" is read as
    // D:" ); a drive root keeps its meaning as D:\. instead.
    if (native.endsWith(u'\\'))
        native += u'.';
    QProcess explorer;
    explorer.setProgram(QStringLiteral("explorer.exe"));
    explorer.setNativeArguments(u'"' + native + u'"');
    if (!explorer.startDetached())
        throw PlatformError(FailureKind::CannotStart, folder);
}
