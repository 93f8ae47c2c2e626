#include "EegFile/frame/TKTime.h"

#include <ctime>

namespace {

WORD ToWord(int v) {
    return static_cast<WORD>(v);
}

// A formatter's text as it comes out of a buffer of bufferSize characters: a text
// that does not fit with its terminator is not written at all.
CString Fitted(CString text, int bufferSize) {
    return text.GetLength() < bufferSize ? text : CString();
}

}  // namespace

CTKTime::CTKTime() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    m_wYear = now.wYear;
    m_wMonth = now.wMonth;
    m_wDayOfWeek = now.wDayOfWeek;
    m_wDay = now.wDay;
    m_wHour = now.wHour;
    m_wMinute = now.wMinute;
    m_wSecond = now.wSecond;
    m_wMilliseconds = now.wMilliseconds;
}

CTKTime::CTKTime(int year, int month, int day, int hour, int minute, int second)
    : m_wYear(ToWord(year)),
      m_wMonth(ToWord(month)),
      m_wDay(ToWord(day)),
      m_wHour(ToWord(hour)),
      m_wMinute(ToWord(minute)),
      m_wSecond(ToWord(second)) {
    // The day of week comes from the date alone, so an hour out of range does not
    // hide it.
    COleDateTime date(year, month, day, 0, 0, 0);
    if (date.GetStatus() == COleDateTime::valid)
        m_wDayOfWeek = ToWord(date.GetDayOfWeek() - 1);
}

CTKTime::CTKTime(const COleDateTime& time) {
    if (time.GetStatus() != COleDateTime::valid || time.GetYear() < 0)
        return;
    m_wYear = ToWord(time.GetYear());
    m_wMonth = ToWord(time.GetMonth());
    m_wDayOfWeek = ToWord(time.GetDayOfWeek() - 1);
    m_wDay = ToWord(time.GetDay());
    m_wHour = ToWord(time.GetHour());
    m_wMinute = ToWord(time.GetMinute());
    m_wSecond = ToWord(time.GetSecond());
}

CTKTime::CTKTime(const CTime& time) {
    struct tm tm;
    if (!time.GetLocalTm(&tm))
        return;
    m_wYear = ToWord(tm.tm_year + 1900);
    m_wMonth = ToWord(tm.tm_mon + 1);
    m_wDayOfWeek = ToWord(tm.tm_wday);
    m_wDay = ToWord(tm.tm_mday);
    m_wHour = ToWord(tm.tm_hour);
    m_wMinute = ToWord(tm.tm_min);
    m_wSecond = ToWord(tm.tm_sec > 59 ? 59 : tm.tm_sec);
}

CTKTime CTKTime::Null() {
    return CTKTime(NullTag());
}

COleDateTime CTKTime::GetOleDateTime() const {
    return COleDateTime(m_wYear, m_wMonth, m_wDay, m_wHour, m_wMinute, m_wSecond);
}

CTKTime CTKTime::operator+(const COleDateTimeSpan& span) const {
    return CTKTime(GetOleDateTime() + span);
}

CTKTime CTKTime::operator-(const COleDateTimeSpan& span) const {
    return CTKTime(GetOleDateTime() - span);
}

COleDateTimeSpan CTKTime::operator-(const CTKTime& other) const {
    return GetOleDateTime() - other.GetOleDateTime();
}

bool CTKTime::operator>(const CTKTime& other) const {
    return GetOleDateTime() > other.GetOleDateTime();
}

bool CTKTime::operator==(const CTKTime& other) const {
    return m_wYear == other.m_wYear && m_wMonth == other.m_wMonth && m_wDay == other.m_wDay &&
           m_wHour == other.m_wHour && m_wMinute == other.m_wMinute && m_wSecond == other.m_wSecond;
}

CString CTKTime::GetDateText(LCID lcid, DWORD dateFlags) const {
    return Fitted(GetDateFormatText(lcid, dateFlags, m_wYear, m_wMonth, m_wDay, m_wDayOfWeek),
                  kDateTextBuffer);
}

CString CTKTime::GetTimeText(LCID lcid, DWORD timeFlags) const {
    return Fitted(GetTimeFormatText(lcid, timeFlags, m_wHour, m_wMinute, m_wSecond),
                  kTimeTextBuffer);
}

CString CTKTime::GetDateTimeText(LCID lcid, DWORD dateFlags, DWORD timeFlags) const {
    CString date = GetDateText(lcid, dateFlags);
    CString time = GetTimeText(lcid, timeFlags);
    if (!date.IsEmpty() && !time.IsEmpty())
        return date + "  " + time;
    return date + time;
}
