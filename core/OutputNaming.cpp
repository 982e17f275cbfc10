// SPDX-License-Identifier: MIT
#include "OutputNaming.h"

#include <algorithm>

namespace {

// Windows takes '/' as a separator too (no name may hold one), so a path
// handed over with forward slashes is split and joined the same way.
bool alsoSlash(QChar separator) {
    return separator == u'\\';
}

} // namespace

QString baseName(const QString& path, QChar separator) {
    qsizetype cut = path.lastIndexOf(separator);
    if (alsoSlash(separator))
        cut = std::max(cut, path.lastIndexOf(u'/'));
    const QString name = path.mid(cut + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QString outputPath(const QString& folder, const QString& baseName, QStringView extension,
                   QChar separator) {
    QString path = folder;
    if (!path.endsWith(separator) && !(alsoSlash(separator) && path.endsWith(u'/')))
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
        // One pass over the pattern, so a '%' in the name is kept as it is.
        candidate =
            outputPath(folder, QStringLiteral("%1 (%2)").arg(baseName, QString::number(copy)),
                       extension, separator);
    }
}
