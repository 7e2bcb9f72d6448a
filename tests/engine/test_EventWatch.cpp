// SPDX-License-Identifier: MIT
// The engine's reads over station time: the watches between the regular ticks every five seconds, driven by the
// test (no real waiting) over a scripted ring that tells its count, and the watchdog those ticks feed.

#include "CoreTestApp.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "QorsmailMain.h"
#include "ServiceNotifier.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <utility>

namespace {

const SYSTEMTIME T0 = MakeSystemTime(2026, 3, 14, 9, 0, 0, 0);

constexpr uint64_t WrittenAtStart = 54321;

// A station on a scripted ring that already holds 54321 events, with one event task (keyword "match").
struct TWatchedStation
{
    QTemporaryDir dir;
    TMailTables tables;
    TFakeLogLibrary log;
    TManualClock clock{T0};
    std::unique_ptr<TQorsmailMain> main;
    QStringList panel;
    FakeSmtpSession* smtp = nullptr;
    uint64_t posted = 0; // events written since the start; event k is number WrittenAtStart + k of the ring
    int second = 0;

    TWatchedStation()
    {
        coreTestApp();
        log.WorkDir = QFile::encodeName(dir.path() + QLatin1Char('/'));
        log.CountOk = true;
        log.WritePos = int32_t(WrittenAtStart % 5000);
        log.Written = WrittenAtStart;
        main = std::make_unique<TQorsmailMain>(tables, log, clock);
        auto session = std::make_unique<FakeSmtpSession>();
        smtp = session.get();
        main->setSmtpSession(std::move(session));
        QObject::connect(main.get(), &TQorsmailMain::logLineAdded, [this](const QString& line) {
            panel.append(line.mid(DateTimeText(clock.now()).size() + 2));
        });
        main->CreateEngine();
        TEventMailTask task{};
        task.LevelMask = -1;
        task.WaitSec = 3600; // marked, never sent within the test
        Gbk::storeField(task.Keyword, QStringLiteral("match"));
        tables.EventTasks.append(task);
        // Active but never firing by itself: the test runs no event loop and calls the handlers.
        main->TriggerTimer().start();
    }

    // Station time, second by second: `perSecond` events are written over each second, with `watches` watches
    // spread over it (the station's own pace is ten), and every fifth second the regular tick. matchAt: the
    // events (counted from the start) that match.
    void run(int seconds, uint64_t perSecond, const std::vector<uint64_t>& matchAt = {}, int watches = 1)
    {
        for (int s = 0; s < seconds; ++s) {
            for (int w = 0; w < watches; ++w) {
                for (uint64_t k = 0; k < perSecond / uint64_t(watches); ++k) {
                    const uint64_t n = posted++;
                    const bool match = std::find(matchAt.begin(), matchAt.end(), n) != matchAt.end();
                    log.post(1, 1, (match ? QStringLiteral("match %1") : QStringLiteral("e%1")).arg(n));
                }
                clock.advance(1000 / watches);
                if (main->TriggerTimer().isActive()) {
                    main->EventWatchTimerTimer();
                }
            }
            ++second;
            if (main->TriggerTimer().isActive() && second % 5 == 0) {
                main->TriggerTimerTimer();
            }
        }
    }
    int overrunLines() const { return int(panel.filter(QStringLiteral("事件记录缓冲区溢出")).size()); }
};

} // namespace

TEST(EventWatch, ReadsKeepUpWithTheRingAndAQuietRingIsReadAtTheNextWatch)
{
    struct Case
    {
        const char* name;
        uint64_t perSecond;
        int seconds;
        int minReads;
        int maxReads;
        bool lossless;
        int watches = 1;
    };
    const Case cases[] = {
        {"quiet, at the station's watch pace", 10, 60, 600, 600, true, 10},
        {"busy", 300, 60, 60, 60, true},
        {"storm of 4000 a second", 4000, 30, 30, 30, true},
        {"beyond what one read a second holds", 6000, 10, 10, 10, false},
        {"storm of 20,000 a second at the station's watch pace", 20000, 10, 100, 102, true, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWatchedStation st;
        st.run(c.seconds, c.perSecond, {}, c.watches);
        EXPECT_GE(st.log.ReadCalls, c.minReads);
        EXPECT_LE(st.log.ReadCalls, c.maxReads);
        EXPECT_EQ(st.overrunLines() == 0, c.lossless) << st.panel.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(st.main->triggerState().ReadCount, st.log.Written) << "every event accounted for";
    }
}

TEST(EventWatch, AStormMarksTheTaskAtItsFirstMatch)
{
    // Later matches, in the same read and in later ones, leave the mark where it is.
    for (const auto& [rate, watches] : {std::pair<uint64_t, int>{4000, 1}, {20000, 10}}) {
        SCOPED_TRACE(rate);
        TWatchedStation st;
        st.run(3, 10);
        const uint64_t first = st.posted + rate * 7 + 1234;
        st.run(30, rate, {first, first + 10, first + rate / 10, first + rate * 5}, watches);
        EXPECT_EQ(st.overrunLines(), 0);
        EXPECT_EQ(st.main->triggerState().ReadCount, st.log.Written) << "every event read once";
        const TEventTaskState& s = st.tables.EventTasks.state(0);
        ASSERT_EQ(s.State, 1);
        const uint64_t number = WrittenAtStart + first;
        EXPECT_EQ(s.FirstPos % 5000, int32_t(number % 5000));
        const TMarkSpan* span = st.main->triggerState().Spans.find(st.tables.EventTasks.serial(0));
        ASSERT_NE(span, nullptr);
        EXPECT_EQ(span->First, number);
    }
}

TEST(EventWatch, ABurstBetweenTwoReadsGivesOneOverrunLineAndStoppedSendingReadsNothing)
{
    TWatchedStation st;
    st.run(5, 10);
    ASSERT_EQ(st.overrunLines(), 0);
    st.run(1, 7000);
    ASSERT_EQ(st.overrunLines(), 1);
    EXPECT_EQ(st.panel.filter(QStringLiteral("事件记录缓冲区溢出，约 2000 条事件未能检查")).size(), 1)
        << st.panel.join(QLatin1Char('\n')).toStdString();
    st.run(10, 10);
    EXPECT_EQ(st.overrunLines(), 1);

    // Sending stopped: neither the watch nor the tick reads, however fast the ring fills.
    st.main->TriggerTimer().stop();
    const int before = st.log.ReadCalls;
    st.run(1, 4000);
    st.main->EventWatchTimerTimer();
    EXPECT_EQ(st.log.ReadCalls, before);
}

// Whichever looks read them, the mail lists the same events: from the task's first match to the end of its wait,
// as when the regular tick read the first match and the event after it together. The mark keeps the time of
// the read that found the match.
TEST(EventWatch, TheMailListsTheSameEventsWhicheverLookReadThem)
{
    struct Case
    {
        const char* name;
        const char* first; // arrives before a look
        const char* second; // arrives `looksBetween` looks later (0: read together with the first)
        int looksBetween;
        int markedAtMs; // the time of the read that found the match
        QStringList listed;
    };
    const Case cases[] = {
        {"a match and the next event in one read", "match A", "event B", 0, 200, {"match A", "event B", "event C"}},
        {"the next event at the next look", "match A", "event B", 1, 200, {"match A", "event B", "event C"}},
        {"a second match at the next look", "match A", "match B", 1, 200, {"match A", "match B", "event C"}},
        {"the match second, at the next look", "event A", "match B", 1, 300, {"match B", "event C"}},
        {"the next event three looks later", "match A", "event B", 3, 200, {"match A", "event B", "event C"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWatchedStation st;
        TEventMailTask& task = st.tables.EventTasks.task(0);
        task.WaitSec = 2;
        task.ReceiverCount = 1;
        Gbk::storeField(task.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
        Gbk::storeField(st.tables.SmtpSettings.LocalEmailAddr, QStringLiteral("station@example.cn"));
        const auto look = [&st] {
            st.clock.advance(100);
            st.main->EventWatchTimerTimer();
        };
        st.log.post(1, 1, QStringLiteral("event before"));
        look();
        st.log.post(1, 1, QString::fromUtf8(c.first));
        for (int k = 0; k < c.looksBetween; ++k) {
            look();
        }
        st.log.post(1, 1, QString::fromUtf8(c.second));
        look();
        ASSERT_EQ(st.tables.EventTasks.state(0).State, 1);
        EXPECT_EQ(DateTimeText(st.tables.EventTasks.state(0).TriggerTime).toStdString(),
            DateTimeText(MakeSystemTime(2026, 3, 14, 9, 0, 0, c.markedAtMs)).toStdString());
        // Written after the last look and before the wait ends: in the range, read by no look.
        st.log.post(1, 1, QStringLiteral("event C"));
        st.clock.advance(2500);
        st.main->SendMailTimerTimer();
        ASSERT_EQ(st.smtp->sent.size(), 1u);
        QStringList lines = Gbk::decode(st.smtp->sent[0].text).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), c.listed.size()) << lines.join(QLatin1Char('|')).toStdString();
        for (int k = 0; k < lines.size(); ++k) {
            EXPECT_TRUE(lines[k].endsWith(QStringLiteral("  ") + c.listed[k])) << lines[k].toStdString();
        }
    }
}

TEST(EventWatch, TheWatchdogIsFedWhileTheTicksComeRoundOrSendingIsStopped)
{
    struct TRecordingNotifier : TServiceNotifier
    {
        QStringList* sent = nullptr;
        void notify(const QByteArray& message) override
        {
            sent->append(QString::fromUtf8(message).section('\n', 0, 0));
        }
        std::chrono::microseconds watchdogPeriod() const override { return std::chrono::seconds(30); }
    };
    TWatchedStation st;
    QStringList sent;
    auto notifier = std::make_unique<TRecordingNotifier>();
    notifier->sent = &sent;
    st.main->setServiceNotifier(std::move(notifier));
    st.main->StartTimers();
    st.main->TriggerTimerTimer();
    st.main->StoppedWatchdogTimerTimer();
    EXPECT_EQ(sent, QStringList{QStringLiteral("READY=1")}) << "no send pass came round, sending not stopped";
    st.main->SendMailTimerTimer();
    st.main->TriggerTimerTimer();
    // Sending stopped by the operator: both timers rest, and the station must not be restarted for it.
    st.main->TriggerTimer().stop();
    st.main->SendMailTimer().stop();
    st.main->StoppedWatchdogTimerTimer();
    EXPECT_EQ(
        sent, (QStringList{QStringLiteral("READY=1"), QStringLiteral("WATCHDOG=1"), QStringLiteral("WATCHDOG=1")}));
}
