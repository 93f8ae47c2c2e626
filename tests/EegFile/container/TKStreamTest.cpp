// Streams: reading and seeking, growth and its options, commits, trimming,
// section observers, and a reader that follows a writer through Refresh.

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "ContainerTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKTimeAnnotationObserver.h"
#include "TestSupport.h"

namespace {
using namespace containertest;
using testsupport::ReadBytes;
using testsupport::TempDir;

void WriteAll(CTKStream* s, const Bytes& b) {
    s->Write(b.data(), static_cast<UINT>(b.size()));
}

Bytes ReadRange(CTKStream* s, int64_t from, int64_t n) {
    Bytes b(static_cast<size_t>(n));
    s->Seek(from);
    b.resize(s->Read(b.data(), static_cast<UINT>(b.size())));
    return b;
}
Bytes ReadAll(CTKStream* s) {
    return ReadRange(s, 0, s->GetLength());
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
    WriteAll(s, PatternBytes(0, 100));
    EXPECT_EQ(HeaderAt(ReadBytes(path), first).used, 0);  // not committed yet
    s->Commit(FALSE);
    EXPECT_EQ(HeaderAt(ReadBytes(path), first).used, 100);

    // Filling a section commits it before the next one is made.
    WriteAll(s, PatternBytes(100, 1400));
    const int64_t second = s->GetSection(1).m_offset;
    Bytes b = ReadBytes(path);
    EXPECT_EQ(HeaderAt(b, first).used, 1408);
    EXPECT_EQ(HeaderAt(b, first).linked, 1);
    EXPECT_EQ(HeaderAt(b, second).used, 0);
    // Leaving the section commits it.
    s->Seek(0);
    EXPECT_EQ(HeaderAt(ReadBytes(path), second).used, 92);

    // With commit on growth, every write that returns is on disk.
    s->SetCommitOnGrowth(1);
    s->Seek(s->GetLength());
    for (int i = 0; i < 5; ++i) {
        WriteAll(s, PatternBytes(s->GetLength(), 30));
        EXPECT_EQ(HeaderAt(ReadBytes(path), second).used, 92 + 30 * (i + 1));
    }
}

TEST_F(StreamTest, KeepWritesWholeMovesAWriteToANewSection) {
    CTKStream* whole = file.CreateStream("Whole", 1, 0, 1000);
    whole->SetKeepWritesWhole(1);
    WriteAll(whole, PatternBytes(0, 1000));
    WriteAll(whole, PatternBytes(1000, 1000));  // 408 bytes left: not enough
    EXPECT_EQ(whole->GetSectionCount(), 2);
    EXPECT_EQ(whole->GetSection(0).m_used, 1000);
    EXPECT_EQ(whole->GetSection(1).m_used, 1000);
    WriteAll(whole, PatternBytes(2000, 3000));  // larger than a section: split all the same
    EXPECT_EQ(ReadAll(whole), PatternBytes(0, 5000));

    CTKStream* split = file.CreateStream("Split", 1, 0, 1000);
    WriteAll(split, PatternBytes(0, 1000));
    WriteAll(split, PatternBytes(1000, 1000));
    EXPECT_EQ(split->GetSection(0).m_used, 1408);
    EXPECT_EQ(split->GetSection(1).m_used, 592);
}

TEST_F(StreamTest, TrimAtTheFileEndCutsTheFile) {
    CTKStream* s = file.CreateStream("Data", 1, 0, 4096);
    WriteAll(s, PatternBytes(0, 1000));
    s->Trim(0);
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536);
    EXPECT_EQ(HeaderAt(b, 1024).size, 1536);
    EXPECT_EQ(HeaderAt(b, 1024).used, 1000);
    ExpectTrailer(b, 1024, 1536);
    // Trimmed: the next write starts a new section.
    WriteAll(s, PatternBytes(1000, 100));
    file.Close();
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1536 + 4608);
    EXPECT_EQ(HeaderAt(b, 1024).linked, 1);
    EXPECT_EQ(HeaderAt(b, 1024).next, 2560);
    EXPECT_EQ(HeaderAt(b, 2560).used, 100);
    EXPECT_EQ(HeaderAt(b, 2560).sequence, 1);
}

TEST_F(StreamTest, TrimInsideTheFileKeepsTheSpareAsAReleasedSection) {
    CTKStream* a = file.CreateStream("A", 1, 0, 4096);
    CTKStream* other = file.CreateStream("B", 1, 0, 0);  // a section after A's
    WriteAll(a, PatternBytes(0, 1000));
    a->Trim(0);
    Bytes b = ReadBytes(path);
    const size_t length = b.size();
    Header h = HeaderAt(b, 1024);
    EXPECT_EQ(h.size, 1536);
    EXPECT_EQ(h.next, 2560);
    EXPECT_EQ(h.linked, 0);
    ExpectTrailer(b, 1024, 1536);
    Header r = HeaderAt(b, 2560);
    EXPECT_EQ(r.magic, kHeaderMagic);
    EXPECT_EQ(r.name, NameField("A"));
    EXPECT_EQ(r.offset, 2560);
    EXPECT_EQ(r.size, 3072);
    EXPECT_EQ(r.free, 1);
    EXPECT_EQ(r.used, 0);
    EXPECT_EQ(r.sequence, 1);
    EXPECT_EQ(r.next, -1);
    ExpectTrailer(b, 2560, 3072);

    // Growing again takes the released section; the file stays as it is.
    WriteAll(a, PatternBytes(1000, 2000));
    file.CloseStream(a);
    b = ReadBytes(path);
    EXPECT_EQ(b.size(), length);
    EXPECT_EQ(HeaderAt(b, 1024).linked, 1);
    r = HeaderAt(b, 2560);
    EXPECT_EQ(r.free, 0);
    EXPECT_EQ(r.used, 2000);
    a = file.OpenStream("A", 1, 0, 1, 0);
    EXPECT_EQ(ReadAll(a), PatternBytes(0, 3000));
    file.CloseStream(other);
}

TEST_F(StreamTest, TrimKeepsASpareSmallerThanTheMinimumPiece) {
    CTKStream* s = file.CreateStream("Data", 1, 0, 4096);
    file.CreateStream("Next", 1, 0, 0);
    WriteAll(s, PatternBytes(0, 1000));
    s->Trim(25600);
    EXPECT_EQ(HeaderAt(ReadBytes(path), 1024).size, 4608);
    EXPECT_EQ(HeaderAt(ReadBytes(path), 1024).used, 1000);  // committed all the same
    WriteAll(s, PatternBytes(1000, 10));                    // trimmed: a new section
    EXPECT_EQ(s->GetSectionCount(), 2);
    // An empty stream is not trimmed and writes on in its section.
    CTKStream* e = file.CreateStream("Empty", 1, 0, 4096);
    e->Trim(0);
    WriteAll(e, PatternBytes(0, 10));
    EXPECT_EQ(e->GetSectionCount(), 1);
}

TEST_F(StreamTest, TrimOfAnOpenEndedStreamSettlesIt) {
    CTKStream* s = file.CreateStream("OE", 1, 1, 0);
    WriteAll(s, PatternBytes(0, 600));
    s->Trim(0);
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1024);
    EXPECT_EQ(HeaderAt(b, 1024).size, 1024);
    WriteAll(s, PatternBytes(600, 100));
    file.CloseStream(s);
    b = ReadBytes(path);
    ASSERT_EQ(b.size(), 1024u + 1024 + 512);
    EXPECT_EQ(HeaderAt(b, 1024).used, 600);
    EXPECT_EQ(HeaderAt(b, 2048).used, 100);
    ExpectTrailer(b, 2048, 512);
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
    struct Call {
        int sequence, used, size, flag;
    };
    std::vector<Call> calls;
};

TEST_F(StreamTest, ObserverAnnotatesEveryHeaderItIsShown) {
    RecordingObserver observer;
    CTKStream* s = file.CreateStream("Data", 1, 0, 1000, &observer);
    ASSERT_EQ(observer.calls.size(), 1u);  // the first section
    EXPECT_EQ(observer.calls[0].sequence, 0);
    EXPECT_EQ(observer.calls[0].flag, 1);
    WriteAll(s, PatternBytes(0, 2000));
    // Commit of the full first section, then the new second one.
    ASSERT_EQ(observer.calls.size(), 3u);
    EXPECT_EQ(observer.calls[1].sequence, 0);
    EXPECT_EQ(observer.calls[1].used, 1408);
    EXPECT_EQ(observer.calls[2].sequence, 1);
    EXPECT_EQ(observer.calls[2].used, 0);
    s->Commit(FALSE);
    ASSERT_EQ(observer.calls.size(), 4u);
    s->Commit(FALSE);  // nothing changed: no header, no call
    EXPECT_EQ(observer.calls.size(), 4u);
    s->Trim(0);
    ASSERT_EQ(observer.calls.size(), 5u);
    EXPECT_EQ(observer.calls[4].size, 1024);
    const Bytes b = ReadBytes(path);
    const Header h0 = HeaderAt(b, static_cast<size_t>(s->GetSection(0).m_offset));
    const Header h1 = HeaderAt(b, static_cast<size_t>(s->GetSection(1).m_offset));
    EXPECT_EQ(h0.annotationLength, 8);
    EXPECT_EQ(h0.annotation[0], 0xA0000000u);
    EXPECT_EQ(h0.annotation[1], 1408u);
    EXPECT_EQ(h1.annotation[0], 0xA0000001u);
    EXPECT_EQ(h1.annotation[1], 592u);
    EXPECT_EQ(h1.annotation[2], 0u);
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
    file.CloseStream(s);

    const Bytes b = ReadBytes(path);
    auto timeOf = [](const Header& h) {
        return std::bit_cast<double>(uint64_t{h.annotation[0]} | uint64_t{h.annotation[1]} << 32);
    };
    s = file.OpenStream("EEGData", 1, 0, 1, 0);
    ASSERT_EQ(s->GetSectionCount(), 3);
    const Header h0 = HeaderAt(b, static_cast<size_t>(s->GetSection(0).m_offset));
    const Header h1 = HeaderAt(b, static_cast<size_t>(s->GetSection(1).m_offset));
    const Header h2 = HeaderAt(b, static_cast<size_t>(s->GetSection(2).m_offset));
    EXPECT_EQ(h0.annotationLength, 24);
    EXPECT_EQ(timeOf(h0), start1);
    EXPECT_EQ(h0.annotation[2], 0u);
    EXPECT_EQ(h0.annotation[3], 10u);
    EXPECT_EQ(h0.annotation[4], 10u + 1408 / kRate);
    EXPECT_EQ(h0.annotation[5], 1u);
    // Section 1 starts at byte 1408, 14 seconds in; it was last annotated by
    // the first piece, with what it held then (592 bytes).
    EXPECT_EQ(timeOf(h1), start1 + 14 / 86400.0);
    EXPECT_EQ(h1.annotation[3], 24u);
    EXPECT_EQ(h1.annotation[4], 24u + 592 / kRate);
    EXPECT_EQ(h1.annotation[5], 1u);
    // Section 2 starts at byte 2816: 8 seconds into the second piece.
    EXPECT_EQ(timeOf(h2), start2 + 8 / 86400.0);
    EXPECT_EQ(h2.annotation[3], 108u);
    EXPECT_EQ(h2.annotation[4], 108u + (3500 - 2816) / kRate);
    EXPECT_EQ(h2.annotation[5], 0u);  // neither first nor last piece
    EXPECT_EQ(h2.annotation[6], 0u);
}

TEST_F(StreamTest, ReaderFollowsAWriterThroughRefresh) {
    CTKStream* w = file.CreateStream("Data", 1, 0, 1000);
    w->SetCommitOnGrowth(1);
    CTKStream* other = file.CreateStream("Other", 1, 0, 0);
    WriteAll(w, PatternBytes(0, 500));

    CTKCompoundFile readerFile;
    readerFile.Open(path.c_str(), 1);
    CTKStream* r = readerFile.OpenStream("Data", 1, 0, 1, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->GetLength(), 500);
    r->Refresh();  // nothing new
    EXPECT_EQ(r->GetLength(), 500);

    // Growth inside a section, then across new sections.
    WriteAll(w, PatternBytes(500, 400));
    r->Refresh();
    EXPECT_EQ(ReadAll(r), PatternBytes(0, 900));
    WriteAll(w, PatternBytes(900, 4000));
    r->Refresh();
    EXPECT_EQ(r->GetLength(), 4900);
    EXPECT_EQ(r->GetSectionCount(), 4);
    EXPECT_EQ(ReadAll(r), PatternBytes(0, 4900));

    // A cut: the reader's view shrinks; the regrowth comes back through the
    // released sections.
    w->Truncate();
    r->Refresh();
    EXPECT_EQ(r->GetLength(), 0);
    EXPECT_EQ(r->GetSectionCount(), 1);
    WriteAll(w, PatternBytes(0, 3000, 1));
    r->Refresh();
    EXPECT_EQ(ReadAll(r), PatternBytes(0, 3000, 1));
    EXPECT_EQ(r->GetSectionCount(), 3);

    // A trim inside the file, then growth into the spare and beyond.
    w->Trim(0);
    WriteAll(w, PatternBytes(3000, 3000, 1));
    r->Refresh();
    EXPECT_EQ(ReadAll(r), PatternBytes(0, 6000, 1));
    // The reader sees what the writer committed, section for section.
    ASSERT_EQ(r->GetSectionCount(), w->GetSectionCount());
    for (int i = 0; i < r->GetSectionCount(); ++i) {
        EXPECT_EQ(r->GetSection(i).m_offset, w->GetSection(i).m_offset);
        EXPECT_EQ(r->GetSection(i).m_streamStart, w->GetSection(i).m_streamStart);
    }
    file.CloseStream(other);
}

}  // namespace
