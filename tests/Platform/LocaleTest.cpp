// Locale-dependent text, in the "C" locale and in locales with other conventions:
// German (comma decimal separator, day first, 24-hour clock) and US English
// (12-hour clock with AM/PM). When a locale is not installed it is compiled with
// localedef into the test's folder and found through LOCPATH; when that is not
// possible either, the part that needs it is skipped.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "Platform/Locale.h"
#include "Platform/OleDateTime.h"
#include "TestSupport.h"

namespace {

// Switches the C library's locale and puts back "C" and LOCPATH at the end.
class LocaleSwitch {
public:
    LocaleSwitch() {
        const char* old = std::getenv("LOCPATH");
        m_hadLocPath = old != nullptr;
        if (m_hadLocPath)
            m_oldLocPath = old;
    }
    ~LocaleSwitch() {
        std::setlocale(LC_ALL, "C");
        if (m_hadLocPath) {
            ::setenv("LOCPATH", m_oldLocPath.c_str(), 1);
        } else {
            ::unsetenv("LOCPATH");
        }
    }

    // Makes an installed locale of one of the names current, or else compiles the
    // source locale (for example "de_DE") into the test's folder and uses it.
    bool Use(const std::vector<const char*>& installed, const char* source) {
        for (const char* name : installed) {
            if (std::setlocale(LC_ALL, name))
                return true;
        }
        const std::string out = m_dir.File(std::string(source) + ".UTF-8");
        if (::access("/usr/bin/localedef", X_OK) != 0)
            return false;
        const pid_t pid = ::fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            // localedef reports harmless warnings; keep the test's output clean.
            if (!std::freopen("/dev/null", "w", stdout) ||
                !std::freopen("/dev/null", "w", stderr)) {
                ::_exit(127);
            }
            ::execl("/usr/bin/localedef", "localedef", "-c", "-i", source, "-f", "UTF-8",
                    out.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR)
                return false;
        }
        ::setenv("LOCPATH", m_dir.path().c_str(), 1);
        return std::setlocale(LC_ALL, (std::string(source) + ".UTF-8").c_str()) != nullptr;
    }

private:
    testsupport::TempDir m_dir;
    bool m_hadLocPath = false;
    std::string m_oldLocPath;
};

void ExpectParsed(const char* text, int y, int mo, int d, int h, int mi, int s) {
    SCOPED_TRACE(text);
    COleDateTime t;
    ASSERT_TRUE(t.ParseDateTime(text));
    EXPECT_EQ(t.GetYear(), y);
    EXPECT_EQ(t.GetMonth(), mo);
    EXPECT_EQ(t.GetDay(), d);
    EXPECT_EQ(t.GetHour(), h);
    EXPECT_EQ(t.GetMinute(), mi);
    EXPECT_EQ(t.GetSecond(), s);
}

}  // namespace

TEST(Locale, FormatsInTheCLocale) {
    LocaleSwitch locale;
    ASSERT_TRUE(std::setlocale(LC_ALL, "C"));
    EXPECT_EQ(GetLocaleDecimalSeparator(), CString("."));

    EXPECT_EQ(GetDateFormatText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, 2000, 1, 2, 0),
              CString("01/02/00"));
    EXPECT_EQ(GetDateFormatText(LOCALE_USER_DEFAULT, 0, 2000, 1, 2, 0), CString("01/02/00"));
    // The day of the week is taken from the date, not from the caller.
    EXPECT_EQ(GetDateFormatText(0x409, DATE_LONGDATE, 2000, 1, 2, 5),
              CString("Sunday, January 2, 2000"));
    EXPECT_EQ(GetDateFormatText(LOCALE_USER_DEFAULT, DATE_LONGDATE, 1899, 12, 29, 0),
              CString("Friday, December 29, 1899"));

    EXPECT_EQ(GetTimeFormatText(LOCALE_USER_DEFAULT, 0, 13, 4, 5), CString("13:04:05"));
    EXPECT_EQ(GetTimeFormatText(LOCALE_USER_DEFAULT, TIME_NOSECONDS, 13, 4, 5), CString("13:04"));
    EXPECT_EQ(GetTimeFormatText(LOCALE_USER_DEFAULT, TIME_NOMINUTESORSECONDS, 13, 4, 5),
              CString("13"));
    EXPECT_EQ(
        GetTimeFormatText(LOCALE_USER_DEFAULT, TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT, 0, 0, 0),
        CString("00:00:00"));

    // What the formatters refuse.
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE | DATE_LONGDATE, 2000, 1, 2, 0), CString());
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 2000, 13, 2, 0), CString());
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 2001, 2, 29, 0), CString());
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 0, 0, 0, 0), CString());
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 24, 0, 0), CString());
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 0, 60, 0), CString());
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
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 13, 4, 5), CString("13:04:05"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOSECONDS, 13, 4, 5), CString("13:04"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOMINUTESORSECONDS, 13, 4, 5), CString("13"));

    ExpectParsed("02.01.2000 13:04:05", 2000, 1, 2, 13, 4, 5);
    ExpectParsed("02.01.2000  13:04", 2000, 1, 2, 13, 4, 0);
    ExpectParsed("1.2.2000", 2000, 2, 1, 0, 0, 0);  // day first here
    ExpectParsed("02.01.00", 2000, 1, 2, 0, 0, 0);
    ExpectParsed("2. Januar 2000", 2000, 1, 2, 0, 0, 0);
    ExpectParsed("Sonntag, 2 Januar 2000", 2000, 1, 2, 0, 0, 0);
    ExpectParsed("2 März 2000", 2000, 3, 2, 0, 0, 0);
    ExpectParsed("2000-01-02T03:04:05,5", 2000, 1, 2, 3, 4, 5);
    COleDateTime t;
    EXPECT_FALSE(t.ParseDateTime("13.13.2000"));

    const COleDateTime written(2000, 1, 2, 13, 4, 5);
    ASSERT_TRUE(t.ParseDateTime(written.Format()));
    EXPECT_EQ(t, written);
}

TEST(Locale, TwelveHourClock) {
    LocaleSwitch locale;
    if (!locale.Use({"en_US.UTF-8", "en_US.utf8", "en_US"}, "en_US")) {
        GTEST_SKIP() << "no US English locale installed and none could be compiled";
    }
    EXPECT_EQ(GetLocaleDecimalSeparator(), CString("."));
    EXPECT_EQ(GetDateFormatText(0x400, DATE_SHORTDATE, 2000, 1, 2, 0), CString("01/02/2000"));
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 13, 4, 5), CString("01:04:05 PM"));
    EXPECT_EQ(GetTimeFormatText(0x400, 0, 0, 4, 5), CString("12:04:05 AM"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOSECONDS, 13, 4, 5), CString("01:04 PM"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOMINUTESORSECONDS, 13, 4, 5), CString("01 PM"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_NOTIMEMARKER, 13, 4, 5), CString("01:04:05"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_FORCE24HOURFORMAT, 13, 4, 5), CString("13:04:05"));
    EXPECT_EQ(GetTimeFormatText(0x400, TIME_FORCE24HOURFORMAT | TIME_NOSECONDS, 13, 4, 5),
              CString("13:04"));

    ExpectParsed("01/02/2000  01:04 PM", 2000, 1, 2, 13, 4, 0);
    ExpectParsed("01/02/2000 12:04:05 AM", 2000, 1, 2, 0, 4, 5);
    ExpectParsed("1/2/2000 13:04", 2000, 1, 2, 13, 4, 0);
    ExpectParsed("Sunday, January 2, 2000", 2000, 1, 2, 0, 0, 0);

    for (int hour : {0, 1, 11, 12, 13, 23}) {
        const COleDateTime written(2000, 1, 2, hour, 4, 5);
        COleDateTime read;
        ASSERT_TRUE(read.ParseDateTime(written.Format())) << written.Format().GetString();
        EXPECT_EQ(read, written);
    }
}
