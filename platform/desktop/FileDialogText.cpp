// SPDX-License-Identifier: MIT
#include "FileDialogText.h"

namespace {

QStringList splitPatterns(const QString& text) {
    QStringList patterns;
    for (const QString& part : text.split(u';')) {
        const QString pattern = part.trimmed();
        if (!pattern.isEmpty())
            patterns << pattern;
    }
    return patterns;
}

bool isAsciiLetter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The directory part of a '/' path, keeping the separator for a root
// ("/" or "C:/").
QString directoryOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    const QString directory = path.left(slash);
    const bool isRoot = directory.isEmpty() || (directory.size() == 2 && directory.at(1) == u':');
    return isRoot ? path.left(slash + 1) : directory;
}

bool isWithin(const QString& path, const QString& directory) {
    if (directory.isEmpty())
        return true;
    if (directory.endsWith(u'/'))
        return path.startsWith(directory) && path.size() > directory.size();
    return path.size() > directory.size() + 1 && path.startsWith(directory) &&
           path.at(directory.size()) == u'/';
}

QString relativeTo(const QString& path, const QString& directory) {
    if (directory.isEmpty())
        return path;
    return path.mid(directory.endsWith(u'/') ? directory.size() : directory.size() + 1);
}

} // namespace

QList<DialogNameFilter> parseDialogFilter(const QString& filter) {
    QList<DialogNameFilter> filters;
    const QStringList fields = filter.split(u'|');
    for (qsizetype i = 0; i < fields.size(); i += 2) {
        DialogNameFilter entry;
        entry.description = fields.at(i).trimmed();
        entry.patterns = i + 1 < fields.size() ? splitPatterns(fields.at(i + 1)) : QStringList();
        if (entry.description.isEmpty() && entry.patterns.isEmpty())
            continue;
        if (entry.patterns.isEmpty())
            entry.patterns << QStringLiteral("*");
        filters << entry;
    }
    return filters;
}

QString caseInsensitivePattern(const QString& pattern) {
    QString result;
    bool inClass = false;
    for (const QChar c : pattern) {
        if (inClass) {
            result += c;
            inClass = c != u']';
        } else if (c == u'[') {
            result += c;
            inClass = true;
        } else if (isAsciiLetter(c)) {
            result += u'[';
            result += c.toLower();
            result += c.toUpper();
            result += u']';
        } else {
            result += c;
        }
    }
    return result;
}

QString qtNameFilter(const DialogNameFilter& filter) {
    QStringList patterns;
    for (const QString& pattern : filter.patterns)
        patterns << caseInsensitivePattern(pattern);
    return filter.description + QStringLiteral(" (") + patterns.join(u' ') + u')';
}

QString chosenFolder(const QList<QUrl>& selected, QChar separator) {
    if (selected.isEmpty() || !selected.first().isLocalFile())
        return QString();
    return selected.first().toLocalFile().replace(u'/', separator);
}

QString dialogResultText(const QStringList& selectedPaths, QChar separator) {
    auto native = [separator](QString text) { return text.replace(u'/', separator); };

    if (selectedPaths.isEmpty())
        return QString();
    if (selectedPaths.size() == 1)
        return native(selectedPaths.first());

    // The dialog lists one directory, so the names normally share it; should a
    // typed name reach elsewhere, go up until every path lies within.
    QString directory = directoryOf(selectedPaths.first());
    for (const QString& path : selectedPaths) {
        while (!isWithin(path, directory) && !directory.isEmpty()) {
            const QString parent = directory.endsWith(u'/') ? QString() : directoryOf(directory);
            directory = parent;
        }
    }

    QStringList parts{native(directory)};
    for (const QString& path : selectedPaths)
        parts << native(relativeTo(path, directory));
    return parts.join(QChar(u'\0'));
}
