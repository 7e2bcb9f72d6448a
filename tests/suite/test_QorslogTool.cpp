// SPDX-License-Identifier: MIT
// The qorslog tool as a user runs it, on a temporary working directory.

#include "GbkCodec.h"
#include "QorsmailDef.h"
#include "TempWorkDir.h"
#include "qorslog2.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

TRun runTool(const QStringList& args, const QString& workDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QORVANE_WORKDIR"), workDir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QORSLOG_BIN), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    TRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

std::vector<EventRecord> readRing(int32_t from, int32_t count)
{
    std::vector<EventRecord> out(size_t(std::max(count, 1)));
    int32_t end = 0;
    EXPECT_NE(ReadEvents(&end, &from, &count, 5000, out.data()), 0);
    out.resize(size_t(count));
    return out;
}

// Another process that holds an flock on the file (as `flock -s events.ring sleep 1d` does) until it is killed.
pid_t holdLock(const QString& path, int op)
{
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (fd < 0 || ::flock(fd, op) != 0 || ::write(ready[1], "x", 1) != 1) {
            ::_exit(1);
        }
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    const bool locked = pid > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    return locked ? pid : -1;
}

void endHolder(pid_t pid)
{
    int status = 0;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

} // namespace

TEST(QorslogTool, PostStoresGbkAndDumpShowsUtf8Lines)
{
    TTempWorkDir dir(false);
    const QString text = QStringLiteral("1号主变 差动保护动作 CB跳闸");
    TRun r = runTool({"post", "--type", "20", "--level", "1", "--time", "2026-03-14 09:26:53.589", text}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("0\n"));
    r = runTool({"post", "--level", "0", "--type", "-3", "--", "--not-an-option"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("1\n"));
    r = runTool({"pos"}, dir.path());
    EXPECT_EQ(r.out, QStringLiteral("2\n"));

    ASSERT_EQ(InitLogLibrary(), 0);
    const auto events = readRing(0, 2);
    EXPECT_EQ(QByteArray(events[0].EventText), Gbk::encode(text));
    EXPECT_EQ(+events[0].EventType, 20);
    EXPECT_EQ(+events[0].EventLevel, 1);
    EXPECT_EQ(+events[0].EventMsec, 589u);
    QorvaneSystemTime t{};
    t.wYear = 2026;
    t.wMonth = 3;
    t.wDay = 14;
    t.wHour = 9;
    t.wMinute = 26;
    t.wSecond = 53;
    EXPECT_EQ(+events[0].EventTime, SecondsFromSystemTime(t));
    EXPECT_EQ(+events[1].EventType, -3);
    EXPECT_STREQ(events[1].EventText, "--not-an-option");

    r = runTool({"dump"}, dir.path());
    ASSERT_EQ(r.exitCode, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("   0  2026-03-14 09:26:53.589  type 20  level 1  ") + text);
    r = runTool({"dump", "1", "1"}, dir.path());
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("   1  "))) << r.out.toStdString();
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 1);
}

TEST(QorslogTool, BadArgumentsExitWithTwoAndLibraryFailuresWithOne)
{
    TTempWorkDir dir(false);
    const QList<QStringList> usage = {
        {},
        {"frobnicate"},
        {"post", "--type", "1", "text"},
        {"post", "--type", "1", "--level", "32768", "text"},
        {"post", "--type", "1", "--level", "-1", "text"},
        {"post", "--type", "1.5", "--level", "1", "text"},
        {"post", "--type", "1", "--level", "1"},
        {"post", "--type", "1", "--level", "1", "a", "b"},
        {"post", "--type", "1", "--level", "1", "--colour", "red", "a"},
        {"post", "--type", "1", "--type", "2", "--level", "1", "a"},
        {"post", "--type", "1", "--level", "1", "--time", "2026-02-29 00:00:00", "a"},
        {"post", "--type", "1", "--level", "1", "--time", "2026-03-01 24:00:00", "a"},
        {"post", "--type", "1", "--level", "1", "--time", "1969-12-31 23:59:59", "a"},
        {"dump", "9999"},
        {"dump", "0", "5001"},
        {"dump", "0", "1", "2"},
        {"pos", "extra"},
        {"generate", "--rate", "0", "--count", "1"},
        {"generate", "--rate", "10"},
        {"generate", "--rate", "10", "--count", "-1"},
    };
    for (const QStringList& args : usage) {
        const TRun r = runTool(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("usage:"))) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.ringPath())) << "a refused command touches nothing";

    const TRun failed = runTool({"pos"}, dir.path() + QStringLiteral("missing/") + QString(130, QLatin1Char('x')));
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.contains(QString::fromUtf8(GetErrorTextUtf8(QORSLOG_ERR_WORKDIR))))
        << failed.err.toStdString();
    EXPECT_EQ(runTool({"--help"}, dir.path()).exitCode, 0);
}

TEST(QorslogTool, GenerateKeepsItsRateAndStopsOnSigterm)
{
    TTempWorkDir dir(false);
    QElapsedTimer timer;
    timer.start();
    TRun r = runTool({"generate", "--rate", "200", "--count", "40"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_GE(timer.elapsed(), 190) << "40 events at 200 per second take 195 ms";
    ASSERT_EQ(InitLogLibrary(), 0);
    ASSERT_EQ(GetEventCount(), 40u);
    for (const EventRecord& e : readRing(0, 40)) {
        const QString text = Gbk::fieldText(e.EventText);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(QLatin1Char('%'))) << text.toStdString();
        EXPECT_GE(+e.EventLevel, 0);
        EXPECT_LE(+e.EventLevel, 3);
        EXPECT_GE(EventTypeIndex(e.EventType), 0) << e.EventType;
    }
    ExitLogLibrary();

    QProcess endless;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QORVANE_WORKDIR"), dir.path());
    endless.setProcessEnvironment(env);
    endless.start(QStringLiteral(QORSLOG_BIN), {"generate", "--rate", "1000", "--count", "0"});
    ASSERT_TRUE(endless.waitForStarted(5000));
    ASSERT_EQ(InitLogLibrary(), 0);
    for (int i = 0; i < 500 && GetEventCount() < 100; ++i) {
        QThread::msleep(10);
    }
    EXPECT_GE(GetEventCount(), 100u);
    kill(pid_t(endless.processId()), SIGTERM);
    ASSERT_TRUE(endless.waitForFinished(5000));
    EXPECT_EQ(endless.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(endless.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(endless.readAllStandardError()).contains(QStringLiteral("events posted")));
}

// A writer waits about a second for the ring's lock and then fails with an error naming the ring and the holder;
// one that waited while the ring was deleted and made anew writes into the new ring, never into the deleted
// file. The ring and its folder give other users no access.
TEST(QorslogTool, PostGivesUpOnAHeldRingAndNeverWritesIntoADeletedOne)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    const auto others = QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFile::permissions(dir.ringPath()) & others, 0);
    EXPECT_EQ(QFile::permissions(dir.path() + QStringLiteral("EventLog")) & others, 0);

    const pid_t reader = holdLock(dir.ringPath(), LOCK_SH);
    ASSERT_GT(reader, 0);
    QElapsedTimer timer;
    timer.start();
    const TRun busy = runTool({"post", "--type", "1", "--level", "1", "held"}, dir.path());
    const qint64 waited = timer.elapsed();
    endHolder(reader);
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 3000);
    for (const QString& part : {QString::fromUtf8(GetErrorTextUtf8(QORSLOG_ERR_RING_BUSY)),
             dir.ringPath(),
             QStringLiteral("process %1").arg(reader)}) {
        EXPECT_TRUE(busy.err.contains(part)) << part.toStdString() << " in " << busy.err.toStdString();
    }

    const pid_t writer = holdLock(dir.ringPath(), LOCK_EX);
    ASSERT_GT(writer, 0);
    QProcess waiting;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QORVANE_WORKDIR"), dir.path());
    waiting.setProcessEnvironment(env);
    waiting.start(QStringLiteral(QORSLOG_BIN), {"post", "--type", "1", "--level", "1", "waited"});
    ASSERT_TRUE(waiting.waitForStarted(5000));
    QThread::msleep(200);
    ASSERT_TRUE(QFile::remove(dir.ringPath()));
    const TRun fresh = runTool({"post", "--type", "1", "--level", "1", "fresh"}, dir.path());
    EXPECT_EQ(fresh.out, QStringLiteral("0\n")) << fresh.err.toStdString();
    endHolder(writer); // the waiting writer gets the lock of the deleted file now
    ASSERT_TRUE(waiting.waitForFinished(5000));
    EXPECT_EQ(waiting.exitCode(), 0) << waiting.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(waiting.readAllStandardOutput()), QStringLiteral("1\n"));
    const TRun dump = runTool({"dump"}, dir.path());
    const QStringList lines = dump.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << dump.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  fresh")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("  waited")));
}
