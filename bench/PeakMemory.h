// SPDX-License-Identifier: MIT
// The peak resident memory of this process (VmHWM), as Linux reports it.
#pragma once

#include <QByteArray>
#include <QFile>

// In KiB; -1 where the system does not say.
inline qint64 vmHwmKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}
