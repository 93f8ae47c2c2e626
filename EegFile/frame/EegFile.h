// CEegFile: the one interface through which callers use a recording, whatever
// its format. Holds what every format shares (path, file lock, patient record,
// two flags), implements what can be written in terms of other virtual
// operations, and offers statics that act on a recording by path, picking the
// format from the file name.
//
// Locking: m_FileLock is recursive; every public operation of a format takes it
// for its whole run, so an operation may call others of the same object. The
// write thread and user threads serialise on it.
#pragma once

#include <cstdint>
#include <mutex>

#include "EegBase/PatientInfo.h"
#include "EegFile/frame/CallBacks.h"
#include "EegFile/frame/EegFileCheck.h"
#include "EegFile/frame/EegEnums.h"
#include "EegFile/frame/EegTimeStamp.h"
#include "EegFile/frame/TKTime.h"
#include "Platform/Exception.h"
#include "Platform/OleDateTime.h"
#include "Platform/String.h"

class CAmpHardwareInfo;
class CDataDeletionEvent;
class CDataMarkDeleteEvent;
class CEegDataChunk;
class CEegEvent;
class CEegEventList;
class CEegEventMask;
class CEegMontage;
class CTKStreamFile;

class CEegFile {
public:
    CEegFile() = default;
    virtual ~CEegFile() = default;
    CEegFile(const CEegFile&) = delete;
    CEegFile& operator=(const CEegFile&) = delete;

    virtual void DisableFileAccess() = 0;
    virtual int GetDisableFileAccess() const = 0;
    virtual void SetEegWriteBufferSize(int bytes) = 0;
    virtual void Create(const char* path) = 0;
    virtual void PrepareToWriteEeg(double sampleRate, Compression::CompressionType compression,
                                   const CAmpHardwareInfo& amp) = 0;
    virtual void Open(const char* path, int forWriting) = 0;
    virtual void Close() = 0;
    // Opens or creates a further named stream (name, copy, allocation unit, flags).
    virtual CTKStreamFile* OpenStreamFile(const char* name, int copy, int allocationUnit,
                                          unsigned int openFlags);
    virtual int IsOpen() const = 0;
    virtual int IsEmpty() const = 0;
    virtual int IsReadOnly() const;
    virtual void StartRecording(COleDateTime start) = 0;
    virtual void StopRecording() = 0;
    virtual void SetWriteThreadOnOff(int on) = 0;
    virtual void SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>& callback) = 0;
    virtual const CPatientInfo& GetPatientInfo() = 0;
    virtual void SetPatientInfo(const CPatientInfo& info, int includingStatus) = 0;
    virtual CPatientInfo::RecordStatus GetRecordStatus() = 0;
    virtual void SetRecordStatus(CPatientInfo::RecordStatus newStatus,
                                 CPatientInfo::RecordStatus expected) = 0;
    virtual const CAmpHardwareInfo& GetAmpHardwareInfo() const = 0;
    virtual unsigned short GetMaxChannels() const = 0;
    virtual double GetSampleRate() const = 0;
    virtual Compression::CompressionType GetCompressionType() = 0;
    virtual void WriteEegData(CEegDataChunk& chunk) = 0;
    // Reads count samples from `at`, leaving the read position where it was.
    virtual int ReadEegDataAt(CEegTimeStamp at, CEegDataChunk& chunk, uint32_t count);
    virtual CEegTimeStamp GetReadPosition() const = 0;
    virtual void SetReadPosition(CEegTimeStamp position) = 0;
    virtual int ReadEegData(CEegDataChunk& chunk, uint32_t count) = 0;
    virtual void SetMarkForDelete(int on) = 0;
    // The recording takes the mark once it has added it (IsEventValid then says
    // so); when it adds nothing, or refuses, the caller still owns the mark.
    virtual void AddDataMark(CDataMarkDeleteEvent* mark) = 0;
    virtual void RemoveDataMark(CDataMarkDeleteEvent* mark) = 0;
    virtual void RemoveAllDataMarks() = 0;
    virtual void RemoveAllEegDataMarks() = 0;
    virtual void RemoveAllVideoDataMarks() = 0;
    virtual void SyncDataMarks() = 0;
    virtual int64_t DeleteMarkedEegData(CVoidCall1Arg<int64_t>* progress) = 0;
    virtual int GetMarkForDelete() = 0;
    virtual void SetDeleteEegDataOnClose() = 0;
    virtual int GetDeleteEegDataOnClose() const = 0;
    virtual int GetMarkAccess(CString& holders) = 0;
    virtual int GetExclusiveAccess(CString& holders) = 0;
    virtual void GetDataMarkList(CEegEventList& list) = 0;
    virtual int IsEventValid(CDataMarkDeleteEvent* mark) = 0;
    virtual int InDeleteSegment(CDataDeletionEvent& segment, CEegTimeStamp at) = 0;
    virtual void GetMarkedSegmentList(CEegEventList& list, const CEegTimeStamp& from,
                                      const CEegTimeStamp& to, uint32_t maxCount) const = 0;
    virtual void FlushWriteBuffer() = 0;
    virtual int PadPartialSecond() = 0;
    virtual void DiscardWriteBufferData() = 0;
    virtual CEegTimeStamp GetBofTimeStamp() const = 0;
    virtual CEegTimeStamp GetEofTimeStamp() const = 0;
    // Eight flags, for inputs 24 to 31: 1 where the input must be recorded as an
    // active/reference pair at `at`, 0 where it can use the common reference.
    virtual void GetActRefArrayAt(const CEegTimeStamp& at, int* const flags) const;
    virtual int GetMontageAt(const CEegTimeStamp& at, CEegMontage& montage) const = 0;
    virtual int GetPaperSpeedAt(const CEegTimeStamp& at, double& speed) const = 0;
    virtual int GetLinkedSensitivityAt(const CEegTimeStamp& at, double& value) const = 0;
    virtual int GetLinkedLowCutAt(const CEegTimeStamp& at, double& value) const = 0;
    virtual int GetLinkedHighCutAt(const CEegTimeStamp& at, double& value) const = 0;
    virtual CTKTime GetStartTime() const = 0;
    virtual CTKTime GetTimeOfDay(uint32_t sampleOffset) const = 0;
    virtual uint32_t GetSampleOffset(CTKTime time) const = 0;
    virtual float GetTodElapsed(uint32_t from, uint32_t to) const = 0;
    virtual int GetNumberOfEvents() const = 0;
    virtual int AddEvent(const CEegEvent* event) = 0;
    virtual void RemoveEvent(const CEegEvent* event) = 0;
    virtual void RemoveEvents(CEegEventList& events) = 0;
    virtual void GetEventList(CEegEventList& list, const CEegEventMask& mask,
                              const CEegTimeStamp& from, const CEegTimeStamp& to, uint32_t maxCount,
                              unsigned short minPriority) const = 0;
    virtual uint32_t GetLengthInSeconds() const = 0;
    virtual uint32_t GetLengthInSamples() const = 0;
    virtual int GetLiveModeUpdate() const = 0;
    virtual void SetLiveModeUpdate(int on) = 0;
    virtual void Synchronize() = 0;
    virtual CEegAccessMode::EegAccessModeType GetAccessMode() const = 0;
    virtual int GetLockFailureFlag() const = 0;
    virtual int GetBytesPerSecondFile() const = 0;

    void SetForceOpenAsReadOnly(int on);
    CString GetFilePath() const;

    // Statics acting on a recording by path. A path whose last extension is ".LOG"
    // in any case is a legacy recording; anything else is a current-format one.
    static int GetPatientInfo(const char* path, CPatientInfo& info);
    static int SetPatientInfo(const char* path, CPatientInfo& info, int includingStatus);
    static int GetRecordStatus(const char* path, CPatientInfo::RecordStatus& status);
    static int SetRecordStatus(const char* path, CPatientInfo::RecordStatus newStatus,
                               CPatientInfo::RecordStatus expected,
                               CPatientInfo::RecordStatus* previous);
    static int SetStatusForArchive(const char* path, CPatientInfo::RecordStatus status,
                                   const CString& qmFileId, CPatientInfo& before);
    static int SetQmFileId(const char* path, const CString& qmFileId, CPatientInfo& before);
    static void CleanUpOpenFile(const char* path, CPatientInfo::RecordStatus status,
                                const CString& text, int& result);

    // Checks every structure of the recording at path without changing it and
    // returns the problems found (none: the recording is sound). With readData
    // 0 the samples are not read back, only the structures that hold them. A
    // file that cannot be read at all (missing, refused) throws its exception.
    static CEegFileProblemList CheckFile(const char* path, int readData = 1);

    static bool IsDosRecordingPath(const char* path);

    // The by-path operations of one format. The statics above forward to the
    // legacy table or the current one; an entry left null answers failure (0).
    struct FormatStatics {
        int (*GetPatientInfo)(const char*, CPatientInfo&) = nullptr;
        int (*SetPatientInfo)(const char*, CPatientInfo&, int) = nullptr;
        int (*GetRecordStatus)(const char*, CPatientInfo::RecordStatus&) = nullptr;
        int (*SetRecordStatus)(const char*, CPatientInfo::RecordStatus, CPatientInfo::RecordStatus,
                               CPatientInfo::RecordStatus*) = nullptr;
        int (*SetStatusForArchive)(const char*, CPatientInfo::RecordStatus, const CString&,
                                   CPatientInfo&) = nullptr;
        int (*SetQmFileId)(const char*, const CString&, CPatientInfo&) = nullptr;
        void (*CleanUpOpenFile)(const char*, CPatientInfo::RecordStatus, const CString&,
                                int&) = nullptr;
        void (*CheckFile)(const char*, int, CEegFileProblemList&) = nullptr;
    };
    // A format's table: the statics of the same names in its class.
    template <class Format>
    static FormatStatics StaticsOf() {
        FormatStatics statics;
        statics.GetPatientInfo = &Format::GetPatientInfo;
        statics.SetPatientInfo = &Format::SetPatientInfo;
        statics.GetRecordStatus = &Format::GetRecordStatus;
        statics.SetRecordStatus = &Format::SetRecordStatus;
        statics.SetStatusForArchive = &Format::SetStatusForArchive;
        statics.SetQmFileId = &Format::SetQmFileId;
        statics.CleanUpOpenFile = &Format::CleanUpOpenFile;
        statics.CheckFile = &Format::CheckFile;
        return statics;
    }
    // Replaces a format's table (each format installs its own); returns the old one.
    static FormatStatics SetFormatStatics(bool dos, const FormatStatics& statics);
    // The current format's table. Defined with that format's statics in the
    // library EegFile; only declared here, so the frame includes none of its
    // headers. The statics above install it on first use rather than the format
    // installing itself from a static initialiser: a linker takes an object out
    // of a static library only when something refers to it. The reference is
    // weak, so that a program of the shared part and the legacy format alone
    // links without the current format (and finds no table); the EegFile target
    // makes its programs ask for the symbol, which brings the table in.
    static FormatStatics CurrentFormatStatics() __attribute__((weak));
    // The legacy format's table, in the library EegFileDos, referred to the same way.
    static FormatStatics DosFormatStatics() __attribute__((weak));

protected:
    // What every format's CleanUpOpenFile does: removes this computer's entries
    // from the recording's control file; a recording one of them was writing goes
    // back from recording to ready to read, any other gets status (unless 5) and
    // the Qm file identifier as for archiving, through the statics above.
    static void CleanUpStationEntries(const char* path, CPatientInfo::RecordStatus status,
                                      const CString& qmFileId, int& wasWriting);
    // Decides whether path must be opened read-only. Throws CFileException
    // fileNotFound (and disables file access) when the file does not exist.
    void CheckForReadOnly(const char* path, int& readOnly);
    // Enter or leave the station's open-file list (with the stored record's
    // status and Qm file identifier) and store the list.
    void AddToOpenFileList();
    void RemoveFromOpenFileList();
    virtual void ExtractActRefPairSetting(const CEegMontage& montage, int* const flags) const;

public:
    // Adds the events of the list, in its order, with one write and one flush:
    // for many events, what AddEvent is for one (the same durability when it
    // returns; other stations see them as they see single adds). The file takes
    // every event given, as AddEvent does, and the list is emptied whatever
    // happens; null elements are skipped. Each event must be in the list once
    // and not be the file's already. All or nothing: a failure (thrown as
    // AddEvent's would be) keeps none of them and destroys them all. While file
    // access is disabled they are destroyed and 0 is returned. Returns the
    // number added. Declared after every other virtual operation, so that those
    // keep their order.
    virtual int AddEvents(CEegEventList& events) = 0;

protected:
    mutable std::recursive_mutex m_FileLock;
    CString m_FilePath;
    CPatientInfo m_PatientInfo;
    int m_bFileAccessDisabled = 0;
    int m_bForceOpenAsReadOnly = 0;
};
