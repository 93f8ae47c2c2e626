#include "EegFile/dos/DosFileException.h"

#include "Platform/StringTable.h"

CString CDosFileException::GetDosCodeText(int code) {
    switch (code) {
        case eEventNotDeletable:
            return AfxLoadString(116);
        case eLogOpenFailure:
            return "Could not open DOS log file.";
        case eLogAccessFailure:
            return "Error accessing DOS log file.";
        case eLogWriteFailure:
            return "Error writing to DOS log file.";
        case eEventUndefined:
            return "Event is undefined in DOS log file.";
        case eEventNotFound:
            return "Could not find event in DOS log file.";
        case eAppendNotAllowed:
            return "Not allowed to append to a DOS file.";
        case eDeleteMarkedDataFailure:
            return "Error deleting marked data.";
        default:
            return "Unknown error type.";
    }
}

void ThrowDosFileException(int code) {
    throw new CDosFileException(code);
}
