#include "EegFile/events/EegEventList.h"

#include "EegFile/events/CommentEvent.h"
#include "EegFile/events/EventFormat.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

void CEegEventList::SetSize(int newSize, int growBy) {
    CObArray::SetSize(newSize, growBy);
    m_Keys.resize(static_cast<size_t>(GetSize()),
                  Key{CEegTimeStamp::NullStamp.GetSampleOffset(), CEegEvent::etNone});
}

void CEegEventList::RemoveAt(int index, int count) {
    CObArray::RemoveAt(index, count);
    m_Keys.erase(m_Keys.begin() + index, m_Keys.begin() + index + count);
}

void CEegEventList::RemoveAll() {
    CObArray::RemoveAll();
    m_Keys.clear();
}

void CEegEventList::Insert(int i, const CEegEvent* e, const Key& key) {
    if (i == GetSize()) {
        m_Keys.push_back(key);
        try {
            m_data.push_back(Slot(e));
        } catch (...) {
            m_Keys.pop_back();
            throw;
        }
        return;
    }
    m_Keys.insert(m_Keys.begin() + i, key);
    try {
        CObArray::InsertAt(i, Slot(e));
    } catch (...) {
        m_Keys.erase(m_Keys.begin() + i);
        throw;
    }
}

int CEegEventList::Add(const CEegEvent* e) {
    return AddKeyed(e, Key{e->GetTimeStamp().GetSampleOffset(), e->GetEventType()});
}

int CEegEventList::AddKeyed(const CEegEvent* e, const Key& key) {
    const int size = GetSize();
    const CEegTimeStamp t(key.stamp);
    if (size == 0 || StampAt(size - 1) <= t) {
        Insert(size, e, key);
        return size;
    }
    if (StampAt(0) > t) {
        Insert(0, e, key);
        return 0;
    }
    const int i = GetIndexAfter(t);
    if (i < 0) {
        Insert(size, e, key);
        return size;
    }
    Insert(i, e, key);
    return i;
}

const CEegEvent* CEegEventList::Remove(const CEegEvent* e) {
    int i = GetIndexAt(e->GetTimeStamp());
    if (i < 0)
        return nullptr;
    while (StampAt(i) == e->GetTimeStamp() && GetAt(i) != e) {
        if (--i < 0)
            return nullptr;
    }
    if (GetAt(i) != e)
        return nullptr;
    RemoveAt(i);
    return e;
}

int CEegEventList::GetIndexAt(const CEegTimeStamp& t) const {
    const int u = GetSize() - 1;
    if (u < 0)
        return -1;
    int lo = 0;
    int hi = u;
    while (lo < hi) {
        const int m = (lo + hi) / 2 + 1;  // upper middle, so lo always advances
        if (StampAt(m) == t) {
            int k = m + 1;
            while (k <= u && StampAt(k) == t)
                ++k;
            lo = k - 1;
            break;
        }
        if (StampAt(m) < t) {
            lo = m;
        } else {
            hi = m - 1;
        }
    }
    return StampAt(lo) > t ? -1 : lo;
}

int CEegEventList::GetIndexBefore(const CEegTimeStamp& t) const {
    if (t.GetSampleOffset() == 0)
        return -1;
    return GetIndexAt(CEegTimeStamp(t.GetSampleOffset() - 1));
}

int CEegEventList::GetIndexAfter(const CEegTimeStamp& t) const {
    if (GetSize() == 0)
        return -1;
    const int i = GetIndexAt(t);
    return i == GetUpperBound() ? -1 : i + 1;
}

const CEegEvent* CEegEventList::GetAt(const CEegTimeStamp& t, const CEegEventMask& mask) const {
    int i = GetIndexAt(t);
    while (i >= 0 && mask.Get(TypeAt(i)))
        --i;
    return i >= 0 ? GetAt(i) : nullptr;
}

void CEegEventList::GetEventList(CEegEventList& out, const CEegEventMask& mask, CEegTimeStamp start,
                                 CEegTimeStamp end, uint32_t maxCount,
                                 unsigned short minPriority) const {
    if (out.GetSize() > 0)
        out.RemoveAll();
    AppendEventList(out, mask, start, end, maxCount, minPriority);
}

unsigned short CEegEventList::AnnotationPriority(const CEegEvent& e) {
    if (e.GetEventType() == CEegEvent::etComment) {
        return static_cast<const CCommentEvent&>(e).GetPriority();
    }
    return static_cast<const CUserEvent&>(e).GetPriority();
}

void CEegEventList::AppendEventList(CEegEventList& out, const CEegEventMask& mask,
                                    CEegTimeStamp start, CEegTimeStamp end, uint32_t maxCount,
                                    unsigned short minPriority) const {
    const int size = GetSize();
    if (size == 0)
        return;
    int first = -1;
    if (start == CEegTimeStamp::NullStamp) {
        start = StampAt(0);
        first = 0;
    }
    if (end == CEegTimeStamp::NullStamp)
        end = StampAt(size - 1);
    if (start > StampAt(size - 1))
        return;
    if (first < 0)
        first = GetIndexBefore(start) + 1;
    if (maxCount == 0)
        maxCount = static_cast<uint32_t>(size);
    const bool filter =
        minPriority != 0 && !(mask.Get(CEegEvent::etComment) && mask.Get(CEegEvent::etUser));

    uint32_t count = 0;
    for (int i = first; i < size; ++i) {
        const Key& key = m_Keys[static_cast<size_t>(i)];
        if (key.stamp > end.GetSampleOffset())
            break;
        if (mask.Get(key.type))
            continue;
        const bool annotation = key.type == CEegEvent::etComment || key.type == CEegEvent::etUser;
        if (filter && annotation && AnnotationPriority(*GetAt(i)) < minPriority)
            continue;
        out.AddKeyed(GetAt(i), key);
        if (++count >= maxCount)
            break;
    }
}

const WORD CEegEventList::currentSchema = EventFormat::kListVersion;

void CEegEventList::Serialize(CArchive& ar) {
    const WORD version = EventFormat::SerializeVersion(ar, currentSchema);
    if (ar.IsStoring()) {
        SerializeStore(ar);
        return;
    }
    if (version != EventFormat::kListVersion)
        EventFormat::ThrowBadSchema(ar);
    if (!m_bNoClear)
        RemoveAll();
    SerializeLoad(ar);
}

void CEegEventList::SerializeNoClear(CArchive& ar) {
    m_bNoClear = 1;
    try {
        Serialize(ar);
    } catch (...) {
        m_bNoClear = 0;
        throw;
    }
    m_bNoClear = 0;
}

void CEegEventList::SerializeStore(CArchive& ar) const {
    for (int i = 0; i < GetSize(); ++i) {
        CEegEvent* e = const_cast<CEegEvent*>(GetAt(i));  // storing leaves it unchanged
        ar << static_cast<WORD>(e->GetEventType() ^ EventFormat::kTypeMask);
        e->Serialize(ar);
    }
}

CEegEvent* CEegEventList::LoadEntry(CArchive& ar) {
    WORD word = 0;
    ar >> word;
    const int type = word ^ EventFormat::kTypeMask;
    CEegEvent* e =
        CEegEvent::MakeEvent(static_cast<CEegEvent::EventType>(type), CEegTimeStamp::NullStamp);
    if (!e)
        EventFormat::ThrowBadSchema(ar);
    try {
        e->Serialize(ar);
    } catch (...) {
        delete e;
        throw;
    }
    return e;
}

void CEegEventList::AddLoaded(CEegEvent* e) {
    try {
        Add(e);
    } catch (...) {
        delete e;  // not in the list, so nobody else would
        throw;
    }
}

void CEegEventList::SerializeLoad(CArchive& ar) {
    // The list runs to the end of the stream: stop when the archive has nothing
    // buffered and the file has nothing more.
    CFile* file = ar.GetFile();
    const uint64_t length = file->GetLength();
    while (!ar.IsBufferEmpty() || file->GetPosition() < length) {
        CEegEvent* e = LoadEntry(ar);
        AddLoaded(e);
    }
}

void CEegEventList::SerializeLoad(CArchive& ar, CEegEventList& records, CEegEventList& deletions) {
    CFile* file = ar.GetFile();
    const uint64_t length = file->GetLength();
    while (!ar.IsBufferEmpty() || file->GetPosition() < length) {
        CEegEvent* e = LoadEntry(ar);
        AddLoaded(e);
        if (e->GetEventType() == CEegEvent::etRecord)
            records.Add(e);
        if (e->GetEventType() == CEegEvent::etDataDeletion)
            deletions.Add(e);
    }
}
