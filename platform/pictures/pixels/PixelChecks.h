// SPDX-License-Identifier: MIT
// Looking at pixels: what decides which encoder a picture goes to and in
// which type it is written.
#pragma once

#include "Picture.h"

// Whether every pixel of the picture is gray (alpha aside).
bool isAllGray(const Picture& picture);

// Whether an 8-bit picture has more distinct colours (alpha included) than
// `limit`. Counting stops at the first colour past the limit, which a photo
// reaches at once.
bool hasMoreColoursThan(const Picture& picture, int limit);

// Whether some pixel of an RGBA picture is partly transparent.
bool hasPartialAlpha(const Picture& picture);
