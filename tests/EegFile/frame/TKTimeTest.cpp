#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "EegFile/frame/TKTime.h"
#include "TestSupport.h"

namespace {

using Words = std::array<int, 8>;

// The fields in their stored order: year, month, day of week, day, hour, minute,
// second, milliseconds.
Words WordsOf(const CTKTime& t) {
    return {t.m_wYear, t.m_wMonth,  t.m_wDayOfWeek, t.m_wDay,
            t.m_wHour, t.m_wMinute, t.m_wSecond,    t.m_wMilliseconds};
}

}  // namespace

TEST(TKTime, LayoutIsTheSystemTimeFieldsWithTheComputedDayOfWeek) {
    static_assert(sizeof(CTKTime) == 16);
    CTKTime t(2000, 1, 2, 3, 4, 5);
    t.m_wMilliseconds = 678;
    std::array<WORD, 8> raw;
    std::memcpy(raw.data(), &t, sizeof t);
    EXPECT_EQ(raw, (std::array<WORD, 8>{2000, 1, 0, 2, 3, 4, 5, 678}));

    EXPECT_EQ(WordsOf(CTKTime(2024, 2, 29, 23, 59, 59)), (Words{2024, 2, 4, 29, 23, 59, 59, 0}));
    EXPECT_EQ(WordsOf(CTKTime(1899, 12, 31, 12, 0, 0)), (Words{1899, 12, 0, 31, 12, 0, 0, 0}));
    // A date that does not exist keeps its fields, with day of week 0.
    EXPECT_EQ(WordsOf(CTKTime(2001, 2, 29, 0, 0, 0)), (Words{2001, 2, 0, 29, 0, 0, 0, 0}));
    EXPECT_EQ(WordsOf(CTKTime(COleDateTime(-1.25))), (Words{1899, 12, 5, 29, 6, 0, 0, 0}));
    EXPECT_TRUE(CTKTime(COleDateTime(2000, 13, 1, 0, 0, 0)).IsNull());
    EXPECT_EQ(WordsOf(CTKTime::Null()), (Words{}));
    EXPECT_EQ(CTKTime::Null().GetOleDateTime().GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(CTKTime(2000, 1, 2, 3, 4, 5).GetOleDateTime(), COleDateTime(2000, 1, 2, 3, 4, 5));
}

TEST(TKTime, DefaultIsTheCurrentUtcTimeAndStoredTimesAreLocal) {
    testsupport::ScopedEnv tz("TZ", "XYZ-5:30");  // a local zone must not leak into system time
    auto utc = [](time_t t) {
        struct tm tm;
        ::gmtime_r(&t, &tm);
        return CTKTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec);
    };
    // The clock the library reads, not time(), whose coarse clock may still show
    // the previous second.
    auto seconds = [] {
        return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    };
    const time_t before = seconds();
    const CTKTime now;
    const time_t after = seconds();
    EXPECT_FALSE(utc(before) > now);
    EXPECT_FALSE(now > utc(after));
    EXPECT_LT(now.m_wMilliseconds, 1000);
    EXPECT_EQ(now.m_wDayOfWeek,
              CTKTime(now.m_wYear, now.m_wMonth, now.m_wDay, 0, 0, 0).m_wDayOfWeek);

    const CTKTime stored{CTime(946684800)};  // 2000-01-01 00:00 UTC
    EXPECT_EQ(WordsOf(stored), (Words{2000, 1, 6, 1, 5, 30, 0, 0}));
}

TEST(TKTime, ComparisonIgnoresDayOfWeekAndMilliseconds) {
    const CTKTime a(2000, 1, 2, 3, 4, 5);
    CTKTime b = a;
    b.m_wMilliseconds = 999;
    b.m_wDayOfWeek = 3;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a > b || b > a || a != b);
    for (int field = 0; field < 6; ++field) {  // each compared field counts
        CTKTime c = a;
        WORD* words[] = {&c.m_wYear, &c.m_wMonth,  &c.m_wDay,
                         &c.m_wHour, &c.m_wMinute, &c.m_wSecond};
        *words[field] += 1;
        EXPECT_FALSE(a == c) << field;
        EXPECT_TRUE(c > a && a < c && !(a > c)) << field;
    }
}

TEST(TKTime, SpanArithmeticAndDifferences) {
    CTKTime t(1999, 12, 31, 23, 59, 30);
    t.m_wMilliseconds = 500;
    EXPECT_EQ(WordsOf(t + COleDateTimeSpan(0, 0, 1, 0)), (Words{2000, 1, 6, 1, 0, 0, 30, 0}));
    EXPECT_EQ(WordsOf(CTKTime(1900, 2, 28, 12, 0, 0) + COleDateTimeSpan(1, 0, 0, 0)),
              (Words{1900, 3, 4, 1, 12, 0, 0, 0}));
    EXPECT_EQ(WordsOf(CTKTime(2000, 3, 1, 0, 0, 0) - COleDateTimeSpan(0, 0, 0, 1)),
              (Words{2000, 2, 2, 29, 23, 59, 59, 0}));
    // Large offsets in seconds, as positions in a long recording give.
    EXPECT_EQ(WordsOf(CTKTime(2000, 1, 1, 0, 0, 0) + COleDateTimeSpan(0, 0, 0, 4294967295LL)),
              (Words{2136, 2, 2, 7, 6, 28, 15, 0}));
    EXPECT_TRUE((CTKTime::Null() + COleDateTimeSpan(1.0)).IsNull());

    const CTKTime a(2000, 1, 1, 0, 0, 0);
    CTKTime b(2000, 1, 2, 12, 0, 0);
    b.m_wMilliseconds = 750;  // not counted
    EXPECT_DOUBLE_EQ((b - a).GetTotalDays(), 1.5);
    EXPECT_DOUBLE_EQ((a - b).GetTotalDays(), -1.5);
    EXPECT_DOUBLE_EQ((CTKTime(2000, 1, 1, 0, 0, 1) - a).GetTotalSeconds(), 1.0);
    EXPECT_EQ((CTKTime::Null() - a).GetStatus(), COleDateTimeSpan::invalid);
}

TEST(TKTime, TextJoinsDateAndTimeWithTwoBlanks) {
    std::setlocale(LC_ALL, "C");
    const CTKTime t(2000, 1, 2, 13, 4, 5);
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
