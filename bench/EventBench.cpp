// Events of a current-format recording that already holds 100 000 of them:
//  - AddEvent (a durable append to "EventList": region lock, a look at the
//    stream's last section, the record, a commit with fdatasync), beside the
//    same 14-byte append with fdatasync to a plain file;
//  - 1000 events added one AddEvent at a time, beside the same 1000 added by one
//    AddEvents (one append, one flush), both timed whole (target: 20x);
//  - Synchronize of a second station when nothing changed, beside one pread of
//    a section header's size from a plain file.
// Prints medians and the bytes the process wrote per AddEvent (an append writes
// a record and a section header, a rewrite would write the whole list).
//
//   EventBench [adds]; files go to $TMPDIR (or /tmp), then to /dev/shm (no disk
//   flush) when it exists.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/events/Events.h"
#include "EegFile/winfile/WinEegFile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEvents = 100000;
constexpr int kBatch = 1000;
constexpr int kRate = 200;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Bytes this process has handed to write calls so far.
long long WrittenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return -1;
}

CAmpHardwareInfo Amp32() {
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < 32; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo info;
    info.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    return info;
}

// A recording of 10 s whose "EventList" holds kEvents block events.
void MakeRecording(const std::string& path) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(COleDateTime(2024, 7, 1, 9, 0, 0));
    CEegDataChunk chunk(10 * kRate, 32);
    chunk.SetNumberOfSamples(10 * kRate);
    file.WriteEegData(chunk);
    file.StopRecording();
    file.Close();
    CTKStreamFile* f =
        CWinEegFile::OpenStreamFile(path.c_str(), "EventList", 1, 32400, CFile::modeCreate);
    if (!f) {
        std::fprintf(stderr, "cannot create EventList\n");
        std::exit(1);
    }
    CArchive ar(f, CArchive::store);
    CEegEventList list;
    std::vector<CBlockEvent> events;
    events.reserve(kEvents);
    for (int i = 0; i < kEvents; ++i) {
        events.emplace_back(CEegTimeStamp(static_cast<uint32_t>(i / 50)));
        list.Add(&events.back());
    }
    list.Serialize(ar);
    ar.Close();
    f->Close();
    delete f;
}

// The plain-file floor of a durable append.
double PlainAppendMedian(const std::string& path, int n) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    const unsigned char record[14] = {0xAE, 0xA5, 0x5A, 0x5A, 0x5A, 0x5A, 0x0B};
    std::vector<double> us;
    for (int i = 0; i < n; ++i) {
        const Clock::time_point t0 = Clock::now();
        if (::write(fd, record, sizeof record) != sizeof record || ::fdatasync(fd) != 0)
            break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(fd);
    return Median(us);
}

double PlainReadMedian(const std::string& path, int n) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    unsigned char header[128];
    std::vector<double> us;
    for (int i = 0; i < n; ++i) {
        const Clock::time_point t0 = Clock::now();
        if (::pread(fd, header, sizeof header, 0) < 0)
            break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(fd);
    return Median(us);
}

// The whole run in a fresh folder under base; returns the number of failures.
int RunIn(const std::filesystem::path& base, int adds) {
    const std::filesystem::path dir = base / ("eventbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "bench.eeg").string();
    std::printf("-- in %s\n", base.c_str());
    int failures = 0;
    try {
        MakeRecording(path);
        CWinEegFile recorder;
        recorder.Open(path.c_str(), 1);
        CWinEegFile follower;
        follower.Open(path.c_str(), 0);
        std::printf("events in the recording: %d (recorder), %d (follower)\n",
                    recorder.GetNumberOfEvents(), follower.GetNumberOfEvents());

        std::vector<double> addUs;
        const long long before = WrittenBytes();
        for (int i = 0; i < adds; ++i) {
            auto* e = new CBlockEvent(CEegTimeStamp(static_cast<uint32_t>(kEvents / 50 + i)));
            const Clock::time_point t0 = Clock::now();
            recorder.AddEvent(e);
            addUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        const long long written = WrittenBytes() - before;
        const double plainAppend = PlainAppendMedian((dir / "plain.bin").string(), adds);
        std::printf(
            "AddEvent with %d events: median %.1f us (target < 200), plain 14-byte "
            "append + fdatasync %.1f us, ratio %.2f; %.0f bytes written per add\n",
            kEvents, Median(addUs), plainAppend,
            plainAppend > 0 ? Median(addUs) / plainAppend : 0.0,
            static_cast<double>(written) / adds);

        // kBatch events one by one, then kBatch more in one list, after the others.
        uint32_t at = kEvents / 50 + adds;
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kBatch; ++i)
            recorder.AddEvent(new CBlockEvent(CEegTimeStamp(at++)));
        const double singles = std::chrono::duration<double>(Clock::now() - start).count();
        CEegEventList list;
        for (int i = 0; i < kBatch; ++i)
            list.Add(new CBlockEvent(CEegTimeStamp(at++)));
        start = Clock::now();
        const int added = recorder.AddEvents(list);
        const double batch = std::chrono::duration<double>(Clock::now() - start).count();
        if (added != kBatch) {
            std::printf("AddEvents added %d events, expected %d\n", added, kBatch);
            ++failures;
        }
        std::printf(
            "%d events: one AddEvent each %.3f s, one AddEvents %.4f s, ratio %.0f (target >= "
            "20)\n",
            kBatch, singles, batch, batch > 0 ? singles / batch : 0.0);

        // The follower catches up once (seeing every event, however added), then
        // finds nothing new.
        follower.Synchronize();
        const int expected = kEvents + adds + 2 * kBatch;
        if (follower.GetNumberOfEvents() != expected) {
            std::printf("follower sees %d events, expected %d\n", follower.GetNumberOfEvents(),
                        expected);
            ++failures;
        }
        std::vector<double> syncUs;
        for (int i = 0; i < 2000; ++i) {
            const Clock::time_point t0 = Clock::now();
            follower.Synchronize();
            syncUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        const double plainRead = PlainReadMedian(path, 2000);
        std::printf(
            "Synchronize of a follower, nothing changed: median %.1f us (target < 100), "
            "plain 128-byte pread %.1f us, ratio %.1f\n",
            Median(syncUs), plainRead, plainRead > 0 ? Median(syncUs) / plainRead : 0.0);
        follower.Close();
        recorder.Close();
    } catch (CException* e) {
        std::fprintf(stderr, "failed: %s\n", e->GetErrorText().GetString());
        e->Delete();
        ++failures;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    const int adds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    ::setenv("COMPUTERNAME", "BENCH", 1);
    int failures = RunIn(std::filesystem::temp_directory_path(), adds);
    // On a memory file system fdatasync costs next to nothing: what remains is
    // the library's own work, whatever the disk is doing.
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec))
        failures += RunIn("/dev/shm", adds);
    return failures == 0 ? 0 : 1;
}
