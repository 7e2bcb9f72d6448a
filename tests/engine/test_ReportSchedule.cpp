// SPDX-License-Identifier: MIT
// The report step of the trigger tick: when a schedule marks its task, on a clock the test sets.

#include "EventTrigger.h"
#include "FakeLogLibrary.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

TReportMailTask makeTask(int32_t sendType, const SYSTEMTIME& sendTime, const SYSTEMTIME& interval = {})
{
    TReportMailTask t{};
    t.SendType = sendType;
    t.SendTime = sendTime;
    t.SendInterval = interval;
    return t;
}

SYSTEMTIME at(int hour, int minute, int second, int day = 14, int month = 3, int year = 2026)
{
    return MakeSystemTime(year, month, day, hour, minute, second);
}

class ReportStep : public ::testing::Test
{
protected:
    int add(const TReportMailTask& task)
    {
        m_tables.ReportTasks.append(task);
        return m_tables.ReportTasks.count() - 1;
    }
    // One tick at t: the tick's time and the clock agree.
    void tick(const SYSTEMTIME& t)
    {
        m_clock.set(t);
        RunReportStep(m_tables, m_log, m_clock, t);
    }
    TReportTaskState& state(int j) { return m_tables.ReportTasks.state(j); }
    // Ticks every 5 s from `from` for `seconds`, clearing each mark as a successful send would; the times
    // (seconds of the minute-of-day clock) at which the task was marked.
    std::vector<QDateTime> marksOver(int j, const QDateTime& from, int seconds)
    {
        std::vector<QDateTime> marks;
        for (int s = 0; s < seconds; s += 5) {
            const QDateTime t = from.addSecs(s);
            tick(ToSystemTime(t));
            if (state(j).State == 1) {
                marks.push_back(t);
                state(j).State = 0;
                state(j).RetryCount = 0;
            }
        }
        return marks;
    }

    TFakeLogLibrary m_log;
    TManualClock m_clock;
    TMailTables m_tables;
};

QDateTime dt(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

} // namespace

TEST_F(ReportStep, DailyAt0830IsMarkedOnceBetween083111And083130)
{
    const int j = add(makeTask(1, at(8, 30, 0)));
    tick(at(8, 30, 20));
    EXPECT_EQ(state(j).State, 0);
    tick(at(8, 31, 10));
    EXPECT_EQ(state(j).State, 0) << "second 10 is outside the window";
    tick(at(8, 31, 11));
    ASSERT_EQ(state(j).State, 1);
    const SYSTEMTIME clockNow = m_clock.now();
    EXPECT_EQ(memcmp(&state(j).DueTime, &clockNow, sizeof(SYSTEMTIME)), 0);

    // Sent and cleared by 08:31:20: the tick at 08:31:25 matches again, but the guard refuses a second mark.
    state(j).State = 0;
    state(j).RetryCount = 0;
    tick(at(8, 31, 25));
    EXPECT_EQ(state(j).State, 0);
    tick(at(8, 31, 35));
    EXPECT_EQ(state(j).State, 0);

    // A fresh task is not marked at 08:31:35 either.
    TReportTaskTable& tasks = m_tables.ReportTasks;
    tasks.replace(j, tasks.task(j));
    tick(at(8, 31, 35));
    EXPECT_EQ(state(j).State, 0);

    // Over a whole day of ticks: once.
    tasks.replace(j, tasks.task(j));
    const auto marks = marksOver(j, dt(2026, 3, 15, 0, 0, 3), 24 * 3600);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].time(), QTime(8, 31, 13));
}

TEST_F(ReportStep, TheGuardAndTheDueTimeReadTheClockAgain)
{
    const int j = add(makeTask(1, at(8, 30, 0)));
    // The clock has moved on since the tick started.
    m_clock.set(at(8, 31, 29));
    state(j).DueTime = at(8, 30, 30); // 59 s before the clock, 41 s before the tick's time
    RunReportStep(m_tables, m_log, m_clock, at(8, 31, 11));
    EXPECT_EQ(state(j).State, 0);
    m_clock.set(at(8, 31, 30));
    RunReportStep(m_tables, m_log, m_clock, at(8, 31, 11));
    ASSERT_EQ(state(j).State, 1);
    EXPECT_EQ(state(j).DueTime.wSecond, 30);
    EXPECT_EQ(state(j).RetryCount, 0);

    // A due task is not examined again.
    const TReportTaskState before = state(j);
    m_clock.set(at(8, 31, 20, 15));
    RunReportStep(m_tables, m_log, m_clock, at(8, 31, 20, 15));
    EXPECT_EQ(memcmp(&state(j), &before, sizeof before), 0);
}

TEST_F(ReportStep, MinuteZeroAndMinute59)
{
    // Hourly from 08:00: due at 09:00:00, examined against the minute before, so marked at 09:01:1x.
    SYSTEMTIME hour{};
    hour.wHour = 1;
    const int hourly = add(makeTask(4, at(8, 0, 0), hour));
    const int at59 = add(makeTask(1, at(8, 59, 0)));
    tick(at(9, 0, 15));
    EXPECT_EQ(state(hourly).State, 0) << "minute 0: nothing is examined";
    tick(at(9, 1, 15));
    EXPECT_EQ(state(hourly).State, 1);
    EXPECT_TRUE(marksOver(at59, dt(2026, 3, 14, 0, 0, 1), 24 * 3600).empty()) << "minute 59 never matches";
}

TEST_F(ReportStep, MonthlyOnDay31FiresOnlyInMonthsThatHaveIt)
{
    const int j = add(makeTask(2, MakeSystemTime(0, 0, 31, 8, 30)));
    int fired = 0;
    for (QDate d(2025, 1, 1); d.year() == 2025; d = d.addDays(1)) {
        tick(ToSystemTime(QDateTime(d, QTime(8, 31, 15))));
        if (state(j).State == 1) {
            EXPECT_EQ(d.day(), 31);
            ++fired;
            state(j).State = 0;
        }
    }
    EXPECT_EQ(fired, 7);
}

TEST_F(ReportStep, YearlyComparesMonthDayHourMinuteOnly)
{
    // Year, day of week, second and milliseconds of SendTime are never compared.
    SYSTEMTIME send = MakeSystemTime(1999, 7, 1, 6, 5, 44, 321);
    send.wDayOfWeek = 6;
    const int j = add(makeTask(3, send));
    const auto marks = marksOver(j, dt(2026, 6, 30, 6, 0, 1), 2 * 24 * 3600);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0], dt(2026, 7, 1, 6, 6, 11));
    EXPECT_TRUE(marksOver(j, dt(2026, 8, 1, 6, 0, 1), 3600).empty());
}

TEST_F(ReportStep, SchedulesThatNeverFire)
{
    const int type0 = add(makeTask(0, at(8, 30, 0)));
    const int type5 = add(makeTask(5, at(8, 30, 0)));
    const int zeroInterval = add(makeTask(4, at(8, 0, 0), SYSTEMTIME{}));
    for (const int j : {type0, type5, zeroInterval}) {
        EXPECT_TRUE(marksOver(j, dt(2026, 3, 14, 8, 0, 1), 2 * 3600).empty()) << j;
    }
}

TEST_F(ReportStep, FixedIntervalOfOneDayStartedYesterdayAt0800)
{
    SYSTEMTIME day{};
    day.wDay = 1;
    const int j = add(makeTask(4, at(8, 0, 0, 13), day));
    tick(at(8, 1, 5));
    EXPECT_EQ(state(j).State, 0);
    tick(at(8, 1, 35));
    EXPECT_EQ(state(j).State, 0) << "the reference time 08:00:35 is past the first 30 s of the period";
    tick(at(8, 1, 15));
    EXPECT_EQ(state(j).State, 1);
    m_tables.ReportTasks.replace(j, m_tables.ReportTasks.task(j));
    const auto marks = marksOver(j, dt(2026, 3, 14, 8, 2, 0), 3 * 24 * 3600);
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_EQ(marks[0], dt(2026, 3, 15, 8, 1, 15));
    EXPECT_EQ(marks[2], dt(2026, 3, 17, 8, 1, 15));

    // An interval of 2 h 30 min: hours and minutes count as a length too.
    SYSTEMTIME span{};
    span.wHour = 2;
    span.wMinute = 30;
    const int k = add(makeTask(4, at(0, 0, 0, 14), span));
    const auto spanMarks = marksOver(k, dt(2026, 3, 14, 0, 0, 0), 6 * 3600);
    ASSERT_EQ(spanMarks.size(), 3u) << "the start point itself is a period boundary";
    EXPECT_EQ(spanMarks[0], dt(2026, 3, 14, 0, 1, 15));
    EXPECT_EQ(spanMarks[1], dt(2026, 3, 14, 2, 31, 15));
    EXPECT_EQ(spanMarks[2], dt(2026, 3, 14, 5, 1, 15));
}

// Before its start point a fixed-interval schedule has not begun. (The unsigned difference would wrap and
// land on some phase unrelated to the start.)
TEST_F(ReportStep, FixedIntervalDoesNotFireBeforeItsStart)
{
    SYSTEMTIME hour{};
    hour.wHour = 1;
    const SYSTEMTIME start = at(12, 0, 0, 20);
    const int j = add(makeTask(4, start, hour));
    const uint32_t startSeconds = m_log.SecondsFromSystemTime(start);
    // Find a tick before the start at which the wrapped remainder would be below 30.
    QDateTime trap;
    for (QDateTime t = dt(2026, 3, 19, 0, 1, 11); t < dt(2026, 3, 20, 0, 0, 0) && !trap.isValid(); t = t.addSecs(5)) {
        SYSTEMTIME ref = ToSystemTime(t);
        if (ref.wMinute == 0 || ref.wSecond < 11 || ref.wSecond > 30) {
            continue;
        }
        ref.wMinute -= 1;
        if (uint32_t(m_log.SecondsFromSystemTime(ref) - startSeconds) % 3600u < 30) {
            trap = t;
        }
    }
    ASSERT_TRUE(trap.isValid());
    tick(ToSystemTime(trap));
    EXPECT_EQ(state(j).State, 0);
    tick(at(12, 1, 15, 20));
    EXPECT_EQ(state(j).State, 1) << "and from the start on it runs";
}
