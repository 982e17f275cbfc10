// SPDX-License-Identifier: MIT
// What kind of picture an 8-bit picture is, found in one pass over its
// pixels: black and white only, gray, up to 256 colours, or a photo. The
// writers use it to keep a picture in the smallest type its target holds
// without losing a sample.
#pragma once

#include "Picture.h"

#include <QByteArray>
#include <QList>

struct PictureKind {
    enum class Kind {
        Bilevel, // only pure black and pure white
        Gray,    // gray levels only, up to 256 of them
        Palette, // up to 256 colours
        Photo,   // more than 256 colours, or 16-bit samples
    };
    Kind kind = Kind::Photo;
    // The colours as 0xAARRGGBB, in ascending order, so gray levels run dark
    // to light and black comes before white; empty for a photo.
    QList<quint32> colours;
    // One index into `colours` per pixel, rows top to bottom; empty for a photo.
    QByteArray indexes;

    bool isPhoto() const { return kind == Kind::Photo; }
    // The fewest bits per index among 1, 2, 4 and 8 that hold every colour.
    int indexBits() const;
};

// The picture's kind. 16-bit pictures are photos: their samples would not
// survive an 8-bit palette. Alpha takes part in a colour, so two pixels
// differing only in alpha are two colours.
PictureKind pictureKindOf(const Picture& picture);

// The indexes of one row packed `bits` to a byte, leftmost pixel in the high
// bits, the last byte padded with zero bits.
void packIndexes(const uchar* indexes, int count, int bits, uchar* out);

// The bytes a row of `count` indexes takes packed at `bits`.
inline qsizetype packedRowBytes(int count, int bits) {
    return (qsizetype(count) * bits + 7) / 8;
}
