#include "EegFile/events/EventFormat.h"

#include <algorithm>

#include "Platform/Exception.h"

namespace EventFormat {

WORD SerializeVersion(CArchive& ar, WORD current) {
    if (ar.IsStoring()) {
        ar << static_cast<WORD>(current ^ kVersionMask);
        return current;
    }
    WORD word = 0;
    ar >> word;
    return static_cast<WORD>(word ^ kVersionMask);
}

void ThrowBadSchema(const CArchive& ar) {
    AfxThrowArchiveException(CArchiveException::badSchema, ar.m_strFileName);
}

std::vector<unsigned char> ReadBlock(CArchive& ar, size_t size) {
    constexpr size_t kPiece = 4096;
    std::vector<unsigned char> bytes;
    while (bytes.size() < size) {
        const size_t at = bytes.size();
        const size_t piece = std::min(kPiece, size - at);
        bytes.resize(at + piece);
        ar.EnsureRead(bytes.data() + at, static_cast<UINT>(piece));
    }
    return bytes;
}

}  // namespace EventFormat
