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
#include <gtest/gtest.h>
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
