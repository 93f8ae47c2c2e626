// CEegDataChunk: a buffer of multichannel samples: frames of GetChannelCount()
// 16-bit samples, one frame after another, room for GetSampleCapacity() frames, of
// which the first GetNumberOfSamples() are filled. The sample count never exceeds
// the capacity, so code that trusts it never reads or writes past the buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "Platform/Types.h"

class CEegDataChunk {
public:
    // A negative capacity or channel count is taken as 0.
    CEegDataChunk(int sampleCapacity, int channelCount);

    uint32_t GetSampleCapacity() const { return m_capacity; }
    int GetChannelCount() const { return m_channels; }
    uint32_t GetNumberOfSamples() const { return m_samples; }
    // Frames that can still be added.
    uint32_t GetFreeSamples() const { return m_capacity - m_samples; }

    // Set or raise the filled frame count; both stop at the capacity.
    void SetNumberOfSamples(uint32_t n);
    void IncNumberOfSamples(uint32_t n);

    int16_t* GetData() { return m_data.data(); }
    const int16_t* GetData() const { return m_data.data(); }
    // Start of frame `sample` (0 .. capacity-1); nullptr beyond the capacity.
    int16_t* GetFrame(uint32_t sample);
    const int16_t* GetFrame(uint32_t sample) const;

private:
    uint32_t m_capacity;
    int m_channels;
    uint32_t m_samples = 0;
    std::vector<int16_t> m_data;
};
