#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/FaultInjection.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using testsupport::TempDir;

namespace {

// Records second after second (sample offsets continuing) with the write thread
// on, reporting through the pipe the stored seconds it has seen written out.
int RecordAndReport(accesstest::Child& self, const std::string& path, int32_t seconds) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.SetWriteThreadOnOff(1);
    file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
    int32_t stored = 0;
    self.Send(stored);  // prepared: readers may open
    for (int32_t s = 0; s < seconds; ++s) {
        CEegDataChunk c = MakeChunk(static_cast<uint32_t>(s) * kRate, kRate, true);
        file.WriteEegData(c);
        file.FlushWriteBuffer();
        // Takes the file lock, so the thread's pass has ended; commits the stream.
        file.Synchronize();
        stored = static_cast<int32_t>(file.GetStreamIndex().GetStoredSeconds());
        if (!self.Send(stored))
            return 2;
    }
    file.StopRecording();
    file.SetWriteThreadOnOff(0);
    file.Close();
    stored = -1;
    self.Send(stored);
    return 0;
}

}  // namespace

TEST(WinEegFileStations, ReaderFollowsALiveRecording) {
    TempDir dir;
    const std::string path = dir.File("live.eeg");
    constexpr int32_t kSeconds = 20;
    accesstest::Child recorder(
        "RECORDER", [&](accesstest::Child& self) { return RecordAndReport(self, path, kSeconds); });
    int32_t stored = 0;
    ASSERT_TRUE(recorder.Receive(stored));
    ::setenv("COMPUTERNAME", "REVIEWER", 1);
    CWinEegFile reader;
    reader.Open(path.c_str(), 0);
    uint32_t checked = 0;
    int32_t last = 0;
    while (recorder.Receive(stored) && stored >= 0) {
        EXPECT_GE(stored, last);
        last = stored;
        reader.Synchronize();
        ASSERT_GE(reader.GetLengthInSeconds(), static_cast<uint32_t>(stored));
        EXPECT_EQ(CheckSeconds(reader, checked, static_cast<uint32_t>(stored)), 0) << stored;
        checked = static_cast<uint32_t>(stored);
    }
    EXPECT_EQ(last, kSeconds);
    EXPECT_EQ(recorder.Wait(), 0);
    reader.Synchronize();
    EXPECT_EQ(reader.GetLengthInSamples(), static_cast<uint32_t>(kSeconds * kRate));
    EXPECT_EQ(CheckSeconds(reader, 0, kSeconds), 0);
    reader.Close();
    ::unsetenv("COMPUTERNAME");
}

TEST(WinEegFileStations, FailedWriteOutReachesCallerAndCallback) {
    TempDir dir;
    const std::string path = dir.File("fail.eeg");
    {
        CWinEegFile file;
        file.Create(path.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
        CEegDataChunk c0 = MakeChunk(0, 2 * kRate, true);
        file.WriteEegData(c0);
        EXPECT_EQ(file.GetLengthInSamples(), 400u);

        // Without the thread the caller gets the failure; the second is lost.
        FaultInjection::Arm(FaultInjection::Op::Write, 1, EIO, -1);
        CEegDataChunk lost = MakeChunk(400, kRate, true, 99);
        bool thrown = false;
        try {
            file.WriteEegData(lost);
        } catch (CException* e) {
            thrown = true;
            auto* fe = dynamic_cast<CFileException*>(e);
            EXPECT_NE(fe, nullptr);
            if (fe) {
                EXPECT_EQ(fe->m_lOsError, EIO);
            }
            e->Delete();
        }
        FaultInjection::Disarm();
        EXPECT_TRUE(thrown);
        EXPECT_EQ(file.GetLengthInSamples(), 400u);

        // With the thread the callback gets it, and the thread goes on.
        std::promise<int> failure;
        int calls = 0;
        CVoidCall1ArgFn<CException*> callback([&](CException* e) {
            auto* fe = dynamic_cast<CFileException*>(e);
            if (calls++ == 0)
                failure.set_value(fe ? fe->m_lOsError : -1);
        });
        file.SetWriteThreadExceptionCallBack(callback);
        file.SetWriteThreadOnOff(1);
        FaultInjection::Arm(FaultInjection::Op::Write, 1, ENOSPC, -1);
        CEegDataChunk lost2 = MakeChunk(400, kRate, true, 98);
        file.WriteEegData(lost2);
        std::future<int> reported = failure.get_future();
        ASSERT_EQ(reported.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        FaultInjection::Disarm();
        EXPECT_EQ(reported.get(), ENOSPC);
        file.FlushWriteBuffer();
        file.Synchronize();
        EXPECT_EQ(file.GetLengthInSamples(), 400u);

        CEegDataChunk c1 = MakeChunk(400, kRate, true);
        file.WriteEegData(c1);
        file.FlushWriteBuffer();
        file.StopRecording();
        file.SetWriteThreadOnOff(0);
        EXPECT_EQ(file.GetLengthInSamples(), 600u);
        file.Close();
    }
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetLengthInSamples(), 600u);
    EXPECT_EQ(CheckSeconds(file, 0, 3), 0);
}
