#include "EegFile/access/EegDataMarkStore.h"

#include <algorithm>
#include <vector>

#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/events/EegEventMask.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"

namespace {
constexpr int kArchiveBuffer = 4096;

// The region lock of the marks, put back to its previous state when left.
class CMarkRegion {
public:
    explicit CMarkRegion(CEegAccessControl& access)
        : m_access(access),
          m_previous(access.SetLockState(CEegStreamType::estDataMarks, 1, 1,
                                         CEegDataMarkStore::kRegionTimeoutMs)) {}
    ~CMarkRegion() {
        try {
            m_access.SetLockState(CEegStreamType::estDataMarks, 1, m_previous,
                                  CEegDataMarkStore::kRegionTimeoutMs);
        } catch (CException* e) {
            e->Delete();
        }
    }
    CMarkRegion(const CMarkRegion&) = delete;
    CMarkRegion& operator=(const CMarkRegion&) = delete;

private:
    CEegAccessControl& m_access;
    int m_previous;
};

// Ends a use of the backing: a store only when it was finished, a load (or a
// failed store) without storing.
class CEndUse {
public:
    CEndUse(CDataMarkBacking& backing, bool store) : m_backing(backing), m_store(store) {}
    ~CEndUse() {
        if (m_open) {
            try {
                m_backing.End(false);
            } catch (CException* e) {
                e->Delete();
            }
        }
    }
    // Ends a store for real: its failure is the caller's.
    void Finish() {
        m_open = false;
        m_backing.End(m_store);
    }
    CEndUse(const CEndUse&) = delete;
    CEndUse& operator=(const CEndUse&) = delete;

private:
    CDataMarkBacking& m_backing;
    bool m_store;
    bool m_open = true;
};

struct Range {
    uint32_t a;
    uint32_t b;
    int flag;
};

// The holes of the recording as sorted sample ranges, from their start events.
std::vector<Range> HoleRanges(const CEegEventList* holes) {
    std::vector<Range> out;
    if (!holes)
        return out;
    for (int i = 0; i < holes->GetSize(); ++i) {
        const auto* d = dynamic_cast<const CDataDeletionEvent*>(holes->GetAt(i));
        if (!d || !d->IsDeletionStart())
            continue;
        const uint32_t a = d->GetStartTimeStamp().GetSampleOffset();
        const uint32_t b = d->GetEndTimeStamp().GetSampleOffset();
        if (a < b)
            out.push_back({a, b, 0});
    }
    std::sort(out.begin(), out.end(), [](const Range& x, const Range& y) { return x.a < y.a; });
    return out;
}

bool SameMark(const CDataMarkDeleteEvent& x, const CDataMarkDeleteEvent& y) {
    return x.GetStartTimeStamp() == y.GetStartTimeStamp() &&
           x.GetEndTimeStamp() == y.GetEndTimeStamp() && x.GetMarkType() == y.GetMarkType() &&
           x.GetComment() == y.GetComment() && x.GetPriority() == y.GetPriority();
}
}  // namespace

CEegDataMarkStore::CEegDataMarkStore(CEegAccessControl& access, std::recursive_mutex& fileLock)
    : m_access(access), m_FileLock(fileLock) {}

CEegDataMarkStore::~CEegDataMarkStore() {
    DestroyMarks();
    DestroySegments();
}

int CEegDataMarkStore::TakeMarkRight(int throwOnRefusal) {
    if (m_access.TakeMarkRight())
        return 1;
    if (throwOnRefusal)
        ThrowEegFileException(CEegFileException::eMarkAccessRequired, &m_access.GetStationList());
    return 0;
}

void CEegDataMarkStore::Edit(COwner& owner, const EditOp& op, int write) {
    std::lock_guard lock(m_FileLock);
    if (!owner.MarksEditable())
        return;
    TakeMarkRight(1);
    op(owner.MarkGeometry());
    Synchronize(write, owner.MarkGeometry());
}

void CEegDataMarkStore::EditReported(COwner& owner, const char* operation, const char* module,
                                     const EditOp& op, int write, int line) {
    try {
        Edit(owner, op, write);
    } catch (CException* e) {
        TKReportExceptionOperation(e, operation, module, line, 0);
        e->Delete();
    }
}

void CEegDataMarkStore::EditMarkForDelete(COwner& owner, int on) {
    std::lock_guard lock(m_FileLock);
    // Read-only throws even when the flag would not change.
    if (owner.MarksEditable() && on != m_nMarkForDelete)
        Edit(owner, [&](const CGeometry&) { SetMarkForDelete(on); });
}

void CEegDataMarkStore::EditAddMark(COwner& owner, CDataMarkDeleteEvent* mark) {
    // The store takes the mark when it adds it, and only then: after a refusal,
    // a failure before that point or nothing done, the caller still owns it.
    if (mark)
        Edit(owner, [&](const CGeometry& g) { AddMark(mark, g); });
}

void CEegDataMarkStore::ListMarks(CEegEventList& list) const {
    list.RemoveAll();
    for (int i = 0; i < m_marks.GetSize(); ++i)
        list.Add(m_marks.GetAt(i));
}

void CEegDataMarkStore::Attach(std::unique_ptr<CDataMarkBacking> backing) {
    std::lock_guard lock(m_FileLock);
    Close(0);
    m_pBacking = std::move(backing);
}

void CEegDataMarkStore::Close(int disabled) {
    std::lock_guard lock(m_FileLock);
    std::unique_ptr<CDataMarkBacking> backing = std::move(m_pBacking);
    DestroyMarks();
    DestroySegments();
    m_bChanged = 0;
    m_nMarkForDelete = 0;
    if (backing && !disabled)
        backing->Close();
}

void CEegDataMarkStore::SetMarkForDelete(int on) {
    std::lock_guard lock(m_FileLock);
    m_nMarkForDelete = on;
    DestroyMarks();
    DestroySegments();
    m_bChanged = 1;
}

void CEegDataMarkStore::AddMark(CDataMarkDeleteEvent* mark, const CGeometry& g) {
    std::lock_guard lock(m_FileLock);
    if (!mark)
        return;
    try {
        m_marks.Add(mark);
    } catch (...) {
        delete mark;
        throw;
    }
    m_bChanged = 1;
    if (mark->IsEegMark())
        AddMarkSegment(mark->GetStartTimeStamp().GetSampleOffset(),
                       mark->GetEndTimeStamp().GetSampleOffset(), g);
}

int CEegDataMarkStore::RemoveEqualMark(const CDataMarkDeleteEvent& mark, const CGeometry& g) {
    std::lock_guard lock(m_FileLock);
    m_bChanged = 1;
    int found = -1;
    for (int i = 0; i < m_marks.GetSize() && found < 0; ++i) {
        if (m_marks.GetAt(i) == &mark)
            found = i;
    }
    for (int i = 0; i < m_marks.GetSize() && found < 0; ++i) {
        if (SameMark(*static_cast<const CDataMarkDeleteEvent*>(m_marks.GetAt(i)), mark))
            found = i;
    }
    if (found < 0)
        return 0;
    const CEegEvent* stored = m_marks.GetAt(found);
    m_marks.RemoveAt(found);
    delete stored;
    RebuildSegments(g);
    return 1;
}

void CEegDataMarkStore::RemoveAll() {
    std::lock_guard lock(m_FileLock);
    DestroyMarks();
    DestroySegments();
    m_bChanged = 1;
}

void CEegDataMarkStore::RemoveEegMarks(const CGeometry& g) {
    std::lock_guard lock(m_FileLock);
    for (int i = m_marks.GetSize() - 1; i >= 0; --i) {
        auto* m = const_cast<CDataMarkDeleteEvent*>(
            static_cast<const CDataMarkDeleteEvent*>(m_marks.GetAt(i)));
        if (m->GetMarkType() == CDataMarkDeleteEvent::mtEegVideo) {
            m->SetMarkType(CDataMarkDeleteEvent::mtVideo);
        } else if (m->GetMarkType() == CDataMarkDeleteEvent::mtEeg) {
            m_marks.RemoveAt(i);
            delete m;
        }
    }
    m_bChanged = 1;
    RebuildSegments(g);
}

void CEegDataMarkStore::RemoveVideoMarks(const CGeometry& g) {
    std::lock_guard lock(m_FileLock);
    for (int i = m_marks.GetSize() - 1; i >= 0; --i) {
        auto* m = const_cast<CDataMarkDeleteEvent*>(
            static_cast<const CDataMarkDeleteEvent*>(m_marks.GetAt(i)));
        const auto type = m->GetMarkType();
        if (type == CDataMarkDeleteEvent::mtEegVideo) {
            m->SetMarkType(CDataMarkDeleteEvent::mtEeg);
        } else if (type == CDataMarkDeleteEvent::mtVideo ||
                   type == CDataMarkDeleteEvent::mtNoAudio) {
            m_marks.RemoveAt(i);
            delete m;
        }
    }
    m_bChanged = 1;
    RebuildSegments(g);
}

void CEegDataMarkStore::RebuildSegments(const CGeometry& g) {
    std::lock_guard lock(m_FileLock);
    DestroySegments();
    for (int i = 0; i < m_marks.GetSize(); ++i) {
        const auto* m = static_cast<const CDataMarkDeleteEvent*>(m_marks.GetAt(i));
        if (m->IsEegMark())
            AddMarkSegment(m->GetStartTimeStamp().GetSampleOffset(),
                           m->GetEndTimeStamp().GetSampleOffset(), g);
    }
}

int CEegDataMarkStore::IsStored(const CDataMarkDeleteEvent* mark) const {
    std::lock_guard lock(m_FileLock);
    for (int i = 0; i < m_marks.GetSize(); ++i) {
        if (m_marks.GetAt(i) == mark)
            return 1;
    }
    return 0;
}

void CEegDataMarkStore::AddMarkSegment(uint32_t start, uint32_t end, const CGeometry& g) {
    if (g.rate <= 0)
        return;
    const uint64_t rate = static_cast<uint64_t>(g.rate);
    const uint64_t length = g.lengthSeconds;
    const uint64_t s = start / rate;
    uint64_t e = end / rate;
    if (length == 0 || s >= length)
        return;
    if (e >= length)
        e = length - 1;
    if (s > e)
        return;
    // Sample offsets are 32 bits wide: a range the recording holds fits.
    const uint64_t rangeEnd = std::min<uint64_t>((e + 1) * rate, UINT32_MAX);
    const std::vector<Range> holes = HoleRanges(g.holes);
    uint64_t p = s * rate;
    while (p < rangeEnd) {
        uint64_t next = rangeEnd;
        bool inHole = false;
        for (const Range& h : holes) {
            if (h.a <= p && p < h.b) {
                p = h.b;
                inHole = true;
                break;
            }
            if (h.a > p) {
                next = std::min<uint64_t>(next, h.a);
                break;
            }
        }
        if (inHole)
            continue;
        AddSegmentPiece(static_cast<uint32_t>(p), static_cast<uint32_t>(next), m_nMarkForDelete);
        p = next;
    }
}

void CEegDataMarkStore::AddSegmentPiece(uint32_t a, uint32_t b, int flag) {
    std::lock_guard lock(m_FileLock);
    if (a >= b)
        return;
    const int f = flag ? 1 : 0;
    std::vector<Range> kept;
    for (int i = 0; i < m_segments.GetSize(); ++i) {
        const auto* s = static_cast<const CDataSegmentMarkEvent*>(m_segments.GetAt(i));
        if (s->IsSegmentStart())
            kept.push_back({s->GetStartTimeStamp().GetSampleOffset(),
                            s->GetEndTimeStamp().GetSampleOffset(), s->IsDeleteSegment()});
    }
    // Widening by one segment of the same flag may reach the next one: repeat
    // until nothing more touches the piece.
    for (bool grown = true; grown;) {
        grown = false;
        for (auto it = kept.begin(); it != kept.end();) {
            if (it->flag == f && it->a <= b && it->b >= a) {
                a = std::min(a, it->a);
                b = std::max(b, it->b);
                it = kept.erase(it);
                grown = true;
            } else {
                ++it;
            }
        }
    }
    std::vector<Range> result;
    for (const Range& s : kept) {
        if (s.flag != f && s.a < b && s.b > a) {
            if (s.a < a)
                result.push_back({s.a, a, s.flag});
            if (b < s.b)
                result.push_back({b, s.b, s.flag});
        } else {
            result.push_back(s);
        }
    }
    result.push_back({a, b, f});
    std::sort(result.begin(), result.end(),
              [](const Range& x, const Range& y) { return x.a < y.a; });
    DestroySegments();
    for (const Range& s : result) {
        m_segments.Add(
            new CDataSegmentMarkEvent(CEegTimeStamp(s.a), CEegTimeStamp(s.b), 1, s.flag));
        m_segments.Add(
            new CDataSegmentMarkEvent(CEegTimeStamp(s.b), CEegTimeStamp(s.a), 0, s.flag));
    }
}

void CEegDataMarkStore::Synchronize(int write, const CGeometry& g) {
    std::lock_guard lock(m_FileLock);
    if (!m_pBacking || !(m_access.GetAccessHeld() || m_access.GetWithoutControl()))
        return;
    CMarkRegion region(m_access);
    if (!m_bChanged && !write) {
        Load(g);
    } else {
        Store();
    }
    m_bChanged = 0;
}

void CEegDataMarkStore::Load(const CGeometry& g) {
    DestroyMarks();
    DestroySegments();
    CFile& file = m_pBacking->BeginLoad();
    CEndUse end(*m_pBacking, false);
    CArchive ar(&file, CArchive::load, kArchiveBuffer);
    ar.Seek(0);
    WORD version = 0;
    int32_t flag = 0;
    ar >> version;
    if (version != kStoredVersion)
        ThrowEegFileException(CEegFileException::eUnknownEventListFormat);
    ar >> flag;
    m_nMarkForDelete = flag;
    const uint64_t length = file.GetLength();
    while (!ar.IsBufferEmpty() || file.GetPosition() < length) {
        WORD word = 0;
        ar >> word;
        if ((word ^ EventFormat::kTypeMask) != CEegEvent::etDataMarkDelete)
            EventFormat::ThrowBadSchema(ar);
        CEegEvent* e = CEegEvent::MakeEvent(CEegEvent::etDataMarkDelete, CEegTimeStamp::NullStamp);
        if (!e)
            EventFormat::ThrowBadSchema(ar);
        try {
            e->Serialize(ar);
            m_marks.Add(e);
        } catch (...) {
            delete e;
            throw;
        }
    }
    ar.Close();
    RebuildSegments(g);
}

void CEegDataMarkStore::Store() {
    CFile& file = m_pBacking->BeginStore();
    CEndUse end(*m_pBacking, true);
    CArchive ar(&file, CArchive::store, kArchiveBuffer);
    ar << kStoredVersion << static_cast<int32_t>(m_nMarkForDelete);
    const WORD type = static_cast<WORD>(CEegEvent::etDataMarkDelete ^ EventFormat::kTypeMask);
    for (int i = 0; i < m_marks.GetSize(); ++i) {
        ar << type;
        const_cast<CEegEvent*>(m_marks.GetAt(i))->Serialize(ar);
    }
    ar.Close();
    end.Finish();
}

void CEegDataMarkStore::DestroyMarks() {
    for (int i = 0; i < m_marks.GetSize(); ++i)
        delete m_marks.GetAt(i);
    m_marks.RemoveAll();
}

void CEegDataMarkStore::DestroySegments() {
    for (int i = 0; i < m_segments.GetSize(); ++i)
        delete m_segments.GetAt(i);
    m_segments.RemoveAll();
}

// ---------------------------------------------------------------- rules both formats share

void CEegDataMarkStore::GetSegmentList(CEegEventList& list, const CEegTimeStamp& from,
                                       const CEegTimeStamp& to, uint32_t maxCount) const {
    CEegEventList found;
    m_segments.GetEventList(found, CEegEventMask::EmptyMask, from, to, maxCount, 0);
    for (int i = 0; i < found.GetSize(); ++i) {
        const auto* s = static_cast<const CDataSegmentMarkEvent*>(found.GetAt(i));
        if (s->IsSegmentStart())
            list.Add(s);
    }
    if (from == CEegTimeStamp::NullStamp)
        return;
    // A segment that began before from and reaches it.
    const int before = m_segments.GetIndexBefore(from);
    for (int i = before; i >= 0; --i) {
        const auto* s = static_cast<const CDataSegmentMarkEvent*>(m_segments.GetAt(i));
        if (!s->IsSegmentStart())
            continue;
        if (s->GetEndTimeStamp().GetSampleOffset() >= from.GetSampleOffset())
            list.Add(s);
        break;
    }
}

int CEegDataMarkStore::FindHole(const CEegEventList& holes, CEegTimeStamp at,
                                CDataDeletionEvent& segment) {
    int i = holes.GetIndexAt(at);
    if (i < 0)
        return 0;
    auto hole = [&](int k) { return static_cast<const CDataDeletionEvent*>(holes.GetAt(k)); };
    if (hole(i)->GetEndTimeStamp().GetSampleOffset() <= at.GetSampleOffset())
        --i;
    if (i < 0)
        return 0;
    const CDataDeletionEvent* h = hole(i);
    if (h->GetEndTimeStamp().GetSampleOffset() <= at.GetSampleOffset() ||
        h->GetStartTimeStamp().GetSampleOffset() > at.GetSampleOffset())
        return 0;
    segment.InitDeletion(h->GetStartTimeStamp(), h->GetEndTimeStamp(), 1);
    return 1;
}

namespace {

// Hole ranges in whole seconds, sorted, from the start events of holes.
std::vector<CEegStreamInterval> HoleSeconds(const CEegEventList& holes, int rate) {
    std::vector<CEegStreamInterval> out;
    for (int i = 0; i < holes.GetSize(); ++i) {
        const auto* d = dynamic_cast<const CDataDeletionEvent*>(holes.GetAt(i));
        if (!d || !d->IsDeletionStart())
            continue;
        const uint64_t a = d->GetStartTimeStamp().GetSampleOffset();
        const uint64_t b = d->GetEndTimeStamp().GetSampleOffset();
        if (a < b)
            out.push_back({static_cast<uint32_t>(a / static_cast<uint64_t>(rate)),
                           static_cast<uint32_t>((b + static_cast<uint64_t>(rate) - 1) /
                                                 static_cast<uint64_t>(rate))});
    }
    std::sort(out.begin(), out.end(),
              [](const auto& x, const auto& y) { return x.m_firstSecond < y.m_firstSecond; });
    return out;
}

// Adds [first, end) to intervals, leaving out the seconds of holes.
void AddOutsideHoles(CEegStreamIntervalArray& intervals, uint32_t first, uint32_t end,
                     const std::vector<CEegStreamInterval>& holes) {
    uint32_t at = first;
    for (const CEegStreamInterval& h : holes) {
        if (at >= end)
            break;
        if (h.m_endSecond <= at || h.m_firstSecond >= end)
            continue;
        if (h.m_firstSecond > at) {
            CEegStreamInterval piece{at, h.m_firstSecond};
            intervals.Add(piece);
        }
        at = std::max(at, h.m_endSecond);
    }
    if (at < end) {
        CEegStreamInterval piece{at, end};
        intervals.Add(piece);
    }
}

}  // namespace

void CEegDataMarkStore::CutIntervals(CEegStreamIntervalArray& intervals,
                                     const CEegEventList& segments, const CEegEventList& holeEvents,
                                     int rate, uint32_t total) {
    intervals.RemoveAll();
    if (rate <= 0)
        return;
    const uint32_t r = static_cast<uint32_t>(rate);
    const std::vector<CEegStreamInterval> holes = HoleSeconds(holeEvents, rate);
    std::vector<const CDataSegmentMarkEvent*> begins;
    bool anyKeep = false;
    for (int i = 0; i < segments.GetSize(); ++i) {
        const auto* s = dynamic_cast<const CDataSegmentMarkEvent*>(segments.GetAt(i));
        if (!s || !s->IsSegmentStart())
            continue;
        begins.push_back(s);
        anyKeep = anyKeep || s->IsSaveSegment();
    }
    if (!anyKeep) {
        for (const CDataSegmentMarkEvent* s : begins) {
            CEegStreamInterval cut{s->GetStartTimeStamp().GetSampleOffset() / r,
                                   s->GetEndTimeStamp().GetSampleOffset() / r};
            intervals.Add(cut);
        }
        return;
    }
    uint32_t keptEnd = 0;
    for (const CDataSegmentMarkEvent* s : begins) {
        if (!s->IsSaveSegment())
            continue;
        const uint32_t a = s->GetStartTimeStamp().GetSampleOffset() / r;
        const uint32_t b = s->GetEndTimeStamp().GetSampleOffset() / r;
        if (a > keptEnd)
            AddOutsideHoles(intervals, keptEnd, a, holes);
        keptEnd = std::max(keptEnd, b);
    }
    if (keptEnd < total)
        AddOutsideHoles(intervals, keptEnd, total, holes);
}
