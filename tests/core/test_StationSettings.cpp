// SPDX-License-Identifier: MIT
// The station's own settings file: every value that cannot be used is refused with one line naming its key, and
// what follows from it (a relay or a health mail with one wrong value is not used at all) holds.

#include "StationSettings.h"

#include <QByteArray>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A file where every key holds a good value; each case below replaces one line.
const QByteArray GoodFile = "[SMTP]\r\n"
                            "TLS=2\r\n"
                            "CAFile=/etc/qorvane/ca.pem\r\n"
                            "[FallbackSMTP]\r\n"
                            "Host=relay2.example.cn\r\n"
                            "Port=2525\r\n"
                            "TLS=1\r\n"
                            "User=station\r\n"
                            "Password=\"  pass word \"\r\n"
                            "[Health]\r\n"
                            "Recipients=ops@example.cn, chief@example.cn,\r\n"
                            "Time=7:30\r\n"
                            "[Notices]\r\n"
                            "GiveUp=1\r\n"
                            "MissingReport=0\r\n";

TStationSettings goodSettings()
{
    TStationSettings s;
    s.smtpTls = TStationTls::StartTls;
    s.smtpCaFile = QStringLiteral("/etc/qorvane/ca.pem");
    s.fallback = {QStringLiteral("relay2.example.cn"),
        2525,
        TStationTls::Implicit,
        QStringLiteral("station"),
        QStringLiteral("  pass word ")};
    s.health.recipients = {QStringLiteral("ops@example.cn"), QStringLiteral("chief@example.cn")};
    s.health.timeOfDay = 7 * 60 + 30;
    s.notices.giveUp = true;
    return s;
}

TEST(StationSettings, EveryBadValueIsRefusedWithALineNamingItsKey)
{
    const auto noFallback = [](TStationSettings& s) { s.fallback = {}; };
    const auto noHealth = [](TStationSettings& s) { s.health = {}; };
    struct Case
    {
        QByteArray goodLine; // the line of GoodFile replaced
        QByteArray badLine; // empty: the good line is replaced by nothing (a key left out is no fault)
        QString named; // what the one log line names; empty: no line
        std::function<void(TStationSettings&)> effect; // on the good settings
    };
    const Case cases[] = {
        {"TLS=2\r\n", "TLS=3\r\n", "[SMTP] TLS", [](TStationSettings& s) { s.smtpTls = TStationTls::None; }},
        {"TLS=2\r\n", "TLS=yes\r\n", "[SMTP] TLS", [](TStationSettings& s) { s.smtpTls = TStationTls::None; }},
        {"CAFile=/etc/qorvane/ca.pem\r\n",
            "CAFile=/etc/\xFF.pem\r\n",
            "[SMTP] CAFile",
            [](TStationSettings& s) { s.smtpCaFile.clear(); }},
        {"Host=relay2.example.cn\r\n", "Host=relay two\r\n", "[FallbackSMTP] Host", noFallback},
        {"Host=relay2.example.cn\r\n", "Host=user@relay2/x\r\n", "[FallbackSMTP] Host", noFallback},
        {"Host=relay2.example.cn\r\n", "Host=\xE9\x82\xAE\xE4\xBB\xB6.cn\r\n", "[FallbackSMTP] Host", noFallback},
        {"Port=2525\r\n", "Port=0\r\n", "[FallbackSMTP] Port", noFallback},
        {"Port=2525\r\n", "Port=65536\r\n", "[FallbackSMTP] Port", noFallback},
        {"Port=2525\r\n", "Port=25x\r\n", "[FallbackSMTP] Port", noFallback},
        {"TLS=1\r\n", "TLS=-1\r\n", "[FallbackSMTP] TLS", noFallback},
        {"Password=\"  pass word \"\r\n", "Password=p\xFFw\r\n", "[FallbackSMTP] Password", noFallback},
        {"Recipients=ops@example.cn, chief@example.cn,\r\n",
            "Recipients=ops@example.cn, chief\r\n",
            "[Health] Recipients",
            noHealth},
        {"Recipients=ops@example.cn, chief@example.cn,\r\n",
            "Recipients=Ops <ops@example.cn>\r\n",
            "[Health] Recipients",
            noHealth},
        {"Time=7:30\r\n", "Time=24:00\r\n", "[Health] Time", noHealth},
        {"Time=7:30\r\n", "Time=07:60\r\n", "[Health] Time", noHealth},
        {"Time=7:30\r\n", "Time=7:5\r\n", "[Health] Time", noHealth},
        {"Time=7:30\r\n", "Time=7:30\r\nEveryHours=0\r\n", "[Health] EveryHours", noHealth},
        {"Time=7:30\r\n", "EveryHours=8761\r\n", "[Health] EveryHours", noHealth},
        {"Time=7:30\r\n", "Time=7:30\r\nEveryHours=6\r\n", "EveryHours", noHealth},
        {"GiveUp=1\r\n", "GiveUp=2\r\n", "[Notices] GiveUp", [](TStationSettings& s) { s.notices.giveUp = false; }},
        {"MissingReport=0\r\n", "MissingReport=yes\r\n", "[Notices] MissingReport", {}},
        // The good cases beside them: no line, and what they mean.
        {"Port=2525\r\n", "", "", [](TStationSettings& s) { s.fallback.port = 0; }},
        {"Time=7:30\r\n",
            "EveryHours=6\r\n",
            "",
            [](TStationSettings& s) {
                s.health.timeOfDay = -1;
                s.health.everyHours = 6;
            }},
        {"Host=relay2.example.cn\r\n",
            "host = ::1\r\n",
            "",
            [](TStationSettings& s) { s.fallback.host = QStringLiteral("::1"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.badLine.isEmpty() ? c.goodLine.toStdString() : c.badLine.toStdString());
        QByteArray file = GoodFile;
        ASSERT_TRUE(file.contains(c.goodLine));
        file.replace(file.indexOf(c.goodLine), c.goodLine.size(), c.badLine);
        QStringList problems;
        const TStationSettings read = ParseStationSettings(file, QStringLiteral("/w/qormail-station.ini"), problems);
        TStationSettings expected = goodSettings();
        if (c.effect) {
            c.effect(expected);
        }
        EXPECT_TRUE(read == expected);
        if (c.named.isEmpty()) {
            EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();
            continue;
        }
        ASSERT_EQ(problems.size(), 1) << problems.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(problems[0].contains(c.named)) << problems[0].toStdString();
        EXPECT_TRUE(problems[0].contains(QStringLiteral("/w/qormail-station.ini")));
        EXPECT_FALSE(problems[0].contains(QStringLiteral("pass"))) << "a password never reaches the log";
    }
}

} // namespace
