#include "EegFile/frame/EegFileException.h"

namespace {
const char* const kCodeTexts[] = {
    "Unknown event list format.",
    "Unknown EEG Parameter format.",
    "Unknown Patient data format.",
    "Unknown EEG file header format.",
    "Failure during file access mode change.",
    "Read access mode is required.",
    "Write access mode is required.",
    "Exclusive access mode is required.",
    "Mark mode access is required.",
    "Invalid file signature.",
    "Invalid control file signature.",
    "EEG write buffer overflow.",
    "Access denied - EEG file is read only.",
    "Failed To Allocate EEG Data Storage.",
};
}  // namespace

CEegFileException::CEegFileException(int errorCode, const CEegStationList* stations)
    : m_nErrorCode(errorCode) {
    if (stations) {
        for (const CEegStationEntry& e : *stations)
            m_StationNames.push_back(e.m_Name);
    }
}

const char* CEegFileException::GetCodeText(int errorCode) {
    const int n = static_cast<int>(sizeof kCodeTexts / sizeof kCodeTexts[0]);
    return errorCode >= 0 && errorCode < n ? kCodeTexts[errorCode] : "Unknown error type.";
}

CString CEegFileException::CodeText() const {
    return GetCodeText(m_nErrorCode);
}

CString CEegFileException::MessageText() const {
    CString text = "Tarnvik EEG File Error: ";
    text += CodeText();
    if (!m_StationNames.empty()) {
        text += "\n\nThe following station(s) are accessing this file:";
        for (const CString& name : m_StationNames) {
            text += "\n\t";
            text += name;
        }
    }
    return text;
}

BOOL CEegFileException::GetErrorMessage(char* buffer, UINT maxChars, UINT* helpContext) {
    CopyMessage(MessageText(), buffer, maxChars, helpContext);
    return TRUE;
}

void ThrowEegFileException(int errorCode, const CEegStationList* stations) {
    throw new CEegFileException(errorCode, stations);
}
