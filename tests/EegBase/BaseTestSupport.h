// Helpers for the base library's record tests: store and load objects through a
// real CArchive over a CFile, and build record bytes by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Platform/Archive.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace basetest {

using Bytes = std::vector<unsigned char>;

// Writes each object's record, in order, into a new file at path.
template <class... T>
void Store(const std::string& path, T&... objects) {
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    CArchive ar(&file, CArchive::store);
    (objects.Serialize(ar), ...);
    ar.Close();
    file.Close();
}

// Reads each object's record, in order, from the file at path, and checks that the
// records used every byte of the file.
template <class... T>
void Load(const std::string& path, T&... objects) {
    CFile file(path.c_str(), CFile::modeRead);
    CArchive ar(&file, CArchive::load);
    (objects.Serialize(ar), ...);
    EXPECT_TRUE(ar.IsBufferEmpty()) << "record left bytes unread";
    EXPECT_EQ(ar.GetPosition(), file.GetLength()) << "record left bytes unread";
    ar.Close();
}

// Loading obj from bytes throws CArchiveException with cause and the file's path.
template <class T>
void ExpectLoadFails(const std::string& path, const Bytes& bytes, T& obj, int cause) {
    testsupport::WriteBytes(path, bytes);
    testsupport::ExpectArchiveError([&] { Load(path, obj); }, cause, path);
}

// Every proper prefix of a stored record fails to load with endOfFile.
template <class T>
void ExpectEveryPrefixIsEndOfFile(const std::string& path, const Bytes& whole) {
    for (size_t n = 0; n < whole.size(); ++n) {
        T obj;
        SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
        ExpectLoadFails(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)), obj,
                        CArchiveException::endOfFile);
    }
}

// Little-endian byte building for hand-made records.
class ByteWriter {
public:
    ByteWriter& U8(unsigned v) {
        m_b.push_back(static_cast<unsigned char>(v));
        return *this;
    }
    ByteWriter& U16(unsigned v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
    ByteWriter& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    ByteWriter& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
    ByteWriter& F64(double v) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        return U32(static_cast<uint32_t>(u)).U32(static_cast<uint32_t>(u >> 32));
    }
    // A short string: length byte and characters.
    ByteWriter& Str(const std::string& s) {
        U8(static_cast<unsigned>(s.size()));
        m_b.insert(m_b.end(), s.begin(), s.end());
        return *this;
    }
    ByteWriter& Append(const Bytes& b) {
        m_b.insert(m_b.end(), b.begin(), b.end());
        return *this;
    }
    const Bytes& bytes() const { return m_b; }

private:
    Bytes m_b;
};

}  // namespace basetest
