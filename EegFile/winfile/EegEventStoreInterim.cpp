// INTERIM (marks branch): stand-ins for the event store operations that the
// events branch provides; removed when that branch is merged.
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/container/TKStream.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/winfile/EegEventStore.h"
#include "Platform/Archive.h"

namespace {
class CInterimStreamFile : public CTKStreamFile {
public:
    explicit CInterimStreamFile(CTKStream* stream) : CTKStreamFile(stream, FALSE, nullptr) {}
};
}  // namespace

void CEegEventStore::Add(CEegEvent* event) {
    std::lock_guard lock(m_FileLock);
    m_events.Add(event);
    m_pending.Add(event);
}

int CEegEventStore::RemoveEqual(const CEegEvent& event) {
    std::lock_guard lock(m_FileLock);
    if (m_access.GetAccessMode() != CEegAccessMode::eamExclusive)
        return 0;
    for (int i = 0; i < m_events.GetSize(); ++i) {
        const CEegEvent* e = m_events.GetAt(i);
        if (e->GetEventType() != event.GetEventType() ||
            !(e->GetTimeStamp() == event.GetTimeStamp()))
            continue;
        const auto* d = dynamic_cast<const CDataDeletionEvent*>(e);
        const auto* w = dynamic_cast<const CDataDeletionEvent*>(&event);
        if (d && w &&
            (!(d->GetEndTimeStamp() == w->GetEndTimeStamp()) ||
             d->IsDeletionStart() != w->IsDeletionStart()))
            continue;
        m_events.RemoveAt(i);
        m_pending.Remove(e);
        delete e;
        m_bRewriteNeeded = 1;
        return 1;
    }
    return 0;
}

void CEegEventStore::Synchronize() {
    std::lock_guard lock(m_FileLock);
    if (!m_pStream || (!m_bRewriteNeeded && m_pending.GetSize() == 0))
        return;
    const int previous = m_access.SetLockState(CEegStreamType::estEventList, 1, 1, 10000);
    m_pStream->Truncate();
    CInterimStreamFile file(m_pStream);
    CArchive ar(&file, CArchive::store, 512);
    m_events.Serialize(ar);
    ar.Close();
    m_readMark = static_cast<int64_t>(file.GetPosition());
    file.Close();
    m_pStream->Commit(TRUE);
    m_pending.RemoveAll();
    m_bRewriteNeeded = 0;
    m_access.SetLockState(CEegStreamType::estEventList, 1, previous, 10000);
}

const CEegEventList& CEegEventStore::GetDeletionEvents() const {
    m_deletions.RemoveAll();
    for (int i = 0; i < m_events.GetSize(); ++i) {
        if (m_events.GetAt(i)->GetEventType() == CEegEvent::etDataDeletion)
            m_deletions.Add(m_events.GetAt(i));
    }
    return m_deletions;
}
