// Helpers of the recording tests: an amplifier storing all 32 slots, samples
// computed from their position (so any process can check any second), and a
// recording made in a few calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/winfile/WinEegFile.h"

namespace winfiletest {

constexpr int kRate = 200;

inline CAmpHardwareInfo Amp32() {
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < 32; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    CAmpHardwareInfo info;
    info.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    return info;
}

// Sample of slot at sample offset n. With smooth set, consecutive samples of a
// slot differ by less than 128 (so delta coding keeps them exact); otherwise
// they take any value.
inline int16_t Sample(uint32_t n, int slot, bool smooth, uint32_t seed = 0) {
    uint32_t x = (n + seed * 7919u) * 2654435761u ^ static_cast<uint32_t>(slot) * 40503u;
    if (!smooth)
        return static_cast<int16_t>(x >> 11);
    // A triangle wave per slot with a small jitter: steps stay below 128.
    const int period = 400 + slot * 13;
    const int phase = static_cast<int>((n + seed + static_cast<uint32_t>(slot) * 37u) % period);
    const int tri = phase < period / 2 ? phase : period - phase;
    return static_cast<int16_t>(tri * 50 - 10000 + static_cast<int>((x >> 20) % 16) + slot);
}

// frames samples from offset first, all 32 slots.
inline CEegDataChunk MakeChunk(uint32_t first, uint32_t frames, bool smooth, uint32_t seed = 0) {
    CEegDataChunk chunk(static_cast<int>(frames), 32);
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t* f = chunk.GetFrame(i);
        for (int s = 0; s < 32; ++s)
            f[s] = Sample(first + i, s, smooth, seed);
    }
    chunk.SetNumberOfSamples(frames);
    return chunk;
}

// Counts the samples of chunk (from offset first) that differ from Sample.
inline int CountMismatches(const CEegDataChunk& chunk, uint32_t first, bool smooth,
                           uint32_t seed = 0) {
    int bad = 0;
    for (uint32_t i = 0; i < chunk.GetNumberOfSamples(); ++i) {
        const int16_t* f = chunk.GetFrame(i);
        for (int s = 0; s < 32; ++s)
            bad += f[s] != Sample(first + i, s, smooth, seed);
    }
    return bad;
}

// Reads seconds [from, to) of smooth samples (seed 0) and counts mismatches; a
// second that does not read whole counts as one.
inline int CheckSeconds(CWinEegFile& file, uint32_t from, uint32_t to) {
    CEegDataChunk chunk(kRate, 32);
    int bad = 0;
    for (uint32_t s = from; s < to; ++s) {
        file.SetReadPosition(CEegTimeStamp(s * kRate));
        if (file.ReadEegData(chunk, kRate) != 1 || chunk.GetNumberOfSamples() != kRate) {
            ++bad;
            continue;
        }
        bad += CountMismatches(chunk, s * kRate, true);
    }
    return bad;
}

inline COleDateTime Time(int year, int month, int day, int hour, int minute, int second) {
    return COleDateTime(year, month, day, hour, minute, second);
}

// A recording of smooth seconds (from 9:00 on 1 July 2024), left open for writing.
inline void StartRecording(CWinEegFile& file, const std::string& path, uint32_t seconds) {
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
    if (seconds > 0) {
        CEegDataChunk c = MakeChunk(0, seconds * kRate, true);
        file.WriteEegData(c);
        file.FlushWriteBuffer();
    }
}

}  // namespace winfiletest
