// Helpers of the container tests: little-endian fields of a file's bytes, section
// headers as the tests expect them, content patterns.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "Platform/Exception.h"
#include "TestSupport.h"

namespace containertest {

using Bytes = std::vector<unsigned char>;
using testsupport::ExpectThrows;
using testsupport::KeepEnds;
using testsupport::Pipe;
using testsupport::ReadBytes;
using testsupport::Reap;
using testsupport::Spawn;
using testsupport::TempDir;
using testsupport::WriteBytes;

inline uint64_t Le(const Bytes& b, size_t at, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | b.at(at + static_cast<size_t>(i));
    return v;
}
inline int32_t Le32(const Bytes& b, size_t at) {
    return static_cast<int32_t>(Le(b, at, 4));
}
inline int64_t Le64(const Bytes& b, size_t at) {
    return static_cast<int64_t>(Le(b, at, 8));
}
inline void PutLe(Bytes& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b.at(at + static_cast<size_t>(i)) = static_cast<unsigned char>(v >> (8 * i));
}
inline std::string Text(const Bytes& b, size_t at, size_t n) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}
// A name as its 16-byte field holds it.
inline std::string NameField(const char* name) {
    std::string s(name);
    s.resize(16, '\0');
    return s;
}

// The fields of a section header that change: next, linked, free, size, used, sequence.
using Fields = std::array<int64_t, 6>;

// The section at `at`: checks what every section has (its magic, its own offset,
// the header size and a trailer at its end; the stream's name and copy when
// given) and returns the fields that change.
inline Fields Section(const Bytes& b, int64_t at, const char* name = nullptr, int copy = 1) {
    const size_t p = static_cast<size_t>(at);
    if (p + 104 > b.size()) {
        ADD_FAILURE() << "no section header at " << at;
        return {};
    }
    const Fields f{Le64(b, p + 32), Le32(b, p + 40), Le32(b, p + 44),
                   Le32(b, p + 48), Le32(b, p + 52), Le32(b, p + 64)};
    EXPECT_EQ(Text(b, p, 8), std::string("SctHdr\0\0", 8)) << "section at " << at;
    EXPECT_EQ(Le64(b, p + 24), at);
    EXPECT_EQ(Le32(b, p + 60), 104);
    if (name) {
        EXPECT_EQ(Text(b, p + 8, 16), NameField(name));
        EXPECT_EQ(Le32(b, p + 56), copy);
    }
    const size_t t = p + static_cast<size_t>(f[3]) - 24;
    if (f[3] < 128 || t + 24 > b.size()) {
        ADD_FAILURE() << "no room for the trailer of the section at " << at;
        return f;
    }
    EXPECT_EQ(Text(b, t, 8), std::string("SctTrlr\0", 8)) << "trailer of the section at " << at;
    EXPECT_EQ(Le64(b, t + 8), at);
    EXPECT_EQ(Le32(b, t + 16), f[3]);
    EXPECT_EQ(Le32(b, t + 20), 0);
    return f;
}

// Byte i of a stream written in generation g.
inline unsigned char Pattern(int64_t i, int g = 0) {
    return static_cast<unsigned char>((i * 131 + (i >> 8) * 7 + g * 29) & 0xFF);
}
inline Bytes PatternBytes(int64_t from, int64_t n, int g = 0) {
    Bytes b(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        b[static_cast<size_t>(i)] = Pattern(from + i, g);
    return b;
}

inline void WriteAll(CTKStream* s, const Bytes& b) {
    s->Write(b.data(), static_cast<UINT>(b.size()));
}
inline Bytes ReadRange(CTKStream* s, int64_t from, int64_t n) {
    Bytes b(static_cast<size_t>(n));
    s->Seek(from);
    b.resize(s->Read(b.data(), static_cast<UINT>(b.size())));
    return b;
}
inline Bytes ReadAll(CTKStream* s) {
    return ReadRange(s, 0, s->GetLength());
}
// Creates (name, copy) in f, writes data and closes it.
inline void WriteStream(CTKCompoundFile& f, const char* name, int copy, int unit,
                        const Bytes& data) {
    CTKStream* s = f.CreateStream(name, copy, 0, unit);
    ASSERT_NE(s, nullptr) << name;
    WriteAll(s, data);
    f.CloseStream(s);
}
inline void CreateEmpty(const std::string& path) {
    CTKCompoundFile f;
    f.Create(path.c_str());
}

// The code of a container exception thrown by f, -1 for none, -2 for another kind.
template <class F>
int ContainerCode(F&& f) {
    try {
        f();
    } catch (CException* e) {
        auto* c = dynamic_cast<CTKCompoundFileException*>(e);
        const int code = c ? c->m_nError : -2;
        e->Delete();
        return code;
    }
    return -1;
}

// A section header's 104 bytes, built by hand for forged files.
inline Bytes HeaderBytes(const char* name, int64_t offset, int64_t next, int32_t linked,
                         int32_t free, int32_t size, int32_t used, int32_t copy, int32_t sequence) {
    Bytes b(104, 0);
    std::memcpy(b.data(), "SctHdr", 6);
    std::strncpy(reinterpret_cast<char*>(b.data()) + 8, name, 15);
    PutLe(b, 24, static_cast<uint64_t>(offset), 8);
    PutLe(b, 32, static_cast<uint64_t>(next), 8);
    const int32_t words[] = {linked, free, size, used, copy, 104, sequence};
    for (size_t i = 0; i < 7; ++i)
        PutLe(b, 40 + 4 * i, static_cast<uint32_t>(words[i]), 4);
    return b;
}

}  // namespace containertest
