#include "EegFile/container/TKCompoundFileException.h"

namespace {
const char* CodeText(int32_t code) {
    switch (code) {
        case CTKCompoundFileException::missingSectionEntry:
            return "Internal error - missing section entry.";
        case CTKCompoundFileException::lockTimeout:
            return "File locking timeout.";
        case CTKCompoundFileException::sequenceError:
            return "Internal error - section sequence numbering error.";
        case CTKCompoundFileException::streamIdInUse:
            return "Internal error - stream ID already in use.";
        case CTKCompoundFileException::invalidSectionHeader:
            return "File corrupted - invalid section header.";
        case CTKCompoundFileException::unexpectedEndOfFile:
            return "File corrupted - unexpected end of file.";
        case CTKCompoundFileException::badDirectoryStream:
            return "File corrupted - failed to load directory stream.";
        case CTKCompoundFileException::badDirectorySchema:
            return "File corrupted - bad directory schema.";
        default:
            return "Unknown error type.";
    }
}
}  // namespace

void CTKCompoundFileException::Throw(int32_t error, const char* fileName) {
    throw new CTKCompoundFileException(error, fileName);
}

CString CTKCompoundFileException::MessageText() const {
    return CString("TK Compound File Error: ") + CodeText(m_nError) + "\n\n'" + m_strFileName + "'";
}

BOOL CTKCompoundFileException::GetErrorMessage(char* buffer, UINT size, UINT* helpContext) {
    return CopyMessage(MessageText(), buffer, size, helpContext);
}
