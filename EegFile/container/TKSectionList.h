// What the container knows of one stream's sections: an entry per section and,
// per stream (name and copy), the list of its sections in use and of its released
// sections. Not thread-safe by itself: the container's mutex guards every list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "EegFile/container/TKCompoundFileFormat.h"

// One section, as its header says and as the stream sees it.
struct CTKSectionEntry {
    int64_t m_offset = 0;        // file offset of the section's header
    int64_t m_streamStart = -1;  // stream position of its first data byte; -1 unknown
    int64_t m_next = -1;         // file offset of the next section on the chain, or -1
    int32_t m_linked = 0;        // the next section holds stream data
    int32_t m_free = 0;          // released: on the chain, holding no data
    int32_t m_size = 0;          // header, data area and trailer
    int32_t m_used = 0;          // valid data bytes
    int32_t m_nameNumber = -1;
    int32_t m_copy = 1;
    int32_t m_headerSize = TKCompoundFileFormat::kHeaderSize;
    int32_t m_sequence = 0;  // index along the chain
    int32_t m_annotationLength = 0;
    uint32_t m_annotation[TKCompoundFileFormat::kAnnotationWords] = {};

    // Stream position one past its last data byte.
    int64_t GetStreamEnd() const { return m_streamStart + m_used; }
};

// The sections of one stream: those in use (holding the stream's data in
// sequence order) and the released ones kept for reuse, each array sorted by
// sequence. The list owns its entries; their addresses stay fixed while they
// move between the two arrays.
class CTKSectionList {
public:
    CTKSectionList(int nameNumber, int copy) : m_nameNumber(nameNumber), m_copy(copy) {}

    int GetNameNumber() const { return m_nameNumber; }
    int GetCopy() const { return m_copy; }

    int GetInUseCount() const { return static_cast<int>(m_inUse.size()); }
    CTKSectionEntry* GetInUse(int i) const { return m_inUse[static_cast<size_t>(i)].get(); }
    CTKSectionEntry* GetLastInUse() const {
        return m_inUse.empty() ? nullptr : m_inUse.back().get();
    }
    int GetReleasedCount() const { return static_cast<int>(m_released.size()); }
    CTKSectionEntry* GetReleased(int i) const { return m_released[static_cast<size_t>(i)].get(); }
    int GetSectionCount() const { return GetInUseCount() + GetReleasedCount(); }

    // Highest sequence among the sections in use / released; -1 when none.
    int GetHighestInUse() const { return m_inUse.empty() ? -1 : m_inUse.back()->m_sequence; }
    int GetHighestReleased() const {
        return m_released.empty() ? -1 : m_released.back()->m_sequence;
    }

    // Adds a section, to the released array when it is free, else to those in
    // use, keeping the array sorted by sequence.
    CTKSectionEntry* Add(std::unique_ptr<CTKSectionEntry> entry);

    // Takes the released section with the lowest sequence into use as the last
    // section in use: not free, sequence one past the highest in use, no data,
    // starting where the previous last section ends. Null when none is released.
    CTKSectionEntry* TakeFirstReleased();
    // Moves the last section in use to the released sections, marked free and
    // empty and unlinked.
    void ReleaseLastInUse();
    // Forgets every released section.
    void DropReleased() { m_released.clear(); }

    // Index of the section in use that holds stream position p (start <= p <
    // start + used, or p at the end of the last one), or -1. Bisection.
    int FindInUse(int64_t p) const;

private:
    using Entries = std::vector<std::unique_ptr<CTKSectionEntry>>;
    static void InsertSorted(Entries& entries, std::unique_ptr<CTKSectionEntry> entry);

    int m_nameNumber;
    int m_copy;
    Entries m_inUse;
    Entries m_released;
};
