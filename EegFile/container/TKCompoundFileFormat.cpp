#include "EegFile/container/TKCompoundFileFormat.h"

#include <algorithm>
#include <cstring>

namespace TKCompoundFileFormat {
namespace {

void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t Get32(const unsigned char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
uint64_t Get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
int32_t GetInt32(const unsigned char* p) {
    return static_cast<int32_t>(Get32(p));
}
int64_t GetInt64(const unsigned char* p) {
    return static_cast<int64_t>(Get64(p));
}

int64_t RoundUp(int64_t n) {
    return (n + kSectionAlignment - 1) / kSectionAlignment * kSectionAlignment;
}

}  // namespace

int32_t SectionSizeForUnit(int64_t unit) {
    if (unit < 1)
        return kMinSectionSize;
    return static_cast<int32_t>(
        RoundUp(std::min<int64_t>(unit, kMaxSectionData) + kSectionOverhead));
}

int32_t SectionSizeForData(int64_t used) {
    return static_cast<int32_t>(
        RoundUp(std::clamp<int64_t>(used, 0, kMaxSectionData) + kSectionOverhead));
}

void PutName(char field[kNameFieldSize], const char* name) {
    std::memset(field, 0, kNameFieldSize);
    if (name)
        std::strncpy(field, name, kMaxNameLength);
}

void EncodeHeader(const SectionHeader& h, unsigned char out[kHeaderSize]) {
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out + HeaderField::kMagic, kHeaderMagic, sizeof kHeaderMagic);
    std::memcpy(out + HeaderField::kName, h.name, kNameFieldSize);
    out[HeaderField::kName + kNameFieldSize - 1] = 0;
    Put64(out + HeaderField::kOffset, static_cast<uint64_t>(h.offset));
    Put64(out + HeaderField::kNext, static_cast<uint64_t>(h.next));
    Put32(out + HeaderField::kLinked, static_cast<uint32_t>(h.linked));
    Put32(out + HeaderField::kFree, static_cast<uint32_t>(h.free));
    Put32(out + HeaderField::kSize, static_cast<uint32_t>(h.size));
    Put32(out + HeaderField::kUsed, static_cast<uint32_t>(h.used));
    Put32(out + HeaderField::kCopy, static_cast<uint32_t>(h.copy));
    Put32(out + HeaderField::kHeaderSize, static_cast<uint32_t>(h.headerSize));
    Put32(out + HeaderField::kSequence, static_cast<uint32_t>(h.sequence));
    Put32(out + HeaderField::kAnnotationLength, static_cast<uint32_t>(h.annotationLength));
    for (int i = 0; i < kAnnotationWords; ++i) {
        Put32(out + HeaderField::kAnnotation + 4 * i, h.annotation[i]);
    }
}

void DecodeHeader(const unsigned char in[kHeaderSize], SectionHeader& h) {
    std::memcpy(h.magic, in + HeaderField::kMagic, sizeof h.magic);
    h.magic[sizeof h.magic - 1] = 0;
    std::memcpy(h.name, in + HeaderField::kName, kNameFieldSize);
    h.name[kNameFieldSize - 1] = 0;
    h.offset = GetInt64(in + HeaderField::kOffset);
    h.next = GetInt64(in + HeaderField::kNext);
    h.linked = GetInt32(in + HeaderField::kLinked);
    h.free = GetInt32(in + HeaderField::kFree);
    h.size = GetInt32(in + HeaderField::kSize);
    h.used = GetInt32(in + HeaderField::kUsed);
    h.copy = GetInt32(in + HeaderField::kCopy);
    h.headerSize = GetInt32(in + HeaderField::kHeaderSize);
    h.sequence = GetInt32(in + HeaderField::kSequence);
    h.annotationLength = GetInt32(in + HeaderField::kAnnotationLength);
    for (int i = 0; i < kAnnotationWords; ++i) {
        h.annotation[i] = Get32(in + HeaderField::kAnnotation + 4 * i);
    }
}

void EncodeTrailer(int64_t offset, int32_t size, unsigned char out[kTrailerSize]) {
    std::memset(out, 0, kTrailerSize);
    std::memcpy(out + TrailerField::kMagic, kTrailerMagic, sizeof kTrailerMagic);
    Put64(out + TrailerField::kOffset, static_cast<uint64_t>(offset));
    Put32(out + TrailerField::kSize, static_cast<uint32_t>(size));
}

void EncodeRecord(const DirectoryRecord& r, unsigned char out[kDirectoryRecordSize]) {
    std::memset(out, 0, kDirectoryRecordSize);
    std::memcpy(out + RecordField::kName, r.name, kNameFieldSize);
    out[RecordField::kName + kNameFieldSize - 1] = 0;
    Put64(out + RecordField::kFirstSection, static_cast<uint64_t>(r.firstSection));
    Put32(out + RecordField::kCopy, static_cast<uint32_t>(r.copy));
}

void DecodeRecord(const unsigned char in[kDirectoryRecordSize], DirectoryRecord& r) {
    std::memcpy(r.name, in + RecordField::kName, kNameFieldSize);
    r.name[kNameFieldSize - 1] = 0;
    r.firstSection = GetInt64(in + RecordField::kFirstSection);
    r.copy = GetInt32(in + RecordField::kCopy);
}

bool IsPlausibleHeader(const SectionHeader& h, int64_t p) {
    return h.offset == p && h.next >= -1 && std::strcmp(h.magic, kHeaderMagic) == 0 &&
           h.copy >= 1 && h.sequence >= 0 && h.headerSize == kHeaderSize &&
           h.size >= kMinSectionSize && h.size % kSectionAlignment == 0 && h.used >= 0 &&
           h.used <= h.size - kSectionOverhead && (h.free == 0 || h.free == 1);
}

bool IsValidHeader(const SectionHeader& h, int64_t p, int64_t fileLength) {
    // Compared without overflow: every term is checked against the file's length.
    return IsPlausibleHeader(h, p) && h.next <= fileLength - kMinSectionSize && p >= 0 &&
           h.size <= fileLength - p;
}

}  // namespace TKCompoundFileFormat
