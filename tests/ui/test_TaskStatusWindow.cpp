// SPDX-License-Identifier: MIT
// The task status line, the node tool tips, the status bar summary and the test mail command, through the real
// window and engine against the SMTP test server.

#include "MainFormFixture.h"
#include "SmtpTestServer.h"
#include "TaskStatusDisplay.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

class TaskStatusWindow : public MainFormFixture
{
protected:
    // The window with the engine's own SMTP session, sending to the test server.
    void createRealForm()
    {
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        TMainFormOptions options;
        options.trayIcon = false;
        options.usrgateCandidates = {m_workDir + QStringLiteral("no-such/libUsrgate.so")};
        m_engine = std::make_unique<TQorsmailMain>(m_tables, m_log, m_clock);
        m_form = std::make_unique<TQorsmailMainForm>(*m_engine, options);
        Gbk::storeField(m_tables.SmtpSettings.smtpaddr, QStringLiteral("127.0.0.1"));
        m_tables.SmtpSettings.smtpport = m_server.port();
        m_tables.SmtpSettings.WaitSeconds = 60;
        m_engine->ApplySmtpSettings();
        // The test drives the passes itself.
        m_engine->TriggerTimer().stop();
        m_engine->SendMailTimer().stop();
    }

    void refresh() const { m_form->findChild<TTaskStatusDisplay*>()->refresh(); }
    // The first text part of a captured mail.
    static QString mailText(const QString& emlPath)
    {
        const QJsonArray texts = SmtpTest::checkMail(emlPath).value(QStringLiteral("texts")).toArray();
        return texts.isEmpty() ? QString()
                               : Gbk::decode(QByteArray::fromBase64(
                                   texts[0].toObject().value(QStringLiteral("bytes_b64")).toString().toLatin1()));
    }
    QString summary() const { return child<QLabel>(*m_form, "StatusSummaryLabel").text(); }

    SmtpTest::SmtpTestServer m_server;
};

TEST_F(TaskStatusWindow, ATaskGoesFromIdleThroughWaitingAndRetriesToGivingUp)
{
    TEventMailTask task = makeEventTask(U("甲"), QStringLiteral("reject@example.cn"));
    task.WaitSec = 10;
    writeTasks({task});
    createRealForm();
    select(node(0, 0));

    struct Step
    {
        const char* name;
        int advanceSeconds;
        bool sendPass;
        const char* status; // what the line starts with
        const char* summary; // what the status bar starts with
    };
    const Step steps[] = {
        {"idle", 0, false, "空闲", "等待发送：0 个任务，正在重试：0 个任务"},
        {"waiting", 4, false, "等待发送（还有 6 秒）", "等待发送：1 个任务，正在重试：0 个任务"},
        {"first attempt refused",
            6,
            true,
            "第 1 次重试，共 2 次，下次 10:21:40；上次 2026-3-5 10:20:40 失败：",
            "等待发送：0 个任务，正在重试：1 个任务；最近一次失败：2026-3-5 10:20:40 \"甲\" 失败："},
        {"second attempt refused",
            60,
            true,
            "第 2 次重试，共 2 次，下次 10:22:40；上次 2026-3-5 10:21:40 失败：",
            "等待发送：0 个任务，正在重试：1 个任务"},
        {"given up",
            60,
            true,
            "空闲；上次 2026-3-5 10:22:40 失败，已放弃：",
            "等待发送：0 个任务，正在重试：0 个任务；最近一次失败：2026-3-5 10:22:40 \"甲\" 失败，已放弃："},
    };
    for (const Step& s : steps) {
        if (std::string_view(s.name) == "waiting") {
            markEventTask(0); // triggered at 10:20:30
        }
        m_clock.advance(s.advanceSeconds * 1000);
        if (s.sendPass) {
            m_engine->SendMailTimerTimer();
        }
        refresh();
        const QString line = editText("EventStatusEdit");
        EXPECT_TRUE(line.startsWith(U(s.status))) << s.name << ": " << line.toStdString();
        EXPECT_EQ(node(0, 0)->toolTip(0), U("状态：") + line) << s.name;
        EXPECT_TRUE(summary().startsWith(U(s.summary))) << s.name << ": " << summary().toStdString();
    }
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
    EXPECT_TRUE(m_server.mails().isEmpty());
}

// Marks reported one after another in one handler are shown after it, together: the line of the selected task,
// every tool tip (made when read, so it follows the clock too) and the summary.
TEST_F(TaskStatusWindow, MarksOfOneHandlerAreShownOnceItEnds)
{
    writeTasks({makeEventTask(U("甲")), makeEventTask(U("乙")), makeEventTask(U("丙"))});
    createForm();
    m_engine->TriggerTimer().stop();
    m_engine->SendMailTimer().stop();
    select(node(0, 1));
    m_tables.EventTasks.task(2).WaitSec = 30;
    for (int i : {1, 2}) {
        markEventTask(i);
        m_engine->notifyTableEdited(TTaskKind::Event, i);
    }
    EXPECT_TRUE(waitUntil([&] { return summary().startsWith(U("等待发送：2 个任务")); })) << summary().toStdString();

    struct Case
    {
        int task;
        int advanceSeconds;
        const char* tip;
    };
    const Case cases[] = {
        {0, 0, "状态：空闲"},
        {1, 0, "状态：等待发送（还有 0 秒）"},
        {2, 0, "状态：等待发送（还有 30 秒）"},
        {2, 4, "状态：等待发送（还有 26 秒）"},
    };
    for (const Case& c : cases) {
        m_clock.advance(c.advanceSeconds * 1000);
        EXPECT_EQ(node(0, c.task)->toolTip(0), U(c.tip)) << c.task;
    }
    EXPECT_EQ(editText("EventStatusEdit"), U("等待发送（还有 0 秒）"));
}

TEST_F(TaskStatusWindow, ATestMailReachesTheServerAndLeavesThePendingMarkAlone)
{
    writeTasks({makeEventTask(U("甲"))}, {makeReportTask(U("日报"))});
    createRealForm();
    m_engine->setEditAllowed(true);
    markEventTask(0);
    const TEventTaskState before = m_tables.EventTasks.state(0);
    auto* command = m_form->findChild<QAction*>(QStringLiteral("SendTestMail1"));
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
    EXPECT_TRUE(tree().actions().contains(command)) << "offered in the tree's context menu";

    select(node(0, 0));
    command->trigger();
    ASSERT_TRUE(m_server.waitForMails(1));
    EXPECT_TRUE(mailText(m_server.mails().front()).contains(U("这是一封测试邮件"))) << "the test line";
    EXPECT_TRUE(m_form->logLines().front().endsWith(U("测试邮件\"甲\"发送成功")));
    const TEventTaskState after = m_tables.EventTasks.state(0);
    EXPECT_EQ(+after.State, +before.State);
    EXPECT_EQ(+after.RetryCount, +before.RetryCount);
    EXPECT_EQ(+after.FirstPos, +before.FirstPos);

    // A report task whose names find no file: told so, nothing sent.
    select(node(1, 0));
    command->trigger();
    ASSERT_EQ(m_messages.texts().size(), 1);
    EXPECT_TRUE(m_messages.texts().front().contains(U("报表文件现在一个也找不到")));
    EXPECT_EQ(m_server.mails().size(), 1);
}

TEST_F(TaskStatusWindow, TheTestCommandWhileSendingRunsShowsOnlyTheEditRule)
{
    writeTasks({makeEventTask(U("甲"))});
    createRealForm();
    m_engine->setEditAllowed(false);
    select(node(0, 0));
    m_form->commands().SendTestMail1Click();
    EXPECT_EQ(m_messages.texts(), QStringList{langText(LangText::QorsmailMain_Str::Str22)});
    EXPECT_FALSE(m_server.waitForMails(1, 300));
}

} // namespace
