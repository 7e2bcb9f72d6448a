// SPDX-License-Identifier: MIT
// The real station as a service: without a display it starts only with --headless; under --headless it speaks
// the notify protocol to a datagram socket the test opens (READY=1, WATCHDOG=1 while its tick comes round,
// STOPPING=1 on SIGTERM); its health mail and the notice of a given-up mail reach the health recipients.

#include "LangTexts.h"
#include "SmtpTestServer.h"
#include "StationFiles.h"
#include "StationProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QSysInfo>
#include <QThread>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

// The service manager's end of the protocol: a datagram socket at a path, as systemd gives in NOTIFY_SOCKET.
class TNotifySocket
{
public:
    explicit TNotifySocket(const QString& path)
        : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), std::min<size_t>(name.size(), sizeof address.sun_path - 1));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TNotifySocket()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool bound() const { return m_bound; }

    // The next message, with the milliseconds since the socket was made; empty after the time-out.
    QByteArray next(int timeoutMs, qint64* at = nullptr)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return {};
        }
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (at) {
            *at = m_clock.elapsed();
        }
        return n > 0 ? QByteArray(buffer, n) : QByteArray();
    }
    // Waits for a message holding the line; the messages before it are dropped.
    bool waitFor(const QByteArray& line, int timeoutMs, qint64* at = nullptr, QByteArray* message = nullptr)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            const QByteArray m = next(int(std::max<qint64>(1, timeoutMs - timer.elapsed())), at);
            if (m.split('\n').contains(line)) {
                if (message) {
                    *message = m;
                }
                return true;
            }
        }
        return false;
    }

private:
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
    QElapsedTimer m_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

// The decoded text of a captured mail, and its envelope recipients.
QString mailText(const QString& eml)
{
    const QJsonArray texts = SmtpTest::checkMail(eml)[QStringLiteral("texts")].toArray();
    const QString b64 = texts.isEmpty() ? QString() : texts[0].toObject()[QStringLiteral("bytes_b64")].toString();
    return Gbk::decode(QByteArray::fromBase64(b64.toLatin1()));
}
QJsonArray mailRecipients(const QString& eml)
{
    return SmtpTest::checkMail(eml)[QStringLiteral("envelope")].toObject()[QStringLiteral("rcpt_tos")].toArray();
}

class Service : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + QLatin1Char('/');
    }

    TStationLock m_lock;
    QTemporaryDir m_dir;
    QString m_workDir;
};

TEST_F(Service, WithoutADisplayOnlyHeadlessStartsAndItSpeaksTheNotifyProtocol)
{
    SmtpTest::SmtpTestServer server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    TStationFiles files;
    files.addEventTask(QStringLiteral("主变事故"), 0);
    ASSERT_TRUE(files.write(m_workDir, server.port()));
    TNotifySocket notify(m_workDir + QStringLiteral("notify"));
    ASSERT_TRUE(notify.bound());

    // No display, and the variables systemd sets for a Type=notify unit with WatchdogSec=10.
    const auto asService = [this](TStation& s) {
        for (const char* unset : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            s.setEnvironment(QString::fromLatin1(unset), QString());
        }
        s.setEnvironment(QStringLiteral("NOTIFY_SOCKET"), m_workDir + QStringLiteral("notify"));
        s.setEnvironment(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("10000000"));
    };
    TStation station(m_workDir);
    asService(station);
    // A window without a display: refused at once, with the way out named.
    station.start();
    EXPECT_EQ(station.waitForExit(5000), 1);
    EXPECT_TRUE(station.output().contains("--headless")) << station.output().toStdString();
    EXPECT_TRUE(notify.next(0).isEmpty());

    TStation headless(m_workDir);
    asService(headless);
    headless.start({}, {QStringLiteral("--headless")});
    QByteArray ready;
    ASSERT_TRUE(notify.waitFor("READY=1", 10000, nullptr, &ready)) << headless.output().toStdString();
    EXPECT_TRUE(ready.contains("STATUS=")) << ready.toStdString();

    // The watchdog is fed from the trigger tick (every 5 s), well inside the 10 s asked for.
    qint64 first = 0;
    qint64 second = 0;
    ASSERT_TRUE(notify.waitFor("WATCHDOG=1", 8000, &first));
    ASSERT_TRUE(notify.waitFor("WATCHDOG=1", 8000, &second));
    EXPECT_GT(second - first, 3000);
    EXPECT_LT(second - first, 7000);

    // Every log line is on standard output as well, and a mail goes out as with a window.
    ASSERT_TRUE(postEvent(m_workDir, 3, 1, QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(server.waitForMails(1, 10000)) << readDebugLog(m_workDir).toStdString();
    const QString sentLine = text(LangText::QorsmailMain_Str::Str24) + QStringLiteral("\" 主变事故 \"")
        + text(LangText::QorsmailMain_Str::Str25);
    EXPECT_TRUE(headless.waitForOutput(sentLine.toUtf8(), 5000)) << headless.output().toStdString();

    // SIGTERM, as systemd stops a service: STOPPING=1, then a clean exit.
    ::kill(static_cast<pid_t>(headless.pid()), SIGTERM);
    EXPECT_TRUE(notify.waitFor("STOPPING=1", 5000));
    EXPECT_EQ(headless.waitForExit(), 0);
}

TEST_F(Service, TheHealthMailAndOneNoticeOfAGivenUpMailReachTheHealthRecipients)
{
    SmtpTest::SmtpTestServer server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    // The server refuses the task's only recipient with 550: with one try the mail is given up at once.
    TStationFiles files;
    files.addEventTask(QStringLiteral("主变事故"), 0, {}, QStringLiteral("reject@example.cn"));
    ASSERT_TRUE(files.write(m_workDir, server.port()));
    QFile ini(m_workDir + QStringLiteral("CfgCache/qormail-station.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Health]\r\nRecipients=health@example.cn\r\nTime=09:00\r\n[Notices]\r\nGiveUp=1\r\n");
    ini.close();

    TStation station(m_workDir);
    station.start(QStringLiteral("2026-03-05 08:59:52"), {QStringLiteral("--headless")});
    ASSERT_TRUE(station.waitForOutput(text(LangText::Service_Str::Str3).toUtf8())) << station.output().toStdString();
    ASSERT_TRUE(postEvent(m_workDir, 3, 1, QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(server.waitForMails(2, 30000)) << readDebugLog(m_workDir).toStdString();
    QThread::msleep(1500); // a second notice would come with the next pass
    EXPECT_EQ(station.terminate(), 0);
    ASSERT_EQ(server.mails().size(), 2) << readDebugLog(m_workDir).toStdString();

    // The notice first (the pass that gave up), the health mail at 09:00 counting that give-up.
    const QString notice = mailText(server.mails().at(0));
    EXPECT_EQ(mailRecipients(server.mails().at(0)), QJsonArray{QStringLiteral("health@example.cn")});
    EXPECT_TRUE(notice.contains(text(LangText::Notice_Str::Str1).arg(QStringLiteral("主变事故"))))
        << notice.toStdString();
    EXPECT_TRUE(notice.contains(text(LangText::Notice_Str::Str2).arg(QStringLiteral("reject@example.cn"))))
        << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("550")))
        << notice.toStdString(); // the last error, as the server said it

    const QString health = mailText(server.mails().at(1));
    EXPECT_EQ(mailRecipients(server.mails().at(1)), QJsonArray{QStringLiteral("health@example.cn")});
    for (const QString& line : {text(LangText::Health_Str::Str5).arg(1),
             text(LangText::Health_Str::Str6).arg(0),
             text(LangText::Health_Str::Str8).arg(1),
             text(LangText::Health_Str::Str10).arg(0)}) {
        EXPECT_TRUE(health.contains(line)) << line.toStdString() << "\n" << health.toStdString();
    }
    EXPECT_TRUE(health.contains(text(LangText::Health_Str::Str1).arg(QSysInfo::machineHostName())))
        << health.toStdString();
    // The given-up notice is logged as sent, and no notice follows the health mail.
    EXPECT_TRUE(readDebugLog(m_workDir).contains(text(LangText::Notice_Str::Str8).section(QLatin1Char('"'), 0, 0)));
}

} // namespace
