// SPDX-License-Identifier: MIT
#pragma once

// The trigger tick: new events from the ring mark idle event mail tasks, then due schedules mark idle report
// mail tasks.

#include "EventBacklog.h"
#include "LocalTime.h"
#include "QorsmailDef.h"
#include "mlogcomm2.h"

#include <array>
#include <cstdint>
#include <vector>

// The event step's scan of one batch, with its scratch space kept from tick to tick. It gives exactly the marks
// of the plain scan (for every idle task in table order, the first event of the batch that EventMatches) but
// walks each event text once for all keywords: at each character boundary the first two bytes select the few
// tasks whose keyword starts there.
class TEventScan
{
public:
    TEventScan();

    // For each idle task (State 0) of the table, the index of its first matching event in events[0..count),
    // or -1; the result has one entry per task.
    const std::vector<int32_t>& firstMatches(const TEventTaskTable& tasks, const EventRecord* events, int32_t count);

private:
    struct TRule
    {
        int32_t task;
        int32_t next; // next rule with the same start key, or -1
        uint32_t key; // start key: 1-byte keys in 0..255, 2-byte keys 256 + (b0 << 8 | b1)
        uint16_t length; // keyword bytes
        uint8_t keyword[256]; // case-folded (Gbk::foldCase)
    };

    void addRule(int32_t task, const TEventMailTask& rule);
    bool matchesAt(const TRule& rule, const unsigned char* folded, size_t length, size_t pos) const;
    void scanText(const EventRecord& event, int32_t index, const TEventTaskTable& tasks);

    std::vector<TRule> m_rules;
    std::vector<int32_t> m_plainTasks; // idle tasks without a keyword
    std::vector<int32_t> m_first; // per task: first match or -1
    std::vector<int32_t> m_head; // per start key: first rule, or -1
    std::array<uint64_t, (256 + 65536) / 64> m_keyBits; // start keys in use
    int32_t m_pendingKeywordRules = 0;
    std::array<unsigned char, 256> m_folded; // the event text being scanned, case-folded
};

// The read buffer: each tick fills the records it reads before anything looks at them, so its 4.7 MB are
// not zeroed up front; the pages are only touched as events arrive.
using TEventBuffer = std::vector<EventRecord, TLazyZeroAllocator<EventRecord>>;

// ReadPos, WritePos and the 5000-record read buffer, allocated once; nothing is allocated per tick.
// When the library tells the running count of events, ReadCount is the number of the event at ReadPos (every
// event ever written counted from 0): the step then sees how many were written since the last read, also more
// than the ring holds, and each mark keeps the numbers of its range in Spans.
struct TTriggerState
{
    int32_t ReadPos = 0;
    int32_t WritePos = 0;
    TEventBuffer EventBuffer = TEventBuffer(EventRingSize);
    TEventScan Scan;
    uint64_t ReadCount = 0;
    bool CountKnown = false;
    TMarkSpans Spans;
    uint32_t RingGeneration = 0; // the ring file being read, as the library numbers them (0: none yet)
    bool RingKnown = false; // RingGeneration was taken from the library (a trigger started without it adopts one)
    uint32_t DrainedRing = 0; // the ring whose file was read to its end after it was deleted or replaced
};

// The ring as one check found it: its condition, and whether another ring file is read from now on.
struct TRingCheck
{
    TRingStatus Status = TRingStatus::Ok;
    bool NewRing = false;
    bool Copy = false; // the new ring is a copy of the one read before: what the two hold alike is not read again
    uint64_t Drained = 0; // events of the ring gone that were read from its file (the library keeps it)
    uint64_t DrainLost = 0; // events of the ring gone that could not be read
};

// What one event step did: the events it examined, those written since the previous step (lost ones included)
// and those overwritten before they could be read.
struct TEventStepResult
{
    int32_t Examined = 0;
    uint64_t Fresh = 0;
    uint64_t Lost = 0;
    TRingCheck Ring; // not Ok: nothing was read
};

// Starts the trigger at the ring's write position (0 when the library cannot tell it), with its count.
void StartEventTrigger(TTriggerState& state, TLogLibrary& log);

// Follows the ring file. When the file read so far was deleted or replaced and the library still keeps it, the
// events it holds that were not read yet are read from it first (marks taken from them are set with `now`).
// Another ring is then read from its first slot, or, when it is a copy of the one before, from its first event
// that the old file did not hold. The ranges of the marks go on in the new ring; a mark without event numbers,
// whose ring is gone, keeps a span that says its events can no longer be read.
TRingCheck CheckRing(TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now);

// The events written since the last read and not yet read, from the write state alone (no events read); false
// when the library tells neither position nor count.
bool EventBacklog(TTriggerState& state, TLogLibrary& log, uint64_t& backlog);

// The rule test of one event against one task: type, then level, then keyword.
bool EventMatches(const EventRecord& event, const TEventMailTask& task);

// The keyword test on GBK bytes: letters compare without regard to case in the whole code page (ASCII and the
// double-byte letters, Gbk::foldCase), a match starts only on a character boundary.
bool TextContainsKeyword(const char* text, size_t textLength, const char* keyword, size_t keywordLength);

// The event step of one tick, with the local time taken at the tick's start. With no sound ring, or a writer
// that holds it, nothing is read and the result's Ring says why; the events wait for the next read.
TEventStepResult RunEventStep(TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now);

// The report step of one tick; the clock is read again for the second-mark guard and the due time.
void RunReportStep(TMailTables& tables, TLogLibrary& log, const TClock& clock, const SYSTEMTIME& now);
