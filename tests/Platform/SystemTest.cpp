#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

#include "Platform/OleDateTime.h"
#include "Platform/System.h"

namespace {

// Sets or clears an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
        ::tzset();
    }
    ~ScopedEnv() {
        if (m_had) {
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
        ::tzset();
    }

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

COleDateTime ToOle(const SYSTEMTIME& t) {
    return COleDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

}  // namespace

TEST(System, ComputerNameComesFromTheEnvironmentOrTheHost) {
    {
        ScopedEnv env("COMPUTERNAME", "STATION-A");
        EXPECT_EQ(GetComputerName(), CString("STATION-A"));
    }
    {
        ScopedEnv env("COMPUTERNAME", "ABCDEFGHIJKLMNOPQRST");
        EXPECT_EQ(GetComputerName(), CString("ABCDEFGHIJKLMNO"));
    }
    {
        ScopedEnv env("COMPUTERNAME", "ABCDEFGHIJKLMNO");
        EXPECT_EQ(GetComputerName(), CString("ABCDEFGHIJKLMNO"));
    }
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const std::string expected = std::string(host).substr(0, MAX_COMPUTERNAME_LENGTH);
    {
        ScopedEnv env("COMPUTERNAME", nullptr);
        EXPECT_EQ(GetComputerName(), CString(expected));
    }
    {
        ScopedEnv env("COMPUTERNAME", "");  // set but empty counts as unset
        EXPECT_EQ(GetComputerName(), CString(expected));
    }
}

TEST(System, TickCountIsMonotonicAndWraps) {
    uint32_t previous = GetTickCount();
    for (int i = 0; i < 10000; ++i) {
        const uint32_t now = GetTickCount();
        ASSERT_GE(TickDifference(now, previous), 0);
        previous = now;
    }
    const uint32_t start = GetTickCount();
    Sleep(20);
    EXPECT_GE(TickDifference(GetTickCount(), start), 20);

    // Deadlines computed across the wrap of the counter.
    EXPECT_EQ(TickDifference(5, 0xFFFFFFF0u), 21);
    EXPECT_EQ(TickDifference(0xFFFFFFF0u, 5), -21);
    const uint32_t deadline = 0xFFFFFF00u + 10000u;  // wraps to 9744
    EXPECT_EQ(deadline, 9744u);
    EXPECT_EQ(TickDifference(deadline, 0xFFFFFF00u), 10000);
    EXPECT_LT(TickDifference(deadline, 9745u), 1);  // time is up
    EXPECT_GE(TickDifference(deadline, 0xFFFFFFFFu), 1);
}

TEST(System, SystemTimeIsUtcAndLocalTimeFollowsTheZone) {
    ScopedEnv tz("TZ", "XYZ-5:30");
    SYSTEMTIME utc, local;
    const time_t before = ::time(nullptr);
    ::GetSystemTime(&utc);
    ::GetLocalTime(&local);
    const time_t after = ::time(nullptr);

    struct tm b, a;
    ::gmtime_r(&before, &b);
    ::gmtime_r(&after, &a);
    auto fromTm = [](const struct tm& tm) {
        return COleDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                            tm.tm_sec);
    };
    EXPECT_TRUE(fromTm(b) <= ToOle(utc));
    EXPECT_TRUE(ToOle(utc) <= fromTm(a));
    EXPECT_LT(utc.wMilliseconds, 1000);
    EXPECT_EQ(utc.wDayOfWeek, ToOle(utc).GetDayOfWeek() - 1);
    EXPECT_EQ(local.wDayOfWeek, ToOle(local).GetDayOfWeek() - 1);

    // The two readings are moments apart; the zone puts 5:30 between them.
    const double offsetSeconds = (ToOle(local) - ToOle(utc)).GetTotalSeconds();
    EXPECT_GE(offsetSeconds, 19800 - 1);
    EXPECT_LE(offsetSeconds, 19800 + 1);
}
