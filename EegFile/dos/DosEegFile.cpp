#include "EegFile/dos/DosEegFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/dos/DosFileException.h"
#include "EegFile/events/Events.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/File.h"
#include "Platform/Report.h"
#include "Platform/StringTable.h"

namespace {

constexpr const char* kModule = "DosEegFile";

constexpr int kSlots = 32;

// A mask that selects one event type.
CEegEventMask Only(CEegEvent::EventType type) {
    CEegEventMask mask;
    mask.SetAll(1);
    mask.SetMask(type, 0);
    return mask;
}

COleDateTimeSpan Seconds(int64_t seconds) {
    return COleDateTimeSpan(0, 0, 0, seconds);
}

CTKTime RecordTime(const CEegEvent* e) {
    int recording = 0;
    CTKTime time;
    static_cast<const CRecordEvent*>(e)->GetRecordData(recording, time);
    return time;
}

// The legacy format keeps a recording's marks in a file beside its log, opened
// for each load or store and kept from other openers meanwhile.
class CMarkFileBacking : public CDataMarkBacking {
public:
    explicit CMarkFileBacking(const CString& path) : m_path(path) {}
    CFile& BeginLoad() override { return Open(); }
    CFile& BeginStore() override { return Open(); }
    void End(bool stored) override {
        if (!stored) {
            m_file.Abort();
            return;
        }
        // The record is written over the old one from its first byte; what a
        // longer old record left behind it is cut off, or the next load would read
        // it as marks.
        m_file.SetLength(m_file.GetPosition());
        m_file.Flush();
        m_file.Close();
    }
    void Close() override { m_file.Abort(); }

private:
    CFile& Open() {
        m_file.Abort();
        CFileException* error = new CFileException;
        if (!m_file.Open(m_path,
                         CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate |
                             CFile::shareExclusive | CFile::typeBinary,
                         error))
            throw error;
        error->Delete();
        return m_file;
    }
    CString m_path;
    CFile m_file;
};

}  // namespace

// ---------------------------------------------------------------- the log's side

CDosEegFileBase::CDosEegFileBase(CDosLogFile* log) : m_pLog(log) {}

CDosEegFileBase::~CDosEegFileBase() = default;

void CDosEegFileBase::InitFlags() {
    std::lock_guard lock(m_FileLock);
    m_bFileAccessDisabled = 0;
    m_bOpen = 0;
    m_bLiveMode = 0;
}

void CDosEegFileBase::DisableFileAccess() {
    std::lock_guard lock(m_FileLock);
    m_bFileAccessDisabled = 1;
}

int CDosEegFileBase::GetDisableFileAccess() const {
    std::lock_guard lock(m_FileLock);
    return m_bFileAccessDisabled;
}

int CDosEegFileBase::IsOpen() const {
    std::lock_guard lock(m_FileLock);
    return m_bOpen;
}

int CDosEegFileBase::IsEmpty() const {
    std::lock_guard lock(m_FileLock);
    return m_pLog->IsEmpty();
}

const CAmpHardwareInfo& CDosEegFileBase::GetAmpHardwareInfo() const {
    return m_pLog->GetAmpHardwareInfo();
}

unsigned short CDosEegFileBase::GetMaxChannels() const {
    return kSlots;
}

double CDosEegFileBase::GetSampleRate() const {
    return m_pLog->GetSampleRate();
}

Compression::CompressionType CDosEegFileBase::GetCompressionType() {
    return static_cast<Compression::CompressionType>(m_pLog->GetCompressionType());
}

int CDosEegFileBase::GetBytesPerSecondFile() const {
    return m_pLog->GetBytesPerSecondFile();
}

CEegTimeStamp CDosEegFileBase::GetEofTimeStamp() const {
    std::lock_guard lock(m_FileLock);
    return CEegTimeStamp(m_pLog->GetEofTimeStamp());
}

uint32_t CDosEegFileBase::GetLengthInSamples() const {
    return GetEofTimeStamp().GetSampleOffset();
}

uint32_t CDosEegFileBase::GetLengthInSeconds() const {
    const int rate = Rate();
    return rate > 0 ? GetLengthInSamples() / static_cast<uint32_t>(rate) : 0;
}

int CDosEegFileBase::GetMontageAt(const CEegTimeStamp& at, CEegMontage& montage) const {
    std::lock_guard lock(m_FileLock);
    const CEegEventList& events = m_pLog->GetEventList();
    const CEegEvent* found = events.GetAt(at, Only(CEegEvent::etMontage));
    if (!found)
        return 0;
    montage = static_cast<const CMontageEvent*>(found)->GetMontage();
    CEegEventList traces;
    events.GetEventList(traces, Only(CEegEvent::etTraceInfo), found->GetTimeStamp(), at, 0, 0);
    for (int i = 0; i < traces.GetSize(); ++i) {
        const auto* t = static_cast<const CTraceInfoEvent*>(traces.GetAt(i));
        montage.SetTraceInfo(t->GetChannelNumber(), t->GetTraceInfo());
    }
    return 1;
}

template <class E, class Get>
int CDosEegFileBase::ValueAt(const CEegTimeStamp& at, CEegEvent::EventType type, Get get,
                             double& value) const {
    std::lock_guard lock(m_FileLock);
    const CEegEvent* found = m_pLog->GetEventList().GetAt(at, Only(type));
    if (!found)
        return 0;
    value = (static_cast<const E*>(found)->*get)();
    return 1;
}

int CDosEegFileBase::GetPaperSpeedAt(const CEegTimeStamp& at, double& speed) const {
    return ValueAt<CSpeedEvent>(at, CEegEvent::etSpeed, &CSpeedEvent::GetSpeed, speed);
}

int CDosEegFileBase::GetLinkedSensitivityAt(const CEegTimeStamp& at, double& value) const {
    return ValueAt<CLinkedSensitivityEvent>(at, CEegEvent::etLinkedSensitivity,
                                            &CLinkedSensitivityEvent::GetLinkedSensitivity, value);
}

int CDosEegFileBase::GetLinkedLowCutAt(const CEegTimeStamp& at, double& value) const {
    return ValueAt<CLinkedLowcutEvent>(at, CEegEvent::etLinkedLowcut,
                                       &CLinkedLowcutEvent::GetLinkedLowcut, value);
}

int CDosEegFileBase::GetLinkedHighCutAt(const CEegTimeStamp& at, double& value) const {
    return ValueAt<CLinkedHighcutEvent>(at, CEegEvent::etLinkedHighcut,
                                        &CLinkedHighcutEvent::GetLinkedHighcut, value);
}

CTKTime CDosEegFileBase::GetStartTime() const {
    std::lock_guard lock(m_FileLock);
    const CEegEventList& records = m_pLog->GetTimeOfDayList();
    if (records.GetSize() == 0)
        return CTKTime::Null();
    const uint32_t rate = static_cast<uint16_t>(Rate());
    const uint32_t offset = records.GetAt(0)->GetTimeStamp().GetSampleOffset();
    return RecordTime(records.GetAt(0)) - Seconds(rate ? offset / rate : 0);
}

CTKTime CDosEegFileBase::GetTimeOfDay(uint32_t sampleOffset) const {
    std::lock_guard lock(m_FileLock);
    const CTKTime start = GetStartTime();
    if (start.IsNull())
        return start;
    const uint32_t rate = static_cast<uint16_t>(Rate());
    if (rate == 0)
        return start;
    const CEegEventList& records = m_pLog->GetTimeOfDayList();
    const int i = records.GetIndexAt(CEegTimeStamp(sampleOffset));
    if (i < 0)
        return start + Seconds(sampleOffset / rate);
    const uint32_t from = records.GetAt(i)->GetTimeStamp().GetSampleOffset();
    return RecordTime(records.GetAt(i)) + Seconds((sampleOffset - from) / rate);
}

uint32_t CDosEegFileBase::GetSampleOffset(CTKTime time) const {
    std::lock_guard lock(m_FileLock);
    const CEegEventList& records = m_pLog->GetTimeOfDayList();
    if (records.GetSize() == 0)
        return 0;
    // The last record event whose time is not after time.
    int lo = 0, hi = records.GetSize() - 1, found = 0;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        if (RecordTime(records.GetAt(mid)) > time) {
            hi = mid - 1;
        } else {
            found = mid;
            lo = mid + 1;
        }
    }
    const CTKTime at = RecordTime(records.GetAt(found));
    if (time < at)
        return 0;
    const double seconds = std::floor((time - at).GetTotalSeconds() + 5.787037037037037e-6);
    const uint32_t rate = static_cast<uint16_t>(Rate());
    return records.GetAt(found)->GetTimeStamp().GetSampleOffset() +
           rate * static_cast<uint32_t>(std::max(seconds, 0.0));
}

float CDosEegFileBase::GetTodElapsed(uint32_t from, uint32_t to) const {
    std::lock_guard lock(m_FileLock);
    const uint32_t a = std::min(from, to), b = std::max(from, to);
    const float rate = static_cast<uint16_t>(Rate());
    if (rate == 0)
        return 0.0f;
    CEegEventList records;
    m_pLog->GetEventList().GetEventList(records, Only(CEegEvent::etRecord), CEegTimeStamp(a),
                                        CEegTimeStamp(b), 0, 0);
    if (records.GetSize() < 2)
        return static_cast<float>(b - a) / rate;
    const CTKTime ta = GetTimeOfDay(a), tb = GetTimeOfDay(b);
    float elapsed =
        std::floor(static_cast<float>((tb - ta).GetTotalSeconds()) + 5.787037037037037e-6f);
    // The parts of a second that the time of day leaves out.
    const uint32_t oa = GetSampleOffset(ta), ob = GetSampleOffset(tb);
    if (oa < a)
        elapsed -= static_cast<float>(a - oa) / rate;
    if (ob < b)
        elapsed += static_cast<float>(b - ob) / rate;
    return elapsed;
}

int CDosEegFileBase::GetNumberOfEvents() const {
    std::lock_guard lock(m_FileLock);
    return m_pLog->GetEventList().GetSize();
}

void CDosEegFileBase::GetEventList(CEegEventList& list, const CEegEventMask& mask,
                                   const CEegTimeStamp& from, const CEegTimeStamp& to,
                                   uint32_t maxCount, unsigned short minPriority) const {
    std::lock_guard lock(m_FileLock);
    m_pLog->GetEventList().GetEventList(list, mask, from, to, maxCount, minPriority);
}

int CDosEegFileBase::GetLiveModeUpdate() const {
    std::lock_guard lock(m_FileLock);
    return m_bLiveMode;
}

void CDosEegFileBase::SetLiveModeUpdate(int on) {
    std::lock_guard lock(m_FileLock);
    m_bLiveMode = on;
}

// ---------------------------------------------------------------- the recording

CDosEegFile::CDosEegFile() : CDosEegFile(new CDosLogFile) {}

CDosEegFile::CDosEegFile(CDosLogFile* log)
    : CDosEegFileBase(log),
      m_pAccess(std::make_unique<CEegAccessControl>()),
      m_pMarks(std::make_unique<CEegDataMarkStore>(*m_pAccess, m_FileLock)),
      m_Cache(kCacheFrames, kSlots),
      m_pData(std::make_unique<CDosEegData>(*m_pLog)) {}

CDosEegFile::~CDosEegFile() {
    try {
        Close();
    } catch (CException* e) {
        TKReportExceptionOperation(e, "Close EEG File", "DosEegFile", 1248, 0);
        e->Delete();
    }
}

void CDosEegFile::InitFlags() {
    std::lock_guard lock(m_FileLock);
    CDosEegFileBase::InitFlags();
    m_nReadPosition = 0;
    m_nCacheStart = -1;
}

int CDosEegFile::IsReadOnly() const {
    std::lock_guard lock(m_FileLock);
    return m_pAccess->GetWithoutControl();
}

void CDosEegFile::RefreshHoles() {
    m_Holes.RemoveAll();
    m_pLog->GetEventList().GetEventList(m_Holes, Only(CEegEvent::etDataDeletion),
                                        CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0, 0);
}

void CDosEegFile::Open(const char* path, int forWriting) {
    std::lock_guard lock(m_FileLock);
    if (forWriting) {
        m_bFileAccessDisabled = 1;
        ThrowDosFileException(CDosFileException::eAppendNotAllowed);
    }
    InitFlags();
    m_FilePath = path;
    m_PatientInfo = CPatientInfo();
    int readOnly = 0;
    CheckForReadOnly(path, readOnly);
    try {
        m_pLog->OpenLog(path, 0);
    } catch (CException*) {
        m_bFileAccessDisabled = 1;
        throw;
    }
    if (m_pLog->getStatus() != CLogFile::stOk) {
        m_bFileAccessDisabled = 1;
        ThrowDosFileException(CDosFileException::eLogOpenFailure);
    }
    RefreshHoles();
    m_pAccess->SetWithoutControl(readOnly);
    if (!readOnly)
        AddToOpenFileList();
    m_pAccess->SetPaths(path);
    m_pAccess->SetWriterActive(0);
    if (!m_pAccess->TakeMode(CEegAccessMode::eamRead))
        ThrowEegFileException(CEegFileException::eReadAccessRequired, &m_pAccess->GetStationList());
    if (!readOnly)
        DeleteOldSegmentMarkStream();
    OpenSegmentMarkStream(readOnly);
    m_bOpen = 1;
}

void CDosEegFile::Close() {
    std::lock_guard lock(m_FileLock);
    m_bOpen = 0;
    CloseSegmentMarkStream();
    m_pData->CloseFile();
    m_Holes.RemoveAll();
    if (!m_bFileAccessDisabled) {
        m_pLog->CloseLog();
        m_pAccess->Release();
    } else {
        m_pAccess->ReleaseWithoutUpdate();
    }
    InitFlags();
    if (!m_FilePath.IsEmpty())
        RemoveFromOpenFileList();
}

CEegTimeStamp CDosEegFile::GetReadPosition() const {
    std::lock_guard lock(m_FileLock);
    return CEegTimeStamp(m_nReadPosition);
}

void CDosEegFile::SetReadPosition(CEegTimeStamp position) {
    std::lock_guard lock(m_FileLock);
    if (!m_bFileAccessDisabled)
        m_nReadPosition = position.GetSampleOffset();
}

int CDosEegFile::ReadEegData(CEegDataChunk& chunk, uint32_t count) {
    std::lock_guard lock(m_FileLock);
    chunk.SetNumberOfSamples(0);
    const int n = Rate();
    if (m_bFileAccessDisabled || chunk.GetChannelCount() != kSlots || n < 1 || n > kCacheFrames)
        return 0;
    uint32_t wanted = std::min(count, chunk.GetSampleCapacity());
    int result = 0;
    while (wanted > 0) {
        const int64_t position = m_nReadPosition;
        if (m_nCacheStart < 0 || position < m_nCacheStart || position >= m_nCacheStart + n) {
            // The second holding the position; a second that cannot be read (a
            // hole, past the end, a missing file) is n frames of zeros.
            const int32_t second = static_cast<int32_t>(position / n);
            if (m_pData->readData(second, m_Cache.GetData()) < 1)
                std::memset(m_Cache.GetData(), 0,
                            sizeof(int16_t) * kSlots * static_cast<size_t>(n));
            m_nCacheStart = static_cast<int64_t>(second) * n;
        }
        const uint32_t offset = static_cast<uint32_t>(position - m_nCacheStart);
        const uint32_t take = std::min<uint32_t>(wanted, static_cast<uint32_t>(n) - offset);
        const uint32_t filled = chunk.GetNumberOfSamples();
        std::memcpy(chunk.GetFrame(filled), m_Cache.GetFrame(offset),
                    sizeof(int16_t) * kSlots * take);
        chunk.SetNumberOfSamples(filled + take);
        m_nReadPosition += take;
        wanted -= take;
        result = 1;
    }
    return result;
}

int CDosEegFile::AddEvent(const CEegEvent* event) {
    std::unique_ptr<const CEegEvent> owned(event);
    if (!owned)
        return 0;
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return 0;
    m_pLog->AddEvent(owned.get());
    owned.release();
    return 1;
}

int CDosEegFile::AddEvents(CEegEventList& events) {
    std::vector<std::unique_ptr<const CEegEvent>> owned;
    owned.reserve(static_cast<size_t>(events.GetSize()));
    for (int i = 0; i < events.GetSize(); ++i) {
        if (events.GetAt(i))
            owned.emplace_back(events.GetAt(i));
    }
    events.RemoveAll();
    std::lock_guard lock(m_FileLock);
    if (owned.empty() || m_bFileAccessDisabled)
        return 0;
    std::vector<const CEegEvent*> given;
    for (const auto& e : owned)
        given.push_back(e.get());
    m_pLog->AddEvents(given.data(), static_cast<int>(given.size()));
    for (auto& e : owned)
        e.release();
    return static_cast<int>(given.size());
}

int CDosEegFile::AddEventToArray(const CEegEvent* event) {
    std::unique_ptr<const CEegEvent> owned(event);
    std::lock_guard lock(m_FileLock);
    if (!owned || m_bFileAccessDisabled)
        return 0;
    m_pLog->AddEventToArray(owned.release());
    return 1;
}

void CDosEegFile::RemoveEvent(const CEegEvent* event) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    if (IsReadOnly())
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    if (!m_pAccess->ChangeMode(CEegAccessMode::eamExclusive))
        ThrowEegFileException(CEegFileException::eExclusiveAccessRequired,
                              &m_pAccess->GetStationList());
    m_pLog->RemoveEvent(event);
}

void CDosEegFile::RemoveEvents(CEegEventList& events) {
    std::lock_guard lock(m_FileLock);
    CException* kept = nullptr;
    try {
        for (int i = events.GetSize() - 1; i >= 0; --i) {
            try {
                RemoveEvent(events.GetAt(i));
            } catch (CDosFileException* e) {
                const int code = e->GetErrorCode();
                if (code != CDosFileException::eEventNotDeletable &&
                    code != CDosFileException::eEventNotFound)
                    throw;
                if (kept)
                    e->Delete();
                else
                    kept = e;
            }
        }
    } catch (CException*) {
        if (kept)
            kept->Delete();
        events.RemoveAll();
        throw;
    }
    events.RemoveAll();
    if (kept)
        throw kept;
}

void CDosEegFile::Synchronize() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    m_pLog->updateFromLog();
    RefreshHoles();
    // A second cached while it was incomplete may be whole now.
    m_nCacheStart = -1;
}

CEegAccessMode::EegAccessModeType CDosEegFile::GetAccessMode() const {
    std::lock_guard lock(m_FileLock);
    return m_pAccess->GetAccessMode();
}

int CDosEegFile::GetLockFailureFlag() const {
    std::lock_guard lock(m_FileLock);
    return m_pAccess->GetLockFailure();
}

// ---------------------------------------------------------------- access

int CDosEegFile::SetMarkAccessMode(int throwOnRefusal) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return 0;
    return m_pMarks->TakeMarkRight(throwOnRefusal);
}

void CDosEegFile::ClearMarkAccessMode() {
    std::lock_guard lock(m_FileLock);
    if (!m_pAccess->DropMarkRight())
        ThrowEegFileException(CEegFileException::eAccessModeChangeFailure);
}

void CDosEegFile::GetComputerList(CString& text) const {
    std::lock_guard lock(m_FileLock);
    text.Empty();
    for (int i = 0; i < m_pAccess->GetStationCount(); ++i)
        text += "\n\t" + m_pAccess->GetStationName(i);
}

int CDosEegFile::GetMarkAccess(CString& holders) {
    std::lock_guard lock(m_FileLock);
    if (SetMarkAccessMode(0))
        return 1;
    GetComputerList(holders);
    return 0;
}

int CDosEegFile::GetExclusiveAccess(CString& holders) {
    std::lock_guard lock(m_FileLock);
    if (m_pAccess->ChangeMode(CEegAccessMode::eamExclusive))
        return 1;
    GetComputerList(holders);
    return 0;
}

// ---------------------------------------------------------------- marks

CString CDosEegFile::MarkFilePath(const char* extension) const {
    const CString& log = m_pLog->GetLogFilePath();
    const int slash = log.ReverseFind('/');
    const int dot = log.ReverseFind('.');
    return (dot > slash ? log.Left(dot) : log) + extension;
}

CEegDataMarkStore::CGeometry CDosEegFile::MarkGeometry() const {
    CEegDataMarkStore::CGeometry g;
    g.holes = &m_Holes;
    g.rate = Rate();
    g.lengthSeconds = GetLengthInSeconds();
    return g;
}

bool CDosEegFile::MarksEditable() {
    if (m_bFileAccessDisabled)
        return false;
    if (IsReadOnly())
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    return true;
}

void CDosEegFile::OpenSegmentMarkStream(int readOnly) {
    std::lock_guard lock(m_FileLock);
    CloseSegmentMarkStream();
    if (readOnly || IsReadOnly())
        return;
    const CString path = MarkFilePath(kMarkFileExtension);
    m_pMarks->Attach(std::make_unique<CMarkFileBacking>(path));
    // Fewer bytes than the version word and the flag: a mark file nobody wrote yet.
    CFileStatus status;
    if (CFile::GetStatus(path, status) && status.m_size >= 8)
        m_pMarks->Synchronize(0, MarkGeometry());
}

void CDosEegFile::CloseSegmentMarkStream() {
    std::lock_guard lock(m_FileLock);
    m_pMarks->Close(0);
}

void CDosEegFile::DeleteOldSegmentMarkStream() {
    const CString old = MarkFilePath(kOldMarkFileExtension);
    CFileStatus status;
    if (!CFile::GetStatus(old, status))
        return;
    try {
        CFile::Remove(old);
    } catch (CException* e) {
        TKReportExceptionOperation(e, "Delete Old Mark File", "DosEegFile", 0, 0);
        e->Delete();
    }
}

void CDosEegFile::SetMarkForDelete(int on) {
    m_pMarks->EditMarkForDelete(*this, on);
}

int CDosEegFile::GetMarkForDelete() {
    std::lock_guard lock(m_FileLock);
    return m_bFileAccessDisabled ? 0 : m_pMarks->GetMarkForDelete();
}

void CDosEegFile::AddDataMark(CDataMarkDeleteEvent* mark) {
    m_pMarks->EditAddMark(*this, mark);
}

void CDosEegFile::RemoveDataMark(CDataMarkDeleteEvent* mark) {
    if (mark)
        m_pMarks->EditReported(*this, "Remove Data Mark", kModule,
                               [&](const auto& g) { m_pMarks->RemoveEqualMark(*mark, g); });
}

void CDosEegFile::RemoveAllDataMarks() {
    m_pMarks->EditReported(*this, "Remove All Data Mark", kModule,
                           [&](const auto&) { m_pMarks->RemoveAll(); });
}

void CDosEegFile::RemoveAllEegDataMarks() {
    m_pMarks->EditReported(*this, "Remove All EEG Data Marks", kModule,
                           [&](const auto& g) { m_pMarks->RemoveEegMarks(g); });
}

void CDosEegFile::RemoveAllVideoDataMarks() {
    m_pMarks->EditReported(*this, "Remove All Video Data Marks", kModule,
                           [&](const auto& g) { m_pMarks->RemoveVideoMarks(g); });
}

void CDosEegFile::SyncDataMarks() {
    m_pMarks->EditReported(
        *this, "Sync Data Marks", kModule, [](const auto&) {}, 1);
}

void CDosEegFile::GetDataMarkList(CEegEventList& list) {
    std::lock_guard lock(m_FileLock);
    list.RemoveAll();
    if (!m_bFileAccessDisabled)
        m_pMarks->ListMarks(list);
}

int CDosEegFile::IsEventValid(CDataMarkDeleteEvent* mark) {
    std::lock_guard lock(m_FileLock);
    return m_bFileAccessDisabled ? 0 : m_pMarks->IsStored(mark);
}

int CDosEegFile::InDeleteSegment(CDataDeletionEvent& segment, CEegTimeStamp at) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return 0;
    if (at == CEegTimeStamp::NullStamp)
        at = GetReadPosition();
    return CEegDataMarkStore::FindHole(m_Holes, at, segment);
}

void CDosEegFile::GetMarkedSegmentList(CEegEventList& list, const CEegTimeStamp& from,
                                       const CEegTimeStamp& to, uint32_t maxCount) const {
    std::lock_guard lock(m_FileLock);
    list.RemoveAll();
    if (!m_bFileAccessDisabled)
        m_pMarks->GetSegmentList(list, from, to, maxCount);
}

void CDosEegFile::SetDeleteEegDataOnClose() {
    std::lock_guard lock(m_FileLock);
    m_bDeleteOnClose = 1;
}

int CDosEegFile::GetDeleteEegDataOnClose() const {
    std::lock_guard lock(m_FileLock);
    return m_bDeleteOnClose;
}

// ---------------------------------------------------------------- cutting

int CDosEegFile::CutFileSeconds(int rate, int mode, int storedChannels) {
    switch (rate) {
        case 400:
            return mode == Compression::Uncompressed ? 100 : 200;
        case 200:
            return mode == Compression::Uncompressed ? 200 : 400;
        case 100:
            return storedChannels >= 29 ? 400 : 11600 / std::max(storedChannels, 1);
        default:
            return 200;
    }
}

void CDosEegFile::ConvertDeleteListToSaveList(const CEegStreamIntervalArray& cut,
                                              CEegStreamIntervalArray& keep) const {
    keep.RemoveAll();
    const uint32_t maxRead = static_cast<uint32_t>(std::max(m_pLog->getMaxReadPosition(), 0));
    const uint32_t end = GetLengthInSeconds();
    const uint32_t size = static_cast<uint32_t>(
        CutFileSeconds(Rate(), m_pLog->GetCompressionType(), m_pLog->GetStoredChannelCount()));
    const auto pieces = [&](uint32_t a, uint32_t b) {
        for (; a < b; a += std::min(size, b - a)) {
            CEegStreamInterval piece{a, a + std::min(size, b - a)};
            keep.Add(piece);
        }
    };
    bool started = false;
    uint32_t kept = maxRead;
    for (int i = 0; i < cut.GetSize(); ++i) {
        const CEegStreamInterval& c = cut[i];
        if (!started && c.m_endSecond <= maxRead)
            continue;  // below MAXREAD the cut files stay as they are
        started = true;
        if (c.m_firstSecond > kept)
            pieces(kept, c.m_firstSecond);
        kept = std::max(kept, c.m_endSecond);
    }
    if (started && kept < end)
        pieces(kept, end);
}

int CDosEegFile::DoCopySavedArea(uint32_t firstSecond, int32_t seconds, int cutNumber) {
    if (cutNumber > kMaxCutFiles)
        return 1;
    CLogFile::FileType file;
    file.fileNumber = -cutNumber;
    CFile out;
    if (!out.Open(m_pLog->GetFilePath(file),
                  CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive | CFile::typeBinary))
        return 1;
    const int bytes = m_pLog->GetBytesPerSecondFile();
    char buffer[CDosEegData::kRawSecondBytes];
    int result = 0;
    try {
        for (int32_t s = 0; s < seconds && result == 0; ++s) {
            // Only whole seconds: a cut file holds them end to end.
            if (m_pData->readDataRaw(static_cast<int32_t>(firstSecond) + s, buffer, 0) != bytes)
                result = 1;
            else
                out.Write(buffer, static_cast<UINT>(bytes));
        }
        if (result == 0) {
            out.Flush();
            out.Close();
        }
    } catch (CException* e) {
        e->Delete();
        result = 1;
    }
    out.Abort();
    m_pData->CloseFile();
    return result;
}

int CDosEegFile::DoDataDelete(const CEegStreamIntervalArray& cut,
                              CVoidCall1Arg<int64_t>* progress) {
    if (m_pLog->getStatus() != CLogFile::stOk)
        ThrowDosFileException(CDosFileException::eLogWriteFailure);  // the log takes no more lines
    const int32_t maxRead = m_pLog->getMaxReadPosition();
    if (cut.GetSize() > 0 && static_cast<int64_t>(cut[0].m_firstSecond) < maxRead)
        AfxMessageBox(AfxLoadString(113));
    CEegStreamIntervalArray keep;
    ConvertDeleteListToSaveList(cut, keep);
    const int n = keep.GetSize();
    int c = m_pLog->getLastCutFileNumber();
    if (n < 1) {
        AfxMessageBox(AfxLoadString(115));
        return 1;
    }
    if (n > kMaxCutFiles - c) {
        CString text;
        text.FormatDynamic(AfxLoadString(114), c + n);
        AfxMessageBox(text);
        return 1;
    }
    const int firstNumber = c + 1;
    const auto removeNew = [&](int last) {
        for (int number = firstNumber; number <= last; ++number) {
            CLogFile::FileType f;
            f.fileNumber = -number;
            try {
                CFile::Remove(m_pLog->GetFilePath(f));
            } catch (CException* e) {
                e->Delete();
            }
        }
    };
    CDWordArray firsts;
    for (int i = 0; i < n; ++i) {
        ++c;
        if (DoCopySavedArea(keep[i].m_firstSecond,
                            static_cast<int32_t>(keep[i].m_endSecond - keep[i].m_firstSecond),
                            c) != 0) {
            removeNew(c);
            ThrowDosFileException(CDosFileException::eDeleteMarkedDataFailure);
        }
        firsts.Add(keep[i].m_firstSecond);
        if (progress)
            progress->Call(static_cast<int64_t>(100) * (i + 1) / n);
    }
    // The data files that end at or below the new MAXREAD, but the last one.
    const uint32_t end = GetLengthInSeconds();
    std::vector<CString> superseded;
    for (int i = 0; i < m_pLog->getFileCount(); ++i) {
        const CLogFile::FileType& f = *m_pLog->getFile(i);
        if (f.fileNumber >= 0 && f.fileNumber != m_pLog->getLastDataFileNumber() &&
            static_cast<int64_t>(f.startSecond) + f.lengthSeconds <= end)
            superseded.push_back(m_pLog->GetFilePath(f));
    }
    int updated;
    try {
        updated = m_pLog->UpdateAfterDataCut(static_cast<int32_t>(end), firstNumber, firsts);
    } catch (CException*) {
        removeNew(c);
        throw;
    }
    if (updated != 0)
        ThrowDosFileException(CDosFileException::eLogWriteFailure);
    for (const CString& path : superseded)
        RemoveOldDataFile(path);
    RefreshHoles();
    return 0;
}

void CDosEegFile::RemoveOldDataFile(const CString& path) {
    try {
        CFile::Remove(path);
    } catch (CException* e) {
        // The cut stands; a data file another program still holds only costs room.
        TKReportExceptionOperation(e, "Remove Old Data File", "DosEegFile", 0, 0);
        e->Delete();
    }
}

int64_t CDosEegFile::DeleteMarkedEegData(CVoidCall1Arg<int64_t>* progress) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return 0;
    CEegEventList segments;
    GetMarkedSegmentList(segments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    if (!m_bDeleteOnClose || segments.GetSize() == 0) {
        Close();
        return 0;
    }
    if (!m_pAccess->ChangeMode(CEegAccessMode::eamExclusive)) {
        const CEegStationList holders = m_pAccess->GetStationList();
        Close();
        ThrowEegFileException(CEegFileException::eExclusiveAccessRequired, &holders);
    }
    CEegStreamIntervalArray cut;
    CEegDataMarkStore::CutIntervals(cut, segments, m_Holes, Rate(), GetLengthInSeconds());
    if (DoDataDelete(cut, progress) == 0) {
        // The notes of the marks used up by the cut stay, as comments.
        const CEegEventList& marks = m_pMarks->GetMarks();
        for (int i = 0; i < marks.GetSize(); ++i) {
            const auto* m = static_cast<const CDataMarkDeleteEvent*>(marks.GetAt(i));
            if (m->IsEegMark() && !m->GetComment().IsEmpty())
                m_pLog->AddEvent(new CCommentEvent(m->GetStartTimeStamp(), m->GetComment(),
                                                   static_cast<short>(m->GetPriority())));
        }
        m_pMarks->RemoveEegMarks(MarkGeometry());
        m_pMarks->Synchronize(1, MarkGeometry());
    }
    Close();
    return 0;
}
