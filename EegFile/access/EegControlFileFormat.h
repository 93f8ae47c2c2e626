// The two files beside a recording through which stations share it: the control
// file (".$co"), which lists every station that has the recording open with its
// access mode, and the lock file (".$lo"), whose single bytes stations lock
// against each other and which is never written. Reader and writer of both use
// only what is here.
//
// Control file, from offset 0, little-endian, through an archive:
//   WORD    schema word: schema 0 XOR 0x5A5A
//   string  signature "TK-EEG-Control" (archive string)
//   int32   entry count (a plain integer, not the archive's count form)
//   entries count x { string station name; int32 station number; int32 mode }
// A file of length 0 lists no station. Bytes after the last entry (left when a
// shorter list was written over a longer one) are never read.
#pragma once

#include <cstdint>

#include "EegFile/frame/StationList.h"
#include "Platform/String.h"
#include "Platform/Types.h"

class CFile;

namespace EegControlFileFormat {

inline constexpr char kControlExtension[] = ".$co";
inline constexpr char kLockExtension[] = ".$lo";

constexpr WORD kSchema = 0;
constexpr WORD kVersionXor = 0x5A5A;
constexpr WORD kSchemaWord = kSchema ^ kVersionXor;
inline constexpr char kSignature[] = "TK-EEG-Control";
constexpr int kArchiveBufferSize = 4096;
// The least room one entry takes: an empty name's one-byte length, number, mode.
constexpr uint64_t kMinEntryBytes = 1 + 4 + 4;

// Lock file bytes.
constexpr int kWriterByte = 0;      // the end of the container file
constexpr int kControlByte = 1;     // read-modify-write of the control file
constexpr int kDirectoryByte = 2;   // the container's directory, opening and creating streams
constexpr int kLockByteCount = 13;  // 3 to 12: the stream regions (RegionByte)

// The region byte of stream type 0 to 4, copy 1 or 2: type + 5 x copy - 2. -1
// (no byte) for anything else.
constexpr int RegionByte(int streamType, int copy) {
    if (streamType < 0 || streamType > 4 || copy < 1 || copy > 2)
        return -1;
    return streamType + 5 * copy - 2;
}

// Time-outs in milliseconds: every station lock, the backup copy of the event
// list, and the one try at each other byte after a recording station missed one.
constexpr int kLockTimeoutMs = 10000;
constexpr int kBackupCopyTimeoutMs = 60000;
constexpr int kLockFailureProbeMs = 10;

// The path of the file beside recordingPath with the recording's extension (the
// last '.' of the last component) replaced by, or without one given, extension.
CString SiblingPath(const char* recordingPath, const char* extension);

}  // namespace EegControlFileFormat

// The control file's contents as last read or about to be written.
struct CEegControlRecord {
    BOOL m_Valid = FALSE;
    CString m_Signature;
    CEegStationList m_Stations;
};

// Reads the whole file from offset 0 into record. A file of length 0 gives a
// valid record without stations. A wrong schema word or signature (or a file too
// short to hold them) raises CEegFileException code 10; an entry count below 0 or
// beyond what the rest of the file can hold, and a cut entry, raise the archive
// exception endOfFile before anything is allocated for them.
void ReadControlRecord(CFile& file, CEegControlRecord& record);

// Writes the schema word, the signature and the stations from offset 0; the file
// is not shortened.
void WriteControlRecord(CFile& file, const CEegStationList& stations);
