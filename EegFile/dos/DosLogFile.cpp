#include "EegFile/dos/DosLogFile.h"

#include <algorithm>
#include <cstring>

#include "EegFile/dos/DosFileException.h"
#include "Platform/System.h"

namespace {
constexpr size_t kBufferBytes = 64 * 1024;
}

CDosLogFile::CDosLogFile() : m_Buffer(kBufferBytes) {}

CDosLogFile::CDosLogFile(const CString& path, int createIfMissing) : m_Buffer(kBufferBytes) {
    OpenLog(path, createIfMissing);
}

CDosLogFile::~CDosLogFile() {
    m_File.Abort();
}

void CDosLogFile::OpenLog(const CString& path, int createIfMissing) {
    CloseLog();
    SetPaths(path);
    init(createIfMissing);
}

void CDosLogFile::CreateLog(const CString& path) {
    CloseLog();
    SetPaths(path);
    createLogFile();
}

void CDosLogFile::CloseLog() {
    CloseFile();
    ResetVariables();
    ClearPaths();
}

void CDosLogFile::init(int createIfMissing) {
    if (createIfMissing) {
        if (OpenFile("r", shareDenyNone) != stOk)
            createLogFile();
        else
            CloseFile();
    }
    updateFromLog();
}

CLogFile::StatusType CDosLogFile::OpenFile(const char* mode, int share) {
    CloseFile();
    UINT flags = CFile::typeBinary;
    if (std::strcmp(mode, "r") == 0)
        flags |= CFile::modeRead;
    else if (std::strcmp(mode, "r+") == 0)
        flags |= CFile::modeReadWrite | CFile::modeNoTruncate;
    else  // "w"
        flags |= CFile::modeCreate | CFile::modeWrite;
    flags |= share == shareDenyWrite ? CFile::shareDenyWrite : CFile::shareDenyNone;
    // A refusal by another station's share mode lasts only while that station
    // writes a line, so the open is tried again; bounded, so that a station that
    // holds the log and hangs costs a failure instead of a hang.
    const uint32_t start = GetTickCount();
    for (;;) {
        CFileException error;
        if (m_File.Open(GetLogFilePath(), flags, &error)) {
            DropBuffer(0);
            return stOk;
        }
        if (error.m_cause != CFileException::sharingViolation ||
            GetTickCount() - start >= kShareRetryMs)
            return stLogMissing;
        Sleep(1);
    }
}

void CDosLogFile::CloseFile() {
    m_File.Abort();
    DropBuffer(0);
}

void CDosLogFile::DropBuffer(int64_t filePosition) {
    m_nNext = m_nEnd = 0;
    m_nBufferStart = filePosition;
}

int CDosLogFile::write(const char* data, int count) {
    const int64_t at = logFilePosition();
    try {
        m_File.Seek(at, CFile::begin);
        m_File.Write(data, static_cast<UINT>(count));
    } catch (CException* e) {
        e->Delete();
        // A write cut short (a full disk) would leave half a line behind; the log
        // is put back to its length before it, at no cost to what others read.
        try {
            m_File.SetLength(static_cast<uint64_t>(at));
        } catch (CException* e2) {
            e2->Delete();
        }
        DropBuffer(at);
        return 0;
    }
    DropBuffer(at + count);
    try {
        // A line added to a recording is made durable before it counts as written.
        m_File.Flush();
    } catch (CException* e) {
        e->Delete();
        return -1;
    }
    return count;
}

int64_t CDosLogFile::seek(int64_t offset, int origin) {
    try {
        const int64_t base = origin == seekBegin     ? 0
                             : origin == seekCurrent ? logFilePosition()
                                                     : static_cast<int64_t>(m_File.GetLength());
        if (base + offset < 0)
            return -1;
        const int64_t at = static_cast<int64_t>(m_File.Seek(base + offset, CFile::begin));
        DropBuffer(at);
        return at;
    } catch (CException* e) {
        e->Delete();
        return -1;
    }
}

int64_t CDosLogFile::logFileLength() {
    try {
        return static_cast<int64_t>(m_File.GetLength());
    } catch (CException* e) {
        e->Delete();
        return -1;
    }
}

int64_t CDosLogFile::logFilePosition() {
    return m_File.IsOpen() ? m_nBufferStart + static_cast<int64_t>(m_nNext) : -1;
}

bool CDosLogFile::Fill() {
    if (m_nNext > 0) {
        std::memmove(m_Buffer.data(), m_Buffer.data() + m_nNext, m_nEnd - m_nNext);
        m_nBufferStart += static_cast<int64_t>(m_nNext);
        m_nEnd -= m_nNext;
        m_nNext = 0;
    }
    UINT got = 0;
    try {
        got = m_File.Read(m_Buffer.data() + m_nEnd, static_cast<UINT>(m_Buffer.size() - m_nEnd));
    } catch (CException* e) {
        e->Delete();
        setStatus(stLogAccess);
        CloseFile();
        ThrowDosFileException(CDosFileException::eLogAccessFailure);
    }
    m_nEnd += got;
    return got > 0;
}

int CDosLogFile::readLogLine(char* buffer, int n) {
    const size_t limit = static_cast<size_t>(std::max(n - 1, 0));
    for (;;) {
        const size_t held = m_nEnd - m_nNext;
        const char* first = m_Buffer.data() + m_nNext;
        const size_t scan = std::min(held, limit);
        const char* lf = held ? static_cast<const char*>(std::memchr(first, '\n', scan)) : nullptr;
        if (lf || held >= limit) {
            // A line, or the first limit characters of a longer one (the rest is
            // read as a line of its own).
            const size_t length = lf ? static_cast<size_t>(lf - first) : limit;
            std::memcpy(buffer, first, length);
            m_nNext += length + (lf ? 1 : 0);
            int keyword = 0;
            LogFormat::TrimLine(buffer, static_cast<int>(length), &keyword);
            m_nLastLineKeywordOffset = keyword;
            return 0;
        }
        if (!Fill())
            return 1;  // the end; a last line without its end stays unread
    }
}

void CDosLogFile::createLogFile() {
    try {
        CFile file(GetLogFilePath(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite);
        file.Close();
        SetLogCreated();
    } catch (CException* e) {
        e->Delete();
        setStatus(stLogMissing);
    }
}

CLogFile::StatusType CDosLogFile::openLogAndSeek(int64_t* position, int64_t offset, int origin) {
    const StatusType opened = OpenFile("r+", shareDenyWrite);
    *position = opened == stOk ? seek(offset, origin) : -1;
    return opened;
}
