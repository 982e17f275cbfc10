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

OutputNames::OutputNames(const QStringList& sources, IdentifyFile identify)
    : m_identify(std::move(identify)) {
    for (const QString& source : sources) {
        if (m_identityOf.contains(source))
            continue;
        const std::optional<FileIdentity> identity = m_identify(source);
        m_identityOf.insert(source, identity);
        if (identity && !m_firstSourceOf.contains(*identity))
            m_firstSourceOf.insert(*identity, source);
    }
}

QString OutputNames::firstNaming(const QString& source) const {
    const std::optional<FileIdentity> identity = m_identityOf.value(source);
    return identity ? m_firstSourceOf.value(*identity) : source;
}

bool OutputNames::isSource(const QString& path) const {
    if (m_firstSourceOf.isEmpty())
        return false;
    const std::optional<FileIdentity> identity = m_identify(path);
    return identity && m_firstSourceOf.contains(*identity);
}

QString OutputNames::claim(const QString& source, const QString& folder, const QString& baseName,
                           QStringView extension, QChar separator) {
    const QString file = firstNaming(source);
    if (const auto given = m_outputOf.constFind(file); given != m_outputOf.cend())
        return *given;
    QString candidate = outputPath(folder, baseName, extension, separator);
    for (int copy = 2;; ++copy) {
        const QString key = candidate.toCaseFolded();
        if (!m_taken.contains(key) && !isSource(candidate)) {
            m_taken.insert(key);
            m_outputOf.insert(file, candidate);
            return candidate;
        }
        // One pass over the pattern, so a '%' in the name is kept as it is.
        candidate =
            outputPath(folder, QStringLiteral("%1 (%2)").arg(baseName, QString::number(copy)),
                       extension, separator);
    }
}
