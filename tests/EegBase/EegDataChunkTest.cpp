#include "EegBase/EegDataChunk.h"

#include "BaseTestSupport.h"

TEST(EegDataChunk, FramesFollowEachOtherAndTheCountStopsAtTheCapacity) {
    CEegDataChunk chunk(400, 32);
    EXPECT_EQ(chunk.GetNumberOfSamples(), 0u);
    EXPECT_EQ(chunk.GetFrame(0), chunk.GetData());
    EXPECT_EQ(chunk.GetFrame(399), chunk.GetData() + 399 * 32);
    EXPECT_EQ(chunk.GetFrame(400), nullptr);
    // The whole capacity is usable memory (the sanitizer build checks the bounds).
    for (uint32_t s = 0; s < 400; ++s) {
        for (int c = 0; c < 32; ++c)
            chunk.GetFrame(s)[c] = static_cast<int16_t>(s * 32 + c);
    }
    const CEegDataChunk& readOnly = chunk;
    EXPECT_EQ(readOnly.GetFrame(2)[1], 65);

    chunk.SetNumberOfSamples(350);
    EXPECT_EQ(chunk.GetFreeSamples(), 50u);
    chunk.IncNumberOfSamples(51);
    EXPECT_EQ(chunk.GetNumberOfSamples(), 400u);
    chunk.SetNumberOfSamples(10);
    chunk.IncNumberOfSamples(UINT32_MAX);  // no wrap-around to a small count
    EXPECT_EQ(chunk.GetNumberOfSamples(), 400u);
    chunk.SetNumberOfSamples(401);
    EXPECT_EQ(chunk.GetNumberOfSamples(), 400u);

    CEegDataChunk none(-5, -1);
    EXPECT_EQ(none.GetSampleCapacity(), 0u);
    EXPECT_EQ(none.GetChannelCount(), 0);
    none.IncNumberOfSamples(3);
    EXPECT_EQ(none.GetNumberOfSamples(), 0u);
    EXPECT_EQ(none.GetFrame(0), nullptr);
}
