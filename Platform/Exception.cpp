#include "Platform/Exception.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Platform/Report.h"

namespace {
// Substitutes the file name for %1, as the framework's message templates do.
CString WithFileName(const char* pattern, const CString& fileName) {
    CString s(pattern);
    s.Replace("%1", fileName.IsEmpty() ? "an unnamed file" : fileName.GetString());
    return s;
}
}  // namespace

BOOL CException::CopyMessage(const CString& text, char* buffer, UINT maxChars, UINT* helpContext) {
    if (helpContext)
        *helpContext = 0;
    if (buffer && maxChars > 0) {
        size_t n =
            std::min(static_cast<size_t>(text.GetLength()), static_cast<size_t>(maxChars) - 1);
        std::memcpy(buffer, text.GetString(), n);
        buffer[n] = '\0';
    }
    return TRUE;
}

CString CException::MessageText() const {
    return "An unexpected error occurred.";
}

BOOL CException::GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext) {
    return CopyMessage(MessageText(), buffer, maxChars, helpContext);
}

CString CException::GetErrorText() {
    // Go through the virtual GetErrorMessage so subclasses that override only it
    // (as the library's own exceptions do) are rendered the same way.
    std::string buf(4096, '\0');
    GetErrorMessage(buf.data(), static_cast<UINT>(buf.size()));
    buf.resize(std::strlen(buf.c_str()));
    return CString(std::move(buf));
}

int CException::ReportError() {
    AfxMessageBox(GetErrorText());
    return 0;
}

int CFileException::OsErrorToException(int osError) {
    switch (osError) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case EEXIST:
            return accessDenied;
        case EBADF:
            return invalidFile;
        case EBUSY:
            return removeCurrentDir;
        case EMLINK:
            return directoryFull;
        case EINVAL:
        case ESPIPE:
        case EOVERFLOW:
            return badSeek;
        case EIO:
            return hardIO;
        case ETXTBSY:
            return sharingViolation;
        case EAGAIN:
        case EDEADLK:
        case ENOLCK:
            return lockViolation;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        default:
            return generic;
    }
}

void CFileException::ThrowOsError(int osError, const char* fileName) {
    throw new CFileException(OsErrorToException(osError), osError, fileName);
}

CString CFileException::MessageText() const {
    static const char* const kTexts[] = {
        "No error occurred.",
        "An unexpected error occurred while accessing %1.",
        "%1 was not found.",
        "%1 contains an invalid path.",
        "%1 could not be opened because there are too many open files.",
        "Access to %1 was denied.",
        "An incorrect file handle was associated with %1.",
        "%1 could not be removed because it is the current directory.",
        "%1 could not be created because the directory is full.",
        "Seek failed on %1.",
        "A hardware I/O error was reported while accessing %1.",
        "A sharing violation occurred while accessing %1.",
        "A locking violation occurred while accessing %1.",
        "Disk full while accessing %1.",
        "An attempt was made to access %1 past its end.",
    };
    const int n = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
    CString s = WithFileName(m_cause >= 0 && m_cause < n ? kTexts[m_cause] : kTexts[generic],
                             m_strFileName);
    if (m_lOsError > 0) {
        s += " (";
        s += std::strerror(m_lOsError);
        s += ")";
    }
    return s;
}

BOOL CFileException::GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext) {
    return CopyMessage(MessageText(), buffer, maxChars, helpContext);
}

CString CArchiveException::MessageText() const {
    static const char* const kTexts[] = {
        "No error occurred.",
        "An unexpected error occurred while reading or writing %1.",
        "Tried to write to %1 while it was open for loading.",
        "An attempt was made to read %1 past its end.",
        "Tried to read from %1 while it was open for storing.",
        "%1 has a bad format.",
        "%1 contained an unexpected object.",
        "%1 contains an incorrect schema.",
    };
    const int n = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
    return WithFileName(m_cause >= 0 && m_cause < n ? kTexts[m_cause] : kTexts[generic],
                        m_strFileName);
}

BOOL CArchiveException::GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext) {
    return CopyMessage(MessageText(), buffer, maxChars, helpContext);
}

CString CMemoryException::MessageText() const {
    return "Out of memory.";
}

void AfxThrowFileException(int cause, int32_t osError, const char* fileName) {
    throw new CFileException(cause, osError, fileName);
}

void AfxThrowArchiveException(int cause, const char* fileName) {
    throw new CArchiveException(cause, fileName);
}
