// CEegDataMarkStore: the data marks of a recording, with the marked segments
// derived from them, kept where the format keeps them (CDataMarkBacking: the
// current format's "MarkDelete" stream, the legacy format's mark file). Both
// formats share these rules and this record.
//
// Record: the version word kStoredVersion (99 XOR 0x5A5A), the 32-bit
// mark-for-delete flag, then up to the end one entry per mark as an event list
// stores it (the event type XOR 0xA5A5, then the mark's record).
//
// Marked segments are whole-second sample ranges, each a pair of
// CDataSegmentMarkEvent (begin and end) carrying the flag in force when it was
// added. The segments in the list are disjoint; adding one merges it with the
// segments of its flag that it overlaps or touches and cuts back those of the
// other flag. Holes (deleted data) never become part of a segment.
//
// Owns its backing while attached, every mark and every segment event. Guarded
// by the recording's file lock; region (4, 1) of the lock file orders the
// stations' reads and writes of the record, and the last writer's marks win.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "EegFile/events/DataMarkDeleteEvent.h"
#include "EegFile/events/DataSegmentMarkEvent.h"
#include "EegFile/events/EegEventList.h"

#include "Platform/Arrays.h"

class CDataDeletionEvent;
class CEegAccessControl;
class CFile;

// A stretch of whole seconds to cut: [m_firstSecond, m_endSecond).
struct CEegStreamInterval {
    uint32_t m_firstSecond = 0;
    uint32_t m_endSecond = 0;
};
using CEegStreamIntervalArray = CArray<CEegStreamInterval, CEegStreamInterval&>;

// Where a recording keeps its marks. The store uses it under region (4, 1).
class CDataMarkBacking {
public:
    virtual ~CDataMarkBacking() = default;
    // The record as a file at offset 0, brought up to what other stations wrote.
    virtual CFile& BeginLoad() = 0;
    // A file at offset 0 to write the record into.
    virtual CFile& BeginStore() = 0;
    // Ends a load or a store; a store is made durable.
    virtual void End(bool stored) = 0;
    // Lets go of the record for good (not called while file access is disabled).
    virtual void Close() = 0;
};

class CEegDataMarkStore {
public:
    static constexpr WORD kStoredVersion = 99 ^ 0x5A5A;
    static constexpr int kRegionTimeoutMs = 10000;

    // What segments are measured against: the recording's holes (deletion
    // events, both ends), its integer sample rate and its length in seconds.
    struct CGeometry {
        const CEegEventList* holes = nullptr;
        int rate = 0;
        uint32_t lengthSeconds = 0;
    };

    // What a recording answers for the editing operations below.
    class COwner {
    public:
        // false when the recording gives no marks (closed, disabled); throws
        // CEegFileException eFileIsReadOnly when it may not change them.
        virtual bool MarksEditable() = 0;
        virtual CGeometry MarkGeometry() const = 0;

    protected:
        ~COwner() = default;
    };

    CEegDataMarkStore(CEegAccessControl& access, std::recursive_mutex& fileLock);
    ~CEegDataMarkStore();
    CEegDataMarkStore(const CEegDataMarkStore&) = delete;
    CEegDataMarkStore& operator=(const CEegDataMarkStore&) = delete;

    // Takes this station's mark right: 1 when held; 0 when refused, or a
    // CEegFileException eMarkAccessRequired naming the holders with throwOnRefusal.
    int TakeMarkRight(int throwOnRefusal);

    // An editing operation of a recording's marks, as every format runs it: under
    // the recording's lock; nothing when the owner gives no marks; this station's
    // mark right taken (a refusal throws); op; then the record shared with the
    // other stations (written when op changed it, or always with write 1).
    using EditOp = std::function<void(const CGeometry&)>;
    void Edit(COwner& owner, const EditOp& op, int write = 0);
    // The same, a failure reported under the operation's name instead of thrown,
    // with the caller's line. __builtin_LINE rather than std::source_location,
    // which the clang of the fuzz build cannot compile from libstdc++'s header.
    void EditReported(COwner& owner, const char* operation, const char* module, const EditOp& op,
                      int write = 0, int line = __builtin_LINE());
    // The recording-level operations built on Edit.
    void EditMarkForDelete(COwner& owner, int on);
    // Takes mark once it is added; when nothing is added (no marks, a refusal, a
    // failure first) the caller keeps it: IsStored tells which.
    void EditAddMark(COwner& owner, CDataMarkDeleteEvent* mark);
    // The marks themselves (not copies) into list, which is emptied first.
    void ListMarks(CEegEventList& list) const;

    // Closes the store, then takes over backing (may be null).
    void Attach(std::unique_ptr<CDataMarkBacking> backing);
    int IsAttached() const { return m_pBacking != nullptr; }
    // Closes the backing (only forgets it when disabled) and empties the store.
    void Close(int disabled);

    int GetMarkForDelete() const { return m_nMarkForDelete; }
    // Stores the flag; every mark and segment is discarded and the store changed.
    void SetMarkForDelete(int on);

    // Takes mark (the store owns it from now on) and adds its segment when it
    // concerns EEG data.
    void AddMark(CDataMarkDeleteEvent* mark, const CGeometry& g);
    // Destroys the stored mark equal to mark (the same object, or one with the
    // same ends, type, comment and priority) and rebuilds the segments; 1 when
    // one was found. The store is changed either way.
    int RemoveEqualMark(const CDataMarkDeleteEvent& mark, const CGeometry& g);
    // Discards every mark and segment.
    void RemoveAll();
    // EEG-and-video marks become video marks, EEG marks are destroyed.
    void RemoveEegMarks(const CGeometry& g);
    // EEG-and-video marks become EEG marks, video and no-audio marks are destroyed.
    void RemoveVideoMarks(const CGeometry& g);
    // Empties the segments and adds the segment of every EEG mark, in mark order.
    void RebuildSegments(const CGeometry& g);

    // Under region (4, 1): when nothing changed and write is 0, loads the record
    // (a version other than kStoredVersion throws CEegFileException 0, a broken
    // record the archive's exception) and rebuilds the segments; otherwise
    // rewrites it. Nothing without a backing, or while the access control
    // holds no access and works under control.
    void Synchronize(int write, const CGeometry& g);

    const CEegEventList& GetMarks() const { return m_marks; }
    // Begin and end events of the segments, in time order.
    const CEegEventList& GetSegments() const { return m_segments; }
    int IsStored(const CDataMarkDeleteEvent* mark) const;
    int IsChanged() const { return m_bChanged; }

    // The start events of the segments in [from, to] (NullStamp: open bound), at
    // most maxCount (0: all), and, when from is given, the segment that began
    // before from and reaches it.
    void GetSegmentList(CEegEventList& list, const CEegTimeStamp& from, const CEegTimeStamp& to,
                        uint32_t maxCount) const;

    // The hole holding at, into segment; 0 when at lies in none.
    static int FindHole(const CEegEventList& holes, CEegTimeStamp at, CDataDeletionEvent& segment);
    // The stretches of whole seconds a cut removes: the segments to cut, or, when
    // any segment is to be kept, everything of [0, totalSeconds) outside the kept
    // ones and outside the holes.
    static void CutIntervals(CEegStreamIntervalArray& intervals, const CEegEventList& segments,
                             const CEegEventList& holes, int rate, uint32_t totalSeconds);

    // Adds the piece [a, b) of samples with flag keeping the list disjoint.
    void AddSegmentPiece(uint32_t a, uint32_t b, int flag);
    // Adds the segment of a mark from start to end (sample offsets): whole
    // seconds, clipped to the recording, holes left out.
    void AddMarkSegment(uint32_t start, uint32_t end, const CGeometry& g);

private:
    void DestroyMarks();
    void DestroySegments();
    void Load(const CGeometry& g);
    void Store();

    CEegAccessControl& m_access;
    std::recursive_mutex& m_FileLock;
    std::unique_ptr<CDataMarkBacking> m_pBacking;
    int m_bChanged = 0;
    int m_nMarkForDelete = 0;
    CEegEventList m_marks;     // owns its marks
    CEegEventList m_segments;  // owns its segment events
};
