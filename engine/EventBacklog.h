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
    // The ring that held the range is gone (its file cut, or not kept by the library): none of the End - First
    // events can be read any more, and the range no longer grows.
    bool OldRing = false;
    // The ring file that holds First..End, as the library numbers them (0: the one being read).
    uint32_t Ring = 0;
    // A range that began in a ring file since replaced: its part there (read while the library keeps that file),
    // and First..End is the rest of it, in the ring read now.
    uint32_t EarlierRing = 0;
    uint64_t EarlierFirst = 0;
    uint64_t EarlierEnd = 0;
    // Events of the range in ring files replaced before that one: they are only counted.
    uint64_t Unlisted = 0;
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
    // The ring file of this mark (`oldRing` unless its span names one) was replaced by ring `ring`: the range read so
    // far becomes its earlier part, ending at `earlierEnd` (the end of that ring for a mark still in its wait), and
    // goes on in the new ring from event `start`. An earlier part it had already is only counted from then on.
    void moveToNewRing(uint64_t serial, uint32_t oldRing, uint32_t ring, uint64_t start, uint64_t earlierEnd);
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
