// SPDX-License-Identifier: MIT
// The real station and real SMTP servers: the security chosen in the SMTP dialog, saved and read back after a
// restart, reaches the exchange; a mail goes to the fallback relay once when the first fails as a whole, and a
// recipient refused by the first is no reason to switch.

#include "LangTexts.h"
#include "SmtpTestServer.h"
#include "StationFiles.h"
#include "StationProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

// The envelope and TLS facts the test server keeps beside a captured mail.
QJsonObject sidecar(const QString& emlPath)
{
    QFile file(emlPath.chopped(4) + QStringLiteral(".json"));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

class SmtpRelays : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + QLatin1Char('/');
        QDir().mkpath(m_workDir + QStringLiteral("CfgCache"));
    }

    TStationLock m_lock;
    QTemporaryDir m_dir;
    QString m_workDir;
};

TEST_F(SmtpRelays, TheSecurityChosenInTheDialogIsSavedAndUsedAfterARestart)
{
    SmtpTest::SmtpTestServer server;
    ASSERT_TRUE(server.start(QStringLiteral("starttls"))) << server.error().toStdString();
    // No file at all: the window sets the server up, adds a task and saves, as a new operator does.
    const QString script = m_workDir + QStringLiteral("driver.json");
    QFile scriptFile(script);
    ASSERT_TRUE(scriptFile.open(QIODevice::WriteOnly));
    scriptFile.write(QStringLiteral(R"([
        {"action": "SetSMTP1"},
        {"dialog": "TSmtpDlg",
         "set": {"SmtpAddrEdit": "127.0.0.1", "SecurityCombo": "STARTTLS", "SmtpPortEdit": %1,
                 "EmailAddrEdit": "station@example.cn", "CAFileEdit": "%2"},
         "click": "OkBtn"},
        {"action": "AddEventMail1"},
        {"dialog": "TEventmailPropertyDlg",
         "set": {"TitleEdit": "主变事故", "WaitSecEdit": 0, "ReceiverMemo": "duty@example.cn"},
         "click": "OkBtn"},
        {"action": "SaveConfig1"}
    ])")
                         .arg(server.port())
                         .arg(SmtpTest::certDir() + QStringLiteral("/ca.pem"))
                         .toUtf8());
    scriptFile.close();
    {
        TStation station(m_workDir);
        station.setEnvironment(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(QORSMAIL_TEST_PLUGIN_DIR));
        station.setEnvironment(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("qorsmaildriver:") + script);
        station.start();
        ASSERT_TRUE(station.waitForOutput("qorsmail-driver: step 5 done")) << station.output().toStdString();
        ASSERT_FALSE(station.output().contains("qorsmail-driver: failed")) << station.output().toStdString();
        ASSERT_TRUE(waitForDebugLine(m_workDir,
            text(LangText::StationSettings_Str::Str18).arg(m_workDir + QStringLiteral("CfgCache/qormail-station.ini"))))
            << readDebugLog(m_workDir).toStdString();
        EXPECT_EQ(station.terminate(), 0);
    }
    EXPECT_TRUE(server.mails().isEmpty());

    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    ASSERT_TRUE(postEvent(m_workDir, 3, 1, QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(server.waitForMails(1, 20000)) << readDebugLog(m_workDir).toStdString();
    const QJsonObject facts = sidecar(server.mails().first());
    EXPECT_TRUE(facts[QStringLiteral("tls_version")].toString().startsWith(QStringLiteral("TLSv1.")))
        << QJsonDocument(facts).toJson().toStdString();
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(SmtpRelays, AMailGoesToTheFallbackOnceWhenTheFirstFailsAsAWhole)
{
    struct Case
    {
        const char* name;
        QString firstMode; // empty: nothing listens at the first relay's port
        QString recipient2; // a second recipient of the task, when not empty
        int firstGets;
        int fallbackGets;
    };
    const Case cases[] = {
        {"connection refused", QString(), QString(), 0, 1},
        {"sender refused", QStringLiteral("refuse-sender"), QString(), 0, 1},
        {"one recipient refused with 550", QStringLiteral("plain"), QStringLiteral("reject@example.cn"), 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpTest::SmtpTestServer first;
        SmtpTest::SmtpTestServer fallback;
        ASSERT_TRUE(first.start(c.firstMode.isEmpty() ? QStringLiteral("plain") : c.firstMode));
        const int firstPort = first.port();
        if (c.firstMode.isEmpty()) {
            first.stop(); // the port now refuses connections
        }
        ASSERT_TRUE(fallback.start()) << fallback.error().toStdString();

        QTemporaryDir dir;
        const QString workDir = dir.path() + QLatin1Char('/');
        TStationFiles files;
        files.addEventTask(QStringLiteral("主变事故"), 0);
        if (!c.recipient2.isEmpty()) {
            TEventMailTask& task = files.tables.EventTasks.task(0);
            Gbk::storeField(task.Receivers[1].Addr, c.recipient2);
            task.ReceiverCount = 2;
        }
        ASSERT_TRUE(files.write(workDir, firstPort));
        QFile stationIni(workDir + QStringLiteral("CfgCache/qormail-station.ini"));
        ASSERT_TRUE(stationIni.open(QIODevice::WriteOnly));
        stationIni.write("[FallbackSMTP]\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(fallback.port()) + "\r\n");
        stationIni.close();

        TStation station(workDir);
        station.start();
        ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
        ASSERT_TRUE(postEvent(workDir, 3, 1, QStringLiteral("1号主变差动保护动作")));
        SmtpTest::SmtpTestServer& carrier = c.fallbackGets > 0 ? fallback : first;
        ASSERT_TRUE(carrier.waitForMails(1, 20000)) << readDebugLog(workDir).toStdString();
        const QString sentLine = text(LangText::QorsmailMain_Str::Str24) + QStringLiteral("\" 主变事故 \"")
            + text(LangText::QorsmailMain_Str::Str25);
        ASSERT_TRUE(waitForDebugLine(workDir, sentLine)) << readDebugLog(workDir).toStdString();
        QThread::msleep(1500); // a second copy would come with the next pass
        EXPECT_EQ(station.terminate(), 0);

        EXPECT_EQ(first.mails().size(), c.firstGets);
        EXPECT_EQ(fallback.mails().size(), c.fallbackGets);
        const QJsonArray rcpt = sidecar(carrier.mails().value(0))[QStringLiteral("rcpt_tos")].toArray();
        EXPECT_EQ(rcpt, QJsonArray{QStringLiteral("duty@example.cn")});
        // The log names the fallback relay when it carried the mail, and only then.
        const QString log = readDebugLog(workDir);
        EXPECT_EQ(log.contains(QStringLiteral("127.0.0.1:%1").arg(fallback.port())), c.fallbackGets > 0)
            << log.toStdString();
    }
}

} // namespace
