#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "Platform/OleDateTime.h"
#include "Platform/Time.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// Parsing and formatting follow the C library's locale: pin it to "C".
class CLocale {
public:
    CLocale() { std::setlocale(LC_ALL, "C"); }
    ~CLocale() { std::setlocale(LC_ALL, "C"); }
};

// Sets TZ for one test and puts the previous value back.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTz() {
        if (m_had) {
            ::setenv("TZ", m_old.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

void ExpectFields(const COleDateTime& t, int y, int mo, int d, int h, int mi, int s) {
    EXPECT_EQ(t.GetStatus(), COleDateTime::valid);
    EXPECT_EQ(t.GetYear(), y);
    EXPECT_EQ(t.GetMonth(), mo);
    EXPECT_EQ(t.GetDay(), d);
    EXPECT_EQ(t.GetHour(), h);
    EXPECT_EQ(t.GetMinute(), mi);
    EXPECT_EQ(t.GetSecond(), s);
}

}  // namespace

TEST(OleDateTime, DayNumbersOfKnownDates) {
    struct Case {
        int y, mo, d, h, mi, s;
        double dt;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0, 0.0},       {1900, 1, 1, 0, 0, 0, 2.0},
        {1900, 2, 28, 0, 0, 0, 60.0},       {1900, 3, 1, 0, 0, 0, 61.0},  // 1900 has no 29 Feb
        {2000, 1, 1, 0, 0, 0, 36526.0},     {2000, 1, 1, 12, 0, 0, 36526.5},
        {2000, 2, 29, 0, 0, 0, 36585.0},    {2000, 3, 1, 0, 0, 0, 36586.0},
        {1899, 12, 29, 0, 0, 0, -1.0},      {1899, 12, 29, 6, 0, 0, -1.25},
        {1800, 1, 1, 18, 0, 0, -36522.75},  {100, 1, 1, 0, 0, 0, -657434.0},
        {9999, 12, 31, 0, 0, 0, 2958465.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dt);
        COleDateTime t(c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_DOUBLE_EQ(t.m_dt, c.dt);
        // And back from the day number alone.
        ExpectFields(COleDateTime(c.dt), c.y, c.mo, c.d, c.h, c.mi, c.s);
    }

    COleDateTime t;
    EXPECT_EQ(t.SetDate(2000, 2, 29), 0);
    EXPECT_EQ(t.SetTime(6, 0, 0), 0);
    EXPECT_DOUBLE_EQ(t.m_dt, 0.25);
    ExpectFields(t, 1899, 12, 30, 6, 0, 0);
}

TEST(OleDateTime, InvalidFieldsGiveInvalidStatus) {
    struct Case {
        int y, mo, d, h, mi, s;
    } cases[] = {
        {1900, 2, 29, 0, 0, 0}, {2100, 2, 29, 0, 0, 0}, {2000, 13, 1, 0, 0, 0},
        {2000, 0, 1, 0, 0, 0},  {2000, 1, 32, 0, 0, 0}, {2000, 4, 31, 0, 0, 0},
        {2000, 1, 0, 0, 0, 0},  {2000, 1, 1, 24, 0, 0}, {2000, 1, 1, 0, 60, 0},
        {2000, 1, 1, 0, 0, 60}, {2000, 1, 1, -1, 0, 0}, {99, 12, 31, 0, 0, 0},
        {10000, 1, 1, 0, 0, 0}, {0, 1, 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":"
                                        << c.mi << ":" << c.s);
        COleDateTime t(2000, 1, 1, 0, 0, 0);
        EXPECT_EQ(t.SetDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), 1);
        EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
        EXPECT_EQ(t.GetYear(), -1);
        EXPECT_EQ(t.GetDayOfWeek(), -1);
    }
    // Day counts outside 0100-01-01 .. 9999-12-31, or not numbers at all.
    EXPECT_EQ(COleDateTime(-657435.0).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime(-657434.5).GetStatus(), COleDateTime::valid);
    EXPECT_EQ(COleDateTime(2958466.0).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime(std::nan("")).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime(HUGE_VAL).GetStatus(), COleDateTime::invalid);
    COleDateTime t;
    t = 1e12;
    EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
    t = 36526.0;
    EXPECT_EQ(t.GetStatus(), COleDateTime::valid);
}

TEST(OleDateTime, FieldsAreRoundedToTheNearestSecond) {
    ExpectFields(COleDateTime(36526.0 + 86399.5 * kSecond), 2000, 1, 2, 0, 0, 0);
    ExpectFields(COleDateTime(36526.0 + 86399.4 * kSecond), 2000, 1, 1, 23, 59, 59);
    ExpectFields(COleDateTime(36526.0 + 59.5 * kSecond), 2000, 1, 1, 0, 1, 0);
    ExpectFields(COleDateTime(36526.0 + 59.4 * kSecond), 2000, 1, 1, 0, 0, 59);
    // Before 1899-12-30 the fraction counts forward too: half a second past 06:00.
    ExpectFields(COleDateTime(-1.25 - 0.5 * kSecond), 1899, 12, 29, 6, 0, 1);
    ExpectFields(COleDateTime(-1.25 - 0.4 * kSecond), 1899, 12, 29, 6, 0, 0);
    // The last half second of 1899-12-29 rounds into the following day.
    ExpectFields(COleDateTime(-1.0 - 86399.6 * kSecond), 1899, 12, 30, 0, 0, 0);
    ExpectFields(COleDateTime(-2.0 - 86399.6 * kSecond), 1899, 12, 29, 0, 0, 0);
    // Rounding carries through the year end.
    ExpectFields(COleDateTime(36525.0 + 86399.7 * kSecond), 2000, 1, 1, 0, 0, 0);
}

TEST(OleDateTime, DayOfWeekAndDayOfYear) {
    struct Case {
        int y, mo, d, dow, doy;
    } cases[] = {
        {1899, 12, 30, 7, 364}, {1899, 12, 29, 6, 363}, {1800, 1, 1, 4, 1},
        {2000, 1, 1, 7, 1},     {2000, 12, 31, 1, 366}, {1900, 12, 31, 2, 365},
        {2024, 3, 1, 6, 61},    {100, 1, 1, 6, 1},      {9999, 12, 31, 6, 365},
    };
    for (const auto& c : cases) {
        COleDateTime t(c.y, c.mo, c.d, 12, 0, 0);
        EXPECT_EQ(t.GetDayOfWeek(), c.dow) << c.y << "-" << c.mo << "-" << c.d;
        EXPECT_EQ(t.GetDayOfYear(), c.doy) << c.y << "-" << c.mo << "-" << c.d;
    }
}

TEST(OleDateTime, ArithmeticAndOrderAcrossTheEpoch) {
    const COleDateTime morning(1899, 12, 29, 6, 0, 0);   // -1.25
    const COleDateTime evening(1899, 12, 29, 18, 0, 0);  // -1.75

    EXPECT_DOUBLE_EQ((morning + COleDateTimeSpan(0.5)).m_dt, -1.75);
    EXPECT_DOUBLE_EQ((morning + COleDateTimeSpan(1.0)).m_dt, 0.25);
    EXPECT_DOUBLE_EQ((evening + COleDateTimeSpan(0, 6, 0, 0)).m_dt, 0.0);
    EXPECT_DOUBLE_EQ((COleDateTime(0.25) - COleDateTimeSpan(0.5)).m_dt, -1.75);
    ExpectFields(COleDateTime(1900, 1, 1, 0, 0, 0) - COleDateTimeSpan(3, 0, 0, 1), 1899, 12, 28, 23,
                 59, 59);

    EXPECT_DOUBLE_EQ((evening - morning).GetTotalDays(), 0.5);
    EXPECT_DOUBLE_EQ((COleDateTime(2000, 1, 1, 0, 0, 0) - morning).GetTotalDays(), 36526.75);
    EXPECT_DOUBLE_EQ((morning - COleDateTime(2000, 1, 1, 0, 0, 0)).GetTotalDays(), -36526.75);

    // The raw day counts order the other way round before the epoch.
    EXPECT_TRUE(morning < evening);
    EXPECT_TRUE(evening > morning);
    EXPECT_TRUE(evening < COleDateTime(0.0));
    EXPECT_TRUE(morning <= morning);
    EXPECT_FALSE(morning != COleDateTime(-1.25));

    // Leap days and the month and year ends.
    ExpectFields(COleDateTime(1900, 2, 28, 12, 0, 0) + COleDateTimeSpan(1.0), 1900, 3, 1, 12, 0, 0);
    ExpectFields(COleDateTime(2000, 2, 28, 12, 0, 0) + COleDateTimeSpan(1.0), 2000, 2, 29, 12, 0,
                 0);
    ExpectFields(COleDateTime(1999, 12, 31, 23, 59, 30) + COleDateTimeSpan(0, 0, 0, 45), 2000, 1, 1,
                 0, 0, 15);
    COleDateTime t(2000, 3, 1, 0, 0, 0);
    t -= COleDateTimeSpan(0, 0, 0, 1);
    ExpectFields(t, 2000, 2, 29, 23, 59, 59);
    t += COleDateTimeSpan(0, 0, 0, 1);
    ExpectFields(t, 2000, 3, 1, 0, 0, 0);
}

TEST(OleDateTime, StatusPropagates) {
    COleDateTime invalidTime(2000, 13, 1, 0, 0, 0);
    COleDateTime nullTime;
    nullTime.SetStatus(COleDateTime::null);
    COleDateTimeSpan nullSpan;
    nullSpan.SetStatus(COleDateTimeSpan::null);
    const COleDateTime good(2000, 1, 1, 0, 0, 0);

    EXPECT_EQ((invalidTime + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ((nullTime + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::null);
    EXPECT_EQ((good + nullSpan).GetStatus(), COleDateTime::null);
    EXPECT_EQ((invalidTime + nullSpan).GetStatus(), COleDateTime::null);
    EXPECT_EQ((good - invalidTime).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ((nullTime - good).GetStatus(), COleDateTimeSpan::null);
    // Leaving the valid dates makes the result invalid.
    EXPECT_EQ((COleDateTime(9999, 12, 31, 0, 0, 0) + COleDateTimeSpan(1.0)).GetStatus(),
              COleDateTime::invalid);
    EXPECT_EQ((COleDateTime(100, 1, 1, 0, 0, 0) - COleDateTimeSpan(0, 0, 0, 1)).GetStatus(),
              COleDateTime::invalid);
    EXPECT_EQ(invalidTime.Format("%Y"), CString("Invalid DateTime"));
    EXPECT_EQ(nullTime.Format("%Y"), CString(""));
    EXPECT_EQ(nullTime.Format(), CString(""));
}

TEST(OleDateTimeSpan, FieldsOfPositiveAndNegativeSpans) {
    const COleDateTimeSpan plus(1, 2, 3, 4);
    EXPECT_DOUBLE_EQ(plus.GetTotalDays(), 1.0 + 2.0 / 24 + 3.0 / 1440 + 4.0 / 86400);
    EXPECT_EQ(plus.GetDays(), 1);
    EXPECT_EQ(plus.GetHours(), 2);
    EXPECT_EQ(plus.GetMinutes(), 3);
    EXPECT_EQ(plus.GetSeconds(), 4);
    EXPECT_EQ(plus.GetTotalHours(), 26);
    EXPECT_EQ(plus.GetTotalMinutes(), 26 * 60 + 3);
    EXPECT_EQ(plus.GetTotalSeconds(), 93784);

    const COleDateTimeSpan minus(-1, -2, -3, -4);
    EXPECT_EQ(minus, -plus);
    EXPECT_EQ(minus.GetDays(), -1);
    EXPECT_EQ(minus.GetHours(), -2);
    EXPECT_EQ(minus.GetMinutes(), -3);
    EXPECT_EQ(minus.GetSeconds(), -4);
    EXPECT_EQ(minus.GetTotalHours(), -26);
    EXPECT_EQ(minus.GetTotalSeconds(), -93784);

    // Mixed signs and carries.
    const COleDateTimeSpan halfHourBack(0, -1, 30, 0);
    EXPECT_EQ(halfHourBack.GetHours(), 0);
    EXPECT_EQ(halfHourBack.GetMinutes(), -30);
    const COleDateTimeSpan ninety(0, 0, 0, 90);
    EXPECT_EQ(ninety.GetMinutes(), 1);
    EXPECT_EQ(ninety.GetSeconds(), 30);
    EXPECT_EQ(COleDateTimeSpan(0, 25, 0, 0).GetDays(), 1);
    EXPECT_EQ(COleDateTimeSpan(0, 25, 0, 0).GetHours(), 1);

    // Fields round to the second, symmetrically; the total in days stays exact.
    const COleDateTimeSpan almostHalfDay(0.5 - 0.4 * kSecond);
    EXPECT_EQ(almostHalfDay.GetHours(), 12);
    EXPECT_EQ(almostHalfDay.GetMinutes(), 0);
    EXPECT_EQ(almostHalfDay.GetSeconds(), 0);
    EXPECT_DOUBLE_EQ(almostHalfDay.GetTotalDays(), 0.5 - 0.4 * kSecond);
    EXPECT_EQ((-almostHalfDay).GetHours(), -12);
    EXPECT_EQ(COleDateTimeSpan(-0.6 * kSecond).GetSeconds(), -1);
    EXPECT_EQ(COleDateTimeSpan(-0.4 * kSecond).GetSeconds(), 0);

    // Arithmetic and order.
    COleDateTimeSpan s(0, 1, 0, 0);
    s += COleDateTimeSpan(0, 0, 30, 0);
    EXPECT_EQ(s.GetTotalMinutes(), 90);
    s -= COleDateTimeSpan(0, 2, 0, 0);
    EXPECT_EQ(s.GetTotalMinutes(), -30);
    EXPECT_TRUE(s < COleDateTimeSpan(0.0));
    EXPECT_TRUE(minus < plus);
    EXPECT_TRUE(plus >= plus);

    // Not a number, or beyond any two valid dates, is invalid.
    EXPECT_EQ(COleDateTimeSpan(std::nan("")).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ(COleDateTimeSpan(1e9).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ(COleDateTimeSpan(INT64_MAX, 0, 0, 0).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ((COleDateTimeSpan(1e9) + plus).GetStatus(), COleDateTimeSpan::invalid);
}

TEST(OleDateTime, FormatsWithStrftimeAndTheLocale) {
    CLocale c;
    const COleDateTime t(2000, 1, 2, 3, 4, 5);
    EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S %A %j"), CString("2000-01-02 03:04:05 Sunday 002"));
    EXPECT_EQ(COleDateTime(-1.25).Format("%Y-%m-%d %H:%M %a"), CString("1899-12-29 06:00 Fri"));
    EXPECT_EQ(t.Format(""), CString(""));
    // A long result is not cut.
    std::string longFormat(300, 'x');
    EXPECT_EQ(t.Format((longFormat + "%Y").c_str()).GetLength(), 304);

    EXPECT_EQ(t.Format(), CString("01/02/00 03:04:05"));
    EXPECT_EQ(t.Format(VAR_DATEVALUEONLY), CString("01/02/00"));
    EXPECT_EQ(t.Format(VAR_TIMEVALUEONLY), CString("03:04:05"));
    EXPECT_EQ(COleDateTime(2000, 1, 2, 0, 0, 0).Format(), CString("01/02/00"));
    EXPECT_EQ(COleDateTime(0.75).Format(), CString("18:00:00"));
}

TEST(OleDateTime, ParsesCommonForms) {
    CLocale c;
    struct Case {
        const char* text;
        int y, mo, d, h, mi, s;
    } cases[] = {
        {"01/02/00", 2000, 1, 2, 0, 0, 0},  // the C locale's %x
        {"1/2/2000", 2000, 1, 2, 0, 0, 0},
        {"  12/31/1999 23:59:59  ", 1999, 12, 31, 23, 59, 59},
        {"12/31/1999  11:59 PM", 1999, 12, 31, 23, 59, 0},
        {"12/31/1999 12:05 am", 1999, 12, 31, 0, 5, 0},
        {"2000-01-02T03:04:05", 2000, 1, 2, 3, 4, 5},
        {"2000-01-02 03:04:05.678", 2000, 1, 2, 3, 4, 5},
        {"Sat Jan  1 10:22:33 2000", 2000, 1, 1, 10, 22, 33},
        {"January 2, 2000", 2000, 1, 2, 0, 0, 0},
        {"2 jan 2000 12:00 AM", 2000, 1, 2, 0, 0, 0},
        {"Sunday, January 2, 2000", 2000, 1, 2, 0, 0, 0},
        {"02.01.2000", 2000, 2, 1, 0, 0, 0},  // month first in this locale
        {"01/02/30", 1930, 1, 2, 0, 0, 0},
        {"01/02/29", 2029, 1, 2, 0, 0, 0},
        {"99/12/31", 1999, 12, 31, 0, 0, 0},  // a first number above 31 is the year
        {"0100-01-01 00:00:01", 100, 1, 1, 0, 0, 1},
    };
    for (const auto& c2 : cases) {
        SCOPED_TRACE(c2.text);
        COleDateTime t;
        EXPECT_TRUE(t.ParseDateTime(c2.text));
        ExpectFields(t, c2.y, c2.mo, c2.d, c2.h, c2.mi, c2.s);
    }

    COleDateTime t;
    ASSERT_TRUE(t.ParseDateTime("10:22:33"));  // a time alone is on 1899-12-30
    EXPECT_DOUBLE_EQ(t.m_dt, (10 * 3600 + 22 * 60 + 33) * kSecond);
    ASSERT_TRUE(t.ParseDateTime("3 PM"));
    EXPECT_DOUBLE_EQ(t.m_dt, 0.625);
    ASSERT_TRUE(t.ParseDateTime("1/2/2000 3:04:05", VAR_DATEVALUEONLY));
    EXPECT_DOUBLE_EQ(t.m_dt, 36527.0);
    ASSERT_TRUE(t.ParseDateTime("1/2/2000 6:00:00", VAR_TIMEVALUEONLY));
    EXPECT_DOUBLE_EQ(t.m_dt, 0.25);
    ASSERT_TRUE(t.ParseDateTime("10:00", VAR_DATEVALUEONLY));
    EXPECT_DOUBLE_EQ(t.m_dt, 0.0);

    // What Format writes reads back.
    for (double dt : {36526.0, 36526.5 + 17 * kSecond, 0.75, 47000.0 + 3723 * kSecond}) {
        COleDateTime written(dt);
        COleDateTime read;
        ASSERT_TRUE(read.ParseDateTime(written.Format())) << written.Format().GetString();
        EXPECT_DOUBLE_EQ(read.m_dt, dt);
    }
}

TEST(OleDateTime, RejectsTextThatIsNotADateTime) {
    CLocale c;
    const std::string tooLong = "1/2/2000" + std::string(300, ' ');
    const char* bad[] = {
        "",
        "   ",
        "hello",
        "13/01/2000",
        "02/30/2000",
        "02/29/1900",
        "1/2/2000 25:00",
        "12:60",
        "10:22:60",
        "1/2/2000 3:04:05 xyz",
        "1/2",
        "1/2/3/4",
        "1:2:3:4",
        "1234567890/1/1",
        "1/2/99999",
        "1/2/2000 13:00 PM",
        "0:30 AM",
        "1/2/2000 3:04:05 PM PM",
        "Jan Feb 2000",
        "2 January 1999 2000",
        "1/2/2000 3:04 3:05",
        "PM 3:04",
        "1/2/2000 ; 3:04",
        "1/2/2000\x01",
        "-1/2/2000",
        "1/2/2000/",
        "12:30:",
        tooLong.c_str(),
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        COleDateTime t(2000, 1, 1, 0, 0, 0);
        EXPECT_FALSE(t.ParseDateTime(text));
        EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
        EXPECT_EQ(t.m_dt, 0.0);
    }
    COleDateTime t;
    EXPECT_FALSE(t.ParseDateTime(nullptr));
    EXPECT_FALSE(t.ParseDateTime("1/2/2000", VAR_DATEVALUEONLY | VAR_TIMEVALUEONLY));
    EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
}

TEST(OleDateTime, CurrentTimeIsLocal) {
    ScopedTz tz("XYZ-5:30");  // half-hour offset east of UTC, no daylight saving
    const time_t before = ::time(nullptr);
    const COleDateTime now = COleDateTime::GetCurrentTime();
    const time_t after = ::time(nullptr);
    ASSERT_EQ(now.GetStatus(), COleDateTime::valid);
    auto local = [](time_t t) {
        struct tm tm;
        ::gmtime_r(&t, &tm);
        return COleDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                            tm.tm_sec) +
               COleDateTimeSpan(0, 5, 30, 0);
    };
    // Whole seconds: the sum of a date and a span may differ from the same
    // instant built from its fields in the last bit of the day count.
    EXPECT_GE((now - local(before)).GetTotalSeconds(), 0);
    EXPECT_GE((local(after) - now).GetTotalSeconds(), 0);
}

TEST(Time, RoundTripsThroughLocalTime) {
    {
        ScopedTz tz("UTC0");
        const CTime epoch(0);
        EXPECT_EQ(epoch.GetYear(), 1970);
        EXPECT_EQ(epoch.GetDayOfWeek(), 5);  // a Thursday
        const CTime last(INT32_MAX);
        EXPECT_EQ(last.Format("%Y-%m-%d %H:%M:%S"), CString("2038-01-19 03:14:07"));
        EXPECT_EQ(CTime(2038, 1, 19, 3, 14, 7).GetTime(), INT32_MAX);
        EXPECT_EQ(CTime(1901, 12, 13, 20, 45, 52).GetTime(), INT32_MIN);
        // Beyond the 32-bit range.
        EXPECT_EQ(CTime(2038, 1, 19, 3, 14, 8).GetTime(), -1);
        EXPECT_EQ(CTime(1901, 12, 13, 20, 45, 51).GetTime(), -1);
    }
    {
        ScopedTz tz("XYZ-5:30");
        const CTime t(2000, 1, 1, 0, 0, 0);
        EXPECT_EQ(t.GetTime(), 946665000);  // 1999-12-31 18:30 UTC
        EXPECT_EQ(t.GetYear(), 2000);
        EXPECT_EQ(t.GetMonth(), 1);
        EXPECT_EQ(t.GetDay(), 1);
        EXPECT_EQ(t.GetHour(), 0);
        EXPECT_EQ(t.GetMinute(), 0);
        EXPECT_EQ(t.GetSecond(), 0);
        EXPECT_EQ(t.GetDayOfWeek(), 7);
        // mktime carries fields over: 31 April is 1 May.
        EXPECT_EQ(CTime(2000, 4, 31, 0, 0, 0).Format("%m-%d"), CString("05-01"));
    }
    {
        // Daylight saving: 12:00 is 16:00 UTC in July and 17:00 UTC in January.
        ScopedTz tz("EST5EDT,M4.1.0,M10.5.0");
        const CTime summer(2000, 7, 1, 12, 0, 0);
        EXPECT_EQ(summer.GetTime(), 962467200);
        EXPECT_EQ(summer.GetHour(), 12);
        const CTime winter(2000, 1, 15, 12, 0, 0);
        EXPECT_EQ(winter.GetTime(), 947955600);
        EXPECT_EQ(winter.GetHour(), 12);
        EXPECT_TRUE(winter < summer);
        for (int32_t v : {0, 962467200, 947955600, 1234567890, INT32_MAX - 86400}) {
            const CTime a(v);
            const CTime b(a.GetYear(), a.GetMonth(), a.GetDay(), a.GetHour(), a.GetMinute(),
                          a.GetSecond());
            EXPECT_EQ(b.GetTime(), v);
        }
    }
    const time_t before = ::time(nullptr);
    const int32_t now = CTime::GetCurrentTime().GetTime();
    const time_t after = ::time(nullptr);
    EXPECT_GE(now, static_cast<int32_t>(before));
    EXPECT_LE(now, static_cast<int32_t>(after));
    EXPECT_EQ(CTime(0).Format(""), CString(""));
}
