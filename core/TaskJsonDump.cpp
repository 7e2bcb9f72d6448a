// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "JsonWriter.h"
#include "TaskJsonRecords.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cstring>

namespace TaskJson {

using namespace Detail;

namespace {

// ---------------------------------------------------------------------------------------------------------
// records -> JSON

struct TRun
{
    size_t offset;
    QByteArray bytes;
};
using TRuns = std::vector<TRun>;

QString storedText(const char* field, size_t capacity, const QString& path)
{
    if (!std::memchr(field, 0, capacity)) {
        refuse(path, QStringLiteral("no terminating NUL in its %1 bytes").arg(capacity));
    }
    const QByteArray bytes = Gbk::fieldBytes(field, capacity);
    const QString text = Gbk::decode(bytes);
    if (Gbk::encode(text) != bytes) {
        refuse(path, QStringLiteral("holds bytes that are not GBK text"));
    }
    return text;
}

template <size_t N>
QString storedText(const char (&field)[N], const QString& path)
{
    return storedText(field, N, path);
}

int storedCount(int32_t count, int capacity, const QString& path)
{
    if (count < 0) {
        refuse(path, QStringLiteral("%1 stored, a count cannot be negative").arg(count));
    }
    if (count > capacity) {
        refuse(path, QStringLiteral("%1 stored, the record holds at most %2").arg(count).arg(capacity));
    }
    return count;
}

void writeExtra(TJsonWriter& w, const TRuns& runs)
{
    if (runs.empty()) {
        return;
    }
    w.key("extra");
    w.beginArray();
    for (const TRun& run : runs) {
        w.beginObject(true);
        w.field("offset", static_cast<int64_t>(run.offset));
        w.field("bytes", QString::fromLatin1(run.bytes.toBase64()));
        w.endObject();
    }
    w.endArray();
}

void writeReceivers(TJsonWriter& w, const TMailAddr* list, int32_t storedCountValue, const QString& path)
{
    const int n = storedCount(storedCountValue, MaxReceivers, path + QStringLiteral(".receiverCount"));
    w.key("receivers");
    w.beginArray();
    for (int i = 0; i < n; ++i) {
        const QString p = indexPath(path + QStringLiteral(".receivers"), i);
        w.beginObject(true);
        w.field("name", storedText(list[i].Name, p + QStringLiteral(".name")));
        w.field("addr", storedText(list[i].Addr, p + QStringLiteral(".addr")));
        w.endObject();
    }
    w.endArray();
}

void writeSystemTime(TJsonWriter& w, const char* key, const SYSTEMTIME& st)
{
    w.key(key);
    w.beginObject(true);
    w.field("year", static_cast<int64_t>(st.wYear));
    w.field("month", static_cast<int64_t>(st.wMonth));
    w.field("day", static_cast<int64_t>(st.wDay));
    w.field("hour", static_cast<int64_t>(st.wHour));
    w.field("minute", static_cast<int64_t>(st.wMinute));
    w.field("second", static_cast<int64_t>(st.wSecond));
    w.field("milliseconds", static_cast<int64_t>(st.wMilliseconds));
    w.field("dayOfWeek", static_cast<int64_t>(st.wDayOfWeek));
    w.endObject();
}

void writeNamed(TJsonWriter& w, int64_t number, const QString& name)
{
    w.beginObject(true);
    w.field("number", number);
    if (!name.isNull()) {
        w.field("name", name);
    }
    w.endObject();
}

void writeSettings(TJsonWriter& w, const TSmtpSettings& s, const QString& path, const TRuns& runs)
{
    w.beginObject();
    w.field("smtpAddr", storedText(s.smtpaddr, path + QStringLiteral(".smtpAddr")));
    w.field("smtpPort", s.smtpport);
    w.field("localEmailAddr", storedText(s.LocalEmailAddr, path + QStringLiteral(".localEmailAddr")));
    if (s.NeedAuth <= 1) {
        w.field("needAuth", s.NeedAuth == 1);
    } else {
        w.field("needAuth", static_cast<int64_t>(s.NeedAuth));
    }
    w.field("username", storedText(s.Username, path + QStringLiteral(".username")));
    w.field("password", storedText(s.Password, path + QStringLiteral(".password")));
    w.field("maxSendTries", s.MaxSendTries);
    w.field("waitSeconds", s.WaitSeconds);
    writeExtra(w, runs);
    w.endObject();
}

void writeAddrEntry(TJsonWriter& w, const TMailAddr& a, const QString& path, const TRuns& runs)
{
    w.beginObject(runs.empty());
    w.field("name", storedText(a.Name, path + QStringLiteral(".name")));
    w.field("addr", storedText(a.Addr, path + QStringLiteral(".addr")));
    writeExtra(w, runs);
    w.endObject();
}

void writeEventTask(TJsonWriter& w, const TEventMailTask& t, const QString& path, const TRuns& runs)
{
    w.beginObject();
    w.field("title", storedText(t.Title, path + QStringLiteral(".title")));
    w.field("reserved", static_cast<int64_t>(t.Reserved));
    const int types = storedCount(t.TypeCount, MaxEventTypes, path + QStringLiteral(".typeCount"));
    w.key("types");
    w.beginArray();
    for (int i = 0; i < types; ++i) {
        writeNamed(w, t.Types[i], eventTypeName(t.Types[i]));
    }
    w.endArray();
    w.field("keyword", storedText(t.Keyword, path + QStringLiteral(".keyword")));
    w.key("levels");
    w.beginObject(true);
    w.field("mask", t.LevelMask);
    w.key("list");
    w.beginArray(true);
    for (int level = 0; level < LevelCount; ++level) {
        if (t.LevelMask & (1 << level)) {
            writeNamed(w, level, levelName(level));
        }
    }
    w.endArray();
    w.endObject();
    w.field("waitSec", t.WaitSec);
    writeReceivers(w, t.Receivers, t.ReceiverCount, path);
    writeExtra(w, runs);
    w.endObject();
}

void writeReportTask(TJsonWriter& w, const TReportMailTask& t, const QString& path, const TRuns& runs)
{
    w.beginObject();
    w.field("title", storedText(t.Title, path + QStringLiteral(".title")));
    const int files = storedCount(t.FileCount, MaxReportFiles, path + QStringLiteral(".fileCount"));
    w.key("files");
    w.beginArray();
    for (int i = 0; i < files; ++i) {
        w.value(storedText(t.Files[i], indexPath(path + QStringLiteral(".files"), i)));
    }
    w.endArray();
    w.key("sendType");
    writeNamed(w, t.SendType, sendTypeName(t.SendType));
    writeSystemTime(w, "sendTime", t.SendTime);
    writeSystemTime(w, "sendInterval", t.SendInterval);
    writeReceivers(w, t.Receivers, t.ReceiverCount, path);
    writeExtra(w, runs);
    w.endObject();
}

QJsonValue parseFragment(const QByteArray& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        throw TError{QStringLiteral("internal: dumped JSON does not parse: %1").arg(error.errorString())};
    }
    return doc.object();
}

// Bytes of the stored record that the fields do not give back, in runs; zero bytes need no run.
TRuns residue(const char* stored, const TMask& mask)
{
    TRuns runs;
    const size_t size = mask.size();
    size_t i = 0;
    while (i < size) {
        if (mask[i] || stored[i] == 0) {
            ++i;
            continue;
        }
        size_t end = i + 1;
        // Runs closer than 8 bytes are joined; bytes of fields inside a run are ignored when it is applied.
        for (size_t k = end; k < size && k < end + 8; ++k) {
            if (!mask[k] && stored[k] != 0) {
                end = k + 1;
            }
        }
        runs.push_back({i, QByteArray(stored + i, static_cast<qsizetype>(end - i))});
        i = end;
    }
    return runs;
}

// Writes one record: its fields are written, read back through the builder (which checks every value), the
// bytes the fields cover must come back unchanged, and the rest goes into "extra".
template <class Record>
void emitRecord(TJsonWriter& out,
    const Record& stored,
    const QString& path,
    void (*write)(TJsonWriter&, const Record&, const QString&, const TRuns&),
    void (*build)(const QJsonValue&, const QString&, Record&, TMask*))
{
    TJsonWriter scratch;
    write(scratch, stored, path, {});
    Record rebuilt;
    TMask mask;
    build(parseFragment(scratch.text()), path, rebuilt, &mask);
    const auto* a = reinterpret_cast<const char*>(&stored);
    const auto* b = reinterpret_cast<const char*>(&rebuilt);
    for (size_t i = 0; i < sizeof(Record); ++i) {
        if (mask[i] && a[i] != b[i]) {
            refuse(path, QStringLiteral("byte %1 of the record cannot be given back by its field").arg(i));
        }
    }
    write(out, stored, path, residue(a, mask));
}

} // namespace

QByteArray ToJson(const TMailTables& tables, const QByteArray& trailing)
{
    TJsonWriter w;
    w.beginObject();
    w.field("version", TaskFileVersion);
    w.key("smtp");
    emitRecord<TSmtpSettings>(w, tables.SmtpSettings, QStringLiteral("smtp"), writeSettings, buildSettings);

    w.key("addressBook");
    w.beginArray();
    for (int i = 0; i < tables.AddrBookCount(); ++i) {
        emitRecord<TMailAddr>(w,
            tables.AddrBook[static_cast<size_t>(i)],
            indexPath(QStringLiteral("addressBook"), i),
            writeAddrEntry,
            buildAddrEntry);
    }
    w.endArray();

    w.key("eventTasks");
    w.beginArray();
    for (int i = 0; i < tables.EventTaskCount(); ++i) {
        emitRecord<TEventMailTask>(
            w, tables.EventTasks.task(i), indexPath(QStringLiteral("eventTasks"), i), writeEventTask, buildEventTask);
    }
    w.endArray();

    w.key("reportTasks");
    w.beginArray();
    for (int i = 0; i < tables.ReportTaskCount(); ++i) {
        emitRecord<TReportMailTask>(w,
            tables.ReportTasks.task(i),
            indexPath(QStringLiteral("reportTasks"), i),
            writeReportTask,
            buildReportTask);
    }
    w.endArray();

    if (!trailing.isEmpty()) {
        w.field("trailingBytes", QString::fromLatin1(trailing.toBase64()));
    }
    w.endObject();
    return w.text();
}

} // namespace TaskJson
