#include "EegBase/EegDataChunk.h"

#include <cstddef>

CEegDataChunk::CEegDataChunk(int sampleCapacity, int channelCount)
    : m_capacity(sampleCapacity > 0 ? static_cast<uint32_t>(sampleCapacity) : 0),
      m_channels(channelCount > 0 ? channelCount : 0),
      m_data(static_cast<std::size_t>(m_capacity) * static_cast<std::size_t>(m_channels)) {}

void CEegDataChunk::SetNumberOfSamples(uint32_t n) {
    m_samples = n < m_capacity ? n : m_capacity;
}

void CEegDataChunk::IncNumberOfSamples(uint32_t n) {
    SetNumberOfSamples(n < GetFreeSamples() ? m_samples + n : m_capacity);
}

int16_t* CEegDataChunk::GetFrame(uint32_t sample) {
    if (sample >= m_capacity)
        return nullptr;
    return m_data.data() + static_cast<std::size_t>(sample) * static_cast<std::size_t>(m_channels);
}

const int16_t* CEegDataChunk::GetFrame(uint32_t sample) const {
    if (sample >= m_capacity)
        return nullptr;
    return m_data.data() + static_cast<std::size_t>(sample) * static_cast<std::size_t>(m_channels);
}
