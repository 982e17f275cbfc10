// SPDX-License-Identifier: MIT
// Opening a folder on Linux and other free desktops: the desktop's own opener,
// xdg-open, started directly with the folder as a file URL, so no shell ever
// sees the folder's name and a name starting with "-" is no option. The
// opener's answer comes later; the window does not wait for it.
#include "QtDesktop.h"

#include "PlatformError.h"

#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

void QtDesktop::openFolder(const QString& folder,
                           std::function<void(const PlatformError&)> onLateFailure) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        throw PlatformError(FailureKind::CannotStart, QStringLiteral("xdg-open is not installed"));
    // No parent: a file manager still open when the window closes stays open.
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({QUrl::fromLocalFile(folder).toString()});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // xdg-open exits non-zero when no program would open the folder; it may
    // also stay until the file manager closes.
    QObject::connect(process, &QProcess::finished, process,
                     [process, onLateFailure](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if ((status != QProcess::NormalExit || exitCode != 0) && onLateFailure)
                             onLateFailure(PlatformError(
                                 FailureKind::CannotStart,
                                 status == QProcess::NormalExit
                                     ? QStringLiteral("xdg-open exited with code %1").arg(exitCode)
                                     : QStringLiteral("xdg-open crashed")));
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, onLateFailure](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         if (onLateFailure)
                             onLateFailure(
                                 PlatformError(FailureKind::CannotStart, process->errorString()));
                     });
    process->start();
}
