// SPDX-License-Identifier: MIT
#include "QorsmailMain.h"

#include "EngineLog.h"
#include "GbkCodec.h"
#include "MLEngine.h"
#include "MailComposer.h"
#include "NormalFunction.h"
#include "QorsmailFunc.h"
#include "SmtpIni.h"
#include "SmtpSession.h"
#include "TaskMarkStore.h"
#include "TaskTexts.h"

#include <QDir>
#include <QScopeGuard>
#include <QSysInfo>
#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <unordered_set>

namespace {

// The watch's pace: at 20,000 events a second the ring fills in a quarter of a second.
constexpr int EventWatchIntervalMs = 100;

// Puts a timer back on and clears the sending flag however a pass ends, also when an error escapes it.
class TPassGuard
{
public:
    TPassGuard(QTimer& timer, bool* flag)
        : m_timer(timer)
        , m_flag(flag)
    {
        m_timer.stop();
        if (m_flag != nullptr) {
            *m_flag = true;
        }
    }
    ~TPassGuard()
    {
        if (m_flag != nullptr) {
            *m_flag = false;
        }
        m_timer.start();
    }
    TPassGuard(const TPassGuard&) = delete;
    TPassGuard& operator=(const TPassGuard&) = delete;

private:
    QTimer& m_timer;
    bool* m_flag;
};

// The five lines of the send loop, each a format text around the title whose default joins verb, opening mark,
// title, closing mark and outcome as the station always wrote them.
enum class TTaskLine
{
    EventSent,
    EventGivenUp,
    ReportSent,
    ReportNoFile,
    ReportGivenUp
};

QString taskLine(TTaskLine line, const char (&title)[128])
{
    using namespace LangText;
    struct TParts
    {
        const JoinedEntry* format;
        const Entry* verb;
        const char* closing;
        const Entry* outcome;
    };
    static const TParts parts[] = {{&Format_Str::Str0, &QorsmailMain_Str::Str24, " \"", &QorsmailMain_Str::Str25},
        {&Format_Str::Str1, &QorsmailMain_Str::Str24, "\" ", &QorsmailMain_Str::Str26},
        {&Format_Str::Str2, &QorsmailMain_Str::Str27, " \" ", &QorsmailMain_Str::Str25},
        {&Format_Str::Str3, &QorsmailMain_Str::Str27, "\"", &QorsmailMain_Str::Str28},
        {&Format_Str::Str4, &QorsmailMain_Str::Str27, "\" ", &QorsmailMain_Str::Str26}};
    const TParts& p = parts[static_cast<int>(line)];
    const QString joined =
        GetLangText(*p.verb) + QStringLiteral("\" %1") + QString::fromLatin1(p.closing) + GetLangText(*p.outcome);
    return FillText(GetLangText(*p.format, joined), {Gbk::fieldText(title)});
}

// Sets a flag for the length of a scope, also when an error escapes it.
class TFlagGuard
{
public:
    explicit TFlagGuard(bool& flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~TFlagGuard() { m_flag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& m_flag;
};

} // namespace

std::optional<TSmtpConnection> FallbackConnection(const TMailTables& tables)
{
    const TRelaySettings& f = tables.Station.fallback;
    if (!f.isSet()) {
        return std::nullopt;
    }
    TSmtpConnection c;
    c.host = f.host.toLatin1(); // the reader and the dialog take ASCII host names only
    c.port = f.effectivePort();
    c.tls = f.tls == TStationTls::Implicit ? TSmtpTls::Implicit
                                           : (f.tls == TStationTls::StartTls ? TSmtpTls::StartTls : TSmtpTls::None);
    c.login = !f.user.isEmpty();
    c.user = f.user.toUtf8();
    c.password = f.password.toUtf8();
    c.caFile = tables.CAFile; // the further trusted certificates serve both relays
    return c;
}

TQorsmailMain::TQorsmailMain(TMailTables& tables, TLogLibrary& log, const TClock& clock, QObject* parent)
    : QObject(parent)
    , m_tables(tables)
    , m_log(log)
    , m_clock(clock)
    , m_statusView(tables, log, clock, m_outcomes, m_sendingTask)
    , m_session(std::make_unique<TCurlSmtpSession>())
    , m_sendDue(tables, log, clock)
    , m_markStore(
          std::make_unique<TTaskMarkStore>(m_tables, m_log, [this](const QString& text) { WriteLogLine(text); }))
    , m_stationMails(tables, clock)
    , m_notifier(std::make_unique<TSystemdNotifier>())
{
    connect(this, &TQorsmailMain::taskStateChanged, m_markStore.get(), &TTaskMarkStore::followTaskState);
    connect(this, &TQorsmailMain::taskStateChanged, this, &TQorsmailMain::followTaskState);
    m_markStore->setSpans(&m_trigger.Spans);
    m_markStore->setClock(&m_clock);
    m_triggerTimer.setInterval(5000);
    m_sendMailTimer.setInterval(1000);
    connect(&m_triggerTimer, &QTimer::timeout, this, &TQorsmailMain::TriggerTimerTimer);
    connect(&m_sendMailTimer, &QTimer::timeout, this, &TQorsmailMain::SendMailTimerTimer);
    // Restarted after each watch, so watches never pile up; precise, since at 20,000 events a second a late
    // watch is what lets the ring turn over.
    m_eventWatchTimer.setInterval(EventWatchIntervalMs);
    m_eventWatchTimer.setSingleShot(true);
    m_eventWatchTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_eventWatchTimer, &QTimer::timeout, this, &TQorsmailMain::EventWatchTimerTimer);
    connect(&m_sendDue.timer(), &QTimer::timeout, this, &TQorsmailMain::SendDueTimerTimer);
    connect(&m_stoppedWatchdogTimer, &QTimer::timeout, this, &TQorsmailMain::StoppedWatchdogTimerTimer);
}

TQorsmailMain::~TQorsmailMain() = default;

void TQorsmailMain::CreateEngine()
{
    QByteArray name = Gbk::encode(QSysInfo::machineHostName());
    name.truncate(static_cast<qsizetype>(Gbk::fitLength(name, 127)));
    m_computerName = name;

    StartEventTrigger(m_trigger, m_log);
    if (m_trigger.EventBuffer.size() != static_cast<size_t>(EventRingSize)) {
        m_trigger.EventBuffer.resize(static_cast<size_t>(EventRingSize));
    }

    m_log.GetWorkDir(m_tables.WorkDir);
    const bool readAhead = m_taskFileReadAhead && m_taskFileReadAhead->takeInto(m_tables, m_taskFile);
    m_taskFileReadAhead.reset();
    if (!readAhead) {
        SetTaskDefaults(m_tables);
        m_taskFile = LoadTaskFileWithState(m_tables);
    }
    QStringList stationProblems;
    m_stationFile = LoadStationSettings(m_tables, stationProblems);
    LoadSmtpIni(m_tables);
    // What the settings file made of the SMTP record: a save writes the task file's own value where this holds.
    m_taskFile.inForce = m_tables.SmtpSettings;

    const QString workDir = m_tables.workDirPath();
    if (!workDir.isEmpty()) {
        QDir().mkpath(workDir + QStringLiteral("Debug/"));
    }
    m_debugLog = std::make_unique<TDebugClass>(
        workDir.isEmpty() ? QString() : workDir + QStringLiteral("Debug/") + m_tables.LogFileName, &m_clock);
    m_debugLog->WriteLine(QString(54, QLatin1Char('-')));
    m_debugLog->WriteTimed(GetLangText(LangText::QorsmailMain_Str::Str0));
    for (const QString& problem : stationProblems) {
        WriteLogLine(problem);
    }
    if (!workDir.isEmpty()) {
        OpenMarkStore(workDir + QStringLiteral("QorMail.marks"));
    }

    m_editAllowed = m_tables.EventTaskCount() == 0 && m_tables.ReportTaskCount() == 0;
    // Harmless when the window applies them again as the last step of its creation.
    ApplySmtpSettings();
}

void TQorsmailMain::BeginTaskFileRead()
{
    TMailTables seed = m_tables;
    m_log.GetWorkDir(seed.WorkDir);
    m_taskFileReadAhead = std::make_unique<TTaskFileReadAhead>(seed);
}

void TQorsmailMain::OpenMarkStore(const QString& path)
{
    m_markStore->Open(path);
}

void TQorsmailMain::notifyTableEdited(TTaskKind kind, int index)
{
    emit taskStateChanged(kind, index);
}

void TQorsmailMain::StartTimers()
{
    m_triggerTimer.start();
    m_sendMailTimer.start();
    m_eventWatchTimer.start();
    m_sendOnDue = true;
    scheduleSends(); // marks taken back from the last run may be due already
    m_stationMails.start();
    // The tables are read and the ring is open, or its fault is known: the service is up.
    const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(m_notifier->watchdogPeriod());
    m_watchdog = period.count() > 0;
    if (m_watchdog) {
        // Well inside the period, and no more often than the regular tick.
        m_stoppedWatchdogTimer.start(static_cast<int>(std::clamp<int64_t>(period.count() / 3, 1, 5000)));
    }
    m_notifier->notify("READY=1\nSTATUS=" + serviceStatus().toUtf8());
}

void TQorsmailMain::setServiceNotifier(std::unique_ptr<TServiceNotifier> notifier)
{
    if (notifier) {
        m_notifier = std::move(notifier);
    }
}

int TQorsmailMain::pendingTasks() const
{
    int pending = 0;
    for (int i = 0; i < m_tables.EventTasks.count(); ++i) {
        pending += m_tables.EventTasks.state(i).State != 0 ? 1 : 0;
    }
    for (int j = 0; j < m_tables.ReportTasks.count(); ++j) {
        pending += m_tables.ReportTasks.state(j).State != 0 ? 1 : 0;
    }
    return pending;
}

QString TQorsmailMain::serviceStatus() const
{
    using namespace LangText::Service_Str;
    const QString last = m_lastMailSent ? DateTimeText(*m_lastMailSent) : GetLangText(Str1);
    return FillText(GetLangText(Str0),
        {QString::number(m_tables.EventTaskCount() + m_tables.ReportTaskCount()),
            QString::number(pendingTasks() + m_stationMails.queued()),
            last});
}

void TQorsmailMain::feedWatchdog()
{
    if (!m_watchdog || (m_passesSinceWatchdog == 0 && !m_sending && !m_testMailRunning)) {
        return;
    }
    m_passesSinceWatchdog = 0;
    m_notifier->notify("WATCHDOG=1\nSTATUS=" + serviceStatus().toUtf8());
}

void TQorsmailMain::StoppedWatchdogTimerTimer()
{
    // Called from the event loop, so never inside a tick: a trigger timer at rest means sending is stopped.
    if (!m_watchdog || m_triggerTimer.isActive()) {
        return;
    }
    m_notifier->notify("WATCHDOG=1\nSTATUS=" + serviceStatus().toUtf8());
}

void TQorsmailMain::ApplySmtpSettings()
{
    const TSmtpSettings& s = m_tables.SmtpSettings;
    TSmtpConnection c;
    c.host = Gbk::fieldBytes(s.smtpaddr);
    c.port = s.smtpport;
    c.tls = m_tables.UseSSL != 0 ? TSmtpTls::Implicit : (m_tables.StartTLS != 0 ? TSmtpTls::StartTls : TSmtpTls::None);
    c.login = s.NeedAuth != 0;
    c.user = Gbk::fieldBytes(s.Username).trimmed();
    c.password = Gbk::fieldBytes(s.Password).trimmed();
    c.caFile = m_tables.CAFile;
    m_session->configure(c);
    m_session->configureFallback(FallbackConnection(m_tables));
}

void TQorsmailMain::DestroyEngine()
{
    m_notifier->notify("STOPPING=1");
    m_triggerTimer.stop();
    m_sendMailTimer.stop();
    m_eventWatchTimer.stop();
    m_stoppedWatchdogTimer.stop();
    m_sendOnDue = false;
    m_sendDue.stop();
    m_trigger.EventBuffer.clear();
    m_trigger.EventBuffer.shrink_to_fit();
    // The marks are on disk before the tables go: releasing them must not read as "every mark cleared".
    m_markStore->Close();
    FreeTaskTables(m_tables);
    if (m_debugLog) {
        m_debugLog->WriteTimed(GetLangText(LangText::QorsmailMain_Str::Str2));
        m_debugLog.reset();
    }
}

template <class Table>
void TQorsmailMain::noteIdleStates(const Table& table)
{
    m_statesBefore.resize(static_cast<size_t>(table.count()));
    for (int i = 0; i < table.count(); ++i) {
        m_statesBefore[static_cast<size_t>(i)] = table.state(i).State;
    }
}

template <class Table>
void TQorsmailMain::reportNewMarks(const Table& table, TTaskKind kind)
{
    // The steps mark only idle tasks, so the ones that were idle and are not now are the new marks.
    const int n = std::min(table.count(), static_cast<int>(m_statesBefore.size()));
    for (int i = 0; i < n; ++i) {
        if (m_statesBefore[static_cast<size_t>(i)] == 0 && table.state(i).State != 0) {
            emit taskStateChanged(kind, i);
        }
    }
}

void TQorsmailMain::TriggerTimerTimer()
{
    TPassGuard guard(m_triggerTimer, nullptr);
    const SYSTEMTIME now = m_clock.now();
    runEventRead(now);
    noteIdleStates(m_tables.ReportTasks);
    RunReportStep(m_tables, m_log, m_clock, now);
    reportNewMarks(m_tables.ReportTasks, TTaskKind::Report);
    if (!m_eventWatchTimer.isActive()) {
        m_eventWatchTimer.start(); // after a restore of sending, the regular tick wakes the watch again
    }
    m_stationMails.tick(Gbk::decode(m_computerName), pendingTasks());
    feedWatchdog();
}

void TQorsmailMain::EventWatchTimerTimer()
{
    // Sending stopped: the watch rests until the regular tick runs again.
    if (!m_triggerTimer.isActive()) {
        return;
    }
    uint64_t backlog = 0;
    if (EventBacklog(m_trigger, m_log, backlog) && backlog > 0) {
        runEventRead(m_clock.now());
    }
    m_eventWatchTimer.start();
}

void TQorsmailMain::SendDueTimerTimer()
{
    // The send timer is off while a pass runs and after the stop command; neither sets this timer again here,
    // so a due attempt that cannot be made now never fires it over and over.
    if (m_sendMailTimer.isActive()) {
        SendMailTimerTimer();
    }
}

bool TQorsmailMain::sendsOnDue() const
{
    return m_sendOnDue && m_sendMailTimer.isActive() && !m_sending && !m_testMailRunning;
}

void TQorsmailMain::followTaskState(TTaskKind kind, int index)
{
    if (m_sending) {
        m_stateChangedInPass = true;
        return;
    }
    if (!sendsOnDue()) {
        return;
    }
    if (index < 0) {
        scheduleSends();
    } else {
        m_sendDue.follow(kind, index);
    }
}

void TQorsmailMain::scheduleSends(bool passEnded)
{
    if (sendsOnDue()) {
        m_sendDue.scheduleAll(passEnded, m_stateChangedInPass);
    }
    m_stateChangedInPass = false;
}

void TQorsmailMain::runEventRead(const SYSTEMTIME& now)
{
    noteIdleStates(m_tables.EventTasks);
    const TEventStepResult read = RunEventStep(m_tables, m_trigger, m_log, now);
    reportNewMarks(m_tables.EventTasks, TTaskKind::Event);
    reportRing(read.Ring);
    m_stationMails.counters().eventsRead += read.Fresh > read.Lost ? read.Fresh - read.Lost : 0;
    qCInfo(lcEngine).noquote() << QStringLiteral("qormail: events read %1 of %2 new, %3 lost")
                                      .arg(read.Examined)
                                      .arg(read.Fresh)
                                      .arg(read.Lost);
    if (read.Lost > 0) {
        WriteLogLine(GetCountText(LangText::EventRing_Str::Str0, read.Lost).arg(read.Lost));
    }
}

void TQorsmailMain::reportRing(const TRingCheck& check)
{
    using namespace LangText::RingWatch_Str;
    const QString path = m_tables.workDirPath() + QStringLiteral("EventLog/events.ring");
    if (check.Drained > 0) {
        WriteLogLine(GetLangText(LangText::RingSwitch_Str::Str1).arg(path).arg(check.Drained));
    }
    if (check.DrainLost > 0) {
        WriteLogLine(GetLangText(LangText::EventRing_Str::Str0).arg(check.DrainLost));
    }
    if (check.NewRing && (check.Status == TRingStatus::Ok || check.Status == TRingStatus::Held)) {
        WriteLogLine(GetLangText(check.Copy ? LangText::RingSwitch_Str::Str2 : Str3).arg(path));
        m_ringLogged = TRingStatus::Ok;
    }
    if (check.Status == m_ringLogged) {
        return;
    }
    m_ringLogged = check.Status;
    if (check.Status != TRingStatus::Ok) {
        m_stationMails.counters().ringFaults += 1;
    }
    switch (check.Status) {
    case TRingStatus::Ok:
        WriteLogLine(GetLangText(Str4).arg(path));
        break;
    case TRingStatus::Held:
        WriteLogLine(GetLangText(Str0).arg(path));
        break;
    case TRingStatus::Missing:
        WriteLogLine(GetLangText(Str1).arg(path));
        break;
    case TRingStatus::Damaged:
        WriteLogLine(GetLangText(Str2).arg(path));
        break;
    case TRingStatus::Unreadable:
        WriteLogLine(GetLangText(LangText::RingSwitch_Str::Str0).arg(path));
        break;
    }
}

void TQorsmailMain::SendMailTimerTimer()
{
    if (m_sending) {
        return; // a pass is waiting in an exchange further up the stack
    }
    if (m_testMailRunning) {
        return; // one exchange at a time: the next tick sends what is due
    }
    m_stateChangedInPass = false;
    // Before the pass guard, so it runs once the send timer is on again; not when an error escapes the pass.
    const auto scheduleNext = qScopeGuard([this, errors = std::uncaught_exceptions()] {
        if (std::uncaught_exceptions() == errors) {
            scheduleSends(true);
        }
    });
    TPassGuard guard(m_sendMailTimer, &m_sending);
    // A mail due now must not read a ring that is gone: its marks learn it first, and the events its file still
    // held are read before.
    noteIdleStates(m_tables.EventTasks);
    reportRing(CheckRing(m_tables, m_trigger, m_log, m_clock.now()));
    reportNewMarks(m_tables.EventTasks, TTaskKind::Event);
    TComposeContext context{
        m_tables, m_log, m_clock, *m_session, m_computerName, [this](const QString& text) { WriteLogLine(text); }, {}};
    m_sendingTask = {};
    m_outcomes.prune(TTaskKind::Event, m_tables.EventTasks);
    m_outcomes.prune(TTaskKind::Report, m_tables.ReportTasks);
    const auto record = [this](TTaskKind kind, uint64_t serial, TSendOutcome outcome, const QString& error) {
        m_outcomes.record(kind, serial, {outcome, m_clock.now(), error});
    };
    const auto failureText = [&context] {
        return context.lastError.isEmpty() ? GetLangText(LangText::TaskStatus_Str::Str10) : context.lastError;
    };
    TStationCounters& counters = m_stationMails.counters();
    QList<TGivenUpMail> givenUp; // one notice for all of this pass
    const auto noteSent = [this, &counters] {
        counters.mailsSent += 1;
        m_lastMailSent = m_clock.now();
    };
    const auto noteFailed = [&](bool gaveUp, const auto& task) {
        if (!gaveUp) {
            counters.retried += 1;
            return;
        }
        counters.givenUp += 1;
        QStringList recipients;
        for (const TMailRecipient& r : TaskRecipients(task.Receivers, task.ReceiverCount)) {
            recipients << Gbk::decode(r.addr).trimmed();
        }
        givenUp.append({Gbk::fieldText(task.Title), recipients, failureText()});
    };

    // Tables may change while an exchange waits in the nested event loop (a task deleted, edited or added):
    // after each exchange the task is found again by its serial, and the walk goes on over the tasks not yet
    // visited in this pass.
    std::unordered_set<uint64_t> visited;
    visited.reserve(static_cast<size_t>(std::max(m_tables.EventTasks.count(), m_tables.ReportTasks.count())));
    // The clock is read again after each exchange, not for each task: a read looks the time zone up anew, and a
    // walk over thousands of marked tasks would spend its time there.
    SYSTEMTIME now = m_clock.now();
    for (int i = 0; i < m_tables.EventTasks.count(); ++i) {
        const uint64_t serial = m_tables.EventTasks.serial(i);
        if (!visited.insert(serial).second) {
            continue;
        }
        TEventTaskState& state = m_tables.EventTasks.state(i);
        if (state.State == 0) {
            continue;
        }
        const TEventMailTask& task = m_tables.EventTasks.task(i);
        const auto elapsed =
            static_cast<int32_t>(m_log.SecondsFromSystemTime(now) - m_log.SecondsFromSystemTime(state.TriggerTime));
        // The due timer computes its times with the same function, so it fires when this finds the task due.
        const std::optional<TAttemptDue> due = EventAttemptDue(task, state, m_tables.SmtpSettings);
        if (!due || elapsed < due->after) {
            continue;
        }
        if (state.State == 1) {
            state.State = 2;
            int32_t pos = state.EndPos;
            uint64_t written = 0;
            if (m_log.GetEventWriteState(pos, written)) {
                state.EndPos = pos;
                m_trigger.Spans.setEnd(serial, written);
            } else if (m_log.GetEventWritePos(pos)) {
                state.EndPos = pos;
                m_trigger.Spans.forgetEnd(serial); // its end no longer matches EndPos
            }
            emit taskStateChanged(TTaskKind::Event, i);
        }

        // Copies: the table's storage may move while the exchange runs.
        const TEventMailTask taskCopy = task;
        const TEventTaskState stateCopy = state;
        const TMarkSpan* found = m_trigger.Spans.find(serial);
        const std::optional<TMarkSpan> span = found ? std::optional<TMarkSpan>(*found) : std::nullopt;
        const QByteArray mailId = m_markStore->mailId(TTaskKind::Event, i);
        m_sendingTask = {true, TTaskKind::Event, serial};
        context.lastError.clear(); // a failure before any exchange must not carry another task's error
        const bool sent = SendEventMail(context, taskCopy, stateCopy, span ? &*span : nullptr, mailId);
        m_sendingTask = {};
        now = m_clock.now();

        const int k = m_tables.EventTasks.indexOfSerial(serial);
        if (k < 0) {
            // Deleted or replaced meanwhile: nothing left to mark; a mail that went out is still reported.
            if (sent) {
                noteSent();
                WriteLogLine(taskLine(TTaskLine::EventSent, taskCopy.Title));
            }
            i = -1;
            continue;
        }
        TEventTaskState& after = m_tables.EventTasks.state(k);
        if (sent) {
            noteSent();
            record(TTaskKind::Event, serial, TSendOutcome::Sent, {});
            WriteLogLine(taskLine(TTaskLine::EventSent, taskCopy.Title));
            after = TEventTaskState{};
            m_trigger.Spans.erase(serial);
        } else {
            after.RetryCount += 1;
            const bool givenUp = after.RetryCount >= m_tables.SmtpSettings.MaxSendTries;
            record(TTaskKind::Event, serial, givenUp ? TSendOutcome::GaveUp : TSendOutcome::Failed, failureText());
            noteFailed(givenUp, taskCopy);
            if (givenUp) {
                WriteLogLine(taskLine(TTaskLine::EventGivenUp, taskCopy.Title));
                after = TEventTaskState{};
                m_trigger.Spans.erase(serial);
            }
        }
        emit taskStateChanged(TTaskKind::Event, k);
        i = k;
    }

    visited.clear();
    for (int j = 0; j < m_tables.ReportTasks.count(); ++j) {
        const uint64_t serial = m_tables.ReportTasks.serial(j);
        if (!visited.insert(serial).second) {
            continue;
        }
        TReportTaskState& state = m_tables.ReportTasks.state(j);
        if (state.State == 0) {
            continue;
        }
        const auto elapsed =
            static_cast<int32_t>(m_log.SecondsFromSystemTime(now) - m_log.SecondsFromSystemTime(state.DueTime));
        const std::optional<TAttemptDue> due = ReportAttemptDue(state, m_tables.SmtpSettings);
        if (!due || elapsed < due->after) {
            continue;
        }
        const TReportMailTask taskCopy = m_tables.ReportTasks.task(j);
        const QByteArray mailId = m_markStore->mailId(TTaskKind::Report, j);
        m_sendingTask = {true, TTaskKind::Report, serial};
        context.lastError.clear();
        TReportLookup lookup;
        const bool lookFor = m_tables.Station.notices.missingReport;
        if (lookFor) {
            lookup.previousDue = PreviousReportDue(taskCopy, state.DueTime, m_log);
        }
        const int outcome = SendReportMail(context, taskCopy, mailId, lookFor ? &lookup : nullptr);
        m_sendingTask = {};
        now = m_clock.now();

        const int k = m_tables.ReportTasks.indexOfSerial(serial);
        if (k < 0) {
            if (outcome == 1) {
                noteSent();
                WriteLogLine(taskLine(TTaskLine::ReportSent, taskCopy.Title));
            }
            j = -1;
            continue;
        }
        TReportTaskState& after = m_tables.ReportTasks.state(k);
        if (outcome == 1) {
            noteSent();
            record(TTaskKind::Report, serial, TSendOutcome::Sent, {});
            WriteLogLine(taskLine(TTaskLine::ReportSent, taskCopy.Title));
            after.State = 0;
            after.RetryCount = 0;
        } else if (outcome == 0) {
            record(TTaskKind::Report, serial, TSendOutcome::NoReportFile, {});
            WriteLogLine(taskLine(TTaskLine::ReportNoFile, taskCopy.Title));
            m_stationMails.queueMissingReport(taskCopy, lookup.missing);
            after.State = 0;
            after.RetryCount = 0;
        } else {
            after.RetryCount += 1;
            const bool givenUp = after.RetryCount >= m_tables.SmtpSettings.MaxSendTries;
            record(TTaskKind::Report, serial, givenUp ? TSendOutcome::GaveUp : TSendOutcome::Failed, failureText());
            noteFailed(givenUp, taskCopy);
            if (givenUp) {
                WriteLogLine(taskLine(TTaskLine::ReportGivenUp, taskCopy.Title));
                after.State = 0;
                after.RetryCount = 0;
            }
        }
        emit taskStateChanged(TTaskKind::Report, k);
        j = k;
    }

    if (!givenUp.isEmpty()) {
        QStringList titles;
        for (const TGivenUpMail& mail : givenUp) {
            titles << mail.title;
        }
        emit mailsGivenUp(GetLangText(LangText::Notice_Str::Str10).arg(titles.join(QStringLiteral(", "))));
        m_stationMails.queueGiveUpNotice(givenUp, Gbk::decode(m_computerName));
    }
    m_stationMails.sendDue(context);
    m_passesSinceWatchdog += 1;
}

TQorsmailMain::TTestMailResult TQorsmailMain::SendTestMail(TTaskKind kind, int index)
{
    using namespace LangText::TestMail_Str;
    const bool isEvent = kind == TTaskKind::Event;
    if (index < 0 || index >= (isEvent ? m_tables.EventTasks.count() : m_tables.ReportTasks.count())) {
        return TTestMailResult::NoTask;
    }
    // Copies: the tables may change while the exchange waits in the nested event loop.
    const TEventMailTask eventTask = isEvent ? m_tables.EventTasks.task(index) : TEventMailTask{};
    const TReportMailTask reportTask = isEvent ? TReportMailTask{} : m_tables.ReportTasks.task(index);
    const QString title = Gbk::fieldText(isEvent ? eventTask.Title : reportTask.Title);
    if (m_sending || m_testMailRunning) {
        WriteLogLine(GetLangText(Str7).arg(title));
        return TTestMailResult::Busy;
    }
    // Before the flag guard: a pass that fell due meanwhile is timed again once the test mail is done.
    const auto scheduleNext = qScopeGuard([this] { scheduleSends(); });
    TFlagGuard running(m_testMailRunning);
    TComposeContext context{
        m_tables, m_log, m_clock, *m_session, m_computerName, [this](const QString& text) { WriteLogLine(text); }, {}};
    QStringList lines{GetLangText(Str1).arg(title)};
    int outcome = -1;
    if (isEvent) {
        // The conditions as the detail panel shows them; a task that takes every event says so.
        const QStringList conditions = EventTriggerLines(eventTask);
        lines << GetLangText(Str2);
        lines << (conditions.isEmpty() ? QStringList{GetLangText(Str3)} : conditions);
        outcome = ::SendTestMail(context, eventTask, lines);
    } else {
        lines << GetLangText(Str8);
        outcome = ::SendTestMail(context, reportTask, lines);
    }
    if (outcome == 1) {
        WriteLogLine(GetLangText(Str4).arg(title));
        return TTestMailResult::Sent;
    }
    if (outcome == 0) {
        WriteLogLine(GetLangText(Str6).arg(title));
        return TTestMailResult::NoReportFile;
    }
    WriteLogLine(GetLangText(Str5).arg(title));
    return TTestMailResult::Failed;
}

void TQorsmailMain::WriteLogLine(const QString& text)
{
    // Titles and other stored texts may hold line breaks (a task file can carry them): one entry, one line.
    const QString line = EscapeControls(text);
    emit logLineAdded(DateTimeText(m_clock.now()) + QStringLiteral("  ") + line);
    if (m_debugLog) {
        m_debugLog->WriteTimed(line);
    }
}

void TQorsmailMain::setSmtpSession(std::unique_ptr<TSmtpSession> session)
{
    if (session) {
        const TSmtpConnection connection = m_session->connection();
        const std::optional<TSmtpConnection> fallback = m_session->fallback();
        m_session = std::move(session);
        m_session->configure(connection);
        m_session->configureFallback(fallback);
    }
}
