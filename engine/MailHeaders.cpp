// SPDX-License-Identifier: MIT
#include "MailHeaders.h"

#include "GbkCodec.h"

#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <cstring>

namespace MailHeaders {

namespace {

constexpr const char* Fold = "\r\n ";

bool isAtext(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
        || (u != 0 && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr);
}

// Raw bytes one encoded word of at most `wordLength` characters can carry (base64 works in groups of three).
int rawCapacity(int wordLength)
{
    const int overhead = static_cast<int>(std::strlen(Charset)) + 7; // "=?" cs "?B?" ... "?="
    return std::max(0, (wordLength - overhead) / 4 * 3);
}

QByteArray word(const QByteArray& raw)
{
    return QByteArray("=?") + Charset + "?B?" + raw.toBase64() + "?=";
}

bool isDotAtom(const QByteArray& text, bool (*allowed)(char))
{
    if (text.isEmpty() || text.startsWith('.') || text.endsWith('.') || text.contains("..")) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [allowed](char c) { return c == '.' || allowed(c); });
}

bool isHostChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' || c == '_';
}

bool isLiteralChar(char c)
{
    return isHostChar(c) || c == '.' || c == ':';
}

bool isAttributeChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || (c != 0 && std::strchr("!#$&+-.^_`|~", static_cast<char>(c)) != nullptr);
}

} // namespace

bool isPlainPrintable(const QByteArray& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u <= 0x7E;
    });
}

QByteArray encodeWords(const QByteArray& text, int firstLineUsed)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const auto size = static_cast<size_t>(text.size());
    int capacity = rawCapacity(std::clamp(FoldColumn - firstLineUsed, 24, MaxEncodedWord));
    QByteArray out;
    QByteArray chunk;
    size_t pos = 0;
    while (pos < size) {
        const size_t n = Gbk::charLength(p + pos, size - pos);
        if (chunk.size() + static_cast<qsizetype>(n) > capacity) {
            out += (out.isEmpty() ? QByteArray() : QByteArray(Fold)) + word(chunk);
            chunk.clear();
            capacity = rawCapacity(MaxEncodedWord);
        }
        chunk.append(text.constData() + pos, static_cast<qsizetype>(n));
        pos += n;
    }
    if (!chunk.isEmpty() || out.isEmpty()) {
        out += (out.isEmpty() ? QByteArray() : QByteArray(Fold)) + word(chunk);
    }
    return out;
}

QByteArray unstructured(const QByteArray& raw, int firstLineUsed)
{
    const QByteArray text = oneLine(raw);
    if (!isPlainPrintable(text) || text.contains("=?")) {
        return encodeWords(text, firstLineUsed);
    }
    // Plain text is folded before a blank where the line would pass the fold column (the blank stays, so
    // unfolding gives the text back). A word longer than a line stays whole.
    const QList<QByteArray> words = text.split(' ');
    QByteArray out;
    qsizetype column = firstLineUsed;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QByteArray& w = words[i];
        if (i > 0) {
            if (!w.isEmpty() && column + 1 + w.size() > FoldColumn && column > 1) {
                out += "\r\n";
                column = 0;
            }
            out += ' ';
            ++column;
        }
        out += w;
        column += w.size();
    }
    return out;
}

QByteArray oneLine(const QByteArray& text)
{
    QByteArray out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = ' ';
        }
    }
    return out;
}

QByteArray phrase(const QByteArray& text, int firstLineUsed)
{
    const QByteArray name = oneLine(text);
    if (!isPlainPrintable(name) || name.contains("=?") || name.size() > 200) {
        return encodeWords(name, firstLineUsed);
    }
    const bool atoms = !name.isEmpty() && !name.startsWith(' ') && !name.endsWith(' ') && !name.contains("  ")
        && std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || isAtext(c); });
    if (atoms) {
        return name;
    }
    QByteArray quoted = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + '"';
}

bool isPlainAddrSpec(const QByteArray& address)
{
    if (address.isEmpty() || address.size() > 254 || !isPlainPrintable(address)) {
        return false;
    }
    const qsizetype at = address.lastIndexOf('@');
    if (at <= 0 || at > 64 || address.indexOf('@') != at) {
        return false;
    }
    const QByteArray local = address.left(at);
    const QByteArray domain = address.mid(at + 1);
    if (!isDotAtom(local, isAtext)) {
        return false;
    }
    if (domain.startsWith('[') && domain.endsWith(']') && domain.size() > 2) {
        const QByteArray literal = domain.mid(1, domain.size() - 2);
        return std::all_of(literal.begin(), literal.end(), isLiteralChar);
    }
    if (!isDotAtom(domain, isHostChar)) {
        return false;
    }
    const QList<QByteArray> labels = domain.split('.');
    return std::all_of(labels.begin(), labels.end(), [](const QByteArray& label) {
        return label.size() <= 63 && !label.startsWith('-') && !label.endsWith('-');
    });
}

QByteArray mailbox(const QByteArray& name, const QByteArray& address)
{
    if (name.isEmpty()) {
        return '<' + address + '>';
    }
    // Room for what may stand before it on its line ("From: ", "To: " or a fold's blank).
    constexpr int lead = 6;
    const QByteArray p = phrase(name, lead);
    const qsizetype lastLine = p.size() - (p.lastIndexOf('\n') + 1) + (p.contains('\n') ? 0 : lead);
    const QByteArray angle = '<' + address + '>';
    if (lastLine + 1 + angle.size() > FoldColumn) {
        return p + Fold + angle;
    }
    return p + ' ' + angle;
}

QByteArray addressListField(const QByteArray& fieldName, const QList<QByteArray>& mailboxes)
{
    QByteArray field = fieldName + ": ";
    for (qsizetype i = 0; i < mailboxes.size(); ++i) {
        if (i > 0) {
            field += QByteArray(",") + Fold;
        }
        field += mailboxes[i];
    }
    return field;
}

QByteArray extendedParameter(const QByteArray& param, const QByteArray& value)
{
    if (isPlainPrintable(value) && !value.contains('"') && !value.contains('\\') && value.size() <= 60) {
        return param + "=\"" + value + '"';
    }
    static const char hex[] = "0123456789ABCDEF";
    const auto* p = reinterpret_cast<const unsigned char*>(value.constData());
    const auto size = static_cast<size_t>(value.size());
    QList<QByteArray> segments;
    QByteArray current = QByteArray(Charset) + "''";
    size_t pos = 0;
    while (pos < size) {
        const size_t n = Gbk::charLength(p + pos, size - pos);
        QByteArray encoded;
        for (size_t k = 0; k < n; ++k) {
            const unsigned char c = p[pos + k];
            if (isAttributeChar(c)) {
                encoded += static_cast<char>(c);
            } else {
                encoded += '%';
                encoded += hex[c >> 4];
                encoded += hex[c & 15];
            }
        }
        if (current.size() + encoded.size() > 60) {
            segments.append(current);
            current.clear();
        }
        current += encoded;
        pos += n;
    }
    segments.append(current);
    if (segments.size() == 1) {
        return param + "*=" + segments.front();
    }
    QByteArray out;
    for (qsizetype k = 0; k < segments.size(); ++k) {
        if (k > 0) {
            out += QByteArray(";") + Fold;
        }
        out += param + '*' + QByteArray::number(k) + "*=" + segments[k];
    }
    return out;
}

QByteArray dateValue(const QDateTime& local)
{
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = local.date();
    const QTime t = local.time();
    int offset = local.offsetFromUtc() / 60;
    const char sign = offset < 0 ? '-' : '+';
    offset = offset < 0 ? -offset : offset;
    char buffer[64];
    std::snprintf(buffer,
        sizeof buffer,
        "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
        days[std::clamp(d.dayOfWeek(), 1, 7) - 1],
        d.day(),
        months[std::clamp(d.month(), 1, 12) - 1],
        d.year(),
        t.hour(),
        t.minute(),
        t.second(),
        sign,
        offset / 60,
        offset % 60);
    return buffer;
}

namespace {

QByteArray messageIdDomain(const QByteArray& senderAddress)
{
    return isPlainAddrSpec(senderAddress) ? senderAddress.mid(senderAddress.lastIndexOf('@') + 1)
                                          : QByteArray("localhost");
}

} // namespace

QByteArray messageId(const QByteArray& senderAddress, const QByteArray& mailId)
{
    return "<qm." + mailId.toHex() + '@' + messageIdDomain(senderAddress) + '>';
}

QByteArray messageId(const QByteArray& senderAddress)
{
    static std::atomic<unsigned> sequence{0};
    const QByteArray domain = messageIdDomain(senderAddress);
    return '<' + QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 36) + '.'
        + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + '.'
        + QByteArray::number(sequence.fetch_add(1)) + '@' + domain + '>';
}

} // namespace MailHeaders
