// SPDX-License-Identifier: MIT
#pragma once

// Local wall-clock time as SYSTEMTIME, behind a clock that tests can set, and the station's date-time text.

#include "QorsmailDef.h"

#include <QDateTime>
#include <QString>

class TClock
{
public:
    virtual ~TClock() = default;
    virtual SYSTEMTIME now() const = 0;
};

// The local wall clock (GetLocalTime).
class TSystemClock : public TClock
{
public:
    SYSTEMTIME now() const override;
};

// A clock that stands still until moved; for tests.
class TManualClock : public TClock
{
public:
    explicit TManualClock(const SYSTEMTIME& start = {})
        : m_now(start)
    {
    }
    SYSTEMTIME now() const override { return m_now; }
    void set(const SYSTEMTIME& t) { m_now = t; }
    void set(const QDateTime& t);
    // Moves the clock by whole or fractional seconds (negative allowed).
    void advance(qint64 msecs);

private:
    SYSTEMTIME m_now;
};

SYSTEMTIME ToSystemTime(const QDateTime& local);
// The local date-time of a SYSTEMTIME; invalid when the fields are not a real date.
QDateTime FromSystemTime(const SYSTEMTIME& t);
SYSTEMTIME MakeSystemTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0);

// The station's date-time text: the short date "yyyy-M-d", a blank, then "hh:mm:ss.zzz". With
// omitMidnightTime the time is left out when it is exactly 00:00:00.000 (the subject of a mail).
QString DateTimeText(const SYSTEMTIME& t, bool omitMidnightTime = false);
