#include "EegFile/winfile/EegEventStore.h"

#include "EegFile/access/EegAccessControl.h"
#include "EegFile/container/TKStream.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"

namespace {
constexpr int kRegionTimeoutMs = 10000;
constexpr int kArchiveBuffer = 512;

// The region lock of the event list, put back to its previous state when left.
class CRegionScope {
public:
    explicit CRegionScope(CEegAccessControl& access)
        : m_access(access),
          m_previous(access.SetLockState(CEegStreamType::estEventList, 1, 1, kRegionTimeoutMs)) {}
    ~CRegionScope() {
        try {
            m_access.SetLockState(CEegStreamType::estEventList, 1, m_previous, kRegionTimeoutMs);
        } catch (CException* e) {
            e->Delete();
        }
    }
    CRegionScope(const CRegionScope&) = delete;
    CRegionScope& operator=(const CRegionScope&) = delete;

private:
    CEegAccessControl& m_access;
    int m_previous;
};

// A stream file over a stream that it does not own (the store closes it).
class CBorrowedStreamFile : public CTKStreamFile {
public:
    explicit CBorrowedStreamFile(CTKStream* stream) : CTKStreamFile(stream, FALSE, nullptr) {}
};
}  // namespace

CEegEventStore::CEegEventStore(CEegAccessControl& access, std::recursive_mutex& fileLock)
    : m_access(access), m_FileLock(fileLock) {}

CEegEventStore::~CEegEventStore() {
    Reset();
}

void CEegEventStore::Attach(CTKStream* stream) {
    std::lock_guard lock(m_FileLock);
    Close(0);
    m_pStream = stream;
    m_readMark = 0;
}

void CEegEventStore::Load() {
    std::lock_guard lock(m_FileLock);
    if (!m_pStream)
        return;
    CRegionScope region(m_access);
    m_pStream->Refresh();
    // Only the first load is done here; reading what other stations appended
    // since belongs to the store's synchronisation.
    if (m_readMark != 0 || m_pStream->GetLength() == 0)
        return;
    CBorrowedStreamFile file(m_pStream);
    CArchive ar(&file, CArchive::load, kArchiveBuffer);
    ar.Seek(0);
    WORD version = 0;
    ar >> version;
    if (version != kStoredVersion)
        ThrowEegFileException(CEegFileException::eUnknownEventListFormat);
    ar.Seek(0);
    m_events.SerializeNoClear(ar);
    m_readMark = static_cast<int64_t>(ar.GetPosition());
    ar.Close();
    file.Close();
}

void CEegEventStore::Close(int disabled) {
    std::lock_guard lock(m_FileLock);
    CTKStream* stream = m_pStream;
    m_pStream = nullptr;
    m_readMark = 0;
    Reset();
    if (stream && !disabled)
        stream->Close();
}

uint32_t CEegEventStore::GetLastEventOffset() const {
    std::lock_guard lock(m_FileLock);
    const int n = m_events.GetSize();
    return n == 0 ? 0 : m_events.GetAt(n - 1)->GetTimeStamp().GetSampleOffset();
}

void CEegEventStore::Reset() {
    for (int i = 0; i < m_events.GetSize(); ++i)
        delete m_events.GetAt(i);
    m_events.RemoveAll();
}
