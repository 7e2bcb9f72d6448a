// SPDX-License-Identifier: MIT
#pragma once

// The station's own mails: the health mail ([Health]: at a time each day or every N hours, to the health
// recipients, with what the station did since the last one), the notice of mails given up and the notice of
// missing report files ([Notices]). They wait in a queue of their own and go out in the send pass after the
// tasks' mails, through the same session and relays, retried like a task's mail; one that is given up is
// logged and never noticed in turn.

#include "LocalTime.h"
#include "MailComposer.h"
#include "QorsmailDef.h"
#include "StationSettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

// What the station did since the last health mail (or its start).
struct TStationCounters
{
    uint64_t eventsRead = 0;
    uint64_t mailsSent = 0;
    uint64_t retried = 0; // failed attempts that are tried again
    uint64_t givenUp = 0;
    uint64_t ringFaults = 0; // times the ring became unreadable (held, missing or damaged)
};

// A task's mail given up after all its tries, as its notice names it.
struct TGivenUpMail
{
    QString title;
    QStringList recipients;
    QString error;
};

// The time of the next health mail after `after`; invalid when the settings ask for none. Daily: the next
// hh:mm; every N hours: `last` + N hours, or after + N hours when last is invalid.
QDateTime NextHealthTime(const THealthSettings& health, const QDateTime& after, const QDateTime& last);

// The due time before `due` of a report task's schedule (a day, a month or a year before, or one interval);
// invalid for a schedule that has none.
QDateTime PreviousReportDue(const TReportMailTask& task, const SYSTEMTIME& due, TLogLibrary& log);

// "2 天 3 小时 4 分" (days, hours, minutes) of a span in seconds.
QString UptimeText(int64_t seconds);

class TStationMails
{
public:
    TStationMails(const TMailTables& tables, const TClock& clock);

    // The uptime counts from here, and the health schedule starts.
    void start();
    TStationCounters& counters() { return m_counters; }

    // The trigger tick: queues the health mail when its time has come (the counters start again from zero).
    // pendingTasks: the tasks marked now.
    void tick(const QString& host, int pendingTasks);

    // One notice for the mails one send pass gave up, to the health recipients; nothing when that notice is off
    // or there are none.
    void queueGiveUpNotice(const QList<TGivenUpMail>& mails, const QString& host);
    // The notice of a due report task none of whose names found a file, to its recipients; nothing when off.
    void queueMissingReport(const TReportMailTask& task, const QStringList& names);

    // The mails whose attempt is due now go out; sent and given-up ones leave the queue with a log line.
    void sendDue(TComposeContext& context);

    int queued() const { return static_cast<int>(m_queue.size()); }
    QDateTime nextHealthMail() const { return m_nextHealth; }

private:
    struct TQueued
    {
        uint64_t id = 0;
        TNoticeMail mail;
        int32_t tries = 0;
        QDateTime nextAttempt;
    };

    void queue(TNoticeMail mail);
    QDateTime now() const;

    const TMailTables& m_tables;
    const TClock& m_clock;
    TStationCounters m_counters;
    QElapsedTimer m_uptime;
    QDateTime m_since; // start of what the counters hold
    THealthSettings m_scheduledFor;
    QDateTime m_nextHealth;
    QList<TQueued> m_queue;
    uint64_t m_nextId = 1;
};
