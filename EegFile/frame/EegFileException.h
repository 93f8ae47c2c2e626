// CEegFileException: recording-level faults of both formats (format, access
// mode, buffer and storage faults), thrown by pointer through
// ThrowEegFileException and freed by the catcher with Delete().
#pragma once

#include <vector>

#include "EegFile/frame/StationList.h"
#include "Platform/Exception.h"

class CEegFileException : public CException {
public:
    enum CEegFileExceptionType : int {
        eUnknownEventListFormat = 0,
        eUnknownEegParameterFormat = 1,
        eUnknownPatientDataFormat = 2,
        eUnknownEegFileHeaderFormat = 3,
        eAccessModeChangeFailure = 4,
        eReadAccessRequired = 5,
        eWriteAccessRequired = 6,
        eExclusiveAccessRequired = 7,
        eMarkAccessRequired = 8,
        eInvalidFileSignature = 9,
        eInvalidControlFileSignature = 10,
        eWriteBufferOverflow = 11,
        eFileIsReadOnly = 12,
        eDataStorageAllocationFailure = 13,
    };

    // stations: the holders of the recording, named in the message; may be null.
    // The names are copied, so the exception outlives the recording that threw it.
    CEegFileException(int errorCode, const CEegStationList* stations);

    int GetErrorCode() const { return m_nErrorCode; }
    const std::vector<CString>& GetStationNames() const { return m_StationNames; }

    // "Tarnvik EEG File Error: " + the code's text + the station paragraph.
    BOOL GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext = nullptr) override;

    // The text of a code; "Unknown error type." for codes this library never uses.
    static const char* GetCodeText(int errorCode);

protected:
    CString MessageText() const override;
    // The text of this exception's code; derived exceptions with their own codes override.
    virtual CString CodeText() const;

    int m_nErrorCode;
    std::vector<CString> m_StationNames;
};

[[noreturn]] void ThrowEegFileException(int errorCode, const CEegStationList* stations = nullptr);
