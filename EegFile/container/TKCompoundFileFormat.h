// The on-disk layout of a compound container file, shared by everything that
// reads or writes one. All integers are little-endian; offsets and positions are
// 64-bit signed. The file is a gapless run of sections, the first at offset 0:
//
//   section  = header (104 bytes) | data area (size - 128 bytes) | trailer (24 bytes)
//
// Sections of one stream are chained by the header's next-section offset in
// sequence order. The stream "Directory" copy 1 owns the section at offset 0 and
// lists the first section of every other stream.
#pragma once

#include <cstdint>

#include "Platform/Types.h"

namespace TKCompoundFileFormat {

// Section geometry.
inline constexpr int kHeaderSize = 104;
inline constexpr int kTrailerSize = 24;
inline constexpr int kSectionOverhead = kHeaderSize + kTrailerSize;  // 128
inline constexpr int kSectionAlignment = 512;
inline constexpr int kMinSectionSize = 512;
// The largest section; an open-ended last section carries it as its nominal size
// while it is being written.
inline constexpr int32_t kOpenEndedSectionSize = 0x7FFFFE00;
// The most data one section holds (kOpenEndedSectionSize - kSectionOverhead).
inline constexpr int32_t kMaxSectionData = 0x7FFFFD80;

// Stream names: at most 15 characters in a NUL-padded 16-byte field.
inline constexpr int kNameFieldSize = 16;
inline constexpr int kMaxNameLength = 15;

inline constexpr int kAnnotationWords = 8;
inline constexpr int kDefaultAllocationUnit = 4096;

// The directory stream.
inline constexpr const char* kDirectoryName = "Directory";
inline constexpr int kDirectoryCopy = 1;
inline constexpr int kDirectoryAllocationUnit = 896;  // one 1024-byte section
inline constexpr WORD kVersionXor = 0x5A5A;
inline constexpr WORD kDirectorySchema = 0;
inline constexpr int kDirectoryRecordSize = 32;
inline constexpr int kDirectoryArchiveBuffer = 4096;

// Stream copies move in pieces of this size.
inline constexpr int kCopyPieceSize = 4096;

// Section header field offsets.
namespace HeaderField {
inline constexpr int kMagic = 0;  // "SctHdr", NUL-padded to 8 bytes
inline constexpr int kName = 8;
inline constexpr int kOffset = 24;
inline constexpr int kNext = 32;
inline constexpr int kLinked = 40;
inline constexpr int kFree = 44;
inline constexpr int kSize = 48;
inline constexpr int kUsed = 52;
inline constexpr int kCopy = 56;
inline constexpr int kHeaderSize = 60;
inline constexpr int kSequence = 64;
inline constexpr int kAnnotationLength = 68;
inline constexpr int kAnnotation = 72;
}  // namespace HeaderField

// Section trailer field offsets (at section offset + size - 24).
namespace TrailerField {
inline constexpr int kMagic = 0;  // "SctTrlr" and one NUL
inline constexpr int kOffset = 8;
inline constexpr int kSize = 16;
inline constexpr int kReserved = 20;
}  // namespace TrailerField

// Directory record field offsets.
namespace RecordField {
inline constexpr int kName = 0;
inline constexpr int kFirstSection = 16;
inline constexpr int kCopy = 24;
inline constexpr int kReserved = 28;
}  // namespace RecordField

inline constexpr char kHeaderMagic[8] = {'S', 'c', 't', 'H', 'd', 'r', 0, 0};
inline constexpr char kTrailerMagic[8] = {'S', 'c', 't', 'T', 'r', 'l', 'r', 0};

// A section header as stored.
struct SectionHeader {
    char magic[8] = {};
    char name[kNameFieldSize] = {};  // always NUL-terminated once decoded
    int64_t offset = 0;
    int64_t next = -1;
    int32_t linked = 0;
    int32_t free = 0;
    int32_t size = 0;
    int32_t used = 0;
    int32_t copy = 1;
    int32_t headerSize = kHeaderSize;
    int32_t sequence = 0;
    int32_t annotationLength = 0;
    uint32_t annotation[kAnnotationWords] = {};
};

struct DirectoryRecord {
    char name[kNameFieldSize] = {};
    int64_t firstSection = -1;
    int32_t copy = 1;
};

// The section size for an allocation unit (data bytes wanted per section): the
// unit plus header and trailer, rounded up to 512; 512 for a unit below 1.
int32_t SectionSizeForUnit(int64_t unit);
// used + 128 rounded up to 512: the size that just holds used data bytes.
int32_t SectionSizeForData(int64_t used);

// Copies name, cut to 15 characters, into a NUL-padded 16-byte field.
void PutName(char field[kNameFieldSize], const char* name);

void EncodeHeader(const SectionHeader& h, unsigned char out[kHeaderSize]);
// Decodes and NUL-terminates the magic (byte 7) and the name (byte 23).
void DecodeHeader(const unsigned char in[kHeaderSize], SectionHeader& h);
void EncodeTrailer(int64_t offset, int32_t size, unsigned char out[kTrailerSize]);
void EncodeRecord(const DirectoryRecord& r, unsigned char out[kDirectoryRecordSize]);
void DecodeRecord(const unsigned char in[kDirectoryRecordSize], DirectoryRecord& r);

// Whether a decoded header read at file offset p of a file of fileLength bytes
// is a section header: offset p, next within the file or -1, the magic, copy at
// least 1, sequence not negative, header size 104, size a multiple of 512 of at
// least 512, used between 0 and size - 128, free 0 or 1, and the section within
// the file.
bool IsValidHeader(const SectionHeader& h, int64_t p, int64_t fileLength);
// The same checks without the two that compare with the file's length, for a
// header re-read from a section already known (an open-ended section being
// written carries a nominal size beyond the file's end).
bool IsPlausibleHeader(const SectionHeader& h, int64_t p);

}  // namespace TKCompoundFileFormat
