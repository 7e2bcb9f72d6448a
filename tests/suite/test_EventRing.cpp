// SPDX-License-Identifier: MIT
// The event-log library on a temporary working directory: folders, the ring file, posting, reading, error
// texts, time conversion, and writers in other processes.

#include "GbkCodec.h"
#include "RingCheck.h"
#include "TempWorkDir.h"
#include "mlogcomm2.h"
#include "qorslog2.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimeZone>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

QorvaneSystemTime makeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    QorvaneSystemTime t{};
    t.wYear = uint16_t(y);
    t.wMonth = uint16_t(mo);
    t.wDay = uint16_t(d);
    t.wHour = uint16_t(h);
    t.wMinute = uint16_t(mi);
    t.wSecond = uint16_t(s);
    t.wMilliseconds = uint16_t(ms);
    return t;
}

EventRecord readOne(int32_t pos)
{
    EventRecord r{};
    int32_t end = -1;
    int32_t start = pos;
    int32_t count = 1;
    EXPECT_NE(ReadEvents(&end, &start, &count, QORSLOG_RING_SIZE, &r), 0);
    EXPECT_EQ(count, 1);
    return r;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(EventRingWorkDir, InitCreatesFoldersAndRingAndRereadsTheVariable)
{
    for (int round = 0; round < 3; ++round) {
        TTempWorkDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(dir.initResult(), 0);
        EXPECT_EQ(InitLogLibrary(), 0) << "a second call is harmless";
        char buffer[128];
        memset(buffer, 'x', sizeof buffer);
        GetWorkDir(buffer);
        EXPECT_EQ(QString::fromLocal8Bit(buffer), dir.path());
        for (const char* sub : {"CfgCache", "Debug", "EventLog"}) {
            EXPECT_TRUE(QFileInfo(dir.path() + QLatin1String(sub)).isDir()) << sub;
        }
        EXPECT_EQ(QFileInfo(dir.ringPath()).size(), qint64(20480 + 5000 * 941));
        EXPECT_EQ(GetEventCount(), 0u);
    }
}

TEST(EventRingWorkDir, TrailingSlashIsAddedAndMissingParentsAreMade)
{
    TTempWorkDir base(false);
    const QString nested = base.path() + QStringLiteral("a/b/工作目录");
    setenv("QORVANE_WORKDIR", nested.toUtf8().constData(), 1);
    ASSERT_EQ(InitLogLibrary(), 0);
    char buffer[128];
    GetWorkDir(buffer);
    // Returned as GBK bytes.
    EXPECT_EQ(Gbk::decode(buffer, strlen(buffer)), nested + QLatin1Char('/'));
    EXPECT_TRUE(QFileInfo(nested + QStringLiteral("/EventLog/events.ring")).isFile());
}

TEST(EventRingWorkDir, ARelativeNameIsHeldAsAnAbsolutePath)
{
    TTempWorkDir base(false);
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(base.path()));
    setenv("QORVANE_WORKDIR", "rel/dir", 1);
    const int32_t rc = InitLogLibrary();
    QDir::setCurrent(oldCwd);
    ASSERT_EQ(rc, 0);
    char buffer[128];
    GetWorkDir(buffer);
    EXPECT_EQ(QString::fromUtf8(buffer), QDir(base.path()).canonicalPath() + QStringLiteral("/rel/dir/"));
    EXPECT_TRUE(QFileInfo(base.path() + QStringLiteral("rel/dir/EventLog/events.ring")).isFile());
}

TEST(EventRingWorkDir, TooLongOrUnusablePathFailsWithMinusOne)
{
    TTempWorkDir base(false);
    // 127 bytes with the trailing '/' still fit the 128-byte buffer; 128 do not.
    QString fits = base.path();
    fits += QString(127 - 1 - fits.size(), QLatin1Char('d'));
    setenv("QORVANE_WORKDIR", fits.toUtf8().constData(), 1);
    EXPECT_EQ(InitLogLibrary(), 0);
    ExitLogLibrary();
    setenv("QORVANE_WORKDIR", (fits + QLatin1Char('e')).toUtf8().constData(), 1);
    EXPECT_EQ(InitLogLibrary(), QORSLOG_ERR_WORKDIR);
    char buffer[128] = "stale";
    GetWorkDir(buffer);
    EXPECT_STREQ(buffer, "") << "unknown after a failed start";

    // A regular file where a folder must go.
    QFile blocker(base.path() + QStringLiteral("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    setenv("QORVANE_WORKDIR", (base.path() + QStringLiteral("file/sub")).toUtf8().constData(), 1);
    EXPECT_EQ(InitLogLibrary(), QORSLOG_ERR_WORKDIR);
    EXPECT_EQ(PostEvent(1, 1, "x", nullptr), QORSLOG_ERR_NOT_INIT);
}

// A file at the ring's path that is no ring of ours is never overwritten: the library starts without a ring
// (its condition told by GetRingStatus), writers are refused with -8 and nothing is read.
TEST(EventRingFile, WrongSizeOrMagicIsRefusedAndKept)
{
    TTempWorkDir dir(false);
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("EventLog")));
    auto refused = [&](const QByteArray& bytes, const char* what) {
        QFile file(dir.ringPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        EXPECT_EQ(InitLogLibrary(), 0) << what;
        EXPECT_EQ(GetRingStatus(nullptr), QORSLOG_RING_DAMAGED) << what;
        EXPECT_EQ(PostEvent(1, 1, "x", nullptr), QORSLOG_ERR_RING_FORMAT) << what;
        int32_t pos = 0;
        EXPECT_EQ(GetEventWritePos(&pos), 0) << what;
        ExitLogLibrary();
        EXPECT_EQ(fileBytes(dir.ringPath()), bytes) << what;
    };
    refused(QByteArray(1000, 'z'), "too small");
    QByteArray bad(20480 + 5000 * 941, '\0');
    memcpy(bad.data(), "NOTARING", 8);
    refused(bad, "right size, wrong magic");
    EXPECT_NE(QString::fromUtf8(GetErrorTextUtf8(QORSLOG_ERR_RING_FORMAT)).indexOf(QStringLiteral("大小")), -1);

    // A ring of this library with a damaged header: another version, or a write position outside the ring.
    ASSERT_TRUE(QFile::remove(dir.ringPath()));
    ASSERT_EQ(InitLogLibrary(), 0);
    ExitLogLibrary();
    const QByteArray good = fileBytes(dir.ringPath());
    for (const auto& [offset, value] : {std::pair{8, 2u}, std::pair{12, 940u}, std::pair{24, 5000u}}) {
        QByteArray damaged = good;
        memcpy(damaged.data() + offset, &value, 4);
        refused(damaged, "damaged header");
    }
}

TEST(EventRingFile, EventsSurviveExitAndInitAndTheCountRuns)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(PostEvent(3, 1, "abc", nullptr), i);
    }
    ExitLogLibrary();
    EXPECT_EQ(GetEventCount(), 0u) << "0 before InitLogLibrary";
    int32_t pos = -1;
    EXPECT_EQ(GetEventWritePos(&pos), 0);
    EXPECT_EQ(pos, -1);
    ASSERT_EQ(InitLogLibrary(), 0);
    EXPECT_EQ(GetEventCount(), 7u);
    ASSERT_NE(GetEventWritePos(&pos), 0);
    EXPECT_EQ(pos, 7);
    EXPECT_STREQ(readOne(6).EventText, "abc");
}

TEST(EventRingPost, ArgumentsAreCheckedAndFieldsStored)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    EXPECT_EQ(PostEvent(1, -1, "x", nullptr), QORSLOG_ERR_ARGUMENT);
    EXPECT_EQ(PostEvent(1, 0x8000, "x", nullptr), QORSLOG_ERR_ARGUMENT);
    EXPECT_EQ(PostEvent(1, 1, nullptr, nullptr), QORSLOG_ERR_ARGUMENT);
    QorvaneSystemTime feb30 = makeTime(2025, 2, 29, 1, 2, 3);
    EXPECT_EQ(PostEvent(1, 1, "x", &feb30), QORSLOG_ERR_ARGUMENT) << "not a real date";
    QorvaneSystemTime hour24 = makeTime(2025, 3, 1, 24);
    EXPECT_EQ(PostEvent(1, 1, "x", &hour24), QORSLOG_ERR_ARGUMENT);
    EXPECT_EQ(GetEventCount(), 0u) << "nothing written by a refused call";

    const QorvaneSystemTime t = makeTime(2024, 2, 29, 23, 59, 58, 765);
    const QByteArray text = Gbk::encode(QStringLiteral("1号主变 差动保护动作"));
    ASSERT_EQ(PostEvent(-42, 0x7FFF, text.constData(), &t), 0);
    const EventRecord r = readOne(0);
    EXPECT_EQ(+r.EventType, -42);
    EXPECT_EQ(+r.EventLevel, 0x7FFF);
    EXPECT_EQ(+r.EventTime, SecondsFromSystemTime(t));
    EXPECT_EQ(+r.EventMsec, 765u);
    EXPECT_EQ(QByteArray(r.EventText), text);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&r);
    for (size_t i : {0u, 3u, 20u, 556u, 813u, 940u}) {
        EXPECT_EQ(raw[i], 0) << "reserved byte " << i;
    }

    // Without a time: the local wall clock now, with milliseconds.
    const time_t before = time(nullptr);
    ASSERT_EQ(PostEvent(1, 2, "", nullptr), 1);
    const time_t after = time(nullptr);
    tm lb{};
    tm la{};
    localtime_r(&before, &lb);
    localtime_r(&after, &la);
    auto secs = [](const tm& x) {
        return SecondsFromSystemTime(
            makeTime(x.tm_year + 1900, x.tm_mon + 1, x.tm_mday, x.tm_hour, x.tm_min, x.tm_sec));
    };
    const EventRecord now = readOne(1);
    EXPECT_GE(+now.EventTime, secs(lb));
    EXPECT_LE(+now.EventTime, secs(la));
    EXPECT_LT(+now.EventMsec, 1000u);
}

TEST(EventRingPost, TextIsCutAtACharacterBoundary)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    struct Case
    {
        QByteArray text;
        int stored;
    };
    QByteArray odd = "a";
    for (int i = 0; i < 200; ++i) {
        odd += "\xD6\xD0"; // 中
    }
    QByteArray even;
    for (int i = 0; i < 200; ++i) {
        even += "\xD6\xD0";
    }
    QByteArray four = "ab";
    for (int i = 0; i < 80; ++i) {
        four += "\x81\x30\x81\x30"; // a four-byte character
    }
    const Case cases[] = {
        {odd, 255}, // 'a' + 127 two-byte characters
        {even, 254}, // 128 would need 256 bytes
        {four, 254}, // 2 + 63 x 4
        {QByteArray(300, 'x'), 255}, // single bytes fill all 255
        {QByteArray(255, 'y'), 255}, // exactly fits
        {QByteArray("ab\xD6"), 3}, // a lone lead byte at the end stays as it is
    };
    for (const Case& c : cases) {
        const int32_t pos = PostEvent(1, 1, c.text.constData(), nullptr);
        ASSERT_GE(pos, 0);
        const EventRecord r = readOne(pos);
        const QByteArray stored(r.EventText, int(strnlen(r.EventText, 256)));
        EXPECT_EQ(stored.size(), c.stored);
        EXPECT_EQ(stored, c.text.left(c.stored));
        EXPECT_EQ(r.EventText[255], '\0');
    }
}

TEST(EventRingRead, PositionsWrapAndBadArgumentsDeliverNothing)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    // Fill the whole ring and 3 more, so position p holds event 5000+p for p < 3, else p.
    for (uint32_t i = 0; i < 5003; ++i) {
        ASSERT_EQ(ringcheck::post(i), int32_t(i % 5000));
    }
    std::vector<EventRecord> buf(5001);
    auto seqAt = [&](size_t n) {
        uint32_t s = 0;
        EXPECT_TRUE(ringcheck::isWhole(buf[n], &s));
        return s;
    };

    int32_t end = -1;
    int32_t start = 9998; // callers pass up to 9998: position 4998
    int32_t count = 5;
    ASSERT_NE(ReadEvents(&end, &start, &count, 5000, buf.data()), 0);
    EXPECT_EQ(end, 3);
    EXPECT_EQ(start, 9998) << "the start is left as passed";
    EXPECT_EQ(count, 5);
    EXPECT_EQ(seqAt(0), 4998u);
    EXPECT_EQ(seqAt(1), 4999u);
    EXPECT_EQ(seqAt(2), 5000u);
    EXPECT_EQ(seqAt(4), 5002u);

    // The whole ring from the write position: oldest first.
    start = 3;
    count = 5000;
    ASSERT_NE(ReadEvents(&end, &start, &count, 5000, buf.data()), 0);
    EXPECT_EQ(seqAt(0), 3u);
    EXPECT_EQ(seqAt(4999), 5002u);

    memset(&buf[5000], 0x5A, sizeof(EventRecord));
    struct Bad
    {
        int32_t count;
        int32_t ringSize;
    };
    for (const Bad b : {Bad{5001, 5000}, Bad{-1, 5000}, Bad{10, 4999}, Bad{10, 0}}) {
        count = b.count;
        start = 0;
        EXPECT_EQ(ReadEvents(&end, &start, &count, b.ringSize, buf.data()), 0);
        EXPECT_EQ(count, 0);
    }
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&buf[5000])[0], 0x5A) << "nothing written past the count";
    count = 0;
    EXPECT_NE(ReadEvents(&end, &start, &count, 5000, buf.data()), 0);
    EXPECT_EQ(count, 0);
}

TEST(EventRingTexts, EveryCodeHasAChineseText)
{
    for (int32_t code : {0, -1, -5, -8, -9, -10, -12, -13, -14, -999, 7}) {
        const char* gbk = GetErrorText(code);
        const char* utf8 = GetErrorTextUtf8(code);
        ASSERT_NE(gbk, nullptr);
        ASSERT_NE(utf8, nullptr);
        const QString decoded = Gbk::decode(gbk, strlen(gbk));
        EXPECT_EQ(decoded, QString::fromUtf8(utf8)) << code;
        EXPECT_TRUE(decoded.size() > 2 && decoded.at(0).unicode() >= 0x4E00) << code;
    }
    EXPECT_NE(QString::fromUtf8(GetErrorTextUtf8(-1)), QString::fromUtf8(GetErrorTextUtf8(-5)));
    TQorsLog2Library lib;
    EXPECT_EQ(lib.GetErrorText(-9), QString::fromUtf8(GetErrorTextUtf8(-9)));
}

TEST(EventRingTime, CalendarTimesCountSecondsOnTheWallClock)
{
    EXPECT_EQ(SecondsFromSystemTime(makeTime(1970, 1, 1)), 0u);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(1970, 1, 2, 1, 2, 3)), 86400u + 3723u);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(2000, 3, 1)), 951868800u);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(2024, 2, 29, 12)), 1709208000u);
    // Day 31 of a 30-day month runs on into the next.
    EXPECT_EQ(SecondsFromSystemTime(makeTime(2025, 4, 31)), SecondsFromSystemTime(makeTime(2025, 5, 1)));
    // The same as a UTC date-time of the same fields, whatever the process's zone: no zone, no DST shift.
    QRandomGenerator rng(42);
    for (int i = 0; i < 2000; ++i) {
        const QDateTime dt = QDateTime::fromSecsSinceEpoch(rng.bounded(0, 2000000000), QTimeZone::utc());
        const QorvaneSystemTime t = makeTime(dt.date().year(),
            dt.date().month(),
            dt.date().day(),
            dt.time().hour(),
            dt.time().minute(),
            dt.time().second());
        const uint32_t s = SecondsFromSystemTime(t);
        ASSERT_EQ(qint64(s), dt.toSecsSinceEpoch());
        QorvaneSystemTime back{};
        SystemTimeFromSeconds(s, &back);
        ASSERT_EQ(back.wYear, t.wYear);
        ASSERT_EQ(back.wMonth, t.wMonth);
        ASSERT_EQ(back.wDay, t.wDay);
        ASSERT_EQ(back.wHour, t.wHour);
        ASSERT_EQ(back.wMinute, t.wMinute);
        ASSERT_EQ(back.wSecond, t.wSecond);
        ASSERT_EQ(back.wMilliseconds, 0);
        ASSERT_EQ(back.wDayOfWeek, dt.date().dayOfWeek() % 7);
    }
    QorvaneSystemTime t{};
    SystemTimeFromSeconds(0, &t);
    EXPECT_EQ(t.wDayOfWeek, 4) << "1970-01-01 was a Thursday";
    SystemTimeFromSeconds(0xFFFFFFFFu, &t);
    EXPECT_EQ(t.wYear, 2106);
    EXPECT_EQ(t.wMonth, 2);
    EXPECT_EQ(t.wDay, 7);
}

TEST(EventRingTime, OtherValuesAreLengths)
{
    EXPECT_EQ(SecondsFromSystemTime(QorvaneSystemTime{}), 0u) << "a fresh DueTime";
    EXPECT_EQ(SecondsFromSystemTime(makeTime(0, 0, 1)), 86400u);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(0, 0, 0, 2, 30)), 9000u);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(1, 0, 0)), 365u * 86400);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(0, 2, 0)), 60u * 86400);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(1, 1, 1, 1, 1, 1)), (365u + 30 + 1) * 86400 + 3661);
    // A year from 1970 with month 0 or day 0, or month 13, is a length too.
    EXPECT_EQ(SecondsFromSystemTime(makeTime(1970, 0, 5)), (1970u * 365 + 5) * 86400);
    EXPECT_EQ(SecondsFromSystemTime(makeTime(2000, 13, 1)), uint32_t((2000ull * 365 + 13 * 30 + 1) * 86400));
    EXPECT_EQ(SecondsFromSystemTime(makeTime(2000, 1, 32)), uint32_t((2000ull * 365 + 30 + 32) * 86400));

    TQorsLog2Library lib;
    SYSTEMTIME st{};
    st.wDay = 1;
    EXPECT_EQ(lib.SecondsFromSystemTime(st), 86400u);
    const SYSTEMTIME back = lib.SystemTimeFromSeconds(951868800u);
    EXPECT_EQ(back.wYear, 2000);
    EXPECT_EQ(back.wMonth, 3);
    EXPECT_EQ(back.wDayOfWeek, 3);
}

// A writer that died in the middle of a record left the position's counter odd: readers do not wait for it
// forever and never deliver the half-written record; the next write of that position repairs it.
TEST(EventRingFile, ARecordLeftHalfWrittenIsDeliveredBlankAndRepaired)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    ASSERT_EQ(ringcheck::post(0), 0);
    ASSERT_EQ(ringcheck::post(1), 1);
    {
        QFile ring(dir.ringPath());
        ASSERT_TRUE(ring.open(QIODevice::ReadWrite));
        ASSERT_TRUE(ring.seek(64 + 1 * 4)); // counter of position 1
        const uint32_t odd = 5;
        ASSERT_EQ(ring.write(reinterpret_cast<const char*>(&odd), 4), 4);
        ASSERT_TRUE(ring.seek(20480 + 941 + 557)); // and garbage in its text
        ASSERT_EQ(ring.write("half"), 4);
    }
    const EventRecord blank = readOne(1);
    EXPECT_EQ(blank.EventText[0], '\0');
    EXPECT_EQ(+blank.EventType, 0);
    uint32_t seq = 0;
    EXPECT_TRUE(ringcheck::isWhole(readOne(0), &seq));

    // Wrap round to position 1 again and write it: whole again.
    for (uint32_t i = 2; i < 5001; ++i) {
        ASSERT_GE(ringcheck::post(i), 0);
    }
    ASSERT_EQ(ringcheck::post(5001), 1);
    ASSERT_TRUE(ringcheck::isWhole(readOne(1), &seq));
    EXPECT_EQ(seq, 5001u);
}

// The write position and the running count come as one pair; a writer that died while publishing them does not
// make a reader wait for ever, and the next write carries on from what it left.
TEST(EventRingFile, WriteStateIsOnePairAndSurvivesAWriterThatDiedPublishingIt)
{
    TTempWorkDir dir;
    int32_t pos = -1;
    uint64_t count = 99;
    ExitLogLibrary();
    EXPECT_EQ(GetEventWriteState(&pos, &count), 0) << "before InitLogLibrary";
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(count, 99u);
    ASSERT_EQ(InitLogLibrary(), 0);
    EXPECT_EQ(GetEventWriteState(nullptr, &count), 0);
    EXPECT_EQ(GetEventWriteState(&pos, nullptr), 0);

    struct Case
    {
        int32_t pos;
        uint64_t count;
    };
    int posted = 0;
    for (const Case& c : {Case{0, 0}, Case{3, 3}, Case{0, 5000}, Case{1, 10001}}) {
        for (; posted < int(c.count); ++posted) {
            ASSERT_GE(PostEvent(1, 1, "x", nullptr), 0);
        }
        ASSERT_NE(GetEventWriteState(&pos, &count), 0);
        EXPECT_EQ(pos, c.pos) << c.count;
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(count, GetEventCount());
    }

    // The header's counter (offset 28) left odd by a writer that died between its two stores.
    {
        QFile ring(dir.ringPath());
        ASSERT_TRUE(ring.open(QIODevice::ReadWrite));
        ASSERT_TRUE(ring.seek(28));
        const uint32_t odd = 7;
        ASSERT_EQ(ring.write(reinterpret_cast<const char*>(&odd), 4), 4);
    }
    ASSERT_NE(GetEventWriteState(&pos, &count), 0);
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(count, 10001u);
    ASSERT_EQ(PostEvent(1, 1, "x", nullptr), 1);
    ASSERT_NE(GetEventWriteState(&pos, &count), 0);
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(count, 10002u);
    QFile ring(dir.ringPath());
    ASSERT_TRUE(ring.open(QIODevice::ReadOnly));
    ASSERT_TRUE(ring.seek(28));
    uint32_t seq = 0;
    ASSERT_EQ(ring.read(reinterpret_cast<char*>(&seq), 4), 4);
    EXPECT_EQ(seq % 2, 0u) << "repaired by the next write";
}

// ---- other processes ----

namespace {

std::unique_ptr<QProcess> startWriter(const QStringList& args)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QStringLiteral(RING_WRITER), args);
    EXPECT_TRUE(p->waitForStarted(5000));
    return p;
}

} // namespace

// A writer in another process laps the reader again and again; every record the reader gets is whole.
TEST(EventRingProcesses, ReaderNeverGetsAMixedRecordFromAFastWriter)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    TQorsLog2Library lib;
    auto writer = startWriter({QStringLiteral("write"), QStringLiteral("0"), QStringLiteral("20000")});

    std::vector<EventRecord> buf(5000);
    int32_t readPos = 0;
    uint64_t delivered = 0;
    uint64_t wholeRingReads = 0;
    bool running = true;
    while (running) {
        running = writer->state() != QProcess::NotRunning && !writer->waitForFinished(0);
        // The new events since the last look, as the trigger reads them...
        int32_t writePos = 0;
        ASSERT_TRUE(lib.GetEventWritePos(writePos));
        int32_t count = writePos - readPos;
        if (count < 0) {
            count += 5000;
        }
        int32_t start = readPos;
        ASSERT_TRUE(lib.ReadEvents(writePos, start, count, 5000, buf.data()));
        for (int32_t n = 0; n < count; ++n) {
            uint32_t seq = 0;
            ASSERT_TRUE(ringcheck::isWhole(buf[size_t(n)], &seq)) << "position " << (readPos + n) % 5000;
            ASSERT_EQ(seq % 5000, uint32_t(readPos + n) % 5000);
        }
        delivered += uint64_t(count);
        readPos = (readPos + count) % 5000;
        // ... and the whole ring, which the writer overwrites while it is copied.
        start = writePos;
        count = 5000;
        ASSERT_TRUE(lib.ReadEvents(writePos, start, count, 5000, buf.data()));
        for (const EventRecord& r : buf) {
            uint32_t seq = 0;
            if (r.EventText[0] != '\0') {
                ASSERT_TRUE(ringcheck::isWhole(r, &seq));
            }
        }
        ++wholeRingReads;
    }
    EXPECT_EQ(writer->exitCode(), 0);
    EXPECT_EQ(GetEventCount(), 20000u);
    EXPECT_GT(delivered, 0u);
    EXPECT_GT(wholeRingReads, 1u);
}

// A writer in another process posts while the reader takes the pair again and again: on a fresh ring the
// position is always the count modulo 5000, and neither ever goes back.
TEST(EventRingProcesses, WriteStatePairsNeverMixTwoWrites)
{
    TTempWorkDir dir;
    ASSERT_EQ(dir.initResult(), 0);
    auto writer = startWriter({QStringLiteral("write"), QStringLiteral("0"), QStringLiteral("20000")});
    uint64_t last = 0;
    uint64_t snapshots = 0;
    bool running = true;
    while (running) {
        running = !writer->waitForFinished(0);
        for (int i = 0; i < 1000; ++i) {
            int32_t pos = -1;
            uint64_t count = 0;
            ASSERT_NE(GetEventWriteState(&pos, &count), 0);
            ASSERT_EQ(uint64_t(pos), count % 5000) << count;
            ASSERT_GE(count, last);
            last = count;
            ++snapshots;
        }
    }
    EXPECT_EQ(writer->exitCode(), 0);
    EXPECT_EQ(last, 20000u);
    EXPECT_GT(snapshots, 1000u);
}

// Several processes start on a working directory without a ring at the same moment: one creates it, and no
// event of any of them is lost to a second initialisation.
TEST(EventRingProcesses, RacingCreatorsInitialiseTheRingOnce)
{
    TTempWorkDir dir(false);
    const QString go = dir.path() + QStringLiteral("go");
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int i = 0; i < 6; ++i) {
        writers.push_back(startWriter({QStringLiteral("race"), go, QString::number(i * 1000), QStringLiteral("300")}));
    }
    QFile(go).open(QIODevice::WriteOnly);
    for (auto& w : writers) {
        ASSERT_TRUE(w->waitForFinished(20000));
        EXPECT_EQ(w->exitCode(), 0);
    }
    ASSERT_EQ(InitLogLibrary(), 0);
    EXPECT_EQ(GetEventCount(), 1800u);
    std::vector<EventRecord> buf(1800);
    int32_t end = 0;
    int32_t start = 0;
    int32_t count = 1800;
    ASSERT_NE(ReadEvents(&end, &start, &count, 5000, buf.data()), 0);
    EXPECT_EQ(end, 1800);
    std::vector<int> seen(6, 0);
    for (const EventRecord& r : buf) {
        uint32_t seq = 0;
        ASSERT_TRUE(ringcheck::isWhole(r, &seq));
        ++seen[seq / 1000];
    }
    for (int n : seen) {
        EXPECT_EQ(n, 300);
    }
    EXPECT_TRUE(QDir(dir.path() + QStringLiteral("EventLog")).entryList(QDir::Files) == QStringList{"events.ring"})
        << "no temporary file left behind";
}
