// SPDX-License-Identifier: MIT
#include "TaskMarkStore.h"

#include "GbkCodec.h"
#include "LangTexts.h"
#include "LocalTime.h"
#include "MLEngine.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// A file larger than this was not written by the station (a mark entry is at most about 450 bytes).
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;
constexpr int MaxDropLines = 20;

// The kind of mail inside a sentence; in Chinese the name of the tree's root.
QString kindText(TTaskKind kind)
{
    using namespace LangText;
    return kind == TTaskKind::Event ? GetLangText(Format_Str::Str26, GetLangText(QorsmailMain_Str::Str37))
                                    : GetLangText(Format_Str::Str27, GetLangText(QorsmailMain_Str::Str38));
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sameMark(const TaskMarkFile::Entry& e, const TEventTaskState& s)
{
    return e.eventState.FirstPos == s.FirstPos
        && std::memcmp(&e.eventState.TriggerTime, &s.TriggerTime, sizeof s.TriggerTime) == 0;
}

bool sameMark(const TaskMarkFile::Entry& e, const TReportTaskState& s)
{
    return std::memcmp(&e.reportState.DueTime, &s.DueTime, sizeof s.DueTime) == 0;
}

// The first event of an event mark's range as the ring holds it now; nothing when it cannot be read.
std::optional<TaskMarkFile::FirstEvent> readFirstEvent(TLogLibrary& log, int32_t position)
{
    EventRecord record{};
    int32_t scratchEnd = 0;
    int32_t start = position;
    int32_t count = 1;
    if (!log.ReadEvents(scratchEnd, start, count, EventRingSize, &record) || count != 1) {
        return std::nullopt;
    }
    return TaskMarkFile::FirstEvent{record.EventTime, record.EventMsec, Gbk::fieldBytes(record.EventText)};
}

} // namespace

TTaskMarkStore::TTaskMarkStore(
    TMailTables& tables, TLogLibrary& log, std::function<void(const QString&)> writeLogLine, QObject* parent)
    : QObject(parent)
    , m_tables(tables)
    , m_log(log)
    , m_writeLogLine(std::move(writeLogLine))
{
}

TTaskMarkStore::~TTaskMarkStore()
{
    Close();
}

void TTaskMarkStore::Close()
{
    if (!m_writer.joinable()) {
        return;
    }
    // The last write at exit has no later turn of the event loop to report it: a failure is told here.
    if (!flush() && !m_writeFailing) {
        QString error;
        {
            const std::lock_guard lock(m_mutex);
            error = m_lastError;
        }
        m_writeFailing = true;
        m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str6).arg(m_path, error));
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_writer.join();
    m_path.clear();
}

void TTaskMarkStore::Open(const QString& path)
{
    if (path.isEmpty() || m_writer.joinable()) {
        return;
    }
    m_path = path;
    Restore();
    m_writer = std::thread([this] { writerLoop(); });
}

void TTaskMarkStore::Restore()
{
    QFile::remove(m_path + QStringLiteral(".tmp")); // a write that a crash cut short
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink()) {
        return;
    }
    QFile file(m_path);
    if (!info.isFile() || info.size() > MaxFileSize || !file.open(QIODevice::ReadOnly)) {
        setAside(info.isFile() && info.size() <= MaxFileSize ? file.errorString() : QStringLiteral("not a mark file"));
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    QString why;
    const auto entries = TaskMarkFile::decode(bytes, &why);
    if (!entries) {
        setAside(why);
        return;
    }

    // Matches by record first at the mark's own index, then anywhere (a lower task deleted moves the rest up),
    // each task taken once; a mark whose record is nowhere is of a task edited (its title is still there) or
    // deleted.
    std::vector<int> at(entries->size(), -1);
    std::set<std::pair<TTaskKind, int>> taken;
    for (size_t n = 0; n < entries->size(); ++n) {
        const TaskMarkFile::Entry& e = (*entries)[n];
        if (e.index < taskCount(e.kind) && fingerprintAt(e.kind, e.index) == e.fingerprint) {
            at[n] = e.index;
            taken.insert({e.kind, e.index});
        }
    }
    for (size_t n = 0; n < entries->size(); ++n) {
        const TaskMarkFile::Entry& e = (*entries)[n];
        for (int i = 0; at[n] < 0 && i < taskCount(e.kind); ++i) {
            if (taken.count({e.kind, i}) == 0 && fingerprintAt(e.kind, i) == e.fingerprint) {
                at[n] = i;
                taken.insert({e.kind, i});
            }
        }
    }
    // A ring that cannot be read at start-up (cut, deleted, not readable) cannot tell whether a mark's events are
    // still there: its marks are sent all the same, their mails saying that the events could not be listed.
    uint32_t generation = 0;
    const TRingStatus ring = m_log.GetRingStatus(generation);
    const bool ringGone =
        ring == TRingStatus::Missing || ring == TRingStatus::Damaged || ring == TRingStatus::Unreadable;
    int dropLines = 0;
    int unlisted = 0;
    auto drop = [&](const QString& line) {
        // A file can hold many marks of tasks long gone: the log tells a few, then how many more.
        if (++dropLines <= MaxDropLines) {
            m_writeLogLine(line);
        } else {
            ++unlisted;
        }
    };
    for (size_t n = 0; n < entries->size(); ++n) {
        TaskMarkFile::Entry e = (*entries)[n];
        const QString title = Gbk::decode(e.title);
        const QString kind = kindText(e.kind);
        const bool isEvent = e.kind == TTaskKind::Event;
        if (at[n] < 0) {
            const bool titled = hasTitle(e.kind, e.title);
            drop(GetLangText(titled ? LangText::TaskMarkStore_Str::Str1 : LangText::TaskMarkStore_Str::Str2)
                     .arg(kind, title));
            continue;
        }
        e.index = at[n];
        int32_t retries = 0;
        uint64_t serial = 0;
        if (isEvent) {
            // The ring must still hold the first event: otherwise the range now lists other events.
            const auto first = ringGone ? std::nullopt : readFirstEvent(m_log, e.eventState.FirstPos);
            if (!ringGone
                && (!first || first->time != e.first.time || first->msec != e.first.msec
                    || first->text != e.first.text)) {
                drop(GetLangText(LangText::TaskMarkStore_Str::Str3).arg(kind, title));
                continue;
            }
            retries = e.eventState.RetryCount;
            adjustForResume(e, kind, title);
            m_tables.EventTasks.state(e.index) = e.eventState;
            serial = m_tables.EventTasks.serial(e.index);
            restoreSpan(serial, e);
        } else {
            retries = e.reportState.RetryCount;
            adjustForResume(e, kind, title);
            m_tables.ReportTasks.state(e.index) = e.reportState;
            serial = m_tables.ReportTasks.serial(e.index);
        }
        marks(e.kind)[serial] = TMark{serial, e};
        m_writeLogLine(
            GetCountText(LangText::TaskMarkStore_Str::Str0, retries).arg(kind, title, QString::number(retries)));
    }
    if (unlisted > 0) {
        m_writeLogLine(GetCountText(LangText::MarkRestore_Str::Str2, unlisted).arg(unlisted));
    }
    // The file is written anew without the dropped marks at the next turn of the event loop.
    changed();
}

int TTaskMarkStore::taskCount(TTaskKind kind) const
{
    return kind == TTaskKind::Event ? m_tables.EventTaskCount() : m_tables.ReportTaskCount();
}

TaskMarkFile::Fingerprint TTaskMarkStore::fingerprintAt(TTaskKind kind, int index) const
{
    return kind == TTaskKind::Event ? TaskMarkFile::fingerprintOf(m_tables.EventTasks.task(index))
                                    : TaskMarkFile::fingerprintOf(m_tables.ReportTasks.task(index));
}

bool TTaskMarkStore::hasTitle(TTaskKind kind, const QByteArray& title) const
{
    for (int i = 0; i < taskCount(kind); ++i) {
        const char(&t)[128] =
            kind == TTaskKind::Event ? m_tables.EventTasks.task(i).Title : m_tables.ReportTasks.task(i).Title;
        if (Gbk::fieldBytes(t).left(127) == title) {
            return true;
        }
    }
    return false;
}

// A mark is resumed whatever its retry count and its time: the file's bounds are all that make one unusable.
// A retry count that reached a MaxSendTries lowered since gets the one more attempt the send loop would have
// made (it gives up when that fails), after the delay the last allowed attempt has. A trigger or due time ahead of the
// clock (a clock behind at start, a dead clock battery before NTP has set the time) would hold the mail back until the
// clock gets there: the time is shown in the log and the wait and the retries count from now.
void TTaskMarkStore::adjustForResume(TaskMarkFile::Entry& e, const QString& kind, const QString& title) const
{
    using namespace LangText::MarkResume_Str;
    const bool isEvent = e.kind == TTaskKind::Event;
    int32_t& retries = isEvent ? e.eventState.RetryCount : e.reportState.RetryCount;
    const int32_t maxTries = m_tables.SmtpSettings.MaxSendTries;
    if (retries > 0 && retries >= maxTries) {
        m_writeLogLine(GetLangText(Str0).arg(kind, title, QString::number(retries), QString::number(maxTries)));
        // No more attempts than the send loop lets a mark make now: the delay before the last one comes first.
        retries = std::max(maxTries, 0);
    }
    if (m_clock == nullptr) {
        return;
    }
    SYSTEMTIME& when = isEvent ? e.eventState.TriggerTime : e.reportState.DueTime;
    const SYSTEMTIME now = m_clock->now();
    if (m_log.SecondsFromSystemTime(when) > m_log.SecondsFromSystemTime(now)) {
        m_writeLogLine(GetLangText(Str1).arg(kind, title, DateTimeText(when), DateTimeText(now)));
        when = now;
    }
}

// The event numbers of a resumed mark, from the ring's count now: its first event is at its position, so it is
// the newest event that position held. The range keeps the length the file tells (positions alone cannot tell
// a range longer than the ring).
void TTaskMarkStore::restoreSpan(uint64_t serial, const TaskMarkFile::Entry& e)
{
    int32_t pos = 0;
    uint64_t written = 0;
    if (m_spans == nullptr || !m_log.GetEventWriteState(pos, written)) {
        return;
    }
    const TEventTaskState& s = e.eventState;
    const int32_t first = ((s.FirstPos % EventRingSize) + EventRingSize) % EventRingSize;
    auto between = [](int32_t from, int32_t to) {
        return ((to - from) % EventRingSize + EventRingSize) % EventRingSize;
    };
    const uint64_t back = between(first, pos) == 0 ? uint64_t(EventRingSize) : uint64_t(between(first, pos));
    if (back > written) {
        return;
    }
    const uint64_t length = e.numbered ? e.endNumber - e.firstNumber : uint64_t(between(first, s.EndPos));
    uint32_t generation = 0;
    (void)m_log.GetRingStatus(generation);
    m_spans->set({serial, written - back, written - back + length, false, generation});
}

void TTaskMarkStore::setAside(const QString& reason)
{
    const QString aside =
        m_path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray from = QFile::encodeName(m_path);
    const QByteArray to = QFile::encodeName(aside);
    if (::rename(from.constData(), to.constData()) == 0) {
        m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str4).arg(m_path, reason, aside));
    } else {
        m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str5)
                           .arg(m_path, reason + QStringLiteral(", ") + errnoText(errno)));
    }
}

void TTaskMarkStore::followTaskState(TTaskKind kind, int index)
{
    if (index < 0) {
        followAll(kind);
    } else {
        followOne(kind, index);
    }
    changed();
}

void TTaskMarkStore::followOne(TTaskKind kind, int index)
{
    const bool isEvent = kind == TTaskKind::Event;
    const int count = isEvent ? m_tables.EventTaskCount() : m_tables.ReportTaskCount();
    if (index >= count) {
        return;
    }
    TMarks& map = marks(kind);
    const uint64_t serial = isEvent ? m_tables.EventTasks.serial(index) : m_tables.ReportTasks.serial(index);
    const int32_t state = isEvent ? m_tables.EventTasks.state(index).State : m_tables.ReportTasks.state(index).State;
    if (state == 0) {
        map.erase(serial);
        return;
    }
    auto it = map.find(serial);
    const bool same = it != map.end()
        && (isEvent ? sameMark(it->second.entry, m_tables.EventTasks.state(index))
                    : sameMark(it->second.entry, m_tables.ReportTasks.state(index)));
    if (!same) {
        // A new mark: its own mail identity, and what tells after a restart whether it still applies.
        TMark mark;
        mark.serial = serial;
        TaskMarkFile::Entry& e = mark.entry;
        e.kind = kind;
        // From the securely seeded generator, not the system one: the identity has to be unique, not secret,
        // and the system source costs microseconds a call where the processor's seed instruction backs it,
        // which a tick marking thousands of tasks would feel.
        QRandomGenerator::global()->generate(e.mailId.begin(), e.mailId.end());
        if (isEvent) {
            const TEventMailTask& task = m_tables.EventTasks.task(index);
            e.fingerprint = TaskMarkFile::fingerprintOf(task);
            e.title = Gbk::fieldBytes(task.Title).left(127);
            e.first =
                readFirstEvent(m_log, m_tables.EventTasks.state(index).FirstPos).value_or(TaskMarkFile::FirstEvent{});
        } else {
            const TReportMailTask& task = m_tables.ReportTasks.task(index);
            e.fingerprint = TaskMarkFile::fingerprintOf(task);
            e.title = Gbk::fieldBytes(task.Title).left(127);
        }
        it = map.insert_or_assign(serial, std::move(mark)).first;
    }
    TaskMarkFile::Entry& e = it->second.entry;
    e.index = index;
    if (isEvent) {
        e.eventState = m_tables.EventTasks.state(index);
        const TMarkSpan* span = m_spans != nullptr ? m_spans->find(serial) : nullptr;
        // Numbers of a range that began in a ring file since replaced say nothing about the ring after a restart.
        e.numbered = span != nullptr && !span->OldRing && span->EarlierRing == 0;
        e.firstNumber = e.numbered ? span->First : 0;
        e.endNumber = e.numbered ? span->End : 0;
    } else {
        e.reportState = m_tables.ReportTasks.state(index);
    }
}

void TTaskMarkStore::followAll(TTaskKind kind)
{
    const bool isEvent = kind == TTaskKind::Event;
    const int count = isEvent ? m_tables.EventTaskCount() : m_tables.ReportTaskCount();
    std::unordered_set<uint64_t> present;
    for (int i = 0; i < count; ++i) {
        present.insert(isEvent ? m_tables.EventTasks.serial(i) : m_tables.ReportTasks.serial(i));
        followOne(kind, i);
    }
    TMarks& map = marks(kind);
    for (auto it = map.begin(); it != map.end();) {
        it = present.count(it->first) != 0 ? std::next(it) : map.erase(it);
    }
}

QByteArray TTaskMarkStore::mailId(TTaskKind kind, int index)
{
    const bool isEvent = kind == TTaskKind::Event;
    if (index < 0 || index >= (isEvent ? m_tables.EventTaskCount() : m_tables.ReportTaskCount())) {
        return {};
    }
    const uint64_t serial = isEvent ? m_tables.EventTasks.serial(index) : m_tables.ReportTasks.serial(index);
    TMarks& map = marks(kind);
    if (map.find(serial) == map.end()) {
        followOne(kind, index); // a mark nobody reported (set directly by a test or a tool)
        changed();
    }
    const auto it = map.find(serial);
    if (it == map.end()) {
        return {};
    }
    const auto& id = it->second.entry.mailId;
    return QByteArray(reinterpret_cast<const char*>(id.data()), static_cast<qsizetype>(id.size()));
}

void TTaskMarkStore::changed()
{
    if (m_path.isEmpty() || m_writeQueued) {
        return;
    }
    // Every change of this event (a tick may mark a hundred tasks) goes into one write, after the handler.
    m_writeQueued = true;
    QTimer::singleShot(0, this, &TTaskMarkStore::queueWrite);
}

void TTaskMarkStore::queueWrite()
{
    if (!m_writeQueued || m_path.isEmpty()) {
        return;
    }
    m_writeQueued = false;
    std::vector<TaskMarkFile::Entry> entries;
    entries.reserve(m_eventMarks.size() + m_reportMarks.size());
    for (TTaskKind kind : {TTaskKind::Event, TTaskKind::Report}) {
        TMarks& map = marks(kind);
        const bool isEvent = kind == TTaskKind::Event;
        for (auto it = map.begin(); it != map.end();) {
            TaskMarkFile::Entry& e = it->second.entry;
            // A table change that was not reported moved or removed the task: find it by its serial.
            const int count = isEvent ? m_tables.EventTaskCount() : m_tables.ReportTaskCount();
            if (e.index >= count
                || (isEvent ? m_tables.EventTasks.serial(e.index) : m_tables.ReportTasks.serial(e.index))
                    != it->first) {
                e.index = isEvent ? m_tables.EventTasks.indexOfSerial(it->first)
                                  : m_tables.ReportTasks.indexOfSerial(it->first);
                if (e.index < 0) {
                    it = map.erase(it);
                    continue;
                }
            }
            entries.push_back(e);
            ++it;
        }
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
    });
    QByteArray bytes = TaskMarkFile::encode(entries);
    {
        const std::lock_guard lock(m_mutex);
        m_pending = std::move(bytes);
        ++m_queued;
    }
    m_wake.notify_all();
}

uint64_t TTaskMarkStore::writesQueued()
{
    const std::lock_guard lock(m_mutex);
    return m_queued;
}

bool TTaskMarkStore::flush()
{
    if (!m_writer.joinable()) {
        return true;
    }
    queueWrite();
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_written >= m_queued; });
    return m_lastOk;
}

void TTaskMarkStore::writerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_written < m_queued; });
        if (m_written >= m_queued) {
            return; // stopping, nothing left to write
        }
        // Only the newest set counts: sets queued meanwhile are replaced, never written in between.
        const uint64_t generation = m_queued;
        const QByteArray bytes = std::move(m_pending);
        m_pending.clear();
        lock.unlock();
        QString error;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = writeFile(bytes, error);
        m_lastWriteNs.store(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
        QMetaObject::invokeMethod(
            this, [this, ok, error] { reportWriteResult(ok, error); }, Qt::QueuedConnection);
        lock.lock();
        m_written = generation;
        m_lastOk = ok;
        m_lastError = error;
        m_wake.notify_all();
    }
}

bool TTaskMarkStore::writeFile(const QByteArray& bytes, QString& error) const
{
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray temp = path + ".tmp";
    // Made anew, never through a link someone put at the name: a leftover is removed (not followed) first.
    constexpr int Flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(temp.constData(), Flags, 0600);
    if (fd < 0 && errno == EEXIST && ::unlink(temp.constData()) == 0) {
        fd = ::open(temp.constData(), Flags, 0600);
    }
    if (fd < 0) {
        error = errnoText(errno);
        return false;
    }
    const char* p = bytes.constData();
    auto left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = errnoText(n < 0 ? errno : EIO);
            ::close(fd);
            ::unlink(temp.constData());
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    // On disk before the rename, so the name never points at a file that a power loss leaves empty.
    if (::fsync(fd) != 0) {
        error = errnoText(errno);
        ::close(fd);
        ::unlink(temp.constData());
        return false;
    }
    ::close(fd);
    if (::rename(temp.constData(), path.constData()) != 0) {
        error = errnoText(errno);
        ::unlink(temp.constData());
        return false;
    }
    // And the rename itself on disk.
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray dir = slash > 0 ? path.left(slash) : QByteArray(".");
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void TTaskMarkStore::reportWriteResult(bool ok, const QString& error)
{
    if (ok) {
        m_writeFailing = false;
    } else if (!m_writeFailing) {
        m_writeFailing = true;
        m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str6).arg(m_path, error));
    }
}
