#include "EegFile/winfile/EegStream.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/container/TKSectionList.h"
#include "EegFile/container/TKStream.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Report.h"

namespace {
constexpr int kCacheFrames = CEegDataLayout::kMaxRate;
}  // namespace

CEegDataStream::CEegDataStream(std::recursive_mutex& fileLock)
    : m_FileLock(fileLock), m_cache(kCacheFrames, CEegDataLayout::kFrameSlots) {}

CEegDataStream::~CEegDataStream() {
    try {
        Close();
    } catch (CException* e) {
        TKReportExceptionOperation(e, "Close EEG stream", "EegStream", __LINE__, 0);
        e->Delete();
    }
    StopThread(-1);
    std::vector<std::shared_ptr<ThreadState>> lingering;
    {
        std::lock_guard threads(m_threadMutex);
        lingering.swap(m_lingering);
    }
    for (auto& state : lingering) {
        std::unique_lock lock(state->mutex);
        state->ended.wait(lock, [&] { return state->finished; });
    }
}

int CEegDataStream::Configure(Compression::CompressionType compression, int rate,
                              const CAmpHardwareInfo& ampInfo) {
    std::lock_guard lock(m_FileLock);
    // Only an attached stream is closed: a write thread switched on before the
    // stream exists must live on to write it.
    if (m_pStream)
        Close();
    m_layout.Configure(compression, rate, ampInfo);
    return m_layout.GetAllocationUnit();
}

int CEegDataStream::IsAttached() const {
    std::lock_guard lock(m_FileLock);
    return m_pStream != nullptr;
}

void CEegDataStream::Attach(CTKStream* stream, int writable, uint32_t lastEventOffset) {
    std::lock_guard lock(m_FileLock);
    if (m_pStream)
        Close();
    if (!stream)
        return;
    m_pStream = stream;
    stream->SetSectionObserver(this);
    if (writable) {
        AllocateBuffers();
    } else {
        ReleaseBuffers();
    }
    m_index.Clear();
    m_index.Update(*stream, m_layout.GetBytesPerSecond());
    const uint32_t rate = static_cast<uint32_t>(m_layout.GetRate());
    m_length = rate * m_index.GetStoredSeconds();
    if (lastEventOffset != 0xFFFFFFFFu && lastEventOffset > m_length)
        m_length = lastEventOffset;
    m_cachedSecond = -1;
    m_secondsBeforeRun = m_length / rate;
    m_streamLengthAtRunStart = stream->GetLength();
    m_runStartSequence = -1;
    m_runStopSequence = -1;
    m_bRecording = 0;
    stream->SetKeepWritesWhole(1);
    stream->SetCommitOnGrowth(1);
}

void CEegDataStream::Close() {
    StopRecording();
    StopThread(kThreadStopWaitMs);
    std::lock_guard lock(m_FileLock);
    CTKStream* stream = m_pStream;
    m_pStream = nullptr;
    m_length = 0;
    m_cachedSecond = -1;
    ReleaseBuffers();
    if (stream) {
        stream->SetSectionObserver(nullptr);
        stream->Close();
    }
}

void CEegDataStream::CloseDisabled() {
    DiscardWriteBufferData();
    StopThread(kThreadStopWaitMs);
    std::lock_guard lock(m_FileLock);
    if (m_pStream)
        m_pStream->SetSectionObserver(nullptr);
    m_pStream = nullptr;
    m_bRecording = 0;
    m_length = 0;
    m_cachedSecond = -1;
    ReleaseBuffers();
}

void CEegDataStream::AllocateBuffers() {
    if (!m_pWriteBuffer)
        m_pWriteBuffer = std::make_shared<CEegWriteBuffer>(m_bufferCapacity);
    if (!m_pFrameBuffer)
        m_pFrameBuffer = std::make_unique<uint8_t[]>(CEegDataLayout::kCodingBufferBytes);
    if (!m_pStoredBuffer)
        m_pStoredBuffer = std::make_unique<uint8_t[]>(CEegDataLayout::kCodingBufferBytes);
}

void CEegDataStream::ReleaseBuffers() {
    m_pWriteBuffer.reset();
    m_pFrameBuffer.reset();
    m_pStoredBuffer.reset();
}

// ---------------------------------------------------------------- reading

uint32_t CEegDataStream::GetReadPosition() const {
    std::lock_guard lock(m_FileLock);
    return m_readPosition;
}

void CEegDataStream::SetReadPosition(uint32_t position) {
    std::lock_guard lock(m_FileLock);
    m_readPosition = position;
}

uint32_t CEegDataStream::GetLength() const {
    std::lock_guard lock(m_FileLock);
    return m_length;
}

int CEegDataStream::GetBytesPerSecond() const {
    std::lock_guard lock(m_FileLock);
    return m_layout.GetBytesPerSecond();
}

int CEegDataStream::GetRate() const {
    std::lock_guard lock(m_FileLock);
    return m_layout.GetRate();
}

int CEegDataStream::GetLiveMode() const {
    std::lock_guard lock(m_FileLock);
    return m_bLiveMode;
}

void CEegDataStream::SetLiveMode(int on) {
    std::lock_guard lock(m_FileLock);
    m_bLiveMode = on;
}

void CEegDataStream::LoadSecond(uint32_t second, CEegDataChunk& chunk) {
    const int rate = m_layout.GetRate();
    const int bytes = m_layout.GetBytesPerSecond();
    int16_t* frames = chunk.GetFrame(chunk.GetNumberOfSamples());
    int64_t position = 0;
    bool loaded = false;
    if (m_pStream && frames && chunk.GetFreeSamples() >= static_cast<uint32_t>(rate) &&
        m_index.FindPosition(second, bytes, &position)) {
        // A stored second is never larger than a coding buffer (kMaxRate frames).
        uint8_t stored[CEegDataLayout::kCodingBufferBytes];
        m_pStream->Seek(position);
        if (m_pStream->Read(stored, static_cast<UINT>(bytes)) == static_cast<UINT>(bytes)) {
            m_layout.Unpack(stored, frames);
            loaded = true;
        }
    }
    if (!frames)
        return;
    if (!loaded) {
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(rate), chunk.GetFreeSamples());
        std::memset(frames, 0, static_cast<size_t>(n) * CEegDataLayout::kFrameBytes);
    }
    chunk.IncNumberOfSamples(static_cast<uint32_t>(rate));
}

void CEegDataStream::CacheSecond(uint32_t second) {
    if (m_cachedSecond == static_cast<int64_t>(second))
        return;
    m_cachedSecond = -1;
    m_cache.SetNumberOfSamples(0);
    LoadSecond(second, m_cache);
    m_cachedSecond = second;
}

int CEegDataStream::ReadEegData(CEegDataChunk& chunk, uint32_t count) {
    std::lock_guard lock(m_FileLock);
    chunk.SetNumberOfSamples(0);
    // Frames in memory are always 32 slots wide; another chunk cannot take them.
    if (chunk.GetChannelCount() != CEegDataLayout::kFrameSlots || m_readPosition >= m_length)
        return 0;
    const uint32_t rate = static_cast<uint32_t>(m_layout.GetRate());
    uint32_t n = std::min({count, chunk.GetSampleCapacity(), m_length - m_readPosition});
    if (n == 0)
        return 0;

    uint32_t buffered = 0;
    std::shared_ptr<CEegWriteBuffer> buffer = m_pWriteBuffer;
    if (buffer)
        buffered = std::min<uint32_t>(static_cast<uint32_t>(buffer->GetSampleCount()), m_length);
    const uint32_t bufferStart = m_length - buffered;
    uint32_t fromStream = n;
    if (buffer && m_readPosition >= bufferStart) {
        // Too few buffered samples are not worth a copy; the caller comes back.
        if (n < rate / 5)
            return 0;
        fromStream = 0;
    } else if (buffer && m_readPosition + n > bufferStart) {
        fromStream = bufferStart - m_readPosition;
    }
    const uint32_t fromBuffer = n - fromStream;

    auto copyFromCache = [&](uint32_t offset, uint32_t frames) {
        std::memcpy(chunk.GetFrame(chunk.GetNumberOfSamples()), m_cache.GetFrame(offset),
                    static_cast<size_t>(frames) * CEegDataLayout::kFrameBytes);
        chunk.IncNumberOfSamples(frames);
        m_readPosition += frames;
    };
    uint32_t remaining = fromStream;
    try {
        if (remaining > 0) {
            const uint32_t second = m_readPosition / rate;
            const uint32_t within = m_readPosition % rate;
            if (!(within == 0 && remaining >= rate && m_cachedSecond != second)) {
                CacheSecond(second);
                const uint32_t k = std::min(rate - within, remaining);
                copyFromCache(within, k);
                remaining -= k;
            }
        }
        while (remaining >= rate) {
            LoadSecond(m_readPosition / rate, chunk);
            m_readPosition += rate;
            remaining -= rate;
        }
        if (remaining > 0) {
            CacheSecond(m_readPosition / rate);
            copyFromCache(0, remaining);
            remaining = 0;
        }
    } catch (CException*) {
        m_cachedSecond = -1;
        throw;
    }
    if (fromBuffer > 0) {
        const int offset =
            static_cast<int>(m_readPosition - bufferStart) * CEegDataLayout::kFrameBytes;
        const int copied = buffer->Peek(offset, chunk.GetFrame(chunk.GetNumberOfSamples()),
                                        static_cast<int>(fromBuffer) * CEegDataLayout::kFrameBytes);
        const uint32_t frames = static_cast<uint32_t>(copied / CEegDataLayout::kFrameBytes);
        chunk.IncNumberOfSamples(frames);
        m_readPosition += frames;
    }
    return 1;
}

void CEegDataStream::Synchronize() {
    std::lock_guard lock(m_FileLock);
    if (!m_pStream)
        return;
    const int bytes = m_layout.GetBytesPerSecond();
    if (m_pWriteBuffer) {
        if (!m_bLiveMode)
            m_pStream->Commit(TRUE);
        m_index.Update(*m_pStream, bytes);
    } else {
        m_pStream->Refresh();
        m_index.Update(*m_pStream, bytes);
        m_length = static_cast<uint32_t>(m_layout.GetRate()) * m_index.GetStoredSeconds();
    }
    m_cachedSecond = -1;
}

// ---------------------------------------------------------------- observer

int CEegDataStream::OnSectionHeader(CTKSectionEntry& entry, int) {
    // Called by the stream under the container mutex, which is the file lock.
    if (!m_pStream) {
        CEegStreamIndex::AnnotateDetached(entry);
        return 1;
    }
    CEegStreamIndex::AnnotateSection(entry, m_runStartTime, m_secondsBeforeRun,
                                     m_streamLengthAtRunStart, m_layout.GetBytesPerSecond(),
                                     m_runStartSequence, m_runStopSequence);
    return 1;
}

// ---------------------------------------------------------------- writing

void CEegDataStream::SetBufferCapacity(int bytes) {
    std::lock_guard lock(m_FileLock);
    m_bufferCapacity = CEegWriteBuffer::EffectiveCapacity(bytes);
}

int CEegDataStream::GetBufferCapacity() const {
    std::lock_guard lock(m_FileLock);
    return m_bufferCapacity;
}

int CEegDataStream::IsRecording() const {
    std::lock_guard lock(m_FileLock);
    return m_bRecording;
}

void CEegDataStream::Write(CEegDataChunk& chunk) {
    std::lock_guard lock(m_FileLock);
    if (!m_pStream || !m_bRecording || !m_pWriteBuffer)
        return;
    const int64_t bytes = static_cast<int64_t>(chunk.GetChannelCount()) *
                          static_cast<int64_t>(chunk.GetNumberOfSamples()) * 2;
    if (bytes > m_pWriteBuffer->GetFree())
        ThrowEegFileException(CEegFileException::eWriteBufferOverflow);
    if (bytes == 0)
        return;
    m_length += static_cast<uint32_t>(bytes / CEegDataLayout::kFrameBytes);
    bool threadRuns;
    {
        std::lock_guard threads(m_threadMutex);
        threadRuns = m_pThread != nullptr;
    }
    if (threadRuns) {
        m_pWriteBuffer->Append(chunk.GetData(), static_cast<int>(bytes));
        // A whole second waiting wakes the thread at once, so a station following
        // the recording sees each second as soon as it is complete, not up to a
        // thread period later.
        if (m_pWriteBuffer->GetUsed() >= m_layout.GetMemBytesPerSecond())
            NudgeThread();
        return;
    }
    // Written at once: with nothing buffered before them, the chunk's whole
    // seconds are coded straight from the chunk (what passing them through the
    // buffer would do, without the two copies); only a partial second is kept.
    const int memBytes = m_layout.GetMemBytesPerSecond();
    const auto* data = reinterpret_cast<const uint8_t*>(chunk.GetData());
    int64_t done = 0;
    if (m_pWriteBuffer->GetUsed() == 0) {
        try {
            for (; bytes - done >= memBytes; done += memBytes)
                WriteSecond(reinterpret_cast<const int16_t*>(data + done));
        } catch (CException*) {
            // As from the buffer: the failed second is lost, the rest stays.
            done += memBytes;
            m_pWriteBuffer->Append(data + done, static_cast<int>(bytes - done));
            m_index.Update(*m_pStream, m_layout.GetBytesPerSecond());
            throw;
        }
    }
    m_pWriteBuffer->Append(data + done, static_cast<int>(bytes - done));
    WriteOut();
}

void CEegDataStream::NudgeThread() {
    std::lock_guard threads(m_threadMutex);
    if (m_pThread) {
        std::lock_guard lock(m_pThread->mutex);
        m_pThread->nudged = true;
        m_pThread->wake.notify_all();
    }
}

void CEegDataStream::WriteSecond(const int16_t* frames) {
    const int bytes = m_layout.GetBytesPerSecond();
    const uint32_t rate = static_cast<uint32_t>(m_layout.GetRate());
    m_layout.Pack(frames, m_pStoredBuffer.get());
    const int64_t before = m_pStream->GetLength();
    try {
        m_pStream->Seek(before);
        m_pStream->Write(m_pStoredBuffer.get(), static_cast<UINT>(bytes));
    } catch (CException*) {
        // The second is lost when it is not in the stream. When only its section
        // header failed, its bytes are down and the stream counts them (the
        // header follows at the next commit): the second stays, and so does the
        // length, or the seconds after it would be placed one second early.
        if (m_pStream->GetLength() < before + bytes)
            m_length = m_length > rate ? m_length - rate : 0;
        m_cachedSecond = -1;
        throw;
    }
}

void CEegDataStream::WriteOut() {
    std::lock_guard lock(m_FileLock);
    if (!m_pWriteBuffer || !m_pStream)
        return;
    const int memBytes = m_layout.GetMemBytesPerSecond();
    while (m_pWriteBuffer->Take(m_pFrameBuffer.get(), memBytes))
        WriteSecond(reinterpret_cast<const int16_t*>(m_pFrameBuffer.get()));
    m_index.Update(*m_pStream, m_layout.GetBytesPerSecond());
}

void CEegDataStream::Flush() {
    std::shared_ptr<CEegWriteBuffer> buffer;
    int memBytes;
    {
        std::lock_guard lock(m_FileLock);
        buffer = m_pWriteBuffer;
        memBytes = m_layout.GetMemBytesPerSecond();
    }
    if (!buffer)
        return;
    bool threadRuns;
    {
        std::lock_guard threads(m_threadMutex);
        threadRuns = m_pThread != nullptr;
    }
    if (!threadRuns) {
        WriteOut();
        return;
    }
    // The thread writes; wake it, and wait without holding the file lock it needs.
    NudgeThread();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kFlushTimeoutMs);
    while (buffer->GetUsed() >= memBytes && std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard threads(m_threadMutex);
            if (!m_pThread)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The thread may have gone meanwhile; what is left is written here.
    bool gone;
    {
        std::lock_guard threads(m_threadMutex);
        gone = m_pThread == nullptr;
    }
    if (gone)
        WriteOut();
}

void CEegDataStream::StartRecording(COleDateTime start) {
    Flush();
    std::lock_guard lock(m_FileLock);
    if (!m_pStream || m_bRecording)
        return;
    m_pStream->Trim(kTrimMinimumPiece);
    m_bRecording = 1;
    const int64_t now = m_pStream->GetLength();
    const int bytes = m_layout.GetBytesPerSecond();
    m_secondsBeforeRun += static_cast<uint32_t>((now - m_streamLengthAtRunStart) / bytes);
    m_streamLengthAtRunStart = now;
    const int highest = m_pStream->GetHighestSequence();
    m_runStartSequence = now > 0 ? highest + 1 : std::max(highest, 0);
    m_runStopSequence = -1;
    m_runStartTime = start;
}

void CEegDataStream::StopRecording() {
    Flush();
    std::lock_guard lock(m_FileLock);
    if (!m_pStream || !m_bRecording)
        return;
    m_bRecording = 0;
    m_runStopSequence = m_pStream->GetHighestSequence();
    // The flag must reach the run's last section even when the trim finds no
    // room to give back and every write has already committed its header.
    if (m_pStream->GetLength() > m_streamLengthAtRunStart)
        m_pStream->MarkHeaderDirty();
    m_pStream->Trim(kTrimMinimumPiece);
}

int CEegDataStream::PadPartialSecond() {
    std::lock_guard lock(m_FileLock);
    if (!m_pWriteBuffer)
        return 0;
    const int added = m_pWriteBuffer->PadPartialSecond(m_layout.GetMemBytesPerSecond());
    m_length += static_cast<uint32_t>(added);
    return added;
}

void CEegDataStream::DiscardWriteBufferData() {
    std::lock_guard lock(m_FileLock);
    if (!m_pWriteBuffer)
        return;
    const uint32_t removed = static_cast<uint32_t>(m_pWriteBuffer->Discard());
    m_length = m_length > removed ? m_length - removed : 0;
}

void CEegDataStream::SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>* callback) {
    std::lock_guard lock(m_FileLock);
    m_pExceptionCallback = callback;
}

void CEegDataStream::SetWriteThreadOnOff(int on) {
    if (!on) {
        StopThread(kThreadStopWaitMs);
        return;
    }
    std::lock_guard lock(m_FileLock);
    std::lock_guard threads(m_threadMutex);
    if (m_pThread)
        return;
    auto state = std::make_shared<ThreadState>();
    try {
        std::thread(&CEegDataStream::ThreadBody, this, state).detach();
    } catch (const std::system_error&) {
        AfxMessageBox("Unable to create EEG write thread.");
        return;
    }
    m_pThread = state;
}

void CEegDataStream::StopThread(int waitMs) {
    std::shared_ptr<ThreadState> state;
    {
        std::lock_guard threads(m_threadMutex);
        state.swap(m_pThread);
    }
    if (!state)
        return;
    std::unique_lock lock(state->mutex);
    state->wanted = false;
    state->wake.notify_all();
    if (waitMs < 0) {
        state->ended.wait(lock, [&] { return state->finished; });
    } else {
        // A thread that does not end in time is forgotten; it ends by itself.
        if (!state->ended.wait_for(lock, std::chrono::milliseconds(waitMs),
                                   [&] { return state->finished; })) {
            lock.unlock();
            std::lock_guard threads(m_threadMutex);
            m_lingering.push_back(state);
        }
    }
}

void CEegDataStream::ThreadBody(std::shared_ptr<ThreadState> state) {
    for (;;) {
        {
            std::lock_guard lock(state->mutex);
            if (!state->wanted)
                break;
        }
        try {
            WriteOut();
        } catch (CException* e) {
            CVoidCall1Arg<CException*>* callback;
            {
                std::lock_guard lock(m_FileLock);
                callback = m_pExceptionCallback;
            }
            if (callback) {
                callback->Call(e);
            } else {
                TKReportExceptionOperation(e, "File Write (thread)", "EegStream", 1353, 0);
            }
            e->Delete();
        }
        std::unique_lock lock(state->mutex);
        state->wake.wait_for(lock, std::chrono::milliseconds(kThreadPeriodMs),
                             [&] { return !state->wanted || state->nudged; });
        state->nudged = false;
        if (!state->wanted)
            break;
    }
    std::lock_guard lock(state->mutex);
    state->finished = true;
    state->ended.notify_all();
}

UINT CEegDataStream::ReadStoredBytes(int64_t position, void* buffer, UINT count) {
    std::lock_guard lock(m_FileLock);
    if (!m_pStream)
        return 0;
    m_pStream->Seek(position);
    return m_pStream->Read(buffer, count);
}
