// SPDX-License-Identifier: MIT
#include "FailureLog.h"

#include <QDir>

Q_LOGGING_CATEGORY(lcFailures, "velmora.failures", QtWarningMsg)

namespace {
const char* kindName(FailureKind kind) {
    switch (kind) {
    case FailureKind::Cancelled:
        return "cancelled";
    case FailureKind::FileMissing:
        return "file missing";
    case FailureKind::CannotRead:
        return "cannot read";
    case FailureKind::NotAPicture:
        return "not a picture";
    case FailureKind::UnsupportedFormat:
        return "unsupported format";
    case FailureKind::PictureTooLarge:
        return "picture too large";
    case FailureKind::CannotWrite:
        return "cannot write";
    case FailureKind::NoWriteAccess:
        return "no write access";
    case FailureKind::DiskFull:
        return "disk full";
    case FailureKind::FolderMissing:
        return "folder missing";
    case FailureKind::NoSuchRow:
        return "no such row";
    case FailureKind::CannotStart:
        return "cannot start";
    case FailureKind::CodecNotReady:
        return "codec not ready";
    }
    return "failure";
}
} // namespace

void logFailure(const QString& fileName, const PlatformError& error) {
    const QString file = QDir::toNativeSeparators(fileName);
    // Most details already start with the file; it is written once.
    QString detail = error.detail();
    if (detail.startsWith(file + QStringLiteral(": ")))
        detail.remove(0, file.size() + 2);
    qCWarning(lcFailures).noquote().nospace()
        << file << ": " << kindName(error.kind()) << ": " << detail;
}

void logUnexpectedFailure(const std::exception& error) {
    qCWarning(lcFailures).noquote().nospace()
        << "unexpected failure: " << QString::fromUtf8(error.what());
}
