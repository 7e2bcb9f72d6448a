// SPDX-License-Identifier: MIT
#include "CoreTestApp.h"
#include "EngineFixture.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "MailComposer.h"
#include "QorsmailMain.h"
#include "SmtpSession.h"
#include "SmtpTestServer.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

using SmtpTest::SmtpTestServer;
using TTestMailResult = TQorsmailMain::TTestMailResult;

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

const SYSTEMTIME T0 = MakeSystemTime(2024, 7, 3, 14, 0, 0, 0);

class TestMailTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        prepare(T0);
        m_tables.SmtpSettings.MaxSendTries = 3;
        m_tables.SmtpSettings.WaitSeconds = 60;
        createEngine();

        TEventMailTask e{};
        Gbk::storeField(e.Title, U("日报"));
        e.TypeCount = 1;
        e.Types[0] = 1;
        e.LevelMask = 6;
        e.ReceiverCount = 1;
        Gbk::storeFieldBytes(e.Receivers[0].Addr, "ops@example.cn");
        m_tables.EventTasks.append(e);

        TReportMailTask r{};
        Gbk::storeField(r.Title, U("月报"));
        r.FileCount = 2;
        Gbk::storeField(r.Files[0], m_dir.path() + U("/月报.xls"));
        Gbk::storeField(r.Files[1], m_dir.path() + U("/周报.xls"));
        r.ReceiverCount = 1;
        Gbk::storeFieldBytes(r.Receivers[0].Addr, "ops@example.cn");
        m_tables.ReportTasks.append(r);
    }

    void startServer()
    {
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        m_tables.SmtpSettings.smtpport = m_server.port();
        Gbk::storeFieldBytes(m_tables.SmtpSettings.smtpaddr, "127.0.0.1");
        m_main->ApplySmtpSettings();
    }

    QJsonObject onlyMail()
    {
        if (!m_server.waitForMails(1) || m_server.mails().size() != 1) {
            return QJsonObject{{QStringLiteral("error"), QStringLiteral("expected exactly one mail")}};
        }
        return SmtpTest::checkMail(m_server.mails().front());
    }

    static QString text(const QJsonObject& mail)
    {
        const QJsonArray texts = mail["texts"].toArray();
        return texts.size() == 1
            ? Gbk::decode(QByteArray::fromBase64(texts[0].toObject()["bytes_b64"].toString().toLatin1()))
            : QString();
    }

    SmtpTestServer m_server;
};

} // namespace

TEST_F(TestMailTest, EventTestMailReachesTheServerAndLeavesThePendingMarkAlone)
{
    startServer();
    const TEventTaskState pending{2, 10, 11, MakeSystemTime(2024, 7, 3, 13, 59, 0), 1};
    m_tables.EventTasks.state(0) = pending;
    const QString before = TaskStatusText(m_main->taskStatus().status(TTaskKind::Event, 0));

    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Event, 0), TTestMailResult::Sent);
    const QJsonObject m = onlyMail();
    ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
    EXPECT_EQ(m["subject"].toString(), U("[测试] 日报(2024-7-3 14:00:00.000)"));
    EXPECT_EQ(text(m),
        U("这是一封测试邮件，用于检查任务\"日报\"的邮件能否送达，不是真实的报警或报表。\r\n触发条件：\r\n符合以下类型："
          "\r\n    ")
            + EventTypeName(1) + U("\r\n符合以下等级：\r\n    事故  故障  \r\n"));
    EXPECT_EQ(std::memcmp(&m_tables.EventTasks.state(0), &pending, sizeof pending), 0);
    EXPECT_EQ(TaskStatusText(m_main->taskStatus().status(TTaskKind::Event, 0)), before);
    ASSERT_EQ(m_panel.size(), 1);
    EXPECT_EQ(m_panel.back(), U("测试邮件\"日报\"发送成功"));

    // A task that takes every event says so.
    m_tables.EventTasks.task(0).TypeCount = 0;
    m_tables.EventTasks.task(0).LevelMask = -1;
    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Event, 0), TTestMailResult::Sent);
    ASSERT_TRUE(m_server.waitForMails(2));
    EXPECT_TRUE(text(SmtpTest::checkMail(m_server.mails().back())).endsWith(U("触发条件：\r\n    任何事件\r\n")));
}

TEST_F(TestMailTest, ReportTestMailAttachesWhatItsNamesFindNow)
{
    startServer();
    m_tables.ReportTasks.state(0) = {1, T0, 2};
    const TReportTaskState pending = m_tables.ReportTasks.state(0);

    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Report, 0), TTestMailResult::NoReportFile);
    EXPECT_EQ(m_panel.back(), U("测试邮件\"月报\"未发送：该任务的报表文件现在一个也找不到"));
    EXPECT_FALSE(m_server.waitForMails(1, 300));

    QFile f(m_dir.path() + U("/周报20240703.xls"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("xls");
    f.close();
    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Report, 0), TTestMailResult::Sent);
    const QJsonObject m = onlyMail();
    ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
    EXPECT_EQ(m["subject"].toString(), U("[测试] 月报(2024-7-3 14:00:00.000)"));
    const QJsonArray atts = m["attachments"].toArray();
    ASSERT_EQ(atts.size(), 1);
    EXPECT_EQ(atts[0].toObject()["filename"].toString(), U("周报20240703.xls"));
    EXPECT_TRUE(text(m).startsWith(U("这是一封测试邮件"))) << text(m).toStdString();
    EXPECT_EQ(std::memcmp(&m_tables.ReportTasks.state(0), &pending, sizeof pending), 0);
    EXPECT_EQ(m_panel.back(), U("测试邮件\"月报\"发送成功"));
}

TEST_F(TestMailTest, ARefusedTestMailIsLoggedAndCountsNoAttempt)
{
    startServer();
    Gbk::storeFieldBytes(m_tables.EventTasks.task(0).Receivers[0].Addr, "reject@example.cn");
    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Event, 0), TTestMailResult::Failed);
    ASSERT_EQ(m_panel.size(), 2) << m_panel.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_panel[0].endsWith(U("——[测试] 日报(2024-7-3 14:00:00.000)"))) << m_panel[0].toStdString();
    EXPECT_EQ(m_panel[1], U("测试邮件\"日报\"发送失败"));
    const TEventTaskState zero{};
    EXPECT_EQ(std::memcmp(&m_tables.EventTasks.state(0), &zero, sizeof zero), 0);
    EXPECT_EQ(TaskStatusText(m_main->taskStatus().status(TTaskKind::Event, 0)), U("空闲"));
    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Event, 1), TTestMailResult::NoTask);
    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Report, -1), TTestMailResult::NoTask);
}

TEST_F(TestMailTest, OneExchangeAtATime)
{
    auto owned = std::make_unique<FakeSmtpSession>();
    FakeSmtpSession& fake = *owned;
    m_main->setSmtpSession(std::move(owned));
    m_log.WritePos = 11;
    m_log.putEvent(10, 1, 1, U("事件"));
    m_tables.EventTasks.state(0) = {1, 10, 11, T0, 0};

    // A test mail asked for while the send loop waits on the server is refused; nothing is sent twice.
    fake.holdSends = true;
    TTestMailResult during = TTestMailResult::Sent;
    fake.onHold = [&] {
        during = m_main->SendTestMail(TTaskKind::Event, 0);
        fake.release();
    };
    m_main->SendMailTimerTimer();
    EXPECT_EQ(during, TTestMailResult::Busy);
    EXPECT_EQ(fake.sent.size(), 1u);
    EXPECT_TRUE(m_panel.contains(U("测试邮件\"日报\"未发送：另一封邮件正在发送，请稍后再试")));

    // A send tick during a test mail leaves the due task for a later tick.
    m_tables.EventTasks.state(0) = {1, 10, 11, T0, 0};
    bool tickSent = true;
    fake.onHold = [&] {
        const auto n = fake.sent.size();
        m_main->SendMailTimerTimer();
        tickSent = fake.sent.size() != n;
        fake.release();
    };
    EXPECT_EQ(m_main->SendTestMail(TTaskKind::Event, 0), TTestMailResult::Sent);
    EXPECT_FALSE(tickSent);
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 1);
    EXPECT_FALSE(m_main->isSendingTestMail());
    fake.holdSends = false;
    m_main->SendMailTimerTimer();
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
}
