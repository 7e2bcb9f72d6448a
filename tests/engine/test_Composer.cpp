// SPDX-License-Identifier: MIT
#include "CoreTestApp.h"
#include "FakeLogLibrary.h"
#include "GbkCodec.h"
#include "MailComposer.h"
#include "SmtpTestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using SmtpTest::SmtpTestServer;

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray fromB64(const QJsonValue& v)
{
    return QByteArray::fromBase64(v.toString().toLatin1());
}

template <class Task>
void setReceivers(Task& task, const std::vector<std::pair<QString, QByteArray>>& list)
{
    task.ReceiverCount = static_cast<int32_t>(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        Gbk::storeField(task.Receivers[i].Name, list[i].first);
        Gbk::storeFieldBytes(task.Receivers[i].Addr, list[i].second);
    }
}

// Sets a file's modification time to whole seconds + nanoseconds.
bool touch(const QString& path, time_t seconds, long nanoseconds = 0)
{
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class ComposerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreTestApp();
        Gbk::storeFieldBytes(m_tables.SmtpSettings.LocalEmailAddr, " station@plant.example.cn ");
        m_clock.set(MakeSystemTime(2024, 7, 3, 14, 5, 0, 250));
        Gbk::storeField(m_eventTask.Title, U("日报"));
        Gbk::storeField(m_reportTask.Title, U("月报"));
        setReceivers(m_eventTask, {{U("张三"), "zs@example.cn"}});
        setReceivers(m_reportTask, {{U("张三"), "zs@example.cn"}});
    }

    void startServer(const QString& mode = QStringLiteral("plain"))
    {
        ASSERT_TRUE(m_server.start(mode)) << m_server.error().toStdString();
        TSmtpConnection c;
        c.host = "127.0.0.1";
        c.port = m_server.port();
        m_session.configure(c);
    }

    uint32_t secondsOf(int y, int mo, int d, int h, int mi, int s)
    {
        return m_log.SecondsFromSystemTime(MakeSystemTime(y, mo, d, h, mi, s));
    }

    QJsonObject onlyMail()
    {
        if (!m_server.waitForMails(1) || m_server.mails().size() != 1) {
            return QJsonObject{{QStringLiteral("error"), QStringLiteral("expected exactly one mail")}};
        }
        return SmtpTest::checkMail(m_server.mails().front());
    }

    TMailTables m_tables;
    TFakeLogLibrary m_log;
    TManualClock m_clock;
    TCurlSmtpSession m_session;
    QStringList m_logLines;
    TComposeContext m_context{
        m_tables, m_log, m_clock, m_session, "SCADA1", [this](const QString& line) { m_logLines.append(line); }, {}};
    SmtpTestServer m_server;
    TEventMailTask m_eventTask{};
    TEventTaskState m_eventState{};
    TReportMailTask m_reportTask{};
};

} // namespace

TEST_F(ComposerTest, EventMailAsAMailReaderSeesIt)
{
    startServer();
    setReceivers(m_eventTask,
        {{U("张三"), "zs@example.cn"},
            {U("Smith, John"), "sj@example.cn"},
            {QString(), "anon@example.cn"},
            {U("王五，运行[值班]"), " ww@example.cn "}});
    m_log.Events[10] = TFakeLogLibrary::makeEvent(3, 1, U("1号主变差动保护动作"), secondsOf(2024, 3, 5, 7, 4, 9), 120);
    m_log.Events[11] = TFakeLogLibrary::makeEvent(3, 1, U("."), secondsOf(2024, 12, 25, 23, 59, 59), 0);
    m_log.Events[12] = TFakeLogLibrary::makeEvent(3, 1, U(".."), secondsOf(2024, 1, 1, 0, 0, 0), 4294967295u);
    m_eventState = {2, 10, 13, MakeSystemTime(2024, 7, 3, 14, 4, 0), 0};

    ASSERT_TRUE(SendEventMail(m_context, m_eventTask, m_eventState));
    EXPECT_TRUE(m_logLines.isEmpty()) << m_logLines.join(QLatin1Char('\n')).toStdString();
    const QJsonObject m = onlyMail();
    ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
    EXPECT_EQ(m["subject"].toString(), U("日报(2024-7-3 14:05:00.250)"));
    const QJsonArray from = m["from"].toArray();
    ASSERT_EQ(from.size(), 1);
    EXPECT_EQ(from[0].toArray()[0].toString(), U("QORVANE 邮件中心[SCADA1]"));
    EXPECT_EQ(from[0].toArray()[1].toString(), QStringLiteral("station@plant.example.cn"));
    const QJsonArray to = m["to"].toArray();
    ASSERT_EQ(to.size(), 4);
    EXPECT_EQ(to[0].toArray()[0].toString(), U("张三"));
    EXPECT_EQ(to[1].toArray()[0].toString(), U("Smith, John"));
    EXPECT_EQ(to[1].toArray()[1].toString(), QStringLiteral("sj@example.cn"));
    EXPECT_EQ(to[2].toArray()[0].toString(), QString());
    EXPECT_EQ(to[2].toArray()[1].toString(), QStringLiteral("anon@example.cn"));
    EXPECT_EQ(to[3].toArray()[0].toString(), U("王五，运行[值班]"));
    EXPECT_EQ(to[3].toArray()[1].toString(), QStringLiteral("ww@example.cn"));
    EXPECT_EQ(m["envelope"].toObject()["rcpt_tos"].toArray().size(), 4);

    ASSERT_EQ(m["texts"].toArray().size(), 1);
    const QJsonObject text = m["texts"].toArray()[0].toObject();
    EXPECT_EQ(text["charset"].toString(), QStringLiteral("gb18030"));
    EXPECT_EQ(fromB64(text["bytes_b64"]),
        Gbk::encode(U("2024-3-5- 7:4:9.120  1号主变差动保护动作\r\n2024-12-25- 23:59:59.0  .\r\n"
                      "2024-1-1- 0:0:0.4294967295  ..\r\n")));
    EXPECT_TRUE(m["attachments"].toArray().isEmpty());

    // Hygiene a strict reader relies on.
    EXPECT_TRUE(m["defects"].toArray().isEmpty()) << QJsonDocument(m["defects"].toArray()).toJson().toStdString();
    EXPECT_FALSE(m["header_8bit"].toBool());
    EXPECT_TRUE(m["ew_not_self_contained"].toArray().isEmpty());
    EXPECT_LE(m["ew_max"].toInt(), 75);
    // Our header lines keep to 78 characters; curl's own boundary line is a little longer (far below 998).
    for (const auto& line : m["long_header_lines"].toArray()) {
        EXPECT_TRUE(line.toString().startsWith(QStringLiteral("Content-Type: multipart/mixed; boundary=")))
            << line.toString().toStdString();
    }
    EXPECT_LE(m["max_line"].toInt(), 998);
    EXPECT_EQ(m["bare_lf"].toInt(), 0);
    EXPECT_EQ(m["header_counts"].toObject()["mime-version"].toInt(), 1);
    EXPECT_EQ(m["header_counts"].toObject()["date"].toInt(), 1);
    EXPECT_TRUE(m["date"].toString().startsWith(QStringLiteral("2024-07-03T14:05:00")));
    EXPECT_TRUE(m["message_id"].toString().endsWith(QStringLiteral("@plant.example.cn>")));
}

TEST_F(ComposerTest, ControlCharactersNeverReachTheWire)
{
    startServer();
    m_clock.set(MakeSystemTime(2024, 7, 3, 0, 0, 0, 0));
    Gbk::storeFieldBytes(m_eventTask.Title, "Alarm\r\nBcc: evil@example.cn");
    setReceivers(m_eventTask,
        {{U("Eve\r\nBcc: evil2@example.cn"), "ok@example.cn"},
            {U("Bad"), "x@example.cn\r\nRCPT TO:<evil3@example.cn>"},
            {U("Worse"), "two@example.cn, three@example.cn"}});
    m_log.Events[0] = TFakeLogLibrary::makeEvent(1, 1, U("text"));
    m_eventState = {2, 0, 1, {}, 0};

    ASSERT_TRUE(SendEventMail(m_context, m_eventTask, m_eventState));
    const QJsonObject m = onlyMail();
    ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
    const QJsonArray rcpts = m["envelope"].toObject()["rcpt_tos"].toArray();
    ASSERT_EQ(rcpts.size(), 1);
    EXPECT_EQ(rcpts[0].toString(), QStringLiteral("ok@example.cn"));
    EXPECT_FALSE(m["header_counts"].toObject().contains("bcc"));
    EXPECT_FALSE(m["header_counts"].toObject().contains("rcpt to"));
    // At midnight the subject carries the date alone.
    EXPECT_EQ(m["subject"].toString(), QStringLiteral("Alarm  Bcc: evil@example.cn(2024-7-3)"));
    EXPECT_EQ(m["to"].toArray()[0].toArray()[0].toString(), QStringLiteral("Eve  Bcc: evil2@example.cn"));
    // The two refused addresses are logged, one line each, each a single line.
    ASSERT_EQ(m_logLines.size(), 2) << m_logLines.join(QLatin1Char('\n')).toStdString();
    for (const auto& line : m_logLines) {
        EXPECT_FALSE(line.contains(QLatin1Char('\n')));
        EXPECT_TRUE(line.contains(U("——Alarm"))) << line.toStdString();
    }
    EXPECT_TRUE(m_logLines[0].contains(QStringLiteral("x@example.cn\\x0d\\x0aRCPT")));
}

TEST_F(ComposerTest, EventRangeWrapsAndEmptyRangesSendNothing)
{
    for (int pos : {4998, 4999, 0, 1}) {
        m_log.Events[pos] = TFakeLogLibrary::makeEvent(1, 1, QStringLiteral("p%1").arg(pos));
    }
    QList<QByteArray> lines;
    FormatEventLines(m_log, {2, 4998, 2, {}, 0}, lines);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith("  p4998"));
    EXPECT_TRUE(lines[1].endsWith("  p4999"));
    EXPECT_TRUE(lines[2].endsWith("  p0"));
    EXPECT_TRUE(lines[3].endsWith("  p1"));
    EXPECT_EQ(m_log.LastReadStart, 5001); // positions past the ring end are passed on unchanged

    // A damaged range never reads more than one ring.
    const int before = m_log.ReadCalls;
    FormatEventLines(m_log, {2, -2000000000, 2000000000, {}, 0}, lines);
    EXPECT_LE(m_log.ReadCalls - before, EventRingSize);

    // Nothing to format: no connection (the port is closed), no log line, false.
    TSmtpConnection c;
    c.host = "127.0.0.1";
    c.port = 1;
    m_session.configure(c);
    m_eventState = {2, 7, 7, {}, 0};
    EXPECT_FALSE(SendEventMail(m_context, m_eventTask, m_eventState));
    m_log.ReadResult = false;
    m_eventState = {2, 4998, 2, {}, 0};
    EXPECT_FALSE(SendEventMail(m_context, m_eventTask, m_eventState));
    EXPECT_TRUE(m_logLines.isEmpty());
}

// A range that the ring no longer holds in full lists what is still there, oldest first, after one line that
// says how many earlier events of it were overwritten; never the wrapped-around remainder of the positions.
TEST_F(ComposerTest, AnOverlongRangeListsWhatTheRingStillHoldsAfterOneLineOfOurs)
{
    struct Case
    {
        const char* name;
        uint64_t first; // event numbers of the span
        uint64_t end;
        uint64_t writtenSince; // events written after the end before the lines are made
        bool spanFits; // the span matches the state's positions
        int64_t overwritten; // -1: no line of ours
        uint64_t firstListed;
        int listed;
    };
    const Case cases[] = {
        {"short range", 20000, 20020, 0, true, -1, 20000, 20},
        {"exactly one ring", 20000, 25000, 0, true, -1, 20000, 5000},
        {"7000 events", 20000, 27000, 0, true, 2000, 22000, 5000},
        {"12000 events", 20000, 32000, 0, true, 7000, 27000, 5000},
        {"overwritten while listing", 20000, 23000, 4000, true, 2000, 22000, 1000},
        {"all of it overwritten", 20000, 20010, 9000, true, 10, 0, 0},
        {"a span of other positions", 20000, 27000, 0, false, -1, 0, 1993},
    };
    for (const Case& c : cases) {
        TFakeLogLibrary log;
        log.CountOk = true;
        log.Written = c.end + c.writtenSince;
        // Every position holds the newest event written there, named by its number.
        for (uint64_t n = log.Written > 5000 ? log.Written - 5000 : 0; n < log.Written; ++n) {
            log.Events[int32_t(n % 5000)] = TFakeLogLibrary::makeEvent(1, 1, QStringLiteral("e%1").arg(n));
        }
        log.WritePos = int32_t(log.Written % 5000);
        const int32_t endPos = int32_t(c.end % 5000);
        const int32_t firstPos = int32_t(c.first % 5000) + (c.spanFits ? 0 : 7);
        const TEventTaskState state{2, firstPos, endPos, {}, 0};
        const TMarkSpan span{1, c.first, c.end};
        QList<QByteArray> lines;
        FormatEventLines(log, state, lines, &span);
        int k = 0;
        if (c.overwritten >= 0) {
            ASSERT_FALSE(lines.isEmpty()) << c.name;
            EXPECT_EQ(Gbk::decode(lines[0]), U("此前还有 %1 条事件已被新事件覆盖，未能列出").arg(c.overwritten))
                << c.name;
            k = 1;
        }
        ASSERT_EQ(lines.size() - k, c.listed) << c.name;
        if (!c.spanFits) {
            continue; // the positions alone, as without a span
        }
        for (int i = 0; i < c.listed; ++i) {
            ASSERT_TRUE(lines[k + i].endsWith("  e" + QByteArray::number(c.firstListed + uint64_t(i))))
                << c.name << ": " << lines[k + i].constData();
        }
    }
}

TEST_F(ComposerTest, FailedExchangesLogTheErrorAndTheSubject)
{
    startServer(QStringLiteral("auth"));
    TSmtpConnection c = m_session.connection();
    c.login = true;
    c.user = "scada";
    c.password = "wrong";
    m_session.configure(c);
    m_log.Events[0] = TFakeLogLibrary::makeEvent(1, 1, U("text"));
    m_eventState = {2, 0, 1, {}, 0};
    EXPECT_FALSE(SendEventMail(m_context, m_eventTask, m_eventState));
    ASSERT_EQ(m_logLines.size(), 1);
    const QString line = m_logLines.front();
    EXPECT_TRUE(line.endsWith(U("——日报(2024-7-3 14:05:00.250)"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("535"))) << line.toStdString();
    EXPECT_FALSE(line.contains(QStringLiteral(".——")));
    EXPECT_FALSE(line.contains(QLatin1Char('\n')));

    // A sender that is not a plain address: refused before connecting.
    m_logLines.clear();
    Gbk::storeFieldBytes(m_tables.SmtpSettings.LocalEmailAddr, "station@plant.example.cn\r\nX: y");
    EXPECT_FALSE(SendEventMail(m_context, m_eventTask, m_eventState));
    ASSERT_EQ(m_logLines.size(), 1);
    EXPECT_TRUE(m_logLines.front().startsWith(U("发件人地址 \"station@plant.example.cn\\x0d\\x0aX: y\" 不是")))
        << m_logLines.front().toStdString();

    EXPECT_EQ(ErrorLogLine(QStringLiteral("Login denied.\r\n"), QStringLiteral("S")), U("Login denied——S"));
    EXPECT_EQ(ErrorLogLine(QStringLiteral("no stop"), QStringLiteral("S")), U("no stop——S"));
    EXPECT_EQ(ErrorLogLine(U("出错。"), QStringLiteral("S")), U("出错——S"));
    EXPECT_EQ(ErrorLogLine(QStringLiteral("..."), QStringLiteral("S")), U("..——S"));
}

TEST_F(ComposerTest, RefusedRecipientIsLoggedAndTheOthersGetTheMail)
{
    startServer();
    setReceivers(m_eventTask, {{U("坏"), "reject-me@example.cn"}, {U("好"), "ok@example.cn"}});
    m_log.Events[0] = TFakeLogLibrary::makeEvent(1, 1, U("text"));
    m_eventState = {2, 0, 1, {}, 0};
    EXPECT_TRUE(SendEventMail(m_context, m_eventTask, m_eventState));
    ASSERT_EQ(m_logLines.size(), 1);
    EXPECT_TRUE(m_logLines.front().contains(QStringLiteral("reject-me@example.cn")));
    EXPECT_TRUE(m_logLines.front().contains(QStringLiteral("550")));
    const QJsonObject m = onlyMail();
    EXPECT_EQ(m["envelope"].toObject()["rcpt_tos"].toArray().size(), 1);
}

TEST_F(ComposerTest, ReportMailAttachesTheNewestFileOfEachName)
{
    startServer();
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    QByteArray binary;
    for (int i = 0; i < 5000; ++i) {
        binary += static_cast<char>(i * 31 & 0xFF);
    }
    ASSERT_TRUE(writeFile(d + U("日报.xls"), "old"));
    ASSERT_TRUE(writeFile(d + U("日报20240703.xls"), binary));
    ASSERT_TRUE(QDir(d).mkdir(U("日报_old.xls"))); // a newer folder can never be attached
    ASSERT_TRUE(writeFile(d + U("曲线.jpg"), "jpeg bytes\r\n.\r\n"));
    ASSERT_TRUE(touch(d + U("日报.xls"), 1700000000));
    ASSERT_TRUE(touch(d + U("日报20240703.xls"), 1700000100));
    ASSERT_TRUE(touch(d + U("日报_old.xls"), 1700000200));
    m_reportTask.FileCount = 3;
    Gbk::storeField(m_reportTask.Files[0], d + U("日报.xls"));
    Gbk::storeField(m_reportTask.Files[1], d + U("缺失.xls"));
    Gbk::storeField(m_reportTask.Files[2], d + U("曲线.jpg"));

    EXPECT_EQ(SendReportMail(m_context, m_reportTask), 1);
    EXPECT_TRUE(m_logLines.isEmpty()) << m_logLines.join(QLatin1Char('\n')).toStdString();
    const QJsonObject m = onlyMail();
    ASSERT_FALSE(m.contains("error")) << m["error"].toString().toStdString();
    EXPECT_EQ(m["subject"].toString(), U("月报(2024-7-3 14:05:00.250)"));
    EXPECT_TRUE(m["texts"].toArray().isEmpty());
    const QJsonArray atts = m["attachments"].toArray();
    ASSERT_EQ(atts.size(), 2);
    EXPECT_EQ(atts[0].toObject()["filename"].toString(), U("日报20240703.xls"));
    EXPECT_EQ(fromB64(atts[0].toObject()["bytes_b64"]), binary);
    EXPECT_EQ(atts[0].toObject()["cte"].toString(), QStringLiteral("base64"));
    EXPECT_EQ(atts[1].toObject()["filename"].toString(), U("曲线.jpg"));
    EXPECT_EQ(fromB64(atts[1].toObject()["bytes_b64"]), QByteArray("jpeg bytes\r\n.\r\n"));
    EXPECT_TRUE(m["defects"].toArray().isEmpty());
    EXPECT_FALSE(m["header_8bit"].toBool());

    // Nothing found: 0, no connection, no log line.
    m_server.clearMails();
    m_reportTask.FileCount = 1;
    Gbk::storeField(m_reportTask.Files[0], d + U("缺失.xls"));
    EXPECT_EQ(SendReportMail(m_context, m_reportTask), 0);
    QThread::msleep(100);
    EXPECT_TRUE(m_server.mails().isEmpty());
    EXPECT_TRUE(m_logLines.isEmpty());

    // A failed exchange: -1 and one line.
    m_server.stop();
    Gbk::storeField(m_reportTask.Files[0], d + U("曲线.jpg"));
    EXPECT_EQ(SendReportMail(m_context, m_reportTask), -1);
    EXPECT_EQ(m_logLines.size(), 1);
}

TEST(FindNewestReportFile, PatternTimesAndTies)
{
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    QString found;
    EXPECT_FALSE(FindNewestReportFile(d + QStringLiteral("day.xls"), d, found));
    EXPECT_FALSE(FindNewestReportFile(d + QStringLiteral("nodir/day.xls"), d, found));

    // Stamps that differ by less than a millisecond still order the files.
    ASSERT_TRUE(writeFile(d + QStringLiteral("day1.xls"), "1"));
    ASSERT_TRUE(writeFile(d + QStringLiteral("day2.xls"), "2"));
    ASSERT_TRUE(touch(d + QStringLiteral("day1.xls"), 1700000000, 500));
    ASSERT_TRUE(touch(d + QStringLiteral("day2.xls"), 1700000000, 400));
    ASSERT_TRUE(FindNewestReportFile(d + QStringLiteral("day.xls"), d, found));
    EXPECT_EQ(found, d + QStringLiteral("day1.xls"));
    // Equal stamps: the first in name order stays.
    ASSERT_TRUE(touch(d + QStringLiteral("day2.xls"), 1700000000, 500));
    ASSERT_TRUE(FindNewestReportFile(d + QStringLiteral("day.xls"), d, found));
    EXPECT_EQ(found, d + QStringLiteral("day1.xls"));

    // Without an extension the pattern is base + "*"; the extension must really end the name.
    ASSERT_TRUE(writeFile(d + QStringLiteral("dayz"), "z"));
    ASSERT_TRUE(touch(d + QStringLiteral("dayz"), 1800000000));
    ASSERT_TRUE(FindNewestReportFile(d + QStringLiteral("day"), d, found));
    EXPECT_EQ(found, d + QStringLiteral("dayz"));
    ASSERT_TRUE(FindNewestReportFile(d + QStringLiteral("day.xls"), d, found));
    EXPECT_EQ(found, d + QStringLiteral("day1.xls"));

    // "[" is no wildcard; "?" and "*" are.
    ASSERT_TRUE(writeFile(d + QStringLiteral("a[1].xls"), "a"));
    ASSERT_TRUE(writeFile(d + QStringLiteral("a1.xls"), "b"));
    ASSERT_TRUE(touch(d + QStringLiteral("a1.xls"), 1900000000));
    ASSERT_TRUE(FindNewestReportFile(d + QStringLiteral("a[1].xls"), d, found));
    EXPECT_EQ(found, d + QStringLiteral("a[1].xls"));
    ASSERT_TRUE(FindNewestReportFile(d + QStringLiteral("?.xls"), d, found));
    EXPECT_EQ(found, d + QStringLiteral("a1.xls"));
}

TEST(FindNewestReportFile, StoredWildcardsEmptyNamesAndRelativeNames)
{
    QTemporaryDir work;
    QTemporaryDir elsewhere;
    const QString w = work.path() + QLatin1Char('/');
    const QString e = elsewhere.path() + QLatin1Char('/');
    ASSERT_TRUE(QDir().mkpath(w + QStringLiteral("rel")));
    const struct
    {
        QString file;
        qint64 stamp;
    } files[] = {
        {w + QStringLiteral("day1.xls"), 1700000000},
        {w + QStringLiteral("night.xls"), 1700000300},
        {w + QStringLiteral("night.doc"), 1700000900},
        {w + QStringLiteral("rel/day1.xls"), 1700000100},
        {w + QStringLiteral("rel/x.jpg"), 1700000200},
        // The process's current directory holds a newer file of every name: it must never be looked at.
        {e + QStringLiteral("day1.xls"), 1900000000},
        {e + QStringLiteral("newest.txt"), 1900000000},
        {e + QStringLiteral("rel/day1.xls"), 1900000000},
    };
    ASSERT_TRUE(QDir().mkpath(e + QStringLiteral("rel")));
    for (const auto& f : files) {
        ASSERT_TRUE(writeFile(f.file, "x"));
        ASSERT_TRUE(touch(f.file, f.stamp));
    }
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(e));

    const struct
    {
        QString stored;
        QString workDir;
        QString expected; // empty: nothing found
    } cases[] = {
        {w + QStringLiteral("*.xls"), w, w + QStringLiteral("night.xls")},
        {w + QStringLiteral("*"), w, w + QStringLiteral("night.doc")},
        {w + QStringLiteral("d?y.xls"), w, w + QStringLiteral("day1.xls")},
        {w + QStringLiteral("?.doc"), w, w + QStringLiteral("night.doc")},
        {w + QStringLiteral("n*t.x?s"), w, w + QStringLiteral("night.xls")},
        {w + QStringLiteral("*.pdf"), w, QString()},
        {QString(), w, QString()},
        {w, w, QString()},
        {w + QStringLiteral("rel/"), w, QString()},
        {QStringLiteral("/"), w, QString()},
        {QStringLiteral("day.xls"), w, w + QStringLiteral("day1.xls")},
        {QStringLiteral("rel/day.xls"), w, w + QStringLiteral("rel/day1.xls")},
        {QStringLiteral("rel/*"), work.path(), w + QStringLiteral("rel/x.jpg")},
        {QStringLiteral("day.xls"), QString(), QString()},
        {QStringLiteral("newest.txt"), w, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toStdString() + " in " + c.workDir.toStdString());
        QString found = QStringLiteral("untouched");
        EXPECT_EQ(FindNewestReportFile(c.stored, c.workDir, found), !c.expected.isEmpty());
        EXPECT_EQ(found, c.expected.isEmpty() ? QStringLiteral("untouched") : c.expected);
    }
    QDir::setCurrent(oldCurrent);
}

TEST(MatchesFilePattern, StarAnyRunQuestionOneCharacter)
{
    const struct
    {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"日报*.xls", "日报.xls", true},
        {"日报*.xls", "日报20240703.xls", true},
        {"日报*.xls", "日报.xlsx", false},
        {"日报*.xls", "月报.xls", false},
        {"?报*.xls", "日报1.xls", true},
        {"??*", "日", false},
        {"*a*b*", "xxaxxbxx", true},
        {"*a*b", "ab_a", false},
        {"a[1]*", "a[1].xls", true},
        {"a[1]*", "a1.xls", false},
        {"Day*", "day1", false},
        {"**", "", true},
        {"*", "", true},
        {"?", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchesFilePattern(QString::fromUtf8(c.pattern), QString::fromUtf8(c.name)), c.matches)
            << c.pattern << " / " << c.name;
    }
}

TEST(EventTypeName, ByListIndexWithUnknownFallback)
{
    EXPECT_EQ(EventTypeName(20), QString::fromUtf8(EventTypeList[16].BuiltInName));
    EXPECT_EQ(EventTypeName(1), QString::fromUtf8(EventTypeList[0].BuiltInName));
    EXPECT_EQ(EventTypeName(17), QString::fromUtf8("未知"));
    EXPECT_EQ(EventTypeName(-1), QString::fromUtf8("未知"));
}
