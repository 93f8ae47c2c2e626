#include "EegFile/winfile/EegStreamIndex.h"

#include <algorithm>
#include <bit>

#include "EegFile/container/TKSectionList.h"
#include "EegFile/container/TKStream.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {
constexpr double kSecondsPerDay = 86400.0;

COleDateTime AnnotationTime(const CTKSectionEntry& e) {
    COleDateTime t(std::bit_cast<double>(static_cast<uint64_t>(e.m_annotation[0]) |
                                         (static_cast<uint64_t>(e.m_annotation[1]) << 32)));
    t.SetStatus(static_cast<COleDateTime::DateTimeStatus>(e.m_annotation[2]));
    return t;
}
}  // namespace

void CEegStreamIndexEntry::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_position << m_startTime.m_dt << static_cast<int32_t>(m_startTime.GetStatus())
           << m_firstSecond << m_endSecond << m_flags;
        return;
    }
    int32_t status;
    ar >> m_position >> m_startTime.m_dt >> status >> m_firstSecond >> m_endSecond >> m_flags;
    m_startTime.SetStatus(static_cast<COleDateTime::DateTimeStatus>(status));
}

void CEegStreamIndex::Clear() {
    m_entries.clear();
    m_nSectionsTaken = 0;
    m_nLastFound = -1;
}

void CEegStreamIndex::Update(const CTKStream& stream, int bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return;
    const int count = stream.GetSectionCount();
    if (count < m_nSectionsTaken)
        Clear();
    auto sectionEnd = [&](const CTKSectionEntry& s, uint32_t first) {
        return first + static_cast<uint32_t>(std::max(s.m_used, 0) / bytesPerSecond);
    };
    // The last section taken in may have grown since.
    if (m_nSectionsTaken > 0 && !m_entries.empty()) {
        const CTKSectionEntry s = stream.GetSection(m_nSectionsTaken - 1);
        CEegStreamIndexEntry& last = m_entries.back();
        const uint32_t first = std::max(s.m_annotation[3], last.m_firstSecond);
        last.m_endSecond = std::max(last.m_endSecond, sectionEnd(s, first));
    }
    for (int i = m_nSectionsTaken; i < count; ++i) {
        const CTKSectionEntry s = stream.GetSection(i);
        uint32_t first = s.m_annotation[3];
        const uint32_t flags = s.m_annotation[5];
        if (!m_entries.empty()) {
            CEegStreamIndexEntry& last = m_entries.back();
            if (first <= last.m_endSecond && !(flags & kRunStart)) {
                last.m_endSecond =
                    std::max(last.m_endSecond, sectionEnd(s, std::max(first, last.m_firstSecond)));
                continue;
            }
            first = std::max(first, last.m_endSecond);
        }
        CEegStreamIndexEntry e;
        e.m_position = s.m_streamStart;
        e.m_startTime = AnnotationTime(s);
        e.m_firstSecond = first;
        e.m_endSecond = sectionEnd(s, first);
        e.m_flags = flags;
        m_entries.push_back(e);
    }
    m_nSectionsTaken = count;
}

bool CEegStreamIndex::FindPosition(uint32_t second, int bytesPerSecond, int64_t* position) {
    auto holds = [&](int i) {
        const CEegStreamIndexEntry& e = m_entries[static_cast<size_t>(i)];
        return e.m_firstSecond <= second && second < e.m_endSecond;
    };
    int found = -1;
    if (m_nLastFound >= 0 && m_nLastFound < GetSize() && holds(m_nLastFound)) {
        found = m_nLastFound;
    } else {
        // The last entry whose first second is at or below the second.
        auto it = std::upper_bound(
            m_entries.begin(), m_entries.end(), second,
            [](uint32_t s, const CEegStreamIndexEntry& e) { return s < e.m_firstSecond; });
        if (it != m_entries.begin() && holds(static_cast<int>(it - m_entries.begin()) - 1))
            found = static_cast<int>(it - m_entries.begin()) - 1;
    }
    if (found < 0)
        return false;
    m_nLastFound = found;
    const CEegStreamIndexEntry& e = m_entries[static_cast<size_t>(found)];
    *position = e.m_position + static_cast<int64_t>(second - e.m_firstSecond) * bytesPerSecond;
    return true;
}

void CEegStreamIndex::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<DWORD>(m_entries.size()));
        for (CEegStreamIndexEntry& e : m_entries)
            e.Serialize(ar);
        return;
    }
    const DWORD count = ar.ReadCount();
    // A count the file cannot hold is a short stream, found before allocating.
    const uint64_t length = ar.GetFile()->GetLength();
    const uint64_t at = ar.GetPosition();
    if (at > length ||
        static_cast<uint64_t>(count) * CEegStreamIndexEntry::kImageBytes > length - at)
        AfxThrowArchiveException(CArchiveException::endOfFile, ar.m_strFileName);
    std::vector<CEegStreamIndexEntry> entries(count);
    for (CEegStreamIndexEntry& e : entries)
        e.Serialize(ar);
    Clear();
    m_entries = std::move(entries);
}

void CEegStreamIndex::AnnotateSection(CTKSectionEntry& e, const COleDateTime& runStartTime,
                                      uint32_t secondsBeforeRun, int64_t runStartLength,
                                      int bytesPerSecond, int runStartSequence,
                                      int runStopSequence) {
    const int64_t inRun =
        bytesPerSecond > 0 ? (e.m_streamStart - runStartLength) / bytesPerSecond : 0;
    const int64_t inSection = bytesPerSecond > 0 ? e.m_used / bytesPerSecond : 0;
    const uint64_t time = std::bit_cast<uint64_t>(runStartTime.m_dt + inRun / kSecondsPerDay);
    const uint32_t first = secondsBeforeRun + static_cast<uint32_t>(inRun);
    e.m_annotationLength = kAnnotationLength;
    e.m_annotation[0] = static_cast<uint32_t>(time);
    e.m_annotation[1] = static_cast<uint32_t>(time >> 32);
    e.m_annotation[2] = static_cast<uint32_t>(runStartTime.GetStatus());
    e.m_annotation[3] = first;
    e.m_annotation[4] = first + static_cast<uint32_t>(inSection);
    e.m_annotation[5] = (e.m_sequence == runStartSequence ? kRunStart : 0) |
                        (e.m_sequence == runStopSequence ? kRunStop : 0);
}

void CEegStreamIndex::AnnotateDetached(CTKSectionEntry& e) {
    e.m_annotationLength = kAnnotationLength;
    for (int i = 0; i < 6; ++i)
        e.m_annotation[i] = 0;
}

CEegStreamIndex CEegStreamIndex::Cut(const CEegStreamIntervalArray& cuts,
                                     int bytesPerSecond) const {
    std::vector<CEegStreamInterval> sorted;
    for (int i = 0; i < cuts.GetSize(); ++i) {
        if (cuts[i].m_firstSecond < cuts[i].m_endSecond)
            sorted.push_back(cuts[i]);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.m_firstSecond < b.m_firstSecond; });
    CEegStreamIndex out;
    for (const CEegStreamIndexEntry& e : m_entries) {
        uint32_t at = e.m_firstSecond;  // start of the piece not yet emitted
        bool afterCut = false;
        for (const CEegStreamInterval& c : sorted) {
            if (c.m_endSecond <= at || c.m_firstSecond >= e.m_endSecond)
                continue;
            if (c.m_firstSecond > at) {
                out.m_entries.push_back(
                    Piece(e, at, c.m_firstSecond, afterCut, true, bytesPerSecond));
            }
            at = std::max(at, c.m_endSecond);
            afterCut = true;
            if (at >= e.m_endSecond)
                break;
        }
        if (at < e.m_endSecond)
            out.m_entries.push_back(Piece(e, at, e.m_endSecond, afterCut, false, bytesPerSecond));
    }
    return out;
}

CEegStreamIndexEntry CEegStreamIndex::Piece(const CEegStreamIndexEntry& e, uint32_t first,
                                            uint32_t end, bool afterCut, bool beforeCut,
                                            int bytesPerSecond) {
    CEegStreamIndexEntry p = e;
    const uint32_t skipped = first - e.m_firstSecond;
    p.m_position = e.m_position + static_cast<int64_t>(skipped) * bytesPerSecond;
    p.m_startTime.m_dt = e.m_startTime.m_dt + skipped / kSecondsPerDay;
    p.m_firstSecond = first;
    p.m_endSecond = end;
    if (afterCut)
        p.m_flags &= ~kRunStart;
    if (beforeCut)
        p.m_flags &= ~kRunStop;
    return p;
}
