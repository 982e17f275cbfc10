// SPDX-License-Identifier: MIT
#pragma once

#include "FileIdentity.h"
#include "TargetFormat.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>

// The caption of the convert button for a format. The buttons form one array
// whose index is the format's place in kTargetFormats.
constexpr QStringView convertButtonCaption(TargetFormat format) {
    return infoOf(format).caption;
}

// The file name of a path without its final extension. A leading dot does not
// start an extension (".hidden" stays whole), so a non-empty name never comes
// back empty.
QString baseName(const QString& path, QChar separator = QDir::separator());

// folder + separator + base name + extension, without doubling a separator the
// folder already ends in (a root folder).
QString outputPath(const QString& folder, const QString& baseName, QStringView extension,
                   QChar separator = QDir::separator());

// Which file a path names, as the file system tells files apart; none when
// there is no such file.
using IdentifyFile = std::function<std::optional<FileIdentity>(const QString& path)>;

// The output paths one batch has handed out, all in one folder with one
// extension. A path that an earlier row with another source already took gets
// " (2)", " (3)", ... before its extension, so no row of a batch overwrites
// another row's output. The same source named twice gets the same path back.
// Paths are compared ignoring case, which keeps the rule safe on
// case-insensitive file systems too.
//
// Given the batch's sources and a way to identify files, an output is also
// never one of those files, however either is spelled: it takes the next
// number instead. Rows naming one file by different paths are one source.
class OutputNames {
public:
    OutputNames() = default;
    // Looks each source up once; a source that is missing has no identity.
    OutputNames(const QStringList& sources, IdentifyFile identify);

    QString claim(const QString& source, const QString& folder, const QString& baseName,
                  QStringView extension, QChar separator = QDir::separator());

private:
    QString firstNaming(const QString& source) const;
    bool isSource(const QString& path) const;

    IdentifyFile m_identify;
    QHash<QString, std::optional<FileIdentity>> m_identityOf; // source -> its file
    QHash<FileIdentity, QString> m_firstSourceOf;             // file -> the first source naming it
    QSet<QString> m_taken;                                    // case-folded output paths handed out
    QHash<QString, QString> m_outputOf;                       // source -> its output path
};
