#include "EegFile/frame/EegFile.h"

#include "EegFile/access/EegAccessControl.h"

#include <mutex>
#include <strings.h>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegMontage.h"
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/access/EegOpenFileList.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "EegFile/events/MontageEvent.h"
#include "EegFile/events/TraceInfoEvent.h"
#include "Platform/File.h"

namespace {
constexpr int kFirstPairInput = 24;  // inputs 24-31 may be recorded as act/ref pairs
constexpr int kPairInputs = 8;
constexpr int kRefInput = 50;  // AmpInput "Ref": the amplifier's common reference

bool IsPairInput(int input) {
    return input >= kFirstPairInput && input < kFirstPairInput + kPairInputs;
}

std::mutex g_formatsMutex;
CEegFile::FormatStatics g_formats[2];  // [0] current format, [1] legacy
bool g_installed[2] = {false, false};

// A format's table, installed on first use. Called under g_formatsMutex.
CEegFile::FormatStatics& Table(bool dos) {
    const int i = dos ? 1 : 0;
    auto* format = dos ? CEegFile::DosFormatStatics : CEegFile::CurrentFormatStatics;
    if (!g_installed[i] && format) {
        g_formats[i] = format();
        g_installed[i] = true;
    }
    return g_formats[i];
}

CEegFile::FormatStatics Formats(const char* path) {
    std::lock_guard lock(g_formatsMutex);
    return Table(CEegFile::IsDosRecordingPath(path));
}
}  // namespace

CTKStreamFile* CEegFile::OpenStreamFile(const char*, int, int, unsigned int) {
    return nullptr;
}

int CEegFile::IsReadOnly() const {
    return 0;
}

void CEegFile::SetForceOpenAsReadOnly(int on) {
    std::lock_guard lock(m_FileLock);
    m_bForceOpenAsReadOnly = on;
}

CString CEegFile::GetFilePath() const {
    std::lock_guard lock(m_FileLock);
    return m_FilePath;
}

int CEegFile::ReadEegDataAt(CEegTimeStamp at, CEegDataChunk& chunk, uint32_t count) {
    std::lock_guard lock(m_FileLock);
    const CEegTimeStamp saved = GetReadPosition();
    SetReadPosition(at);
    int result;
    try {
        result = ReadEegData(chunk, count);
    } catch (CException*) {
        SetReadPosition(saved);
        throw;
    }
    SetReadPosition(saved);
    return result;
}

void CEegFile::CheckForReadOnly(const char* path, int& readOnly) {
    std::lock_guard lock(m_FileLock);
    readOnly = m_bForceOpenAsReadOnly;
    CFileStatus status;
    if (!CFile::GetStatus(path, status)) {
        m_bFileAccessDisabled = 1;
        AfxThrowFileException(CFileException::fileNotFound, -1, path);
    }
    if (m_bForceOpenAsReadOnly)
        return;
    readOnly = (status.m_attribute & CFile::readOnly) ? 1 : 0;
    if (!readOnly) {
        // A file that another station holds with write sharing denied can only be read.
        CFile probe;
        if (probe.Open(path, CFile::modeReadWrite | CFile::shareDenyNone)) {
            probe.Close();
        } else {
            readOnly = 1;
        }
    }
}

void CEegFile::AddToOpenFileList() {
    std::lock_guard lock(m_FileLock);
    // The entry carries the record's status and identifier; a record that cannot
    // be read is the caller's failure, not an entry with a blank record.
    CPatientInfo info;
    GetPatientInfo(m_FilePath, info);
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Add(m_FilePath, info.GetRecordStatus(), info.GetQmFileId());
    list.Store();
}

void CEegFile::RemoveFromOpenFileList() {
    std::lock_guard lock(m_FileLock);
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Remove(m_FilePath);
    list.Store();
}

void CEegFile::GetActRefArrayAt(const CEegTimeStamp& at, int* const flags) const {
    std::lock_guard lock(m_FileLock);
    for (int i = 0; i < kPairInputs; ++i)
        flags[i] = 0;
    if (!GetAmpHardwareInfo().GetActRefCanUseCommon())
        return;

    CEegEventMask mask;
    mask.SetAll(1);
    mask.SetMask(CEegEvent::etMontage, 0);
    mask.SetMask(CEegEvent::etTraceInfo, 0);
    CEegEventList events;
    GetEventList(events, mask, CEegTimeStamp::NullStamp, at, 0, 0);

    // Replay the montage and trace changes; each state adds the pairs it needs.
    CEegMontage working;
    for (int i = 0; i < events.GetSize(); ++i) {
        const CEegEvent* e = events.GetAt(i);
        if (e->GetEventType() == CEegEvent::etMontage) {
            working = static_cast<const CMontageEvent*>(e)->GetMontage();
        } else if (e->GetEventType() == CEegEvent::etTraceInfo) {
            const auto* t = static_cast<const CTraceInfoEvent*>(e);
            const int channel = t->GetChannelNumber();
            if (channel < 0 || channel >= CEegMontage::kMaxTraces)
                continue;
            working.SetTraceInfo(channel, t->GetTraceInfo());
        } else {
            continue;
        }
        ExtractActRefPairSetting(working, flags);
    }
}

void CEegFile::ExtractActRefPairSetting(const CEegMontage& montage, int* const flags) const {
    std::lock_guard lock(m_FileLock);
    int takenByCommon[kPairInputs] = {};
    if (const CAverageReference* avg = montage.GetAvgRef()) {
        for (int i = 0; i < avg->GetInputCount(); ++i) {
            const int input = avg->GetInput(i);
            if (IsPairInput(input))
                flags[input - kFirstPairInput] = 1;
        }
    }
    for (int c = 0; c < montage.GetChannelCount(); ++c) {
        const CTraceInfo& trace = montage.GetTraceInfo(c);
        const int a = trace.GetActInput();
        const int r = trace.GetRefInput();
        if (IsPairInput(a) && !takenByCommon[a - kFirstPairInput]) {
            if (r == kRefInput) {
                takenByCommon[a - kFirstPairInput] = 1;
                flags[a - kFirstPairInput] = 0;
                continue;
            }
            flags[a - kFirstPairInput] = 1;
        }
        if (IsPairInput(r) && !takenByCommon[r - kFirstPairInput])
            flags[r - kFirstPairInput] = 1;
    }
}

bool CEegFile::IsDosRecordingPath(const char* path) {
    // Only the last component's last extension counts: "x.LOG.bak" is not a log.
    const CString p(path);
    const CString name = p.Mid(p.ReverseFind('/') + 1);
    const int dot = name.ReverseFind('.');
    return dot >= 0 && strcasecmp(name.Mid(dot), ".LOG") == 0;
}

CEegFile::FormatStatics CEegFile::SetFormatStatics(bool dos, const FormatStatics& statics) {
    std::lock_guard lock(g_formatsMutex);
    FormatStatics& table = Table(dos);
    const FormatStatics old = table;
    table = statics;
    return old;
}

int CEegFile::GetPatientInfo(const char* path, CPatientInfo& info) {
    auto f = Formats(path).GetPatientInfo;
    return f ? f(path, info) : 0;
}

int CEegFile::SetPatientInfo(const char* path, CPatientInfo& info, int includingStatus) {
    auto f = Formats(path).SetPatientInfo;
    return f ? f(path, info, includingStatus) : 0;
}

int CEegFile::GetRecordStatus(const char* path, CPatientInfo::RecordStatus& status) {
    auto f = Formats(path).GetRecordStatus;
    return f ? f(path, status) : 0;
}

int CEegFile::SetRecordStatus(const char* path, CPatientInfo::RecordStatus newStatus,
                              CPatientInfo::RecordStatus expected,
                              CPatientInfo::RecordStatus* previous) {
    auto f = Formats(path).SetRecordStatus;
    return f ? f(path, newStatus, expected, previous) : 0;
}

int CEegFile::SetStatusForArchive(const char* path, CPatientInfo::RecordStatus status,
                                  const CString& qmFileId, CPatientInfo& before) {
    auto f = Formats(path).SetStatusForArchive;
    return f ? f(path, status, qmFileId, before) : 0;
}

int CEegFile::SetQmFileId(const char* path, const CString& qmFileId, CPatientInfo& before) {
    auto f = Formats(path).SetQmFileId;
    return f ? f(path, qmFileId, before) : 0;
}

void CEegFile::CleanUpStationEntries(const char* path, CPatientInfo::RecordStatus status,
                                     const CString& qmFileId, int& wasWriting) {
    {
        CEegAccessControl access;
        access.RemoveStationEntries(path, wasWriting);
    }
    if (wasWriting) {
        // Only a recording that still says so: a later station may have moved it on.
        SetRecordStatus(path, CPatientInfo::rsReadyToRead, CPatientInfo::rsRecording, nullptr);
    } else if (status != CPatientInfo::rsUnknown) {
        CPatientInfo before;
        SetStatusForArchive(path, status, qmFileId, before);
    }
}

CEegFileProblemList CEegFile::CheckFile(const char* path, int readData) {
    CEegFileProblemList problems;
    if (auto f = Formats(path).CheckFile) {
        f(path, readData, problems);
    } else {
        problems.push_back({path, "no reader of this format is linked in"});
    }
    return problems;
}

void CEegFile::CleanUpOpenFile(const char* path, CPatientInfo::RecordStatus status,
                               const CString& text, int& result) {
    auto f = Formats(path).CleanUpOpenFile;
    if (f) {
        f(path, status, text, result);
    } else {
        result = 0;
    }
}
