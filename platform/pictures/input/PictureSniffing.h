// SPDX-License-Identifier: MIT
// Recognising our formats by their content, and the picture size a header
// declares, read by us before any codec sees the data.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

// The formats we read.
enum class SourceFormat { Jpeg, Png, Gif, Bmp, Tiff, Psd, Ico, Dcx, Pcx };

// The format of the content, judged by its first bytes; none when it is none
// of the formats we read (text formats such as SVG never qualify).
std::optional<SourceFormat> formatOfContent(const QByteArray& bytes);

// The ImageMagick coder that reads the format.
const char* magickCoderOf(SourceFormat format);

// The name users know a picture format by ("WebP", "HEIC", "PDF"), judged by
// its signature alone, for the formats we do not read; empty for anything
// else (our own formats, damaged files, files that are no picture at all).
QString unsupportedFormatOf(const QByteArray& bytes);

struct DeclaredSize {
    qint64 width = -1; // -1: the header does not say (or we do not look)
    qint64 height = -1;
    bool isKnown() const { return width >= 0 && height >= 0; }
};

// The dimensions the first bytes of a file declare, for the formats whose
// size stands at a fixed place (PNG, GIF, PSD, BMP): some codec paths refuse
// oversized pictures without saying why.
DeclaredSize declaredSize(const QByteArray& bytes, SourceFormat format);

// What a source's first bytes say: the format it is in, and the size its
// header declares where it stands at a fixed place.
struct SourceHeader {
    SourceFormat format = SourceFormat::Jpeg;
    DeclaredSize declared;
};

// The header of the content; none when it is none of the formats we read.
std::optional<SourceHeader> recognise(const QByteArray& bytes);

// The dimensions a picture file's headers declare, for every format whose
// header says so (JPEG and TIFF too, wherever their size is stored), reading
// only the headers. Unknown when the file cannot be read or does not say.
DeclaredSize declaredSizeOfFile(const QString& fileName);
// The same, of a device open for reading at its start (a file, or bytes in
// memory).
DeclaredSize declaredSizeOf(QIODevice& file);
