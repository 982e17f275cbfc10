// SPDX-License-Identifier: MIT
#include "input/PictureReading.h"

#include "PlatformError.h"
#include "input/PictureLimits.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
[[noreturn]] void fail(FailureKind kind, const QString& fileName, const QString& why) {
    throw PlatformError(kind,
                        QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), why));
}
} // namespace

void openPictureFile(QFile& file, const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        fail(FailureKind::FileMissing, fileName, QStringLiteral("no such file"));
    if (!info.isFile())
        fail(FailureKind::NotAPicture, fileName, QStringLiteral("not a regular file"));
#ifdef Q_OS_UNIX
    // Opened without waiting and checked again once open: a FIFO put in the
    // file's place after the check above would otherwise wait for a writer
    // that never comes. Regular files ignore O_NONBLOCK.
    const int descriptor =
        ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        fail(errno == ENOENT ? FailureKind::FileMissing : FailureKind::CannotRead, fileName,
             QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        fail(FailureKind::NotAPicture, fileName, QStringLiteral("not a regular file"));
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        fail(FailureKind::CannotRead, fileName, file.errorString());
    }
#else
    file.setFileName(fileName);
    if (!file.open(QIODevice::ReadOnly))
        fail(FailureKind::CannotRead, fileName, file.errorString());
#endif
}

QByteArray readPictureBytes(const QString& fileName) {
    QFile file;
    openPictureFile(file, fileName);
    // A file that is there but may not be read is no damaged picture: the
    // user is told so.
    if (file.size() > kMaxPictureFileBytes)
        fail(FailureKind::PictureTooLarge, fileName, QStringLiteral("the file is too large"));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(FailureKind::CannotRead, fileName, file.errorString());
    if (bytes.isEmpty())
        fail(FailureKind::NotAPicture, fileName, QStringLiteral("the file is empty"));
    return bytes;
}
