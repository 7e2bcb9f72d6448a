// SPDX-License-Identifier: MIT
// The engine's reads over station time: the watch every second and the regular tick every five, driven by the
// test (no real waiting) over a scripted ring that tells its count.

#include "CoreTestApp.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "QorsmailMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
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
        main->setSmtpSession(std::make_unique<FakeSmtpSession>());
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

TEST(EventWatch, ReadsKeepUpWithTheRingAndAQuietRingStaysOnTheTick)
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
        {"quiet", 10, 60, 12, 12, true},
        {"busy but below a fifth of the ring per tick", 150, 60, 12, 12, true},
        {"filling", 300, 60, 13, 60, true},
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
