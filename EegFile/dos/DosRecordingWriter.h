// CDosRecordingWriter: writes a whole legacy recording (a log with its parameters,
// stored inputs, montage and events, and data files of any length in any mode)
// through the log's own writer and the data reader's packing, so that it writes
// exactly what they read. Acquisition programs never write this format; tests,
// tools and benchmarks make recordings with it.
//
// While it exists the writer holds the writer byte of the recording's lock file
// (".$lo"), as a recording station of the current format does while it records,
// so that others can tell a recording in progress from one whose writer died: the
// operating system frees the byte with the process. It takes no entry in the
// control file, which would refuse exclusive access: reviewers may cut marked data
// out of a legacy recording (below MAXREAD) while it is still being recorded.
//
// Failures throw: CDosFileException from the log, CFileException from data files
// and the lock file, CEegFileException 6 when another writer holds the recording.
#pragma once

#include "EegFile/dos/DosEegData.h"
#include "EegFile/dos/DosLogFile.h"

class CEegEvent;

namespace DosWriterDetail {
// Holds the log, so that it is built before the data reader that refers to it.
struct LogHolder {
    CDosLogFile m_LogFile;
};
}  // namespace DosWriterDetail

class CDosRecordingWriter : private DosWriterDetail::LogHolder, public CDosEegData {
public:
    // Takes the writer byte, then creates the log (an existing one is emptied) and writes the
    // sample rate, the storage mode, the amplifier and, at 0, the montage, whose block carries the
    // amplifier's stored inputs.
    CDosRecordingWriter(const CString& logPath, double rate, int compression,
                        const CAmpHardwareInfo& amp, const CEegMontage& montage);
    ~CDosRecordingWriter() override;

    CDosLogFile& Log() { return m_LogFile; }

    // Appends one second of N 32-slot frames to the current data file, starting the
    // first one when there is none. FALSE when no data file could be started.
    BOOL WriteSecond(const short* frames);
    // Ends the current data file: the next second goes to a new one, with its
    // "NEWFILE" line at the recording's length. FALSE when refused (status bits).
    BOOL StartDataFile();
    // Writes the lines of the events with one write; the log keeps no event.
    void WriteEvents(const CEegEvent* const* events, int count);
    // Writes a cut file (".A%02d" with number) of seconds stored seconds; the caller
    // then describes the cut with UpdateAfterDataCut.
    void WriteCutFile(int number, const short* frames, int seconds);
    // Flushes and closes the current data file.
    void Close();

    // writeData(startNewFile, frames, frameCount): one second, as WriteSecond; 1 on
    // success, 0 when frameCount is not N or the second could not be written.
    int writeData(int startNewFile, short* frames, int frameCount) override;

private:
    // Opens the lock file (made when missing) and takes the writer byte.
    void HoldWriterByte(const CString& logPath);

    CFile m_Out;
    CFile m_LockFile;
};
