// CWinEegFile: adding and removing events, and the queries that replay events up
// to a position: the montage and display settings in force, and wall-clock time
// from the record events.
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "EegFile/events/Events.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/WinEegFile.h"

namespace {

// Whole seconds in days, with the small addition that keeps a span of whole
// seconds, stored as a fraction of a day, from truncating to one second less.
int64_t WholeSeconds(const COleDateTimeSpan& span) {
    if (span.GetStatus() != COleDateTimeSpan::valid)
        return 0;
    return static_cast<int64_t>(span.GetTotalDays() * 86400.0 + 5.787037037037037e-6);
}

COleDateTimeSpan Seconds(int64_t seconds) {
    return COleDateTimeSpan(0, 0, 0, seconds);
}

// The recorded wall-clock time of a record event; false for anything else.
bool RecordTime(const CEegEvent* e, CTKTime& time) {
    const auto* record = dynamic_cast<const CRecordEvent*>(e);
    if (!record)
        return false;
    int recording = 0;
    record->GetRecordData(recording, time);
    return true;
}

// A mask that lets only type through.
CEegEventMask Only(CEegEvent::EventType type) {
    CEegEventMask mask;
    mask.SetAll(1);
    mask.SetMask(type, 0);
    return mask;
}

}  // namespace

// ---------------------------------------------------------------- adding and removing

int CWinEegFile::AddEvent(const CEegEvent* event) {
    if (!event)
        return 0;
    CEegEventList one;
    one.Add(event);
    return AddEvents(one);
}

int CWinEegFile::AddEvents(CEegEventList& events) {
    std::lock_guard lock(m_FileLock);
    // The recording owns the events from here on, whatever happens to them.
    std::vector<CEegEvent*> owned;
    owned.reserve(static_cast<size_t>(events.GetSize()));
    for (int i = 0; i < events.GetSize(); ++i) {
        if (events.GetAt(i))
            owned.push_back(const_cast<CEegEvent*>(events.GetAt(i)));
    }
    events.RemoveAll();
    if (m_bFileAccessDisabled) {
        for (CEegEvent* e : owned)
            delete e;
        return 0;
    }
    if (owned.empty())
        return 0;
    m_bEventsChanged = 1;
    for (CEegEvent* e : owned)
        m_EventStore.Add(e);
    // One synchronisation appends them all and flushes once.
    try {
        m_EventStore.Synchronize();
    } catch (CException*) {
        for (CEegEvent* e : owned)
            m_EventStore.Remove(e);
        throw;
    }
    return static_cast<int>(owned.size());
}

void CWinEegFile::RemoveEvent(const CEegEvent* event) {
    if (!event)
        return;
    CEegEventList one;
    one.Add(event);
    RemoveEvents(one);
}

void CWinEegFile::RemoveEvents(CEegEventList& events) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    const CEegAccessMode::EegAccessModeType previous = m_AccessControl.GetAccessMode();
    bool changed = false;
    try {
        if (m_Container.IsOpen() && m_Container.IsReadOnly())
            ThrowEegFileException(CEegFileException::eFileIsReadOnly);
        if (!m_AccessControl.ChangeMode(CEegAccessMode::eamExclusive))
            ThrowEegFileException(CEegFileException::eExclusiveAccessRequired,
                                  &m_AccessControl.GetStationList());
        changed = previous != CEegAccessMode::eamExclusive;
        m_bEventsChanged = 1;
        // The caller's list may hold stored events, which go as they are removed:
        // take the addresses while all are alive, and never look at one again
        // once it was destroyed.
        std::vector<const CEegEvent*> wanted;
        for (int i = 0; i < events.GetSize(); ++i)
            wanted.push_back(events.GetAt(i));
        std::unordered_set<const CEegEvent*> destroyed;
        for (auto it = wanted.rbegin(); it != wanted.rend(); ++it) {
            if (!*it || destroyed.count(*it))
                continue;
            const CEegEvent* gone = nullptr;
            if (m_EventStore.RemoveEqual(**it, &gone))
                destroyed.insert(gone);
        }
        m_EventStore.Synchronize();
    } catch (CException*) {
        events.RemoveAll();
        if (changed) {
            try {
                m_AccessControl.ChangeMode(previous);
            } catch (CException* again) {
                again->Delete();
            }
        }
        throw;
    }
    events.RemoveAll();
    if (changed)
        m_AccessControl.ChangeMode(previous);
}

void CWinEegFile::WindowEventOffsets() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    try {
        m_EventStore.Synchronize();
        // Without the data stream there is no end to hold the events to.
        if (m_bEegStreamOpen)
            m_EventStore.ClampOffsets(GetEofTimeStamp());
        m_bEventsChanged = 1;
        m_EventStore.SetRewriteNeeded();
        m_EventStore.Synchronize();
    } catch (CException* e) {
        e->Delete();
    }
}

int CWinEegFile::GetNumberOfEvents() const {
    std::lock_guard lock(m_FileLock);
    return m_EventStore.GetEvents().GetSize();
}

void CWinEegFile::GetEventList(CEegEventList& list, const CEegEventMask& mask,
                               const CEegTimeStamp& from, const CEegTimeStamp& to,
                               uint32_t maxCount, unsigned short minPriority) const {
    std::lock_guard lock(m_FileLock);
    m_EventStore.GetEvents().GetEventList(list, mask, from, to, maxCount, minPriority);
}

// ---------------------------------------------------------------- settings in force

int CWinEegFile::GetMontageAt(const CEegTimeStamp& at, CEegMontage& montage) const {
    std::lock_guard lock(m_FileLock);
    const CEegEventList& events = m_EventStore.GetEvents();
    const auto* change =
        dynamic_cast<const CMontageEvent*>(events.GetAt(at, Only(CEegEvent::etMontage)));
    if (!change)
        return 0;
    montage = change->GetMontage();
    CEegEventList traces;
    events.GetEventList(traces, Only(CEegEvent::etTraceInfo), change->GetTimeStamp(), at, 0, 0);
    for (int i = 0; i < traces.GetSize(); ++i) {
        if (const auto* t = dynamic_cast<const CTraceInfoEvent*>(traces.GetAt(i)))
            montage.SetTraceInfo(t->GetChannelNumber(), t->GetTraceInfo());
    }
    return 1;
}

int CWinEegFile::GetPaperSpeedAt(const CEegTimeStamp& at, double& speed) const {
    std::lock_guard lock(m_FileLock);
    const auto* e = dynamic_cast<const CSpeedEvent*>(
        m_EventStore.GetEvents().GetAt(at, Only(CEegEvent::etSpeed)));
    if (!e)
        return 0;
    speed = e->GetSpeed();
    return 1;
}

int CWinEegFile::GetLinkedSensitivityAt(const CEegTimeStamp& at, double& value) const {
    std::lock_guard lock(m_FileLock);
    const auto* e = dynamic_cast<const CLinkedSensitivityEvent*>(
        m_EventStore.GetEvents().GetAt(at, Only(CEegEvent::etLinkedSensitivity)));
    if (!e)
        return 0;
    value = e->GetLinkedSensitivity();
    return 1;
}

int CWinEegFile::GetLinkedLowCutAt(const CEegTimeStamp& at, double& value) const {
    std::lock_guard lock(m_FileLock);
    const auto* e = dynamic_cast<const CLinkedLowcutEvent*>(
        m_EventStore.GetEvents().GetAt(at, Only(CEegEvent::etLinkedLowcut)));
    if (!e)
        return 0;
    value = e->GetLinkedLowcut();
    return 1;
}

int CWinEegFile::GetLinkedHighCutAt(const CEegTimeStamp& at, double& value) const {
    std::lock_guard lock(m_FileLock);
    const auto* e = dynamic_cast<const CLinkedHighcutEvent*>(
        m_EventStore.GetEvents().GetAt(at, Only(CEegEvent::etLinkedHighcut)));
    if (!e)
        return 0;
    value = e->GetLinkedHighcut();
    return 1;
}

// ---------------------------------------------------------------- wall-clock time
// Offsets become seconds by integer division by the whole sample rate, so times
// have one-second resolution. A recording without a rate adds no seconds.

CTKTime CWinEegFile::GetStartTime() const {
    std::lock_guard lock(m_FileLock);
    const CEegEventList& records = m_EventStore.GetRecordEvents();
    CTKTime start = CTKTime::Null();
    if (records.GetSize() == 0 || !RecordTime(records.GetAt(0), start))
        return CTKTime::Null();
    const uint32_t offset = records.GetAt(0)->GetTimeStamp().GetSampleOffset();
    const uint32_t rate = static_cast<uint32_t>(GetSampleRate());
    if (offset != 0 && rate != 0)
        start -= Seconds(offset / rate);
    return start;
}

CTKTime CWinEegFile::GetTimeOfDay(uint32_t sampleOffset) const {
    std::lock_guard lock(m_FileLock);
    const CTKTime start = GetStartTime();
    if (start.IsNull())
        return start;
    const uint32_t rate = static_cast<uint32_t>(GetSampleRate());
    const CEegEventList& records = m_EventStore.GetRecordEvents();
    const int i = records.GetIndexAt(CEegTimeStamp(sampleOffset));
    CTKTime time = start;
    uint32_t from = 0;
    if (i >= 0 && RecordTime(records.GetAt(i), time))
        from = records.GetAt(i)->GetTimeStamp().GetSampleOffset();
    else
        time = start;
    if (rate != 0)
        time += Seconds((sampleOffset - from) / rate);
    return time;
}

uint32_t CWinEegFile::GetSampleOffset(CTKTime time) const {
    std::lock_guard lock(m_FileLock);
    const CEegEventList& records = m_EventStore.GetRecordEvents();
    const int n = records.GetSize();
    if (n == 0)
        return 0;
    // The record events stand in sample order, and their times rise with it:
    // find the last one at or before time.
    int lo = 0;
    int hi = n - 1;
    int found = -1;
    CTKTime foundTime;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        CTKTime t;
        if (!RecordTime(records.GetAt(mid), t))
            return 0;
        if (t > time) {
            hi = mid - 1;
        } else {
            found = mid;
            foundTime = t;
            lo = mid + 1;
        }
    }
    if (found < 0)
        return 0;  // every record event lies after time
    const int64_t rate = static_cast<int64_t>(GetSampleRate());
    const int64_t base = records.GetAt(found)->GetTimeStamp().GetSampleOffset();
    int64_t offset = rate * WholeSeconds(time - foundTime) + base;
    if (found + 1 < n) {
        const int64_t next = records.GetAt(found + 1)->GetTimeStamp().GetSampleOffset();
        if (offset > next)
            offset = next;
    }
    // The all-ones offset means "no position": stop just short of it.
    constexpr int64_t kLast = 0xFFFFFFFELL;
    return static_cast<uint32_t>(offset < 0 ? 0 : (offset > kLast ? kLast : offset));
}

float CWinEegFile::GetTodElapsed(uint32_t from, uint32_t to) const {
    std::lock_guard lock(m_FileLock);
    const uint32_t a = from < to ? from : to;
    const uint32_t b = from < to ? to : from;
    const float rate = static_cast<float>(GetSampleRate());
    if (!(rate > 0.0f))
        return 0.0f;
    CEegEventList runs;
    m_EventStore.GetEvents().GetEventList(runs, Only(CEegEvent::etRecord), CEegTimeStamp(a),
                                          CEegTimeStamp(b), 0, 0);
    if (runs.GetSize() < 2)
        return static_cast<float>(b - a) / rate;
    // Across a gap in the recording the samples do not tell the time: count the
    // wall-clock seconds, then the parts of a second that the ends lie off them.
    const CTKTime at = GetTimeOfDay(a);
    const CTKTime bt = GetTimeOfDay(b);
    float elapsed = static_cast<float>(WholeSeconds(bt - at));
    const uint32_t a2 = GetSampleOffset(at);
    if (a2 < a)
        elapsed -= static_cast<float>(a - a2) / rate;
    const uint32_t b2 = GetSampleOffset(bt);
    if (b2 < b)
        elapsed += static_cast<float>(b - b2) / rate;
    return elapsed;
}
