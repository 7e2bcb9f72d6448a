// SPDX-License-Identifier: MIT
// Seconds on the local wall clock, by proleptic Gregorian arithmetic: no time zone, no daylight-saving shift.

#include "qorslog2.h"

#include <cstdint>

namespace {

// Days from 1970-01-01 to y-m-d (Howard Hinnant's days_from_civil); a day past the month's end runs on.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

} // namespace

extern "C" uint32_t SecondsFromSystemTime(QorvaneSystemTime t)
{
    const uint64_t clock = uint64_t(t.wHour) * 3600 + uint64_t(t.wMinute) * 60 + t.wSecond;
    if (t.wYear >= 1970 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31) {
        const int64_t days = daysFromCivil(t.wYear, t.wMonth, t.wDay);
        return uint32_t(uint64_t(days) * 86400 + clock);
    }
    // A length: the year counts 365 days and the month 30.
    const uint64_t days = uint64_t(t.wYear) * 365 + uint64_t(t.wMonth) * 30 + t.wDay;
    return uint32_t(days * 86400 + clock);
}

extern "C" void SystemTimeFromSeconds(uint32_t seconds, QorvaneSystemTime* t)
{
    if (!t) {
        return;
    }
    const int64_t z0 = seconds / 86400;
    const uint32_t rest = seconds % 86400;
    // civil_from_days
    const int64_t z = z0 + 719468;
    const int64_t era = z / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = int64_t(yoe) + era * 400 + (m <= 2);
    t->wYear = uint16_t(y);
    t->wMonth = uint16_t(m);
    t->wDay = uint16_t(d);
    t->wDayOfWeek = uint16_t((z0 + 4) % 7); // 1970-01-01 was a Thursday; Sunday is 0
    t->wHour = uint16_t(rest / 3600);
    t->wMinute = uint16_t(rest / 60 % 60);
    t->wSecond = uint16_t(rest % 60);
    t->wMilliseconds = 0;
}
