// SPDX-License-Identifier: MIT
// The setup tree and its detail panels, the delete command, the edit rule, the keys and the export, through the
// real window.

#include "MainFormFixture.h"

#include <QAccessible>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSpinBox>
#include <QTest>
#include <sys/stat.h>

namespace {

using namespace LangText::QorsmailMain_Str;

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString plain(const QTreeWidget& tree, const char* name)
{
    return child<QPlainTextEdit>(*tree.window(), name).toPlainText();
}

QString line(const QTreeWidget& tree, const char* name)
{
    return child<QLineEdit>(*tree.window(), name).text();
}

class SetupTree : public MainFormFixture
{
};

} // namespace

TEST_F(SetupTree, PanelsFollowTheSelection)
{
    TEventMailTask typed = makeEventTask(U("事故报告"));
    typed.TypeCount = 2;
    typed.Types[0] = 1;
    typed.Types[1] = 20;
    typed.LevelMask = 6;
    typed.WaitSec = 5000;
    typed.ReceiverCount = 2;
    Gbk::storeField(typed.Receivers[0].Name, U("张三"));
    Gbk::storeField(typed.Receivers[0].Addr, U("zhang@example.cn"));
    Gbk::storeField(typed.Receivers[1].Addr, U("duty@example.cn"));
    TEventMailTask all = makeEventTask(U("全部事件"));
    all.WaitSec = 30;
    TReportMailTask never = makeReportTask(U("手动报表"));
    never.SendType = 0;
    TReportMailTask yearly = makeReportTask(U("年报"));
    yearly.SendType = 3;
    yearly.SendTime.wMonth = 3;
    yearly.SendTime.wDay = 15;
    yearly.SendTime.wHour = 8;
    yearly.SendTime.wMinute = 5;
    yearly.SendInterval.wDay = 1;
    yearly.FileCount = 2;
    Gbk::storeField(yearly.Files[0], U("/srv/报表/年报.xls"));
    Gbk::storeField(yearly.Files[1], U("/srv/报表/年报.jpg"));
    writeTasks({typed, all}, {never, yearly});
    createForm();
    m_form->show();
    QTreeWidget& t = tree();
    EXPECT_EQ(shownPanels(), QStringList{U("hint")});

    struct Case
    {
        const char* name;
        QTreeWidgetItem* item;
        QStringList panels;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"event root", root(0), {U("hint")}, {}},
        {"types 1 and 20, levels 6",
            node(0, 0),
            {U("event")},
            [&] {
                EXPECT_EQ(line(t, "EventMailTitleEdit"), U("事故报告"));
                EXPECT_EQ(plain(t, "EventTriggerMemo"),
                    langText(Str5) + U("\n    设备越限动作,SEL保护事件\n") + langText(Str7) + U("\n    ")
                        + langText(Str8) + langText(Str9));
                EXPECT_EQ(plain(t, "EventReceiverMemo"), U("张三<zhang@example.cn>\nduty@example.cn"));
                EXPECT_EQ(child<QSpinBox>(*m_form, "EventWaitSecEdit").value(), 3600);
            }},
        {"all events",
            node(0, 1),
            {U("event")},
            [&] {
                EXPECT_EQ(line(t, "EventMailTitleEdit"), U("全部事件"));
                EXPECT_EQ(plain(t, "EventTriggerMemo"), QString());
                EXPECT_EQ(child<QSpinBox>(*m_form, "EventWaitSecEdit").value(), 30);
            }},
        {"report root", root(1), {U("hint")}, {}},
        {"never sent, zero time",
            node(1, 0),
            {U("report")},
            [&] {
                EXPECT_EQ(line(t, "ReportMailTitleEdit"), U("手动报表"));
                EXPECT_EQ(line(t, "ReportSendTypeEdit"), langText(Str16));
                EXPECT_EQ(line(t, "ReportSendTimeEdit"), U("0时0分"));
                EXPECT_EQ(line(t, "ReportSendIntervalEdit"), QString());
                EXPECT_EQ(plain(t, "ReportListMemo"), QString());
                EXPECT_EQ(plain(t, "ReportReceiverMemo"), U("duty@example.cn"));
            }},
        {"yearly",
            node(1, 1),
            {U("report")},
            [&] {
                EXPECT_EQ(line(t, "ReportSendTypeEdit"), langText(Str14));
                EXPECT_EQ(line(t, "ReportSendTimeEdit"), U("3月15日 8时5分"));
                EXPECT_EQ(line(t, "ReportSendIntervalEdit"), U("1日 0时 0分 "));
                EXPECT_EQ(plain(t, "ReportListMemo"), U("/srv/报表/年报.xls\n/srv/报表/年报.jpg"));
            }},
        {"back to an event task", node(0, 1), {U("event")}, {}},
        {"back to the hint", root(0), {U("hint")}, {}},
    };
    for (const Case& c : cases) {
        select(c.item);
        EXPECT_EQ(shownPanels(), c.panels) << c.name;
        if (c.check) {
            c.check();
        }
    }
}

TEST_F(SetupTree, PanelControlsAreReadOnlyAndNamedByTheirLabels)
{
    writeTasks({makeEventTask(U("事故报告"))}, {makeReportTask(U("日报"))});
    createForm();
    for (const char* panel : {"EventMailPanel", "ReportmailPanel"}) {
        const QWidget& p = child<QWidget>(*m_form, panel);
        int controls = 0;
        for (QWidget* w : p.findChildren<QWidget*>()) {
            // Qt's own parts (the spin box's inner edit) are named after their owner.
            if (qobject_cast<QLabel*>(w) || w->objectName().startsWith(QLatin1String("qt_"))) {
                continue;
            }
            if (auto* edit = qobject_cast<QLineEdit*>(w)) {
                EXPECT_TRUE(edit->isReadOnly()) << edit->objectName().toStdString();
            } else if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
                EXPECT_TRUE(memo->isReadOnly()) << memo->objectName().toStdString();
            } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
                EXPECT_TRUE(spin->isReadOnly()) << spin->objectName().toStdString();
            } else {
                continue;
            }
            ++controls;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            ASSERT_NE(a, nullptr);
            EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
        }
        EXPECT_EQ(controls, std::string(panel) == "EventMailPanel" ? 5 : 7) << panel; // with the status line
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&child<QLineEdit>(*m_form, "EventMailTitleEdit"))
                  ->text(QAccessible::Name),
        U("邮件标题："));
}

TEST_F(SetupTree, DeletingTheSecondOfThreeKeepsTheOthersWithTheirStates)
{
    writeTasks({makeEventTask(U("甲")), makeEventTask(U("乙")), makeEventTask(U("丙"))}, {makeReportTask(U("日报"))});
    createForm();
    m_engine->setEditAllowed(true);
    m_tables.EventTasks.state(0).RetryCount = 7;
    m_tables.EventTasks.state(2).RetryCount = 9;
    m_form->show();
    select(node(0, 1));

    m_messages.answer(QMessageBox::No);
    m_form->commands().DelMail1Click();
    ASSERT_EQ(m_messages.requests().size(), 1u);
    EXPECT_EQ(m_messages.requests()[0].text, langText(Str23) + U("乙?"));
    EXPECT_EQ(m_messages.requests()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(m_messages.requests()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(m_tables.EventTaskCount(), 3);

    m_messages.answer(QMessageBox::Yes);
    m_form->commands().DelMail1Click();
    ASSERT_EQ(m_tables.EventTaskCount(), 2);
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(0).Title), U("甲"));
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(1).Title), U("丙"));
    EXPECT_EQ(m_tables.EventTasks.state(0).RetryCount, 7);
    EXPECT_EQ(m_tables.EventTasks.state(1).RetryCount, 9);
    ASSERT_EQ(root(0)->childCount(), 2);
    EXPECT_EQ(node(0, 0)->text(0), U("甲"));
    EXPECT_EQ(node(0, 1)->text(0), U("丙"));
    // The tree selected a neighbour, whose panel shows.
    ASSERT_NE(tree().currentItem(), nullptr);
    EXPECT_TRUE(tree().currentItem()->isSelected());
    EXPECT_EQ(shownPanels(), QStringList{U("event")});
    EXPECT_EQ(line(tree(), "EventMailTitleEdit"), tree().currentItem()->text(0));

    // The last report task: the selection falls back to its root and the hint shows.
    select(node(1, 0));
    m_messages.answer(QMessageBox::Yes);
    m_form->commands().DelMail1Click();
    EXPECT_EQ(m_tables.ReportTaskCount(), 0);
    EXPECT_EQ(root(1)->childCount(), 0);
    EXPECT_EQ(shownPanels(), QStringList{U("hint")});
}

TEST_F(SetupTree, EditRuleAndSelectionDecideBeforeAnythingHappens)
{
    writeTasks({makeEventTask(U("甲"))});
    createForm();
    m_form->show();
    TSaveFileRecorder files;
    struct Case
    {
        const char* name;
        QTreeWidgetItem* selected;
        bool editAllowed;
        std::function<void()> command;
        QStringList messages;
    };
    const Case cases[] = {
        {"delete while sending runs",
            node(0, 0),
            false,
            [&] { m_form->commands().DelMail1Click(); },
            {langText(Str22)}},
        {"delete on a root", root(0), false, [&] { m_form->commands().DelMail1Click(); }, {}},
        {"delete on a root, editing allowed", root(0), true, [&] { m_form->commands().DelMail1Click(); }, {}},
        {"export while sending runs",
            root(0),
            false,
            [&] { m_form->commands().ExportConfig1Click(); },
            {langText(Str22)}},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        m_engine->setEditAllowed(c.editAllowed);
        select(c.selected);
        c.command();
        EXPECT_EQ(messages.texts(), c.messages) << c.name;
        EXPECT_EQ(m_tables.EventTaskCount(), 1) << c.name;
        EXPECT_TRUE(files.requests().empty()) << c.name;
    }
}

TEST_F(SetupTree, KeysReachTheCommandsWhereTheyBelong)
{
    writeTasks({makeEventTask(U("甲"))});
    createForm();
    m_form->show();
    m_form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
    select(node(0, 0));

    struct Case
    {
        const char* name;
        const char* target;
        QKeyCombination key;
        QStringList messages;
    };
    const Case cases[] = {
        {"Delete on the tree", "SetupTree", QKeyCombination(Qt::Key_Delete), {langText(Str22)}},
        {"Delete in the log panel", "LogMemo", QKeyCombination(Qt::Key_Delete), {}},
        {"Ctrl+Q anywhere", "LogMemo", QKeyCombination(Qt::ControlModifier, Qt::Key_Q), {langText(Str4)}},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        messages.answer(QMessageBox::No);
        QWidget& target = child<QWidget>(*m_form, c.target);
        target.setFocus();
        ASSERT_TRUE(waitUntil([&] { return target.hasFocus(); })) << c.name;
        QTest::keyClick(&target, c.key.key(), c.key.keyboardModifiers());
        EXPECT_EQ(messages.texts(), c.messages) << c.name;
    }
    EXPECT_TRUE(m_form->isVisible());
}

TEST_F(SetupTree, DeletingTheTaskBeingSentLeavesTheSendLoopSound)
{
    writeTasks({makeEventTask(U("甲"), QStringLiteral("a@example.cn")),
        makeEventTask(U("乙"), QStringLiteral("b@example.cn")),
        makeEventTask(U("丙"), QStringLiteral("c@example.cn"))});
    createForm();
    m_engine->setEditAllowed(true);
    markEventTask(0);
    markEventTask(2);
    m_smtp->holdSends = true;
    int holds = 0;
    m_smtp->onHold = [&] {
        if (++holds == 1) {
            // While 甲's mail is out, the user deletes 甲 and then 乙; the loop must go on with 丙 alone.
            for (int k = 0; k < 2; ++k) {
                select(node(0, 0));
                m_messages.answer(QMessageBox::Yes);
                m_form->commands().DelMail1Click();
            }
        }
        m_smtp->release();
    };
    m_engine->SendMailTimerTimer();
    ASSERT_EQ(m_smtp->sent.size(), 2u);
    EXPECT_EQ(m_smtp->sent[1].recipients, QList<QByteArray>{"c@example.cn"});
    ASSERT_EQ(m_tables.EventTaskCount(), 1);
    EXPECT_EQ(Gbk::fieldText(m_tables.EventTasks.task(0).Title), U("丙"));
    EXPECT_EQ(m_tables.EventTasks.state(0).State, 0);
    const QStringList lines = m_form->logLines();
    EXPECT_TRUE(lines.filter(U("甲 \"")).size() == 1 && lines.filter(U("丙 \"")).size() == 1)
        << lines.join('\n').toStdString();
}

TEST_F(SetupTree, ExportWritesTheToolsJsonAndRefusesTheStationsOwnFiles)
{
    TEventMailTask event = makeEventTask(U("事故报告"));
    Gbk::storeField(event.Keyword, U("主变"));
    writeTasks({event}, {makeReportTask(U("日报"))});
    QFile ini(m_workDir + QStringLiteral("QorMail.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[SMTP]\r\nPassword=geheim\r\n");
    ini.close();
    createForm();
    m_engine->setEditAllowed(true);
    m_tables.AddrBook.push_back({});
    Gbk::storeField(m_tables.AddrBook[0].Name, U("张三"));
    Gbk::storeField(m_tables.AddrBook[0].Addr, U("zhang@example.cn"));
    QDir().mkpath(m_workDir + QStringLiteral("out"));
    QFile::link(m_workDir + QStringLiteral("CfgCache"), m_workDir + QStringLiteral("cache-link"));
    const QByteArray cfgBefore = [&] {
        QFile f(m_workDir + QStringLiteral("CfgCache/qorsmail.cfg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    struct Case
    {
        const char* name;
        std::optional<QString> picked;
        QString message; // start of the box's text; empty = none
        bool written;
    };
    const QString own = langText(LangText::ConfigExport_Str::Str2).section(QStringLiteral("%1"), 1);
    const Case cases[] = {
        {"cancelled", std::nullopt, {}, false},
        {"the task file", m_workDir + QStringLiteral("CfgCache/qorsmail.cfg"), own, false},
        {"the task file through a link", m_workDir + QStringLiteral("cache-link/qorsmail.cfg"), own, false},
        {"the settings file", m_workDir + QStringLiteral("out/../QorMail.ini"), own, false},
        {"a missing folder",
            m_workDir + QStringLiteral("nowhere/x.json"),
            langText(LangText::ConfigExport_Str::Str3).section(QStringLiteral("%1"), 0, 0),
            false},
        {"a new file", m_workDir + QStringLiteral("out/qorsmail.json"), {}, true},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        TSaveFileRecorder files;
        files.answer(c.picked);
        const int linesBefore = static_cast<int>(m_form->logLines().size());
        m_form->commands().ExportConfig1Click();
        ASSERT_EQ(files.requests().size(), 1u) << c.name;
        if (c.message.isEmpty()) {
            EXPECT_TRUE(messages.texts().isEmpty()) << c.name;
        } else {
            ASSERT_EQ(messages.texts().size(), 1) << c.name;
            EXPECT_TRUE(messages.texts()[0].contains(c.message)) << c.name << messages.texts()[0].toStdString();
        }
        EXPECT_EQ(m_form->logLines().size() - linesBefore, c.written ? 1 : 0) << c.name;
    }
    QFile cfg(m_workDir + QStringLiteral("CfgCache/qorsmail.cfg"));
    ASSERT_TRUE(cfg.open(QIODevice::ReadOnly));
    EXPECT_EQ(cfg.readAll(), cfgBefore);
    QFile iniAfter(m_workDir + QStringLiteral("QorMail.ini"));
    ASSERT_TRUE(iniAfter.open(QIODevice::ReadOnly));
    EXPECT_EQ(iniAfter.readAll(), QByteArray("[SMTP]\r\nPassword=geheim\r\n"));

    // The file holds the password: only its owner may read it. The tool turns it into the tables' task file.
    const QString json = m_workDir + QStringLiteral("out/qorsmail.json");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(json).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    QProcess tool;
    const QString built = m_workDir + QStringLiteral("out/built.cfg");
    tool.start(QStringLiteral(QORSMAIL_BIN_DIR "/qorsmail-cfg"), {QStringLiteral("build"), json, built});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    QFile builtFile(built);
    ASSERT_TRUE(builtFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(builtFile.readAll(), TaskFileBytes(m_tables));
    EXPECT_EQ(Gbk::fieldText(m_tables.SmtpSettings.Password), U("geheim"));
    // The chooser opens at the last file the next time.
    TSaveFileRecorder files;
    m_form->commands().ExportConfig1Click();
    ASSERT_EQ(files.requests().size(), 1u);
    EXPECT_EQ(files.requests()[0].directory, json);
}
