// SPDX-License-Identifier: MIT
// An encoded file handed out in pieces, written one after another. Where a
// file holds a picture's samples as they lie in memory (an uncompressed
// TIFF), the encoder hands out the picture's own rows; where it holds them
// reordered (a bitmap's rows bottom-up in BGR), a few rows at a time through
// one small buffer. A large picture is then not copied whole into a second
// buffer before it is written: the fresh pages of such a buffer cost more
// than the copy itself.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

class FileBytes {
public:
    virtual ~FileBytes() = default;
    // The next piece, valid until the following call; empty after the last
    // (no piece before it is empty). Pieces are handed out once. Never
    // throws, so a writer may call it while it holds a file open.
    virtual QByteArrayView next() = 0;
    // The remaining pieces in one array.
    virtual QByteArray joined() {
        QByteArray out;
        for (QByteArrayView piece = next(); !piece.isEmpty(); piece = next())
            out.append(piece);
        return out;
    }
};

// One array as the whole file.
class WholeFileBytes final : public FileBytes {
public:
    explicit WholeFileBytes(QByteArray bytes)
        : m_bytes(std::move(bytes)) {}
    QByteArrayView next() override {
        if (m_done)
            return {};
        m_done = true;
        return m_bytes;
    }
    QByteArray joined() override { return m_done ? QByteArray() : (m_done = true, m_bytes); }

private:
    QByteArray m_bytes;
    bool m_done = false;
};
