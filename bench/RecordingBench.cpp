// Whole-file benchmark of a current-format recording, each figure beside the
// same work done by EDFlib in the same run, as a ratio (EDFlib / ours: above 1
// means we are faster or smaller):
//
//  1. Recording: Create, PrepareToWriteEeg (32 channels, 200 Hz, delta coding),
//     one WriteEegData per second with the write thread off, Close; against
//     EDFlib writing the same samples (32 signals, 200 Hz, 1-second data
//     records, digital samples) and closing. The container flushes its file to
//     disk at every section commit, so on disk EDFlib's file is fsynced at the
//     end as well (durable against durable); on tmpfs, where a flush costs
//     nothing, both run without durability. On disk a second reference fsyncs
//     EDFlib's file every 180 s, as often as we commit a section. Each side
//     runs in a forked child whose peak resident memory is reported too.
//  2. Reading it all back in 1-second pieces; EDFlib reads every signal.
//  3. SetReadPosition to a random second and reading 10 s (median, warm cache);
//     EDFlib seeks and reads 10 s of every signal.
//  4. Opening the recording (median); EDFlib opens its file.
// Beside the recording, the floor under any writer of this format: its system
// calls alone (writes, section headers, the flush at each section commit),
// with nothing coded, against the same EDFlib run.
// Beside the times: each side's user and system CPU while recording and its
// write calls per stored second, and which delta coder this processor runs.
//
// Usage: RecordingBench [seconds (86400)] [disk folder (/tmp)] [tmpfs folder (/dev/shm)]

#include <edflib.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/container/TKCompoundFileFormat.h"
#include "EegFile/frame/DeltaCoding.h"
#include "EegFile/frame/EegTimeStamp.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Exception.h"
#include "Platform/OleDateTime.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 200;
constexpr int kChannels = 32;
constexpr int kPoolSeconds = 10;  // the signal repeats every kPoolSeconds
constexpr int kRandomReads = 1000;
constexpr int kRandomSeconds = 10;
constexpr int kOpens = 20;
constexpr int kSectionSeconds = 180;  // our data stream commits a section this often

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "RecordingBench: %s failed\n", what);
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

// An EEG-like signal: per channel a slow triangle wave plus a faster one and a
// little noise; consecutive samples differ by less than 128, so delta coding
// keeps it exact. Made once, outside the timed work, in both layouts: frames
// for us, per-signal blocks of one second for EDFlib.
struct Pool {
    std::vector<int16_t> frames;  // kPoolSeconds x kRate frames of kChannels
    std::vector<short> blocks;    // per second: kRate samples of signal 0, of 1, ...
    Pool() : frames(kPoolSeconds * kRate * kChannels), blocks(frames.size()) {
        std::mt19937 rng(7);
        for (int n = 0; n < kPoolSeconds * kRate; ++n) {
            for (int c = 0; c < kChannels; ++c) {
                const int slow = 300 + c * 11;
                const int fast = 20 + c % 7;
                const int ps = n % slow;
                const int pf = n % fast;
                const int tri1 = (ps < slow / 2 ? ps : slow - ps) * 40;
                const int tri2 = (pf < fast / 2 ? pf : fast - pf) * 6;
                const int v = tri1 + tri2 - 6000 + static_cast<int>(rng() % 9) + c * 10;
                frames[static_cast<size_t>(n) * kChannels + c] = static_cast<int16_t>(v);
                const int second = n / kRate;
                blocks[(static_cast<size_t>(second) * kChannels + c) * kRate + n % kRate] =
                    static_cast<short>(v);
            }
        }
    }
};

// --- Our recording -----------------------------------------------------------

void WriteOurs(const std::string& path, int64_t seconds, const Pool& pool) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(COleDateTime(2024, 7, 1, 9, 0, 0));
    CEegDataChunk chunk(kRate, kChannels);
    for (int64_t s = 0; s < seconds; ++s) {
        const int16_t* src =
            &pool.frames[static_cast<size_t>(s % kPoolSeconds) * kRate * kChannels];
        std::copy(src, src + kRate * kChannels, chunk.GetFrame(0));
        chunk.SetNumberOfSamples(kRate);
        file.WriteEegData(chunk);
    }
    file.StopRecording();
    file.Close();
}

// Reads everything in 1-second pieces; returns a checksum so nothing is skipped.
int64_t ReadOurs(const std::string& path, int64_t seconds) {
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    if (file.GetLengthInSeconds() != static_cast<uint32_t>(seconds))
        Fail("length of the recording");
    CEegDataChunk chunk(kRate, kChannels);
    file.SetReadPosition(CEegTimeStamp(0));
    int64_t sum = 0;
    while (file.ReadEegData(chunk, kRate) && chunk.GetNumberOfSamples() > 0)
        sum += chunk.GetFrame(chunk.GetNumberOfSamples() - 1)[5];
    file.Close();
    return sum;
}

// The floor under any writer of this format: the same system calls as our
// recording, without coding or bookkeeping. Each second, its bytes and the
// section header (followers read the used count there); each 180 s, the full
// section committed with a flush, the file extended by a section, and the new
// header and trailer and the previous header written.
void WriteFloor(const std::string& path, int64_t seconds, int64_t bytesPerSecond) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        Fail("open of the floor's file");
    const int64_t size = TKCompoundFileFormat::SectionSizeForUnit(bytesPerSecond * kSectionSeconds);
    const std::vector<char> second(static_cast<size_t>(bytesPerSecond), 'x');
    const char header[TKCompoundFileFormat::kSectionOverhead] = {1};
    auto put = [fd](const void* p, size_t n, int64_t at) {
        if (::pwrite(fd, p, n, at) != static_cast<ssize_t>(n))
            Fail("pwrite of the floor");
    };
    int64_t section = -1, next = 0, position = 0, roomEnd = 0;
    for (int64_t s = 0; s < seconds; ++s) {
        if (position + bytesPerSecond > roomEnd) {
            if (section >= 0 && ::fdatasync(fd) != 0)
                Fail("fdatasync of the floor");
            if (::ftruncate(fd, next + size) != 0)
                Fail("ftruncate of the floor");
            put(header, TKCompoundFileFormat::kHeaderSize, next);
            put(header, TKCompoundFileFormat::kTrailerSize,
                next + size - TKCompoundFileFormat::kTrailerSize);
            if (section >= 0)
                put(header, TKCompoundFileFormat::kHeaderSize, section);
            section = next;
            position = next + TKCompoundFileFormat::kHeaderSize;
            roomEnd = next + size - TKCompoundFileFormat::kTrailerSize;
            next += size;
        }
        put(second.data(), second.size(), position);
        position += bytesPerSecond;
        put(header, TKCompoundFileFormat::kHeaderSize, section);
    }
    if (::fdatasync(fd) != 0 || ::close(fd) != 0)
        Fail("closing the floor's file");
}

// --- EDFlib ------------------------------------------------------------------

void Fsync(int fd);

void FsyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("open for fsync");
    Fsync(fd);
    ::close(fd);
}

void Fsync(int fd) {
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        Fail("fsync");
}

// With syncEvery, the file is also fsynced every syncEvery seconds of data, as
// our container flushes at each section commit (what EDFlib still holds in its
// stdio buffer then, a few kilobytes, waits for the next one).
void WriteEdf(const std::string& path, int64_t seconds, const Pool& pool, bool durable,
              int syncEvery = 0) {
    const int h = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, kChannels);
    if (h < 0)
        Fail("edfopen_file_writeonly");
    const int syncFd = syncEvery > 0 ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (syncEvery > 0 && syncFd < 0)
        Fail("open for fsync");
    for (int c = 0; c < kChannels; ++c) {
        if (edf_set_samplefrequency(h, c, kRate) || edf_set_physical_maximum(h, c, 3276.7) ||
            edf_set_physical_minimum(h, c, -3276.8) || edf_set_digital_maximum(h, c, 32767) ||
            edf_set_digital_minimum(h, c, -32768) || edf_set_physical_dimension(h, c, "uV"))
            Fail("EDF signal parameters");
    }
    for (int64_t s = 0; s < seconds; ++s) {
        const short* src = &pool.blocks[static_cast<size_t>(s % kPoolSeconds) * kRate * kChannels];
        if (edf_blockwrite_digital_short_samples(h, const_cast<short*>(src)))
            Fail("edf_blockwrite_digital_short_samples");
        if (syncEvery > 0 && (s + 1) % syncEvery == 0)
            Fsync(syncFd);
    }
    if (syncFd >= 0)
        ::close(syncFd);
    if (edfclose_file(h))
        Fail("edfclose_file");
    if (durable)
        FsyncPath(path);
}

int64_t ReadEdf(const std::string& path, int64_t seconds) {
    edf_hdr_struct hdr;
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS))
        Fail("edfopen_file_readonly");
    if (hdr.edfsignals != kChannels || hdr.datarecords_in_file != seconds)
        Fail("EDF header");
    std::vector<int> buf(kRate);
    int64_t sum = 0;
    for (int64_t s = 0; s < seconds; ++s) {
        for (int c = 0; c < kChannels; ++c) {
            if (edfread_digital_samples(hdr.handle, c, kRate, buf.data()) != kRate)
                Fail("edfread_digital_samples");
            if (c == 5)
                sum += buf[kRate - 1];
        }
    }
    edfclose_file(hdr.handle);
    return sum;
}

// --- Measuring ---------------------------------------------------------------

struct ChildResult {
    double seconds = 0;
    long maxRssKb = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    long long writeCalls = 0;  // write system calls of the work
};

// Write system calls this process has made so far (-1 when unknown).
long long WriteCalls() {
    FILE* f = std::fopen("/proc/self/io", "r");
    if (!f)
        return -1;
    char key[32];
    long long value = 0, calls = -1;
    while (std::fscanf(f, "%31s %lld", key, &value) == 2) {
        if (std::strcmp(key, "syscw:") == 0)
            calls = value;
    }
    std::fclose(f);
    return calls;
}

double CpuSeconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs work in a forked child (so that its peak memory is its own) and returns
// the time it reported and its peak resident set.
ChildResult InChild(const std::function<void()>& work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0)
        Fail("pipe");
    const pid_t pid = ::fork();
    if (pid < 0)
        Fail("fork");
    if (pid == 0) {
        ::close(fds[0]);
        int rc = 0;
        double report[2] = {0, 0};  // seconds, write calls
        try {
            const long long calls = WriteCalls();
            const auto start = Clock::now();
            work();
            report[0] = Seconds(start);
            report[1] = static_cast<double>(WriteCalls() - calls);
        } catch (CException* e) {
            char message[512];
            e->GetErrorMessage(message, sizeof message, nullptr);
            std::fprintf(stderr, "RecordingBench: %s\n", message);
            e->Delete();
            rc = 1;
        }
        if (::write(fds[1], report, sizeof report) != static_cast<ssize_t>(sizeof report))
            rc = 1;
        ::_exit(rc);
    }
    ::close(fds[1]);
    ChildResult r;
    double report[2] = {0, 0};
    ssize_t got;
    do {
        got = ::read(fds[0], report, sizeof report);
    } while (got < 0 && errno == EINTR);
    r.seconds = report[0];
    r.writeCalls = static_cast<long long>(report[1]);
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    pid_t w;
    do {
        w = ::wait4(pid, &status, 0, &usage);
    } while (w < 0 && errno == EINTR);
    if (w != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        got != static_cast<ssize_t>(sizeof report))
        Fail("the child's work");
    r.maxRssKb = usage.ru_maxrss;
    r.userSeconds = CpuSeconds(usage.ru_utime);
    r.systemSeconds = CpuSeconds(usage.ru_stime);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Row(const char* what, double ours, double edf, const char* unit, const char* target) {
    std::printf("  %-34s ours %10.3f %-3s  EDFlib %10.3f %-3s  ratio %6.2f   %s\n", what, ours,
                unit, edf, unit, ours > 0 ? edf / ours : 0.0, target);
}

void RemoveRecording(const std::string& path) {
    // The recording's control and lock files lie beside it.
    const std::string base = path.substr(0, path.rfind('.'));
    for (const std::string& p : {path, base + ".$co", base + ".$lo"})
        ::unlink(p.c_str());
}

// Each timed recording starts on a fresh path with the file system settled:
// replacing the last run's file would time the freeing of its blocks (and their
// discards) with the next run.
void Fresh(std::initializer_list<std::string> paths) {
    for (const std::string& p : paths)
        ::unlink(p.c_str());
    ::sync();
}

void Run(const char* title, const std::string& folder, int64_t seconds, bool durable) {
    std::printf("\n%s: %lld s in %s\n", title, static_cast<long long>(seconds), folder.c_str());
    const std::string ours = folder + "/RecordingBench.eeg";
    const std::string edf = folder + "/RecordingBench.edf";
    RemoveRecording(ours);
    ::unlink(edf.c_str());

    const Pool pool;
    const ChildResult idle = InChild([] {});
    // Best of three, alternating, since other work on the machine comes and goes.
    ChildResult w1, w2;
    for (int i = 0; i < 3; ++i) {
        RemoveRecording(ours);
        Fresh({ours});
        const ChildResult a = InChild([&] { WriteOurs(ours, seconds, pool); });
        Fresh({edf});
        const ChildResult b = InChild([&] { WriteEdf(edf, seconds, pool, durable); });
        if (i == 0 || a.seconds < w1.seconds)
            w1 = a;
        if (i == 0 || b.seconds < w2.seconds)
            w2 = b;
    }
    struct stat so {
    }, se{};
    if (::stat(ours.c_str(), &so) || ::stat(edf.c_str(), &se))
        Fail("stat");
    std::printf("  file size: ours %.1f MB, EDFlib %.1f MB\n", so.st_size / 1e6, se.st_size / 1e6);
    Row("record (Create ... Close)", w1.seconds, w2.seconds, "s", "target ratio >= 1.3");
    {
        // What the format's own writes and flushes cost here, before any coding.
        const std::string floorPath = folder + "/RecordingBench.floor";
        const int64_t perSecond = seconds > 0 ? so.st_size / seconds : 0;
        ChildResult f;
        for (int i = 0; i < 3; ++i) {
            Fresh({floorPath});
            const ChildResult c = InChild([&] { WriteFloor(floorPath, seconds, perSecond); });
            if (i == 0 || c.seconds < f.seconds)
                f = c;
        }
        ::unlink(floorPath.c_str());
        Row("floor: the format's writes alone", f.seconds, w2.seconds, "s", "");
    }
    if (durable) {
        // Like with like: EDFlib made as durable as we are while recording.
        ChildResult w3;
        for (int i = 0; i < 3; ++i) {
            Fresh({edf});
            const ChildResult c =
                InChild([&] { WriteEdf(edf, seconds, pool, true, kSectionSeconds); });
            if (i == 0 || c.seconds < w3.seconds)
                w3 = c;
        }
        Row("record, EDFlib fsync every 180 s", w1.seconds, w3.seconds, "s", "");
    }
    Row("peak memory while recording", w1.maxRssKb / 1024.0, w2.maxRssKb / 1024.0, "MB",
        "target ours < 20 MB");
    std::printf("  (a forked child that does nothing peaks at %.1f MB)\n", idle.maxRssKb / 1024.0);
    std::printf(
        "  recording CPU: ours %.3f s user + %.3f s system, EDFlib %.3f s user + %.3f s system\n",
        w1.userSeconds, w1.systemSeconds, w2.userSeconds, w2.systemSeconds);
    std::printf("  write calls per stored second: ours %.2f, EDFlib %.2f\n",
                static_cast<double>(w1.writeCalls) / static_cast<double>(seconds),
                static_cast<double>(w2.writeCalls) / static_cast<double>(seconds));

    // Reading: warm cache (the files were just written); best of two.
    double r1 = 1e9, r2 = 1e9;
    int64_t sum1 = 0, sum2 = 0;
    try {
        for (int i = 0; i < 2; ++i) {
            auto start = Clock::now();
            sum1 = ReadOurs(ours, seconds);
            r1 = std::min(r1, Seconds(start));
            start = Clock::now();
            sum2 = ReadEdf(edf, seconds);
            r2 = std::min(r2, Seconds(start));
        }
    } catch (CException* e) {
        e->Delete();
        Fail("reading the recording");
    }
    if (sum1 != sum2)
        Fail("comparing what both read");
    Row("read all, 1-second pieces", r1, r2, "s", "target ratio >= 2, 24 h < 0.45 s");

    // Random 10-second reads.
    std::mt19937 rng(11);
    const int64_t span = std::max<int64_t>(1, seconds - kRandomSeconds);
    std::vector<uint32_t> starts(kRandomReads);
    for (auto& s : starts)
        s = static_cast<uint32_t>(rng() % span);
    std::vector<double> t1, t2;
    {
        CWinEegFile file;
        file.Open(ours.c_str(), 0);
        CEegDataChunk chunk(kRate * kRandomSeconds, kChannels);
        for (uint32_t s : starts) {
            const auto start = Clock::now();
            file.SetReadPosition(CEegTimeStamp(s * kRate));
            file.ReadEegData(chunk, kRate * kRandomSeconds);
            t1.push_back(Seconds(start) * 1e6);
            if (chunk.GetNumberOfSamples() != static_cast<uint32_t>(kRate * kRandomSeconds))
                Fail("a random read");
        }
        file.Close();
    }
    {
        edf_hdr_struct hdr;
        if (edfopen_file_readonly(edf.c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS))
            Fail("edfopen_file_readonly");
        std::vector<int> buf(kRate * kRandomSeconds);
        for (uint32_t s : starts) {
            const auto start = Clock::now();
            for (int c = 0; c < kChannels; ++c) {
                edfseek(hdr.handle, c, static_cast<long long>(s) * kRate, EDFSEEK_SET);
                if (edfread_digital_samples(hdr.handle, c, kRate * kRandomSeconds, buf.data()) !=
                    kRate * kRandomSeconds)
                    Fail("edfread_digital_samples");
            }
            t2.push_back(Seconds(start) * 1e6);
        }
        edfclose_file(hdr.handle);
    }
    Row("seek + read 10 s (median)", Median(t1), Median(t2), "us", "target ours < 300 us");

    // Opening.
    t1.clear();
    t2.clear();
    for (int i = 0; i < kOpens; ++i) {
        CWinEegFile file;
        auto start = Clock::now();
        file.Open(ours.c_str(), 0);
        t1.push_back(Seconds(start) * 1e3);
        file.Close();
        edf_hdr_struct hdr;
        start = Clock::now();
        if (edfopen_file_readonly(edf.c_str(), &hdr, EDFLIB_READ_ANNOTATIONS))
            Fail("edfopen_file_readonly");
        t2.push_back(Seconds(start) * 1e3);
        edfclose_file(hdr.handle);
    }
    Row("open (median)", Median(t1), Median(t2), "ms", "target ours < 50 ms");

    RemoveRecording(ours);
    ::unlink(edf.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t seconds = argc > 1 ? std::atoll(argv[1]) : 86400;
    const std::string disk = argc > 2 ? argv[2] : "/tmp";
    const std::string tmpfs = argc > 3 ? argv[3] : "/dev/shm";
    if (seconds < kRandomSeconds + 1) {
        std::fprintf(stderr, "usage: RecordingBench [seconds > %d] [disk folder] [tmpfs folder]\n",
                     kRandomSeconds);
        return 2;
    }
    std::printf(
        "Recording of 32 channels at 200 Hz, delta coded (%s coder); ratio = EDFlib / ours\n",
        DeltaCoding::AvailableCoders().back().name);
    try {
        Run("With durability (disk; EDFlib's file fsynced at the end)", disk, seconds, true);
        if (::access(tmpfs.c_str(), W_OK) == 0)
            Run("Without durability (tmpfs: flushes cost nothing)", tmpfs, seconds, false);
    } catch (CException* e) {
        char message[512];
        e->GetErrorMessage(message, sizeof message, nullptr);
        std::fprintf(stderr, "RecordingBench: %s\n", message);
        e->Delete();
        return 1;
    }
    return 0;
}
