// SPDX-License-Identifier: MIT
#pragma once

// The engine side of the main window: the trigger and send timers, the trigger state, the debug log, the SMTP
// session and the composers. It never touches a widget; the window shows what it reports through signals.
//
// What runs when: the watch every 100 ms reads the ring when anything was written since the last read, so an
// event marks its tasks within about a tenth of a second; the trigger tick every 5 s runs the event step and
// the report step; the send pass runs when the earliest marked task's attempt is due (a single-shot timer set
// after every mark and every pass) and, as before, once a second.

#include "DebugFile.h"
#include "EventTrigger.h"
#include "LocalTime.h"
#include "QorsmailDef.h"
#include "SendDueTimer.h"
#include "ServiceNotifier.h"
#include "StationMails.h"
#include "TaskFileStore.h"
#include "TaskKind.h"
#include "TaskStatus.h"
#include "mlogcomm2.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class TSmtpSession;
class TTaskMarkStore;
struct TSmtpConnection;

// The fallback relay of the station's settings as the SMTP session takes it; none when no host is set.
std::optional<TSmtpConnection> FallbackConnection(const TMailTables& tables);

class TQorsmailMain : public QObject
{
    Q_OBJECT

public:
    TQorsmailMain(TMailTables& tables, TLogLibrary& log, const TClock& clock, QObject* parent = nullptr);
    ~TQorsmailMain() override;

    // Steps of the window's creation that belong to the engine, in order: the computer name, ReadPos/WritePos
    // from the ring, the event buffer, WorkDir, defaults + task file + settings file, the Debug/ folder, the
    // debug log with its separator and start lines, the pending marks of the last run taken back (OpenMarkStore),
    // EditAllowed. The timers are created but not started.
    void CreateEngine();
    // Starts reading the task file on a worker thread (WorkDir is asked of the library now); CreateEngine then
    // takes what it read instead of reading the file itself. For the station's start-up, which builds its window
    // meanwhile; without it CreateEngine reads the file in place.
    void BeginTaskFileRead();
    // Keeps the marks of both tables in this file from now on and takes back the ones it holds for unchanged
    // tasks (CreateEngine does this with WorkDir + "QorMail.marks").
    void OpenMarkStore(const QString& path);
    // Starts the timers (the window does this once it exists); from then on a send pass also runs whenever an
    // attempt falls due.
    void StartTimers();
    // Last step of creation, and after the SMTP setup dialog accepted a change.
    void ApplySmtpSettings();
    // The engine's part of the window's destruction: buffer and tables released, the stop line, the log closed.
    void DestroyEngine();

    // One trigger tick and one send pass (the timers' handlers; tests call them directly).
    void TriggerTimerTimer();
    void SendMailTimerTimer();
    // The watch between the regular ticks (ten times a second, while the trigger timer runs): it looks at the
    // ring's write state alone and runs the event step when anything was written since the last read. An event
    // on a quiet ring is so read within 100 ms, and a storm of 20,000 events a second (the ring full in a
    // quarter of a second) is read before the ring turns over.
    void EventWatchTimerTimer();
    // While the operator has stopped sending, the ticks rest on purpose and cannot feed the watchdog; a restart
    // would end the stop and drop the window's unsaved edits. This timer's WATCHDOG=1 then says the event loop
    // still turns; while sending runs it says nothing.
    void StoppedWatchdogTimerTimer();
    // The single-shot timer of the earliest due attempt: a send pass now, unless sending is stopped or a pass or
    // a test mail is running (whose end sets the timer again).
    void SendDueTimerTimer();

    // Puts a time-stamped line at the top of the log panel (through logLineAdded) and into the debug log.
    void WriteLogLine(const QString& text);

    // For code that changes a task table (the window's add, edit and delete commands): call this after the
    // change so that the marks follow it. index: the task that was replaced in place (its state zeroed);
    // -1: tasks of that kind were added or removed, so indexes may have moved. Emits taskStateChanged.
    void notifyTableEdited(TTaskKind kind, int index = -1);

    QTimer& TriggerTimer() { return m_triggerTimer; }
    QTimer& SendMailTimer() { return m_sendMailTimer; }
    QTimer& EventWatchTimer() { return m_eventWatchTimer; }

    bool EditAllowed() const { return m_editAllowed; }
    void setEditAllowed(bool allowed) { m_editAllowed = allowed; }

    // Replaces what tells the service manager of the station's state (tests use one of their own).
    void setServiceNotifier(std::unique_ptr<TServiceNotifier> notifier);
    // The status line the service manager shows: tasks, mails pending, the last mail sent.
    QString serviceStatus() const;
    TStationMails& stationMails() { return m_stationMails; }

    // Replaces the SMTP session (tests use a fake); the engine owns it.
    void setSmtpSession(std::unique_ptr<TSmtpSession> session);
    TSmtpSession& smtpSession() { return *m_session; }
    TTaskMarkStore& markStore() { return *m_markStore; }

    const QByteArray& ComputerName() const { return m_computerName; }
    TTriggerState& triggerState() { return m_trigger; }
    TDebugClass* DebugLog() { return m_debugLog.get(); }
    TMailTables& tables() { return m_tables; }
    // What was read from the task file at start-up (or written by the last save): the save compares with it.
    TTaskFileState& taskFileState() { return m_taskFile; }
    // What was read from the station's own settings file (or written by the last save).
    TStationFileState& stationFileState() { return m_stationFile; }
    TLogLibrary& logLibrary() { return m_log; }
    const TClock& clock() const { return m_clock; }

    // True while a send pass is running (an SMTP exchange may be waiting in a nested event loop).
    bool isSending() const { return m_sending; }

    // What each task is doing and how its last attempt ended; read-only, computed from the engine's own state.
    const TTaskStatusView& taskStatus() const { return m_statusView; }

    enum class TTestMailResult
    {
        Sent,
        Failed, // logged with the library's error text
        NoReportFile, // a report task whose names find no file now: nothing sent
        Busy, // another exchange is running: nothing sent
        NoTask, // no task at that index
    };
    // Sends task `index`'s mail now as a test, through the same session as real mails: an event task with a line
    // saying it is a test and its trigger conditions, a report task with the files its names find now. Logs a
    // test line; never touches the task's mark, retry count or last outcome. The window stays responsive while
    // it runs; the send loop waits for it.
    TTestMailResult SendTestMail(TTaskKind kind, int index);
    bool isSendingTestMail() const { return m_testMailRunning; }

signals:
    // A panel line: date-time text, two blanks, the text.
    void logLineAdded(const QString& panelLine);

    // The state of task `index` of that table changed: marked by a trigger, an attempt made, cleared after
    // success or giving up, or zeroed by an edit. index -1: the table itself changed (tasks added or removed),
    // any state of that kind may have changed or moved. Emitted on the main thread after the change is made;
    // this is the one notification of state changes (the mark file follows it). Slots may read the tables but
    // must not change them: the send loop emits this in the middle of its walk.
    void taskStateChanged(TTaskKind kind, int index);

    // Mails were given up in a send pass: text names their tasks (the window shows it in the status bar and the
    // tray). Not for the station's own mails.
    void mailsGivenUp(const QString& text);

private:
    // WATCHDOG=1 (with the status) from the trigger tick, when a send pass came round since the last one or one
    // (or a test mail) is waiting in an exchange: a pass stuck elsewhere lets the watchdog run out.
    void feedWatchdog();
    int pendingTasks() const;
    // The event step with what follows every read: the pace of the next and the overrun line.
    void runEventRead(const SYSTEMTIME& now);
    // One log line when the ring's condition changes (a fault begins or ends) or another ring is read.
    void reportRing(const TRingCheck& check);
    // Around a trigger step: which tasks were idle before it, then taskStateChanged for each one it marked.
    template <class Table>
    void noteIdleStates(const Table& table);
    template <class Table>
    void reportNewMarks(const Table& table, TTaskKind kind);
    // The due timer follows every change of state; within a pass only the pass's end looks at them all.
    void followTaskState(TTaskKind kind, int index);
    void scheduleSends(bool passEnded = false);
    bool sendsOnDue() const;

    TMailTables& m_tables;
    TLogLibrary& m_log;
    const TClock& m_clock;
    TTriggerState m_trigger;
    QByteArray m_computerName;
    bool m_editAllowed = true;
    bool m_sending = false;
    bool m_testMailRunning = false;
    TSendingTask m_sendingTask;
    TTaskOutcomes m_outcomes;
    TTaskStatusView m_statusView;
    std::unique_ptr<TDebugClass> m_debugLog;
    std::unique_ptr<TSmtpSession> m_session;
    QTimer m_triggerTimer;
    QTimer m_sendMailTimer;
    QTimer m_eventWatchTimer;
    QTimer m_stoppedWatchdogTimer;
    TSendDueTimer m_sendDue;
    bool m_sendOnDue = false; // from StartTimers to DestroyEngine
    bool m_stateChangedInPass = false;
    std::unique_ptr<TTaskMarkStore> m_markStore;
    TTaskFileState m_taskFile;
    TStationFileState m_stationFile;
    std::unique_ptr<TTaskFileReadAhead> m_taskFileReadAhead;
    std::vector<int32_t> m_statesBefore; // the trigger's scratch: which tasks were idle before the tick
    TRingStatus m_ringLogged = TRingStatus::Ok; // the ring's condition as the log last told it
    TStationMails m_stationMails;
    std::unique_ptr<TServiceNotifier> m_notifier;
    bool m_watchdog = false; // the service manager expects WATCHDOG=1
    uint64_t m_passesSinceWatchdog = 0;
    std::optional<SYSTEMTIME> m_lastMailSent;
};
