// SPDX-License-Identifier: MIT
#pragma once

// The station's own settings, for which the task file's fixed layout has no room: the connection security of the
// SMTP server, a second (fallback) relay, the health mail and the notices. They live in
// CfgCache/qormail-station.ini beside the task file: UTF-8, the profile-file rules of QorMail.ini otherwise
// (names ignore case, one pair of quotes around a value is taken off, ';' starts a comment line). Read at
// start-up with every value checked; a value that is refused is named in a log line and its default stands.
// A missing file means: no fallback relay, no health mail, notices off.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

struct TMailTables;

// Connection security as the file writes it.
enum class TStationTls : int32_t
{
    None = 0,
    Implicit = 1, // TLS from the first byte (SMTPS)
    StartTls = 2, // a plain connection upgraded with STARTTLS
};

// The usual port of each kind of connection: 25, 465, 587.
int32_t DefaultSmtpPort(TStationTls tls);

// Whether the text can name a relay: letters, digits, '.', '-', '_' and ':' (an IPv6 address), nothing that could
// change the meaning of the URL the host goes into.
bool IsRelayHostName(const QString& host);

// [FallbackSMTP]: the relay a mail goes to when the first fails as a whole.
struct TRelaySettings
{
    QString host; // empty: no fallback relay
    int32_t port = 0; // 0: the usual port of tls
    TStationTls tls = TStationTls::None;
    QString user; // logs in (AUTH LOGIN) when not empty
    QString password;

    bool isSet() const { return !host.isEmpty(); }
    int32_t effectivePort() const { return port > 0 ? port : DefaultSmtpPort(tls); }
    bool operator==(const TRelaySettings&) const = default;
};

// [Health]: the "alive" mail.
struct THealthSettings
{
    QStringList recipients; // plain addresses
    int32_t timeOfDay = -1; // minutes after midnight of the daily mail; -1 when not set
    int32_t everyHours = 0; // a mail every so many hours; 0 when not set (never both)

    bool enabled() const { return !recipients.isEmpty() && (timeOfDay >= 0 || everyHours > 0); }
    bool operator==(const THealthSettings&) const = default;
};

// A time of day as the file writes it ("07:30"); empty for -1.
QString HealthTimeText(int32_t timeOfDay);
// The file's readings of Recipients (comma separated plain addresses) and Time (h:mm or hh:mm): nothing when the
// text is refused.
std::optional<QStringList> ParseHealthRecipients(const QString& text);
std::optional<int32_t> ParseHealthTime(const QString& text);

// [Notices]
struct TNoticeSettings
{
    bool giveUp = false; // a notice to the health recipients when a mail is given up
    bool missingReport = false; // a notice to a report task's recipients when its files are missing

    bool operator==(const TNoticeSettings&) const = default;
};

struct TStationSettings
{
    // [SMTP]: the first relay's security and further trusted certificates; QorMail.ini overrides them where it
    // has the keys SSL, StartTLS and CAFile.
    TStationTls smtpTls = TStationTls::None;
    QString smtpCaFile;
    TRelaySettings fallback;
    THealthSettings health;
    TNoticeSettings notices;

    bool operator==(const TStationSettings&) const = default;
};

constexpr int32_t MaxHealthEveryHours = 8760; // a year

// The file's name inside CfgCache/.
inline constexpr const char* StationSettingsFileName = "qormail-station.ini";

// Parses the file's bytes; every refused value adds one log line (naming the file, the section and the key) to
// problems. A refused value in [FallbackSMTP] leaves the fallback relay off, one in [Health] the health mail.
TStationSettings ParseStationSettings(const QByteArray& bytes, const QString& path, QStringList& problems);

// What was read, so a save can tell whether someone changed the file since and writes only what changed.
struct TStationFileState
{
    QString path;
    bool present = false; // a file was there when it was read
    bool readable = true; // false: it was there but could not be read; a save with something to write refuses
    QByteArray bytes; // as read
};

// Reads the file at path; a missing file gives the defaults and no problem.
TStationFileState ReadStationSettings(const QString& path, TStationSettings& settings, QStringList& problems);

// The file's text with the settings of wanted that differ from what the station reads in it written in place:
// a key already there gets its new value on its own line, a new one goes to the end of its section (made at the
// end when missing). Comments, other keys and the values of unchanged settings stay byte for byte, a refused
// one too until its setting is changed. False with error when a value cannot be written (a line break in it).
bool UpdateStationSettingsText(
    const QByteArray& current, const TStationSettings& wanted, QByteArray& updated, QString& error);

enum class TStationSave
{
    Saved,
    Unchanged, // nothing differs from the file: nothing written (and no file made)
    ChangedOnDisk, // something to write, but the file is not the one read (changed, made or removed since)
    Failed, // error says why; the file is left as it was
};

// Whether a save of wanted would write the file although it is no longer the one read (changed, made, removed or
// unreadable since): the save's own refusal, for a caller that wants to know before it writes anything else.
bool StationSaveWouldOverwrite(const TStationSettings& wanted, const TStationFileState& state);

// Writes the settings of wanted that differ from the file's into it (UpdateStationSettingsText) by the rules of
// the task file (the lock, atomic, a new file 0600, a replaced one keeps its mode and stays beside it as ".bak"),
// when the file is still the one read; state then describes the new file. Nothing to write: Unchanged.
TStationSave SaveStationSettings(const TStationSettings& wanted, TStationFileState& state, QString& error);

// The start-up's step: WorkDir + "CfgCache/qormail-station.ini" into tables.Station, and its [SMTP] values into
// UseSSL, StartTLS and CAFile (QorMail.ini is read over them afterwards).
TStationFileState LoadStationSettings(TMailTables& tables, QStringList& problems);

// The first relay's security as UseSSL and StartTLS hold it (SSL wins), and set into them.
TStationTls SmtpTlsInUse(const TMailTables& tables);
void SetSmtpTlsInUse(TMailTables& tables, TStationTls tls);
