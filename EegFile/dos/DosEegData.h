// CDosEegData: the samples of a legacy recording, kept one second at a time in
// numbered data files and cut files beside its log. It turns a second of the
// recording into a file and a byte offset, reads the stored second and unpacks it
// into 32-slot frames (sample i of slot k at frames[32 * i + k]; slots that are not
// stored read 0). It also packs seconds, for a writer derived from it.
//
// Everything about the recording (rate, storage mode, stored channels, the file
// list, MAXREAD, the paths) is asked of the log each time, so a log that grows
// while it is read changes the next read. The log is referenced, not owned.
//
// Storage modes (the log's "COMPRSN"), for N samples per second and K stored
// channels, stored channels in ascending slot order, 16-bit values little-endian:
//   0  N frames of K samples                                   2 * K * N bytes
//   1  frame 0's K samples, then one exponent code per channel
//      and following frame (each from the previous restored
//      sample)                                                 K * (N + 1) bytes
//   2  one adaptive-delta block per channel (DeltaCoding, the
//      current format's coder)                                 K * (N + 4) bytes
//
// No operation throws: a missing or unreadable file reads as a second of zeros
// with the result 0, and a writer's failures set status bits.
#pragma once

#include <cstdint>
#include <memory>

#include "EegFile/dos/LogFile.h"
#include "Platform/File.h"

class CDosEegData {
public:
    // One second of 32 channels at 400 samples: the largest stored second.
    static constexpr int kRawSecondBytes = 25600;
    static constexpr int kMaxSamplesPerSecond = 400;
    static const char* const fileNameCntStr;         // "EEG%05d"
    static const char* const DeletedFileNameCntStr;  // "DDD%05d"

    explicit CDosEegData(CLogFile& log);
    virtual ~CDosEegData();
    CDosEegData(const CDosEegData&) = delete;
    CDosEegData& operator=(const CDosEegData&) = delete;

    // One second into frames (32 * N samples): N for a whole second, 0 for a
    // partial, missing or unreadable one (its samples then 0 where not read).
    // Rates above 400 samples per second are refused (0, frames untouched).
    virtual int32_t readData(int32_t second, short* frames);
    // The stored second as it is on disk: the bytes read (-1 when no file holds
    // the second), or with pad non-zero B, the rest after what was read zeroed.
    virtual int32_t readDataRaw(int32_t second, char* buffer, int pad);
    // This class writes no samples.
    virtual int writeData(int, short*, int) { return 0; }
    virtual int getFileCount() const { return m_Log.getFileCount(); }
    virtual const CLogFile::FileType* getFile(int i) const { return m_Log.getFile(i); }
    virtual const CLogFile::FileType* getFileList() const { return m_Log.getFileList(); }

    const CString& GetPath() const { return m_Log.GetPath(); }
    const CString& GetLogFilePath() const { return m_Log.GetLogFilePath(); }
    const CString& GetDataFilePathCntStr() const { return m_Log.GetDataFilePathCntStr(); }
    const CString& GetCutDataFilePathCntStr() const { return m_Log.GetCutDataFilePathCntStr(); }
    int getCompressionMode() const { return m_Log.GetCompressionType(); }
    int getSampleFrequency() const { return m_Log.Rate(); }
    int getBytesPerSecond() const { return m_Log.GetBytesPerSecondFile(); }
    int32_t calculateSecondsOfData(int64_t bytes) const;
    int64_t calculateFileOffset(int32_t seconds) const {
        return static_cast<int64_t>(seconds) * getBytesPerSecond();
    }
    int GetStoredChannelCount() const { return m_Log.GetStoredChannelCount(); }
    const int* GetChannelValidArray() const { return m_Log.GetChannelValidArray(); }
    int getStatus() const { return m_Log.getStatus() | m_nStatus; }
    int32_t getRecordLength() const { return m_Log.getRecordLength(); }
    // Closes the open data file.
    void CloseFile();
    // The offset within a stored second (B bytes) of its first byte that the
    // packing cannot have written, or -1 when there is none: in mode 1 an exponent
    // code it never makes, in mode 2 a block that DeltaCoding::FindUnsoundByte
    // refuses. Mode 0 stores any bytes. -1 too when no second can be held.
    int FindUnsoundByte(const char* raw) const;

    // The exponent code of one difference, and the threshold code of mode 2.
    static char ConvertDelta(short d);
    static short RestoreDelta(char c);
    static char ConvertDeltaR(short d, int flag, int threshold, int step);
    static short RestoreDeltaR(char c, int flag, int threshold, int step);

protected:
    // Starts the next data file for a writer: creates it and writes its "NEWFILE"
    // line at the recording's length. Failures set 0x20 (no more files) or 0x8.
    virtual void createNewDataFile();

    // Opens the file that serves the second and sets the offset of it.
    void seek(int32_t second);
    void CloseReadFile();
    void setStatus(int bits) { m_nStatus |= bits; }

    // The codecs over the log's current N, K and stored channels. Packing returns
    // the bytes written (B), 0 when the second cannot be packed.
    int PackSecond(const short* frames, char* out) const;
    void UnpackSecond(const char* raw, short* frames) const;
    int compressBuffer(const short* frames, char* out) const;
    void deCompressBuffer(const char* raw, short* frames) const;
    int compressBufferR(const short* frames, char* out) const;
    void deCompressBufferR(const char* raw, short* frames) const;
    // One channel block of mode 2 for N samples in a row.
    int CompressTrace(const short* samples, char* out) const;
    int compressToNChannels(const short* frames, char* out) const;
    void expandTo32Channels(const char* raw, short* frames) const;

    CLogFile& m_Log;
    int m_nStatus = 0;
    int m_bFirstSecond = 1;

private:
    // The stored slots, ascending: the valid channels, at most K of them, so that
    // a stored second never holds more than B bytes.
    int StoredSlots(int* slots) const;
    // N when a second of this recording can be held, else 0.
    int UsableRate() const;
    // Up to count bytes of the open file at offset, through the read-ahead buffer.
    int ReadAt(int64_t offset, char* out, int count);

    std::unique_ptr<char[]> m_RawSecond;
    CFile m_File;
    int m_nFileIndex = -1;
    int m_nOpenNumber = 0;  // the open entry's file number, to find it after the list moved
    int64_t m_nOffset = -1;
    // Read-ahead: one read call serves several consecutive seconds.
    std::unique_ptr<char[]> m_ReadAhead;
    int64_t m_nAheadStart = 0;
    int m_nAheadBytes = 0;
};
