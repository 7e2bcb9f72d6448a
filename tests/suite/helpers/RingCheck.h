// SPDX-License-Identifier: MIT
#pragma once

// Self-checking event texts for the multi-process ring tests: each text names its sequence number and a
// checksum of the record's type, level, time and the text's own filler, so a record put together from two
// writes fails the check.

#include "qorslog2.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ringcheck {

inline uint32_t mix(uint32_t h, uint32_t v)
{
    h ^= v + 0x9E3779B9u + (h << 6) + (h >> 2);
    return h;
}

inline int32_t typeOf(uint32_t seq)
{
    return int32_t(seq % 1000);
}
inline int32_t levelOf(uint32_t seq)
{
    return int32_t(seq % 4);
}
inline uint32_t fillerLength(uint32_t seq)
{
    return seq % 200;
}
inline char fillerChar(uint32_t seq)
{
    return char('a' + seq % 26);
}
inline QorvaneSystemTime timeOf(uint32_t seq)
{
    QorvaneSystemTime t{};
    t.wYear = uint16_t(2020 + seq % 7);
    t.wMonth = uint16_t(1 + seq % 12);
    t.wDay = uint16_t(1 + seq % 28);
    t.wHour = uint16_t(seq % 24);
    t.wMinute = uint16_t(seq % 60);
    t.wSecond = uint16_t(seq / 60 % 60);
    t.wMilliseconds = uint16_t(seq % 1000);
    return t;
}

inline uint32_t checksum(int32_t type, int32_t level, uint32_t time, uint32_t msec, uint32_t seq)
{
    uint32_t h = mix(0, uint32_t(type));
    h = mix(h, uint32_t(level));
    h = mix(h, time);
    h = mix(h, msec);
    return mix(h, seq);
}

// The text of event `seq`, GBK-safe ASCII.
inline void makeText(uint32_t seq, char (&out)[256])
{
    const QorvaneSystemTime t = timeOf(seq);
    const uint32_t sum = checksum(typeOf(seq), levelOf(seq), SecondsFromSystemTime(t), t.wMilliseconds, seq);
    int n = snprintf(out, sizeof out, "seq=%u sum=%08x ", seq, sum);
    const uint32_t fill = fillerLength(seq);
    for (uint32_t i = 0; i < fill && n < 255; ++i) {
        out[n++] = fillerChar(seq);
    }
    out[n] = '\0';
}

// Posts event `seq`; the ring position or a negative code.
inline int32_t post(uint32_t seq)
{
    char text[256];
    makeText(seq, text);
    const QorvaneSystemTime t = timeOf(seq);
    return PostEvent(typeOf(seq), levelOf(seq), text, &t);
}

// True when the record is whole: every field agrees with the sequence number in its text. *seq receives it.
inline bool isWhole(const EventRecord& r, uint32_t* seq)
{
    unsigned s = 0;
    unsigned sum = 0;
    int consumed = 0;
    char text[257];
    memcpy(text, r.EventText, 256);
    text[256] = '\0';
    if (sscanf(text, "seq=%u sum=%8x %n", &s, &sum, &consumed) != 2 || consumed == 0) {
        return false;
    }
    *seq = s;
    if (sum != checksum(r.EventType, r.EventLevel, r.EventTime, r.EventMsec, s) || r.EventType != typeOf(s)
        || r.EventLevel != levelOf(s) || r.EventTime != SecondsFromSystemTime(timeOf(s))) {
        return false;
    }
    const size_t len = strnlen(text, 256);
    if (len != size_t(consumed) + fillerLength(s)) {
        return false;
    }
    for (size_t i = size_t(consumed); i < len; ++i) {
        if (text[i] != fillerChar(s)) {
            return false;
        }
    }
    return true;
}

} // namespace ringcheck
