// The order of Create, Open, Close and the write thread on one object: a thread
// switched on early keeps running, a recording closed under a running thread
// keeps every second, a failed Open leaves the object usable, and a container
// that cannot be opened is reported as such.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>

#include "EegFile/container/TKStreamFile.h"
#include "Platform/FaultInjection.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using testsupport::TempDir;

namespace {

uint32_t StoredSeconds(const std::string& path) {
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    return file.GetLengthInSeconds();
}

}  // namespace

TEST(WinEegFileLifecycle, WriteThreadSwitchedOnBeforeTheStreamExistsKeepsRunning) {
    TempDir dir;
    const std::string path = dir.File("early.eeg");
    // Proof that the thread runs: a write failure goes to its callback, while
    // without a thread WriteEegData would throw it at the caller.
    auto expectThreadReportsFailure = [](CWinEegFile& file, uint32_t first) {
        std::promise<int> failure;
        bool reported = false;
        CVoidCall1ArgFn<CException*> callback([&](CException* e) {
            auto* fe = dynamic_cast<CFileException*>(e);
            if (!reported)
                failure.set_value(fe ? fe->m_lOsError : -1);
            reported = true;
        });
        file.SetWriteThreadExceptionCallBack(callback);
        FaultInjection::Arm(FaultInjection::Op::Write, 1, ENOSPC, -1);
        CEegDataChunk c = MakeChunk(first, kRate, true);
        EXPECT_NO_THROW(file.WriteEegData(c));
        std::future<int> seen = failure.get_future();
        const auto status = seen.wait_for(std::chrono::seconds(30));
        FaultInjection::Disarm();
        ASSERT_EQ(status, std::future_status::ready);
        EXPECT_EQ(seen.get(), ENOSPC);
        file.SetWriteThreadOnOff(0);
        file.DiscardWriteBufferData();
    };
    {
        CWinEegFile file;
        file.Create(path.c_str());
        file.SetWriteThreadOnOff(1);
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
        CEegDataChunk c = MakeChunk(0, 2 * kRate, true);
        file.WriteEegData(c);
        file.FlushWriteBuffer();
        expectThreadReportsFailure(file, 2 * kRate);
        file.StopRecording();
    }
    CWinEegFile file;
    file.SetWriteThreadOnOff(1);
    file.Open(path.c_str(), 1);
    file.StartRecording(Time(2024, 7, 1, 10, 0, 0));
    expectThreadReportsFailure(file, 2 * kRate);
    file.Close();
    EXPECT_EQ(StoredSeconds(path), 2u);
}

// A second whose bytes went down but whose section header was refused is in
// the stream: the length counts it, so the next second follows it and not
// over it, and reopened the recording holds both in their places.
TEST(WinEegFileLifecycle, ASecondWhoseHeaderWasRefusedStaysCounted) {
    TempDir dir;
    const std::string path = dir.File("header.eeg");
    {
        CWinEegFile file;
        StartRecording(file, path, 2);
        FaultInjection::Arm(FaultInjection::Op::Write, 2, EIO);  // the data, then its header
        CEegDataChunk c = MakeChunk(2 * kRate, kRate, true);
        testsupport::ExpectThrows<CFileException>(
            [&] { file.WriteEegData(c); }, [](CFileException& e) { EXPECT_EQ(e.m_lOsError, EIO); });
        FaultInjection::Disarm();
        EXPECT_EQ(file.GetLengthInSeconds(), 3u);
        c = MakeChunk(3 * kRate, kRate, true);
        file.WriteEegData(c);
        file.Close();
    }
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetLengthInSeconds(), 4u);
    EXPECT_EQ(CheckSeconds(file, 0, 4), 0);
}

TEST(WinEegFileLifecycle, CreateAndOpenOverARecordingWithARunningThreadKeepEverySecond) {
    TempDir dir;
    const std::string first = dir.File("first.eeg"), second = dir.File("second.eeg");
    CWinEegFile file;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        file.Create(first.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        file.SetWriteThreadOnOff(1);
        file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
        // Seconds the thread has still to write when the object moves on.
        CEegDataChunk c = MakeChunk(0, 30 * kRate, true);
        file.WriteEegData(c);
        if (round == 0) {
            file.Create(second.c_str());
        } else {
            file.Open(second.c_str(), 0);
        }
        // Closing "first" with the file lock held would leave the thread unable
        // to write what it holds, and those seconds would be dropped.
        file.Close();
        EXPECT_EQ(StoredSeconds(first), 30u);
        if (round == 0) {
            // Leave "second" a recording for the Open round.
            CWinEegFile other;
            other.Create(second.c_str());
            other.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        }
    }
}

TEST(WinEegFileLifecycle, FailedOpenLeavesTheObjectUsable) {
    TempDir dir;
    const std::string path = dir.File("later.eeg");
    CWinEegFile file;
    testsupport::ExpectFileError([&] { file.Open(dir.File("missing.eeg").c_str(), 0); },
                                 CFileException::fileNotFound);
    EXPECT_FALSE(file.GetDisableFileAccess());
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
    CEegDataChunk c = MakeChunk(0, 3 * kRate, true);
    file.WriteEegData(c);
    file.Close();
    EXPECT_EQ(StoredSeconds(path), 3u);
}

TEST(WinEegFileLifecycle, StreamFileByPathReportsAContainerThatCannotBeOpened) {
    TempDir dir;
    const std::string good = dir.File("good.eeg"), junk = dir.File("junk.eeg");
    {
        CWinEegFile file;
        file.Create(good.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    }
    testsupport::WriteBytes(junk, std::vector<unsigned char>(4096, 0x5A));
    // A sound container without the stream: null, as before.
    EXPECT_EQ(CWinEegFile::OpenStreamFile(good.c_str(), "NoSuchStream", 1, 1024, CFile::modeRead),
              nullptr);
    for (const std::string& path : {junk, dir.File("missing.eeg")}) {
        SCOPED_TRACE(path);
        testsupport::ExpectThrows<CException>(
            [&] { CWinEegFile::OpenStreamFile(path.c_str(), "Patient", 1, 1024, CFile::modeRead); },
            [](CException&) {});
    }
}
