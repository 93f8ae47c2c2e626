// A recording that runs out of disk: `eegfile simulate` into a 1 MB tmpfs that
// is already filled to a random level, so that the first failed write falls on
// a data second, a section header, an event or the patient record. The run
// must end at once with "Disk full", and the file must stay sound: no section
// after the last good one, no hole, no event past the data, every stored second
// as the generator made it. Where no tmpfs can be mounted (not root), the same
// is done in this process with the fault hook failing every write from a random
// one on. Then a disk that refuses a few writes anywhere and has room again:
// nothing reported stored may be lost or misplaced, and the file checks sound.
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
#include "EegFile/events/CommentEvent.h"
#include "EegFile/frame/EegFileCheck.h"
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

// A disk that refuses a write (or a flush, or a growth) once or a few times
// anywhere in a recording, and then has room again, as when another program
// frees space: every second and event the calls reported stored is in the file
// where it belongs, and the file checks sound.
TEST(FullDiskStress, AWriteRefusedAnywhereThenRoomAgainLosesNothing) {
    std::mt19937 rng(stress::Seed());
    testsupport::TempDir dir;
    constexpr uint32_t kSeconds = 200;  // more than one data section
    constexpr uint32_t kRate = 200;
    const std::string comment(300, 'c');  // the event list grows past a section too
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < 32; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo amp;
    amp.SetInputDomain(CAmpInputDomain(inputs.data(), 32));
    // The generator's seconds, made once: making them is slower than recording.
    const eegsim::Plan plan = eegsim::MakePlan(Options(1));
    const size_t perSecond = kRate * 32;
    std::vector<int16_t> signal(kSeconds * perSecond);
    {
        CEegDataChunk chunk(kRate, 32);
        for (uint32_t s = 0; s < kSeconds; ++s) {
            std::memcpy(chunk.GetData(), &signal[s * perSecond], perSecond * sizeof(int16_t));
            chunk.SetNumberOfSamples(kRate);
            std::memcpy(&signal[s * perSecond], chunk.GetData(), perSecond * sizeof(int16_t));
        }
    }
    const int runs = stress::Scaled(2000);
    int refusedSeconds = 0, refusedEvents = 0;
    for (int run = 0; run < runs; ++run) {
        const FaultInjection::Op op = rng() % 8 == 0   ? FaultInjection::Op::Flush
                                      : rng() % 8 == 0 ? FaultInjection::Op::SetLength
                                                       : FaultInjection::Op::Write;
        const int nth = static_cast<int>(rng() % 1000) + 1;
        const int times = static_cast<int>(rng() % 3) + 1;
        if (stress::OnlyCycle() >= 0 && run != stress::OnlyCycle())
            continue;
        SCOPED_TRACE("cycle " + std::to_string(run));
        const std::string path = dir.File("refused" + std::to_string(run) + ".eeg");
        try {
            std::vector<uint32_t> stored;  // generator's second of each stored second
            std::vector<uint32_t> events;  // offsets of the events reported added
            {
                CWinEegFile file;
                file.Create(path.c_str());
                file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, amp);
                file.StartRecording(COleDateTime(2024, 7, 1, 9, 0, 0));
                FaultInjection::Arm(op, nth, ENOSPC, times);
                CEegDataChunk chunk(kRate, 32);
                for (uint32_t s = 0; s < kSeconds; ++s) {
                    const uint32_t before = file.GetLengthInSeconds();
                    std::memcpy(chunk.GetData(), &signal[s * perSecond],
                                perSecond * sizeof(int16_t));
                    chunk.SetNumberOfSamples(kRate);
                    try {
                        file.WriteEegData(chunk);
                    } catch (CException* e) {
                        e->Delete();
                    }
                    if (file.GetLengthInSeconds() > before)
                        stored.push_back(s);
                    else
                        ++refusedSeconds;
                    const uint32_t at =
                        stored.empty() ? 0 : (static_cast<uint32_t>(stored.size()) - 1) * kRate;
                    try {
                        if (file.AddEvent(new CCommentEvent(CEegTimeStamp(at), comment.c_str())) ==
                            1)
                            events.push_back(at);
                    } catch (CException* e) {
                        e->Delete();
                        ++refusedEvents;
                    }
                }
                FaultInjection::Disarm();
                file.StopRecording();
                file.Close();
            }
            for (const CEegFileProblem& p : CEegFile::CheckFile(path.c_str()))
                ADD_FAILURE() << p.m_where.GetString() << ": " << p.m_what.GetString();
            CWinEegFile file;
            file.Open(path.c_str(), 0);
            ASSERT_EQ(file.GetLengthInSeconds(), stored.size());
            CEegDataChunk got(kRate, 32);
            int bad = 0;
            for (uint32_t k = 0; k < stored.size(); ++k) {
                file.SetReadPosition(CEegTimeStamp(k * kRate));
                if (file.ReadEegData(got, kRate) != 1 ||
                    std::memcmp(got.GetData(), &signal[stored[k] * perSecond],
                                perSecond * sizeof(int16_t)) != 0)
                    ++bad;
            }
            EXPECT_EQ(bad, 0);
            CEegEventList all;
            file.GetEventList(all, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                              CEegTimeStamp::NullStamp, 0, 0);
            std::vector<uint32_t> found;
            for (int i = 0; i < all.GetSize(); ++i)
                found.push_back(all[i]->GetTimeStamp().GetSampleOffset());
            EXPECT_EQ(found, events);
            file.Close();
        } catch (CException* e) {
            FaultInjection::Disarm();
            ADD_FAILURE() << "op " << static_cast<int>(op) << " nth " << nth << " times " << times
                          << ": " << e->GetErrorText().GetString();
            e->Delete();
        }
        std::filesystem::remove(path);
    }
    stress::Figure("refused-write runs", runs, "");
    stress::Figure("seconds refused", refusedSeconds, "");
    stress::Figure("events refused", refusedEvents, "");
}
