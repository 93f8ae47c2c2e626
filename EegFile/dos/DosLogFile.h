// CDosLogFile: the log of a legacy recording on disk. It supplies CLogFile's file
// operations over a CFile, which takes part in the Windows share modes among
// stations: readers let everyone in, a writer keeps other writers out for the
// length of one write. The log is opened and closed around each operation.
//
// Lines are read through a buffer of its own (one read call per 64 KB), and a last
// line without its line end is left for a later read: a station may be in the
// middle of writing it.
#pragma once

#include <vector>

#include "EegFile/dos/LogFile.h"
#include "Platform/File.h"

class CDosLogFile : public CLogFile {
public:
    // An open that another station's share mode refuses is tried again for this
    // long before it counts as a failure.
    static constexpr uint32_t kShareRetryMs = 10000;

    // No log.
    CDosLogFile();
    // OpenLog(path, createIfMissing); throws as updateFromLog does.
    CDosLogFile(const CString& path, int createIfMissing);
    ~CDosLogFile() override;

    // Closes any log, takes the paths and parses the log; with createIfMissing an
    // empty log is created when there is none. Throws as updateFromLog does.
    void OpenLog(const CString& path, int createIfMissing);
    // Closes any log, takes the paths and creates an empty log (replacing one);
    // a log that cannot be created sets status bit 0x1.
    void CreateLog(const CString& path);
    // Closes the file, sets every variable back to its default and clears the paths.
    void CloseLog();

protected:
    StatusType OpenFile(const char* mode, int share) override;
    void CloseFile() override;
    int write(const char* data, int count) override;
    int64_t seek(int64_t offset, int origin) override;
    int64_t logFileLength() override;
    int64_t logFilePosition() override;
    int readLogLine(char* buffer, int n) override;
    void createLogFile() override;
    StatusType openLogAndSeek(int64_t* position, int64_t offset, int origin) override;

private:
    void init(int createIfMissing);
    // Reads more of the log behind what the buffer holds; false at its end.
    bool Fill();
    void DropBuffer(int64_t filePosition);

    CFile m_File;
    std::vector<char> m_Buffer;
    size_t m_nNext = 0;          // the next unread byte in the buffer
    size_t m_nEnd = 0;           // bytes held
    int64_t m_nBufferStart = 0;  // the log offset of the buffer's first byte
};
