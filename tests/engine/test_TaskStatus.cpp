// SPDX-License-Identifier: MIT
#include "CoreTestApp.h"
#include "EngineFixture.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "QorsmailMain.h"
#include "SmtpSession.h"
#include "SmtpTestServer.h"
#include "TaskStatus.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <cstring>
#include <gtest/gtest.h>

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

const SYSTEMTIME T0 = MakeSystemTime(2024, 7, 3, 14, 0, 0, 0);

TLastOutcome outcome(TSendOutcome kind, const QString& error = {}, const SYSTEMTIME& at = T0)
{
    return {kind, at, error};
}

} // namespace

TEST(TaskStatusText, EachStateAndOutcomeReadsAsTheOperatorSeesIt)
{
    TSmtpSettings settings{};
    settings.MaxSendTries = 3;
    settings.WaitSeconds = 60;
    TEventMailTask task{};
    task.WaitSec = 30;
    const SYSTEMTIME now = MakeSystemTime(2024, 7, 3, 14, 0, 31);
    const SYSTEMTIME lateEvening = MakeSystemTime(2024, 7, 3, 23, 59, 50);

    struct Case
    {
        const char* name;
        TEventTaskState state;
        int32_t elapsed;
        SYSTEMTIME now;
        TLastOutcome last;
        QString expected;
    };
    const Case cases[] = {
        {"idle", {0, 0, 0, {}, 0}, 0, now, {}, U("空闲")},
        {"waiting", {1, 0, 0, {}, 0}, 10, now, {}, U("等待发送（还有 20 秒）")},
        {"wait over, the next pass sends", {1, 0, 0, {}, 0}, 45, now, {}, U("等待发送（还有 0 秒）")},
        {"due without a failure yet", {2, 0, 0, {}, 0}, 31, now, {}, U("等待发送（还有 0 秒）")},
        // Attempt 2 at WaitSec + 1 x WaitSeconds = 90 s after the trigger: 59 s from now.
        {"first retry",
            {2, 0, 0, {}, 1},
            31,
            now,
            outcome(TSendOutcome::Failed, QStringLiteral("Couldn't connect to server")),
            U("第 1 次重试，共 2 次，下次 14:01:30；上次 2024-7-3 14:00:00 失败：Couldn't connect to server")},
        {"retry past its time waits for the next pass",
            {2, 0, 0, {}, 2},
            400,
            now,
            {},
            U("第 2 次重试，共 2 次，下次 14:00:31")},
        {"next attempt after midnight",
            {2, 0, 0, {}, 1},
            80,
            lateEvening,
            {},
            U("第 1 次重试，共 2 次，下次 00:00:00")},
        {"given up",
            {0, 0, 0, {}, 0},
            0,
            now,
            outcome(TSendOutcome::GaveUp, U("拒绝")),
            U("空闲；上次 2024-7-3 14:00:00 失败，已放弃：拒绝")},
        {"sent", {0, 0, 0, {}, 0}, 0, now, outcome(TSendOutcome::Sent), U("空闲；上次 2024-7-3 14:00:00 成功")},
    };
    for (const Case& c : cases) {
        TTaskStatus s = EventTaskStatus(task, c.state, settings, c.elapsed, c.now);
        s.last = c.last;
        EXPECT_EQ(TaskStatusText(s), c.expected) << c.name;
    }

    // Report tasks count from the due time; a lowered MaxSendTries never shows fewer retries than already made.
    settings.MaxSendTries = 2;
    struct ReportCase
    {
        const char* name;
        TReportTaskState state;
        int32_t elapsed;
        QString expected;
    };
    const ReportCase reportCases[] = {
        {"idle", {0, T0, 0}, 0, U("空闲")},
        {"due", {1, T0, 0}, 0, U("等待发送（还有 0 秒）")},
        {"second retry", {1, T0, 2}, 100, U("第 2 次重试，共 2 次，下次 14:00:51")},
        {"more retries than allowed now", {1, T0, 3}, 100, U("第 3 次重试，共 3 次，下次 14:01:51")},
    };
    for (const ReportCase& c : reportCases) {
        TTaskStatus s = ReportTaskStatus(c.state, settings, c.elapsed, now);
        s.last = {};
        EXPECT_EQ(TaskStatusText(s), c.expected) << c.name;
    }

    TTaskStatus sending;
    sending.phase = TTaskPhase::Sending;
    sending.last = outcome(TSendOutcome::NoReportFile);
    EXPECT_EQ(TaskStatusText(sending), U("正在发送；上次 2024-7-3 14:00:00 未找到报表文件"));
}

TEST(TaskStatusText, SummaryCountsAndTheLastFailure)
{
    struct Case
    {
        const char* name;
        TStatusSummary summary;
        QString expected;
    };
    const Case cases[] = {
        {"quiet", {}, U("等待发送：0 个任务，正在重试：0 个任务")},
        {"busy", {2, 1, 1, false, {}, {}}, U("等待发送：2 个任务，正在重试：1 个任务，正在发送")},
        {"failure",
            {0, 1, 0, true, U("日报"), outcome(TSendOutcome::Failed, QStringLiteral("550 rejected"))},
            U("等待发送：0 个任务，正在重试：1 个任务；最近一次失败：2024-7-3 14:00:00 \"日报\" 失败：550 rejected")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusSummaryText(c.summary), c.expected) << c.name;
    }
}

namespace {

class TaskStatusEngineTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        prepare(T0);
        m_log.WritePos = 11;
        m_log.putEvent(10, 1, 1, U("事件"));
        m_tables.SmtpSettings.MaxSendTries = 2;
        m_tables.SmtpSettings.WaitSeconds = 60;
        createEngine();
    }

    FakeSmtpSession& useFake()
    {
        auto fake = std::make_unique<FakeSmtpSession>();
        FakeSmtpSession& f = *fake;
        m_main->setSmtpSession(std::move(fake));
        return f;
    }

    int addEventTask(const QString& title, int32_t waitSec, const QByteArray& addr = "ops@example.cn")
    {
        TEventMailTask t{};
        Gbk::storeField(t.Title, title);
        t.WaitSec = waitSec;
        t.LevelMask = -1;
        t.ReceiverCount = 1;
        Gbk::storeFieldBytes(t.Receivers[0].Addr, addr);
        m_tables.EventTasks.append(t);
        return m_tables.EventTasks.count() - 1;
    }

    void at(int secondsAfterT0) { m_clock.set(FromSystemTime(T0).addSecs(secondsAfterT0)); }
    QString eventText(int i) { return TaskStatusText(m_main->taskStatus().status(TTaskKind::Event, i)); }
    QString reportText(int j) { return TaskStatusText(m_main->taskStatus().status(TTaskKind::Report, j)); }
};

} // namespace

TEST_F(TaskStatusEngineTest, TheViewFollowsATaskFromIdleToGivenUp)
{
    FakeSmtpSession& fake = useFake();
    fake.fallback = FakeSmtpSession::fail(QStringLiteral("Couldn't connect to server.\n"));
    const int i = addEventTask(U("日报"), 30);
    EXPECT_EQ(eventText(i), U("空闲"));
    EXPECT_EQ(eventText(5), U("空闲")); // no such task

    m_tables.EventTasks.state(i) = {1, 10, 11, T0, 0};
    at(12);
    EXPECT_EQ(eventText(i), U("等待发送（还有 18 秒）"));
    EXPECT_EQ(StatusSummaryText(m_main->taskStatus().summary()), U("等待发送：1 个任务，正在重试：0 个任务"));

    // While the exchange runs the task reads as being sent.
    fake.holdSends = true;
    QString during;
    fake.onHold = [&] {
        during = eventText(i);
        fake.release();
    };
    at(30);
    m_main->SendMailTimerTimer();
    EXPECT_EQ(during, U("正在发送"));
    EXPECT_EQ(eventText(i),
        U("第 1 次重试，共 1 次，下次 14:01:30；上次 2024-7-3 14:00:30 失败：Couldn't connect to server"));
    EXPECT_EQ(StatusSummaryText(m_main->taskStatus().summary()),
        U("等待发送：0 个任务，正在重试：1 个任务；最近一次失败：2024-7-3 14:00:30 \"日报\" 失败：Couldn't "
          "connect to server"));

    fake.holdSends = false;
    at(90);
    m_main->SendMailTimerTimer();
    EXPECT_EQ(eventText(i), U("空闲；上次 2024-7-3 14:01:30 失败，已放弃：Couldn't connect to server"));
    EXPECT_EQ(m_panel.back(), U("发送事件邮件\" 日报\" 失败！"));

    // A success replaces the last outcome, the summary keeps the last failure; an edit starts afresh.
    fake.fallback = FakeSmtpSession::success();
    at(200);
    m_tables.EventTasks.state(i) = {1, 10, 11, m_clock.now(), 0};
    EXPECT_EQ(
        eventText(i), U("等待发送（还有 30 秒）；上次 2024-7-3 14:01:30 失败，已放弃：Couldn't connect to server"));
    at(230);
    m_main->SendMailTimerTimer();
    EXPECT_EQ(eventText(i), U("空闲；上次 2024-7-3 14:03:50 成功"));
    EXPECT_TRUE(m_main->taskStatus().summary().hasFailure);
    m_tables.EventTasks.replace(i, m_tables.EventTasks.task(i));
    EXPECT_EQ(eventText(i), U("空闲"));
    EXPECT_FALSE(m_main->taskStatus().summary().hasFailure);
}

TEST_F(TaskStatusEngineTest, ReportOutcomesAndAnEmptyEventRange)
{
    FakeSmtpSession& fake = useFake();
    TReportMailTask r{};
    Gbk::storeField(r.Title, U("月报"));
    r.FileCount = 1;
    Gbk::storeField(r.Files[0], m_dir.path() + U("/月报.xls"));
    r.ReceiverCount = 1;
    Gbk::storeFieldBytes(r.Receivers[0].Addr, "ops@example.cn");
    m_tables.ReportTasks.append(r);
    m_tables.ReportTasks.state(0) = {1, T0, 0};
    EXPECT_EQ(reportText(0), U("等待发送（还有 0 秒）"));
    m_main->SendMailTimerTimer();
    EXPECT_EQ(reportText(0), U("空闲；上次 2024-7-3 14:00:00 未找到报表文件"));
    EXPECT_TRUE(fake.sent.empty());

    // No readable event: a failure in our own words, since the library said nothing.
    const int i = addEventTask(U("日报"), 0);
    m_log.ReadResult = false;
    m_tables.EventTasks.state(i) = {1, 10, 11, T0, 0};
    m_main->SendMailTimerTimer();
    EXPECT_EQ(eventText(i), U("第 1 次重试，共 1 次，下次 14:01:00；上次 2024-7-3 14:00:00 失败：没有可读取的事件"));

    // The record of a deleted task does not move to the task that takes its index.
    m_tables.EventTasks.remove(i);
    addEventTask(U("新任务"), 0);
    EXPECT_EQ(eventText(i), U("空闲"));
}
