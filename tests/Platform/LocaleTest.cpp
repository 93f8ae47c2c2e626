// Locale-dependent text, in the "C" locale and in locales with other conventions:
// German (comma decimal separator, day first, 24-hour clock) and US English
// (12-hour clock with AM/PM). When a locale is not installed it is compiled with
// localedef into the test's folder and found through LOCPATH; when that is not
// possible either, the part that needs it is skipped.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Platform/Locale.h"
#include "Platform/OleDateTime.h"
#include "TestSupport.h"

namespace {

using testsupport::LocaleSwitch;

// The fields text parses to, as "YYYY-MM-DD hh:mm:ss", or "fails".
std::string Parsed(const char* text) {
    COleDateTime t;
    return t.ParseDateTime(text) ? t.Format("%Y-%m-%d %H:%M:%S").str() : "fails";
}

}  // namespace

TEST(Locale, FormatsInTheCLocale) {
    LocaleSwitch locale;
    ASSERT_TRUE(std::setlocale(LC_ALL, "C"));
    EXPECT_EQ(GetLocaleDecimalSeparator(), CString("."));
    EXPECT_EQ(GetDateFormatText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, 2000, 1, 2, 0),
              CString("01/02/00"));
    // The day of the week is taken from the date, not from the caller.
    EXPECT_EQ(GetDateFormatText(0x409, DATE_LONGDATE, 2000, 1, 2, 5),
              CString("Sunday, January 2, 2000"));
    EXPECT_EQ(GetDateFormatText(LOCALE_USER_DEFAULT, DATE_LONGDATE, 1899, 12, 29, 0),
              CString("Friday, December 29, 1899"));
    EXPECT_EQ(GetTimeFormatText(LOCALE_USER_DEFAULT, 0, 13, 4, 5), CString("13:04:05"));
    EXPECT_EQ(GetTimeFormatText(LOCALE_USER_DEFAULT, TIME_NOSECONDS, 13, 4, 5), CString("13:04"));
    EXPECT_EQ(GetTimeFormatText(LOCALE_USER_DEFAULT, TIME_NOMINUTESORSECONDS, 13, 4, 5),
              CString("13"));
    // What the formatters refuse.
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE | DATE_LONGDATE, 2000, 1, 2, 0), CString());
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 2001, 2, 29, 0), CString());
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 24, 0, 0), CString());
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 0, 0, -1), CString());
}

TEST(Locale, CommaDecimalSeparatorAndDayFirstDates) {
    LocaleSwitch locale;
    if (!locale.Use({"de_DE.UTF-8", "de_DE.utf8", "de_DE"}, "de_DE")) {
        GTEST_SKIP() << "no German locale installed and none could be compiled";
    }
    EXPECT_EQ(GetLocaleDecimalSeparator(), CString(","));
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 2000, 1, 2, 0), CString("02.01.2000"));
    EXPECT_EQ(GetDateFormatText(0x400, DATE_LONGDATE, 2000, 1, 2, 0),
              CString("Sonntag, 2 Januar 2000"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOSECONDS, 13, 4, 5), CString("13:04"));

    EXPECT_EQ(Parsed("02.01.2000  13:04"), "2000-01-02 13:04:00");
    EXPECT_EQ(Parsed("1.2.2000"), "2000-02-01 00:00:00");  // day first here
    EXPECT_EQ(Parsed("2. Januar 2000"), "2000-01-02 00:00:00");
    EXPECT_EQ(Parsed("Sonntag, 2 Januar 2000"), "2000-01-02 00:00:00");
    EXPECT_EQ(Parsed("2 März 2000"), "2000-03-02 00:00:00");
    EXPECT_EQ(Parsed("2000-01-02T03:04:05,5"), "2000-01-02 03:04:05");
    EXPECT_EQ(Parsed("13.13.2000"), "fails");
    const COleDateTime written(2000, 1, 2, 13, 4, 5);
    EXPECT_EQ(Parsed(written.Format()), "2000-01-02 13:04:05");
}

TEST(Locale, TwelveHourClock) {
    LocaleSwitch locale;
    if (!locale.Use({"en_US.UTF-8", "en_US.utf8", "en_US"}, "en_US")) {
        GTEST_SKIP() << "no US English locale installed and none could be compiled";
    }
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 2000, 1, 2, 0), CString("01/02/2000"));
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 13, 4, 5), CString("01:04:05 PM"));
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 0, 4, 5), CString("12:04:05 AM"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOMINUTESORSECONDS, 13, 4, 5), CString("01 PM"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOTIMEMARKER, 13, 4, 5), CString("01:04:05"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_FORCE24HOURFORMAT | TIME_NOSECONDS, 13, 4, 5),
              CString("13:04"));

    EXPECT_EQ(Parsed("01/02/2000  01:04 PM"), "2000-01-02 13:04:00");
    EXPECT_EQ(Parsed("1/2/2000 13:04"), "2000-01-02 13:04:00");
    for (int hour : {0, 11, 12, 23}) {  // what Format writes reads back
        const COleDateTime written(2000, 1, 2, hour, 4, 5);
        EXPECT_EQ(Parsed(written.Format()), written.Format("%Y-%m-%d %H:%M:%S").str());
    }
}
