// SPDX-License-Identifier: MIT
#pragma once

// What each task is doing, read from the state the engine already keeps (marks, retry counts, trigger and due
// times in the task tables, the exchange in progress) plus the outcome of each task's last attempt. The window
// shows these texts; it keeps no state of its own. The builders are pure: the caller passes the elapsed seconds
// (computed as the send loop computes them) and the current time.

#include "LocalTime.h"
#include "QorsmailDef.h"
#include "TaskKind.h"
#include "mlogcomm2.h"

#include <QString>
#include <limits>
#include <optional>
#include <unordered_map>

enum class TSendOutcome : uint8_t
{
    None,
    Sent,
    Failed, // an attempt failed; the task is retried
    GaveUp, // the last allowed attempt failed
    NoReportFile,
};

struct TLastOutcome
{
    TSendOutcome outcome = TSendOutcome::None;
    SYSTEMTIME at{};
    QString errorText; // the mail library's text (Failed, GaveUp)
};

enum class TTaskPhase : uint8_t
{
    Idle,
    Waiting, // marked; secondsLeft of the wait remain (0: the next pass sends it)
    Sending, // an exchange for it is running
    Retrying, // `retry` of `retries` comes at nextAttempt
};

struct TTaskStatus
{
    TTaskPhase phase = TTaskPhase::Idle;
    int64_t secondsLeft = 0;
    int32_t retry = 0;
    int32_t retries = 0;
    SYSTEMTIME nextAttempt{};
    TLastOutcome last;
};

// When the send loop makes a marked task's next attempt: once the seconds elapsed since its trigger time (event
// task) or due time (report task), counted as the loop counts them, reach `after`. A retry is an attempt after
// a failed one. nullopt: the task is not marked.
struct TAttemptDue
{
    int64_t after = 0;
    bool retry = false;
};
// The `after` of an attempt that is due whatever the elapsed seconds are.
inline constexpr int64_t AttemptDueAtOnce = std::numeric_limits<int32_t>::min();
std::optional<TAttemptDue> EventAttemptDue(
    const TEventMailTask& task, const TEventTaskState& state, const TSmtpSettings& settings);
std::optional<TAttemptDue> ReportAttemptDue(const TReportTaskState& state, const TSmtpSettings& settings);

// elapsed: seconds since the trigger time (event) or due time (report), as the send loop counts them.
TTaskStatus EventTaskStatus(const TEventMailTask& task,
    const TEventTaskState& state,
    const TSmtpSettings& settings,
    int32_t elapsed,
    const SYSTEMTIME& now);
TTaskStatus ReportTaskStatus(
    const TReportTaskState& state, const TSmtpSettings& settings, int32_t elapsed, const SYSTEMTIME& now);

// "空闲", "等待发送（还有 N 秒）", "正在发送", "第 k 次重试，共 n 次，下次 hh:mm:ss", followed by the last outcome
// with its time when there was one.
QString TaskStatusText(const TTaskStatus& status);
// The date and time of an outcome: "yyyy-M-d hh:mm:ss".
QString OutcomeTimeText(const SYSTEMTIME& t);

struct TStatusSummary
{
    int waiting = 0;
    int retrying = 0;
    int sending = 0;
    bool hasFailure = false;
    QString failedTitle;
    TLastOutcome lastFailure;
};

// "等待发送：a 个任务，正在重试：b 个任务" (in English with a singular and a plural form), then whether a mail is on
// its way and the most recent failure.
QString StatusSummaryText(const TStatusSummary& summary);

// The outcome of each task's last attempt, and its last failure, by task serial (an edited task is a new task).
class TTaskOutcomes
{
public:
    struct Record
    {
        TLastOutcome last;
        TLastOutcome lastFailure;
    };

    void record(TTaskKind kind, uint64_t serial, const TLastOutcome& outcome);
    const Record* find(TTaskKind kind, uint64_t serial) const;
    // Forgets the tasks that are no longer in the table.
    template <class Table>
    void prune(TTaskKind kind, const Table& table)
    {
        auto& records = m_records[static_cast<int>(kind)];
        for (auto it = records.begin(); it != records.end();) {
            it = table.indexOfSerial(it->first) < 0 ? records.erase(it) : std::next(it);
        }
    }

private:
    std::unordered_map<uint64_t, Record> m_records[2];
};

// The exchange in progress, if any.
struct TSendingTask
{
    bool active = false;
    TTaskKind kind = TTaskKind::Event;
    uint64_t serial = 0;
};

// A read-only view of the engine's state, computed at each call from the tables, the clock and the records
// above. The engine signals every change of a mark (taskStateChanged); the passing of time alone changes the
// waiting and retry texts, so a window that shows them asks again once a second.
class TTaskStatusView
{
public:
    TTaskStatusView(const TMailTables& tables,
        TLogLibrary& log,
        const TClock& clock,
        const TTaskOutcomes& outcomes,
        const TSendingTask& sending)
        : m_tables(tables)
        , m_log(log)
        , m_clock(clock)
        , m_outcomes(outcomes)
        , m_sending(sending)
    {
    }

    // Idle for an index outside the table.
    TTaskStatus status(TTaskKind kind, int index) const;
    TStatusSummary summary() const;
    // The same at a time the caller read once: reading the local clock looks the time zone up again, which
    // costs more than the status itself when it is done for every task.
    TTaskStatus status(TTaskKind kind, int index, const SYSTEMTIME& now) const;
    TStatusSummary summary(const SYSTEMTIME& now) const;

private:
    const TMailTables& m_tables;
    TLogLibrary& m_log;
    const TClock& m_clock;
    const TTaskOutcomes& m_outcomes;
    const TSendingTask& m_sending;
};
