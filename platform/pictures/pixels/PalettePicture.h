// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

// A picture reduced to the palette and indexes a GIF holds.
struct PalettePicture {
    int width = 0;
    int height = 0;
    QByteArray palette;        // red, green, blue: three bytes a colour, 1 to 256 colours
    QByteArray indexes;        // one palette index a pixel, rows top to bottom
    int transparentIndex = -1; // the entry fully transparent pixels take, or -1
};
