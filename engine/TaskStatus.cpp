// SPDX-License-Identifier: MIT
#include "TaskStatus.h"

#include "GbkCodec.h"
#include "MLEngine.h"

#include <algorithm>

namespace {

QString twoDigits(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString clockText(const SYSTEMTIME& t)
{
    return twoDigits(t.wHour) + QLatin1Char(':') + twoDigits(t.wMinute) + QLatin1Char(':') + twoDigits(t.wSecond);
}

SYSTEMTIME later(const SYSTEMTIME& now, int64_t seconds)
{
    const QDateTime base = FromSystemTime(now);
    return base.isValid() ? ToSystemTime(base.addSecs(seconds)) : SYSTEMTIME{};
}

// A retry in progress: the attempt after `failures` failures, due `remaining` seconds from now.
TTaskStatus retrying(int32_t failures, int32_t maxSendTries, int64_t remaining, const SYSTEMTIME& now)
{
    TTaskStatus s;
    s.phase = TTaskPhase::Retrying;
    s.retry = failures;
    // Attempts after the first; a lowered setting can leave a task past its last allowed retry.
    s.retries = std::max(maxSendTries - 1, failures);
    s.nextAttempt = later(now, std::max<int64_t>(remaining, 0));
    return s;
}

TTaskStatus waiting(int64_t remaining)
{
    TTaskStatus s;
    s.phase = TTaskPhase::Waiting;
    s.secondsLeft = std::max<int64_t>(remaining, 0);
    return s;
}

QString outcomeText(const TLastOutcome& o)
{
    using namespace LangText::TaskStatus_Str;
    switch (o.outcome) {
    case TSendOutcome::Sent:
        return GetLangText(Str6);
    case TSendOutcome::Failed:
        return GetLangText(Str7).arg(o.errorText);
    case TSendOutcome::GaveUp:
        return GetLangText(Str8).arg(o.errorText);
    case TSendOutcome::NoReportFile:
        return GetLangText(Str9);
    case TSendOutcome::None:
        break;
    }
    return {};
}

bool earlier(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return std::tie(a.wYear, a.wMonth, a.wDay, a.wHour, a.wMinute, a.wSecond, a.wMilliseconds)
        < std::tie(b.wYear, b.wMonth, b.wDay, b.wHour, b.wMinute, b.wSecond, b.wMilliseconds);
}

} // namespace

std::optional<TAttemptDue> EventAttemptDue(
    const TEventMailTask& task, const TEventTaskState& state, const TSmtpSettings& settings)
{
    if (state.State == 1) {
        return TAttemptDue{task.WaitSec, false};
    }
    if (state.State != 2) {
        return std::nullopt;
    }
    if (state.RetryCount <= 0) {
        return TAttemptDue{AttemptDueAtOnce, false}; // the first attempt was under way
    }
    return TAttemptDue{static_cast<int64_t>(task.WaitSec)
            + static_cast<int64_t>(state.RetryCount) * static_cast<int64_t>(settings.WaitSeconds),
        true};
}

std::optional<TAttemptDue> ReportAttemptDue(const TReportTaskState& state, const TSmtpSettings& settings)
{
    if (state.State == 0) {
        return std::nullopt;
    }
    if (state.RetryCount <= 0) {
        return TAttemptDue{AttemptDueAtOnce, false};
    }
    return TAttemptDue{static_cast<int64_t>(state.RetryCount) * static_cast<int64_t>(settings.WaitSeconds), true};
}

namespace {

TTaskStatus statusOf(const std::optional<TAttemptDue>& due,
    int32_t retryCount,
    const TSmtpSettings& settings,
    int32_t elapsed,
    const SYSTEMTIME& now)
{
    if (!due) {
        return {};
    }
    if (!due->retry) {
        return waiting(due->after - elapsed); // 0 for one due at once: the next pass makes the attempt
    }
    return retrying(retryCount, settings.MaxSendTries, due->after - elapsed, now);
}

} // namespace

TTaskStatus EventTaskStatus(const TEventMailTask& task,
    const TEventTaskState& state,
    const TSmtpSettings& settings,
    int32_t elapsed,
    const SYSTEMTIME& now)
{
    return statusOf(EventAttemptDue(task, state, settings), state.RetryCount, settings, elapsed, now);
}

TTaskStatus ReportTaskStatus(
    const TReportTaskState& state, const TSmtpSettings& settings, int32_t elapsed, const SYSTEMTIME& now)
{
    return statusOf(ReportAttemptDue(state, settings), state.RetryCount, settings, elapsed, now);
}

QString OutcomeTimeText(const SYSTEMTIME& t)
{
    return QStringLiteral("%1-%2-%3 ").arg(t.wYear).arg(t.wMonth).arg(t.wDay) + clockText(t);
}

QString TaskStatusText(const TTaskStatus& status)
{
    using namespace LangText::TaskStatus_Str;
    QString text;
    switch (status.phase) {
    case TTaskPhase::Idle:
        text = GetLangText(Str1);
        break;
    case TTaskPhase::Waiting:
        text = GetLangText(Str2).arg(status.secondsLeft);
        break;
    case TTaskPhase::Sending:
        text = GetLangText(Str3);
        break;
    case TTaskPhase::Retrying:
        text = GetLangText(Str4).arg(status.retry).arg(status.retries).arg(clockText(status.nextAttempt));
        break;
    }
    if (status.last.outcome != TSendOutcome::None) {
        text += GetLangText(Str5).arg(OutcomeTimeText(status.last.at), outcomeText(status.last));
    }
    return text;
}

QString StatusSummaryText(const TStatusSummary& summary)
{
    using namespace LangText::TaskStatus_Str;
    const auto tasks = [](int count) { return GetCountText(Str14, count).arg(count); };
    QString text = FillText(GetLangText(Str15), {tasks(summary.waiting), tasks(summary.retrying)});
    if (summary.sending > 0) {
        text += GetLangText(Str12);
    }
    if (summary.hasFailure) {
        text += GetLangText(Str13).arg(
            OutcomeTimeText(summary.lastFailure.at), summary.failedTitle, outcomeText(summary.lastFailure));
    }
    return text;
}

void TTaskOutcomes::record(TTaskKind kind, uint64_t serial, const TLastOutcome& outcome)
{
    Record& r = m_records[static_cast<int>(kind)][serial];
    r.last = outcome;
    if (outcome.outcome == TSendOutcome::Failed || outcome.outcome == TSendOutcome::GaveUp) {
        r.lastFailure = outcome;
    }
}

const TTaskOutcomes::Record* TTaskOutcomes::find(TTaskKind kind, uint64_t serial) const
{
    const auto& records = m_records[static_cast<int>(kind)];
    const auto it = records.find(serial);
    return it == records.end() ? nullptr : &it->second;
}

TTaskStatus TTaskStatusView::status(TTaskKind kind, int index) const
{
    return status(kind, index, m_clock.now());
}

TStatusSummary TTaskStatusView::summary() const
{
    return summary(m_clock.now());
}

TTaskStatus TTaskStatusView::status(TTaskKind kind, int index, const SYSTEMTIME& now) const
{
    const auto elapsedSince = [&](const SYSTEMTIME& from) {
        return static_cast<int32_t>(m_log.SecondsFromSystemTime(now) - m_log.SecondsFromSystemTime(from));
    };
    TTaskStatus s;
    uint64_t serial = 0;
    if (kind == TTaskKind::Event) {
        if (index < 0 || index >= m_tables.EventTasks.count()) {
            return {};
        }
        const TEventTaskState& state = m_tables.EventTasks.state(index);
        serial = m_tables.EventTasks.serial(index);
        s = EventTaskStatus(
            m_tables.EventTasks.task(index), state, m_tables.SmtpSettings, elapsedSince(state.TriggerTime), now);
    } else {
        if (index < 0 || index >= m_tables.ReportTasks.count()) {
            return {};
        }
        const TReportTaskState& state = m_tables.ReportTasks.state(index);
        serial = m_tables.ReportTasks.serial(index);
        s = ReportTaskStatus(state, m_tables.SmtpSettings, elapsedSince(state.DueTime), now);
    }
    if (m_sending.active && m_sending.kind == kind && m_sending.serial == serial) {
        s.phase = TTaskPhase::Sending;
    }
    if (const auto* r = m_outcomes.find(kind, serial)) {
        s.last = r->last;
    }
    return s;
}

TStatusSummary TTaskStatusView::summary(const SYSTEMTIME& now) const
{
    TStatusSummary sum;
    const auto add = [&](TTaskKind kind, int count, auto serialOf, auto titleOf) {
        for (int i = 0; i < count; ++i) {
            const TTaskStatus s = status(kind, i, now);
            sum.waiting += s.phase == TTaskPhase::Waiting ? 1 : 0;
            sum.retrying += s.phase == TTaskPhase::Retrying ? 1 : 0;
            sum.sending += s.phase == TTaskPhase::Sending ? 1 : 0;
            const auto* r = m_outcomes.find(kind, serialOf(i));
            if (r != nullptr && r->lastFailure.outcome != TSendOutcome::None
                && (!sum.hasFailure || !earlier(r->lastFailure.at, sum.lastFailure.at))) {
                sum.hasFailure = true;
                sum.lastFailure = r->lastFailure;
                sum.failedTitle = titleOf(i);
            }
        }
    };
    add(
        TTaskKind::Event,
        m_tables.EventTasks.count(),
        [&](int i) { return m_tables.EventTasks.serial(i); },
        [&](int i) { return Gbk::fieldText(m_tables.EventTasks.task(i).Title); });
    add(
        TTaskKind::Report,
        m_tables.ReportTasks.count(),
        [&](int i) { return m_tables.ReportTasks.serial(i); },
        [&](int i) { return Gbk::fieldText(m_tables.ReportTasks.task(i).Title); });
    return sum;
}
