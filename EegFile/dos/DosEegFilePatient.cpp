// The patient record of a legacy recording: the site's patient database first,
// then the patient file beside the log, then a default record.
#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosPatientDB.h"
#include "EegFile/dos/DosPdbFile.h"
#include "Platform/File.h"
#include "Platform/OleDateTime.h"
#include "Platform/StringTable.h"
#include "Platform/Time.h"

namespace {

constexpr UINT kUnknownPatientString = 112;

// Runs a database operation; a failure is reported (a locked or missing database
// must be seen, not only fallen back from) and answers 0.
template <class F>
int OnDatabase(const char* operation, F&& f) {
    try {
        return f();
    } catch (CException* e) {
        TKReportExceptionOperation(e, operation, "DosEegFilePatient", __LINE__, 0);
        e->Delete();
        return 0;
    }
}

}  // namespace

int CDosEegFile::GetPatientInfoFromDb(const char* path, CPatientInfo& info) {
    if (!CDosPatientDB::FileIsInDbDataDir(path))
        return 0;
    const int number = CDosPatientDB::NewGetRecordNumber(path);
    return OnDatabase("Read Patient Record", [&] {
        CDosPatientDB db;
        return db.GetPatientInfo(number, info);
    });
}

int CDosEegFile::GetPatientInfoFromPdb(const char* path, CPatientInfo& info) {
    info.Initialize();
    const int number = CDosPatientDB::NewGetRecordNumber(path);
    if (number >= 0) {
        CString text;
        text.Format("%d", number);
        info.SetLogNumber(text);
    }
    return CDosPdbFile(path).GetPatientInfo(info);
}

int CDosEegFile::GetPatientInfo(const char* path, CPatientInfo& info) {
    if (GetPatientInfoFromDb(path, info) || GetPatientInfoFromPdb(path, info))
        return 1;
    info.Initialize();
    info.SetLastName(AfxLoadString(kUnknownPatientString));
    info.SetRecordStatus(CPatientInfo::rsReadyToRead);
    CFileStatus status;
    if (CFile::GetStatus(path, status)) {
        const CTime written(static_cast<int32_t>(status.m_mtime));
        info.SetRecordDate(COleDateTime(written.GetYear(), written.GetMonth(), written.GetDay(),
                                        written.GetHour(), written.GetMinute(), written.GetSecond())
                               .m_dt);
    }
    return 1;
}

int CDosEegFile::SetPatientInfoToDb(const char* path, CPatientInfo& info, int includingStatus) {
    if (!CDosPatientDB::FileIsInDbDataDir(path))
        return 0;
    const int number = CDosPatientDB::NewGetRecordNumber(path);
    return OnDatabase("Write Patient Record", [&] {
        CDosPatientDB db;
        return db.SetPatientInfo(number, info, includingStatus);
    });
}

int CDosEegFile::SetPatientInfoToPdb(const char* path, CPatientInfo& info, int includingStatus) {
    CDosPdbFile pdb(path);
    return pdb.SetPatientInfo(info, includingStatus);
}

int CDosEegFile::SetPatientInfo(const char* path, CPatientInfo& info, int includingStatus) {
    return SetPatientInfoToDb(path, info, includingStatus) ||
                   SetPatientInfoToPdb(path, info, includingStatus)
               ? 1
               : 0;
}

int CDosEegFile::GetRecordStatus(const char* path, CPatientInfo::RecordStatus& status) {
    status = CPatientInfo::rsUnknown;
    CPatientInfo info;
    GetPatientInfo(path, info);
    status = info.GetRecordStatus();
    return 1;
}

int CDosEegFile::SetRecordStatus(const char* path, CPatientInfo::RecordStatus newStatus,
                                 CPatientInfo::RecordStatus expected,
                                 CPatientInfo::RecordStatus* previous) {
    if (previous)
        *previous = CPatientInfo::rsUnknown;
    CPatientInfo info;
    GetPatientInfo(path, info);
    if (previous)
        *previous = info.GetRecordStatus();
    if (expected != CPatientInfo::rsAny && expected != info.GetRecordStatus())
        return 1;
    info.SetRecordStatus(newStatus);
    return SetPatientInfo(path, info, 1);
}

int CDosEegFile::SetStatusForArchive(const char* path, CPatientInfo::RecordStatus status,
                                     const CString& qmFileId, CPatientInfo& out) {
    out.Initialize();
    GetPatientInfo(path, out);
    out.SetRecordStatus(status);
    out.SetQmFileId(qmFileId);
    return SetPatientInfo(path, out, 1);
}

int CDosEegFile::SetQmFileId(const char* path, const CString& qmFileId, CPatientInfo& out) {
    out.Initialize();
    GetPatientInfo(path, out);
    out.SetQmFileId(qmFileId);
    return SetPatientInfo(path, out, 1);
}

void CDosEegFile::CleanUpOpenFile(const char* path, CPatientInfo::RecordStatus status,
                                  const CString& qmFileId, int& wasWriting) {
    CleanUpStationEntries(path, status, qmFileId, wasWriting);
}

// ---------------------------------------------------------------- members

const CPatientInfo& CDosEegFile::GetPatientInfo() {
    std::lock_guard lock(m_FileLock);
    GetPatientInfo(m_FilePath, m_PatientInfo);
    return m_PatientInfo;
}

void CDosEegFile::SetPatientInfo(const CPatientInfo& info, int includingStatus) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    m_PatientInfo = info;
    SetPatientInfo(m_FilePath, m_PatientInfo, includingStatus);
}

CPatientInfo::RecordStatus CDosEegFile::GetRecordStatus() {
    std::lock_guard lock(m_FileLock);
    CPatientInfo::RecordStatus status = CPatientInfo::rsUnknown;
    return GetRecordStatus(m_FilePath, status) ? status : CPatientInfo::rsUnknown;
}

void CDosEegFile::SetRecordStatus(CPatientInfo::RecordStatus newStatus,
                                  CPatientInfo::RecordStatus expected) {
    std::lock_guard lock(m_FileLock);
    if (!m_bFileAccessDisabled)
        SetRecordStatus(m_FilePath, newStatus, expected, nullptr);
}

CEegFile::FormatStatics CEegFile::DosFormatStatics() {
    return StaticsOf<CDosEegFile>();
}
