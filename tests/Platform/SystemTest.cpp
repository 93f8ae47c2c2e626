#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <unistd.h>

#include "Platform/OleDateTime.h"
#include "Platform/System.h"
#include "TestSupport.h"

namespace {

using testsupport::ScopedEnv;

COleDateTime ToOle(const SYSTEMTIME& t) {
    return COleDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

}  // namespace

TEST(System, ComputerNameComesFromTheEnvironmentOrTheHost) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const std::string fromHost = std::string(host).substr(0, MAX_COMPUTERNAME_LENGTH);
    const std::pair<const char*, std::string> cases[] = {
        {"STATION-A", "STATION-A"},
        {"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},  // 15 characters at most
        {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNO"},
        {nullptr, fromHost},
        {"", fromHost}};  // set but empty counts as unset
    for (const auto& [value, expected] : cases) {
        ScopedEnv env("COMPUTERNAME", value);
        EXPECT_EQ(GetComputerName(), CString(expected)) << (value ? value : "(unset)");
    }
}

TEST(System, TickCountIsMonotonicAndWraps) {
    uint32_t previous = GetTickCount();
    for (int i = 0; i < 10000; ++i) {
        const uint32_t now = GetTickCount();
        ASSERT_GE(TickDifference(now, previous), 0);
        previous = now;
    }
    Sleep(20);
    EXPECT_GE(TickDifference(GetTickCount(), previous), 20);
    // Deadlines computed across the wrap of the counter.
    EXPECT_EQ(TickDifference(5, 0xFFFFFFF0u), 21);
    EXPECT_EQ(TickDifference(0xFFFFFFF0u, 5), -21);
    const uint32_t deadline = 0xFFFFFF00u + 10000u;  // wraps to 9744
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
    auto days = [](time_t t) { return 25569.0 + t / 86400.0; };  // 25569: 1970-01-01
    EXPECT_GE(ToOle(utc).m_dt, days(before) - 1e-9);
    EXPECT_LE(ToOle(utc).m_dt, days(after) + 1e-9);
    EXPECT_LT(utc.wMilliseconds, 1000);
    EXPECT_EQ(utc.wDayOfWeek, ToOle(utc).GetDayOfWeek() - 1);
    EXPECT_EQ(local.wDayOfWeek, ToOle(local).GetDayOfWeek() - 1);
    // The two readings are moments apart; the zone puts 5:30 between them.
    EXPECT_NEAR((ToOle(local) - ToOle(utc)).GetTotalSeconds(), 19800, 1);
}
