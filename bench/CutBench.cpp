// Whole-file benchmark of cutting marked data out of a current-format
// recording, beside a plain copy of the same file made in the same run:
//
//  1. A recording of 32 channels at 200 Hz, delta coded, of the given length
//     (24 hours by default) is written once, outside the timings.
//  2. Plain copy: the file read and written in 1 MiB pieces into a new file,
//     which is fsynced at the end.
//  3. Cut: Open, one delete mark over an hour in the middle, SetDeleteEegDataOnClose,
//     DeleteMarkedEegData; the rebuilt file is flushed to disk before it replaces
//     the original, so both sides end durable.
//  Both run twice, alternately, and the faster run of each counts; the ratio is
//  cut / copy (target at most 1.5).
//
// Usage: CutBench [seconds (86400)] [folder (/tmp)]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/events/DataMarkDeleteEvent.h"
#include "EegFile/frame/EegTimeStamp.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Exception.h"
#include "Platform/OleDateTime.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 200;
constexpr int kChannels = 32;
constexpr int kPoolSeconds = 10;
constexpr size_t kCopyPiece = 1 << 20;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "CutBench: %s failed (%s)\n", what, std::strerror(errno));
    std::exit(1);
}

CAmpHardwareInfo Amp32() {
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < kChannels; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo info;
    info.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    return info;
}

// Smooth samples (steps below 128), repeating every kPoolSeconds.
int16_t Sample(int64_t n, int c) {
    const int slow = 300 + c * 11;
    const int ps = static_cast<int>(n % slow);
    const int tri = (ps < slow / 2 ? ps : slow - ps) * 40;
    return static_cast<int16_t>(tri - 6000 + c * 10);
}

void WriteRecording(const std::string& path, int64_t seconds) {
    std::vector<int16_t> pool(static_cast<size_t>(kPoolSeconds) * kRate * kChannels);
    for (int n = 0; n < kPoolSeconds * kRate; ++n)
        for (int c = 0; c < kChannels; ++c)
            pool[static_cast<size_t>(n) * kChannels + c] = Sample(n, c);
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(COleDateTime(2024, 7, 1, 9, 0, 0));
    CEegDataChunk chunk(kRate, kChannels);
    for (int64_t s = 0; s < seconds; ++s) {
        const int16_t* src = &pool[static_cast<size_t>(s % kPoolSeconds) * kRate * kChannels];
        std::copy(src, src + kRate * kChannels, chunk.GetFrame(0));
        chunk.SetNumberOfSamples(kRate);
        file.WriteEegData(chunk);
    }
    file.StopRecording();
    file.Close();
}

int OpenOrFail(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        Fail("open");
    return fd;
}

// The reference: read and write in 1 MiB pieces, fsync, close.
void PlainCopy(const std::string& from, const std::string& to) {
    const int in = OpenOrFail(from.c_str(), O_RDONLY);
    const int out = OpenOrFail(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
    std::vector<char> buffer(kCopyPiece);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("read");
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                Fail("write");
            done += w;
        }
    }
    int rc;
    do {
        rc = ::fsync(out);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        Fail("fsync");
    ::close(in);
    ::close(out);
}

// Cuts the hour from the middle; returns the seconds the cut itself took (the
// open and marking are timed with it in *total).
double Cut(const std::string& path, int64_t seconds, double* total) {
    const auto start = Clock::now();
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    file.SetMarkForDelete(1);
    const int64_t from = seconds / 2 - 1800;
    file.AddDataMark(
        new CDataMarkDeleteEvent(CEegTimeStamp(static_cast<uint32_t>(from * kRate)),
                                 CEegTimeStamp(static_cast<uint32_t>((from + 3600) * kRate - 1)),
                                 CDataMarkDeleteEvent::mtEeg));
    file.SetDeleteEegDataOnClose();
    int64_t lastProgress = -1;
    CVoidCall1ArgFn<int64_t> progress([&](int64_t p) { lastProgress = p; });
    const auto cutStart = Clock::now();
    file.DeleteMarkedEegData(&progress);
    const double cut = Seconds(cutStart);
    *total = Seconds(start);
    if (lastProgress != 100)
        Fail("progress to 100");
    return cut;
}

// The cut file still reads: the samples after the hole are as written, the hole zeros.
void Check(const std::string& path, int64_t seconds) {
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    CEegDataChunk chunk(kRate, kChannels);
    const int64_t hole = seconds / 2 - 1800;
    const int64_t after = hole + 3600 + 7;
    file.SetReadPosition(CEegTimeStamp(static_cast<uint32_t>(after * kRate)));
    if (!file.ReadEegData(chunk, kRate) ||
        chunk.GetFrame(3)[5] != Sample((after % kPoolSeconds) * kRate + 3, 5))
        Fail("reading after the cut");
    file.SetReadPosition(CEegTimeStamp(static_cast<uint32_t>((hole + 10) * kRate)));
    if (!file.ReadEegData(chunk, kRate) || chunk.GetFrame(3)[5] != 0)
        Fail("reading the cut hour as zeros");
    file.Close();
}

int64_t FileSize(const std::string& path) {
    const int fd = OpenOrFail(path.c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t seconds = argc > 1 ? std::atoll(argv[1]) : 86400;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    if (seconds < 7200) {
        std::fprintf(stderr, "usage: CutBench [seconds >= 7200] [folder]\n");
        return 2;
    }
    const std::string original = folder + "/cutbench-original.eeg";
    const std::string work = folder + "/cutbench.eeg";
    const std::string copy = folder + "/cutbench-copy.eeg";
    try {
        std::printf("Cutting 1 hour out of %.1f hours, 32 channels at 200 Hz, delta coded\n",
                    static_cast<double>(seconds) / 3600.0);
        auto start = Clock::now();
        WriteRecording(original, seconds);
        std::printf("  recording written in %.1f s (%.1f MB)\n", Seconds(start),
                    static_cast<double>(FileSize(original)) / 1e6);
        double bestCopy = 1e30, bestCut = 1e30, bestTotal = 1e30;
        for (int run = 0; run < 2; ++run) {
            ::unlink(copy.c_str());
            start = Clock::now();
            PlainCopy(original, copy);
            bestCopy = std::min(bestCopy, Seconds(start));
            // The recording to cut is a fresh copy each run (not timed).
            ::unlink(work.c_str());
            if (std::rename(copy.c_str(), work.c_str()) != 0)
                Fail("rename");
            double total = 0;
            bestCut = std::min(bestCut, Cut(work, seconds, &total));
            bestTotal = std::min(bestTotal, total);
        }
        Check(work, seconds);
        std::printf("  plain copy + fsync      %8.3f s  (%.1f MB)\n", bestCopy,
                    static_cast<double>(FileSize(original)) / 1e6);
        std::printf(
            "  DeleteMarkedEegData     %8.3f s  (%.1f MB left)  ratio cut/copy %.2f"
            "  (target <= 1.5)\n",
            bestCut, static_cast<double>(FileSize(work)) / 1e6, bestCut / bestCopy);
        std::printf("  open + mark + cut       %8.3f s                  ratio %.2f\n", bestTotal,
                    bestTotal / bestCopy);
    } catch (CException* e) {
        char message[512];
        e->GetErrorMessage(message, sizeof message, nullptr);
        std::fprintf(stderr, "CutBench: %s\n", message);
        e->Delete();
        return 1;
    }
    ::unlink(original.c_str());
    ::unlink(work.c_str());
    ::unlink(copy.c_str());
    return 0;
}
