// SPDX-License-Identifier: MIT
// The exit rights check against the real libUsrgate.so and user store, and the single-instance rule.

#include "../suite/LoginDlgAnswer.h"
#include "CheckUsrgate.h"
#include "LangTexts.h"
#include "SingleInstance.h"
#include "UiTestApp.h"

#include <QTemporaryDir>
#include <cstddef>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

TEST(HasRight, SearchesTheDeliveredCountUpToTheFullArray)
{
    int32_t rights[RightsCapacity] = {};
    rights[0] = 1025;
    rights[1] = 12;
    EXPECT_TRUE(HasRight(rights, 2, 12));
    EXPECT_FALSE(HasRight(rights, 1, 12)); // only the delivered count is looked at
    EXPECT_FALSE(HasRight(rights, 0, 1025));
    EXPECT_FALSE(HasRight(rights, -3, 1025));
    EXPECT_FALSE(HasRight(rights, 101, 1025));

    // An entry 0 ends the list even when the count says more.
    rights[1] = 0;
    rights[2] = 12;
    EXPECT_FALSE(HasRight(rights, 3, 12));

    // All 100 entries in use: the last one is found.
    for (int i = 0; i < RightsCapacity; ++i) {
        rights[i] = 1000 + i;
    }
    rights[99] = 12;
    EXPECT_TRUE(HasRight(rights, 100, 12));
}

// A working directory with a user store made by the real qorvane-user tool.
class ExitRight : public ::testing::Test
{
protected:
    QString storePath() const { return m_dir.path() + QStringLiteral("/CfgCache/Client/client_zqv.cfg.cah"); }
    QStringList library() const { return {QStringLiteral(QORSMAIL_BIN_DIR "/libUsrgate.so")}; }

    void addUser(const QString& name, const QString& password, const QStringList& rights)
    {
        std::string error;
        ASSERT_TRUE(addStoreUser(storePath(), name, password, rights, &error)) << error;
    }

    QTemporaryDir m_dir;
    TMessageRecorder m_messages;
};

TEST_F(ExitRight, MissingLibraryLeavesTheDecisionToTheCaller)
{
    const TCheckUsrgate check({m_dir.path() + QStringLiteral("/libUsrgate.so")}, storePath());
    bool granted = true;
    EXPECT_FALSE(check.CheckExitRight(nullptr, 12, granted));
    EXPECT_FALSE(granted);
    EXPECT_TRUE(m_messages.requests().empty());
}

TEST_F(ExitRight, LibraryWithoutAStoreIsNotReady)
{
    const TCheckUsrgate check(library(), storePath());
    bool granted = true;
    EXPECT_FALSE(check.CheckExitRight(nullptr, 12, granted));
    EXPECT_FALSE(granted);
    EXPECT_TRUE(m_messages.requests().empty());
}

TEST_F(ExitRight, TheLibraryDecidesByTheUsersRights)
{
    addUser(QStringLiteral("值班员"), QStringLiteral("pw-exit"), {QStringLiteral("1025"), QStringLiteral("12")});
    addUser(QStringLiteral("guest"), QStringLiteral("pw-guest"), {QStringLiteral("1025")});
    const TCheckUsrgate check(library(), storePath());

    {
        TLoginAnswerer answer(QStringLiteral("值班员"), QStringLiteral("pw-exit"));
        bool granted = false;
        EXPECT_TRUE(check.CheckExitRight(nullptr, 12, granted));
        EXPECT_TRUE(answer.answer().Seen);
        EXPECT_TRUE(granted);
        EXPECT_TRUE(m_messages.requests().empty());
    }
    {
        TLoginAnswerer answer(QStringLiteral("guest"), QStringLiteral("pw-guest"));
        bool granted = true;
        EXPECT_TRUE(check.CheckExitRight(nullptr, 12, granted));
        EXPECT_FALSE(granted);
        ASSERT_EQ(m_messages.requests().size(), 1u);
        EXPECT_EQ(m_messages.requests()[0].text, QString::fromUtf8(LangText::Strings_CheckUsrgate::Str0.Default));
        EXPECT_EQ(m_messages.requests()[0].icon, QMessageBox::Critical);
    }
    {
        TLoginAnswerer answer(QStringLiteral("值班员"), QStringLiteral("wrong"));
        bool granted = true;
        EXPECT_TRUE(check.CheckExitRight(nullptr, 12, granted));
        EXPECT_FALSE(granted);
        ASSERT_EQ(m_messages.requests().size(), 2u);
        EXPECT_EQ(m_messages.requests()[1].text, QString::fromUtf8(LangText::Strings_CheckUsrgate::Str1.Default));
    }
    {
        // Cancelled: decided, not granted, no message.
        TLoginAnswerer answer(QStringLiteral("值班员"), QStringLiteral("pw-exit"), false);
        bool granted = true;
        EXPECT_TRUE(check.CheckExitRight(nullptr, 12, granted));
        EXPECT_FALSE(granted);
        EXPECT_EQ(m_messages.requests().size(), 2u);
    }
}

TEST(SingleInstance, ASecondStartAsksTheFirstForItsWindow)
{
    const QString section = QStringLiteral("TestSection-%1").arg(::getpid());
    auto first = std::make_unique<TSingleInstance>();
    ASSERT_TRUE(first->CheckSingleInstance(section));
    int restores = 0;
    QObject::connect(first.get(), &TSingleInstance::restoreRequested, [&restores] { ++restores; });

    // The first instance answers from its event loop; here both live on one thread, so the second waits briefly.
    TSingleInstance second;
    EXPECT_FALSE(second.CheckSingleInstance(section, 300));
    EXPECT_FALSE(second.isListening());
    EXPECT_TRUE(waitUntil([&] { return restores == 1; }));

    // Anything but the request line is dropped without a restore, and the first keeps answering afterwards.
    const QString name = TSingleInstance::serverName(section);
    for (const QByteArray& junk : {QByteArray("restore-me-now\n"), QByteArray("x"), QByteArray(4096, 'r')}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = name.toUtf8();
        std::memcpy(address.sun_path + 1, bytes.constData(), size_t(bytes.size()));
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(bytes.size()));
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), length), 0);
        ASSERT_GT(::send(fd, junk.constData(), size_t(junk.size()), MSG_NOSIGNAL), 0);
        ::shutdown(fd, SHUT_WR);
        QCoreApplication::processEvents();
        ::close(fd);
    }
    EXPECT_FALSE(waitUntil([&] { return restores != 1; }, 100));
    EXPECT_TRUE(TSingleInstance::askRunningInstance(name, 300));
    EXPECT_TRUE(waitUntil([&] { return restores == 2; }));

    // Once the first is gone the name is free again.
    first.reset();
    TSingleInstance third;
    EXPECT_TRUE(third.CheckSingleInstance(section, 300));
    EXPECT_TRUE(third.isListening());
}

} // namespace
