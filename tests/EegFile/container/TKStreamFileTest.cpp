// The stream file adapter: a stream under an archive, who closes what, the
// container lock it holds for its thread, detaching, and 32-bit positions.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ContainerTestSupport.h"
#include "EegFile/container/TKStreamFile.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {
using namespace containertest;

// Makes adapters as the library's own makers do.
class StreamFile : public CTKStreamFile {
public:
    StreamFile(CTKStream* stream, int ownsStream, CTKCompoundFile* container = nullptr)
        : CTKStreamFile(stream, ownsStream, container) {}
};

// Whether another thread could take the mutex now.
bool FreeForOtherThreads(std::recursive_mutex& m) {
    bool free = false;
    std::thread t([&] {
        if (m.try_lock()) {
            free = true;
            m.unlock();
        }
    });
    t.join();
    return free;
}

TEST(TKStreamFile, CarriesAnArchiveAndClosesWhatItOwns) {
    TempDir dir;
    const std::string path = dir.File("archive.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    {
        StreamFile file(f.CreateStream("Header", 1, 0, 1024), TRUE);
        CArchive ar(&file, CArchive::store);
        ar << WORD(0x5A5A) << CString("TarnvikOkenEEG") << 200.0 << int32_t(-7);
        ar << CString(std::string(300, 'x'));
        ar.Close();
        EXPECT_EQ(file.GetLength(), 2u + 15 + 8 + 4 + 3 + 300);
        EXPECT_EQ(file.GetPosition(), file.GetLength());
        file.Close();
        EXPECT_EQ(file.GetLength(), 0u);  // detached
        EXPECT_EQ(file.Read(nullptr, 10), 0u);
        file.Close();  // a second close does nothing
    }
    // The owned stream was closed: its header is on disk.
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le32(b, static_cast<size_t>(Le64(b, 124)) + 52), 332);

    StreamFile file(f.OpenStream("Header", 1, 0, 0, 0), TRUE);
    CArchive ar(&file, CArchive::load);
    WORD version;
    CString signature, longText;
    double rate;
    int32_t value;
    ar >> version >> signature >> rate >> value >> longText;
    EXPECT_EQ(version, 0x5A5A);
    EXPECT_EQ(signature, "TarnvikOkenEEG");
    EXPECT_EQ(rate, 200.0);
    EXPECT_EQ(value, -7);
    EXPECT_EQ(longText, CString(std::string(300, 'x')));
    // The end of the stream is the archive's end of file.
    testsupport::ExpectArchiveError([&] { ar >> value; }, CArchiveException::endOfFile);

    // Seek from the start, the position and the end; beyond the ends it stops.
    EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
    EXPECT_EQ(file.Seek(10, CFile::current), 12u);
    EXPECT_EQ(file.Seek(-2, CFile::end), 330u);
    EXPECT_EQ(file.Seek(100, CFile::end), 332u);
    EXPECT_EQ(file.Seek(-1000, CFile::current), 0u);
    // SetLength cuts only to zero; a file's own operations are refused.
    file.SetLength(10);
    EXPECT_EQ(file.GetLength(), 332u);
    file.SetLength(0);
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_FALSE(file.Open(path.c_str(), CFile::modeRead));
    EXPECT_EQ(file.Duplicate(), nullptr);
}

TEST(TKStreamFile, HoldsTheContainerForItsThreadUntilClosedOrDetached) {
    TempDir dir;
    const std::string path = dir.File("lock.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* s = f.CreateStream("Data", 1, 0, 0);
    const size_t used = static_cast<size_t>(s->GetSection(0).m_offset) + 52;
    EXPECT_TRUE(FreeForOtherThreads(f.GetMutex()));
    {
        StreamFile file(s, FALSE);
        EXPECT_FALSE(FreeForOtherThreads(f.GetMutex()));
        EXPECT_NE(f.CreateStream("Other", 1, 0, 0), nullptr);  // its own thread goes on
        file.Unlock();
        EXPECT_TRUE(FreeForOtherThreads(f.GetMutex()));
        file.Lock();
        file.Lock();  // held once, whatever the calls
        EXPECT_FALSE(FreeForOtherThreads(f.GetMutex()));
        // Abort commits like Close; a stream it does not own stays open.
        file.Write("0123456789", 10);
        EXPECT_EQ(Le32(ReadBytes(path), used), 0);
        file.Abort();
        EXPECT_EQ(Le32(ReadBytes(path), used), 10);
        EXPECT_TRUE(FreeForOtherThreads(f.GetMutex()));
    }
    // A second adapter of the stream detaches the first; closing the stream in
    // the container detaches the second.
    StreamFile first(s, FALSE);
    EXPECT_EQ(first.GetLength(), 10u);
    StreamFile second(s, FALSE);
    char c[4] = {};
    EXPECT_EQ(first.Seek(0, CFile::begin), 0u);
    EXPECT_EQ(first.Read(c, 4), 0u);
    first.Write("zz", 2);  // ignored
    EXPECT_EQ(second.Seek(0, CFile::begin), 0u);
    EXPECT_EQ(second.Read(c, 4), 4u);
    EXPECT_EQ(std::string(c, 4), "0123");
    f.CloseStream(s);
    EXPECT_EQ(second.GetLength(), 0u);
    EXPECT_EQ(second.Read(c, 4), 0u);
    second.Flush();
    EXPECT_TRUE(FreeForOtherThreads(f.GetMutex()));
}

TEST(TKStreamFile, ClosingWithAnOwnedContainerClosesStreamThenFile) {
    TempDir dir;
    const std::string path = dir.File("owned.eeg");
    CreateEmpty(path);
    auto* container = new CTKCompoundFile;
    container->Open(path.c_str(), 0);
    auto* file = new StreamFile(container->CreateStream("Extra", 1, 0, 0), TRUE, container);
    file->Write("hello", 5);
    // The container's file is held open, so it cannot be removed...
    testsupport::ExpectFileError([&] { CFile::Remove(path.c_str()); },
                                 CFileException::sharingViolation);
    file->Close();
    // ...and closing the adapter closed it, after committing the stream.
    {
        CTKCompoundFile check;
        check.Open(path.c_str(), 1);
        EXPECT_EQ(check.GetStreamLength("Extra", 1), 5);
    }
    delete file;
    CFile::Remove(path.c_str());
}

TEST(TKStreamFile, ThreadsSerialiseWholeArchiveOperations) {
    TempDir dir;
    const std::string path = dir.File("threads.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    const int kThreads = 4, kRounds = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = "T" + std::to_string(t);
            try {
                for (int round = 0; round < kRounds; ++round) {
                    // Open, serialise, close: the adapter keeps the other threads out.
                    StreamFile file(round == 0 ? f.CreateStream(name.c_str(), 1, 0, 512)
                                               : f.OpenStream(name.c_str(), 1, 0, 0, 0),
                                    TRUE);
                    file.SeekToEnd();
                    CArchive ar(&file, CArchive::store, 64);
                    for (int i = 0; i < 25; ++i)
                        ar << int32_t(t * 100000 + round * 100 + i);
                    ar.Close();
                }
            } catch (CException* e) {
                ++failures;
                e->Delete();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, 0);
    f.Close();
    f.Open(path.c_str(), 1);
    for (int t = 0; t < kThreads; ++t) {
        const std::string name = "T" + std::to_string(t);
        StreamFile file(f.OpenStream(name.c_str(), 1, 0, 1, 0), TRUE);
        ASSERT_EQ(file.GetLength(), 4u * 25 * kRounds) << name;
        CArchive ar(&file, CArchive::load);
        for (int i = 0; i < 25 * kRounds; ++i) {
            int32_t v;
            ar >> v;
            ASSERT_EQ(v, t * 100000 + i / 25 * 100 + i % 25);
        }
    }
}

TEST(TKStreamFile, ReportsTheLow32BitsOfAStreamBeyond4GiB) {
    TempDir dir;
    const std::string path = dir.File("big.eeg");
    const int32_t kSize = 0x7FFFFE00, kUsed = 0x7FFFFD80;
    int64_t first;
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        first = f.CreateStream("Big", 1, 0, kUsed)->GetSection(0).m_offset;
    }
    // Three full sections of the largest size, in a sparse file.
    {
        CFile raw(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
        raw.SetLength(static_cast<uint64_t>(first + 3 * int64_t{kSize}));
        for (int i = 0; i < 3; ++i) {
            const int64_t at = first + i * int64_t{kSize};
            const Bytes h =
                HeaderBytes("Big", at, i < 2 ? at + kSize : -1, i < 2, 0, kSize, kUsed, 1, i);
            raw.Seek(at, CFile::begin);
            raw.Write(h.data(), 104);
        }
        raw.Seek(first + 2 * int64_t{kSize} + 104 + kUsed - 3, CFile::begin);
        raw.Write("end", 3);
    }
    const int64_t length = int64_t{3} * kUsed;  // 0x1'7FFF'F880
    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    EXPECT_EQ(f.GetStreamLength("Big", 1), length);
    CTKStream* s = f.OpenStream("Big", 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetLength(), length);
    StreamFile file(s, TRUE);
    EXPECT_EQ(file.GetLength(), static_cast<uint32_t>(length));
    EXPECT_EQ(file.Seek(0, CFile::end), static_cast<uint32_t>(length));
    EXPECT_EQ(file.GetPosition(), static_cast<uint32_t>(length));
    EXPECT_EQ(ReadRange(s, length - 3, 8), (Bytes{'e', 'n', 'd'}));
}

}  // namespace
