// SPDX-License-Identifier: MIT
// A scripted picture codec: pictures are tagged with the path they came from,
// and every load, save and dropped output is recorded. Loads and prepares run
// on worker threads during a batch, so the records are guarded.
#pragma once

#include "PictureCodec.h"
#include "PlatformError.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QStringList>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <mutex>

// Records the moment a prepared picture is put in place, or dropped.
class FakePreparedPicture : public PreparedPicture {
public:
    FakePreparedPicture(std::function<void()> onCommit, std::function<void()> onDiscard)
        : m_onCommit(std::move(onCommit))
        , m_onDiscard(std::move(onDiscard)) {}
    ~FakePreparedPicture() override {
        if (!m_committed)
            m_onDiscard();
    }
    void commit() override {
        m_onCommit();
        m_committed = true;
    }

private:
    std::function<void()> m_onCommit;
    std::function<void()> m_onDiscard;
    bool m_committed = false;
};

// A door the test opens: loads of chosen rows wait at it, as inside a long
// codec call that does not look at its stop token.
class Gate {
public:
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void pass() {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        --m_waiting;
    }
    // Waits until `count` loads are held at the door.
    bool waitForHeld(int count, int timeoutMs = 10000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_waiting >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_waiting = 0;
};

class FakeCodec : public PictureCodec {
public:
    // The source path a fake picture was loaded from.
    static QString sourceOf(const PictureObject& picture) {
        return picture ? QString::fromUtf8(picture->pixels) : QString();
    }

    QHash<QString, FailureKind> loadFailures; // path -> why it cannot be loaded
    QHash<QString, FailureKind> unwritable;   // target -> why it cannot be put in place
    QHash<QString, qint64> memory;            // path -> memory it needs (default 0)
    qint64 budget = qint64(1) << 40;
    int loadDelayMs = 0;
    Gate* gate = nullptr; // when set, loads of gatedRows wait at it
    QStringList gatedRows;

    QHash<QString, int> loads;            // path -> number of full decodes
    QStringList discarded;                // targets prepared but never written
    QList<QPair<QString, QString>> saves; // (source of the picture, target)
    int loadsRunning = 0;
    int mostLoadsRunning = 0;

    ConvertedPicture convert(const QString& source, TargetFormat format, const QString& target,
                             std::stop_token = {}) override {
        const PictureObject picture = load(source);
        return {prepare(picture, format, target), picture};
    }

    // A picture tagged with its path, as a decode would give it.
    PictureObject load(const QString& fileName) {
        if (fileName.isEmpty())
            return nullptr;
        {
            QMutexLocker lock(&m_mutex);
            ++loads[fileName];
            mostLoadsRunning = std::max(mostLoadsRunning, ++loadsRunning);
        }
        if (gate && gatedRows.contains(fileName))
            gate->pass();
        if (loadDelayMs > 0)
            QThread::msleep(loadDelayMs);
        QMutexLocker lock(&m_mutex);
        --loadsRunning;
        if (loadFailures.contains(fileName))
            throw PlatformError(loadFailures.value(fileName), fileName);
        auto picture = std::make_shared<Picture>();
        picture->width = picture->height = 1;
        picture->pixels = fileName.toUtf8();
        return picture;
    }
    // The output of the picture, recording when it is put in place or dropped.
    virtual std::unique_ptr<PreparedPicture> prepare(const PictureObject& picture, TargetFormat,
                                                     const QString& fileName) {
        if (!picture)
            throw PlatformError(FailureKind::CannotWrite, fileName);
        const QString source = sourceOf(picture);
        return std::make_unique<FakePreparedPicture>(
            [this, source, fileName] {
                QMutexLocker lock(&m_mutex);
                if (unwritable.contains(fileName))
                    throw PlatformError(unwritable.value(fileName), fileName);
                saves.append({source, fileName});
            },
            [this, fileName] {
                QMutexLocker lock(&m_mutex);
                discarded << fileName;
            });
    }
    // Previews are the pictures themselves; a remembered one is not decoded again.
    PictureObject loadPreview(const QString& fileName) override {
        if (!fileName.isEmpty() && fileName == m_rememberedFile)
            return m_rememberedPreview;
        return load(fileName);
    }
    void rememberPreview(const QString& fileName, const PictureObject& preview) override {
        m_rememberedFile = fileName;
        m_rememberedPreview = preview;
    }
    qint64 memoryNeeded(const QString& fileName) override {
        QMutexLocker lock(&m_mutex);
        return memory.value(fileName, 0);
    }
    qint64 memoryBudget() const override { return budget; }
    // The fake's files live in no file system: no path has an identity.
    std::optional<FileIdentity> fileIdentity(const QString&) override { return std::nullopt; }

    int loadsOf(const QString& source) {
        QMutexLocker lock(&m_mutex);
        return loads.value(source);
    }

    QStringList savedTargets() {
        QMutexLocker lock(&m_mutex);
        QStringList targets;
        for (const auto& save : saves)
            targets << save.second;
        return targets;
    }

private:
    QMutex m_mutex;
    QString m_rememberedFile;
    PictureObject m_rememberedPreview;
};
