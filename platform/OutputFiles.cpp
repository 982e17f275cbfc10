// SPDX-License-Identifier: MIT
#include "OutputFiles.h"

#include "PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void failWrite(const QString& fileName, const QString& why) {
    throw PlatformError(FailureKind::CannotWrite,
                        QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), why));
}

// A short hidden name: the target's own name could be too long to extend.
QString hiddenName() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString name = QStringLiteral(".velmora-");
    for (int i = 0; i < 10; ++i)
        name += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(62)]);
    return name + QStringLiteral(".part");
}

std::filesystem::path nativePath(const QString& fileName) {
#ifdef Q_OS_WIN
    return std::filesystem::path(fileName.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(fileName).toStdString());
#endif
}

constexpr int kNameAttempts = 64;

// The complete file waits under a hidden name beside its target; commit
// renames it over the target, and dropping it uncommitted removes it. Only
// paths are kept, so any thread may commit.
class NamedTemporaryFile : public PreparedPictureFile {
public:
    NamedTemporaryFile(QString temporary, QString target)
        : m_temporary(std::move(temporary))
        , m_target(std::move(target)) {}
    ~NamedTemporaryFile() override {
        if (!m_committed)
            QFile::remove(m_temporary);
    }
    NamedTemporaryFile(const NamedTemporaryFile&) = delete;
    NamedTemporaryFile& operator=(const NamedTemporaryFile&) = delete;

    void commit() override {
        if (m_committed)
            return;
        checkReplaceable(m_target);
        std::error_code error;
        std::filesystem::rename(nativePath(m_temporary), nativePath(m_target), error);
        if (error)
            failWrite(m_target, QString::fromLocal8Bit(error.message()));
        m_committed = true;
    }

private:
    QString m_temporary;
    QString m_target;
    bool m_committed = false;
};

std::unique_ptr<PreparedPictureFile> writeNamed(const QByteArray& bytes, const QString& fileName) {
    const QFileInfo target(fileName);
    const QDir folder = target.absoluteDir();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString path = folder.filePath(hiddenName());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue; // another writer's name; draw again
            failWrite(fileName, file.errorString());
        }
        auto prepared = std::make_unique<NamedTemporaryFile>(path, fileName);
        if (target.exists())
            file.setPermissions(target.permissions());
        bool written = file.write(bytes) == bytes.size() && file.flush();
#ifdef Q_OS_UNIX
        // Space the file system only claims on the way to the disk is claimed
        // now, so a full disk fails here and not after the rename.
        written = written && ::fdatasync(file.handle()) == 0;
#endif
        const QString why = file.errorString();
        file.close();
        if (!written || file.error() != QFileDevice::NoError)
            failWrite(fileName, why); // prepared removes the file
        return prepared;
    }
    failWrite(fileName, QStringLiteral("no free temporary file name"));
}

#ifdef O_TMPFILE
// Where the file system allows, the bytes go into a file of the target's
// folder that has no name until it is committed. A batch that stops, or a
// folder removed or made read-only while rows wait, leaves nothing behind:
// the file goes when its descriptor is closed.
class UnnamedTemporaryFile : public PreparedPictureFile {
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
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        const QString folder = QFileInfo(m_target).absolutePath();
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const QByteArray named = QFile::encodeName(folder + u'/' + hiddenName());
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, named.constData(),
                         AT_SYMLINK_FOLLOW) != 0) {
                if (errno == EEXIST)
                    continue;
                failWrite(m_target, QString::fromLocal8Bit(std::strerror(errno)));
            }
            if (::rename(named.constData(), QFile::encodeName(m_target).constData()) != 0) {
                const int error = errno;
                ::unlink(named.constData());
                failWrite(m_target, QString::fromLocal8Bit(std::strerror(error)));
            }
            m_committed = true;
            return;
        }
        failWrite(m_target, QStringLiteral("no free temporary file name"));
    }

private:
    int m_descriptor;
    QString m_target;
    bool m_committed = false;
};

bool writeAll(int descriptor, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return ::fdatasync(descriptor) == 0;
}

// Null when this file system has no unnamed files.
std::unique_ptr<PreparedPictureFile> writeUnnamed(const QByteArray& bytes,
                                                  const QString& fileName) {
    const QByteArray folder = QFile::encodeName(QFileInfo(fileName).absolutePath());
    const int descriptor = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return nullptr;
    auto prepared = std::make_unique<UnnamedTemporaryFile>(descriptor, fileName);
    struct stat existing {};
    if (::stat(QFile::encodeName(fileName).constData(), &existing) == 0)
        ::fchmod(descriptor, existing.st_mode & 07777);
    if (!writeAll(descriptor, bytes))
        failWrite(fileName, QString::fromLocal8Bit(std::strerror(errno)));
    return prepared;
}
#endif

} // namespace

void checkReplaceable(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return;
    if (!info.isFile())
        failWrite(fileName, QStringLiteral("not a regular file"));
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!(info.permissions() & anyWrite) || !info.isWritable())
        failWrite(fileName, QStringLiteral("the file is read-only"));
}

std::unique_ptr<PreparedPictureFile> prepareOutputFile(const QByteArray& bytes,
                                                       const QString& fileName) {
    checkReplaceable(fileName);
#ifdef O_TMPFILE
    if (auto unnamed = writeUnnamed(bytes, fileName))
        return unnamed;
#endif
    return writeNamed(bytes, fileName);
}
