// SPDX-License-Identifier: MIT
#pragma once

// Searches and comparisons on GBK text that step by characters. In GBK a double-byte character's trail byte can
// be any of 0x40..0x7E, so a byte search for '@', '<', '>' or "//" finds false hits inside characters: 園 is
// 0x88 0x40, and a name made of such characters would be taken for an address. Every such search goes through
// here. ASCII bytes are never lead bytes, so an ASCII needle that starts on a character boundary lies wholly in
// single-byte characters.

#include "GbkCodec.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace Gbk {

// Index of the first character `c` (an ASCII byte) at or after the character boundary `from`; -1 when none.
qsizetype indexOfChar(const QByteArray& text, char c, qsizetype from = 0);
// Index of the last character `c`; -1 when none.
qsizetype lastIndexOfChar(const QByteArray& text, char c);
// Index of the first occurrence of the ASCII string `needle` that starts on a character boundary; -1 when none.
qsizetype indexOf(const QByteArray& text, const char* needle, qsizetype from = 0);

inline bool containsChar(const QByteArray& text, char c)
{
    return indexOfChar(text, c) >= 0;
}

// Whether a single-byte character of code 32 or less (a blank in the suite's sense) occurs.
bool containsBlank(const QByteArray& text);

// ASCII letters upper-cased; the bytes of multi-byte characters are left exactly as they are.
QByteArray upperAscii(const QByteArray& text);

// Equal by character: single-byte characters ignore ASCII case, multi-byte characters must match exactly.
bool equalFoldAscii(const QByteArray& a, const QByteArray& b);

// Case folding for comparisons that ignore case in the whole code page: every character that has a case becomes
// its upper case, the single-byte ASCII letters and the double-byte letters whose Unicode upper case is again a
// double-byte character (full-width Latin, Greek, Cyrillic, Roman numerals; the table is derived from the codec
// at build time). Every other character, four-byte ones included, stays as it is. The result has the input's
// length and character boundaries, so a byte comparison of folded texts that starts on a boundary compares
// whole characters.
void foldCase(const unsigned char* in, size_t length, unsigned char* out);
QByteArray foldCase(const QByteArray& text);

// The folded form of the double-byte character lead, trail, as (lead << 8 | trail).
uint16_t foldDoubleByte(unsigned char lead, unsigned char trail);

// Number of GBK bytes the text takes in a record field.
inline qsizetype byteLength(const QString& text)
{
    return encode(text).size();
}

} // namespace Gbk
