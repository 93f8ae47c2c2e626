#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "EegFile/frame/DeltaCoding.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A straightforward coder written from the format's description, row by row and
// with plain divisions, to check the fast one against.
namespace reference {

struct Row {
    int bound, logMode, t, m, clamp;
};
const Row kRows[] = {{128, 0, 128, 1, 127},   {192, 0, 64, 2, 191},     {224, 0, 32, 2, 223},
                     {416, 0, 32, 4, 415},    {464, 0, 16, 4, 463},     {800, 0, 32, 8, 799},
                     {912, 0, 16, 8, 911},    {1568, 0, 32, 16, 1567},  {1808, 0, 16, 16, 1807},
                     {3104, 0, 32, 32, 3103}, {3600, 0, 16, 32, 3599},  {4160, 0, 64, 64, 4159},
                     {6176, 0, 32, 64, 6175}, {8256, 0, 64, 128, 8255}, {1 << 30, 1, 0, 0, 32767}};

int ExpCode(int d) {
    int a = std::abs(d);
    int e = 0;
    while (a >= 16) {
        a /= 4;
        ++e;
    }
    return e * 32 + (d >= 0 ? a : (-a) & 31);
}

int ExpValue(int byte) {
    int mant = byte & 31;
    if (mant >= 16)
        mant -= 32;
    return mant * (1 << (2 * ((byte >> 5) & 7)));
}

int Decode(int8_t b, int logMode, int t, int m) {
    if (logMode)
        return ExpValue(static_cast<uint8_t>(b));
    if (std::abs(b) < t)
        return b;
    if (b > 0)
        return (b - t) * m + t;
    return (b + t) * m - t;
}

Bytes Encode(const std::vector<int16_t>& x) {
    int n = static_cast<int>(x.size());
    int D = 0;
    for (int i = 0; i + 1 < n; ++i)
        D = std::max(D, std::abs(x[i] - x[i + 1]));
    const Row* row = &kRows[0];
    for (const Row& r : kRows) {
        if (D < r.bound) {
            row = &r;
            break;
        }
    }
    Bytes out;
    out.push_back(static_cast<uint8_t>(x[0] & 0xFF));
    out.push_back(static_cast<uint8_t>((x[0] >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>(row->logMode));
    out.push_back(static_cast<uint8_t>(row->logMode ? 0 : row->t));
    out.push_back(static_cast<uint8_t>(row->logMode ? 0 : row->m));
    int r = x[0];
    for (int i = 1; i < n; ++i) {
        int d = std::clamp(x[i] - r, -row->clamp, row->clamp);
        int code;
        if (row->logMode)
            code = ExpCode(d);
        else if (std::abs(d) < row->t)
            code = d;
        else if (d > 0)
            code = (d - row->t) / row->m + row->t;
        else
            code = (d + row->t) / row->m - row->t;
        out.push_back(static_cast<uint8_t>(code));
        r = static_cast<int16_t>(r +
                                 Decode(static_cast<int8_t>(code), row->logMode, row->t, row->m));
    }
    return out;
}

std::vector<int16_t> DecodeBlock(const Bytes& in, int n) {
    std::vector<int16_t> x(static_cast<size_t>(n));
    int p = static_cast<int16_t>(in[0] | (in[1] << 8));
    x[0] = static_cast<int16_t>(p);
    for (int i = 1; i < n; ++i) {
        p = static_cast<int16_t>(static_cast<uint16_t>(
            p + Decode(static_cast<int8_t>(in[4 + static_cast<size_t>(i)]), in[2], in[3], in[4])));
        x[static_cast<size_t>(i)] = static_cast<int16_t>(p);
    }
    return x;
}

}  // namespace reference

Bytes EncodeChannel(const std::vector<int16_t>& x) {
    Bytes out(static_cast<size_t>(DeltaCoding::BlockBytes(static_cast<int>(x.size()))));
    EXPECT_EQ(DeltaCoding::EncodeBlock(x.data(), 1, static_cast<int>(x.size()), out.data()),
              static_cast<int>(out.size()));
    return out;
}

std::vector<int16_t> DecodeChannel(const Bytes& in, int n) {
    std::vector<int16_t> x(static_cast<size_t>(n));
    EXPECT_EQ(DeltaCoding::DecodeBlock(in.data(), n, x.data(), 1), DeltaCoding::BlockBytes(n));
    return x;
}

}  // namespace

TEST(DeltaCoding, ExponentCodeValues) {
    using DeltaCoding::ConvertDelta;
    using DeltaCoding::RestoreDelta;
    EXPECT_EQ(static_cast<uint8_t>(ConvertDelta(15)), 0x0F);
    EXPECT_EQ(static_cast<uint8_t>(ConvertDelta(16)), 0x24);
    EXPECT_EQ(static_cast<uint8_t>(ConvertDelta(100)), 0x46);
    EXPECT_EQ(static_cast<uint8_t>(ConvertDelta(-100)), 0x5A);
    EXPECT_EQ(static_cast<uint8_t>(ConvertDelta(-1)), 0x1F);
    EXPECT_EQ(static_cast<uint8_t>(ConvertDelta(-32768)), 0x00);
    EXPECT_EQ(RestoreDelta(0x0F), 15);
    EXPECT_EQ(RestoreDelta(0x24), 16);
    EXPECT_EQ(RestoreDelta(0x46), 96);
    EXPECT_EQ(RestoreDelta(0x5A), -96);
    EXPECT_EQ(RestoreDelta(ConvertDelta(-16)), -16);
    // Every 16-bit difference restores to its magnitude truncated at each shift.
    for (int d = -32767; d <= 32767; ++d) {
        const int code = static_cast<uint8_t>(ConvertDelta(static_cast<int16_t>(d)));
        ASSERT_EQ(code, reference::ExpCode(d)) << d;
        ASSERT_EQ(RestoreDelta(static_cast<int8_t>(code)), reference::ExpValue(code)) << d;
    }
    // Every byte decodes as the reference says, including exponent 7 (wrapping).
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(RestoreDelta(static_cast<int8_t>(b)),
                  static_cast<int16_t>(static_cast<uint16_t>(reference::ExpValue(b))));
}

TEST(DeltaCoding, CodingTableRowsAndClamps) {
    int from = 0;  // each row from the first largest step it takes to its last
    for (const auto& row : reference::kRows) {
        for (int d : {from, std::min(row.bound - 1, 65535)}) {
            const auto& c = DeltaCoding::ChooseCoding(d);
            EXPECT_EQ(c.logMode, row.logMode) << d;
            EXPECT_EQ(c.clamp, row.clamp) << d;
            if (!row.logMode) {
                EXPECT_EQ(c.threshold, row.t) << d;
                EXPECT_EQ(c.multiplier, row.m) << d;
                EXPECT_EQ(1 << c.shift, row.m) << d;
            }
        }
        from = row.bound;
        if (row.logMode)
            continue;
        // The clamp is the largest difference the row codes into a signed byte.
        EXPECT_EQ(row.clamp, (127 - row.t) * row.m + row.t + row.m - 1);
        EXPECT_EQ(DeltaCoding::ConvertDeltaR(row.clamp, 0, row.t, row.m), 127);
        EXPECT_EQ(DeltaCoding::ConvertDeltaR(-row.clamp, 0, row.t, row.m), -127);
    }
}

// Channel blocks coded by hand from the format's rules.
TEST(DeltaCoding, HandComputedBlocks) {
    // Steps 10, -20, 127, -127: below 128, linear with t = 128, m = 1, exact.
    std::vector<int16_t> exact = {1000, 1010, 990, 1117, 990};
    Bytes exactBytes = {0xE8, 0x03, 0x00, 0x80, 0x01, 0x0A, 0xEC, 0x7F, 0x81};
    EXPECT_EQ(EncodeChannel(exact), exactBytes);
    EXPECT_EQ(DecodeChannel(exactBytes, 5), exact);

    // Largest step 191: t = 64, m = 2. 150 -> (150-64)/2+64 = 107 (restores 150);
    // -50 as it is; 0; -191 -> (-191+64)/2-64 = -127, restoring -190.
    std::vector<int16_t> linear = {0, 150, 100, 100, -91};
    Bytes linearBytes = {0x00, 0x00, 0x00, 0x40, 0x02, 0x6B, 0xCE, 0x00, 0x81};
    EXPECT_EQ(EncodeChannel(linear), linearBytes);
    EXPECT_EQ(DecodeChannel(linearBytes, 5), (std::vector<int16_t>{0, 150, 100, 100, -90}));

    // A jump of 10000: log mode. 10000 -> e5 m9 (9216); then 784 from the
    // reconstruction -> e3 m12 (768); -9984 -> e5 m-9 (-9216); -773 -> e3 m-12 (-768).
    std::vector<int16_t> jump = {0, 10000, 10000, 0, -5};
    Bytes jumpBytes = {0x00, 0x00, 0x01, 0x00, 0x00, 0xA9, 0x6C, 0xB7, 0x74};
    EXPECT_EQ(EncodeChannel(jump), jumpBytes);
    EXPECT_EQ(DecodeChannel(jumpBytes, 5), (std::vector<int16_t>{0, 9216, 9984, 768, 0}));

    // Full-scale jump: clamped to 32767 (e6 m7 = 28672), then closing in.
    std::vector<int16_t> full = {-32768, 32767, 32767, 32767, 32767, 32767};
    Bytes fullBytes = {0x00, 0x80, 0x01, 0x00, 0x00, 0xC7, 0xC7, 0xA7, 0x6F, 0x2F};
    EXPECT_EQ(EncodeChannel(full), fullBytes);
    EXPECT_EQ(DecodeChannel(fullBytes, 6),
              (std::vector<int16_t>{-32768, -4096, 24576, 31744, 32704, 32764}));

    // One sample: the first row's header and no codes.
    EXPECT_EQ(EncodeChannel({-2}), (Bytes{0xFE, 0xFF, 0x00, 0x80, 0x01}));
}

// One stored second: a block per stored slot, ascending; other slots read 0.
TEST(DeltaCoding, StoredSecondOfTwoSlots) {
    const int n = 5;
    std::vector<int16_t> frames(static_cast<size_t>(DeltaCoding::kFrameSlots * n), 77);
    const int16_t slot3[] = {0, 10000, 10000, 0, -5};
    const int16_t slot30[] = {1000, 1010, 990, 1117, 990};
    for (int i = 0; i < n; ++i) {
        frames[32 * i + 3] = slot3[i];
        frames[32 * i + 30] = slot30[i];
    }
    const int slots[] = {3, 30};
    Bytes out(2 * 9 + 1, 0xEE);
    EXPECT_EQ(DeltaCoding::EncodeSecond(frames.data(), n, slots, 2, out.data()), 18);
    Bytes expected = {0x00, 0x00, 0x01, 0x00, 0x00, 0xA9, 0x6C, 0xB7, 0x74, 0xE8,
                      0x03, 0x00, 0x80, 0x01, 0x0A, 0xEC, 0x7F, 0x81, 0xEE};
    EXPECT_EQ(out, expected);

    std::vector<int16_t> back(frames.size(), 555);
    EXPECT_EQ(DeltaCoding::DecodeSecond(out.data(), n, slots, 2, back.data()), 18);
    const int16_t slot3Back[] = {0, 9216, 9984, 768, 0};
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < 32; ++k)
            EXPECT_EQ(back[32 * i + k], k == 3 ? slot3Back[i] : k == 30 ? slot30[i] : 0) << k;
    }
}

// Random seconds: steps below 128 come back exactly; larger steps give exactly
// the reference's bytes and values, and stay within the row's clamp of the input.
TEST(DeltaCoding, RandomSecondsMatchReference) {
    std::mt19937 rng(12345);
    const int maxSteps[] = {1, 127, 150, 200, 400, 460, 900, 1800, 3500, 6000, 8255, 9000, 65535};
    for (int n : {1, 2, 200, 256, 400}) {
        for (int maxStep : maxSteps) {
            for (int rep = 0; rep < 20; ++rep) {
                std::uniform_int_distribution<int> step(-maxStep, maxStep);
                std::vector<int16_t> x(static_cast<size_t>(n));
                int v = std::uniform_int_distribution<int>(-32768, 32767)(rng);
                for (auto& s : x) {
                    int next = v + step(rng);
                    if (next > 32767 || next < -32768)
                        next = v - (next - v);  // reflect to stay in range
                    v = std::clamp(next, -32768, 32767);
                    s = static_cast<int16_t>(v);
                }
                Bytes coded = EncodeChannel(x);
                ASSERT_EQ(coded, reference::Encode(x)) << "n " << n << " step " << maxStep;
                ASSERT_EQ(DeltaCoding::FindUnsoundByte(coded.data(), n), -1);
                std::vector<int16_t> back = DecodeChannel(coded, n);
                ASSERT_EQ(back, reference::DecodeBlock(coded, n));
                if (maxStep < 128) {
                    ASSERT_EQ(back, x);
                }
            }
        }
    }
}

// A check finds what the coder never writes: exactly the exponent codes it makes
// are sound, and a block's first unsound byte is told by its offset.
TEST(DeltaCoding, UnsoundBytesAreFound) {
    bool made[256] = {};
    for (int d = -32768; d <= 32767; ++d)
        made[static_cast<uint8_t>(DeltaCoding::ConvertDelta(static_cast<int16_t>(d)))] = true;
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(DeltaCoding::IsSoundExponentCode(static_cast<int8_t>(c)), made[c]) << c;
    // n = 4: first sample 32700, flag, t, m, three codes.
    const struct {
        Bytes block;
        int unsound;
    } blocks[] = {
        {{0xBC, 0x7F, 0, 128, 1, 10, 50, 7}, -1},
        {{0xBC, 0x7F, 2, 128, 1, 10, 50, 7}, 2},    // no such flag
        {{0xBC, 0x7F, 0, 128, 2, 10, 50, 7}, 3},    // no such row
        {{0xBC, 0x7F, 0, 128, 1, 10, 60, 7}, 6},    // 32770
        {{0xBC, 0x7F, 1, 0, 0, 0x0A, 0xE1, 0}, 6},  // exponent 7
        {{0xBC, 0x7F, 1, 9, 9, 0x0A, 0x22, 0}, 6},  // 2 << 2: made as 0x08
    };
    for (const auto& b : blocks)
        EXPECT_EQ(DeltaCoding::FindUnsoundByte(b.block.data(), 4), b.unsound);
}

// Whatever bytes a damaged file holds decode without fault, as the reference says.
TEST(DeltaCoding, ArbitraryBytesDecodeLikeReference) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int rep = 0; rep < 2000; ++rep) {
        const int n = 1 + rep % 64;
        Bytes block(static_cast<size_t>(DeltaCoding::BlockBytes(n)));
        for (auto& b : block)
            b = static_cast<uint8_t>(byte(rng));
        if (rep % 4 == 0)
            block[2] = 0;  // linear mode with a random threshold and multiplier
        ASSERT_EQ(DecodeChannel(block, n), reference::DecodeBlock(block, n));
    }
}

// A whole second of 32 slots with mixed step sizes, some slots left out: each
// stored slot's block is the reference's, and decoding restores what it decodes.
TEST(DeltaCoding, WholeSecondsMatchReferencePerSlot) {
    std::mt19937 rng(2024);
    const int maxSteps[] = {100, 700, 5000, 40000};
    for (int n : {1, 3, 64, 65, 200, 400}) {
        std::vector<int16_t> frames(32 * n);
        for (int k = 0; k < 32; ++k) {
            std::uniform_int_distribution<int> step(-maxSteps[k % 4], maxSteps[k % 4]);
            for (int i = 0, v = 0; i < n; ++i) {
                v = std::clamp(v + step(rng), -32768, 32767);
                frames[32 * i + k] = static_cast<int16_t>(v);
            }
        }
        std::vector<int> slots;
        Bytes expected;
        std::vector<int16_t> want(frames.size(), 0);  // slots left out read 0
        for (int k = 0; k < 32; ++k) {
            if (k % 7 == 5)
                continue;
            slots.push_back(k);
            std::vector<int16_t> x;
            for (int i = 0; i < n; ++i)
                x.push_back(frames[32 * i + k]);
            const Bytes b = reference::Encode(x);
            expected.insert(expected.end(), b.begin(), b.end());
            const std::vector<int16_t> values = reference::DecodeBlock(b, n);
            for (int i = 0; i < n; ++i)
                want[32 * i + k] = values[i];
        }
        const int count = static_cast<int>(slots.size()), size = static_cast<int>(expected.size());
        Bytes out(expected.size());
        ASSERT_EQ(DeltaCoding::EncodeSecond(frames.data(), n, slots.data(), count, out.data()),
                  size);
        ASSERT_EQ(out, expected) << "n " << n;
        std::vector<int16_t> back(frames.size(), -1);
        ASSERT_EQ(DeltaCoding::DecodeSecond(out.data(), n, slots.data(), count, back.data()), size);
        ASSERT_EQ(back, want) << "n " << n;
    }
}

// Every coder this processor runs (the vectorised ones beside the plain one)
// gives the plain coder's bytes and samples, and writes nothing beyond the
// second: each rate, slot set and signal of the tables, with each slot's largest
// step at a row's edge so that every code width meets every lane and tile
// position, and arbitrary stored bytes.
TEST(DeltaCoding, EveryCoderMatchesPlain) {
    const auto coders = DeltaCoding::AvailableCoders();
    ASSERT_STREQ(coders[0].name, "plain");
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_STREQ(coders.back().name, "avx2");
    }
    std::vector<int> edges;  // largest steps: each row's last, and the next row's first
    for (const auto& row : reference::kRows)
        edges.insert(edges.end(), {row.bound - 1, std::min(row.bound, 65535)});
    std::vector<std::vector<int>> slotSets = {{}, {0}, {31}, {3, 30}, {}, {}};
    for (int k = 0; k < 32; ++k) {
        slotSets[0].push_back(k);
        slotSets[k % 2 ? 4 : 5].push_back(k);
    }
    std::mt19937 rng(4242);
    for (int n : {1, 2, 16, 17, 18, 33, 200, 255, 400}) {
        for (int signal = 0; signal < 3; ++signal) {
            // 0: each slot's steps reach its edge once; 1: full-scale swings;
            // 2: random steps below 128 around a random level.
            std::vector<int16_t> frames(static_cast<size_t>(32 * n));
            for (int k = 0; k < 32; ++k) {
                const int edge = edges[static_cast<size_t>(k + n) % edges.size()];
                int v = signal == 2 ? static_cast<int16_t>(rng()) : -32768 + (k * 911) % 20000;
                for (int i = 0; i < n; ++i) {
                    if (signal == 0)
                        v = i == n / 2 ? std::clamp(v + edge, -32768, 32767) : v + (i % 3) - 1;
                    else if (signal == 1)
                        v = (i + k) % 2 ? 32767 : -32768;
                    else
                        v = std::clamp(v + static_cast<int>(rng() % 255) - 127, -32768, 32767);
                    frames[static_cast<size_t>(32 * i + k)] = static_cast<int16_t>(v);
                }
            }
            for (const auto& slots : slotSets) {
                const int count = static_cast<int>(slots.size());
                const size_t size = static_cast<size_t>(count * DeltaCoding::BlockBytes(n));
                Bytes want(size + 16, 0xEE), got(size + 16, 0xEE);
                coders[0].encode(frames.data(), n, slots.data(), count, want.data());
                std::vector<int16_t> wantBack(frames.size(), -7), gotBack(frames.size(), -7);
                coders[0].decode(want.data(), n, slots.data(), count, wantBack.data());
                for (const auto& coder : coders) {
                    SCOPED_TRACE(testing::Message() << coder.name << " n " << n << " signal "
                                                    << signal << " slots " << count);
                    std::fill(got.begin(), got.end(), 0xEE);
                    std::fill(gotBack.begin(), gotBack.end(), -7);
                    ASSERT_EQ(coder.encode(frames.data(), n, slots.data(), count, got.data()),
                              static_cast<int>(size));
                    ASSERT_EQ(got, want);
                    ASSERT_EQ(coder.decode(want.data(), n, slots.data(), count, gotBack.data()),
                              static_cast<int>(size));
                    ASSERT_EQ(gotBack, wantBack);
                    // Damaged bytes: random codes under random modes.
                    Bytes junk(size);
                    for (auto& b : junk)
                        b = static_cast<uint8_t>(rng());
                    for (int j = 0; j < count; ++j)
                        junk[static_cast<size_t>(j * DeltaCoding::BlockBytes(n) + 2)] %= 2 + j % 2;
                    coders[0].decode(junk.data(), n, slots.data(), count, wantBack.data());
                    coder.decode(junk.data(), n, slots.data(), count, gotBack.data());
                    ASSERT_EQ(gotBack, wantBack);
                    coders[0].decode(want.data(), n, slots.data(), count, wantBack.data());
                }
            }
        }
    }
}
