// SPDX-License-Identifier: MIT
#include "CoreTestApp.h"
#include "GbkCodec.h"
#include "MailHeaders.h"
#include "SmtpSession.h"
#include "SmtpTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using SmtpTest::SmtpTestServer;

namespace {

QByteArray fromB64(const QJsonValue& v)
{
    return QByteArray::fromBase64(v.toString().toLatin1());
}

TOutgoingMail sampleMail(const QList<QByteArray>& recipients = {"ops@example.cn"})
{
    TOutgoingMail mail;
    mail.from = "station@plant.example.cn";
    mail.recipients = recipients;
    QList<QByteArray> to;
    for (const auto& r : recipients) {
        to.append(MailHeaders::mailbox("", r));
    }
    mail.headers = {"From: " + MailHeaders::mailbox("Station", mail.from),
        MailHeaders::addressListField("To", to),
        "Subject: " + MailHeaders::unstructured(Gbk::encode(QString::fromUtf8("测试")), 9),
        "Date: " + MailHeaders::dateValue(QDateTime::currentDateTime()),
        "Message-ID: " + MailHeaders::messageId(mail.from),
        "MIME-Version: 1.0"};
    mail.hasText = true;
    mail.textType = "text/plain; charset=GB18030";
    mail.text = "hello\r\n";
    return mail;
}

TSmtpConnection plainTo(const SmtpTestServer& server)
{
    TSmtpConnection c;
    c.host = "127.0.0.1";
    c.port = server.port();
    return c;
}

// A port nobody listens on: bound once to get a free number, then closed.
int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class SmtpSessionTest : public ::testing::Test
{
protected:
    void SetUp() override { coreTestApp(); }

    void startServer(const QString& mode) { ASSERT_TRUE(m_server.start(mode)) << m_server.error().toStdString(); }

    TSmtpConnection tlsTo(TSmtpTls tls)
    {
        TSmtpConnection c = plainTo(m_server);
        c.tls = tls;
        c.caFile = SmtpTest::certDir() + QStringLiteral("/ca.pem");
        c.login = true;
        c.user = "scada";
        c.password = "secret";
        return c;
    }

    SmtpTestServer m_server;
    TCurlSmtpSession m_session;
};

} // namespace

TEST_F(SmtpSessionTest, BodyAndAttachmentsArriveByteForByte)
{
    startServer(QStringLiteral("plain"));
    QTemporaryDir dir;
    QByteArray binary;
    for (int i = 0; i < 70000; ++i) {
        binary += static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    binary += "\r\n.\r\n..\r\n"; // a dot line inside an attachment must not end the data
    QFile file(dir.path() + QStringLiteral("/report.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(binary);
    file.close();

    TOutgoingMail mail = sampleMail();
    mail.text = ".\r\n..\r\n.leading dot\r\n" + QByteArray(1500, 'x') + "\r\n"
        + Gbk::encode(QString::fromUtf8("中文行")) + "\r\nlast\r\n";
    mail.attachments.push_back({file.fileName(), MailHeaders::extendedParameter("filename", "report.bin")});
    m_session.configure(plainTo(m_server));
    const TSmtpResult r = m_session.send(mail);
    ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    EXPECT_TRUE(r.refusedRecipients.isEmpty());
    ASSERT_TRUE(m_server.waitForMails(1));
    const QJsonObject m = SmtpTest::checkMail(m_server.mails().front());
    ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
    ASSERT_EQ(m["texts"].toArray().size(), 1);
    EXPECT_EQ(fromB64(m["texts"].toArray()[0].toObject()["bytes_b64"]), mail.text);
    EXPECT_EQ(m["texts"].toArray()[0].toObject()["charset"].toString(), QStringLiteral("gb18030"));
    EXPECT_EQ(m["texts"].toArray()[0].toObject()["cte"].toString(), QStringLiteral("quoted-printable"));
    ASSERT_EQ(m["attachments"].toArray().size(), 1);
    EXPECT_EQ(fromB64(m["attachments"].toArray()[0].toObject()["bytes_b64"]), binary);
    EXPECT_EQ(m["attachments"].toArray()[0].toObject()["filename"].toString(), QStringLiteral("report.bin"));
    EXPECT_EQ(m["header_counts"].toObject()["mime-version"].toInt(), 1);
    EXPECT_EQ(m["subject"].toString(), QString::fromUtf8("测试"));
    EXPECT_TRUE(m["defects"].toArray().isEmpty());
    EXPECT_LE(m["max_line"].toInt(), 998);
    EXPECT_EQ(m["bare_lf"].toInt(), 0);
    EXPECT_EQ(m["envelope"].toObject()["mail_from"].toString(), QStringLiteral("station@plant.example.cn"));
    EXPECT_EQ(m["envelope"].toObject()["helo"].toString(), QSysInfo::machineHostName());
}

TEST_F(SmtpSessionTest, StartTlsAndImplicitTlsWithLogin)
{
    startServer(QStringLiteral("starttls"));
    m_session.configure(tlsTo(TSmtpTls::StartTls));
    TSmtpResult r = m_session.send(sampleMail());
    ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    ASSERT_TRUE(m_server.waitForMails(1));
    QJsonObject m = SmtpTest::checkMail(m_server.mails().front());
    EXPECT_TRUE(m["envelope"].toObject()["tls_version"].toString().startsWith(QStringLiteral("TLSv1.")));
    EXPECT_EQ(m["envelope"].toObject()["auth_mechanism"].toString(), QStringLiteral("LOGIN"));

    // Without StartTls the server refuses the mail (it requires STARTTLS): nothing goes in clear.
    m_session.configure(plainTo(m_server));
    r = m_session.send(sampleMail());
    EXPECT_FALSE(r.ok);

    startServer(QStringLiteral("smtps"));
    m_session.configure(tlsTo(TSmtpTls::Implicit));
    r = m_session.send(sampleMail());
    ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    ASSERT_TRUE(m_server.waitForMails(2));
    m = SmtpTest::checkMail(m_server.mails().back());
    EXPECT_TRUE(m["envelope"].toObject()["tls_version"].toString() == QStringLiteral("TLSv1.2")
        || m["envelope"].toObject()["tls_version"].toString() == QStringLiteral("TLSv1.3"));
    EXPECT_EQ(m["envelope"].toObject()["auth_mechanism"].toString(), QStringLiteral("LOGIN"));
}

TEST_F(SmtpSessionTest, StartTlsNotOfferedIsRefusedBeforeAnythingIsSent)
{
    startServer(QStringLiteral("plain"));
    TSmtpConnection c = tlsTo(TSmtpTls::StartTls);
    m_session.configure(c);
    const TSmtpResult r = m_session.send(sampleMail());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.errorText.isEmpty());
    QThread::msleep(200);
    EXPECT_TRUE(m_server.mails().isEmpty());
}

TEST_F(SmtpSessionTest, UntrustedOrWrongNameCertificatesAreRefused)
{
    for (const char* mode : {"smtps-untrusted", "smtps-wrongname"}) {
        startServer(QString::fromLatin1(mode));
        m_session.configure(tlsTo(TSmtpTls::Implicit));
        const TSmtpResult r = m_session.send(sampleMail());
        EXPECT_FALSE(r.ok) << mode;
        EXPECT_FALSE(r.errorText.isEmpty()) << mode;
    }
    // Without the CA file the system store alone does not know the test CA.
    startServer(QStringLiteral("smtps"));
    TSmtpConnection c = tlsTo(TSmtpTls::Implicit);
    c.caFile.clear();
    m_session.configure(c);
    EXPECT_FALSE(m_session.send(sampleMail()).ok);
    EXPECT_TRUE(m_server.mails().isEmpty());
}

TEST_F(SmtpSessionTest, CaFileAddsToTheSystemStoreInsteadOfReplacingIt)
{
    startServer(QStringLiteral("smtps"));
    const QString certs = SmtpTest::certDir();
    TSmtpConnection c = tlsTo(TSmtpTls::Implicit);

    // The "system" folder trusts the test CA; an unrelated CA file must not take that away.
    m_session.setSystemCaPath(certs + QStringLiteral("/hashed"));
    c.caFile = certs + QStringLiteral("/untrusted-ca.pem");
    m_session.configure(c);
    TSmtpResult r = m_session.send(sampleMail());
    EXPECT_TRUE(r.ok) << r.errorText.toStdString();

    // An empty system folder: the CA file alone decides.
    m_session.setSystemCaPath(certs + QStringLiteral("/empty"));
    c.caFile = certs + QStringLiteral("/ca.pem");
    m_session.configure(c);
    r = m_session.send(sampleMail());
    EXPECT_TRUE(r.ok) << r.errorText.toStdString();
    c.caFile = certs + QStringLiteral("/untrusted-ca.pem");
    m_session.configure(c);
    EXPECT_FALSE(m_session.send(sampleMail()).ok);
}

TEST_F(SmtpSessionTest, LoginRightWrongAndMissing)
{
    startServer(QStringLiteral("auth"));
    TSmtpConnection c = plainTo(m_server);
    c.login = true;
    c.user = "scada";
    c.password = "wrong";
    m_session.configure(c);
    TSmtpResult r = m_session.send(sampleMail());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.errorText.contains(QStringLiteral("535"))) << r.errorText.toStdString();

    c.login = false;
    m_session.configure(c);
    r = m_session.send(sampleMail());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.errorText.contains(QStringLiteral("530"))) << r.errorText.toStdString();

    c.login = true;
    c.password = "secret";
    m_session.configure(c);
    r = m_session.send(sampleMail());
    ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    ASSERT_TRUE(m_server.waitForMails(1));
    EXPECT_EQ(SmtpTest::checkMail(m_server.mails().front())["envelope"].toObject()["auth_mechanism"].toString(),
        QStringLiteral("LOGIN"));
}

TEST_F(SmtpSessionTest, OneRefusedRecipientDoesNotStopTheOthers)
{
    startServer(QStringLiteral("plain"));
    m_session.configure(plainTo(m_server));
    TSmtpResult r = m_session.send(sampleMail({"reject-me@example.cn", "ops@example.cn"}));
    ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    ASSERT_EQ(r.refusedRecipients.size(), 1);
    EXPECT_TRUE(r.refusedRecipients.front().contains(QStringLiteral("reject-me@example.cn")));
    EXPECT_TRUE(r.refusedRecipients.front().contains(QStringLiteral("550")));
    ASSERT_TRUE(m_server.waitForMails(1));
    const QJsonArray rcpts = SmtpTest::checkMail(m_server.mails().front())["envelope"].toObject()["rcpt_tos"].toArray();
    ASSERT_EQ(rcpts.size(), 1);
    EXPECT_EQ(rcpts[0].toString(), QStringLiteral("ops@example.cn"));

    // Nobody accepted: the mail fails, with the server's words.
    r = m_session.send(sampleMail({"reject-a@example.cn", "reject-b@example.cn"}));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.errorText.contains(QStringLiteral("550"))) << r.errorText.toStdString();
    EXPECT_EQ(r.refusedRecipients.size(), 2);
}

TEST_F(SmtpSessionTest, NetworkFaultsFailWithATextAndInTime)
{
    TSmtpConnection c;
    c.host = "127.0.0.1";
    c.port = closedPort();
    m_session.configure(c);
    TSmtpResult r = m_session.send(sampleMail());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.errorText.isEmpty());

    startServer(QStringLiteral("drop-data"));
    m_session.configure(plainTo(m_server));
    r = m_session.send(sampleMail());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.errorText.isEmpty());
}

TEST_F(SmtpSessionTest, SilentServerTimesOutWhileTheEventLoopRuns)
{
    EXPECT_EQ(m_session.connectTimeoutMs(), 30000);
    EXPECT_EQ(m_session.idleTimeoutSeconds(), 60);
    EXPECT_EQ(m_session.totalTimeoutSeconds(), 300);

    startServer(QStringLiteral("silent"));
    m_session.setTimeouts(1000, 1, 10);
    m_session.configure(plainTo(m_server));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(10);
    QElapsedTimer clock;
    clock.start();
    const TSmtpResult r = m_session.send(sampleMail());
    const qint64 elapsed = clock.elapsed();
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.errorText.isEmpty());
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 5000);
    // The main thread went on handling its timers during the whole wait.
    EXPECT_GT(ticks, static_cast<int>(elapsed / 10 / 4));

    // The application asked to quit in the middle of an exchange: the send still returns its real outcome,
    // and only then.
    // The window keeps working meanwhile.
    int ticksAfterExit = 0;
    bool exited = false;
    QObject::connect(&timer, &QTimer::timeout, [&] { ticksAfterExit += exited ? 1 : 0; });
    QTimer::singleShot(200, [&exited] {
        exited = true;
        QCoreApplication::exit(0);
    });
    clock.restart();
    EXPECT_FALSE(m_session.send(sampleMail()).ok);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_GT(ticksAfterExit, static_cast<int>((clock.elapsed() - 200) / 10 / 4));
}

TEST_F(SmtpSessionTest, BadSettingsAndHeadersAreRefusedWithoutConnecting)
{
    TSmtpConnection c;
    c.host = "mail.example.cn/evil?x";
    m_session.configure(c);
    EXPECT_FALSE(m_session.send(sampleMail()).ok);
    c.host.clear();
    m_session.configure(c);
    EXPECT_TRUE(m_session.send(sampleMail()).errorText.contains(QStringLiteral("No SMTP server")));

    startServer(QStringLiteral("plain"));
    m_session.configure(plainTo(m_server));
    TOutgoingMail mail = sampleMail();
    mail.headers.append("X-Test: a\nBcc: victim@example.cn");
    EXPECT_FALSE(m_session.send(mail).ok);
    mail = sampleMail();
    mail.headers.append("X-Test: a\r\nBcc: victim@example.cn");
    EXPECT_FALSE(m_session.send(mail).ok);
    mail = sampleMail();
    mail.recipients = {};
    EXPECT_FALSE(m_session.send(mail).ok);
    mail = sampleMail();
    mail.attachments.push_back({QStringLiteral("/nonexistent/file.xls"), "filename=\"file.xls\""});
    EXPECT_FALSE(m_session.send(mail).ok);
    QThread::msleep(100);
    EXPECT_TRUE(m_server.mails().isEmpty());
}

// The mail library the station is linked with must carry everything the session asks of it: a build without
// TLS or without the SMTP protocols would fail only at the first alarm, so it is caught here.
TEST(LinkedCurlTest, SpeaksSmtpOverTlsWithTheOptionsTheSessionSets)
{
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    ASSERT_NE(info, nullptr);
    // CURLOPT_PROTOCOLS_STR came with 7.85; the run-time library must not be older than the headers built on.
    EXPECT_GE(info->version_num, 0x075500u) << info->version;
    EXPECT_GE(info->version_num, static_cast<unsigned>(LIBCURL_VERSION_NUM)) << info->version;
    EXPECT_NE(info->features & CURL_VERSION_SSL, 0) << "no TLS in " << info->version;
    QStringList protocols;
    for (const char* const* p = info->protocols; p != nullptr && *p != nullptr; ++p) {
        protocols.append(QString::fromLatin1(*p));
    }
    for (const char* needed : {"smtp", "smtps"}) {
        EXPECT_TRUE(protocols.contains(QLatin1String(needed))) << needed << " missing from " << info->version;
    }
}
