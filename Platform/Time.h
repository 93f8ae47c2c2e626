// CTime: the framework's time value, a signed 32-bit count of seconds since
// 1970-01-01 00:00:00 UTC (records store it as 4 bytes, so it ends in January 2038).
// Its fields are the local breakdown of that instant (localtime_r, so TZ applies).
#pragma once

#include <cstdint>
#include <ctime>

#include "Platform/String.h"

class CTime {
public:
    CTime() = default;
    CTime(int32_t time) : m_time(time) {}
    // A local date and time, as mktime reads it (out-of-range fields are carried over,
    // 31 April being 1 May; isDst -1 lets the zone decide). A time mktime cannot
    // represent, or one outside the 32-bit range, gives -1.
    CTime(int year, int month, int day, int hour, int minute, int second, int isDst = -1);

    // Now, to the second.
    static CTime GetCurrentTime();

    int32_t GetTime() const { return m_time; }

    // The local fields; -1 when the time cannot be broken down.
    int GetYear() const;
    int GetMonth() const;      // 1-12
    int GetDay() const;        // 1-31
    int GetHour() const;       // 0-23
    int GetMinute() const;     // 0-59
    int GetSecond() const;     // 0-59 (60 in a zone with leap seconds)
    int GetDayOfWeek() const;  // 1 = Sunday ... 7 = Saturday

    // Fills the local breakdown; false when there is none.
    bool GetLocalTm(struct tm* tm) const;

    // strftime of the local breakdown; "" when there is none.
    CString Format(const char* format) const;

    auto operator<=>(const CTime&) const = default;

private:
    int32_t m_time = 0;
};
