#include "EventTrigger.h"

#include "GbkCodec.h"

#include <cstring>

namespace {

constexpr size_t FieldLength = 256; // Keyword and EventText

unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

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

// The keyword (up to 256 bytes) matches the text at a character boundary `pos`: single-byte characters fold,
// the bytes of multi-byte characters compare exactly. Both sides are walked by character, so a keyword
// character never lines up with half of a text character.
bool keywordAt(
    const unsigned char* text, size_t textLength, size_t pos, const unsigned char* keyword, size_t keywordLength)
{
    if (textLength - pos < keywordLength) {
        return false;
    }
    size_t k = 0;
    while (k < keywordLength) {
        const size_t n = charLength(keyword + k, keywordLength - k);
        if (n == 1) {
            if (foldAscii(text[pos + k]) != foldAscii(keyword[k])) {
                return false;
            }
        } else if (std::memcmp(text + pos + k, keyword + k, n) != 0) {
            return false;
        }
        k += n;
    }
    return true;
}

// Start key of a keyword or of a text position: the first byte (folded), and for two or more bytes the second
// byte too, folded only when the first byte is a character of its own.
uint32_t key1(const unsigned char* p)
{
    return foldAscii(p[0]);
}

uint32_t key2(const unsigned char* p)
{
    const unsigned char b1 = charLength(p, 2) == 1 ? foldAscii(p[1]) : p[1];
    return 256u + (static_cast<uint32_t>(foldAscii(p[0])) << 8 | b1);
}

} // namespace

bool TextContainsKeyword(const char* text, size_t textLength, const char* keyword, size_t keywordLength)
{
    if (keywordLength == 0) {
        return true;
    }
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    const auto* k = reinterpret_cast<const unsigned char*>(keyword);
    for (size_t pos = 0; pos < textLength && textLength - pos >= keywordLength;) {
        if (keywordAt(t, textLength, pos, k, keywordLength)) {
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
    const auto* k = reinterpret_cast<const unsigned char*>(rule.Keyword);
    for (size_t i = 0; i < length;) {
        const size_t n = charLength(k + i, length - i);
        for (size_t j = 0; j < n; ++j) {
            r.fold[i + j] = n == 1 ? 1 : 0;
            r.keyword[i + j] = n == 1 ? foldAscii(k[i]) : k[i + j];
        }
        i += n;
    }
    r.key = length == 1 ? key1(k) : key2(k);
    r.next = m_head[r.key];
    m_head[r.key] = static_cast<int32_t>(m_rules.size());
    m_keyBits[r.key / 64] |= uint64_t(1) << (r.key % 64);
    m_rules.push_back(r);
}

bool TEventScan::matchesAt(const TRule& rule, const unsigned char* text, size_t length, size_t pos) const
{
    if (length - pos < rule.length) {
        return false;
    }
    const unsigned char* t = text + pos;
    for (size_t i = 0; i < rule.length; ++i) {
        const unsigned char c = rule.fold[i] ? foldAscii(t[i]) : t[i];
        if (c != rule.keyword[i]) {
            return false;
        }
    }
    return true;
}

void TEventScan::scanText(const EventRecord& event, int32_t index, const TEventTaskTable& tasks)
{
    const auto* text = reinterpret_cast<const unsigned char*>(event.EventText);
    const size_t length = strnlen(event.EventText, FieldLength);
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

void RunEventStep(TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now)
{
    (void)log.GetEventWritePos(state.WritePos);
    if (state.ReadPos == state.WritePos) {
        return;
    }
    int32_t count = state.WritePos - state.ReadPos;
    if (count < 0) {
        count += EventRingSize;
    }
    const int32_t asked = count;
    (void)log.ReadEvents(state.WritePos, state.ReadPos, count, EventRingSize, state.EventBuffer.data());
    // The library is trusted for the count, but never beyond what was asked and what the buffer holds.
    if (count < 0 || count > asked || count > static_cast<int32_t>(state.EventBuffer.size())) {
        count = 0;
    }
    TEventTaskTable& tasks = tables.EventTasks;
    const std::vector<int32_t>& first = state.Scan.firstMatches(tasks, state.EventBuffer.data(), count);
    for (int32_t i = 0; i < tasks.count(); ++i) {
        if (first[static_cast<size_t>(i)] < 0) {
            continue;
        }
        TEventTaskState& s = tasks.state(i);
        s.State = 1;
        s.TriggerTime = now;
        s.FirstPos = state.ReadPos + first[static_cast<size_t>(i)];
        s.EndPos = state.WritePos;
        s.RetryCount = 0;
    }
    state.ReadPos = ((state.ReadPos + count) % EventRingSize + EventRingSize) % EventRingSize;
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
