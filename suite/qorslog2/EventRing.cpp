// SPDX-License-Identifier: MIT
#include "EventRing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace qorslog {

namespace {

constexpr size_t HeaderSeqOffset = offsetof(RingHeader, headerSeq);

size_t counterOffset(int32_t slot)
{
    return RingHeaderSize + size_t(slot) * sizeof(uint32_t);
}

size_t recordOffset(int32_t slot)
{
    return RingRecordsOffset + size_t(slot) * QORSLOG_RECORD_SIZE;
}

bool preadAll(int fd, void* out, size_t size, size_t offset)
{
    auto* p = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false; // 0: the file ends here, it was cut shorter
        }
        p += n;
        size -= size_t(n);
        offset += size_t(n);
    }
    return true;
}

bool pwriteAll(int fd, const void* data, size_t size, size_t offset)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= size_t(n);
        offset += size_t(n);
    }
    return true;
}

enum class LockWait
{
    Locked,
    TimedOut,
    Failed,
};

// Takes an flock, trying again with a growing pause until the deadline: a holder that never lets go (stopped,
// or a lock taken on purpose) must not keep the caller waiting for ever.
LockWait lockUntil(int fd, int op, int64_t deadline)
{
    int64_t pauseNs = 50'000;
    for (;;) {
        if (flock(fd, op | LOCK_NB) == 0) {
            return LockWait::Locked;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return LockWait::Failed;
        }
        const int64_t left = deadline - monotonicNs();
        if (left <= 0) {
            return LockWait::TimedOut;
        }
        const int64_t pause = std::min(pauseNs, left);
        const timespec ts{time_t(pause / 1'000'000'000), long(pause % 1'000'000'000)};
        nanosleep(&ts, nullptr);
        pauseNs = std::min<int64_t>(pauseNs * 2, 20'000'000);
    }
}

// The suite's writers are the members of the ring folder's group (the folder gets the working directory's group
// when it is made): they may read and write the ring, nobody else may open it. A creator outside that group
// keeps the ring to itself.
bool restrictAccess(int fd, const std::string& folder)
{
    struct stat dir
    {
    };
    if (::stat(folder.c_str(), &dir) == 0 && fchown(fd, uid_t(-1), dir.st_gid) == 0) {
        return fchmod(fd, 0660) == 0;
    }
    return fchmod(fd, 0600) == 0;
}

uint64_t newIdentity()
{
    uint64_t id = 0;
    if (getrandom(&id, sizeof id, 0) != ssize_t(sizeof id)) {
        id = uint64_t(monotonicNs()) ^ (uint64_t(getpid()) << 32);
    }
    return id != 0 ? id : 1;
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

// Calls found(pid, writeLock) for every lock that /proc/locks shows held on the file (waiters left out) until
// it returns true.
template <class Found>
void scanLocks(dev_t dev, ino_t ino, Found found)
{
    FILE* f = fopen("/proc/locks", "re");
    if (!f) {
        return;
    }
    char id[64];
    snprintf(id, sizeof id, " %02x:%02x:%lu ", major(dev), minor(dev), static_cast<unsigned long>(ino));
    char line[256];
    while (fgets(line, sizeof line, f)) {
        if (strstr(line, "->") || !strstr(line, id)) {
            continue;
        }
        const char* mode = strstr(line, " WRITE ");
        const bool write = mode != nullptr;
        if (!mode) {
            mode = strstr(line, " READ ");
        }
        long pid = 0;
        if (mode && sscanf(mode + (write ? 7 : 6), "%ld", &pid) == 1 && pid > 0 && found(pid, write)) {
            break;
        }
    }
    fclose(f);
}

// A SIGBUS that a guarded copy or store raises inside the mapping (the file was cut shorter meanwhile) ends the
// guarded code with an error instead of the process. Any other SIGBUS goes where it went before.
struct BusGuard
{
    sigjmp_buf env;
    const unsigned char* begin;
    const unsigned char* end;
};

__attribute__((tls_model("initial-exec"))) thread_local BusGuard* t_busGuard = nullptr;
struct sigaction g_previousBus
{
};
std::once_flag g_busGuardInstalled;

void onBus(int signal, siginfo_t* info, void* context)
{
    BusGuard* guard = t_busGuard;
    const auto* at = static_cast<const unsigned char*>(info->si_addr);
    if (guard != nullptr && at >= guard->begin && at < guard->end) {
        t_busGuard = nullptr;
        siglongjmp(guard->env, 1);
    }
    if ((g_previousBus.sa_flags & SA_SIGINFO) != 0 && g_previousBus.sa_sigaction != nullptr) {
        g_previousBus.sa_sigaction(signal, info, context);
    } else if (g_previousBus.sa_handler != SIG_DFL && g_previousBus.sa_handler != SIG_IGN) {
        g_previousBus.sa_handler(signal);
    } else {
        // The fault comes again when the store is retried, and then ends the process as it would have.
        sigaction(SIGBUS, &g_previousBus, nullptr);
    }
}

void installBusGuard()
{
    std::call_once(g_busGuardInstalled, [] {
        struct sigaction action
        {
        };
        action.sa_sigaction = onBus;
        sigemptyset(&action.sa_mask);
        // Not blocked in the handler, so the jump out of it leaves SIGBUS unblocked without restoring a mask.
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigaction(SIGBUS, &action, &g_previousBus);
    });
}

// Runs `touch`, which reads or writes the mapping `map`, with the SIGBUS guard armed: false when a touch raised
// SIGBUS (the file was cut shorter meanwhile) and `touch` was left there. `touch` may hold nothing that needs
// unwinding, and what it wrote into its caller's variables is then incomplete.
template <class Touch>
bool guarded(const unsigned char* map, Touch&& touch)
{
    BusGuard guard{};
    guard.begin = map;
    guard.end = map + RingFileSize;
    if (sigsetjmp(guard.env, 0) != 0) {
        return false;
    }
    t_busGuard = &guard;
    touch();
    t_busGuard = nullptr;
    return true;
}

} // namespace

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

EventRing::~EventRing()
{
    close();
}

EventRing::EventRing(EventRing&& other) noexcept
{
    *this = std::move(other);
}

EventRing& EventRing::operator=(EventRing&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_map = std::exchange(other.m_map, nullptr);
        m_writable = std::exchange(other.m_writable, false);
        m_dev = std::exchange(other.m_dev, 0);
        m_ino = std::exchange(other.m_ino, 0);
        m_identity = std::exchange(other.m_identity, 0);
        m_held = std::exchange(other.m_held, false);
        m_seqBefore = std::move(other.m_seqBefore);
        m_seqAfter = std::move(other.m_seqAfter);
    }
    return *this;
}

void EventRing::close()
{
    if (m_map != nullptr) {
        munmap(m_map, RingFileSize);
        m_map = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_writable = false;
    m_dev = 0;
    m_ino = 0;
    m_identity = 0;
    m_held = false;
}

bool EventRing::isFileAt(const struct stat& st) const
{
    return m_fd >= 0 && S_ISREG(st.st_mode) && st.st_dev == m_dev && st.st_ino == m_ino
        && st.st_size == off_t(RingFileSize);
}

bool EventRing::isWhole() const
{
    struct stat st
    {
    };
    return m_fd >= 0 && fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == off_t(RingFileSize);
}

// A fresh ring is written completely under a private name and then linked into place: link() fails when
// another process got there first, so two creators never both initialise the file that readers open.
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
    h.identity = newIdentity();
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    bool ok = restrictAccess(fd, folder) && ftruncate(fd, off_t(RingFileSize)) == 0 && pwriteAll(fd, &h, sizeof h, 0)
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
    bool writable = fd >= 0;
    if (fd < 0 && errno == EACCES) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); // a reader the ring's group may not write
    }
    if (fd < 0 && errno == ENOENT && mayCreate) {
        if (const int rc = create(path); rc != QORSLOG_OK) {
            return rc;
        }
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        writable = fd >= 0;
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
    // Rings made before their access was restricted were open to every user.
    if (st.st_uid == geteuid() && (st.st_mode & 0007) != 0) {
        fchmod(fd, st.st_mode & 0770);
    }
    // Readers copy batches out of the mapping and writers store through it, both under the SIGBUS guard.
    void* map = mmap(nullptr, RingFileSize, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        ::close(fd);
        return QORSLOG_ERR_RING_IO;
    }
    installBusGuard();
    m_fd = fd;
    m_map = static_cast<unsigned char*>(map);
    m_writable = writable;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    if (const int rc = check(); rc != QORSLOG_OK) {
        close();
        return rc;
    }
    m_seqBefore.resize(QORSLOG_RING_SIZE);
    m_seqAfter.resize(QORSLOG_RING_SIZE);
    return QORSLOG_OK;
}

int EventRing::check()
{
    RingHeader h{};
    if (!preadAll(m_fd, &h, sizeof h, 0)) {
        return QORSLOG_ERR_RING_FORMAT;
    }
    if (memcmp(h.magic, RingMagic, sizeof h.magic) != 0 || h.version != RingFormatVersion
        || h.recordSize != QORSLOG_RECORD_SIZE || h.capacity != QORSLOG_RING_SIZE
        || h.recordsOffset != RingRecordsOffset || h.writePos >= QORSLOG_RING_SIZE) {
        return QORSLOG_ERR_RING_FORMAT;
    }
    m_identity = h.identity;
    return QORSLOG_OK;
}

bool EventRing::readCounter(size_t offset, uint32_t& value) const
{
    return preadAll(m_fd, &value, sizeof value, offset);
}

int32_t EventRing::append(const EventRecord& record, const std::string& path, int64_t deadline)
{
    if (!m_writable) {
        return QORSLOG_ERR_RING_IO;
    }
    switch (lockUntil(m_fd, LOCK_EX, deadline)) {
    case LockWait::Locked:
        break;
    case LockWait::TimedOut:
        return QORSLOG_ERR_RING_BUSY;
    case LockWait::Failed:
        return QORSLOG_ERR_RING_IO;
    }
    // A writer that waited while the ring was deleted or replaced would write into a file that no reader opens
    // any more, and report success.
    struct stat st
    {
    };
    const int32_t rc = ::stat(path.c_str(), &st) == 0 && isFileAt(st) ? store(record) : AppendMoved;
    flock(m_fd, LOCK_UN);
    return rc;
}

// The stores of one append, under the writer lock, through the mapping: the header's counter stays odd for a
// few hundred nanoseconds only, so readers seldom wait. A file cut shorter meanwhile makes the guard end them.
int32_t EventRing::store(const EventRecord& record)
{
    int32_t rc = QORSLOG_ERR_RING_FORMAT;
    const bool whole = guarded(m_map, [&] {
        auto* header = reinterpret_cast<RingHeader*>(m_map);
        auto* counters = reinterpret_cast<uint32_t*>(m_map + RingHeaderSize);
        const uint32_t raw = std::atomic_ref<uint32_t>(header->writePos).load(std::memory_order_acquire);
        if (raw >= QORSLOG_RING_SIZE) {
            return;
        }
        const auto pos = int32_t(raw);
        // The header's counter is odd for the whole write, record included: a reader that got this record and
        // then asks for the write state waits for the new count, so it knows which event the position holds now.
        std::atomic_ref<uint32_t> headerSeq(header->headerSeq);
        const uint32_t headerOdd = headerSeq.load(std::memory_order_relaxed) | 1u;
        headerSeq.store(headerOdd, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        std::atomic_ref<uint32_t> seq(counters[pos]);
        // A writer that died mid-record left the counter odd; it stays odd until this record is complete.
        const uint32_t odd = seq.load(std::memory_order_relaxed) | 1u;
        seq.store(odd, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        memcpy(m_map + recordOffset(pos), &record, sizeof record);
        seq.store(odd + 1, std::memory_order_release);
        std::atomic_ref<uint32_t>(header->writePos)
            .store(uint32_t(pos + 1) % QORSLOG_RING_SIZE, std::memory_order_release);
        std::atomic_ref<uint64_t> count(header->eventCount);
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        headerSeq.store(headerOdd + 1, std::memory_order_release);
        rc = pos;
    });
    return whole ? rc : QORSLOG_ERR_RING_FORMAT;
}

long EventRing::lockHolder() const
{
    long holder = 0;
    const long self = long(getpid());
    scanLocks(m_dev, m_ino, [&](long pid, bool) {
        holder = pid != self ? pid : 0;
        return holder != 0;
    });
    return holder;
}

// Whether the process that holds the writer lock is stopped (SIGSTOP, a debugger): /proc/locks names it.
bool EventRing::holderStopped() const
{
    bool stopped = false;
    scanLocks(m_dev, m_ino, [&](long pid, bool write) {
        if (write) {
            const char state = processState(pid);
            stopped = state == 'T' || state == 't';
        }
        return stopped;
    });
    return stopped;
}

// Copies what `copy` reads between two reads of an even sequence counter. A counter that stays odd for long
// belongs to a busy or descheduled writer, to one that died mid-write or to one stopped while it holds the ring:
// after a few tries the reader tries the lock without waiting each time, and with it copies what no writer can change
// meanwhile
// (`dead` decides what the reader gets of a dead writer's half-written record). A stopped writer may
// never go on: the wait ends once the holder is seen stopped after ReadBudgetNs (looked at once per budget), for
// any holder after ReadLimitNs, and at once when the ring is already known held. `copy` and `dead` return false when
// the file could not be read.
template <class Copy, class Dead>
RingRead EventRing::readStable(size_t counterOffset, Copy copy, Dead dead) const
{
    int64_t start = 0;
    int64_t lastLook = 0;
    bool expired = false;
    for (unsigned attempt = 0;; ++attempt) {
        uint32_t before = 0;
        if (!readCounter(counterOffset, before)) {
            return RingRead::Cut;
        }
        if ((before & 1u) == 0) {
            uint32_t after = 0;
            if (!copy() || !readCounter(counterOffset, after)) {
                return RingRead::Cut;
            }
            if (after == before) {
                m_held = false;
                return RingRead::Ok;
            }
        }
        // The wait ends only after one more try: a reader that waited for the processor itself must not take a
        // writer that finished long ago for one that holds the ring.
        if (expired) {
            m_held = true;
            return RingRead::Held;
        }
        if (attempt < 64) {
            continue;
        }
        if (flock(m_fd, LOCK_SH | LOCK_NB) == 0) {
            // No writer is inside now, and none gets in until the lock is given back: the copy is stable. A
            // counter still odd belongs to a writer that died mid-write.
            uint32_t now = 0;
            const bool delivered = readCounter(counterOffset, now) && ((now & 1u) != 0 ? dead() : copy());
            flock(m_fd, LOCK_UN);
            if (!delivered) {
                return RingRead::Cut;
            }
            m_held = false;
            return RingRead::Ok;
        }
        if (m_held) {
            return RingRead::Held;
        }
        sched_yield();
        const int64_t now = monotonicNs();
        if (start == 0) {
            start = now;
            lastLook = now;
        } else if (now - start > ReadLimitNs) {
            expired = true;
        } else if (now - start > ReadBudgetNs && now - lastLook >= ReadBudgetNs) {
            lastLook = now;
            expired = holderStopped();
        }
    }
}

RingRead EventRing::readSlot(int32_t i, EventRecord& out) const
{
    // A half-written record of a dead writer is delivered blank, never mixed.
    return readStable(
        counterOffset(i),
        [&] { return preadAll(m_fd, &out, sizeof out, recordOffset(i)); },
        [&] {
            memset(&out, 0, sizeof out);
            return true;
        });
}

RingRead EventRing::writePos(int32_t& pos) const
{
    // One guarded look at the mapping: a reader that follows every new mark asks for it once per task, and a
    // system call each time cost a tick with 2000 new marks about a third more.
    uint32_t value = 0;
    const bool whole = guarded(m_map, [&] {
        value =
            std::atomic_ref<uint32_t>(reinterpret_cast<RingHeader*>(m_map)->writePos).load(std::memory_order_acquire);
    });
    if (!whole) {
        return RingRead::Cut;
    }
    pos = int32_t(value % QORSLOG_RING_SIZE);
    return RingRead::Ok;
}

RingRead EventRing::writeState(int32_t& pos, uint64_t& count) const
{
    // Nearly always no writer is inside the header: one look at the mapping then gives both. Else the careful
    // read waits for the writer, or finds the file cut.
    bool stable = false;
    uint32_t p = 0;
    uint64_t c = 0;
    const bool whole = guarded(m_map, [&] {
        auto* header = reinterpret_cast<RingHeader*>(m_map);
        std::atomic_ref<uint32_t> seq(header->headerSeq);
        const uint32_t before = seq.load(std::memory_order_acquire);
        p = std::atomic_ref<uint32_t>(header->writePos).load(std::memory_order_acquire);
        c = std::atomic_ref<uint64_t>(header->eventCount).load(std::memory_order_acquire);
        std::atomic_thread_fence(std::memory_order_acquire);
        stable = (before & 1u) == 0 && seq.load(std::memory_order_relaxed) == before;
    });
    if (whole && stable) {
        m_held = false;
        pos = int32_t(p % QORSLOG_RING_SIZE);
        count = c;
        return RingRead::Ok;
    }
    RingHeader h{};
    auto copy = [&] { return preadAll(m_fd, &h, sizeof h, 0); };
    // A writer that died between the two stores left them one event apart; what is there is all there is.
    const RingRead result = readStable(HeaderSeqOffset, copy, copy);
    if (result == RingRead::Ok) {
        // The header is shared with other processes: a damaged value must not take a reader outside the ring.
        pos = int32_t(h.writePos % QORSLOG_RING_SIZE);
        count = h.eventCount;
    }
    return result;
}

RingRead EventRing::finalState(int32_t& pos, uint64_t& count, int64_t waitNs) const
{
    const bool locked = lockUntil(m_fd, LOCK_SH, monotonicNs() + waitNs) == LockWait::Locked;
    RingRead result = writeState(pos, count);
    if (result == RingRead::Held) {
        // A writer stopped inside it: what it published before is all a reader gets.
        RingHeader h{};
        result = preadAll(m_fd, &h, sizeof h, 0) ? RingRead::Ok : RingRead::Cut;
        pos = int32_t(h.writePos % QORSLOG_RING_SIZE);
        count = h.eventCount;
    }
    if (locked) {
        flock(m_fd, LOCK_UN);
    }
    return result;
}

// The records are copied in at most two runs of slots (the batch may wrap), with the counters of each run read
// before and after them; only a slot whose counter was odd or moved meanwhile is read again on its own.
RingRead EventRing::read(int32_t start, int32_t count, EventRecord* out) const
{
    if (count <= 0) {
        return RingRead::Ok;
    }
    uint32_t* before = m_seqBefore.data();
    uint32_t* after = m_seqAfter.data();
    const int32_t first = std::min(count, QORSLOG_RING_SIZE - start);
    if (!copyRun(start, first, out, before, after)
        || (count > first && !copyRun(0, count - first, out + first, before + first, after + first))) {
        return RingRead::Cut;
    }
    for (int32_t n = 0; n < count; ++n) {
        if ((before[n] & 1u) != 0 || before[n] != after[n]) {
            if (const RingRead r = readSlot((start + n) % QORSLOG_RING_SIZE, out[n]); r != RingRead::Ok) {
                return r;
            }
        }
    }
    m_held = false;
    return RingRead::Ok;
}

// One run of consecutive slots: their counters, their records, their counters again, copied from the mapping
// under the SIGBUS guard. False when the file was cut shorter meanwhile.
bool EventRing::copyRun(int32_t slot, int32_t length, EventRecord* out, uint32_t* before, uint32_t* after) const
{
    return guarded(m_map, [&] {
        auto* counters = reinterpret_cast<uint32_t*>(m_map + RingHeaderSize) + slot;
        for (int32_t k = 0; k < length; ++k) {
            before[k] = std::atomic_ref<uint32_t>(counters[k]).load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        memcpy(out, m_map + recordOffset(slot), size_t(length) * sizeof(EventRecord));
        std::atomic_thread_fence(std::memory_order_acquire);
        for (int32_t k = 0; k < length; ++k) {
            after[k] = std::atomic_ref<uint32_t>(counters[k]).load(std::memory_order_relaxed);
        }
    });
}

} // namespace qorslog
