#include "EegFile/access/EegControlFileFormat.h"

#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace fmt = EegControlFileFormat;

CString fmt::SiblingPath(const char* recordingPath, const char* extension) {
    CString path(recordingPath);
    const int slash = path.ReverseFind('/');
    const int dot = path.ReverseFind('.');
    if (dot > slash)
        path = path.Left(dot);
    return path + extension;
}

void ReadControlRecord(CFile& file, CEegControlRecord& record) {
    // Filled only once the whole file has been read: a failure leaves an
    // invalid record without stations.
    record = CEegControlRecord();
    CEegControlRecord read;
    const uint64_t length = file.GetLength();
    if (length == 0) {
        record.m_Valid = TRUE;
        return;
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load, fmt::kArchiveBufferSize);
    WORD schema = 0;
    try {
        ar >> schema >> read.m_Signature;
    } catch (CArchiveException* e) {
        // Too short even for the signature: not a control file of ours.
        e->Delete();
        ThrowEegFileException(CEegFileException::eInvalidControlFileSignature);
    }
    if (schema != fmt::kSchemaWord || read.m_Signature != fmt::kSignature)
        ThrowEegFileException(CEegFileException::eInvalidControlFileSignature);

    int32_t count = 0;
    ar >> count;
    const uint64_t position = ar.GetPosition();
    const uint64_t room = length > position ? length - position : 0;
    if (count < 0 || static_cast<uint64_t>(count) > room / fmt::kMinEntryBytes)
        AfxThrowArchiveException(CArchiveException::endOfFile, file.GetFilePath());
    read.m_Stations.SetSize(count);
    for (CEegStationEntry& entry : read.m_Stations) {
        int32_t mode = 0;
        ar >> entry.m_Name >> entry.m_Number >> mode;
        // Kept as stored: a mode this library does not know refuses every request.
        entry.m_Mode = static_cast<CEegAccessMode::EegAccessModeType>(mode);
    }
    read.m_Valid = TRUE;
    record = std::move(read);
}

void WriteControlRecord(CFile& file, const CEegStationList& stations) {
    file.SeekToBegin();
    CArchive ar(&file, CArchive::store, fmt::kArchiveBufferSize);
    ar << fmt::kSchemaWord << CString(fmt::kSignature) << static_cast<int32_t>(stations.GetSize());
    for (const CEegStationEntry& entry : stations)
        ar << entry.m_Name << entry.m_Number << static_cast<int32_t>(entry.m_Mode);
    ar.Close();
}
