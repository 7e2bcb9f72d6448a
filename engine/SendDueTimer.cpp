// SPDX-License-Identifier: MIT
#include "SendDueTimer.h"

#include "TaskStatus.h"

#include <algorithm>
#include <optional>

namespace {

// Longer waits are set again by the passes in between.
constexpr int64_t MaxDelayMs = int64_t(24) * 3600 * 1000;
// A pass that made no attempt left nothing due at once but what a second boundary passed since it read the
// clock made due; that is looked at again at the watch's pace, never over and over without a pause.
constexpr int64_t RecheckMs = 100;

} // namespace

TSendDueTimer::TSendDueTimer(const TMailTables& tables, TLogLibrary& log, const TClock& clock)
    : m_tables(tables)
    , m_log(log)
    , m_clock(clock)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % late: 100 ms on a 2 s wait
}

int64_t TSendDueTimer::dueSecond(TTaskKind kind, int index, bool* retry) const
{
    std::optional<TAttemptDue> due;
    const SYSTEMTIME* from = nullptr;
    if (kind == TTaskKind::Event) {
        if (index < 0 || index >= m_tables.EventTasks.count() || m_tables.EventTasks.state(index).State == 0) {
            return None;
        }
        const TEventTaskState& state = m_tables.EventTasks.state(index);
        due = EventAttemptDue(m_tables.EventTasks.task(index), state, m_tables.SmtpSettings);
        from = &state.TriggerTime;
    } else {
        if (index < 0 || index >= m_tables.ReportTasks.count() || m_tables.ReportTasks.state(index).State == 0) {
            return None;
        }
        const TReportTaskState& state = m_tables.ReportTasks.state(index);
        due = ReportAttemptDue(state, m_tables.SmtpSettings);
        from = &state.DueTime;
    }
    if (!due) {
        return None;
    }
    *retry = due->retry;
    return int64_t(m_log.SecondsFromSystemTime(*from)) + due->after;
}

int64_t TSendDueTimer::delayMs(int64_t second, const SYSTEMTIME& now) const
{
    // The loop counts whole seconds: the attempt is due from the start of that second on.
    const int64_t ms = (second - int64_t(m_log.SecondsFromSystemTime(now))) * 1000 - now.wMilliseconds;
    return std::clamp<int64_t>(ms, 0, MaxDelayMs);
}

void TSendDueTimer::arm(int64_t delay, int64_t second)
{
    m_timer.start(static_cast<int>(delay));
    m_armedSecond = second;
}

void TSendDueTimer::follow(TTaskKind kind, int index)
{
    bool retry = false;
    const int64_t second = dueSecond(kind, index, &retry);
    if (second == None || (m_timer.isActive() && second >= m_armedSecond)) {
        return;
    }
    const int64_t delay = delayMs(second, m_clock.now());
    if (m_timer.isActive() && m_timer.remainingTime() <= delay) {
        return; // a retry held back fires sooner
    }
    arm(delay, second);
}

void TSendDueTimer::scheduleAll(bool passEnded, bool passAttempted)
{
    if (passEnded && passAttempted) {
        m_sinceAttempt.start();
    }
    int64_t fresh = None;
    int64_t retry = None;
    const auto note = [&](TTaskKind kind, int count) {
        for (int i = 0; i < count; ++i) {
            bool isRetry = false;
            const int64_t second = dueSecond(kind, i, &isRetry);
            int64_t& earliest = isRetry ? retry : fresh;
            earliest = std::min(earliest, second);
        }
    };
    note(TTaskKind::Event, m_tables.EventTasks.count());
    note(TTaskKind::Report, m_tables.ReportTasks.count());
    if (fresh == None && retry == None) {
        m_timer.stop();
        m_armedSecond = None;
        return;
    }
    const SYSTEMTIME now = m_clock.now();
    int64_t delay = MaxDelayMs;
    int64_t second = None;
    if (fresh != None) {
        delay = delayMs(fresh, now);
        second = fresh;
    }
    if (retry != None) {
        const int64_t due = delayMs(retry, now);
        const int64_t held = m_sinceAttempt.isValid() ? RetryGapMs - m_sinceAttempt.elapsed() : 0;
        if (std::max(due, held) < delay) {
            delay = std::max(due, held);
            second = due < held ? None : retry;
        }
    }
    if (passEnded && !passAttempted && delay == 0) {
        delay = RecheckMs;
        second = None;
    }
    arm(delay, second);
}
