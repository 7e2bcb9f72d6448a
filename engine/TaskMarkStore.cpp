// SPDX-License-Identifier: MIT
#include "TaskMarkStore.h"

#include "GbkCodec.h"
#include "LangTexts.h"
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
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// A file larger than this was not written by the station (a mark entry is at most about 450 bytes).
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

QString kindText(TTaskKind kind)
{
    return GetLangText(
        kind == TTaskKind::Event ? LangText::QorsmailMain_Str::Str37 : LangText::QorsmailMain_Str::Str38);
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
    flush();
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

    for (const TaskMarkFile::Entry& e : *entries) {
        const QString title = Gbk::decode(e.title);
        const QString kind = kindText(e.kind);
        const bool isEvent = e.kind == TTaskKind::Event;
        const int count = isEvent ? m_tables.EventTaskCount() : m_tables.ReportTaskCount();
        if (e.index >= count) {
            m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str2).arg(kind, title));
            continue;
        }
        const TaskMarkFile::Fingerprint now = isEvent ? TaskMarkFile::fingerprintOf(m_tables.EventTasks.task(e.index))
                                                      : TaskMarkFile::fingerprintOf(m_tables.ReportTasks.task(e.index));
        if (now != e.fingerprint) {
            m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str1).arg(kind, title));
            continue;
        }
        int32_t retries = 0;
        uint64_t serial = 0;
        if (isEvent) {
            // The ring must still hold the first event: otherwise the range now lists other events.
            const auto first = readFirstEvent(m_log, e.eventState.FirstPos);
            if (!first || first->time != e.first.time || first->msec != e.first.msec || first->text != e.first.text) {
                m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str3).arg(kind, title));
                continue;
            }
            m_tables.EventTasks.state(e.index) = e.eventState;
            retries = e.eventState.RetryCount;
            serial = m_tables.EventTasks.serial(e.index);
        } else {
            m_tables.ReportTasks.state(e.index) = e.reportState;
            retries = e.reportState.RetryCount;
            serial = m_tables.ReportTasks.serial(e.index);
        }
        marks(e.kind)[serial] = TMark{serial, e};
        m_writeLogLine(GetLangText(LangText::TaskMarkStore_Str::Str0).arg(kind, title, QString::number(retries)));
    }
    // The file is written anew without the dropped marks at the next turn of the event loop.
    changed();
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
        QRandomGenerator::system()->generate(e.mailId.begin(), e.mailId.end());
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
        m_wake.notify_all();
    }
}

bool TTaskMarkStore::writeFile(const QByteArray& bytes, QString& error) const
{
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray temp = path + ".tmp";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
