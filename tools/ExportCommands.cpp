// eegfile export FILE OUT.edf [--from S] [--seconds N]
// eegfile plot FILE -o OUT.png|OUT.svg|OUT.pdf [--from S] [--seconds N] [--montage NAME]
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "EegFile/export/EdfExport.h"
#include "EegFile/export/ReviewPage.h"
#include "tools/Tool.h"

// Fontconfig, under Cairo's text, keeps its caches until the process ends;
// the leak checker of sanitizer builds asks this hook what to ignore.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace eegtool {

namespace {

struct Args {
    std::string path;
    std::string out;
    std::string from = "0";
    std::string seconds;
    std::string montage;
};

int RunExport(const Args& args) {
    SetSubject(args.path);
    const double from = ParseSeconds(args.from, "--from");
    const double seconds = args.seconds.empty() ? 0 : ParseSeconds(args.seconds, "--seconds");
    if (!args.seconds.empty() && seconds <= 0)
        throw UsageError("--seconds: more than 0 seconds");
    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    CEdfExport exporter(*file, from, seconds);
    Progress progress("export");
    const double records = exporter.GetRecordCount();
    CVoidCall1ArgFn<int64_t> onProgress(
        [&](int64_t done) { progress.Update(static_cast<double>(done) / records); });
    exporter.Write(args.out.c_str(), &onProgress);
    progress.Done();
    return kExitOk;
}

int RunPlot(const Args& args) {
    SetSubject(args.path);
    CReviewPage::Options options;
    options.fromSeconds = ParseSeconds(args.from, "--from");
    if (!args.seconds.empty()) {
        options.seconds = ParseSeconds(args.seconds, "--seconds");
        if (options.seconds <= 0)
            throw UsageError("--seconds: more than 0 seconds");
    }
    options.montage = args.montage.c_str();
    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    CReviewPage(*file, options).Write(args.out.c_str());
    return kExitOk;
}

}  // namespace

void AddExportCommands(CLI::App& app, Action& action) {
    auto args = std::make_shared<Args>();
    CLI::App* edf = app.add_subcommand("export", "Write the recording, or a window, as EDF+");
    edf->add_option("FILE", args->path, "Recording")->required();
    edf->add_option("OUT", args->out, "EDF+ file to write")->required();
    edf->add_option("--from", args->from, "First second (seconds or [hh:]mm:ss)");
    edf->add_option("--seconds", args->seconds, "How many seconds (default: to the end)");
    edf->callback([args, &action] { action = [args] { return RunExport(*args); }; });

    CLI::App* plot = app.add_subcommand("plot", "Draw a review page as PNG, SVG or PDF");
    plot->add_option("FILE", args->path, "Recording")->required();
    plot->add_option("-o,--output", args->out, "Picture: .png, .svg or .pdf")->required();
    plot->add_option("--from", args->from, "First second (seconds or [hh:]mm:ss)");
    plot->add_option("--seconds", args->seconds, "Length of the page (default 10)");
    plot->add_option("--montage", args->montage,
                     "A montage of the recording by name (default: the one in force)");
    plot->callback([args, &action] { action = [args] { return RunPlot(*args); }; });
}

}  // namespace eegtool
