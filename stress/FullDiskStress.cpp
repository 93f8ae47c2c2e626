// A recording that runs out of disk: `eegfile simulate` into a 1 MB tmpfs that
// is already filled to a random level, so that the first failed write falls on
// a data second, a section header, an event or the patient record. The run
// must end at once with "Disk full", and the file must stay sound: no section
// after the last good one, no hole, no event past the data, every stored second
// as the generator made it. Where no tmpfs can be mounted (not root), the same
// is done in this process with the fault hook failing every write from a random
// one on.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/FaultInjection.h"
#include "StressSupport.h"
#include "TestSupport.h"
#include "tools/SimSignal.h"

namespace {

constexpr double kMinutes = 10;  // about 4 MB: never fits

eegsim::Options Options(uint32_t seed) {
    eegsim::Options o;
    o.minutes = kMinutes;
    o.seed = seed;
    return o;
}

// Runs the tool; its exit code and what it wrote on stderr.
int RunTool(const std::vector<std::string>& args, std::string& err) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        std::vector<char*> argv{const_cast<char*>(EEGFILE_TOOL)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(EEGFILE_TOOL, argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            err.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    return testsupport::Reap(pid);
}

// The fallback: the simulated signal recorded in this process, every write
// failing from the nth on, as the tool does it (thread on, run ended at the
// first failure).
void RecordWithFaults(const std::string& path, uint32_t seed, int nth) {
    const eegsim::Plan plan = eegsim::MakePlan(Options(seed));
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < 32; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo amp;
    amp.SetInputDomain(CAmpInputDomain(inputs.data(), 32));
    std::atomic<bool> failed = false;
    CVoidCall1ArgFn<CException*> onFailure([&](CException*) { failed = true; });
    // The disk stays full until the recording is closed and gone, as on a real
    // disk: the object is destroyed before the hook is disarmed.
    try {
        CWinEegFile file;
        file.Create(path.c_str());
        file.PrepareToWriteEeg(plan.options.rate, Compression::AdaptiveDelta, amp);
        file.SetWriteThreadExceptionCallBack(onFailure);
        file.SetWriteThreadOnOff(1);
        file.StartRecording(COleDateTime(2024, 7, 1, 9, 0, 0));
        FaultInjection::Arm(FaultInjection::Op::Write, nth, ENOSPC, -1);
        const auto rate = static_cast<uint32_t>(plan.options.rate);
        CEegDataChunk chunk(static_cast<int>(rate), 32);
        for (uint32_t s = 0; s < plan.totalSeconds && !failed; ++s) {
            eegsim::FillChunk(plan, s * rate, rate, chunk);
            file.WriteEegData(chunk);
            file.FlushWriteBuffer();
        }
        file.StopRecording();
        file.Close();
    } catch (CException* e) {
        e->Delete();
    }
    FaultInjection::Disarm();
}

// What a full disk may leave, and nothing else: every problem the check finds
// is the writer's listing or a backup copy cut short (its close failed), and
// every stored second is the generator's.
void ExpectSound(const std::string& path, uint32_t seed, uint32_t& kept) {
    for (const CEegFileProblem& p : CEegFile::CheckFile(path.c_str())) {
        const std::string what = p.m_what.GetString(), where = p.m_where.GetString();
        const bool listing = where.size() >= 4 && where.compare(where.size() - 4, 4, ".$co") == 0;
        // The close copies each stream to its backup; on a full disk a copy may end short.
        const bool backup = where.find("copy 2") != std::string::npos;
        EXPECT_TRUE(what.rfind("recording interrupted", 0) == 0 || listing || backup)
            << where << ": " << what;
    }
    const eegsim::Plan plan = eegsim::MakePlan(Options(seed));
    CWinEegFile file;
    file.SetForceOpenAsReadOnly(1);
    file.Open(path.c_str(), 0);
    kept = file.GetStreamIndex().GetStoredSeconds();
    // No hole; the events of the second or two the writer was still handing over
    // when the disk filled may lie past the data, and nothing beyond them.
    EXPECT_LE(file.GetLengthInSeconds(), kept + 2);
    for (int i = 1; i < file.GetStreamIndex().GetSize(); ++i)
        EXPECT_EQ(file.GetStreamIndex().GetAt(i).m_firstSecond,
                  file.GetStreamIndex().GetAt(i - 1).m_endSecond);
    EXPECT_LT(kept, plan.totalSeconds);
    const auto rate = static_cast<uint32_t>(plan.options.rate);
    CEegDataChunk got(static_cast<int>(rate), 32), want(static_cast<int>(rate), 32);
    int bad = 0;
    for (uint32_t s = 0; s < kept; ++s) {
        file.SetReadPosition(CEegTimeStamp(s * rate));
        eegsim::FillChunk(plan, s * rate, rate, want);
        if (file.ReadEegData(got, rate) != 1 ||
            std::memcmp(got.GetData(), want.GetData(), rate * 32 * sizeof(int16_t)) != 0)
            ++bad;
    }
    EXPECT_EQ(bad, 0);
    file.Close();
}

}  // namespace

TEST(FullDiskStress, ARecordingThatRunsOutOfDiskEndsAtOnceAndStaysSound) {
    std::mt19937 rng(stress::Seed());
    testsupport::TempDir dir;
    const std::string mountPoint = dir.File("disk");
    std::filesystem::create_directory(mountPoint);
    const bool tmpfs = ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") == 0;
    std::printf("full disk: %s\n",
                tmpfs ? "a 1 MB tmpfs" : "the fault hook (no tmpfs can be mounted)");
    const int runs = stress::Scaled(40);
    uint32_t fewest = UINT32_MAX, most = 0;
    for (int run = 0; run < runs; ++run) {
        if (stress::OnlyCycle() >= 0 && run != stress::OnlyCycle()) {
            rng();
            continue;
        }
        SCOPED_TRACE("cycle " + std::to_string(run));
        const uint32_t seed = rng() % 1000 + 1;
        const uint32_t level = rng();
        const std::string folder = tmpfs ? mountPoint : dir.path().string();
        const std::string path = folder + "/full.eeg";
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file())
                std::filesystem::remove(entry.path());
        if (tmpfs) {
            // Fill the disk to a random level first.
            std::ofstream(mountPoint + "/fill") << std::string(level % 900000, 'x');
            std::string err;
            const int code = RunTool({"simulate", path, "--minutes", std::to_string(kMinutes),
                                      "--seed", std::to_string(seed)},
                                     err);
            EXPECT_EQ(code, 1) << err;
            EXPECT_NE(err.find("Disk full"), std::string::npos) << err;
        } else {
            RecordWithFaults(path, seed, static_cast<int>(level % 400) + 1);
        }
        uint32_t kept = 0;
        ExpectSound(path, seed, kept);
        fewest = std::min(fewest, kept);
        most = std::max(most, kept);
    }
    if (tmpfs)
        ::umount2(mountPoint.c_str(), MNT_DETACH);
    stress::Figure("full-disk runs", runs, "");
    stress::Figure("seconds kept, fewest", fewest, "s");
    stress::Figure("seconds kept, most", most, "s");
}
