// The adaptive delta coding of one stored second (compression type 2), shared by
// the current format's "EEGData" stream and the legacy data files' mode 2, and the
// exponent code that its log mode and the legacy mode 1 use.
//
// A stored second is one channel block per stored slot, slots ascending. A block
// for n samples (n >= 1) is n + 4 bytes:
//   0  int16 LE  first sample, exact
//   2  uint8     log mode: 0 linear (threshold) code, 1 exponent code
//   3  uint8     threshold t (linear mode)
//   4  uint8     multiplier m (linear mode)
//   5  int8[n-1] one code per following sample
// Each sample is the previous decoded sample plus the decoded code, in 16-bit
// arithmetic. The encoder chooses t, m and a clamp from the largest step of the
// channel's raw samples and codes each difference from the reconstructed previous
// value (closed loop), so coding errors never accumulate.
//
// In-memory frames are kFrameSlots int16 samples, slot 0 first; sample i of slot
// k is frames[kFrameSlots * i + k]. The slot lists given here must be ascending
// values in 0 .. kFrameSlots-1; the callers build them from their channel flags.
// Nothing here allocates or throws.
//
// Whole seconds go through one of several coders that give the same bytes: the
// plain one, block by block (the reference), and vectorised ones for the
// processors that have them; EncodeSecond and DecodeSecond use the fastest this
// processor runs, chosen once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace DeltaCoding {

constexpr int kFrameSlots = 32;
// First sample (2), log-mode flag, threshold and multiplier bytes, one code per
// sample after the first.
constexpr int kBlockOverhead = 4;

// One row of the coding table: the coding chosen for steps below `bound`.
struct Coding {
    int bound;       // largest raw step (exclusive) this row serves
    int logMode;     // 1: exponent code; t and m carry no meaning
    int threshold;   // t
    int multiplier;  // m, a power of two
    int shift;       // log2(m)
    int clamp;       // L: the largest difference the row can express
};

// The row for a largest raw step d (d >= 0); the exponent row from 8256 on.
const Coding& ChooseCoding(int largestStep);

// The five header bytes of a block: first sample, log mode, t, m.
void WriteBlockHeader(int16_t first, const Coding& c, uint8_t* out);

// Bytes of one channel block for n samples per second.
constexpr int BlockBytes(int n) {
    return n + kBlockOverhead;
}

// Exponent code (eeemmmmm): m a 5-bit two's-complement mantissa, value m << 2e.
// The magnitude is truncated at each shift; -32768 (no 16-bit magnitude) gives 0.
int8_t ConvertDelta(int16_t d);
inline int16_t RestoreDelta(int8_t c) {
    const int u = static_cast<uint8_t>(c);
    const int mantissa = (u & 0x10) ? (u & 0x1F) - 32 : (u & 0x1F);
    return static_cast<int16_t>(static_cast<uint16_t>(mantissa * (1 << (2 * (u >> 5)))));
}

// Whether a stored exponent code is one ConvertDelta makes: coding its own value
// gives it back. Exponent 7, a mantissa below 4 in size above exponent 0, and -16
// at exponent 0 never come out of it.
inline bool IsSoundExponentCode(int8_t c) {
    return ConvertDelta(RestoreDelta(c)) == c;
}

// One difference under a block's coding (logMode non-zero: the exponent code).
// Linear: |d| < t as it is; d > 0 (d - t) / m + t; else (d + t) / m - t, with
// division truncating toward zero. d must lie within the row's clamp.
int8_t ConvertDeltaR(int d, int logMode, int threshold, int multiplier);
inline int RestoreDeltaR(int8_t c, int logMode, int threshold, int multiplier) {
    if (logMode)
        return RestoreDelta(c);
    const int b = c;
    if (b < threshold && b > -threshold)
        return b;
    return b > 0 ? (b - threshold) * multiplier + threshold
                 : (b + threshold) * multiplier - threshold;
}

// Codes n samples of one channel, read every `stride` int16 from `samples`, into
// one block of BlockBytes(n) bytes at out. Returns the bytes written (0 for n < 1).
int EncodeBlock(const int16_t* samples, ptrdiff_t stride, int n, uint8_t* out);
// The same for a caller that has measured the channel's largest step: c must be
// the row ChooseCoding gives for it.
int EncodeBlockAs(const Coding& c, const int16_t* samples, ptrdiff_t stride, int n, uint8_t* out);

// Decodes one block of BlockBytes(n) bytes into n samples written every `stride`
// int16 from `samples`. Any byte values decode (16-bit wrapping); nothing is read
// beyond the block. Returns the bytes consumed (0 for n < 1).
int DecodeBlock(const uint8_t* in, int n, int16_t* samples, ptrdiff_t stride);

// The offset in one block of BlockBytes(n) bytes of the first byte the encoder
// cannot have written, or -1 when there is none: a log-mode flag other than 0 and
// 1, a threshold and multiplier that no row of the coding table has, an exponent
// code it never makes, or a code that takes a sample beyond the 16-bit range (the
// encoder's reconstruction always lies between two of its samples). For checks;
// the decoder takes any bytes.
int FindUnsoundByte(const uint8_t* in, int n);

// Codes n in-memory frames into one stored second: a block for each slot of
// slots[0 .. slotCount-1]. Returns the bytes written, slotCount * BlockBytes(n).
int EncodeSecond(const int16_t* frames, int n, const int* slots, int slotCount, uint8_t* out);

// Decodes one stored second into n in-memory frames; slots not listed read 0.
// Returns the bytes consumed.
int DecodeSecond(const uint8_t* in, int n, const int* slots, int slotCount, int16_t* frames);

// A coder of whole seconds, with EncodeSecond's and DecodeSecond's contracts.
struct SecondCoder {
    const char* name;  // "plain", "sse2", "avx2"
    int (*encode)(const int16_t* frames, int n, const int* slots, int slotCount, uint8_t* out);
    int (*decode)(const uint8_t* in, int n, const int* slots, int slotCount, int16_t* frames);
};
// The coders this processor runs: the plain one first, the fastest last.
std::span<const SecondCoder> AvailableCoders();

}  // namespace DeltaCoding
