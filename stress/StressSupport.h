// What the stress programs share: the run's seed (printed, and given back with
// --seed to replay), the scale of their counts, and the figures they print.
// They check data only; a figure is printed for people, never compared.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace stress {

// The run's seed: --seed N on the command line, else a fresh one (StressMain).
uint32_t Seed();
// --cycle N: only that cycle of each cycled stress is run (a replay); -1 for all.
int OnlyCycle();
// count × EEGFILE_STRESS_SCALE (a positive number, 1 when unset), at least 1.
int Scaled(int count);

// One figure line: "figure: name = value unit".
inline void Figure(const std::string& name, double value, const char* unit) {
    std::printf("figure: %s = %.6g %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

}  // namespace stress
