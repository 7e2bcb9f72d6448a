// SPDX-License-Identifier: MIT
#include "SmtpIni.h"

#include "GbkCodec.h"
#include "GbkText.h"
#include "NormalFunction.h"

#include <QFile>
#include <QFileInfo>
#include <limits>

namespace {

// A settings file is a few hundred bytes; a far larger file is not one and is not read into memory.
constexpr qint64 MaxProfileFileSize = 4 * 1024 * 1024;

char foldAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Names compare with ASCII letters folded and every other byte exact (GBK bytes never fold).
bool sameName(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// One pair of matching quotes around a value is taken off, as the Windows profile reader does, so a value can
// keep blanks at its ends.
QByteArray unquote(const QByteArray& value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.mid(1, value.size() - 2);
    }
    return value;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

TProfileFile TProfileFile::fromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxProfileFileSize) {
        return {};
    }
    return fromBytes(file.read(MaxProfileFileSize));
}

TProfileFile TProfileFile::fromBytes(const QByteArray& input)
{
    TProfileFile profile;
    QByteArray bytes = input;
    // A file saved as UTF-8 with a byte-order mark (as some editors do) is read as UTF-8 and held as GBK like
    // every other settings file.
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = Gbk::encode(QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3));
    }
    Section* current = nullptr;
    qsizetype pos = 0;
    const qsizetype size = bytes.size();
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        const QByteArray line = TrimBlanks(bytes.mid(pos, end - pos));
        pos = end;
        if (pos < size && bytes[pos] == '\r') {
            ++pos;
        }
        if (pos < size && bytes[pos] == '\n') {
            ++pos;
        }
        if (line.isEmpty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const qsizetype close = Gbk::indexOfChar(line, ']');
            if (close < 0) {
                // No closing bracket: neither a header nor a key; the section goes on.
                continue;
            }
            profile.m_sections.push_back(Section{TrimBlanks(line.mid(1, close - 1)), {}});
            current = &profile.m_sections.back();
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq < 0 || current == nullptr) {
            continue;
        }
        const QByteArray key = TrimBlanks(line.left(eq));
        if (key.isEmpty()) {
            continue;
        }
        current->entries.push_back(Entry{key, unquote(TrimBlanks(line.mid(eq + 1)))});
    }
    return profile;
}

std::optional<QByteArray> TProfileFile::rawValue(const QByteArray& section, const QByteArray& key) const
{
    for (const Section& s : m_sections) {
        if (!sameName(s.name, section)) {
            continue;
        }
        // Only the first section of a name counts, as with the Windows reader.
        for (const Entry& e : s.entries) {
            if (sameName(e.key, key)) {
                return e.value;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

QString TProfileFile::readString(const QByteArray& section, const QByteArray& key, const QString& current) const
{
    const auto value = rawValue(section, key);
    return value ? Gbk::decode(*value) : current;
}

int32_t TProfileFile::readInteger(const QByteArray& section, const QByteArray& key, int32_t current) const
{
    const auto value = rawValue(section, key);
    if (!value) {
        return current;
    }
    return parseInteger(*value).value_or(current);
}

bool TProfileFile::readBool(const QByteArray& section, const QByteArray& key, bool current) const
{
    const auto value = rawValue(section, key);
    if (!value) {
        return current;
    }
    const auto number = parseInteger(*value);
    return number ? *number != 0 : current;
}

std::optional<int32_t> TProfileFile::parseInteger(const QByteArray& value)
{
    qsizetype i = 0;
    const qsizetype n = value.size();
    bool negative = false;
    if (i < n && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < n && value[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) {
        return std::nullopt;
    }
    // The magnitude may reach 2^31 only for a negative value; anything larger is no 32-bit integer.
    const int64_t limit = negative ? int64_t(1) << 31 : (int64_t(1) << 31) - 1;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const int digit =
            base == 16 ? hexDigit(value[i]) : ((value[i] >= '0' && value[i] <= '9') ? value[i] - '0' : -1);
        if (digit < 0) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

void LoadSmtpIni(TMailTables& tables)
{
    LoadSmtpIniFrom(tables, tables.workDirPath() + QStringLiteral("QorMail.ini"));
}

void LoadSmtpIniFrom(TMailTables& tables, const QString& path)
{
    if (!QFileInfo(path).isFile()) {
        return;
    }
    ApplySmtpIni(tables, TProfileFile::fromFile(path));
}

void ApplySmtpIni(TMailTables& tables, const TProfileFile& ini)
{
    const QByteArray section("SMTP");
    TSmtpSettings& s = tables.SmtpSettings;

    // A text longer than its field is cut at a character boundary; it can never run into the next field.
    auto readText = [&](const char* key, char* field, size_t capacity) {
        if (const auto value = ini.rawValue(section, key)) {
            Gbk::storeFieldBytes(field, capacity, *value);
        }
    };
    // An integer outside low..high keeps the current value like a malformed one.
    auto readInt = [&](const char* key, int32_t current, int32_t low, int32_t high) {
        const auto number = TProfileFile::parseInteger(ini.rawValue(section, key).value_or(QByteArray()));
        return (number && *number >= low && *number <= high) ? *number : current;
    };
    // Any integer other than 0 turns a flag on and is stored as 1; a missing key leaves the byte as it is.
    auto readFlag = [&](const char* key, uint8_t current) -> uint8_t {
        const auto number = TProfileFile::parseInteger(ini.rawValue(section, key).value_or(QByteArray()));
        return number ? (*number != 0 ? 1 : 0) : current;
    };

    readText("smtpaddr", s.smtpaddr, sizeof(s.smtpaddr));
    // A port no connection can use is refused rather than handed to the SMTP client.
    s.smtpport = readInt("smtpport", s.smtpport, 1, 65535);
    readText("LocalEmailAddr", s.LocalEmailAddr, sizeof(s.LocalEmailAddr));
    s.NeedAuth = readFlag("NeedAuth", s.NeedAuth);
    readText("Username", s.Username, sizeof(s.Username));
    readText("Password", s.Password, sizeof(s.Password));
    // A negative wait would make every retry immediate; it is refused.
    s.WaitSeconds = readInt("WaitSeconds", s.WaitSeconds, 0, std::numeric_limits<int32_t>::max());
    tables.UseSSL = readFlag("SSL", tables.UseSSL);
    tables.StartTLS = readFlag("StartTLS", tables.StartTLS);
    if (const auto ca = ini.rawValue(section, "CAFile")) {
        tables.CAFile = Gbk::decode(*ca);
    }
}

QStringList SmtpIniTlsKeys(const QString& path)
{
    QStringList keys;
    if (!QFileInfo(path).isFile()) {
        return keys;
    }
    const TProfileFile ini = TProfileFile::fromFile(path);
    for (const char* key : {"SSL", "StartTLS"}) {
        if (TProfileFile::parseInteger(ini.rawValue("SMTP", key).value_or(QByteArray()))) {
            keys << QString::fromLatin1(key);
        }
    }
    if (ini.rawValue("SMTP", "CAFile")) {
        keys << QStringLiteral("CAFile");
    }
    return keys;
}
