// main of every stress program: GoogleTest's own options, then
//   --seed N    replay a run (every run prints the seed it used)
//   --cycle N   run only cycle N of each cycled stress (with the seed of the run)
// Recordings go to the temporary folder (TMPDIR, else /dev/shm when it is there:
// a kill loses nothing the kernel has, so memory-backed files test the same
// promises and cost less); the station's registry and ODBC configuration are
// the run's own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "OdbcTestSupport.h"
#include "StressSupport.h"
#include "TestSupport.h"

namespace {
uint32_t g_seed = 0;
int g_cycle = -1;

// A whole number for option, or exits with the usage.
long Number(const char* option, const char* text) {
    char* end = nullptr;
    const long value = text ? std::strtol(text, &end, 10) : -1;
    if (!text || *end || value < 0) {
        std::fprintf(stderr, "usage: [gtest options] [--seed N] [--cycle N] (bad %s)\n", option);
        std::exit(2);
    }
    return value;
}
}  // namespace

namespace stress {

uint32_t Seed() {
    return g_seed;
}

int OnlyCycle() {
    return g_cycle;
}

int Scaled(int count) {
    const char* text = std::getenv("EEGFILE_STRESS_SCALE");
    const double scale = text ? std::atof(text) : 1.0;
    const double scaled = scale > 0 ? count * scale : count;
    return scaled < 1 ? 1 : static_cast<int>(scaled);
}

}  // namespace stress

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_seed = std::random_device{}();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seed")
            g_seed = static_cast<uint32_t>(Number("--seed", i + 1 < argc ? argv[++i] : nullptr));
        else if (arg == "--cycle")
            g_cycle = static_cast<int>(Number("--cycle", i + 1 < argc ? argv[++i] : nullptr));
        else
            Number(argv[i], nullptr);
    }
    std::printf("seed %u (replay: %s --seed %u)\n", g_seed, argv[0], g_seed);
    std::fflush(stdout);

    if (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
    // The open-file list of every station of the run lives in a folder of its own.
    static testsupport::TempDir registry;
    ::setenv("EEGFILE_REGISTRY_ROOT", registry.path().c_str(), 1);
    odbctest::UseTestConfiguration();
    return RUN_ALL_TESTS();
}
