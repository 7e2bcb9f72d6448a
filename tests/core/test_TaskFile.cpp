// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "QorsmailDef.h"
#include "QorsmailFunc.h"
#include "TaskFileStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr qsizetype HeaderSize = 4 + sizeof(TSmtpSettings);

TMailAddr makeAddr(const char* name, const char* addr)
{
    TMailAddr a{};
    Gbk::storeField(a.Name, QString::fromUtf8(name));
    Gbk::storeField(a.Addr, QString::fromUtf8(addr));
    return a;
}

TEventMailTask makeEvent(int seed)
{
    TEventMailTask t{};
    t.Reserved = static_cast<uint8_t>(seed);
    t.TypeCount = 2;
    t.Types[0] = 1;
    t.Types[1] = 20;
    Gbk::storeField(t.Keyword, QStringLiteral("越限"));
    t.LevelMask = -1;
    t.WaitSec = 60 + seed;
    t.ReceiverCount = 1;
    t.Receivers[0] = makeAddr("值班员", "duty@plant.example");
    Gbk::storeField(t.Title, QStringLiteral("事件 %1").arg(seed));
    return t;
}

TReportMailTask makeReport(int seed)
{
    TReportMailTask t{};
    t.FileCount = 1;
    Gbk::storeField(t.Files[0], QStringLiteral("/srv/报表/日报%1.xls").arg(seed));
    t.SendType = 1;
    t.SendTime.wHour = 7;
    t.SendTime.wMinute = static_cast<uint16_t>(seed);
    t.ReceiverCount = 1;
    t.Receivers[0] = makeAddr("", "boss@plant.example");
    Gbk::storeField(t.Title, QStringLiteral("日报 %1").arg(seed));
    return t;
}

// A file with two entries in every section, written through the same layout the configuration tool uses.
TMailTables sampleTables()
{
    TMailTables t;
    SetTaskDefaults(t);
    Gbk::storeField(t.SmtpSettings.smtpaddr, QStringLiteral("mail.plant.example"));
    t.SmtpSettings.smtpport = 2525;
    t.SmtpSettings.MaxSendTries = 3;
    t.AddrBook = {makeAddr("张三", "zhang@plant.example"), makeAddr("Li Si", "li@plant.example")};
    t.EventTasks.append(makeEvent(1));
    t.EventTasks.append(makeEvent(2));
    t.ReportTasks.append(makeReport(1));
    t.ReportTasks.append(makeReport(2));
    return t;
}

QByteArray int32Bytes(int32_t v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), sizeof(v));
}

QByteArray minimalFile()
{
    TMailTables t;
    SetTaskDefaults(t);
    return TaskFileBytes(t);
}

bool sameSettings(const TSmtpSettings& a, const TSmtpSettings& b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(TaskFile, MinimalFileLoadsEmptyTables)
{
    const QByteArray bytes = minimalFile();
    ASSERT_EQ(bytes.size(), 189);
    TMailTables t;
    SetTaskDefaults(t);
    t.AddrBook.push_back(makeAddr("old", "old@x"));
    QString error;
    EXPECT_TRUE(LoadTaskFileBytes(t, bytes, &error)) << error.toStdString();
    EXPECT_EQ(t.AddrBookCount(), 0);
    EXPECT_EQ(t.EventTaskCount(), 0);
    EXPECT_EQ(t.ReportTaskCount(), 0);
    EXPECT_EQ(+t.SmtpSettings.smtpport, 25);
    EXPECT_EQ(+t.SmtpSettings.WaitSeconds, 60);
}

TEST(TaskFile, WrongVersionReadsNothingElse)
{
    QByteArray bytes = TaskFileBytes(sampleTables());
    bytes.replace(0, 4, int32Bytes(1999));
    TMailTables t;
    SetTaskDefaults(t);
    const TSmtpSettings defaults = t.SmtpSettings;
    QString error;
    EXPECT_FALSE(LoadTaskFileBytes(t, bytes, &error));
    EXPECT_TRUE(sameSettings(t.SmtpSettings, defaults));
    EXPECT_EQ(t.AddrBookCount(), 0);
    EXPECT_TRUE(error.contains(QStringLiteral("1999"))) << error.toStdString();
}

TEST(TaskFile, FileEndingAfterSettingsKeepsTheSettings)
{
    const TMailTables source = sampleTables();
    const QByteArray bytes = TaskFileBytes(source).left(HeaderSize);
    TMailTables t;
    SetTaskDefaults(t);
    QString error;
    EXPECT_FALSE(LoadTaskFileBytes(t, bytes, &error));
    EXPECT_TRUE(sameSettings(t.SmtpSettings, source.SmtpSettings));
    EXPECT_EQ(+t.SmtpSettings.smtpport, 2525);
    EXPECT_EQ(error, QStringLiteral("the address book count is cut short at byte 177"));
}

TEST(TaskFile, FullFileRoundTripsAndIgnoresTrailingBytes)
{
    const TMailTables source = sampleTables();
    const QByteArray bytes = TaskFileBytes(source);
    TMailTables t;
    SetTaskDefaults(t);
    QString error;
    ASSERT_TRUE(LoadTaskFileBytes(t, bytes + QByteArray(37, '\x5A'), &error)) << error.toStdString();
    EXPECT_EQ(TaskFileBytes(t), bytes);
    ASSERT_EQ(t.EventTaskCount(), 2);
    ASSERT_EQ(t.ReportTaskCount(), 2);
    EXPECT_EQ(Gbk::fieldText(t.EventTasks.task(1).Title), QStringLiteral("事件 2"));
    EXPECT_EQ(Gbk::fieldText(t.ReportTasks.task(0).Files[0]), QStringLiteral("/srv/报表/日报1.xls"));
    // Freshly loaded tasks are idle.
    const TEventTaskState zeroEvent{};
    const TReportTaskState zeroReport{};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(std::memcmp(&t.EventTasks.state(i), &zeroEvent, sizeof(zeroEvent)), 0);
        EXPECT_EQ(std::memcmp(&t.ReportTasks.state(i), &zeroReport, sizeof(zeroReport)), 0);
    }
}

// Where each section of the sample file starts.
struct TLayout
{
    qsizetype addrCount = HeaderSize;
    qsizetype addrData = HeaderSize + 4;
    qsizetype eventCount = addrData + 2 * 80;
    qsizetype eventData = eventCount + 4;
    qsizetype reportCount = eventData + 2 * 8601;
    qsizetype reportData = reportCount + 4;
    qsizetype end = reportData + 2 * 9452;
};

// Whole records of a section of `n` records starting at `data` that a file cut at `size` still holds.
int wholeIn(qsizetype size, qsizetype data, qsizetype recordSize, int n)
{
    if (size < data) {
        return 0;
    }
    return static_cast<int>(std::min<qsizetype>(n, (size - data) / recordSize));
}

TEST(TaskFile, CutAtEveryByteKeepsWholeRecordsAndNamesThePlace)
{
    const TMailTables source = sampleTables();
    const QByteArray full = TaskFileBytes(source);
    const TLayout at;
    ASSERT_EQ(full.size(), at.end);
    TMailTables defaults;
    SetTaskDefaults(defaults);

    for (qsizetype size = 0; size < full.size(); ++size) {
        SCOPED_TRACE(size);
        const QByteArray cut = QByteArray::fromRawData(full.constData(), size);
        TMailTables t;
        SetTaskDefaults(t);
        QString error;
        ASSERT_FALSE(LoadTaskFileBytes(t, cut, &error));
        ASSERT_FALSE(error.isEmpty());

        // Settings: the bytes that arrived, the defaults after them.
        if (size >= 4) {
            const qsizetype arrived = std::min<qsizetype>(size - 4, sizeof(TSmtpSettings));
            ASSERT_EQ(std::memcmp(&t.SmtpSettings, full.constData() + 4, static_cast<size_t>(arrived)), 0);
            ASSERT_EQ(std::memcmp(reinterpret_cast<const char*>(&t.SmtpSettings) + arrived,
                          reinterpret_cast<const char*>(&defaults.SmtpSettings) + arrived,
                          sizeof(TSmtpSettings) - static_cast<size_t>(arrived)),
                0);
        } else {
            ASSERT_TRUE(sameSettings(t.SmtpSettings, defaults.SmtpSettings));
        }

        const int addr = size >= at.addrData ? wholeIn(size, at.addrData, 80, 2) : 0;
        const int events = size >= at.eventData ? wholeIn(size, at.eventData, 8601, 2) : 0;
        const int reports = size >= at.reportData ? wholeIn(size, at.reportData, 9452, 2) : 0;
        ASSERT_EQ(t.AddrBookCount(), addr);
        ASSERT_EQ(t.EventTaskCount(), events);
        ASSERT_EQ(t.EventTasks.count(), events);
        ASSERT_EQ(t.ReportTaskCount(), reports);
        for (int i = 0; i < addr; ++i) {
            ASSERT_EQ(
                std::memcmp(&t.AddrBook[static_cast<size_t>(i)], &source.AddrBook[static_cast<size_t>(i)], 80), 0);
        }
        for (int i = 0; i < events; ++i) {
            ASSERT_EQ(std::memcmp(&t.EventTasks.task(i), &source.EventTasks.task(i), 8601), 0);
        }
        for (int i = 0; i < reports; ++i) {
            ASSERT_EQ(std::memcmp(&t.ReportTasks.task(i), &source.ReportTasks.task(i), 9452), 0);
        }

        // The message names the section that was cut and, inside a section, the record.
        if (size >= at.reportData) {
            ASSERT_EQ(error, QStringLiteral("report task %1 of 2 is cut short at byte %2").arg(reports + 1).arg(size));
        } else if (size >= at.eventData && size < at.reportCount) {
            ASSERT_EQ(error, QStringLiteral("event task %1 of 2 is cut short at byte %2").arg(events + 1).arg(size));
        } else if (size >= at.addrData && size < at.eventCount) {
            ASSERT_EQ(
                error, QStringLiteral("address book entry %1 of 2 is cut short at byte %2").arg(addr + 1).arg(size));
        } else if (size < 4) {
            ASSERT_TRUE(error.contains(QStringLiteral("version"))) << error.toStdString();
        } else if (size < HeaderSize) {
            ASSERT_TRUE(error.contains(QStringLiteral("SMTP settings"))) << error.toStdString();
        } else {
            ASSERT_TRUE(error.contains(QStringLiteral("count is cut short"))) << error.toStdString();
        }
    }
}

TEST(TaskFile, HugeCountsAllocateOnlyWhatTheFileHolds)
{
    const TMailTables source = sampleTables();
    const TLayout at;
    QByteArray bytes = TaskFileBytes(source).left(at.reportCount);
    // Two event records present, but the count claims 2^31-1.
    bytes.replace(at.eventCount, 4, int32Bytes(INT32_MAX));
    TMailTables t;
    SetTaskDefaults(t);
    QString error;
    EXPECT_FALSE(LoadTaskFileBytes(t, bytes, &error));
    EXPECT_EQ(t.AddrBookCount(), 2);
    EXPECT_EQ(t.EventTaskCount(), 2);
    EXPECT_EQ(error, QStringLiteral("event task 3 of 2147483647 is cut short at byte %1").arg(at.reportCount));

    // An address book of 2^31-1 entries in a file that ends at the count.
    QByteArray book = TaskFileBytes(source).left(at.addrCount) + int32Bytes(INT32_MAX);
    TMailTables u;
    SetTaskDefaults(u);
    EXPECT_FALSE(LoadTaskFileBytes(u, book, &error));
    EXPECT_EQ(u.AddrBookCount(), 0);
    EXPECT_EQ(error, QStringLiteral("address book entry 1 of 2147483647 is cut short at byte 181"));
}

TEST(TaskFile, NegativeCountsFailAndKeepWhatCameBefore)
{
    const TMailTables source = sampleTables();
    const TLayout at;
    const QByteArray full = TaskFileBytes(source);
    struct
    {
        qsizetype offset;
        int addr, events, reports;
        const char* what;
    } cases[] = {{at.addrCount, 0, 0, 0, "address book"},
        {at.eventCount, 2, 0, 0, "event task"},
        {at.reportCount, 2, 2, 0, "report task"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray bytes = full;
        bytes.replace(c.offset, 4, int32Bytes(-5));
        TMailTables t;
        SetTaskDefaults(t);
        QString error;
        EXPECT_FALSE(LoadTaskFileBytes(t, bytes, &error));
        EXPECT_EQ(t.AddrBookCount(), c.addr);
        EXPECT_EQ(t.EventTaskCount(), c.events);
        EXPECT_EQ(t.ReportTaskCount(), c.reports);
        EXPECT_EQ(
            error, QStringLiteral("the %1 count at byte %2 is negative (-5)").arg(QLatin1String(c.what)).arg(c.offset));
    }
}

TEST(TaskFile, CountsInsideRecordsAreKeptAsStored)
{
    TMailTables source = sampleTables();
    source.EventTasks.task(0).TypeCount = 1000;
    source.EventTasks.task(1).ReceiverCount = -7;
    source.ReportTasks.task(0).FileCount = 11;
    source.ReportTasks.task(1).ReceiverCount = 0x7fffffff;
    const QByteArray bytes = TaskFileBytes(source);
    TMailTables t;
    SetTaskDefaults(t);
    ASSERT_TRUE(LoadTaskFileBytes(t, bytes));
    EXPECT_EQ(+t.EventTasks.task(0).TypeCount, 1000);
    EXPECT_EQ(+ClampCount(t.EventTasks.task(0).TypeCount, MaxEventTypes), 100);
    EXPECT_EQ(+ClampCount(t.EventTasks.task(1).ReceiverCount, MaxReceivers), 0);
    EXPECT_EQ(+ClampCount(t.ReportTasks.task(0).FileCount, MaxReportFiles), 10);
    EXPECT_EQ(TaskFileBytes(t), bytes);
}

class TaskFileOnDisk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // A working directory whose name is Chinese: WorkDir holds it in GBK.
        m_work = m_dir.path() + QStringLiteral("/工作目录/");
        ASSERT_TRUE(QDir().mkpath(m_work + QStringLiteral("CfgCache")));
        SetTaskDefaults(m_tables);
        ASSERT_TRUE(Gbk::storeField(m_tables.WorkDir, m_work));
    }

    QString taskPath() const { return m_work + QStringLiteral("CfgCache/qorsmail.cfg"); }

    void write(const QByteArray& bytes)
    {
        QFile f(taskPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    QTemporaryDir m_dir;
    QString m_work;
    TMailTables m_tables;
};

TEST_F(TaskFileOnDisk, LoadsFromWorkDirCfgCache)
{
    const TMailTables source = sampleTables();
    write(TaskFileBytes(source));
    QString error;
    ASSERT_TRUE(LoadTaskFile(m_tables, &error)) << error.toStdString();
    EXPECT_EQ(TaskFileBytes(m_tables), TaskFileBytes(source));

    // Another task file name in the same folder.
    m_tables.TaskFileName = QStringLiteral("其他.cfg");
    EXPECT_FALSE(LoadTaskFile(m_tables, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("其他.cfg"))) << error.toStdString();
}

TEST_F(TaskFileOnDisk, MissingFileChangesNothing)
{
    m_tables.AddrBook.push_back(makeAddr("keep", "keep@x"));
    m_tables.SmtpSettings.smtpport = 587;
    QString error;
    EXPECT_FALSE(LoadTaskFile(m_tables, &error));
    EXPECT_EQ(m_tables.AddrBookCount(), 1);
    EXPECT_EQ(+m_tables.SmtpSettings.smtpport, 587);
    EXPECT_TRUE(error.startsWith(QStringLiteral("there is no task file at"))) << error.toStdString();
}

TEST_F(TaskFileOnDisk, CutFileOnDiskBehavesLikeBytes)
{
    const TMailTables source = sampleTables();
    const QByteArray full = TaskFileBytes(source);
    const TLayout at;
    for (qsizetype size :
        {qsizetype(0), qsizetype(3), qsizetype(100), at.addrData + 100, at.eventData + 8601 + 17, at.end - 1, at.end}) {
        SCOPED_TRACE(size);
        write(full.left(size));
        TMailTables fromFile;
        TMailTables fromBytes;
        SetTaskDefaults(fromFile);
        SetTaskDefaults(fromBytes);
        QString fileError;
        QString bytesError;
        const bool fileOk = LoadTaskFileFrom(fromFile, taskPath(), &fileError);
        EXPECT_EQ(fileOk, LoadTaskFileBytes(fromBytes, full.left(size), &bytesError));
        EXPECT_EQ(fileOk, size == at.end);
        EXPECT_EQ(fileError, bytesError);
        EXPECT_EQ(TaskFileBytes(fromFile), TaskFileBytes(fromBytes));
    }
}

TEST_F(TaskFileOnDisk, FileLockedByAWriterIsNotRead)
{
    write(TaskFileBytes(sampleTables()));
    const int fd = ::open(QFile::encodeName(taskPath()).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    QString error;
    EXPECT_FALSE(LoadTaskFile(m_tables, &error));
    EXPECT_EQ(m_tables.EventTaskCount(), 0);
    EXPECT_TRUE(error.contains(QStringLiteral("could not be opened"))) << error.toStdString();
    ::close(fd);
    EXPECT_TRUE(LoadTaskFile(m_tables, &error));
    EXPECT_EQ(m_tables.EventTaskCount(), 2);
}

// The start-up reads the file in pieces into the tables and the save reads it whole: both must see the same
// file, across the hash's block boundaries (a 300-task file is 2.5 MB), and tell a single changed byte.
TEST_F(TaskFileOnDisk, TheSaveKnowsTheFileReadAtStartAndRefusesAChangedOne)
{
    struct TCase
    {
        int tasks;
        QByteArray trailing;
        qsizetype changedByte; // -1: the file is left as it was read
        TTaskFileSave expected;
    };
    const TCase cases[] = {
        {2, "TAIL", -1, TTaskFileSave::Saved},
        {300, "", -1, TTaskFileSave::Saved},
        {300, QByteArray(70000, 'x'), -1, TTaskFileSave::Saved},
        {300, "TAIL", 1 << 20, TTaskFileSave::ChangedOnDisk},
        {300, QByteArray(70000, 'x'), -2, TTaskFileSave::ChangedOnDisk}, // the last trailing byte
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.tasks);
        TMailTables source = sampleTables();
        source.EventTasks.resize(c.tasks);
        const QByteArray original = TaskFileBytes(source) + c.trailing;
        write(original);
        TMailTables loaded;
        std::memcpy(loaded.WorkDir, m_tables.WorkDir, sizeof(loaded.WorkDir));
        TTaskFileState state = LoadTaskFileWithState(loaded);
        ASSERT_EQ(loaded.EventTaskCount(), c.tasks);
        EXPECT_EQ(state.trailing, c.trailing);
        if (c.changedByte != -1) {
            QByteArray changed = original;
            const qsizetype at = c.changedByte == -2 ? changed.size() - 1 : c.changedByte;
            changed[at] = char(changed[at] ^ 1);
            write(changed);
        }
        const TTaskFileSaveOutcome outcome = SaveTaskFile(loaded, state, m_work + QStringLiteral("no-such.ini"));
        EXPECT_EQ(outcome.result, c.expected) << outcome.error.toStdString();
        if (c.expected == TTaskFileSave::Saved) {
            QFile f(taskPath());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), original);
        }
    }
}

// The station reads its task file on a worker thread while the window is built: what the engine takes must be
// exactly what its own loading step would have read, and tables no longer as seeded are left to that step.
TEST_F(TaskFileOnDisk, ReadAheadGivesWhatTheLoadingStepReads)
{
    TMailTables source = sampleTables();
    for (int i = 3; i <= 300; ++i) {
        source.EventTasks.append(makeEvent(i)); // 2.6 MB: more than one block of the reader
    }
    write(TaskFileBytes(source) + "TAIL");

    TMailTables inPlace = m_tables;
    SetTaskDefaults(inPlace);
    const TTaskFileState inPlaceState = LoadTaskFileWithState(inPlace);

    TTaskFileState state;
    {
        TTaskFileReadAhead ahead(m_tables);
        ASSERT_TRUE(ahead.takeInto(m_tables, state));
        EXPECT_FALSE(ahead.takeInto(m_tables, state)) << "a second take";
    }
    EXPECT_EQ(TaskFileBytes(m_tables), TaskFileBytes(inPlace));
    EXPECT_TRUE(state.present);
    EXPECT_EQ(state.digest, inPlaceState.digest);
    EXPECT_EQ(state.trailing, QByteArray("TAIL"));

    // Tables changed since the read began (another file name): not taken, not touched.
    TMailTables other;
    SetTaskDefaults(other);
    std::memcpy(other.WorkDir, m_tables.WorkDir, sizeof(other.WorkDir));
    TTaskFileReadAhead ahead(other);
    other.TaskFileName = QStringLiteral("其他.cfg");
    TTaskFileState untouched;
    EXPECT_FALSE(ahead.takeInto(other, untouched));
    EXPECT_EQ(other.EventTaskCount(), 0);
    EXPECT_FALSE(untouched.present);
}

// The reader leaves the parts of a table that the file has zero unwritten, counting on fresh storage: a table
// loaded again, from a file or from bytes, must hold the new file's zeros, not the old file's receivers.
TEST_F(TaskFileOnDisk, LoadingAgainLeavesNothingOfTheTasksBefore)
{
    TMailTables full = sampleTables();
    TMailTables sparse = sampleTables();
    for (int i = 3; i <= 200; ++i) {
        TEventMailTask t = makeEvent(i);
        TReportMailTask r = makeReport(i);
        sparse.EventTasks.append(t);
        sparse.ReportTasks.append(r);
        t.ReceiverCount = r.ReceiverCount = MaxReceivers;
        for (int k = 0; k < MaxReceivers; ++k) {
            t.Receivers[k] = r.Receivers[k] = makeAddr("某人", "someone@plant.example");
        }
        full.EventTasks.append(t);
        full.ReportTasks.append(r);
    }
    const QByteArray sparseBytes = TaskFileBytes(sparse);
    for (const bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile);
        TMailTables t = m_tables;
        write(TaskFileBytes(full));
        ASSERT_TRUE(LoadTaskFile(t));
        ASSERT_EQ(TaskFileBytes(t), TaskFileBytes(full));
        write(sparseBytes);
        ASSERT_TRUE(fromFile ? LoadTaskFile(t) : LoadTaskFileBytes(t, sparseBytes));
        EXPECT_EQ(TaskFileBytes(t), sparseBytes);
    }
}

TEST(TaskTables, DefaultsKeepMaxSendTriesAndFreeEmptiesTables)
{
    TMailTables t = sampleTables();
    t.UseSSL = 1;
    t.StartTLS = 1;
    t.CAFile = QStringLiteral("/etc/ca.pem");
    SetTaskDefaults(t);
    EXPECT_EQ(+t.SmtpSettings.MaxSendTries, 3);
    EXPECT_EQ(+t.SmtpSettings.smtpport, 25);
    EXPECT_EQ(t.SmtpSettings.smtpaddr[0], '\0');
    EXPECT_EQ(t.UseSSL, 0);
    EXPECT_EQ(t.StartTLS, 0);
    EXPECT_TRUE(t.CAFile.isEmpty());
    EXPECT_EQ(t.AddrBookCount() + t.EventTaskCount() + t.ReportTaskCount(), 0);

    TMailTables u = sampleTables();
    FreeTaskTables(u);
    EXPECT_EQ(u.AddrBookCount() + u.EventTaskCount() + u.ReportTaskCount(), 0);
    EXPECT_EQ(+u.SmtpSettings.smtpport, 2525);
}

} // namespace
