// A recording process killed (SIGKILL) at random moments, over and over, in
// each format. Every cycle draws a plan from (seed, cycle): the sample rate,
// coding and stored slots, the steps the writer takes (runs, chunks of samples,
// events, flushes) and when the kill comes. The writer child carries the plan
// out and marks in shared memory which step it has begun and which it has
// finished. After the kill the recording is reopened through the library, as a
// restarted station and a reviewer would, and compared with what the plan says
// had been written.
//
// What a kill may cost, from the formats' promises (a kill loses nothing the
// kernel already has; only a power loss would need the flushes):
// - current format: a stored second is committed once the write-out that
//   appends it returns (its section header is rewritten with every growth):
//   after WriteEegData without the write thread, after FlushWriteBuffer plus
//   Synchronize with it (the flush waits for the buffer, Synchronize for the
//   thread's pass), after StopRecording and Close. A partial second is never
//   stored. An event is committed once AddEvent returns.
// - legacy format: a second is stored once WriteSecond returns (one write of
//   the data file), events once their log lines are written; a torn last second
//   or line is not read (the reader waits for the rest).
// So every second between the last promise and what the writer had handed over
// may or may not be there, and every second that is there must hold exactly the
// writer's samples.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/access/EegOpenFileList.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosTestSupport.h"
#include "EegFile/winfile/WinFileTestSupport.h"
#include "Platform/Registry.h"
#include "StressSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Step {
    Create,     // current: Create; legacy: the writer (log, parameters, montage)
    Prepare,    // current: PrepareToWriteEeg
    Recording,  // current: the record status "recording", as the host sets it
    Ready,      // current: the record status "ready to read", before Close
    ThreadOn,   // current: the write thread on
    Start,      // current: StartRecording
    Write,      // samples: current, a chunk of any size; legacy, one second
    Event,      // a comment at the samples handed over so far
    Flush,      // current: FlushWriteBuffer (and Synchronize with the thread)
    NewFile,    // legacy: StartDataFile
    Stop,       // current: StopRecording
    Close,
};

struct Action {
    Step step;
    uint32_t frames = 0;  // Write: samples handed over
    uint32_t at = 0;      // samples handed over before the step
};

struct Plan {
    bool legacy = false;
    uint32_t rate = 200;
    int compression = Compression::AdaptiveDelta;
    int stored = 32;  // slots 0 .. stored-1 are recorded, the others read as 0
    uint32_t dataSeed = 0;
    bool thread = false;
    std::vector<Action> actions;
    size_t target = 0;  // the kill comes killAfter after the writer begins this step
    std::chrono::microseconds killAfter{0};
};

// The writer's sample of slot at offset n. Steps stay below 128 for the delta
// coding and below 16 for the legacy exponent coding, so every coding keeps the
// samples exactly; uncompressed, they take any value.
int16_t Expected(const Plan& p, uint32_t n, int slot) {
    if (slot >= p.stored)
        return 0;
    switch (p.compression) {
        case Compression::Uncompressed:
            return winfiletest::Sample(n, slot, false, p.dataSeed);
        case Compression::DeltaExponent:
            return static_cast<int16_t>(winfiletest::Sample(n, slot, true, p.dataSeed) / 8);
        default:
            return winfiletest::Sample(n, slot, true, p.dataSeed);
    }
}

std::string StepName(Step step) {
    const char* names[] = {"Create", "Prepare", "Recording", "Ready",   "ThreadOn", "Start",
                           "Write",  "Event",   "Flush",     "NewFile", "Stop",     "Close"};
    return names[static_cast<int>(step)];
}

std::string EventText(size_t step) {
    return "kill stress " + std::to_string(step);
}

std::vector<AmpInput::AmpInputType> Inputs(int count) {
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < count; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    return inputs;
}

// One in kThreadCycles current-format cycles records through the write thread.
// The thread writes once a second: those kills come up to 1.2 s after the
// writer begins its first flush, which waits for the thread's pass. The other
// kills come up to 0.3 ms or 3 ms after the writer begins a step drawn from all
// of them or, as often, from the steps other than writes (which are few and
// short, but each leaves the file in a state of its own).
constexpr unsigned kThreadCycles = 16;

Plan MakePlan(bool legacy, uint32_t seed, int cycle) {
    std::seed_seq seq{seed, static_cast<uint32_t>(cycle), legacy ? 1u : 0u};
    std::mt19937 rng(seq);
    const auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    Plan p;
    p.legacy = legacy;
    // The legacy delta coding packs at most 200 samples per channel and second.
    const uint32_t rates[] = {100, 200, 256};
    p.rate = rates[pick(legacy ? 2 : 3)];
    p.compression = legacy ? static_cast<int>(pick(3))
                           : (pick(2) ? Compression::AdaptiveDelta : Compression::Uncompressed);
    const int stored[] = {8, 19, 32};
    p.stored = stored[pick(3)];
    p.dataSeed = pick(1u << 20);
    p.thread = !legacy && pick(kThreadCycles) == 0;

    uint32_t handed = 0;
    const auto add = [&](Step step, uint32_t frames = 0) {
        p.actions.push_back({step, frames, handed});
        handed += frames;
    };
    // Long enough that most kills come while samples are written, short enough
    // that some writers finish first.
    const uint32_t seconds = 1 + pick(1500);
    add(Step::Create);
    if (legacy) {
        // Data file numbers end at 999.
        const uint32_t fileSeconds = std::max(1 + pick(30), seconds / 900 + 1);
        for (uint32_t s = 0; s < seconds; ++s) {
            if (s % fileSeconds == 0)
                add(Step::NewFile);
            if (pick(16) == 0)
                add(Step::Event);
            add(Step::Write, p.rate);
        }
    } else {
        add(Step::Prepare);
        add(Step::Recording);
        if (p.thread)
            add(Step::ThreadOn);
        const uint32_t runs = 1 + pick(3);
        const uint32_t total = seconds * p.rate;
        uint32_t sinceFlush = 0;
        for (uint32_t run = 0; run < runs; ++run) {
            add(Step::Start);
            const uint32_t end = run + 1 == runs ? total : handed + pick(total - handed + 1);
            while (handed < end) {
                const uint32_t frames = std::min(end - handed, 1 + pick(2 * p.rate));
                // With the thread the buffer (30 s at 200 Hz) is emptied only
                // once a second: a flush before it could overflow.
                if (p.thread && sinceFlush + frames > 10 * p.rate) {
                    add(Step::Flush);
                    sinceFlush = 0;
                }
                add(Step::Write, frames);
                sinceFlush += frames;
                if (pick(16) == 0)
                    add(Step::Event);
                if (pick(32) == 0)
                    add(Step::Flush);
            }
            add(Step::Stop);
        }
    }
    if (!legacy)
        add(Step::Ready);
    add(Step::Close);

    // EEGFILE_KILL_STEP (a step's name) aims every kill at steps of that kind.
    const char* only = std::getenv("EEGFILE_KILL_STEP");
    std::vector<size_t> candidates;
    for (size_t i = 0; i < p.actions.size(); ++i) {
        const Step step = p.actions[i].step;
        if (only       ? StepName(step) == only
            : p.thread ? step == Step::Flush || step == Step::Close
                       : step != Step::Write)
            candidates.push_back(i);
    }
    if (candidates.empty())  // a kind this plan does not have
        candidates.push_back(p.actions.size() - 1);
    if (p.thread || only || pick(2)) {
        p.target = candidates[0];
        if (!p.thread || only)
            p.target = candidates[pick(static_cast<uint32_t>(candidates.size()))];
    } else {
        p.target = pick(static_cast<uint32_t>(p.actions.size()));
    }
    p.killAfter = std::chrono::microseconds(p.thread ? pick(1200000) : pick(pick(2) ? 300 : 3000));
    return p;
}

// frames samples from offset first, as the writer makes them.
CEegDataChunk MakeChunk(const Plan& p, uint32_t first, uint32_t frames) {
    CEegDataChunk chunk(static_cast<int>(frames), 32);
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t* f = chunk.GetFrame(i);
        for (int s = 0; s < 32; ++s)
            f[s] = Expected(p, first + i, s);
    }
    chunk.SetNumberOfSamples(frames);
    return chunk;
}

// Where the writer has got to: steps [0, done) are finished, step begun - 1 may
// be under way. In memory shared with the writer child.
struct Progress {
    std::atomic<uint32_t> begun{0};
    std::atomic<uint32_t> done{0};
};

// Each writer calls atTarget as it begins the plan's target step.
void RecordCurrent(const Plan& p, const std::string& path, Progress& progress,
                   const std::function<void()>& atTarget) {
    CWinEegFile file;
    for (size_t i = 0; i < p.actions.size(); ++i) {
        const Action& a = p.actions[i];
        if (i == p.target)
            atTarget();
        progress.begun = static_cast<uint32_t>(i + 1);
        switch (a.step) {
            case Step::Create:
                file.Create(path.c_str());
                break;
            case Step::Prepare:
                file.PrepareToWriteEeg(p.rate,
                                       static_cast<Compression::CompressionType>(p.compression),
                                       dostest::AmpStoring(Inputs(p.stored)));
                break;
            case Step::Recording:
                file.SetRecordStatus(CPatientInfo::rsRecording, CPatientInfo::rsAny);
                break;
            case Step::Ready:
                file.SetRecordStatus(CPatientInfo::rsReadyToRead, CPatientInfo::rsAny);
                break;
            case Step::ThreadOn:
                file.SetWriteThreadOnOff(1);
                break;
            case Step::Start:
                file.StartRecording(
                    winfiletest::Time(2024, 7, 1, 9, 0, 0) +
                    COleDateTimeSpan(0, 0, 0, static_cast<int64_t>(a.at / p.rate + i)));
                break;
            case Step::Write: {
                CEegDataChunk chunk = MakeChunk(p, a.at, a.frames);
                file.WriteEegData(chunk);
                break;
            }
            case Step::Event:
                if (!file.AddEvent(new CCommentEvent(CEegTimeStamp(a.at), EventText(i).c_str())))
                    throw std::runtime_error("an event was refused");
                break;
            case Step::Flush:
                file.FlushWriteBuffer();
                if (p.thread)
                    file.Synchronize();
                break;
            case Step::Stop:
                file.StopRecording();
                break;
            case Step::Close:
                file.Close();
                break;
            default:
                break;
        }
        progress.done = static_cast<uint32_t>(i + 1);
    }
}

void RecordLegacy(const Plan& p, const std::string& path, Progress& progress,
                  const std::function<void()>& atTarget) {
    std::optional<CDosRecordingWriter> writer;
    for (size_t i = 0; i < p.actions.size(); ++i) {
        const Action& a = p.actions[i];
        if (i == p.target)
            atTarget();
        progress.begun = static_cast<uint32_t>(i + 1);
        switch (a.step) {
            case Step::Create:
                writer.emplace(path.c_str(), p.rate, p.compression,
                               dostest::AmpStoring(Inputs(p.stored)),
                               dostest::MontageOf(Inputs(p.stored)));
                break;
            case Step::NewFile:
                if (!writer->StartDataFile())
                    throw std::runtime_error("no data file could be started");
                break;
            case Step::Write: {
                const CEegDataChunk chunk = MakeChunk(p, a.at, a.frames);
                if (!writer->WriteSecond(chunk.GetData()))
                    throw std::runtime_error("a second could not be written");
                break;
            }
            case Step::Event: {
                const CCommentEvent comment(CEegTimeStamp(a.at), EventText(i).c_str());
                const CEegEvent* events[] = {&comment};
                writer->WriteEvents(events, 1);
                break;
            }
            case Step::Close:
                writer->Close();
                break;
            default:
                break;
        }
        progress.done = static_cast<uint32_t>(i + 1);
    }
}

// What the plan promises once steps [0, done) are finished and step begun - 1
// may have been under way.
struct Promise {
    bool prepared = false;   // the file must open
    bool recording = false;  // the status "recording" was stored and not yet put back
    bool listed = false;     // in the station's open-file list (from Create until Close)
    uint32_t committedSeconds = 0, handedSeconds = 0;
    std::vector<size_t> committedEvents, begunEvents;  // the steps of the events
};

Promise PromiseOf(const Plan& p, uint32_t done, uint32_t begun) {
    Promise r;
    for (uint32_t i = 0; i < begun; ++i) {
        const Action& a = p.actions[i];
        const bool finished = i < done;
        const uint32_t after = (a.at + a.frames) / p.rate;
        r.handedSeconds = std::max(r.handedSeconds, after);
        if (a.step == Step::Event)
            (finished ? r.committedEvents : r.begunEvents).push_back(i);
        if (!finished)
            continue;
        const bool commits = p.legacy ? a.step == Step::Write || a.step == Step::Close
                                      : a.step == Step::Flush || a.step == Step::Stop ||
                                            a.step == Step::Close ||
                                            (a.step == Step::Write && !p.thread);
        if (commits)
            r.committedSeconds = (a.at + a.frames) / p.rate;
        if (a.step == (p.legacy ? Step::Create : Step::Prepare))
            r.prepared = true;
        if (a.step == Step::Recording)
            r.recording = true;
        if (a.step == Step::Ready)
            r.recording = false;
        if (a.step == Step::Create)
            r.listed = true;
        if (a.step == Step::Close)
            r.listed = false;
    }
    // A Close under way may have taken the entry out already; a status change
    // under way may have stored the new status already.
    if (begun > done && p.actions[done].step == Step::Close)
        r.listed = false;
    if (begun > done && p.actions[done].step == Step::Recording)
        r.recording = false;
    r.begunEvents.insert(r.begunEvents.begin(), r.committedEvents.begin(), r.committedEvents.end());
    return r;
}

// What a kill may leave in a file besides its data, as the check words it: the
// growth for a section whose header (or trailer) was not written yet, a section
// not yet linked to its stream, a stream not yet in the directory, a run without
// its end. Anything else the check finds is damage.
constexpr const char* kCrashRemnants[] = {
    "bytes of zeros after the last section",
    "on no stream's chain",
    "not in the directory",
    "the trailer does not match",
    "was being created when its writer stopped",
    "a rewrite its writer did not finish",
    "writer stopped",  // an incomplete event; the legacy format's partial second, unlisted file
    "recording interrupted",
};
std::map<std::string, int> g_remnants;  // how often each was found

// The file-level check of a reopened recording (the structures; the samples and
// events are compared by CheckCycle).
void CheckReopenedFile(const std::string& path, bool prepared) {
    for (const CEegFileProblem& p : CEegFile::CheckFile(path.c_str(), 0)) {
        const std::string what = p.m_what.GetString();
        // A writer killed while creating or preparing the file had not made its
        // streams or its directory yet: the file need not be a recording.
        if (!prepared) {
            ++g_remnants["anything (killed before the file was prepared)"];
            continue;
        }
        const auto* kind =
            std::find_if(std::begin(kCrashRemnants), std::end(kCrashRemnants),
                         [&](const char* k) { return what.find(k) != std::string::npos; });
        if (kind == std::end(kCrashRemnants))
            ADD_FAILURE() << "check: " << p.m_where.GetString() << ": " << what;
        else
            ++g_remnants[*kind];
    }
}

// Totals of one format's run, printed as figures.
struct Totals {
    int cycles = 0, whileWriting = 0, beforePrepared = 0, unopenedBeforePrepared = 0;
    int thread = 0, failed = 0;
    uint64_t committedSeconds = 0, storedSeconds = 0;
    std::map<std::string, int> killedIn;  // the step under way, or where the writer stood
};

// The first mismatch of stored second s against the plan, or "".
std::string CompareSecond(const Plan& p, CEegFile& file, uint32_t s, CEegDataChunk& chunk) {
    file.SetReadPosition(CEegTimeStamp(s * p.rate));
    if (file.ReadEegData(chunk, p.rate) != 1 || chunk.GetNumberOfSamples() != p.rate)
        return "second " + std::to_string(s) + " does not read whole";
    for (uint32_t i = 0; i < p.rate; ++i) {
        const int16_t* f = chunk.GetFrame(i);
        for (int slot = 0; slot < 32; ++slot) {
            const int16_t want = Expected(p, s * p.rate + i, slot);
            if (f[slot] != want)
                return "second " + std::to_string(s) + " sample " + std::to_string(i) + " slot " +
                       std::to_string(slot) + ": " + std::to_string(f[slot]) + " instead of " +
                       std::to_string(want);
        }
    }
    return "";
}

// A restarted recording station cleans up what its killed program left open:
// each file of its open-file list, then the list. Returns whether path was
// listed; what the clean-up of path threw goes to failure.
bool CleanUpAsRecorder(const std::string& path, std::string& failure) {
    ::setenv("COMPUTERNAME", "RECORDER", 1);
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Load();
    bool listed = false;
    for (int i = 0; i < list.GetCount(); ++i) {
        const bool mine = path == list.GetFileName(i).GetString();
        listed = listed || mine;
        try {
            int wasWriting = 0;
            CEegFile::CleanUpOpenFile(list.GetFileName(i), list.GetFileStatus(i),
                                      list.GetQmFileId(i), wasWriting);
        } catch (CException* e) {
            if (mine)
                failure = e->GetErrorText().str();
            e->Delete();
        }
    }
    list.RemoveAll();
    list.Store();
    return listed;
}

// Reopens the killed writer's recording and checks it against the plan.
void CheckCycle(const Plan& p, const std::string& path, const Promise& promise, Totals& totals) {
    if (!p.legacy) {
        std::string failure;
        const bool listed = CleanUpAsRecorder(path, failure);
        EXPECT_TRUE(listed || !promise.listed)
            << "a created recording is not in the open-file list";
        // A file killed before it was prepared need not be a recording yet.
        EXPECT_TRUE(failure.empty() || !promise.prepared) << "the clean-up failed: " << failure;
        CPatientInfo::RecordStatus status = CPatientInfo::rsUnknown;
        if (promise.recording) {
            try {
                EXPECT_EQ(CEegFile::GetRecordStatus(path.c_str(), status), 1);
                EXPECT_EQ(status, CPatientInfo::rsReadyToRead) << "the clean-up left the status";
            } catch (CException* e) {
                ADD_FAILURE() << "the record status does not read: " << e->GetErrorText().str();
                e->Delete();
            }
        }
    }
    ::setenv("COMPUTERNAME", "REVIEWER", 1);
    std::unique_ptr<CEegFile> file;
    if (p.legacy)
        file = std::make_unique<CDosEegFile>();
    else
        file = std::make_unique<CWinEegFile>();
    try {
        file->Open(path.c_str(), 0);
    } catch (CException* e) {
        const std::string text = e->GetErrorText().str();
        e->Delete();
        if (promise.prepared)
            ADD_FAILURE() << "the recording does not open: " << text;
        else
            ++totals.unopenedBeforePrepared;
        return;
    }

    const uint32_t stored =
        p.legacy ? file->GetLengthInSeconds()
                 : static_cast<CWinEegFile&>(*file).GetStreamIndex().GetStoredSeconds();
    totals.storedSeconds += stored;
    EXPECT_GE(stored, promise.committedSeconds) << "committed seconds are missing";
    EXPECT_LE(stored, promise.handedSeconds) << "more seconds than were handed over";
    CEegDataChunk chunk(static_cast<int>(p.rate), 32);
    for (uint32_t s = 0; s < stored; ++s) {
        const std::string bad = CompareSecond(p, *file, s, chunk);
        if (!bad.empty()) {
            ADD_FAILURE() << bad << " (" << stored << " seconds stored)";
            break;
        }
    }

    CEegEventList all;
    file->GetEventList(all, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                       CEegTimeStamp::NullStamp, 0, 0);
    std::vector<std::pair<uint32_t, std::string>> found;
    uint32_t lastOffset = 0;
    for (int i = 0; i < all.GetSize(); ++i) {
        const CEegEvent* e = all.GetAt(i);
        lastOffset = std::max(lastOffset, e->GetTimeStamp().GetSampleOffset());
        if (e->GetEventType() == CEegEvent::etComment)
            found.emplace_back(e->GetTimeStamp().GetSampleOffset(),
                               static_cast<const CCommentEvent*>(e)->GetComment());
    }
    // The events found are the plan's first ones, at least those committed.
    std::sort(found.begin(), found.end());
    std::vector<std::pair<uint32_t, std::string>> wanted;
    for (size_t k = 0; k < found.size() && k < promise.begunEvents.size(); ++k) {
        const size_t step = promise.begunEvents[k];
        wanted.emplace_back(p.actions[step].at, EventText(step));
    }
    std::sort(wanted.begin(), wanted.end());
    EXPECT_GE(found.size(), promise.committedEvents.size()) << "committed events are missing";
    EXPECT_LE(found.size(), promise.begunEvents.size()) << "events that were never added";
    EXPECT_EQ(found, wanted);

    if (!p.legacy) {
        // A last event beyond the stored seconds sets the length; those seconds
        // read as zeros.
        EXPECT_EQ(file->GetLengthInSamples(), std::max(stored * p.rate, lastOffset));
        const uint32_t length = file->GetLengthInSamples();
        file->SetReadPosition(CEegTimeStamp(stored * p.rate));
        for (uint32_t n = stored * p.rate; n < length; n += chunk.GetNumberOfSamples()) {
            if (file->ReadEegData(chunk, std::min(p.rate, length - n)) != 1 ||
                chunk.GetNumberOfSamples() == 0) {
                ADD_FAILURE() << "sample " << n << " beyond the stored seconds does not read";
                break;
            }
            const int16_t* f = chunk.GetData();
            if (std::any_of(f, f + 32 * chunk.GetNumberOfSamples(),
                            [](int16_t v) { return v != 0; })) {
                ADD_FAILURE() << "samples from " << n << " beyond the stored seconds are not zeros";
                break;
            }
        }
    } else {
        EXPECT_EQ(file->GetLengthInSamples(), stored * p.rate);
    }
    CheckReopenedFile(path, promise.prepared);
    file->Close();
    if (!p.legacy) {
        const std::string control = path.substr(0, path.size() - 4) + ".$co";
        EXPECT_FALSE(std::filesystem::exists(control)) << "entries are left in the control file";
    }
}

// EEGFILE_STRESS_KEEP (a folder): the files of a failed cycle are copied there,
// with their state as the kill left them in as-killed/.
void KeepAsKilled(const testsupport::TempDir& dir) {
    if (!std::getenv("EEGFILE_STRESS_KEEP"))
        return;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files.push_back(e.path());
    std::filesystem::create_directory(dir.path() / "as-killed");
    for (const auto& f : files)
        std::filesystem::copy(f, dir.path() / "as-killed" / f.filename());
}

void KeepForStudy(const testsupport::TempDir& dir, const std::string& name) {
    const char* keep = std::getenv("EEGFILE_STRESS_KEEP");
    if (!keep)
        return;
    std::error_code ec;
    std::filesystem::copy(dir.path(), std::filesystem::path(keep) / name,
                          std::filesystem::copy_options::recursive, ec);
    std::printf("kept %s/%s%s\n", keep, name.c_str(), ec ? (": " + ec.message()).c_str() : "");
}

// The failed checks of the running test so far.
int Failures() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

Progress& SharedProgress() {
    static Progress* shared = [] {
        void* m = ::mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED)
            throw std::runtime_error("mmap");
        return new (m) Progress;
    }();
    return *shared;
}

void RunCycles(bool legacy) {
    const char* format = legacy ? "legacy" : "current";
    const uint32_t seed = stress::Seed();
    const int cycles = stress::Scaled(1000);
    if (!legacy)
        SetAppRegistryKey("EegFile stress", "WriterKill");
    Progress& progress = SharedProgress();
    Totals totals;
    int failuresBefore = Failures();
    const Clock::time_point t0 = Clock::now();
    for (int cycle = 0; cycle < cycles && totals.failed < 10; ++cycle) {
        if (stress::OnlyCycle() >= 0 && cycle != stress::OnlyCycle())
            continue;
        SCOPED_TRACE(std::string(format) + " cycle " + std::to_string(cycle) + " (replay: --seed " +
                     std::to_string(seed) + " --cycle " + std::to_string(cycle) + ")");
        const Plan plan = MakePlan(legacy, seed, cycle);
        testsupport::TempDir dir;
        const std::string path = dir.File(legacy ? "rec.LOG" : "rec.eeg");
        progress.begun = 0;
        progress.done = 0;
        accesstest::Child writer("RECORDER", [&](accesstest::Child& self) {
            const int32_t started = 1;
            self.Send(started);
            const auto atTarget = [&] {
                const int32_t reached = 2;
                self.Send(reached);
            };
            try {
                legacy ? RecordLegacy(plan, path, progress, atTarget)
                       : RecordCurrent(plan, path, progress, atTarget);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "writer: %s\n", e.what());
                return 92;
            }
            // Done before the kill: wait for it.
            int32_t never = 0;
            self.Receive(never);
            return 0;
        });
        // The writer has started, then reached the target (unless it failed first).
        int32_t message = 0;
        ASSERT_TRUE(writer.Receive(message));
        // A sleep, not a spin: on a busy machine the writer needs the core.
        if (writer.Receive(message))
            std::this_thread::sleep_for(plan.killAfter);
        // A writer that failed on its own (its message is on stderr) ended with a code.
        EXPECT_EQ(writer.Kill(), -1) << "the writer ended by itself";
        KeepAsKilled(dir);
        const uint32_t done = progress.done, begun = progress.begun;
        const Promise promise = PromiseOf(plan, done, begun);
        SCOPED_TRACE("killed with " + std::to_string(done) + " of " +
                     std::to_string(plan.actions.size()) + " steps done" +
                     (begun > done ? ", in step " + StepName(plan.actions[done].step) : ""));

        ++totals.cycles;
        totals.whileWriting += done < plan.actions.size();
        ++totals.killedIn[begun > done                  ? StepName(plan.actions[done].step)
                          : done == plan.actions.size() ? "(finished)"
                                                        : "(between steps)"];
        totals.beforePrepared += !promise.prepared;
        totals.thread += plan.thread;
        totals.committedSeconds += promise.committedSeconds;
        try {
            CheckCycle(plan, path, promise, totals);
        } catch (CException* e) {
            ADD_FAILURE() << "reopened, the recording fails: " << e->GetErrorText().str();
            e->Delete();
        }
        const int failures = Failures();
        totals.failed += failures > failuresBefore;
        if (failures > failuresBefore)
            KeepForStudy(dir, std::string(format) + "-cycle-" + std::to_string(cycle));
        failuresBefore = failures;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (totals.failed >= 10)
        std::printf("stopped after %d failed cycles\n", totals.failed);
    const std::string f = std::string(format) + " format: ";
    stress::Figure(f + "kills", totals.cycles, "");
    stress::Figure(f + "kills before the writer finished", totals.whileWriting, "");
    stress::Figure(f + "kills before the file was prepared", totals.beforePrepared, "");
    stress::Figure(f + "of those, files that did not open", totals.unopenedBeforePrepared, "");
    std::string steps;
    for (const auto& [step, count] : totals.killedIn)
        steps += (steps.empty() ? "" : ", ") + step + " " + std::to_string(count);
    std::printf("figure: %skills by the step under way: %s\n", f.c_str(), steps.c_str());
    if (!legacy)
        stress::Figure(f + "cycles with the write thread", totals.thread, "");
    stress::Figure(f + "seconds promised", static_cast<double>(totals.committedSeconds), "");
    stress::Figure(f + "seconds stored and compared", static_cast<double>(totals.storedSeconds),
                   "");
    stress::Figure(f + "time", seconds, "s");
    for (const auto& [kind, count] : g_remnants)
        std::printf("figure: %scheck found \"%s\" %d times\n", f.c_str(), kind.c_str(), count);
    g_remnants.clear();
}

}  // namespace

TEST(WriterKillStress, CurrentFormat) {
    RunCycles(false);
}

TEST(WriterKillStress, LegacyFormat) {
    RunCycles(true);
}
