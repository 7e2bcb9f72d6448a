// SPDX-License-Identifier: MIT
#pragma once

// The two composers (event mail, report mail) and their helpers: the event line formatter, the report file
// finder and the event type name lookup. A composer builds the whole mail from copies of what it reads before
// the exchange starts, so a task that is edited or deleted while the mail is on its way cannot be touched
// afterwards.

#include "EventBacklog.h"
#include "LocalTime.h"
#include "QorsmailDef.h"
#include "SmtpSession.h"
#include "mlogcomm2.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <utility>

// What a composer works with: the tables (sender address), the ring, the clock (subject and Date), the SMTP
// session, the computer name for the sender's display name and the log line writer.
struct TComposeContext
{
    TMailTables& tables;
    TLogLibrary& log;
    const TClock& clock;
    TSmtpSession& session;
    QByteArray computerName; // GBK
    std::function<void(const QString&)> writeLogLine;
    QString lastError; // why the last exchange failed, as logged without the subject; empty after a success
};

// Composes and sends the event mail of one task. False when no event line could be formatted (nothing is sent,
// nothing logged) or the exchange failed (logged).
// With the mark's span (event numbers), a range longer than the ring holds is told as such (see
// FormatEventLines). A non-empty mailId gives the mail the Message-ID of that identity (the same for every
// attempt of one mark); without one each mail gets a new Message-ID.
bool SendEventMail(TComposeContext& context,
    const TEventMailTask& task,
    const TEventTaskState& state,
    const TMarkSpan* span = nullptr,
    const QByteArray& mailId = {});

// What a report mail's look-up found wrong, where the station tells of missing and stale report files: the names
// that found no file, and the files last written before the previous due time (the report has not been made
// anew since).
struct TReportLookup
{
    QDateTime previousDue; // invalid: no file is called stale
    QStringList missing;
    QList<std::pair<QString, QDateTime>> stale; // path, last written
};

// Composes and sends the report mail of one task: 1 sent, 0 no report file found (no connection made),
// -1 the exchange failed (logged). mailId as for SendEventMail. With a lookup, what it finds wrong is noted
// there and, when the mail goes out, told in its text part (ReportLookupLines); without one the mail is the
// attachments alone.
int SendReportMail(TComposeContext& context,
    const TReportMailTask& task,
    const QByteArray& mailId = {},
    TReportLookup* lookup = nullptr);
QStringList ReportLookupLines(const TReportLookup& lookup);

// A receiver as the mail names it: display name and address, GBK.
struct TMailRecipient
{
    QByteArray name;
    QByteArray addr;
};
QList<TMailRecipient> TaskRecipients(const TMailAddr (&receivers)[MaxReceivers], int32_t receiverCount);

// A mail of the station's own (the health mail, the notices): a subject, a text part, and the same checks,
// session, fallback relay and log lines as a task's mail.
struct TNoticeMail
{
    QString subject;
    QList<TMailRecipient> recipients;
    QStringList lines;
    QByteArray mailId; // the same for every attempt of one mail
};
bool SendNoticeMail(TComposeContext& context, const TNoticeMail& notice);

// A test mail of one task through the same session: the subject starts with the test mark, the text part holds
// `lines`; a report task also attaches the files its names find now. 1 sent, 0 no report file found (nothing
// sent, no connection made), -1 the exchange failed (logged).
int SendTestMail(TComposeContext& context, const TEventMailTask& task, const QStringList& lines);
int SendTestMail(TComposeContext& context, const TReportMailTask& task, const QStringList& lines);

// One line per readable event of the state's ring range, GBK bytes:
// "2024-3-5- 7:4:9.120  text". The range is at most one whole ring. With the mark's span, the events of the
// range that the ring no longer holds (overwritten before or while the lines are made) are left out and one
// line of ours in front says how many they were; a span that does not fit the state's positions is ignored.
void FormatEventLines(
    TLogLibrary& log, const TEventTaskState& state, QList<QByteArray>& lines, const TMarkSpan* span = nullptr);
QByteArray FormatEventLine(TLogLibrary& log, const EventRecord& event);

// The newest regular file that fits a stored report file name: in the directory part (up to the last "/", taken
// literally), a file whose name matches the pattern base name + "*" + extension, where "*" and "?" of the stored
// name are wildcards too. A relative name is resolved against the working directory `workDir`; an empty file
// name part (an empty name, or one ending in "/") finds nothing. Modification times are compared at full
// resolution; of equal ones the first in name order wins. True with the full path when one exists.
bool FindNewestReportFile(const QString& storedName, const QString& workDir, QString& path);

// File name pattern match: "*" any run of characters, "?" exactly one character, every other character only
// itself (case counts, as on the file system).
bool MatchesFilePattern(const QString& pattern, const QString& name);

// The display name of an event type number ("未知" for a number not in the list).
QString EventTypeName(int32_t typeNumber);

// The log line of a failed exchange: the error text without a trailing line end or full stop, then the subject
// (Chinese: joined by "——").
QString ErrorLogLine(const QString& errorText, const QString& subject);
