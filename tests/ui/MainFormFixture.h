// SPDX-License-Identifier: MIT
#pragma once

// The main window on a temporary working directory with a task file of given records, the scripted event-log
// library and a fake SMTP session; message boxes are recorded and answered.

#include "ConfigCommands.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "QorsmailFunc.h"
#include "QorsmailMain.h"
#include "QorsmailMainForm.h"
#include "UiTestApp.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>
#include <vector>

inline QString langText(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

inline TEventMailTask makeEventTask(const QString& title, const QString& addr = QStringLiteral("duty@example.cn"))
{
    TEventMailTask task{};
    task.LevelMask = -1;
    task.ReceiverCount = 1;
    Gbk::storeField(task.Receivers[0].Addr, addr);
    Gbk::storeField(task.Title, title);
    return task;
}

inline TReportMailTask makeReportTask(const QString& title)
{
    TReportMailTask task{};
    task.SendType = 1;
    task.ReceiverCount = 1;
    Gbk::storeField(task.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
    Gbk::storeField(task.Title, title);
    return task;
}

class MainFormFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + QLatin1Char('/');
        m_log.WorkDir = QFile::encodeName(m_workDir);
        QDir().mkpath(m_workDir + QStringLiteral("CfgCache/Client"));
    }

    void writeTasks(const std::vector<TEventMailTask>& events, const std::vector<TReportMailTask>& reports = {})
    {
        TMailTables t;
        SetTaskDefaults(t);
        Gbk::storeField(t.SmtpSettings.LocalEmailAddr, QStringLiteral("station@example.cn"));
        t.SmtpSettings.MaxSendTries = 3;
        for (const TEventMailTask& task : events) {
            t.EventTasks.append(task);
        }
        for (const TReportMailTask& task : reports) {
            t.ReportTasks.append(task);
        }
        QFile file(m_workDir + QStringLiteral("CfgCache/qorsmail.cfg"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(TaskFileBytes(t));
    }

    void createForm()
    {
        TMainFormOptions options;
        options.trayIcon = false;
        options.usrgateCandidates = {m_workDir + QStringLiteral("no-such/libUsrgate.so")};
        m_engine = std::make_unique<TQorsmailMain>(m_tables, m_log, m_clock);
        auto smtp = std::make_unique<FakeSmtpSession>();
        m_smtp = smtp.get();
        m_engine->setSmtpSession(std::move(smtp));
        m_form = std::make_unique<TQorsmailMainForm>(*m_engine, options);
    }

    QTreeWidget& tree() const { return child<QTreeWidget>(*m_form, "SetupTree"); }
    QTreeWidgetItem* root(int i) const { return tree().topLevelItem(i); }
    QTreeWidgetItem* node(int rootIndex, int i) const { return root(rootIndex)->child(i); }
    void select(QTreeWidgetItem* item) const { tree().setCurrentItem(item); }
    QString editText(const char* name) const { return child<QLineEdit>(*m_form, name).text(); }
    // Which of the three right-side panels are shown, as "hint", "event" and "report".
    QStringList shownPanels() const
    {
        QStringList shown;
        const std::pair<const char*, const char*> panels[] = {
            {"Panel1", "hint"}, {"EventMailPanel", "event"}, {"ReportmailPanel", "report"}};
        for (const auto& [name, label] : panels) {
            if (!child<QWidget>(*m_form, name).isHidden()) {
                shown << QString::fromLatin1(label);
            }
        }
        return shown;
    }

    // Marks event task i as triggered now with one readable event, so the next send pass sends it.
    void markEventTask(int i)
    {
        m_log.putEvent(9, 3, 1, QStringLiteral("1号主变差动保护动作"));
        m_log.WritePos = 10;
        TEventTaskState& state = m_tables.EventTasks.state(i);
        state.State = 1;
        state.FirstPos = 9;
        state.EndPos = 10;
        state.TriggerTime = m_clock.now();
    }

    QTemporaryDir m_dir;
    QString m_workDir;
    TFakeLogLibrary m_log;
    TManualClock m_clock{MakeSystemTime(2026, 3, 5, 10, 20, 30)};
    TMailTables m_tables;
    TMessageRecorder m_messages;
    std::unique_ptr<TQorsmailMain> m_engine;
    FakeSmtpSession* m_smtp = nullptr;
    std::unique_ptr<TQorsmailMainForm> m_form;
};
