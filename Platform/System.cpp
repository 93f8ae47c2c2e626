#include "Platform/System.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <unistd.h>

uint32_t GetTickCount() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    // Keeping the low 32 bits is the wrap the platform's counter has.
    return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

void Sleep(DWORD ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CString GetComputerName() {
    const char* env = std::getenv("COMPUTERNAME");
    std::string name;
    if (env && *env) {
        name = env;
    } else {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0)
            return CString();
        name = host;
    }
    if (name.size() > static_cast<size_t>(MAX_COMPUTERNAME_LENGTH)) {
        name.resize(MAX_COMPUTERNAME_LENGTH);
    }
    return CString(std::move(name));
}

namespace {

void FillSystemTime(const struct tm& tm, long milliseconds, SYSTEMTIME* time) {
    time->wYear = static_cast<WORD>(tm.tm_year + 1900);
    time->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    time->wDay = static_cast<WORD>(tm.tm_mday);
    time->wHour = static_cast<WORD>(tm.tm_hour);
    time->wMinute = static_cast<WORD>(tm.tm_min);
    time->wSecond = static_cast<WORD>(tm.tm_sec);
    time->wMilliseconds = static_cast<WORD>(milliseconds);
}

// Reads the real-time clock and breaks it down; utc chooses gmtime or localtime.
void ReadClock(bool utc, SYSTEMTIME* time) {
    struct timespec ts = {};
    struct tm tm = {};
    // Neither call can fail for the current time on a sane system; a failure leaves
    // the epoch rather than garbage.
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0)
        ts = {};
    const time_t t = ts.tv_sec;
    if ((utc ? ::gmtime_r(&t, &tm) : ::localtime_r(&t, &tm)) == nullptr) {
        const time_t zero = 0;
        ::gmtime_r(&zero, &tm);
    }
    // A leap second shows as second 60 in some zones; the platform never gives it.
    if (tm.tm_sec > 59)
        tm.tm_sec = 59;
    FillSystemTime(tm, ts.tv_nsec / 1000000, time);
}

}  // namespace

void GetSystemTime(SYSTEMTIME* time) {
    ReadClock(true, time);
}
void GetLocalTime(SYSTEMTIME* time) {
    ReadClock(false, time);
}
