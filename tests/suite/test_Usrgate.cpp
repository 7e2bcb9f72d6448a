// SPDX-License-Identifier: MIT
// libUsrgate.so loaded as the station loads it: dlopen by path, entries looked up by name.

#include "GbkCodec.h"
#include "LoginDlgAnswer.h"
#include "UserStore.h"
#include "UserVerify.h"
#include "usrgate.h"

#include <QFile>
#include <QTemporaryDir>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

using InitializeFn = int32_t (*)(int32_t, const char*);
using LoginDlgFn = int32_t (*)(int32_t, char*, int32_t, char*, int32_t);
using VerifyFn = int32_t (*)(const char*, const char*, uint8_t*, int32_t*, int32_t*);
using FinalizeFn = void (*)();

class UsrgateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_lib = ::dlopen(QORSMAIL_BIN_DIR "/libUsrgate.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_lib, nullptr) << ::dlerror();
        Initialize = reinterpret_cast<InitializeFn>(::dlsym(m_lib, "UGT_Initialize"));
        LoginDlg = reinterpret_cast<LoginDlgFn>(::dlsym(m_lib, "UGT_LoginDlg"));
        Verify = reinterpret_cast<VerifyFn>(::dlsym(m_lib, "UGT_VerifyUsrPwdReadAuths"));
        Finalize = reinterpret_cast<FinalizeFn>(::dlsym(m_lib, "UGT_Finalize"));
        ASSERT_TRUE(Initialize && LoginDlg && Verify && Finalize);

        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + u'/';
        m_store = UserStore::StorePathIn(m_workDir);
        m_storeGbk = Gbk::encode(m_store);
        UserStore::TUserTable table;
        QList<int32_t> many;
        for (int i = 1; i <= UserStore::MaxRights; ++i) {
            many.append(i * 10);
        }
        table.Users.append(
            {QStringLiteral("张三"), *UserStore::HashPassword(Gbk::encode(QStringLiteral("口令"))), many});
        table.Users.append({QStringLiteral("bob"), *UserStore::HashPassword("pw"), {7, 12}});
        ASSERT_EQ(UserStore::SaveAtomic(m_store, table), QString());
    }

    void TearDown() override
    {
        if (Finalize) {
            Finalize();
        }
        if (m_lib) {
            ::dlclose(m_lib);
        }
    }

    QByteArray storeBytes() const
    {
        QFile file(m_store);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void replaceStore(const QByteArray& text)
    {
        QFile file(m_store);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    void* m_lib = nullptr;
    InitializeFn Initialize = nullptr;
    LoginDlgFn LoginDlg = nullptr;
    VerifyFn Verify = nullptr;
    FinalizeFn Finalize = nullptr;
    QTemporaryDir m_dir;
    QString m_workDir;
    QString m_store;
    QByteArray m_storeGbk;
};

} // namespace

TEST_F(UsrgateTest, InitializeIsReadyOnlyForAWellFormedStore)
{
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, m_storeGbk.constData()), UGT_OK);
    EXPECT_EQ(Initialize(1, m_storeGbk.constData()), UGT_ERR_ARGUMENT);
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, (m_workDir + QStringLiteral("none.cah")).toUtf8().constData()),
        UGT_ERR_STORE_MISSING);
    EXPECT_FALSE(QFile::exists(m_workDir + QStringLiteral("none.cah")));
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, m_workDir.toUtf8().constData()), UGT_ERR_STORE_UNREADABLE); // a folder

    const QByteArray damaged = storeBytes().replace("$argon2id$", "$plain$");
    replaceStore(damaged);
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, m_storeGbk.constData()), UGT_ERR_STORE_MALFORMED);
    EXPECT_EQ(storeBytes(), damaged);
}

TEST_F(UsrgateTest, NonAsciiStorePathWorksAsFileSystemBytesAndAsGbk)
{
    const QString path = m_workDir + QStringLiteral("用户/client_zqv.cfg.cah");
    UserStore::TUserTable table;
    table.Users.append({QStringLiteral("bob"), *UserStore::HashPassword("pw"), {12}});
    ASSERT_EQ(UserStore::SaveAtomic(path, table), QString());
    int32_t rights[4] = {};
    int32_t count = 4;
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, QFile::encodeName(path).constData()), UGT_OK);
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_OK);
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, Gbk::encode(path).constData()), UGT_OK);
    count = 4;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_OK);
    EXPECT_EQ(rights[0], 12);
}

TEST_F(UsrgateTest, InitializeWithoutPathUsesTheWorkingDirectory)
{
    const QByteArray saved = qgetenv("QORVANE_WORKDIR");
    qputenv("QORVANE_WORKDIR", m_workDir.toLocal8Bit());
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, nullptr), UGT_OK);
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, ""), UGT_OK);
    int32_t rights[4] = {};
    int32_t count = 4;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_OK);
    qputenv("QORVANE_WORKDIR", (m_workDir + QStringLiteral("empty/")).toLocal8Bit());
    EXPECT_EQ(Initialize(UGT_MODE_CLIENT, nullptr), UGT_ERR_STORE_MISSING);
    qputenv("QORVANE_WORKDIR", saved);
}

TEST_F(UsrgateTest, VerifyDeliversRightsUpToTheCapacity)
{
    ASSERT_EQ(Initialize(UGT_MODE_CLIENT, m_storeGbk.constData()), UGT_OK);
    const QByteArray zhang = Gbk::encode(QStringLiteral("张三"));
    const QByteArray password = Gbk::encode(QStringLiteral("口令"));

    int32_t rights[101];
    std::fill(std::begin(rights), std::end(rights), -1);
    int32_t count = 100;
    uint8_t reserved = 9;
    EXPECT_EQ(Verify(zhang.constData(), password.constData(), &reserved, rights, &count), UGT_OK);
    EXPECT_EQ(count, 100);
    EXPECT_EQ(reserved, 1);
    EXPECT_EQ(rights[0], 10);
    EXPECT_EQ(rights[99], 1000);
    EXPECT_EQ(rights[100], -1);

    std::fill(std::begin(rights), std::end(rights), -1);
    count = 3;
    EXPECT_EQ(Verify(zhang.constData(), password.constData(), nullptr, rights, &count), UGT_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(rights[2], 30);
    EXPECT_EQ(rights[3], -1); // nothing beyond the capacity

    count = 0;
    EXPECT_EQ(Verify("bob", "pw", nullptr, nullptr, &count), UGT_OK);
    EXPECT_EQ(count, 0);
    count = 100;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(rights[1], 12);
}

TEST_F(UsrgateTest, VerifyRefusesWrongCredentialsAndBadArguments)
{
    int32_t rights[100];
    int32_t count = 100;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_ERR_NOT_INIT);
    ASSERT_EQ(Initialize(UGT_MODE_CLIENT, m_storeGbk.constData()), UGT_OK);

    uint8_t reserved = 9;
    count = 100;
    EXPECT_EQ(Verify("bob", "PW", &reserved, rights, &count), UGT_INVALID);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(reserved, 0);
    count = 100;
    EXPECT_EQ(Verify("nobody", "pw", nullptr, rights, &count), UGT_INVALID);
    EXPECT_EQ(count, 0);
    // A long name or password is read no further than a stored one can reach, and refused.
    const std::string longName(300, 'b');
    const std::string longPassword(300, 'p');
    count = 100;
    EXPECT_EQ(Verify(longName.c_str(), "pw", nullptr, rights, &count), UGT_INVALID);
    count = 100;
    EXPECT_EQ(Verify("bob", longPassword.c_str(), nullptr, rights, &count), UGT_INVALID);

    count = 100;
    EXPECT_EQ(Verify(nullptr, "pw", nullptr, rights, &count), UGT_ERR_ARGUMENT);
    count = 100;
    EXPECT_EQ(Verify("bob", nullptr, nullptr, rights, &count), UGT_ERR_ARGUMENT);
    count = 100;
    EXPECT_EQ(Verify("bob", "pw", nullptr, nullptr, &count), UGT_ERR_ARGUMENT);
    count = -1;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_ERR_ARGUMENT);
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, nullptr), UGT_ERR_ARGUMENT);

    // The store damaged after Initialize: not ready, and still not touched.
    const QByteArray damaged = storeBytes().chopped(1);
    replaceStore(damaged);
    count = 100;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_ERR_STORE_MALFORMED);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(storeBytes(), damaged);

    Finalize();
    count = 100;
    EXPECT_EQ(Verify("bob", "pw", nullptr, rights, &count), UGT_ERR_NOT_INIT);
}

TEST_F(UsrgateTest, LoginDlgWithoutQApplicationFailsCleanly)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    char user[256];
    char password[256];
    std::memset(user, 'x', sizeof user);
    std::memset(password, 'x', sizeof password);
    EXPECT_EQ(LoginDlg(0, user, 256, password, 256), UGT_ERR_NO_GUI);
    EXPECT_EQ(user[0], '\0');
    EXPECT_EQ(password[0], '\0');
    EXPECT_EQ(LoginDlg(0, nullptr, 256, password, 256), UGT_ERR_ARGUMENT);
    EXPECT_EQ(LoginDlg(0, user, 0, password, 256), UGT_ERR_ARGUMENT);
}

TEST_F(UsrgateTest, ExitCheckAsTheStationRunsIt)
{
    TTestApp app;
    ASSERT_EQ(Initialize(UGT_MODE_CLIENT, m_storeGbk.constData()), UGT_OK);
    char user[256] = {};
    char password[256] = {};
    {
        TLoginAnswerer answerer(QStringLiteral("张三"), QStringLiteral("口令"));
        ASSERT_EQ(LoginDlg(0, user, 256, password, 256), UGT_OK);
        EXPECT_TRUE(answerer.answer().WidgetsFound);
    }
    EXPECT_EQ(QByteArray(user), Gbk::encode(QStringLiteral("张三")));
    EXPECT_EQ(QByteArray(password), Gbk::encode(QStringLiteral("口令")));
    int32_t rights[100] = {};
    int32_t count = 100;
    uint8_t reserved = 0;
    EXPECT_EQ(Verify(user, password, &reserved, rights, &count), UGT_OK);
    EXPECT_EQ(count, 100);
    EXPECT_NE(std::find(rights, rights + count, 120), rights + count);

    {
        TLoginAnswerer answerer(QStringLiteral("bob"), QStringLiteral("pw"), false);
        EXPECT_EQ(LoginDlg(0, user, 256, password, 256), UGT_CANCELLED);
        EXPECT_TRUE(answerer.answer().Seen);
    }
    EXPECT_EQ(user[0], '\0');
    EXPECT_EQ(password[0], '\0');
}

TEST_F(UsrgateTest, LoginDlgRefusesTextsThatDoNotFitInsteadOfCuttingThem)
{
    TTestApp app;
    char user[8];
    char password[4];
    {
        // "secret" would be cut to "sec": a shorter password must never be what gets checked.
        TLoginAnswerer answerer(QStringLiteral("bob"), QStringLiteral("secret"));
        EXPECT_EQ(LoginDlg(0, user, sizeof user, password, sizeof password), UGT_ERR_TOO_LONG);
    }
    EXPECT_EQ(QByteArray(user, sizeof user), QByteArray(sizeof user, '\0'));
    EXPECT_EQ(QByteArray(password, sizeof password), QByteArray(sizeof password, '\0'));
    {
        TLoginAnswerer answerer(QStringLiteral("张三"), QStringLiteral("abc")); // 4 GBK bytes + NUL > 4
        EXPECT_EQ(LoginDlg(0, password, sizeof password, user, sizeof user), UGT_ERR_TOO_LONG);
    }
    {
        TLoginAnswerer answerer(QStringLiteral("bob"), QStringLiteral("abc")); // exactly fills 4 with the NUL
        EXPECT_EQ(LoginDlg(0, user, sizeof user, password, sizeof password), UGT_OK);
    }
    EXPECT_EQ(QByteArray(password), QByteArray("abc"));
}
