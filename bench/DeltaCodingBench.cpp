// Encodes and decodes one stored second of compression type 2 (32 channels at
// 200 samples per second) with every coder this processor runs (the plain
// reference and the vectorised ones), on three signals:
//  - Calm: slow waves plus a little noise, every step below 128 (each code is
//    the step itself);
//  - EegLike: larger and faster waves plus noise; the faster channels step by
//    128 or more now and then (13 of the 32 take a coarser linear row);
//  - WithJumps: the same with a few channels jumping (rows with larger
//    multipliers, and one channel in the log mode).
// Throughput is counted in in-memory frame bytes (12 800 a second); a plain
// copy of those bytes is measured beside it as the reference.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EegFile/frame/DeltaCoding.h"

namespace {

constexpr int kRate = 200;
constexpr int kSlots = 32;

enum class Signal { Calm, EegLike, WithJumps };

std::vector<int16_t> MakeSecond(Signal signal) {
    std::mt19937 rng(7);
    const bool calm = signal == Signal::Calm;
    std::normal_distribution<double> noise(0.0, calm ? 4.0 : 8.0);
    std::vector<int16_t> frames(kSlots * kRate);
    for (int k = 0; k < kSlots; ++k) {
        for (int i = 0; i < kRate; ++i) {
            double v = (calm ? 200.0 : 400.0) * std::sin(2 * M_PI * (3.0 + k * 0.3) * i / kRate) +
                       noise(rng);
            if (signal == Signal::WithJumps && k % 8 == 0)
                v += (i % 50 < 25) ? 300.0 * (k / 8) : -300.0 * (k / 8);  // steps of 600..1800
            if (signal == Signal::WithJumps && k == 31)
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

void Encode(benchmark::State& state, const DeltaCoding::SecondCoder& coder, Signal signal) {
    const auto frames = MakeSecond(signal);
    const auto slots = AllSlots();
    std::vector<uint8_t> out(static_cast<size_t>(kSlots * DeltaCoding::BlockBytes(kRate)));
    for (auto _ : state) {
        coder.encode(frames.data(), kRate, slots.data(), kSlots, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlots * kRate * 2);
}

void Decode(benchmark::State& state, const DeltaCoding::SecondCoder& coder, Signal signal) {
    const auto frames = MakeSecond(signal);
    const auto slots = AllSlots();
    std::vector<uint8_t> coded(static_cast<size_t>(kSlots * DeltaCoding::BlockBytes(kRate)));
    coder.encode(frames.data(), kRate, slots.data(), kSlots, coded.data());
    std::vector<int16_t> back(frames.size());
    for (auto _ : state) {
        coder.decode(coded.data(), kRate, slots.data(), kSlots, back.data());
        benchmark::DoNotOptimize(back.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlots * kRate * 2);
}

// Reference: copying the second's frame bytes, the least any read or write does.
void BM_CopySecond(benchmark::State& state) {
    const auto frames = MakeSecond(Signal::Calm);
    std::vector<int16_t> copy(frames.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frames.data(), frames.size() * sizeof(int16_t));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSlots * kRate * 2);
}

}  // namespace

int main(int argc, char** argv) {
    const std::pair<const char*, Signal> signals[] = {
        {"Calm", Signal::Calm}, {"EegLike", Signal::EegLike}, {"WithJumps", Signal::WithJumps}};
    for (const auto& [signalName, signal] : signals) {
        for (const auto& coder : DeltaCoding::AvailableCoders()) {
            const std::string suffix = std::string(signalName) + "/" + coder.name;
            benchmark::RegisterBenchmark(("BM_Encode" + suffix).c_str(), Encode, coder, signal);
            benchmark::RegisterBenchmark(("BM_Decode" + suffix).c_str(), Decode, coder, signal);
        }
    }
    benchmark::RegisterBenchmark("BM_CopySecond", BM_CopySecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
