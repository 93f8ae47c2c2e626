// CDosFileException: faults of a legacy recording's log and data files, thrown by
// pointer through ThrowDosFileException and freed by the catcher with Delete().
// Its message is "Tarnvik EEG File Error: " and the code's text, as for the
// recording-level faults it derives from.
#pragma once

#include "EegFile/frame/EegFileException.h"

class CDosFileException : public CEegFileException {
public:
    enum CDosFileExceptionType : int {
        eEventNotDeletable = 20,  // the host's string 116
        eLogOpenFailure = 21,
        eLogAccessFailure = 22,
        eLogWriteFailure = 23,
        eEventUndefined = 24,
        eEventNotFound = 25,
        eAppendNotAllowed = 26,
        eDeleteMarkedDataFailure = 27,
    };

    explicit CDosFileException(int code) : CEegFileException(code, nullptr) {}

    // The text of a code; "Unknown error type." for any other.
    static CString GetDosCodeText(int code);

protected:
    CString CodeText() const override { return GetDosCodeText(m_nErrorCode); }
};

[[noreturn]] void ThrowDosFileException(int code);
