// SPDX-License-Identifier: MIT
// Writing pictures through ImageMagick: the general path for what the direct
// encoders leave to it, and the reference they are held to.
#pragma once

#include "Picture.h"
#include "TargetFormat.h"
#include "pixels/PalettePicture.h"

#include <QByteArray>

#include <optional>
#include <stop_token>

// The picture encoded in the format by ImageMagick alone. Throws on failure
// (a codec exception or std::exception), PlatformError(Cancelled) once `stop`
// is requested.
QByteArray encodeWithMagick(const Picture& picture, TargetFormat format,
                            const std::stop_token& stop);

// ImageMagick's reduction of a picture to at most 256 colours, as its GIF
// writer makes it: pictures of up to 256 colours keep them exactly, more are
// reduced with Floyd-Steinberg dithering; alpha is prepared as for GIF
// (prepareGifAlpha). Nothing when transparent pixels remain, which only its
// own GIF writer places.
std::optional<PalettePicture> reduceColoursWithMagick(const Picture& picture,
                                                      const std::stop_token& stop);
