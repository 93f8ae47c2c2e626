// A reviewer follows a recording made in real time on another station.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/winfile/WinFileTestSupport.h"
#include "StressSupport.h"

using namespace winfiletest;
using Clock = std::chrono::steady_clock;

// As an acquisition program records: a recorder hands its samples over in tenths
// of a second with the write thread on, for 120 s (times the scale), while a
// reviewer calls Synchronize once a second. Every second must read back
// bit-exact; how long after its last sample was handed over the reviewer first
// saw it is printed (CLOCK_MONOTONIC, steady_clock, is one clock for both
// processes). Seconds the reviewer has not seen when the recorder is done are
// read after a last Synchronize.
TEST(RealTimeFollowStress, ReviewerFollowsARealTimeRecording) {
    const int32_t seconds = stress::Scaled(120);
    testsupport::TempDir dir;
    const std::string path = dir.File("realtime.eeg");
    accesstest::Child recorder("RECORDER", [&](accesstest::Child& self) {
        ::alarm(static_cast<unsigned>(seconds) + accesstest::kWatchdogSeconds);
        CWinEegFile file;
        file.Create(path.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        file.SetWriteThreadOnOff(1);
        file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
        const Clock::time_point t0 = Clock::now();
        const int64_t start = t0.time_since_epoch().count();
        if (!self.Send(start))
            return 2;
        constexpr uint32_t kTenth = kRate / 10;
        for (uint32_t tenth = 0; tenth < static_cast<uint32_t>(seconds) * 10; ++tenth) {
            std::this_thread::sleep_until(t0 + std::chrono::milliseconds(100 * (tenth + 1)));
            CEegDataChunk c = MakeChunk(tenth * kTenth, kTenth, true);
            file.WriteEegData(c);
        }
        file.StopRecording();
        file.SetWriteThreadOnOff(0);
        file.Close();
        return 0;
    });
    int64_t start = 0;
    ASSERT_TRUE(recorder.Receive(start));
    const Clock::time_point t0{Clock::duration(start)};
    ::setenv("COMPUTERNAME", "REVIEWER", 1);
    CWinEegFile reader;
    reader.Open(path.c_str(), 0);
    uint32_t seen = 0;
    std::vector<double> late;  // seconds, per recorded second
    const auto takeIn = [&] {
        reader.Synchronize();
        const uint32_t complete = reader.GetLengthInSeconds();
        const Clock::time_point now = Clock::now();
        for (; seen < complete; ++seen) {
            // Second `seen` was complete when its tenth tenth was handed over.
            late.push_back(
                std::chrono::duration<double>(now - (t0 + std::chrono::seconds(seen + 1))).count());
            EXPECT_EQ(CheckSeconds(reader, seen, seen + 1), 0) << "second " << seen;
        }
    };
    for (int poll = 1; seen < static_cast<uint32_t>(seconds) && poll <= seconds + 10; ++poll) {
        std::this_thread::sleep_until(t0 + std::chrono::seconds(poll));
        takeIn();
    }
    EXPECT_EQ(recorder.Wait(), 0);
    takeIn();
    EXPECT_EQ(seen, static_cast<uint32_t>(seconds));
    EXPECT_EQ(reader.GetLengthInSamples(), static_cast<uint32_t>(seconds) * kRate);
    reader.Close();
    ::unsetenv("COMPUTERNAME");

    std::sort(late.begin(), late.end());
    if (!late.empty()) {
        stress::Figure("seconds followed", static_cast<double>(late.size()), "");
        stress::Figure("latency median", late[late.size() / 2] * 1000, "ms");
        stress::Figure("latency worst", late.back() * 1000, "ms");
        stress::Figure(
            "seconds seen later than 2 s",
            static_cast<double>(late.end() - std::upper_bound(late.begin(), late.end(), 2.0)), "");
    }
}
