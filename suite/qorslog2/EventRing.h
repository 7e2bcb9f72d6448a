// SPDX-License-Identifier: MIT
#pragma once

// The event ring file, EventLog/events.ring, shared by every process of the suite.
//
// Layout: a 64-byte header, then one 32-bit sequence counter per slot, padded to RecordsOffset, then 5000
// records of 941 bytes. A writer holds an exclusive flock on the file, makes the slot's counter odd, writes the
// record, makes the counter even again and only then publishes the new write position and the event count; the
// header's own counter is odd for the whole write. A reader takes no lock: it copies a slot (or the position and
// count) between two reads of its counter and copies again when the counter was odd or changed, so a record
// that a writer is replacing is never delivered half old, half new, nor a position with another write's count.
// A writer stopped while it holds the ring (SIGSTOP, a debugger) would keep a reader waiting for ever: a read
// gives up once it sees the holder stopped (or after ReadLimitNs) and the ring counts as held until a read gets
// through again.
//
// The file is mapped shared; a file that someone cuts shorter (`: > events.ring`, a truncate in the middle of a
// 5000-event read or of an append) makes the next touch of the mapping raise SIGBUS. Every touch is therefore a
// guarded copy or store that turns that SIGBUS into an error, or a pread on the open descriptor, which sees the
// file end early. A file deleted or replaced at the path stays readable through the mapping and the descriptor.

#include "qorslog2.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

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
// How long a writer waits for the writer lock before it reports the ring busy: a write takes microseconds, so
// a holder past this is stopped, hung or not a writer at all (`flock events.ring sleep 1d`).
constexpr int64_t WriteLockWaitNs = 1'000'000'000;
// append() found, once it held the lock, that the file at the path is another one (deleted and made anew while
// it waited): nothing was written, the caller opens the file at the path and tries again.
constexpr int32_t AppendMoved = -1000;

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
    uint64_t identity; // random, chosen when the file is made: a copy of the file keeps it (0 in older rings)
    uint8_t reserved1[16];
};
static_assert(sizeof(RingHeader) == RingHeaderSize);
static_assert(RingHeaderSize + QORSLOG_RING_SIZE * sizeof(uint32_t) <= RingRecordsOffset);

enum class RingRead
{
    Ok,
    Held, // a writer holds a slot or the header past the read budget
    Cut, // the file is shorter than a ring (cut while open) or cannot be read
};

int64_t monotonicNs();

class EventRing
{
public:
    EventRing() = default;
    ~EventRing();
    EventRing(EventRing&& other) noexcept;
    EventRing& operator=(EventRing&& other) noexcept;
    EventRing(const EventRing&) = delete;
    EventRing& operator=(const EventRing&) = delete;

    // Opens the ring file at path, creating it when there is none (unless `mayCreate` is false). 0 or a negative
    // result code. A file this process owns loses any access it gave to other users.
    int open(const std::string& path, bool mayCreate = true);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // Whether the open file is the one that stat() found at the path, still whole.
    bool isFileAt(const struct stat& st) const;
    // Whether the open file still has a ring's size (a file deleted or replaced at the path keeps it; one cut
    // shorter does not).
    bool isWhole() const;
    // A read gave up on a writer that holds the ring; cleared by the next read that gets through.
    bool held() const { return m_held; }
    uint64_t identity() const { return m_identity; }

    // The write position as the header holds it now, without waiting for a writer inside the header.
    RingRead writePos(int32_t& pos) const;
    // The write position and the count of events ever written, as one writer left them together.
    RingRead writeState(int32_t& pos, uint64_t& count) const;
    // The same once no writer is inside the file (a shared lock for up to `waitNs`), else as the header holds
    // them: for a file nobody writes into any more.
    RingRead finalState(int32_t& pos, uint64_t& count, int64_t waitNs) const;
    // Appends one finished record under the writer lock, waiting for the lock until `deadline` (monotonicNs()).
    // The position written, QORSLOG_ERR_RING_BUSY when the lock was not had in time, AppendMoved when the file at
    // `path` is no longer this one, or another negative code.
    int32_t append(const EventRecord& record, const std::string& path, int64_t deadline);
    // Copies `count` records from slot `start` (0..4999) on, wrapping at the end.
    RingRead read(int32_t start, int32_t count, EventRecord* out) const;
    // A process other than this one that /proc/locks names as holding a lock on the file, 0 when none is named.
    long lockHolder() const;

private:
    int create(const std::string& path);
    int32_t store(const EventRecord& record);
    bool copyRun(int32_t slot, int32_t length, EventRecord* out, uint32_t* before, uint32_t* after) const;
    int check();
    RingRead readSlot(int32_t slot, EventRecord& out) const;
    bool readCounter(size_t offset, uint32_t& value) const;
    bool holderStopped() const;
    template <class Copy, class Dead>
    RingRead readStable(size_t counterOffset, Copy copy, Dead dead) const;

    int m_fd = -1;
    unsigned char* m_map = nullptr;
    bool m_writable = false; // opened for writing (a reader of a ring it may only read is not)
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    uint64_t m_identity = 0;
    mutable bool m_held = false;
    // Counters of a batch, read before and after its records.
    mutable std::vector<uint32_t> m_seqBefore;
    mutable std::vector<uint32_t> m_seqAfter;
};

} // namespace qorslog
