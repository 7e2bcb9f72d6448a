// SPDX-License-Identifier: MIT
// Saving the configuration held in memory as the task file: a save and a restart give the same tables, a file
// changed by someone else is never overwritten, a failed write leaves the old file, the exit question's
// answers, and Return in the address book's add fields.

#include "AddressBookDlg.h"
#include "EventMailProperty.h"
#include "MailDialogs.h"
#include "MainFormFixture.h"
#include "TaskFileStore.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <sys/stat.h>

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
