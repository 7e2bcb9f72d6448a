// SPDX-License-Identifier: MIT
#include "EventBacklog.h"

#include <algorithm>

const TMarkSpan* TMarkSpans::find(uint64_t serial) const
{
    const auto it =
        std::find_if(m_spans.begin(), m_spans.end(), [&](const TMarkSpan& s) { return s.Serial == serial; });
    return it == m_spans.end() ? nullptr : &*it;
}

void TMarkSpans::set(const TMarkSpan& span)
{
    for (TMarkSpan& s : m_spans) {
        if (s.Serial == span.Serial) {
            s = span;
            return;
        }
    }
    m_spans.push_back(span);
}

void TMarkSpans::setEnd(uint64_t serial, uint64_t end)
{
    for (TMarkSpan& s : m_spans) {
        if (s.Serial == serial && !s.OldRing) {
            s.End = end;
        }
    }
}

void TMarkSpans::erase(uint64_t serial)
{
    std::erase_if(m_spans, [&](const TMarkSpan& s) { return s.Serial == serial; });
}

void TMarkSpans::forgetEnd(uint64_t serial)
{
    std::erase_if(m_spans, [&](const TMarkSpan& s) { return s.Serial == serial && !s.OldRing; });
}

void TMarkSpans::closeOnOldRing(uint64_t serial, uint64_t length)
{
    for (TMarkSpan& s : m_spans) {
        if (s.Serial == serial) {
            s.OldRing = true;
            return;
        }
    }
    m_spans.push_back({serial, 0, length, true});
}

void TMarkSpans::moveToNewRing(uint64_t serial, uint32_t oldRing, uint32_t ring, uint64_t start, uint64_t earlierEnd)
{
    for (TMarkSpan& s : m_spans) {
        if (s.Serial != serial || s.OldRing) {
            continue;
        }
        if (s.EarlierRing != 0) {
            s.Unlisted += s.EarlierEnd - s.EarlierFirst;
        }
        s.EarlierRing = s.Ring != 0 ? s.Ring : oldRing;
        s.EarlierFirst = s.First;
        s.EarlierEnd = std::max(s.First, earlierEnd);
        s.Ring = ring;
        s.First = start;
        s.End = start;
        return;
    }
}
