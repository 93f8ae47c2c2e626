#include "EegFile/winfile/EegEventStore.h"

#include <functional>

#include <vector>

#include "EegFile/access/EegAccessControl.h"
#include "EegFile/container/TKStream.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {
constexpr int kReadBuffer = 512;
constexpr int kWriteBuffer = 4096;

// The region lock of the event list, put back to its previous state when left
// (or early through Restore, which lets a failure through).
class CRegionScope {
public:
    explicit CRegionScope(CEegAccessControl& access)
        : m_access(access),
          m_previous(access.SetLockState(CEegEventStore::kRegionType, CEegEventStore::kRegionCopy,
                                         1, CEegEventStore::kRegionTimeoutMs)) {}
    ~CRegionScope() {
        if (m_restored)
            return;
        try {
            Restore();
        } catch (CException* e) {
            e->Delete();
        }
    }
    void Restore() {
        m_restored = true;
        m_access.SetLockState(CEegEventStore::kRegionType, CEegEventStore::kRegionCopy, m_previous,
                              CEegEventStore::kRegionTimeoutMs);
    }
    CRegionScope(const CRegionScope&) = delete;
    CRegionScope& operator=(const CRegionScope&) = delete;

private:
    CEegAccessControl& m_access;
    int m_previous;
    bool m_restored = false;
};

// A stream file over a stream that it does not own (the store closes it).
class CBorrowedStreamFile : public CTKStreamFile {
public:
    explicit CBorrowedStreamFile(CTKStream* stream) : CTKStreamFile(stream, FALSE, nullptr) {}
};

// Collects what an archive stores, so that two events can be compared by their
// records.
class CRecordBytes : public CFile {
public:
    uint64_t GetPosition() const override { return m_bytes.size(); }
    uint64_t GetLength() const override { return m_bytes.size(); }
    void Write(const void* buffer, UINT count) override {
        const auto* p = static_cast<const unsigned char*>(buffer);
        m_bytes.insert(m_bytes.end(), p, p + count);
    }
    void Flush() override {}
    void Close() override {}
    void Abort() override {}

    std::vector<unsigned char> m_bytes;
};

// The stored record of e; false when e cannot be stored.
bool RecordOf(const CEegEvent& e, std::vector<unsigned char>& bytes) {
    CRecordBytes file;
    try {
        CArchive ar(&file, CArchive::store, kWriteBuffer);
        const_cast<CEegEvent&>(e).Serialize(ar);  // storing leaves it unchanged
        ar.Close();
    } catch (CException* x) {
        x->Delete();
        return false;
    }
    bytes = std::move(file.m_bytes);
    return true;
}

void DeleteEvents(const CEegEventList& list) {
    for (int i = 0; i < list.GetSize(); ++i)
        delete list.GetAt(i);
}
}  // namespace

CEegEventStore::CEegEventStore(CEegAccessControl& access, std::recursive_mutex& fileLock)
    : m_access(access), m_FileLock(fileLock) {
    m_events.SetSize(0, kGrowStep);
}

CEegEventStore::~CEegEventStore() {
    DeleteAll();
}

void CEegEventStore::Attach(CTKStream* stream) {
    std::lock_guard lock(m_FileLock);
    // Events added while no stream was attached stay, to be written to this one.
    if (m_pStream)
        Close(0);
    m_pStream = stream;
    m_readMark = 0;
    m_bRewriteNeeded = 0;
}

int CEegEventStore::IsAttached() const {
    std::lock_guard lock(m_FileLock);
    return m_pStream != nullptr;
}

void CEegEventStore::Close(int disabled) {
    std::lock_guard lock(m_FileLock);
    // Every add and remove synchronises, so this writes only what a failed
    // synchronisation (or an add before the stream existed) left behind.
    if (!disabled && m_pStream && (m_pending.GetSize() > 0 || m_bRewriteNeeded))
        Synchronize();
    CTKStream* stream = m_pStream;
    m_pStream = nullptr;
    m_readMark = 0;
    Reset();
    m_bRewriteNeeded = 0;
    if (stream && !disabled)
        stream->Close();
}

void CEegEventStore::Add(CEegEvent* event) {
    std::lock_guard lock(m_FileLock);
    Insert(event);
    m_pending.Add(event);
}

void CEegEventStore::Remove(CEegEvent* event) {
    std::lock_guard lock(m_FileLock);
    Unlink(event);
    delete event;
}

void CEegEventStore::Reset() {
    std::lock_guard lock(m_FileLock);
    DeleteAll();
    m_bRewriteNeeded = 1;
}

void CEegEventStore::DeleteAll() {
    DeleteEvents(m_events);
    m_events.RemoveAll();
    m_pending.RemoveAll();
    m_recordEvents.RemoveAll();
    m_deletionEvents.RemoveAll();
}

void CEegEventStore::Insert(CEegEvent* event) {
    m_events.Add(event);
    if (event->GetEventType() == CEegEvent::etRecord)
        m_recordEvents.Add(event);
    else if (event->GetEventType() == CEegEvent::etDataDeletion)
        m_deletionEvents.Add(event);
}

bool CEegEventStore::Unlink(const CEegEvent* event) {
    if (event->GetEventType() == CEegEvent::etRecord)
        m_recordEvents.Remove(event);
    else if (event->GetEventType() == CEegEvent::etDataDeletion)
        m_deletionEvents.Remove(event);
    m_events.Remove(event);
    return m_pending.Remove(event) != nullptr;
}

void CEegEventStore::SetRewriteNeeded() {
    std::lock_guard lock(m_FileLock);
    m_bRewriteNeeded = 1;
}

int CEegEventStore::GetPendingCount() const {
    std::lock_guard lock(m_FileLock);
    return m_pending.GetSize();
}

int64_t CEegEventStore::GetReadMark() const {
    std::lock_guard lock(m_FileLock);
    return m_readMark;
}

uint32_t CEegEventStore::GetLastEventOffset() const {
    std::lock_guard lock(m_FileLock);
    const int n = m_events.GetSize();
    return n == 0 ? 0 : m_events.GetAt(n - 1)->GetTimeStamp().GetSampleOffset();
}

int CEegEventStore::RemoveEqual(const CEegEvent& event, const CEegEvent** destroyed) {
    std::lock_guard lock(m_FileLock);
    if (m_access.GetAccessMode() != CEegAccessMode::eamExclusive)
        return 0;
    const CEegTimeStamp at = event.GetTimeStamp();
    const int last = m_events.GetIndexAt(at);
    int first = last;
    while (first >= 0 && m_events.GetAt(first)->GetTimeStamp() == at)
        --first;
    ++first;
    // The caller's own pointer into the list first: an equal twin stored earlier
    // must not go in its place.
    int found = -1;
    for (int i = first; i <= last && found < 0; ++i) {
        if (m_events.GetAt(i) == &event)
            found = i;
    }
    std::vector<unsigned char> wanted;
    if (found < 0 && RecordOf(event, wanted)) {
        std::vector<unsigned char> stored;
        for (int i = first; i <= last && found < 0; ++i) {
            const CEegEvent* e = m_events.GetAt(i);
            if (e->GetEventType() == event.GetEventType() && RecordOf(*e, stored) &&
                stored == wanted)
                found = i;
        }
    }
    if (found < 0)
        return 0;
    CEegEvent* victim = const_cast<CEegEvent*>(m_events.GetAt(found));
    Unlink(victim);
    if (destroyed)
        *destroyed = victim;
    delete victim;
    m_bRewriteNeeded = 1;
    return 1;
}

int CEegEventStore::ClampOffsets(CEegTimeStamp end) {
    std::lock_guard lock(m_FileLock);
    std::vector<CEegEvent*> moved;
    for (int i = m_events.GetIndexAt(end) + 1; i < m_events.GetSize(); ++i)
        moved.push_back(const_cast<CEegEvent*>(m_events.GetAt(i)));
    // In time order, so they stay in that order at their new common position.
    for (CEegEvent* e : moved) {
        const bool pending = Unlink(e);
        e->SetTimeStamp(end);
        Insert(e);
        if (pending)
            m_pending.Add(e);
    }
    return static_cast<int>(moved.size());
}

// ---------------------------------------------------------------- synchronising

void CEegEventStore::Synchronize() {
    std::lock_guard lock(m_FileLock);
    if (!m_pStream || !(m_access.GetAccessHeld() || m_access.GetWithoutControl()))
        return;
    CRegionScope region(m_access);
    m_pStream->Refresh();
    if (m_pStream->GetLength() > m_readMark)
        ReadNew();
    // A read-only recording keeps this station's events in memory only.
    if (!m_pStream->IsReadOnly()) {
        const bool empty = m_pStream->GetLength() == 0;
        if ((m_bRewriteNeeded || empty) && (m_events.GetSize() > 0 || m_bRewriteNeeded))
            Rewrite();
        else if (m_pending.GetSize() > 0)
            Append();
    }
    region.Restore();
}

void CEegEventStore::CheckVersion(CArchive& ar) {
    ar.Seek(0);
    WORD version = 0;
    ar >> version;
    if (version != kStoredVersion)
        ThrowEegFileException(CEegFileException::eUnknownEventListFormat);
}

void CEegEventStore::ReadNew() {
    CBorrowedStreamFile file(m_pStream);
    CArchive ar(&file, CArchive::load, kReadBuffer);
    ar.m_strFileName = kStreamName;
    CheckVersion(ar);
    if (m_readMark != 0)
        ar.Seek(static_cast<uint64_t>(m_readMark));
    // Loaded aside first, so that a broken record leaves the lists and the read
    // mark as they were and the next call tries the same records again.
    CEegStoreEventList loaded;
    try {
        loaded.SerializeLoad(ar);
    } catch (...) {
        DeleteEvents(loaded);
        throw;
    }
    const int64_t mark = static_cast<int64_t>(ar.GetPosition());
    for (int i = 0; i < loaded.GetSize(); ++i)
        Insert(const_cast<CEegEvent*>(loaded.GetAt(i)));
    m_readMark = mark;
    ar.Close();
    file.Close();
}

void CEegEventStore::Rewrite() {
    CBorrowedStreamFile file(m_pStream);
    WriteRecords(
        file, [&] { m_pStream->Truncate(); }, [&](CArchive& ar) { m_events.Serialize(ar); });
    m_bRewriteNeeded = 0;
}

void CEegEventStore::Append() {
    CBorrowedStreamFile file(m_pStream);
    {
        CArchive check(&file, CArchive::load, kReadBuffer);
        check.m_strFileName = kStreamName;
        CheckVersion(check);
        check.Close();
    }
    WriteRecords(
        file, [&] { file.SeekToEnd(); }, [&](CArchive& ar) { m_pending.SerializeStore(ar); });
}

void CEegEventStore::WriteRecords(CTKStreamFile& file, const std::function<void()>& place,
                                  const std::function<void(CArchive&)>& write) {
    try {
        place();
        CArchive ar(&file, CArchive::store, kWriteBuffer);
        ar.m_strFileName = kStreamName;
        write(ar);
        ar.Flush();
        const int64_t mark = static_cast<int64_t>(ar.GetPosition());
        ar.Close();
        file.Close();
        m_readMark = mark;
    } catch (...) {
        // What reached the stream is unknown: skip it when reading and write
        // the whole list again next time.
        m_readMark = m_pStream->GetLength();
        m_bRewriteNeeded = 1;
        throw;
    }
    m_pending.RemoveAll();
}
