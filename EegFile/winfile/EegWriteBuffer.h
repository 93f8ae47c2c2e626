// CEegWriteBuffer: the circular byte queue between a recording's acquisition
// thread, which appends in-memory frames (64 bytes each), and whoever writes
// whole seconds out to the "EEGData" stream (the write thread, or the caller's
// thread when none runs).
//
// It owns its storage, allocated once at construction and never grown: an append
// that does not fit is refused whole (CEegFileException 11), so a stalled writer
// cannot make the process allocate without bound. Every operation takes the
// buffer's own mutex; it is the innermost lock of a recording (taken inside the
// file lock, never the other way round), so a poller may read GetUsed() without
// the file lock while the writer holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

class CEegWriteBuffer {
public:
    static constexpr int kDefaultCapacity = 384000;  // 6000 frames: 30 s at 200 Hz
    static constexpr int kMinimumCapacity = 192000;
    static constexpr int kFrameBytes = 64;

    // The capacity a request gives: never below kMinimumCapacity.
    static int EffectiveCapacity(int requested) {
        return requested < kMinimumCapacity ? kMinimumCapacity : requested;
    }

    explicit CEegWriteBuffer(int capacity = kDefaultCapacity);
    CEegWriteBuffer(const CEegWriteBuffer&) = delete;
    CEegWriteBuffer& operator=(const CEegWriteBuffer&) = delete;

    int GetCapacity() const { return m_capacity; }
    int GetUsed() const;
    int GetFree() const;
    // Buffered frames: used bytes / 64.
    int GetSampleCount() const { return GetUsed() / kFrameBytes; }

    // Appends count bytes. More than the free space throws CEegFileException 11
    // (write buffer overflow) and appends nothing.
    void Append(const void* data, int count);

    // Takes exactly count bytes, oldest first, into out; false (nothing taken)
    // when fewer are buffered.
    bool Take(void* out, int count);

    // Copies up to count buffered bytes, starting offset bytes after the oldest,
    // without taking them; returns the bytes copied (0 when offset is beyond
    // what is buffered).
    int Peek(int offset, void* out, int count) const;

    // Pads a partial second with zeros: with r = used % bytesPerSecond, appends
    // bytesPerSecond - r zero bytes (none when r is 0), as far as the free space
    // allows in whole frames. Returns the frames added.
    int PadPartialSecond(int bytesPerSecond);

    // Empties the buffer; returns the frames discarded.
    int Discard();

private:
    void CopyIn(const void* data, int count);

    mutable std::mutex m_mutex;
    std::unique_ptr<uint8_t[]> m_data;
    int m_capacity;
    int m_writePos = 0;  // guarded by m_mutex, as are the two below
    int m_readPos = 0;
    int m_used = 0;
};
