// SPDX-License-Identifier: MIT
#pragma once

// Keeps the pending marks of both task tables on disk, so a mail that waits out its wait or is being retried
// survives a crash, a kill or a power loss. It follows the engine's taskStateChanged notification: each change
// updates its copy of the marks and, once the current event has been handled, the whole set is written as a
// new file that is flushed and renamed over the old one by a writer thread, never on the timer ticks.
//
// At start-up, after the tables are loaded, Restore() takes the marks back for the tasks that are still the
// same (same kind, index and record bytes) and whose first event the ring still holds (all of them when the
// ring cannot be read at all); each resumed or dropped mark gets one log line. A file that cannot be read or is damaged
// is renamed aside and logged; the station then starts without marks.

#include "EventBacklog.h"
#include "LocalTime.h"
#include "QorsmailDef.h"
#include "TaskKind.h"
#include "TaskMarkFile.h"
#include "mlogcomm2.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

class TTaskMarkStore : public QObject
{
    Q_OBJECT

public:
    TTaskMarkStore(TMailTables& tables,
        TLogLibrary& log,
        std::function<void(const QString&)> writeLogLine,
        QObject* parent = nullptr);
    ~TTaskMarkStore() override;
    TTaskMarkStore(const TTaskMarkStore&) = delete;
    TTaskMarkStore& operator=(const TTaskMarkStore&) = delete;

    // Where the event numbers of the marks are kept (the trigger's spans): each mark's numbers go into the file,
    // and a resumed mark gets its span back. And the clock that tells a trigger time from the future.
    void setSpans(TMarkSpans* spans) { m_spans = spans; }
    void setClock(const TClock* clock) { m_clock = clock; }

    // Starts keeping the marks in this file (until then they are only followed in memory, for their mail
    // identities) and takes back the ones it holds.
    void Open(const QString& path);
    QString path() const { return m_path; }
    // Writes what is pending and stops keeping the file (before the tables are released at shutdown).
    void Close();

    // Follows one change of task `index` of that kind; -1: any number of tasks of that kind were added,
    // removed or replaced.
    void followTaskState(TTaskKind kind, int index);

    // The identity of the mail of the mark of this task (16 bytes, the same for every attempt and after a
    // restart); empty when the task is idle.
    QByteArray mailId(TTaskKind kind, int index);

    // Writes the current marks now and waits until the file is on disk. False when it could not be written.
    bool flush();

    // Nanoseconds the last file write took (write, flush to disk, rename, directory flush).
    int64_t lastWriteNanoseconds() const { return m_lastWriteNs.load(); }
    // How many times the marks were handed to the writer so far; each time holds every change made before it.
    uint64_t writesQueued();

private:
    struct TMark
    {
        uint64_t serial = 0;
        TaskMarkFile::Entry entry;
    };
    using TMarks = std::unordered_map<uint64_t, TMark>; // by the task's serial

    void Restore();
    int taskCount(TTaskKind kind) const;
    TaskMarkFile::Fingerprint fingerprintAt(TTaskKind kind, int index) const;
    bool hasTitle(TTaskKind kind, const QByteArray& title) const;
    void adjustForResume(TaskMarkFile::Entry& e, const QString& kind, const QString& title) const;
    void restoreSpan(uint64_t serial, const TaskMarkFile::Entry& e);
    void followOne(TTaskKind kind, int index);
    void followAll(TTaskKind kind);
    TMarks& marks(TTaskKind kind) { return kind == TTaskKind::Event ? m_eventMarks : m_reportMarks; }
    void changed();
    void queueWrite();
    void writerLoop();
    bool writeFile(const QByteArray& bytes, QString& error) const;
    void reportWriteResult(bool ok, const QString& error);
    void setAside(const QString& reason);

    TMailTables& m_tables;
    TLogLibrary& m_log;
    std::function<void(const QString&)> m_writeLogLine;
    TMarkSpans* m_spans = nullptr;
    const TClock* m_clock = nullptr;
    QString m_path;
    TMarks m_eventMarks;
    TMarks m_reportMarks;
    bool m_writeQueued = false; // a write is due once the current event is handled
    bool m_writeFailing = false; // the failure is logged once until a write succeeds again

    std::thread m_writer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QByteArray m_pending; // guarded by m_mutex
    uint64_t m_queued = 0; // guarded: generation of m_pending
    uint64_t m_written = 0; // guarded: last generation on disk (or failed)
    bool m_lastOk = true; // guarded
    QString m_lastError; // guarded: why the last write failed
    bool m_stop = false; // guarded
    std::atomic<int64_t> m_lastWriteNs{0};
};
