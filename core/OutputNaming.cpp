// SPDX-License-Identifier: MIT
#include "OutputNaming.h"

QString Getfn(const QString& path, QChar separator) {
    const QString name = path.mid(path.lastIndexOf(separator) + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QString outputPath(const QString& folder, const QString& baseName, QStringView extension,
                   QChar separator) {
    QString path = folder;
    if (!path.endsWith(separator))
        path += separator;
    path += baseName;
    path += extension;
    return path;
}
