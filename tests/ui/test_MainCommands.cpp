// SPDX-License-Identifier: MIT
// The add, edit, SMTP and address-book commands through the real window and its real dialogs, the edit rule on
// them, and commands that run while a mail is being sent.

#include "EventMailProperty.h"
#include "MailDialogs.h"
#include "MainFormFixture.h"
#include "ReportMailProperty.h"
#include "SmtpSetupDlg.h"
#include "TaskMarkFile.h"
#include "TaskMarkStore.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

using namespace LangText::QorsmailMain_Str;

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A dialog step that sets a new title (and what else a new task needs) and clicks OK, like a user would.
int retitle(QDialog& dialog, const QString& title)
{
    child<QLineEdit>(dialog, "TitleEdit").setText(title);
    for (const char* memo : {"ReceiverMemo", "FilesMemo"}) {
        auto* edit = dialog.findChild<QPlainTextEdit*>(QString::fromLatin1(memo));
        if (edit && edit->toPlainText().trimmed().isEmpty()) {
            edit->setPlainText(std::string(memo) == "ReceiverMemo" ? QStringLiteral("duty@example.cn")
                                                                   : QStringLiteral("/srv/reports/day.xls"));
        }
    }
    child<QPushButton>(dialog, "OkBtn").click();
    return dialog.result();
}

int pressOk(QDialog& dialog)
{
    child<QPushButton>(dialog, "OkBtn").click();
    return dialog.result();
}

class MainCommands : public MainFormFixture
{
};

} // namespace

TEST_F(MainCommands, EditRuleAndSelectionDecideBeforeAnyDialogOpens)
{
    writeTasks({makeEventTask(U("甲"))}, {makeReportTask(U("日报"))});
    createForm();
    m_form->show();
    struct Case
    {
        const char* name;
        QTreeWidgetItem* selected;
        std::function<void()> command;
        QStringList messages;
        QStringList dialogs;
    };
    const Case cases[] = {
        {"double-click on a task",
            node(0, 0),
            [&] { emit tree().itemDoubleClicked(node(0, 0), 0); },
            {langText(Str22)},
            {}},
        {"edit a report", node(1, 0), [&] { m_form->commands().EditMail1Click(); }, {langText(Str22)}, {}},
        {"edit on a root", root(0), [&] { m_form->commands().EditMail1Click(); }, {}, {}},
        {"add on a task", node(0, 0), [&] { m_form->commands().AddMail1Click(); }, {}, {}},
        {"add on a root", root(1), [&] { m_form->commands().AddMail1Click(); }, {langText(Str22)}, {}},
        {"add event mail", node(1, 0), [&] { m_form->commands().AddEventMail1Click(); }, {langText(Str22)}, {}},
        {"add report mail", root(0), [&] { m_form->commands().AddReportMail1Click(); }, {langText(Str22)}, {}},
        {"SMTP settings", root(0), [&] { m_form->commands().SetSMTP1Click(); }, {langText(Str22)}, {}},
        {"address book opens regardless",
            root(0),
            [&] { m_form->commands().EditAddr1Click(); },
            {},
            {U("TAddressBookForm")}},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        TDialogRecorder dialogs;
        select(c.selected);
        c.command();
        EXPECT_EQ(messages.texts(), c.messages) << c.name;
        EXPECT_EQ(dialogs.names(), c.dialogs) << c.name;
    }
    EXPECT_EQ(m_tables.EventTaskCount(), 1);
    EXPECT_EQ(m_tables.ReportTaskCount(), 1);

    // Allowed: the double-click opens the task's dialog, editable, on a copy of the record.
    m_engine->setEditAllowed(true);
    TDialogRecorder dialogs;
    bool editable = false;
    QString shownTitle;
    dialogs.then([&](QDialog& d) {
        auto& dlg = static_cast<TEventmailPropertyDlg&>(d);
        editable = dlg.Editable == 1;
        shownTitle = Gbk::fieldText(dlg.Task.Title);
        return static_cast<int>(QDialog::Rejected);
    });
    select(node(0, 0));
    emit tree().itemDoubleClicked(node(0, 0), 0);
    EXPECT_EQ(dialogs.names(), QStringList{U("TEventmailPropertyDlg")});
    EXPECT_TRUE(editable);
    EXPECT_EQ(shownTitle, U("甲"));
}

TEST_F(MainCommands, AnAcceptedEditResetsTheStateOnlyWhenSomethingChanged)
{
    writeTasks({makeEventTask(U("甲")), makeEventTask(U("乙"))}, {makeReportTask(U("日报"))});
    createForm();
    m_engine->setEditAllowed(true);
    m_form->show();
    EXPECT_EQ(m_form->dialogs().createdCount(), 0) << "no dialog is made before its first use";
    markEventTask(1);
    m_tables.ReportTasks.state(0).State = 1;

    struct Case
    {
        const char* name;
        QTreeWidgetItem* item;
        TDialogRecorder::Step step;
        QString title; // expected caption and table title afterwards
        int state; // expected state afterwards
    };
    const Case cases[] = {
        {"cancelled",
            node(0, 1),
            [](QDialog& d) {
                child<QLineEdit>(d, "TitleEdit").setText(U("丁"));
                return static_cast<int>(QDialog::Rejected);
            },
            U("乙"),
            1},
        {"accepted unchanged", node(0, 1), pressOk, U("乙"), 1},
        {"accepted changed", node(0, 1), [](QDialog& d) { return retitle(d, U("乙二")); }, U("乙二"), 0},
        {"report accepted changed", node(1, 0), [](QDialog& d) { return retitle(d, U("周报")); }, U("周报"), 0},
    };
    for (const Case& c : cases) {
        TDialogRecorder dialogs;
        dialogs.then(c.step);
        select(c.item);
        m_form->commands().EditMail1Click();
        const bool report = c.item->parent() == root(1);
        const QString title = report ? Gbk::fieldText(m_tables.ReportTasks.task(0).Title)
                                     : Gbk::fieldText(m_tables.EventTasks.task(1).Title);
        const int state = report ? m_tables.ReportTasks.state(0).State : m_tables.EventTasks.state(1).State;
        EXPECT_EQ(title, c.title) << c.name;
        EXPECT_EQ(c.item->text(0), c.title) << c.name;
        EXPECT_EQ(state, c.state) << c.name;
        EXPECT_EQ(editText(report ? "ReportMailTitleEdit" : "EventMailTitleEdit"), c.title) << c.name;
    }
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(0).Title), U("甲"));
}

TEST_F(MainCommands, TheMarkFileFollowsEditsAndAdditionsMadeInTheWindow)
{
    writeTasks({makeEventTask(U("甲")), makeEventTask(U("乙"))});
    createForm();
    m_engine->setEditAllowed(true);
    markEventTask(1);
    m_engine->notifyTableEdited(TTaskKind::Event, 1);
    const auto entriesOnDisk = [&] {
        EXPECT_TRUE(m_engine->markStore().flush());
        QFile file(m_workDir + QStringLiteral("QorMail.marks"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const auto entries = TaskMarkFile::decode(file.readAll());
        return entries ? static_cast<int>(entries->size()) : -1;
    };
    ASSERT_EQ(entriesOnDisk(), 1);
    {
        TDialogRecorder dialogs;
        dialogs.then([](QDialog& d) { return retitle(d, U("新")); });
        m_form->commands().AddEventMail1Click();
    }
    EXPECT_EQ(entriesOnDisk(), 1) << "an added task leaves the other marks alone";
    {
        TDialogRecorder dialogs;
        dialogs.then([](QDialog& d) { return retitle(d, U("乙二")); });
        select(node(0, 1));
        m_form->commands().EditMail1Click();
    }
    EXPECT_EQ(entriesOnDisk(), 0) << "a changed task's mark must not be resumed after a restart";
}

TEST_F(MainCommands, AddedTasksAreAppendedIdleAndSelected)
{
    createForm(); // no task file: editing is allowed
    m_form->show();
    ASSERT_TRUE(m_engine->EditAllowed());
    struct Case
    {
        const char* name;
        QTreeWidgetItem* selected;
        std::function<void()> command;
        int rootIndex;
        QString title;
    };
    const Case cases[] = {
        {"add on the event root", root(0), [&] { m_form->commands().AddMail1Click(); }, 0, U("新事件")},
        {"add on the report root", root(1), [&] { m_form->commands().AddMail1Click(); }, 1, U("新报表")},
        {"add event mail on a report task",
            nullptr,
            [&] { m_form->commands().AddEventMail1Click(); },
            0,
            U("又一事件")},
        {"add report mail on an event task",
            nullptr,
            [&] { m_form->commands().AddReportMail1Click(); },
            1,
            U("又一报表")},
    };
    for (const Case& c : cases) {
        TDialogRecorder dialogs;
        bool defaults = false;
        dialogs.then([&](QDialog& d) {
            // A fresh dialog: the title edit shows a default, not the last task's title.
            defaults = child<QLineEdit>(d, "TitleEdit").text() != U("新事件");
            return retitle(d, c.title);
        });
        select(c.selected ? c.selected : (c.rootIndex == 0 ? node(1, 0) : node(0, 0)));
        c.command();
        QTreeWidgetItem* r = root(c.rootIndex);
        QTreeWidgetItem* added = r->child(r->childCount() - 1);
        EXPECT_EQ(added->text(0), c.title) << c.name;
        EXPECT_EQ(tree().currentItem(), added) << c.name;
        EXPECT_EQ(shownPanels(), QStringList{c.rootIndex == 0 ? U("event") : U("report")}) << c.name;
        EXPECT_TRUE(defaults) << c.name;
    }
    ASSERT_EQ(m_tables.EventTaskCount(), 2);
    ASSERT_EQ(m_tables.ReportTaskCount(), 2);
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(1).Title), U("又一事件"));
    EXPECT_EQ(m_tables.EventTasks.state(1).State, 0);
    EXPECT_EQ(m_form->dialogs().createdCount(), 4) << "event, report, selection and chooser; made once";

    // A cancelled add changes nothing.
    TDialogRecorder dialogs;
    m_form->commands().AddEventMail1Click();
    EXPECT_EQ(m_tables.EventTaskCount(), 2);
}

TEST_F(MainCommands, AcceptedSmtpChangesReachTheSession)
{
    createForm();
    m_form->show();
    const int before = m_smtp->configureCalls;
    {
        TDialogRecorder dialogs;
        dialogs.then([](QDialog& d) {
            auto& dlg = static_cast<TSmtpDlg&>(d);
            EXPECT_TRUE(dlg.Editable);
            Gbk::storeField(dlg.Settings.smtpaddr, QStringLiteral("mail.example.cn"));
            dlg.Modified = true;
            return static_cast<int>(QDialog::Accepted);
        });
        m_form->commands().SetSMTP1Click();
    }
    EXPECT_EQ(Gbk::fieldText(m_tables.SmtpSettings.smtpaddr), QStringLiteral("mail.example.cn"));
    EXPECT_EQ(m_smtp->configureCalls, before + 1);
    EXPECT_EQ(m_smtp->connection().host, QByteArray("mail.example.cn"));
    {
        TDialogRecorder dialogs;
        dialogs.then([](QDialog& d) {
            auto& dlg = static_cast<TSmtpDlg&>(d);
            Gbk::storeField(dlg.Settings.smtpaddr, QStringLiteral("other.example.cn"));
            dlg.Modified = true;
            return static_cast<int>(QDialog::Rejected);
        });
        m_form->commands().SetSMTP1Click();
    }
    EXPECT_EQ(Gbk::fieldText(m_tables.SmtpSettings.smtpaddr), QStringLiteral("mail.example.cn"));
    EXPECT_EQ(m_smtp->configureCalls, before + 1);
}

TEST_F(MainCommands, AddingAndEditingDuringASendKeepTheLoopOnTheRightTasks)
{
    writeTasks({makeEventTask(U("甲"), QStringLiteral("a@example.cn")),
        makeEventTask(U("乙"), QStringLiteral("b@example.cn"))});
    createForm();
    m_engine->setEditAllowed(true);
    markEventTask(0);
    markEventTask(1);
    m_tables.SmtpSettings.MaxSendTries = 5;
    m_smtp->fallback = FakeSmtpSession::fail(QStringLiteral("later"));
    m_smtp->holdSends = true;
    int holds = 0;
    m_smtp->onHold = [&] {
        if (++holds == 1) {
            // While 甲's mail is out: enough tasks added to move the tables' storage, and 甲 edited (state 2).
            for (int k = 0; k < 40; ++k) {
                TDialogRecorder dialogs;
                dialogs.then([k](QDialog& d) { return retitle(d, QStringLiteral("新%1").arg(k)); });
                m_form->commands().AddEventMail1Click();
            }
            TDialogRecorder dialogs;
            dialogs.then([](QDialog& d) { return retitle(d, U("甲二")); });
            select(node(0, 0));
            m_form->commands().EditMail1Click();
        }
        m_smtp->release();
    };
    m_engine->SendMailTimerTimer();
    // 甲's failure is not written into the edited task; 乙 got its own attempt with its own recipient.
    ASSERT_EQ(m_smtp->sent.size(), 2u);
    EXPECT_EQ(m_smtp->sent[0].recipients, QList<QByteArray>{"a@example.cn"});
    EXPECT_EQ(m_smtp->sent[1].recipients, QList<QByteArray>{"b@example.cn"});
    ASSERT_EQ(m_tables.EventTaskCount(), 42);
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(0).Title), U("甲二"));
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
    EXPECT_EQ(m_tables.EventTasks.state(0).RetryCount, 0);
    EXPECT_EQ(m_tables.EventTasks.state(1).State, 2);
    EXPECT_EQ(m_tables.EventTasks.state(1).RetryCount, 1);
    for (int k = 2; k < 42; ++k) {
        EXPECT_EQ(m_tables.EventTasks.state(k).State, 0);
    }
    EXPECT_EQ(root(0)->childCount(), 42);
    EXPECT_TRUE(m_engine->SendMailTimer().isActive());
}
