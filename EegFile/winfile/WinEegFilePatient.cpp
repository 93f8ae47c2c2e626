// The patient record and its record status: the members on an open recording
// and the statics that read or change the record of a recording by path.
//
// The record lives in copy 1 of "Patient" and is always rewritten from the
// stream's start; bytes beyond the record's end are never read.

#include "EegFile/container/TKCompoundFileScopes.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Archive.h"

namespace {
constexpr int kArchiveBuffer = 4096;

// The patient region (stream type 1, copy 1) of the lock file as a lock hook,
// so that CTKHookScope can hold it for a scope and put back its previous state.
class CPatientRegionHook : public CTKLockHook {
public:
    explicit CPatientRegionHook(CEegAccessControl& access) : m_access(access) {}
    int SetLockState(int state) override {
        return m_access.SetLockState(CEegStreamType::estPatient, 1, state,
                                     CWinEegFile::kRegionTimeoutMs);
    }

private:
    CEegAccessControl& m_access;
};

void LoadRecord(CFile& file, const char* path, CPatientInfo& info) {
    CArchive ar(&file, CArchive::load, kArchiveBuffer);
    ar.m_strFileName = path;
    info.Serialize(ar);
    ar.Close();
}

void StoreRecord(CFile& file, const char* path, const CPatientInfo& info) {
    CArchive ar(&file, CArchive::store, kArchiveBuffer);
    ar.m_strFileName = path;
    // Serialize is not const, as it serves both directions; storing leaves the record as it is.
    const_cast<CPatientInfo&>(info).Serialize(ar);
    ar.Close();
}

// A record of a version this library does not read is the recording's own
// fault (code 2); any other archive fault goes to the caller as it is.
[[noreturn]] void RethrowArchiveFault(CArchiveException* e) {
    if (e->m_cause != CArchiveException::badSchema)
        throw e;
    e->Delete();
    ThrowEegFileException(CEegFileException::eUnknownPatientDataFormat);
}
}  // namespace

// ---------------------------------------------------------------- members

const CPatientInfo& CWinEegFile::GetPatientInfo() {
    std::lock_guard lock(m_FileLock);
    if (!m_bFileAccessDisabled)
        SerializeMember(CEegStreamType::estPatient, 1, 1);
    return m_PatientInfo;
}

void CWinEegFile::SetPatientInfo(const CPatientInfo& info, int includingStatus) {
    std::lock_guard lock(m_FileLock);
    if (m_Container.IsOpen() && m_Container.IsReadOnly())
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    if (m_bFileAccessDisabled) {
        m_PatientInfo = info;
        return;
    }
    if (includingStatus) {
        m_PatientInfo = info;
    } else {
        SerializeMember(CEegStreamType::estPatient, 1, 1);
        const CPatientInfo::RecordStatus kept = m_PatientInfo.GetRecordStatus();
        m_PatientInfo = info;
        m_PatientInfo.SetRecordStatus(kept);
    }
    SerializeMember(CEegStreamType::estPatient, 0, 1);
}

CPatientInfo::RecordStatus CWinEegFile::GetRecordStatus() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return CPatientInfo::rsUnknown;
    SerializeMember(CEegStreamType::estPatient, 1, 1);
    return m_PatientInfo.GetRecordStatus();
}

void CWinEegFile::SetRecordStatus(CPatientInfo::RecordStatus newStatus,
                                  CPatientInfo::RecordStatus expected) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    // The workflow changes the status from several stations and programs; a
    // change that cannot be made is not the caller's to handle.
    try {
        // Held across the read and the write, so that no other station's change
        // falls between them (SerializeMember's own take of it nests inside).
        CPatientRegionHook hook(m_AccessControl);
        CTKHookScope region(&hook);
        SerializeMember(CEegStreamType::estPatient, 1, 1);
        if (expected == CPatientInfo::rsAny || m_PatientInfo.GetRecordStatus() == expected) {
            m_PatientInfo.SetRecordStatus(newStatus);
            SerializeMember(CEegStreamType::estPatient, 0, 1);
        }
        region.Restore();
    } catch (CException* e) {
        e->Delete();
    }
}

// ---------------------------------------------------------------- by path

int CWinEegFile::ReadPatientByScan(const char* path, CPatientInfo& info) {
    try {
        // A container of its own, without hooks: a reader by path registers
        // nowhere and locks nothing, so it never waits for a recording station.
        CTKCompoundFile container;
        CTKStream* stream =
            container.OpenStreamByScan(path, kPatientStream, 1, 0, 1, kPatientUnit, nullptr);
        if (!stream)
            return 0;
        CTKStreamFile file(stream, TRUE, nullptr);
        LoadRecord(file, path, info);
        file.Close();
        container.Close();
        return 1;
    } catch (CArchiveException* e) {
        RethrowArchiveFault(e);
    } catch (CException* e) {
        e->Delete();
        return 0;
    }
}

int CWinEegFile::ChangePatientByPath(
    const char* path, int openEnded, int allocationUnit, bool readFirst,
    const std::function<const CPatientInfo*(const CPatientInfo& stored)>& decide) {
    CEegAccessControl access;
    // Declared after the access control, so destroyed first: its hooks call it.
    CTKCompoundFile container;
    container.SetWriterHook(access.GetWriterHook());
    container.SetDirectoryHook(access.GetDirectoryHook());
    int result = 0;
    try {
        access.SetPaths(path);
        // Not checked: a station holding the recording exclusively leaves this
        // one without a lock file, and the change then goes ahead unlocked.
        access.TakeMode(CEegAccessMode::eamRead);
        CPatientRegionHook hook(access);
        CTKHookScope region(&hook);
        CTKStream* stream = container.OpenStreamByScan(path, kPatientStream, 1, openEnded, 0,
                                                       allocationUnit, nullptr);
        if (stream) {
            CTKStreamFile file(stream, TRUE, nullptr);
            CPatientInfo stored;
            if (readFirst)
                LoadRecord(file, path, stored);
            if (const CPatientInfo* record = decide(stored)) {
                file.Seek(0, CFile::begin);
                StoreRecord(file, path, *record);
            }
            file.Close();
            result = 1;
        }
        // Every write is committed while the region is still held.
        container.Close();
        region.Restore();
        access.Release();
        return result;
    } catch (CException* e) {
        // The stream file and the region were given up on the way here.
        container.Abort();
        try {
            access.Release();
        } catch (CException* again) {
            again->Delete();
            access.ReleaseWithoutUpdate();
        }
        if (auto* archive = dynamic_cast<CArchiveException*>(e))
            RethrowArchiveFault(archive);
        e->Delete();
        return 0;
    }
}

int CWinEegFile::GetPatientInfo(const char* path, CPatientInfo& info) {
    info.Initialize();
    return ReadPatientByScan(path, info);
}

int CWinEegFile::SetPatientInfo(const char* path, CPatientInfo& info, int includingStatus) {
    return ChangePatientByPath(path, 0, kPatientUnit, !includingStatus,
                               [&](const CPatientInfo& stored) {
                                   if (!includingStatus)
                                       info.SetRecordStatus(stored.GetRecordStatus());
                                   return &info;
                               });
}

int CWinEegFile::GetRecordStatus(const char* path, CPatientInfo::RecordStatus& status) {
    // Set first, so that a record that throws also leaves "unknown".
    status = CPatientInfo::rsUnknown;
    CPatientInfo info;
    if (!GetPatientInfo(path, info))
        return 0;
    status = info.GetRecordStatus();
    return 1;
}

// The status and identifier changes write through an open-ended stream: the
// record may grow with a longer identifier, and that stream takes whatever room
// its section has without changing the section's size.
int CWinEegFile::SetRecordStatus(const char* path, CPatientInfo::RecordStatus newStatus,
                                 CPatientInfo::RecordStatus expected,
                                 CPatientInfo::RecordStatus* previous) {
    if (previous)
        *previous = CPatientInfo::rsUnknown;
    CPatientInfo changed;
    return ChangePatientByPath(
        path, 1, 0, true, [&](const CPatientInfo& stored) -> const CPatientInfo* {
            if (previous)
                *previous = stored.GetRecordStatus();
            if (expected != CPatientInfo::rsAny && stored.GetRecordStatus() != expected)
                return nullptr;
            changed = stored;
            changed.SetRecordStatus(newStatus);
            return &changed;
        });
}

int CWinEegFile::SetStatusForArchive(const char* path, CPatientInfo::RecordStatus status,
                                     const CString& qmFileId, CPatientInfo& before) {
    before.Initialize();
    CPatientInfo changed;
    return ChangePatientByPath(path, 1, 0, true, [&](const CPatientInfo& stored) {
        before = stored;
        changed = stored;
        changed.SetRecordStatus(status);
        changed.SetQmFileId(qmFileId);
        return &changed;
    });
}

int CWinEegFile::SetQmFileId(const char* path, const CString& qmFileId, CPatientInfo& before) {
    before.Initialize();
    CPatientInfo changed;
    return ChangePatientByPath(path, 1, 0, true, [&](const CPatientInfo& stored) {
        before = stored;
        changed = stored;
        changed.SetQmFileId(qmFileId);
        return &changed;
    });
}

void CWinEegFile::CleanUpOpenFile(const char* path, CPatientInfo::RecordStatus status,
                                  const CString& qmFileId, int& wasWriting) {
    CleanUpStationEntries(path, status, qmFileId, wasWriting);
}

CEegFile::FormatStatics CEegFile::CurrentFormatStatics() {
    return StaticsOf<CWinEegFile>();
}
