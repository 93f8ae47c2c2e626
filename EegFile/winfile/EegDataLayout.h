// CEegDataLayout: how one second of samples is laid out in the "EEGData" stream.
//
// In memory a frame is 32 slots of int16 (64 bytes); a second is `rate` frames.
// The slots stored are those the amplifier description's stored inputs map to
// (CAmpHardwareInfo::GetAmpChannelIndex, inputs outside 0-31 ignored); others
// read back as 0. A stored second is bytesPerSecond bytes:
//   compression type 2: one delta-coded channel block of rate + 4 bytes per
//     stored slot, slots ascending (EegFile/frame/DeltaCoding.h);
//   any other type: rate frames, each the int16 LE samples of the stored slots
//     ascending (with all 32 slots stored, the in-memory frame itself).
// A value object: no locking, no allocation after Configure.
#pragma once

#include <cstdint>

#include "EegBase/AmpHardwareInfo.h"
#include "EegFile/frame/EegEnums.h"

class CEegDataLayout {
public:
    static constexpr int kFrameSlots = 32;
    static constexpr int kFrameBytes = kFrameSlots * 2;
    // Each of the two coding buffers holds one second of in-memory frames at the
    // highest sample rate the format supports (400), and so any stored second.
    static constexpr int kMaxRate = 400;
    static constexpr int kCodingBufferBytes = kMaxRate * kFrameBytes;
    // "EEGData" grows in allocation units of this many stored seconds.
    static constexpr int kSecondsPerAllocationUnit = 180;
    static constexpr int kDefaultRate = 200;

    // Until configured: compression type 2, 200 samples per second, all 32 slots.
    CEegDataLayout();

    // Sets the coding, the rate and the stored slots. A rate outside 1 .. kMaxRate,
    // or an amplifier that stores no slot, throws CEegFileException 1 (unknown
    // parameter format) and leaves the layout as it was.
    void Configure(Compression::CompressionType compression, int rate,
                   const CAmpHardwareInfo& ampInfo);

    Compression::CompressionType GetCompressionType() const { return m_compression; }
    int GetRate() const { return m_rate; }
    int GetStoredCount() const { return m_storedCount; }
    BOOL IsStored(int slot) const {
        return slot >= 0 && slot < kFrameSlots && m_isStored[slot] ? TRUE : FALSE;
    }
    // The stored slots, ascending, GetStoredCount() of them.
    const int* GetStoredSlots() const { return m_storedSlots; }
    int GetBytesPerSecond() const { return m_bytesPerSecond; }
    int GetMemBytesPerSecond() const { return m_rate * kFrameBytes; }
    // Allocation unit of "EEGData": kSecondsPerAllocationUnit stored seconds.
    int GetAllocationUnit() const { return m_bytesPerSecond * kSecondsPerAllocationUnit; }

    // rate in-memory frames to one stored second of GetBytesPerSecond() bytes.
    void Pack(const int16_t* frames, uint8_t* stored) const;
    // One stored second to rate in-memory frames; slots not stored become 0. Any
    // bytes unpack without fault.
    void Unpack(const uint8_t* stored, int16_t* frames) const;

    // The stored bytes of one second for a rate, a compression type and a count
    // of stored slots.
    static int BytesPerSecond(Compression::CompressionType compression, int rate, int storedCount);

private:
    Compression::CompressionType m_compression;
    int m_rate;
    int m_storedCount;
    int m_bytesPerSecond;
    bool m_isStored[kFrameSlots];
    int m_storedSlots[kFrameSlots];
};
