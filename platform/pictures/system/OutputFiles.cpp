// SPDX-License-Identifier: MIT
// The parts of putting outputs in place that every system shares; the rest is
// in OutputFilesPosix.cpp and OutputFilesWindows.cpp.
#include "system/OutputFiles.h"

#include <QFileInfo>
#include <QRandomGenerator>

QString hiddenOutputName() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString name = QStringLiteral(".velmora-");
    for (int i = 0; i < 10; ++i)
        name += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(62)]);
    return name + QStringLiteral(".part");
}

void checkReplaceable(const QString& fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return;
    if (!info.isFile())
        failFor(FailureKind::CannotWrite, fileName, QStringLiteral("not a regular file"));
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!(info.permissions() & anyWrite) || !info.isWritable())
        failFor(FailureKind::NoWriteAccess, fileName, QStringLiteral("the file is read-only"));
}

std::unique_ptr<PreparedPicture> prepareOutputFile(const QByteArray& bytes,
                                                   const QString& fileName) {
    WholeFileBytes whole(bytes);
    return prepareOutputFile(whole, fileName);
}
