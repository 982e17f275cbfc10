// SPDX-License-Identifier: MIT
#include "OutputNaming.h"

QString baseName(const QString& path, QChar separator) {
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

QString OutputNames::claim(const QString& source, const QString& folder, const QString& baseName,
                           QStringView extension, QChar separator) {
    QString candidate = outputPath(folder, baseName, extension, separator);
    for (int copy = 2;; ++copy) {
        const QString key = candidate.toCaseFolded();
        const auto owner = m_sourceOf.constFind(key);
        if (owner == m_sourceOf.cend()) {
            m_sourceOf.insert(key, source);
            return candidate;
        }
        if (*owner == source)
            return candidate;
        candidate = outputPath(folder, QStringLiteral("%1 (%2)").arg(baseName).arg(copy), extension,
                               separator);
    }
}
