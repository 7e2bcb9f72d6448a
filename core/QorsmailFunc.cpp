// SPDX-License-Identifier: MIT
#include "QorsmailFunc.h"

#include "GbkCodec.h"
#include "GbkText.h"
#include "NormalFunction.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// What a read may assume of the storage it fills.
enum class TTarget
{
    Any,
    Zero, // zero bytes in fresh storage (TTaskTable::resizeForRead)
};

// Copies into storage that is zero already: a page of it whose bytes would all stay zero is not written, so
// it is never touched and costs no memory.
void copyIntoZero(char* dst, const char* src, int64_t n)
{
    constexpr int64_t Page = 4096;
    static const char zeros[Page] = {};
    while (n > 0) {
        const auto offset = static_cast<int64_t>(reinterpret_cast<uintptr_t>(dst) % Page);
        const int64_t len = std::min(n, Page - offset);
        if (std::memcmp(src, zeros, static_cast<size_t>(len)) != 0) {
            std::memcpy(dst, src, static_cast<size_t>(len));
        }
        dst += len;
        src += len;
        n -= len;
    }
}

// Where the reader takes its bytes from: the task file through the file helpers, or a block in memory. Both
// know how many bytes remain, so a count can be checked against the file before anything is allocated.
class TFileSource
{
public:
    TFileSource(int32_t handle, const TTaskFileBytesSeen& seen)
        : m_handle(handle)
        , m_seen(seen)
    {
        const int64_t end = LSeekFile(m_handle, 0, 2);
        m_size = end < 0 ? 0 : end;
        if (LSeekFile(m_handle, 0, 0) != 0) {
            m_size = 0;
        }
    }
    // Bytes that arrived, or -1 on a read error.
    int64_t read(void* dst, int64_t n, TTarget target = TTarget::Any)
    {
        if (n > Block || target == TTarget::Zero) {
            const int64_t got = readThroughBlock(static_cast<char*>(dst), n, target);
            m_pos += std::max<int64_t>(got, 0);
            return got;
        }
        const int64_t got = LReadFile(m_handle, dst, n);
        if (got > 0) {
            m_pos += got;
            if (m_seen) {
                m_seen(static_cast<const char*>(dst), got);
            }
        }
        return got;
    }
    int64_t pos() const { return m_pos; }
    int64_t remaining() const { return m_size > m_pos ? m_size - m_pos : 0; }
    int64_t size() const { return m_size; }

private:
    static constexpr int64_t Block = 256 << 10; // stays in the core's cache between the read and the copy

    // A table (17 MB at 2000 tasks) lands in fresh memory. Read straight into it, each new page faults inside
    // the read, where the kernel takes the whole address space's lock for it: the window thread, loading its
    // libraries meanwhile, then waits, and the read is slower too. Copied from a block in user space, the
    // pages fault without that lock, and pages that stay zero need not be written at all.
    int64_t readThroughBlock(char* dst, int64_t n, TTarget target)
    {
        if (!m_block) {
            m_block = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(Block));
        }
        int64_t done = 0;
        while (done < n) {
            const int64_t want = std::min(n - done, Block);
            const int64_t got = LReadFile(m_handle, m_block.get(), want);
            if (got < 0) {
                return done > 0 ? done : -1;
            }
            if (m_seen && got > 0) {
                m_seen(m_block.get(), got); // from the block, which is in the cache; the target may be sparse
            }
            if (target == TTarget::Zero) {
                copyIntoZero(dst + done, m_block.get(), got);
            } else {
                std::memcpy(dst + done, m_block.get(), static_cast<size_t>(got));
            }
            done += got;
            if (got < want) {
                break;
            }
        }
        return done;
    }

    int32_t m_handle;
    const TTaskFileBytesSeen& m_seen;
    std::unique_ptr<char[]> m_block;
    int64_t m_size = 0;
    int64_t m_pos = 0;
};

class TMemorySource
{
public:
    explicit TMemorySource(const QByteArray& bytes)
        : m_data(bytes.constData())
        , m_size(bytes.size())
    {
    }
    int64_t read(void* dst, int64_t n, TTarget target = TTarget::Any)
    {
        const int64_t got = std::min(n, remaining());
        if (got > 0) {
            if (target == TTarget::Zero) {
                copyIntoZero(static_cast<char*>(dst), m_data + m_pos, got);
            } else {
                std::memcpy(dst, m_data + m_pos, static_cast<size_t>(got));
            }
            m_pos += got;
        }
        return got;
    }
    int64_t pos() const { return m_pos; }
    int64_t remaining() const { return m_size - m_pos; }
    int64_t size() const { return m_size; }

private:
    const char* m_data;
    int64_t m_size;
    int64_t m_pos = 0;
};

template <class Source>
class TTaskFileReader
{
public:
    TTaskFileReader(TMailTables& tables, Source& source, QString* error)
        : m_tables(tables)
        , m_src(source)
        , m_error(error)
    {
    }

    bool run()
    {
        int32_t version = 0;
        const int64_t start = m_src.pos();
        const int64_t got = m_src.read(&version, sizeof(version));
        if (got < 0) {
            return readError();
        }
        if (got < static_cast<int64_t>(sizeof(version))) {
            return fail(
                QStringLiteral("the version field is cut short at byte %1").arg(start + std::max<int64_t>(got, 0)));
        }
        if (version != TaskFileVersion) {
            return fail(QStringLiteral("the version field holds %1, not %2").arg(version).arg(TaskFileVersion));
        }

        // The settings go straight into the table: when the block is short the bytes that arrived stay there.
        const int64_t settings = m_src.read(&m_tables.SmtpSettings, sizeof(TSmtpSettings));
        if (settings < 0) {
            return readError();
        }
        if (settings < static_cast<int64_t>(sizeof(TSmtpSettings))) {
            return fail(QStringLiteral("the SMTP settings block is cut short at byte %1 (%2 of %3 bytes)")
                            .arg(m_src.pos())
                            .arg(settings)
                            .arg(sizeof(TSmtpSettings)));
        }

        int32_t count = 0;
        if (!readCount(QStringLiteral("address book"), count)) {
            if (count < 0) {
                m_tables.AddrBook.clear();
            }
            return false;
        }
        {
            const int64_t whole = wholeRecords(count, sizeof(TMailAddr));
            m_tables.AddrBook.assign(static_cast<size_t>(whole), TMailAddr{});
            const int64_t n = readRecords(m_tables.AddrBook.data(), whole, sizeof(TMailAddr));
            if (n < whole) {
                m_tables.AddrBook.resize(static_cast<size_t>(n));
            }
            if (n < count) {
                return cutShort(QStringLiteral("address book entry"), n, count);
            }
        }

        if (!readCount(QStringLiteral("event task"), count)) {
            if (count < 0) {
                m_tables.EventTasks.clear();
            }
            return false;
        }
        if (!readTable(m_tables.EventTasks, count, QStringLiteral("event task"))) {
            return false;
        }

        if (!readCount(QStringLiteral("report task"), count)) {
            if (count < 0) {
                m_tables.ReportTasks.clear();
            }
            return false;
        }
        return readTable(m_tables.ReportTasks, count, QStringLiteral("report task"));
    }

private:
    bool fail(const QString& message)
    {
        if (m_error) {
            *m_error = message;
        }
        return false;
    }

    bool readError() { return fail(QStringLiteral("the file could not be read at byte %1").arg(m_src.pos())); }

    // A count field; false when it is cut short or negative (count is then the value read, or 0).
    bool readCount(const QString& what, int32_t& count)
    {
        count = 0;
        const int64_t at = m_src.pos();
        const int64_t got = m_src.read(&count, sizeof(count));
        if (got < 0) {
            count = 0;
            return readError();
        }
        if (got < static_cast<int64_t>(sizeof(count))) {
            count = 0;
            return fail(QStringLiteral("the %1 count is cut short at byte %2").arg(what).arg(m_src.pos()));
        }
        if (count < 0) {
            return fail(QStringLiteral("the %1 count at byte %2 is negative (%3)").arg(what).arg(at).arg(count));
        }
        return true;
    }

    // How many of `count` records the remaining bytes hold in whole: a count far beyond the file never makes
    // the table allocate more than the file can fill.
    int64_t wholeRecords(int32_t count, size_t recordSize) const
    {
        return std::min<int64_t>(count, m_src.remaining() / static_cast<int64_t>(recordSize));
    }

    // Reads up to n records into dst; returns the number that arrived in whole.
    int64_t readRecords(void* dst, int64_t n, size_t recordSize, TTarget target = TTarget::Any)
    {
        if (n <= 0) {
            return 0;
        }
        const int64_t got = m_src.read(dst, n * static_cast<int64_t>(recordSize), target);
        if (got < 0) {
            return 0;
        }
        return got / static_cast<int64_t>(recordSize);
    }

    bool cutShort(const QString& what, int64_t whole, int32_t count)
    {
        return fail(QStringLiteral("%1 %2 of %3 is cut short at byte %4")
                        .arg(what)
                        .arg(whole + 1)
                        .arg(count)
                        .arg(m_src.pos() + m_src.remaining()));
    }

    template <class Table>
    bool readTable(Table& table, int32_t count, const QString& what)
    {
        using Task = std::remove_reference_t<decltype(table.task(0))>;
        const int64_t whole = wholeRecords(count, sizeof(Task));
        table.resizeForRead(static_cast<int>(whole));
        const int64_t n = readRecords(table.taskData(), whole, sizeof(Task), TTarget::Zero);
        table.shrinkTo(static_cast<int>(n));
        if (n < count) {
            return cutShort(what, n, count);
        }
        return true;
    }

    TMailTables& m_tables;
    Source& m_src;
    QString* m_error;
};

constexpr qsizetype FieldTextLimit = static_cast<qsizetype>(sizeof(TMailAddr::Name)) - 1;

} // namespace

void SetTaskDefaults(TMailTables& tables)
{
    TSmtpSettings& s = tables.SmtpSettings;
    const int32_t maxSendTries = s.MaxSendTries;
    s = TSmtpSettings{};
    s.smtpport = 25;
    s.NeedAuth = 0;
    s.WaitSeconds = 60;
    s.MaxSendTries = maxSendTries;
    tables.UseSSL = 0;
    tables.StartTLS = 0;
    tables.CAFile.clear();
    tables.Station = TStationSettings{};
    tables.AddrBook.clear();
    tables.EventTasks.clear();
    tables.ReportTasks.clear();
}

bool LoadTaskFile(TMailTables& tables, QString* error)
{
    return LoadTaskFileFrom(tables, tables.workDirPath() + QStringLiteral("CfgCache/") + tables.TaskFileName, error);
}

bool LoadTaskFileFrom(TMailTables& tables, const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        if (error) {
            *error = QStringLiteral("there is no task file at %1").arg(path);
        }
        return false;
    }
    QString why;
    int32_t handle = OpenRegularFileShared(path, &why);
    if (handle <= 0) {
        if (error) {
            *error = QStringLiteral("the task file %1 could not be opened: it %2").arg(path, why);
        }
        return false;
    }
    const bool ok = LoadTaskFileFromHandle(tables, handle, error);
    LCloseFile(handle);
    return ok;
}

bool LoadTaskFileFromHandle(TMailTables& tables, int32_t handle, QString* error, const TTaskFileBytesSeen& seen)
{
    TFileSource source(handle, seen);
    TTaskFileReader<TFileSource> reader(tables, source, error);
    return reader.run();
}

bool LoadTaskFileBytes(TMailTables& tables, const QByteArray& bytes, QString* error)
{
    TMemorySource source(bytes);
    TTaskFileReader<TMemorySource> reader(tables, source, error);
    return reader.run();
}

qsizetype TaskFileByteSize(const TMailTables& tables)
{
    return static_cast<qsizetype>(sizeof(TaskFileVersion) + sizeof(TSmtpSettings) + 3 * sizeof(int32_t)
        + static_cast<size_t>(tables.AddrBookCount()) * sizeof(TMailAddr)
        + static_cast<size_t>(tables.EventTaskCount()) * sizeof(TEventMailTask)
        + static_cast<size_t>(tables.ReportTaskCount()) * sizeof(TReportMailTask));
}

QByteArray TaskFileBytes(const TMailTables& tables)
{
    const int32_t addrCount = tables.AddrBookCount();
    const int32_t eventCount = tables.EventTaskCount();
    const int32_t reportCount = tables.ReportTaskCount();
    QByteArray out;
    out.reserve(TaskFileByteSize(tables));
    auto put = [&out](const void* p, size_t n) { out.append(static_cast<const char*>(p), static_cast<qsizetype>(n)); };
    put(&TaskFileVersion, sizeof(TaskFileVersion));
    put(&tables.SmtpSettings, sizeof(TSmtpSettings));
    put(&addrCount, sizeof(addrCount));
    put(tables.AddrBook.data(), tables.AddrBook.size() * sizeof(TMailAddr));
    put(&eventCount, sizeof(eventCount));
    for (int i = 0; i < eventCount; ++i) {
        put(&tables.EventTasks.task(i), sizeof(TEventMailTask));
    }
    put(&reportCount, sizeof(reportCount));
    for (int i = 0; i < reportCount; ++i) {
        put(&tables.ReportTasks.task(i), sizeof(TReportMailTask));
    }
    return out;
}

void FreeTaskTables(TMailTables& tables)
{
    tables.AddrBook.clear();
    tables.AddrBook.shrink_to_fit();
    tables.EventTasks.clear();
    tables.ReportTasks.clear();
}

int ParseRecipients(
    const TMailTables& tables, TMailAddr (&dest)[MaxReceivers], int highestLine, const QStringList& lines)
{
    // Parsed into a copy first, so a refused text leaves the caller's list as it was.
    TMailAddr parsed[MaxReceivers] = {};
    int stored = 0;
    const qsizetype last = std::min<qsizetype>(highestLine, lines.size() - 1);
    for (qsizetype i = 0; i <= last && stored < MaxReceivers; ++i) {
        const QByteArray line = TrimBlanks(Gbk::encode(lines.at(i)));
        if (line.isEmpty()) {
            continue;
        }
        // A field holds 39 bytes; a longer line cannot be stored whole, and a cut address would be a
        // different address.
        if (line.size() > FieldTextLimit || line.contains('\0')) {
            return -1;
        }
        TMailAddr& entry = parsed[stored];
        if (Gbk::containsChar(line, '@')) {
            if (TextBeforeChar(line, '@').isEmpty() || TextAfterChar(line, '@').isEmpty()) {
                return -1;
            }
            Gbk::storeFieldBytes(entry.Addr, line);
        } else {
            const QByteArray addr = FindAddrByNameBytes(tables, line);
            if (addr.isEmpty() || addr.size() > FieldTextLimit) {
                return -1;
            }
            Gbk::storeFieldBytes(entry.Name, line);
            Gbk::storeFieldBytes(entry.Addr, addr);
        }
        ++stored;
    }
    std::memcpy(dest, parsed, sizeof(parsed));
    return stored;
}

QString FindAddrByName(const TMailTables& tables, const QString& name)
{
    return Gbk::decode(FindAddrByNameBytes(tables, Gbk::encode(name)));
}

QByteArray FindAddrByNameBytes(const TMailTables& tables, const QByteArray& nameGbk)
{
    for (const TMailAddr& entry : tables.AddrBook) {
        if (Gbk::equalFoldAscii(Gbk::fieldBytes(entry.Name), nameGbk)) {
            return Gbk::fieldBytes(entry.Addr);
        }
    }
    return {};
}
