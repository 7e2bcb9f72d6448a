// SPDX-License-Identifier: MIT
#include "EventRing.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace qorslog {

namespace {

// Holds an flock for one scope.
class FileLock
{
public:
    FileLock(int fd, int op)
        : m_fd(fd)
    {
        int rc;
        do {
            rc = flock(fd, op);
        } while (rc != 0 && errno == EINTR);
        m_ok = rc == 0;
    }
    ~FileLock()
    {
        if (m_ok) {
            flock(m_fd, LOCK_UN);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool ok() const { return m_ok; }

private:
    int m_fd;
    bool m_ok = false;
};

bool writeAll(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

EventRing::~EventRing()
{
    close();
}

void EventRing::close()
{
    if (m_base) {
        munmap(m_base, RingFileSize);
        m_base = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_dev = 0;
    m_ino = 0;
    m_held = false;
}

bool EventRing::isMappedFile(const struct stat& st) const
{
    return m_base != nullptr && S_ISREG(st.st_mode) && st.st_dev == m_dev && st.st_ino == m_ino
        && st.st_size == off_t(RingFileSize);
}

// A fresh ring is written completely under a private name and then linked into place: link() fails when
// another process got there first, so two creators never both initialise the file that readers map.
int EventRing::create(const std::string& path)
{
    char tmpl[4096];
    if (snprintf(tmpl, sizeof tmpl, "%s.new.XXXXXX", path.c_str()) >= int(sizeof tmpl)) {
        return QORSLOG_ERR_RING_IO;
    }
    const int fd = mkstemp(tmpl);
    if (fd < 0) {
        return QORSLOG_ERR_RING_IO;
    }
    RingHeader h{};
    memcpy(h.magic, RingMagic, sizeof h.magic);
    h.version = RingFormatVersion;
    h.recordSize = QORSLOG_RECORD_SIZE;
    h.capacity = QORSLOG_RING_SIZE;
    h.recordsOffset = RingRecordsOffset;
    bool ok = fchmod(fd, 0644) == 0 && ftruncate(fd, off_t(RingFileSize)) == 0 && writeAll(fd, &h, sizeof h)
        && fsync(fd) == 0;
    ::close(fd);
    if (ok && link(tmpl, path.c_str()) != 0 && errno != EEXIST) {
        ok = false;
    }
    unlink(tmpl);
    return ok ? QORSLOG_OK : QORSLOG_ERR_RING_IO;
}

int EventRing::open(const std::string& path, bool mayCreate)
{
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && mayCreate) {
        if (const int rc = create(path); rc != QORSLOG_OK) {
            return rc;
        }
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) {
        return QORSLOG_ERR_RING_IO;
    }
    struct stat st
    {
    };
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return QORSLOG_ERR_RING_IO;
    }
    if (!S_ISREG(st.st_mode) || st.st_size != off_t(RingFileSize)) {
        ::close(fd);
        return QORSLOG_ERR_RING_FORMAT;
    }
    void* base = mmap(nullptr, RingFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        ::close(fd);
        return QORSLOG_ERR_RING_IO;
    }
    m_fd = fd;
    m_base = static_cast<unsigned char*>(base);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    if (const int rc = check(); rc != QORSLOG_OK) {
        close();
        return rc;
    }
    return QORSLOG_OK;
}

int EventRing::check() const
{
    const RingHeader& h = *header();
    if (memcmp(h.magic, RingMagic, sizeof h.magic) != 0 || h.version != RingFormatVersion
        || h.recordSize != QORSLOG_RECORD_SIZE || h.capacity != QORSLOG_RING_SIZE
        || h.recordsOffset != RingRecordsOffset
        || std::atomic_ref<uint32_t>(header()->writePos).load(std::memory_order_acquire) >= QORSLOG_RING_SIZE) {
        return QORSLOG_ERR_RING_FORMAT;
    }
    return QORSLOG_OK;
}

int32_t EventRing::writePos() const
{
    // The header is shared with other processes: a damaged value must not take a reader outside the ring.
    return int32_t(std::atomic_ref<uint32_t>(header()->writePos).load(std::memory_order_acquire) % QORSLOG_RING_SIZE);
}

uint64_t EventRing::eventCount() const
{
    return std::atomic_ref<uint64_t>(header()->eventCount).load(std::memory_order_acquire);
}

int32_t EventRing::append(const EventRecord& record)
{
    FileLock lock(m_fd, LOCK_EX);
    if (!lock.ok()) {
        return QORSLOG_ERR_RING_IO;
    }
    const int32_t pos = writePos();
    // The header's counter is odd for the whole write, record included: a reader that got this record and
    // then asks for the write state waits for the new count, so it knows which event the position holds now.
    std::atomic_ref<uint32_t> headerSeq(header()->headerSeq);
    const uint32_t headerOdd = headerSeq.load(std::memory_order_relaxed) | 1u;
    headerSeq.store(headerOdd, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    std::atomic_ref<uint32_t> seq(counters()[pos]);
    // A writer that died mid-record left the counter odd; it stays odd until this record is complete.
    const uint32_t odd = seq.load(std::memory_order_relaxed) | 1u;
    seq.store(odd, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    memcpy(slot(pos), &record, sizeof record);
    seq.store(odd + 1, std::memory_order_release);
    std::atomic_ref<uint32_t>(header()->writePos)
        .store(uint32_t(pos + 1) % QORSLOG_RING_SIZE, std::memory_order_release);
    std::atomic_ref<uint64_t> count(header()->eventCount);
    count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    headerSeq.store(headerOdd + 1, std::memory_order_release);
    return pos;
}

namespace {

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The state letter of a process ('T' stopped, 't' stopped by a debugger), 0 when unknown.
char processState(long pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE* f = fopen(path, "re");
    if (!f) {
        return 0;
    }
    char line[512];
    const bool got = fgets(line, sizeof line, f) != nullptr;
    fclose(f);
    const char* close = got ? strrchr(line, ')') : nullptr;
    return close && close[1] == ' ' ? close[2] : 0;
}

} // namespace

// Whether the process that holds the writer lock is stopped (SIGSTOP, a debugger): /proc/locks names it.
bool EventRing::holderStopped() const
{
    FILE* f = fopen("/proc/locks", "re");
    if (!f) {
        return false;
    }
    char id[64];
    snprintf(id, sizeof id, " %02x:%02x:%lu ", major(m_dev), minor(m_dev), static_cast<unsigned long>(m_ino));
    bool stopped = false;
    char line[256];
    while (!stopped && fgets(line, sizeof line, f)) {
        long pid = 0;
        if (strstr(line, "->") || !strstr(line, " FLOCK ") || !strstr(line, " WRITE ") || !strstr(line, id)) {
            continue;
        }
        const char* p = strstr(line, " WRITE ") + 7;
        if (sscanf(p, "%ld", &pid) == 1 && pid > 0) {
            const char state = processState(pid);
            stopped = state == 'T' || state == 't';
        }
    }
    fclose(f);
    return stopped;
}

// Copies what `copy` reads between two reads of an even sequence counter. A counter that stays odd for long
// belongs to a descheduled writer, to one that died mid-write or to one stopped while it holds the ring: only a
// dead writer lets us take the lock at once, and then `dead` decides what the reader gets. A stopped writer may
// never go on: the wait ends once the holder is seen stopped after ReadBudgetNs, for any holder after
// ReadLimitNs, and at once when the ring is already known held. Then false.
template <class Copy, class Dead>
bool EventRing::readStable(uint32_t& counter, Copy copy, Dead dead) const
{
    std::atomic_ref<uint32_t> seq(counter);
    int64_t start = 0;
    for (unsigned attempt = 0;; ++attempt) {
        const uint32_t before = seq.load(std::memory_order_acquire);
        if ((before & 1u) == 0) {
            copy();
            std::atomic_thread_fence(std::memory_order_acquire);
            if (seq.load(std::memory_order_relaxed) == before) {
                m_held = false;
                return true;
            }
            continue;
        }
        if (attempt < 64) {
            continue;
        }
        if (attempt % 256 == 64) {
            FileLock probe(m_fd, LOCK_SH | LOCK_NB);
            if (probe.ok() && (seq.load(std::memory_order_acquire) & 1u) != 0) {
                dead();
                m_held = false;
                return true;
            }
            if (!probe.ok() && m_held) {
                return false;
            }
        }
        sched_yield();
        const int64_t now = monotonicNs();
        if (start == 0) {
            start = now;
        } else if (now - start > ReadLimitNs
            || (now - start > ReadBudgetNs && attempt % 256 == 64 && holderStopped())) {
            m_held = true;
            return false;
        }
    }
}

bool EventRing::readSlot(int32_t i, EventRecord& out) const
{
    // A half-written record of a dead writer is delivered blank, never mixed.
    return readStable(
        counters()[i], [&] { memcpy(&out, slot(i), sizeof out); }, [&] { memset(&out, 0, sizeof out); });
}

bool EventRing::writeState(int32_t& pos, uint64_t& count) const
{
    int32_t p = 0;
    uint64_t c = 0;
    auto copy = [&] {
        p = writePos();
        c = eventCount();
    };
    // A writer that died between the two stores left them one event apart; what is there is all there is.
    if (!readStable(header()->headerSeq, copy, copy)) {
        return false;
    }
    pos = p;
    count = c;
    return true;
}

bool EventRing::read(int32_t start, int32_t count, EventRecord* out) const
{
    for (int32_t n = 0; n < count; ++n) {
        if (!readSlot((start + n) % QORSLOG_RING_SIZE, out[n])) {
            return false;
        }
    }
    return true;
}

} // namespace qorslog
