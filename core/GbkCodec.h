// SPDX-License-Identifier: MIT
#pragma once

// The one place where text crosses between QString and the suite's 8-bit code page 936 (GBK). Conversion uses
// GB18030, a superset of GBK that keeps every GBK character's bytes and can hold any character.

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace Gbk {

// Decodes GBK/GB18030 bytes; a byte sequence that is not a character becomes U+FFFD, never vanishes.
QString decode(const char* data, size_t size);
inline QString decode(const QByteArray& bytes)
{
    return decode(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Encodes to GB18030. Lone surrogates, the only thing it cannot hold, become '?'.
QByteArray encode(const QString& text);

// Length in bytes of the character that starts at p (1, 2 or 4), given that `remaining` bytes are left;
// a truncated multi-byte sequence counts as its remaining bytes.
size_t charLength(const unsigned char* p, size_t remaining);

// Length of the longest prefix of `bytes` that holds whole characters and fits in `limit` bytes.
size_t fitLength(const QByteArray& bytes, size_t limit);

// Text of a char[N] field: the bytes up to the first NUL, or all N when there is none.
QByteArray fieldBytes(const char* field, size_t capacity);
QString fieldText(const char* field, size_t capacity);

// Writes bytes into a char[N] field: cut at a character boundary to at most N-1 bytes, NUL-terminated, the rest
// of the field zeroed. Returns false when the text had to be cut.
bool storeFieldBytes(char* field, size_t capacity, const QByteArray& bytes);
inline bool storeField(char* field, size_t capacity, const QString& text)
{
    return storeFieldBytes(field, capacity, encode(text));
}

template <size_t N>
QString fieldText(const char (&field)[N])
{
    return fieldText(field, N);
}

template <size_t N>
QByteArray fieldBytes(const char (&field)[N])
{
    return fieldBytes(field, N);
}

template <size_t N>
bool storeField(char (&field)[N], const QString& text)
{
    return storeField(field, N, text);
}

template <size_t N>
bool storeFieldBytes(char (&field)[N], const QByteArray& bytes)
{
    return storeFieldBytes(field, N, bytes);
}

} // namespace Gbk
