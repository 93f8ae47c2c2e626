// CDosEegFile: a legacy recording through the recording interface. A caller opens
// the log's path and then reads samples by position, reads and edits events, asks
// which settings apply at a position, converts between positions and wall-clock
// time, marks stretches and cuts them out. A legacy recording is never appended
// to: the operations that write samples do nothing.
//
// CDosEegFileBase holds the log and answers what comes straight from it;
// CDosEegFile adds opening and closing, the access control, the sample reader with
// its one-second cache, the data marks (kept in the ".mkd" file beside the log)
// and the cutting of marked data.
//
// Owns the log, the access control, the mark store, the cache and the reader.
// Every public operation but the parameter getters runs under the file lock of
// CEegFile; other stations are coordinated through the access control and the
// log, which is opened only for the length of each read or write.
#pragma once

#include <memory>

#include "EegBase/EegDataChunk.h"
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/access/EegDataMarkStore.h"
#include "EegFile/dos/DosEegData.h"
#include "EegFile/dos/DosLogFile.h"
#include "EegFile/frame/EegFile.h"
#include "EegFile/frame/EegFileCheck.h"

class CDosEegFileBase : public CEegFile {
public:
    // Takes the log, which the file object destroys.
    explicit CDosEegFileBase(CDosLogFile* log);
    ~CDosEegFileBase() override;

    void DisableFileAccess() override;
    int GetDisableFileAccess() const override;
    int IsOpen() const override;
    int IsEmpty() const override;

    // Nothing of a recording is written to this format.
    void SetEegWriteBufferSize(int) override {}
    void Create(const char*) override {}
    void PrepareToWriteEeg(double, Compression::CompressionType, const CAmpHardwareInfo&) override {
    }
    void StartRecording(COleDateTime) override {}
    void StopRecording() override {}
    void SetWriteThreadOnOff(int) override {}
    void SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>&) override {}
    void WriteEegData(CEegDataChunk&) override {}
    void FlushWriteBuffer() override {}
    int PadPartialSecond() override { return 0; }
    void DiscardWriteBufferData() override {}

    // The log's values, without the lock.
    const CAmpHardwareInfo& GetAmpHardwareInfo() const override;
    unsigned short GetMaxChannels() const override;
    double GetSampleRate() const override;
    Compression::CompressionType GetCompressionType() override;
    int GetBytesPerSecondFile() const override;

    CEegTimeStamp GetBofTimeStamp() const override { return CEegTimeStamp(0); }
    // Record length x floor(rate).
    CEegTimeStamp GetEofTimeStamp() const override;
    uint32_t GetLengthInSeconds() const override;
    uint32_t GetLengthInSamples() const override;

    // The last event of the kind at or before the position; 0 without one. The
    // montage then takes every trace change after it up to the position.
    int GetMontageAt(const CEegTimeStamp& at, CEegMontage& montage) const override;
    int GetPaperSpeedAt(const CEegTimeStamp& at, double& speed) const override;
    int GetLinkedSensitivityAt(const CEegTimeStamp& at, double& value) const override;
    int GetLinkedLowCutAt(const CEegTimeStamp& at, double& value) const override;
    int GetLinkedHighCutAt(const CEegTimeStamp& at, double& value) const override;

    // Wall-clock times from the log's record events ("Recording at", "Stopped at").
    CTKTime GetStartTime() const override;
    CTKTime GetTimeOfDay(uint32_t sampleOffset) const override;
    uint32_t GetSampleOffset(CTKTime time) const override;
    float GetTodElapsed(uint32_t from, uint32_t to) const override;

    int GetNumberOfEvents() const override;
    void GetEventList(CEegEventList& list, const CEegEventMask& mask, const CEegTimeStamp& from,
                      const CEegTimeStamp& to, uint32_t maxCount,
                      unsigned short minPriority) const override;

    int GetLiveModeUpdate() const override;
    void SetLiveModeUpdate(int on) override;

    CDosLogFile& GetLog() { return *m_pLog; }
    const CDosLogFile& GetLog() const { return *m_pLog; }

protected:
    // Clears the disabled, open and live-mode flags.
    virtual void InitFlags();
    int Rate() const { return m_pLog->Rate(); }
    // The value of the last event of type at or before at.
    template <class E, class Get>
    int ValueAt(const CEegTimeStamp& at, CEegEvent::EventType type, Get get, double& value) const;

    std::unique_ptr<CDosLogFile> m_pLog;
    int m_bOpen = 0;
    int m_bLiveMode = 0;
};

class CDosEegFile : public CDosEegFileBase, private CEegDataMarkStore::COwner {
public:
    // Frames the one-second cache holds: the largest second of the format.
    static constexpr int kCacheFrames = CDosEegData::kMaxSamplesPerSecond;
    static constexpr int kMaxCutFiles = 99;
    static constexpr const char* kMarkFileExtension = ".mkd";
    static constexpr const char* kOldMarkFileExtension = ".mrk";

    // A log of its own, without a path.
    CDosEegFile();
    // Takes the log, which the file object destroys.
    explicit CDosEegFile(CDosLogFile* log);
    // Closes; a failure is reported, never thrown.
    ~CDosEegFile() override;

    // Parses the log (which must exist) and takes read access. With forWriting:
    // CDosFileException 26, and the file stays unusable until the next Open.
    // A log that cannot be read: 21 (or 22); read access refused:
    // CEegFileException 5 with the stations.
    void Open(const char* path, int forWriting) override;
    void Close() override;
    int IsReadOnly() const override;

    // The patient record lives outside the recording: in the site's patient
    // database, else in the patient file beside the log (".PDB"), else a default
    // record. The members read and write it by path, under the file lock;
    // the setters do nothing while access is disabled.
    const CPatientInfo& GetPatientInfo() override;
    void SetPatientInfo(const CPatientInfo& info, int includingStatus) override;
    // The stored status; 5 (unknown) when it cannot be read.
    CPatientInfo::RecordStatus GetRecordStatus() override;
    void SetRecordStatus(CPatientInfo::RecordStatus newStatus,
                         CPatientInfo::RecordStatus expected) override;

    // -- the patient record by path. Database and patient-file failures never throw
    // out of these: they answer 0 (and GetPatientInfo falls back).
    static int GetPatientInfoFromDb(const char* path, CPatientInfo& info);
    static int GetPatientInfoFromPdb(const char* path, CPatientInfo& info);
    // Always 1: the database, else the patient file, else a default record (last
    // name of string 112, ready to read, dated at the file's last write).
    static int GetPatientInfo(const char* path, CPatientInfo& info);
    static int SetPatientInfoToDb(const char* path, CPatientInfo& info, int includingStatus);
    static int SetPatientInfoToPdb(const char* path, CPatientInfo& info, int includingStatus);
    // The database, else the patient file.
    static int SetPatientInfo(const char* path, CPatientInfo& info, int includingStatus);
    static int GetRecordStatus(const char* path, CPatientInfo::RecordStatus& status);
    // Writes newStatus when expected is 4 (any) or the stored status; else 1.
    static int SetRecordStatus(const char* path, CPatientInfo::RecordStatus newStatus,
                               CPatientInfo::RecordStatus expected,
                               CPatientInfo::RecordStatus* previous);
    static int SetStatusForArchive(const char* path, CPatientInfo::RecordStatus status,
                                   const CString& qmFileId, CPatientInfo& out);
    static int SetQmFileId(const char* path, const CString& qmFileId, CPatientInfo& out);
    static void CleanUpOpenFile(const char* path, CPatientInfo::RecordStatus status,
                                const CString& qmFileId, int& wasWriting);

    CEegTimeStamp GetReadPosition() const override;
    // Ignored while access is disabled.
    void SetReadPosition(CEegTimeStamp position) override;
    // Whole 32-slot frames from the read position; past the recorded data, and
    // in holes, frames of zeros. 1 when any frame was copied.
    int ReadEegData(CEegDataChunk& chunk, uint32_t count) override;

    // The file takes the event; 0 (the event deleted) while access is disabled.
    int AddEvent(const CEegEvent* event) override;
    // The lines of all of them with one write and one flush (see CEegFile).
    int AddEvents(CEegEventList& events) override;
    // Without writing its line.
    int AddEventToArray(const CEegEvent* event);
    // Takes exclusive access (kept) and blots the event's line out. Read-only:
    // CEegFileException 12; exclusive access refused: 7.
    void RemoveEvent(const CEegEvent* event) override;
    // The same for each, last to first; codes 20 and 25 do not stop the others
    // (the first is thrown at the end). The list is emptied either way.
    void RemoveEvents(CEegEventList& events) override;

    // Parses what other stations appended to the log.
    void Synchronize() override;
    CEegAccessMode::EegAccessModeType GetAccessMode() const override;
    int GetLockFailureFlag() const override;

    // -- data marks, as the current format keeps them, in the ".mkd" file
    void SetMarkForDelete(int on) override;
    int GetMarkForDelete() override;
    void AddDataMark(CDataMarkDeleteEvent* mark) override;
    void RemoveDataMark(CDataMarkDeleteEvent* mark) override;
    void RemoveAllDataMarks() override;
    void RemoveAllEegDataMarks() override;
    void RemoveAllVideoDataMarks() override;
    void SyncDataMarks() override;
    void GetDataMarkList(CEegEventList& list) override;
    int IsEventValid(CDataMarkDeleteEvent* mark) override;
    int InDeleteSegment(CDataDeletionEvent& segment, CEegTimeStamp at) override;
    void GetMarkedSegmentList(CEegEventList& list, const CEegTimeStamp& from,
                              const CEegTimeStamp& to, uint32_t maxCount) const override;
    void SetDeleteEegDataOnClose() override;
    int GetDeleteEegDataOnClose() const override;
    // Copies what is kept into new cut files, describes them in the log and
    // deletes the data files they supersede; then closes the recording.
    int64_t DeleteMarkedEegData(CVoidCall1Arg<int64_t>* progress) override;

    // -- access
    int GetMarkAccess(CString& holders) override;
    int GetExclusiveAccess(CString& holders) override;
    // 1 when mark access is held or granted; refused: CEegFileException 8 with
    // throwOnRefusal, else 0. 0 while access is disabled.
    int SetMarkAccessMode(int throwOnRefusal);
    void ClearMarkAccessMode();
    // "\n\t" and the name of each station of the access control.
    void GetComputerList(CString& text) const;

    // Seconds a cut file holds at most, for this recording's rate, mode and channels.
    static int CutFileSeconds(int rate, int mode, int storedChannels);

    // Adds to problems what is wrong with the recording of the log at path: lines
    // that are not log entries or do not read, data and cut files missing, too
    // short, too long or unlisted, MAXREAD beyond the end, a marks or patient file
    // that does not load, marks beyond the end, a run whose writer died; with
    // readData also every stored second that cannot be read or holds codes the
    // writer never writes. Changes no file and takes no entry anywhere. A log that
    // cannot be opened throws its CFileException.
    static void CheckFile(const char* path, int readData, CEegFileProblemList& problems);

protected:
    void InitFlags() override;
    // Deletes a superseded data file.
    virtual void RemoveOldDataFile(const CString& path);

    void OpenSegmentMarkStream(int readOnly);
    void CloseSegmentMarkStream();
    void DeleteOldSegmentMarkStream();
    // The stretches to keep above MAXREAD, in pieces of at most a cut file.
    void ConvertDeleteListToSaveList(const CEegStreamIntervalArray& cut,
                                     CEegStreamIntervalArray& keep) const;
    int DoDataDelete(const CEegStreamIntervalArray& cut, CVoidCall1Arg<int64_t>* progress);
    int DoCopySavedArea(uint32_t firstSecond, int32_t seconds, int cutNumber);

private:
    class CCheck;  // CheckFile's work (DosEegFileCheck.cpp)

    // Marks can be edited: access not disabled (else false); a read-only
    // recording throws CEegFileException 12.
    bool MarksEditable() override;
    CEegDataMarkStore::CGeometry MarkGeometry() const override;
    // The log's holes, as the mark rules want them: deletion events only.
    void RefreshHoles();
    CString MarkFilePath(const char* extension) const;

    std::unique_ptr<CEegAccessControl> m_pAccess;
    std::unique_ptr<CEegDataMarkStore> m_pMarks;
    CEegDataChunk m_Cache;
    int64_t m_nCacheStart = -1;
    std::unique_ptr<CDosEegData> m_pData;
    uint32_t m_nReadPosition = 0;
    int m_bDeleteOnClose = 0;
    CEegEventList m_Holes;  // the log's deletion events (not owned)
};
