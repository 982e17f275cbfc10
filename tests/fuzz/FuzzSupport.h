// SPDX-License-Identifier: MIT
// What the per-reader harnesses share: the input as bytes, and the size check
// the decoders are given.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace fuzz {

// The input, not copied.
inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Thrown by refuseLarge.
struct Refused : std::runtime_error {
    Refused()
        : std::runtime_error("larger than the fuzzers decode") {}
};

// A decoder's size check that refuses pictures over 65536 pixels: the
// fuzzer is to explore the readers, not spend its time taking memory and
// filling it.
inline void refuseLarge(qint64 width, qint64 height) {
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192 || width * height > 1 << 16)
        throw Refused();
}

// A property the harness checks does not hold: the fuzzer keeps the input.
inline void require(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace fuzz
