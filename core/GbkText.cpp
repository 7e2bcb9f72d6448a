#include "GbkText.h"

#include "GbkCodec.h"

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

} // namespace

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
