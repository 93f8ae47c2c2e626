#include "Platform/OleDateTime.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>

namespace {

// Day numbers (days since 1899-12-30) of the first and the last valid date:
// 0100-01-01 and 9999-12-31.
constexpr int64_t kMinDay = -657434;
constexpr int64_t kMaxDay = 2958465;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kDaysTo1970 = 25569;
// The largest span: from the first valid date to the last.
constexpr double kMaxSpanDays = static_cast<double>(kMaxDay - kMinDay + 1);
constexpr int64_t kSecondsPerDay = 86400;

bool IsLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's
// algorithms, which work in 400-year eras starting in March).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

bool ValidFields(int year, int month, int day, int hour, int minute, int second) {
    return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 &&
           minute <= 59 && second >= 0 && second <= 59;
}

const char kInvalidText[] = "Invalid DateTime";

// A count of seconds rounded to the nearest whole second, halves away from zero. A
// day count cannot hold most half seconds exactly (near 9999 its resolution is about
// 40 microseconds), so a value within 0.1 ms below a half counts as the half.
int64_t RoundSeconds(double seconds) {
    const double rounded = std::floor(std::fabs(seconds) + 0.5 + 1e-4);
    return static_cast<int64_t>(seconds < 0 ? -rounded : rounded);
}

}  // namespace

// ---- COleDateTimeSpan ----

COleDateTimeSpan::COleDateTimeSpan(double days) : m_span(days) {
    if (!std::isfinite(days) || std::fabs(days) > kMaxSpanDays) {
        m_span = 0;
        m_status = invalid;
    }
}

COleDateTimeSpan::COleDateTimeSpan(int64_t days, int64_t hours, int64_t minutes, int64_t seconds) {
    SetDateTimeSpan(days, hours, minutes, seconds);
}

void COleDateTimeSpan::SetDateTimeSpan(int64_t days, int64_t hours, int64_t minutes,
                                       int64_t seconds) {
    *this = COleDateTimeSpan(static_cast<double>(days) + static_cast<double>(hours) / 24.0 +
                             static_cast<double>(minutes) / 1440.0 +
                             static_cast<double>(seconds) / 86400.0);
}

int64_t COleDateTimeSpan::RoundedSeconds() const {
    // m_span is bounded by the constructor, so the product fits.
    return RoundSeconds(m_span * static_cast<double>(kSecondsPerDay));
}

double COleDateTimeSpan::GetTotalHours() const {
    return static_cast<double>(RoundedSeconds() / 3600);
}
double COleDateTimeSpan::GetTotalMinutes() const {
    return static_cast<double>(RoundedSeconds() / 60);
}
double COleDateTimeSpan::GetTotalSeconds() const {
    return static_cast<double>(RoundedSeconds());
}

int32_t COleDateTimeSpan::GetDays() const {
    return static_cast<int32_t>(RoundedSeconds() / kSecondsPerDay);
}
int32_t COleDateTimeSpan::GetHours() const {
    return static_cast<int32_t>(RoundedSeconds() / 3600 % 24);
}
int32_t COleDateTimeSpan::GetMinutes() const {
    return static_cast<int32_t>(RoundedSeconds() / 60 % 60);
}
int32_t COleDateTimeSpan::GetSeconds() const {
    return static_cast<int32_t>(RoundedSeconds() % 60);
}

namespace {

// The status of a result from its operands' (0 valid, 1 invalid, 2 null): null wins
// over invalid.
template <class A, class B>
int Combine(const A& a, const B& b) {
    if (a.m_status == A::null || b.m_status == B::null)
        return 2;
    if (a.m_status == A::invalid || b.m_status == B::invalid)
        return 1;
    return 0;
}

}  // namespace

COleDateTimeSpan COleDateTimeSpan::operator+(const COleDateTimeSpan& other) const {
    COleDateTimeSpan result;
    if (int s = Combine(*this, other)) {
        result.m_status = static_cast<DateTimeSpanStatus>(s);
        return result;
    }
    return COleDateTimeSpan(m_span + other.m_span);
}

COleDateTimeSpan COleDateTimeSpan::operator-(const COleDateTimeSpan& other) const {
    return *this + (-other);
}

COleDateTimeSpan COleDateTimeSpan::operator-() const {
    COleDateTimeSpan result(*this);
    result.m_span = -m_span;
    return result;
}

// ---- COleDateTime ----

COleDateTime::COleDateTime(DATE dt) : m_dt(dt) {
    CheckRange();
}

COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second) {
    SetDateTime(year, month, day, hour, minute, second);
}

COleDateTime& COleDateTime::operator=(DATE dt) {
    m_dt = dt;
    m_status = valid;
    CheckRange();
    return *this;
}

COleDateTime COleDateTime::GetCurrentTime() {
    const time_t now = ::time(nullptr);
    struct tm tm = {};
    if (now == static_cast<time_t>(-1) || !::localtime_r(&now, &tm)) {
        COleDateTime result;
        result.SetStatus(invalid);
        return result;
    }
    // A leap second is the last second of its minute here.
    return COleDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        tm.tm_sec > 59 ? 59 : tm.tm_sec);
}

int COleDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (!ValidFields(year, month, day, hour, minute, second)) {
        m_dt = 0;
        m_status = invalid;
        return 1;
    }
    const int64_t date = DaysFromCivil(year, month, day) + kDaysTo1970;
    const double time = static_cast<double>(hour * 3600 + minute * 60 + second) /
                        static_cast<double>(kSecondsPerDay);
    // Before 1899-12-30 the time of day is subtracted: the fraction still counts
    // forward from the start of that (negative) day.
    m_dt = static_cast<double>(date) + (date >= 0 ? time : -time);
    m_status = valid;
    return 0;
}

int COleDateTime::SetDate(int year, int month, int day) {
    return SetDateTime(year, month, day, 0, 0, 0);
}

int COleDateTime::SetTime(int hour, int minute, int second) {
    return SetDateTime(1899, 12, 30, hour, minute, second);
}

void COleDateTime::CheckRange() {
    if (!std::isfinite(m_dt) || std::trunc(m_dt) < static_cast<double>(kMinDay) ||
        std::trunc(m_dt) > static_cast<double>(kMaxDay)) {
        m_dt = 0;
        m_status = invalid;
    }
}

double COleDateTime::Linear() const {
    if (m_dt >= 0)
        return m_dt;
    // -1.25 (1899-12-29 06:00) is 0.75 days before 1899-12-30 00:00.
    const double day = std::ceil(m_dt);
    return day - (m_dt - day);
}

DATE COleDateTime::FromLinear(double days) {
    if (days >= 0)
        return days;
    const double day = std::floor(days);
    return day + (day - days);
}

bool COleDateTime::GetTm(struct tm& tm) const {
    if (m_status != valid || !std::isfinite(m_dt))
        return false;
    // The whole day is the integer part (toward zero); the fraction is the time of day
    // whatever the sign. Rounding to the second may carry into the next day, which
    // for a negative day number is the one closer to zero.
    int64_t day = static_cast<int64_t>(std::trunc(m_dt));
    if (day < kMinDay || day > kMaxDay)
        return false;
    int64_t seconds = RoundSeconds(std::fabs(m_dt - std::trunc(m_dt)) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        day += 1;
    }
    if (day > kMaxDay)
        return false;

    int64_t year = 0;
    int month = 0, mday = 0;
    CivilFromDays(day - kDaysTo1970, year, month, mday);
    tm = {};
    tm.tm_year = static_cast<int>(year - 1900);
    tm.tm_mon = month - 1;
    tm.tm_mday = mday;
    tm.tm_hour = static_cast<int>(seconds / 3600);
    tm.tm_min = static_cast<int>(seconds / 60 % 60);
    tm.tm_sec = static_cast<int>(seconds % 60);
    // 1899-12-30 was a Saturday.
    tm.tm_wday = static_cast<int>(((day + 6) % 7 + 7) % 7);
    tm.tm_yday = static_cast<int>(DaysFromCivil(year, month, mday) - DaysFromCivil(year, 1, 1));
    tm.tm_isdst = -1;
    return true;
}

int COleDateTime::GetYear() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_year + 1900 : -1;
}
int COleDateTime::GetMonth() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_mon + 1 : -1;
}
int COleDateTime::GetDay() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_mday : -1;
}
int COleDateTime::GetHour() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_hour : -1;
}
int COleDateTime::GetMinute() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_min : -1;
}
int COleDateTime::GetSecond() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_sec : -1;
}
int COleDateTime::GetDayOfWeek() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_wday + 1 : -1;
}
int COleDateTime::GetDayOfYear() const {
    struct tm tm;
    return GetTm(tm) ? tm.tm_yday + 1 : -1;
}

CString COleDateTime::Format(const char* format) const {
    if (m_status == null)
        return CString();
    struct tm tm;
    if (!GetTm(tm))
        return CString(kInvalidText);
    if (!format || !*format)
        return CString();
    const std::string pattern(format);
    // strftime gives 0 both for an empty result and for a short buffer; grow the
    // buffer to a bound proportional to the pattern.
    const size_t limit = 4096 + 64 * pattern.size();
    for (size_t size = 128; size <= limit; size *= 2) {
        std::string buffer(size, '\0');
        size_t n = ::strftime(buffer.data(), size, format, &tm);
        if (n > 0) {
            buffer.resize(n);
            return CString(std::move(buffer));
        }
    }
    return CString();
}

CString COleDateTime::Format(DWORD flags, LCID lcid) const {
    if (m_status == null)
        return CString();
    struct tm tm;
    if (!GetTm(tm))
        return CString(kInvalidText);
    const int year = tm.tm_year + 1900, month = tm.tm_mon + 1;
    CString date = GetDateFormatText(lcid, DATE_SHORTDATE, year, month, tm.tm_mday, tm.tm_wday);
    CString time = GetTimeFormatText(lcid, 0, tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (flags & VAR_DATEVALUEONLY)
        return date;
    if (flags & VAR_TIMEVALUEONLY)
        return time;
    if (year == 1899 && month == 12 && tm.tm_mday == 30)
        return time;
    if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0)
        return date;
    return date + " " + time;
}

bool COleDateTime::ParseDateTime(const char* text, DWORD flags, LCID lcid) {
    (void)lcid;  // every identifier means the user's locale
    DateTimeTextFields f;
    const bool both = (flags & VAR_DATEVALUEONLY) && (flags & VAR_TIMEVALUEONLY);
    if (both || !ParseDateTimeText(text, f)) {
        m_dt = 0;
        m_status = invalid;
        return false;
    }
    if (!f.hasDate) {
        f.year = 1899;
        f.month = 12;
        f.day = 30;
    }
    // Both parts must be valid even when one is dropped.
    if (SetDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second) != 0)
        return false;
    if (flags & VAR_DATEVALUEONLY)
        SetDate(f.year, f.month, f.day);
    if (flags & VAR_TIMEVALUEONLY)
        SetTime(f.hour, f.minute, f.second);
    return true;
}

COleDateTime COleDateTime::operator+(const COleDateTimeSpan& span) const {
    COleDateTime result;
    if (int s = Combine(*this, span)) {
        result.m_status = static_cast<DateTimeStatus>(s);
        return result;
    }
    return COleDateTime(FromLinear(Linear() + span.m_span));
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan& span) const {
    return *this + (-span);
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime& other) const {
    COleDateTimeSpan result;
    if (int s = Combine(*this, other)) {
        result.m_status = static_cast<COleDateTimeSpan::DateTimeSpanStatus>(s);
        return result;
    }
    return COleDateTimeSpan(Linear() - other.Linear());
}
