#include "EegFile/winfile/WinEegFile.h"

#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {
constexpr int kArchiveBuffer = 4096;

// The cause or code of the exceptions whose cause means "the file is not usable
// any more" (2, 3 or 6: gone, bad path, invalid); -1 for other kinds.
int CauseOf(CException* e) {
    if (auto* f = dynamic_cast<CFileException*>(e))
        return f->m_cause;
    if (auto* a = dynamic_cast<CArchiveException*>(e))
        return a->m_cause;
    if (auto* x = dynamic_cast<CEegFileException*>(e))
        return x->GetErrorCode();
    if (auto* c = dynamic_cast<CTKCompoundFileException*>(e))
        return c->m_nError;
    return -1;
}

bool MakesFileUnusable(CException* e) {
    const int cause = CauseOf(e);
    return cause == 2 || cause == 3 || cause == 6;
}

// A region lock of the lock file, put back to its previous state when left (or
// early through Restore, which lets a failure through).
class CRegionLock {
public:
    CRegionLock(CEegAccessControl& access, int type, int copy, int timeoutMs)
        : m_access(access),
          m_type(type),
          m_copy(copy),
          m_previous(access.SetLockState(type, copy, 1, timeoutMs)) {}
    ~CRegionLock() {
        if (m_restored)
            return;
        try {
            m_access.SetLockState(m_type, m_copy, m_previous, CWinEegFile::kRegionTimeoutMs);
        } catch (CException* e) {
            e->Delete();
        }
    }
    void Restore(int timeoutMs) {
        m_restored = true;
        m_access.SetLockState(m_type, m_copy, m_previous, timeoutMs);
    }
    CRegionLock(const CRegionLock&) = delete;
    CRegionLock& operator=(const CRegionLock&) = delete;

private:
    CEegAccessControl& m_access;
    int m_type;
    int m_copy;
    int m_previous;
    bool m_restored = false;
};
}  // namespace

// A stream file whose stream (and, when given, container) it owns.
class CWinStreamFile : public CTKStreamFile {
public:
    CWinStreamFile(CTKStream* stream, CTKCompoundFile* container)
        : CTKStreamFile(stream, TRUE, container) {}
};

CWinEegFile::CWinEegFile()
    : m_Container(&m_FileLock),
      m_DataStream(m_FileLock),
      m_EventStore(m_AccessControl, m_FileLock),
      m_MarkStore(m_AccessControl, m_FileLock) {
    InitFlags();
    std::lock_guard lock(m_FileLock);
    m_Container.SetWriterHook(m_AccessControl.GetWriterHook());
    m_Container.SetDirectoryHook(m_AccessControl.GetDirectoryHook());
}

CWinEegFile::~CWinEegFile() {
    try {
        Close();
    } catch (CException* e) {
        if (MakesFileUnusable(e))
            DisableFileAccess();
        TKReportExceptionOperation(e, "Close EEG File", "WinEegFile", 567, 0);
        e->Delete();
        // A close that failed leaves the container open: give it up without committing.
        try {
            Close();
        } catch (CException* again) {
            again->Delete();
        }
    }
}

void CWinEegFile::InitFlags() {
    std::lock_guard lock(m_FileLock);
    m_bFileAccessDisabled = 0;
    m_bHeaderPending = 0;
    m_bWriteEnabled = 0;
    m_bEegStreamOpen = 0;
    m_bPatientChanged = 0;
    m_bEventsChanged = 0;
    m_bHeaderChanged = 0;
}

void CWinEegFile::DisableFileAccess() {
    std::lock_guard lock(m_FileLock);
    m_bFileAccessDisabled = 1;
}

int CWinEegFile::GetDisableFileAccess() const {
    return m_bFileAccessDisabled;
}

void CWinEegFile::SetEegWriteBufferSize(int bytes) {
    m_DataStream.SetBufferCapacity(bytes);
}

// ---------------------------------------------------------------- lifecycle

// Create and Open close what the object holds before they take the file lock:
// Close takes the close lock and then the file lock, and lets a running write
// thread take the file lock for its last pass; calling it with the file lock
// held would make the flush wait for a thread that waits for the lock.
void CWinEegFile::Create(const char* path) {
    if (GetDisableFileAccess())
        return;
    Close();
    std::lock_guard lock(m_FileLock);
    m_AccessControl.SetWithoutControl(0);
    m_FilePath = path;
    AddToOpenFileList();
    m_AccessControl.SetPaths(path);
    m_AccessControl.SetWriterActive(0);
    // A refused or failed create takes its open-file-list entry back: a stale one
    // would make a later clean-up of this computer treat the file as its own.
    if (!m_AccessControl.TakeMode(CEegAccessMode::eamExclusive)) {
        RemoveFromOpenFileList();
        ThrowEegFileException(CEegFileException::eExclusiveAccessRequired,
                              &m_AccessControl.GetStationList());
    }
    try {
        m_Container.Create(path);
    } catch (CException*) {
        m_AccessControl.Release();
        RemoveFromOpenFileList();
        throw;
    }
    m_bHeaderPending = 1;
}

int CWinEegFile::ConfigureDataStream() {
    return m_DataStream.Configure(m_Header.GetCompressionType(),
                                  static_cast<int>(m_Header.GetSampleRate()),
                                  m_Header.GetAmpHardwareInfo());
}

void CWinEegFile::PrepareToWriteEeg(double sampleRate, Compression::CompressionType compression,
                                    const CAmpHardwareInfo& amp) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled || !m_bHeaderPending)
        return;
    if (!CEegHeader::IsSupportedSampleRate(sampleRate))
        ThrowEegFileException(CEegFileException::eUnknownEegParameterFormat);
    m_Header.SetSampleRate(sampleRate);
    m_Header.SetCompressionType(compression);
    m_Header.SetAmpHardwareInfo(amp);
    // Refuses (code 1) a layout the format cannot store before anything is written.
    ConfigureDataStream();
    SerializeMember(CEegStreamType::estPatient, 0, 1);
    SerializeMember(CEegStreamType::estHeader, 0, 1);
    CreateEventStream(m_Container);
    DeleteOldSegmentMarkStream();
    CreateSegmentMarkStream();
    CreateEegStream();
    if (!m_AccessControl.ChangeMode(CEegAccessMode::eamWrite))
        ThrowEegFileException(CEegFileException::eAccessModeChangeFailure);
    m_bHeaderPending = 0;
    m_bWriteEnabled = 1;
    m_bEegStreamOpen = 1;
    m_AccessControl.SetWriterActive(1);
}

void CWinEegFile::Open(const char* path, int forWriting) {
    Close();
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    m_FilePath = path;
    int readOnly = 0;
    try {
        CheckForReadOnly(path, readOnly);
    } catch (CException*) {
        // A missing file disables access only for this attempt: nothing is open,
        // and the object must stay usable for a later Create or Open.
        InitFlags();
        throw;
    }
    m_AccessControl.SetWithoutControl(readOnly);
    if (!readOnly)
        AddToOpenFileList();
    m_AccessControl.SetPaths(path);
    m_AccessControl.SetWriterActive(0);
    const auto mode = forWriting ? CEegAccessMode::eamWrite : CEegAccessMode::eamRead;
    if (!m_AccessControl.TakeMode(mode)) {
        if (!readOnly)
            RemoveFromOpenFileList();
        ThrowEegFileException(forWriting ? CEegFileException::eWriteAccessRequired
                                         : CEegFileException::eReadAccessRequired,
                              &m_AccessControl.GetStationList());
    }
    try {
        m_Container.Open(path, readOnly);
        SerializeMember(CEegStreamType::estPatient, 1, 1);
        SerializeMember(CEegStreamType::estHeader, 1, 1);
        OpenEventStream();
        uint32_t lastEvent = m_EventStore.GetLastEventOffset();
        if (lastEvent == 0xFFFFFFFFu)
            lastEvent = 0;
        if (OpenEegStream(!forWriting, lastEvent)) {
            m_bEegStreamOpen = 1;
            if (forWriting) {
                m_bWriteEnabled = 1;
                m_AccessControl.SetWriterActive(1);
            }
        } else if (forWriting) {
            m_bHeaderPending = 1;
        }
        if (!readOnly)
            DeleteOldSegmentMarkStream();
        OpenSegmentMarkStream(readOnly);
    } catch (CException*) {
        AbandonOpen();
        throw;
    }
}

void CWinEegFile::AbandonOpen() {
    // Nothing of a file that failed to load is committed; this station's entry
    // leaves the control file all the same, so it blocks no other station.
    std::lock_guard lock(m_FileLock);
    m_DataStream.CloseDisabled();
    m_EventStore.Close(1);
    m_MarkStore.Close(1);
    m_Container.Abort();
    try {
        m_AccessControl.Release();
    } catch (CException* e) {
        e->Delete();
        m_AccessControl.ReleaseWithoutUpdate();
    }
    const int listed = !m_AccessControl.GetWithoutControl();
    InitFlags();
    if (listed)
        RemoveFromOpenFileList();
}

void CWinEegFile::Close() {
    std::lock_guard closeLock(m_CloseLock);
    {
        std::lock_guard lock(m_FileLock);
        if (!m_Container.IsOpen())
            return;
    }
    try {
        if (m_bHeaderPending) {
            // A PrepareToWriteEeg refused its mode change after opening the
            // data streams; they are closed here, before the container.
            CloseEegStream();
            std::lock_guard lock(m_FileLock);
            CloseEventStream();
            CloseSegmentMarkStream();
            SerializeMember(CEegStreamType::estHeader, 0, 1);
        } else {
            // Before the file lock, so that the write thread can finish its pass.
            CloseEegStream();
            std::lock_guard lock(m_FileLock);
            CloseEventStream();
            CloseSegmentMarkStream();
            BackupPatientInfo();
            BackupEventList();
            BackupHeader();
        }
    } catch (CException*) {
        DisableFileAccess();
        throw;
    }
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled) {
        m_DataStream.CloseDisabled();
        m_EventStore.Close(1);
        m_MarkStore.Close(1);
        m_Container.Abort();
        m_AccessControl.ReleaseWithoutUpdate();
    } else {
        m_Container.Close();
        m_AccessControl.Release();
    }
    InitFlags();
    if (!m_AccessControl.GetWithoutControl())
        RemoveFromOpenFileList();
}

void CWinEegFile::SerializeMember(CEegStreamType::EegStreamType type, int loading, int copy) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled || !m_Container.IsOpen())
        return;
    const char* name;
    int unit;
    if (type == CEegStreamType::estHeader) {
        name = kHeaderStream;
        unit = kHeaderUnit;
    } else if (type == CEegStreamType::estPatient) {
        name = kPatientStream;
        unit = kPatientUnit;
    } else {
        return;
    }
    CRegionLock region(m_AccessControl, type, copy, kRegionTimeoutMs);
    // A record is written over the old one from the stream's start, as the
    // by-path statics write the patient record, never into an emptied stream:
    // a station killed between emptying and writing would leave a recording
    // that no station can open. Bytes past a record's end are never read.
    CTKStream* stream =
        m_Container.OpenStream(name, copy, 0, loading ? m_Container.IsReadOnly() : 0, unit);
    if (!stream && !loading)
        stream = m_Container.CreateStream(name, copy, 0, unit);
    if (!stream)
        return;  // a missing stream leaves the record as it was
    CWinStreamFile file(stream, nullptr);
    try {
        CArchive ar(&file, loading ? CArchive::load : CArchive::store, kArchiveBuffer);
        if (type == CEegStreamType::estHeader) {
            m_Header.Serialize(ar);
            if (!loading)
                m_bHeaderChanged = 1;
        } else {
            m_PatientInfo.Serialize(ar);
            if (!loading)
                m_bPatientChanged = 1;
        }
        ar.Close();
    } catch (CArchiveException* e) {
        if (e->m_cause != CArchiveException::badSchema)
            throw;
        e->Delete();
        ThrowEegFileException(type == CEegStreamType::estHeader
                                  ? CEegFileException::eUnknownEegFileHeaderFormat
                                  : CEegFileException::eUnknownPatientDataFormat);
    }
    region.Restore(kRegionTimeoutMs);
    file.Close();
}

void CWinEegFile::BackupStream(CEegStreamType::EegStreamType type, const char* name, int unit) {
    CRegionLock region(m_AccessControl, type, 1, kRegionTimeoutMs);
    m_Container.CopyStreamFrom(name, 2, m_Container, name, 1, 0, unit);
    region.Restore(kRegionTimeoutMs);
}

void CWinEegFile::BackupPatientInfo() {
    std::lock_guard lock(m_FileLock);
    if (!m_bPatientChanged || m_bFileAccessDisabled)
        return;
    BackupStream(CEegStreamType::estPatient, kPatientStream, kPatientUnit);
    m_bPatientChanged = 0;
}

void CWinEegFile::BackupHeader() {
    std::lock_guard lock(m_FileLock);
    if (!m_bHeaderChanged || m_bFileAccessDisabled)
        return;
    BackupStream(CEegStreamType::estHeader, kHeaderStream, kHeaderUnit);
    m_bHeaderChanged = 0;
}

void CWinEegFile::BackupEventList() {
    std::lock_guard lock(m_FileLock);
    if (!m_bEventsChanged || m_bFileAccessDisabled)
        return;
    CRegionLock live(m_AccessControl, CEegStreamType::estEventList, 1, kRegionTimeoutMs);
    CTKStream* source = m_Container.OpenStream(kEventListStream, 1, 0, 1, kEventListUnit);
    live.Restore(kRegionTimeoutMs);
    if (source) {
        try {
            CRegionLock backup(m_AccessControl, CEegStreamType::estEventList, 2,
                               kBackupRegionTimeoutMs);
            m_Container.CopyStream(kEventListStream, 2, source, 0, kEventListUnit);
            backup.Restore(kRegionTimeoutMs);
        } catch (CException*) {
            m_Container.CloseStream(source);
            throw;
        }
        m_Container.CloseStream(source);
    }
    m_bEventsChanged = 0;
}

// ---------------------------------------------------------------- streams

void CWinEegFile::CreateEegStream() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    const int unit = ConfigureDataStream();
    CTKStream* stream = m_Container.CreateStream(kEegDataStream, 1, 0, unit, &m_DataStream);
    if (!stream)
        ThrowEegFileException(CEegFileException::eDataStorageAllocationFailure);
    m_DataStream.Attach(stream, 1, 0);
}

int CWinEegFile::OpenEegStream(int readOnly, uint32_t lastEventOffset) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return 0;
    const int unit = ConfigureDataStream();
    CTKStream* stream = m_Container.OpenStream(
        kEegDataStream, 1, 0, readOnly || m_Container.IsReadOnly(), unit, &m_DataStream);
    if (!stream)
        return 0;
    m_DataStream.Attach(stream, !stream->IsReadOnly(), lastEventOffset);
    return 1;
}

void CWinEegFile::CloseEegStream() {
    if (m_bFileAccessDisabled) {
        m_DataStream.CloseDisabled();
    } else {
        m_DataStream.Close();
    }
    std::lock_guard lock(m_FileLock);
    m_bEegStreamOpen = 0;
    m_bWriteEnabled = 0;
}

void CWinEegFile::CreateEventStream(CTKCompoundFile& container) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    m_EventStore.Attach(container.CreateStream(kEventListStream, 1, 0, kEventListUnit));
}

void CWinEegFile::OpenEventStream() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    m_EventStore.Attach(
        m_Container.OpenStream(kEventListStream, 1, 0, m_Container.IsReadOnly(), kEventListUnit));
    m_EventStore.Synchronize();
}

void CWinEegFile::CloseEventStream() {
    std::lock_guard lock(m_FileLock);
    m_EventStore.Close(m_bFileAccessDisabled);
}

void CWinEegFile::DeleteOldSegmentMarkStream() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    if (CTKStream* stream = m_Container.CreateStream(kSegMarkStream, 1, 0, kMarkUnit))
        m_Container.CloseStream(stream);
}

CTKStreamFile* CWinEegFile::OpenStreamFile(const char* path, const char* name, int copy,
                                           int allocationUnit, unsigned int openFlags) {
    const bool create = (openFlags & CFile::modeCreate) != 0;
    const bool noTruncate = (openFlags & CFile::modeNoTruncate) != 0;
    const int readOnly = !(create || (openFlags & CFile::modeReadWrite)) ? 1 : 0;
    auto container = std::make_unique<CTKCompoundFile>();
    // A container that cannot be opened (missing, damaged, locked) is the
    // caller's to hear about; only a missing stream is answered with null.
    container->Open(path, readOnly);
    if (!container->IsOpen())
        return nullptr;
    CTKStream* stream = nullptr;
    if (!create || noTruncate)
        stream = container->OpenStream(name, copy, 0, readOnly, allocationUnit);
    if (!stream && create)
        stream = container->CreateStream(name, copy, 0, allocationUnit);
    if (!stream)
        return nullptr;
    CTKCompoundFile* owned = container.release();
    return new CWinStreamFile(stream, owned);
}

CTKStreamFile* CWinEegFile::OpenStreamFile(const char* name, int copy, int allocationUnit,
                                           unsigned int openFlags) {
    std::lock_guard lock(m_FileLock);
    if (!IsOpen())
        return nullptr;
    const bool create = (openFlags & CFile::modeCreate) != 0;
    const bool noTruncate = (openFlags & CFile::modeNoTruncate) != 0;
    const int readOnly =
        !(create || (openFlags & CFile::modeReadWrite)) || m_Container.IsReadOnly();
    CTKStream* stream = nullptr;
    if (!create || noTruncate)
        stream = m_Container.OpenStream(name, copy, 0, readOnly, allocationUnit);
    if (!stream && create)
        stream = m_Container.CreateStream(name, copy, 0, allocationUnit);
    return stream ? new CWinStreamFile(stream, nullptr) : nullptr;
}

// ---------------------------------------------------------------- queries

int CWinEegFile::IsOpen() const {
    std::lock_guard lock(m_FileLock);
    CFileStatus status;
    return m_Container.IsOpen() && CFile::GetStatus(m_FilePath, status) ? 1 : 0;
}

int CWinEegFile::IsEmpty() const {
    return m_DataStream.GetLength() == 0 ? 1 : 0;
}

int CWinEegFile::IsReadOnly() const {
    std::lock_guard lock(m_FileLock);
    return m_Container.IsOpen() && m_Container.IsReadOnly() ? 1 : 0;
}

CEegAccessMode::EegAccessModeType CWinEegFile::GetAccessMode() const {
    std::lock_guard lock(m_FileLock);
    return m_AccessControl.GetAccessMode();
}

int CWinEegFile::GetLockFailureFlag() const {
    std::lock_guard lock(m_FileLock);
    return m_AccessControl.GetLockFailure();
}

const CAmpHardwareInfo& CWinEegFile::GetAmpHardwareInfo() const {
    std::lock_guard lock(m_FileLock);
    return m_Header.GetAmpHardwareInfo();
}

unsigned short CWinEegFile::GetMaxChannels() const {
    std::lock_guard lock(m_FileLock);
    return m_Header.GetMaxChannels();
}

double CWinEegFile::GetSampleRate() const {
    std::lock_guard lock(m_FileLock);
    return m_Header.GetSampleRate();
}

Compression::CompressionType CWinEegFile::GetCompressionType() {
    std::lock_guard lock(m_FileLock);
    return m_Header.GetCompressionType();
}

CEegTimeStamp CWinEegFile::GetBofTimeStamp() const {
    return CEegTimeStamp(0);
}

CEegTimeStamp CWinEegFile::GetEofTimeStamp() const {
    return CEegTimeStamp(m_DataStream.GetLength());
}

uint32_t CWinEegFile::GetLengthInSamples() const {
    return GetEofTimeStamp().GetSampleOffset();
}

uint32_t CWinEegFile::GetLengthInSeconds() const {
    std::lock_guard lock(m_FileLock);
    const uint32_t rate = static_cast<uint32_t>(GetSampleRate());
    return rate == 0 ? 0 : GetLengthInSamples() / rate;
}

int CWinEegFile::GetBytesPerSecondFile() const {
    return m_DataStream.GetBytesPerSecond();
}

int CWinEegFile::GetLiveModeUpdate() const {
    return m_DataStream.GetLiveMode();
}

void CWinEegFile::SetLiveModeUpdate(int on) {
    m_DataStream.SetLiveMode(on);
}

// ---------------------------------------------------------------- samples

CEegTimeStamp CWinEegFile::GetReadPosition() const {
    return CEegTimeStamp(m_DataStream.GetReadPosition());
}

void CWinEegFile::SetReadPosition(CEegTimeStamp position) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    m_DataStream.SetReadPosition(position.GetSampleOffset());
}

int CWinEegFile::ReadEegData(CEegDataChunk& chunk, uint32_t count) {
    std::lock_guard lock(m_FileLock);
    if (!Readable()) {
        chunk.SetNumberOfSamples(0);
        return 0;
    }
    try {
        return m_DataStream.ReadEegData(chunk, count);
    } catch (CException* e) {
        if (MakesFileUnusable(e))
            DisableFileAccess();
        throw;
    }
}

void CWinEegFile::Synchronize() {
    std::lock_guard lock(m_FileLock);
    if (!Readable())
        return;
    m_DataStream.Synchronize();
    m_EventStore.Synchronize();
}

void CWinEegFile::WriteEegData(CEegDataChunk& chunk) {
    std::lock_guard lock(m_FileLock);
    if (!m_bWriteEnabled || m_bFileAccessDisabled)
        return;
    if (m_Container.IsReadOnly())
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    m_DataStream.Write(chunk);
}

void CWinEegFile::StartRecording(COleDateTime start) {
    {
        std::lock_guard lock(m_FileLock);
        if (!m_bWriteEnabled || m_bFileAccessDisabled)
            return;
    }
    // Without the file lock: the flush at its start may wait for the write thread.
    m_DataStream.StartRecording(start);
}

void CWinEegFile::StopRecording() {
    {
        std::lock_guard lock(m_FileLock);
        if (!m_bWriteEnabled || m_bFileAccessDisabled)
            return;
    }
    m_DataStream.StopRecording();
}

void CWinEegFile::SetWriteThreadOnOff(int on) {
    m_DataStream.SetWriteThreadOnOff(on);
}

void CWinEegFile::SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>& callback) {
    m_DataStream.SetWriteThreadExceptionCallBack(&callback);
}

void CWinEegFile::FlushWriteBuffer() {
    if (m_bFileAccessDisabled)
        return;
    m_DataStream.Flush();
}

int CWinEegFile::PadPartialSecond() {
    return m_DataStream.PadPartialSecond();
}

void CWinEegFile::DiscardWriteBufferData() {
    m_DataStream.DiscardWriteBufferData();
}
