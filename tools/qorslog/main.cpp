// SPDX-License-Identifier: MIT
// qorslog: the event ring from the command line. See docs/qorslog.md.

#include "EventGenerator.h"
#include "GbkCodec.h"
#include "qorslog2.h"

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTime>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

const char* const Usage = "usage: qorslog post --type N --level N [--time \"yyyy-MM-dd hh:mm:ss[.zzz]\"] TEXT\n"
                          "       qorslog pos\n"
                          "       qorslog dump [FROM [COUNT]]\n"
                          "       qorslog generate --rate R --count C [--seed S]\n"
                          "       qorslog workdir\n"
                          "       qorslog --help\n"
                          "The ring is EventLog/events.ring in $QORVANE_WORKDIR (default ~/.local/share/qorvane/).\n"
                          "Exit status: 0 done, 1 the library failed, 2 bad arguments.\n";

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

int usageError(const QString& message)
{
    fprintf(stderr, "qorslog: %s\n%s", message.toUtf8().constData(), Usage);
    return ExitUsage;
}

int libraryError(const char* what, int32_t code)
{
    fprintf(stderr, "qorslog: %s: %s (%d)\n", what, GetErrorTextUtf8(code), code);
    return ExitFailure;
}

std::optional<qint64> parseInt(const QString& text, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max) {
        return std::nullopt;
    }
    return v;
}

// The wall-clock fields as written, with no time-zone interpretation.
std::optional<QorvaneSystemTime> parseTime(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 2) {
        return std::nullopt;
    }
    const QDate date = QDate::fromString(parts[0], QStringLiteral("yyyy-MM-dd"));
    QTime time = QTime::fromString(parts[1], QStringLiteral("hh:mm:ss.zzz"));
    if (!time.isValid()) {
        time = QTime::fromString(parts[1], QStringLiteral("hh:mm:ss"));
    }
    if (!date.isValid() || !time.isValid() || date.year() < 1970 || date.year() > 2105) {
        return std::nullopt;
    }
    QorvaneSystemTime t{};
    t.wYear = uint16_t(date.year());
    t.wMonth = uint16_t(date.month());
    t.wDayOfWeek = uint16_t(date.dayOfWeek() % 7);
    t.wDay = uint16_t(date.day());
    t.wHour = uint16_t(time.hour());
    t.wMinute = uint16_t(time.minute());
    t.wSecond = uint16_t(time.second());
    t.wMilliseconds = uint16_t(time.msec());
    return t;
}

int openLibrary()
{
    return InitLogLibrary();
}

QString ringPath()
{
    char buffer[128] = {};
    GetWorkDir(buffer);
    return Gbk::decode(buffer, strnlen(buffer, sizeof buffer)) + QStringLiteral("EventLog/events.ring");
}

// A read entry that failed: the code that says why, from the ring's condition.
int32_t ringErrorCode()
{
    return GetRingStatus(nullptr) == QORSLOG_RING_DAMAGED ? QORSLOG_ERR_RING_FORMAT : QORSLOG_ERR_RING_IO;
}

// The ring's lock held past the writer's wait: who holds it, as far as /proc/locks tells.
void reportBusyRing()
{
    const int32_t holder = GetRingLockHolder();
    QString who = QStringLiteral("another process");
    if (holder > 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(holder));
        const QString name =
            comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
        who = name.isEmpty() ? QStringLiteral("process %1").arg(holder)
                             : QStringLiteral("process %1 (%2)").arg(holder).arg(name);
    }
    fprintf(stderr,
        "qorslog: the ring %s is locked by %s; the event was not written\n",
        ringPath().toUtf8().constData(),
        who.toUtf8().constData());
}

int postError(int32_t code)
{
    const int rc = libraryError("PostEvent", code);
    if (code == QORSLOG_ERR_RING_BUSY) {
        reportBusyRing();
    }
    return rc;
}

// Options "--name value" in any order before the positional arguments; unknown options are refused.
struct TOptions
{
    std::vector<std::pair<QString, QString>> named;
    QStringList positional;
    QString error;

    std::optional<QString> value(const QString& name) const
    {
        for (const auto& [n, v] : named) {
            if (n == name) {
                return v;
            }
        }
        return std::nullopt;
    }
};

TOptions parseOptions(const QStringList& args, const QStringList& known)
{
    TOptions o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            o.positional += args.mid(i + 1);
            break;
        }
        if (a.startsWith(QLatin1String("--"))) {
            const QString name = a.mid(2);
            if (!known.contains(name)) {
                o.error = QStringLiteral("unknown option %1").arg(a);
                return o;
            }
            if (i + 1 >= args.size()) {
                o.error = QStringLiteral("%1 needs a value").arg(a);
                return o;
            }
            if (o.value(name)) {
                o.error = QStringLiteral("%1 given twice").arg(a);
                return o;
            }
            o.named.emplace_back(name, args[++i]);
            continue;
        }
        o.positional << a;
    }
    return o;
}

int cmdPost(const QStringList& args)
{
    const TOptions o = parseOptions(args, {QStringLiteral("type"), QStringLiteral("level"), QStringLiteral("time")});
    if (!o.error.isEmpty()) {
        return usageError(o.error);
    }
    const auto typeText = o.value(QStringLiteral("type"));
    const auto levelText = o.value(QStringLiteral("level"));
    if (!typeText || !levelText) {
        return usageError(QStringLiteral("post needs --type and --level"));
    }
    const auto type = parseInt(*typeText, INT32_MIN, INT32_MAX);
    if (!type) {
        return usageError(QStringLiteral("--type must be a whole number, not \"%1\"").arg(*typeText));
    }
    const auto level = parseInt(*levelText, 0, 0x7FFF);
    if (!level) {
        return usageError(QStringLiteral("--level must be 0..32767, not \"%1\"").arg(*levelText));
    }
    std::optional<QorvaneSystemTime> time;
    if (const auto timeText = o.value(QStringLiteral("time"))) {
        time = parseTime(*timeText);
        if (!time) {
            return usageError(
                QStringLiteral("--time must be \"yyyy-MM-dd hh:mm:ss[.zzz]\", not \"%1\"").arg(*timeText));
        }
    }
    if (o.positional.size() != 1) {
        return usageError(QStringLiteral("post needs exactly one TEXT"));
    }
    const QByteArray text = Gbk::encode(o.positional.first());
    if (text.contains('\0')) {
        return usageError(QStringLiteral("TEXT must not contain NUL"));
    }
    if (const int32_t rc = openLibrary(); rc != 0) {
        return libraryError("InitLogLibrary", rc);
    }
    const int32_t pos = PostEvent(int32_t(*type), int32_t(*level), text.constData(), time ? &*time : nullptr);
    if (pos < 0) {
        return postError(pos);
    }
    if (text.size() > 255) {
        fprintf(stderr, "qorslog: the text was cut to %zu bytes\n", Gbk::fitLength(text, 255));
    }
    printf("%d\n", pos);
    ExitLogLibrary();
    return ExitOk;
}

int cmdPos(const QStringList& args)
{
    if (!args.isEmpty()) {
        return usageError(QStringLiteral("pos takes no arguments"));
    }
    if (const int32_t rc = openLibrary(); rc != 0) {
        return libraryError("InitLogLibrary", rc);
    }
    int32_t pos = 0;
    if (!GetEventWritePos(&pos)) {
        return libraryError("GetEventWritePos", ringErrorCode());
    }
    printf("%d\n", pos);
    ExitLogLibrary();
    return ExitOk;
}

QString eventLine(int32_t pos, const EventRecord& r)
{
    QorvaneSystemTime t{};
    SystemTimeFromSeconds(r.EventTime, &t);
    const QString when = QStringLiteral("%1-%2-%3 %4:%5:%6.%7")
                             .arg(t.wYear, 4, 10, QLatin1Char('0'))
                             .arg(t.wMonth, 2, 10, QLatin1Char('0'))
                             .arg(t.wDay, 2, 10, QLatin1Char('0'))
                             .arg(t.wHour, 2, 10, QLatin1Char('0'))
                             .arg(t.wMinute, 2, 10, QLatin1Char('0'))
                             .arg(t.wSecond, 2, 10, QLatin1Char('0'))
                             .arg(r.EventMsec % 1000, 3, 10, QLatin1Char('0'));
    // One line per event, whatever the text holds.
    QString text = Gbk::fieldText(r.EventText);
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QStringLiteral("%1  %2  type %3  level %4  %5")
        .arg(pos, 4)
        .arg(when)
        .arg(r.EventType)
        .arg(r.EventLevel & 0x7FFF)
        .arg(text);
}

int cmdDump(const QStringList& args)
{
    if (args.size() > 2) {
        return usageError(QStringLiteral("dump takes at most FROM and COUNT"));
    }
    std::optional<qint64> from;
    std::optional<qint64> count;
    if (args.size() >= 1 && !(from = parseInt(args[0], 0, 9998))) {
        return usageError(QStringLiteral("FROM must be 0..9998, not \"%1\"").arg(args[0]));
    }
    if (args.size() == 2 && !(count = parseInt(args[1], 0, QORSLOG_RING_SIZE))) {
        return usageError(QStringLiteral("COUNT must be 0..5000, not \"%1\"").arg(args[1]));
    }
    if (const int32_t rc = openLibrary(); rc != 0) {
        return libraryError("InitLogLibrary", rc);
    }
    int32_t writePos = 0;
    if (!GetEventWritePos(&writePos)) {
        return libraryError("GetEventWritePos", ringErrorCode());
    }
    // Without FROM: the oldest stored event; without COUNT: up to the write position.
    const uint64_t stored = std::min<uint64_t>(GetEventCount(), QORSLOG_RING_SIZE);
    int32_t start =
        from ? int32_t(*from) : int32_t((writePos + QORSLOG_RING_SIZE - int32_t(stored)) % QORSLOG_RING_SIZE);
    int32_t n = 0;
    if (count) {
        n = int32_t(*count);
    } else if (from) {
        n = (writePos - start % QORSLOG_RING_SIZE + QORSLOG_RING_SIZE) % QORSLOG_RING_SIZE;
    } else {
        n = int32_t(stored);
    }
    std::vector<EventRecord> records(size_t(std::max(n, 1)));
    int32_t end = 0;
    if (!ReadEvents(&end, &start, &n, QORSLOG_RING_SIZE, records.data())) {
        return libraryError("ReadEvents", ringErrorCode());
    }
    for (int32_t i = 0; i < n; ++i) {
        printf("%s\n", eventLine((start + i) % QORSLOG_RING_SIZE, records[size_t(i)]).toUtf8().constData());
    }
    ExitLogLibrary();
    return ExitOk;
}

int cmdGenerate(const QStringList& args)
{
    const TOptions o = parseOptions(args, {QStringLiteral("rate"), QStringLiteral("count"), QStringLiteral("seed")});
    if (!o.error.isEmpty()) {
        return usageError(o.error);
    }
    if (!o.positional.isEmpty()) {
        return usageError(QStringLiteral("generate takes no TEXT"));
    }
    const auto rateText = o.value(QStringLiteral("rate"));
    const auto countText = o.value(QStringLiteral("count"));
    if (!rateText || !countText) {
        return usageError(QStringLiteral("generate needs --rate and --count"));
    }
    const auto rate = parseInt(*rateText, 1, 1000000);
    if (!rate) {
        return usageError(QStringLiteral("--rate must be 1..1000000 events per second, not \"%1\"").arg(*rateText));
    }
    const auto count = parseInt(*countText, 0, INT64_MAX);
    if (!count) {
        return usageError(QStringLiteral("--count must be 0 (endless) or more, not \"%1\"").arg(*countText));
    }
    std::optional<qint64> seed;
    if (const auto seedText = o.value(QStringLiteral("seed"));
        seedText && !(seed = parseInt(*seedText, 0, UINT32_MAX))) {
        return usageError(QStringLiteral("--seed must be 0..4294967295"));
    }
    if (const int32_t rc = openLibrary(); rc != 0) {
        return libraryError("InitLogLibrary", rc);
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    TEventGenerator generator = seed ? TEventGenerator(uint32_t(*seed)) : TEventGenerator();
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    qint64 posted = 0;
    while (!g_stop && (*count == 0 || posted < *count)) {
        // Event k is due k/R seconds after the start: a steady rate that does not drift with the work.
        const auto due = begin + std::chrono::nanoseconds(posted * 1000000000LL / *rate);
        std::this_thread::sleep_until(due);
        if (g_stop) {
            break;
        }
        const TGeneratedEvent e = generator.next();
        const int32_t pos = PostEvent(e.Type, e.Level, Gbk::encode(e.Text).constData(), nullptr);
        if (pos < 0) {
            return postError(pos);
        }
        ++posted;
    }
    fprintf(stderr, "qorslog: %lld events posted\n", static_cast<long long>(posted));
    ExitLogLibrary();
    return ExitOk;
}

int cmdWorkDir(const QStringList& args)
{
    if (!args.isEmpty()) {
        return usageError(QStringLiteral("workdir takes no arguments"));
    }
    if (const int32_t rc = openLibrary(); rc != 0) {
        return libraryError("InitLogLibrary", rc);
    }
    char buffer[128] = {};
    GetWorkDir(buffer);
    printf("%s\n", Gbk::decode(buffer, strnlen(buffer, sizeof buffer)).toUtf8().constData());
    ExitLogLibrary();
    return ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString arg = QString::fromUtf8(raw);
        if (arg.toUtf8() != raw) {
            return usageError(QStringLiteral("argument %1 is not valid UTF-8").arg(i));
        }
        args << arg;
    }
    if (args.isEmpty()) {
        return usageError(QStringLiteral("no command"));
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        fputs(Usage, stdout);
        return ExitOk;
    }
    if (command == QLatin1String("post")) {
        return cmdPost(args);
    }
    if (command == QLatin1String("pos")) {
        return cmdPos(args);
    }
    if (command == QLatin1String("dump")) {
        return cmdDump(args);
    }
    if (command == QLatin1String("generate")) {
        return cmdGenerate(args);
    }
    if (command == QLatin1String("workdir")) {
        return cmdWorkDir(args);
    }
    return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
}
