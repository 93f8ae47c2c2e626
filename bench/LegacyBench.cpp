// Whole-file benchmark of a legacy recording (a text log and numbered data files),
// each figure beside a reference measured in the same run, as a ratio:
//
//  1. Opening the log: a 24-hour recording's log with 100 000 events (comments;
//     a montage of 20 traces every 100 events, whose blocks are a good part of
//     the bytes; bookmarks; linked settings), written in time order between the
//     hours of data in batches of 1000 events (one flushed write each).
//     OpenLog of a fresh CDosLogFile, best of 3, warm cache, in MB of log per
//     second; the reference reads the same log line by line with fgets. The
//     events parsed are counted by type and checked (a montage block reads back
//     as one event, a linked-setting line as three).
//  2. updateFromLog with nothing new, 10 000 calls (median and mean); the
//     reference does the least such a check can: open, fstat and close the log
//     and stat the last data file (a recording's last file may grow).
//  3. Reading every second of 32 channels at 200 Hz, mode 2, with readData,
//     against the current format (CWinEegFile, the same coder) reading the same
//     samples in 1-second pieces; both already open, best of 3, alternating,
//     warm cache. A few seconds are compared sample by sample between the two
//     and with what was written.
//  5. Through CEegFile: CDosEegFile::Open against CWinEegFile::Open of the
//     same recording, and 10-second windows read at random positions with
//     ReadEegDataAt, median, against the current format.
//  4. Peak resident memory (ru_maxrss) of forked children: one that opens the
//     log and reads 1 hour, one that reads all of it, one that does nothing;
//     the current format reading all of it is the reference.
//
// Everything is written once, outside the timings, and removed at the end.
//
// Usage: LegacyBench [seconds (86400)] [folder ($TMPDIR or /tmp)]

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegBase/EegMontage.h"
#include "EegFile/dos/DosEegData.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosLogFile.h"
#include "EegFile/dos/DosRecordingWriter.h"
#include "EegFile/events/BookmarkEvent.h"
#include "EegFile/events/CommentEvent.h"
#include "EegFile/events/LinkedSettingEvents.h"
#include "EegFile/events/MontageEvent.h"
#include "EegFile/frame/EegTimeStamp.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Exception.h"
#include "Platform/OleDateTime.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRandomReads = 1000;
constexpr int kRate = 200;
constexpr int kSlots = 32;
constexpr int kSecondSamples = kRate * kSlots;
constexpr int kEvents = 100000;
constexpr int kBatch = 1000;        // events per write of the log
constexpr int kTraces = 20;         // traces of each montage written
constexpr int kFileSeconds = 3600;  // one data file per hour
constexpr int kPoolSeconds = 61;    // the signal's shape repeats this often
constexpr int kRuns = 3;
constexpr int kUpdates = 10000;
constexpr int64_t kMinSeconds = 60;

// What was written, removed at the end (and when a run fails).
std::vector<std::string> g_Written;
bool g_InChild = false;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

void RemoveWritten() {
    for (const std::string& p : g_Written)
        ::unlink(p.c_str());
}

[[noreturn]] void Fail(const char* what) {
    std::fflush(stdout);
    std::fprintf(stderr, "LegacyBench: %s\n", what);
    if (g_InChild)
        ::_exit(1);
    RemoveWritten();
    std::exit(1);
}

[[noreturn]] void Fail(const std::string& what) {
    Fail(what.c_str());
}

std::string Text(CException* e) {
    char message[512];
    e->GetErrorMessage(message, sizeof message, nullptr);
    e->Delete();
    return message;
}

CAmpHardwareInfo Amp32() {
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < kSlots; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo info;
    info.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    return info;
}

// --- The samples ---------------------------------------------------------------

// Per channel a slow wave and an alpha-like one, of their own frequencies and
// phases, plus a little noise from a fixed seed. The largest step between samples
// stays below 100, so delta coding keeps every sample. Each second also carries
// an offset of its own, so no two seconds near each other read alike and a read
// of the wrong second shows.
class Signal {
public:
    Signal() : m_Pool(static_cast<size_t>(kPoolSeconds) * kSecondSamples) {
        std::mt19937 rng(20240701);
        std::uniform_int_distribution<int> noise(-10, 10);
        const double twoPi = 2.0 * std::acos(-1.0);
        for (int n = 0; n < kPoolSeconds * kRate; ++n) {
            const double t = static_cast<double>(n) / kRate;
            for (int c = 0; c < kSlots; ++c) {
                const double slow = 500.0 * std::sin(twoPi * (0.5 + 0.05 * c) * t + 0.3 * c);
                const double alpha = (80.0 + 2 * c) * std::sin(twoPi * (8.0 + 0.0625 * c) * t);
                const long v = std::lround(slow + alpha) + noise(rng) + 20 * c - 300;
                m_Pool[static_cast<size_t>(n) * kSlots + c] = static_cast<int16_t>(v);
            }
        }
    }

    void Second(int64_t s, int16_t* frames) const {
        const int16_t* src = &m_Pool[static_cast<size_t>(s % kPoolSeconds) * kSecondSamples];
        const int offset = static_cast<int>((s * 37) % 2001) - 1000;
        for (int i = 0; i < kSecondSamples; ++i)
            frames[i] = static_cast<int16_t>(src[i] + offset);
    }

private:
    std::vector<int16_t> m_Pool;
};

// --- The events ----------------------------------------------------------------

// Of every 100 events: one montage, two bookmarks, two linked settings, and 95
// comments.
enum class Kind { Comment, Montage, Bookmark, Linked };

Kind KindOf(int i) {
    switch (i % 100) {
        case 50:
            return Kind::Montage;
        case 25:
        case 75:
            return Kind::Bookmark;
        case 10:
        case 60:
            return Kind::Linked;
        default:
            return Kind::Comment;
    }
}

struct Expected {
    int comments = 0, montages = 0, bookmarks = 0, linked = 0;
};

Expected Count() {
    Expected e;
    for (int i = 0; i < kEvents; ++i) {
        switch (KindOf(i)) {
            case Kind::Comment:
                ++e.comments;
                break;
            case Kind::Montage:
                ++e.montages;
                break;
            case Kind::Bookmark:
                ++e.bookmarks;
                break;
            case Kind::Linked:
                ++e.linked;
                break;
        }
    }
    return e;
}

std::string MontageName(int number) {
    static const char* const kinds[] = {"Longitudinal bipolar", "Transverse bipolar", "Referential",
                                        "Circumferential"};
    return std::string(kinds[number % 4]) + " " + std::to_string(number);
}

// Twenty traces over the 24 head and auxiliary jacks, shifted with the number;
// every fourth against the recording reference.
CEegMontage MakeMontage(int number) {
    CEegMontage m(MontageName(number).c_str());
    constexpr int kHeadJacks = 24;
    for (int t = 0; t < kTraces; ++t) {
        const auto act = static_cast<AmpInput::AmpInputType>((t + number) % kHeadJacks);
        const auto ref = t % 4 == 3
                             ? AmpInput::Ref
                             : static_cast<AmpInput::AmpInputType>((t + number + 1) % kHeadJacks);
        const std::string label =
            std::string(AmpInput::GetName(act)) + "-" + AmpInput::GetName(ref);
        CTraceInfo trace(label.c_str(), act, ref);
        trace.SetSensitivity(t % 3 == 0 ? 10 : 7);
        trace.SetHighCut(t % 5 == 0 ? 35 : 70);
        trace.SetLowCut(t % 2 == 0 ? 1.0 : 0.5);
        trace.SetLinkedFlag(t % 5 == 0 ? 0 : 1);
        trace.SetColor(t % 3);
        m.SetTraceInfo(t, trace);
    }
    return m;
}

uint32_t StampOf(int i, int64_t totalSamples) {
    return static_cast<uint32_t>(static_cast<int64_t>(i) * totalSamples / kEvents);
}

std::unique_ptr<CEegEvent> MakeEvent(int i, int64_t totalSamples) {
    static const char* const texts[] = {
        "Eyes closed",  "Eyes open",     "Patient moving", "Hyperventilation start",
        "Photic 12 Hz", "Talking",       "Drowsy",         "Spike and wave, left temporal",
        "Chewing",      "Nurse in room", "Asleep",         "Seizure button pressed by family"};
    const CEegTimeStamp at(StampOf(i, totalSamples));
    switch (KindOf(i)) {
        case Kind::Montage: {
            const CEegMontage m = MakeMontage(i / 100 + 1);
            return std::make_unique<CMontageEvent>(at, &m);
        }
        case Kind::Bookmark: {
            const int64_t end =
                std::min<int64_t>(at.GetSampleOffset() + 10 * kRate, totalSamples - 1);
            const std::string text = "Review " + std::to_string(i) + ": " + texts[i % 12];
            auto b = std::make_unique<CBookmarkEvent>(at, CEegTimeStamp(static_cast<uint32_t>(end)),
                                                      text.c_str());
            b->SetLinkedHighCut(35);
            b->SetLinkedLowCut(0.5);
            b->SetPaperSpeed(30);
            b->SetLinkedSens(10);
            return b;
        }
        case Kind::Linked:
            if ((i / 100) % 3 == 0)
                return std::make_unique<CLinkedHighcutEvent>(at, (i / 100) % 2 ? 35 : 70);
            if ((i / 100) % 3 == 1)
                return std::make_unique<CLinkedLowcutEvent>(at, (i / 100) % 2 ? 0.5 : 1.0);
            return std::make_unique<CLinkedSensitivityEvent>(at, (i / 100) % 2 ? 10 : 7);
        case Kind::Comment:
        default: {
            const std::string text = std::string(texts[(i * 7) % 12]) + " #" + std::to_string(i);
            return std::make_unique<CCommentEvent>(at, text.c_str(), static_cast<short>(1 + i % 9));
        }
    }
}

// --- Writing -------------------------------------------------------------------

struct Paths {
    std::string log;      // FOLDER/EEG00001.LOG
    std::string current;  // FOLDER/LegacyBench.eeg
    std::vector<std::string> dataFiles;
};

std::string DataFile(const std::string& folder, int number) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".%03d", number);
    return folder + "/EEG00001" + ext;
}

// Writes both recordings in one pass over the samples; the legacy log gets the
// events of each hour after its data, in batches.
void WriteBoth(const Paths& paths, int64_t seconds, const Signal& signal) {
    const int64_t totalSamples = seconds * kRate;
    const CAmpHardwareInfo amp = Amp32();
    CDosRecordingWriter legacy(paths.log.c_str(), kRate, Compression::AdaptiveDelta, amp,
                               MakeMontage(0));
    CWinEegFile current;
    current.Create(paths.current.c_str());
    current.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, amp);
    current.StartRecording(COleDateTime(2024, 7, 1, 9, 0, 0));
    CEegDataChunk chunk(kRate, kSlots);
    int next = 0;
    std::vector<std::unique_ptr<CEegEvent>> batch;
    std::vector<const CEegEvent*> pointers;
    for (int64_t s = 0; s < seconds; ++s) {
        if (s % kFileSeconds == 0 && !legacy.StartDataFile())
            Fail("starting a legacy data file");
        signal.Second(s, chunk.GetFrame(0));
        chunk.SetNumberOfSamples(kRate);
        if (!legacy.WriteSecond(chunk.GetFrame(0)))
            Fail("writing a legacy second");
        current.WriteEegData(chunk);
        if ((s + 1) % kFileSeconds != 0 && s + 1 != seconds)
            continue;
        const int64_t until = (s + 1) * kRate;
        while (next < kEvents && StampOf(next, totalSamples) < until) {
            batch.clear();
            pointers.clear();
            for (; next < kEvents && StampOf(next, totalSamples) < until &&
                   static_cast<int>(batch.size()) < kBatch;
                 ++next) {
                batch.push_back(MakeEvent(next, totalSamples));
                pointers.push_back(batch.back().get());
            }
            legacy.WriteEvents(pointers.data(), static_cast<int>(pointers.size()));
        }
    }
    legacy.Close();
    if (legacy.getStatus() != 0)
        Fail("the legacy writer's status");
    current.StopRecording();
    current.Close();
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        Fail("stat of " + path);
    return st.st_size;
}

// Bytes of the log in montage blocks (their MONTAGE, CHANLCT and trace lines).
int64_t MontageBytes(const std::string& log) {
    FILE* f = std::fopen(log.c_str(), "rb");
    if (!f)
        Fail("reading the log");
    char line[512];
    int64_t bytes = 0;
    while (std::fgets(line, sizeof line, f)) {
        const size_t n = std::strlen(line);
        if (n > 20 && (std::strncmp(line + 13, "MONTAGE", 7) == 0 ||
                       std::strncmp(line + 13, "MONTRCE", 7) == 0 ||
                       std::strncmp(line + 13, "CHANLCT", 7) == 0 ||
                       std::strncmp(line + 14, "CHANLCT", 7) == 0))
            bytes += static_cast<int64_t>(n);
    }
    std::fclose(f);
    return bytes;
}

// --- 1. Opening the log --------------------------------------------------------

// The reference: every line of the log read with fgets into a buffer of the
// parser's line length.
int64_t ReadLines(const std::string& log) {
    FILE* f = std::fopen(log.c_str(), "rb");
    if (!f)
        Fail("opening the log with fopen");
    char line[300];
    int64_t lines = 0;
    while (std::fgets(line, sizeof line, f))
        ++lines;
    std::fclose(f);
    return lines;
}

// The events parsed, by type, against what was written.
void CheckEvents(const CLogFile& log, int64_t seconds) {
    const Expected want = Count();
    int count[CEegEvent::etNone + 1] = {};
    int errors = 0;
    const CEegEventList& list = log.GetEventList();
    for (int i = 0; i < list.GetSize(); ++i) {
        const CEegEvent* e = list.GetAt(i);
        const int type = e->GetEventType();
        if (type >= 0 && type <= CEegEvent::etNone)
            ++count[type];
        if (type == CEegEvent::etComment &&
            std::strncmp(static_cast<const CCommentEvent*>(e)->GetComment(), "ERROR:", 6) == 0)
            ++errors;
    }
    // The montage at 0 is written with the log's parameters; a linked-setting line
    // reads back as all three settings.
    const int total = kEvents + 2 * want.linked + 1;
    std::printf(
        "  events parsed: %d (expected %d: %d comments, %d montages, %d bookmarks, "
        "%d x 3 linked settings)\n",
        list.GetSize(), total, want.comments, want.montages + 1, want.bookmarks, want.linked);
    const bool ok = list.GetSize() == total && errors == 0 &&
                    count[CEegEvent::etComment] == want.comments &&
                    count[CEegEvent::etMontage] == want.montages + 1 &&
                    count[CEegEvent::etBookmark] == want.bookmarks &&
                    count[CEegEvent::etLinkedSensitivity] == want.linked &&
                    count[CEegEvent::etLinkedHighcut] == want.linked &&
                    count[CEegEvent::etLinkedLowcut] == want.linked;
    if (!ok) {
        std::fprintf(stderr,
                     "  parsed by type: %d comments (%d parse errors), %d montages, %d bookmarks, "
                     "%d / %d / %d linked sensitivity / high cut / low cut\n",
                     count[CEegEvent::etComment], errors, count[CEegEvent::etMontage],
                     count[CEegEvent::etBookmark], count[CEegEvent::etLinkedSensitivity],
                     count[CEegEvent::etLinkedHighcut], count[CEegEvent::etLinkedLowcut]);
        Fail("the events parsed are not the events written");
    }
    if (log.GetMontage().GetName() != CString(MontageName(want.montages).c_str()) ||
        log.GetMontage().GetChannelCount() != kTraces)
        Fail("the last montage parsed is not the last written");
    const int files = static_cast<int>((seconds + kFileSeconds - 1) / kFileSeconds);
    if (log.getFileCount() != files || log.getRecordLength() != seconds)
        Fail("the file list parsed");
}

// --- 2. Checking for nothing new -----------------------------------------------

// The reference: open, fstat and close the log; stat the last data file.
void LeastCheck(const std::string& log, const std::string& lastData) {
    const int fd = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("open of the log");
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        Fail("fstat of the log");
    ::close(fd);
    if (::stat(lastData.c_str(), &st) != 0)
        Fail("stat of the last data file");
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Mean(const std::vector<double>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

// --- 3. Reading ----------------------------------------------------------------

// Every second through readData; returns a checksum so that nothing is skipped.
int64_t ReadLegacy(CDosEegData& data, int64_t seconds, int16_t* frames) {
    int64_t sum = 0;
    for (int64_t s = 0; s < seconds; ++s) {
        if (data.readData(static_cast<int32_t>(s), frames) != kRate)
            Fail("a legacy second read short");
        sum += frames[kSecondSamples - kSlots + 5] + frames[7];
    }
    return sum;
}

int64_t ReadCurrent(CWinEegFile& file, int64_t seconds, CEegDataChunk& chunk) {
    file.SetReadPosition(CEegTimeStamp(0));
    int64_t sum = 0;
    int64_t s = 0;
    for (; s < seconds && file.ReadEegData(chunk, kRate) && chunk.GetNumberOfSamples() == kRate;
         ++s) {
        sum += chunk.GetFrame(kRate - 1)[5] + chunk.GetFrame(0)[7];
    }
    if (s != seconds)
        Fail("a current-format second read short");
    return sum;
}

// Compares a few seconds between the two formats and with what was written.
void CheckSamples(CDosLogFile& log, const std::string& current, int64_t seconds,
                  const Signal& signal) {
    std::vector<int64_t> which = {0, 1, seconds / 2, seconds - 1};
    if (seconds > kFileSeconds)
        which.insert(which.end(), {kFileSeconds - 1, kFileSeconds, kFileSeconds + 1});
    std::mt19937 rng(5);
    for (int i = 0; i < 5; ++i)
        which.push_back(static_cast<int64_t>(rng() % static_cast<uint64_t>(seconds)));
    CDosEegData data(log);
    CWinEegFile file;
    file.Open(current.c_str(), 0);
    CEegDataChunk chunk(kRate, kSlots);
    std::vector<int16_t> legacy(kSecondSamples), written(kSecondSamples);
    for (int64_t s : which) {
        if (data.readData(static_cast<int32_t>(s), legacy.data()) != kRate)
            Fail("reading a legacy second to compare");
        file.SetReadPosition(CEegTimeStamp(static_cast<uint32_t>(s * kRate)));
        if (!file.ReadEegData(chunk, kRate) || chunk.GetNumberOfSamples() != kRate)
            Fail("reading a current-format second to compare");
        signal.Second(s, written.data());
        const int16_t* cur = chunk.GetFrame(0);
        for (int k = 0; k < kSecondSamples; ++k) {
            if (legacy[k] != cur[k] || legacy[k] != written[k]) {
                char what[200];
                std::snprintf(what, sizeof what,
                              "second %lld, sample %d of slot %d: legacy %d, current %d, "
                              "written %d",
                              static_cast<long long>(s), k / kSlots, k % kSlots, legacy[k], cur[k],
                              written[k]);
                Fail(std::string("samples differ at ") + what);
            }
        }
    }
    file.Close();
    std::printf("  %zu seconds compared: the two formats read the same samples, as written\n",
                which.size());
}

// --- 4. Memory -----------------------------------------------------------------

double PeakMb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Runs work in a forked child, which fills up to four figures; returns them.
struct Figures {
    double v[4] = {};
};

Figures InChild(const std::function<void(Figures&)>& work) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0)
        Fail("pipe");
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0)
        Fail("fork");
    if (pid == 0) {
        g_InChild = true;
        ::close(fds[0]);
        Figures f;
        int rc = 0;
        try {
            work(f);
        } catch (CException* e) {
            std::fprintf(stderr, "LegacyBench: %s\n", Text(e).c_str());
            rc = 1;
        }
        if (::write(fds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f))
            rc = 1;
        ::_exit(rc);
    }
    ::close(fds[1]);
    Figures f;
    ssize_t got;
    do {
        got = ::read(fds[0], &f, sizeof f);
    } while (got < 0 && errno == EINTR);
    ::close(fds[0]);
    int status = 0;
    pid_t w;
    do {
        w = ::waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);
    if (w != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        got != static_cast<ssize_t>(sizeof f))
        Fail("the child's work");
    return f;
}

// Opens the log and reads the first `seconds`: the peak after the open, after the read.
Figures LegacyMemory(const std::string& log, int64_t seconds) {
    return InChild([&](Figures& f) {
        CDosLogFile file;
        file.OpenLog(log.c_str(), 0);
        f.v[0] = PeakMb();
        CDosEegData data(file);
        std::vector<int16_t> frames(kSecondSamples);
        ReadLegacy(data, seconds, frames.data());
        f.v[1] = PeakMb();
    });
}

Figures CurrentMemory(const std::string& path, int64_t seconds) {
    return InChild([&](Figures& f) {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        f.v[0] = PeakMb();
        CEegDataChunk chunk(kRate, kSlots);
        ReadCurrent(file, seconds, chunk);
        f.v[1] = PeakMb();
        file.Close();
    });
}

void Row(const char* what, double ours, double ref, const char* unit, const char* refName,
         double ratio, const char* target) {
    std::printf("  %-34s legacy %9.3f %-4s  %s %9.3f %-4s  ratio %5.2f  %s\n", what, ours, unit,
                refName, ref, unit, ratio, target);
}

void Run(const std::string& folder, int64_t seconds) {
    Paths paths;
    paths.log = folder + "/EEG00001.LOG";
    paths.current = folder + "/LegacyBench.eeg";
    const int files = static_cast<int>((seconds + kFileSeconds - 1) / kFileSeconds);
    for (int i = 0; i < files; ++i)
        paths.dataFiles.push_back(DataFile(folder, i));
    g_Written = paths.dataFiles;
    for (const std::string& p :
         {paths.log, paths.current, folder + "/LegacyBench.$co", folder + "/LegacyBench.$lo"})
        g_Written.push_back(p);
    RemoveWritten();

    std::printf(
        "Ratios are legacy / reference, of times or of memory: above 1, legacy is slower "
        "or larger\n");
    std::printf(
        "Legacy recording: %.1f h of 32 channels at 200 Hz, mode 2, data files of 1 h; "
        "%d events; in %s\n",
        static_cast<double>(seconds) / 3600.0, kEvents, folder.c_str());
    const Signal signal;
    auto start = Clock::now();
    WriteBoth(paths, seconds, signal);
    const int64_t logBytes = FileSize(paths.log);
    int64_t dataBytes = 0;
    for (const std::string& p : paths.dataFiles)
        dataBytes += FileSize(p);
    std::printf(
        "  written in %.1f s (not timed): log %.2f MB (%.0f%% in montage blocks), "
        "%d data files %.1f MB; current format %.1f MB\n",
        Seconds(start), static_cast<double>(logBytes) / 1e6,
        100.0 * static_cast<double>(MontageBytes(paths.log)) / static_cast<double>(logBytes), files,
        static_cast<double>(dataBytes) / 1e6, static_cast<double>(FileSize(paths.current)) / 1e6);

    // 4 first, in children forked while this process is still small; printed last.
    ::malloc_trim(0);
    const Figures idle = InChild([](Figures& f) { f.v[0] = PeakMb(); });
    const Figures oneHour = LegacyMemory(paths.log, std::min<int64_t>(seconds, kFileSeconds));
    const Figures all = LegacyMemory(paths.log, seconds);
    const Figures current = CurrentMemory(paths.current, seconds);

    // 1. Opening the log.
    std::printf("\n1. Opening the log (best of %d, warm cache)\n", kRuns);
    double open = 1e30, lines = 1e30;
    int64_t lineCount = 0;
    std::unique_ptr<CDosLogFile> log;
    for (int run = 0; run < kRuns; ++run) {
        log.reset();  // the previous log's events are freed outside the timing
        log = std::make_unique<CDosLogFile>();
        start = Clock::now();
        log->OpenLog(paths.log.c_str(), 0);
        open = std::min(open, Seconds(start));
        start = Clock::now();
        lineCount = ReadLines(paths.log);
        lines = std::min(lines, Seconds(start));
    }
    CheckEvents(*log, seconds);
    const double mb = static_cast<double>(logBytes) / 1e6;
    std::printf("  %.2f MB, %lld lines; OpenLog %.1f ms, fgets of every line %.1f ms\n", mb,
                static_cast<long long>(lineCount), open * 1e3, lines * 1e3);
    Row("OpenLog, MB of log per second", mb / open, mb / lines, "MB/s", "fgets", open / lines,
        "target legacy >= 50 MB/s");

    // 2. updateFromLog with nothing new.
    std::printf("\n2. updateFromLog with nothing new (%d calls)\n", kUpdates);
    std::vector<double> update, least;
    update.reserve(kUpdates);
    least.reserve(kUpdates);
    const int eventsBefore = log->GetEventList().GetSize();
    for (int i = 0; i < kUpdates; ++i) {
        start = Clock::now();
        log->updateFromLog();
        update.push_back(Seconds(start) * 1e6);
        start = Clock::now();
        LeastCheck(paths.log, paths.dataFiles.back());
        least.push_back(Seconds(start) * 1e6);
    }
    if (log->GetEventList().GetSize() != eventsBefore || log->getRecordLength() != seconds)
        Fail("updateFromLog found something new in a log that did not change");
    Row("median", Median(update), Median(least), "us", "open+fstat+close+stat",
        Median(update) / Median(least), "target legacy < 20 us");
    Row("mean", Mean(update), Mean(least), "us", "open+fstat+close+stat",
        Mean(update) / Mean(least), "");

    // 3. Reading every second.
    std::printf(
        "\n3. Reading every second in 1-second pieces (best of %d, warm cache, files "
        "already open)\n",
        kRuns);
    CheckSamples(*log, paths.current, seconds, signal);
    double legacyRead = 1e30, currentRead = 1e30;
    int64_t legacySum = 0, currentSum = 0;
    {
        std::vector<int16_t> frames(kSecondSamples);
        CEegDataChunk chunk(kRate, kSlots);
        for (int run = 0; run < kRuns; ++run) {
            CDosEegData data(*log);
            start = Clock::now();
            legacySum = ReadLegacy(data, seconds, frames.data());
            legacyRead = std::min(legacyRead, Seconds(start));
            CWinEegFile file;
            file.Open(paths.current.c_str(), 0);
            start = Clock::now();
            currentSum = ReadCurrent(file, seconds, chunk);
            currentRead = std::min(currentRead, Seconds(start));
            file.Close();
        }
    }
    if (legacySum != currentSum)
        Fail("the checksums of the two reads differ");
    Row("read all", legacyRead, currentRead, "s", "current", legacyRead / currentRead,
        "target ratio <= 1.25");
    std::printf("  per second read: legacy %.2f us, current %.2f us\n",
                legacyRead / static_cast<double>(seconds) * 1e6,
                currentRead / static_cast<double>(seconds) * 1e6);

    // 5. Through the recording interface: opening, and random 10-second windows.
    std::printf("\n5. Through CEegFile: Open (best of %d) and random 10-s reads (median of %d)\n",
                kRuns, kRandomReads);
    {
        double dosOpen = 1e30, winOpen = 1e30;
        for (int run = 0; run < kRuns; ++run) {
            CDosEegFile dos;
            start = Clock::now();
            dos.Open(paths.log.c_str(), 0);
            dosOpen = std::min(dosOpen, Seconds(start));
            CWinEegFile win;
            start = Clock::now();
            win.Open(paths.current.c_str(), 0);
            winOpen = std::min(winOpen, Seconds(start));
        }
        Row("Open", dosOpen * 1e3, winOpen * 1e3, "ms", "current", dosOpen / winOpen,
            "target legacy < 100 ms");
        CDosEegFile dos;
        dos.Open(paths.log.c_str(), 0);
        CWinEegFile win;
        win.Open(paths.current.c_str(), 0);
        CEegDataChunk window(10 * kRate, kSlots);
        std::vector<double> dosRead, winRead;
        uint64_t x = 88172645463325252ull;
        const uint32_t last = static_cast<uint32_t>((seconds - 10) * kRate);
        for (int i = 0; i < kRandomReads; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            const CEegTimeStamp at(static_cast<uint32_t>(x % last));
            start = Clock::now();
            dos.ReadEegDataAt(at, window, 10 * kRate);
            dosRead.push_back(Seconds(start) * 1e6);
            start = Clock::now();
            win.ReadEegDataAt(at, window, 10 * kRate);
            winRead.push_back(Seconds(start) * 1e6);
        }
        Row("random 10-s read, median", Median(dosRead), Median(winRead), "us", "current",
            Median(dosRead) / Median(winRead), "target legacy < 300 us");
    }

    // 4. Memory.
    std::printf("\n4. Peak resident memory of a forked child (one that does nothing: %.1f MB)\n",
                idle.v[0]);
    std::printf(
        "  legacy:  after OpenLog %.1f MB; after reading 1 h %.1f MB (+%.2f); after "
        "reading all %.1f h %.1f MB (+%.2f)\n",
        oneHour.v[0], oneHour.v[1], oneHour.v[1] - oneHour.v[0],
        static_cast<double>(seconds) / 3600.0, all.v[1], all.v[1] - all.v[0]);
    std::printf("  current: after Open %.1f MB; after reading all %.1f MB (+%.2f)\n", current.v[0],
                current.v[1], current.v[1] - current.v[0]);
    Row("peak after reading all", all.v[1], current.v[1], "MB", "current", all.v[1] / current.v[1],
        "(the legacy log holds its events in memory)");

    log.reset();
    RemoveWritten();
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t seconds = argc > 1 ? std::atoll(argv[1]) : 86400;
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    if (seconds < kMinSeconds || seconds > 999 * kFileSeconds) {
        std::fprintf(stderr, "usage: LegacyBench [seconds, %lld to %d] [folder]\n",
                     static_cast<long long>(kMinSeconds), 999 * kFileSeconds);
        return 2;
    }
    try {
        Run(folder, seconds);
    } catch (CException* e) {
        std::fprintf(stderr, "LegacyBench: %s\n", Text(e).c_str());
        RemoveWritten();
        return 1;
    }
    return 0;
}
