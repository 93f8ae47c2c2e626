// CEegEventList: event pointers kept in time order (equal time stamps in the
// order they were added), searched by binary search. The list never owns its
// events: whoever created them deletes them, and several lists may share them.
// Not locked: its owner guards it.
//
// Beside the pointers the list keeps each element's sample offset and type, taken
// when the element is added, so that searches and masks touch one compact array
// instead of an event per probe. An event's time stamp must therefore not change
// while a list holds it (the time order would not hold either). The array's operations that
// could bypass that copy are not offered; use Add, Remove, RemoveAt, RemoveAll
// and SetSize.
#pragma once

#include <cstdint>
#include <vector>

#include "EegFile/events/EegEvent.h"
#include "EegFile/events/EegEventMask.h"
#include "Platform/Arrays.h"

class CEegEventList : public CObArray {
public:
    static const WORD currentSchema;

    CEegEventList() = default;

    const CEegEvent* GetAt(int i) const { return static_cast<const CEegEvent*>(m_data[i]); }
    const CEegEvent* operator[](int i) const { return GetAt(i); }

    // The array's operations, keeping the sample offsets in step. Growing with
    // SetSize adds null elements at NullStamp, which the caller must fill by
    // RemoveAt and Add before searching.
    void SetSize(int newSize, int growBy = -1);
    void RemoveAt(int index, int count = 1);
    void RemoveAll();

    // Inserts e after every element at or before its time stamp; returns its index.
    int Add(const CEegEvent* e);
    // Takes e (by identity) out of the list and returns it, or nullptr when absent.
    const CEegEvent* Remove(const CEegEvent* e);

    // Last element at or before t; -1 for none.
    int GetIndexAt(const CEegTimeStamp& t) const;
    // Last element strictly before t; -1 for none.
    int GetIndexBefore(const CEegTimeStamp& t) const;
    // First element strictly after t; -1 for none.
    int GetIndexAfter(const CEegTimeStamp& t) const;
    // Last event at or before t whose type is not masked out, or nullptr.
    const CEegEvent* GetAt(const CEegTimeStamp& t, const CEegEventMask& mask) const;

    // Empties out, then AppendEventList.
    void GetEventList(CEegEventList& out, const CEegEventMask& mask, CEegTimeStamp start,
                      CEegTimeStamp end, uint32_t maxCount, unsigned short minPriority) const;
    // Adds to out the events of [start, end] (NullStamp: open bound) not masked
    // out, at most maxCount of them (0: no limit); comments and user events below
    // minPriority are skipped unless the mask excludes both of those types.
    void AppendEventList(CEegEventList& out, const CEegEventMask& mask, CEegTimeStamp start,
                         CEegTimeStamp end, uint32_t maxCount, unsigned short minPriority) const;

    // Storing: the version word, then per event its type word and record. Loading:
    // empties the list (unless in no-clear mode) and adds the stored events in time
    // order, up to the end of the stream. A bad version, an unknown type or a
    // broken record raises the archive's exception; the events read before stay in
    // the list (the caller owns them), the broken one is deleted.
    void Serialize(CArchive& ar) override;
    // Loads a stored list, adding its events to those already in the list.
    void SerializeNoClear(CArchive& ar);

    // Reads one stored entry (type word and record); the event is the caller's.
    // A type no class reads, or a damaged record, throws the archive's exception.
    static CEegEvent* LoadEntry(CArchive& ar);

protected:
    void SerializeStore(CArchive& ar) const;
    void SerializeLoad(CArchive& ar);
    // As SerializeLoad, also adding each record event to records and each data
    // deletion event to deletions (neither is emptied first).
    void SerializeLoad(CArchive& ar, CEegEventList& records, CEegEventList& deletions);

    int m_bNoClear = 0;

private:
    struct Key {
        uint32_t stamp;
        CEegEvent::EventType type;
    };
    std::vector<Key> m_Keys;  // of each element, in step with m_data

    // Add, with the event's key already known.
    int AddKeyed(const CEegEvent* e, const Key& key);
    void Insert(int i, const CEegEvent* e, const Key& key);

private:
    using CObArray::Append;
    using CObArray::Copy;
    using CObArray::ElementAt;
    using CObArray::GetData;
    using CObArray::InsertAt;
    using CObArray::SetAt;
    using CObArray::SetAtGrow;

    // Add for a freshly loaded event, deleting it when Add fails.
    void AddLoaded(CEegEvent* e);
    CEegTimeStamp StampAt(int i) const {
        return CEegTimeStamp(m_Keys[static_cast<size_t>(i)].stamp);
    }
    CEegEvent::EventType TypeAt(int i) const { return m_Keys[static_cast<size_t>(i)].type; }

    static CObject* Slot(const CEegEvent* e) { return const_cast<CEegEvent*>(e); }
    // The 16-bit priority of a comment or user event.
    static unsigned short AnnotationPriority(const CEegEvent& e);
};
