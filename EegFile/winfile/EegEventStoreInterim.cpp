// INTERIM (marks branch): stand-ins for the event store operations that the
// events branch provides; removed when that branch is merged.
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/winfile/EegEventStore.h"

// Until events can be added there is nothing of this station's to write, and
// loading happens at opening.
void CEegEventStore::Synchronize() {}

const CEegEventList& CEegEventStore::GetDeletionEvents() const {
    std::lock_guard lock(m_FileLock);
    m_deletions.RemoveAll();
    for (int i = 0; i < m_events.GetSize(); ++i) {
        if (m_events.GetAt(i)->GetEventType() == CEegEvent::etDataDeletion)
            m_deletions.Add(m_events.GetAt(i));
    }
    return m_deletions;
}
