#include "EegFile/dos/DosRecordingWriter.h"

#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/events/EegEvent.h"
#include "EegFile/events/MontageEvent.h"
#include "EegFile/frame/EegFileException.h"

namespace fmt = EegControlFileFormat;

CDosRecordingWriter::CDosRecordingWriter(const CString& logPath, double rate, int compression,
                                         const CAmpHardwareInfo& amp, const CEegMontage& montage)
    : CDosEegData(m_LogFile) {
    // First, so that a second writer is refused before it empties the log.
    HoldWriterByte(logPath);
    m_LogFile.CreateLog(logPath);
    m_LogFile.SetSampleRate(rate);
    m_LogFile.SetCompressionType(compression);
    m_LogFile.SetAmpInfo(amp);
    const CMontageEvent atStart(CEegTimeStamp(0), &montage);
    const CEegEvent* events[] = {&atStart};
    WriteEvents(events, 1);
}

CDosRecordingWriter::~CDosRecordingWriter() {
    m_Out.Abort();
    const CString lockPath = m_LockFile.GetFilePath();
    m_LockFile.Abort();  // frees the writer byte
    // A station that has the lock file open still needs it (CFile refuses to
    // remove a file open anywhere) and removes it when it leaves last.
    try {
        CFile::Remove(lockPath);
    } catch (CException* e) {
        e->Delete();
    }
}

void CDosRecordingWriter::HoldWriterByte(const CString& logPath) {
    const CString path = fmt::SiblingPath(logPath, fmt::kLockExtension);
    CFileException error;
    if (!m_LockFile.Open(path,
                         CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate |
                             CFile::shareDenyNone | CFile::typeBinary,
                         &error))
        throw new CFileException(error.m_cause, error.m_lOsError, path);
    if (!m_LockFile.TryLockRange(fmt::kWriterByte, 1))
        ThrowEegFileException(CEegFileException::eWriteAccessRequired);
}

void CDosRecordingWriter::WriteEvents(const CEegEvent* const* events, int count) {
    m_LogFile.AddEventsToLog(events, count);
}

BOOL CDosRecordingWriter::StartDataFile() {
    Close();
    m_LogFile.updateLastFile();
    createNewDataFile();
    if (getStatus() != 0)
        return FALSE;
    CLogFile::FileType file;
    file.fileNumber = m_LogFile.getLastDataFileNumber();
    m_Out.Open(m_LogFile.GetFilePath(file), CFile::modeWrite | CFile::modeNoTruncate |
                                                CFile::shareDenyWrite | CFile::typeBinary);
    if (!m_Out.IsOpen())
        return FALSE;
    m_Out.SeekToEnd();
    return TRUE;
}

BOOL CDosRecordingWriter::WriteSecond(const short* frames) {
    if (!m_Out.IsOpen() && !StartDataFile())
        return FALSE;
    char stored[kRawSecondBytes];
    const int bytes = PackSecond(frames, stored);
    if (bytes <= 0)
        return FALSE;
    m_Out.Write(stored, static_cast<UINT>(bytes));
    return TRUE;
}

int CDosRecordingWriter::writeData(int startNewFile, short* frames, int frameCount) {
    if (frameCount != getSampleFrequency() || (startNewFile && !StartDataFile()))
        return 0;
    return WriteSecond(frames) ? 1 : 0;
}

void CDosRecordingWriter::WriteCutFile(int number, const short* frames, int seconds) {
    CLogFile::FileType file;
    file.fileNumber = -number;
    CFile out(m_LogFile.GetFilePath(file),
              CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite | CFile::typeBinary);
    char stored[kRawSecondBytes];
    const size_t frameSamples = static_cast<size_t>(32) * static_cast<size_t>(getSampleFrequency());
    for (int s = 0; s < seconds; ++s) {
        const int bytes = PackSecond(frames + frameSamples * s, stored);
        out.Write(stored, static_cast<UINT>(bytes));
    }
    out.Flush();
    out.Close();
}

void CDosRecordingWriter::Close() {
    if (m_Out.IsOpen()) {
        m_Out.Flush();
        m_Out.Close();
    }
}
