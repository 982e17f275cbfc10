// SPDX-License-Identifier: MIT
// Files as the suites handle them: a corpus picture by name, a file read or
// written whole, and what a folder holds.
#pragma once

#include "PlatformError.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

// A picture of the shared corpus's good pictures.
inline QString corpusFile(const QString& name) {
    return QStringLiteral(VELMORA_CORPUS_DIR "/good/") + name;
}

// The whole file; empty when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A copy the suite may change or remove: the corpus's files are read-only,
// and Windows neither removes nor replaces a read-only file.
inline bool copyWritable(const QString& from, const QString& to) {
    return QFile::copy(from, to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every name in a folder, hidden ones and FIFOs included, sorted: what a
// conversion leaves behind shows here.
inline QStringList entries(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// The kind of failure a step throws; Cancelled stands for "did not fail".
inline FailureKind failureOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const PlatformError& e) {
        return e.kind();
    }
    return FailureKind::Cancelled;
}
