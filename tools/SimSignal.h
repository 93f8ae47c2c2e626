// The synthetic recording that `eegfile simulate` writes: a plan (when the two
// recording runs, the eye states, the photic blocks and the parameter changes
// happen) and a sample generator that is a pure function of the plan, the
// sample offset and the slot. Anyone holding the same options can regenerate
// every sample of a simulated recording without reading it, which is how the
// tests check the write and read paths end to end.
//
// The signal: background activity (delta, theta, beta), an alpha rhythm over
// the posterior channels that drops when the eyes are open, blinks on the
// frontal channels while the eyes are open, photic driving over the occipital
// channels during the flash blocks, and a little noise. Values are in
// amplifier bits (0.1418 uV each at the default gain). At 200 samples per
// second and above, consecutive samples of a slot differ by less than 128, so
// delta coding stores them exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CEegDataChunk;

namespace eegsim {

struct Options {
    double minutes = 10.0;
    int rate = 200;       // samples per second
    int channels = 32;    // stored slots 0 .. channels-1
    int compression = 2;  // 0 plain, 2 delta coded
    uint32_t seed = 1;
};

// A stretch of samples [from, to).
struct Span {
    uint32_t from = 0;
    uint32_t to = 0;
    bool Contains(uint32_t n) const { return n >= from && n < to; }
};

struct PhoticBlock {
    Span span;
    double hz = 0.0;
};

// Every time below is a sample offset. Sample numbering runs on without a gap
// across the pause between the two runs; only the wall clock jumps there.
struct Plan {
    Options options;
    uint32_t totalSeconds = 0;
    uint32_t totalSamples = 0;
    uint32_t secondRunStart = 0;  // first sample of the second run
    int pauseSeconds = 0;         // wall-clock seconds between the runs
    std::vector<Span> eyesOpen;
    std::vector<PhoticBlock> photic;
    Span photicRun;  // the whole flash run
    Span bookmark;
    uint32_t sensitivityChange = 0;
    uint32_t lowCutChange = 0;
    uint32_t highCutChange = 0;
    uint32_t speedChange = 0;
    uint32_t traceChange = 0;
};

// The plan for these options. Lengths are whole seconds (at least 4).
Plan MakePlan(const Options& options);

// Sample of slot (0-31) at sample offset n; 0 for slots that are not stored.
int16_t Sample(const Plan& plan, uint32_t n, int slot);

// Fills chunk (32-slot frames) with frames samples from offset first; the chunk
// must hold that many.
void FillChunk(const Plan& plan, uint32_t first, uint32_t frames, CEegDataChunk& chunk);

// Whether the eyes are open at n (blinks and a weak alpha rhythm).
bool EyesOpen(const Plan& plan, uint32_t n);

}  // namespace eegsim
