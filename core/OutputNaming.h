// SPDX-License-Identifier: MIT
#pragma once

#include "TargetFormat.h"

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringView>

// The caption of the convert button for a format. The buttons form one array
// whose index is the format's place in kTargetFormats.
constexpr QStringView convertButtonCaption(TargetFormat format) {
    switch (format) {
    case TargetFormat::Jpg:
        return u"JPG保存路径";
    case TargetFormat::Bmp:
        return u"BMP保存路径";
    case TargetFormat::Gif:
        return u"GIF保存路径";
    case TargetFormat::Pcx:
        return u"PCX保存路径";
    case TargetFormat::Png:
        return u"PNG保存路径";
    case TargetFormat::Ico:
        return u"ICO保存路径";
    case TargetFormat::Tiff:
        return u"TIFF保存路径";
    }
    return {};
}

// The file name of a path without its final extension. A leading dot does not
// start an extension (".hidden" stays whole), so a non-empty name never comes
// back empty.
QString baseName(const QString& path, QChar separator = QDir::separator());

// folder + separator + base name + extension, without doubling a separator the
// folder already ends in (a root folder).
QString outputPath(const QString& folder, const QString& baseName, QStringView extension,
                   QChar separator = QDir::separator());

// The output paths one batch has handed out. A path that an earlier row with
// another source already took gets " (2)", " (3)", ... before its extension,
// so no row of a batch overwrites another row's output. The same source named
// twice gets the same path back. Paths are compared ignoring case, which keeps
// the rule safe on case-insensitive file systems too.
class OutputNames {
public:
    QString claim(const QString& source, const QString& folder, const QString& baseName,
                  QStringView extension, QChar separator = QDir::separator());

private:
    QHash<QString, QString> m_sourceOf; // case-folded output path -> source
};
