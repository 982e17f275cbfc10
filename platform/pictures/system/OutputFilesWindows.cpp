// SPDX-License-Identifier: MIT
// Outputs on Windows. The bytes wait in a hidden file beside the target and
// are moved over it in one step (MoveFileEx with MOVEFILE_REPLACE_EXISTING);
// a file dropped uncommitted is deleted. Paths go to the wide-character API
// with the \\?\ prefix, so folders deeper than 260 characters work too.
#include "system/OutputFiles.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace {

constexpr int kNameAttempts = 64;

// The absolute path in the form the wide-character API takes without a
// length limit: \\?\D:\... or \\?\UNC\server\share\...
std::wstring longPath(const QString& path) {
    // The \\?\ form is taken literally: no "." or ".." may be left in it.
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\?\\")))
        return native.toStdWString();
    if (native.startsWith(QLatin1String("\\\\")))
        native = QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
    else
        native = QStringLiteral("\\\\?\\") + native;
    return native.toStdWString();
}

QString systemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length ? QString::fromWCharArray(text, int(length)).trimmed()
                             : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
}

FailureKind kindOf(DWORD error, const QString& fileName) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return FailureKind::NoWriteAccess;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return FailureKind::DiskFull;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DIRECTORY:
        return QFileInfo(QFileInfo(fileName).absolutePath()).isDir() ? FailureKind::CannotWrite
                                                                     : FailureKind::FolderMissing;
    default: // among them a target another program holds open
        return FailureKind::CannotWrite;
    }
}

[[noreturn]] void failWithError(DWORD error, const QString& fileName) {
    failFor(kindOf(error, fileName), fileName, systemMessage(error));
}

// Replacing a target another program holds open is refused as a denied
// access, like replacing one we may not delete. Opening the target for
// deletion tells the two apart: an open file answers with a sharing violation.
[[noreturn]] void failToReplace(DWORD error, const QString& target) {
    if (error == ERROR_ACCESS_DENIED) {
        HANDLE file = CreateFileW(longPath(target).c_str(), DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        else if (GetLastError() == ERROR_SHARING_VIOLATION)
            failFor(FailureKind::CannotWrite, target, systemMessage(ERROR_SHARING_VIOLATION));
    }
    failWithError(error, target);
}

class WaitingFile : public PreparedPicture {
public:
    WaitingFile(std::wstring temporary, QString target)
        : m_temporary(std::move(temporary))
        , m_target(std::move(target)) {}
    ~WaitingFile() override {
        if (!m_committed)
            DeleteFileW(m_temporary.c_str());
    }
    WaitingFile(const WaitingFile&) = delete;
    WaitingFile& operator=(const WaitingFile&) = delete;

    void commit() override {
        if (m_committed)
            return;
        checkReplaceable(m_target);
        if (!MoveFileExW(m_temporary.c_str(), longPath(m_target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            failToReplace(GetLastError(), m_target);
        m_committed = true;
    }

private:
    std::wstring m_temporary;
    QString m_target;
    bool m_committed = false;
};

} // namespace

std::unique_ptr<PreparedPicture> prepareOutputFile(FileBytes& bytes, const QString& fileName) {
    const QString folder = QFileInfo(fileName).absolutePath();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring path = longPath(folder + u'/' + hiddenOutputName());
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS)
                continue; // another writer's name; draw again
            failWithError(error, fileName);
        }
        auto prepared = std::make_unique<WaitingFile>(path, fileName);
        DWORD error = ERROR_SUCCESS;
        for (QByteArrayView piece = bytes.next(); !piece.isEmpty() && error == ERROR_SUCCESS;
             piece = bytes.next()) {
            const char* data = piece.data();
            qsizetype left = piece.size();
            while (left > 0 && error == ERROR_SUCCESS) {
                DWORD written = 0;
                const DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 30));
                if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0)
                    error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_DISK_FULL;
                data += written;
                left -= written;
            }
        }
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file))
            error = GetLastError();
        CloseHandle(file);
        // The file was created hidden; it shows once it has the target's name.
        if (error == ERROR_SUCCESS && !SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
            error = GetLastError();
        if (error != ERROR_SUCCESS)
            failWithError(error, fileName); // prepared deletes the file
        return prepared;
    }
    failFor(FailureKind::CannotWrite, fileName, QStringLiteral("no free temporary file name"));
}

std::optional<FileIdentity> identifyFile(const QString& fileName) {
    if (fileName.isEmpty())
        return std::nullopt;
    // No access asked for: the attributes can be read whatever the file's
    // rights, and every sharing mode is allowed, so no other program is kept
    // from the file while we look. Backup semantics let folders open too.
    HANDLE file = CreateFileW(longPath(fileName).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known)
        return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}
