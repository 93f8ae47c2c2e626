// CTKTime: a calendar date and time of day, as the platform's system time, used for a
// recording's start and for times of day at positions in it. A year of 0 means no
// time is set.
//
// Arithmetic goes through COleDateTime at one-second resolution: results have the
// day of week recomputed and no milliseconds; differences, comparisons and equality
// look only at year, month, day, hour, minute and second.
#pragma once

#include "Platform/Locale.h"
#include "Platform/OleDateTime.h"
#include "Platform/String.h"
#include "Platform/System.h"
#include "Platform/Time.h"
#include "Platform/Types.h"

class CTKTime {
public:
    // The longest texts, as the platform formatter's buffers hold them with their
    // terminator: a text that would not fit is left empty.
    static constexpr int kDateTextBuffer = 32;
    static constexpr int kTimeTextBuffer = 24;

    // The current system time in UTC, with milliseconds.
    CTKTime();
    // That date and time; the day of week is computed from the date (0 for a date
    // that does not exist), milliseconds are 0.
    CTKTime(int year, int month, int day, int hour, int minute, int second);
    // Fields of the date-time, day of week from it, milliseconds 0; a date-time that
    // is not valid gives the null time.
    explicit CTKTime(const COleDateTime& time);
    // The local breakdown of a stored time value, milliseconds 0; the null time when
    // it has none.
    explicit CTKTime(const CTime& time);

    // The null time: every field 0.
    static CTKTime Null();
    bool IsNull() const { return m_wYear == 0; }

    // The date-time of these fields; invalid for the null time or impossible fields.
    COleDateTime GetOleDateTime() const;

    // Adding or subtracting a span; the null time stays null.
    CTKTime operator+(const COleDateTimeSpan& span) const;
    CTKTime operator-(const COleDateTimeSpan& span) const;
    CTKTime& operator+=(const COleDateTimeSpan& span) { return *this = *this + span; }
    CTKTime& operator-=(const COleDateTimeSpan& span) { return *this = *this - span; }
    // this - other, in days (invalid when either is null).
    COleDateTimeSpan operator-(const CTKTime& other) const;

    // Later than / earlier than, to the second.
    bool operator>(const CTKTime& other) const;
    bool operator<(const CTKTime& other) const { return other > *this; }
    // Same year, month, day, hour, minute and second.
    bool operator==(const CTKTime& other) const;
    bool operator!=(const CTKTime& other) const { return !(*this == other); }

    // The date by the locale's date formatter (DATE_ flags), at most 31 characters.
    CString GetDateText(LCID lcid, DWORD dateFlags) const;
    // The time by the locale's time formatter (TIME_ flags), at most 23 characters.
    CString GetTimeText(LCID lcid, DWORD timeFlags) const;
    // Date text, two blanks, time text; the blanks only when both texts are non-empty.
    CString GetDateTimeText(LCID lcid, DWORD dateFlags, DWORD timeFlags) const;

    WORD m_wYear = 0;
    WORD m_wMonth = 0;      // 1-12
    WORD m_wDayOfWeek = 0;  // 0 = Sunday ... 6 = Saturday
    WORD m_wDay = 0;        // 1-31
    WORD m_wHour = 0;
    WORD m_wMinute = 0;
    WORD m_wSecond = 0;
    WORD m_wMilliseconds = 0;

private:
    struct NullTag {};
    explicit CTKTime(NullTag) {}
};
