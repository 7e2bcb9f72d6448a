// SPDX-License-Identifier: MIT
#pragma once

// The event ring file, EventLog/events.ring, mapped shared by every process of the suite.
//
// Layout: a 64-byte header, then one 32-bit sequence counter per slot, padded to RecordsOffset, then 5000
// records of 941 bytes. A writer holds an exclusive flock on the file, makes the slot's counter odd, copies the
// record, makes the counter even again and only then publishes the new write position and the event count; the
// header's own counter is odd for the whole write. A reader takes no lock: it copies a slot (or the position and
// count) between two reads of its counter and copies again when the counter was odd or changed, so a record
// that a writer is replacing is never delivered half old, half new, nor a position with another write's count.
// A writer stopped while it holds the ring (SIGSTOP, a debugger) would keep a reader waiting for ever: a read
// gives up once it sees the holder stopped (or after ReadLimitNs) and the ring counts as held until a read gets
// through again.

#include "qorslog2.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace qorslog {

constexpr char RingMagic[8] = {'Q', 'O', 'R', 'V', 'R', 'I', 'N', 'G'};
constexpr uint32_t RingFormatVersion = 1;
constexpr size_t RingHeaderSize = 64;
constexpr size_t RingRecordsOffset = 20480; // header + 5000 counters, rounded up to whole pages
constexpr size_t RingFileSize = RingRecordsOffset + size_t(QORSLOG_RING_SIZE) * QORSLOG_RECORD_SIZE;
// How long one read waits for a writer that holds a counter odd: past ReadBudgetNs, far longer than any write
// takes, it asks whether the holder is stopped; past ReadLimitNs it gives up on any holder, so a reader's timer
// tick stays a tick.
constexpr long ReadBudgetNs = 2'000'000;
constexpr long ReadLimitNs = 50'000'000;

struct RingHeader
{
    char magic[8];
    uint32_t version;
    uint32_t recordSize;
    uint32_t capacity;
    uint32_t recordsOffset;
    uint32_t writePos; // next slot to write, 0..4999
    uint32_t headerSeq; // odd while a writer publishes writePos and eventCount
    uint64_t eventCount; // events ever written
    uint8_t reserved1[24];
};
static_assert(sizeof(RingHeader) == RingHeaderSize);
static_assert(RingHeaderSize + QORSLOG_RING_SIZE * sizeof(uint32_t) <= RingRecordsOffset);

class EventRing
{
public:
    EventRing() = default;
    ~EventRing();
    EventRing(const EventRing&) = delete;
    EventRing& operator=(const EventRing&) = delete;

    // Opens the ring file at path, creating it when there is none (unless `mayCreate` is false). 0 or a negative
    // result code.
    int open(const std::string& path, bool mayCreate = true);
    void close();
    bool isOpen() const { return m_base != nullptr; }
    // Whether the mapped file is the one that stat() found at the path, still whole: a mapping of a file cut
    // shorter must never be touched again (SIGBUS), and a deleted one no longer receives events.
    bool isMappedFile(const struct stat& st) const;
    // A read gave up on a writer that holds the ring; cleared by the next read that gets through.
    bool held() const { return m_held; }

    int32_t writePos() const;
    uint64_t eventCount() const;
    // The write position and the count of events ever written, as one writer left them together. False when a
    // writer held them past the read budget.
    bool writeState(int32_t& pos, uint64_t& count) const;
    // Appends one finished record under the writer lock; the position written or a negative code.
    int32_t append(const EventRecord& record);
    // Copies `count` records from slot `start` (0..4999) on, wrapping at the end. False when a writer held a
    // slot past the read budget (the records are then not all delivered).
    bool read(int32_t start, int32_t count, EventRecord* out) const;

private:
    int create(const std::string& path);
    int check() const;
    bool readSlot(int32_t slot, EventRecord& out) const;
    bool holderStopped() const;
    template <class Copy, class Dead>
    bool readStable(uint32_t& counter, Copy copy, Dead dead) const;
    RingHeader* header() const { return reinterpret_cast<RingHeader*>(m_base); }
    uint32_t* counters() const { return reinterpret_cast<uint32_t*>(m_base + RingHeaderSize); }
    unsigned char* slot(int32_t i) const { return m_base + RingRecordsOffset + size_t(i) * QORSLOG_RECORD_SIZE; }

    int m_fd = -1;
    unsigned char* m_base = nullptr;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    mutable bool m_held = false;
};

} // namespace qorslog
