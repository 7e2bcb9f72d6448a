// SPDX-License-Identifier: MIT
#include "GbkText.h"

#include "GbkCodec.h"

#include <algorithm>
#include <cstring>

namespace Gbk {

namespace {

const unsigned char* bytesOf(const QByteArray& text)
{
    return reinterpret_cast<const unsigned char*>(text.constData());
}

size_t lengthAt(const QByteArray& text, qsizetype pos)
{
    return charLength(bytesOf(text) + pos, static_cast<size_t>(text.size() - pos));
}

unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

#include "GbkFoldTable.inc"

// Two levels: most lead bytes hold no letter with case and map to slot 0, which leaves the character alone.
struct TFoldTable
{
    static constexpr size_t MaxSlots = 16;
    uint8_t slot[256] = {};
    uint16_t code[MaxSlots + 1][256] = {};
};

constexpr TFoldTable makeFoldTable()
{
    TFoldTable t;
    size_t used = 0;
    for (const auto& pair : GbkUpperPairs) {
        const unsigned lead = pair[0] >> 8;
        if (t.slot[lead] == 0) {
            ++used;
            if (used > TFoldTable::MaxSlots) {
                throw "more lead bytes with letters than the fold table has slots";
            }
            t.slot[lead] = static_cast<uint8_t>(used);
            for (unsigned trail = 0; trail < 256; ++trail) {
                t.code[used][trail] = static_cast<uint16_t>(lead << 8 | trail);
            }
        }
        t.code[t.slot[lead]][pair[0] & 0xFF] = pair[1];
    }
    return t;
}

constexpr TFoldTable FoldTable = makeFoldTable();

} // namespace

uint16_t foldDoubleByte(unsigned char lead, unsigned char trail)
{
    const uint8_t slot = FoldTable.slot[lead];
    return slot == 0 ? static_cast<uint16_t>(lead << 8 | trail) : FoldTable.code[slot][trail];
}

void foldCase(const unsigned char* in, size_t length, unsigned char* out)
{
    // The character lengths of charLength, worked out here so the trigger's per-event fold stays in one loop.
    for (size_t i = 0; i < length;) {
        const unsigned char c = in[i];
        if (c < 0x81 || c == 0xFF || length - i < 2) {
            out[i] = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
            ++i;
        } else if (in[i + 1] >= 0x30 && in[i + 1] <= 0x39) {
            const size_t n = std::min<size_t>(4, length - i);
            std::memcpy(out + i, in + i, n);
            i += n;
        } else {
            const uint16_t folded = foldDoubleByte(c, in[i + 1]);
            out[i] = static_cast<unsigned char>(folded >> 8);
            out[i + 1] = static_cast<unsigned char>(folded & 0xFF);
            i += 2;
        }
    }
}

QByteArray foldCase(const QByteArray& text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    foldCase(bytesOf(text), static_cast<size_t>(text.size()), reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

qsizetype indexOf(const QByteArray& text, const char* needle, qsizetype from)
{
    const auto needleLength = static_cast<qsizetype>(std::strlen(needle));
    if (needleLength == 0 || from < 0) {
        return -1;
    }
    for (qsizetype pos = from; pos + needleLength <= text.size(); pos += static_cast<qsizetype>(lengthAt(text, pos))) {
        if (std::memcmp(text.constData() + pos, needle, static_cast<size_t>(needleLength)) == 0) {
            return pos;
        }
    }
    return -1;
}

qsizetype indexOfChar(const QByteArray& text, char c, qsizetype from)
{
    const char needle[2] = {c, '\0'};
    return indexOf(text, needle, from);
}

qsizetype lastIndexOfChar(const QByteArray& text, char c)
{
    qsizetype found = -1;
    for (qsizetype pos = indexOfChar(text, c); pos >= 0; pos = indexOfChar(text, c, pos + 1)) {
        found = pos;
    }
    return found;
}

bool containsBlank(const QByteArray& text)
{
    for (qsizetype pos = 0; pos < text.size(); pos += static_cast<qsizetype>(lengthAt(text, pos))) {
        if (static_cast<unsigned char>(text[pos]) <= 0x20) {
            return true;
        }
    }
    return false;
}

QByteArray upperAscii(const QByteArray& text)
{
    QByteArray out = text;
    for (qsizetype pos = 0; pos < out.size();) {
        const size_t n = lengthAt(out, pos);
        const char c = out[pos];
        if (n == 1 && c >= 'a' && c <= 'z') {
            out[pos] = static_cast<char>(c - ('a' - 'A'));
        }
        pos += static_cast<qsizetype>(n);
    }
    return out;
}

bool equalFoldAscii(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    const unsigned char* pa = bytesOf(a);
    const unsigned char* pb = bytesOf(b);
    const auto size = static_cast<size_t>(a.size());
    for (size_t i = 0; i < size;) {
        const size_t na = charLength(pa + i, size - i);
        if (na != charLength(pb + i, size - i)) {
            return false;
        }
        if (na == 1 ? foldAscii(pa[i]) != foldAscii(pb[i]) : std::memcmp(pa + i, pb + i, na) != 0) {
            return false;
        }
        i += na;
    }
    return true;
}

} // namespace Gbk
