#include "EegFile/frame/DeltaCoding.h"

#include <array>
#include <cstring>

#include "EegFile/frame/DeltaCodingCoders.h"

namespace DeltaCoding {

namespace {

// Each row's clamp is the largest difference its t and m express in a signed
// byte: (127 - t) * m + t + m - 1.
constexpr Coding kCodings[] = {
    {128, 0, 128, 1, 0, 127},   {192, 0, 64, 2, 1, 191},     {224, 0, 32, 2, 1, 223},
    {416, 0, 32, 4, 2, 415},    {464, 0, 16, 4, 2, 463},     {800, 0, 32, 8, 3, 799},
    {912, 0, 16, 8, 3, 911},    {1568, 0, 32, 16, 4, 1567},  {1808, 0, 16, 16, 4, 1807},
    {3104, 0, 32, 32, 5, 3103}, {3600, 0, 16, 32, 5, 3599},  {4160, 0, 64, 64, 6, 4159},
    {6176, 0, 32, 64, 6, 6175}, {8256, 0, 64, 128, 7, 8255}, {1 << 30, 1, 0, 0, 0, 32767},
};
constexpr int kCodingCount = static_cast<int>(sizeof(kCodings) / sizeof(kCodings[0]));

// The exponent code's 256 values, so that decoding a log-mode block is a lookup.
constexpr std::array<int16_t, 256> MakeExponentTable() {
    std::array<int16_t, 256> t{};
    for (int u = 0; u < 256; ++u) {
        const int mantissa = (u & 0x10) ? (u & 0x1F) - 32 : (u & 0x1F);
        t[static_cast<size_t>(u)] =
            static_cast<int16_t>(static_cast<uint16_t>(mantissa * (1 << (2 * (u >> 5)))));
    }
    return t;
}
constexpr std::array<int16_t, 256> kExponentValues = MakeExponentTable();

inline int Clamp(int d, int limit) {
    return d > limit ? limit : (d < -limit ? -limit : d);
}

}  // namespace

const Coding& ChooseCoding(int largestStep) {
    for (int i = 0; i < kCodingCount - 1; ++i) {
        if (largestStep < kCodings[i].bound)
            return kCodings[i];
    }
    return kCodings[kCodingCount - 1];
}

int8_t ConvertDelta(int16_t d) {
    // The magnitude is taken in 16 bits, as stored: -32768 stays negative, skips
    // the shifts and leaves a zero mantissa.
    int16_t a = d < 0 ? static_cast<int16_t>(-static_cast<int>(d)) : d;
    int e = 0;
    while (a >= 16) {
        a = static_cast<int16_t>(a >> 2);
        ++e;
    }
    const int m = d >= 0 ? a : (-static_cast<int>(a)) & 31;
    return static_cast<int8_t>(static_cast<uint8_t>((e << 5) | m));
}

int8_t ConvertDeltaR(int d, int logMode, int threshold, int multiplier) {
    if (logMode)
        return ConvertDelta(static_cast<int16_t>(d));
    if (d < threshold && d > -threshold)
        return static_cast<int8_t>(d);
    if (d > 0)
        return static_cast<int8_t>((d - threshold) / multiplier + threshold);
    return static_cast<int8_t>((d + threshold) / multiplier - threshold);
}

void WriteBlockHeader(int16_t first, const Coding& c, uint8_t* out) {
    const uint16_t u = static_cast<uint16_t>(first);
    out[0] = static_cast<uint8_t>(u);
    out[1] = static_cast<uint8_t>(u >> 8);
    out[2] = static_cast<uint8_t>(c.logMode);
    out[3] = static_cast<uint8_t>(c.threshold);
    out[4] = static_cast<uint8_t>(c.multiplier);
}

namespace {

// The closed loop for a channel with steps of 128 or more: each difference is
// taken from the reconstructed previous value, clamped, coded and restored. A
// difference below the threshold (16 in log mode, whose exponent 0 codes it
// exactly) is coded as it is and the reconstruction meets the sample again; that
// is the common case, and writing it as r = x keeps the loop from waiting on the
// previous reconstruction.
void EncodeClosedLoop(const int16_t* samples, ptrdiff_t stride, int n, const Coding& c,
                      uint8_t* codes) {
    int r = samples[0];
    if (c.logMode) {
        for (int i = 1; i < n; ++i) {
            const int x = samples[i * stride];
            const int d = x - r;
            if (d < 16 && d > -16) {
                codes[i - 1] = static_cast<uint8_t>(d & 31);
                r = x;
                continue;
            }
            const int8_t code = ConvertDelta(static_cast<int16_t>(Clamp(d, c.clamp)));
            codes[i - 1] = static_cast<uint8_t>(code);
            r += kExponentValues[static_cast<uint8_t>(code)];
        }
        return;
    }
    // m is a power of two, so the divisions truncating toward zero are shifts of
    // the non-negative magnitude.
    const int t = c.threshold;
    const int shift = c.shift;
    for (int i = 1; i < n; ++i) {
        const int x = samples[i * stride];
        const int d = x - r;
        if (d < t && d > -t) {
            codes[i - 1] = static_cast<uint8_t>(d);
            r = x;
            continue;
        }
        const int clamped = Clamp(d, c.clamp);
        if (clamped > 0) {
            const int q = (clamped - t) >> shift;
            codes[i - 1] = static_cast<uint8_t>(q + t);
            r += (q << shift) + t;
        } else {
            const int q = (-clamped - t) >> shift;
            codes[i - 1] = static_cast<uint8_t>(-q - t);
            r -= (q << shift) + t;
        }
    }
}

}  // namespace

int EncodeBlock(const int16_t* samples, ptrdiff_t stride, int n, uint8_t* out) {
    int largest = 0;
    for (int i = 1; i < n; ++i) {
        int step = samples[i * stride] - samples[(i - 1) * stride];
        step = step < 0 ? -step : step;
        largest = step > largest ? step : largest;
    }
    return EncodeBlockAs(ChooseCoding(largest), samples, stride, n, out);
}

int EncodeBlockAs(const Coding& c, const int16_t* samples, ptrdiff_t stride, int n, uint8_t* out) {
    if (n < 1)
        return 0;
    WriteBlockHeader(samples[0], c, out);
    uint8_t* codes = out + 5;
    if (c.bound == kCodings[0].bound) {
        // Every step fits a byte as it is: the reconstruction never departs from
        // the samples, so the closed loop reduces to the raw differences.
        for (int i = 1; i < n; ++i)
            codes[i - 1] = static_cast<uint8_t>(samples[i * stride] - samples[(i - 1) * stride]);
    } else {
        EncodeClosedLoop(samples, stride, n, c, codes);
    }
    return BlockBytes(n);
}

int DecodeBlock(const uint8_t* in, int n, int16_t* samples, ptrdiff_t stride) {
    if (n < 1)
        return 0;
    uint16_t p = static_cast<uint16_t>(in[0] | (in[1] << 8));
    const int logMode = in[2];
    const int t = in[3];
    const int m = in[4];
    const uint8_t* codes = in + 5;
    samples[0] = static_cast<int16_t>(p);

    if (logMode) {
        for (int i = 1; i < n; ++i) {
            p = static_cast<uint16_t>(p + kExponentValues[codes[i - 1]]);
            samples[i * stride] = static_cast<int16_t>(p);
        }
    } else if (t >= 128) {
        // Every code byte is its own value (-128 too: (-128 + 128) * m - 128).
        for (int i = 1; i < n; ++i) {
            p = static_cast<uint16_t>(p + static_cast<int8_t>(codes[i - 1]));
            samples[i * stride] = static_cast<int16_t>(p);
        }
    } else {
        for (int i = 1; i < n; ++i) {
            const int v = RestoreDeltaR(static_cast<int8_t>(codes[i - 1]), 0, t, m);
            p = static_cast<uint16_t>(p + v);
            samples[i * stride] = static_cast<int16_t>(p);
        }
    }
    return BlockBytes(n);
}

int FindUnsoundByte(const uint8_t* in, int n) {
    if (n < 1)
        return -1;
    const int logMode = in[2];
    if (logMode > 1)
        return 2;
    if (logMode == 0) {
        bool known = false;
        for (int i = 0; i < kCodingCount - 1 && !known; ++i)
            known = in[3] == kCodings[i].threshold && in[4] == kCodings[i].multiplier;
        if (!known)
            return 3;
    }
    int p = static_cast<int16_t>(static_cast<uint16_t>(in[0] | (in[1] << 8)));
    for (int i = 1; i < n; ++i) {
        const auto c = static_cast<int8_t>(in[4 + i]);
        if (logMode && !IsSoundExponentCode(c))
            return 4 + i;
        p += RestoreDeltaR(c, logMode, in[3], in[4]);
        if (p < INT16_MIN || p > INT16_MAX)
            return 4 + i;
    }
    return -1;
}

namespace {

// The reference coder of whole seconds: block by block.
int PlainEncodeSecond(const int16_t* frames, int n, const int* slots, int slotCount, uint8_t* out) {
    uint8_t* p = out;
    for (int j = 0; j < slotCount; ++j)
        p += EncodeBlock(frames + slots[j], kFrameSlots, n, p);
    return static_cast<int>(p - out);
}

int PlainDecodeSecond(const uint8_t* in, int n, const int* slots, int slotCount, int16_t* frames) {
    if (n < 1)
        return 0;
    if (slotCount < kFrameSlots)
        std::memset(frames, 0, sizeof(int16_t) * kFrameSlots * static_cast<size_t>(n));
    const uint8_t* p = in;
    for (int k = 0; k < slotCount; ++k)
        p += DecodeBlock(p, n, frames + slots[k], kFrameSlots);
    return static_cast<int>(p - in);
}

struct Coders {
    SecondCoder list[3];
    size_t count = 0;
    Coders() {
        list[count++] = {"plain", PlainEncodeSecond, PlainDecodeSecond};
#if defined(__x86_64__) || defined(__i386__)
        // A static initialiser may get here before the run time has looked at
        // the processor.
        __builtin_cpu_init();
        if (const SecondCoder* c = Sse2Coder(); c && __builtin_cpu_supports("sse2"))
            list[count++] = *c;
        // The check covers the operating system's saving of the AVX registers too.
        if (const SecondCoder* c = Avx2Coder(); c && __builtin_cpu_supports("avx2"))
            list[count++] = *c;
#endif
    }
};

const Coders& TheCoders() {
    static const Coders coders;
    return coders;
}

const SecondCoder& Fastest() {
    const Coders& coders = TheCoders();
    return coders.list[coders.count - 1];
}

}  // namespace

std::span<const SecondCoder> AvailableCoders() {
    return {TheCoders().list, TheCoders().count};
}

int EncodeSecond(const int16_t* frames, int n, const int* slots, int slotCount, uint8_t* out) {
    return Fastest().encode(frames, n, slots, slotCount, out);
}

int DecodeSecond(const uint8_t* in, int n, const int* slots, int slotCount, int16_t* frames) {
    return Fastest().decode(in, n, slots, slotCount, frames);
}

}  // namespace DeltaCoding
