// A recording format for tests of CEegFile's own bodies: it keeps a read
// position, an event list, an amplifier and a sample rate in memory, and records
// the calls that CEegFile makes through its virtual table.
#pragma once

#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegDataChunk.h"
#include "EegBase/EegMontage.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/frame/EegFile.h"

class CFakeEegFile : public CEegFile {
public:
    // Made public for tests of the protected bodies.
    using CEegFile::AddToOpenFileList;
    using CEegFile::CheckForReadOnly;
    using CEegFile::ExtractActRefPairSetting;
    using CEegFile::RemoveFromOpenFileList;
    void SetFilePath(const char* path) { m_FilePath = path; }

    double m_SampleRate = 200.0;
    CAmpHardwareInfo m_Amp;
    CEegEventList m_Events;
    CEegTimeStamp m_ReadPosition;
    std::vector<uint32_t> m_ReadsFrom;  // the read position at each ReadEegData call
    int m_SamplesAvailable = 0;         // samples ReadEegData pretends to return

    int FileAccessDisabled() const { return m_bFileAccessDisabled; }

    void DisableFileAccess() override { m_bFileAccessDisabled = 1; }
    int GetDisableFileAccess() const override { return m_bFileAccessDisabled; }
    void SetEegWriteBufferSize(int) override {}
    void Create(const char*) override {}
    void PrepareToWriteEeg(double, Compression::CompressionType, const CAmpHardwareInfo&) override {
    }
    void Open(const char*, int) override {}
    void Close() override {}
    int IsOpen() const override { return 0; }
    int IsEmpty() const override { return 1; }
    void StartRecording(COleDateTime) override {}
    void StopRecording() override {}
    void SetWriteThreadOnOff(int) override {}
    void SetWriteThreadExceptionCallBack(CVoidCall1Arg<CException*>&) override {}
    const CPatientInfo& GetPatientInfo() override { return m_PatientInfo; }
    void SetPatientInfo(const CPatientInfo&, int) override {}
    CPatientInfo::RecordStatus GetRecordStatus() override {
        return m_PatientInfo.GetRecordStatus();
    }
    void SetRecordStatus(CPatientInfo::RecordStatus, CPatientInfo::RecordStatus) override {}
    const CAmpHardwareInfo& GetAmpHardwareInfo() const override { return m_Amp; }
    unsigned short GetMaxChannels() const override { return 32; }
    double GetSampleRate() const override { return m_SampleRate; }
    Compression::CompressionType GetCompressionType() override { return Compression::Uncompressed; }
    void WriteEegData(CEegDataChunk&) override {}
    CEegTimeStamp GetReadPosition() const override { return m_ReadPosition; }
    void SetReadPosition(CEegTimeStamp p) override { m_ReadPosition = p; }
    int ReadEegData(CEegDataChunk&, uint32_t count) override {
        m_ReadsFrom.push_back(m_ReadPosition.GetSampleOffset());
        const int n = std::min<int>(static_cast<int>(count), m_SamplesAvailable);
        m_ReadPosition.Inc(static_cast<uint32_t>(n));
        return n;
    }
    void SetMarkForDelete(int) override {}
    void AddDataMark(CDataMarkDeleteEvent*) override {}
    void RemoveDataMark(CDataMarkDeleteEvent*) override {}
    void RemoveAllDataMarks() override {}
    void RemoveAllEegDataMarks() override {}
    void RemoveAllVideoDataMarks() override {}
    void SyncDataMarks() override {}
    int64_t DeleteMarkedEegData(CVoidCall1Arg<int64_t>*) override { return 0; }
    int GetMarkForDelete() override { return 0; }
    void SetDeleteEegDataOnClose() override {}
    int GetDeleteEegDataOnClose() const override { return 0; }
    int GetMarkAccess(CString&) override { return 0; }
    int GetExclusiveAccess(CString&) override { return 0; }
    void GetDataMarkList(CEegEventList&) override {}
    int IsEventValid(CDataMarkDeleteEvent*) override { return 0; }
    int InDeleteSegment(CDataDeletionEvent&, CEegTimeStamp) override { return 0; }
    void GetMarkedSegmentList(CEegEventList&, const CEegTimeStamp&, const CEegTimeStamp&,
                              uint32_t) const override {}
    void FlushWriteBuffer() override {}
    int PadPartialSecond() override { return 0; }
    void DiscardWriteBufferData() override {}
    CEegTimeStamp GetBofTimeStamp() const override { return CEegTimeStamp(0); }
    CEegTimeStamp GetEofTimeStamp() const override { return CEegTimeStamp(0); }
    int GetMontageAt(const CEegTimeStamp&, CEegMontage&) const override { return 0; }
    int GetPaperSpeedAt(const CEegTimeStamp&, double&) const override { return 0; }
    int GetLinkedSensitivityAt(const CEegTimeStamp&, double&) const override { return 0; }
    int GetLinkedLowCutAt(const CEegTimeStamp&, double&) const override { return 0; }
    int GetLinkedHighCutAt(const CEegTimeStamp&, double&) const override { return 0; }
    CTKTime GetStartTime() const override { return m_Start; }
    // Wall clock: the start plus whole seconds of samples.
    CTKTime GetTimeOfDay(uint32_t offset) const override {
        return m_Start + COleDateTimeSpan(0, 0, 0, static_cast<int>(offset / m_SampleRate));
    }
    uint32_t GetSampleOffset(CTKTime time) const override {
        const COleDateTimeSpan d = time - m_Start;
        return static_cast<uint32_t>(d.GetTotalSeconds() * m_SampleRate + 0.5);
    }
    float GetTodElapsed(uint32_t, uint32_t) const override { return 0; }
    int GetNumberOfEvents() const override { return m_Events.GetSize(); }
    int AddEvent(const CEegEvent* e) override { return m_Events.Add(e); }
    void RemoveEvent(const CEegEvent*) override {}
    void RemoveEvents(CEegEventList&) override {}
    int AddEvents(CEegEventList&) override { return 0; }
    void GetEventList(CEegEventList& list, const CEegEventMask& mask, const CEegTimeStamp& from,
                      const CEegTimeStamp& to, uint32_t maxCount,
                      unsigned short minPriority) const override {
        m_Events.GetEventList(list, mask, from, to, maxCount, minPriority);
    }
    uint32_t GetLengthInSeconds() const override { return 0; }
    uint32_t GetLengthInSamples() const override { return 0; }
    int GetLiveModeUpdate() const override { return 0; }
    void SetLiveModeUpdate(int) override {}
    void Synchronize() override {}
    CEegAccessMode::EegAccessModeType GetAccessMode() const override {
        return CEegAccessMode::eamRead;
    }
    int GetLockFailureFlag() const override { return 0; }
    int GetBytesPerSecondFile() const override { return 0; }

    CTKTime m_Start{2026, 3, 14, 9, 0, 0};
};
