#include "Platform/Time.h"

#include <ctime>
#include <limits>
#include <string>

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int isDst) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = isDst;
    // mktime returns -1 both for failure and for 1969-12-31 23:59:59 UTC; the
    // framework's value is -1 either way.
    const time_t t = ::mktime(&tm);
    if (t < std::numeric_limits<int32_t>::min() || t > std::numeric_limits<int32_t>::max()) {
        m_time = -1;
    } else {
        m_time = static_cast<int32_t>(t);
    }
}

CTime CTime::GetCurrentTime() {
    const time_t now = ::time(nullptr);
    // Past January 2038 the 32-bit value wraps, as the stored format does.
    return CTime(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(now))));
}

bool CTime::GetLocalTm(struct tm* tm) const {
    const time_t t = m_time;
    return ::localtime_r(&t, tm) != nullptr;
}

int CTime::GetYear() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_year + 1900 : -1;
}
int CTime::GetMonth() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_mon + 1 : -1;
}
int CTime::GetDay() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_mday : -1;
}
int CTime::GetHour() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_hour : -1;
}
int CTime::GetMinute() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_min : -1;
}
int CTime::GetSecond() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_sec : -1;
}
int CTime::GetDayOfWeek() const {
    struct tm tm;
    return GetLocalTm(&tm) ? tm.tm_wday + 1 : -1;
}

CString CTime::Format(const char* format) const {
    struct tm tm;
    if (!format || !*format || !GetLocalTm(&tm))
        return CString();
    const size_t limit = 4096 + 64 * std::char_traits<char>::length(format);
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
