// eegfile check FILE [--json]: is the recording sound, and if not, where and
// what is wrong. Exit 0 when sound, 1 when not (or the file cannot be read at
// all), 2 on a wrong command line. Only reads.
#include <cstdio>
#include <memory>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "EegFile/frame/EegFile.h"
#include "tools/Tool.h"

namespace eegtool {

void AddCheckCommand(CLI::App& app, Action& action) {
    struct Args {
        std::string path;
        bool json = false;
    };
    auto args = std::make_shared<Args>();
    CLI::App* cmd =
        app.add_subcommand("check", "Check every structure of a recording; changes nothing");
    cmd->add_option("FILE", args->path, "Recording")->required();
    cmd->add_flag("--json", args->json, "Print one JSON object");
    cmd->callback([args, &action] {
        action = [args] {
            SetSubject(args->path);
            const CEegFileProblemList problems = CEegFile::CheckFile(args->path.c_str());
            if (args->json) {
                nlohmann::ordered_json list = nlohmann::ordered_json::array();
                for (const CEegFileProblem& p : problems)
                    list.push_back(
                        {{"where", p.m_where.GetString()}, {"what", p.m_what.GetString()}});
                PrintJson({{"file", args->path}, {"sound", problems.empty()}, {"problems", list}});
            } else if (problems.empty()) {
                std::printf("%s: sound\n", args->path.c_str());
            } else {
                for (const CEegFileProblem& p : problems)
                    std::printf("%s: %s: %s\n", args->path.c_str(),
                                OneLine(p.m_where.GetString()).c_str(),
                                OneLine(p.m_what.GetString()).c_str());
                std::printf("%s: %zu problem%s\n", args->path.c_str(), problems.size(),
                            problems.size() == 1 ? "" : "s");
            }
            return problems.empty() ? kExitOk : kExitFailure;
        };
    });
}

}  // namespace eegtool
