// CLogFile: a legacy recording's text log read into its parameters, its file list
// and its events, and the writing of new lines to it. The log may still be growing
// (a station is recording): every updateFromLog parses only the lines appended
// since the last one, and every write first parses what other stations appended,
// then moves the read position past its own line.
//
// The class is abstract over its file operations (CDosLogFile implements them on
// a file); it opens the log around each read or write and never holds it between
// calls, so several stations can share one log.
//
// Owns its events (the event list and the time-of-day list point into them).
// Not locked: its owner guards it. Parse errors never stop parsing: they become
// comments of type 5 whose text begins with "ERROR:". File faults throw
// CDosFileException (21 open, 22 access, 23 write) after closing the log.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/EegMontage.h"
#include "EegFile/dos/LogFileFormat.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/frame/EegEnums.h"
#include "Platform/Arrays.h"
#include "Platform/String.h"

class CEegEvent;
class CImpedanceEvent;

class CLogFile {
public:
    // Or-ed status bits; the log keeps its own word, its data reader another.
    enum StatusType : int {
        stOk = 0,
        stLogMissing = 0x1,       // the log could not be opened
        stNewFileFailed = 0x8,    // a data file or its NEWFILE line could not be made
        stLogAccess = 0x10,       // the log could not be read or positioned
        stFileListFull = 0x20,    // 1100 files, or data file number 999 reached
        stLogWrite = 0x40,        // the log could not be opened for writing or written
        stLastIsCutFile = 0x400,  // the file list ends with a cut file
    };

    // One file of the recording. fileNumber >= 0 names a data file (".%03d"),
    // < 0 the cut file -fileNumber (".A%02d").
    struct FileType {
        int32_t startSecond = 0;  // the recording's second of the file's first second
        int32_t fileNumber = 0;
        int32_t lengthSeconds = 0;  // measured from the file's size
        int32_t skipSeconds = 0;    // leading seconds that cut files cover
    };

    // Name patterns (by record number) of a recording and of a deleted recording,
    // published for callers.
    static const char* const fileNameCntStr;         // "EEG%05d"
    static const char* const DeletedFileNameCntStr;  // "DDD%05d"

    // File-open sharing, as the log is opened with it.
    enum ShareType : int { shareDenyWrite = 0x20, shareDenyNone = 0x40 };
    enum SeekOrigin : int { seekBegin = 0, seekCurrent = 1, seekEnd = 2 };

    CLogFile();
    virtual ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Parses the lines appended since the last call. Throws CDosFileException 21
    // when the log cannot be opened, 22 when it cannot be measured or positioned,
    // or when the file list ends with a cut file.
    virtual void updateFromLog();
    // The file's size in whole stored seconds; 0 when missing or empty.
    virtual int32_t fileLengthInSeconds(const FileType& file);
    // Appends text (a line end added when it has none) after parsing what others
    // appended; the read position then skips it. Throws 21, 22 or 23.
    virtual void WriteTextToFile(const char* text);

    // -- parameters
    double GetSampleRate() const { return m_dSampleRate; }
    int GetCompressionType() const { return m_nCompression; }
    int GetStoredChannelCount() const { return m_nStoredChannels; }
    const int* GetChannelValidArray() const { return m_nChannelValid.data(); }
    int32_t getMaxReadPosition() const { return m_nMaxRead; }
    const CAmpHardwareInfo& GetAmpHardwareInfo() const { return m_AmpInfo; }
    unsigned short GetMaxChannels() const { return m_wMaxChannels; }
    int getVideoSyncFlag() const { return m_nVideoSync; }
    const CEegEventList& GetEventList() const { return m_EventList; }
    // The montage of the last montage block read.
    const CEegMontage& GetMontage() const { return m_Montage; }
    // The record events, in time order.
    const CEegEventList& GetTimeOfDayList() const { return m_TimeOfDay; }
    int GetRecordNumber() const { return m_nRecordNumber; }

    // -- files
    int getFileCount() const { return m_nFileCount; }
    // Entry i, unchecked.
    const FileType* getFile(int i) const { return &m_Files[static_cast<size_t>(i)]; }
    const FileType* getFileList() const { return m_Files.data(); }
    int getLastDataFileNumber() const { return m_nLastDataFile; }
    int getLastCutFileNumber() const { return m_nLastCutFile; }
    // startSecond + lengthSeconds of the last entry; 0 for an empty list.
    int32_t getRecordLength() const;
    // Bytes of one stored second under the current rate, mode and stored channels.
    int GetBytesPerSecondFile() const;
    // Record length x floor(rate) samples.
    uint32_t GetEofTimeStamp() const;
    int IsEmpty() const { return getRecordLength() < 1; }

    // -- state
    int getStatus() const { return m_nStatus; }
    void setStatus(int bits) { m_nStatus |= bits; }
    int exists() const { return (m_nStatus & stLogMissing) ? 0 : 1; }
    int getLogFileCreated() const { return m_bLogCreated; }
    // 1 once any byte of the log has been parsed.
    int GetRecordInit() const { return m_nReadPosition > 0 ? 1 : 0; }
    // The byte offset up to which lines have been parsed.
    int64_t GetReadPosition() const { return m_nReadPosition; }

    // -- paths
    const CString& GetPath() const { return m_strDirectory; }
    const CString& GetLogFilePath() const { return m_strLogPath; }
    const CString& GetDataFilePathCntStr() const { return m_strDataFormat; }
    const CString& GetCutDataFilePathCntStr() const { return m_strCutFormat; }
    // The data or cut file of an entry.
    CString GetFilePath(const FileType& file) const;

    // Adds (or, for a number already listed, replaces) an entry; measured with
    // measure non-zero, else of length 0. A full list takes nothing and sets 0x20.
    void fileToList(int number, int32_t startSecond, int measure);
    // Re-measures the last entry (a live recording's file grows).
    void updateLastFile();

    // -- events (the writer's side)
    // Writes the event's line, then adds it (the log then owns it). When the write
    // throws the event stays the caller's.
    void AddEvent(const CEegEvent* event);
    // The same for count events with one write (and one flush); when it throws,
    // none of them is added and all stay the caller's.
    void AddEvents(const CEegEvent* const* events, int count);
    // Writes the lines of several events with one write, keeping none of them: for
    // writers of whole recordings, whose events nobody reads back from this object.
    void AddEventsToLog(const CEegEvent* const* events, int count);
    // Adds the event without writing it.
    void AddEventToArray(const CEegEvent* event);
    // Blots the event's line out, then removes and deletes the event.
    void RemoveEvent(const CEegEvent* event);
    // Blots out the first line that reads back as the event (comments, user events
    // and bookmarks only: 20 for others, 25 when there is none).
    virtual void DeleteEventFromLog(const CEegEvent& event);

    // -- parameter lines, each at 00:00:00.000
    void SetSampleRate(double rate);
    void SetCompressionType(int type);
    // Stores the amplifier (and with it the stored channels) and writes its lines.
    void SetAmpInfo(const CAmpHardwareInfo& info);
    void SetPatientName(const char* text);
    // A "NEWFILE" line for data file number at second; 1 when the status has a bit
    // set afterwards (nothing is written when it had one before), else 0.
    int writeNewFileEvent(int32_t second, int number);
    // "MAXREAD" and one "CUTFILE" line per cut file after marked data was cut out;
    // 0 on success.
    int UpdateAfterDataCut(int32_t maxRead, int firstCutNumber, const CDWordArray& cutStarts);

    // The text of a stored-input list and of an input domain as the writer puts them.
    CString GetStoredInputText(const CEegTimeStamp& stamp) const;
    CString GetStringFromDomain(const CAmpInputDomain& domain) const;

    // Samples per second as the log's arithmetic takes it: the rate truncated.
    int Rate() const;

protected:
    virtual CString ConvertTextToEvent(const char* line);
    virtual void AddEventToLog(const CEegEvent& event);
    virtual CString GetStringFromEvent(const CEegEvent& event);

    // File operations, implemented by CDosLogFile. Modes are "r", "r+" and "w".
    virtual StatusType OpenFile(const char* mode, int share) = 0;
    virtual void CloseFile() = 0;
    virtual int write(const char* data, int count) = 0;  // -1 when the flush fails
    virtual int64_t seek(int64_t offset, int origin) = 0;
    virtual int64_t logFileLength() = 0;
    virtual int64_t logFilePosition() = 0;
    // Reads one trimmed line of at most n - 1 characters; non-zero at the end of
    // the log. A last line without its line end is left for a later call.
    virtual int readLogLine(char* buffer, int n) = 0;
    virtual void createLogFile() = 0;
    virtual StatusType openLogAndSeek(int64_t* position, int64_t offset, int origin) = 0;

    // Paths from the log's path; record number from its name.
    void SetPaths(const char* path);
    // Every variable back to its default (events deleted), paths kept.
    void ResetVariables();
    void ClearPaths();
    void SetLogCreated() { m_bLogCreated = 1; }

    // -- the decoding of input lists, montages and impedances (never throw)
    AmpInput::AmpInputType ConvertTextToInput(
        std::string_view text, const CDomainEnum<AmpInput::AmpInputType>& table) const;
    void DecodeInputList(const LogFormat::Line& line, uint32_t at);
    void DecodeOldInputList(const LogFormat::Line& line, uint32_t at);
    void DecodeDCInputs(const LogFormat::Line& line, uint32_t at);
    void DecodeInputGain(const LogFormat::Line& line, uint32_t at);
    void DecodeNonRefInputs(const LogFormat::Line& line, uint32_t at);
    // The block readers return the first line that is not theirs ("" at the end).
    CString BuildMontageEvent(const LogFormat::Line& first, uint32_t at);
    void BuildTraceInfoEvent(const LogFormat::Line& line, uint32_t at);
    CString BuildImpedanceEvent(const LogFormat::Line& first, uint32_t at);

    // What the parser passes over or cannot read in the line it has in hand: a
    // line that is not a log entry, an unknown keyword, a value that does not
    // convert (the text of its "ERROR:" comment). Parsing drops these, as the
    // log's readers always have; a check of the recording hears them here.
    virtual void OnLineProblem(const CString&) {}
    // The byte offset in the log of the line in hand; for what a montage or an
    // impedance block finds at its end, the block's first line.
    int64_t LineStart() const { return m_nLineStart; }

    // The keyword's offset in the untrimmed text of the last line readLogLine gave.
    int m_nLastLineKeywordOffset = LogFormat::kKeywordColumn;

private:
    // Events built from the log, and the parse errors.
    void AddParsedEvent(CEegEvent* event);
    void AddErrorComment(uint32_t at, const CString& text);
    void BuildCommentEvent(const LogFormat::Line& line, uint32_t at);
    void BuildRecordEvent(const LogFormat::Line& line, uint32_t at);
    void BuildBookmarkEvent(const LogFormat::Line& line, uint32_t at);
    void BuildLinkedEvents(const LogFormat::Line& line, uint32_t at);
    void BuildSpeedEvent(const LogFormat::Line& line, uint32_t at);
    void DecodeParameter(const LogFormat::Line& line, uint32_t at);
    // Hands the block's first line and each following line of its time for which
    // belongs holds to take(line, isFirst); returns the first line that is not the
    // block's ("" at the end of the log).
    template <class Belongs, class Take>
    CString ReadBlock(const LogFormat::Line& first, uint32_t at, Belongs belongs, Take take);
    // A "MONTREF" line into the montage being read.
    void ReadAverageReference(const LogFormat::Line& line, uint32_t at, CEegMontage& montage);
    // A trace line's index (false when not 0-31), trace and reference word.
    bool ReadTraceLine(const LogFormat::Line& line, int& index, CTraceInfo& trace,
                       CString& refText) const;
    void SetStoredInputs(const AmpInput::AmpInputType* inputs, int count);
    // Completes the file list after a pass: lengths, deletion pairs, compaction,
    // hidden seconds and order.
    void SettleFileList(int firstNew);
    // The line loop over the open log from the read position to its end.
    void ParseOpenLog();
    // readLogLine, noting where the line starts; false at the end of the log.
    bool ReadNextLine(char* buffer);
    // Updates the log; then writes text at its end; the read position skips it.
    void AppendToLog(const CString& text);
    [[noreturn]] void Fail(int statusBits, int code);
    static void Decode(const LogFormat::Line& line, CString& text, int& type);

    CString TraceLineText(const CEegTimeStamp& stamp, int index, const CTraceInfo& trace) const;
    CString MontageText(const CEegTimeStamp& stamp, const CEegMontage& montage) const;
    CString ImpedanceText(const CEegTimeStamp& stamp, const CImpedanceEvent& event) const;
    CString LinkedText(const CEegTimeStamp& stamp) const;

    int m_nStatus = stOk;
    int m_bLogCreated = 0;
    int m_nRecordNumber = -1;
    CString m_strDirectory;
    CString m_strBaseName;
    CString m_strLogPath;
    CString m_strDataFormat;
    CString m_strCutFormat;
    int m_nVideoSync = 0;
    int32_t m_nMaxRead = 0;
    int m_nStoredChannels = AmpInput::kJackCount;
    std::array<int, AmpInput::kJackCount> m_nChannelValid;
    CAmpHardwareInfo m_AmpInfo;
    unsigned short m_wMaxChannels = AmpInput::kJackCount;
    double m_dSampleRate = 200.0;
    int m_nCompression = Compression::Uncompressed;
    CEegEventList m_EventList;
    CEegMontage m_Montage;
    CEegTimeStamp m_CoveredData;
    CEegEventList m_TimeOfDay;
    bool m_bStoredInputsSeen = false;
    bool m_bRefInputsSeen = false;
    bool m_bDcInputsSeen = false;
    bool m_bRateSeen = false;
    int64_t m_nReadPosition = 0;
    int64_t m_nLineStart = 0;     // the line in hand
    int64_t m_nPendingStart = 0;  // the line a block handed back
    std::array<FileType, LogFormat::kMaxFiles> m_Files;
    int m_nFileCount = 0;
    int m_nLastDataFile = -1;
    int m_nLastCutFile = 0;
    int m_nLinkedSensitivity = LogFormat::kDefaultSensitivity;
    int m_nLinkedHighCut = LogFormat::kDefaultHighCut;
    int m_nLinkedLowCutX100 = LogFormat::kDefaultLowCutX100;
};
