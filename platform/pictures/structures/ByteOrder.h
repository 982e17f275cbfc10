// SPDX-License-Identifier: MIT
// Unsigned integers of 1 to 4 bytes in either byte order, as file headers
// store them. The callers check the bounds.
#pragma once

#include <QByteArray>
#include <QtGlobal>

inline quint32 readBigEndian(const uchar* at, int size) {
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | at[i];
    return value;
}

inline quint32 readLittleEndian(const uchar* at, int size) {
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

inline quint32 readUnsigned(const uchar* at, int size, bool bigEndian) {
    return bigEndian ? readBigEndian(at, size) : readLittleEndian(at, size);
}

inline quint32 readBigEndian(const QByteArray& bytes, qsizetype at, int size) {
    return readBigEndian(reinterpret_cast<const uchar*>(bytes.constData()) + at, size);
}

inline quint32 readLittleEndian(const QByteArray& bytes, qsizetype at, int size) {
    return readLittleEndian(reinterpret_cast<const uchar*>(bytes.constData()) + at, size);
}

inline void putLittleEndian(char* at, quint32 value, int size) {
    for (int i = 0; i < size; ++i)
        at[i] = char((value >> (8 * i)) & 0xFF);
}
