// SPDX-License-Identifier: MIT
#pragma once

// The send pass's single-shot timer: it fires when the earliest next attempt of the marked tasks is due, so a
// mail leaves as its wait ends (or its retry delay), not on the next once-a-second pass. Due times are the send
// loop's own (EventAttemptDue, ReportAttemptDue: whole seconds of the library's scale), turned into a delay on
// the clock's milliseconds: the timer fires at the first moment at which the loop finds the attempt due.

#include "LocalTime.h"
#include "QorsmailDef.h"
#include "TaskKind.h"
#include "mlogcomm2.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <limits>

class TSendDueTimer
{
public:
    // A retry never follows the pass whose attempt failed sooner than this (as with the once-a-second pass): a
    // retry that is already due when its failure is counted (WaitSeconds 0, or an exchange that outlasted the
    // delay) would otherwise be tried again at once, all its attempts spent within moments.
    static constexpr int RetryGapMs = 1000;

    TSendDueTimer(const TMailTables& tables, TLogLibrary& log, const TClock& clock);

    QTimer& timer() { return m_timer; }

    // A task's state changed outside a pass: when its next attempt comes before the one the timer waits for, the
    // timer waits for that one. The clock is read only then, so a tick that marks 2000 tasks reads it once.
    void follow(TTaskKind kind, int index);
    // Waits for the earliest next attempt of all marked tasks instead of what it waited for; stops when no task
    // is marked. passEnded: called at the end of a pass; passAttempted: that pass changed a task's state.
    void scheduleAll(bool passEnded = false, bool passAttempted = false);
    void stop() { m_timer.stop(); }

private:
    static constexpr int64_t None = std::numeric_limits<int64_t>::max();

    // The second (library scale) from which the task's next attempt is due; None when it is not marked.
    int64_t dueSecond(TTaskKind kind, int index, bool* retry) const;
    int64_t delayMs(int64_t second, const SYSTEMTIME& now) const;
    void arm(int64_t delay, int64_t second);

    const TMailTables& m_tables;
    TLogLibrary& m_log;
    const TClock& m_clock;
    QTimer m_timer;
    // The due second the timer fires at; None when it fires later than some due second (a retry held back).
    int64_t m_armedSecond = None;
    QElapsedTimer m_sinceAttempt; // since the last pass that made an attempt
};
