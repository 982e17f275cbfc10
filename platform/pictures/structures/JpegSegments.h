// SPDX-License-Identifier: MIT
// Walking a JPEG's segments, from the start of the file to its compressed
// data: the one walker the metadata blocks and the declared size are read
// with, over the bytes in memory or a file read piece by piece.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

namespace jpeg {

constexpr uchar kStartOfImage = 0xD8;
constexpr uchar kEndOfImage = 0xD9;
constexpr uchar kStartOfScan = 0xDA;
constexpr uchar kApp0 = 0xE0;
constexpr uchar kApp1 = 0xE1;
constexpr uchar kApp13 = 0xED;

// A frame header (SOF0 to SOF15), the segment that holds the picture's size.
constexpr bool isFrameHeader(uchar marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

struct Segment {
    uchar marker = 0;
    qint64 at = 0;         // where the segment starts (its first 0xFF)
    qint64 payloadAt = 0;  // where its payload starts, after the length field
    qint64 payloadEnd = 0; // where it ends
};

// The bytes of a JPEG in memory, as the walker reads them.
class MemoryBytes {
public:
    explicit MemoryBytes(const QByteArray& bytes)
        : m_bytes(bytes) {}
    qint64 size() const { return m_bytes.size(); }
    bool read(qint64 at, uchar* out, int count) const {
        if (at < 0 || count > m_bytes.size() - at)
            return false;
        std::memcpy(out, m_bytes.constData() + at, size_t(count));
        return true;
    }

private:
    const QByteArray& m_bytes;
};

// Where the segments walk ends.
constexpr qint64 kBroken = -1;  // the segments cannot be followed
constexpr qint64 kStopped = -2; // the visitor stopped the walk

// Calls visit(segment) for every segment before the compressed data, in
// order, until it returns false. `bytes` has size() and read(at, out, count),
// which reads exactly `count` bytes or fails. Fill bytes before a marker are
// skipped; a segment must lie wholly within the bytes. Returns where the
// scan's segment starts, else kBroken or kStopped.
template <typename Bytes, typename Visit> qint64 walkSegments(const Bytes& bytes, Visit visit) {
    const qint64 n = bytes.size();
    uchar b[3];
    if (n < 4 || !bytes.read(0, b, 2) || b[0] != 0xFF || b[1] != kStartOfImage)
        return kBroken;
    qint64 at = 2;
    while (at + 4 <= n) {
        if (!bytes.read(at, b, 1) || b[0] != 0xFF)
            return kBroken;
        qint64 m = at + 1;
        while (m < n && bytes.read(m, b, 1) && b[0] == 0xFF) // fill bytes
            ++m;
        if (m + 3 > n || !bytes.read(m, b, 3))
            return kBroken;
        const uchar marker = b[0];
        if (marker == kStartOfScan)
            return at;
        const qint64 length = qint64(b[1]) << 8 | b[2];
        if (length < 2 || m + 1 + length > n)
            return kBroken;
        if (!visit(Segment{marker, at, m + 3, m + 1 + length}))
            return kStopped;
        at = m + 1 + length;
    }
    return kBroken;
}

} // namespace jpeg
