#include "EegFile/winfile/EegWriteBuffer.h"

#include <algorithm>
#include <cstring>

#include "EegFile/frame/EegFileException.h"

CEegWriteBuffer::CEegWriteBuffer(int capacity)
    : m_data(std::make_unique<uint8_t[]>(static_cast<size_t>(EffectiveCapacity(capacity)))),
      m_capacity(EffectiveCapacity(capacity)) {}

int CEegWriteBuffer::GetUsed() const {
    std::lock_guard lock(m_mutex);
    return m_used;
}

int CEegWriteBuffer::GetFree() const {
    std::lock_guard lock(m_mutex);
    return m_capacity - m_used;
}

void CEegWriteBuffer::CopyIn(const void* data, int count) {
    const int first = std::min(count, m_capacity - m_writePos);
    if (data) {
        std::memcpy(m_data.get() + m_writePos, data, static_cast<size_t>(first));
        std::memcpy(m_data.get(), static_cast<const uint8_t*>(data) + first,
                    static_cast<size_t>(count - first));
    } else {
        std::memset(m_data.get() + m_writePos, 0, static_cast<size_t>(first));
        std::memset(m_data.get(), 0, static_cast<size_t>(count - first));
    }
    m_writePos = (m_writePos + count) % m_capacity;
    m_used += count;
}

void CEegWriteBuffer::Append(const void* data, int count) {
    std::lock_guard lock(m_mutex);
    if (count < 0 || count > m_capacity - m_used)
        ThrowEegFileException(CEegFileException::eWriteBufferOverflow);
    CopyIn(data, count);
}

bool CEegWriteBuffer::Take(void* out, int count) {
    std::lock_guard lock(m_mutex);
    if (count < 0 || count > m_used)
        return false;
    const int first = std::min(count, m_capacity - m_readPos);
    std::memcpy(out, m_data.get() + m_readPos, static_cast<size_t>(first));
    std::memcpy(static_cast<uint8_t*>(out) + first, m_data.get(),
                static_cast<size_t>(count - first));
    m_readPos = (m_readPos + count) % m_capacity;
    m_used -= count;
    return true;
}

int CEegWriteBuffer::Peek(int offset, void* out, int count) const {
    std::lock_guard lock(m_mutex);
    if (offset < 0 || count <= 0 || offset >= m_used)
        return 0;
    count = std::min(count, m_used - offset);
    const int start = (m_readPos + offset) % m_capacity;
    const int first = std::min(count, m_capacity - start);
    std::memcpy(out, m_data.get() + start, static_cast<size_t>(first));
    std::memcpy(static_cast<uint8_t*>(out) + first, m_data.get(),
                static_cast<size_t>(count - first));
    return count;
}

int CEegWriteBuffer::PadPartialSecond(int bytesPerSecond) {
    std::lock_guard lock(m_mutex);
    if (bytesPerSecond <= 0)
        return 0;
    const int r = m_used % bytesPerSecond;
    if (r == 0)
        return 0;
    int pad = bytesPerSecond - r;
    const int room = (m_capacity - m_used) / kFrameBytes * kFrameBytes;
    pad = std::min(pad, room);
    CopyIn(nullptr, pad);
    return pad / kFrameBytes;
}

int CEegWriteBuffer::Discard() {
    std::lock_guard lock(m_mutex);
    const int frames = m_used / kFrameBytes;
    m_readPos = m_writePos = m_used = 0;
    return frames;
}
