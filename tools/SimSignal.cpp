#include "tools/SimSignal.h"

#include <algorithm>
#include <cmath>

#include "EegBase/AmpInput.h"
#include "EegBase/EegDataChunk.h"

namespace eegsim {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t Hash(uint32_t seed, uint64_t a, uint64_t b) {
    return Mix(Mix(Mix(seed) ^ a) ^ (b * 0xD6E8FEB86659FD93ull));
}

// A phase in [0, 2 pi) drawn from the seed for one slot and one component.
double Phase(uint32_t seed, int slot, int component) {
    return static_cast<double>(Hash(seed, 1000u + static_cast<uint64_t>(slot), component) % 6283u) /
           1000.0;
}

// 0 before x = 0, 1 after x = 1, a half cosine in between.
double Up(double x) {
    if (x <= 0.0)
        return 0.0;
    if (x >= 1.0)
        return 1.0;
    return 0.5 - 0.5 * std::cos(kPi * x);
}

double AlphaWeight(int slot) {
    using namespace AmpInput;
    switch (slot) {
        case O1:
        case Oz:
        case O2:
            return 1.0;
        case P3:
        case Pz:
        case P4:
            return 0.8;
        case T5:
        case T6:
            return 0.6;
        case C3:
        case Cz:
        case C4:
            return 0.4;
        case T3:
        case T4:
            return 0.3;
        default:
            return slot < Aux ? 0.2 : 0.1;
    }
}

double BlinkWeight(int slot) {
    using namespace AmpInput;
    switch (slot) {
        case Fp1:
        case Fpz:
        case Fp2:
            return 1.0;
        case F7:
        case F8:
            return 0.6;
        case F3:
        case Fz:
        case F4:
            return 0.4;
        default:
            return 0.0;
    }
}

double PhoticWeight(int slot) {
    using namespace AmpInput;
    switch (slot) {
        case O1:
        case Oz:
        case O2:
            return 1.0;
        case P3:
        case Pz:
        case P4:
            return 0.5;
        case T5:
        case T6:
            return 0.4;
        default:
            return 0.0;
    }
}

// Amplitudes in bits. Their slopes add up to less than 128 bits per sample at
// 200 samples per second (alpha 39, blink 20, photic 22, background 15, noise 10).
constexpr double kAlpha = 120.0;
constexpr double kDelta = 50.0;
constexpr double kTheta = 30.0;
constexpr double kBeta = 12.0;
constexpr double kBlink = 500.0;
constexpr double kPhotic = 35.0;
constexpr double kBlinkSeconds = 0.4;

uint32_t At(uint32_t totalSeconds, double fraction, int rate) {
    return static_cast<uint32_t>(fraction * totalSeconds) * static_cast<uint32_t>(rate);
}

}  // namespace

Plan MakePlan(const Options& options) {
    Plan p;
    p.options = options;
    const int rate = options.rate;
    const uint32_t T =
        std::max<uint32_t>(4, static_cast<uint32_t>(std::lround(options.minutes * 60.0)));
    const uint32_t r = static_cast<uint32_t>(rate);
    p.totalSeconds = T;
    p.totalSamples = T * r;
    p.secondRunStart = std::clamp<uint32_t>(static_cast<uint32_t>(0.45 * T), 1, T - 1) * r;
    p.pauseSeconds = 60;
    p.eyesOpen = {{At(T, 0.15, rate), At(T, 0.25, rate)},
                  {p.secondRunStart, At(T, 0.55, rate)},
                  {At(T, 0.9, rate), p.totalSamples}};
    p.sensitivityChange = At(T, 0.2, rate);
    p.lowCutChange = At(T, 0.3, rate);
    p.highCutChange = At(T, 0.32, rate);
    p.speedChange = At(T, 0.35, rate);
    p.traceChange = At(T, 0.4, rate);
    const uint32_t markSeconds = std::max<uint32_t>(1, T / 20);
    p.bookmark = {At(T, 0.5, rate), At(T, 0.5, rate) + markSeconds * r};

    static const double kRates[] = {1, 3, 5, 7, 10, 12, 15, 18, 20};
    const uint32_t room = std::max<uint32_t>(1, static_cast<uint32_t>(0.25 * T));
    const uint32_t blocks = std::min<uint32_t>(9, room);
    const uint32_t blockSeconds = std::max<uint32_t>(1, room / blocks);
    uint32_t at = At(T, 0.6, rate);
    p.photicRun.from = at;
    for (uint32_t b = 0; b < blocks; ++b) {
        p.photic.push_back({{at, at + blockSeconds * r}, kRates[b]});
        at += blockSeconds * r;
    }
    p.photicRun.to = at;
    return p;
}

bool EyesOpen(const Plan& plan, uint32_t n) {
    for (const Span& s : plan.eyesOpen)
        if (s.Contains(n))
            return true;
    return false;
}

int16_t Sample(const Plan& plan, uint32_t n, int slot) {
    if (slot < 0 || slot >= plan.options.channels || slot >= 32 || n >= plan.totalSamples)
        return 0;
    const uint32_t seed = plan.options.seed;
    const double rate = plan.options.rate;
    const double t = n / rate;

    // Eyes open: the alpha rhythm drops to 30 %, easing in and out over a second.
    double open = 0.0;
    for (const Span& s : plan.eyesOpen)
        open += Up(t - s.from / rate) - Up(t - s.to / rate);
    const double alphaHz = 9.5 + static_cast<double>(Hash(seed, 1, 1) % 100u) / 100.0;
    double v = kAlpha * AlphaWeight(slot) * (1.0 - 0.7 * open) *
               std::sin(2 * kPi * alphaHz * t + Phase(seed, slot, 0));
    v += kDelta * std::sin(2 * kPi * 1.5 * t + Phase(seed, slot, 1));
    v += kTheta * std::sin(2 * kPi * 6.0 * t + Phase(seed, slot, 2));
    v += kBeta * std::sin(2 * kPi * 18.0 * t + Phase(seed, slot, 3));

    // A blink starts in the first half of some seconds while the eyes are open
    // and is over before the second ends.
    const double blinkWeight = BlinkWeight(slot);
    if (blinkWeight > 0.0) {
        const uint32_t rateU = static_cast<uint32_t>(plan.options.rate);
        const uint32_t second = n / rateU;
        const uint64_t h = Hash(seed, second, 2);
        const uint32_t start = second * rateU + static_cast<uint32_t>((h >> 8) % (rateU / 2 + 1));
        const double length = kBlinkSeconds * rate;
        if (h % 4 == 0 && EyesOpen(plan, start) && n >= start && n - start < length)
            v += kBlink * blinkWeight * (0.5 - 0.5 * std::cos(2 * kPi * (n - start) / length));
    }

    // Photic driving at the flash rate, faded in and out at each block's edges.
    const double photicWeight = PhoticWeight(slot);
    if (photicWeight > 0.0) {
        for (const PhoticBlock& b : plan.photic) {
            if (!b.span.Contains(n))
                continue;
            const double from = b.span.from / rate;
            const double to = b.span.to / rate;
            const double edge = std::min(0.25, (to - from) / 2);
            const double envelope = Up((t - from) / edge) - Up((t - (to - edge)) / edge);
            v += kPhotic * photicWeight * envelope * std::sin(2 * kPi * b.hz * (t - from));
        }
    }

    v += static_cast<double>(
        static_cast<int>((Hash(seed, n, 3 + static_cast<uint64_t>(slot)) >> 16) % 11u) - 5);
    return static_cast<int16_t>(std::clamp<long>(std::lround(v), -32768, 32767));
}

void FillChunk(const Plan& plan, uint32_t first, uint32_t frames, CEegDataChunk& chunk) {
    frames = std::min(frames, chunk.GetSampleCapacity());
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t* f = chunk.GetFrame(i);
        for (int s = 0; s < chunk.GetChannelCount(); ++s)
            f[s] = Sample(plan, first + i, s);
    }
    chunk.SetNumberOfSamples(frames);
}

}  // namespace eegsim
