// SPDX-License-Identifier: MIT
// Outputs on Linux and other POSIX systems. Where the file system allows, the
// bytes go into a file of the target's folder that has no name until it is
// committed, so a batch that stops, or a folder removed or made read-only
// while rows wait, leaves nothing behind: the file goes with its descriptor.
// Elsewhere the file waits under a hidden name and is removed if dropped.
#include "system/OutputFiles.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNameAttempts = 64;
// The slices a large piece is written in (see writeAll).
constexpr qsizetype kSliceBytes = 256 << 10;

// Why a write failed, in the user's terms. A missing folder is told apart
// from a missing file inside it by looking at the folder.
FailureKind kindOf(int error, const QString& fileName) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return FailureKind::NoWriteAccess;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: // beyond the largest file this process may write
        return FailureKind::DiskFull;
    case ENOENT:
    case ENOTDIR:
        return QFileInfo(QFileInfo(fileName).absolutePath()).isDir() ? FailureKind::CannotWrite
                                                                     : FailureKind::FolderMissing;
    default:
        return FailureKind::CannotWrite;
    }
}

[[noreturn]] void failWithErrno(int error, const QString& fileName) {
    failFor(kindOf(error, fileName), fileName, QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

QString folderOf(const QString& fileName) {
    return QFileInfo(fileName).absolutePath();
}

// Writes the bytes, retrying after signals. Returns 0 or the errno.
int writeOut(int descriptor, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return ENOSPC;
        data += written;
        size -= written;
    }
    return 0;
}

// Writes every piece and waits for the disk, so that space the file system
// only claims on the way to the disk is claimed now: a full disk fails here,
// not after the rename. Returns 0 or the errno. A large piece goes through a
// small buffer a slice at a time: the system copies a slice the cache holds
// several times faster than it reads a large buffer of fresh pages (a
// decoded picture, say), so the extra copy pays for itself.
int writeAll(int descriptor, FileBytes& bytes) {
    std::unique_ptr<char[]> slice;
    for (QByteArrayView piece = bytes.next(); !piece.isEmpty(); piece = bytes.next()) {
        if (piece.size() <= kSliceBytes) {
            if (const int error = writeOut(descriptor, piece.data(), piece.size()); error != 0)
                return error;
            continue;
        }
        if (!slice)
            slice = std::make_unique_for_overwrite<char[]>(size_t(kSliceBytes));
        for (qsizetype at = 0; at < piece.size(); at += kSliceBytes) {
            const qsizetype size = std::min(kSliceBytes, piece.size() - at);
            std::memcpy(slice.get(), piece.data() + at, size_t(size));
            if (const int error = writeOut(descriptor, slice.get(), size); error != 0)
                return error;
        }
    }
    return ::fdatasync(descriptor) == 0 ? 0 : errno;
}

// An existing target keeps its permissions.
void takePermissions(int descriptor, const QString& target) {
    struct stat existing {};
    if (::stat(encoded(target).constData(), &existing) == 0)
        ::fchmod(descriptor, existing.st_mode & 07777);
}

void renameOver(const QByteArray& from, const QString& target) {
    if (::rename(from.constData(), encoded(target).constData()) != 0) {
        const int error = errno;
        ::unlink(from.constData());
        failWithErrno(error, target);
    }
}

class NamedTemporaryFile : public PreparedPicture {
public:
    NamedTemporaryFile(QByteArray temporary, QString target)
        : m_temporary(std::move(temporary))
        , m_target(std::move(target)) {}
    ~NamedTemporaryFile() override {
        if (!m_committed)
            ::unlink(m_temporary.constData());
    }
    NamedTemporaryFile(const NamedTemporaryFile&) = delete;
    NamedTemporaryFile& operator=(const NamedTemporaryFile&) = delete;

    void commit() override {
        if (m_committed)
            return;
        checkReplaceable(m_target);
        if (::rename(m_temporary.constData(), encoded(m_target).constData()) != 0)
            failWithErrno(errno, m_target);
        m_committed = true;
    }

private:
    QByteArray m_temporary;
    QString m_target;
    bool m_committed = false;
};

std::unique_ptr<PreparedPicture> writeNamed(FileBytes& bytes, const QString& fileName) {
    const QString folder = folderOf(fileName);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray path = encoded(folder + u'/' + hiddenOutputName());
        const int descriptor =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST)
                continue; // another writer's name; draw again
            failWithErrno(errno, fileName);
        }
        auto prepared = std::make_unique<NamedTemporaryFile>(path, fileName);
        takePermissions(descriptor, fileName);
        const int error = writeAll(descriptor, bytes);
        ::close(descriptor);
        if (error != 0)
            failWithErrno(error, fileName); // prepared removes the file
        return prepared;
    }
    failFor(FailureKind::CannotWrite, fileName, QStringLiteral("no free temporary file name"));
}

#ifdef O_TMPFILE
class UnnamedTemporaryFile : public PreparedPicture {
public:
    UnnamedTemporaryFile(int descriptor, QString target)
        : m_descriptor(descriptor)
        , m_target(std::move(target)) {}
    ~UnnamedTemporaryFile() override { ::close(m_descriptor); }
    UnnamedTemporaryFile(const UnnamedTemporaryFile&) = delete;
    UnnamedTemporaryFile& operator=(const UnnamedTemporaryFile&) = delete;

    void commit() override {
        if (m_committed)
            return;
        checkReplaceable(m_target);
        // The file gets a hidden name first and is then renamed over the
        // target, which replaces an existing file in one step.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        const QString folder = folderOf(m_target);
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const QByteArray named = encoded(folder + u'/' + hiddenOutputName());
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, named.constData(),
                         AT_SYMLINK_FOLLOW) != 0) {
                if (errno == EEXIST)
                    continue;
                failWithErrno(errno, m_target);
            }
            renameOver(named, m_target);
            m_committed = true;
            return;
        }
        failFor(FailureKind::CannotWrite, m_target, QStringLiteral("no free temporary file name"));
    }

private:
    int m_descriptor;
    QString m_target;
    bool m_committed = false;
};

// Null when this file system has no unnamed files, or refuses one for a reason
// the named path will report in its own words.
std::unique_ptr<PreparedPicture> writeUnnamed(FileBytes& bytes, const QString& fileName) {
    const int descriptor =
        ::open(encoded(folderOf(fileName)).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return nullptr;
    auto prepared = std::make_unique<UnnamedTemporaryFile>(descriptor, fileName);
    takePermissions(descriptor, fileName);
    if (const int error = writeAll(descriptor, bytes); error != 0)
        failWithErrno(error, fileName);
    return prepared;
}
#endif

} // namespace

std::unique_ptr<PreparedPicture> prepareOutputFile(FileBytes& bytes, const QString& fileName) {
#ifdef O_TMPFILE
    if (auto unnamed = writeUnnamed(bytes, fileName))
        return unnamed;
#endif
    return writeNamed(bytes, fileName);
}

std::optional<FileIdentity> identifyFile(const QString& fileName) {
    struct stat status {};
    if (fileName.isEmpty() || ::stat(encoded(fileName).constData(), &status) != 0)
        return std::nullopt;
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}
