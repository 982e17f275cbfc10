// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
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
