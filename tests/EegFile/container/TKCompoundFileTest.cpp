// The container's bytes against hand-computed bytes, and its management of
// streams: create, open, names, copies, scans, disk space, refusals and failures.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ContainerTestSupport.h"
#include "Platform/FaultInjection.h"

namespace {
using namespace containertest;

// The streams of a container, as "name/copy", through the copy-all walk.
class NameRecorder : public CTKStreamFilter {
public:
    explicit NameRecorder(std::string only = "") : include(std::move(only)) {}
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
    CTKCompoundFile f;
    f.Create(path.c_str());
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    // Header: no next, 1024 bytes, 4 used (schema word and count), copy 1.
    Bytes expected = HeaderBytes("Directory", 0, -1, 0, 0, 1024, 4, 1, 0);
    expected.resize(1024);
    expected[104] = expected[105] = 0x5A;  // schema 0 ^ 0x5A5A; count 0 follows
    std::memcpy(expected.data() + 1000, "SctTrlr", 7);
    PutLe(expected, 1016, 1024, 4);
    EXPECT_EQ(ReadBytes(path), expected);
    f.Open(path.c_str(), 0);
    EXPECT_EQ(f.OpenStream("Anything", 1, 0, 1, 0), nullptr);
    EXPECT_EQ(f.GetStreamLength("Anything", 1), 0);
}

TEST(TKCompoundFile, StreamGrowsInSectionsAndRegrowsFromReleasedOnes) {
    TempDir dir;
    const std::string path = dir.File("grow.eeg");
    const Bytes data = PatternBytes(0, 10000);
    CTKCompoundFile f;
    f.Create(path.c_str());
    WriteStream(f, "Samples", 1, 4096, data);
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 3 * 4608);
    // The directory: schema word, count 1, one record: name, first section, copy 1.
    EXPECT_EQ(Section(b, 0), (Fields{-1, 0, 0, 1024, 2 + 2 + 32, 0}));
    EXPECT_EQ(Le(b, 104, 4), 0x00015A5Au);
    EXPECT_EQ(Text(b, 108, 16), NameField("Samples"));
    EXPECT_EQ(Le64(b, 124), 1024);
    EXPECT_EQ(Le(b, 132, 8), 1u);
    // Three sections of 4608 bytes: 4480, 4480 and 1040 bytes used, linked 1, 1, 0.
    const int64_t at[3] = {1024, 1024 + 4608, 1024 + 2 * 4608};
    EXPECT_EQ(Section(b, at[0], "Samples"), (Fields{at[1], 1, 0, 4608, 4480, 0}));
    EXPECT_EQ(Section(b, at[1], "Samples"), (Fields{at[2], 1, 0, 4608, 4480, 1}));
    EXPECT_EQ(Section(b, at[2], "Samples"), (Fields{-1, 0, 0, 4608, 1040, 2}));
    EXPECT_TRUE(std::equal(&b[1024 + 104], &b[1024 + 4584], &data[0]));
    EXPECT_TRUE(std::equal(&b[5632 + 104], &b[5632 + 4584], &data[4480]));
    EXPECT_TRUE(std::equal(&b[10240 + 104], &b[10240 + 1144], &data[8960]));

    // Cut to zero: the first section stays, the others are released, still
    // chained in sequence order.
    f.Close();
    f.Open(path.c_str(), 0);
    CTKStream* s = f.OpenStream("Samples", 1, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetLength(), 10000);
    s->Truncate();
    EXPECT_EQ(s->GetLength(), 0);
    EXPECT_EQ(s->GetPosition(), 0);
    b = ReadBytes(path);
    EXPECT_EQ(Section(b, at[0]), (Fields{at[1], 0, 0, 4608, 0, 0}));
    EXPECT_EQ(Section(b, at[1]), (Fields{at[2], 0, 1, 4608, 0, 1}));
    EXPECT_EQ(Section(b, at[2]), (Fields{-1, 0, 1, 4608, 0, 2}));
    // Regrowing by 5000 bytes fills the first section and reuses the former
    // second one; nothing is appended.
    WriteAll(s, PatternBytes(0, 5000, 1));
    f.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 3 * 4608);
    EXPECT_EQ(Section(b, at[0]), (Fields{at[1], 1, 0, 4608, 4480, 0}));
    EXPECT_EQ(Section(b, at[1]), (Fields{at[2], 0, 0, 4608, 520, 1}));
    EXPECT_EQ(Section(b, at[2]), (Fields{-1, 0, 1, 4608, 0, 2}));
    // Through a fresh open: the regrown content, then the last released section
    // taken into use as the stream grows past it.
    f.Close();
    f.Open(path.c_str(), 0);
    s = f.OpenStream("Samples", 1, 0, 0, 0);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 5000, 1));
    WriteAll(s, PatternBytes(5000, 5000, 1));
    f.Close();
    b = ReadBytes(path);
    EXPECT_EQ(b.size(), 1024u + 3 * 4608);
    EXPECT_EQ(Section(b, at[1]), (Fields{at[2], 1, 0, 4608, 4480, 1}));
    EXPECT_EQ(Section(b, at[2]), (Fields{-1, 0, 0, 4608, 1040, 2}));
    f.Open(path.c_str(), 1);
    EXPECT_EQ(ReadAll(f.OpenStream("Samples", 1, 0, 1, 0)), PatternBytes(0, 10000, 1));
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
    // While open: the nominal size in the header, in the file only what was
    // written, and the directory names the section already.
    Bytes b = ReadBytes(path);
    EXPECT_EQ(b.size(), 1024u + 104 + 1000);
    EXPECT_EQ(Le32(b, 1024 + 48), 0x7FFFFE00);
    EXPECT_EQ(Le64(b, 124), 1024);
    // Closed: 1536 bytes, its trailer at offset + 1512.
    f.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536);
    EXPECT_EQ(Section(b, 1024, "Status"), (Fields{-1, 0, 0, 1536, 1000, 0}));
    EXPECT_EQ(Text(b, 1024 + 1512, 8), std::string("SctTrlr\0", 8));
    // Outgrowing its settled section, it goes on in a new open-ended section at
    // the file's end, settled in turn at close.
    s = f.OpenStream("Status", 1, 1, 0, 0);
    ASSERT_NE(s, nullptr);
    s->Seek(1000);
    WriteAll(s, PatternBytes(1000, 1000));
    f.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536 + 1024);
    EXPECT_EQ(Section(b, 1024), (Fields{2560, 1, 0, 1536, 1408, 0}));
    EXPECT_EQ(Section(b, 2560), (Fields{-1, 0, 0, 1024, 592, 1}));
    EXPECT_EQ(ReadAll(f.OpenStream("Status", 1, 0, 1, 0)), PatternBytes(0, 2000));
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
    WriteStream(f, "A", 1, 4096, PatternBytes(0, 10000));
    WriteStream(f, "B", 2, 0, PatternBytes(0, 100));
    EXPECT_EQ(f.ComputeStreamDiskSpace("A", 1, 0, 4096), 13824);
    EXPECT_EQ(f.ComputeStreamDiskSpace("A", 1, 1, 0), 10240);
    EXPECT_EQ(f.ComputeStreamDiskSpace("Missing", 1, 0, 4096), 0);
    NameRecorder onlyB("B");
    EXPECT_EQ(f.ComputeAllStreamsDiskSpace(1, 0, &onlyB), 512);
    EXPECT_EQ(onlyB.names, (std::vector<std::string>{"A/1", "B/2"}));
    // A fresh open knows only first sections from the directory; lengths and
    // space still count whole chains.
    f.Close();
    f.Open(path.c_str(), 1);
    EXPECT_EQ(f.GetStreamLength("A", 1), 10000);
    EXPECT_EQ(f.ComputeAllStreamsDiskSpace(0, 4096, nullptr), 13824 + 4608);
}

TEST(TKCompoundFile, NamesAreCutTo15CharactersAndCopiesAreDistinct) {
    TempDir dir;
    const std::string path = dir.File("names.eeg");
    const char* name15 = "ABCDEFGHIJKLMNO";
    CTKCompoundFile f;
    f.Create(path.c_str());
    WriteStream(f, name15, 1, 0, PatternBytes(0, 10, 1));
    WriteStream(f, "abcdefghijklmnoP", 0, 0, PatternBytes(0, 20, 2));  // copy below 1: 1
    WriteStream(f, name15, 2, 1024, PatternBytes(0, 3000, 3));
    EXPECT_EQ(f.CreateStream("", 1, 0, 0), nullptr);
    const size_t length = ReadBytes(path).size();
    // Creating an existing stream empties it and reuses its first section.
    CTKStream* s = f.CreateStream(name15, 2, 0, 1024);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetLength(), 0);
    WriteAll(s, PatternBytes(0, 40, 4));
    f.Close();
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(b.size(), length);
    EXPECT_EQ(Le(b, 106, 2), 3u);
    EXPECT_EQ(Text(b, 108, 16), NameField(name15));
    EXPECT_EQ(Text(b, 140, 16), NameField("abcdefghijklmno"));
    EXPECT_EQ(Le32(b, 140 + 24), 1);
    EXPECT_EQ(Le32(b, 172 + 24), 2);

    f.Open(path.c_str(), 1);
    EXPECT_EQ(ReadAll(f.OpenStream(name15, 1, 0, 1, 0)), PatternBytes(0, 10, 1));
    s = f.OpenStream("abcdefghijklmnoXYZ", 1, 0, 1, 0);  // matched on 15 characters
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 20, 2));
    EXPECT_EQ(ReadAll(f.OpenStream(name15, 2, 0, 1, 0)), PatternBytes(0, 40, 4));
    EXPECT_EQ(f.OpenStream("abcdefghijklmno", 2, 0, 1, 0), nullptr);
    EXPECT_EQ(f.OpenStream("abcdefghijklmnO", 1, 0, 1, 0), nullptr);  // case counts
}

TEST(TKCompoundFile, OpenEndedStreamExcludesOtherWriters) {
    TempDir dir;
    CTKCompoundFile f;
    f.Create(dir.File("exclusive.eeg").c_str());
    CTKStream* a = f.CreateStream("A", 1, 0, 0);
    WriteAll(a, PatternBytes(0, 100));
    // Open-ended is refused while a writable stream is open...
    EXPECT_EQ(f.CreateStream("B", 1, 1, 0), nullptr);
    EXPECT_EQ(f.OpenStream("A", 1, 1, 0, 0), nullptr);
    f.CloseStream(a);
    // ...but a read-only one (never open-ended itself) does not stand in the way.
    CTKStream* reader = f.OpenStream("A", 1, 1, 1, 0);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->IsOpenEnded());
    CTKStream* oe = f.CreateStream("B", 1, 1, 0);
    ASSERT_NE(oe, nullptr);
    // While it is open: no creation, no writer, readers welcome.
    EXPECT_EQ(f.CreateStream("C", 1, 0, 0), nullptr);
    EXPECT_EQ(f.OpenStream("A", 1, 0, 0, 0), nullptr);
    EXPECT_EQ(ReadAll(f.OpenStream("A", 1, 0, 1, 0)), PatternBytes(0, 100));
    f.CloseStream(oe);
    EXPECT_NE(f.CreateStream("C", 1, 0, 0), nullptr);
    // A read-only stream ignores writes and is never cut.
    reader->Write("xyz", 3);
    reader->Truncate();
    EXPECT_EQ(reader->GetLength(), 100);
}

TEST(TKCompoundFile, DirectoryGrowsAndScansFindStreamsWithoutIt) {
    TempDir dir;
    const std::string path = dir.File("many.eeg");
    // 27 records fill the directory's first section; the 28th needs a second one,
    // here while an open-ended stream is being made at the file's end.
    const int kStreams = 40;
    auto name = [](int i) { return "S" + std::to_string(i); };
    auto copy = [](int i) { return i == 38 ? 2 : 1; };
    CTKCompoundFile f;
    f.Create(path.c_str());
    for (int i = 0; i < kStreams; ++i) {
        CTKStream* s = f.CreateStream(name(i).c_str(), copy(i), i % 2, 512);
        ASSERT_NE(s, nullptr) << i;
        WriteAll(s, PatternBytes(0, 100 + i * 50, i));
        f.CloseStream(s);
    }
    f.Close();
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le32(b, 40), 1);  // the directory's first section is linked
    EXPECT_EQ(Le(b, 106, 2), static_cast<uint64_t>(kStreams));
    f.Open(path.c_str(), 1);
    for (int i = 0; i < kStreams; ++i)
        EXPECT_EQ(ReadAll(f.OpenStream(name(i).c_str(), copy(i), 0, 1, 0)),
                  PatternBytes(0, 100 + i * 50, i))
            << i;
    f.Close();
    // The sections still tile the file: a scan finds a stream near its end
    // (copy 2, over three sections), read-only, and not its other copy.
    CTKStream* s = f.OpenStreamByScan(path.c_str(), "S38", 2, 0, 1, 16000, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->IsReadOnly());
    EXPECT_EQ(s->GetSectionCount(), 3);
    EXPECT_EQ(ReadAll(s), PatternBytes(0, 100 + 38 * 50, 38));
    EXPECT_EQ(f.OpenStreamByScan(path.c_str(), "S38", 1, 0, 1, 0, nullptr), nullptr);
    // Without the directory no stream is opened or made by name.
    EXPECT_EQ(f.OpenStream("S1", 1, 0, 1, 0), nullptr);
    EXPECT_EQ(f.CreateStream("New", 1, 0, 0), nullptr);
    // Opened for writing by scan, open-ended, the stream is rewritten in place.
    s = f.OpenStreamByScan(path.c_str(), "S39", 1, 1, 0, 0, nullptr);
    ASSERT_NE(s, nullptr);
    WriteAll(s, PatternBytes(0, 700, 9));
    f.Close();
    f.Open(path.c_str(), 1);
    Bytes expected = PatternBytes(0, 100 + 39 * 50, 39);
    std::copy_n(PatternBytes(0, 700, 9).begin(), 700, expected.begin());
    EXPECT_EQ(ReadAll(f.OpenStream("S39", 1, 0, 1, 0)), expected);
}

TEST(TKCompoundFile, CopiesStreamsWithinAndBetweenContainers) {
    TempDir dir;
    const std::string target = dir.File("target.eeg");
    CTKCompoundFile src;
    src.Create(dir.File("source.eeg").c_str());
    for (const char* name : {"Header", "Patient", "EventList"})
        WriteStream(src, name, 1, 1024, PatternBytes(0, 5000, name[0]));
    // Within one container: copy 1 into copy 2, the backup.
    EXPECT_EQ(src.CopyStreamFrom("Patient", 2, src, "Patient", 1, 0, 16000), 1);
    EXPECT_EQ(src.CopyStreamFrom("Nothing", 2, src, "Nothing", 1, 0, 0), 0);
    CTKStream* backup = src.OpenStream("Patient", 2, 0, 1, 0);
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(ReadAll(backup), PatternBytes(0, 5000, 'P'));
    EXPECT_EQ(src.CopyStream("Copy", 1, backup, 0, 0), 1);
    EXPECT_EQ(ReadAll(backup), PatternBytes(0, 5000, 'P'));  // still open
    src.CloseStream(backup);

    CTKCompoundFile dst;
    dst.Create(target.c_str());
    NameRecorder all;
    dst.CopyAllStreamsFrom(src, &all);
    EXPECT_EQ(all.names, (std::vector<std::string>{"Header/1", "Patient/1", "Patient/2",
                                                   "EventList/1", "Copy/1"}));
    dst.Close();
    // Each copied stream lies in one section sized to its content.
    const Bytes b = ReadBytes(target);
    EXPECT_EQ(b.size(), 1024u + 5 * 5632);
    for (int64_t at = 1024; at < 1024 + 5 * 5632; at += 5632)
        EXPECT_EQ(Section(b, at), (Fields{-1, 0, 0, 5632, 5000, 0}));
    dst.Open(target.c_str(), 1);
    EXPECT_EQ(ReadAll(dst.OpenStream("EventList", 1, 0, 1, 0)), PatternBytes(0, 5000, 'E'));
    // A filter that excludes everything copies nothing.
    CTKCompoundFile none;
    none.Create(dir.File("none.eeg").c_str());
    NameRecorder nothing("-");
    none.CopyAllStreamsFrom(src, &nothing);
    none.Close();
    EXPECT_EQ(ReadBytes(dir.File("none.eeg")).size(), 1024u);
}

TEST(TKCompoundFile, ExceptionMessages) {
    const std::pair<int, const char*> cases[] = {
        {0, "Internal error - missing section entry."},
        {1, "File locking timeout."},
        {5, "File corrupted - unexpected end of file."},
        {7, "File corrupted - bad directory schema."},
        {8, "Unknown error type."},
        {-1, "Unknown error type."},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(std::string(CTKCompoundFileException(code, "/x/rec.eeg").GetErrorText()),
                  std::string("TK Compound File Error: ") + text + "\n\n'/x/rec.eeg'");
    }
    char small[10];
    UINT help = 99;
    EXPECT_TRUE(CTKCompoundFileException(4, "f").GetErrorMessage(small, sizeof small, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_STREQ(small, "TK Compou");
}

TEST(TKCompoundFile, ReadOnlyFilesFailedOpensAndFailuresOfTheFile) {
    TempDir dir;
    const std::string path = dir.File("faults.eeg");
    {
        CTKCompoundFile f;
        f.Create(path.c_str());
        WriteStream(f, "Data", 1, 0, PatternBytes(0, 50));
    }
    CFile::SetReadOnly(path.c_str(), true);
    CTKCompoundFile f;
    f.Open(path.c_str(), 0);  // read-write asked, read-only given
    EXPECT_TRUE(f.IsReadOnly());
    EXPECT_EQ(f.CreateStream("New", 1, 0, 0), nullptr);
    EXPECT_EQ(ReadAll(f.OpenStream("Data", 1, 0, 1, 0)), PatternBytes(0, 50));
    f.Close();
    CFile::SetReadOnly(path.c_str(), false);

    // Every failure is a file exception with its cause and the file's path.
    auto expectFailure = [](const std::function<void()>& what, int cause, const std::string& file) {
        testsupport::ExpectFileError(what, cause, testsupport::kAnyOsError, file);
        FaultInjection::Disarm();
    };
    const std::string missing = dir.File("missing.eeg");
    expectFailure([&] { f.Open(missing.c_str(), 1); }, CFileException::fileNotFound, missing);
    EXPECT_FALSE(f.IsOpen());
    expectFailure([&] { f.OpenStreamByScan(missing.c_str(), "Data", 1, 0, 1, 0, nullptr); },
                  CFileException::fileNotFound, missing);
    EXPECT_FALSE(f.IsOpen());
    const std::string noFolder = dir.File("no/such/folder.eeg");
    expectFailure([&] { f.Create(noFolder.c_str()); }, CFileException::fileNotFound, noFolder);
    EXPECT_EQ(f.CreateStream("X", 1, 0, 0), nullptr);  // not open

    f.Open(path.c_str(), 0);
    CTKStream* s = f.CreateStream("Grow", 1, 0, 512);
    WriteAll(s, PatternBytes(0, 300));
    // The file cannot be extended for a new section: the first section (896
    // bytes of room) is filled, the rest fails.
    FaultInjection::Arm(FaultInjection::Op::SetLength, 1, ENOSPC);
    expectFailure([&] { WriteAll(s, PatternBytes(300, 700)); }, CFileException::diskFull, path);
    EXPECT_EQ(s->GetLength(), 896);
    // The file grows but the new section's header cannot be written (growing a
    // file reserves no blocks): the growth is given back, the file ends as before.
    const size_t before = testsupport::ReadBytes(path).size();
    FaultInjection::Arm(FaultInjection::Op::Write, 1, ENOSPC);
    expectFailure([&] { WriteAll(s, PatternBytes(896, 100)); }, CFileException::diskFull, path);
    EXPECT_EQ(testsupport::ReadBytes(path).size(), before);
    EXPECT_EQ(s->GetLength(), 896);
    // A commit whose flush fails (the header is written before).
    FaultInjection::Arm(FaultInjection::Op::Flush, 1, EIO);
    expectFailure([&] { s->Commit(TRUE); }, CFileException::hardIO, path);
    // The link to the new section is refused, and so is putting it back: the
    // growth is given back all the same.
    FaultInjection::Arm(FaultInjection::Op::Write, 3, EIO, 2);
    expectFailure([&] { WriteAll(s, PatternBytes(896, 100)); }, CFileException::hardIO, path);
    EXPECT_EQ(testsupport::ReadBytes(path).size(), before);
    WriteAll(s, PatternBytes(896, 100));
    // A cut whose first header is refused changes nothing; a reuse of the
    // released section whose header is refused gives the section back.
    FaultInjection::Arm(FaultInjection::Op::Write, 1, EIO);
    expectFailure([&] { s->Truncate(); }, CFileException::hardIO, path);
    EXPECT_EQ(s->GetLength(), 996);
    s->Truncate();
    FaultInjection::Arm(FaultInjection::Op::Write, 3, EIO);  // data, its header, the reused one
    expectFailure([&] { WriteAll(s, PatternBytes(1, 1000)); }, CFileException::hardIO, path);
    EXPECT_EQ(s->GetLength(), 896);
    s->Seek(896);
    WriteAll(s, PatternBytes(897, 104));
    EXPECT_EQ(ReadAll(s), PatternBytes(1, 1000));
    // A stream that cannot be created leaves nothing behind.
    FaultInjection::Arm(FaultInjection::Op::Write, 1, EIO, -1);
    expectFailure([&] { f.CreateStream("Other", 1, 0, 0); }, CFileException::hardIO, path);
    EXPECT_EQ(f.OpenStream("Other", 1, 0, 1, 0), nullptr);
    // A failing close still closes everything and reports the first failure.
    FaultInjection::Arm(FaultInjection::Op::Flush, 1, EIO, -1);
    expectFailure([&] { f.Close(); }, CFileException::hardIO, path);
    EXPECT_FALSE(f.IsOpen());
    f.Open(path.c_str(), 1);
    EXPECT_EQ(ReadAll(f.OpenStream("Grow", 1, 0, 1, 0)), PatternBytes(1, 1000));
}

}  // namespace

TEST(TKCompoundFile, DeferredFlushesWaitForTheOwnersFlush) {
    TempDir dir;
    const std::string path = dir.File("rebuilt.eeg");
    CTKCompoundFile f;
    f.Create(path.c_str());
    f.SetDeferFlush(1);
    // Every flush fails from here on: none may happen while deferred, even
    // though sections fill and are committed.
    FaultInjection::Arm(FaultInjection::Op::Flush, 1, EIO, -1);
    CTKStream* s = f.CreateStream("Data", 1, 0, 1024);
    ASSERT_NE(s, nullptr);
    std::vector<unsigned char> bytes(5000, 0x42);
    s->Write(bytes.data(), static_cast<UINT>(bytes.size()));
    s->Trim(0);
    s->Commit(1);
    f.Flush();
    f.SetDeferFlush(0);
    bool failed = false;
    try {
        f.Flush();
    } catch (CException* e) {
        failed = dynamic_cast<CFileException*>(e) != nullptr;
        e->Delete();
    }
    FaultInjection::Disarm();
    EXPECT_TRUE(failed);
    f.Flush();
    f.CloseStream(s);
    f.Close();
    CTKCompoundFile back;
    back.Open(path.c_str(), 1);
    EXPECT_EQ(back.GetStreamLength("Data", 1), 5000);
    back.Close();
}
