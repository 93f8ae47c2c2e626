// COleDateTime and COleDateTimeSpan: the framework's date-time and time span.
//
// A date-time is a count of days since 1899-12-30 00:00 as a double; the fraction is
// the time of day. Dates before 1899-12-30 are negative, and their fraction still
// counts forward within the day: -1.25 is 1899-12-29 06:00, not 1899-12-28 18:00.
// Arithmetic therefore converts to a linear day scale and back. Breaking a date-time
// into fields first rounds it to the nearest second. Valid dates run from 0100-01-01
// to 9999-12-31.
//
// A span is a signed count of days as a double. Both carry a status; an operation on
// an invalid or null operand gives an invalid or null result.
#pragma once

#include <ctime>

#include "Platform/Locale.h"
#include "Platform/String.h"
#include "Platform/Types.h"

using DATE = double;

// ParseDateTime and Format flags: keep only the date, or only the time.
constexpr DWORD VAR_TIMEVALUEONLY = 0x1;
constexpr DWORD VAR_DATEVALUEONLY = 0x2;

class COleDateTimeSpan {
public:
    enum DateTimeSpanStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTimeSpan() = default;
    COleDateTimeSpan(double days);
    // Fields may have any sign and size: (0, 0, 0, 90) is a minute and a half.
    COleDateTimeSpan(int64_t days, int64_t hours, int64_t minutes, int64_t seconds);

    void SetDateTimeSpan(int64_t days, int64_t hours, int64_t minutes, int64_t seconds);
    DateTimeSpanStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeSpanStatus status) { m_status = status; }

    // The span exactly, in days.
    double GetTotalDays() const { return m_span; }
    // Whole hours, minutes and seconds of the span rounded to the nearest second,
    // truncated toward zero.
    double GetTotalHours() const;
    double GetTotalMinutes() const;
    double GetTotalSeconds() const;

    // The fields of the span rounded to the nearest second; each has the span's sign:
    // -(1 day 2:03:04) gives -1, -2, -3, -4.
    int32_t GetDays() const;
    int32_t GetHours() const;
    int32_t GetMinutes() const;
    int32_t GetSeconds() const;

    COleDateTimeSpan operator+(const COleDateTimeSpan& other) const;
    COleDateTimeSpan operator-(const COleDateTimeSpan& other) const;
    COleDateTimeSpan operator-() const;
    COleDateTimeSpan& operator+=(const COleDateTimeSpan& other) { return *this = *this + other; }
    COleDateTimeSpan& operator-=(const COleDateTimeSpan& other) { return *this = *this - other; }

    // Equality also compares the status; the orderings compare the spans.
    bool operator==(const COleDateTimeSpan& other) const {
        return m_status == other.m_status && m_span == other.m_span;
    }
    bool operator!=(const COleDateTimeSpan& other) const { return !(*this == other); }
    bool operator<(const COleDateTimeSpan& other) const { return m_span < other.m_span; }
    bool operator>(const COleDateTimeSpan& other) const { return m_span > other.m_span; }
    bool operator<=(const COleDateTimeSpan& other) const { return m_span <= other.m_span; }
    bool operator>=(const COleDateTimeSpan& other) const { return m_span >= other.m_span; }

    double m_span = 0;
    DateTimeSpanStatus m_status = valid;

private:
    // The span in whole seconds, rounded half away from zero.
    int64_t RoundedSeconds() const;
};

class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    // 1899-12-30 00:00, valid.
    COleDateTime() = default;
    // A day count; not a number or outside the valid dates gives invalid.
    COleDateTime(DATE dt);
    // Fields out of range (month 13, 30 February, hour 24, second 60 ...) give invalid.
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    COleDateTime& operator=(DATE dt);

    // The current local time, to the second.
    static COleDateTime GetCurrentTime();

    // Each returns 0 and makes the date-time valid, or returns 1 and makes it invalid.
    // SetDate sets midnight; SetTime sets that time on 1899-12-30.
    int SetDateTime(int year, int month, int day, int hour, int minute, int second);
    int SetDate(int year, int month, int day);
    int SetTime(int hour, int minute, int second);

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }

    // The fields, after rounding to the nearest second; -1 when not valid.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday ... 7 = Saturday
    int GetDayOfYear() const;  // 1 = 1 January

    // With strftime's conversions, in the user's locale. A null date-time gives "",
    // an invalid one "Invalid DateTime".
    CString Format(const char* format) const;
    // The locale's short date and its time with seconds. Without flags, a date-time
    // at midnight shows only its date and one on 1899-12-30 only its time;
    // VAR_DATEVALUEONLY and VAR_TIMEVALUEONLY choose one part.
    CString Format(DWORD flags = 0, LCID lcid = LANG_USER_DEFAULT) const;

    // Reads text as the user's locale writes dates and times (ParseDateTimeText in
    // Platform/Locale.h). A date alone is at midnight, a time alone on 1899-12-30.
    // VAR_DATEVALUEONLY keeps only the date, VAR_TIMEVALUEONLY only the time. Text that
    // does not read, or names no valid date-time, makes the date-time invalid (day 0)
    // and returns false.
    bool ParseDateTime(const char* text, DWORD flags = 0, LCID lcid = LANG_USER_DEFAULT);

    COleDateTime operator+(const COleDateTimeSpan& span) const;
    COleDateTime operator-(const COleDateTimeSpan& span) const;
    COleDateTime& operator+=(const COleDateTimeSpan& span) { return *this = *this + span; }
    COleDateTime& operator-=(const COleDateTimeSpan& span) { return *this = *this - span; }
    COleDateTimeSpan operator-(const COleDateTime& other) const;

    // Equality compares the status and the day count; the orderings compare points
    // in time.
    bool operator==(const COleDateTime& other) const {
        return m_status == other.m_status && m_dt == other.m_dt;
    }
    bool operator!=(const COleDateTime& other) const { return !(*this == other); }
    bool operator<(const COleDateTime& other) const { return Linear() < other.Linear(); }
    bool operator>(const COleDateTime& other) const { return Linear() > other.Linear(); }
    bool operator<=(const COleDateTime& other) const { return Linear() <= other.Linear(); }
    bool operator>=(const COleDateTime& other) const { return Linear() >= other.Linear(); }

    DATE m_dt = 0;
    DateTimeStatus m_status = valid;

private:
    // The date-time as days on a continuous scale, and back.
    double Linear() const;
    static DATE FromLinear(double days);
    // Makes the date-time invalid when it lies outside the valid dates.
    void CheckRange();
    // Breaks the date-time into fields, rounded to the second; false when not valid.
    bool GetTm(struct tm& tm) const;
};
