// One open stream of a compound container: a byte sequence with a position and
// a length, stored in a chain of sections (see TKCompoundFileFormat.h).
//
// The container makes, owns and destroys its streams (CTKCompoundFile::
// CreateStream, OpenStream, CloseStream). Every operation runs under the
// container's recursive mutex, which all streams of the container share.
// Another station's writing is seen only through Refresh().
#pragma once

#include <cstdint>
#include <mutex>

#include "EegFile/container/TKCompoundFileCallbacks.h"
#include "EegFile/container/TKSectionList.h"
#include "Platform/Types.h"

class CTKCompoundFile;
class CTKStreamFile;

class CTKStream {
public:
    CTKStream(const CTKStream&) = delete;
    CTKStream& operator=(const CTKStream&) = delete;

    // Reads up to count bytes at the position and moves past them; 0 at the end.
    UINT Read(void* buffer, UINT count);
    // Writes count bytes at the position, growing the stream section by section.
    // Does nothing on a read-only stream.
    void Write(const void* buffer, UINT count);
    // Moves to position, clamped to 0 ... length. Leaving the current section
    // commits it first, with a flush of the file. Returns 1.
    int Seek(int64_t position);
    int64_t GetPosition() const;
    int64_t GetLength() const;

    // Cuts the stream to length 0: the first section stays, the others are
    // released (kept on the chain for reuse when the stream grows again).
    // Nothing on a read-only stream.
    void Truncate();
    // Writes the current section's header when it changed (and settles an
    // open-ended section's size); with flushFile, flushes the file to disk.
    void Commit(int flushFile);
    // Catches up with what another station committed: grown sections, newly
    // linked sections, a cut. Leaves the position at the (new) length.
    void Refresh();
    // Gives back the spare room of the last section (the file's tail, or a
    // released section when at least minimumPiece data bytes would fit in it); the
    // next write then starts a new section.
    void Trim(int minimumPiece);
    // The owner changed what its section observer writes for the last section
    // (a flag of its annotation) without changing its data: the next Commit or
    // Trim writes that header again. Nothing on a read-only stream.
    void MarkHeaderDirty();
    // Sections made from now on hold unit data bytes (see SectionSizeForUnit).
    void SetAllocationUnit(int unit);
    // Closes the stream in its container, which destroys it.
    void Close();

    // A write goes whole into one section when a section can hold it.
    void SetKeepWritesWhole(int keep);
    // Every write that grows the stream commits its header (not for open-ended
    // streams), so that readers see data as soon as the write returns.
    void SetCommitOnGrowth(int commit);
    void SetSectionObserver(CTKSectionObserver* observer);
    CTKSectionObserver* GetSectionObserver() const;

    int IsReadOnly() const { return m_bReadOnly; }
    int IsOpenEnded() const { return m_bOpenEnded; }
    CTKCompoundFile* GetContainer() const { return m_pContainer; }
    std::recursive_mutex& GetMutex() const { return *m_pMutex; }
    int GetCopy() const;

    // The sections in use, in sequence order, with their stream positions, used
    // counts, sequences and annotations (what a reader builds its index from).
    int GetSectionCount() const;
    CTKSectionEntry GetSection(int index) const;
    // The highest sequence among the sections in use; -1 when none.
    int GetHighestSequence() const;

private:
    friend class CTKCompoundFile;
    friend class CTKStreamFile;

    CTKStream(CTKCompoundFile* container, CTKSectionList* list, int readOnly, int openEnded,
              CTKSectionObserver* observer);
    // Detaches the adapter, if one is attached; commits nothing.
    ~CTKStream();

    // Attaches an adapter, detaching the one attached before.
    void AttachAdapter(CTKStreamFile* adapter);

    void Locate(int64_t p);
    void SetCurrent(int index);
    int64_t ComputeRoomEnd() const;
    int64_t FindRoom(int64_t n);
    void Advance(int64_t k);
    void AllocateNextSection();
    void ReuseReleasedSection();
    void AppendNewSection();
    // Puts back the link of the section before one that could not be taken.
    void RestoreLink(CTKSectionEntry* previous, int64_t next, int linked);
    void CallObserver(CTKSectionEntry& entry);

    std::recursive_mutex* m_pMutex;
    CTKCompoundFile* m_pContainer;
    CTKSectionList* m_pList;
    CTKSectionEntry* m_pCurrent = nullptr;
    int64_t m_length = 0;
    int64_t m_position = 0;
    int32_t m_currentIndex = -1;
    int64_t m_sectionStart = 0;
    int64_t m_dataEnd = 0;
    int64_t m_roomEnd = 0;
    int64_t m_dataFileOffset = 0;
    int32_t m_allocationSize;  // section size for new sections
    int m_bOpenEnded;
    int m_bDataDirty = 0;
    int m_bHeaderDirty = 0;
    CTKSectionObserver* m_pObserver;
    int m_bKeepWritesWhole = 0;
    int m_bTrimmed = 0;
    int m_bReadOnly;
    int m_bCommitOnGrowth = 0;
    CTKStreamFile* m_pAdapter = nullptr;
};
