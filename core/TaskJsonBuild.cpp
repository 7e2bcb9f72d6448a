// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "LangTexts.h"
#include "QorsmailFunc.h"
#include "TaskJsonRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <cmath>
#include <cstring>
#include <functional>

namespace TaskJson {

namespace Detail {

void refuse(const QString& path, const QString& what)
{
    throw TError{path + QStringLiteral(": ") + what};
}

QString indexPath(const QString& path, qsizetype i)
{
    return QStringLiteral("%1[%2]").arg(path).arg(i);
}

// Event levels by bit number, with the names the station shows.
QString levelName(int level)
{
    if (level < 0 || level >= LevelCount) {
        return {};
    }
    const char* names[] = {LangText::QorsmailMain_Str::Str11.Default,
        LangText::QorsmailMain_Str::Str8.Default,
        LangText::QorsmailMain_Str::Str9.Default,
        LangText::QorsmailMain_Str::Str10.Default};
    return QString::fromUtf8(names[level]).trimmed();
}

// Send types 0..4; 0 (as any value other than 1..4 in the station) means no automatic sending.
QString sendTypeName(int type)
{
    if (type < 0 || type > MaxSendType) {
        return {};
    }
    const char* names[] = {LangText::QorsmailMain_Str::Str16.Default,
        LangText::QorsmailMain_Str::Str12.Default,
        LangText::QorsmailMain_Str::Str13.Default,
        LangText::QorsmailMain_Str::Str14.Default,
        LangText::QorsmailMain_Str::Str15.Default};
    return QString::fromUtf8(names[type]).trimmed();
}

QString eventTypeName(int64_t number)
{
    const int i = number >= INT16_MIN && number <= INT16_MAX ? EventTypeIndex(static_cast<int32_t>(number)) : -1;
    return i < 0 ? QString() : QString::fromUtf8(EventTypeList[i].BuiltInName);
}

} // namespace Detail

using namespace Detail;

namespace {

// ---------------------------------------------------------------------------------------------------------
// JSON -> records

// A record being built and the bytes its fields have set; "extra" bytes go only where no field wrote.
class TRecord
{
public:
    TRecord(void* bytes, size_t size)
        : m_bytes(static_cast<char*>(bytes))
        , m_mask(size, 0)
    {
        std::memset(bytes, 0, size);
    }

    // Fields of packed records are unaligned: they are written as bytes, never through a typed reference.
    template <class T>
    void put(void* field, const T& value)
    {
        std::memcpy(field, &value, sizeof(T));
        mark(field, sizeof(T));
    }

    // A text field that was checked to fit: its bytes and the NUL after them.
    void putText(char* field, const QByteArray& gbk)
    {
        std::memcpy(field, gbk.constData(), static_cast<size_t>(gbk.size()));
        field[gbk.size()] = '\0';
        mark(field, static_cast<size_t>(gbk.size()) + 1);
    }

    void applyExtra(const QJsonValue& value, const QString& path);

    const std::vector<uint8_t>& mask() const { return m_mask; }

private:
    void mark(const void* field, size_t n)
    {
        const auto at = static_cast<size_t>(static_cast<const char*>(field) - m_bytes);
        std::memset(m_mask.data() + at, 1, n);
    }

    char* m_bytes;
    std::vector<uint8_t> m_mask;
};

// An object of the document: fields are taken one by one, and a field nobody took is refused, so a misspelt
// name never goes unnoticed. Names beginning with "_" are comments.
class TObject
{
public:
    TObject(const QJsonValue& value, const QString& path)
        : m_path(path)
    {
        if (!value.isObject()) {
            refuse(path, QStringLiteral("must be an object"));
        }
        m_object = value.toObject();
    }

    QString path(const char* key) const
    {
        return m_path.isEmpty() ? QString::fromUtf8(key) : m_path + QLatin1Char('.') + QString::fromUtf8(key);
    }
    const QString& path() const { return m_path; }

    QJsonValue take(const char* key)
    {
        m_used.insert(QString::fromUtf8(key));
        return m_object.value(QLatin1String(key));
    }

    void finish() const
    {
        for (const QString& key : m_object.keys()) {
            if (!m_used.contains(key) && !key.startsWith(QLatin1Char('_'))) {
                refuse(m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key, QStringLiteral("unknown field"));
            }
        }
    }

private:
    QString m_path;
    QJsonObject m_object;
    QSet<QString> m_used;
};

int64_t toInteger(const QJsonValue& v, const QString& path, int64_t min, int64_t max)
{
    if (!v.isDouble()) {
        refuse(path, QStringLiteral("must be a number"));
    }
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d)) {
        refuse(path, QStringLiteral("%1 is not a whole number").arg(d));
    }
    if (d < static_cast<double>(min) || d > static_cast<double>(max)) {
        refuse(path, QStringLiteral("%1, must be %2..%3").arg(d, 0, 'f', 0).arg(min).arg(max));
    }
    return static_cast<int64_t>(d);
}

int64_t integer(TObject& o, const char* key, int64_t min, int64_t max, int64_t fallback)
{
    const QJsonValue v = o.take(key);
    return v.isUndefined() ? fallback : toInteger(v, o.path(key), min, max);
}

QByteArray toText(const QJsonValue& v, const QString& path, size_t capacity)
{
    if (!v.isString()) {
        refuse(path, QStringLiteral("must be a text"));
    }
    const QString text = v.toString();
    if (text.contains(QChar(0))) {
        refuse(path, QStringLiteral("contains a NUL character"));
    }
    const QByteArray gbk = Gbk::encode(text);
    if (static_cast<size_t>(gbk.size()) > capacity - 1) {
        refuse(path, QStringLiteral("%1 bytes in GBK, at most %2").arg(gbk.size()).arg(capacity - 1));
    }
    return gbk;
}

QByteArray text(TObject& o, const char* key, size_t capacity, const QString& fallback = {})
{
    const QJsonValue v = o.take(key);
    return v.isUndefined() ? toText(QJsonValue(fallback), o.path(key), capacity) : toText(v, o.path(key), capacity);
}

bool boolean(TObject& o, const char* key, bool fallback)
{
    const QJsonValue v = o.take(key);
    if (v.isUndefined()) {
        return fallback;
    }
    if (v.isBool()) {
        return v.toBool();
    }
    return toInteger(v, o.path(key), 0, 1) != 0;
}

QJsonArray array(TObject& o, const char* key, qsizetype maxSize)
{
    const QJsonValue v = o.take(key);
    if (v.isUndefined()) {
        return {};
    }
    if (!v.isArray()) {
        refuse(o.path(key), QStringLiteral("must be a list"));
    }
    const QJsonArray a = v.toArray();
    if (a.size() > maxSize) {
        refuse(o.path(key), QStringLiteral("%1 entries, at most %2").arg(a.size()).arg(maxSize));
    }
    return a;
}

// A number given plainly or as {"number": n, "name": "..."}; a name, when given, must be the number's name.
int64_t namedNumber(const QJsonValue& v,
    const QString& path,
    int64_t min,
    int64_t max,
    const char* what,
    const std::function<QString(int64_t)>& nameOf)
{
    int64_t number = 0;
    QString name;
    bool named = false;
    if (v.isObject()) {
        TObject o(v, path);
        const QJsonValue n = o.take("number");
        if (n.isUndefined()) {
            refuse(o.path("number"), QStringLiteral("missing"));
        }
        number = toInteger(n, o.path("number"), min, max);
        const QJsonValue nm = o.take("name");
        if (!nm.isUndefined()) {
            if (!nm.isString()) {
                refuse(o.path("name"), QStringLiteral("must be a text"));
            }
            name = nm.toString();
            named = true;
        }
        o.finish();
    } else {
        number = toInteger(v, path, min, max);
    }
    const QString known = nameOf(number);
    if (known.isNull()) {
        refuse(path, QStringLiteral("%1 is not %2").arg(number).arg(QLatin1String(what)));
    }
    if (named && name != known) {
        refuse(path + QStringLiteral(".name"),
            QStringLiteral("\"%1\" is not the name of %2 (\"%3\")").arg(name).arg(number).arg(known));
    }
    return number;
}

void TRecord::applyExtra(const QJsonValue& value, const QString& path)
{
    if (value.isUndefined()) {
        return;
    }
    if (!value.isArray()) {
        refuse(path, QStringLiteral("must be a list"));
    }
    const QJsonArray runs = value.toArray();
    const auto size = static_cast<int64_t>(m_mask.size());
    for (qsizetype i = 0; i < runs.size(); ++i) {
        TObject run(runs.at(i), indexPath(path, i));
        const int64_t offset = integer(run, "offset", 0, size - 1, -1);
        if (offset < 0) {
            refuse(run.path("offset"), QStringLiteral("missing"));
        }
        const QJsonValue b = run.take("bytes");
        if (!b.isString()) {
            refuse(run.path("bytes"), QStringLiteral("must be a base64 text"));
        }
        const auto decoded =
            QByteArray::fromBase64Encoding(b.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            refuse(run.path("bytes"), QStringLiteral("is not valid base64"));
        }
        const QByteArray& bytes = *decoded;
        if (offset + bytes.size() > size) {
            refuse(run.path("bytes"), QStringLiteral("runs past the record's %1 bytes").arg(size));
        }
        run.finish();
        // The fields win: extra bytes fill only what no field wrote.
        for (qsizetype k = 0; k < bytes.size(); ++k) {
            const auto at = static_cast<size_t>(offset + k);
            if (!m_mask[at]) {
                m_bytes[at] = bytes[k];
            }
        }
    }
}

SYSTEMTIME systemTime(TObject& parent, const char* key)
{
    SYSTEMTIME st{};
    const QJsonValue v = parent.take(key);
    if (v.isUndefined()) {
        return st;
    }
    TObject o(v, parent.path(key));
    st.wYear = static_cast<uint16_t>(integer(o, "year", 0, 65535, 0));
    st.wMonth = static_cast<uint16_t>(integer(o, "month", 0, 12, 0));
    st.wDayOfWeek = static_cast<uint16_t>(integer(o, "dayOfWeek", 0, 6, 0));
    st.wDay = static_cast<uint16_t>(integer(o, "day", 0, 31, 0));
    st.wHour = static_cast<uint16_t>(integer(o, "hour", 0, 23, 0));
    st.wMinute = static_cast<uint16_t>(integer(o, "minute", 0, 59, 0));
    st.wSecond = static_cast<uint16_t>(integer(o, "second", 0, 59, 0));
    st.wMilliseconds = static_cast<uint16_t>(integer(o, "milliseconds", 0, 999, 0));
    o.finish();
    return st;
}

void mailAddr(TRecord& r, TMailAddr& field, const QJsonValue& v, const QString& path)
{
    TObject o(v, path);
    r.putText(field.Name, text(o, "name", sizeof(field.Name)));
    const QJsonValue addr = o.take("addr");
    if (addr.isUndefined()) {
        refuse(o.path("addr"), QStringLiteral("missing"));
    }
    r.putText(field.Addr, toText(addr, o.path("addr"), sizeof(field.Addr)));
    if (!o.take("extra").isUndefined()) {
        refuse(o.path("extra"), QStringLiteral("belongs to the record, not to one of its recipients"));
    }
    o.finish();
}

int32_t receivers(TRecord& r, TMailAddr (&list)[MaxReceivers], TObject& o)
{
    const QJsonArray a = array(o, "receivers", MaxReceivers);
    for (qsizetype i = 0; i < a.size(); ++i) {
        mailAddr(r, list[i], a.at(i), indexPath(o.path("receivers"), i));
    }
    return static_cast<int32_t>(a.size());
}

} // namespace

namespace Detail {

void buildSettings(const QJsonValue& v, const QString& path, TSmtpSettings& s, TMask* mask)
{
    TObject o(v, path);
    TRecord r(&s, sizeof(s));
    r.putText(s.smtpaddr, text(o, "smtpAddr", sizeof(s.smtpaddr)));
    r.put(&s.smtpport, static_cast<int32_t>(integer(o, "smtpPort", 1, 65535, 25)));
    r.putText(s.LocalEmailAddr, text(o, "localEmailAddr", sizeof(s.LocalEmailAddr)));
    r.put(&s.NeedAuth, static_cast<uint8_t>(boolean(o, "needAuth", false) ? 1 : 0));
    r.putText(s.Username, text(o, "username", sizeof(s.Username)));
    r.putText(s.Password, text(o, "password", sizeof(s.Password)));
    r.put(&s.MaxSendTries, static_cast<int32_t>(integer(o, "maxSendTries", 0, 10, 0)));
    r.put(&s.WaitSeconds, static_cast<int32_t>(integer(o, "waitSeconds", 0, 60, 60)));
    r.applyExtra(o.take("extra"), o.path("extra"));
    o.finish();
    if (mask) {
        *mask = r.mask();
    }
}

void buildAddrEntry(const QJsonValue& v, const QString& path, TMailAddr& a, TMask* mask)
{
    TObject o(v, path);
    TRecord r(&a, sizeof(a));
    r.putText(a.Name, text(o, "name", sizeof(a.Name)));
    const QJsonValue addr = o.take("addr");
    if (addr.isUndefined()) {
        refuse(o.path("addr"), QStringLiteral("missing"));
    }
    r.putText(a.Addr, toText(addr, o.path("addr"), sizeof(a.Addr)));
    r.applyExtra(o.take("extra"), o.path("extra"));
    o.finish();
    if (mask) {
        *mask = r.mask();
    }
}

int32_t levelMask(TObject& task)
{
    const QJsonValue v = task.take("levels");
    if (v.isUndefined()) {
        return -1;
    }
    TObject o(v, task.path("levels"));
    const QJsonValue maskValue = o.take("mask");
    const QJsonValue listValue = o.take("list");
    o.finish();
    int32_t listBits = 0;
    if (!listValue.isUndefined()) {
        if (!listValue.isArray()) {
            refuse(o.path("list"), QStringLiteral("must be a list"));
        }
        const QJsonArray list = listValue.toArray();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const int64_t level = namedNumber(
                list.at(i), indexPath(o.path("list"), i), 0, LevelCount - 1, "an event level", [](int64_t n) {
                    return levelName(static_cast<int>(n));
                });
            listBits |= 1 << level;
        }
    }
    if (maskValue.isUndefined()) {
        if (listValue.isUndefined()) {
            refuse(o.path(), QStringLiteral("needs \"mask\" or \"list\""));
        }
        return listBits;
    }
    const auto mask = static_cast<int32_t>(toInteger(maskValue, o.path("mask"), -1, (1 << LevelCount) - 1));
    if (!listValue.isUndefined() && (mask & ((1 << LevelCount) - 1)) != listBits) {
        refuse(o.path("list"), QStringLiteral("does not agree with mask %1").arg(mask));
    }
    return mask;
}

void buildEventTask(const QJsonValue& v, const QString& path, TEventMailTask& t, TMask* mask)
{
    TObject o(v, path);
    TRecord r(&t, sizeof(t));
    r.putText(t.Title, text(o, "title", sizeof(t.Title), QString::fromUtf8(LangText::EventMail_Str::Str0.Default)));
    r.put(&t.Reserved, static_cast<uint8_t>(integer(o, "reserved", 0, 255, 0)));
    const QJsonArray types = array(o, "types", MaxEventTypes);
    QSet<int64_t> seen;
    for (qsizetype i = 0; i < types.size(); ++i) {
        const QString p = indexPath(o.path("types"), i);
        const int64_t number = namedNumber(types.at(i), p, INT16_MIN, INT16_MAX, "an event type number", eventTypeName);
        if (seen.contains(number)) {
            refuse(p, QStringLiteral("type %1 is listed twice").arg(number));
        }
        seen.insert(number);
        r.put(&t.Types[i], static_cast<int16_t>(number));
    }
    r.put(&t.TypeCount, static_cast<int32_t>(types.size()));
    r.putText(t.Keyword, text(o, "keyword", sizeof(t.Keyword)));
    r.put(&t.LevelMask, levelMask(o));
    r.put(&t.WaitSec, static_cast<int32_t>(integer(o, "waitSec", 0, 3600, 60)));
    r.put(&t.ReceiverCount, receivers(r, t.Receivers, o));
    r.applyExtra(o.take("extra"), o.path("extra"));
    o.finish();
    if (mask) {
        *mask = r.mask();
    }
}

void buildReportTask(const QJsonValue& v, const QString& path, TReportMailTask& t, TMask* mask)
{
    TObject o(v, path);
    TRecord r(&t, sizeof(t));
    r.putText(t.Title, text(o, "title", sizeof(t.Title), QString::fromUtf8(LangText::ReportMail_Str::Str0.Default)));
    const QJsonArray files = array(o, "files", MaxReportFiles);
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString filePath = indexPath(o.path("files"), i);
        const QByteArray name = toText(files.at(i), filePath, sizeof(t.Files[i]));
        // The station finds nothing for such a name; refusing it here tells the author at once.
        if (name.isEmpty()) {
            refuse(filePath, QStringLiteral("empty, a report file name must name a file"));
        }
        if (name.endsWith('/')) {
            refuse(filePath, QStringLiteral("names only a folder, a report file name must name a file"));
        }
        r.putText(t.Files[i], name);
    }
    r.put(&t.FileCount, static_cast<int32_t>(files.size()));
    const QJsonValue sendType = o.take("sendType");
    const int64_t type = sendType.isUndefined()
        ? 1
        : namedNumber(sendType, o.path("sendType"), 0, MaxSendType, "a send type", [](int64_t n) {
              return sendTypeName(static_cast<int>(n));
          });
    r.put(&t.SendType, static_cast<int32_t>(type));
    r.put(&t.SendTime, systemTime(o, "sendTime"));
    r.put(&t.SendInterval, systemTime(o, "sendInterval"));
    r.put(&t.ReceiverCount, receivers(r, t.Receivers, o));
    r.applyExtra(o.take("extra"), o.path("extra"));
    o.finish();
    if (mask) {
        *mask = r.mask();
    }
}

} // namespace Detail

void FromJson(const QByteArray& json, TMailTables& tables, QByteArray& trailing)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const QByteArray before = json.left(parseError.offset);
        const qsizetype line = before.count('\n') + 1;
        const qsizetype column = before.size() - before.lastIndexOf('\n');
        throw TError{
            QStringLiteral("JSON: %1 at line %2, column %3").arg(parseError.errorString()).arg(line).arg(column)};
    }
    if (!doc.isObject()) {
        throw TError{QStringLiteral("JSON: the document must be an object")};
    }
    TObject top(QJsonValue(doc.object()), QString());
    const int64_t version = integer(top, "version", INT32_MIN, INT32_MAX, TaskFileVersion);
    if (version != TaskFileVersion) {
        refuse(QStringLiteral("version"), QStringLiteral("%1, must be %2").arg(version).arg(TaskFileVersion));
    }

    SetTaskDefaults(tables);
    const QJsonValue smtp = top.take("smtp");
    buildSettings(smtp.isUndefined() ? QJsonValue(QJsonObject()) : smtp, QStringLiteral("smtp"), tables.SmtpSettings);

    const QJsonArray book = array(top, "addressBook", INT32_MAX);
    tables.AddrBook.resize(static_cast<size_t>(book.size()));
    for (qsizetype i = 0; i < book.size(); ++i) {
        buildAddrEntry(
            book.at(i), indexPath(QStringLiteral("addressBook"), i), tables.AddrBook[static_cast<size_t>(i)]);
    }
    const QJsonArray events = array(top, "eventTasks", INT32_MAX);
    tables.EventTasks.resize(static_cast<int>(events.size()));
    for (qsizetype i = 0; i < events.size(); ++i) {
        buildEventTask(
            events.at(i), indexPath(QStringLiteral("eventTasks"), i), tables.EventTasks.task(static_cast<int>(i)));
    }
    const QJsonArray reports = array(top, "reportTasks", INT32_MAX);
    tables.ReportTasks.resize(static_cast<int>(reports.size()));
    for (qsizetype i = 0; i < reports.size(); ++i) {
        buildReportTask(
            reports.at(i), indexPath(QStringLiteral("reportTasks"), i), tables.ReportTasks.task(static_cast<int>(i)));
    }

    trailing.clear();
    const QJsonValue tail = top.take("trailingBytes");
    if (!tail.isUndefined()) {
        if (!tail.isString()) {
            refuse(QStringLiteral("trailingBytes"), QStringLiteral("must be a base64 text"));
        }
        const auto decoded =
            QByteArray::fromBase64Encoding(tail.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            refuse(QStringLiteral("trailingBytes"), QStringLiteral("is not valid base64"));
        }
        trailing = *decoded;
    }
    top.finish();
}

} // namespace TaskJson
