// CEegEventStore: the in-memory events of a current-format recording and its
// "EventList" stream (version word 0x5A5A, then event records to the stream's
// end). Owns the stream while attached and every event it loaded.
//
// This is the part opening and closing a recording need: attach, load what
// the stream holds under its region lock, close. Adding, removing and the
// incremental synchronisation with other stations build on it.
//
// Locking: the recording's file lock (the container's mutex) guards it; the
// region lock (event list, copy 1) orders the stations' reads of the stream.
#pragma once

#include <cstdint>
#include <mutex>

#include "EegFile/events/EegEventList.h"

class CEegAccessControl;
class CTKStream;

class CEegEventStore {
public:
    static constexpr int kAllocationUnit = 32400;
    static constexpr WORD kStoredVersion = 0x5A5A;

    CEegEventStore(CEegAccessControl& access, std::recursive_mutex& fileLock);
    // Destroys the events; an attached stream is the container's to close.
    ~CEegEventStore();
    CEegEventStore(const CEegEventStore&) = delete;
    CEegEventStore& operator=(const CEegEventStore&) = delete;

    // Takes over stream (closing one attached before); the read mark starts at 0.
    void Attach(CTKStream* stream);
    int IsAttached() const { return m_pStream != nullptr; }
    // Reads the whole stream when nothing was read yet. A wrong version word throws
    // CEegFileException 0; a broken record the archive's exception.
    void Load();
    // Closes the stream (only forgets it when disabled) and destroys the events.
    void Close(int disabled);

    const CEegEventList& GetEvents() const { return m_events; }
    // Sample offset of the last event; 0 without events.
    uint32_t GetLastEventOffset() const;

    // ---- INTERIM (marks branch): the two store operations of the shared API
    // that the cut uses, in simple versions (EegEventStoreInterim.cpp) until
    // the events branch, which provides them, is merged.
    void Synchronize();
    const CEegEventList& GetDeletionEvents() const;
    // ---- end INTERIM

private:
    void Reset();

    CEegAccessControl& m_access;
    std::recursive_mutex& m_FileLock;
    CTKStream* m_pStream = nullptr;
    int64_t m_readMark = 0;
    CEegEventList m_events;             // owns its events
    mutable CEegEventList m_deletions;  // INTERIM (marks branch), see above
};
