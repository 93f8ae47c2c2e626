// Enumerations shared across the library. All are stored as 4-byte integers.
#pragma once

namespace Compression {
// How samples are packed on disk. The current format stores every value other
// than 2 uncompressed; 1 exists only in legacy data files.
enum CompressionType : int {
    Uncompressed = 0,
    DeltaExponent = 1,
    AdaptiveDelta = 2,
};
}  // namespace Compression

namespace CEegAccessMode {
// Modes 1 and 3 carry the mark right, 2 and 3 the write right; 4 excludes every
// other station.
enum EegAccessModeType : int {
    eamRead = 0,
    eamReadMark = 1,
    eamWrite = 2,
    eamWriteMark = 3,
    eamExclusive = 4,
};
}  // namespace CEegAccessMode

namespace CEegStreamType {
// The stream regions that stations lock against each other.
enum EegStreamType : int {
    estHeader = 0,
    estPatient = 1,
    estEventList = 2,
    estDataMarks = 4,
};
}  // namespace CEegStreamType
