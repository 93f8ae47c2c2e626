// eegfile follow FILE [--interval MS] [--max-seconds S] [--until-length SAMPLES]
//
// Prints the events and the growing length of a recording that another station
// is writing, until SIGINT or SIGTERM (or one of the limits) ends it; the
// recording is then closed as any reader closes it.
#include <csignal>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <tuple>

#include <CLI/CLI.hpp>

#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

struct Args {
    std::string path;
    int intervalMs = 500;
    double maxSeconds = 0;
    int64_t untilLength = -1;
};

int Run(const Args& args) {
    SetSubject(args.path);
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    file->SetLiveModeUpdate(1);
    std::printf("following %s at %g samples/s\n", args.path.c_str(), file->GetSampleRate());
    std::fflush(stdout);

    // Events already shown, by position, type and text: a reload of the list
    // (after another station removed one) shows nothing twice.
    using Key = std::tuple<uint32_t, int, std::string>;
    std::map<Key, int> shown;
    int64_t lastLength = -1;
    const auto start = std::chrono::steady_clock::now();
    const double rate = file->GetSampleRate();
    while (true) {
        file->Synchronize();
        CEegEventList events;
        file->GetEventList(events, CEegEventMask(), CEegTimeStamp::NullStamp,
                           CEegTimeStamp::NullStamp, 0, 0);
        std::map<Key, int> seen;
        for (int i = 0; i < events.GetSize(); ++i) {
            const CEegEvent* e = events.GetAt(i);
            const std::string text = e->AsString(file.get()).str();
            const Key key(e->GetTimeStamp().GetSampleOffset(), e->GetEventType(), text);
            if (++seen[key] > shown[key]) {
                std::printf("event %s: %s\n", EventTypeName(e->GetEventType()), text.c_str());
                shown[key] = seen[key];
            }
        }
        const int64_t length = file->GetLengthInSamples();
        if (length != lastLength) {
            lastLength = length;
            std::printf("length %lld samples, %s\n", static_cast<long long>(length),
                        HhMmSs(static_cast<uint64_t>(rate > 0 ? length / rate : 0)).c_str());
        }
        std::fflush(stdout);

        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (g_stop || (args.untilLength >= 0 && length >= args.untilLength) ||
            (args.maxSeconds > 0 && elapsed >= args.maxSeconds))
            break;
        // Sleep in small steps so a signal ends the wait at once.
        for (int slept = 0; slept < args.intervalMs && !g_stop; slept += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    file->Close();
    if (g_stop)
        std::printf("stopped\n");
    return kExitOk;
}

}  // namespace

void AddFollowCommand(CLI::App& app, Action& action) {
    auto args = std::make_shared<Args>();
    CLI::App* cmd =
        app.add_subcommand("follow", "Print new events and the length of a growing recording");
    cmd->add_option("FILE", args->path, "Recording")->required();
    cmd->add_option("--interval", args->intervalMs, "Milliseconds between looks (default 500)")
        ->check(CLI::Range(10, 60000));
    cmd->add_option("--max-seconds", args->maxSeconds, "End after this many seconds")
        ->check(CLI::Range(0.0, 1e9));
    cmd->add_option("--until-length", args->untilLength,
                    "End once the recording holds this many samples")
        ->check(CLI::Range(int64_t(0), int64_t(4294967295)));
    cmd->callback([args, &action] { action = [args] { return Run(*args); }; });
}

}  // namespace eegtool
