// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"

// The picture shrunk to fit a box of boxWidth x boxHeight with its aspect kept,
// each output pixel the average of the source pixels it covers, in 8-bit
// samples. A picture that already fits is returned as it is.
PictureObject scaledToFit(const PictureObject& picture, int boxWidth, int boxHeight);
