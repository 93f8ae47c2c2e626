// The container's bytes against hand-computed bytes, and its management of
// streams: create, open, names, copies, disk space, refusals and failures.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ContainerTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "Platform/Archive.h"
#include "Platform/FaultInjection.h"
#include "TestSupport.h"

namespace {
using namespace containertest;
using testsupport::ExpectThrows;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

void WriteAll(CTKStream* s, const Bytes& b) {
    s->Write(b.data(), static_cast<UINT>(b.size()));
}

Bytes ReadAll(CTKStream* s) {
    Bytes b(static_cast<size_t>(s->GetLength()));
    s->Seek(0);
    const UINT got = s->Read(b.data(), static_cast<UINT>(b.size()));
    b.resize(got);
    return b;
}

// The streams of a container, as "name/copy", through the copy-all walk.
class NameRecorder : public CTKStreamFilter {
public:
    int IncludeStream(const char* name, int copy) override {
        names.push_back(std::string(name) + "/" + std::to_string(copy));
        return include.empty() || include == name;
    }
    std::vector<std::string> names;
    std::string include;
};

TEST(TKCompoundFile, NewFileIsOneDirectorySectionOf1024Bytes) {
    TempDir dir;
    const std::string path = dir.File("new.eeg");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        EXPECT_TRUE(f.IsOpen());
        EXPECT_FALSE(f.IsReadOnly());
        f.Close();
        EXPECT_FALSE(f.IsOpen());
    }
    Bytes expected(1024, 0);
    std::memcpy(expected.data(), "SctHdr", 6);
    std::memcpy(expected.data() + 8, "Directory", 9);
    PutLe(expected, 32, static_cast<uint64_t>(-1), 8);  // next
    PutLe(expected, 48, 1024, 4);                       // size
    PutLe(expected, 52, 4, 4);                          // used: schema word and count
    PutLe(expected, 56, 1, 4);                          // copy
    PutLe(expected, 60, 104, 4);                        // header size
    expected[104] = 0x5A;                               // schema 0 ^ 0x5A5A
    expected[105] = 0x5A;                               // count 0 follows as 00 00
    std::memcpy(expected.data() + 1000, "SctTrlr", 7);
    PutLe(expected, 1016, 1024, 4);
    EXPECT_EQ(ReadBytes(path), expected);

    // And it opens again, with nothing in it.
    CTKCompoundFile f;
    f.Open(path.c_str(), 0);
    EXPECT_EQ(f.OpenStream("Anything", 1, 0, 1, 0), nullptr);
    EXPECT_EQ(f.GetStreamLength("Anything", 1), 0);
}

TEST(TKCompoundFile, StreamGrowsInSectionsAndRegrowsFromReleasedOnes) {
    TempDir dir;
    const std::string path = dir.File("grow.eeg");
    const Bytes data = PatternBytes(0, 10000);
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        CTKStream* s = f.CreateStream("Samples", 1, 0, 4096);
        ASSERT_NE(s, nullptr);
        WriteAll(s, data);
        EXPECT_EQ(s->GetLength(), 10000);
        f.CloseStream(s);
    }
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 3 * 4608);

    // The directory: schema word, count 1, one record naming the first section.
    Header d = HeaderAt(b, 0);
    EXPECT_EQ(d.used, 2 + 2 + 32);
    EXPECT_EQ(Le(b, 104, 2), 0x5A5Au);
    EXPECT_EQ(Le(b, 106, 2), 1u);
    EXPECT_EQ(Text(b, 108, 16), NameField("Samples"));
    EXPECT_EQ(Le64(b, 124), 1024);
    EXPECT_EQ(Le32(b, 132), 1);
    EXPECT_EQ(Le32(b, 136), 0);

    const int64_t offsets[3] = {1024, 1024 + 4608, 1024 + 2 * 4608};
    const int32_t used[3] = {4480, 4480, 1040};
    const int32_t linked[3] = {1, 1, 0};
    const int64_t next[3] = {offsets[1], offsets[2], -1};
    size_t dataAt = 0;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Header h = HeaderAt(b, static_cast<size_t>(offsets[i]));
        EXPECT_EQ(h.magic, kHeaderMagic);
        EXPECT_EQ(h.name, NameField("Samples"));
        EXPECT_EQ(h.offset, offsets[i]);
        EXPECT_EQ(h.next, next[i]);
        EXPECT_EQ(h.linked, linked[i]);
        EXPECT_EQ(h.free, 0);
        EXPECT_EQ(h.size, 4608);
        EXPECT_EQ(h.used, used[i]);
        EXPECT_EQ(h.copy, 1);
        EXPECT_EQ(h.headerSize, 104);
        EXPECT_EQ(h.sequence, i);
        EXPECT_EQ(h.annotationLength, 0);
        ExpectTrailer(b, offsets[i], 4608);
        const auto first = b.begin() + offsets[i] + 104;
        EXPECT_TRUE(std::equal(first, first + used[i], data.begin() + static_cast<long>(dataAt)));
        dataAt += static_cast<size_t>(used[i]);
    }

    // Cut to zero: the first section stays, the others are released, still
    // chained in sequence order.
    CTKCompoundFile f;
    f.Open(path.c_str(), 0);
    CTKStream* s = f.OpenStream("Samples", 1, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetLength(), 10000);
    s->Truncate();
    EXPECT_EQ(s->GetLength(), 0);
    EXPECT_EQ(s->GetPosition(), 0);
    b = ReadBytes(path);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Header h = HeaderAt(b, static_cast<size_t>(offsets[i]));
        EXPECT_EQ(h.used, 0);
        EXPECT_EQ(h.linked, 0);
        EXPECT_EQ(h.free, i == 0 ? 0 : 1);
        EXPECT_EQ(h.next, next[i]);
        EXPECT_EQ(h.sequence, i);
        ExpectTrailer(b, offsets[i], 4608);
    }

    // Regrowing by 5000 bytes fills the first section and reuses the former
    // second one; the file does not grow.
    const Bytes again = PatternBytes(0, 5000, 1);
    WriteAll(s, again);
    f.CloseStream(s);
    b = ReadBytes(path);
    EXPECT_EQ(b.size(), 1024u + 3 * 4608);
    Header h0 = HeaderAt(b, 1024), h1 = HeaderAt(b, 1024 + 4608), h2 = HeaderAt(b, 1024 + 2 * 4608);
    EXPECT_EQ(h0.used, 4480);
    EXPECT_EQ(h0.linked, 1);
    EXPECT_EQ(h1.used, 520);
    EXPECT_EQ(h1.free, 0);
    EXPECT_EQ(h1.linked, 0);
    EXPECT_EQ(h1.sequence, 1);
    EXPECT_EQ(h2.free, 1);
    EXPECT_EQ(h2.used, 0);
    EXPECT_EQ(h2.sequence, 2);

    // Read back through a fresh open: the regrown content, then the released
    // section taken into use once more as the stream grows past it.
    f.Close();
    f.Open(path.c_str(), 0);
    s = f.OpenStream("Samples", 1, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), again);
    const Bytes more = PatternBytes(5000, 5000, 1);
    s->Seek(5000);
    WriteAll(s, more);
    f.Close();
    b = ReadBytes(path);
    EXPECT_EQ(b.size(), 1024u + 3 * 4608);
    h2 = HeaderAt(b, 1024 + 2 * 4608);
    EXPECT_EQ(h2.free, 0);
    EXPECT_EQ(h2.used, 10000 - 2 * 4480);
    EXPECT_EQ(HeaderAt(b, 1024 + 4608).linked, 1);
    f.Open(path.c_str(), 1);
    EXPECT_EQ(f.GetStreamLength("Samples", 1), 10000);
}

TEST(TKCompoundFile, OpenEndedStreamSettlesToItsData) {
    TempDir dir;
    const std::string path = dir.File("open-ended.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* s = f.CreateStream("Status", 1, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->IsOpenEnded());
    WriteAll(s, PatternBytes(0, 1000));
    // While open the section has its nominal size and the file only what was written.
    Bytes b = ReadBytes(path);
    EXPECT_EQ(b.size(), 1024u + 104 + 1000);
    EXPECT_EQ(HeaderAt(b, 1024).size, 0x7FFFFE00);
    // The directory already names the section.
    EXPECT_EQ(Le64(b, 124), 1024);

    f.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536);
    const Header h = HeaderAt(b, 1024);
    EXPECT_EQ(h.size, 1536);
    EXPECT_EQ(h.used, 1000);
    EXPECT_EQ(h.linked, 0);
    EXPECT_EQ(h.next, -1);
    ExpectTrailer(b, 1024, 1536);  // at offset + 1512

    // A stream that outgrows its settled section goes on in a new open-ended
    // section at the file's end, settled in turn at close.
    s = f.OpenStream("Status", 1, 1, 0, 0);
    ASSERT_NE(s, nullptr);
    s->Seek(1000);
    WriteAll(s, PatternBytes(1000, 1000));
    f.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536 + 1024);
    EXPECT_EQ(HeaderAt(b, 1024).used, 1408);
    EXPECT_EQ(HeaderAt(b, 1024).linked, 1);
    EXPECT_EQ(HeaderAt(b, 1024 + 1536).used, 592);
    EXPECT_EQ(HeaderAt(b, 1024 + 1536).size, 1024);
    ExpectTrailer(b, 1024 + 1536, 1024);
    s = f.OpenStream("Status", 1, 0, 1, 0);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 2000));
}

TEST(TKCompoundFile, DiskSpaceFollowsTheSectionRule) {
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(10000, 0, 4096), 13824);
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(10000, 1, 4096), 10240);
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(10000, 0, 0), 13824);  // unit 4096
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(0, 0, 4096), 0);
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(8192, 0, 4096), 2 * 4608);
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(1, 1, 0), 512);
    // Beyond one open-ended piece: whole largest sections, then the rest.
    EXPECT_EQ(CTKCompoundFile::ComputeDiskSpace(int64_t{0x7FFFFD80} + 1, 1, 0),
              int64_t{0x7FFFFE00} + 512);

    TempDir dir;
    const std::string path = dir.File("space.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* a = f.CreateStream("A", 1, 0, 4096);
    WriteAll(a, PatternBytes(0, 10000));
    f.CloseStream(a);
    CTKStream* b = f.CreateStream("B", 2, 0, 0);
    WriteAll(b, PatternBytes(0, 100));
    f.CloseStream(b);
    EXPECT_EQ(f.ComputeStreamDiskSpace("A", 1, 0, 4096), 13824);
    EXPECT_EQ(f.ComputeStreamDiskSpace("A", 1, 1, 0), 10240);
    EXPECT_EQ(f.ComputeStreamDiskSpace("Missing", 1, 0, 4096), 0);
    EXPECT_EQ(f.ComputeAllStreamsDiskSpace(0, 4096, nullptr), 13824 + 4608);
    NameRecorder onlyB;
    onlyB.include = "B";
    EXPECT_EQ(f.ComputeAllStreamsDiskSpace(1, 0, &onlyB), 512);
    EXPECT_EQ(onlyB.names, (std::vector<std::string>{"A/1", "B/2"}));

    // A fresh open knows only first sections from the directory; the length
    // still counts the whole chain.
    f.Close();
    f.Open(path.c_str(), 1);
    EXPECT_EQ(f.GetStreamLength("A", 1), 10000);
    EXPECT_EQ(f.ComputeAllStreamsDiskSpace(0, 4096, nullptr), 13824 + 4608);
}

TEST(TKCompoundFile, NamesAreCutTo15CharactersAndCopiesAreDistinct) {
    TempDir dir;
    const std::string path = dir.File("names.eeg");
    const char* name15 = "ABCDEFGHIJKLMNO";
    const char* name16 = "abcdefghijklmnoP";
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        CTKStream* s = f.CreateStream(name15, 1, 0, 0);
        WriteAll(s, PatternBytes(0, 10, 1));
        s = f.CreateStream(name16, 0, 0, 0);  // copy below 1 means copy 1
        WriteAll(s, PatternBytes(0, 20, 2));
        s = f.CreateStream(name15, 2, 0, 0);
        WriteAll(s, PatternBytes(0, 30, 3));
        EXPECT_EQ(f.CreateStream("", 1, 0, 0), nullptr);
    }
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le(b, 106, 2), 3u);
    EXPECT_EQ(Text(b, 108, 16), NameField(name15));
    EXPECT_EQ(Text(b, 140, 16), NameField("abcdefghijklmno"));
    EXPECT_EQ(Le32(b, 140 + 24), 1);
    EXPECT_EQ(Le32(b, 172 + 24), 2);

    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    CTKStream* s = f.OpenStream(name15, 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 10, 1));
    s = f.OpenStream("abcdefghijklmnoXYZ", 1, 0, 1, 0);  // matched on 15 characters
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 20, 2));
    s = f.OpenStream(name15, 2, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 30, 3));
    EXPECT_EQ(f.OpenStream("abcdefghijklmno", 2, 0, 1, 0), nullptr);
    EXPECT_EQ(f.OpenStream("abcdefghijklmnO", 1, 0, 1, 0), nullptr);  // case counts
}

TEST(TKCompoundFile, OpenEndedStreamExcludesOtherWriters) {
    TempDir dir;
    const std::string path = dir.File("exclusive.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* a = f.CreateStream("A", 1, 0, 0);
    WriteAll(a, PatternBytes(0, 100));
    // open-ended is refused while a writable stream is open...
    EXPECT_EQ(f.CreateStream("B", 1, 1, 0), nullptr);
    EXPECT_EQ(f.OpenStream("A", 1, 1, 0, 0), nullptr);
    f.CloseStream(a);
    // ...but a read-only one does not stand in the way.
    CTKStream* reader = f.OpenStream("A", 1, 1, 1, 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->IsOpenEnded());  // a read-only stream never is
    CTKStream* oe = f.CreateStream("B", 1, 1, 0);
    ASSERT_NE(oe, nullptr);
    // While it is open: no second creation, no writer, readers welcome.
    EXPECT_EQ(f.CreateStream("C", 1, 0, 0), nullptr);
    EXPECT_EQ(f.OpenStream("A", 1, 0, 0, 0), nullptr);
    CTKStream* reader2 = f.OpenStream("A", 1, 0, 1, 0);
    ASSERT_NE(reader2, nullptr);
    EXPECT_EQ(ReadAll(reader2), PatternBytes(0, 100));
    EXPECT_EQ(f.CreateStream("C", 1, 0, 0), nullptr);  // still exclusive
    f.CloseStream(oe);
    CTKStream* c = f.CreateStream("C", 1, 0, 0);
    EXPECT_NE(c, nullptr);
    // A read-only stream ignores writes and is never cut.
    reader->Write("xyz", 3);
    reader->Truncate();
    EXPECT_EQ(reader->GetLength(), 100);
}

TEST(TKCompoundFile, CreatingAnExistingStreamEmptiesIt) {
    TempDir dir;
    const std::string path = dir.File("recreate.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* s = f.CreateStream("Header", 1, 0, 1024);
    WriteAll(s, PatternBytes(0, 3000));
    f.CloseStream(s);
    const size_t sizeBefore = ReadBytes(path).size();
    s = f.CreateStream("Header", 1, 0, 1024);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetLength(), 0);
    WriteAll(s, PatternBytes(0, 100, 5));
    f.Close();
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(b.size(), sizeBefore);  // its own first section was reused
    EXPECT_EQ(Le(b, 106, 2), 1u);     // and no second record was added
    f.Open(path.c_str(), 1);
    s = f.OpenStream("Header", 1, 0, 1, 0);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 100, 5));
}

TEST(TKCompoundFile, DirectoryGrowsBeyondItsFirstSection) {
    TempDir dir;
    const std::string path = dir.File("many.eeg");
    // 27 records fill the directory's first section; the 28th needs a second one,
    // here while an open-ended stream is being made at the file's end.
    const int kStreams = 40;
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        for (int i = 0; i < kStreams; ++i) {
            const std::string name = "S" + std::to_string(i);
            CTKStream* s = f.CreateStream(name.c_str(), 1, i % 2, 512);
            ASSERT_NE(s, nullptr) << name;
            WriteAll(s, PatternBytes(0, 100 + i * 50, i));
            f.CloseStream(s);
        }
    }
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(HeaderAt(b, 0).linked, 1);
    EXPECT_EQ(Le(b, 106, 2), static_cast<uint64_t>(kStreams));

    CTKCompoundFile f;
    f.Open(path.c_str(), 1);
    for (int i = 0; i < kStreams; ++i) {
        const std::string name = "S" + std::to_string(i);
        CTKStream* s = f.OpenStream(name.c_str(), 1, 0, 1, 0);
        ASSERT_NE(s, nullptr) << name;
        EXPECT_EQ(ReadAll(s), PatternBytes(0, 100 + i * 50, i)) << name;
        f.CloseStream(s);
    }
    // The sections still tile the file: a scan finds the last stream.
    CTKCompoundFile scan;
    CTKStream* last = scan.OpenStreamByScan(path.c_str(), "S39", 1, 0, 1, 0, nullptr);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(ReadAll(last), PatternBytes(0, 100 + 39 * 50, 39));
}

TEST(TKCompoundFile, CopiesStreamsWithinAndBetweenContainers) {
    TempDir dir;
    const std::string source = dir.File("source.eeg");
    const std::string target = dir.File("target.eeg");
    CTKCompoundFile src;
    src.Create(source.c_str());
    for (const char* name : {"Header", "Patient", "EventList"}) {
        CTKStream* s = src.CreateStream(name, 1, 0, 1024);
        WriteAll(s, PatternBytes(0, 5000, name[0]));
        src.CloseStream(s);
    }
    // Within one container: copy 1 into copy 2, the backup.
    EXPECT_EQ(src.CopyStreamFrom("Patient", 2, src, "Patient", 1, 0, 16000), 1);
    EXPECT_EQ(src.CopyStreamFrom("Nothing", 2, src, "Nothing", 1, 0, 0), 0);
    CTKStream* backup = src.OpenStream("Patient", 2, 0, 1, 0);
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(ReadAll(backup), PatternBytes(0, 5000, 'P'));
    // CopyStream leaves its source open.
    EXPECT_EQ(src.CopyStream("Copy", 1, backup, 0, 0), 1);
    EXPECT_EQ(ReadAll(backup), PatternBytes(0, 5000, 'P'));
    src.CloseStream(backup);

    CTKCompoundFile dst;
    dst.Create(target.c_str());
    NameRecorder filter;
    filter.include = "";
    dst.CopyAllStreamsFrom(src, &filter);
    EXPECT_EQ(filter.names, (std::vector<std::string>{"Header/1", "Patient/1", "Patient/2",
                                                      "EventList/1", "Copy/1"}));
    dst.Close();

    // Each copied stream lies in one section sized to its content.
    const Bytes b = ReadBytes(target);
    EXPECT_EQ(b.size(), 1024u + 5 * 5632);
    for (int i = 0; i < 5; ++i) {
        const Header h = HeaderAt(b, 1024 + 5632 * static_cast<size_t>(i));
        EXPECT_EQ(h.size, 5632);
        EXPECT_EQ(h.used, 5000);
        EXPECT_EQ(h.next, -1);
        ExpectTrailer(b, h.offset, 5632);
    }
    dst.Open(target.c_str(), 1);
    CTKStream* s = dst.OpenStream("EventList", 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 5000, 'E'));

    // A filter that excludes everything copies nothing.
    CTKCompoundFile none;
    none.Create(dir.File("none.eeg").c_str());
    NameRecorder nothing;
    nothing.include = "-";
    none.CopyAllStreamsFrom(src, &nothing);
    none.Close();
    EXPECT_EQ(ReadBytes(dir.File("none.eeg")).size(), 1024u);
}

TEST(TKCompoundFile, ScanFindsAStreamWithoutTheDirectory) {
    TempDir dir;
    const std::string path = dir.File("scan.eeg");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        for (int copy = 1; copy <= 2; ++copy) {
            CTKStream* s = f.CreateStream("Patient", copy, 0, 512);
            WriteAll(s, PatternBytes(0, 1500, copy));
            f.CloseStream(s);
        }
    }
    CTKCompoundFile f;
    CTKStream* s = f.OpenStreamByScan(path.c_str(), "Patient", 2, 0, 1, 16000, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->IsReadOnly());
    EXPECT_EQ(s->GetSectionCount(), 2);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 1500, 2));
    EXPECT_EQ(f.OpenStreamByScan(path.c_str(), "Patient", 3, 0, 1, 0, nullptr), nullptr);
    // Without the directory no stream is opened or made by name.
    EXPECT_EQ(f.OpenStream("Patient", 1, 0, 1, 0), nullptr);
    EXPECT_EQ(f.CreateStream("New", 1, 0, 0), nullptr);

    // Opened for writing by scan, open-ended, the record is rewritten in place.
    s = f.OpenStreamByScan(path.c_str(), "Patient", 1, 1, 0, 0, nullptr);
    ASSERT_NE(s, nullptr);
    WriteAll(s, PatternBytes(0, 700, 9));
    f.Close();
    f.Open(path.c_str(), 1);
    s = f.OpenStream("Patient", 1, 0, 1, 0);
    Bytes expected = PatternBytes(0, 1500, 1);
    std::copy_n(PatternBytes(0, 700, 9).begin(), 700, expected.begin());
    EXPECT_EQ(ReadAll(s), expected);

    ExpectThrows<CFileException>(
        [&] {
            f.OpenStreamByScan(dir.File("missing.eeg").c_str(), "Patient", 1, 0, 1, 0, nullptr);
        },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::fileNotFound); });
    EXPECT_FALSE(f.IsOpen());
}

TEST(TKCompoundFile, ReadOnlyFilesAndFailedOpens) {
    TempDir dir;
    const std::string path = dir.File("ro.eeg");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        CTKStream* s = f.CreateStream("Data", 1, 0, 0);
        WriteAll(s, PatternBytes(0, 50));
    }
    CFile::SetReadOnly(path.c_str(), true);
    CTKCompoundFile f;
    f.Open(path.c_str(), 0);  // read-write asked, read-only given
    EXPECT_TRUE(f.IsReadOnly());
    EXPECT_EQ(f.CreateStream("New", 1, 0, 0), nullptr);
    CTKStream* s = f.OpenStream("Data", 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 50));
    f.Close();

    ExpectThrows<CFileException>([&] { f.Open(dir.File("missing.eeg").c_str(), 1); },
                                 [&](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
                                     EXPECT_EQ(e.m_strFileName, dir.File("missing.eeg").c_str());
                                 });
    EXPECT_FALSE(f.IsOpen());
    ExpectThrows<CFileException>(
        [&] { f.Create(dir.File("no/such/folder.eeg").c_str()); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::fileNotFound); });
    EXPECT_EQ(f.CreateStream("X", 1, 0, 0), nullptr);  // not open
}

TEST(TKCompoundFile, ExceptionMessages) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "Internal error - missing section entry."},
        {1, "File locking timeout."},
        {2, "Internal error - section sequence numbering error."},
        {3, "Internal error - stream ID already in use."},
        {4, "File corrupted - invalid section header."},
        {5, "File corrupted - unexpected end of file."},
        {6, "File corrupted - failed to load directory stream."},
        {7, "File corrupted - bad directory schema."},
        {8, "Unknown error type."},
        {-1, "Unknown error type."},
    };
    for (const auto& c : cases) {
        CTKCompoundFileException e(c.code, "/x/rec.eeg");
        EXPECT_EQ(std::string(e.GetErrorText()),
                  std::string("TK Compound File Error: ") + c.text + "\n\n'/x/rec.eeg'");
    }
    CTKCompoundFileException e(4, "f");
    char small[10];
    UINT help = 99;
    EXPECT_TRUE(e.GetErrorMessage(small, sizeof small, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_STREQ(small, "TK Compou");
}

TEST(TKCompoundFile, FailuresOfTheFileReachTheCallerWithThePath) {
    TempDir dir;
    const std::string path = dir.File("faults.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    CTKStream* s = f.CreateStream("Data", 1, 0, 512);
    WriteAll(s, PatternBytes(0, 300));

    // The file cannot be extended for a new section: the first section (896
    // bytes of room) is filled, the rest fails.
    FaultInjection::Arm(FaultInjection::Op::SetLength, 1, ENOSPC);
    ExpectThrows<CFileException>([&] { WriteAll(s, PatternBytes(300, 700)); },
                                 [&](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::diskFull);
                                     EXPECT_EQ(e.m_strFileName, path.c_str());
                                 });
    FaultInjection::Disarm();
    EXPECT_EQ(s->GetLength(), 896);

    // A commit whose flush fails (the header is written before).
    FaultInjection::Arm(FaultInjection::Op::Flush, 1, EIO);
    ExpectThrows<CFileException>(
        [&] { s->Commit(TRUE); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::hardIO); });
    FaultInjection::Disarm();

    // A stream that cannot be created leaves nothing behind.
    FaultInjection::Arm(FaultInjection::Op::Write, 1, EIO, -1);
    ExpectThrows<CFileException>(
        [&] { f.CreateStream("Other", 1, 0, 0); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::hardIO); });
    FaultInjection::Disarm();
    EXPECT_EQ(f.OpenStream("Other", 1, 0, 1, 0), nullptr);

    // A failing close still closes everything and reports the first failure.
    FaultInjection::Arm(FaultInjection::Op::Flush, 1, EIO, -1);
    ExpectThrows<CFileException>(
        [&] { f.Close(); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::hardIO); });
    FaultInjection::Disarm();
    EXPECT_FALSE(f.IsOpen());
    f.Open(path.c_str(), 1);
    s = f.OpenStream("Data", 1, 0, 1, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 896));
}

}  // namespace
