// Process services of the platform: the millisecond tick counter, sleeping, the
// computer name and the system clock, in the shapes the library calls.
#pragma once

#include <cstdint>

#include "Platform/String.h"
#include "Platform/Types.h"

// A calendar time broken into fields, as the platform's system time; the library's
// CTKTime has this layout.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;  // 0 = Sunday ... 6 = Saturday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// Milliseconds of a monotonic clock, wrapping modulo 2^32 (about every 49.7 days).
// Compare two counts only through TickDifference.
uint32_t GetTickCount();

// later - earlier as a signed number of milliseconds, correct across one wrap of the
// counter: TickDifference(5, 0xFFFFFFF0) is 21.
inline int32_t TickDifference(uint32_t later, uint32_t earlier) {
    return static_cast<int32_t>(later - earlier);
}

// Blocks the calling thread for at least ms milliseconds.
void Sleep(DWORD ms);

// This station's name: the COMPUTERNAME environment variable when it is set and not
// empty, else the host name; at most 15 characters, as the platform's names are.
// Empty when neither can be read. Tests give each simulated station its own name
// through COMPUTERNAME.
CString GetComputerName();

// The longest computer name, without a terminator.
constexpr int MAX_COMPUTERNAME_LENGTH = 15;

// The current time in UTC (GetSystemTime) or in local time (GetLocalTime), with
// milliseconds.
void GetSystemTime(SYSTEMTIME* time);
void GetLocalTime(SYSTEMTIME* time);
