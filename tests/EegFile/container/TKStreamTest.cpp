// Streams: reading and seeking, growth and its options, commits, trimming and
// section observers.

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "ContainerTestSupport.h"
#include "EegFile/container/TKTimeAnnotationObserver.h"

namespace {
using namespace containertest;

// The first n annotation words of the section at `at`, after its annotation length.
std::vector<uint32_t> Annotation(const Bytes& b, int64_t at, int n) {
    std::vector<uint32_t> words;
    for (int i = -1; i < n; ++i)
        words.push_back(static_cast<uint32_t>(Le32(b, static_cast<size_t>(at) + 72 + 4 * i)));
    return words;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("stream.eeg");
        file.Create(path.c_str());
    }
    TempDir dir;
    std::string path;
    CTKCompoundFile file;
};

TEST_F(StreamTest, ReadsAndSeeksWithinTheLength) {
    CTKStream* s = file.CreateStream("Data", 1, 0, 1000);  // 1408 bytes of room per section
    const Bytes data = PatternBytes(0, 5000);
    WriteAll(s, data);
    EXPECT_EQ(s->GetPosition(), 5000);
    EXPECT_EQ(s->GetSectionCount(), 4);
    EXPECT_EQ(s->GetHighestSequence(), 3);
    EXPECT_EQ(s->GetSection(2).m_streamStart, 2 * 1408);
    EXPECT_EQ(s->GetSection(3).m_used, 5000 - 3 * 1408);

    Bytes buffer(100);
    s->Seek(4990);
    EXPECT_EQ(s->Read(buffer.data(), 100), 10u);
    EXPECT_EQ(s->GetPosition(), 5000);
    EXPECT_EQ(s->Read(buffer.data(), 100), 0u);
    EXPECT_EQ(s->Seek(99999), 1);
    EXPECT_EQ(s->GetPosition(), 5000);
    s->Seek(-5);
    EXPECT_EQ(s->GetPosition(), 0);
    // Reads cross section boundaries; so do writes in the middle.
    EXPECT_EQ(ReadRange(s, 1400, 20), PatternBytes(1400, 20));
    s->Seek(1400);
    WriteAll(s, PatternBytes(0, 20, 7));
    EXPECT_EQ(s->GetLength(), 5000);
    Bytes expected = data;
    std::copy_n(PatternBytes(0, 20, 7).begin(), 20, expected.begin() + 1400);
    EXPECT_EQ(ReadAll(s), expected);
}

TEST_F(StreamTest, HeadersReachTheDiskOnCommitOnLeavingASectionOrOnGrowth) {
    CTKStream* s = file.CreateStream("Data", 1, 0, 1000);
    const int64_t first = s->GetSection(0).m_offset;
    auto used = [&](int64_t at) { return Le32(ReadBytes(path), static_cast<size_t>(at) + 52); };
    WriteAll(s, PatternBytes(0, 100));
    EXPECT_EQ(used(first), 0);  // not committed yet
    s->Commit(FALSE);
    EXPECT_EQ(used(first), 100);
    // Filling a section commits it before the next one is made.
    WriteAll(s, PatternBytes(100, 1400));
    const int64_t second = s->GetSection(1).m_offset;
    EXPECT_EQ(Section(ReadBytes(path), first), (Fields{second, 1, 0, 1536, 1408, 0}));
    EXPECT_EQ(used(second), 0);
    // Leaving the section commits it.
    s->Seek(0);
    EXPECT_EQ(used(second), 92);
    // With commit on growth, every write that returns is on disk.
    s->SetCommitOnGrowth(1);
    s->Seek(s->GetLength());
    for (int i = 1; i <= 3; ++i) {
        WriteAll(s, PatternBytes(s->GetLength(), 30));
        EXPECT_EQ(used(second), 92 + 30 * i);
    }
}

TEST_F(StreamTest, KeepWritesWholeMovesAWriteToANewSection) {
    CTKStream* whole = file.CreateStream("Whole", 1, 0, 1000);
    CTKStream* split = file.CreateStream("Split", 1, 0, 1000);
    whole->SetKeepWritesWhole(1);
    for (CTKStream* s : {whole, split}) {
        WriteAll(s, PatternBytes(0, 1000));
        WriteAll(s, PatternBytes(1000, 1000));  // 408 bytes left
    }
    EXPECT_EQ(whole->GetSectionCount(), 2);
    EXPECT_EQ(whole->GetSection(0).m_used, 1000);
    EXPECT_EQ(whole->GetSection(1).m_used, 1000);
    EXPECT_EQ(split->GetSection(0).m_used, 1408);
    EXPECT_EQ(split->GetSection(1).m_used, 592);
    WriteAll(whole, PatternBytes(2000, 3000));  // larger than a section: split all the same
    EXPECT_EQ(ReadAll(whole), PatternBytes(0, 5000));
}

TEST_F(StreamTest, TrimCutsTheFileEndAndKeepsASpareInsideAsAReleasedSection) {
    // At the file's end the file is cut; the next write starts a new section.
    CTKStream* s = file.CreateStream("End", 1, 0, 4096);
    WriteAll(s, PatternBytes(0, 1000));
    s->Trim(0);
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536);
    EXPECT_EQ(Section(b, 1024), (Fields{-1, 0, 0, 1536, 1000, 0}));
    WriteAll(s, PatternBytes(1000, 100));
    file.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536 + 4608);
    EXPECT_EQ(Section(b, 1024), (Fields{2560, 1, 0, 1536, 1000, 0}));
    EXPECT_EQ(Section(b, 2560), (Fields{-1, 0, 0, 4608, 100, 1}));

    // Inside the file (a section follows A's) the spare becomes a released
    // section of A, chained after the trimmed one.
    CTKStream* a = file.CreateStream("A", 1, 0, 4096);
    CTKStream* next = file.CreateStream("B", 1, 0, 0);
    WriteAll(a, PatternBytes(0, 1000));
    a->Trim(0);
    b = ReadBytes(path);
    EXPECT_EQ(Section(b, 7168), (Fields{8704, 0, 0, 1536, 1000, 0}));
    EXPECT_EQ(Section(b, 8704, "A"), (Fields{-1, 0, 1, 3072, 0, 1}));
    // A spare below the minimum piece stays where it is, but the stream counts as
    // trimmed: the next write starts a new section.
    CTKStream* c = file.CreateStream("C", 1, 0, 4096);
    WriteAll(c, PatternBytes(0, 1000));
    file.CreateStream("D", 1, 0, 0);
    c->Trim(25600);
    const int64_t at = c->GetSection(0).m_offset;
    EXPECT_EQ(Section(ReadBytes(path), at), (Fields{-1, 0, 0, 4608, 1000, 0}));  // committed
    WriteAll(c, PatternBytes(1000, 10));
    EXPECT_EQ(c->GetSectionCount(), 2);
    // An empty stream is not trimmed and writes on in its section.
    CTKStream* e = file.CreateStream("Empty", 1, 0, 4096);
    e->Trim(0);
    WriteAll(e, PatternBytes(0, 10));
    EXPECT_EQ(e->GetSectionCount(), 1);
    file.CloseStream(next);
}

// Records what the container shows it and stamps each header it is asked about.
class RecordingObserver : public CTKSectionObserver {
public:
    int OnSectionHeader(CTKSectionEntry& e, int flag) override {
        calls.push_back({e.m_sequence, e.m_used, e.m_size, flag});
        e.m_annotationLength = 8;
        e.m_annotation[0] = 0xA0000000u + static_cast<uint32_t>(e.m_sequence);
        e.m_annotation[1] = static_cast<uint32_t>(e.m_used);
        return 0;
    }
    std::vector<std::array<int, 4>> calls;  // sequence, used, size, flag
};

TEST_F(StreamTest, ObserverAnnotatesEveryHeaderItIsShown) {
    RecordingObserver observer;
    CTKStream* s = file.CreateStream("Data", 1, 0, 1000, &observer);
    WriteAll(s, PatternBytes(0, 2000));
    s->Commit(FALSE);
    s->Commit(FALSE);  // nothing changed: no header, no call
    s->Trim(0);
    // The first section new, then committed full, the second one new, committed,
    // and trimmed.
    using C = std::array<int, 4>;
    EXPECT_EQ(observer.calls, (std::vector<C>{{0, 0, 1536, 1},
                                              {0, 1408, 1536, 1},
                                              {1, 0, 1536, 1},
                                              {1, 592, 1536, 1},
                                              {1, 592, 1024, 1}}));
    EXPECT_EQ(Annotation(ReadBytes(path), s->GetSection(1).m_offset, 3),
              (std::vector<uint32_t>{8, 0xA0000001u, 592, 0}));
}

TEST_F(StreamTest, TimeAnnotationsCountSecondsOfEachPiece) {
    const int kRate = 100;  // bytes per second
    CTKTimeAnnotationObserver observer(kRate);
    const double start1 = 44000.25;
    observer.SetUpPiece(0, 10, start1, 0, 1);
    observer.m_firstPiece = 1;
    CTKStream* s = file.CreateStream("EEGData", 1, 0, 1000, &observer);  // 1408 bytes of room
    WriteAll(s, PatternBytes(0, 2000));  // 20 seconds: 14.08 in section 0, the rest in 1
    s->Commit(FALSE);
    // The second piece starts at second 100 at another time; the section that
    // already holds the first piece's end keeps its annotation.
    const double start2 = 44001.5;
    observer.SetUpPiece(2000, 100, start2, 0, 1);
    observer.m_firstPiece = 0;
    observer.m_lastPiece = 0;
    WriteAll(s, PatternBytes(2000, 1500));
    ASSERT_EQ(s->GetSectionCount(), 3);
    int64_t at[3];
    for (int i = 0; i < 3; ++i)
        at[i] = s->GetSection(i).m_offset;
    file.CloseStream(s);

    // Each: 24 bytes, start time (low word first), its status, first second, one
    // past the last second, 1 for a section of the first or last piece; word 6
    // left alone.
    auto words = [](double time, uint32_t first, uint32_t end, uint32_t flag) {
        const auto bits = std::bit_cast<uint64_t>(time);
        return std::vector<uint32_t>{24, uint32_t(bits), uint32_t(bits >> 32), 0, first, end, flag,
                                     0};
    };
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Annotation(b, at[0], 7), words(start1, 10, 10 + 1408 / kRate, 1));
    // Section 1 starts at byte 1408, 14 seconds in; it was last annotated by
    // the first piece, with what it held then (592 bytes).
    EXPECT_EQ(Annotation(b, at[1], 7), words(start1 + 14 / 86400.0, 24, 24 + 592 / kRate, 1));
    // Section 2 starts at byte 2816: 8 seconds into the second piece, neither
    // first nor last.
    EXPECT_EQ(Annotation(b, at[2], 7), words(start2 + 8 / 86400.0, 108, 108 + 684 / kRate, 0));
}

}  // namespace
