// Whole-file benchmark of the compound container, each figure beside a
// reference measured in the same run:
//
//  1. Appending 1 GB to one stream in sections of allocation unit 1 175 040
//     bytes (180 s of a 32-channel 200 Hz recording, delta coded), one second
//     (6528 bytes) per write, against the same writes with plain write(2).
//     The container flushes its file to disk at every section commit, so on
//     disk the reference ends with an fsync (durable against durable); on tmpfs,
//     where a flush costs nothing, both run without durability.
//  2. Opening that file and loading the stream's chain of sections.
//  3. A Refresh that finds nothing new, against one read of a section header.
//
// Usage: ContainerBench [megabytes] [disk folder] [tmpfs folder]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "EegFile/container/TKCompoundFile.h"
#include "Platform/Exception.h"
#include "Platform/File.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAllocationUnit = 1175040;  // 180 s x 6528 bytes
constexpr int kBytesPerWrite = kAllocationUnit / 180;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

std::vector<unsigned char> Chunk() {
    std::vector<unsigned char> b(kBytesPerWrite);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<unsigned char>(i * 31 + 7);
    return b;
}

[[noreturn]] void Fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// Plain write(2) calls of the same size, optionally followed by an fsync, or
// with an fdatasync wherever the container commits a section (syncEvery bytes).
double ReferenceWrite(const std::string& path, int64_t total, bool durable, int64_t syncEvery = 0) {
    const auto chunk = Chunk();
    ::unlink(path.c_str());
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        Fail("open");
    int64_t sinceSync = 0;
    for (int64_t done = 0; done < total; done += kBytesPerWrite) {
        if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
            Fail("write");
        sinceSync += kBytesPerWrite;
        if (syncEvery > 0 && sinceSync >= syncEvery) {
            if (::fdatasync(fd) != 0)
                Fail("fdatasync");
            sinceSync -= syncEvery;
        }
    }
    if (durable && ::fsync(fd) != 0)
        Fail("fsync");
    ::close(fd);
    return Seconds(start);
}

// The same bytes appended to one container stream; the time includes closing.
double ContainerWrite(const std::string& path, int64_t total, bool recordingOptions) {
    const auto chunk = Chunk();
    ::unlink(path.c_str());
    const auto start = Clock::now();
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* s = f.CreateStream("EEGData", 1, 0, kAllocationUnit);
    if (recordingOptions) {
        s->SetKeepWritesWhole(1);
        s->SetCommitOnGrowth(1);
    }
    for (int64_t done = 0; done < total; done += kBytesPerWrite) {
        s->Write(chunk.data(), static_cast<UINT>(chunk.size()));
    }
    f.Close();
    return Seconds(start);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs each measurement `rounds` times, interleaved, and keeps the medians.
std::vector<double> Interleaved(int rounds, const std::vector<std::function<double()>>& runs) {
    std::vector<std::vector<double>> times(runs.size());
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < runs.size(); ++i)
            times[i].push_back(runs[i]());
    }
    std::vector<double> medians;
    for (auto& t : times)
        medians.push_back(Median(t));
    return medians;
}

void PrintRow(const char* what, double seconds, double reference, int64_t bytes) {
    std::printf("  %-46s %8.3f s %8.1f MB/s   reference %8.3f s   ratio %.3f\n", what, seconds,
                bytes / seconds / 1e6, reference, seconds / reference);
}

void Appending(const char* title, const std::string& folder, int64_t total, bool durable,
               int rounds) {
    const std::string container = folder + "/bench-container.eeg";
    const std::string plain = folder + "/bench-plain.dat";
    // Data bytes per section: what the container holds between two flushes.
    const int64_t sectionData = (kAllocationUnit + 128 + 511) / 512 * 512 - 128;
    std::vector<std::function<double()>> runs = {
        [&] { return ReferenceWrite(plain, total, durable); },
        [&] { return ContainerWrite(container, total, false); },
        [&] { return ContainerWrite(container, total, true); },
    };
    if (durable)
        runs.push_back([&] { return ReferenceWrite(plain, total, true, sectionData); });
    const auto t = Interleaved(rounds, runs);
    std::printf("%s (%s; reference: write(2)%s; median of %d)\n", title, folder.c_str(),
                durable ? " + fsync" : "", rounds);
    PrintRow("container, plain stream", t[1], t[0], total);
    PrintRow("container, keep whole + commit on growth", t[2], t[0], total);
    if (durable) {
        PrintRow("write(2) + fdatasync at each section's end", t[3], t[0], total);
        PrintRow("container against that", t[1], t[3], total);
    }
    ::unlink(plain.c_str());
    ::unlink(container.c_str());
}

void OpeningAndRefreshing(const std::string& folder, int64_t total) {
    const std::string path = folder + "/bench-container.eeg";
    ContainerWrite(path, total, false);

    std::vector<double> opens;
    int sections = 0;
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        CTKCompoundFile f;
        f.Open(path.c_str(), 1);
        CTKStream* s = f.OpenStream("EEGData", 1, 0, 1, 0);
        opens.push_back(Seconds(start));
        sections = s->GetSectionCount();
    }
    std::printf(
        "Opening the %lld-byte file and loading the stream's chain of %d sections (warm cache)\n",
        static_cast<long long>(total), sections);
    std::printf("  median %.3f ms, worst %.3f ms (limit 20 ms)\n", Median(opens) * 1e3,
                *std::max_element(opens.begin(), opens.end()) * 1e3);

    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    CTKStream* s = f.OpenStream("EEGData", 1, 0, 1, 0);
    const int64_t headerOffset = s->GetSection(s->GetSectionCount() - 1).m_offset;
    const int kRefreshes = 200000;
    auto start = Clock::now();
    for (int i = 0; i < kRefreshes; ++i)
        s->Refresh();
    const double refresh = Seconds(start) / kRefreshes;
    // One header read as the container does it: a seek and a 104-byte read.
    CFile raw(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
    unsigned char header[104];
    start = Clock::now();
    for (int i = 0; i < kRefreshes; ++i) {
        raw.Seek(headerOffset, CFile::begin);
        raw.Read(header, sizeof header);
    }
    const double headerRead = Seconds(start) / kRefreshes;
    std::printf(
        "Refresh finding nothing new: %.2f us; one header read (seek + read): %.2f us; ratio "
        "%.2f\n",
        refresh * 1e6, headerRead * 1e6, refresh / headerRead);
    f.Close();
    ::unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 1024;
    const std::string disk = argc > 2 ? argv[2] : "/tmp";
    const std::string tmpfs = argc > 3 ? argv[3] : "/dev/shm";
    const int64_t total = megabytes * 1024 * 1024 / kBytesPerWrite * kBytesPerWrite;
    try {
        std::printf("Appending %lld bytes in writes of %d bytes, allocation unit %d\n\n",
                    static_cast<long long>(total), kBytesPerWrite, kAllocationUnit);
        Appending("With durability", disk, total, true, 3);
        Appending("Without durability, for comparison", disk, total, false, 3);
        if (::access(tmpfs.c_str(), W_OK) == 0) {
            Appending("Without durability (tmpfs: flushes cost nothing)", tmpfs, total, false, 5);
        }
        std::printf("\n");
        OpeningAndRefreshing(disk, total);
    } catch (CException* e) {
        std::fprintf(stderr, "%s\n", e->GetErrorText().GetString());
        e->Delete();
        return 1;
    }
    return 0;
}
