// SPDX-License-Identifier: MIT
// Saving the configuration held in memory as the task file: a save and a restart give the same tables, a file
// changed by someone else is never overwritten, a file that did not load is named and kept, owner, group and
// link survive a save, a failed write leaves the old file, the exit question's answers, and Return in the
// address book's add fields.

#include "AddressBookDlg.h"
#include "EventMailProperty.h"
#include "MailDialogs.h"
#include "MainFormFixture.h"
#include "TaskFileStore.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace LangText::ConfigSave_Str;

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// The new-task dialog filled in and accepted as a user would.
int addTask(QDialog& dialog, const QString& title)
{
    child<QLineEdit>(dialog, "TitleEdit").setText(title);
    child<QPlainTextEdit>(dialog, "ReceiverMemo").setPlainText(QStringLiteral("duty@example.cn"));
    child<QPushButton>(dialog, "OkBtn").click();
    return dialog.result();
}

class ConfigSave : public MainFormFixture
{
protected:
    QString taskFile() const { return m_workDir + QStringLiteral("CfgCache/qorsmail.cfg"); }

    QByteArray fileBytes(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void putFile(const QString& path, const QByteArray& bytes) const
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // A task file with every kind of record, Chinese and four-byte texts, a password and bytes after the tables.
    QByteArray variedTaskFile() const
    {
        TMailTables t;
        SetTaskDefaults(t);
        TSmtpSettings& s = t.SmtpSettings;
        Gbk::storeField(s.smtpaddr, QStringLiteral("mail.plant.example"));
        s.smtpport = 2525;
        Gbk::storeField(s.LocalEmailAddr, QStringLiteral("station@plant.example"));
        s.NeedAuth = 1;
        Gbk::storeField(s.Username, U("值班"));
        Gbk::storeField(s.Password, U("密码☺"));
        s.MaxSendTries = 3;
        s.WaitSeconds = 10;
        TMailAddr entry{};
        Gbk::storeField(entry.Name, U("张三"));
        Gbk::storeField(entry.Addr, QStringLiteral("zhang@plant.example"));
        t.AddrBook.push_back(entry);
        TEventMailTask event = makeEventTask(U("主变越限 ä☺"), QStringLiteral("zhang@plant.example"));
        Gbk::storeField(event.Keyword, U("主变"));
        event.WaitSec = 30;
        t.EventTasks.append(event);
        t.EventTasks.append(makeEventTask(U("乙")));
        TReportMailTask report = makeReportTask(U("月报"));
        report.FileCount = 1;
        Gbk::storeField(report.Files[0], U("/srv/报表/月报*.xls"));
        t.ReportTasks.append(report);
        return TaskFileBytes(t) + QByteArray("TAIL");
    }

    void restart()
    {
        m_form.reset();
        m_engine.reset();
        m_tables = TMailTables{};
        createForm();
    }
};

TEST_F(ConfigSave, SavedTablesAreTheTablesAfterARestart)
{
    putFile(taskFile(), variedTaskFile());
    ::chmod(QFile::encodeName(taskFile()).constData(), 0640);
    // The settings file replaces the server at every start; the save must not copy it into the task file.
    putFile(m_workDir + QStringLiteral("QorMail.ini"), "[SMTP]\r\nsmtpaddr=ini.plant.example\r\n");
    createForm();
    m_engine->setEditAllowed(true); // as after 停止发送
    EXPECT_FALSE(m_form->windowTitle().startsWith(QLatin1Char('*')));
    // Nor when the settings file changed since the start: the server in memory still came from it.
    putFile(m_workDir + QStringLiteral("QorMail.ini"), "[SMTP]\r\nsmtpaddr=later.plant.example\r\n");

    TDialogRecorder dialogs;
    dialogs.then([](QDialog& d) { return addTask(d, U("新任务 😀")); });
    m_form->commands().AddEventMail1Click();
    select(node(0, 1));
    m_messages.answer(QMessageBox::Yes);
    m_form->commands().DelMail1Click();
    ASSERT_EQ(m_tables.EventTaskCount(), 2);
    EXPECT_TRUE(m_form->windowTitle().startsWith(QLatin1Char('*')));

    ASSERT_TRUE(m_form->commands().SaveConfig1Click());
    EXPECT_FALSE(m_form->windowTitle().startsWith(QLatin1Char('*')));
    ASSERT_FALSE(m_messages.texts().isEmpty());
    EXPECT_TRUE(m_messages.texts().last().contains(QStringLiteral("smtpaddr"))) << "the override is named";
    const QByteArray inMemory = TaskFileBytes(m_tables);

    const QByteArray saved = fileBytes(taskFile());
    EXPECT_TRUE(saved.endsWith("TAIL")) << "bytes after the tables are kept";
    TMailTables onDisk;
    SetTaskDefaults(onDisk);
    ASSERT_TRUE(LoadTaskFileBytes(onDisk, saved));
    EXPECT_EQ(Gbk::fieldText(onDisk.SmtpSettings.smtpaddr), QStringLiteral("mail.plant.example"));
    EXPECT_EQ(Gbk::fieldText(onDisk.SmtpSettings.Password), U("密码☺"));
    EXPECT_EQ(Gbk::fieldText(onDisk.EventTasks.task(1).Title), U("新任务 😀"));
    EXPECT_EQ(fileBytes(TaskFileBackupPath(taskFile())), variedTaskFile());
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(taskFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "a replaced file keeps its mode";

    putFile(m_workDir + QStringLiteral("QorMail.ini"), "[SMTP]\r\nsmtpaddr=ini.plant.example\r\n");
    restart();
    EXPECT_EQ(TaskFileBytes(m_tables), inMemory);
    EXPECT_EQ(node(0, 1)->text(0), U("新任务 😀"));
    EXPECT_EQ(m_engine->taskFileState().trailing, QByteArray("TAIL"));
}

TEST_F(ConfigSave, AFileChangedSinceItWasReadIsNeverOverwritten)
{
    struct Case
    {
        const char* name;
        bool fileAtStart;
        std::optional<QByteArray> fileAtSave; // nullopt: removed
        QMessageBox::StandardButton answer; // Save is the 导出配置 button
    };
    const QByteArray theirs("someone else's task file");
    const Case cases[] = {
        {"changed by another program", true, theirs, QMessageBox::Cancel},
        {"removed", true, std::nullopt, QMessageBox::Cancel},
        {"made since a start without one", false, theirs, QMessageBox::Save},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(taskFile());
        if (c.fileAtStart) {
            writeTasks({makeEventTask(U("甲"))});
        }
        restart();
        m_engine->setEditAllowed(true);
        if (c.fileAtSave) {
            putFile(taskFile(), *c.fileAtSave);
        } else {
            QFile::remove(taskFile());
        }
        TMessageRecorder messages;
        messages.answer(c.answer);
        TSaveFileRecorder chooser;
        const QString exported = m_workDir + QStringLiteral("exported.json");
        chooser.answer(exported);
        EXPECT_FALSE(m_form->commands().SaveConfig1Click());
        ASSERT_EQ(messages.requests().size(), 1u);
        EXPECT_TRUE(messages.requests()[0].text.contains(QDir::toNativeSeparators(taskFile())));
        EXPECT_TRUE(messages.requests()[0].buttons.testFlag(QMessageBox::Save));
        EXPECT_EQ(QFile::exists(taskFile()), c.fileAtSave.has_value());
        EXPECT_EQ(fileBytes(taskFile()), c.fileAtSave.value_or(QByteArray()));
        EXPECT_EQ(QFile::exists(exported), c.answer == QMessageBox::Save) << "导出配置 is offered instead";
        QFile::remove(exported);
    }

    // Our own settings file changed since it was read: neither file is written.
    SCOPED_TRACE("the station's settings file changed");
    const QString stationFile = m_workDir + QStringLiteral("CfgCache/qormail-station.ini");
    writeTasks({makeEventTask(U("甲"))});
    putFile(stationFile, "[Notices]\r\nGiveUp=0\r\n");
    restart();
    m_engine->setEditAllowed(true);
    m_tables.Station.notices.giveUp = true;
    const QByteArray tasksBefore = fileBytes(taskFile());
    putFile(stationFile, "[Notices]\r\nGiveUp=0\r\n; theirs\r\n");
    TMessageRecorder messages;
    EXPECT_FALSE(m_form->commands().SaveConfig1Click());
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_TRUE(messages.texts()[0].contains(stationFile));
    EXPECT_EQ(fileBytes(taskFile()), tasksBefore);
    EXPECT_EQ(fileBytes(stationFile), QByteArray("[Notices]\r\nGiveUp=0\r\n; theirs\r\n"));
}

TEST_F(ConfigSave, AFailedWriteIsReportedAndLeavesTheOldFile)
{
    writeTasks({makeEventTask(U("甲"))});
    const QByteArray before = fileBytes(taskFile());
    createForm();
    m_engine->setEditAllowed(true);
    TDialogRecorder dialogs;
    dialogs.then([](QDialog& d) { return addTask(d, U("乙")); });
    m_form->commands().AddEventMail1Click();
    // Where the backup goes there is a folder: the write fails even for root, like a full or read-only disk.
    ASSERT_TRUE(QDir().mkpath(TaskFileBackupPath(taskFile()) + QStringLiteral("/in-the-way")));

    EXPECT_FALSE(m_form->commands().SaveConfig1Click());
    ASSERT_EQ(m_messages.requests().size(), 1u);
    EXPECT_EQ(m_messages.requests()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(m_form->logLines().first().contains(langText(Str2).arg(QString()).trimmed()));
    EXPECT_EQ(fileBytes(taskFile()), before);
    EXPECT_TRUE(m_form->windowTitle().startsWith(QLatin1Char('*'))) << "the changes are still unsaved";
    const QStringList left = QDir(m_workDir + QStringLiteral("CfgCache")).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, (QStringList{QStringLiteral("qorsmail.cfg"), QStringLiteral("qorsmail.cfg.lock")}));
}

// The station's side of a case run as user 12345 with these groups (the first its own): effective ids only, so
// the test gets root back after it.
class TEffectiveUser
{
public:
    explicit TEffectiveUser(const std::vector<gid_t>& groups)
    {
        EXPECT_EQ(::setgroups(groups.size(), groups.data()), 0);
        EXPECT_EQ(::setegid(groups.front()), 0);
        EXPECT_EQ(::seteuid(12345), 0);
    }
    ~TEffectiveUser()
    {
        EXPECT_EQ(::seteuid(0), 0);
        EXPECT_EQ(::setegid(0), 0);
        EXPECT_EQ(::setgroups(0, nullptr), 0);
    }
    TEffectiveUser(const TEffectiveUser&) = delete;
    TEffectiveUser& operator=(const TEffectiveUser&) = delete;
};

struct stat statOf(const QString& path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

TEST_F(ConfigSave, ATaskFileThatDidNotLoadIsNamedAndKeptAndASaveKeepsOwnerGroupAndLink)
{
    enum class TFault
    {
        Cut, // 100 bytes short
        WrongVersion,
        Fifo,
        Symlink, // qorsmail.cfg links to ../elsewhere/qorsmail.cfg
        Owned, // only the case's owner and mode
    };
    struct Case
    {
        const char* name;
        TFault fault;
        uid_t uid; // the file's owner and group before, and of the new file and its backup after a save
        gid_t gid;
        mode_t mode;
        std::vector<gid_t> station; // the station runs as 12345 with these groups; empty: as root
        QString loadError; // in the log, the debug log, the hint and the question; empty: the file loads
        bool saved; // answered Yes, but for the wrong version
    };
    const QByteArray original = variedTaskFile();
    const QString cutAt = QStringLiteral("cut short at byte %1").arg(original.size() - 100);
    const QString unreadable = QStringLiteral("cannot be read: ") + QString::fromLocal8Bit(std::strerror(EACCES));
    const Case cases[] = {
        {"cut short", TFault::Cut, 0, 0, 0640, {}, cutAt, true},
        {"wrong version, answered No",
            TFault::WrongVersion,
            0,
            0,
            0600,
            {},
            QStringLiteral("holds 1999, not 2000"),
            false},
        {"root's 0600, another user's station", TFault::Owned, 0, 0, 0600, {12346}, unreadable, false},
        {"a FIFO", TFault::Fifo, 0, 0, 0600, {}, QStringLiteral("is not a regular file (a FIFO)"), true},
        {"a symbolic link", TFault::Symlink, 0, 0, 0640, {}, {}, true},
        {"owner and group kept by root", TFault::Owned, 12345, 12346, 0640, {}, {}, true},
        {"group kept by its owner", TFault::Owned, 12345, 12348, 0640, {12346, 12348}, {}, true},
        {"another owner's file refused", TFault::Owned, 12347, 12346, 0640, {12346}, {}, false},
    };
    if (::geteuid() != 0) {
        GTEST_SKIP() << "owners, groups and unreadable files need root";
    }
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A working directory of its own, open to the case's user.
        m_workDir = m_dir.path() + QStringLiteral("/case%1/").arg(++n);
        m_log.WorkDir = QFile::encodeName(m_workDir);
        const QString cfgCache = m_workDir + QStringLiteral("CfgCache");
        for (const QString& dir : {m_workDir, cfgCache, m_workDir + QStringLiteral("elsewhere")}) {
            ASSERT_TRUE(QDir().mkpath(dir));
            ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0777), 0);
        }
        const QString real =
            c.fault == TFault::Symlink ? m_workDir + QStringLiteral("elsewhere/qorsmail.cfg") : taskFile();
        QByteArray before = original;
        if (c.fault == TFault::Cut) {
            before.chop(100);
        } else if (c.fault == TFault::WrongVersion) {
            before.replace(0, 4, QByteArray::fromHex("cf070000")); // 1999
        }
        if (c.fault == TFault::Fifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(real).constData(), c.mode), 0);
        } else {
            putFile(real, before);
            ASSERT_EQ(::chown(QFile::encodeName(real).constData(), c.uid, c.gid), 0);
            ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), c.mode), 0);
        }
        if (c.fault == TFault::Symlink) {
            ASSERT_EQ(::symlink("../elsewhere/qorsmail.cfg", QFile::encodeName(taskFile()).constData()), 0);
        }

        TMessageRecorder messages;
        messages.answer(c.fault == TFault::WrongVersion ? QMessageBox::No : QMessageBox::Yes);
        {
            std::optional<TEffectiveUser> as;
            if (!c.station.empty()) {
                as.emplace(c.station);
            }
            restart();
            if (!c.loadError.isEmpty()) {
                const QString line = m_form->logLines().first();
                EXPECT_TRUE(line.contains(taskFile()) && line.contains(c.loadError)) << line.toStdString();
                EXPECT_TRUE(child<QLabel>(*m_form, "StartHintLabel").text().contains(c.loadError));
                EXPECT_TRUE(
                    Gbk::decode(fileBytes(m_workDir + QStringLiteral("Debug/QorMail.log"))).contains(c.loadError));
            }
            if (c.fault == TFault::Cut) {
                EXPECT_EQ(std::make_pair(m_tables.EventTaskCount(), m_tables.ReportTaskCount()), std::make_pair(2, 0))
                    << "the whole records read";
            }
            m_engine->setEditAllowed(true);
            EXPECT_EQ(m_form->commands().SaveConfig1Click(), c.saved);
        }
        const std::vector<MessageBoxes::Request>& asked = messages.requests();
        const bool question = !asked.empty() && asked.front().buttons.testFlag(QMessageBox::Yes);
        EXPECT_EQ(question, !c.loadError.isEmpty()) << "a save over a file that did not load asks first";
        EXPECT_TRUE(!question || asked.front().text.contains(c.loadError));
        if (!c.saved && c.fault != TFault::WrongVersion) {
            const QString refusal = asked.back().text;
            EXPECT_TRUE(refusal.contains(real) && refusal.contains(QStringLiteral("(%1:%2)").arg(c.uid).arg(c.gid)))
                << refusal.toStdString();
        }

        const QString bak = TaskFileBackupPath(real);
        const auto damagedNames = [&] {
            return QDir(cfgCache).entryList(
                {QStringLiteral("qorsmail.cfg.damaged-*")}, QDir::AllEntries | QDir::System);
        };
        const QStringList damaged = damagedNames();
        EXPECT_EQ(damaged.size(), c.saved && !c.loadError.isEmpty() ? 1 : 0) << damaged.join(' ').toStdString();
        if (!c.saved) {
            EXPECT_EQ(fileBytes(real), before) << "left as it was";
            EXPECT_FALSE(QFile::exists(bak));
            continue;
        }
        EXPECT_EQ(QFileInfo(taskFile()).isSymLink(), c.fault == TFault::Symlink) << "a link stays a link";
        EXPECT_EQ(fileBytes(real), TaskFileBytes(m_tables) + (c.loadError.isEmpty() ? "TAIL" : ""));
        for (const QString& f : {real, bak}) {
            const struct stat st = statOf(f);
            EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(c.uid, c.gid)) << f.toStdString();
            EXPECT_EQ(st.st_mode & 07777, c.mode);
            if (!c.loadError.isEmpty()) {
                break; // no backup: the damaged file is kept instead
            }
        }
        if (c.loadError.isEmpty()) {
            EXPECT_EQ(fileBytes(bak), before);
            continue;
        }
        // The file that did not load keeps a name of its own, which the next save neither replaces nor repeats.
        ASSERT_EQ(damaged.size(), 1);
        const QString copy = cfgCache + QLatin1Char('/') + damaged.first();
        EXPECT_TRUE(m_form->logLines().join(QLatin1Char('\n')).contains(copy));
        EXPECT_FALSE(QFile::exists(bak));
        EXPECT_EQ(S_ISFIFO(statOf(copy).st_mode), c.fault == TFault::Fifo);
        const QByteArray first = fileBytes(real);
        ASSERT_TRUE(m_form->commands().SaveConfig1Click());
        EXPECT_EQ(messages.requests().size(), 1u) << "no question once the file is the station's";
        EXPECT_EQ(fileBytes(bak), first);
        EXPECT_EQ(damagedNames(), damaged);
        if (c.fault != TFault::Fifo) { // a FIFO is never opened
            EXPECT_EQ(fileBytes(copy), before);
        }
    }
}

TEST_F(ConfigSave, ExitWithUnsavedChangesAsksSaveDiscardOrCancel)
{
    struct Case
    {
        const char* name;
        std::optional<QMessageBox::StandardButton> answer; // nullopt: SIGTERM, nothing asked
        bool closed;
        bool saved;
        QString logLine;
    };
    const Case cases[] = {
        {"save", QMessageBox::Save, true, true, langText(Str0).arg(QString())},
        {"discard", QMessageBox::Discard, true, false, langText(Str8)},
        {"cancel", QMessageBox::Cancel, false, false, QString()},
        {"SIGTERM", std::nullopt, true, false, langText(Str7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeTasks({makeEventTask(U("甲"))});
        const QByteArray before = fileBytes(taskFile());
        restart();
        m_engine->setEditAllowed(true);
        TDialogRecorder dialogs;
        dialogs.then([](QDialog& d) { return addTask(d, U("乙")); });
        m_form->commands().AddEventMail1Click();
        bool closed = false;
        QObject::connect(m_form.get(), &TQorsmailMainForm::closed, [&] { closed = true; });
        TMessageRecorder messages;
        if (c.answer) {
            messages.answer(QMessageBox::Yes); // the exit check comes first
            messages.answer(*c.answer);
            m_form->close();
            ASSERT_EQ(messages.requests().size(), 2u);
            EXPECT_EQ(messages.requests()[1].text, langText(Str6));
        } else {
            m_form->closeWithoutQuestion();
            EXPECT_TRUE(messages.requests().empty());
        }
        EXPECT_EQ(closed, c.closed);
        EXPECT_EQ(fileBytes(taskFile()) != before, c.saved);
        if (!c.logLine.isEmpty()) {
            EXPECT_TRUE(m_form->logLines().first().contains(c.logLine.trimmed()));
        }
    }
}

TEST_F(ConfigSave, ReturnInTheAddressBookAddFieldsNeverDropsTheTypedEntry)
{
    struct Case
    {
        const char* name;
        QString typedName;
        int expectedEntries; // after OK
        bool fieldsKept; // the typed text is still in the fields after Return
    };
    const Case cases[] = {
        {"name and address", U("王五"), 1, false},
        {"address without a name", QString(), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        TDialogRecorder dialogs;
        bool stillOpen = false;
        QString nameAfter;
        QString addrAfter;
        dialogs.then([&](QDialog& d) {
            child<QLineEdit>(d, "NameEdit").setText(c.typedName);
            auto& email = child<QLineEdit>(d, "EmailEdit");
            email.setText(QStringLiteral("wang@plant.example"));
            email.setFocus();
            QTest::keyClick(&email, Qt::Key_Return);
            stillOpen = d.isVisible();
            nameAfter = child<QLineEdit>(d, "NameEdit").text();
            addrAfter = email.text();
            child<QPushButton>(d, "OkBtn").click();
            return d.result();
        });
        m_form->commands().EditAddr1Click();
        EXPECT_TRUE(stillOpen) << "Return did not press OK";
        EXPECT_EQ(m_tables.AddrBookCount(), c.expectedEntries);
        EXPECT_EQ(!addrAfter.isEmpty(), c.fieldsKept);
        EXPECT_EQ(nameAfter, c.fieldsKept ? c.typedName : QString());
        EXPECT_EQ(m_form->windowTitle().startsWith(QLatin1Char('*')), c.expectedEntries > 0);
    }
}

} // namespace
