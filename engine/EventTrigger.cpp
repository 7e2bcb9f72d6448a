// SPDX-License-Identifier: MIT
#include "EventTrigger.h"

#include "GbkCodec.h"
#include "GbkText.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t FieldLength = 256; // Keyword and EventText

size_t charLength(const unsigned char* p, size_t remaining)
{
    return Gbk::charLength(p, remaining);
}

bool typeMatches(const EventRecord& event, const TEventMailTask& task)
{
    if (task.TypeCount <= 0) {
        return true;
    }
    const int n = ClampCount(task.TypeCount, MaxEventTypes);
    for (int i = 0; i < n; ++i) {
        if (static_cast<int32_t>(task.Types[i]) == event.EventType) {
            return true;
        }
    }
    return false;
}

bool levelMatches(const EventRecord& event, const TEventMailTask& task)
{
    if (task.LevelMask == -1) {
        return true;
    }
    switch (event.EventLevel & 0x7FFF) {
    case 0:
        return (task.LevelMask & 1) != 0;
    case 1:
        return (task.LevelMask & 2) != 0;
    case 2:
        return (task.LevelMask & 4) != 0;
    case 3:
        return (task.LevelMask & 8) != 0;
    default:
        return false;
    }
}

// Start key of a folded keyword or of a position of a folded text: the first byte, and for two or more bytes the
// second byte too.
uint32_t key1(const unsigned char* p)
{
    return p[0];
}

uint32_t key2(const unsigned char* p)
{
    return 256u + (static_cast<uint32_t>(p[0]) << 8 | p[1]);
}

} // namespace

bool TextContainsKeyword(const char* text, size_t textLength, const char* keyword, size_t keywordLength)
{
    if (keywordLength == 0) {
        return true;
    }
    if (keywordLength > textLength) {
        return false;
    }
    // Both sides folded: folding keeps every character's bytes in place, so equal bytes from a character
    // boundary of the text are equal characters.
    unsigned char textBuffer[FieldLength];
    unsigned char keywordBuffer[FieldLength];
    std::vector<unsigned char> large;
    unsigned char* t = textBuffer;
    unsigned char* k = keywordBuffer;
    if (textLength > FieldLength) {
        large.resize(textLength + keywordLength);
        t = large.data();
        k = large.data() + textLength;
    }
    Gbk::foldCase(reinterpret_cast<const unsigned char*>(text), textLength, t);
    Gbk::foldCase(reinterpret_cast<const unsigned char*>(keyword), keywordLength, k);
    for (size_t pos = 0; textLength - pos >= keywordLength;) {
        if (std::memcmp(t + pos, k, keywordLength) == 0) {
            return true;
        }
        pos += charLength(t + pos, textLength - pos);
    }
    return false;
}

bool EventMatches(const EventRecord& event, const TEventMailTask& task)
{
    if (!typeMatches(event, task) || !levelMatches(event, task)) {
        return false;
    }
    const size_t keywordLength = strnlen(task.Keyword, FieldLength);
    return TextContainsKeyword(event.EventText, strnlen(event.EventText, FieldLength), task.Keyword, keywordLength);
}

// ---- the batch scan ----

TEventScan::TEventScan()
    : m_head(256 + 65536, -1)
{
    m_keyBits.fill(0);
    m_rules.reserve(256);
    m_plainTasks.reserve(256);
    m_first.reserve(256);
}

void TEventScan::addRule(int32_t task, const TEventMailTask& rule)
{
    const size_t length = strnlen(rule.Keyword, FieldLength);
    if (length == 0) {
        m_plainTasks.push_back(task);
        return;
    }
    TRule r;
    r.task = task;
    r.length = static_cast<uint16_t>(length);
    Gbk::foldCase(reinterpret_cast<const unsigned char*>(rule.Keyword), length, r.keyword);
    r.key = length == 1 ? key1(r.keyword) : key2(r.keyword);
    r.next = m_head[r.key];
    m_head[r.key] = static_cast<int32_t>(m_rules.size());
    m_keyBits[r.key / 64] |= uint64_t(1) << (r.key % 64);
    m_rules.push_back(r);
}

bool TEventScan::matchesAt(const TRule& rule, const unsigned char* folded, size_t length, size_t pos) const
{
    return length - pos >= rule.length && std::memcmp(folded + pos, rule.keyword, rule.length) == 0;
}

void TEventScan::scanText(const EventRecord& event, int32_t index, const TEventTaskTable& tasks)
{
    const size_t length = strnlen(event.EventText, FieldLength);
    // Folded once per event; the keywords of the rules are folded the same way.
    unsigned char* text = m_folded.data();
    Gbk::foldCase(reinterpret_cast<const unsigned char*>(event.EventText), length, text);
    auto tryChain = [&](uint32_t key, size_t pos) {
        if ((m_keyBits[key / 64] >> (key % 64) & 1) == 0) {
            return;
        }
        for (int32_t r = m_head[key]; r >= 0; r = m_rules[static_cast<size_t>(r)].next) {
            const TRule& rule = m_rules[static_cast<size_t>(r)];
            int32_t& first = m_first[static_cast<size_t>(rule.task)];
            if (first >= 0 || !matchesAt(rule, text, length, pos)) {
                continue;
            }
            // The keyword is there; type and level decide (the order of the three tests does not change the
            // result, only what it costs).
            const TEventMailTask& task = tasks.task(rule.task);
            if (typeMatches(event, task) && levelMatches(event, task)) {
                first = index;
                --m_pendingKeywordRules;
            }
        }
    };
    for (size_t pos = 0; pos < length && m_pendingKeywordRules > 0;) {
        tryChain(key1(text + pos), pos);
        if (length - pos >= 2) {
            tryChain(key2(text + pos), pos);
        }
        pos += charLength(text + pos, length - pos);
    }
}

const std::vector<int32_t>& TEventScan::firstMatches(
    const TEventTaskTable& tasks, const EventRecord* events, int32_t count)
{
    const int32_t taskCount = tasks.count();
    m_first.assign(static_cast<size_t>(taskCount), -1);
    m_rules.clear();
    m_plainTasks.clear();
    for (int32_t i = 0; i < taskCount; ++i) {
        if (tasks.state(i).State == 0) {
            addRule(i, tasks.task(i));
        }
    }
    m_pendingKeywordRules = static_cast<int32_t>(m_rules.size());
    size_t pendingPlain = m_plainTasks.size();
    for (int32_t n = 0; n < count && (pendingPlain > 0 || m_pendingKeywordRules > 0); ++n) {
        const EventRecord& event = events[n];
        for (const int32_t i : m_plainTasks) {
            int32_t& first = m_first[static_cast<size_t>(i)];
            if (first < 0 && typeMatches(event, tasks.task(i)) && levelMatches(event, tasks.task(i))) {
                first = n;
                --pendingPlain;
            }
        }
        if (m_pendingKeywordRules > 0) {
            scanText(event, n, tasks);
        }
    }
    for (const TRule& r : m_rules) {
        m_head[r.key] = -1;
        m_keyBits[r.key / 64] = 0;
    }
    return m_first;
}

// ---- the two steps of the tick ----

namespace {

int32_t positionsBetween(int32_t from, int32_t to)
{
    const int32_t n = (to - from) % EventRingSize;
    return n < 0 ? n + EventRingSize : n;
}

// The events written since the last read, by the count when the library tells it. The first count seen, one
// that went back (a new ring) or one that no longer fits the positions (ReadPos set anew) starts from what the
// positions say is new.
uint64_t freshByCount(TTriggerState& state, uint64_t written)
{
    const auto byPositions = uint64_t(positionsBetween(state.ReadPos, state.WritePos));
    if (!state.CountKnown || written < state.ReadCount || (written - state.ReadCount) % EventRingSize != byPositions) {
        state.ReadCount = written - std::min(byPositions, written);
        state.CountKnown = true;
    }
    return written - state.ReadCount;
}

} // namespace

void StartEventTrigger(TTriggerState& state, TLogLibrary& log)
{
    (void)log.GetRingStatus(state.RingGeneration);
    state.RingKnown = true;
    int32_t pos = 0;
    uint64_t written = 0;
    state.CountKnown = log.GetEventWriteState(pos, written);
    if (!state.CountKnown && !log.GetEventWritePos(pos)) {
        pos = 0;
    }
    state.ReadPos = pos;
    state.WritePos = pos;
    state.ReadCount = written;
}

bool EventBacklog(TTriggerState& state, TLogLibrary& log, uint64_t& backlog)
{
    int32_t pos = 0;
    uint64_t written = 0;
    if (log.GetEventWriteState(pos, written)) {
        state.WritePos = pos;
        backlog = freshByCount(state, written);
        return true;
    }
    if (!log.GetEventWritePos(pos)) {
        return false;
    }
    state.WritePos = pos;
    backlog = uint64_t(positionsBetween(state.ReadPos, pos));
    return true;
}

namespace {

// One batch of events in the read buffer and where it came from.
struct TBatch
{
    int32_t Start = 0; // ring slot of the buffer's first event
    int32_t Skip = 0; // events at the front that writers overwrote while they were copied
    int32_t Examined = 0; // events after those
    int32_t EndPos = 0; // the marks' end position
    bool Numbered = false; // the event numbers below are known
    uint64_t StartNumber = 0; // of the buffer's first event
    uint64_t EndNumber = 0; // the marks' end
};

// Marks every idle task that an event of the batch matches, at its first match.
void markBatch(TMailTables& tables, TTriggerState& state, const SYSTEMTIME& now, const TBatch& batch)
{
    TEventTaskTable& tasks = tables.EventTasks;
    const std::vector<int32_t>& first =
        state.Scan.firstMatches(tasks, state.EventBuffer.data() + batch.Skip, batch.Examined);
    bool marked = false;
    for (int32_t i = 0; i < tasks.count(); ++i) {
        const int32_t n = first[static_cast<size_t>(i)];
        if (n < 0) {
            continue;
        }
        if (!marked) {
            marked = true;
            state.Spans.prune([&](uint64_t serial) {
                const int k = tasks.indexOfSerial(serial);
                return k >= 0 && tasks.state(k).State != 0;
            });
        }
        TEventTaskState& s = tasks.state(i);
        s.State = 1;
        s.TriggerTime = now;
        s.FirstPos = batch.Start + batch.Skip + n;
        s.EndPos = batch.EndPos;
        s.RetryCount = 0;
        if (batch.Numbered) {
            state.Spans.set({tasks.serial(i),
                batch.StartNumber + uint64_t(batch.Skip + n),
                batch.EndNumber,
                false,
                state.RingGeneration});
        } else {
            state.Spans.erase(tasks.serial(i));
        }
    }
}

// The events of the ring being read that were not read yet when its file was deleted or replaced, read from
// that file while the library keeps it (a deleted file stays readable), once.
void drainPreviousRing(
    TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now, TRingCheck& check)
{
    TPreviousRing previous;
    if (state.DrainedRing == state.RingGeneration || !state.CountKnown || !log.GetPreviousRing(previous)
        || previous.Generation != state.RingGeneration) {
        return;
    }
    state.DrainedRing = state.RingGeneration;
    if (previous.EventCount <= state.ReadCount) {
        return;
    }
    const uint64_t fresh = previous.EventCount - state.ReadCount;
    const auto asked = static_cast<int32_t>(std::min<uint64_t>(fresh, EventRingSize));
    int32_t start = (previous.WritePos - asked + EventRingSize) % EventRingSize;
    int32_t count = asked;
    if (!log.ReadPreviousEvents(start, count, state.EventBuffer.data()) || count != asked) {
        check.DrainLost = fresh;
        return;
    }
    check.Drained = uint64_t(count);
    check.DrainLost = fresh - uint64_t(count);
    markBatch(tables,
        state,
        now,
        {start, 0, count, previous.WritePos, true, previous.EventCount - uint64_t(count), previous.EventCount});
    state.ReadPos = previous.WritePos;
    state.WritePos = previous.WritePos;
    state.ReadCount = previous.EventCount;
}

} // namespace

TRingCheck CheckRing(TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now)
{
    TRingCheck check;
    uint32_t generation = 0;
    check.Status = log.GetRingStatus(generation);
    const bool gone = check.Status == TRingStatus::Missing || check.Status == TRingStatus::Damaged
        || check.Status == TRingStatus::Unreadable;
    // A trigger that was not started on the library reads the ring it finds. One started while no ring could be
    // read (generation 0) takes the first ring that comes as a new one.
    if (!state.RingKnown) {
        state.RingGeneration = generation;
        state.RingKnown = true;
    }
    check.NewRing = generation != state.RingGeneration;
    if (!gone && !check.NewRing) {
        return check;
    }
    drainPreviousRing(tables, state, log, now, check);
    TPreviousRing previous;
    const bool kept = log.GetPreviousRing(previous) && previous.Generation == state.RingGeneration;

    // Where the new ring is read from: its first slot, or the first event a copy of the old ring adds to it.
    uint64_t start = 0;
    int32_t pos = 0;
    uint64_t written = 0;
    const bool counted = check.NewRing && log.GetEventWriteState(pos, written);
    if (counted) {
        start = log.GetRingFirstNewEvent();
        if (start > written) {
            start = 0;
        }
        check.Copy = start > 0;
    }

    TEventTaskTable& tasks = tables.EventTasks;
    for (int32_t i = 0; i < tasks.count(); ++i) {
        const TEventTaskState& s = tasks.state(i);
        if (s.State == 0) {
            continue;
        }
        const uint64_t serial = tasks.serial(i);
        const TMarkSpan* span = state.Spans.find(serial);
        if (span == nullptr) {
            const int32_t first = ((s.FirstPos % EventRingSize) + EventRingSize) % EventRingSize;
            const int32_t length = positionsBetween(first, s.EndPos);
            state.Spans.closeOnOldRing(serial, uint64_t(length == 0 ? EventRingSize : length));
            continue;
        }
        if (span->OldRing) {
            continue;
        }
        // A mark still in its wait takes in every event its ring received before the file went.
        const uint64_t oldEnd = s.State == 1 && kept ? std::max(span->End, previous.EventCount) : span->End;
        if (check.NewRing) {
            state.Spans.moveToNewRing(serial, state.RingGeneration, generation, start, oldEnd);
        } else if (span->EarlierRing == 0) {
            state.Spans.setEnd(serial, oldEnd);
        }
    }
    if (check.NewRing) {
        // Another ring is read from `start`: its first slot, or the first event a copy of the old ring adds.
        state.RingGeneration = generation;
        state.ReadCount = start;
        state.WritePos = counted ? pos : 0;
        state.ReadPos = counted
            ? (pos - static_cast<int32_t>((written - start) % EventRingSize) + EventRingSize) % EventRingSize
            : 0;
        state.CountKnown = true;
    }
    return check;
}

TEventStepResult RunEventStep(TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now)
{
    TEventStepResult result;
    result.Ring = CheckRing(tables, state, log, now);
    if (result.Ring.Status == TRingStatus::Missing || result.Ring.Status == TRingStatus::Damaged
        || result.Ring.Status == TRingStatus::Unreadable) {
        return result;
    }
    // A writer that holds the ring: the read waits for the next tick, nothing is lost meanwhile.
    auto held = [&] {
        uint32_t generation = 0;
        return log.GetRingStatus(generation) == TRingStatus::Held;
    };
    uint64_t written = 0;
    const bool counted = log.GetEventWriteState(state.WritePos, written);
    if (!counted && held()) {
        result.Ring.Status = TRingStatus::Held;
        return result;
    }
    result.Ring.Status = TRingStatus::Ok;
    int32_t count = 0;
    int32_t start = state.ReadPos;
    uint64_t startNumber = 0;
    if (counted) {
        // More than the ring holds since the last read: the oldest of them are gone; the newest 5000 are read.
        result.Fresh = freshByCount(state, written);
        count = static_cast<int32_t>(std::min<uint64_t>(result.Fresh, EventRingSize));
        result.Lost = result.Fresh - uint64_t(count);
        startNumber = written - uint64_t(count);
        start = (state.WritePos - count + EventRingSize) % EventRingSize;
    } else {
        state.CountKnown = false;
        (void)log.GetEventWritePos(state.WritePos);
        count = positionsBetween(state.ReadPos, state.WritePos);
        result.Fresh = uint64_t(count);
    }
    if (count == 0) {
        return result;
    }
    const int32_t asked = count;
    const int32_t askedStart = start;
    if (!log.ReadEvents(state.WritePos, start, count, EventRingSize, state.EventBuffer.data()) && held()) {
        TEventStepResult waiting;
        waiting.Ring = result.Ring;
        waiting.Ring.Status = TRingStatus::Held;
        state.WritePos = (askedStart + asked) % EventRingSize; // as the write state said
        return waiting;
    }
    // The library is trusted for the count, but never beyond what was asked and what the buffer holds.
    if (count < 0 || count > asked || count > static_cast<int32_t>(state.EventBuffer.size())) {
        count = 0;
    }
    start = ((start % EventRingSize) + EventRingSize) % EventRingSize;

    // Writers do not wait for the reader: a position that the ring reached again while the batch was copied
    // holds a newer event now, so the events numbered below (count after the read) - 5000 count as lost too.
    int32_t skip = 0;
    uint64_t endNumber = 0;
    bool spans = false;
    if (counted && count > 0) {
        int32_t endPos = 0;
        if (log.GetEventWriteState(endPos, endNumber) && endNumber >= written) {
            spans = true;
            state.WritePos = endPos;
            if (endNumber > startNumber + EventRingSize) {
                skip =
                    static_cast<int32_t>(std::min<uint64_t>(uint64_t(count), endNumber - EventRingSize - startNumber));
                result.Lost += uint64_t(skip);
            }
        }
    }
    result.Examined = count - skip;

    markBatch(tables, state, now, {start, skip, result.Examined, state.WritePos, spans, startNumber, endNumber});
    state.ReadPos = (start + count) % EventRingSize;
    if (counted) {
        state.ReadCount = startNumber + uint64_t(count);
    }
    return result;
}

namespace {

bool scheduleHit(const TReportMailTask& task, const SYSTEMTIME& ref, TLogLibrary& log)
{
    switch (task.SendType) {
    case 3:
        if (task.SendTime.wMonth != ref.wMonth) {
            return false;
        }
        [[fallthrough]];
    case 2:
        if (task.SendTime.wDay != ref.wDay) {
            return false;
        }
        [[fallthrough]];
    case 1:
        return task.SendTime.wHour == ref.wHour && task.SendTime.wMinute == ref.wMinute;
    case 4: {
        const uint32_t start = log.SecondsFromSystemTime(task.SendTime);
        const uint32_t interval = log.SecondsFromSystemTime(task.SendInterval);
        const uint32_t refSeconds = log.SecondsFromSystemTime(ref);
        // Before its start point the schedule has not begun; the unsigned difference would otherwise wrap
        // and fire at a phase that has nothing to do with the start.
        if (interval == 0 || interval >= refSeconds || refSeconds < start) {
            return false;
        }
        return (refSeconds - start) % interval < 30;
    }
    default:
        return false;
    }
}

} // namespace

void RunReportStep(TMailTables& tables, TLogLibrary& log, const TClock& clock, const SYSTEMTIME& now)
{
    if (now.wMinute == 0 || now.wSecond <= 10 || now.wSecond > 30) {
        return;
    }
    SYSTEMTIME ref = now;
    ref.wMinute = static_cast<uint16_t>(now.wMinute - 1);
    TReportTaskTable& tasks = tables.ReportTasks;
    for (int j = 0; j < tasks.count(); ++j) {
        TReportTaskState& s = tasks.state(j);
        if (s.State != 0 || !scheduleHit(tasks.task(j), ref, log)) {
            continue;
        }
        const SYSTEMTIME current = clock.now();
        if (log.SecondsFromSystemTime(current) - log.SecondsFromSystemTime(s.DueTime) < 60u) {
            continue;
        }
        s.State = 1;
        s.DueTime = current;
        s.RetryCount = 0;
    }
}
