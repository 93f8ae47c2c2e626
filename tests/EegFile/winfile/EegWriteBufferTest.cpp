#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <thread>
#include <vector>

#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/EegWriteBuffer.h"
#include "TestSupport.h"

namespace {

constexpr int kRate = 200;
constexpr int kSecondBytes = kRate * 64;

// Frames whose every sample carries the frame's number.
std::vector<int16_t> Frames(int first, int count) {
    std::vector<int16_t> f(static_cast<size_t>(32 * count));
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 32; ++k)
            f[static_cast<size_t>(32 * i + k)] = static_cast<int16_t>(first + i);
    return f;
}

void Append(CEegWriteBuffer& b, const std::vector<int16_t>& f) {
    b.Append(f.data(), static_cast<int>(f.size() * 2));
}

void ExpectOverflow(CEegWriteBuffer& b, int frames) {
    const auto f = Frames(0, frames);
    testsupport::ExpectThrows<CEegFileException>(
        [&] { Append(b, f); },
        [](CEegFileException& e) {
            EXPECT_EQ(e.GetErrorCode(), CEegFileException::eWriteBufferOverflow);
        });
}

}  // namespace

TEST(EegWriteBuffer, SizesAndOverflow) {
    EXPECT_EQ(CEegWriteBuffer().GetCapacity(), 384000);
    EXPECT_EQ(CEegWriteBuffer(1000).GetCapacity(), 192000);
    EXPECT_EQ(CEegWriteBuffer::EffectiveCapacity(1000), 192000);
    EXPECT_EQ(CEegWriteBuffer(500000).GetCapacity(), 500000);

    // 6001 frames do not fit an empty default buffer and nothing is kept; 6000 do.
    CEegWriteBuffer b;
    ExpectOverflow(b, 6001);
    EXPECT_EQ(b.GetUsed(), 0);
    Append(b, Frames(0, 6000));
    EXPECT_EQ(b.GetSampleCount(), 6000);
    EXPECT_EQ(b.GetFree(), 0);
    ExpectOverflow(b, 1);
    EXPECT_EQ(b.GetSampleCount(), 6000);
    // Taking a second makes room for a second again.
    std::vector<int16_t> out(32 * kRate);
    ASSERT_TRUE(b.Take(out.data(), kSecondBytes));
    EXPECT_EQ(out, Frames(0, kRate));
    Append(b, Frames(6000, kRate));
    EXPECT_EQ(b.GetSampleCount(), 6000);
}

TEST(EegWriteBuffer, WholeSecondsPadAndDiscard) {
    CEegWriteBuffer b;
    // 2.5 s: two whole seconds come out, half a second stays.
    Append(b, Frames(0, 500));
    std::vector<int16_t> out(32 * kRate);
    int seconds = 0;
    while (b.GetUsed() >= kSecondBytes) {
        ASSERT_TRUE(b.Take(out.data(), kSecondBytes));
        EXPECT_EQ(out, Frames(seconds * kRate, kRate));
        ++seconds;
    }
    EXPECT_EQ(seconds, 2);
    EXPECT_EQ(b.GetSampleCount(), 100);
    EXPECT_FALSE(b.Take(out.data(), kSecondBytes));
    EXPECT_EQ(b.GetSampleCount(), 100);

    // Padding adds rate / 2 zero frames; the third second is data then zeros.
    EXPECT_EQ(b.PadPartialSecond(kSecondBytes), kRate / 2);
    EXPECT_EQ(b.PadPartialSecond(kSecondBytes), 0);  // already whole
    ASSERT_TRUE(b.Take(out.data(), kSecondBytes));
    std::vector<int16_t> expected = Frames(400, 100);
    expected.resize(32 * kRate, 0);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(b.GetUsed(), 0);

    // Discard right after a pad takes the padded frames too.
    Append(b, Frames(0, 30));
    EXPECT_EQ(b.PadPartialSecond(kSecondBytes), kRate - 30);
    EXPECT_EQ(b.Discard(), kRate);
    EXPECT_EQ(b.GetUsed(), 0);
    EXPECT_EQ(b.Discard(), 0);

    // A pad stops at the free space, in whole frames.
    CEegWriteBuffer full(1000);
    Append(full, Frames(0, 2999));
    EXPECT_EQ(full.PadPartialSecond(7 * 64 * 64), 1);
    EXPECT_EQ(full.GetFree(), 0);
}

// Random appends, takes and peeks across the wrap-around, against a plain queue.
TEST(EegWriteBuffer, WrapsLikeAQueue) {
    CEegWriteBuffer b(192000 + 13);
    std::deque<uint8_t> model;
    std::mt19937 rng(5);
    uint8_t next = 0;
    for (int step = 0; step < 3000; ++step) {
        const int op = static_cast<int>(rng() % 3);
        const int n = static_cast<int>(rng() % 40000);
        std::vector<uint8_t> data(static_cast<size_t>(n));
        if (op == 0) {
            for (auto& v : data)
                v = next++;
            if (n <= b.GetFree()) {
                b.Append(data.data(), n);
                model.insert(model.end(), data.begin(), data.end());
            } else {
                const int before = b.GetUsed();
                testsupport::ExpectThrows<CEegFileException>([&] { b.Append(data.data(), n); },
                                                             [](CEegFileException&) {});
                ASSERT_EQ(b.GetUsed(), before);
                next = static_cast<uint8_t>(next - n);
            }
        } else if (op == 1) {
            const bool took = b.Take(data.data(), n);
            ASSERT_EQ(took, n <= static_cast<int>(model.size()));
            if (took) {
                ASSERT_TRUE(std::equal(data.begin(), data.end(), model.begin()));
                model.erase(model.begin(), model.begin() + n);
            }
        } else {
            const int offset = static_cast<int>(rng() % 200000);
            const int got = b.Peek(offset, data.data(), n);
            const int expect = offset < static_cast<int>(model.size()) && n > 0
                                   ? std::min(n, static_cast<int>(model.size()) - offset)
                                   : 0;
            ASSERT_EQ(got, expect);
            if (got > 0) {
                ASSERT_TRUE(std::equal(data.begin(), data.begin() + got, model.begin() + offset));
            }
        }
        ASSERT_EQ(b.GetUsed(), static_cast<int>(model.size()));
    }
}

// An acquisition thread appending while a writer takes whole seconds: every
// frame comes out once, in order.
TEST(EegWriteBuffer, ProducerAndConsumerThreads) {
    CEegWriteBuffer b(192000);
    constexpr int kSeconds = 300;
    std::thread producer([&] {
        int frame = 0;
        while (frame < kSeconds * kRate) {
            const auto f =
                Frames(frame, 37 < kSeconds * kRate - frame ? 37 : kSeconds * kRate - frame);
            const int frames = static_cast<int>(f.size() / 32);
            if (b.GetFree() >= frames * 64) {
                Append(b, f);
                frame += frames;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::vector<int16_t> out(32 * kRate);
    int taken = 0;
    bool inOrder = true;
    while (taken < kSeconds) {
        if (!b.Take(out.data(), kSecondBytes)) {
            std::this_thread::yield();
            continue;
        }
        inOrder = inOrder && out == Frames(taken * kRate, kRate);
        ++taken;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(b.GetUsed(), 0);
}
