// SPDX-License-Identifier: MIT
#pragma once

// What the station knows about the ring beyond its positions, when the library tells the running count of
// events ever written: the event numbers of each mark, so a mail can tell how much of its range the ring still
// holds.

#include <cstddef>
#include <cstdint>
#include <vector>

// Event numbers (counting every event ever written, from 0) of one mark: its first event and its end, kept by
// the task's serial, since the task's 32-byte state has no room for them.
struct TMarkSpan
{
    uint64_t Serial = 0;
    uint64_t First = 0;
    uint64_t End = 0;
    // The ring that held the range is gone (its file deleted, cut or replaced): none of the End - First events
    // can be read any more, and the range no longer grows.
    bool OldRing = false;
};

class TMarkSpans
{
public:
    const TMarkSpan* find(uint64_t serial) const;
    // Sets the span of a task's mark, replacing any earlier one of the same serial.
    void set(const TMarkSpan& span);
    void setEnd(uint64_t serial, uint64_t end);
    void erase(uint64_t serial);
    // The end of a mark moved without a known number: its span no longer fits and goes, unless it tells of a
    // ring that is gone.
    void forgetEnd(uint64_t serial);
    // The ring of this mark is gone; `length` is its range by positions, for a mark that has no span.
    void closeOnOldRing(uint64_t serial, uint64_t length);
    // Keeps only the spans whose serial `keep` accepts (tasks still marked).
    template <class Keep>
    void prune(Keep keep)
    {
        std::erase_if(m_spans, [&](const TMarkSpan& s) { return !keep(s.Serial); });
    }
    size_t size() const { return m_spans.size(); }

private:
    std::vector<TMarkSpan> m_spans;
};
