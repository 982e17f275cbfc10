// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringView>

#include <array>

// One convert button: its index in the button array, caption and extension.
struct TargetFormat {
    int index;
    QStringView caption;
    QStringView extension;
};

inline constexpr std::array<TargetFormat, 7> kTargetFormats{{
    {0, u"JPG保存路径", u".jpg"},
    {1, u"BMP保存路径", u".bmp"},
    {2, u"GIF保存路径", u".gif"},
    {3, u"PCX保存路径", u".pcx"},
    {4, u"PNG保存路径", u".png"},
    {5, u"ICO保存路径", u".ico"},
    {6, u"TIFF保存路径", u".tiff"},
}};

// The file name of a path without its final extension. A leading dot does not
// start an extension (".hidden" stays whole), so a non-empty name never comes
// back empty.
QString Getfn(const QString& path, QChar separator = QDir::separator());

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
