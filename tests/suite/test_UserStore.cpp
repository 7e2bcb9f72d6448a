// SPDX-License-Identifier: MIT
// The user store file, password verification, the login dialog, VerifyUserDialog and the qorvane-user tool.

#include "GbkCodec.h"
#include "LangTexts.h"
#include "LoginDlg.h"
#include "LoginDlgAnswer.h"
#include "UserStore.h"
#include "UserVerify.h"
#include "qorslog2.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace UserStore;

namespace {

const QByteArray SomeHash =
    "$argon2id$v=19$m=65536,t=2,p=1$q6ybT4C07rjFLBfJHHDq7A$IZc/P3uJhhbvN2u8eySfeqqrmxhFYEhICmXT6Qa0i1s";

QByteArray storeText(const QByteArray& userLines)
{
    return "QORVANE-USERSTORE 1\n" + userLines;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

TUserEntry makeUser(const QString& name, const QByteArray& password, QList<int32_t> rights)
{
    std::optional<QByteArray> hash = HashPassword(password);
    EXPECT_TRUE(hash.has_value());
    return {name, hash.value_or(QByteArray()), rights};
}

// A working directory with a store holding 张三 (password "geheim", rights 12 and 1025) and bob ("pw", 7).
class StoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + u'/';
        m_store = StorePathIn(m_workDir);
        TUserTable table;
        table.Users.append(makeUser(QStringLiteral("张三"), Gbk::encode(QStringLiteral("geheim")), {12, 1025}));
        table.Users.append(makeUser(QStringLiteral("bob"), "pw", {7}));
        ASSERT_EQ(SaveAtomic(m_store, table), QString());
    }

    QTemporaryDir m_dir;
    QString m_workDir;
    QString m_store;
};

} // namespace

TEST(UserStoreFormat, RoundTripKeepsNamesHashesAndRightsInOrder)
{
    TUserTable table;
    table.Users.append({QStringLiteral("一二三四五六七八九十"), SomeHash, {1025, -3, 12, 2147483647, -2147483647 - 1}});
    table.Users.append({QStringLiteral("op"), SomeHash, {}});
    QString error;
    const std::optional<TUserTable> back = Parse(Serialize(table), &error);
    ASSERT_TRUE(back) << error.toStdString();
    ASSERT_EQ(back->Users.size(), 2);
    EXPECT_EQ(back->Users[0].Name, table.Users[0].Name);
    EXPECT_EQ(back->Users[0].Hash, SomeHash);
    EXPECT_EQ(back->Users[0].Rights, table.Users[0].Rights);
    EXPECT_TRUE(back->Users[1].Rights.isEmpty());
    EXPECT_EQ(back->indexOf(QStringLiteral("op")), 1);
    EXPECT_EQ(back->indexOf(QStringLiteral("OP")), -1);

    const std::optional<TUserTable> empty = Parse(Serialize(TUserTable{}), &error);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->Users.isEmpty());
}

TEST(UserStoreFormat, AcceptsCommentsBlankLinesAndTheLimits)
{
    QByteArray rights;
    for (int i = 1; i <= MaxRights; ++i) {
        rights += (i > 1 ? "," : "") + QByteArray::number(i);
    }
    const QByteArray tenChinese = QStringLiteral("一二三四五六七八九十").toUtf8(); // 20 bytes in GBK
    const QByteArray text = storeText("# comment\n\nuser\t" + tenChinese + "\t" + SomeHash + "\t" + rights + "\n");
    QString error;
    const std::optional<TUserTable> table = Parse(text, &error);
    ASSERT_TRUE(table) << error.toStdString();
    EXPECT_EQ(table->Users.at(0).Rights.size(), MaxRights);
}

TEST(UserStoreFormat, RefusesEveryMalformedStore)
{
    const QByteArray ok = "user\tbob\t" + SomeHash + "\t12\n";
    const QByteArray elevenChinese = QStringLiteral("一二三四五六七八九十一").toUtf8();
    QByteArray tooMany;
    for (int i = 1; i <= MaxRights + 1; ++i) {
        tooMany += (i > 1 ? "," : "") + QByteArray::number(i);
    }
    const struct
    {
        const char* why;
        QByteArray text;
    } cases[] = {
        {"empty file", ""},
        {"no header", ok},
        {"other version", "QORVANE-USERSTORE 2\n" + ok},
        {"header with trailing blank", "QORVANE-USERSTORE 1 \n" + ok},
        {"cut short: no final line end", storeText(ok.chopped(1))},
        {"CR LF lines", "QORVANE-USERSTORE 1\r\n" + ok},
        {"NUL byte", storeText("user\tbo\0b\t" + SomeHash + "\t12\n")},
        {"three fields", storeText("user\tbob\t" + SomeHash + "\n")},
        {"five fields", storeText("user\tbob\t" + SomeHash + "\t12\textra\n")},
        {"unknown line kind", storeText("admin\tbob\t" + SomeHash + "\t12\n")},
        {"duplicate name", storeText(ok + ok)},
        {"empty name", storeText("user\t\t" + SomeHash + "\t12\n")},
        {"name over 20 GBK bytes", storeText("user\t" + elevenChinese + "\t" + SomeHash + "\t12\n")},
        {"name with leading blank", storeText("user\t bob\t" + SomeHash + "\t12\n")},
        {"name not UTF-8",
            storeText("user\tb\xff"
                      "b\t"
                + SomeHash + "\t12\n")},
        {"plain-text password", storeText("user\tbob\tgeheim\t12\n")},
        {"other hash kind", storeText("user\tbob\t$2y$10$abcdefghijklmnopqrstuv\t12\n")},
        {"right 0", storeText("user\tbob\t" + SomeHash + "\t12,0\n")},
        {"right not a number", storeText("user\tbob\t" + SomeHash + "\t1x\n")},
        {"right with plus sign", storeText("user\tbob\t" + SomeHash + "\t+5\n")},
        {"right with blank", storeText("user\tbob\t" + SomeHash + "\t 5\n")},
        {"right beyond int32", storeText("user\tbob\t" + SomeHash + "\t2147483648\n")},
        {"empty right between commas", storeText("user\tbob\t" + SomeHash + "\t1,,2\n")},
        {"repeated right", storeText("user\tbob\t" + SomeHash + "\t12,12\n")},
        {"101 rights", storeText("user\tbob\t" + SomeHash + "\t" + tooMany + "\n")},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_FALSE(Parse(c.text, &error)) << c.why;
        EXPECT_FALSE(error.isEmpty()) << c.why;
    }
}

TEST(UserStoreFormat, NameAndRightRules)
{
    EXPECT_EQ(CheckName(QStringLiteral("一二三四五六七八九十")), QString());
    EXPECT_NE(CheckName(QStringLiteral("一二三四五六七八九十a")), QString()); // 21 bytes
    EXPECT_EQ(CheckName(QStringLiteral("operator_with_20char")), QString());
    EXPECT_NE(CheckName(QStringLiteral("operator_with_21chars")), QString());
    EXPECT_NE(CheckName(QStringLiteral("tab\there")), QString());
    EXPECT_NE(CheckName(QStringLiteral("bob ")), QString());
    EXPECT_NE(CheckName(QString(QChar::ReplacementCharacter)), QString());
    EXPECT_NE(CheckRight(0), QString());
    EXPECT_NE(CheckRight(int64_t(INT32_MAX) + 1), QString());
    EXPECT_EQ(CheckRight(INT32_MIN), QString());
}

TEST_F(StoreTest, SavedStoreIsPrivateAndLeavesNoTemporaryFiles)
{
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(m_store).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(m_store).absolutePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const QStringList files = QDir(QFileInfo(m_store).absolutePath()).entryList(QDir::Files);
    EXPECT_EQ(files, QStringList{QStringLiteral("client_zqv.cfg.cah")});
    EXPECT_FALSE(readAll(m_store).contains("geheim"));
}

TEST_F(StoreTest, FailedSaveLeavesTheOldStore)
{
    const QByteArray before = readAll(m_store);
    // A folder in place of the temporary file's folder: nothing can be written there.
    const QString blocked = m_workDir + QStringLiteral("file/client.cah");
    writeFile(m_workDir + QStringLiteral("file"), "x");
    EXPECT_NE(SaveAtomic(blocked, TUserTable{}), QString());
    EXPECT_EQ(readAll(m_store), before);
}

TEST_F(StoreTest, VerifiesTheRightPasswordAndDeliversRights)
{
    const TVerifyResult ok = VerifyUser(m_store, Gbk::encode(QStringLiteral("张三")), "geheim");
    EXPECT_EQ(ok.Status, VerifyStatus::Valid);
    EXPECT_EQ(ok.Rights, (QList<int32_t>{12, 1025}));
    EXPECT_EQ(VerifyUser(m_store, "bob", "pw").Rights, QList<int32_t>{7});
}

TEST_F(StoreTest, RefusesWrongPasswordsAndUnknownOrLookAlikeNames)
{
    const QByteArray zhang = Gbk::encode(QStringLiteral("张三"));
    const struct
    {
        QByteArray name;
        QByteArray password;
    } cases[] = {
        {zhang, "Geheim"},
        {zhang, "geheim "},
        {zhang, "gehei"},
        {zhang, ""},
        {"bob", "geheim"}, // another user's password
        {"Bob", "pw"}, // names compare exactly
        {"bo", "pw"},
        {"bob ", "pw"},
        {"nobody", "pw"},
        {QStringLiteral("张三").toUtf8(), "geheim"}, // UTF-8 bytes are not the GBK name
        {"", ""},
        {QByteArray("pw\0x", 4), "pw"},
        {"bob", QByteArray("pw\0x", 4)}, // a password with a NUL never matches its prefix
    };
    for (const auto& c : cases) {
        const TVerifyResult result = VerifyUser(m_store, c.name, c.password);
        EXPECT_EQ(result.Status, VerifyStatus::Invalid) << c.name.toStdString() << " / " << c.password.toStdString();
        EXPECT_TRUE(result.Rights.isEmpty());
    }
}

TEST_F(StoreTest, StoreThatCannotBeUsedIsNotReadyAndLeftUntouched)
{
    // Malformed: a store cut short in the middle of a line.
    const QByteArray cut = readAll(m_store).chopped(5);
    writeFile(m_store, cut);
    EXPECT_EQ(Load(m_store).Status, LoadStatus::Malformed);
    EXPECT_EQ(VerifyUser(m_store, "bob", "pw").Status, VerifyStatus::NotReady);
    EXPECT_EQ(readAll(m_store), cut);

    // Missing: not created by looking.
    const QString missing = m_workDir + QStringLiteral("other/client_zqv.cfg.cah");
    EXPECT_EQ(Load(missing).Status, LoadStatus::Missing);
    EXPECT_EQ(VerifyUser(missing, "bob", "pw").Status, VerifyStatus::NotReady);
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(QFileInfo::exists(m_workDir + QStringLiteral("other")));

    // Unreadable: a folder where the file should be.
    const QString folder = m_workDir + QStringLiteral("folder.cah");
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(Load(folder).Status, LoadStatus::Unreadable);
    EXPECT_EQ(VerifyUser(folder, "bob", "pw").Status, VerifyStatus::NotReady);
    EXPECT_TRUE(QFileInfo(folder).isDir());

    // A FIFO: refused at once instead of waiting for a writer that never comes.
    const QString fifo = m_workDir + QStringLiteral("fifo.cah");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(Load(fifo).Status, LoadStatus::Unreadable);
}

TEST_F(StoreTest, StoreWithoutReadPermissionIsUnreadable)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    ASSERT_EQ(::chmod(QFile::encodeName(m_store).constData(), 0), 0);
    EXPECT_EQ(Load(m_store).Status, LoadStatus::Unreadable);
    ::chmod(QFile::encodeName(m_store).constData(), 0600);
}

TEST(LoginDialog, WithoutQApplicationEntriesFailCleanly)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    QString user;
    QString password;
    EXPECT_EQ(RunLoginDialog(nullptr, QStringLiteral("x"), &user, &password), LoginOutcome::NoGui);
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication core(argc, argv); // no widgets possible with a core application either
    EXPECT_EQ(RunLoginDialog(nullptr, QStringLiteral("x"), &user, &password), LoginOutcome::NoGui);
    QByteArray nameGbk;
    EXPECT_FALSE(VerifyUserWithDialog(nullptr, QString(), QStringLiteral("/nonexistent"), 1, &nameGbk));
}

TEST(LoginDialog, AnsweredProgrammaticallyGivesTheEnteredTexts)
{
    TTestApp app;
    QString user;
    QString password;
    {
        TLoginAnswerer answerer(QStringLiteral("张三"), QStringLiteral("口令123"));
        EXPECT_EQ(RunLoginDialog(nullptr, QStringLiteral("用户验证"), &user, &password), LoginOutcome::Entered);
        EXPECT_TRUE(answerer.answer().WidgetsFound);
        EXPECT_EQ(answerer.answer().Caption, QStringLiteral("用户验证"));
        EXPECT_EQ(answerer.answer().PasswordEcho, QLineEdit::Password);
    }
    EXPECT_EQ(user, QStringLiteral("张三"));
    EXPECT_EQ(password, QStringLiteral("口令123"));
    {
        TLoginAnswerer answerer(QStringLiteral("bob"), QStringLiteral("pw"), false);
        EXPECT_EQ(RunLoginDialog(nullptr, QString(), &user, &password), LoginOutcome::Cancelled);
        EXPECT_TRUE(answerer.answer().Seen);
    }
    {
        // Shown over its owner, or over the active window when the caller gives none.
        QWidget owner;
        owner.show();
        QApplication::setActiveWindow(&owner);
        TLoginAnswerer withOwner(QStringLiteral("bob"), QStringLiteral("pw"));
        EXPECT_EQ(RunLoginDialog(&owner, QString(), &user, &password), LoginOutcome::Entered);
        EXPECT_EQ(withOwner.answer().Parent, &owner);
        QApplication::setActiveWindow(&owner); // the closed dialog took the activation with it
        TLoginAnswerer withoutOwner(QStringLiteral("bob"), QStringLiteral("pw"));
        EXPECT_EQ(RunLoginDialog(nullptr, QString(), &user, &password), LoginOutcome::Entered);
        EXPECT_EQ(withoutOwner.answer().Parent, &owner);
    }
    TLoginDlg dialog(nullptr, QString());
    EXPECT_EQ(dialog.objectName(), QStringLiteral("LoginDlg"));
    EXPECT_FALSE(dialog.windowTitle().isEmpty());
}

TEST_F(StoreTest, VerifyUserDialogNeedsTheRightPasswordAndTheRight)
{
    TTestApp app;
    qputenv("QORVANE_WORKDIR", m_workDir.toLocal8Bit());
    const QByteArray caption = Gbk::encode(QStringLiteral("用户验证"));
    char name[21];
    std::memset(name, 'x', sizeof name);
    int32_t right = 1025;
    {
        TLoginAnswerer answerer(QStringLiteral("张三"), QStringLiteral("geheim"));
        EXPECT_NE(VerifyUserDialog(nullptr, name, &right, caption.constData()), 0);
        EXPECT_EQ(answerer.answer().Caption, QStringLiteral("用户验证"));
    }
    EXPECT_EQ(QByteArray(name), Gbk::encode(QStringLiteral("张三")));

    EXPECT_EQ(VerifyUserDialog(nullptr, nullptr, &right, nullptr), 0);
    EXPECT_EQ(VerifyUserDialog(nullptr, name, nullptr, nullptr), 0);
    qunsetenv("QORVANE_WORKDIR");
}

TEST_F(StoreTest, EveryFailedLoginSaysWhyAndAStoreNobodyCanUseIsSaidBeforeAnyDialog)
{
    TTestApp app;
    qputenv("QORVANE_WORKDIR", m_workDir.toLocal8Bit());
    const auto text = [](const LangText::Entry& entry) { return QString::fromUtf8(entry.Default); };
    using namespace LangText::LoginCheck_Str;
    enum class Store
    {
        Kept,
        Missing,
        Damaged
    };
    const struct
    {
        const char* name;
        Store store;
        const char* user;
        const char* password;
        int32_t right;
        bool dialogShown;
        QString message; // none for a cancelled login
        bool cancel = false;
    } cases[] = {
        {"cancelled", Store::Kept, "bob", "pw", 7, true, QString(), true},
        {"wrong password", Store::Kept, "张三", "wrong", 1025, true, text(Str0)},
        {"unknown user", Store::Kept, "nobody", "pw", 7, true, text(Str0)},
        {"user without the right", Store::Kept, "bob", "pw", 1025, true, text(Str1).arg(QStringLiteral("bob"), "1025")},
        {"nobody holds the right", Store::Kept, "张三", "geheim", 99, false, text(Str3).arg(m_store, "99")},
        {"no store", Store::Missing, "张三", "geheim", 1025, false, text(Str2).arg(m_store)},
        {"damaged store",
            Store::Damaged,
            "张三",
            "geheim",
            1025,
            false,
            text(Str4).arg(m_store, QStringLiteral("the first line is not the user store header"))},
    };
    const QByteArray kept = readAll(m_store);
    for (const auto& c : cases) {
        if (c.store == Store::Missing) {
            QFile::remove(m_store);
        } else {
            writeFile(m_store, c.store == Store::Damaged ? QByteArray("not a store\n") : kept);
        }
        char name[21];
        std::memset(name, 'x', sizeof name);
        int32_t right = c.right;
        TRefusalAnswerer refusals;
        TLoginAnswerer login(QString::fromUtf8(c.user), QString::fromUtf8(c.password), !c.cancel);
        EXPECT_EQ(VerifyUserDialog(nullptr, name, &right, nullptr), 0) << c.name;
        EXPECT_EQ(name[0], '\0') << c.name;
        EXPECT_EQ(login.answer().Seen, c.dialogShown) << c.name;
        EXPECT_EQ(refusals.texts(), c.message.isEmpty() ? QStringList() : QStringList{c.message}) << c.name;
    }
    qunsetenv("QORVANE_WORKDIR");
}

// ---- qorvane-user, the real binary ----

namespace {

struct TToolRun
{
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

class ToolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + u'/';
        m_store = StorePathIn(m_workDir);
    }

    TToolRun run(const QStringList& args, const QByteArray& input = QByteArray())
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QORVANE_WORKDIR"), m_workDir);
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([] { ::setsid(); }); // no controlling terminal: nothing can prompt
        process.start(QStringLiteral(QORSMAIL_BIN_DIR "/qorvane-user"), args);
        EXPECT_TRUE(process.waitForStarted(5000));
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(20000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(),
            process.readAllStandardError()};
    }

    QTemporaryDir m_dir;
    QString m_workDir;
    QString m_store;
};

} // namespace

TEST_F(ToolTest, RoundTripThroughEveryCommand)
{
    const QString zhang = QStringLiteral("张三");
    ASSERT_EQ(run({QStringLiteral("--password-stdin"),
                      QStringLiteral("add"),
                      zhang,
                      QStringLiteral("12"),
                      QStringLiteral("1025")},
                  "geheim\n")
                  .ExitCode,
        0);
    ASSERT_EQ(
        run({QStringLiteral("add"), QStringLiteral("bob"), QStringLiteral("--password-stdin")}, "pw\r\n").ExitCode, 0);

    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(m_store).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(readAll(m_store).contains("geheim"));

    EXPECT_EQ(VerifyUser(m_store, Gbk::encode(zhang), "geheim").Rights, (QList<int32_t>{12, 1025}));
    EXPECT_EQ(VerifyUser(m_store, "bob", "pw").Status, VerifyStatus::Valid);

    EXPECT_EQ(
        run({QStringLiteral("grant"), QStringLiteral("bob"), QStringLiteral("7"), QStringLiteral("-3")}).ExitCode, 0);
    EXPECT_EQ(run({QStringLiteral("revoke"), zhang, QStringLiteral("12")}).ExitCode, 0);
    const TToolRun list = run({QStringLiteral("list")});
    EXPECT_EQ(list.ExitCode, 0);
    EXPECT_EQ(QString::fromUtf8(list.Out), QStringLiteral("张三\t1025\nbob\t7,-3\n"));

    EXPECT_EQ(run({QStringLiteral("passwd"), QStringLiteral("--password-stdin"), zhang}, "neu\n").ExitCode, 0);
    EXPECT_EQ(VerifyUser(m_store, Gbk::encode(zhang), "geheim").Status, VerifyStatus::Invalid);
    EXPECT_EQ(VerifyUser(m_store, Gbk::encode(zhang), "neu").Status, VerifyStatus::Valid);

    EXPECT_EQ(run({QStringLiteral("remove"), zhang}).ExitCode, 0);
    EXPECT_EQ(VerifyUser(m_store, Gbk::encode(zhang), "neu").Status, VerifyStatus::Invalid);
    EXPECT_EQ(run({QStringLiteral("list")}).Out, QByteArray("bob\t7,-3\n"));
}

TEST_F(ToolTest, RefusesBadInputAndChangesNothing)
{
    // A name of 11 Chinese characters takes 22 bytes in GBK: refused, and no store appears.
    const TToolRun longName = run(
        {QStringLiteral("--password-stdin"), QStringLiteral("add"), QStringLiteral("一二三四五六七八九十一")}, "pw\n");
    EXPECT_EQ(longName.ExitCode, 1);
    EXPECT_TRUE(longName.Err.contains("20")) << longName.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_store));

    EXPECT_EQ(
        run({QStringLiteral("--password-stdin"), QStringLiteral("add"), QStringLiteral("bob")}, "pw\n").ExitCode, 0);
    const QByteArray before = readAll(m_store);
    const struct
    {
        const char* why;
        QStringList args;
        QByteArray input;
    } refused[] = {
        {"existing user", {"--password-stdin", "add", "bob"}, "x\n"},
        {"empty password", {"--password-stdin", "add", "carl"}, "\n"},
        {"no password line", {"--password-stdin", "add", "carl"}, ""},
        {"no terminal", {"add", "carl"}, "pw\n"},
        {"right 0", {"grant", "bob", "0"}, ""},
        {"right not a number", {"grant", "bob", "12a"}, ""},
        {"right beyond int32", {"grant", "bob", "4294967296"}, ""},
        {"unknown user", {"grant", "nobody", "5"}, ""},
        {"grant without a right", {"grant", "bob"}, ""},
        {"remove unknown", {"remove", "nobody"}, ""},
        {"unknown command", {"frobnicate"}, ""},
        {"unknown option", {"--password", "pw", "add", "carl"}, ""},
        {"no command", {}, ""},
    };
    for (const auto& c : refused) {
        const TToolRun result = run(c.args, c.input);
        EXPECT_NE(result.ExitCode, 0) << c.why;
        EXPECT_FALSE(result.Err.isEmpty()) << c.why;
        EXPECT_EQ(readAll(m_store), before) << c.why;
    }
    QStringList tooMany = {QStringLiteral("grant"), QStringLiteral("bob")};
    for (int i = 1; i <= MaxRights + 1; ++i) {
        tooMany.append(QString::number(i));
    }
    EXPECT_EQ(run(tooMany).ExitCode, 1);
    EXPECT_EQ(readAll(m_store), before);
}

TEST_F(ToolTest, DamagedStoreIsNeitherReadNorReplaced)
{
    const QByteArray damaged = "QORVANE-USERSTORE 1\nuser\tbob\tnot-a-hash\t12\n";
    writeFile(m_store, damaged);
    const TToolRun add =
        run({QStringLiteral("--password-stdin"), QStringLiteral("add"), QStringLiteral("carl")}, "pw\n");
    EXPECT_EQ(add.ExitCode, 1);
    EXPECT_TRUE(add.Err.contains("damaged")) << add.Err.toStdString();
    EXPECT_EQ(run({QStringLiteral("list")}).ExitCode, 1);
    EXPECT_EQ(readAll(m_store), damaged);
}

namespace {

// Reads from a terminal master until `until` has appeared in *seen (or the child closed it); false on time-out.
bool readTerminalUntil(int master, QByteArray* seen, const QByteArray& until)
{
    for (int waited = 0; waited < 100 && (until.isEmpty() || !seen->contains(until)); ++waited) {
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            return until.isEmpty(); // the child has gone: EIO on Linux
        }
        seen->append(buffer, n);
    }
    return !until.isEmpty() && seen->contains(until);
}

} // namespace

TEST_F(ToolTest, AsksOnTheTerminalWithoutEcho)
{
    const QByteArray tool = QORSMAIL_BIN_DIR "/qorvane-user";
    const QByteArray workDir = QFile::encodeName(m_workDir);
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("QORVANE_WORKDIR", workDir.constData(), 1);
        ::execl(tool.constData(), tool.constData(), "add", "carl", "5", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    QByteArray seen;
    // Answer each prompt only once it shows: echo is off by then.
    EXPECT_TRUE(readTerminalUntil(master, &seen, "Password for carl: ")) << seen.toStdString();
    ASSERT_EQ(::write(master, "tty-secret\n", 11), 11);
    EXPECT_TRUE(readTerminalUntil(master, &seen, "Again: ")) << seen.toStdString();
    ASSERT_EQ(::write(master, "tty-secret\n", 11), 11);
    readTerminalUntil(master, &seen, QByteArray());
    ::close(master);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen.toStdString();
    EXPECT_FALSE(seen.contains("tty-secret")) << "the password was echoed: " << seen.toStdString();
    EXPECT_EQ(VerifyUser(m_store, "carl", "tty-secret").Rights, QList<int32_t>{5});
}

TEST_F(ToolTest, WriterWaitsForTheLockAndLosesNoOtherChange)
{
    ASSERT_EQ(
        run({QStringLiteral("--password-stdin"), QStringLiteral("add"), QStringLiteral("bob")}, "pw\n").ExitCode, 0);
    std::optional<TWriteLock> lock(std::in_place, m_store); // another writer in the middle of its change
    ASSERT_TRUE(lock->isLocked());
    TLoadResult other = Load(m_store);

    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QORVANE_WORKDIR"), m_workDir);
    writer.setProcessEnvironment(env);
    writer.start(QStringLiteral(QORSMAIL_BIN_DIR "/qorvane-user"),
        {QStringLiteral("--password-stdin"), QStringLiteral("add"), QStringLiteral("carl")});
    writer.write("pw\n");
    writer.closeWriteChannel();
    EXPECT_FALSE(writer.waitForFinished(1500)) << "the writer did not wait for the lock";

    other.Table.Users.append({QStringLiteral("dave"), SomeHash, {1}});
    ASSERT_EQ(SaveAtomic(m_store, other.Table), QString());
    lock.reset();
    ASSERT_TRUE(writer.waitForFinished(20000));
    EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
    const TLoadResult after = Load(m_store);
    EXPECT_GE(after.Table.indexOf(QStringLiteral("bob")), 0);
    EXPECT_GE(after.Table.indexOf(QStringLiteral("carl")), 0);
    EXPECT_GE(after.Table.indexOf(QStringLiteral("dave")), 0);
}
