// eegfile simulate OUT [--minutes M] [--rate R] [--channels N] [--compression 0|1|2]
//                      [--seed S] [--speed F] [--file-seconds N] [--force]
//
// Records a synthetic EEG through the same calls an acquisition program makes:
// create, patient record, prepare, write thread, two recording runs with a
// pause, samples in 100 ms chunks, and the events a technician's session
// leaves (montage, filters, sensitivity, paper speed, comments, bookmark,
// photic run, impedance check). An OUT whose last extension is ".LOG" is written
// as a legacy recording instead: a log and numbered data files of --file-seconds,
// through the legacy format's writer, with the same samples and events.
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegBase/EegMontage.h"
#include "EegBase/ImpedanceValues.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosRecordingWriter.h"
#include "EegFile/events/Events.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/WinEegFile.h"
#include "tools/SimSignal.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

// SIGINT and SIGTERM end the simulation early with the recording closed as
// it stands, so no station entry is left behind in its control file.
volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
    g_interrupted = 1;
}

struct Args {
    std::string path;
    eegsim::Options options;
    double speed = 0;
    uint32_t fileSeconds = 3600;  // legacy: the length of each data file
    bool force = false;
};

CEegMontage MakeMontage(int channels) {
    using namespace AmpInput;
    struct Pair {
        AmpInputType act, ref;
    };
    static const Pair kBanana[] = {{Fp1, F7}, {F7, T3}, {T3, T5},  {T5, O1}, {Fp2, F8}, {F8, T4},
                                   {T4, T6},  {T6, O2}, {Fp1, F3}, {F3, C3}, {C3, P3},  {P3, O1},
                                   {Fp2, F4}, {F4, C4}, {C4, P4},  {P4, O2}, {Fz, Cz},  {Cz, Pz}};
    CEegMontage montage("Longitudinal bipolar");
    int position = 0;
    auto add = [&](AmpInputType act, AmpInputType ref, const std::string& label) {
        CTraceInfo trace(label.c_str(), act, ref);
        trace.SetSensitivity(7);
        trace.SetHighCut(70);
        trace.SetLowCut(1);
        trace.SetLinkedFlag(1);
        montage.SetTraceInfo(position++, trace);
    };
    for (const Pair& p : kBanana)
        if (p.act < channels && p.ref < channels)
            add(p.act, p.ref, std::string(GetName(p.act)) + "-" + GetName(p.ref));
    if (position == 0) {
        montage.SetName("Referential");
        for (int s = 0; s < channels && s < 32; ++s)
            add(static_cast<AmpInputType>(s), Ref, std::string(GetName(s)) + "-Ref");
    }
    return montage;
}

CPatientInfo MakePatient(uint32_t seed) {
    CPatientInfo p;
    p.SetLastName("Simulated");
    p.SetFirstName("Alex");
    char id[32];
    std::snprintf(id, sizeof id, "SIM-%05u", seed % 100000);
    p.SetPatientId(id);
    p.SetPhysician("Dr. Example");
    p.SetTechnician("Synthetic");
    p.SetComments("Synthetic recording made by eegfile simulate");
    p.SetSex(CPatientInfo::sexFemale);
    p.SetBirthDate(COleDateTime(1980, 5, 17, 0, 0, 0).m_dt);
    p.SetRecordDate(COleDateTime::GetCurrentTime().m_dt);
    p.SetRecordStatus(CPatientInfo::rsRecording);
    return p;
}

// One scheduled event: made when the recording reaches its offset.
struct Scheduled {
    uint32_t at;
    std::function<CEegEvent*()> make;
};

std::vector<Scheduled> MakeSchedule(const eegsim::Plan& plan, const CEegMontage& montage) {
    std::vector<Scheduled> s;
    auto comment = [&](uint32_t at, const char* text) {
        s.push_back({at, [at, text] { return new CCommentEvent(at, text, 5); }});
    };
    s.push_back({0, [montage] { return new CMontageEvent(0, &montage); }});
    s.push_back({0, [] { return new CLinkedHighcutEvent(0, 70); }});
    s.push_back({0, [] { return new CLinkedLowcutEvent(0, 1); }});
    s.push_back({0, [] { return new CLinkedSensitivityEvent(0, 7); }});
    s.push_back({0, [] { return new CSpeedEvent(0, 30); }});
    s.push_back({0, [] { return new CNotchEvent(0, 1, 50); }});
    s.push_back({0, [] { return new CRecordingRefEvent(0, AmpInput::CRef); }});
    comment(0, eegsim::EyesOpen(plan, 0) ? "Eyes open" : "Eyes closed");
    for (size_t i = 0; i < plan.eyesOpen.size(); ++i) {
        if (plan.eyesOpen[i].from > 0)
            comment(plan.eyesOpen[i].from, "Eyes open");
        if (plan.eyesOpen[i].to < plan.totalSamples)
            comment(plan.eyesOpen[i].to, "Eyes closed");
    }
    const uint32_t sens = plan.sensitivityChange, low = plan.lowCutChange;
    const uint32_t high = plan.highCutChange, speed = plan.speedChange;
    s.push_back({sens, [sens] { return new CLinkedSensitivityEvent(sens, 10); }});
    s.push_back({low, [low] { return new CLinkedLowcutEvent(low, 0.5); }});
    s.push_back({high, [high] { return new CLinkedHighcutEvent(high, 35); }});
    s.push_back({speed, [speed] { return new CSpeedEvent(speed, 15); }});
    const uint32_t trace = plan.traceChange;
    CTraceInfo changed = montage.GetTraceInfo(0);
    changed.SetSensitivity(15);
    s.push_back({trace, [trace, changed] { return new CTraceInfoEvent(trace, 0, &changed); }});
    const eegsim::Span mark = plan.bookmark;
    s.push_back({mark.from, [mark] {
                     auto* b = new CBookmarkEvent(mark.from, mark.to, "Sharp transient, review");
                     b->SetLinkedSens(5);
                     return b;
                 }});
    comment(plan.photicRun.from, "Photic stimulation");
    const uint32_t runFrom = plan.photicRun.from, runTo = plan.photicRun.to;
    s.push_back({runFrom, [runFrom] { return new CFlashRunEvent(runFrom, 0, 1, 0); }});
    for (const eegsim::PhoticBlock& b : plan.photic)
        s.push_back({b.span.from, [b] { return new CFlashRateEvent(b.span.from, b.hz); }});
    s.push_back({runTo, [runTo] { return new CFlashRunEvent(runTo, 0, 0, 0); }});
    // The impedance check happens in the pause, before the second run.
    const uint32_t second = plan.secondRunStart;
    const int channels = plan.options.channels;
    const uint32_t seed = plan.options.seed;
    s.push_back({second, [second, channels, seed] {
                     CImpedanceValues values;
                     std::vector<AmpInput::AmpInputType> inputs;
                     for (int k = 0; k < channels && k < 32; ++k) {
                         const auto in = static_cast<AmpInput::AmpInputType>(k);
                         inputs.push_back(in);
                         values.SetImpedance(in, 2.0 + static_cast<double>((seed + 7u * k) % 9));
                     }
                     const CAmpInputDomain domain(inputs.data(), static_cast<int>(inputs.size()));
                     return new CImpedanceEvent(second, &values, &domain, AmpInput::CRef);
                 }});
    comment(second, "Recording resumed after impedance check");
    std::stable_sort(s.begin(), s.end(),
                     [](const Scheduled& a, const Scheduled& b) { return a.at < b.at; });
    return s;
}

// Adds the event; a refusal of the library ends the simulation.
void Add(CEegFile& file, CEegEvent* event) {
    file.AddEvent(event);
}

void AddRecordEvent(CEegFile& file, uint32_t at, int recording, const COleDateTime& when) {
    const CTKTime time(when);
    Add(file, new CRecordEvent(at, recording, &time));
}

// The record events of the two runs and the pause: (sample, recording, time).
struct RecordMark {
    uint32_t at;
    int recording;
    COleDateTime when;
};

// A legacy recording: the log's parameter lines and montage, then second by
// second the data and the events the second reaches, through the legacy writer.
int RunLegacy(const Args& args, const eegsim::Plan& plan, const CEegMontage& montage,
              const std::vector<Scheduled>& schedule) {
    const eegsim::Options& o = args.options;
    if (args.fileSeconds < 1)
        throw UsageError("--file-seconds: at least 1");
    CAmpHardwareInfo amp;
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < o.channels; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    amp.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    CDosRecordingWriter writer(args.path.c_str(), o.rate, o.compression, amp, montage);
    // The patient record stands where the site keeps legacy records: its patient
    // database, else the patient file beside the log.
    CPatientInfo patient = MakePatient(o.seed);
    CDosEegFile::SetPatientInfo(args.path.c_str(), patient, 1);
    std::printf(
        "recording %s (legacy): %u s at %d samples/s, %d channels, storage mode %d, "
        "data files of %u s, seed %u\n",
        args.path.c_str(), plan.totalSeconds, o.rate, o.channels, o.compression, args.fileSeconds,
        o.seed);
    std::fflush(stdout);

    const uint32_t rate = static_cast<uint32_t>(o.rate);
    COleDateTime runStart = COleDateTime::GetCurrentTime();
    const COleDateTime stopped =
        runStart + COleDateTimeSpan(0, 0, 0, static_cast<int64_t>(plan.secondRunStart / rate));
    const COleDateTime resumed = stopped + COleDateTimeSpan(0, 0, 0, plan.pauseSeconds);
    const COleDateTime end =
        resumed + COleDateTimeSpan(0, 0, 0, (plan.totalSamples - plan.secondRunStart) / rate);
    const RecordMark records[] = {{0, 1, runStart},
                                  {plan.secondRunStart, 0, stopped},
                                  {plan.secondRunStart, 1, resumed},
                                  {plan.totalSamples, 0, end}};
    size_t nextRecord = 0, next = 0;
    std::vector<std::unique_ptr<CEegEvent>> due;
    const auto writeDue = [&](uint32_t before, bool all) {
        due.clear();
        // Record events first at their offset, as the current format's run starts.
        while (nextRecord < std::size(records) && (all || records[nextRecord].at < before)) {
            const RecordMark& r = records[nextRecord++];
            const CTKTime time(r.when);
            due.push_back(std::make_unique<CRecordEvent>(r.at, r.recording, &time));
        }
        while (next < schedule.size() && (all || schedule[next].at < before)) {
            std::unique_ptr<CEegEvent> e(schedule[next++].make());
            // The writer put the montage at 0 with the log's parameters already.
            if (e->GetEventType() != CEegEvent::etMontage || e->GetTimeStamp() != CEegTimeStamp(0))
                due.push_back(std::move(e));
        }
        std::vector<const CEegEvent*> events;
        for (const auto& e : due)
            events.push_back(e.get());
        if (!events.empty())
            writer.WriteEvents(events.data(), static_cast<int>(events.size()));
    };

    CEegDataChunk chunk(static_cast<int>(rate), 32);
    Progress progress("simulate");
    const auto wallStart = std::chrono::steady_clock::now();
    uint32_t second = 0;
    for (; second < plan.totalSeconds && !g_interrupted; ++second) {
        const uint32_t n = second * rate;
        writeDue(n + rate, false);
        if (second % args.fileSeconds == 0 && !writer.StartDataFile())
            throw ToolError("no further data file can be started (file list full or number 999)");
        eegsim::FillChunk(plan, n, rate, chunk);
        if (args.speed > 0) {
            const auto at = wallStart + std::chrono::duration<double>(n / (o.rate * args.speed));
            std::this_thread::sleep_until(at);
        }
        if (!writer.WriteSecond(chunk.GetData()))
            throw ToolError("a second could not be stored at this rate and storage mode");
        progress.Update(static_cast<double>(second + 1) / plan.totalSeconds);
    }
    if (!g_interrupted)
        writeDue(0, true);
    writer.Close();
    CDosEegFile::SetRecordStatus(args.path.c_str(), CPatientInfo::rsReadyToRead,
                                 CPatientInfo::rsAny, nullptr);
    progress.Done();
    if (g_interrupted)
        throw ToolError("interrupted; the recording holds the first " + std::to_string(second) +
                        " s");
    std::printf("done: %u samples (%s)\n", plan.totalSamples, HhMmSs(plan.totalSeconds).c_str());
    return kExitOk;
}

int Run(const Args& args) {
    const eegsim::Options& o = args.options;
    if (!(o.minutes > 0) || o.minutes > 24 * 60)
        throw UsageError("--minutes: more than 0 and at most 1440");
    SetSubject(args.path);
    const bool legacy = CEegFile::IsDosRecordingPath(args.path.c_str());
    if (!legacy && o.compression == Compression::DeltaExponent)
        throw UsageError("--compression 1 exists only in legacy recordings (.LOG)");
    struct stat st;
    if (::stat(args.path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || !args.force))
        throw ToolError(S_ISDIR(st.st_mode) ? "is a folder" : "exists (use --force to replace it)");

    const eegsim::Plan plan = eegsim::MakePlan(o);
    const CEegMontage montage = MakeMontage(o.channels);
    const std::vector<Scheduled> schedule = MakeSchedule(plan, montage);

    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    if (legacy)
        return RunLegacy(args, plan, montage, schedule);

    // Failures of the write thread come back here and end the run at once: a
    // recording that goes on after a lost second would store a hole where the
    // data should be, and events past anything stored.
    std::mutex failureLock;
    std::string threadFailure;
    CVoidCall1ArgFn<CException*> onThreadFailure([&](CException* e) {
        std::lock_guard lock(failureLock);
        if (threadFailure.empty())
            threadFailure = e->GetErrorText().str();
    });
    const auto writeFailed = [&] {
        std::lock_guard lock(failureLock);
        return !threadFailure.empty();
    };

    CWinEegFile file;
    file.Create(args.path.c_str());
    file.SetPatientInfo(MakePatient(o.seed), 1);
    CAmpHardwareInfo amp;
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < o.channels; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    amp.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    file.PrepareToWriteEeg(o.rate, static_cast<Compression::CompressionType>(o.compression), amp);
    std::printf("recording %s: %u s at %d samples/s, %d channels, compression %d, seed %u\n",
                args.path.c_str(), plan.totalSeconds, o.rate, o.channels, o.compression, o.seed);
    std::fflush(stdout);

    file.SetWriteThreadExceptionCallBack(onThreadFailure);
    file.SetWriteThreadOnOff(1);
    COleDateTime runStart = COleDateTime::GetCurrentTime();
    file.StartRecording(runStart);
    AddRecordEvent(file, 0, 1, runStart);

    const uint32_t rate = static_cast<uint32_t>(o.rate);
    const uint32_t step = std::max<uint32_t>(1, rate / 10);
    CEegDataChunk chunk(static_cast<int>(step), 32);
    Progress progress("simulate");
    const auto wallStart = std::chrono::steady_clock::now();
    size_t next = 0;
    bool secondRun = false;
    uint32_t n = 0;
    while (n < plan.totalSamples && !g_interrupted && !writeFailed()) {
        if (!secondRun && n >= plan.secondRunStart) {
            // The pause: the run stops, the clock moves on, the next run starts
            // with sample numbers continuing.
            secondRun = true;
            file.StopRecording();
            const COleDateTime stopped =
                runStart + COleDateTimeSpan(0, 0, 0, static_cast<int64_t>(n / rate));
            AddRecordEvent(file, n, 0, stopped);
            runStart = stopped + COleDateTimeSpan(0, 0, 0, plan.pauseSeconds);
            file.StartRecording(runStart);
            AddRecordEvent(file, n, 1, runStart);
        }
        uint32_t count = std::min(step, plan.totalSamples - n);
        if (!secondRun)
            count = std::min(count, plan.secondRunStart - n);
        while (next < schedule.size() && schedule[next].at < n + count)
            Add(file, schedule[next++].make());

        eegsim::FillChunk(plan, n, count, chunk);
        if (args.speed > 0) {
            const auto due = wallStart + std::chrono::duration<double>(n / (o.rate * args.speed));
            std::this_thread::sleep_until(due);
        }
        try {
            file.WriteEegData(chunk);
        } catch (CException* e) {
            auto* full = dynamic_cast<CEegFileException*>(e);
            if (!full || full->GetErrorCode() != CEegFileException::eWriteBufferOverflow)
                throw;
            // The thread is behind: let it write, then offer the chunk again.
            e->Delete();
            file.FlushWriteBuffer();
            file.WriteEegData(chunk);
        }
        n += count;
        progress.Update(static_cast<double>(n) / plan.totalSamples);
    }
    file.StopRecording();
    // After a failed write the recording ends where its data does; a partial
    // second (only after an interruption or a failure) is not stored.
    if (writeFailed())
        n = std::min(n, file.GetLengthInSamples());
    n -= n % rate;
    const uint32_t runFirst = secondRun ? plan.secondRunStart : 0;
    const COleDateTime end = runStart + COleDateTimeSpan(0, 0, 0, (n - runFirst) / rate);
    AddRecordEvent(file, n, 0, end);
    file.SetWriteThreadOnOff(0);
    file.SetRecordStatus(CPatientInfo::rsReadyToRead, CPatientInfo::rsAny);
    file.Close();
    progress.Done();
    {
        std::lock_guard lock(failureLock);
        if (!threadFailure.empty())
            throw ToolError(threadFailure);
    }
    if (g_interrupted)
        throw ToolError("interrupted; the recording holds the first " + std::to_string(n / rate) +
                        " s");
    std::printf("done: %u samples (%s)\n", plan.totalSamples, HhMmSs(plan.totalSeconds).c_str());
    return kExitOk;
}

}  // namespace

void AddSimulateCommand(CLI::App& app, Action& action) {
    auto args = std::make_shared<Args>();
    CLI::App* cmd = app.add_subcommand("simulate", "Record a synthetic EEG with events");
    cmd->add_option("OUT", args->path, "Recording to create")->required();
    cmd->add_option("--minutes", args->options.minutes, "Length in minutes (default 10)");
    cmd->add_option("--rate", args->options.rate, "Samples per second (default 200)")
        ->check(CLI::Range(50, 400));
    cmd->add_option("--channels", args->options.channels, "Stored channels (default 32)")
        ->check(CLI::Range(1, 32));
    cmd->add_option("--compression", args->options.compression,
                    "0 plain, 2 delta coded, or (legacy only) 1 exponent delta coded")
        ->check(CLI::IsMember({0, 1, 2}));
    cmd->add_option("--file-seconds", args->fileSeconds,
                    "Legacy recordings (OUT.LOG): seconds per data file (default 3600)");
    cmd->add_option("--seed", args->options.seed, "Seed of the signal (default 1)");
    cmd->add_option("--speed", args->speed,
                    "Write at this many times real time (default 0: as fast as possible)")
        ->check(CLI::Range(0.0, 1000.0));
    cmd->add_flag("--force", args->force, "Replace an existing file");
    cmd->callback([args, &action] { action = [args] { return Run(*args); }; });
}

}  // namespace eegtool
