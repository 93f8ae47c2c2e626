// eegfile events FILE [--json] [--types LIST] [--from T] [--to T]
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

struct Args {
    std::string path;
    bool json = false;
    std::string types, from, to;
};

CEegTimeStamp StampOf(const std::string& text, const char* option, double rate) {
    if (text.empty())
        return CEegTimeStamp::NullStamp;
    const double samples = SamplesOf(ParseSeconds(text, option), rate);
    // The last offset below the null stamp is the furthest a bound can reach.
    return CEegTimeStamp(samples >= 4294967294.0 ? 4294967294u : static_cast<uint32_t>(samples));
}

int Run(const Args& args) {
    SetSubject(args.path);
    const std::vector<int> types =
        args.types.empty() ? std::vector<int>() : ParseEventTypes(args.types);
    // Check the times before touching the file.
    if (!args.from.empty())
        ParseSeconds(args.from, "--from");
    if (!args.to.empty())
        ParseSeconds(args.to, "--to");

    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    const double rate = file->GetSampleRate();
    CEegEventList events;
    SelectEvents(*file, types, StampOf(args.from, "--from", rate), StampOf(args.to, "--to", rate),
                 events);
    if (args.json) {
        PrintJson(EventsJson(*file, events));
    } else {
        for (int i = 0; i < events.GetSize(); ++i)
            std::printf("%s\n", events.GetAt(i)->AsString(file.get()).GetString());
    }
    file->Close();
    return kExitOk;
}

}  // namespace

void AddEventsCommand(CLI::App& app, Action& action) {
    auto args = std::make_shared<Args>();
    CLI::App* cmd = app.add_subcommand("events", "List events, one line or JSON object each");
    cmd->add_option("FILE", args->path, "Recording")->required();
    cmd->add_flag("--json", args->json, "Print a JSON array with every field of each event");
    cmd->add_option("--types", args->types,
                    "Comma list of event types (names such as comment,montage or numbers 0-27)");
    cmd->add_option("--from", args->from, "First position (seconds or [hh:]mm:ss)");
    cmd->add_option("--to", args->to, "Last position (seconds or [hh:]mm:ss)");
    cmd->callback([args, &action] { action = [args] { return Run(*args); }; });
}

}  // namespace eegtool
