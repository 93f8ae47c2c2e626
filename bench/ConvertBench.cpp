// Moving an archive to the current format: `eegfile convert` of a legacy recording
// against `eegfile simulate` writing the same recording, in the same run.
//
//  1. simulate writes a legacy recording (OUT.LOG, delta coded, hourly data
//     files) and, with the same signal, a current one; each is timed as a whole
//     process, cold start included.
//  2. convert of the legacy recording into a current one is timed the same way,
//     best of 2, and given as a ratio to each simulate run.
//  3. The converted file is checked against the legacy one: the same length and
//     the same raw samples over a few stretches spread across the recording.
//
// The eegfile program is the one built beside this benchmark.
//
// Usage: ConvertBench [minutes (1440)] [folder ($TMPDIR or /tmp)]

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Runs eegfile with the arguments; its standard output is returned when wanted.
// Exits the benchmark when it fails.
double RunTool(const std::vector<std::string>& args, std::string* out = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(EEGFILE_TOOL));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(EEGFILE_TOOL, argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "eegfile %s failed\n", args.empty() ? "" : args[0].c_str());
        std::exit(1);
    }
    if (out)
        *out = std::move(text);
    return seconds;
}

std::string Field(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos)
        return "";
    const size_t from = json.find_first_not_of(" ", at + key.size() + 3);
    return json.substr(from, json.find_first_of(",\n}", from) - from);
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 1440;
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder =
        (argc > 2 ? argv[2] : tmp ? tmp : "/tmp") + std::string("/ConvertBench.") +
        std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const std::string legacy = folder + "/EEG00001.LOG";
    const std::string current = folder + "/simulated.eeg";
    const std::string converted = folder + "/converted.eeg";
    const std::string length = std::to_string(minutes);

    std::printf("ConvertBench: %.0f minutes of 32 channels at 200 Hz, delta coded\n", minutes);
    const double simLegacy = RunTool({"simulate", legacy, "--minutes", length, "--compression",
                                      "2", "--file-seconds", "3600"});
    const double simCurrent =
        RunTool({"simulate", current, "--minutes", length, "--compression", "2"});
    double convert = 1e300;
    for (int run = 0; run < 2; ++run)
        convert = std::min(convert, RunTool({"convert", legacy, converted, "--force"}));

    std::string a, b;
    RunTool({"info", legacy, "--json"}, &a);
    RunTool({"info", converted, "--json"}, &b);
    bool same = Field(a, "length_samples") == Field(b, "length_samples") &&
                !Field(a, "length_samples").empty();
    const long total = static_cast<long>(minutes * 60);
    for (long from : {0L, total / 3, total / 2, total - 5}) {
        if (from < 0)
            continue;
        const std::vector<std::string> dump = {"--format", "raw", "--from", std::to_string(from),
                                               "--seconds", "5"};
        std::vector<std::string> args = {"dump", legacy};
        args.insert(args.end(), dump.begin(), dump.end());
        RunTool(args, &a);
        args[1] = converted;
        RunTool(args, &b);
        same = same && a == b && !a.empty();
    }

    std::printf("  simulate, legacy recording:   %8.2f s\n", simLegacy);
    std::printf("  simulate, current recording:  %8.2f s\n", simCurrent);
    std::printf("  convert legacy -> current:    %8.2f s (best of 2)\n", convert);
    std::printf("  convert / simulate legacy:    %8.2fx (target: under 1.5x)\n",
                convert / simLegacy);
    std::printf("  convert / simulate current:   %8.2fx\n", convert / simCurrent);
    std::printf("  converted file agrees with the legacy one: %s\n", same ? "yes" : "NO");
    std::filesystem::remove_all(folder);
    return same ? 0 : 1;
}
