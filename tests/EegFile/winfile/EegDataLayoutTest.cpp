#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "EegFile/frame/DeltaCoding.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/EegDataLayout.h"
#include "TestSupport.h"

namespace {

CAmpHardwareInfo Amplifier(std::vector<AmpInput::AmpInputType> inputs) {
    CAmpHardwareInfo info;
    info.SetInputDomain(CAmpInputDomain(inputs.data(), static_cast<int>(inputs.size())));
    return info;
}

std::vector<int16_t> RandomFrames(int rate, int seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::uniform_int_distribution<int> v(-32768, 32767);
    std::vector<int16_t> f(static_cast<size_t>(32 * rate));
    for (auto& s : f)
        s = static_cast<int16_t>(v(rng));
    return f;
}

}  // namespace

TEST(EegDataLayout, StoredSlotsAndBytesPerSecond) {
    // 19 jacks, a reference input (no slot) and a DC input (the slot of 1A + 2).
    std::vector<AmpInput::AmpInputType> inputs;
    for (int k = 0; k < 19; ++k)
        inputs.push_back(static_cast<AmpInput::AmpInputType>(k));
    inputs.push_back(AmpInput::Ref);
    CEegDataLayout layout;
    EXPECT_EQ(layout.GetRate(), 200);
    EXPECT_EQ(layout.GetStoredCount(), 32);
    EXPECT_EQ(layout.GetBytesPerSecond(), 32 * 204);

    layout.Configure(Compression::Uncompressed, 256, Amplifier(inputs));
    EXPECT_EQ(layout.GetStoredCount(), 19);
    EXPECT_EQ(layout.GetBytesPerSecond(), 9728);
    EXPECT_EQ(layout.GetMemBytesPerSecond(), 256 * 64);
    EXPECT_EQ(layout.GetAllocationUnit(), 9728 * 180);
    EXPECT_TRUE(layout.IsStored(18));
    EXPECT_FALSE(layout.IsStored(19));

    layout.Configure(static_cast<Compression::CompressionType>(1), 256, Amplifier(inputs));
    EXPECT_EQ(layout.GetBytesPerSecond(), 9728);  // only type 2 is coded
    layout.Configure(Compression::AdaptiveDelta, 256, Amplifier(inputs));
    EXPECT_EQ(layout.GetBytesPerSecond(), 19 * 260);

    inputs.push_back(static_cast<AmpInput::AmpInputType>(AmpInput::DC1 + 2));
    layout.Configure(Compression::AdaptiveDelta, 200, Amplifier(inputs));
    EXPECT_EQ(layout.GetStoredCount(), 20);
    EXPECT_TRUE(layout.IsStored(26));
    EXPECT_EQ(layout.GetStoredSlots()[19], 26);

    // Refusals leave the layout as it was.
    for (int rate : {0, -1, 401}) {
        testsupport::ExpectThrows<CEegFileException>(
            [&] { layout.Configure(Compression::Uncompressed, rate, Amplifier(inputs)); },
            [](CEegFileException& e) {
                EXPECT_EQ(e.GetErrorCode(), CEegFileException::eUnknownEegParameterFormat);
            });
    }
    testsupport::ExpectThrows<CEegFileException>(
        [&] { layout.Configure(Compression::Uncompressed, 200, Amplifier({AmpInput::Ref})); },
        [](CEegFileException&) {});
    EXPECT_EQ(layout.GetStoredCount(), 20);
    EXPECT_EQ(layout.GetCompressionType(), Compression::AdaptiveDelta);
}

TEST(EegDataLayout, UncompressedStoredSecondBytes) {
    // Slots 1 and 30 stored, 2 frames: each frame the two samples, LE.
    CEegDataLayout layout;
    layout.Configure(Compression::Uncompressed, 2,
                     Amplifier({static_cast<AmpInput::AmpInputType>(30), AmpInput::Fpz}));
    std::vector<int16_t> frames(64, 9);
    frames[1] = 0x0102;
    frames[30] = -2;
    frames[32 + 1] = 0x7FFF;
    frames[32 + 30] = -32768;
    std::vector<uint8_t> stored(8, 0xEE);
    layout.Pack(frames.data(), stored.data());
    EXPECT_EQ(stored, (std::vector<uint8_t>{0x02, 0x01, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80}));
    std::vector<int16_t> back(64, 5);
    layout.Unpack(stored.data(), back.data());
    for (int k = 0; k < 64; ++k) {
        const int slot = k % 32;
        EXPECT_EQ(back[static_cast<size_t>(k)],
                  slot == 1 || slot == 30 ? frames[static_cast<size_t>(k)] : 0);
    }
}

TEST(EegDataLayout, RoundTripsForEveryCoding) {
    std::vector<AmpInput::AmpInputType> some = {AmpInput::Fp1, AmpInput::O2, AmpInput::In1A};
    std::vector<AmpInput::AmpInputType> all;
    for (int k = 0; k < 32; ++k)
        all.push_back(static_cast<AmpInput::AmpInputType>(k));
    for (auto compression : {Compression::Uncompressed, Compression::AdaptiveDelta}) {
        for (const auto& inputs : {some, all}) {
            CEegDataLayout layout;
            layout.Configure(compression, 200, Amplifier(inputs));
            // Smooth frames (steps below 128) so the coded form is exact too.
            std::vector<int16_t> frames(32 * 200);
            for (int i = 0; i < 200; ++i)
                for (int k = 0; k < 32; ++k)
                    frames[static_cast<size_t>(32 * i + k)] =
                        static_cast<int16_t>(k * 100 + i % 50);
            std::vector<uint8_t> stored(static_cast<size_t>(layout.GetBytesPerSecond()));
            layout.Pack(frames.data(), stored.data());
            if (compression == Compression::AdaptiveDelta) {
                std::vector<uint8_t> direct(stored.size());
                DeltaCoding::EncodeSecond(frames.data(), 200, layout.GetStoredSlots(),
                                          layout.GetStoredCount(), direct.data());
                EXPECT_EQ(stored, direct);
            }
            std::vector<int16_t> back(frames.size(), 1);
            layout.Unpack(stored.data(), back.data());
            for (size_t j = 0; j < frames.size(); ++j) {
                const int slot = static_cast<int>(j % 32);
                ASSERT_EQ(back[j], layout.IsStored(slot) ? frames[j] : 0);
            }
        }
    }
    // Raw 16-bit samples of any value round-trip uncoded.
    CEegDataLayout layout;
    layout.Configure(Compression::Uncompressed, 400, Amplifier(all));
    const auto frames = RandomFrames(400, 3);
    std::vector<uint8_t> stored(static_cast<size_t>(layout.GetBytesPerSecond()));
    ASSERT_LE(stored.size(), static_cast<size_t>(CEegDataLayout::kCodingBufferBytes));
    layout.Pack(frames.data(), stored.data());
    std::vector<int16_t> back(frames.size());
    layout.Unpack(stored.data(), back.data());
    EXPECT_EQ(back, frames);
}
