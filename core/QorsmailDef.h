// SPDX-License-Identifier: MIT
#pragma once

// The records every part of the station shares, laid out byte for byte as the suite's configuration program
// stores them in the task file: packed, little-endian, fixed size.

#include "StationSettings.h"

#include <QString>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

static_assert(std::endian::native == std::endian::little, "records are stored little-endian");

#pragma pack(push, 1)

// Local date and time, the layout of the Windows structure of that name.
struct SYSTEMTIME
{
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

struct TMailAddr
{
    char Name[40];
    char Addr[40];
};

struct TEventMailTask
{
    uint8_t Reserved;
    int32_t TypeCount;
    int16_t Types[100];
    char Keyword[256];
    int32_t LevelMask;
    int32_t WaitSec;
    int32_t ReceiverCount;
    TMailAddr Receivers[100];
    char Title[128];
};

struct TReportMailTask
{
    int32_t FileCount;
    char Files[10][128];
    int32_t SendType;
    SYSTEMTIME SendTime;
    SYSTEMTIME SendInterval;
    int32_t ReceiverCount;
    TMailAddr Receivers[100];
    char Title[128];
};

struct TEventTaskState
{
    int32_t State;
    int32_t FirstPos;
    int32_t EndPos;
    SYSTEMTIME TriggerTime;
    int32_t RetryCount;
};

struct TReportTaskState
{
    int32_t State;
    SYSTEMTIME DueTime;
    int32_t RetryCount;
};

struct TSmtpSettings
{
    char smtpaddr[40];
    int32_t smtpport;
    char LocalEmailAddr[40];
    uint8_t NeedAuth;
    char Username[40];
    char Password[40];
    int32_t MaxSendTries;
    int32_t WaitSeconds;
};

#pragma pack(pop)

static_assert(sizeof(SYSTEMTIME) == 16);
static_assert(sizeof(TMailAddr) == 80);
static_assert(sizeof(TEventMailTask) == 8601);
static_assert(sizeof(TReportMailTask) == 9452);
static_assert(sizeof(TEventTaskState) == 32);
static_assert(sizeof(TReportTaskState) == 24);
static_assert(sizeof(TSmtpSettings) == 173);

static_assert(offsetof(SYSTEMTIME, wDay) == 6 && offsetof(SYSTEMTIME, wMilliseconds) == 14);
static_assert(offsetof(TMailAddr, Addr) == 40);
static_assert(offsetof(TEventMailTask, TypeCount) == 1 && offsetof(TEventMailTask, Types) == 5);
static_assert(offsetof(TEventMailTask, Keyword) == 205 && offsetof(TEventMailTask, LevelMask) == 461);
static_assert(offsetof(TEventMailTask, WaitSec) == 465 && offsetof(TEventMailTask, ReceiverCount) == 469);
static_assert(offsetof(TEventMailTask, Receivers) == 473 && offsetof(TEventMailTask, Title) == 8473);
static_assert(offsetof(TReportMailTask, Files) == 4 && offsetof(TReportMailTask, SendType) == 1284);
static_assert(offsetof(TReportMailTask, SendTime) == 1288 && offsetof(TReportMailTask, SendInterval) == 1304);
static_assert(offsetof(TReportMailTask, ReceiverCount) == 1320 && offsetof(TReportMailTask, Receivers) == 1324);
static_assert(offsetof(TReportMailTask, Title) == 9324);
static_assert(offsetof(TEventTaskState, FirstPos) == 4 && offsetof(TEventTaskState, EndPos) == 8);
static_assert(offsetof(TEventTaskState, TriggerTime) == 12 && offsetof(TEventTaskState, RetryCount) == 28);
static_assert(offsetof(TReportTaskState, DueTime) == 4 && offsetof(TReportTaskState, RetryCount) == 20);
static_assert(offsetof(TSmtpSettings, smtpport) == 40 && offsetof(TSmtpSettings, LocalEmailAddr) == 44);
static_assert(offsetof(TSmtpSettings, NeedAuth) == 84 && offsetof(TSmtpSettings, Username) == 85);
static_assert(offsetof(TSmtpSettings, Password) == 125 && offsetof(TSmtpSettings, MaxSendTries) == 165);
static_assert(offsetof(TSmtpSettings, WaitSeconds) == 169);

template <class T>
concept PlainRecord = std::is_trivially_copyable_v<T> && std::is_standard_layout_v<T>;

static_assert(PlainRecord<TEventMailTask> && PlainRecord<TReportMailTask> && PlainRecord<TSmtpSettings>);

// Array capacities of the records; counts read from a file are clamped to these before any array is indexed.
constexpr int MaxReceivers = 100;
constexpr int MaxEventTypes = 100;
constexpr int MaxReportFiles = 10;

constexpr int32_t TaskFileVersion = 2000;
constexpr int EventRingSize = 5000;

// Clamps a stored count to what its array holds.
constexpr int ClampCount(int32_t count, int capacity)
{
    return count < 0 ? 0 : (count > capacity ? capacity : count);
}

// One event type the tasks can select: list index, type number and built-in name.
struct TEventTypeEntry
{
    int16_t Number;
    const char* BuiltInName; // UTF-8
};

constexpr int EventTypeListCount = 17;
extern const TEventTypeEntry EventTypeList[EventTypeListCount];

// Index of a type number in the event type list, or -1.
int EventTypeIndex(int32_t typeNumber);

// Allocator whose storage is zero from the start (calloc) and whose value-less construct leaves trivial records
// as they are. A large block is fresh pages from the kernel, which read as zero and become memory only when
// written: a table grows into it without being zeroed by hand, and a file read that writes only its non-zero
// pages leaves the rest untouched (the receiver lists nobody filled are most of a task record).
template <class T>
class TLazyZeroAllocator
{
public:
    using value_type = T;
    static_assert(alignof(T) <= alignof(std::max_align_t));

    TLazyZeroAllocator() = default;
    template <class U>
    TLazyZeroAllocator(const TLazyZeroAllocator<U>&) noexcept
    {
    }

    T* allocate(size_t n)
    {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        void* p = std::calloc(n == 0 ? 1 : n, sizeof(T));
        if (!p) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const TLazyZeroAllocator<U>&) const noexcept
    {
        return true;
    }
};

// A table of tasks of one kind with the run-time state beside each task. Task i and state i always belong
// together; the count is the length of both, so they can never disagree. Each entry also carries a serial
// number that identifies the task for as long as it is in the table, so code that keeps an index across a
// nested event loop (a send in progress while the user deletes a task) can tell whether the index still
// names the same task.
template <PlainRecord Task, PlainRecord State>
class TTaskTable
{
public:
    int count() const { return static_cast<int>(m_tasks.size()); }
    bool isEmpty() const { return m_tasks.empty(); }

    Task& task(int i) { return m_tasks.at(static_cast<size_t>(i)); }
    const Task& task(int i) const { return m_tasks.at(static_cast<size_t>(i)); }
    State& state(int i) { return m_states.at(static_cast<size_t>(i)); }
    const State& state(int i) const { return m_states.at(static_cast<size_t>(i)); }
    uint64_t serial(int i) const { return m_serials.at(static_cast<size_t>(i)); }

    // Index of the entry with this serial number, or -1 when it has been deleted.
    int indexOfSerial(uint64_t serial) const
    {
        for (size_t i = 0; i < m_serials.size(); ++i) {
            if (m_serials[i] == serial) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    // Adds a task at the end with a zeroed state.
    void append(const Task& task)
    {
        m_tasks.push_back(task);
        m_states.push_back(State{});
        m_serials.push_back(m_nextSerial++);
    }

    // An accepted edit: the task is overwritten, a pending mark or retry of it is dropped.
    void replace(int i, const Task& task)
    {
        m_tasks.at(static_cast<size_t>(i)) = task;
        m_states.at(static_cast<size_t>(i)) = State{};
        m_serials.at(static_cast<size_t>(i)) = m_nextSerial++;
    }

    // Removes task i; the later tasks and their states move down one place.
    void remove(int i)
    {
        const auto at = static_cast<std::ptrdiff_t>(i);
        (void)m_tasks.at(static_cast<size_t>(i));
        m_tasks.erase(m_tasks.begin() + at);
        m_states.erase(m_states.begin() + at);
        m_serials.erase(m_serials.begin() + at);
    }

    void clear()
    {
        m_tasks.clear();
        m_states.clear();
        m_serials.clear();
    }

    // Lengthens or shortens the table; new entries are zero bytes, tasks and states alike.
    void resize(int n)
    {
        const auto old = m_tasks.size();
        const auto size = static_cast<size_t>(n < 0 ? 0 : n);
        m_tasks.resize(size, Task{});
        m_states.resize(size, State{});
        m_serials.resize(size);
        for (auto k = old; k < size; ++k) {
            m_serials[k] = m_nextSerial++;
        }
    }

    // Empties the table and makes room for n tasks whose bytes the caller fills at once through taskData();
    // tasks and states are zero bytes, in fresh storage, so the caller need not write the zero parts. Only for
    // a reader that then keeps just the records it filled (shrinkTo).
    // Room is kept for a quarter more: the first task added after a start then does not move the whole table
    // (17 MB at 2000 tasks, 30 ms of a window command). The spare room is never touched, so it costs no memory.
    void resizeForRead(int n)
    {
        clear();
        const auto size = static_cast<size_t>(n < 0 ? 0 : n);
        const size_t room = size + size / 4 + 16;
        decltype(m_tasks)().swap(m_tasks); // storage that held tasks is not zero: only new storage is
        m_tasks.reserve(room);
        m_states.reserve(room);
        m_serials.reserve(room);
        m_tasks.resize(size);
        m_states.resize(size, State{});
        m_serials.resize(m_tasks.size());
        for (auto& serial : m_serials) {
            serial = m_nextSerial++;
        }
    }
    // Keeps the first n tasks.
    void shrinkTo(int n)
    {
        if (n >= 0 && n < count()) {
            const auto size = static_cast<size_t>(n);
            m_tasks.resize(size);
            m_states.resize(size);
            m_serials.resize(size);
        }
    }

    // Whole-block access for the task-file reader.
    Task* taskData() { return m_tasks.data(); }

private:
    std::vector<Task, TLazyZeroAllocator<Task>> m_tasks;
    std::vector<State> m_states;
    std::vector<uint64_t> m_serials;
    uint64_t m_nextSerial = 1;
};

using TEventTaskTable = TTaskTable<TEventMailTask, TEventTaskState>;
using TReportTaskTable = TTaskTable<TReportMailTask, TReportTaskState>;

// The process-wide configuration: settings, address book and both task tables. One object lives for the
// whole run; engine and UI code take it by reference, so tests can work on a fresh one.
struct TMailTables
{
    char WorkDir[128] = {}; // ends with '/', GBK bytes
    QString TaskFileName = QStringLiteral("qorsmail.cfg");
    QString LogFileName = QStringLiteral("QorMail.log");

    TSmtpSettings SmtpSettings = {};
    uint8_t UseSSL = 0;
    // Settings-file only, beside UseSSL: upgrade a plain connection with STARTTLS (and refuse to send in clear
    // when the server does not offer it), and a PEM file of further trusted certificates.
    uint8_t StartTLS = 0;
    QString CAFile;
    // Our own settings file (CfgCache/qormail-station.ini): the fallback relay, the health mail and the notices,
    // and the values of UseSSL, StartTLS and CAFile that a save writes there.
    TStationSettings Station;

    std::vector<TMailAddr> AddrBook;
    TEventTaskTable EventTasks;
    TReportTaskTable ReportTasks;

    int AddrBookCount() const { return static_cast<int>(AddrBook.size()); }
    int EventTaskCount() const { return EventTasks.count(); }
    int ReportTaskCount() const { return ReportTasks.count(); }

    // WorkDir as a path (decoded from GBK), with its trailing '/'.
    QString workDirPath() const;
};
