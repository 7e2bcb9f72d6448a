// SPDX-License-Identifier: MIT
#include "StationSettings.h"

#include "GbkText.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "NormalFunction.h"
#include "QorsmailDef.h"
#include "SmtpIni.h"
#include "TaskFileStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace {

namespace Text = LangText::StationSettings_Str;

constexpr qint64 MaxStationFileSize = 1024 * 1024;
const QByteArray Utf8Bom("\xEF\xBB\xBF");

// The byte-order marks an editor may have put at the start (the profile reader would take a further one as a
// sign of UTF-8 to be turned into GBK).
qsizetype bomLength(const QByteArray& bytes)
{
    qsizetype n = 0;
    while (bytes.mid(n, Utf8Bom.size()) == Utf8Bom) {
        n += Utf8Bom.size();
    }
    return n;
}

// The keys of the file, in the order a new file lists them.
enum class TKey
{
    SmtpTls,
    SmtpCaFile,
    FallbackHost,
    FallbackPort,
    FallbackTls,
    FallbackUser,
    FallbackPassword,
    HealthRecipients,
    HealthTime,
    HealthEveryHours,
    NoticeGiveUp,
    NoticeMissingReport,
};

struct TKeyName
{
    TKey key;
    const char* section;
    const char* name;
};

const TKeyName KeyNames[] = {
    {TKey::SmtpTls, "SMTP", "TLS"},
    {TKey::SmtpCaFile, "SMTP", "CAFile"},
    {TKey::FallbackHost, "FallbackSMTP", "Host"},
    {TKey::FallbackPort, "FallbackSMTP", "Port"},
    {TKey::FallbackTls, "FallbackSMTP", "TLS"},
    {TKey::FallbackUser, "FallbackSMTP", "User"},
    {TKey::FallbackPassword, "FallbackSMTP", "Password"},
    {TKey::HealthRecipients, "Health", "Recipients"},
    {TKey::HealthTime, "Health", "Time"},
    {TKey::HealthEveryHours, "Health", "EveryHours"},
    {TKey::NoticeGiveUp, "Notices", "GiveUp"},
    {TKey::NoticeMissingReport, "Notices", "MissingReport"},
};

// A value as the file writes it: integers in decimal, the time as hh:mm, the recipients joined by ", ".
QString valueText(const TStationSettings& s, TKey key)
{
    const auto number = [](int32_t n) { return n > 0 ? QString::number(n) : QString(); };
    switch (key) {
    case TKey::SmtpTls:
        return QString::number(static_cast<int>(s.smtpTls));
    case TKey::SmtpCaFile:
        return s.smtpCaFile;
    case TKey::FallbackHost:
        return s.fallback.host;
    case TKey::FallbackPort:
        return number(s.fallback.port);
    case TKey::FallbackTls:
        return QString::number(static_cast<int>(s.fallback.tls));
    case TKey::FallbackUser:
        return s.fallback.user;
    case TKey::FallbackPassword:
        return s.fallback.password;
    case TKey::HealthRecipients:
        return s.health.recipients.join(QStringLiteral(", "));
    case TKey::HealthTime:
        return HealthTimeText(s.health.timeOfDay);
    case TKey::HealthEveryHours:
        return number(s.health.everyHours);
    case TKey::NoticeGiveUp:
        return QString::number(s.notices.giveUp ? 1 : 0);
    case TKey::NoticeMissingReport:
        return QString::number(s.notices.missingReport ? 1 : 0);
    }
    return {};
}

std::optional<TStationTls> parseTls(const QString& text)
{
    const auto n = TProfileFile::parseInteger(text.toLatin1());
    if (!n || *n < 0 || *n > 2) {
        return std::nullopt;
    }
    return static_cast<TStationTls>(*n);
}

std::optional<int32_t> parseRange(const QString& text, int32_t low, int32_t high)
{
    const auto n = TProfileFile::parseInteger(text.toLatin1());
    return (n && *n >= low && *n <= high) ? n : std::nullopt;
}

// "7:30" or "07:30", 00:00..23:59, as minutes after midnight.
std::optional<int32_t> parseTimeOfDay(const QString& text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 1 || colon > 2 || text.size() != colon + 3) {
        return std::nullopt;
    }
    bool hourOk = false;
    bool minuteOk = false;
    const int hour = text.left(colon).toInt(&hourOk, 10);
    const int minute = text.mid(colon + 1).toInt(&minuteOk, 10);
    const auto digits = [](const QString& t) {
        return std::all_of(t.begin(), t.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    };
    if (!hourOk || !minuteOk || !digits(text.left(colon)) || !digits(text.mid(colon + 1)) || hour > 23 || minute > 59) {
        return std::nullopt;
    }
    return hour * 60 + minute;
}

// The shape of a plain address: one '@' with something on each side and nothing that would need quoting.
bool isPlainAddress(const QString& text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == text.size() - 1 || text.indexOf(QLatin1Char('@'), at + 1) >= 0) {
        return false;
    }
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() <= 0x20 || c.unicode() == 0x7F || QStringLiteral("<>()[],;:\"\\").contains(c);
    });
}

std::optional<QStringList> parseRecipients(const QString& text)
{
    QStringList list;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QString address = part.trimmed();
        if (address.isEmpty()) {
            continue; // "a, b," is two addresses
        }
        if (!isPlainAddress(address)) {
            return std::nullopt;
        }
        list << address;
    }
    return list;
}

// Reads the values of one file, noting each refusal.
class TReader
{
public:
    TReader(const QByteArray& bytes, const QString& path, QStringList& problems)
        : m_profile(TProfileFile::fromBytes(bytes.mid(bomLength(bytes))))
        , m_path(QDir::toNativeSeparators(path))
        , m_problems(problems)
    {
    }

    // The value of a key as text, nothing when it is missing or empty; a value that is no UTF-8 is refused.
    std::optional<QString> text(const char* section, const char* key, const LangText::Entry& consequence)
    {
        const auto raw = m_profile.rawValue(section, key);
        if (!raw || raw->isEmpty()) {
            return std::nullopt;
        }
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(*raw);
        if (utf8.hasError()) {
            refuse(section, key, Gbk::decode(*raw), Text::Str8, consequence);
            return std::nullopt;
        }
        return decoded;
    }

    // A key that has a value and passes parse, else nothing; a value that fails is refused with its expectation.
    template <class T>
    std::optional<T> value(const char* section,
        const char* key,
        const std::function<std::optional<T>(const QString&)>& parse,
        const LangText::Entry& expected,
        const LangText::Entry& consequence)
    {
        const auto raw = text(section, key, consequence);
        if (!raw) {
            return std::nullopt;
        }
        const auto parsed = parse(*raw);
        if (!parsed) {
            refuse(section, key, *raw, expected, consequence);
        }
        return parsed;
    }

    void refuse(const char* section,
        const char* key,
        const QString& value,
        const LangText::Entry& expected,
        const LangText::Entry& consequence)
    {
        ++m_refused;
        m_refusedKeys.push_back({section, key});
        // A password is never written into the log, not even a wrong one.
        const bool secret = qstrcmp(key, "Password") == 0;
        m_problems << GetLangText(Text::Str0)
                          .arg(m_path,
                              QString::fromLatin1(section),
                              QString::fromLatin1(key),
                              secret ? GetLangText(Text::Str15) : EscapeControls(value),
                              GetLangText(expected),
                              GetLangText(consequence));
    }

    int refused() const { return m_refused; }
    const QString& path() const { return m_path; }
    const std::vector<std::pair<const char*, const char*>>& refusedKeys() const { return m_refusedKeys; }

private:
    TProfileFile m_profile;
    QString m_path;
    QStringList& m_problems;
    int m_refused = 0;
    std::vector<std::pair<const char*, const char*>> m_refusedKeys;
};

} // namespace

std::optional<QStringList> ParseHealthRecipients(const QString& text)
{
    return parseRecipients(text);
}

std::optional<int32_t> ParseHealthTime(const QString& text)
{
    return parseTimeOfDay(text);
}

QString HealthTimeText(int32_t timeOfDay)
{
    return timeOfDay < 0 ? QString()
                         : QStringLiteral("%1:%2")
                               .arg(timeOfDay / 60, 2, 10, QLatin1Char('0'))
                               .arg(timeOfDay % 60, 2, 10, QLatin1Char('0'));
}

int32_t DefaultSmtpPort(TStationTls tls)
{
    switch (tls) {
    case TStationTls::Implicit:
        return 465;
    case TStationTls::StartTls:
        return 587;
    case TStationTls::None:
        break;
    }
    return 25;
}

bool IsRelayHostName(const QString& host)
{
    return !host.isEmpty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' || u == '-'
            || u == '_' || u == ':';
    });
}

namespace {

// What one file says: each key as it reads on its own (a refused one as its default), the settings that follow
// from them (a relay or a health mail with one refused value is off as a whole), and the keys refused.
struct TParsed
{
    TStationSettings asRead;
    TStationSettings effective;
    std::vector<std::pair<const char*, const char*>> refused;

    bool wasRefused(const TKeyName& k) const
    {
        return std::any_of(refused.begin(), refused.end(), [&](const auto& r) {
            return qstrcmp(r.first, k.section) == 0 && qstrcmp(r.second, k.name) == 0;
        });
    }
};

TParsed parseAll(const QByteArray& bytes, const QString& path, QStringList& problems)
{
    TParsed parsed;
    TStationSettings& s = parsed.asRead;
    TReader r(bytes, path, problems);
    const std::function<std::optional<TStationTls>(const QString&)> tls = parseTls;

    s.smtpTls = r.value("SMTP", "TLS", tls, Text::Str1, Text::Str12).value_or(TStationTls::None);
    s.smtpCaFile = r.text("SMTP", "CAFile", Text::Str12).value_or(QString());

    const int fallbackBefore = r.refused();
    TRelaySettings& f = s.fallback;
    f.host = r.value<QString>(
                  "FallbackSMTP",
                  "Host",
                  [](const QString& t) { return IsRelayHostName(t) ? std::optional<QString>(t) : std::nullopt; },
                  Text::Str3,
                  Text::Str9)
                 .value_or(QString());
    f.port =
        r.value<int32_t>(
             "FallbackSMTP", "Port", [](const QString& t) { return parseRange(t, 1, 65535); }, Text::Str2, Text::Str9)
            .value_or(0);
    f.tls = r.value("FallbackSMTP", "TLS", tls, Text::Str1, Text::Str9).value_or(TStationTls::None);
    f.user = r.text("FallbackSMTP", "User", Text::Str9).value_or(QString());
    f.password = r.text("FallbackSMTP", "Password", Text::Str9).value_or(QString());
    const bool fallbackRefused = r.refused() != fallbackBefore;

    const int healthBefore = r.refused();
    THealthSettings& h = s.health;
    h.recipients =
        r.value<QStringList>("Health", "Recipients", parseRecipients, Text::Str4, Text::Str10).value_or(QStringList());
    h.timeOfDay = r.value<int32_t>("Health", "Time", parseTimeOfDay, Text::Str5, Text::Str10).value_or(-1);
    h.everyHours = r.value<int32_t>(
                        "Health",
                        "EveryHours",
                        [](const QString& t) { return parseRange(t, 1, MaxHealthEveryHours); },
                        Text::Str6,
                        Text::Str10)
                       .value_or(0);
    bool healthRefused = r.refused() != healthBefore;
    if (!healthRefused && h.timeOfDay >= 0 && h.everyHours > 0) {
        problems << GetLangText(Text::Str13).arg(r.path());
        healthRefused = true;
    }

    const std::function<std::optional<bool>(const QString&)> flag = [](const QString& t) -> std::optional<bool> {
        const auto n = parseRange(t, 0, 1);
        return n ? std::optional<bool>(*n == 1) : std::nullopt;
    };
    s.notices.giveUp = r.value("Notices", "GiveUp", flag, Text::Str7, Text::Str11).value_or(false);
    s.notices.missingReport = r.value("Notices", "MissingReport", flag, Text::Str7, Text::Str11).value_or(false);

    parsed.effective = s;
    // A relay with one wrong value is not used at all: a wrong port or security would only fail, or worse, send
    // the login in clear. A health mail with one wrong value would go at a time nobody expects.
    if (fallbackRefused) {
        parsed.effective.fallback = TRelaySettings{};
    }
    if (healthRefused) {
        parsed.effective.health = THealthSettings{};
    }
    parsed.refused = r.refusedKeys();
    return parsed;
}

// Whether wanted changes what the station took from the file for the key: a key of the relay or the health mail
// counts as changed with any other key of its section, since the file's values there count only together.
bool settingChanged(const TStationSettings& wanted, const TStationSettings& effective, const TKeyName& k)
{
    if (qstrcmp(k.section, "FallbackSMTP") == 0) {
        return !(wanted.fallback == effective.fallback);
    }
    if (qstrcmp(k.section, "Health") == 0) {
        return !(wanted.health == effective.health);
    }
    return valueText(wanted, k.key) != valueText(effective, k.key);
}

} // namespace

TStationSettings ParseStationSettings(const QByteArray& bytes, const QString& path, QStringList& problems)
{
    return parseAll(bytes, path, problems).effective;
}

TStationFileState ReadStationSettings(const QString& path, TStationSettings& settings, QStringList& problems)
{
    TStationFileState state;
    state.path = path;
    settings = TStationSettings{};
    const QFileInfo info(path);
    if (!info.exists()) {
        return state;
    }
    state.present = true;
    QString error;
    if (info.size() > MaxStationFileSize) {
        error = QStringLiteral("%1: larger than %2 bytes").arg(path).arg(MaxStationFileSize);
    } else if (ReadFileShared(path, state.bytes, error)) {
        settings = ParseStationSettings(state.bytes, path, problems);
        return state;
    }
    state.readable = false;
    state.bytes.clear();
    problems << GetLangText(Text::Str14).arg(QDir::toNativeSeparators(path), error);
    return state;
}

namespace {

// A value as one line of the file: quoted when the reader would otherwise take blanks or quotes off its ends.
QByteArray encodeValue(const QString& value)
{
    const QByteArray bytes = value.toUtf8();
    if (bytes.isEmpty()) {
        return bytes;
    }
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    const auto quote = [](char c) { return c == '"' || c == '\''; };
    if (blank(bytes.front()) || blank(bytes.back()) || quote(bytes.front()) || quote(bytes.back())) {
        return '"' + bytes + '"';
    }
    return bytes;
}

bool sameName(const QByteArray& a, const char* b)
{
    return a.compare(QByteArray(b), Qt::CaseInsensitive) == 0;
}

// The lines of a text, each with its own line end: CR LF, LF or CR, as the profile reader splits them.
QList<QByteArray> splitLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    for (qsizetype pos = 0; pos < bytes.size();) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        end += (end < bytes.size() && bytes[end] == '\r') ? 1 : 0;
        end += (end < bytes.size() && bytes[end] == '\n') ? 1 : 0;
        lines << bytes.mid(pos, end - pos);
        pos = end;
    }
    return lines;
}

// A rewritten line keeps the line end it had (the last line of a file may have none: then the file's own).
QByteArray lineEndOf(const QByteArray& line, const QByteArray& fallback)
{
    for (const char* end : {"\r\n", "\n", "\r"}) {
        if (line.endsWith(end)) {
            return end;
        }
    }
    return fallback;
}

} // namespace

bool UpdateStationSettingsText(
    const QByteArray& current, const TStationSettings& wanted, QByteArray& updated, QString& error)
{
    struct TChange
    {
        const TKeyName* name;
        QByteArray line;
        bool done = false;
    };
    QStringList ignored;
    const TParsed file = parseAll(current, QString(), ignored);
    std::vector<TChange> changes;
    for (const TKeyName& k : KeyNames) {
        // A key is written when its setting changed and the file does not already say the wanted value; a
        // refused value of a changed setting always goes.
        const QString value = valueText(wanted, k.key);
        if (!settingChanged(wanted, file.effective, k)
            || (value == valueText(file.asRead, k.key) && !file.wasRefused(k))) {
            continue;
        }
        if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n')) || value.contains(QChar(0))) {
            error = QStringLiteral("[%1] %2: a line break cannot be stored").arg(k.section, k.name);
            return false;
        }
        changes.push_back({&k, QByteArray(k.name) + '=' + encodeValue(value)});
    }
    if (changes.empty()) {
        updated = current;
        return true;
    }
    const QByteArray bytes = current.mid(bomLength(current));
    const QByteArray eol = bytes.contains("\r\n") || !bytes.contains('\n') ? QByteArray("\r\n") : QByteArray("\n");

    // Only the first section of a name counts, as for the reader.
    QList<QByteArray> lines = splitLines(bytes);
    QList<QByteArray> seen; // section names met so far
    std::vector<std::pair<QByteArray, qsizetype>> lastLine; // per section: the line new keys go after
    QByteArray section;
    bool counts = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = TrimBlanks(lines[i]);
        if (line.startsWith('[')) {
            const qsizetype close = Gbk::indexOfChar(line, ']');
            if (close < 0) {
                continue;
            }
            section = TrimBlanks(line.mid(1, close - 1));
            counts = std::none_of(seen.begin(), seen.end(), [&](const QByteArray& s) { return sameName(s, section); });
            if (counts) {
                seen << section;
                lastLine.emplace_back(section, i);
            }
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!counts || line.isEmpty() || line.front() == ';' || eq <= 0) {
            continue;
        }
        const QByteArray key = TrimBlanks(line.left(eq));
        lastLine.back().second = i;
        for (TChange& c : changes) {
            if (!c.done && sameName(section, c.name->section) && sameName(key, c.name->name)) {
                lines[i] = c.line + lineEndOf(lines[i], eol);
                c.done = true;
                break; // only the first line of a key counts
            }
        }
    }
    if (!lines.isEmpty() && !lines.back().endsWith('\n') && !lines.back().endsWith('\r')) {
        lines.back() += eol;
    }
    // New keys at the end of their section, in the order of the key table.
    for (auto it = lastLine.rbegin(); it != lastLine.rend(); ++it) {
        qsizetype at = it->second + 1;
        for (TChange& c : changes) {
            if (!c.done && sameName(it->first, c.name->section)) {
                lines.insert(at++, c.line + eol);
                c.done = true;
            }
        }
    }
    if (bytes.isEmpty()) {
        lines << "; Settings of the QORVANE mail dispatch station (UTF-8), see docs/station.md" + eol;
    }
    const char* open = nullptr;
    for (TChange& c : changes) {
        if (c.done) {
            continue;
        }
        if (open == nullptr || qstrcmp(open, c.name->section) != 0) {
            open = c.name->section;
            if (!lines.isEmpty() && TrimBlanks(lines.back()).size() > 0) {
                lines << eol;
            }
            lines << '[' + QByteArray(open) + ']' + eol;
        }
        lines << c.line + eol;
    }
    updated = current.left(bomLength(current));
    for (const QByteArray& line : lines) {
        updated += line;
    }
    return true;
}

namespace {

bool unchangedOnDisk(const TStationFileState& state)
{
    if (QFileInfo::exists(state.path) != state.present) {
        return false;
    }
    QByteArray bytes;
    QString error;
    return !state.present || (state.readable && ReadFileShared(state.path, bytes, error) && bytes == state.bytes);
}

} // namespace

bool StationSaveWouldOverwrite(const TStationSettings& wanted, const TStationFileState& state)
{
    QByteArray bytes;
    QString error;
    return UpdateStationSettingsText(state.bytes, wanted, bytes, error) && bytes != state.bytes
        && !unchangedOnDisk(state);
}

TStationSave SaveStationSettings(const TStationSettings& wanted, TStationFileState& state, QString& error)
{
    QByteArray bytes;
    if (!UpdateStationSettingsText(state.bytes, wanted, bytes, error)) {
        return TStationSave::Failed;
    }
    if (bytes == state.bytes) {
        return TStationSave::Unchanged; // the file is not touched, whoever changed it since
    }
    if (state.present && !state.readable) {
        error = QStringLiteral("%1: the file could not be read at start-up").arg(state.path);
        return TStationSave::Failed;
    }
    QDir().mkpath(QFileInfo(state.path).absolutePath());
    bool changed = false;
    const TAtomicWriteResult written =
        WriteFileIfUnchanged(state.path, state.present, state.bytes, bytes, changed, error);
    if (written == TAtomicWriteResult::Failed) {
        return changed ? TStationSave::ChangedOnDisk : TStationSave::Failed;
    }
    // Not flushed: the new file is in place (the next save compares with it), but the save is told as failed.
    state.present = true;
    state.bytes = bytes;
    return written == TAtomicWriteResult::Written ? TStationSave::Saved : TStationSave::Failed;
}

TStationFileState LoadStationSettings(TMailTables& tables, QStringList& problems)
{
    const QString workDir = tables.workDirPath();
    if (workDir.isEmpty()) {
        return {};
    }
    TStationFileState state = ReadStationSettings(
        workDir + QStringLiteral("CfgCache/") + QLatin1String(StationSettingsFileName), tables.Station, problems);
    SetSmtpTlsInUse(tables, tables.Station.smtpTls);
    tables.CAFile = tables.Station.smtpCaFile;
    return state;
}

TStationTls SmtpTlsInUse(const TMailTables& tables)
{
    return tables.UseSSL != 0 ? TStationTls::Implicit
                              : (tables.StartTLS != 0 ? TStationTls::StartTls : TStationTls::None);
}

void SetSmtpTlsInUse(TMailTables& tables, TStationTls tls)
{
    tables.UseSSL = tls == TStationTls::Implicit ? 1 : 0;
    tables.StartTLS = tls == TStationTls::StartTls ? 1 : 0;
}
