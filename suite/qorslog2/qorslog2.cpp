// SPDX-License-Identifier: MIT
// The library's entries: process state, the working directory, the ring's reader and writer entries.

#include "qorslog2.h"

#include "EventRing.h"
#include "WorkDir.h"

#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace {

struct LibraryState
{
    bool initialised = false;
    qorslog::WorkDirInfo workDir;
    qorslog::EventRing ring;
    std::string ringPath;
    uint32_t generation = 0; // ring files mapped since InitLogLibrary
    int32_t ringStatus = QORSLOG_RING_OK;
};

// Never destroyed: exit handlers of the program (the station's calls ExitLogLibrary) may run after the
// library's own static objects are gone, and must still find the state.
LibraryState& state()
{
    static LibraryState* s = new LibraryState;
    return *s;
}

// Bytes of a GBK text that fit in `limit` without splitting a character: a lead byte 0x81..0xFE takes two
// bytes, or four when the second byte is a digit 0x30..0x39 (a GB18030 four-byte character).
size_t gbkFitLength(const unsigned char* text, size_t length, size_t limit)
{
    size_t pos = 0;
    while (pos < length) {
        size_t n = 1;
        if (text[pos] >= 0x81 && text[pos] <= 0xFE && pos + 1 < length) {
            n = (text[pos + 1] >= 0x30 && text[pos + 1] <= 0x39) ? 4 : 2;
        }
        if (pos + n > length) {
            n = length - pos; // a character cut short at the end of the text
        }
        if (pos + n > limit) {
            break;
        }
        pos += n;
    }
    return pos;
}

bool isLeapYear(unsigned y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// A real local date and time that the 32-bit second count can hold.
bool isCalendarTime(const QorvaneSystemTime& t)
{
    static constexpr unsigned char MonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wYear < 1970 || t.wYear > 2105 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1) {
        return false;
    }
    const unsigned days = MonthDays[t.wMonth - 1] + (t.wMonth == 2 && isLeapYear(t.wYear) ? 1 : 0);
    return t.wDay <= days && t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

QorvaneSystemTime localNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    QorvaneSystemTime t{};
    t.wYear = uint16_t(local.tm_year + 1900);
    t.wMonth = uint16_t(local.tm_mon + 1);
    t.wDayOfWeek = uint16_t(local.tm_wday);
    t.wDay = uint16_t(local.tm_mday);
    t.wHour = uint16_t(local.tm_hour);
    t.wMinute = uint16_t(local.tm_min);
    t.wSecond = uint16_t(local.tm_sec > 59 ? 59 : local.tm_sec);
    t.wMilliseconds = uint16_t(ts.tv_nsec / 1000000);
    return t;
}

// Whether the mapped ring may be touched: it must still be the file at the ring's path, whole. Once per entry,
// before any access: a mapping past the end of a file cut shorter raises SIGBUS, and a ring deleted and made
// anew receives the events in its new file. A mapping that fails the test is dropped and the file at the path
// mapped in its place, when it is a sound ring (a writer also creates it when there is none).
bool usableRing(LibraryState& s, bool forWriting)
{
    struct stat st
    {
    };
    const bool present = ::stat(s.ringPath.c_str(), &st) == 0;
    if (present && s.ring.isMappedFile(st)) {
        s.ringStatus = s.ring.held() ? QORSLOG_RING_HELD : QORSLOG_RING_OK;
        return true;
    }
    s.ring.close();
    if (!present && !forWriting) {
        s.ringStatus = QORSLOG_RING_MISSING;
        return false;
    }
    if (s.ring.open(s.ringPath, forWriting) != QORSLOG_OK) {
        s.ringStatus = present ? QORSLOG_RING_DAMAGED : QORSLOG_RING_MISSING;
        return false;
    }
    ++s.generation;
    s.ringStatus = QORSLOG_RING_OK;
    return true;
}

} // namespace

extern "C" int32_t InitLogLibrary(void)
{
    LibraryState& s = state();
    if (s.initialised) {
        return QORSLOG_OK;
    }
    qorslog::WorkDirInfo dir;
    if (const int rc = qorslog::openWorkDir(dir); rc != QORSLOG_OK) {
        return rc;
    }
    s.ringPath = dir.nativePath + "EventLog/events.ring";
    if (const int rc = s.ring.open(s.ringPath); rc != QORSLOG_OK) {
        return rc;
    }
    s.generation = 1;
    s.ringStatus = QORSLOG_RING_OK;
    s.workDir = dir;
    s.initialised = true;
    return QORSLOG_OK;
}

extern "C" void ExitLogLibrary(void)
{
    LibraryState& s = state();
    s.ring.close();
    s.workDir = {};
    s.ringPath.clear();
    s.generation = 0;
    s.initialised = false;
}

extern "C" void GetWorkDir(char* buffer)
{
    if (!buffer) {
        return;
    }
    const std::string& path = state().workDir.gbkPath;
    memset(buffer, 0, 128);
    memcpy(buffer, path.data(), path.size() < 127 ? path.size() : 127);
}

extern "C" uint8_t GetEventWritePos(int32_t* pos)
{
    LibraryState& s = state();
    if (!pos || !s.initialised || !usableRing(s, false)) {
        return 0;
    }
    *pos = s.ring.writePos();
    return 1;
}

extern "C" uint8_t ReadEvents(
    int32_t* endPos, int32_t* startPos, int32_t* count, int32_t ringSize, EventRecord* records)
{
    LibraryState& s = state();
    if (!count) {
        return 0;
    }
    if (!endPos || !startPos || !records || !s.initialised || ringSize != QORSLOG_RING_SIZE || *count < 0
        || *count > QORSLOG_RING_SIZE || !usableRing(s, false)) {
        *count = 0;
        return 0;
    }
    *endPos = s.ring.writePos();
    int32_t start = *startPos % QORSLOG_RING_SIZE;
    if (start < 0) {
        start += QORSLOG_RING_SIZE;
    }
    if (!s.ring.read(start, *count, records)) {
        *count = 0;
        s.ringStatus = QORSLOG_RING_HELD;
        return 0;
    }
    return 1;
}

extern "C" uint64_t GetEventCount(void)
{
    LibraryState& s = state();
    return s.initialised && usableRing(s, false) ? s.ring.eventCount() : 0;
}

extern "C" int32_t GetRingStatus(uint32_t* generation)
{
    LibraryState& s = state();
    if (!s.initialised) {
        return QORSLOG_ERR_NOT_INIT;
    }
    usableRing(s, false);
    if (generation) {
        *generation = s.generation;
    }
    return s.ringStatus;
}

extern "C" uint8_t GetEventWriteState(int32_t* pos, uint64_t* count)
{
    LibraryState& s = state();
    if (!pos || !count || !s.initialised || !usableRing(s, false)) {
        return 0;
    }
    if (!s.ring.writeState(*pos, *count)) {
        s.ringStatus = QORSLOG_RING_HELD;
        return 0;
    }
    return 1;
}

extern "C" int32_t PostEvent(int32_t type, int32_t level, const char* textGbk, const QorvaneSystemTime* time)
{
    LibraryState& s = state();
    if (!s.initialised) {
        return QORSLOG_ERR_NOT_INIT;
    }
    if (!usableRing(s, true)) {
        return s.ringStatus == QORSLOG_RING_DAMAGED ? QORSLOG_ERR_RING_FORMAT : QORSLOG_ERR_RING_IO;
    }
    if (level < 0 || level > 0x7FFF || !textGbk || (time && !isCalendarTime(*time))) {
        return QORSLOG_ERR_ARGUMENT;
    }
    const QorvaneSystemTime when = time ? *time : localNow();
    EventRecord record{};
    record.EventTime = SecondsFromSystemTime(when);
    record.EventMsec = when.wMilliseconds;
    record.EventLevel = level;
    record.EventType = type;
    const auto* text = reinterpret_cast<const unsigned char*>(textGbk);
    const size_t length = gbkFitLength(text, strnlen(textGbk, 4096), sizeof record.EventText - 1);
    memcpy(record.EventText, textGbk, length);
    return s.ring.append(record);
}
