// SPDX-License-Identifier: MIT
#include "LocalTime.h"

SYSTEMTIME TSystemClock::now() const
{
    return ToSystemTime(QDateTime::currentDateTime());
}

void TManualClock::set(const QDateTime& t)
{
    m_now = ToSystemTime(t);
}

void TManualClock::advance(qint64 msecs)
{
    m_now = ToSystemTime(FromSystemTime(m_now).addMSecs(msecs));
}

SYSTEMTIME ToSystemTime(const QDateTime& local)
{
    const QDate d = local.date();
    const QTime t = local.time();
    SYSTEMTIME st{};
    st.wYear = static_cast<uint16_t>(d.year());
    st.wMonth = static_cast<uint16_t>(d.month());
    st.wDayOfWeek = static_cast<uint16_t>(d.dayOfWeek() % 7); // Sunday is 0
    st.wDay = static_cast<uint16_t>(d.day());
    st.wHour = static_cast<uint16_t>(t.hour());
    st.wMinute = static_cast<uint16_t>(t.minute());
    st.wSecond = static_cast<uint16_t>(t.second());
    st.wMilliseconds = static_cast<uint16_t>(t.msec());
    return st;
}

QDateTime FromSystemTime(const SYSTEMTIME& t)
{
    const QDate d(t.wYear, t.wMonth, t.wDay);
    const QTime tm(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    if (!d.isValid() || !tm.isValid()) {
        return {};
    }
    return QDateTime(d, tm);
}

SYSTEMTIME MakeSystemTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(day);
    st.wHour = static_cast<uint16_t>(hour);
    st.wMinute = static_cast<uint16_t>(minute);
    st.wSecond = static_cast<uint16_t>(second);
    st.wMilliseconds = static_cast<uint16_t>(msec);
    const QDate d(year, month, day);
    if (d.isValid()) {
        st.wDayOfWeek = static_cast<uint16_t>(d.dayOfWeek() % 7);
    }
    return st;
}

QString DateTimeText(const SYSTEMTIME& t, bool omitMidnightTime)
{
    QString text = QStringLiteral("%1-%2-%3").arg(t.wYear).arg(t.wMonth).arg(t.wDay);
    if (omitMidnightTime && t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0 && t.wMilliseconds == 0) {
        return text;
    }
    return text
        + QStringLiteral(" %1:%2:%3.%4")
              .arg(t.wHour, 2, 10, QLatin1Char('0'))
              .arg(t.wMinute, 2, 10, QLatin1Char('0'))
              .arg(t.wSecond, 2, 10, QLatin1Char('0'))
              .arg(t.wMilliseconds, 3, 10, QLatin1Char('0'));
}
