#include "EegFile/container/TKStreamFile.h"

#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKCompoundFileScopes.h"
#include "EegFile/container/TKStream.h"
#include "Platform/Report.h"

CTKStreamFile::CTKStreamFile(CTKStream* stream, int ownsStream, CTKCompoundFile* container)
    : m_bOwnsStream(ownsStream), m_pStream(stream), m_pOwnedContainer(container) {
    std::lock_guard lock(m_mutex);
    if (!stream)
        return;
    stream->AttachAdapter(this);
    m_pContainerLock = std::make_unique<std::unique_lock<std::recursive_mutex>>(stream->GetMutex(),
                                                                                std::defer_lock);
    Lock();
}

CTKStreamFile::~CTKStreamFile() {
    try {
        Close();
    } catch (CException* e) {
        ReportException(e, "Close stream file", __FILE__, __LINE__);
        e->Delete();
    }
}

void CTKStreamFile::Lock() const {
    std::lock_guard lock(m_mutex);
    if (m_pContainerLock && !m_pContainerLock->owns_lock())
        m_pContainerLock->lock();
}

void CTKStreamFile::Unlock() const {
    std::lock_guard lock(m_mutex);
    if (m_pContainerLock && m_pContainerLock->owns_lock())
        m_pContainerLock->unlock();
}

void CTKStreamFile::ReleaseContainerLock() const {
    if (m_pContainerLock && m_pContainerLock->owns_lock())
        m_pContainerLock->unlock();
    m_pContainerLock.reset();
}

void CTKStreamFile::DetachStream() {
    std::lock_guard lock(m_mutex);
    m_pStream = nullptr;
    ReleaseContainerLock();
}

BOOL CTKStreamFile::Open(const char*, UINT, CFileException*) {
    return FALSE;
}

uint64_t CTKStreamFile::GetPosition() const {
    std::lock_guard lock(m_mutex);
    return m_pStream ? static_cast<uint32_t>(m_pStream->GetPosition()) : 0;
}

uint64_t CTKStreamFile::GetLength() const {
    std::lock_guard lock(m_mutex);
    return m_pStream ? static_cast<uint32_t>(m_pStream->GetLength()) : 0;
}

uint64_t CTKStreamFile::Seek(int64_t offset, UINT from) {
    std::lock_guard lock(m_mutex);
    if (!m_pStream)
        return 0;
    const int64_t distance = static_cast<int32_t>(offset);
    int64_t target = distance;
    if (from == current) {
        target = m_pStream->GetPosition() + distance;
    } else if (from == end) {
        target = m_pStream->GetLength() + distance;
    }
    m_pStream->Seek(target);
    return static_cast<uint32_t>(m_pStream->GetPosition());
}

void CTKStreamFile::SetLength(uint64_t newLength) {
    std::lock_guard lock(m_mutex);
    if (m_pStream && newLength == 0)
        m_pStream->Truncate();
}

UINT CTKStreamFile::Read(void* buffer, UINT count) {
    std::lock_guard lock(m_mutex);
    return m_pStream ? m_pStream->Read(buffer, count) : 0;
}

void CTKStreamFile::Write(const void* buffer, UINT count) {
    std::lock_guard lock(m_mutex);
    if (m_pStream)
        m_pStream->Write(buffer, count);
}

void CTKStreamFile::Flush() {
    std::lock_guard lock(m_mutex);
    if (m_pStream)
        m_pStream->Commit(TRUE);
}

void CTKStreamFile::Close() {
    std::lock_guard lock(m_mutex);
    CTKFirstException errors;
    if (CTKStream* stream = m_pStream) {
        m_pStream = nullptr;
        std::lock_guard containerLock(stream->GetMutex());
        errors.Run([&] { stream->Commit(TRUE); });
        stream->m_pAdapter = nullptr;
        if (m_bOwnsStream)
            errors.Run([&] { stream->Close(); });
    }
    ReleaseContainerLock();
    if (CTKCompoundFile* container = m_pOwnedContainer) {
        m_pOwnedContainer = nullptr;
        errors.Run([&] { container->Close(); });
        delete container;
    }
    errors.Rethrow();
}

void CTKStreamFile::Abort() {
    Close();
}

void CTKStreamFile::LockRange(uint64_t, uint64_t) {}

void CTKStreamFile::UnlockRange(uint64_t, uint64_t) {}
