// SPDX-License-Identifier: MIT
#include "DebugFile.h"
#include "GbkCodec.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class DebugLogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString& name = QStringLiteral("QorMail.log")) const { return m_dir.filePath(name); }

    // A helper process that holds the log's lock until it is killed; returns once it holds it.
    std::unique_ptr<QProcess> startHolder(bool partialLine)
    {
        auto p = std::make_unique<QProcess>();
        QStringList args{QStringLiteral("hold"), path()};
        if (partialLine) {
            args << QStringLiteral("partial");
        }
        p->start(QStringLiteral(DEBUGLOG_HELPER), args);
        EXPECT_TRUE(p->waitForStarted(5000));
        EXPECT_TRUE(p->waitForReadyRead(5000));
        EXPECT_EQ(p->readLine().trimmed(), QByteArray("ready"));
        return p;
    }

    static void kill(QProcess& p)
    {
        p.kill();
        p.waitForFinished(5000);
    }

    QTemporaryDir m_dir;
};

TEST_F(DebugLogTest, OpensWithoutTruncatingAndCreatesAMissingFile)
{
    writeAll(path(), "old line\r\n");
    {
        TDebugClass log(path());
        ASSERT_TRUE(log.isActive());
        EXPECT_EQ(log.WriteLine(QStringLiteral("one")), 1);
        EXPECT_EQ(log.WriteLine(QStringLiteral("发送事件邮件")), 1);
    }
    EXPECT_EQ(
        readAll(path()), QByteArray("old line\r\none\r\n") + Gbk::encode(QStringLiteral("发送事件邮件")) + "\r\n");

    TDebugClass fresh(path(QStringLiteral("new.log")));
    ASSERT_TRUE(fresh.isActive());
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("new.log"))));
    EXPECT_EQ(fresh.WriteLine(QStringLiteral("x")), 1);
    EXPECT_EQ(readAll(path(QStringLiteral("new.log"))), QByteArray("x\r\n"));
}

TEST_F(DebugLogTest, InactiveLogRefusesEveryWrite)
{
    const QString missing = m_dir.filePath(QStringLiteral("no-such-folder/QorMail.log"));
    TDebugClass log(missing);
    EXPECT_FALSE(log.isActive());
    EXPECT_EQ(log.WriteLine(QStringLiteral("text")), -1);
    EXPECT_EQ(log.WriteTimed(QStringLiteral("text")), -1);
    EXPECT_EQ(log.WriteLine(QString()), -1);
    EXPECT_FALSE(QFile::exists(missing));

    TDebugClass unnamed{QString()};
    EXPECT_FALSE(unnamed.isActive());
    EXPECT_EQ(unnamed.WriteLine(QStringLiteral("text")), -1);
}

TEST_F(DebugLogTest, EmptyTextWritesNothing)
{
    TDebugClass log(path());
    ASSERT_TRUE(log.isActive());
    EXPECT_EQ(log.WriteLine(QString()), 0);
    EXPECT_EQ(QFile(path()).size(), 0);
}

TEST_F(DebugLogTest, TimedLineCarriesMilliseconds)
{
    TManualClock clock(MakeSystemTime(2026, 3, 4, 14, 5, 9, 7));
    TDebugClass log(path(), &clock);
    EXPECT_EQ(log.WriteTimed(QStringLiteral("Qorsmail 启动")), 1);
    clock.advance(1000);
    EXPECT_EQ(log.WriteTimed(QStringLiteral("b")), 1);
    EXPECT_EQ(readAll(path()),
        QByteArray("2026-3-4 14:05:09.007, ") + Gbk::encode(QStringLiteral("Qorsmail 启动"))
            + "\r\n2026-3-4 14:05:10.007, b\r\n");
}

TEST_F(DebugLogTest, ALineAfterAnUnfinishedOneStartsOnItsOwn)
{
    writeAll(path(), "cut off");
    TDebugClass log(path());
    EXPECT_EQ(log.WriteLine(QStringLiteral("next")), 1);
    EXPECT_EQ(readAll(path()), QByteArray("cut off\r\nnext\r\n"));

    // A writer that got as far as the CR: only the LF is missing.
    writeAll(path(QStringLiteral("cr.log")), "cut off\r");
    TDebugClass cr(path(QStringLiteral("cr.log")));
    EXPECT_EQ(cr.WriteLine(QStringLiteral("next")), 1);
    EXPECT_EQ(readAll(path(QStringLiteral("cr.log"))), QByteArray("cut off\r\nnext\r\n"));
}

TEST_F(DebugLogTest, LinesWrittenMeanwhileByAnotherWriterAreKept)
{
    TDebugClass first(path());
    TDebugClass second(path());
    EXPECT_EQ(first.WriteLine(QStringLiteral("a")), 1);
    EXPECT_EQ(second.WriteLine(QStringLiteral("b")), 1);
    EXPECT_EQ(first.WriteLine(QStringLiteral("c")), 1);
    EXPECT_EQ(readAll(path()), QByteArray("a\r\nb\r\nc\r\n"));
}

TEST_F(DebugLogTest, ADeletedOrMovedLogIsOpenedAgain)
{
    TDebugClass log(path());
    EXPECT_EQ(log.WriteLine(QStringLiteral("one")), 1);
    ASSERT_TRUE(QFile::remove(path()));
    EXPECT_EQ(log.WriteLine(QStringLiteral("two")), 1);
    EXPECT_EQ(readAll(path()), QByteArray("two\r\n"));

    ASSERT_TRUE(QFile::rename(path(), path(QStringLiteral("QorMail.log.1"))));
    EXPECT_EQ(log.WriteLine(QStringLiteral("three")), 1);
    EXPECT_EQ(readAll(path(QStringLiteral("QorMail.log.1"))), QByteArray("two\r\n"));
    EXPECT_EQ(readAll(path()), QByteArray("three\r\n"));

    // A file moved where the log cannot follow goes on; a deleted one keeps nothing, and says so.
    QDir(m_dir.path()).mkdir(QStringLiteral("sub"));
    TDebugClass inFolder(m_dir.filePath(QStringLiteral("sub/QorMail.log")));
    ASSERT_TRUE(inFolder.isActive());
    ASSERT_TRUE(QFile::rename(m_dir.filePath(QStringLiteral("sub/QorMail.log")), path(QStringLiteral("moved.log"))));
    ASSERT_TRUE(QDir(m_dir.filePath(QStringLiteral("sub"))).removeRecursively());
    EXPECT_EQ(inFolder.WriteLine(QStringLiteral("kept")), 1);
    EXPECT_EQ(readAll(path(QStringLiteral("moved.log"))), QByteArray("kept\r\n"));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("moved.log"))));
    EXPECT_EQ(inFolder.WriteLine(QStringLiteral("lost")), 0);
}

// Each checked line is "<tag> <n> ..." ended by CR LF; returns the numbers seen per tag and fails on any other line.
std::map<QString, std::set<int>> checkLines(const QByteArray& bytes, const QString& suffix)
{
    std::map<QString, std::set<int>> seen;
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    const QString text = Gbk::decode(bytes);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    const QRegularExpression pattern(
        QStringLiteral("^(\\w+) (\\d+) ") + QRegularExpression::escape(suffix) + QLatin1Char('$'));
    int bad = 0;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const auto m = pattern.match(lines[i]);
        if (!m.hasMatch()) {
            if (++bad < 5) {
                ADD_FAILURE() << "torn line: " << lines[i].toStdString();
            }
            continue;
        }
        EXPECT_TRUE(seen[m.captured(1)].insert(m.captured(2).toInt()).second) << "twice: " << lines[i].toStdString();
    }
    EXPECT_EQ(bad, 0);
    return seen;
}

TEST_F(DebugLogTest, FourProcessesAppendWithoutTornOrLostLines)
{
    constexpr int Writers = 4;
    constexpr int Lines = 10000;
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int w = 0; w < Writers; ++w) {
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral(DEBUGLOG_HELPER),
            {QStringLiteral("append"), path(), QString::number(Lines), QStringLiteral("w%1").arg(w)});
        ASSERT_TRUE(p->waitForStarted(5000));
        procs.push_back(std::move(p));
    }
    for (auto& p : procs) {
        ASSERT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardOutput().toStdString();
    }
    const auto seen =
        checkLines(readAll(path()), QStringLiteral("发送事件邮件 成功！ ........................................"));
    ASSERT_EQ(seen.size(), size_t(Writers));
    for (const auto& [tag, numbers] : seen) {
        EXPECT_EQ(numbers.size(), size_t(Lines)) << tag.toStdString();
    }
}

TEST_F(DebugLogTest, ThreadsSharingOneLogTakeTurns)
{
    TDebugClass log(path());
    constexpr int Lines = 2000;
    auto writer = [&log](const QString& tag) {
        for (int i = 0; i < Lines; ++i) {
            log.WriteLine(QStringLiteral("%1 %2 x").arg(tag).arg(i));
        }
    };
    std::thread a(writer, QStringLiteral("a"));
    std::thread b(writer, QStringLiteral("b"));
    a.join();
    b.join();
    const auto seen = checkLines(readAll(path()), QStringLiteral("x"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.at(QStringLiteral("a")).size(), size_t(Lines));
    EXPECT_EQ(seen.at(QStringLiteral("b")).size(), size_t(Lines));
}

TEST_F(DebugLogTest, AHolderThatNeverReleasesCostsOneLineAfterTwoSeconds)
{
    TDebugClass log(path());
    ASSERT_TRUE(log.isActive());
    auto holder = startHolder(false);

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(log.WriteLine(QStringLiteral("lost")), 0);
    const qint64 waited = timer.elapsed();
    EXPECT_GE(waited, 1900);
    EXPECT_LT(waited, 10000);
    EXPECT_EQ(QFile(path()).size(), 0);

    kill(*holder);
    EXPECT_EQ(log.WriteLine(QStringLiteral("after")), 1);
    EXPECT_EQ(readAll(path()), QByteArray("after\r\n"));
}

TEST_F(DebugLogTest, AWriterKilledMidLineLeavesNoJoinedLine)
{
    TDebugClass log(path());
    EXPECT_EQ(log.WriteLine(QStringLiteral("before")), 1);
    auto holder = startHolder(true);
    kill(*holder);
    EXPECT_EQ(log.WriteLine(QStringLiteral("after")), 1);
    EXPECT_EQ(readAll(path()), QByteArray("before\r\n2026-1-1 00:00:00.000, half a li\r\nafter\r\n"));
}

TEST_F(DebugLogTest, ShortLockTimeoutIsHonoured)
{
    TDebugClass log(path());
    log.setLockTimeoutMs(100);
    auto holder = startHolder(false);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(log.WriteLine(QStringLiteral("lost")), 0);
    EXPECT_LT(timer.elapsed(), 1900);
    kill(*holder);
}

} // namespace
