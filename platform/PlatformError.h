// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <exception>
#include <stop_token>

// Why a platform service gave up. Handlers and messages tell these apart; the
// detail is for the developer (the codec's or the system's own words).
enum class FailureKind {
    Cancelled,         // the user cancelled a dialog
    FileMissing,       // the source file does not exist
    CannotRead,        // the source exists but may not be read (permissions, I/O error)
    NotAPicture,       // not a picture we can read, or damaged
    UnsupportedFormat, // a picture in a format we do not read (formatName says which)
    PictureTooLarge,   // declared dimensions beyond our resource limits
    CannotWrite,       // the output file could not be written, for another reason
    NoWriteAccess,     // the output folder or file may not be written (or is read-only)
    DiskFull,          // no space left for the output (or over a quota or size limit)
    FolderMissing,     // the output folder is gone
    NoSuchRow,         // a list index that names no row
    CannotStart,       // the file manager could not be started
    CodecNotReady,     // the picture codec was not started (its security policy)
};

// The one exception type the platform layer throws.
class PlatformError : public std::exception {
public:
    PlatformError(FailureKind kind, const QString& detail, const QString& formatName = {})
        : m_kind(kind)
        , m_detail(detail)
        , m_formatName(formatName)
        , m_what(detail.toUtf8()) {}

    FailureKind kind() const { return m_kind; }
    const QString& detail() const { return m_detail; }
    // The name users know the file's format by ("WebP"), where it is known.
    const QString& formatName() const { return m_formatName; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    FailureKind m_kind;
    QString m_detail;
    QString m_formatName;
    QByteArray m_what;
};

// Throws the failure of a file: "<file>: <why>", the file in the system's own
// notation, `why` in the codec's or the system's own words.
[[noreturn]] inline void failFor(FailureKind kind, const QString& fileName, const QString& why) {
    throw PlatformError(kind,
                        QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), why));
}

// Ends long codec work between rows once the batch asks it to stop.
inline void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested())
        throw PlatformError(FailureKind::Cancelled, QStringLiteral("stopped on request"));
}
