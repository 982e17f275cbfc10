// SPDX-License-Identifier: MIT
// The colours of a picture as its GIF holds them, by our own colour reduction.
#pragma once

#include "Picture.h"
#include "pixels/PalettePicture.h"

#include <stop_token>

// Up to 256 colours (255 when some pixel is transparent) map exactly; more
// are reduced to a palette chosen from the picture, with error diffusion,
// except that a colour on at least 1 % of the pixels stays exact and flat.
// Fully transparent pixels take the transparent entry, partly transparent
// ones are blended onto white first (as prepareGifAlpha does); 16-bit
// samples are reduced to 8 bits. Throws PlatformError(Cancelled) once `stop`
// is requested.
PalettePicture reduceColoursForGif(const Picture& picture, const std::stop_token& stop);
