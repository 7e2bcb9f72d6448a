// SPDX-License-Identifier: MIT
// The real station end to end: events posted with qorslog arrive as one event mail, a report due at a chosen
// time (faketime) arrives with its file, the debug log tells the story, and only one station runs per user.

#include "GbkCodec.h"
#include "LangTexts.h"
#include "QorsmailFunc.h"
#include "SmtpTestServer.h"
#include "StationFiles.h"
#include "StationProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

QByteArray fromBase64(const QJsonValue& value)
{
    return QByteArray::fromBase64(value.toString().toLatin1());
}

class Station : public ::testing::Test
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
    TStationFiles m_files;
    SmtpTest::SmtpTestServer m_server;
};

TEST_F(Station, PostedEventsArriveAsOneEventMailAndTheLogTellsIt)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    m_files.addEventTask(QStringLiteral("事故报告"), 1);
    ASSERT_TRUE(m_files.write(m_workDir, m_server.port()));
    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    // The mail library is linked: a station that runs can send, it never finds out at the first accident.
    EXPECT_TRUE(station.hasLibraryLoaded("libcurl"));

    ASSERT_TRUE(
        postEvent(m_workDir, 3, 1, QStringLiteral("1号主变差动保护动作"), QStringLiteral("2026-03-05 07:04:09.120")));
    ASSERT_TRUE(postEvent(m_workDir, 4, 2, QStringLiteral("2号开关分闸"), QStringLiteral("2026-03-05 17:40:00.005")));
    ASSERT_TRUE(m_server.waitForMails(1, 15000)) << station.output().toStdString();

    const QJsonObject mail = SmtpTest::checkMail(m_server.mails().first());
    ASSERT_FALSE(mail.contains(QStringLiteral("error"))) << mail[QStringLiteral("error")].toString().toStdString();
    const QRegularExpression subject(
        QStringLiteral("^事故报告\\(\\d{4}-\\d{1,2}-\\d{1,2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\)$"));
    EXPECT_TRUE(subject.match(mail[QStringLiteral("subject")].toString()).hasMatch())
        << mail[QStringLiteral("subject")].toString().toStdString();
    const QJsonArray texts = mail[QStringLiteral("texts")].toArray();
    ASSERT_EQ(texts.size(), 1);
    const QString body = Gbk::decode(fromBase64(texts[0].toObject()[QStringLiteral("bytes_b64")]));
    EXPECT_EQ(body,
        QStringLiteral("2026-3-5- 7:4:9.120  1号主变差动保护动作\r\n"
                       "2026-3-5- 17:40:0.5  2号开关分闸\r\n"));

    const QString sentLine = text(LangText::QorsmailMain_Str::Str24) + QStringLiteral("\" 事故报告 \"")
        + text(LangText::QorsmailMain_Str::Str25);
    ASSERT_TRUE(waitForDebugLine(m_workDir, sentLine));
    EXPECT_TRUE(station.hasLibraryLoaded("libcurl"));
    EXPECT_EQ(station.terminate(), 0);
    const QString log = readDebugLog(m_workDir);
    const qsizetype start = log.indexOf(text(LangText::QorsmailMain_Str::Str0));
    const qsizetype sent = log.indexOf(sentLine);
    const qsizetype stop = log.indexOf(text(LangText::QorsmailMain_Str::Str2));
    EXPECT_GE(start, 0);
    EXPECT_GT(sent, start);
    EXPECT_GT(stop, sent) << log.toStdString();
    EXPECT_EQ(m_server.mails().size(), 1);
}

// On a quiet ring the watch reads an event within a tenth of a second and a task without a wait sends it at
// once: each of three alarms is mailed well inside a second of its post, not on the next 5-second tick.
TEST_F(Station, AnEventOnAQuietRingWithNoWaitIsMailedWellInsideASecond)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    m_files.addEventTask(QStringLiteral("跳闸告警"), 0, QStringLiteral("跳闸"));
    ASSERT_TRUE(m_files.write(m_workDir, m_server.port()));
    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    for (int alarm = 1; alarm <= 3; ++alarm) {
        SCOPED_TRACE(alarm);
        QThread::msleep(1300); // the ring quiet for over a second
        QElapsedTimer sinceBeforePost;
        sinceBeforePost.start();
        ASSERT_TRUE(postEvent(m_workDir, 4, 1, QStringLiteral("3#馈线断路器跳闸 %1").arg(alarm)));
        ASSERT_TRUE(m_server.waitForMails(alarm, 10000)) << station.output().toStdString();
        EXPECT_LT(sinceBeforePost.elapsed(), 1000);
    }
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(Station, AReportDueAtItsTimeArrivesWithItsFile)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    QDir().mkpath(m_workDir + QStringLiteral("Reports"));
    QFile report(m_workDir + QStringLiteral("Reports/日报20260305.csv"));
    ASSERT_TRUE(report.open(QIODevice::WriteOnly));
    report.write("时间,有功功率\r\n08:00,1520\r\n");
    report.close();

    TReportMailTask task{};
    task.SendType = 1;
    task.SendTime.wHour = 8;
    task.SendTime.wMinute = 30;
    task.FileCount = 1;
    Gbk::storeField(task.Files[0], m_workDir + QStringLiteral("Reports/日报.csv"));
    task.ReceiverCount = 1;
    Gbk::storeField(task.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
    Gbk::storeField(task.Title, QStringLiteral("日报"));
    m_files.tables.ReportTasks.append(task);
    ASSERT_TRUE(m_files.write(m_workDir, m_server.port()));

    // A daily report for 08:30 is due at the first trigger tick between 08:31:11 and 08:31:30.
    TStation station(m_workDir);
    station.start(QStringLiteral("2026-03-05 08:31:08"));
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    ASSERT_TRUE(m_server.waitForMails(1, 15000)) << station.output().toStdString();
    const QJsonObject mail = SmtpTest::checkMail(m_server.mails().first());
    EXPECT_TRUE(mail[QStringLiteral("subject")].toString().startsWith(QStringLiteral("日报(2026-3-5 08:31:")))
        << mail[QStringLiteral("subject")].toString().toStdString();
    const QJsonArray attachments = mail[QStringLiteral("attachments")].toArray();
    ASSERT_EQ(attachments.size(), 1);
    EXPECT_EQ(attachments[0].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("日报20260305.csv"));
    EXPECT_EQ(fromBase64(attachments[0].toObject()[QStringLiteral("bytes_b64")]),
        QByteArray("时间,有功功率\r\n08:00,1520\r\n"));
    EXPECT_TRUE(waitForDebugLine(m_workDir,
        text(LangText::QorsmailMain_Str::Str27) + QStringLiteral("\" 日报 \" ")
            + text(LangText::QorsmailMain_Str::Str25)));
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(Station, AnEventMailAddedInTheWindowIsSent)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    // No task file: only the settings file, which points at the test server. Editing is allowed from the start.
    QFile ini(m_workDir + QStringLiteral("QorMail.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[SMTP]\r\nsmtpaddr=127.0.0.1\r\nsmtpport=" + QByteArray::number(m_server.port())
        + "\r\nLocalEmailAddr=station@example.cn\r\n");
    ini.close();
    const QString script = m_workDir + QStringLiteral("driver.json");
    QFile scriptFile(script);
    ASSERT_TRUE(scriptFile.open(QIODevice::WriteOnly));
    scriptFile.write(QStringLiteral(R"([
        {"action": "AddEventMail1"},
        {"dialog": "TEventmailPropertyDlg",
         "set": {"TitleEdit": "主变事故", "WaitSecEdit": 1, "ReceiverMemo": "zhang@example.cn\nops@example.cn"},
         "click": "OkBtn"}
    ])")
                         .toUtf8());
    scriptFile.close();

    TStation station(m_workDir);
    station.setEnvironment(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(QORSMAIL_TEST_PLUGIN_DIR));
    station.setEnvironment(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("qorsmaildriver:") + script);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    ASSERT_TRUE(station.waitForOutput("qorsmail-driver: step 2 done")) << station.output().toStdString();
    ASSERT_FALSE(station.output().contains("qorsmail-driver: failed")) << station.output().toStdString();
    QThread::msleep(300); // the queued OK click takes the task into the table

    ASSERT_TRUE(postEvent(m_workDir, 3, 1, QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(m_server.waitForMails(1, 20000)) << station.output().toStdString();
    const QJsonObject mail = SmtpTest::checkMail(m_server.mails().first());
    ASSERT_FALSE(mail.contains(QStringLiteral("error"))) << mail[QStringLiteral("error")].toString().toStdString();
    EXPECT_TRUE(mail[QStringLiteral("subject")].toString().startsWith(QStringLiteral("主变事故(")))
        << mail[QStringLiteral("subject")].toString().toStdString();
    QStringList recipients;
    for (const QJsonValue& r : mail[QStringLiteral("envelope")].toObject()[QStringLiteral("rcpt_tos")].toArray()) {
        recipients << r.toString();
    }
    EXPECT_EQ(recipients, (QStringList{QStringLiteral("zhang@example.cn"), QStringLiteral("ops@example.cn")}));
    EXPECT_EQ(mail[QStringLiteral("to")].toArray().size(), 2);
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(Station, ASecondStartRaisesTheFirstAndACrashNeverBlocksTheNext)
{
    ASSERT_TRUE(m_files.write(m_workDir, 25));
    TStation first(m_workDir);
    first.start();
    ASSERT_TRUE(first.waitForWindow()) << first.output().toStdString();

    TStation second(m_workDir);
    second.start();
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_FALSE(second.output().contains("main window shown"));
    EXPECT_TRUE(first.waitForOutput("qormail: window restored")) << first.output().toStdString();
    // The second start left the event-log library and the debug log alone.
    EXPECT_EQ(readDebugLog(m_workDir).count(text(LangText::QorsmailMain_Str::Str0)), 1);

    ::kill(static_cast<pid_t>(first.pid()), SIGKILL);
    first.waitForExit();
    TStation third(m_workDir);
    third.start();
    EXPECT_TRUE(third.waitForWindow()) << third.output().toStdString();
    EXPECT_EQ(third.terminate(), 0);
    EXPECT_TRUE(readDebugLog(m_workDir).endsWith(text(LangText::QorsmailMain_Str::Str2) + QStringLiteral("\r\n"))
        || readDebugLog(m_workDir).endsWith(text(LangText::QorsmailMain_Str::Str2)));
}

} // namespace
