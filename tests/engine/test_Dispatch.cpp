// SPDX-License-Identifier: MIT
#include "CoreTestApp.h"
#include "EngineFixture.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "QorsmailFunc.h"
#include "QorsmailMain.h"
#include "SmtpSession.h"
#include "SmtpTestServer.h"
#include "TempWorkDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

const SYSTEMTIME T0 = MakeSystemTime(2024, 7, 3, 14, 0, 0, 0);

TEventMailTask eventTask(const QString& title, int32_t waitSec = 0)
{
    TEventMailTask t{};
    Gbk::storeField(t.Title, title);
    t.WaitSec = waitSec;
    t.ReceiverCount = 1;
    Gbk::storeFieldBytes(t.Receivers[0].Addr, "ops@example.cn");
    return t;
}

TReportMailTask reportTask(const QString& title, const QString& file)
{
    TReportMailTask t{};
    Gbk::storeField(t.Title, title);
    t.FileCount = 1;
    Gbk::storeField(t.Files[0], file);
    t.ReceiverCount = 1;
    Gbk::storeFieldBytes(t.Receivers[0].Addr, "ops@example.cn");
    return t;
}

QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? Gbk::decode(f.readAll()) : QString();
}

class DispatchTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        prepare(T0);
        m_log.WritePos = 100;
        m_log.putEvent(10, 1, 1, U("事件"));
        createEngine();
        auto fake = std::make_unique<FakeSmtpSession>();
        m_fake = fake.get();
        m_main->setSmtpSession(std::move(fake));
    }

    // An event task marked by the trigger at `at`, for the events from position 10 on.
    int addMarkedEvent(const QString& title, const SYSTEMTIME& at = T0, int32_t waitSec = 0)
    {
        m_tables.EventTasks.append(eventTask(title, waitSec));
        const int i = m_tables.EventTasks.count() - 1;
        m_tables.EventTasks.state(i) = {1, 10, 11, at, 0};
        return i;
    }

    int addDueReport(const QString& title, const QString& file, const SYSTEMTIME& due = T0)
    {
        m_tables.ReportTasks.append(reportTask(title, file));
        const int j = m_tables.ReportTasks.count() - 1;
        m_tables.ReportTasks.state(j) = {1, due, 0};
        return j;
    }

    QString reportFile()
    {
        const QString path = m_dir.path() + U("/月报.xls");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("xls");
        return path;
    }

    void passAt(int secondsAfterT0)
    {
        QDateTime t = FromSystemTime(T0).addSecs(secondsAfterT0);
        m_clock.set(t);
        m_main->SendMailTimerTimer();
    }

    FakeSmtpSession* m_fake = nullptr;
};

const QString Sent = U("发送事件邮件\" 日报 \" 成功！");
const QString GivenUp = U("发送事件邮件\" 日报\" 失败！");

} // namespace

TEST_F(DispatchTest, CreateEngineSetsUpStateLogAndSettings)
{
    // A task file with one event task and an ini file that switches on TLS.
    TMailTables source;
    source.SmtpSettings.smtpport = 2525;
    Gbk::storeFieldBytes(source.SmtpSettings.smtpaddr, "mail.example.cn");
    source.SmtpSettings.NeedAuth = 1;
    Gbk::storeFieldBytes(source.SmtpSettings.Username, "  scada ");
    Gbk::storeFieldBytes(source.SmtpSettings.Password, " secret  ");
    source.EventTasks.append(eventTask(U("日报")));
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("CfgCache")));
    QFile cfg(m_dir.path() + QStringLiteral("/CfgCache/qorsmail.cfg"));
    ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
    cfg.write(TaskFileBytes(source));
    cfg.close();
    QFile ini(m_dir.path() + QStringLiteral("/QorMail.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[SMTP]\r\nSSL=1\r\nCAFile=/etc/qorvane/ca.pem\r\n");
    ini.close();

    m_main->CreateEngine();
    EXPECT_EQ(m_main->triggerState().ReadPos, 100);
    EXPECT_EQ(m_main->triggerState().WritePos, 100);
    EXPECT_EQ(m_main->triggerState().EventBuffer.size(), static_cast<size_t>(EventRingSize));
    EXPECT_EQ(m_tables.workDirPath(), m_dir.path() + QLatin1Char('/'));
    EXPECT_EQ(m_tables.EventTaskCount(), 1);
    EXPECT_FALSE(m_main->EditAllowed());
    EXPECT_FALSE(m_main->ComputerName().isEmpty());
    EXPECT_LE(m_main->ComputerName().size(), 127);
    EXPECT_FALSE(m_main->TriggerTimer().isActive());
    EXPECT_FALSE(m_main->SendMailTimer().isActive());
    EXPECT_EQ(m_main->TriggerTimer().interval(), 5000);
    EXPECT_EQ(m_main->SendMailTimer().interval(), 1000);

    const TSmtpConnection& c = m_fake->connection();
    EXPECT_EQ(c.host, QByteArray("mail.example.cn"));
    EXPECT_EQ(c.port, 2525);
    EXPECT_EQ(c.tls, TSmtpTls::Implicit);
    EXPECT_TRUE(c.login);
    EXPECT_EQ(c.user, QByteArray("scada"));
    EXPECT_EQ(c.password, QByteArray("secret"));
    EXPECT_EQ(c.caFile, QStringLiteral("/etc/qorvane/ca.pem"));

    const QString logPath = m_dir.path() + QStringLiteral("/Debug/QorMail.log");
    const QString text = readFile(logPath);
    EXPECT_TRUE(text.contains(QString(54, QLatin1Char('-')) + QStringLiteral("\r\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("2024-7-3 14:00:00.000, ") + U("Qorsmail 启动")));

    m_main->WriteLogLine(U("一行"));
    ASSERT_EQ(m_panel.size(), 1);
    EXPECT_EQ(m_panel.front(), U("一行"));
    EXPECT_TRUE(readFile(logPath).contains(QStringLiteral("2024-7-3 14:00:00.000, ") + U("一行")));

    m_main->DestroyEngine();
    EXPECT_EQ(m_tables.EventTaskCount(), 0);
    EXPECT_TRUE(readFile(logPath).contains(U("Qorsmail 退出运行")));
    EXPECT_EQ(m_main->DebugLog(), nullptr);
}

TEST_F(DispatchTest, NoTasksAllowEditingAndAFailedWritePosStartsAtZero)
{
    m_log.WritePosOk = false;
    m_main->CreateEngine();
    EXPECT_EQ(m_main->triggerState().ReadPos, 0);
    EXPECT_EQ(m_main->triggerState().WritePos, 0);
    EXPECT_TRUE(m_main->EditAllowed());
    EXPECT_EQ(m_fake->connection().port, 25);
    EXPECT_EQ(m_fake->connection().tls, TSmtpTls::None);
    EXPECT_FALSE(m_fake->connection().login);

    // STARTTLS from the settings file; implicit TLS wins when both are set.
    m_tables.StartTLS = 1;
    m_main->ApplySmtpSettings();
    EXPECT_EQ(m_fake->connection().tls, TSmtpTls::StartTls);
    m_tables.UseSSL = 1;
    m_main->ApplySmtpSettings();
    EXPECT_EQ(m_fake->connection().tls, TSmtpTls::Implicit);
}

TEST_F(DispatchTest, RetriesAreCountedFromTheTriggerUntilGivenUp)
{
    m_tables.SmtpSettings.MaxSendTries = 3;
    m_tables.SmtpSettings.WaitSeconds = 60;
    addMarkedEvent(U("日报"));
    m_log.WritePos = 11;
    m_fake->fallback = FakeSmtpSession::fail(QStringLiteral("Couldn't connect to server.\n"));

    passAt(0);
    ASSERT_EQ(m_fake->sent.size(), 1u);
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 2);
    EXPECT_EQ(m_tables.EventTasks.state(0).RetryCount, 1);
    EXPECT_EQ(m_tables.EventTasks.state(0).EndPos, 11);
    ASSERT_EQ(m_panel.size(), 1);
    EXPECT_EQ(m_panel.front(), U("Couldn't connect to server——日报(2024-7-3 14:00:00.000)"));
    EXPECT_TRUE(m_main->SendMailTimer().isActive()); // switched on again after the pass

    passAt(59);
    EXPECT_EQ(m_fake->sent.size(), 1u);
    passAt(60);
    EXPECT_EQ(m_fake->sent.size(), 2u);
    passAt(119);
    EXPECT_EQ(m_fake->sent.size(), 2u);
    passAt(120);
    EXPECT_EQ(m_fake->sent.size(), 3u);
    passAt(500);
    EXPECT_EQ(m_fake->sent.size(), 3u);

    ASSERT_EQ(m_panel.size(), 4);
    EXPECT_EQ(m_panel.back(), GivenUp);
    const TEventTaskState zero{};
    EXPECT_EQ(std::memcmp(&m_tables.EventTasks.state(0), &zero, sizeof zero), 0);
}

TEST_F(DispatchTest, WaitBeforeTheFirstAttemptAndSuccess)
{
    m_tables.SmtpSettings.MaxSendTries = 5;
    addMarkedEvent(U("日报"), T0, 30);
    passAt(29);
    EXPECT_TRUE(m_fake->sent.empty());
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 1);
    passAt(30);
    ASSERT_EQ(m_fake->sent.size(), 1u);
    ASSERT_EQ(m_panel.size(), 1);
    EXPECT_EQ(m_panel.front(), Sent);
    const TEventTaskState zero{};
    EXPECT_EQ(std::memcmp(&m_tables.EventTasks.state(0), &zero, sizeof zero), 0);
}

TEST_F(DispatchTest, ATitleWithALineBreakStaysOneLogLine)
{
    m_main->CreateEngine();
    Gbk::storeFieldBytes(m_tables.SmtpSettings.LocalEmailAddr, "station@example.cn");
    m_tables.SmtpSettings.MaxSendTries = 1;
    addMarkedEvent(U("日报\r\nBcc: x"));
    passAt(0);
    ASSERT_EQ(m_panel.size(), 1);
    const QString escaped = U("发送事件邮件\" 日报\\x0d\\x0aBcc: x \" 成功！");
    EXPECT_EQ(m_panel.front(), escaped);
    const QString log = readFile(m_dir.path() + QStringLiteral("/Debug/QorMail.log"));
    EXPECT_TRUE(log.contains(QStringLiteral("2024-7-3 14:00:00.000, ") + escaped + QStringLiteral("\r\n")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("\nBcc")));
    m_main->DestroyEngine();
}

TEST_F(DispatchTest, MaxSendTriesZeroGivesUpAfterOneAttempt)
{
    m_tables.SmtpSettings.MaxSendTries = 0;
    addMarkedEvent(U("日报"));
    m_fake->fallback = FakeSmtpSession::fail(QStringLiteral("refused"));
    passAt(0);
    EXPECT_EQ(m_fake->sent.size(), 1u);
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
    EXPECT_EQ(m_panel.back(), GivenUp);

    // An event mail without a single readable event counts as a failed attempt, without a connection.
    m_tables.SmtpSettings.MaxSendTries = 2;
    m_log.ReadResult = false;
    m_tables.EventTasks.state(0) = {1, 10, 11, T0, 0};
    passAt(1);
    EXPECT_EQ(m_fake->sent.size(), 1u);
    EXPECT_EQ(m_tables.EventTasks.state(0).RetryCount, 1);
}

TEST_F(DispatchTest, ReportOutcomes)
{
    m_tables.SmtpSettings.MaxSendTries = 2;
    m_tables.SmtpSettings.WaitSeconds = 60;
    const QString file = reportFile();

    // No report file: one line, no retry, DueTime kept.
    addDueReport(U("月报"), m_dir.path() + U("/缺失.xls"));
    passAt(0);
    EXPECT_TRUE(m_fake->sent.empty());
    ASSERT_EQ(m_panel.size(), 1);
    EXPECT_EQ(m_panel.front(), U("发送报表邮件\" 月报\" 时未找到报表文件，取消发送！"));
    EXPECT_EQ(m_tables.ReportTasks.state(0).State, 0);
    EXPECT_EQ(m_tables.ReportTasks.state(0).DueTime.wHour, 14);
    passAt(1);
    EXPECT_EQ(m_panel.size(), 1);

    // Sent.
    m_panel.clear();
    m_tables.ReportTasks.replace(0, reportTask(U("月报"), file));
    m_tables.ReportTasks.state(0) = {1, T0, 0};
    passAt(2);
    ASSERT_EQ(m_fake->sent.size(), 1u);
    // The closing mark ends in a blank and the outcome starts with one.
    EXPECT_EQ(m_panel, QStringList{U("发送报表邮件\" 月报 \"  成功！")});

    // Failed twice with MaxSendTries 2: attempts at due + 0 and due + 60, then the give-up line.
    m_panel.clear();
    m_fake->fallback = FakeSmtpSession::fail(QStringLiteral("Timeout was reached"));
    m_tables.ReportTasks.state(0) = {1, T0, 0};
    passAt(3);
    EXPECT_EQ(m_fake->sent.size(), 2u);
    passAt(59);
    EXPECT_EQ(m_fake->sent.size(), 2u);
    passAt(60);
    EXPECT_EQ(m_fake->sent.size(), 3u);
    EXPECT_EQ(m_panel.back(), U("发送报表邮件\" 月报\" 失败！"));
    EXPECT_EQ(m_tables.ReportTasks.state(0).State, 0);
    EXPECT_EQ(m_tables.ReportTasks.state(0).RetryCount, 0);
}

TEST_F(DispatchTest, EventTasksGoFirstInTableOrder)
{
    m_tables.SmtpSettings.MaxSendTries = 1;
    addDueReport(U("月报"), reportFile());
    addMarkedEvent(U("甲"));
    addMarkedEvent(U("乙"));
    passAt(0);
    ASSERT_EQ(m_fake->sent.size(), 3u);
    auto subjectOf = [this](size_t k) {
        for (const auto& h : m_fake->sent[k].headers) {
            if (h.startsWith("Subject: ")) {
                return h;
            }
        }
        return QByteArray();
    };
    const QByteArray first = subjectOf(0);
    const QByteArray second = subjectOf(1);
    EXPECT_TRUE(m_fake->sent[0].hasText && m_fake->sent[1].hasText);
    EXPECT_NE(first, second);
    EXPECT_EQ(m_fake->sent[2].attachments.size(), 1u);
    EXPECT_EQ(m_panel.size(), 3);
    EXPECT_TRUE(m_panel[0].contains(U("甲")));
    EXPECT_TRUE(m_panel[1].contains(U("乙")));
    EXPECT_TRUE(m_panel[2].contains(U("月报")));
}

TEST_F(DispatchTest, TablesChangedDuringASendAreHandledByTaskIdentity)
{
    m_tables.SmtpSettings.MaxSendTries = 3;
    addMarkedEvent(U("日报"));
    addMarkedEvent(U("周报"));
    m_fake->holdSends = true;
    m_fake->fallback = FakeSmtpSession::fail(QStringLiteral("later"));
    int holds = 0;
    m_fake->onHold = [&] {
        ++holds;
        EXPECT_TRUE(m_main->isSending());
        EXPECT_FALSE(m_main->SendMailTimer().isActive());
        if (holds == 1) {
            // The user deletes the task being sent and adds enough tasks to move the table's storage.
            m_tables.EventTasks.remove(0);
            for (int k = 0; k < 50; ++k) {
                m_tables.EventTasks.append(eventTask(QStringLiteral("new %1").arg(k)));
            }
            // A nested pass does nothing while this one runs.
            m_main->SendMailTimerTimer();
        }
        m_fake->release();
    };
    passAt(0);
    // Both tasks were tried once in this pass; the deleted one left no trace, the other counts its failure.
    EXPECT_EQ(holds, 2);
    EXPECT_EQ(m_fake->sent.size(), 2u);
    ASSERT_EQ(m_tables.EventTasks.count(), 51);
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(0).Title), U("周报"));
    EXPECT_EQ(m_tables.EventTasks.state(0).RetryCount, 1);
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 2);
    for (int k = 1; k < 51; ++k) {
        EXPECT_EQ(m_tables.EventTasks.state(k).State, 0);
    }
    EXPECT_FALSE(m_main->isSending());
    EXPECT_TRUE(m_main->SendMailTimer().isActive());

    // An edit during the send drops the mark; the outcome of the old task's mail is not applied to the new one.
    m_fake->fallback = FakeSmtpSession::success();
    m_fake->onHold = [&] {
        m_tables.EventTasks.replace(0, eventTask(U("周报 新")));
        m_fake->release();
    };
    m_panel.clear();
    passAt(1000);
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
    EXPECT_EQ(m_tables.EventTasks.state(0).RetryCount, 0);
    EXPECT_EQ(m_panel, QStringList{U("发送事件邮件\" 周报 \" 成功！")});
}

namespace {

// The send loop over the real session against the local test server in one of its fault modes.
class DispatchFaultTest : public DispatchTest
{
protected:
    void useRealSession(const QString& mode)
    {
        ASSERT_TRUE(m_server.start(mode)) << m_server.error().toStdString();
        auto session = std::make_unique<TCurlSmtpSession>();
        session->setTimeouts(1000, 1, 5);
        m_main->setSmtpSession(std::move(session));
        Gbk::storeFieldBytes(m_tables.SmtpSettings.smtpaddr, "127.0.0.1");
        m_tables.SmtpSettings.smtpport = m_server.port();
        m_tables.SmtpSettings.MaxSendTries = 3;
        m_tables.SmtpSettings.WaitSeconds = 60;
        m_main->ApplySmtpSettings();
        addMarkedEvent(U("日报"));
    }

    // Three failed attempts at 0, 60 and 120 s: three error lines (each with the subject), then the give-up line.
    void expectGivenUpAfterThreeAttempts(const QString& errorPart)
    {
        for (int at : {0, 59, 60, 119, 120, 180}) {
            passAt(at);
        }
        ASSERT_EQ(m_panel.size(), 4) << m_panel.join(QLatin1Char('\n')).toStdString();
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(m_panel[k].contains(errorPart)) << m_panel[k].toStdString();
            EXPECT_TRUE(m_panel[k].contains(U("——日报(2024-7-3 14:"))) << m_panel[k].toStdString();
        }
        EXPECT_EQ(m_panel[3], GivenUp);
        EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
        EXPECT_TRUE(m_server.mails().isEmpty());
    }

    SmtpTest::SmtpTestServer m_server;
};

} // namespace

TEST_F(DispatchFaultTest, LoginRefused)
{
    useRealSession(QStringLiteral("auth"));
    m_tables.SmtpSettings.NeedAuth = 1;
    Gbk::storeFieldBytes(m_tables.SmtpSettings.Username, "scada");
    Gbk::storeFieldBytes(m_tables.SmtpSettings.Password, "wrong");
    m_main->ApplySmtpSettings();
    expectGivenUpAfterThreeAttempts(QStringLiteral("535"));
}

TEST_F(DispatchFaultTest, ConnectionRefused)
{
    useRealSession(QStringLiteral("plain"));
    m_server.stop();
    expectGivenUpAfterThreeAttempts(QString());
}

TEST_F(DispatchFaultTest, ConnectionDroppedInData)
{
    useRealSession(QStringLiteral("drop-data"));
    expectGivenUpAfterThreeAttempts(QString());
}

TEST_F(DispatchFaultTest, SilentServerTimesOutAndTheLoopStaysResponsive)
{
    useRealSession(QStringLiteral("silent"));
    m_tables.SmtpSettings.MaxSendTries = 1;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(10);
    QElapsedTimer clock;
    clock.start();
    passAt(0);
    const qint64 elapsed = clock.elapsed();
    EXPECT_LT(elapsed, 5000);
    EXPECT_GT(ticks, static_cast<int>(elapsed / 10 / 4));
    ASSERT_EQ(m_panel.size(), 2) << m_panel.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_panel[1], GivenUp);
}

TEST_F(DispatchFaultTest, OneRefusedRecipientIsLoggedAndTheMailSent)
{
    useRealSession(QStringLiteral("plain"));
    TEventMailTask& task = m_tables.EventTasks.task(0);
    task.ReceiverCount = 2;
    Gbk::storeFieldBytes(task.Receivers[1].Addr, "reject-me@example.cn");
    passAt(0);
    ASSERT_EQ(m_panel.size(), 2) << m_panel.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_panel[0].contains(QStringLiteral("reject-me@example.cn")));
    EXPECT_TRUE(m_panel[0].contains(QStringLiteral("550")));
    EXPECT_EQ(m_panel[1], Sent);
    EXPECT_TRUE(m_server.waitForMails(1));
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
}

// The whole road of one event over the real ring library and the real server: posted into the ring, marked by
// the trigger tick, sent by the send pass, received with its line.
TEST(DispatchRoad, EventFromTheRingToTheMailbox)
{
    coreTestApp();
    TTempWorkDir workDir;
    ASSERT_EQ(workDir.initResult(), 0);
    SmtpTest::SmtpTestServer server;
    ASSERT_TRUE(server.start(QStringLiteral("plain"))) << server.error().toStdString();
    ::PostEvent(3, 1, "before start", nullptr); // already in the ring: never mailed

    TMailTables tables;
    TQorsLog2Library log;
    TManualClock clock(T0);
    TQorsmailMain engine(tables, log, clock);
    engine.CreateEngine();
    ASSERT_EQ(tables.workDirPath(), workDir.path());
    Gbk::storeFieldBytes(tables.SmtpSettings.smtpaddr, "127.0.0.1");
    tables.SmtpSettings.smtpport = server.port();
    Gbk::storeFieldBytes(tables.SmtpSettings.LocalEmailAddr, "station@example.cn");
    tables.SmtpSettings.MaxSendTries = 1;
    engine.ApplySmtpSettings();
    TEventMailTask task = eventTask(U("事故报告"));
    task.LevelMask = -1;
    tables.EventTasks.append(task);
    QStringList panel;
    QObject::connect(&engine, &TQorsmailMain::logLineAdded, [&panel](const QString& line) { panel.append(line); });

    QorvaneSystemTime at{};
    const SYSTEMTIME when = MakeSystemTime(2024, 7, 3, 13, 59, 58, 120);
    std::memcpy(&at, &when, sizeof at);
    ASSERT_GE(::PostEvent(3, 1, Gbk::encode(U("1号主变差动保护动作")).constData(), &at), 0);
    engine.TriggerTimerTimer();
    ASSERT_EQ(tables.EventTasks.state(0).State, 1);
    engine.SendMailTimerTimer();
    ASSERT_EQ(panel.size(), 1);
    EXPECT_TRUE(panel.front().endsWith(U("发送事件邮件\" 事故报告 \" 成功！"))) << panel.front().toStdString();

    ASSERT_TRUE(server.waitForMails(1));
    const QJsonObject m = SmtpTest::checkMail(server.mails().front());
    EXPECT_EQ(m["subject"].toString(), U("事故报告(2024-7-3 14:00:00.000)"));
    ASSERT_EQ(m["texts"].toArray().size(), 1);
    EXPECT_EQ(QByteArray::fromBase64(m["texts"].toArray()[0].toObject()["bytes_b64"].toString().toLatin1()),
        Gbk::encode(U("2024-7-3- 13:59:58.120  1号主变差动保护动作\r\n")));
    engine.DestroyEngine();
    EXPECT_TRUE(readFile(workDir.path() + QStringLiteral("Debug/QorMail.log")).contains(U("事故报告 \" 成功！")));
}
