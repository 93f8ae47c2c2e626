// eegfile: inspect, simulate, mark, cut, export and draw recordings from the
// command line.
//
// Every failure ends in one line on stderr, "eegfile: FILE: message", and exit
// code 1; a wrong command line ends in exit code 2.
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "Platform/Exception.h"
#include "Platform/Report.h"
#include "tools/Tool.h"

using namespace eegtool;

namespace {

int Fail(const std::string& message) {
    const std::string& subject = GetSubject();
    std::fprintf(stderr, "eegfile: %s%s%s\n", subject.c_str(), subject.empty() ? "" : ": ",
                 OneLine(message).c_str());
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    // The library reports what it cannot throw (a failed close, a write thread's
    // failure) through these; keep each on one line under the tool's name.
    SetMessageBoxCallback([](const char* text) {
        std::fprintf(stderr, "eegfile: %s\n", OneLine(text ? text : "").c_str());
    });
    SetExceptionReportCallback([](CException* e, const char* operation, const char*, int) {
        std::fprintf(stderr, "eegfile: %s%s%s: %s\n", GetSubject().c_str(),
                     GetSubject().empty() ? "" : ": ", operation ? operation : "",
                     OneLine(e->GetErrorText().str()).c_str());
    });

    CLI::App app{"Inspect, simulate, mark, cut, export and draw EEG recordings.", "eegfile"};
    app.require_subcommand(1);
    Action action;
    AddInfoCommand(app, action);
    AddEventsCommand(app, action);
    AddDumpCommand(app, action);
    AddSimulateCommand(app, action);
    AddMarkCommands(app, action);
    AddConvertCommand(app, action);
    AddPatientCommands(app, action);
    AddFollowCommand(app, action);
    AddExportCommands(app, action);
    AddCheckCommand(app, action);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help
        std::fprintf(stderr, "eegfile: %s (eegfile --help for usage)\n", e.what());
        return kExitUsage;
    }

    try {
        return action ? action() : kExitUsage;
    } catch (CException* e) {
        const std::string text = e->GetErrorText().str();
        e->Delete();
        return Fail(text);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "eegfile: %s (eegfile --help for usage)\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
