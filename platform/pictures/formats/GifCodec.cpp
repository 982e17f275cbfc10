// SPDX-License-Identifier: MIT
// The GIF file of a picture already reduced to at most 256 colours, laid out
// as the general path writes it: GIF89a, a global colour table padded with
// black to a power of two, a graphic control block naming the transparent
// entry if there is one, one image,
// LZW-coded. Codes grow from the table's bit depth up to 12 bits; when the
// code table is full it is cleared and started again.
#include "formats/DirectCodecs.h"
#include "structures/ByteOrder.h"

#include <algorithm>
#include <vector>

#if defined(_MSC_VER)
#define GIF_NOINLINE __declspec(noinline)
#else
#define GIF_NOINLINE __attribute__((noinline))
#endif

namespace directcodec {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kMaxCodes = 1 << kMaxCodeBits;

void appendLittle16(QByteArray& out, int value) {
    char bytes[2];
    putLittleEndian(bytes, quint32(value), 2);
    out.append(bytes, 2);
}

constexpr int kBlock = 255;

// Writes one sub-block of the `buffered` bytes at `buffer` and moves the rest
// to its start; returns how many are left. Out of line, and given only the
// bytes, so the writer's state never leaves the registers of the loop.
GIF_NOINLINE int flushBlock(QByteArray& out, char* buffer, int buffered) {
    const int size = std::min(buffered, kBlock);
    out.append(char(size));
    out.append(buffer, size);
    std::copy_n(buffer + size, buffered - size, buffer);
    return buffered - size;
}

// Codes packed least significant bit first, in sub-blocks of up to 255 bytes.
// Codes gather in a 64-bit word that is stored four bytes at a time into
// `buffer` (kBlock + 8 bytes), and full sub-blocks leave it whole: no test
// per byte.
class CodeWriter {
public:
    CodeWriter(QByteArray& out, char* buffer)
        : m_out(out)
        , m_buffer(buffer) {}

    void put(int code, int bits) {
        m_bits |= quint64(code) << m_bitCount;
        m_bitCount += bits;
        if (m_bitCount < 32)
            return;
        putLittleEndian(m_buffer + m_buffered, quint32(m_bits), 4);
        m_buffered += 4;
        m_bits >>= 32;
        m_bitCount -= 32;
        if (m_buffered >= kBlock)
            m_buffered = flushBlock(m_out, m_buffer, m_buffered);
    }
    void finish() {
        for (; m_bitCount > 0; m_bitCount -= 8, m_bits >>= 8)
            m_buffer[m_buffered++] = char(m_bits & 0xFF);
        m_bitCount = 0;
        while (m_buffered > 0)
            m_buffered = flushBlock(m_out, m_buffer, m_buffered);
        m_out.append('\0'); // the block terminator
    }

private:
    QByteArray& m_out;
    char* m_buffer;
    quint64 m_bits = 0;
    int m_bitCount = 0;
    int m_buffered = 0;
};

// The code table as an open-addressed hash of (prefix code, next index). Each
// slot packs the key and the code into one 32-bit word (0: empty, as no code
// is 0), so the table is small enough to stay in the fastest cache and a probe
// reads memory once.
class CodeTable {
public:
    CodeTable()
        : m_slots(kSlots, 0) {}

    void clear() { std::fill(m_slots.begin(), m_slots.end(), 0); }

    // Where a probe for (prefix, index) ended: its code, or -1 and the empty
    // slot it belongs in. Returned by value so both stay in registers.
    struct Probe {
        int code;
        quint32 slot;
    };
    Probe find(int prefix, int index) const {
        const quint32 key = quint32(prefix) << 8 | quint32(index);
        quint32 slot = (key * 2654435761u) >> (32 - kSlotBits);
        for (;;) {
            const quint32 entry = m_slots[slot];
            if (entry == 0)
                return {-1, slot};
            if (entry >> 12 == key)
                return {int(entry & 0xFFF), slot};
            slot = (slot + 1) & (kSlots - 1);
        }
    }
    // Adds at the slot find() stopped at.
    void add(quint32 slot, int prefix, int index, int code) {
        m_slots[slot] = (quint32(prefix) << 8 | quint32(index)) << 12 | quint32(code);
    }

private:
    static constexpr int kSlotBits = 13; // twice the codes, so probes stay short
    static constexpr quint32 kSlots = 1u << kSlotBits;
    std::vector<quint32> m_slots; // key (prefix : 12, index : 8) : 20, code : 12
};

void appendLzw(QByteArray& out, const uchar* indexes, qsizetype count, int minimumCodeBits,
               const std::stop_token& stop) {
    out.append(char(minimumCodeBits));
    char buffer[kBlock + 8];
    CodeWriter writer(out, buffer);
    const int clearCode = 1 << minimumCodeBits;
    const int endCode = clearCode + 1;
    int codeBits = minimumCodeBits + 1;
    int nextCode = endCode + 1;
    CodeTable table;
    writer.put(clearCode, codeBits);
    // The reader widens its codes once it has a code this width cannot hold;
    // it adds each entry one code later than we do, so the width grows when
    // the next code reaches widenAt.
    int widenAt = 1 << codeBits;
    int prefix = indexes[0];
    // In stretches between looks at `stop`, so the loop over the pixels
    // tests nothing else.
    constexpr qsizetype kStretch = 1 << 20;
    for (qsizetype from = 1; from < count; from += kStretch) {
        throwIfStopped(stop);
        const qsizetype to = std::min(count, from + kStretch);
        for (qsizetype i = from; i < to; ++i) {
            const int index = indexes[i];
            const CodeTable::Probe probe = table.find(prefix, index);
            if (probe.code >= 0) {
                prefix = probe.code;
                continue;
            }
            writer.put(prefix, codeBits);
            if (nextCode < kMaxCodes) {
                table.add(probe.slot, prefix, index, nextCode);
                if (nextCode == widenAt) {
                    ++codeBits;
                    widenAt = codeBits < kMaxCodeBits ? 1 << codeBits : kMaxCodes;
                }
                ++nextCode;
            } else {
                writer.put(clearCode, codeBits);
                table.clear();
                codeBits = minimumCodeBits + 1;
                widenAt = 1 << codeBits;
                nextCode = endCode + 1;
            }
            prefix = index;
        }
    }
    writer.put(prefix, codeBits);
    writer.put(endCode, codeBits);
    writer.finish();
}

} // namespace

QByteArray encodeGif(int width, int height, const QByteArray& palette, const QByteArray& indexes,
                     int transparentIndex, std::stop_token stop) {
    const int colours = int(palette.size() / 3);
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF || colours < 1 ||
        colours > 256 || palette.size() % 3 != 0 || indexes.size() != qsizetype(width) * height ||
        transparentIndex < -1 || transparentIndex >= colours)
        throw CodecError("not a picture the GIF encoder takes");
    int tableBits = 1;
    while ((1 << tableBits) < colours)
        ++tableBits;

    QByteArray out;
    // Room for the longest the codes can come to (a code of at most 12 bits
    // a pixel, a clear code now and then, a length byte a sub-block), so the
    // buffer is never moved; the pages past what is written stay untouched.
    const qsizetype codeBytes = (indexes.size() + indexes.size() / 1024 + 4) * kMaxCodeBits / 8;
    out.reserve(1024 + palette.size() + 3 * 256 + codeBytes + codeBytes / 255 + 2);
    out.append("GIF89a");
    appendLittle16(out, width);
    appendLittle16(out, height);
    out.append(char(0x80 | 0x70 | (tableBits - 1))); // global table, 8-bit colour
    out.append('\0');                                // background colour
    out.append('\0');                                // pixel aspect
    out.append(palette);
    out.append(QByteArray(3 * ((1 << tableBits) - colours), '\0'));
    // Graphic control: no delay; the transparency flag and entry.
    out.append("\x21\xF9\x04", 3);
    out.append(char(transparentIndex >= 0 ? 1 : 0));
    out.append("\0\0", 2);
    out.append(char(std::max(transparentIndex, 0)));
    out.append('\0');
    out.append(char(0x2C)); // the image
    appendLittle16(out, 0);
    appendLittle16(out, 0);
    appendLittle16(out, width);
    appendLittle16(out, height);
    out.append('\0'); // no local table, not interlaced
    appendLzw(out, reinterpret_cast<const uchar*>(indexes.constData()), indexes.size(),
              std::max(2, tableBits), stop);
    out.append(char(0x3B));
    return out;
}

} // namespace directcodec
