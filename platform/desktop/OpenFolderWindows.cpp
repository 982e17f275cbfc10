// SPDX-License-Identifier: MIT
// Opening a folder on Windows: Explorer started directly with the folder as
// its one argument (see ExplorerArgument.h). Explorer's exit code says nothing
// (it is 1 on success too), so only a failure to start it is reported.
#include "ExplorerArgument.h"
#include "QtDesktop.h"

#include "PlatformError.h"

#include <QProcess>

void QtDesktop::openFolder(const QString& folder, std::function<void(const PlatformError&)>) {
    QProcess explorer;
    explorer.setProgram(QStringLiteral("explorer.exe"));
    explorer.setNativeArguments(explorerArgument(folder));
    if (!explorer.startDetached())
        failFor(FailureKind::CannotStart, folder, explorer.errorString());
}
