// Helpers of the event-log tests: block-event entries written out by hand, and
// the bytes of a stream as another opener of the recording reads them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "EegFile/container/TKStreamFile.h"
#include "EegFile/winfile/WinEegFile.h"

namespace eventlogtest {

using Bytes = std::vector<unsigned char>;

// A block event's list entry: type word 11 ^ 0xA5A5, the two version words,
// type 11 and the offset.
inline Bytes BlockEntry(uint32_t at) {
    Bytes b = {0xAE, 0xA5, 0x5A, 0x5A, 0x5A, 0x5A, 0x0B, 0x00, 0x00, 0x00};
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(at >> (8 * i)));
    return b;
}

// The version word, then a block entry per offset.
inline Bytes Log(std::initializer_list<uint32_t> offsets) {
    Bytes b = {0x5A, 0x5A};
    for (uint32_t at : offsets) {
        const Bytes e = BlockEntry(at);
        b.insert(b.end(), e.begin(), e.end());
    }
    return b;
}

inline Bytes ReadStream(const std::string& path, const char* name, int copy = 1) {
    Bytes bytes;
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, copy, 1024, CFile::modeRead);
    if (!f)
        return bytes;
    bytes.resize(f->GetLength());
    bytes.resize(f->Read(bytes.data(), static_cast<UINT>(bytes.size())));
    f->Close();
    delete f;
    return bytes;
}

}  // namespace eventlogtest
