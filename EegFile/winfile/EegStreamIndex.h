// CEegStreamIndex: maps second numbers of a recording to byte positions in its
// "EEGData" stream, built from the annotations that the data stream's section
// observer writes into each section header.
//
// Section annotation (length 24, words 6 and 7 zero):
//   words 0-1  start time of the section's first second (day count, a double,
//              low word first); word 2 its status (0 valid)
//   word 3     first second;  word 4  one past the last second
//   word 5     flags: kRunStart (first section of a recording run), kRunStop
//              (last section of a run)
//
// Entry image (32 bytes, little-endian): int64 byte position of the first
// second; double start time; int32 time status; uint32 first second; uint32 end
// second (exclusive); uint32 flags. The index's image is the element count
// (archive count encoding) followed by the entries.
//
// Entries are kept in ascending, non-overlapping second order. Not thread-safe:
// its owner's lock guards it.
#pragma once

#include <cstdint>
#include <vector>

#include "EegFile/access/EegDataMarkStore.h"
#include "Platform/Arrays.h"
#include "Platform/Object.h"
#include "Platform/OleDateTime.h"

struct CTKSectionEntry;
class CTKStream;

class CEegStreamIndexEntry : public CObject {
public:
    static constexpr int kImageBytes = 32;

    int64_t m_position = 0;
    COleDateTime m_startTime;
    uint32_t m_firstSecond = 0;
    uint32_t m_endSecond = 0;
    uint32_t m_flags = 0;

    void Serialize(CArchive& ar) override;
    bool operator==(const CEegStreamIndexEntry& o) const {
        return m_position == o.m_position && m_startTime == o.m_startTime &&
               m_firstSecond == o.m_firstSecond && m_endSecond == o.m_endSecond &&
               m_flags == o.m_flags;
    }
};

class CEegStreamIndex : public CObject {
public:
    static constexpr int kAnnotationLength = 24;
    static constexpr uint32_t kRunStart = 0x1;
    static constexpr uint32_t kRunStop = 0x2;

    // Empties the index; the next Update takes in every section again.
    void Clear();

    // Takes in the sections of stream added or grown since the last call (all of
    // them after Clear, or when the stream has fewer sections than were taken
    // in). bytesPerSecond > 0. A section continues the last entry when it starts
    // at or before that entry's end and is not a run start; otherwise it begins a
    // new entry. A section's end second is counted from its used bytes, so a
    // header not yet rewritten, or a damaged end word, cannot claim data the
    // section does not hold; a first second below the last entry's end (damage)
    // is moved up to it, keeping the entries ordered.
    void Update(const CTKStream& stream, int bytesPerSecond);

    // The stream position of second s: true and *position when an entry holds s.
    bool FindPosition(uint32_t second, int bytesPerSecond, int64_t* position);

    // One past the last stored second (0 when empty).
    uint32_t GetStoredSeconds() const {
        return m_entries.empty() ? 0 : m_entries.back().m_endSecond;
    }
    int GetSize() const { return static_cast<int>(m_entries.size()); }
    const CEegStreamIndexEntry& GetAt(int i) const { return m_entries[static_cast<size_t>(i)]; }
    void Add(const CEegStreamIndexEntry& entry) { m_entries.push_back(entry); }

    // The index of the same stream once the seconds of cuts are taken out:
    // every entry is split by the intervals it overlaps; each remaining piece
    // keeps its second numbers, and one that begins after a cut starts that many
    // seconds further into the stream (position and start time advance) and
    // loses kRunStart, while one that ends at a cut loses kRunStop. The
    // intervals may come in any order and may overlap.
    CEegStreamIndex Cut(const CEegStreamIntervalArray& cuts, int bytesPerSecond) const;

    // Loading checks the count against the bytes left in the file first.
    void Serialize(CArchive& ar) override;

    // Fills a section's annotation for a stream in a recording run: the run began
    // at runStartTime, after secondsBeforeRun stored seconds, when the stream was
    // runStartLength bytes long; sections whose sequence is runStartSequence or
    // runStopSequence (-1: none) carry kRunStart or kRunStop.
    static void AnnotateSection(CTKSectionEntry& entry, const COleDateTime& runStartTime,
                                uint32_t secondsBeforeRun, int64_t runStartLength,
                                int bytesPerSecond, int runStartSequence, int runStopSequence);
    // The annotation of a section written while no data stream is attached: six
    // zero words, length 24.
    static void AnnotateDetached(CTKSectionEntry& entry);

private:
    // The part [first, end) of e, which lies after a cut when afterCut and ends
    // at one when beforeCut.
    static CEegStreamIndexEntry Piece(const CEegStreamIndexEntry& e, uint32_t first, uint32_t end,
                                      bool afterCut, bool beforeCut, int bytesPerSecond);

    std::vector<CEegStreamIndexEntry> m_entries;
    int m_nSectionsTaken = 0;
    int m_nLastFound = -1;
};
