// CEegDataStream: the samples of a current-format recording. Owns the "EEGData"
// stream while attached (the container made it; this object closes it), the
// stream index, the one-second read cache, the write buffer with its two coding
// buffers, and the write thread.
//
// Locking: every operation takes the recording's file lock (also the
// container's mutex), given at construction. The write buffer's own mutex is
// taken inside it. The write thread takes the file lock for each write-out
// pass; SetWriteThreadOnOff and FlushWriteBuffer do not take it at their start,
// so that a caller waiting for the thread never blocks it.
//
// Lengths and positions are sample offsets (uint32_t, as the format stores).
// The length includes the samples still in the write buffer, which this
// station's reads serve from the buffer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegFile/container/TKCompoundFileCallbacks.h"
#include "EegFile/frame/CallBacks.h"
#include "EegFile/frame/EegEnums.h"
#include "EegFile/winfile/EegDataLayout.h"
#include "EegFile/winfile/EegStreamIndex.h"
#include "EegFile/winfile/EegWriteBuffer.h"
#include "Platform/Exception.h"
#include "Platform/OleDateTime.h"

class CTKStream;

class CEegDataStream : public CTKSectionObserver {
public:
    // Stored seconds begin a new section at each run start and stop; the piece
    // a trim leaves must hold at least one coding buffer.
    static constexpr int kTrimMinimumPiece = 25600;
    // The thread wakes this often; a polling flush gives up after kFlushTimeoutMs.
    static constexpr int kThreadPeriodMs = 1000;
    static constexpr int kFlushTimeoutMs = 30000;
    static constexpr int kThreadStopWaitMs = 1500;

    explicit CEegDataStream(std::recursive_mutex& fileLock);
    // Closes the stream and waits for the write thread to end, however long its
    // last pass takes: it uses this object.
    ~CEegDataStream() override;
    CEegDataStream(const CEegDataStream&) = delete;
    CEegDataStream& operator=(const CEegDataStream&) = delete;

    // Closes an attached stream, then takes the coding, the integer rate and the
    // stored slots. Returns the allocation unit of "EEGData" (180 stored
    // seconds). An unsupported rate or an amplifier without stored slots throws
    // CEegFileException 1 and leaves the configuration as it was.
    int Configure(Compression::CompressionType compression, int rate,
                  const CAmpHardwareInfo& ampInfo);

    // Takes over stream (closing one attached before), builds the index and the
    // length (at least lastEventOffset unless that is 0xFFFFFFFF), and, when
    // writable, allocates the write buffer.
    void Attach(CTKStream* stream, int writable, uint32_t lastEventOffset);
    // Stops the run (flushing whole seconds) and the thread, closes the stream,
    // releases the buffers. A partial second still buffered is dropped.
    void Close();
    // For a recording whose file access is disabled: drops buffered samples,
    // stops the thread, forgets the stream without closing it (the container's
    // Abort frees it).
    void CloseDisabled();
    int IsAttached() const;

    // Reading.
    int ReadEegData(CEegDataChunk& chunk, uint32_t count);
    uint32_t GetReadPosition() const;
    void SetReadPosition(uint32_t position);
    uint32_t GetLength() const;
    int GetBytesPerSecond() const;
    int GetRate() const;
    // Writing station: commits the stream (unless live mode) and takes in new
    // sections. Reading station: catches up with what the writer committed.
    void Synchronize();
    int GetLiveMode() const;
    void SetLiveMode(int on);
    const CEegStreamIndex& GetIndex() const { return m_index; }
    // Reads count stored bytes from stream position position (what a cut copies);
    // fewer at the stream's end, 0 when detached.
    UINT ReadStoredBytes(int64_t position, void* buffer, UINT count);

    // Writing (see the recording's write path).
    void SetBufferCapacity(int bytes);
    int GetBufferCapacity() const;
    void Write(CEegDataChunk& chunk);
    void StartRecording(COleDateTime start);
    void StopRecording();
    int IsRecording() const;
    void Flush();
    int PadPartialSecond();
    void DiscardWriteBufferData();
    void SetWriteThreadOnOff(int on);
    // The thread hands an exception of a write-out to callback->Call, then frees
    // it (the callback must not Delete it). The holder stays the caller's.
    void SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>* callback);

    // Section observer: fills the annotation of each "EEGData" section header.
    int OnSectionHeader(CTKSectionEntry& entry, int flag) override;

private:
    // State shared with the write thread, which outlives a stopped thread's
    // forgetting (a thread that did not end in time keeps it alive).
    struct ThreadState {
        std::mutex mutex;
        std::condition_variable wake;  // signalled when wanted is cleared or nudged is set
        std::condition_variable ended;
        bool wanted = true;
        bool nudged = false;  // a flush waits: write now rather than at the next wake
        bool finished = false;
    };

    void ThreadBody(std::shared_ptr<ThreadState> state);
    // Writes every whole buffered second to the end of the stream, then takes
    // the new sections into the index. Caller holds the file lock.
    void WriteOut();
    // Wakes the write thread, when there is one, before its period ends.
    void NudgeThread();
    // Codes one second of frames and appends it to the stream; on failure the
    // second is lost (the length shrinks by a second) and the exception goes on.
    void WriteSecond(const int16_t* frames);
    // Appends second s (rate frames) to chunk; zeros where no stored second is.
    void LoadSecond(uint32_t second, CEegDataChunk& chunk);
    // Makes the cache hold second s.
    void CacheSecond(uint32_t second);
    void AllocateBuffers();
    void ReleaseBuffers();
    // Ends the thread: clears wanted and waits up to waitMs (negative: no limit).
    void StopThread(int waitMs);
    bool BufferingOn() const { return m_pWriteBuffer != nullptr; }

    std::recursive_mutex& m_FileLock;
    CEegDataLayout m_layout;
    CTKStream* m_pStream = nullptr;
    uint32_t m_length = 0;
    uint32_t m_readPosition = 0;
    int64_t m_cachedSecond = -1;
    CEegDataChunk m_cache;
    CEegStreamIndex m_index;
    std::unique_ptr<uint8_t[]> m_pFrameBuffer;   // one second of in-memory frames
    std::unique_ptr<uint8_t[]> m_pStoredBuffer;  // one stored second
    int m_bLiveMode = 0;

    // Write side.
    int m_bufferCapacity = CEegWriteBuffer::kDefaultCapacity;
    // Shared so that a polling flush can watch it without the file lock.
    std::shared_ptr<CEegWriteBuffer> m_pWriteBuffer;
    int m_bRecording = 0;
    std::shared_ptr<ThreadState> m_pThread;  // guarded by m_threadMutex
    // Threads that did not end in time when stopped; the destructor waits for them.
    std::vector<std::shared_ptr<ThreadState>> m_lingering;  // guarded by m_threadMutex
    std::mutex m_threadMutex;
    CVoidCall1Arg<CException*>* m_pExceptionCallback = nullptr;
    COleDateTime m_runStartTime;
    uint32_t m_secondsBeforeRun = 0;
    int64_t m_streamLengthAtRunStart = 0;
    int m_runStartSequence = -1;
    int m_runStopSequence = -1;
};
