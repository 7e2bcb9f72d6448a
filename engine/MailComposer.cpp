// SPDX-License-Identifier: MIT
#include "MailComposer.h"

#include "GbkCodec.h"
#include "MLEngine.h"
#include "MailHeaders.h"
#include "NormalFunction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>
#include <vector>

namespace {

// An address as the log shows it: control characters written as \xNN, so a log line stays one line.
QString visible(const QByteArray& bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return Gbk::decode(out);
}

// The subject's bytes: the title as stored and the date and time.
QByteArray subjectBytes(const char (&title)[128], const SYSTEMTIME& now)
{
    return FillGbk(
        GetLangText(LangText::Format_Str::Str6), {Gbk::fieldBytes(title), DateTimeText(now, true).toLatin1()});
}

// The trimmed text of a failure, without a trailing line end or full stop.
QString failureText(const QString& errorText)
{
    QString text = errorText;
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) {
        text.chop(1);
    }
    if (text.endsWith(QLatin1Char('.')) || text.endsWith(QChar(0x3002))) {
        text.chop(1);
    }
    return text;
}

// The headers, envelope and subject both kinds of mail share.
struct TComposed
{
    TOutgoingMail mail;
    QString subject;
    QStringList problems; // addresses refused before the exchange, one log text each
    QString fatal; // why the mail cannot be sent at all
};

TComposed composeFor(TComposeContext& context,
    const QByteArray& subject,
    const QList<TMailRecipient>& receivers,
    const QByteArray& mailId)
{
    TComposed c;
    const SYSTEMTIME now = context.clock.now();
    c.subject = visible(subject); // for the log, which is one line per entry too

    const QByteArray from = TrimBlanks(Gbk::fieldBytes(context.tables.SmtpSettings.LocalEmailAddr));
    const QString fromNameFormat = GetLangText(
        LangText::Format_Str::Str5, GetLangText(LangText::QorsmailMain_Str::Str29) + QStringLiteral("[%1]"));
    const QByteArray fromName = TrimBlanks(FillGbk(fromNameFormat, {context.computerName}));
    if (!MailHeaders::isPlainAddrSpec(from)) {
        c.fatal = GetLangText(LangText::MailCheck_Str::Str0).arg(QLatin1Char('"') + visible(from) + QLatin1Char('"'));
    }

    QList<QByteArray> to;
    for (const TMailRecipient& receiver : receivers) {
        const QByteArray& name = receiver.name;
        // Blanks around a stored address are no part of it; anything else that is not a plain address is refused.
        const QByteArray addr = TrimBlanks(receiver.addr);
        if (!MailHeaders::isPlainAddrSpec(addr)) {
            c.problems.append(
                GetLangText(LangText::MailCheck_Str::Str1).arg(QLatin1Char('"') + visible(addr) + QLatin1Char('"')));
            continue;
        }
        c.mail.recipients.append(addr);
        to.append(MailHeaders::mailbox(name, addr));
    }
    if (c.fatal.isEmpty() && c.mail.recipients.isEmpty()) {
        c.fatal = GetLangText(LangText::MailCheck_Str::Str2);
    }

    QDateTime date = FromSystemTime(now);
    if (!date.isValid()) {
        date = QDateTime::currentDateTime();
    }
    c.mail.from = from;
    c.mail.headers = {"Date: " + MailHeaders::dateValue(date),
        "From: " + MailHeaders::mailbox(fromName, from),
        MailHeaders::addressListField("To", to),
        "Subject: " + MailHeaders::unstructured(subject, 9),
        "Message-ID: " + (mailId.isEmpty() ? MailHeaders::messageId(from) : MailHeaders::messageId(from, mailId)),
        "MIME-Version: 1.0"};
    return c;
}

TComposed composeCommon(TComposeContext& context,
    const char (&title)[128],
    int32_t receiverCount,
    const TMailAddr (&receivers)[MaxReceivers],
    const QByteArray& mailId)
{
    return composeFor(
        context, subjectBytes(title, context.clock.now()), TaskRecipients(receivers, receiverCount), mailId);
}

void logProblems(TComposeContext& context, const QStringList& problems, const QString& subject)
{
    for (const auto& text : problems) {
        context.writeLogLine(ErrorLogLine(text, subject));
    }
}

// Sends and logs; true when the mail went out.
bool exchange(TComposeContext& context, TComposed& composed)
{
    context.lastError.clear();
    logProblems(context, composed.problems, composed.subject);
    if (!composed.fatal.isEmpty()) {
        context.lastError = composed.fatal;
        context.writeLogLine(ErrorLogLine(composed.fatal, composed.subject));
        return false;
    }
    const TSmtpResult result = context.session.send(composed.mail);
    if (result.viaFallback) {
        // The first relay failed as a whole; the line says so, and which relay the mail went to.
        QString line = result.firstRelayError;
        if (result.ok) {
            line = FillText(GetLangText(LangText::Relay_Str::Str0),
                {result.firstRelay, failureText(result.firstRelayError), result.relay});
        }
        context.writeLogLine(ErrorLogLine(line, composed.subject));
    }
    if (result.ok) {
        // Refusals that made the whole exchange fail are in its error text already.
        for (const auto& refused : result.refusedRecipients) {
            context.writeLogLine(ErrorLogLine(GetLangText(LangText::MailCheck_Str::Str3) + refused, composed.subject));
        }
        return true;
    }
    const QString error = result.viaFallback
        ? FillText(GetLangText(LangText::Relay_Str::Str1), {result.relay, failureText(result.errorText)})
        : result.errorText;
    context.lastError = failureText(error); // the log line without the subject
    context.writeLogLine(ErrorLogLine(error, composed.subject));
    return false;
}

// The newest file of each stored name as attachments, in the order of the names. With a lookup, the names that
// found no file and the files older than its previous due time are noted in it.
void attachReportFiles(
    TComposed& composed, const TReportMailTask& task, const QString& workDir, TReportLookup* lookup = nullptr)
{
    const int count = ClampCount(task.FileCount, MaxReportFiles);
    for (int k = 0; k < count; ++k) {
        QString found;
        const QString name = Gbk::fieldText(task.Files[k]);
        if (!FindNewestReportFile(name, workDir, found)) {
            if (lookup) {
                lookup->missing.append(name);
            }
            continue;
        }
        composed.mail.attachments.push_back(
            {found, MailHeaders::extendedParameter("filename", Gbk::encode(QFileInfo(found).fileName()))});
        if (lookup && lookup->previousDue.isValid()) {
            const QFileInfo info(found);
            if (info.lastModified() < lookup->previousDue) {
                lookup->stale.append({found, info.lastModified()});
            }
        }
    }
}

// Puts the test mark in front of the subject, in the header and in the log's copy alike.
void markAsTest(TComposed& composed, const char (&title)[128], const TClock& clock)
{
    const QByteArray subject =
        Gbk::encode(GetLangText(LangText::TestMail_Str::Str0)) + subjectBytes(title, clock.now());
    composed.subject = Gbk::decode(MailHeaders::oneLine(subject));
    for (auto& header : composed.mail.headers) {
        if (header.startsWith("Subject: ")) {
            header = "Subject: " + MailHeaders::unstructured(subject, 9);
        }
    }
}

void setTextLines(TComposed& composed, const QStringList& lines)
{
    composed.mail.hasText = true;
    composed.mail.textType = QByteArray("text/plain; charset=") + MailHeaders::Charset;
    for (const auto& line : lines) {
        composed.mail.text += Gbk::encode(line) + "\r\n";
    }
}

bool newer(const struct stat& a, const struct stat& b)
{
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

} // namespace

QString ErrorLogLine(const QString& errorText, const QString& subject)
{
    return FillText(GetLangText(LangText::Format_Str::Str7), {failureText(errorText), subject});
}

QByteArray FormatEventLine(TLogLibrary& log, const EventRecord& event)
{
    const SYSTEMTIME t = log.SystemTimeFromSeconds(event.EventTime);
    QByteArray line;
    line += QByteArray::number(t.wYear) + '-' + QByteArray::number(t.wMonth) + '-' + QByteArray::number(t.wDay) + "- "
        + QByteArray::number(t.wHour) + ':' + QByteArray::number(t.wMinute) + ':' + QByteArray::number(t.wSecond) + '.'
        + QByteArray::number(event.EventMsec) + "  " + Gbk::fieldBytes(event.EventText);
    return line;
}

namespace {

bool readOne(TLogLibrary& log, int32_t pos, EventRecord& record, bool fromPrevious = false)
{
    int32_t scratchEnd = 0;
    int32_t start = pos;
    int32_t n = 1;
    if (fromPrevious) {
        return log.ReadPreviousEvents(start, n, &record) && n >= 1;
    }
    return log.ReadEvents(scratchEnd, start, n, EventRingSize, &record) && n >= 1;
}

void appendUnlisted(uint64_t count, QList<QByteArray>& lines)
{
    if (count > 0) {
        lines.append(Gbk::encode(GetCountText(LangText::RingWatch_Str::Str5, qint64(count)).arg(count)));
    }
}

// The events numbered first..end of one ring: the newest 5000 of them at most, read position by position from
// the end backwards, located from a reference point (the event numbered refCount - 1 lies just before position
// refPos); then those that writers reached again meanwhile (the ring has counted `written` events now) dropped
// with a line that says how many.
void appendNumbered(TLogLibrary& log,
    bool fromPrevious,
    int32_t refPos,
    uint64_t refCount,
    uint64_t first,
    uint64_t end,
    uint64_t written,
    QList<QByteArray>& lines)
{
    if (end <= first) {
        return;
    }
    const uint64_t length = end - first;
    const uint64_t held = std::min<uint64_t>(length, EventRingSize);
    struct TLine
    {
        uint64_t number;
        QByteArray text;
    };
    std::vector<TLine> read;
    read.reserve(size_t(held));
    for (uint64_t k = 0; k < held; ++k) {
        const uint64_t number = end - held + k;
        const int32_t pos =
            int32_t((uint64_t(refPos) + EventRingSize * 2 - (refCount - number) % EventRingSize) % EventRingSize);
        EventRecord record{};
        if (readOne(log, pos, record, fromPrevious)) {
            read.push_back({number, FormatEventLine(log, record)});
        }
    }
    uint64_t oldestHeld = first;
    if (written > EventRingSize) {
        oldestHeld = std::max(oldestHeld, written - EventRingSize);
    }
    oldestHeld = std::max(oldestHeld, end - held);
    const uint64_t overwritten = std::min(oldestHeld, end) - first;
    if (overwritten > 0) {
        lines.append(Gbk::encode(GetCountText(LangText::EventRing_Str::Str1, qint64(overwritten)).arg(overwritten)));
    }
    for (const TLine& line : read) {
        if (line.number >= oldestHeld) {
            lines.append(line.text);
        }
    }
}

// Where the events of ring file `ring` are read now: the ring being read, the previous one the library keeps
// (deleted or replaced at the path), or nowhere.
enum class TSpanRing
{
    Current,
    Previous,
    Gone,
};

TSpanRing ringOf(TLogLibrary& log, uint32_t ring, TPreviousRing& previous)
{
    uint32_t generation = 0;
    const TRingStatus status = log.GetRingStatus(generation);
    if (ring == 0 || (ring == generation && (status == TRingStatus::Ok || status == TRingStatus::Held))) {
        return TSpanRing::Current;
    }
    return log.GetPreviousRing(previous) && previous.Generation == ring ? TSpanRing::Previous : TSpanRing::Gone;
}

// The span's range as the rings still hold it: a part in a ring file replaced since from that file while the
// library keeps it, the rest from the ring it lies in.
bool formatSpan(TLogLibrary& log, const TEventTaskState& state, const TMarkSpan& span, QList<QByteArray>& lines)
{
    if (span.End < span.First || span.EarlierEnd < span.EarlierFirst) {
        return false;
    }
    const uint64_t length = span.End - span.First;
    if (span.OldRing) {
        appendUnlisted(length, lines);
        return true;
    }
    const int32_t endPos = ((state.EndPos % EventRingSize) + EventRingSize) % EventRingSize;
    const int32_t firstPos = ((state.FirstPos % EventRingSize) + EventRingSize) % EventRingSize;
    if (span.EarlierRing == 0 && (endPos - int32_t(length % EventRingSize) - firstPos) % EventRingSize != 0) {
        return false; // not the range of these positions
    }
    appendUnlisted(span.Unlisted, lines);
    TPreviousRing previous;
    if (span.EarlierRing != 0) {
        if (ringOf(log, span.EarlierRing, previous) == TSpanRing::Previous) {
            appendNumbered(log,
                true,
                previous.WritePos,
                previous.EventCount,
                span.EarlierFirst,
                std::min(span.EarlierEnd, previous.EventCount),
                previous.EventCount,
                lines);
        } else {
            appendUnlisted(span.EarlierEnd - span.EarlierFirst, lines);
        }
    }
    switch (ringOf(log, span.Ring, previous)) {
    case TSpanRing::Current: {
        int32_t scratchPos = 0;
        uint64_t written = span.End;
        (void)log.GetEventWriteState(scratchPos, written);
        appendNumbered(log, false, endPos, span.End, span.First, span.End, written, lines);
        break;
    }
    case TSpanRing::Previous:
        appendNumbered(log,
            true,
            previous.WritePos,
            previous.EventCount,
            span.First,
            std::min(span.End, previous.EventCount),
            previous.EventCount,
            lines);
        break;
    case TSpanRing::Gone:
        appendUnlisted(length, lines);
        break;
    }
    return true;
}

} // namespace

void FormatEventLines(TLogLibrary& log, const TEventTaskState& state, QList<QByteArray>& lines, const TMarkSpan* span)
{
    lines.clear();
    if (span && formatSpan(log, state, *span, lines)) {
        return;
    }
    lines.clear();
    // A mark's first position may lie one turn further (up to 9998): the ring position is the same.
    const int32_t first = ((state.FirstPos % EventRingSize) + EventRingSize) % EventRingSize;
    int64_t end = ((state.EndPos % EventRingSize) + EventRingSize) % EventRingSize;
    if (first > end) {
        end += EventRingSize;
    }
    // A damaged state can never make this read more than one whole ring.
    const int64_t count = std::min<int64_t>(end - first, EventRingSize);
    for (int64_t k = 0; k < count; ++k) {
        EventRecord record{};
        if (readOne(log, static_cast<int32_t>(first + k), record)) {
            lines.append(FormatEventLine(log, record));
        }
    }
}

bool MatchesFilePattern(const QString& pattern, const QString& name)
{
    const QList<uint> p = pattern.toUcs4();
    const QList<uint> n = name.toUcs4();
    qsizetype pi = 0;
    qsizetype ni = 0;
    // Where the last '*' stood and how much of the name it has taken so far: on a mismatch it takes one more.
    qsizetype starAt = -1;
    qsizetype starTaken = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == uint('*')) {
            starAt = pi++;
            starTaken = ni;
        } else if (pi < p.size() && (p[pi] == uint('?') || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (starAt >= 0) {
            pi = starAt + 1;
            ni = ++starTaken;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == uint('*')) {
        ++pi;
    }
    return pi == p.size();
}

bool FindNewestReportFile(const QString& storedName, const QString& workDir, QString& path)
{
    const qsizetype slash = storedName.lastIndexOf(QLatin1Char('/'));
    QString directory = storedName.left(slash + 1);
    const QString fileName = storedName.mid(slash + 1);
    // An empty name, or one naming only a folder, would take every file of that folder: it names no report.
    if (fileName.isEmpty()) {
        return false;
    }
    // Relative names belong to the suite's working directory, never to wherever the process was started.
    if (!directory.startsWith(QLatin1Char('/'))) {
        if (!workDir.startsWith(QLatin1Char('/'))) {
            return false;
        }
        directory.prepend(workDir.endsWith(QLatin1Char('/')) ? workDir : workDir + QLatin1Char('/'));
    }
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? fileName.mid(dot) : QString();
    const QString base = dot >= 0 ? fileName.left(dot) : fileName;
    const QString pattern = base + QLatin1Char('*') + extension;

    const QDir dir(directory);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    bool found = false;
    struct stat best
    {
    };
    QString bestName;
    for (const auto& name : names) {
        if (!MatchesFilePattern(pattern, name)) {
            continue;
        }
        struct stat info
        {
        };
        const QByteArray full = QFile::encodeName(directory + name);
        if (::stat(full.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        if (!found || newer(info, best)) {
            best = info;
            bestName = name;
            found = true;
        }
    }
    if (found) {
        path = directory + bestName;
    }
    return found;
}

QString EventTypeName(int32_t typeNumber)
{
    const int index = EventTypeIndex(typeNumber);
    if (index < 0) {
        return GetLangText(LangText::QorsmailMain_Str::Str30);
    }
    return GetLangText(QString::fromLatin1(LangText::EventTypeName_Section),
        QStringLiteral("EventTypeName%1").arg(index),
        QString::fromUtf8(EventTypeList[index].BuiltInName));
}

bool SendEventMail(TComposeContext& context,
    const TEventMailTask& task,
    const TEventTaskState& state,
    const TMarkSpan* span,
    const QByteArray& mailId)
{
    QList<QByteArray> lines;
    FormatEventLines(context.log, state, lines, span);
    if (lines.isEmpty()) {
        return false;
    }
    TComposed composed = composeCommon(context, task.Title, task.ReceiverCount, task.Receivers, mailId);
    composed.mail.hasText = true;
    composed.mail.textType = QByteArray("text/plain; charset=") + MailHeaders::Charset;
    for (const auto& line : lines) {
        composed.mail.text += line + "\r\n";
    }
    return exchange(context, composed);
}

int SendReportMail(
    TComposeContext& context, const TReportMailTask& task, const QByteArray& mailId, TReportLookup* lookup)
{
    TComposed composed = composeCommon(context, task.Title, task.ReceiverCount, task.Receivers, mailId);
    if (lookup) {
        lookup->missing.clear();
        lookup->stale.clear();
    }
    // The mail is the attachments alone: an empty text part before them would only show as an empty body.
    attachReportFiles(composed, task, context.tables.workDirPath(), lookup);
    if (composed.mail.attachments.empty()) {
        return 0;
    }
    if (lookup && (!lookup->missing.isEmpty() || !lookup->stale.isEmpty())) {
        setTextLines(composed, ReportLookupLines(*lookup));
    }
    return exchange(context, composed) ? 1 : -1;
}

QStringList ReportLookupLines(const TReportLookup& lookup)
{
    using namespace LangText::Notice_Str;
    QStringList lines;
    for (const QString& name : lookup.missing) {
        lines << GetLangText(Str6).arg(name);
    }
    for (const auto& [path, modified] : lookup.stale) {
        lines << FillText(GetLangText(Str7),
            {path,
                modified.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                lookup.previousDue.toString(QStringLiteral("yyyy-MM-dd HH:mm"))});
    }
    return lines;
}

QList<TMailRecipient> TaskRecipients(const TMailAddr (&receivers)[MaxReceivers], int32_t receiverCount)
{
    QList<TMailRecipient> list;
    const int count = ClampCount(receiverCount, MaxReceivers);
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        list.append({Gbk::fieldBytes(receivers[i].Name), Gbk::fieldBytes(receivers[i].Addr)});
    }
    return list;
}

bool SendNoticeMail(TComposeContext& context, const TNoticeMail& notice)
{
    TComposed composed = composeFor(context, Gbk::encode(notice.subject), notice.recipients, notice.mailId);
    setTextLines(composed, notice.lines);
    return exchange(context, composed);
}

int SendTestMail(TComposeContext& context, const TEventMailTask& task, const QStringList& lines)
{
    // A Message-ID of its own: a test is never taken for a copy of a real mail.
    TComposed composed = composeCommon(context, task.Title, task.ReceiverCount, task.Receivers, {});
    markAsTest(composed, task.Title, context.clock);
    setTextLines(composed, lines);
    return exchange(context, composed) ? 1 : -1;
}

int SendTestMail(TComposeContext& context, const TReportMailTask& task, const QStringList& lines)
{
    // A Message-ID of its own: a test is never taken for a copy of a real mail.
    TComposed composed = composeCommon(context, task.Title, task.ReceiverCount, task.Receivers, {});
    markAsTest(composed, task.Title, context.clock);
    attachReportFiles(composed, task, context.tables.workDirPath());
    if (composed.mail.attachments.empty()) {
        return 0;
    }
    setTextLines(composed, lines);
    return exchange(context, composed) ? 1 : -1;
}
