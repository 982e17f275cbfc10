// SPDX-License-Identifier: MIT
// What the decoders' harnesses share: a decode that may refuse, give up on
// the data or decline, and otherwise gives a picture whose pixels fill it.
#pragma once

#include "FuzzSupport.h"
#include "formats/DirectCodecs.h"

namespace fuzz {

template <typename Decode> void checkDecoder(Decode decode) {
    try {
        const std::optional<Picture> picture = decode();
        if (picture)
            require(picture->width > 0 && picture->height > 0 &&
                    picture->pixels.size() == picture->bytesPerLine() * picture->height);
    } catch (const directcodec::CodecError&) {
    } catch (const Refused&) {
    }
}

} // namespace fuzz
