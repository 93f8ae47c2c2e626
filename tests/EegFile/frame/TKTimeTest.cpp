#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "EegFile/frame/TKTime.h"

namespace {

void ExpectTime(const CTKTime& t, int y, int mo, int dow, int d, int h, int mi, int s) {
    EXPECT_EQ(t.m_wYear, y);
    EXPECT_EQ(t.m_wMonth, mo);
    EXPECT_EQ(t.m_wDayOfWeek, dow);
    EXPECT_EQ(t.m_wDay, d);
    EXPECT_EQ(t.m_wHour, h);
    EXPECT_EQ(t.m_wMinute, mi);
    EXPECT_EQ(t.m_wSecond, s);
    EXPECT_EQ(t.m_wMilliseconds, 0);
}

CTKTime FromUtc(time_t t) {
    struct tm tm;
    ::gmtime_r(&t, &tm);
    return CTKTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

TEST(TKTime, LayoutIsTheSystemTimeFields) {
    static_assert(sizeof(CTKTime) == 16);
    CTKTime t(2000, 1, 2, 3, 4, 5);
    t.m_wMilliseconds = 678;
    const WORD* words = reinterpret_cast<const WORD*>(&t);
    const WORD expected[8] = {2000, 1, 0, 2, 3, 4, 5, 678};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(words[i], expected[i]) << i;
}

TEST(TKTime, ConstructionComputesTheDayOfWeek) {
    ExpectTime(CTKTime(2000, 1, 1, 0, 0, 0), 2000, 1, 6, 1, 0, 0, 0);          // Saturday
    ExpectTime(CTKTime(2024, 2, 29, 23, 59, 59), 2024, 2, 4, 29, 23, 59, 59);  // Thursday
    ExpectTime(CTKTime(1899, 12, 31, 12, 0, 0), 1899, 12, 0, 31, 12, 0, 0);    // Sunday
    // A date that does not exist keeps its fields, with day of week 0.
    ExpectTime(CTKTime(2001, 2, 29, 0, 0, 0), 2001, 2, 0, 29, 0, 0, 0);

    ExpectTime(CTKTime(COleDateTime(2000, 1, 5, 6, 7, 8)), 2000, 1, 3, 5, 6, 7, 8);
    ExpectTime(CTKTime(COleDateTime(-1.25)), 1899, 12, 5, 29, 6, 0, 0);
    EXPECT_TRUE(CTKTime(COleDateTime(2000, 13, 1, 0, 0, 0)).IsNull());

    const CTKTime null = CTKTime::Null();
    EXPECT_TRUE(null.IsNull());
    ExpectTime(null, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(CTKTime(2000, 1, 1, 0, 0, 0).IsNull());
    EXPECT_EQ(null.GetOleDateTime().GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(CTKTime(2000, 1, 2, 3, 4, 5).GetOleDateTime(), COleDateTime(2000, 1, 2, 3, 4, 5));
}

TEST(TKTime, DefaultIsTheCurrentUtcTime) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    ::setenv("TZ", "XYZ-5:30", 1);  // a local zone must not leak into system time
    ::tzset();
    const time_t before = ::time(nullptr);
    const CTKTime now;
    const time_t after = ::time(nullptr);
    if (oldTz) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();

    EXPECT_FALSE(now.IsNull());
    EXPECT_FALSE(FromUtc(before) > now);
    EXPECT_FALSE(now > FromUtc(after));
    EXPECT_LT(now.m_wMilliseconds, 1000);
    EXPECT_EQ(now.m_wDayOfWeek,
              CTKTime(now.m_wYear, now.m_wMonth, now.m_wDay, 0, 0, 0).m_wDayOfWeek);
}

TEST(TKTime, FromStoredTimeIsTheLocalBreakdown) {
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    ::setenv("TZ", "XYZ-5:30", 1);
    ::tzset();
    const CTKTime t{CTime(946684800)};  // 2000-01-01 00:00 UTC
    if (oldTz) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    ExpectTime(t, 2000, 1, 6, 1, 5, 30, 0);
}

TEST(TKTime, EqualityIgnoresDayOfWeekAndMilliseconds) {
    CTKTime a(2000, 1, 2, 3, 4, 5);
    CTKTime b = a;
    b.m_wMilliseconds = 999;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a > b);
    EXPECT_FALSE(b > a);
    b.m_wDayOfWeek = 3;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);

    // Each compared field counts.
    for (int field = 0; field < 6; ++field) {
        CTKTime c = a;
        WORD* words[] = {&c.m_wYear, &c.m_wMonth,  &c.m_wDay,
                         &c.m_wHour, &c.m_wMinute, &c.m_wSecond};
        *words[field] += 1;
        EXPECT_FALSE(a == c) << field;
        EXPECT_TRUE(c > a) << field;
        EXPECT_TRUE(a < c) << field;
        EXPECT_FALSE(a > c) << field;
    }
}

TEST(TKTime, SpanArithmeticAcrossMonthAndYearEnds) {
    CTKTime t(1999, 12, 31, 23, 59, 30);
    t.m_wMilliseconds = 500;
    ExpectTime(t + COleDateTimeSpan(0, 0, 1, 0), 2000, 1, 6, 1, 0, 0, 30);
    ExpectTime(CTKTime(2000, 2, 28, 12, 0, 0) + COleDateTimeSpan(1, 0, 0, 0), 2000, 2, 2, 29, 12, 0,
               0);
    ExpectTime(CTKTime(1900, 2, 28, 12, 0, 0) + COleDateTimeSpan(1, 0, 0, 0), 1900, 3, 4, 1, 12, 0,
               0);
    ExpectTime(CTKTime(2000, 3, 1, 0, 0, 0) - COleDateTimeSpan(0, 0, 0, 1), 2000, 2, 2, 29, 23, 59,
               59);
    ExpectTime(CTKTime(2000, 1, 31, 0, 0, 0) + COleDateTimeSpan(0, 0, 0, 86400 * 30), 2000, 3, 3, 1,
               0, 0, 0);
    // Large offsets in seconds, as positions in a long recording give.
    ExpectTime(CTKTime(2000, 1, 1, 0, 0, 0) + COleDateTimeSpan(0, 0, 0, 4294967295LL), 2136, 2, 2,
               7, 6, 28, 15);

    CTKTime u(2000, 12, 31, 12, 0, 0);
    u += COleDateTimeSpan(0.5);
    ExpectTime(u, 2001, 1, 1, 1, 0, 0, 0);
    u -= COleDateTimeSpan(0.5);
    ExpectTime(u, 2000, 12, 0, 31, 12, 0, 0);

    EXPECT_TRUE((CTKTime::Null() + COleDateTimeSpan(1.0)).IsNull());
}

TEST(TKTime, DifferenceInDays) {
    const CTKTime a(2000, 1, 1, 0, 0, 0);
    CTKTime b(2000, 1, 2, 12, 0, 0);
    b.m_wMilliseconds = 750;  // not counted
    EXPECT_DOUBLE_EQ((b - a).GetTotalDays(), 1.5);
    EXPECT_DOUBLE_EQ((a - b).GetTotalDays(), -1.5);
    EXPECT_DOUBLE_EQ((CTKTime(2001, 1, 1, 0, 0, 0) - a).GetTotalDays(), 366.0);
    EXPECT_DOUBLE_EQ((CTKTime(2000, 1, 1, 0, 0, 1) - a).GetTotalSeconds(), 1.0);
    EXPECT_EQ((CTKTime::Null() - a).GetStatus(), COleDateTimeSpan::invalid);
}

TEST(TKTime, TextJoinsDateAndTimeWithTwoBlanks) {
    std::setlocale(LC_ALL, "C");
    const CTKTime t(2000, 1, 2, 13, 4, 5);
    EXPECT_EQ(t.GetDateText(LOCALE_USER_DEFAULT, DATE_SHORTDATE), CString("01/02/00"));
    EXPECT_EQ(t.GetDateText(LOCALE_USER_DEFAULT, DATE_LONGDATE),
              CString("Sunday, January 2, 2000"));
    EXPECT_EQ(t.GetTimeText(LOCALE_USER_DEFAULT, TIME_NOSECONDS), CString("13:04"));
    EXPECT_EQ(t.GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, TIME_NOSECONDS),
              CString("01/02/00  13:04"));
    EXPECT_EQ(t.GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, 0),
              CString("01/02/00  13:04:05"));

    // An empty part takes the blanks with it.
    EXPECT_EQ(CTKTime::Null().GetDateTimeText(0x400, DATE_SHORTDATE, TIME_NOSECONDS),
              CString("00:00"));
    CTKTime noTime = t;
    noTime.m_wHour = 24;
    EXPECT_EQ(noTime.GetDateTimeText(0x400, DATE_SHORTDATE, TIME_NOSECONDS), CString("01/02/00"));
    EXPECT_EQ(t.GetDateTimeText(0x400, DATE_SHORTDATE | DATE_LONGDATE, 0), CString("13:04:05"));
    noTime.m_wYear = 0;
    EXPECT_EQ(noTime.GetDateTimeText(0x400, DATE_SHORTDATE, 0), CString(""));

    // The combined text reads back as the same time, to the minute.
    COleDateTime read;
    ASSERT_TRUE(
        read.ParseDateTime(t.GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, TIME_NOSECONDS)));
    EXPECT_TRUE(CTKTime(read) == CTKTime(2000, 1, 2, 13, 4, 0));
}
