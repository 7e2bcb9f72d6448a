// SPDX-License-Identifier: MIT
// The real station in event storms, fed by this test straight into the ring of its working directory: a burst
// of more events than the ring holds between two reads is told in the debug log and still found when the ring
// holds the match; a sustained storm is read without loss and every task is marked at its first match.

#include "GbkCodec.h"
#include "QorsmailFunc.h"
#include "RingStation.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>

namespace {

const QString OverrunPrefix = QStringLiteral("事件记录缓冲区溢出");

// One station on its own working directory (whose ring this test writes) and its own SMTP test server.
struct TStormStation : TRingStationBase
{
    // The text lines of the mail whose subject begins with the title; empty when there is none.
    QStringList mailLines(const QString& title) const
    {
        for (const QString& path : server.mails()) {
            const QJsonObject mail = SmtpTest::checkMail(path);
            if (!mail[QStringLiteral("subject")].toString().startsWith(title + QLatin1Char('('))) {
                continue;
            }
            const QJsonArray texts = mail[QStringLiteral("texts")].toArray();
            if (texts.isEmpty()) {
                return {};
            }
            const QString body = Gbk::decode(
                QByteArray::fromBase64(texts[0].toObject()[QStringLiteral("bytes_b64")].toString().toLatin1()));
            QStringList lines = body.split(QStringLiteral("\r\n"));
            if (!lines.isEmpty() && lines.last().isEmpty()) {
                lines.removeLast();
            }
            return lines;
        }
        return {};
    }
    int overrunLines() const { return int(readDebugLog(dir.path()).count(OverrunPrefix)); }
};

bool post(const QString& text)
{
    return PostEvent(1, 1, Gbk::encode(text).constData(), nullptr) >= 0;
}

// The number at the end of an event line, -1 for none.
qint64 serialOf(const QString& line)
{
    static const QRegularExpression tail(QStringLiteral("(\\d+)$"));
    const QRegularExpressionMatch m = tail.match(line);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace

// 7000 events while the station cannot read (held by SIGSTOP): the read after them finds 2000 lost, says so in
// the debug log, and still finds a match among the 5000 the ring holds.
TEST(EventStorm, ABurstOfSevenThousandIsToldAndTheMatchIsFoundWhileTheRingHoldsIt)
{
    struct Case
    {
        int matchAt;
        bool mail;
    };
    for (const Case c : {Case{2000, true}, Case{6999, true}, Case{1999, false}}) {
        SCOPED_TRACE(c.matchAt);
        TStormStation st;
        st.files.addEventTask(QStringLiteral("事故报告"), 1, QStringLiteral("差动保护动作"));
        ASSERT_TRUE(st.start()) << st.station.output().toStdString();
        ASSERT_EQ(::kill(pid_t(st.station.pid()), SIGSTOP), 0);
        for (int i = 0; i < 7000; ++i) {
            ASSERT_TRUE(post(i == c.matchAt ? QStringLiteral("1号主变差动保护动作 %1").arg(i)
                                            : QStringLiteral("母线电压越限 %1").arg(i)));
        }
        ASSERT_EQ(::kill(pid_t(st.station.pid()), SIGCONT), 0);
        EXPECT_TRUE(waitForDebugLine(st.dir.path(), QStringLiteral("事件记录缓冲区溢出，约 2000 条事件未能检查")))
            << readDebugLog(st.dir.path()).toStdString();
        if (!c.mail) {
            // Gone for good: the task's wait (1 s) and a few send passes go by without a mail.
            EXPECT_FALSE(st.server.waitForMails(1, 4000));
            EXPECT_EQ(st.overrunLines(), 1);
            EXPECT_EQ(st.station.terminate(), 0);
            continue;
        }
        ASSERT_TRUE(st.server.waitForMails(1, 15000)) << st.station.output().toStdString();
        const QStringList lines = st.mailLines(QStringLiteral("事故报告"));
        ASSERT_EQ(lines.size(), 7000 - c.matchAt);
        EXPECT_TRUE(lines.first().endsWith(QStringLiteral("  1号主变差动保护动作 %1").arg(c.matchAt)))
            << lines.first().toStdString();
        for (int k = 0; k < lines.size(); ++k) {
            ASSERT_EQ(serialOf(lines[k]), c.matchAt + k) << lines[k].toStdString();
        }
        EXPECT_EQ(st.overrunLines(), 1);
        EXPECT_EQ(st.station.terminate(), 0);
    }
}

// 4000 events a second for 30 s, written on a fixed schedule: no overrun, and each task's mail starts at the
// task's first matching event (or, when the ring has moved on by the time the mail is made, says how many of
// the range were overwritten before the first event it lists).
TEST(EventStorm, ASustainedStormLosesNothingAndMarksEachTaskAtItsFirstMatch)
{
    constexpr int Rate = 4000;
    constexpr int Seconds = 30;
    constexpr int Total = Rate * Seconds;
    const QString titles[] = {QStringLiteral("检查甲"), QStringLiteral("检查乙"), QStringLiteral("检查丙")};
    const QString keywords[] = {
        QStringLiteral("馈线甲跳闸"), QStringLiteral("馈线乙跳闸"), QStringLiteral("馈线丙跳闸")};
    const int firstMatch[] = {2 * Rate + 777, 13 * Rate + 5, 24 * Rate + 3999};
    TStormStation st;
    for (int t = 0; t < 3; ++t) {
        st.files.addEventTask(titles[t], 0, keywords[t]);
    }
    ASSERT_TRUE(st.start()) << st.station.output().toStdString();

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    constexpr int Batch = Rate / 200; // every 5 ms
    for (int n = 0; n < Total;) {
        std::this_thread::sleep_until(begin + std::chrono::microseconds(int64_t(n) * 1000000 / Rate));
        for (int k = 0; k < Batch; ++k, ++n) {
            QString text = QStringLiteral("母线电压越限 %1").arg(n);
            for (int t = 0; t < 3; ++t) {
                // The first match, and a second one shortly after it that must not move the mark.
                if (n == firstMatch[t] || n == firstMatch[t] + 50) {
                    text = keywords[t] + QStringLiteral(" %1").arg(n);
                }
            }
            ASSERT_TRUE(post(text));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    EXPECT_LT(seconds, Seconds + 1.0) << "the writer could not hold the rate";

    ASSERT_TRUE(st.server.waitForMails(3, 20000)) << st.station.output().toStdString();
    EXPECT_EQ(st.overrunLines(), 0) << readDebugLog(st.dir.path()).toStdString();
    static const QRegularExpression overwritten(QStringLiteral("^此前还有 (\\d+) 条事件已被新事件覆盖，未能列出$"));
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE(titles[t].toStdString());
        const QStringList lines = st.mailLines(titles[t]);
        ASSERT_FALSE(lines.isEmpty());
        qint64 skipped = 0;
        int k = 0;
        const QRegularExpressionMatch m = overwritten.match(lines.first());
        if (m.hasMatch()) {
            skipped = m.captured(1).toLongLong();
            k = 1;
        }
        ASSERT_LT(k, lines.size());
        EXPECT_LE(lines.size() - k, 5000);
        EXPECT_EQ(serialOf(lines[k]) - skipped, firstMatch[t]) << lines[k].toStdString();
        if (skipped == 0) {
            EXPECT_TRUE(lines[k].endsWith(keywords[t] + QStringLiteral(" %1").arg(firstMatch[t])));
        }
        for (int i = k + 1; i < lines.size(); ++i) {
            ASSERT_EQ(serialOf(lines[i]), serialOf(lines[i - 1]) + 1) << "listed in order, without gaps";
        }
    }
    // One read a second at least kept up: every read found fewer events than the ring holds.
    EXPECT_EQ(st.station.terminate(), 0);
    const QByteArray out = st.station.output();
    static const QRegularExpression read(QStringLiteral("events read (\\d+) of (\\d+) new, (\\d+) lost"));
    int reads = 0;
    qint64 most = 0;
    for (auto it = read.globalMatch(QString::fromUtf8(out)); it.hasNext();) {
        const QRegularExpressionMatch r = it.next();
        ++reads;
        most = std::max(most, r.captured(2).toLongLong());
        EXPECT_EQ(r.captured(3).toLongLong(), 0);
    }
    EXPECT_GE(reads, Seconds - 2);
    std::cout << "storm: " << Total << " events in " << seconds << " s, " << reads << " reads, at most " << most
              << " new in one read\n";
}
