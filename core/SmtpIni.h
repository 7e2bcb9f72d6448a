// SPDX-License-Identifier: MIT
#pragma once

// The settings file QorMail.ini and the profile-file reader that follows its value rules: section and key
// names ignore case, a present text value is taken as it stands (empty clears), integers are decimal or
// hexadecimal with "0x" or "$", booleans are integers (0 false, any other integer true), and anything else
// leaves the current value. Blanks around names and values are dropped, one pair of enclosing quotes is taken
// off a value, lines starting with ';' are comments; docs/settings-file.md has the whole set of rules.

#include "QorsmailDef.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class TProfileFile
{
public:
    // Reads and parses the file; a missing or unreadable file gives an empty profile.
    static TProfileFile fromFile(const QString& path);
    static TProfileFile fromBytes(const QByteArray& bytes);

    bool isEmpty() const { return m_sections.empty(); }

    // Raw GBK value of the first matching key of the first matching section, or nothing.
    std::optional<QByteArray> rawValue(const QByteArray& section, const QByteArray& key) const;
    QString readString(const QByteArray& section, const QByteArray& key, const QString& current) const;
    int32_t readInteger(const QByteArray& section, const QByteArray& key, int32_t current) const;
    bool readBool(const QByteArray& section, const QByteArray& key, bool current) const;

    // Parses an integer by the rules above; nothing for an empty or malformed value.
    static std::optional<int32_t> parseInteger(const QByteArray& value);

private:
    struct Entry
    {
        QByteArray key;
        QByteArray value;
    };
    struct Section
    {
        QByteArray name;
        std::vector<Entry> entries;
    };
    std::vector<Section> m_sections;
};

// Reads WorkDir + "QorMail.ini" over the current settings: smtpaddr, smtpport, LocalEmailAddr, NeedAuth,
// Username, Password, WaitSeconds, SSL, then StartTLS and CAFile. A text longer than its field is cut at a
// character boundary. A port outside 1..65535 or a negative WaitSeconds is ignored like a malformed number.
// Missing file: nothing changes.
void LoadSmtpIni(TMailTables& tables);
void LoadSmtpIniFrom(TMailTables& tables, const QString& path);
// The same over a profile already read.
void ApplySmtpIni(TMailTables& tables, const TProfileFile& ini);

// The keys of the settings file at path that replace the connection security at every start (SSL, StartTLS,
// CAFile, each only when LoadSmtpIniFrom would take its value).
QStringList SmtpIniTlsKeys(const QString& path);
