// Encodes and decodes one stored second of compression type 2: 32 channels at
// 200 samples per second, EEG-like (a slow wave plus noise, steps below 128), and
// the same with a few channels jumping (linear rows with larger multipliers and
// the log mode). Throughput is counted in in-memory frame bytes (12 800 a second);
// a plain copy of those bytes is measured beside it as the reference.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "EegFile/frame/DeltaCoding.h"

namespace {

constexpr int kRate = 200;
constexpr int kSlots = 32;

std::vector<int16_t> MakeSecond(bool jumps) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 8.0);
    std::vector<int16_t> frames(kSlots * kRate);
    for (int k = 0; k < kSlots; ++k) {
        for (int i = 0; i < kRate; ++i) {
            double v = 400.0 * std::sin(2 * M_PI * (3.0 + k * 0.3) * i / kRate) + noise(rng);
            if (jumps && k % 8 == 0)
                v += (i % 50 < 25) ? 300.0 * (k / 8) : -300.0 * (k / 8);  // steps of 600..1800
            if (jumps && k == 31)
                v = (i % 2) ? 12000 : -12000;  // log mode
            frames[static_cast<size_t>(kSlots * i + k)] = static_cast<int16_t>(std::lrint(v));
        }
    }
    return frames;
}

std::vector<int> AllSlots() {
    std::vector<int> s(kSlots);
    for (int k = 0; k < kSlots; ++k)
        s[static_cast<size_t>(k)] = k;
    return s;
}

void Encode(benchmark::State& state, bool jumps) {
    const auto frames = MakeSecond(jumps);
    const auto slots = AllSlots();
    std::vector<uint8_t> out(static_cast<size_t>(kSlots * DeltaCoding::BlockBytes(kRate)));
    for (auto _ : state) {
        DeltaCoding::EncodeSecond(frames.data(), kRate, slots.data(), kSlots, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlots * kRate * 2);
}

void Decode(benchmark::State& state, bool jumps) {
    const auto frames = MakeSecond(jumps);
    const auto slots = AllSlots();
    std::vector<uint8_t> coded(static_cast<size_t>(kSlots * DeltaCoding::BlockBytes(kRate)));
    DeltaCoding::EncodeSecond(frames.data(), kRate, slots.data(), kSlots, coded.data());
    std::vector<int16_t> back(frames.size());
    for (auto _ : state) {
        DeltaCoding::DecodeSecond(coded.data(), kRate, slots.data(), kSlots, back.data());
        benchmark::DoNotOptimize(back.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlots * kRate * 2);
}

void BM_EncodeSecond(benchmark::State& s) {
    Encode(s, false);
}
void BM_DecodeSecond(benchmark::State& s) {
    Decode(s, false);
}
void BM_EncodeSecondWithJumps(benchmark::State& s) {
    Encode(s, true);
}
void BM_DecodeSecondWithJumps(benchmark::State& s) {
    Decode(s, true);
}

// Reference: copying the second's frame bytes, the least any read or write does.
void BM_CopySecond(benchmark::State& state) {
    const auto frames = MakeSecond(false);
    std::vector<int16_t> copy(frames.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frames.data(), frames.size() * sizeof(int16_t));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlots * kRate * 2);
}

}  // namespace

BENCHMARK(BM_EncodeSecond);
BENCHMARK(BM_DecodeSecond);
BENCHMARK(BM_EncodeSecondWithJumps);
BENCHMARK(BM_DecodeSecondWithJumps);
BENCHMARK(BM_CopySecond);
BENCHMARK_MAIN();
