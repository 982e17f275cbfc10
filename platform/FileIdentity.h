// SPDX-License-Identifier: MIT
#pragma once

#include <QHashFunctions>
#include <QtGlobal>

// A file as the file system tells files apart: the device (or volume) it is
// on and its number there. Every path that reaches the file gives the same
// identity, however it is spelled and through whatever links or mounts.
struct FileIdentity {
    quint64 device = 0;
    quint64 file = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

inline size_t qHash(const FileIdentity& identity, size_t seed = 0) {
    return qHashMulti(seed, identity.device, identity.file);
}
