// The framework's exception family. Exceptions are thrown by pointer to a heap
// object, caught as CException*, and freed by the catcher with Delete():
//
//     try { ... } catch (CException* e) { ...; e->Delete(); }
//
// CFileException and CArchiveException keep the framework's cause numbers,
// because callers and stored behaviour test them by number.
#pragma once

#include "Platform/Object.h"
#include "Platform/String.h"
#include "Platform/Types.h"

class CException : public CObject {
public:
    CException() = default;
    ~CException() override = default;

    // Frees a heap exception; the catcher's duty.
    void Delete() { delete this; }

    // Copies at most maxChars - 1 characters of the message and a terminator into
    // buffer; sets *helpContext to 0 when given. Returns TRUE when a message exists.
    virtual BOOL GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext = nullptr);

    // The whole message as a string (the same text GetErrorMessage copies).
    CString GetErrorText();

    // Shows the message through the message callback (Platform/Report.h).
    virtual int ReportError();

protected:
    // The full message text; derived classes override.
    virtual CString MessageText() const;
    static BOOL CopyMessage(const CString& text, char* buffer, UINT maxChars, UINT* helpContext);
};

class CFileException : public CException {
public:
    enum {
        none = 0,
        generic = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    explicit CFileException(int cause = none, int32_t osError = -1, const char* fileName = nullptr)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

    // The cause for an errno value of a failed system call.
    static int OsErrorToException(int osError);
    // Throws a heap CFileException for errno value osError on fileName.
    [[noreturn]] static void ThrowOsError(int osError, const char* fileName = nullptr);

    BOOL GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext = nullptr) override;

    int m_cause;
    int32_t m_lOsError;  // errno of the failed call, -1 when there is none
    CString m_strFileName;

protected:
    CString MessageText() const override;
};

class CArchiveException : public CException {
public:
    enum {
        none = 0,
        generic = 1,
        readOnly = 2,
        endOfFile = 3,
        writeOnly = 4,
        badIndex = 5,
        badClass = 6,
        badSchema = 7,
    };

    explicit CArchiveException(int cause = none, const char* fileName = nullptr)
        : m_cause(cause), m_strFileName(fileName) {}

    BOOL GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext = nullptr) override;

    int m_cause;
    CString m_strFileName;

protected:
    CString MessageText() const override;
};

// Memory exhaustion in the framework's own terms.
class CMemoryException : public CException {
protected:
    CString MessageText() const override;
};

[[noreturn]] void AfxThrowFileException(int cause, int32_t osError = -1,
                                        const char* fileName = nullptr);
[[noreturn]] void AfxThrowArchiveException(int cause, const char* fileName = nullptr);
