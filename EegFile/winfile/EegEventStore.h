// CEegEventStore: the in-memory events of a current-format recording and its
// "EventList" stream (version word 0x5A5A, then event records to the stream's
// end, no count).
//
// The stream is an append-only log shared by every station that has the
// recording open: each station remembers how far it has read (the read mark),
// reads what others appended since, and appends the events it added itself.
// Only a removal (or a reset) rewrites the whole stream. A rewrite is not seen
// as such by the others: a station whose read mark lies beyond the new end
// reads nothing until the stream grows past its mark again, and then reads on
// from its mark.
//
// Owns: the attached stream (closed through Close) and every event in the
// events list. The pending, record-event and deletion-event lists hold the same
// objects without owning them.
//
// Locking: the recording's file lock (the container's mutex) guards every
// member; Synchronize holds the region lock (event list, copy 1) of the lock
// file while it reads and writes the stream, so stations take turns.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "EegFile/events/EegEventList.h"
#include "EegFile/frame/EegEnums.h"

class CEegAccessControl;
class CTKStream;
class CTKStreamFile;

// An event list whose record loop and store loop the store runs itself: loading
// the records that follow a read mark, storing only the pending events.
class CEegStoreEventList : public CEegEventList {
public:
    using CEegEventList::SerializeLoad;
    using CEegEventList::SerializeStore;
};

class CEegEventStore {
public:
    static constexpr int kAllocationUnit = 32400;
    static constexpr WORD kStoredVersion = 0x5A5A;
    static constexpr CEegStreamType::EegStreamType kRegionType = CEegStreamType::estEventList;
    static constexpr int kRegionCopy = 1;
    static constexpr int kRegionTimeoutMs = 10000;
    static constexpr int kGrowStep = 500;
    static constexpr const char* kStreamName = "EventList";

    CEegEventStore(CEegAccessControl& access, std::recursive_mutex& fileLock);
    // Destroys the events; an attached stream is the container's to close.
    virtual ~CEegEventStore();
    CEegEventStore(const CEegEventStore&) = delete;
    CEegEventStore& operator=(const CEegEventStore&) = delete;

    // Takes over stream (closing one attached before, with its events): read
    // mark 0, no rewrite due. Events added while none was attached are written
    // to it by the next Synchronize.
    void Attach(CTKStream* stream);
    int IsAttached() const;
    // Writes what is still unwritten (unless disabled), closes the stream (only
    // forgets it when disabled), then Reset().
    void Close(int disabled);

    // Takes ownership of event: adds it to the events and the pending events, and
    // by its type to the record or deletion events. Written by the next Synchronize.
    virtual void Add(CEegEvent* event);
    // Undoes Add after a failed synchronisation: takes event out of every list and
    // destroys it (also when it was not stored).
    virtual void Remove(CEegEvent* event);
    // Empties every list, destroying the events; the next write rewrites the stream.
    virtual void Reset();
    // Reads what other stations appended and writes this station's changes, under
    // the region lock; nothing without access (unless the recording is read-only)
    // or without a stream. A wrong version word throws CEegFileException 0, a
    // broken record the archive's exception; nothing read by a failed call stays.
    // A failed write leaves the stream to be rewritten by the next call.
    virtual void Synchronize();

    // Removes and destroys the stored event equal to event (the same object, else
    // one of the same type and position whose record reads the same), only while
    // this station holds exclusive access; the next write rewrites the stream.
    // Returns 1 when one was removed; *destroyed (when given) is then its address.
    int RemoveEqual(const CEegEvent& event, const CEegEvent** destroyed = nullptr);
    void SetRewriteNeeded();
    // Moves every event after end to end (the stream must then be rewritten).
    // Returns how many moved.
    int ClampOffsets(CEegTimeStamp end);

    const CEegEventList& GetEvents() const { return m_events; }
    // Record events (type 0) and data-deletion events (type 17), in time order.
    const CEegEventList& GetRecordEvents() const { return m_recordEvents; }
    const CEegEventList& GetDeletionEvents() const { return m_deletionEvents; }
    int GetPendingCount() const;
    int64_t GetReadMark() const;
    // Sample offset of the last event; 0 without events.
    uint32_t GetLastEventOffset() const;

private:
    // Reads the records from the read mark (after the version word when it is 0)
    // to the end of the stream into the lists.
    void ReadNew();
    // Truncates the stream and writes the version word and every event.
    void Rewrite();
    // Writes the pending events at the stream's end.
    void Append();
    // Positions the stream (place), writes records through an archive and moves
    // the read mark past them; on failure marks the stream for a rewrite.
    void WriteRecords(CTKStreamFile& file, const std::function<void()>& place,
                      const std::function<void(CArchive&)>& write);
    void CheckVersion(CArchive& ar);
    // Adds event (owned) to events and, by type, to the side lists.
    void Insert(CEegEvent* event);
    // Takes event out of every list; it stays alive. Returns whether it was pending.
    bool Unlink(const CEegEvent* event);
    void DeleteAll();

    CEegAccessControl& m_access;
    std::recursive_mutex& m_FileLock;
    CTKStream* m_pStream = nullptr;
    int64_t m_readMark = 0;
    CEegEventList m_events;  // owns its events
    CEegStoreEventList m_pending;
    int m_bRewriteNeeded = 0;
    CEegEventList m_recordEvents;
    CEegEventList m_deletionEvents;
};
