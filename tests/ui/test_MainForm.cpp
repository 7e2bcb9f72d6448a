// SPDX-License-Identifier: MIT
// The main window on a scripted event-log library and a fake SMTP session: tree, log panel, closing with and
// without the rights library, the start-up failures, and stopping and restoring the sending.

#include "../suite/LoginDlgAnswer.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "QorsmailFunc.h"
#include "QorsmailMain.h"
#include "QorsmailMainForm.h"
#include "Station.h"
#include "UiTestApp.h"
#include "UserStore.h"
#include "UserVerify.h"
#include "WaitDlg.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>
#include <sys/stat.h>

namespace {

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

class MainForm : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + QLatin1Char('/');
        m_log.WorkDir = QFile::encodeName(m_workDir);
        QDir().mkpath(m_workDir + QStringLiteral("CfgCache/Client"));
        // A store without users: stopping goes straight to the login (the first-user test takes the store away).
        ASSERT_EQ(UserStore::SaveAtomic(storePath(), {}), QString());
    }

    QString storePath() const { return m_workDir + QStringLiteral("CfgCache/Client/client_zqv.cfg.cah"); }

    // A task file with the given titles, one receiver each.
    void writeTaskFile(const QStringList& eventTitles, const QStringList& reportTitles)
    {
        TMailTables t;
        SetTaskDefaults(t);
        Gbk::storeField(t.SmtpSettings.LocalEmailAddr, QStringLiteral("station@example.cn"));
        t.SmtpSettings.MaxSendTries = 3;
        for (const QString& title : eventTitles) {
            TEventMailTask task{};
            task.LevelMask = -1;
            task.ReceiverCount = 1;
            Gbk::storeField(task.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
            Gbk::storeField(task.Title, title);
            t.EventTasks.append(task);
        }
        for (const QString& title : reportTitles) {
            TReportMailTask task{};
            task.ReceiverCount = 1;
            Gbk::storeField(task.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
            Gbk::storeField(task.Title, title);
            t.ReportTasks.append(task);
        }
        QFile file(m_workDir + QStringLiteral("CfgCache/qorsmail.cfg"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(TaskFileBytes(t));
    }

    void createForm(TMainFormOptions options = {})
    {
        options.trayIcon = false;
        if (options.usrgateCandidates.isEmpty()) {
            options.usrgateCandidates = {m_workDir + QStringLiteral("no-such/libUsrgate.so")};
        }
        m_engine = std::make_unique<TQorsmailMain>(m_tables, m_log, m_clock);
        auto smtp = std::make_unique<FakeSmtpSession>();
        m_smtp = smtp.get();
        m_engine->setSmtpSession(std::move(smtp));
        m_form = std::make_unique<TQorsmailMainForm>(*m_engine, options);
        QObject::connect(m_form.get(), &TQorsmailMainForm::closed, [this] { ++m_closedCount; });
    }

    QTreeWidget* tree() const { return m_form->findChild<QTreeWidget*>(QStringLiteral("SetupTree")); }
    QPlainTextEdit* logMemo() const { return m_form->findChild<QPlainTextEdit*>(QStringLiteral("LogMemo")); }
    QString debugLog() const
    {
        QFile file(m_workDir + QStringLiteral("Debug/QorMail.log"));
        return file.open(QIODevice::ReadOnly) ? Gbk::decode(file.readAll()) : QString();
    }

    void addUser(const QString& name, const QString& password, const QStringList& rights)
    {
        std::string error;
        ASSERT_TRUE(addStoreUser(storePath(), name, password, rights, &error)) << error;
    }

    // Marks event task 0 as triggered now with one readable event, so the next send pass sends it.
    void markEventTask()
    {
        m_log.WritePos = 10;
        m_log.putEvent(9, 3, 1, QStringLiteral("1号主变差动保护动作"));
        m_log.WritePos = 10;
        TEventTaskState& state = m_tables.EventTasks.state(0);
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
    int m_closedCount = 0;
};

TEST_F(MainForm, TreeShowsOneNodePerTaskAndSendingIsOn)
{
    writeTaskFile({QStringLiteral("事故报告"), QStringLiteral("故障报告")}, {QStringLiteral("日报")});
    createForm();
    ASSERT_EQ(tree()->topLevelItemCount(), 2);
    QTreeWidgetItem* events = tree()->topLevelItem(0);
    QTreeWidgetItem* reports = tree()->topLevelItem(1);
    EXPECT_EQ(events->text(0), text(LangText::QorsmailMain_Str::Str37));
    EXPECT_EQ(reports->text(0), text(LangText::QorsmailMain_Str::Str38));
    ASSERT_EQ(events->childCount(), 2);
    EXPECT_EQ(events->child(0)->text(0), QStringLiteral("事故报告"));
    EXPECT_EQ(events->child(1)->text(0), QStringLiteral("故障报告"));
    ASSERT_EQ(reports->childCount(), 1);
    EXPECT_EQ(reports->child(0)->text(0), QStringLiteral("日报"));
    EXPECT_FALSE(events->child(0)->icon(0).isNull());

    EXPECT_FALSE(m_engine->EditAllowed());
    // The one line without a time stamp, which stays out of the debug log.
    EXPECT_EQ(m_form->logLines(), QStringList{text(LangText::QorsmailMain_Str::Str1)});
    EXPECT_EQ(logMemo()->toPlainText(), text(LangText::QorsmailMain_Str::Str1));
    EXPECT_TRUE(debugLog().contains(text(LangText::QorsmailMain_Str::Str0)));
    EXPECT_FALSE(debugLog().contains(text(LangText::QorsmailMain_Str::Str1)));
    EXPECT_TRUE(m_engine->TriggerTimer().isActive());
    EXPECT_TRUE(m_engine->SendMailTimer().isActive());

    m_form->show();
    EXPECT_TRUE(events->isExpanded());
    EXPECT_TRUE(reports->isExpanded());
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("QORVANE 邮件分发站"));
}

TEST_F(MainForm, WithoutTasksTheRootsAreEmptyAndEditingIsAllowed)
{
    createForm();
    ASSERT_EQ(tree()->topLevelItemCount(), 2);
    EXPECT_EQ(tree()->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(tree()->topLevelItem(1)->childCount(), 0);
    EXPECT_TRUE(m_engine->EditAllowed());
    // The one line says where the task file was looked for.
    ASSERT_EQ(m_form->logLines().size(), 1);
    EXPECT_TRUE(m_form->logLines().first().contains(m_workDir + QStringLiteral("CfgCache/qorsmail.cfg")));
}

TEST_F(MainForm, LogPanelAsksForSongtiWithAnInstalledCjkFallback)
{
    createForm();
    const QFont font = logMemo()->font();
    ASSERT_FALSE(font.families().isEmpty());
    EXPECT_EQ(font.families().first(), QStringLiteral("宋体"));
    // What the panel really gets on this machine is one of the families asked for, and it has Chinese glyphs.
    const QString resolved = QFontInfo(font).family();
    EXPECT_TRUE(font.families().contains(resolved)) << resolved.toStdString();
    EXPECT_TRUE(QFontMetrics(font).inFont(QChar(0x90AE))) << "邮";
}

TEST_F(MainForm, LogPanelKeepsTheNewestHundredLinesAndHighlightsTheFirst)
{
    writeTaskFile({QStringLiteral("事故报告")}, {});
    createForm();
    for (int i = 1; i <= 101; ++i) {
        m_engine->WriteLogLine(QStringLiteral("行%1").arg(i));
    }
    const QStringList lines = logMemo()->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 100);
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral("  行101")));
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("2026-3-5 10:20:30.000")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("  行2")));
    // The start line and the oldest timed line were pushed out at the bottom.
    EXPECT_FALSE(logMemo()->toPlainText().contains(text(LangText::QorsmailMain_Str::Str1)));
    EXPECT_EQ(logMemo()->textCursor().selectedText(), lines.first());
    EXPECT_TRUE(debugLog().contains(QStringLiteral("2026-3-5 10:20:30.000, 行101")));
}

TEST_F(MainForm, ClosingWithoutTheRightsLibraryAsksTheQuestion)
{
    createForm();
    m_form->show();
    m_messages.answer(QMessageBox::No);
    EXPECT_FALSE(m_form->close());
    ASSERT_EQ(m_messages.requests().size(), 1u);
    EXPECT_EQ(m_messages.requests()[0].text, text(LangText::QorsmailMain_Str::Str4));
    EXPECT_EQ(m_messages.requests()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(m_messages.requests()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_EQ(m_closedCount, 0);

    m_messages.answer(QMessageBox::Yes);
    EXPECT_TRUE(m_form->close());
    EXPECT_EQ(m_closedCount, 1);
}

TEST_F(MainForm, TheRightsLibraryDecidesWithoutAFurtherQuestion)
{
    addUser(QStringLiteral("guest"), QStringLiteral("pw-guest"), {QStringLiteral("1025")});
    addUser(QStringLiteral("chief"), QStringLiteral("pw-chief"), {QStringLiteral("12")});
    TMainFormOptions options;
    options.usrgateCandidates = {QStringLiteral(QORSMAIL_BIN_DIR "/libUsrgate.so")};
    createForm(options);
    m_form->show();
    {
        TLoginAnswerer answer(QStringLiteral("guest"), QStringLiteral("pw-guest"));
        EXPECT_FALSE(m_form->close());
        EXPECT_TRUE(answer.answer().Seen);
        EXPECT_EQ(m_messages.texts(), QStringList{text(LangText::Strings_CheckUsrgate::Str0)});
        EXPECT_TRUE(m_form->isVisible());
    }
    {
        TLoginAnswerer answer(QStringLiteral("chief"), QStringLiteral("pw-chief"));
        EXPECT_TRUE(m_form->close());
        EXPECT_EQ(m_messages.requests().size(), 1u); // no question after the library's yes
        EXPECT_EQ(m_closedCount, 1);
    }
}

TEST_F(MainForm, StartupFailuresShowTheirMessagesInOrderAndNoWindow)
{
    struct Case
    {
        int32_t code;
        const LangText::Entry* own;
    };
    const Case cases[] = {{-1, &LangText::program_Str::program_Str0},
        {-8, &LangText::program_Str::program_Str2},
        {-10, &LangText::program_Str::program_Str1},
        {-12, &LangText::program_Str::program_Str4},
        {-13, &LangText::program_Str::program_Str3},
        {-5, nullptr}};
    for (const Case& c : cases) {
        TFakeLogLibrary log;
        log.InitResult = c.code;
        TMessageRecorder messages;
        bool windowMade = false;
        TStationOptions options;
        options.onWindow = [&windowMade](TQorsmailMainForm* window) { windowMade = windowMade || window; };
        EXPECT_EQ(RunStation(log, m_clock, options), StationExitStartFailed);
        QStringList expected;
        if (c.own) {
            expected << text(*c.own);
        }
        expected << text(LangText::program_Str::program_Str5) + QLatin1Char('(') + log.GetErrorText(c.code)
                + QLatin1Char(')');
        EXPECT_EQ(messages.texts(), expected) << "code " << c.code;
        EXPECT_FALSE(windowMade);
        EXPECT_EQ(log.ExitCalls, 1) << "the exit handler also runs when start-up fails";
    }
}

TEST_F(MainForm, RunStationClosesTheLibraryBeforeTheWindowGoes)
{
    writeTaskFile({QStringLiteral("事故报告")}, {});
    TStationOptions options;
    options.form.trayIcon = false;
    int exitCallsWhenWindowWent = -1;
    bool stopLineBeforeWindowWent = true;
    options.onWindow = [&](TQorsmailMainForm* window) {
        if (!window) {
            exitCallsWhenWindowWent = m_log.ExitCalls;
            stopLineBeforeWindowWent = debugLog().contains(text(LangText::QorsmailMain_Str::Str2));
        }
    };
    options.onShown = [](TQorsmailMainForm& window) {
        QTimer::singleShot(0, &window, [&window] { window.closeWithoutQuestion(); });
    };
    EXPECT_EQ(RunStation(m_log, m_clock, options), StationExitOk);
    EXPECT_EQ(exitCallsWhenWindowWent, 1);
    EXPECT_FALSE(stopLineBeforeWindowWent);
    EXPECT_TRUE(debugLog().contains(text(LangText::QorsmailMain_Str::Str2)));
    EXPECT_TRUE(m_messages.requests().empty()); // closed by a signal: no exit question
}

TEST_F(MainForm, StopWhileIdleStopsAtOnceAndRestoreStartsAgain)
{
    writeTaskFile({QStringLiteral("事故报告")}, {});
    createForm();
    m_log.VerifyAnswer = false;
    m_form->StopSend1Click();
    EXPECT_EQ(m_log.LastRightCode, 1025);
    EXPECT_EQ(m_log.LastCaption, text(LangText::QorsmailMain_Str::Str31));
    EXPECT_TRUE(m_engine->TriggerTimer().isActive());
    EXPECT_FALSE(m_engine->EditAllowed());

    m_log.VerifyAnswer = true;
    m_log.VerifyUserName = Gbk::encode(QStringLiteral("值班员"));
    bool waitShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { waitShown = waitShown || m_form->waitDialog().isVisible(); });
    watch.start(1);
    m_form->StopSend1Click();
    EXPECT_FALSE(waitShown);
    EXPECT_FALSE(m_engine->TriggerTimer().isActive());
    EXPECT_FALSE(m_engine->SendMailTimer().isActive());
    EXPECT_TRUE(m_engine->EditAllowed());
    EXPECT_TRUE(
        m_form->logLines().first().endsWith(QStringLiteral("  值班员") + text(LangText::QorsmailMain_Str::Str35)));
    EXPECT_TRUE(m_messages.requests().empty());

    // Stopping again while stopped is no failure.
    m_form->StopSend1Click();
    EXPECT_TRUE(m_messages.requests().empty());

    m_form->RestoreSend1Click();
    EXPECT_TRUE(m_engine->TriggerTimer().isActive());
    EXPECT_TRUE(m_engine->SendMailTimer().isActive());
    EXPECT_FALSE(m_engine->EditAllowed());
    EXPECT_TRUE(m_form->logLines().first().endsWith(QStringLiteral("  ") + text(LangText::QorsmailMain_Str::Str36)));
}

TEST_F(MainForm, TheFirstUserIsOfferedOnlyWithoutAStoreAndGetsBothRightsInAPrivateStore)
{
    writeTaskFile({QStringLiteral("事故报告")}, {});
    createForm();
    const auto fill = [](const QString& name, const QString& password, const QString& again) {
        return [=](QDialog& dialog) {
            child<QLineEdit>(dialog, "NameEdit").setText(name);
            child<QLineEdit>(dialog, "PasswordEdit").setText(password);
            child<QLineEdit>(dialog, "RepeatEdit").setText(again);
            child<QPushButton>(dialog, "OkBtn").click();
            return dialog.result();
        };
    };
    const QString duty = QStringLiteral("值班员");
    enum class Store
    {
        Missing,
        WithoutUsers
    };
    const struct
    {
        const char* name;
        Store store;
        TDialogRecorder::Step step; // answers the offer; none when it must not come
        QStringList messages;
        bool userMade;
    } cases[] = {
        {"no store: the user is made, then the login follows", Store::Missing, fill(duty, "pw-1", "pw-1"), {}, true},
        {"no store, cancelled: no login, nothing written", Store::Missing, {}, {}, false},
        {"passwords that differ are refused",
            Store::Missing,
            fill(duty, "pw-1", "pw-2"),
            {text(LangText::FirstUser_Str::Str4)},
            false},
        {"a bad name is refused",
            Store::Missing,
            fill(QString(), "pw-1", "pw-1"),
            {text(LangText::FirstUser_Str::Str1)},
            false},
        {"a store without users: no offer", Store::WithoutUsers, {}, {}, false},
    };
    for (const auto& c : cases) {
        QDir(m_workDir + QStringLiteral("CfgCache/Client")).removeRecursively();
        if (c.store == Store::WithoutUsers) {
            ASSERT_EQ(UserStore::SaveAtomic(storePath(), {}), QString());
        }
        const bool offered = c.store == Store::Missing;
        TMessageRecorder messages;
        TDialogRecorder dialogs;
        if (c.step) {
            dialogs.then(c.step);
        }
        const int loginsBefore = m_log.VerifyCalls;
        m_form->StopSend1Click();
        EXPECT_EQ(dialogs.names(), offered ? QStringList{QStringLiteral("TFirstUserDlg")} : QStringList()) << c.name;
        EXPECT_EQ(messages.texts(), c.messages) << c.name;
        // The login follows a made user and an existing store, never a cancelled or refused offer.
        EXPECT_EQ(m_log.VerifyCalls - loginsBefore, c.userMade || !offered ? 1 : 0) << c.name;
        const UserStore::TLoadResult store = UserStore::Load(storePath());
        if (!c.userMade) {
            EXPECT_EQ(store.Status, offered ? UserStore::LoadStatus::Missing : UserStore::LoadStatus::Ok) << c.name;
            continue;
        }
        ASSERT_EQ(store.Status, UserStore::LoadStatus::Ok) << c.name;
        ASSERT_EQ(store.Table.Users.size(), 1);
        EXPECT_EQ(store.Table.Users[0].Name, duty);
        EXPECT_EQ(store.Table.Users[0].Rights, (QList<int32_t>{12, 1025}));
        const UserStore::TVerifyResult verified = UserStore::VerifyUser(storePath(), Gbk::encode(duty), "pw-1");
        EXPECT_EQ(verified.Status, UserStore::VerifyStatus::Valid);
        struct stat file = {};
        struct stat folder = {};
        ASSERT_EQ(::stat(QFile::encodeName(storePath()).constData(), &file), 0);
        ASSERT_EQ(::stat(QFile::encodeName(m_workDir + QStringLiteral("CfgCache/Client")).constData(), &folder), 0);
        EXPECT_EQ(file.st_mode & 07777, 0600u);
        EXPECT_EQ(folder.st_mode & 07777, 0700u);
        EXPECT_TRUE(m_form->logLines().first().contains(duty + QStringLiteral("（权限 12 和 1025）")));
    }
}

TEST_F(MainForm, StopDuringABlockedSendGivesUpAfterItsPollsWithoutFreezing)
{
    writeTaskFile({QStringLiteral("事故报告")}, {});
    TMainFormOptions options;
    options.stopPollCount = 8;
    options.stopPollIntervalMs = 25;
    createForm(options);
    m_log.VerifyAnswer = true;
    markEventTask();

    int ticks = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&ticks] { ++ticks; });
    heartbeat.start(5);
    bool waitShown = false;
    QString waitText;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (m_form->waitDialog().isVisible()) {
            waitShown = true;
            waitText = m_form->waitDialog().message();
        }
    });
    watch.start(1);

    m_smtp->holdSends = true;
    m_smtp->onHold = [this] {
        m_form->StopSend1Click(); // the user stops while the exchange waits
        m_smtp->release();
    };
    m_engine->SendMailTimerTimer();

    ASSERT_EQ(m_smtp->sent.size(), 1u);
    EXPECT_GT(ticks, 8) << "the window kept working during the polls";
    EXPECT_TRUE(waitShown);
    EXPECT_EQ(waitText, text(LangText::QorsmailMain_Str::Str32));
    EXPECT_FALSE(m_form->waitDialog().isVisible());
    EXPECT_EQ(m_messages.texts(), QStringList{text(LangText::QorsmailMain_Str::Str34)});
    const QStringList lines = m_form->logLines();
    ASSERT_GE(lines.size(), 2);
    // The stop failed first, then the interrupted pass finished its mail.
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("  ") + text(LangText::QorsmailMain_Str::Str33)));
    EXPECT_TRUE(lines[0].contains(text(LangText::QorsmailMain_Str::Str25)));
    EXPECT_FALSE(m_engine->EditAllowed());
    EXPECT_FALSE(m_engine->TriggerTimer().isActive()) << "what was switched off stays off";
    EXPECT_TRUE(m_engine->SendMailTimer().isActive()) << "the interrupted pass switched its timer on again";
}

TEST_F(MainForm, TranslatesItselfFromItsLanguageSection)
{
    QFile lang(m_workDir + QStringLiteral("test.lang"));
    ASSERT_TRUE(lang.open(QIODevice::WriteOnly));
    lang.write(Gbk::encode(QStringLiteral("[TQorsmailMainForm]\r\nCaption=邮件站\r\nStopSend1.Caption=停止\r\n"
                                          "Label14.Caption=请选择\r\n[QorsmailMain_Str]\r\nStr37=事件\r\n")));
    lang.close();
    LangEngine().LoadLanguageFileFrom(lang.fileName());
    createForm();
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("邮件站"));
    EXPECT_EQ(m_form->findChild<QAction*>(QStringLiteral("StopSend1"))->text(), QStringLiteral("停止"));
    EXPECT_EQ(m_form->findChild<QLabel*>(QStringLiteral("Label14"))->text(), QStringLiteral("请选择"));
    EXPECT_EQ(tree()->topLevelItem(0)->text(0), QStringLiteral("事件"));
    LangEngine().LoadLanguageFileFrom(QString());
}

} // namespace
