// SPDX-License-Identifier: MIT
// The library's entries: process state, the working directory, the ring's reader and writer entries.

#include "qorslog2.h"

#include "EventRing.h"
#include "WorkDir.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <vector>

namespace {

struct LibraryState
{
    bool initialised = false;
    qorslog::WorkDirInfo workDir;
    qorslog::EventRing ring;
    std::string ringPath;
    uint32_t generation = 0; // ring files opened since InitLogLibrary
    int32_t ringStatus = QORSLOG_RING_OK;
    // The file read before the current one, deleted or replaced at the path but still whole, with its write
    // state as the last writer left it.
    qorslog::EventRing previous;
    uint32_t previousGeneration = 0;
    int32_t previousPos = 0;
    uint64_t previousCount = 0;
    uint64_t firstNew = 0; // of the current ring, see GetRingFirstNewEvent
    int32_t lockHolder = 0; // of the last PostEvent that found the ring busy
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

// How long taking the write state of a ring that is no longer at the path waits for a writer still inside it.
constexpr int64_t RetireWaitNs = 50'000'000;

// The file read so far is no longer the one at the path. Still whole (deleted or replaced, not cut shorter), it
// stays open as the previous ring with its write state taken once no writer is inside it; a file cut shorter is
// closed.
void retireRing(LibraryState& s)
{
    if (!s.ring.isOpen()) {
        return;
    }
    int32_t pos = 0;
    uint64_t count = 0;
    if (s.ring.isWhole() && s.ring.finalState(pos, count, RetireWaitNs) == qorslog::RingRead::Ok) {
        s.previous = std::move(s.ring);
        s.previousGeneration = s.generation;
        s.previousPos = pos;
        s.previousCount = count;
    } else {
        s.previous.close();
        s.previousGeneration = 0;
    }
    s.ring.close();
}

// The number of the first event of a freshly opened ring that the previous ring does not hold. Another ring
// (another identity) holds none of its events. A copy of the previous ring holds the same events under the same
// numbers up to the moment it was copied; what writers added to it after that differs.
uint64_t firstNewEvent(const LibraryState& s)
{
    if (!s.previous.isOpen() || s.ring.identity() == 0 || s.ring.identity() != s.previous.identity()) {
        return 0;
    }
    int32_t pos = 0;
    uint64_t count = 0;
    if (s.ring.writeState(pos, count) != qorslog::RingRead::Ok) {
        return 0;
    }
    auto oldest = [](uint64_t n) { return n > QORSLOG_RING_SIZE ? n - QORSLOG_RING_SIZE : 0; };
    const uint64_t from = std::max(oldest(count), oldest(s.previousCount));
    const uint64_t to = std::min(count, s.previousCount);
    if (from >= to) {
        // No number is held by both: the copy is older than anything the previous ring still held.
        return count;
    }
    auto slotOf = [](int32_t writePos, uint64_t written, uint64_t number) {
        return int32_t(
            (uint64_t(writePos) + 2 * QORSLOG_RING_SIZE - (written - number) % QORSLOG_RING_SIZE) % QORSLOG_RING_SIZE);
    };
    constexpr int32_t Chunk = 256;
    std::vector<EventRecord> mine(Chunk);
    std::vector<EventRecord> theirs(Chunk);
    for (uint64_t number = from; number < to;) {
        const int32_t n = int32_t(std::min<uint64_t>(Chunk, to - number));
        const int32_t a = slotOf(pos, count, number);
        const int32_t b = slotOf(s.previousPos, s.previousCount, number);
        if (s.ring.read(a, n, mine.data()) != qorslog::RingRead::Ok
            || s.previous.read(b, n, theirs.data()) != qorslog::RingRead::Ok) {
            return 0;
        }
        for (int32_t k = 0; k < n; ++k) {
            if (memcmp(&mine[size_t(k)], &theirs[size_t(k)], sizeof(EventRecord)) != 0) {
                return number + uint64_t(k);
            }
        }
        number += uint64_t(n);
    }
    return to;
}

// Whether the open ring may be used: it must still be the file at the ring's path, whole. Once per entry,
// before any access: a ring deleted and made anew receives the events in its new file. A file that fails the
// test is retired and the file at the path opened in its place, when it is a sound ring (a writer also creates
// it when there is none).
bool usableRing(LibraryState& s, bool forWriting)
{
    struct stat st
    {
    };
    const bool present = ::stat(s.ringPath.c_str(), &st) == 0;
    if (present && s.ring.isFileAt(st)) {
        s.ringStatus = s.ring.held() ? QORSLOG_RING_HELD : QORSLOG_RING_OK;
        return true;
    }
    retireRing(s);
    if (!present && !forWriting) {
        s.ringStatus = QORSLOG_RING_MISSING;
        return false;
    }
    if (const int rc = s.ring.open(s.ringPath, forWriting); rc != QORSLOG_OK) {
        s.ringStatus = !present             ? QORSLOG_RING_MISSING
            : rc == QORSLOG_ERR_RING_FORMAT ? QORSLOG_RING_DAMAGED
                                            : QORSLOG_RING_UNREADABLE;
        return false;
    }
    ++s.generation;
    s.firstNew = firstNewEvent(s);
    s.ringStatus = QORSLOG_RING_OK;
    return true;
}

// A read found the file cut shorter while it read: the next entry sees it at the path and leaves it.
void readFailed(LibraryState& s, qorslog::RingRead result)
{
    s.ringStatus = result == qorslog::RingRead::Held ? QORSLOG_RING_HELD : QORSLOG_RING_DAMAGED;
}

int32_t ringFailure(const LibraryState& s)
{
    return s.ringStatus == QORSLOG_RING_DAMAGED ? QORSLOG_ERR_RING_FORMAT : QORSLOG_ERR_RING_IO;
}

// The checks ReadEvents and ReadPreviousEvents make of their arguments; the start slot 0..4999.
bool readArguments(int32_t* endPos, int32_t* startPos, int32_t* count, int32_t ringSize, EventRecord* records)
{
    return endPos && startPos && records && ringSize == QORSLOG_RING_SIZE && *count >= 0 && *count <= QORSLOG_RING_SIZE;
}

int32_t startSlot(int32_t startPos)
{
    const int32_t start = startPos % QORSLOG_RING_SIZE;
    return start < 0 ? start + QORSLOG_RING_SIZE : start;
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
    s.workDir = dir;
    s.generation = 0;
    s.initialised = true;
    // A ring that cannot be used is a condition of the ring, not of the library: it is told by GetRingStatus
    // and taken as soon as a sound one is there, as when it breaks later.
    usableRing(s, true);
    return QORSLOG_OK;
}

extern "C" void ExitLogLibrary(void)
{
    LibraryState& s = state();
    s.ring.close();
    s.previous.close();
    s.previousGeneration = 0;
    s.workDir = {};
    s.ringPath.clear();
    s.generation = 0;
    s.ringStatus = QORSLOG_RING_OK;
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
    if (const qorslog::RingRead r = s.ring.writePos(*pos); r != qorslog::RingRead::Ok) {
        readFailed(s, r);
        return 0;
    }
    return 1;
}

extern "C" uint8_t ReadEvents(
    int32_t* endPos, int32_t* startPos, int32_t* count, int32_t ringSize, EventRecord* records)
{
    LibraryState& s = state();
    if (!count) {
        return 0;
    }
    if (!readArguments(endPos, startPos, count, ringSize, records) || !s.initialised || !usableRing(s, false)) {
        *count = 0;
        return 0;
    }
    qorslog::RingRead r = s.ring.writePos(*endPos);
    if (r == qorslog::RingRead::Ok) {
        r = s.ring.read(startSlot(*startPos), *count, records);
    }
    if (r != qorslog::RingRead::Ok) {
        *count = 0;
        readFailed(s, r);
        return 0;
    }
    return 1;
}

extern "C" uint64_t GetEventCount(void)
{
    LibraryState& s = state();
    int32_t pos = 0;
    uint64_t count = 0;
    if (!s.initialised || !usableRing(s, false)) {
        return 0;
    }
    if (const qorslog::RingRead r = s.ring.writeState(pos, count); r != qorslog::RingRead::Ok) {
        readFailed(s, r);
        return 0;
    }
    return count;
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
    if (const qorslog::RingRead r = s.ring.writeState(*pos, *count); r != qorslog::RingRead::Ok) {
        readFailed(s, r);
        return 0;
    }
    return 1;
}

extern "C" uint8_t GetPreviousRingState(uint32_t* generation, int32_t* pos, uint64_t* count)
{
    LibraryState& s = state();
    if (!generation || !pos || !count || !s.initialised) {
        return 0;
    }
    usableRing(s, false); // a ring that went since the last call becomes the previous one now
    if (!s.previous.isOpen()) {
        return 0;
    }
    *generation = s.previousGeneration;
    *pos = s.previousPos;
    *count = s.previousCount;
    return 1;
}

extern "C" uint8_t ReadPreviousEvents(int32_t* startPos, int32_t* count, int32_t ringSize, EventRecord* records)
{
    LibraryState& s = state();
    if (!count) {
        return 0;
    }
    int32_t scratchEnd = 0;
    if (!readArguments(&scratchEnd, startPos, count, ringSize, records) || !s.initialised || !s.previous.isOpen()
        || s.previous.read(startSlot(*startPos), *count, records) != qorslog::RingRead::Ok) {
        *count = 0;
        return 0;
    }
    return 1;
}

extern "C" uint64_t GetRingFirstNewEvent(void)
{
    LibraryState& s = state();
    return s.initialised && s.ring.isOpen() ? s.firstNew : 0;
}

extern "C" int32_t GetRingLockHolder(void)
{
    return state().lockHolder;
}

extern "C" int32_t PostEvent(int32_t type, int32_t level, const char* textGbk, const QorvaneSystemTime* time)
{
    LibraryState& s = state();
    if (!s.initialised) {
        return QORSLOG_ERR_NOT_INIT;
    }
    // An open ring is checked by append() itself once it holds the lock; one stat for a write is enough.
    if (!s.ring.isOpen() && !usableRing(s, true)) {
        return ringFailure(s);
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
    // One deadline for the whole call, however often the ring is found replaced while waiting for its lock.
    const int64_t deadline = qorslog::monotonicNs() + qorslog::WriteLockWaitNs;
    s.lockHolder = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int32_t rc = s.ring.append(record, s.ringPath, deadline);
        if (rc == QORSLOG_ERR_RING_BUSY) {
            s.lockHolder = int32_t(s.ring.lockHolder());
        }
        if (rc != qorslog::AppendMoved) {
            return rc;
        }
        if (!usableRing(s, true)) {
            return ringFailure(s);
        }
    }
    return QORSLOG_ERR_RING_IO;
}
