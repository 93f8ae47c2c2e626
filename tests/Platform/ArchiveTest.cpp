#include "Platform/Archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Platform/File.h"
#include "TestSupport.h"

using testsupport::ExpectArchiveError;
using testsupport::LoadBytes;
using testsupport::ReadBytes;
using testsupport::StoreBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes Concat(Bytes prefix, size_t n, unsigned char fill) {
    prefix.insert(prefix.end(), n, fill);
    return prefix;
}

// A file that keeps its bytes in memory and counts the calls the archive makes.
class CountingFile : public CFile {
public:
    UINT Read(void* buffer, UINT count) override {
        ++reads;
        const size_t n = std::min<size_t>(count, data.size() - pos);
        std::memcpy(buffer, data.data() + pos, n);
        pos += n;
        return static_cast<UINT>(n);
    }
    void Write(const void* buffer, UINT count) override {
        ++writes;
        const auto* p = static_cast<const unsigned char*>(buffer);
        if (data.size() < pos + count)
            data.resize(pos + count);
        std::memcpy(data.data() + pos, p, count);
        pos += count;
    }
    uint64_t GetPosition() const override { return pos; }
    uint64_t GetLength() const override { return data.size(); }
    uint64_t Seek(int64_t offset, UINT) override { return pos = static_cast<size_t>(offset); }
    void SetLength(uint64_t n) override { data.resize(n); }

    Bytes data;
    size_t pos = 0;
    int reads = 0;
    int writes = 0;
};

enum class Colour { red = 1, blue = 0x01020304 };

}  // namespace

TEST(Archive, PrimitiveEncodings) {
    TempDir dir;
    Bytes bytes = StoreBytes(dir, [](CArchive& ar) {
        ar << BYTE(0xAB) << WORD(0x1234) << int16_t(-2) << int32_t(-2) << DWORD(0x11223344) << 1.0f
           << 1.0 << int64_t(0x0102030405060708) << Colour::blue;
    });
    const Bytes expected = {0xAB, 0x34, 0x12, 0xFE, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x44,
                            0x33, 0x22, 0x11, 0x00, 0x00, 0x80, 0x3F, 0,    0,    0,
                            0,    0,    0,    0xF0, 0x3F, 8,    7,    6,    5,    4,
                            3,    2,    1,    4,    3,    2,    1};
    EXPECT_EQ(bytes, expected);

    LoadBytes(dir, bytes, [](CArchive& ar) {
        BYTE b;
        WORD w;
        int16_t s;
        int32_t i;
        DWORD d;
        float f;
        double g;
        int64_t l;
        Colour c;
        ar >> b >> w >> s >> i >> d >> f >> g >> l >> c;
        EXPECT_EQ(b, 0xAB);
        EXPECT_EQ(w, 0x1234);
        EXPECT_EQ(s, -2);
        EXPECT_EQ(i, -2);
        EXPECT_EQ(d, 0x11223344u);
        EXPECT_EQ(f, 1.0f);
        EXPECT_EQ(g, 1.0);
        EXPECT_EQ(l, 0x0102030405060708);
        EXPECT_EQ(c, Colour::blue);
    });
}

TEST(Archive, StringPrefixesAtEveryBoundary) {
    TempDir dir;
    struct Case {
        size_t length;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const CString text(std::string(c.length, 'x'));
        // A small buffer makes long strings cross many buffer refills.
        Bytes bytes = StoreBytes(
            dir, [&](CArchive& ar) { ar << text << BYTE(0x5A); }, 100);
        Bytes expected = Concat(c.prefix, c.length, 'x');
        expected.push_back(0x5A);
        EXPECT_EQ(bytes, expected);
        LoadBytes(
            dir, bytes,
            [&](CArchive& ar) {
                CString back;
                BYTE tail;
                ar >> back >> tail;
                EXPECT_EQ(back, text);
                EXPECT_EQ(tail, 0x5A);
            },
            100);
    }
}

TEST(Archive, CountEncodings) {
    TempDir dir;
    Bytes bytes = StoreBytes(dir, [](CArchive& ar) {
        ar.WriteCount(0);
        ar.WriteCount(65534);
        ar.WriteCount(65535);
        ar.WriteCount(70000);
    });
    const Bytes expected = {0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                            0x00, 0x00, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00};
    EXPECT_EQ(bytes, expected);
    LoadBytes(dir, bytes, [](CArchive& ar) {
        EXPECT_EQ(ar.ReadCount(), 0u);
        EXPECT_EQ(ar.ReadCount(), 65534u);
        EXPECT_EQ(ar.ReadCount(), 65535u);
        EXPECT_EQ(ar.ReadCount(), 70000u);
    });
}

TEST(Archive, LoadsSixteenBitStringsNarrowed) {
    TempDir dir;
    // Short form: marker, then a one-byte count of 16-bit characters.
    Bytes shortForm = {0xFF, 0xFE, 0xFF, 0x03, 'a', 0x00, 0xE9, 0x00, 0xAC, 0x20, 0x07};
    LoadBytes(dir, shortForm, [](CArchive& ar) {
        CString s;
        BYTE after;
        ar >> s >> after;
        EXPECT_EQ(s, "a\xE9?");  // U+20AC has no 8-bit form
        EXPECT_EQ(after, 0x07);
    });
    // Long form: marker, then 0xFF and a WORD count.
    Bytes longForm = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};
    for (int i = 0; i < 300; ++i) {
        longForm.push_back('z');
        longForm.push_back(0);
    }
    LoadBytes(dir, longForm, [](CArchive& ar) {
        CString s;
        ar >> s;
        EXPECT_EQ(s, CString(std::string(300, 'z')));
    });
}

TEST(Archive, EndOfStreamRaisesEndOfFileWithTheFileName) {
    TempDir dir;
    const std::string path = dir.File("load.bin");
    auto expectEof = [&](const Bytes& bytes, auto read) {
        WriteBytes(path, bytes);
        CFile file(path.c_str(), CFile::modeRead);
        CArchive ar(&file, CArchive::load);
        ExpectArchiveError([&] { read(ar); }, CArchiveException::endOfFile, path);
    };
    expectEof({0x01}, [](CArchive& ar) {
        WORD w;
        ar >> w;
    });
    expectEof({}, [](CArchive& ar) { ar.ReadCount(); });
    // A string whose prefix claims nearly 4 GiB ends in end-of-file, not a huge allocation.
    expectEof({0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b'}, [](CArchive& ar) {
        CString s;
        ar >> s;
    });
    expectEof({0xFF, 0xFE, 0xFF, 0x05, 'a', 0}, [](CArchive& ar) {
        CString s;
        ar >> s;
    });

    // Raw reads return what there is instead of throwing; EnsureRead throws.
    WriteBytes(path, {1, 2, 3});
    CFile file(path.c_str(), CFile::modeRead);
    CArchive ar(&file, CArchive::load);
    ar.m_strFileName = "recording.eeg";
    unsigned char buf[8];
    EXPECT_EQ(ar.Read(buf, 2), 2u);
    EXPECT_EQ(ar.Read(buf, 8), 1u);
    EXPECT_EQ(buf[0], 3);
    ExpectArchiveError([&] { ar.EnsureRead(buf, 1); }, CArchiveException::endOfFile,
                       "recording.eeg");
}

TEST(Archive, DirectionIsEnforced) {
    TempDir dir;
    const std::string path = dir.File("d.bin");
    WriteBytes(path, {1, 2, 3, 4});
    CFile file(path.c_str(), CFile::modeReadWrite);
    CArchive loading(&file, CArchive::load);
    EXPECT_TRUE(loading.IsLoading());
    EXPECT_FALSE(loading.IsStoring());
    ExpectArchiveError([&] { loading << WORD(1); }, CArchiveException::readOnly);
    loading.Abort();
    CArchive storing(&file, CArchive::store);
    WORD w;
    ExpectArchiveError([&] { storing >> w; }, CArchiveException::writeOnly);
}

TEST(Archive, LogicalPositionSeekAndSetLengthWithPendingBuffers) {
    TempDir dir;
    const std::string path = dir.File("pos.bin");
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        CArchive ar(&file, CArchive::store);
        ar << int32_t(0x04030201) << WORD(0x0605);
        // Nothing written yet; the position counts the buffered bytes.
        EXPECT_EQ(file.GetLength(), 0u);
        EXPECT_EQ(ar.GetPosition(), 6u);
        ar << CString("abc");
        EXPECT_EQ(ar.GetPosition(), 10u);
        // Seek writes out the pending bytes first, then overwrites from position 2.
        ar.Seek(2);
        EXPECT_EQ(file.GetLength(), 10u);
        EXPECT_EQ(ar.GetPosition(), 2u);
        ar << BYTE(0xEE);
        EXPECT_EQ(ar.GetPosition(), 3u);
        // SetLength writes out the pending byte, cuts the file and moves to its end.
        ar.SetLength(4);
        EXPECT_EQ(ar.GetPosition(), 4u);
        ar << BYTE(0x77);
        ar.Close();
    }
    EXPECT_EQ(ReadBytes(path), (Bytes{0x01, 0x02, 0xEE, 0x04, 0x77}));

    Bytes big(10000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<unsigned char>(i * 7);
    WriteBytes(path, big);
    CFile file(path.c_str(), CFile::modeReadWrite);
    CArchive ar(&file, CArchive::load, 4096);
    BYTE b;
    WORD w;
    ar >> b >> w;
    // The file has moved a whole buffer ahead; the archive's position has not.
    EXPECT_EQ(file.GetPosition(), 4096u);
    EXPECT_EQ(ar.GetPosition(), 3u);
    EXPECT_FALSE(ar.IsBufferEmpty());
    // Seek drops the pending load buffer.
    ar.Seek(5000);
    ar >> b;
    EXPECT_EQ(b, big[5000]);
    EXPECT_EQ(ar.GetPosition(), 5001u);
    Bytes block(4000);
    EXPECT_EQ(ar.Read(block.data(), 4000), 4000u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), big.begin() + 5001));
    EXPECT_EQ(ar.GetPosition(), 9001u);
    // SetLength on a loading archive: drop the buffer, cut, move to the end.
    ar.SetLength(9500);
    EXPECT_EQ(ar.GetPosition(), 9500u);
    EXPECT_EQ(file.GetLength(), 9500u);
}

TEST(Archive, MovesValuesThroughItsBufferOneCallPerBuffer) {
    CountingFile file;
    {
        CArchive ar(&file, CArchive::store, 4096);
        for (int i = 0; i < 10000; ++i)
            ar << WORD(i);  // 20000 bytes
        ar.Close();
    }
    EXPECT_EQ(file.data.size(), 20000u);
    EXPECT_EQ(file.writes, 5);  // 4 full buffers of 4096 bytes, then the rest

    file.pos = 0;
    CArchive ar(&file, CArchive::load, 4096);
    for (int i = 0; i < 10000; ++i) {
        WORD w;
        ar >> w;
        ASSERT_EQ(w, WORD(i));
    }
    EXPECT_EQ(file.reads, 5);

    // A block larger than the buffer goes straight to the file.
    CountingFile direct;
    CArchive big(&direct, CArchive::store, 4096);
    big << BYTE(1);
    Bytes block(50000, 0x42);
    big.Write(block.data(), static_cast<UINT>(block.size()));
    big.Close();
    EXPECT_EQ(direct.writes, 2);
    EXPECT_EQ(direct.data.size(), 50001u);
}

TEST(Archive, DestructorWritesOutAnUnclosedStore) {
    TempDir dir;
    const std::string path = dir.File("d.bin");
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    {
        CArchive ar(&file, CArchive::store);
        ar << DWORD(0xCAFEBABE);
    }
    {
        // bNoFlushOnDelete drops what was not flushed.
        CArchive ar(&file, CArchive::store | CArchive::bNoFlushOnDelete);
        ar << DWORD(1);
    }
    file.Close();
    EXPECT_EQ(ReadBytes(path), (Bytes{0xBE, 0xBA, 0xFE, 0xCA}));
}
