// SPDX-License-Identifier: MIT
#include "GbkCodec.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace Gbk {

namespace {

// An iconv descriptor per direction and thread: iconv_t carries shift state and is not thread-safe.
class Converter
{
public:
    Converter(const char* to, const char* from)
        : m_cd(iconv_open(to, from))
    {
    }
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(m_cd);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

Converter& decoder()
{
    thread_local Converter c("UTF-16LE", "GB18030");
    return c;
}

Converter& encoder()
{
    thread_local Converter c("GB18030", "UTF-16LE");
    return c;
}

} // namespace

size_t charLength(const unsigned char* p, size_t remaining)
{
    if (remaining == 0) {
        return 0;
    }
    size_t n = 1;
    if (p[0] >= 0x81 && p[0] <= 0xFE && remaining >= 2) {
        n = (p[1] >= 0x30 && p[1] <= 0x39) ? 4 : 2;
    }
    return n <= remaining ? n : remaining;
}

size_t fitLength(const QByteArray& bytes, size_t limit)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto size = static_cast<size_t>(bytes.size());
    size_t pos = 0;
    while (pos < size) {
        const size_t n = charLength(p + pos, size - pos);
        if (pos + n > limit) {
            break;
        }
        pos += n;
    }
    return pos;
}

QString decode(const char* data, size_t size)
{
    QString out;
    if (size == 0) {
        return out;
    }
    Converter& conv = decoder();
    if (!conv.valid()) {
        return QString::fromLatin1(data, static_cast<qsizetype>(size));
    }
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    out.reserve(static_cast<qsizetype>(size));
    char16_t buffer[512];
    auto* in = const_cast<char*>(data);
    size_t inLeft = size;
    while (inLeft > 0) {
        auto* outPtr = reinterpret_cast<char*>(buffer);
        size_t outLeft = sizeof(buffer);
        const size_t r = iconv(conv.handle(), &in, &inLeft, &outPtr, &outLeft);
        out.append(reinterpret_cast<const QChar*>(buffer), static_cast<qsizetype>((sizeof(buffer) - outLeft) / 2));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (cut sequence): one byte becomes U+FFFD and decoding goes on after it.
            out.append(QChar::ReplacementCharacter);
            ++in;
            --inLeft;
            iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

QByteArray encode(const QString& text)
{
    QByteArray out;
    if (text.isEmpty()) {
        return out;
    }
    Converter& conv = encoder();
    if (!conv.valid()) {
        return text.toLatin1();
    }
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    out.reserve(text.size() * 2);
    char buffer[1024];
    auto* in = reinterpret_cast<char*>(const_cast<QChar*>(text.constData()));
    size_t inLeft = static_cast<size_t>(text.size()) * 2;
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t r = iconv(conv.handle(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<qsizetype>(sizeof(buffer) - outLeft));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // A lone surrogate: one code unit becomes '?'.
            out.append('?');
            in += 2;
            inLeft = inLeft >= 2 ? inLeft - 2 : 0;
            iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

QByteArray fieldBytes(const char* field, size_t capacity)
{
    const void* nul = std::memchr(field, 0, capacity);
    const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : capacity;
    return QByteArray(field, static_cast<qsizetype>(n));
}

QString fieldText(const char* field, size_t capacity)
{
    const QByteArray bytes = fieldBytes(field, capacity);
    return decode(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool storeFieldBytes(char* field, size_t capacity, const QByteArray& bytes)
{
    if (capacity == 0) {
        return bytes.isEmpty();
    }
    // A NUL inside the text would end it early; the text stops there.
    QByteArray text = bytes;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0) {
        text.truncate(nul);
    }
    const size_t n = fitLength(text, capacity - 1);
    std::memset(field, 0, capacity);
    std::memcpy(field, text.constData(), n);
    return n == static_cast<size_t>(text.size()) && nul < 0;
}

} // namespace Gbk
