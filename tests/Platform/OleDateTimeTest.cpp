#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "Platform/OleDateTime.h"
#include "Platform/Time.h"
#include "TestSupport.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;
using Fields = std::array<int, 6>;

// Year, month, day, hour, minute, second; an invalid time gives -1 for each.
Fields FieldsOf(const COleDateTime& t) {
    return {t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond()};
}

// TZ for one test, and the "C" locale, which parsing and formatting follow.
struct ScopedTz : testsupport::ScopedEnv {
    explicit ScopedTz(const char* tz) : ScopedEnv("TZ", tz) { std::setlocale(LC_ALL, "C"); }
};

}  // namespace

TEST(OleDateTime, DayNumbersFieldsWeekdaysAndRange) {
    // clang-format off
    const struct {
        Fields f;
        double dt;
        int dow, doy;
    } cases[] = {
        {{1899, 12, 30, 0, 0, 0}, 0.0, 7, 364},     {{1900, 2, 28, 0, 0, 0}, 60.0, 4, 59},
        {{1900, 3, 1, 0, 0, 0}, 61.0, 5, 60},       // 1900 has no 29 February
        {{2000, 2, 29, 12, 0, 0}, 36585.5, 3, 60},  {{2000, 12, 31, 0, 0, 0}, 36891.0, 1, 366},
        {{1899, 12, 29, 6, 0, 0}, -1.25, 6, 363},   {{1800, 1, 1, 18, 0, 0}, -36522.75, 4, 1},
        {{100, 1, 1, 0, 0, 0}, -657434.0, 6, 1},    {{9999, 12, 31, 0, 0, 0}, 2958465.0, 6, 365}};
    const Fields invalid[] = {
        {1900, 2, 29, 0, 0, 0}, {2000, 4, 31, 0, 0, 0}, {2000, 13, 1, 0, 0, 0},
        {2000, 1, 0, 0, 0, 0},  {2000, 1, 1, 24, 0, 0}, {2000, 1, 1, 0, 60, 0},
        {2000, 1, 1, -1, 0, 0}, {99, 12, 31, 0, 0, 0},  {10000, 1, 1, 0, 0, 0}};
    // Fields round to the nearest second, forward on both sides of the epoch.
    const std::pair<double, Fields> rounded[] = {
        {36526.0 + 86399.5 * kSecond, {2000, 1, 2, 0, 0, 0}},
        {36526.0 + 86399.4 * kSecond, {2000, 1, 1, 23, 59, 59}},
        {36525.0 + 86399.7 * kSecond, {2000, 1, 1, 0, 0, 0}},
        {-1.25 - 0.5 * kSecond, {1899, 12, 29, 6, 0, 1}},  // half a second past 06:00
        {-1.25 - 0.4 * kSecond, {1899, 12, 29, 6, 0, 0}},
        {-1.0 - 86399.6 * kSecond, {1899, 12, 30, 0, 0, 0}}};  // into the following day
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dt);
        const COleDateTime t(c.f[0], c.f[1], c.f[2], c.f[3], c.f[4], c.f[5]);
        EXPECT_DOUBLE_EQ(t.m_dt, c.dt);
        EXPECT_EQ(FieldsOf(COleDateTime(c.dt)), c.f);
        EXPECT_EQ(t.GetDayOfWeek(), c.dow);
        EXPECT_EQ(t.GetDayOfYear(), c.doy);
    }
    for (const auto& [dt, fields] : rounded)
        EXPECT_EQ(FieldsOf(COleDateTime(dt)), fields) << dt;
    for (const Fields& f : invalid) {
        COleDateTime t(2000, 1, 1, 0, 0, 0);
        EXPECT_EQ(t.SetDateTime(f[0], f[1], f[2], f[3], f[4], f[5]), 1) << f[0] << "-" << f[1];
        EXPECT_EQ(FieldsOf(t), (Fields{-1, -1, -1, -1, -1, -1}));
        EXPECT_EQ(t.GetDayOfWeek(), -1);
    }
    COleDateTime t;
    EXPECT_EQ(t.SetDate(2000, 2, 29), 0);
    EXPECT_EQ(t.SetTime(6, 0, 0), 0);  // a time alone is on 1899-12-30
    EXPECT_DOUBLE_EQ(t.m_dt, 0.25);
    // Day counts outside 0100-01-01 .. 9999-12-31, or not numbers at all.
    EXPECT_EQ(COleDateTime(-657434.5).GetStatus(), COleDateTime::valid);
    for (double dt : {-657435.0, 2958466.0, std::nan(""), HUGE_VAL})
        EXPECT_EQ(COleDateTime(dt).GetStatus(), COleDateTime::invalid) << dt;
    t = 1e12;
    EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
}

TEST(OleDateTime, ArithmeticOrderAndStatusAcrossTheEpoch) {
    const COleDateTime morning(1899, 12, 29, 6, 0, 0);   // -1.25
    const COleDateTime evening(1899, 12, 29, 18, 0, 0);  // -1.75
    EXPECT_DOUBLE_EQ((morning + COleDateTimeSpan(0.5)).m_dt, -1.75);
    EXPECT_DOUBLE_EQ((morning + COleDateTimeSpan(1.0)).m_dt, 0.25);
    EXPECT_DOUBLE_EQ((evening + COleDateTimeSpan(0, 6, 0, 0)).m_dt, 0.0);
    EXPECT_DOUBLE_EQ((evening - morning).GetTotalDays(), 0.5);
    EXPECT_DOUBLE_EQ((COleDateTime(2000, 1, 1, 0, 0, 0) - morning).GetTotalDays(), 36526.75);
    // The raw day counts order the other way round before the epoch.
    EXPECT_TRUE(morning < evening && evening < COleDateTime(0.0));
    COleDateTime t(2000, 3, 1, 0, 0, 0);
    t -= COleDateTimeSpan(0, 0, 0, 1);
    EXPECT_EQ(FieldsOf(t), (Fields{2000, 2, 29, 23, 59, 59}));

    COleDateTime invalid(2000, 13, 1, 0, 0, 0), null;
    null.SetStatus(COleDateTime::null);
    COleDateTimeSpan nullSpan;
    nullSpan.SetStatus(COleDateTimeSpan::null);
    EXPECT_EQ((invalid + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ((null + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::null);
    EXPECT_EQ((invalid + nullSpan).GetStatus(), COleDateTime::null);
    EXPECT_EQ((t - invalid).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ((null - t).GetStatus(), COleDateTimeSpan::null);
    // Leaving the valid dates makes the result invalid.
    EXPECT_EQ((COleDateTime(9999, 12, 31, 0, 0, 0) + COleDateTimeSpan(1.0)).GetStatus(),
              COleDateTime::invalid);
    EXPECT_EQ((COleDateTime(100, 1, 1, 0, 0, 0) - COleDateTimeSpan(0, 0, 0, 1)).GetStatus(),
              COleDateTime::invalid);
    EXPECT_EQ(invalid.Format("%Y"), CString("Invalid DateTime"));
    EXPECT_EQ(null.Format(), CString(""));
}

TEST(OleDateTimeSpan, FieldsOfPositiveNegativeAndMixedSpans) {
    const COleDateTimeSpan plus(1, 2, 3, 4), minus(-1, -2, -3, -4);
    EXPECT_DOUBLE_EQ(plus.GetTotalDays(), 1.0 + 2.0 / 24 + 3.0 / 1440 + 4.0 / 86400);
    EXPECT_EQ(minus, -plus);
    EXPECT_TRUE(minus < plus);
    auto parts = [](const COleDateTimeSpan& s) {
        return std::array<int, 4>{s.GetDays(), s.GetHours(), s.GetMinutes(), s.GetSeconds()};
    };
    EXPECT_EQ(parts(plus), (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_EQ(parts(minus), (std::array<int, 4>{-1, -2, -3, -4}));
    EXPECT_EQ(minus.GetTotalHours(), -26);
    EXPECT_EQ(plus.GetTotalSeconds(), 93784);
    EXPECT_EQ(COleDateTimeSpan(0, -1, 30, 0).GetMinutes(), -30);  // mixed signs
    EXPECT_EQ(COleDateTimeSpan(0, 25, 0, 0).GetHours(), 1);       // carries
    // Fields round to the second, symmetrically; the total in days stays exact.
    const COleDateTimeSpan almostHalfDay(0.5 - 0.4 * kSecond);
    EXPECT_EQ(almostHalfDay.GetHours(), 12);
    EXPECT_EQ(almostHalfDay.GetSeconds(), 0);
    EXPECT_DOUBLE_EQ(almostHalfDay.GetTotalDays(), 0.5 - 0.4 * kSecond);
    EXPECT_EQ((-almostHalfDay).GetHours(), -12);
    EXPECT_EQ(COleDateTimeSpan(-0.6 * kSecond).GetSeconds(), -1);
    EXPECT_EQ(COleDateTimeSpan(-0.4 * kSecond).GetSeconds(), 0);
    // Not a number, or beyond any two valid dates, is invalid.
    EXPECT_EQ(COleDateTimeSpan(std::nan("")).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ(COleDateTimeSpan(INT64_MAX, 0, 0, 0).GetStatus(), COleDateTimeSpan::invalid);
    EXPECT_EQ((COleDateTimeSpan(1e9) + plus).GetStatus(), COleDateTimeSpan::invalid);
}

TEST(OleDateTime, FormatsAndParsesInTheCLocale) {
    ScopedTz tz("UTC0");
    const COleDateTime t(2000, 1, 2, 3, 4, 5);
    EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S %A %j"), CString("2000-01-02 03:04:05 Sunday 002"));
    EXPECT_EQ(COleDateTime(-1.25).Format("%Y-%m-%d %H:%M %a"), CString("1899-12-29 06:00 Fri"));
    EXPECT_EQ(t.Format((std::string(300, 'x') + "%Y").c_str()).GetLength(), 304);  // not cut
    EXPECT_EQ(t.Format(), CString("01/02/00 03:04:05"));
    EXPECT_EQ(t.Format(VAR_TIMEVALUEONLY), CString("03:04:05"));
    EXPECT_EQ(COleDateTime(2000, 1, 2, 0, 0, 0).Format(), CString("01/02/00"));
    EXPECT_EQ(COleDateTime(0.75).Format(), CString("18:00:00"));

    // clang-format off
    const std::pair<const char*, Fields> good[] = {
        {"  12/31/1999 23:59:59  ", {1999, 12, 31, 23, 59, 59}},
        {"12/31/1999  11:59 PM", {1999, 12, 31, 23, 59, 0}},
        {"12/31/1999 12:05 am", {1999, 12, 31, 0, 5, 0}},
        {"2000-01-02T03:04:05", {2000, 1, 2, 3, 4, 5}},
        {"2000-01-02 03:04:05.678", {2000, 1, 2, 3, 4, 5}},
        {"2 jan 2000 12:00 AM", {2000, 1, 2, 0, 0, 0}},
        {"Sat Jan  1 10:22:33 2000", {2000, 1, 1, 10, 22, 33}},
        {"Sunday, January 2, 2000", {2000, 1, 2, 0, 0, 0}},
        {"01/02/30", {1930, 1, 2, 0, 0, 0}}, {"01/02/29", {2029, 1, 2, 0, 0, 0}},  // pivot at 30
        {"99/12/31", {1999, 12, 31, 0, 0, 0}}};  // a first number above 31 is the year
    const std::string tooLong = "1/2/2000" + std::string(300, ' ');
    const char* bad[] = {"", "hello", "13/01/2000", "02/30/2000", "02/29/1900", "1/2/2000 25:00",
        "10:22:60", "1/2/2000 3:04:05 xyz", "1/2", "1/2/3/4", "1:2:3:4", "1234567890/1/1",
        "1/2/99999", "1/2/2000 13:00 PM", "0:30 AM", "1/2/2000 3:04:05 PM PM", "Jan Feb 2000",
        "2 January 1999 2000", "1/2/2000 3:04 3:05", "PM 3:04", "1/2/2000\x01", "-1/2/2000",
        "1/2/2000/", "12:30:", tooLong.c_str()};
    // clang-format on
    for (const auto& [text, fields] : good) {
        COleDateTime u;
        EXPECT_TRUE(u.ParseDateTime(text)) << text;
        EXPECT_EQ(FieldsOf(u), fields) << text;
    }
    for (const char* text : bad) {
        COleDateTime u(2000, 1, 1, 0, 0, 0);
        EXPECT_FALSE(u.ParseDateTime(text)) << text;
        EXPECT_EQ(u.GetStatus(), COleDateTime::invalid) << text;
        EXPECT_EQ(u.m_dt, 0.0) << text;
    }
    COleDateTime u;
    EXPECT_FALSE(u.ParseDateTime(nullptr));
    EXPECT_FALSE(u.ParseDateTime("1/2/2000", VAR_DATEVALUEONLY | VAR_TIMEVALUEONLY));
    ASSERT_TRUE(u.ParseDateTime("3 PM"));
    EXPECT_DOUBLE_EQ(u.m_dt, 0.625);
    ASSERT_TRUE(u.ParseDateTime("1/2/2000 3:04:05", VAR_DATEVALUEONLY));
    EXPECT_DOUBLE_EQ(u.m_dt, 36527.0);
    ASSERT_TRUE(u.ParseDateTime("1/2/2000 6:00:00", VAR_TIMEVALUEONLY));
    EXPECT_DOUBLE_EQ(u.m_dt, 0.25);
    for (double dt : {36526.5 + 17 * kSecond, 0.75, 47000.0}) {  // what Format writes reads back
        ASSERT_TRUE(u.ParseDateTime(COleDateTime(dt).Format())) << dt;
        EXPECT_DOUBLE_EQ(u.m_dt, dt);
    }
}

TEST(OleDateTime, CurrentTimeIsLocal) {
    ScopedTz tz("XYZ-5:30");  // half-hour offset east of UTC, no daylight saving
    const time_t before = ::time(nullptr);
    const COleDateTime now = COleDateTime::GetCurrentTime();
    const time_t after = ::time(nullptr);
    auto days = [](time_t t) { return 25569.0 + (t + 5.5 * 3600) / 86400.0; };  // 25569: 1970
    EXPECT_GE(now.m_dt, days(before) - 1e-9);
    EXPECT_LE(now.m_dt, days(after) + 1e-9);
}

TEST(Time, ThirtyTwoBitSecondsThroughTheLocalZone) {
    {
        ScopedTz tz("UTC0");
        EXPECT_EQ(CTime(0).GetDayOfWeek(), 5);  // 1970-01-01, a Thursday
        EXPECT_EQ(CTime(INT32_MAX).Format("%Y-%m-%d %H:%M:%S"), CString("2038-01-19 03:14:07"));
        EXPECT_EQ(CTime(1901, 12, 13, 20, 45, 52).GetTime(), INT32_MIN);
        EXPECT_EQ(CTime(2038, 1, 19, 3, 14, 8).GetTime(), -1);  // beyond 32 bits
        EXPECT_EQ(CTime(1901, 12, 13, 20, 45, 51).GetTime(), -1);
    }
    {
        ScopedTz tz("XYZ-5:30");
        EXPECT_EQ(CTime(2000, 1, 1, 0, 0, 0).GetTime(), 946665000);  // 1999-12-31 18:30 UTC
        EXPECT_EQ(CTime(946665000).GetDayOfWeek(), 7);
        EXPECT_EQ(CTime(2000, 4, 31, 0, 0, 0).Format("%m-%d"), CString("05-01"));  // carried
    }
    ScopedTz tz("EST5EDT,M4.1.0,M10.5.0");  // 12:00 is 16:00 UTC in July, 17:00 in January
    EXPECT_EQ(CTime(2000, 7, 1, 12, 0, 0).GetTime(), 962467200);
    EXPECT_EQ(CTime(2000, 1, 15, 12, 0, 0).GetTime(), 947955600);
    for (int32_t v : {0, 962467200, 947955600, INT32_MAX - 86400}) {
        const CTime a(v);
        const CTime b(a.GetYear(), a.GetMonth(), a.GetDay(), a.GetHour(), a.GetMinute(),
                      a.GetSecond());
        EXPECT_EQ(b.GetTime(), v);
    }
    const time_t before = ::time(nullptr);
    const int32_t now = CTime::GetCurrentTime().GetTime();
    EXPECT_GE(now, static_cast<int32_t>(before));
    EXPECT_LE(now, static_cast<int32_t>(::time(nullptr)));
}
