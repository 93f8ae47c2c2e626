// One station opening and leaving a recording that 50 other stations have
// open: CEegAccessControl::TakeMode(read) followed by Release(), against a
// control file listing 50 stations. Beside it, measured in the same run, the
// same file work done with plain system calls (open the lock file, lock the
// control byte, read the control file, write it back with one entry more;
// then again with the entry removed): the floor for this protocol. Nothing is
// flushed to disk by either (the control file never is).
//
// Usage: AccessControlBench [folder] [iterations]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "EegFile/access/EegAccessControl.h"
#include "EegFile/access/EegControlFileFormat.h"
#include "Platform/Exception.h"
#include "Platform/File.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fmt = EegControlFileFormat;

constexpr int kOtherStations = 50;

[[noreturn]] void Fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The control file of 50 reviewing stations, and their lock file.
void MakeRecording(const std::string& control, const std::string& lock) {
    CEegStationList stations;
    for (int i = 0; i < kOtherStations; ++i) {
        CEegStationEntry e;
        char name[16];
        std::snprintf(name, sizeof name, "REVIEW-%02d", i);
        e.m_Name = name;
        e.m_Number = 1;
        e.m_Mode = CEegAccessMode::eamRead;
        stations.Add(e);
    }
    CFile file(control.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    WriteControlRecord(file, stations);
    file.Close();
    CFile(lock.c_str(), CFile::modeCreate | CFile::modeReadWrite).Close();
}

// Plain system calls: one update of the control file under the control byte,
// reading it whole and writing back its first `size` bytes (the buffer's tail
// stands for the added entry).
void PlainUpdate(const std::string& control, const std::string& lock, std::vector<char>& buffer,
                 size_t size) {
    const int lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0)
        Fail("open lock");
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = fmt::kControlByte;
    fl.l_len = 1;
    if (::fcntl(lockFd, F_OFD_SETLK, &fl) != 0)
        Fail("lock");
    const int fd = ::open(control.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        Fail("open control");
    if (::pread(fd, buffer.data(), buffer.size(), 0) <= 0)
        Fail("read");
    if (::pwrite(fd, buffer.data(), size, 0) != static_cast<ssize_t>(size))
        Fail("write");
    ::close(fd);
    fl.l_type = F_UNLCK;
    if (::fcntl(lockFd, F_OFD_SETLK, &fl) != 0)
        Fail("unlock");
    ::close(lockFd);
}

struct Figures {
    double median, mean, p99, max;  // microseconds
};

Figures Measure(int iterations, const std::function<void()>& once) {
    for (int i = 0; i < iterations / 10 + 1; ++i)
        once();  // warm the caches and the page cache
    std::vector<double> us(static_cast<size_t>(iterations));
    for (double& t : us) {
        const auto start = Clock::now();
        once();
        t = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double t : us)
        sum += t;
    return {us[us.size() / 2], sum / static_cast<double>(us.size()), us[us.size() * 99 / 100],
            us.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path();
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5000;
    const std::filesystem::path dir = base / ("access-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string recording = (dir / "rec.eeg").string();
    const std::string control = (dir / "rec.$co").string();
    const std::string lock = (dir / "rec.$lo").string();
    ::setenv("COMPUTERNAME", "BENCH", 1);

    Figures ours{}, plain{};
    try {
        MakeRecording(control, lock);
        const auto stationsBefore = std::filesystem::file_size(control);
        CEegAccessControl ac;
        ac.SetPaths(recording.c_str());
        ours = Measure(iterations, [&] {
            if (!ac.TakeMode(CEegAccessMode::eamRead))
                Fail("TakeMode refused");
            ac.Release();
        });
        if (ac.GetStationCount() != kOtherStations) {
            std::fprintf(stderr, "the control file lists %d stations\n", ac.GetStationCount());
            return 1;
        }
        // One entry of this station: the name's length byte, "BENCH", number, mode.
        const size_t entry = 1 + 5 + 4 + 4;
        std::vector<char> buffer(static_cast<size_t>(stationsBefore) + entry);
        plain = Measure(iterations, [&] {
            PlainUpdate(control, lock, buffer, buffer.size());
            PlainUpdate(control, lock, buffer, buffer.size() - entry);
        });
    } catch (CException* e) {
        std::fprintf(stderr, "%s\n", e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    std::filesystem::remove_all(dir);

    std::printf("TakeMode(read) + Release against a control file of %d stations, %d times, in %s\n",
                kOtherStations, iterations, base.string().c_str());
    std::printf("                         median     mean      p99      max  (microseconds)\n");
    std::printf("CEegAccessControl      %8.1f %8.1f %8.1f %8.1f\n", ours.median, ours.mean,
                ours.p99, ours.max);
    std::printf("plain system calls     %8.1f %8.1f %8.1f %8.1f\n", plain.median, plain.mean,
                plain.p99, plain.max);
    std::printf("ratio (ours / plain)   %8.2f %8.2f\n", ours.median / plain.median,
                ours.mean / plain.mean);
    std::printf("budget 2000 us: %s\n", ours.p99 < 2000.0 ? "met (p99)" : "MISSED (p99)");
    return 0;
}
