// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

#include <memory>

// What a photo carries besides its pixels, made fit for the upright picture:
// the EXIF says orientation 1 and the picture's size, and has no thumbnail.
// Each block is empty when the source had none (or a damaged one).
struct PictureMetadata {
    QByteArray exif;      // the TIFF header and directories, without "Exif\0\0"
    QByteArray xmp;       // the XMP packet
    QByteArray photoshop; // Photoshop image resources holding the IPTC record

    bool isEmpty() const { return exif.isEmpty() && xmp.isEmpty() && photoshop.isEmpty(); }
};

// A decoded picture: upright, one frame, in sRGB unless it carries the RGB or
// gray colour profile its samples are in. Samples are interleaved, rows top to
// bottom with no padding; 16-bit samples are in native byte order; alpha is
// straight (not premultiplied).
struct Picture {
    enum class Channels { Gray = 1, Rgb = 3, Rgba = 4 };

    int width = 0;
    int height = 0;
    Channels channels = Channels::Rgb;
    int bitsPerSample = 8; // 8 or 16
    QByteArray pixels;
    QByteArray iccProfile; // the source's colour profile, when it had one
    int jpegQuality = 0;   // the source JPEG's estimated quality (1..100), 0 if not a JPEG
    // The source JPEG's luma sampling factors, upright, when its chroma is
    // sampled once per block (2 x 2 for the usual 4:2:0); 0 otherwise.
    int jpegSamplingX = 0;
    int jpegSamplingY = 0;
    PictureMetadata metadata; // what the source carries, made upright

    int channelCount() const { return static_cast<int>(channels); }
    bool hasAlpha() const { return channels == Channels::Rgba; }
    qsizetype bytesPerLine() const {
        return qsizetype(width) * channelCount() * (bitsPerSample / 8);
    }
};

// What the image control holds. A null pointer is the empty picture.
using PictureObject = std::shared_ptr<const Picture>;
