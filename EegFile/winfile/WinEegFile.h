// CWinEegFile: a current-format recording, one compound container holding the
// streams "Header", "Patient", "EventList" (each with a backup copy 2),
// "EEGData", "MarkDelete" and the obsolete "SegMark".
//
// Owns its access control, its container (given the file lock as its mutex),
// the EEG data stream, the event store, the header and the data-mark store
// (which holds "MarkDelete" open while the recording is).
//
// Lock order: the close lock (held for the whole of Close), the file lock of
// CEegFile, the locks of the owned objects (write buffer innermost), then the
// region locks of the lock file between stations. Close releases the data
// stream, which waits for the write thread, before it takes the file lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "EegFile/access/EegAccessControl.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/frame/EegFile.h"
#include "EegFile/access/EegDataMarkStore.h"
#include "EegFile/winfile/EegEventStore.h"
#include "EegFile/winfile/EegHeader.h"
#include "EegFile/winfile/EegStream.h"

class CWinEegFile : public CEegFile, private CEegDataMarkStore::COwner {
public:
    // Allocation units of the streams (bytes).
    static constexpr int kHeaderUnit = 1024;
    static constexpr int kPatientUnit = 16000;
    static constexpr int kEventListUnit = CEegEventStore::kAllocationUnit;
    static constexpr int kMarkUnit = 4096;
    static constexpr int kRegionTimeoutMs = 10000;
    static constexpr int kBackupRegionTimeoutMs = 60000;
    static constexpr const char* kHeaderStream = "Header";
    static constexpr const char* kPatientStream = "Patient";
    static constexpr const char* kEventListStream = "EventList";
    static constexpr const char* kEegDataStream = "EEGData";
    static constexpr const char* kMarkDeleteStream = "MarkDelete";
    static constexpr const char* kSegMarkStream = "SegMark";

    CWinEegFile();
    // Closes; a failure is reported, never thrown.
    ~CWinEegFile() override;

    void DisableFileAccess() override;
    int GetDisableFileAccess() const override;
    void SetEegWriteBufferSize(int bytes) override;
    // Takes exclusive access (else CEegFileException 7) and creates the file;
    // the recording then waits for PrepareToWriteEeg.
    void Create(const char* path) override;
    // Writes the patient record and the header, creates the other streams and
    // drops to write access (else code 4).
    void PrepareToWriteEeg(double sampleRate, Compression::CompressionType compression,
                           const CAmpHardwareInfo& amp) override;
    // Takes write (else code 6) or read access (else code 5) and loads the
    // recording. A missing file throws CFileException fileNotFound.
    void Open(const char* path, int forWriting) override;
    void Close() override;
    CTKStreamFile* OpenStreamFile(const char* name, int copy, int allocationUnit,
                                  unsigned int openFlags) override;
    // A further stream of the recording at path, with a container of its own
    // that the returned file owns; null when the file or stream is not there.
    static CTKStreamFile* OpenStreamFile(const char* path, const char* name, int copy,
                                         int allocationUnit, unsigned int openFlags);
    int IsOpen() const override;
    int IsEmpty() const override;
    int IsReadOnly() const override;
    void StartRecording(COleDateTime start) override;
    void StopRecording() override;
    void SetWriteThreadOnOff(int on) override;
    void SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>& callback) override;
    const CPatientInfo& GetPatientInfo() override;
    void SetPatientInfo(const CPatientInfo& info, int includingStatus) override;
    CPatientInfo::RecordStatus GetRecordStatus() override;
    void SetRecordStatus(CPatientInfo::RecordStatus newStatus,
                         CPatientInfo::RecordStatus expected) override;

    // The patient record of the recording at path, without opening it. Each
    // returns 1 when the record was read, else 0. Reads take no lock between
    // stations; changes register this station for reading and hold the patient
    // region meanwhile. A record of an unknown version throws CEegFileException
    // code 2; other archive faults (a short record) are thrown as they are.
    static int GetPatientInfo(const char* path, CPatientInfo& info);
    // Writes info; with includingStatus 0 the stored status is put into info first.
    static int SetPatientInfo(const char* path, CPatientInfo& info, int includingStatus);
    // status = the stored status, or rsUnknown when the record cannot be read.
    static int GetRecordStatus(const char* path, CPatientInfo::RecordStatus& status);
    // *previous (when given) = the stored status (rsUnknown when not read); the
    // status becomes newStatus when expected is rsAny or the stored status.
    static int SetRecordStatus(const char* path, CPatientInfo::RecordStatus newStatus,
                               CPatientInfo::RecordStatus expected,
                               CPatientInfo::RecordStatus* previous);
    // before = the stored record; the stored record gets status and qmFileId.
    static int SetStatusForArchive(const char* path, CPatientInfo::RecordStatus status,
                                   const CString& qmFileId, CPatientInfo& before);
    static int SetQmFileId(const char* path, const CString& qmFileId, CPatientInfo& before);
    // After this computer's station failed with the recording open: removes its
    // entries from the control file; a recording it was writing becomes ready
    // to read (when it still says recording), any other gets status and
    // qmFileId unless status is rsUnknown. Control-file failures are thrown.
    // Walks the container (sections, chains, directory, trailers), the data
    // stream's sections against their annotations, the header, patient record,
    // event list and their backups, the marks and the control file, and with
    // readData every stored second; adds what is wrong to problems. Reads only.
    static void CheckFile(const char* path, int readData, CEegFileProblemList& problems);
    static void CleanUpOpenFile(const char* path, CPatientInfo::RecordStatus status,
                                const CString& qmFileId, int& wasWriting);
    const CAmpHardwareInfo& GetAmpHardwareInfo() const override;
    unsigned short GetMaxChannels() const override;
    double GetSampleRate() const override;
    Compression::CompressionType GetCompressionType() override;
    // Appends 32-slot frames; code 12 on a read-only container, code 11 when the
    // write buffer cannot take the chunk whole.
    void WriteEegData(CEegDataChunk& chunk) override;
    CEegTimeStamp GetReadPosition() const override;
    void SetReadPosition(CEegTimeStamp position) override;
    int ReadEegData(CEegDataChunk& chunk, uint32_t count) override;
    void SetMarkForDelete(int on) override;
    void AddDataMark(CDataMarkDeleteEvent* mark) override;
    void RemoveDataMark(CDataMarkDeleteEvent* mark) override;
    void RemoveAllDataMarks() override;
    void RemoveAllEegDataMarks() override;
    void RemoveAllVideoDataMarks() override;
    void SyncDataMarks() override;
    int64_t DeleteMarkedEegData(CVoidCall1Arg<int64_t>* progress) override;
    int GetMarkForDelete() override;
    void SetDeleteEegDataOnClose() override;
    int GetDeleteEegDataOnClose() const override;
    int GetMarkAccess(CString& holders) override;
    int GetExclusiveAccess(CString& holders) override;
    void GetDataMarkList(CEegEventList& list) override;
    int IsEventValid(CDataMarkDeleteEvent* mark) override;
    int InDeleteSegment(CDataDeletionEvent& segment, CEegTimeStamp at) override;
    void GetMarkedSegmentList(CEegEventList& list, const CEegTimeStamp& from,
                              const CEegTimeStamp& to, uint32_t maxCount) const override;
    void FlushWriteBuffer() override;
    int PadPartialSecond() override;
    void DiscardWriteBufferData() override;
    CEegTimeStamp GetBofTimeStamp() const override;
    CEegTimeStamp GetEofTimeStamp() const override;
    int GetMontageAt(const CEegTimeStamp& at, CEegMontage& montage) const override;
    int GetPaperSpeedAt(const CEegTimeStamp& at, double& speed) const override;
    int GetLinkedSensitivityAt(const CEegTimeStamp& at, double& value) const override;
    int GetLinkedLowCutAt(const CEegTimeStamp& at, double& value) const override;
    int GetLinkedHighCutAt(const CEegTimeStamp& at, double& value) const override;
    CTKTime GetStartTime() const override;
    CTKTime GetTimeOfDay(uint32_t sampleOffset) const override;
    uint32_t GetSampleOffset(CTKTime time) const override;
    float GetTodElapsed(uint32_t from, uint32_t to) const override;
    int GetNumberOfEvents() const override;
    int AddEvent(const CEegEvent* event) override;
    int AddEvents(CEegEventList& events) override;
    void RemoveEvent(const CEegEvent* event) override;
    void RemoveEvents(CEegEventList& events) override;
    void GetEventList(CEegEventList& list, const CEegEventMask& mask, const CEegTimeStamp& from,
                      const CEegTimeStamp& to, uint32_t maxCount,
                      unsigned short minPriority) const override;
    uint32_t GetLengthInSeconds() const override;
    uint32_t GetLengthInSamples() const override;
    int GetLiveModeUpdate() const override;
    void SetLiveModeUpdate(int on) override;
    void Synchronize() override;
    CEegAccessMode::EegAccessModeType GetAccessMode() const override;
    int GetLockFailureFlag() const override;
    int GetBytesPerSecondFile() const override;

    // The stream index of "EEGData" as last built (for inspection).
    const CEegStreamIndex& GetStreamIndex() const { return m_DataStream.GetIndex(); }
    // Moves every event that lies beyond the end of the samples to that end and
    // rewrites "EventList"; a failure on the way is swallowed.
    void WindowEventOffsets();
    // The event store (for inspection).
    const CEegEventStore& GetEventStore() const { return m_EventStore; }

protected:
    void InitFlags();
    // Reads (loading) or writes the header (type 0) or the patient record (type 1)
    // through copy `copy` of its stream under the stream's region lock.
    void SerializeMember(CEegStreamType::EegStreamType type, int loading, int copy);
    void BackupPatientInfo();
    void BackupEventList();
    void BackupHeader();

    void CreateEegStream();
    int OpenEegStream(int readOnly, uint32_t lastEventOffset);
    void CloseEegStream();
    void CreateEventStream(CTKCompoundFile& container);
    void OpenEventStream();
    void CloseEventStream();
    void CreateSegmentMarkStream();
    void OpenSegmentMarkStream(int readOnly);
    void CloseSegmentMarkStream();
    void DeleteOldSegmentMarkStream();

    // Data marks and cutting (WinEegFileMarks.cpp).
    // Takes mark access (mode 0 to 1, 2 to 3); 1 when held. A refusal throws
    // code 8 with the station list when throwOnRefusal, else returns 0.
    int SetMarkAccessMode(int throwOnRefusal);
    // Gives mark access back (1 to 0, 3 to 2); a refusal throws code 4.
    void ClearMarkAccessMode();
    // The seconds to cut for segments (begin events, time order): the delete
    // segments themselves, or, when any segment is a keep segment, every stretch
    // outside the keep segments that is not a hole already.
    void InitDeleteSegmentList(CEegStreamIntervalArray& intervals, const CEegEventList& segments,
                               int rate);
    // Builds the cut recording at tempPath: the records, the event list, the
    // kept seconds after newIndex, the marks without their EEG marks and every
    // other stream; the temporary file is flushed to disk.
    void CopySegmentDeletionsToTempFile(const char* tempPath, const CEegStreamIndex& newIndex,
                                        CVoidCall1Arg<int64_t>* progress);
    // Bytes of file the cut recording will take, the event list grown by
    // extraEvents events.
    int64_t ComputeNewFileDiskSpace(const CEegStreamIndex& newIndex, int extraEvents);
    // path with the extension ".tmp".
    CString GetTempFilePath(CString path);
    // 0 for the streams that the cut rebuilds, 1 for those it carries over.
    int TypeFilterCallback(const char* name, int copy);

private:
    // The data stream's configuration from the header; returns the allocation unit.
    int ConfigureDataStream();
    // Undoes a failed Open: aborts the container and releases access.
    void AbandonOpen();
    // Whether file access is enabled and the EEG stream open.
    bool Readable() const { return !m_bFileAccessDisabled && m_bEegStreamOpen; }
    // Copies copy 1 of a stream to copy 2 under region (type, 1).
    void BackupStream(CEegStreamType::EegStreamType type, const char* name, int unit);
    // What the marked segments are measured against: holes, rate and length.
    CEegDataMarkStore::CGeometry MarkGeometry() const override;
    // Whether the marks may be changed now: readable; throws code 12 on a
    // read-only container.
    bool MarksEditable() override;
    // The rebuilt recording replaces the original (rename over it, then the
    // folder is flushed); the object is closed afterwards either way.
    void ReplaceWithTempFile(const CString& tempPath);

    // The by-path patient record: read by scanning, or changed under a temporary
    // access control. decide gets the stored record (read only when readFirst)
    // and returns the record to write, or null to write nothing.
    static int ReadPatientByScan(const char* path, CPatientInfo& info);
    static int ChangePatientByPath(
        const char* path, int openEnded, int allocationUnit, bool readFirst,
        const std::function<const CPatientInfo*(const CPatientInfo& stored)>& decide);

    std::mutex m_CloseLock;
    CEegAccessControl m_AccessControl;
    CTKCompoundFile m_Container;
    CEegDataStream m_DataStream;
    CEegEventStore m_EventStore;
    CEegHeader m_Header;
    CEegDataMarkStore m_MarkStore;
    // Set by SetDeleteEegDataOnClose; InitFlags leaves it.
    int m_bDeleteOnClose = 0;
    // While a cut runs: the holes of the rebuilt file, which replace the
    // recording's own in its event list.
    std::vector<std::unique_ptr<CEegEvent>> m_CutHoles;
    bool m_bReplaceHoles = false;

    int m_bHeaderPending = 0;
    int m_bWriteEnabled = 0;
    int m_bEegStreamOpen = 0;
    int m_bPatientChanged = 0;
    int m_bEventsChanged = 0;
    int m_bHeaderChanged = 0;
};
