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
    CEegEventMask mask;  // no bit set: every type
    if (!args.types.empty()) {
        mask.SetAll(1);
        for (int t : ParseEventTypes(args.types))
            mask.SetMask(static_cast<CEegEvent::EventType>(t), 0);
    }
    // Check the times before touching the file.
    if (!args.from.empty())
        ParseSeconds(args.from, "--from");
    if (!args.to.empty())
        ParseSeconds(args.to, "--to");

    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    const double rate = file->GetSampleRate();
    CEegEventList events;
    file->GetEventList(events, mask, StampOf(args.from, "--from", rate),
                       StampOf(args.to, "--to", rate), 0, 0);
    if (args.json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (int i = 0; i < events.GetSize(); ++i)
            all.push_back(EventJson(*events.GetAt(i), *file));
        PrintJson(std::move(all));
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
