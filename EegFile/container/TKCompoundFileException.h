// The exception of the compound container: a code and the container's file name
// (the lock file's for a locking time-out). Thrown by pointer to a heap object
// and freed by the catcher with Delete(), as every exception of the framework.
#pragma once

#include <cstdint>

#include "Platform/Exception.h"
#include "Platform/String.h"

class CTKCompoundFileException : public CException {
public:
    enum {
        missingSectionEntry = 0,   // a stream has length but no section holds a position
        lockTimeout = 1,           // a lock between stations was not had in time
        sequenceError = 2,         // a chain's sections are out of sequence
        streamIdInUse = 3,         // a section list exists for the (name, copy) already
        invalidSectionHeader = 4,  // a header fails validation or belongs to another stream
        unexpectedEndOfFile = 5,   // a header cannot be read in full
        badDirectoryStream = 6,    // offset 0 holds no "Directory" copy 1
        badDirectorySchema = 7,
    };

    CTKCompoundFileException(int32_t error, const char* fileName)
        : m_nError(error), m_strFileName(fileName) {}

    // Throws a heap exception with the code and file name.
    [[noreturn]] static void Throw(int32_t error, const char* fileName);

    // "TK Compound File Error: " and the code's text, then "\n\n'", the file name
    // and "'"; cut to size - 1 characters. Always TRUE.
    BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext = nullptr) override;

    int32_t m_nError;
    CString m_strFileName;

protected:
    CString MessageText() const override;
};
