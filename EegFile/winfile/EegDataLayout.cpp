#include "EegFile/winfile/EegDataLayout.h"

#include <bit>
#include <cstring>

#include "EegFile/frame/DeltaCoding.h"
#include "EegFile/frame/EegFileException.h"

// Stored samples are little-endian; frames are copied to and from them as they are.
static_assert(std::endian::native == std::endian::little, "stored samples are little-endian");
static_assert(CEegDataLayout::kFrameSlots == DeltaCoding::kFrameSlots);

CEegDataLayout::CEegDataLayout()
    : m_compression(Compression::AdaptiveDelta), m_rate(kDefaultRate), m_storedCount(kFrameSlots) {
    for (int k = 0; k < kFrameSlots; ++k) {
        m_isStored[k] = true;
        m_storedSlots[k] = k;
    }
    m_bytesPerSecond = BytesPerSecond(m_compression, m_rate, m_storedCount);
}

int CEegDataLayout::BytesPerSecond(Compression::CompressionType compression, int rate,
                                   int storedCount) {
    if (compression == Compression::AdaptiveDelta)
        return DeltaCoding::BlockBytes(rate) * storedCount;
    return rate * storedCount * 2;
}

void CEegDataLayout::Configure(Compression::CompressionType compression, int rate,
                               const CAmpHardwareInfo& ampInfo) {
    bool stored[kFrameSlots] = {};
    const CAmpInputDomain& inputs = ampInfo.GetInputDomain();
    for (int i = 0; i < inputs.GetSize(); ++i) {
        const int slot = CAmpHardwareInfo::GetAmpChannelIndex(inputs.GetAt(i));
        if (slot >= 0 && slot < kFrameSlots)
            stored[slot] = true;
    }
    int count = 0;
    for (int k = 0; k < kFrameSlots; ++k)
        count += stored[k] ? 1 : 0;
    if (rate < 1 || rate > kMaxRate || count == 0)
        ThrowEegFileException(CEegFileException::eUnknownEegParameterFormat);

    m_compression = compression;
    m_rate = rate;
    m_storedCount = 0;
    for (int k = 0; k < kFrameSlots; ++k) {
        m_isStored[k] = stored[k];
        if (stored[k])
            m_storedSlots[m_storedCount++] = k;
    }
    m_bytesPerSecond = BytesPerSecond(m_compression, m_rate, m_storedCount);
}

void CEegDataLayout::Pack(const int16_t* frames, uint8_t* stored) const {
    if (m_compression == Compression::AdaptiveDelta) {
        DeltaCoding::EncodeSecond(frames, m_rate, m_storedSlots, m_storedCount, stored);
        return;
    }
    if (m_storedCount == kFrameSlots) {
        std::memcpy(stored, frames, static_cast<size_t>(m_rate) * kFrameBytes);
        return;
    }
    int16_t row[kFrameSlots];
    const size_t rowBytes = sizeof(int16_t) * static_cast<size_t>(m_storedCount);
    for (int i = 0; i < m_rate; ++i) {
        const int16_t* frame = frames + static_cast<ptrdiff_t>(i) * kFrameSlots;
        for (int j = 0; j < m_storedCount; ++j)
            row[j] = frame[m_storedSlots[j]];
        std::memcpy(stored + static_cast<size_t>(i) * rowBytes, row, rowBytes);
    }
}

void CEegDataLayout::Unpack(const uint8_t* stored, int16_t* frames) const {
    if (m_compression == Compression::AdaptiveDelta) {
        DeltaCoding::DecodeSecond(stored, m_rate, m_storedSlots, m_storedCount, frames);
        return;
    }
    if (m_storedCount == kFrameSlots) {
        std::memcpy(frames, stored, static_cast<size_t>(m_rate) * kFrameBytes);
        return;
    }
    std::memset(frames, 0, static_cast<size_t>(m_rate) * kFrameBytes);
    int16_t row[kFrameSlots];
    const size_t rowBytes = sizeof(int16_t) * static_cast<size_t>(m_storedCount);
    for (int i = 0; i < m_rate; ++i) {
        std::memcpy(row, stored + static_cast<size_t>(i) * rowBytes, rowBytes);
        int16_t* frame = frames + static_cast<ptrdiff_t>(i) * kFrameSlots;
        for (int j = 0; j < m_storedCount; ++j)
            frame[m_storedSlots[j]] = row[j];
    }
}
