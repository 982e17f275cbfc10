// SPDX-License-Identifier: MIT
#pragma once

#include "Picture.h"
#include "formats/DirectCodecs.h"

#include <QByteArray>

#include <optional>
#include <stop_token>

namespace directcodec {

// Decodes the first picture of a TIFF whose samples lie in separate planes
// (PlanarConfiguration 2), which ImageMagick's reader maps to the wrong
// channels (gray and alpha come out as red and green). Gray or RGB, 8 or 16
// bits, with or without alpha, in strips; gray with alpha becomes RGBA with
// equal colour samples. Returns nothing for any other TIFF, which the general
// path reads. Throws CodecError on broken data.
std::optional<Picture> decodeTiffPlanes(const QByteArray& bytes, const SizeCheck& check,
                                        std::stop_token stop = {});

} // namespace directcodec
