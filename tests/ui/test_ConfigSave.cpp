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

// The station's side of a case run as another user: effective ids only, so the test gets root back after it.
class TEffectiveUser
{
public:
    TEffectiveUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups)
        : m_gid(::getegid())
    {
        m_groups.resize(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
        m_groups.resize(static_cast<size_t>(std::max(::getgroups(int(m_groups.size()), m_groups.data()), 0)));
        EXPECT_EQ(::setgroups(groups.size(), groups.data()), 0);
        EXPECT_EQ(::setegid(gid), 0);
        EXPECT_EQ(::seteuid(uid), 0);
    }
    ~TEffectiveUser()
    {
        EXPECT_EQ(::seteuid(0), 0);
        EXPECT_EQ(::setegid(m_gid), 0);
        EXPECT_EQ(::setgroups(m_groups.size(), m_groups.data()), 0);
    }
    TEffectiveUser(const TEffectiveUser&) = delete;
    TEffectiveUser& operator=(const TEffectiveUser&) = delete;

private:
    gid_t m_gid;
    std::vector<gid_t> m_groups;
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
        Owned, // the file has the case's owner and mode
    };
    struct TUser
    {
        uid_t uid;
        gid_t gid;
        std::vector<gid_t> groups;
    };
    struct Case
    {
        const char* name;
        TFault fault;
        std::pair<uid_t, gid_t> owner; // of the file before, and of the new file and its backup after a save
        mode_t mode;
        std::optional<TUser> station; // the station's user; none: root
        QString loadError; // what the log, the debug log and the hint say; empty: the file loads
        bool answer; // to the question before saving over a file that did not load
        bool saved;
        QString refusal; // in the error box of a save that was refused
    };
    const QString denied = QString::fromLocal8Bit(std::strerror(EACCES));
    const QByteArray original = variedTaskFile();
    const Case cases[] = {
        {"cut short",
            TFault::Cut,
            {0, 0},
            0640,
            {},
            QStringLiteral("cut short at byte %1").arg(original.size() - 100),
            true,
            true,
            {}},
        {"wrong version, not replaced",
            TFault::WrongVersion,
            {0, 0},
            0600,
            {},
            QStringLiteral("holds 1999, not 2000"),
            false,
            false,
            {}},
        {"root's 0600, station of another user",
            TFault::Owned,
            {0, 0},
            0600,
            TUser{12345, 12346, {12346}},
            QStringLiteral("cannot be read: ") + denied,
            true,
            false,
            QStringLiteral("root:root (0:0)")},
        {"a FIFO", TFault::Fifo, {0, 0}, 0600, {}, QStringLiteral("is not a regular file (a FIFO)"), true, true, {}},
        {"a symbolic link", TFault::Symlink, {0, 0}, 0640, {}, {}, true, true, {}},
        {"owner and group kept by root", TFault::Owned, {12345, 12346}, 0640, {}, {}, true, true, {}},
        {"group kept by its owner",
            TFault::Owned,
            {12345, 12348},
            0640,
            TUser{12345, 12346, {12346, 12348}},
            {},
            true,
            true,
            {}},
        {"another owner refused",
            TFault::Owned,
            {12347, 12346},
            0640,
            TUser{12345, 12346, {12346}},
            {},
            true,
            false,
            QStringLiteral("(12347:12346)")},
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
        const QString elsewhere = m_workDir + QStringLiteral("elsewhere");
        for (const QString& dir : {m_workDir, cfgCache, elsewhere}) {
            ASSERT_TRUE(QDir().mkpath(dir));
            ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0777), 0);
        }
        const QString real = c.fault == TFault::Symlink ? elsewhere + QStringLiteral("/qorsmail.cfg") : taskFile();
        const QByteArray realNative = QFile::encodeName(real);
        QByteArray before = original;
        if (c.fault == TFault::Cut) {
            before.chop(100);
        } else if (c.fault == TFault::WrongVersion) {
            before.replace(0, 4, QByteArray::fromHex("cf070000")); // 1999
        }
        if (c.fault == TFault::Fifo) {
            ASSERT_EQ(::mkfifo(realNative.constData(), c.mode), 0);
        } else {
            putFile(real, before);
            ASSERT_EQ(::chown(realNative.constData(), c.owner.first, c.owner.second), 0);
            ASSERT_EQ(::chmod(realNative.constData(), c.mode), 0);
        }
        if (c.fault == TFault::Symlink) {
            ASSERT_EQ(::symlink("../elsewhere/qorsmail.cfg", QFile::encodeName(taskFile()).constData()), 0);
        }

        bool saved = false;
        TMessageRecorder messages;
        {
            std::optional<TEffectiveUser> as;
            if (c.station) {
                as.emplace(c.station->uid, c.station->gid, c.station->groups);
            }
            restart();
            const QString hint = child<QLabel>(*m_form, "StartHintLabel").text();
            if (!c.loadError.isEmpty()) {
                const QString line = m_form->logLines().first();
                EXPECT_TRUE(line.contains(taskFile()) && line.contains(c.loadError)) << line.toStdString();
                EXPECT_TRUE(hint.contains(c.loadError)) << hint.toStdString();
                EXPECT_TRUE(
                    Gbk::decode(fileBytes(m_workDir + QStringLiteral("Debug/QorMail.log"))).contains(c.loadError));
            } else {
                EXPECT_EQ(m_tables.EventTaskCount(), 2);
            }
            if (c.fault == TFault::Cut) {
                EXPECT_EQ(m_tables.EventTaskCount(), 2) << "the whole records read are kept";
                EXPECT_EQ(m_tables.ReportTaskCount(), 0);
            }
            m_engine->setEditAllowed(true);
            messages.answer(c.answer ? QMessageBox::Yes : QMessageBox::No);
            saved = m_form->commands().SaveConfig1Click();
        }
        EXPECT_EQ(saved, c.saved);
        const QStringList asked = messages.texts();
        const bool question = !asked.isEmpty() && messages.requests().front().buttons.testFlag(QMessageBox::Yes);
        EXPECT_EQ(question, !c.loadError.isEmpty()) << "a save over a file that did not load asks first";
        if (question) {
            EXPECT_TRUE(asked.first().contains(taskFile()) && asked.first().contains(c.loadError));
        }
        if (!c.refusal.isEmpty()) {
            EXPECT_TRUE(asked.last().contains(real) && asked.last().contains(c.refusal)) << asked.last().toStdString();
        }

        const QString bak = TaskFileBackupPath(real);
        const QStringList damaged =
            QDir(cfgCache).entryList({QStringLiteral("qorsmail.cfg.damaged-*")}, QDir::AllEntries | QDir::System);
        EXPECT_EQ(damaged.size(), c.saved && !c.loadError.isEmpty() ? 1 : 0) << damaged.join(' ').toStdString();
        if (!c.saved) {
            EXPECT_EQ(fileBytes(real), before) << "left as it was";
            EXPECT_FALSE(QFile::exists(bak));
            continue;
        }
        EXPECT_EQ(QFileInfo(taskFile()).isSymLink(), c.fault == TFault::Symlink) << "a link stays a link";
        TMailTables onDisk;
        SetTaskDefaults(onDisk);
        EXPECT_TRUE(LoadTaskFileBytes(onDisk, fileBytes(real)));
        EXPECT_EQ(onDisk.EventTaskCount(), m_tables.EventTaskCount());
        const struct stat st = statOf(real);
        EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), c.owner);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        if (c.loadError.isEmpty()) {
            EXPECT_EQ(fileBytes(bak), before);
            const struct stat b = statOf(bak);
            EXPECT_EQ(std::make_pair(b.st_uid, b.st_gid), c.owner);
            continue;
        }
        // The file that did not load is kept under its own name, and a second save neither replaces nor
        // repeats it.
        ASSERT_EQ(damaged.size(), 1);
        const QString copy = cfgCache + QLatin1Char('/') + damaged.first();
        EXPECT_TRUE(m_form->logLines().join(QLatin1Char('\n')).contains(copy));
        EXPECT_FALSE(QFile::exists(bak)) << "the damaged file is the backup";
        EXPECT_EQ(S_ISFIFO(statOf(copy).st_mode), c.fault == TFault::Fifo);
        if (c.fault != TFault::Fifo) {
            EXPECT_EQ(fileBytes(copy), before);
        }
        const QByteArray first = fileBytes(real);
        messages.answer(QMessageBox::Yes);
        ASSERT_TRUE(m_form->commands().SaveConfig1Click());
        EXPECT_EQ(messages.texts().size(), asked.size()) << "no question once the file is the station's";
        EXPECT_EQ(fileBytes(bak), first);
        EXPECT_EQ(QDir(cfgCache).entryList({QStringLiteral("qorsmail.cfg.damaged-*")}, QDir::AllEntries | QDir::System),
            damaged);
        if (c.fault != TFault::Fifo) {
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
