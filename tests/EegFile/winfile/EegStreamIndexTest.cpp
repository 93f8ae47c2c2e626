#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "EegBase/BaseTestSupport.h"
#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKSectionList.h"
#include "EegFile/winfile/EegStreamIndex.h"
#include "TestSupport.h"

using basetest::Bytes;
using basetest::ByteWriter;
using testsupport::TempDir;

namespace {

constexpr int kBps = 1000;  // bytes of one stored second in these tests

// Stands in for the data stream's observer: the run state it annotates with.
class RunObserver : public CTKSectionObserver {
public:
    int OnSectionHeader(CTKSectionEntry& e, int) override {
        CEegStreamIndex::AnnotateSection(e, m_start, m_secondsBefore, m_runStartLength, kBps,
                                         m_startSeq, m_stopSeq);
        return 0;
    }
    COleDateTime m_start;
    uint32_t m_secondsBefore = 0;
    int64_t m_runStartLength = 0;
    int m_startSeq = -1;
    int m_stopSeq = -1;
};

void WriteSeconds(CTKStream* s, uint32_t from, uint32_t count) {
    std::vector<uint8_t> second(kBps);
    for (uint32_t n = from; n < from + count; ++n) {
        std::memcpy(second.data(), &n, 4);
        s->Seek(s->GetLength());
        s->Write(second.data(), kBps);
    }
}

void StartRun(CTKStream* s, RunObserver& obs, double day) {
    obs.m_secondsBefore += static_cast<uint32_t>((s->GetLength() - obs.m_runStartLength) / kBps);
    obs.m_runStartLength = s->GetLength();
    obs.m_startSeq =
        s->GetLength() > 0 ? s->GetHighestSequence() + 1 : std::max(0, s->GetHighestSequence());
    obs.m_start = COleDateTime(day);
}

void StopRun(CTKStream* s, RunObserver& obs) {
    // The recording trims with a minimum piece of 25600; these sections are
    // smaller, so any spare room is given back here, which rewrites the header.
    obs.m_stopSeq = s->GetHighestSequence();
    s->Trim(0);
}

// Every second the index holds is found at the bytes that carry its number.
void ExpectSecondsFound(CEegStreamIndex& index, CTKStream* s, uint32_t seconds) {
    for (uint32_t n = 0; n < seconds; ++n) {
        int64_t pos = -1;
        ASSERT_TRUE(index.FindPosition(n, kBps, &pos)) << n;
        uint32_t stored = 0xFFFFFFFF;
        s->Seek(pos);
        ASSERT_EQ(s->Read(&stored, 4), 4u);
        ASSERT_EQ(stored, n);
    }
    int64_t pos = 0;
    EXPECT_FALSE(index.FindPosition(seconds, kBps, &pos));
}

}  // namespace

TEST(EegStreamIndex, EntryImageAndIndexImage) {
    TempDir dir;
    CEegStreamIndexEntry e;
    e.m_position = 0x0102030405060708;
    e.m_startTime = COleDateTime(45000.5);
    e.m_startTime.SetStatus(COleDateTime::invalid);
    e.m_firstSecond = 10;
    e.m_endSecond = 0x80000000u;
    e.m_flags = 3;
    CEegStreamIndex index;
    index.Add(e);
    index.Add(CEegStreamIndexEntry());
    const std::string path = dir.File("index");
    basetest::Store(path, index);

    ByteWriter w;
    w.U16(2);
    w.U32(0x05060708).U32(0x01020304).F64(45000.5).I32(1).U32(10).U32(0x80000000u).U32(3);
    w.U32(0).U32(0).F64(0.0).I32(0).U32(0).U32(0).U32(0);
    EXPECT_EQ(testsupport::ReadBytes(path), w.bytes());
    EXPECT_EQ(w.bytes().size(), 2u + 2 * CEegStreamIndexEntry::kImageBytes);

    CEegStreamIndex back;
    basetest::Load(path, back);
    ASSERT_EQ(back.GetSize(), 2);
    EXPECT_TRUE(back.GetAt(0) == e);

    // A count the file cannot hold is refused before anything is allocated.
    Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F};
    basetest::ExpectLoadFails(path, huge, back, CArchiveException::endOfFile);
    basetest::ExpectEveryPrefixIsEndOfFile<CEegStreamIndex>(path, w.bytes());
}

TEST(EegStreamIndex, BuiltFromRunsAndReadBack) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    RunObserver obs;
    CEegStreamIndex writerIndex;
    {
        CTKCompoundFile file;
        file.Create(path.c_str());
        CTKStream* s = file.CreateStream("EEGData", 1, 0, 3 * kBps, &obs);
        ASSERT_NE(s, nullptr);
        s->SetKeepWritesWhole(1);
        s->SetCommitOnGrowth(1);

        StartRun(s, obs, 45000.25);
        WriteSeconds(s, 0, 4);
        writerIndex.Update(*s, kBps);  // taken in part way, then grown
        EXPECT_EQ(writerIndex.GetStoredSeconds(), 4u);
        WriteSeconds(s, 4, 6);
        StopRun(s, obs);
        writerIndex.Update(*s, kBps);
        EXPECT_EQ(writerIndex.GetStoredSeconds(), 10u);
        ASSERT_EQ(writerIndex.GetSize(), 1);

        StartRun(s, obs, 45001.0);
        WriteSeconds(s, 10, 5);
        StopRun(s, obs);
        writerIndex.Update(*s, kBps);
        ExpectSecondsFound(writerIndex, s, 15);
        file.Close();
    }
    ASSERT_EQ(writerIndex.GetSize(), 2);
    const CEegStreamIndexEntry& run1 = writerIndex.GetAt(0);
    EXPECT_EQ(run1.m_position, 0);
    EXPECT_EQ(run1.m_firstSecond, 0u);
    EXPECT_EQ(run1.m_endSecond, 10u);
    EXPECT_EQ(run1.m_startTime.m_dt, 45000.25);
    EXPECT_EQ(run1.m_flags, CEegStreamIndex::kRunStart);
    const CEegStreamIndexEntry& run2 = writerIndex.GetAt(1);
    EXPECT_EQ(run2.m_position, 10 * kBps);
    EXPECT_EQ(run2.m_firstSecond, 10u);
    EXPECT_EQ(run2.m_endSecond, 15u);
    EXPECT_EQ(run2.m_startTime.m_dt, 45001.0);
    EXPECT_EQ(run2.m_flags & CEegStreamIndex::kRunStart, CEegStreamIndex::kRunStart);

    // Another reader builds the same index from the annotations on disk, and the
    // sections carry the time of their first second.
    CTKCompoundFile reader;
    reader.Open(path.c_str(), 1);
    CTKStream* s = reader.OpenStream("EEGData", 1, 0, 1, 3 * kBps);
    ASSERT_NE(s, nullptr);
    CEegStreamIndex readerIndex;
    readerIndex.Update(*s, kBps);
    ASSERT_EQ(readerIndex.GetSize(), 2);
    EXPECT_TRUE(readerIndex.GetAt(0) == run1);
    EXPECT_TRUE(readerIndex.GetAt(1) == run2);
    ExpectSecondsFound(readerIndex, s, 15);
    bool sawStop = false;
    for (int i = 0; i < s->GetSectionCount(); ++i) {
        const CTKSectionEntry e = s->GetSection(i);
        EXPECT_EQ(e.m_annotationLength, CEegStreamIndex::kAnnotationLength);
        if (e.m_annotation[3] == 3) {  // the second section of run 1
            EXPECT_EQ(e.m_annotation[0] | (static_cast<uint64_t>(e.m_annotation[1]) << 32),
                      std::bit_cast<uint64_t>(45000.25 + 3 / 86400.0));
        }
        sawStop = sawStop || (e.m_annotation[5] & CEegStreamIndex::kRunStop);
    }
    EXPECT_TRUE(sawStop);
    reader.Close();
}

TEST(EegStreamIndex, DamagedAnnotationsKeepEntriesOrdered) {
    CEegStreamIndex index;
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    CTKCompoundFile file;
    file.Create(path.c_str());
    // An observer that claims every section starts at second 7 and far beyond
    // its data: the index counts what the sections hold.
    struct Liar : CTKSectionObserver {
        int OnSectionHeader(CTKSectionEntry& e, int) override {
            e.m_annotationLength = 24;
            e.m_annotation[3] = 7;
            e.m_annotation[4] = 0xFFFFFFF0u;
            e.m_annotation[5] = CEegStreamIndex::kRunStart;
            return 0;
        }
    } liar;
    CTKStream* s = file.CreateStream("EEGData", 1, 0, 2 * kBps, &liar);
    s->SetKeepWritesWhole(1);
    s->SetCommitOnGrowth(1);
    WriteSeconds(s, 0, 5);
    index.Update(*s, kBps);
    ASSERT_GE(index.GetSize(), 2);
    uint32_t total = 0;
    for (int i = 0; i < index.GetSize(); ++i) {
        const auto& e = index.GetAt(i);
        EXPECT_LE(e.m_firstSecond, e.m_endSecond);
        if (i > 0) {
            EXPECT_GE(e.m_firstSecond, index.GetAt(i - 1).m_endSecond);
        }
        total += e.m_endSecond - e.m_firstSecond;
    }
    EXPECT_EQ(total, 5u);
    int64_t pos;
    EXPECT_FALSE(index.FindPosition(6, kBps, &pos));
    EXPECT_TRUE(index.FindPosition(7, kBps, &pos));
    EXPECT_EQ(pos, 0);
    file.Close();
}

TEST(EegStreamIndex, CutSplitsEntriesAndKeepsSecondNumbers) {
    auto entry = [](int64_t position, double day, uint32_t first, uint32_t end, uint32_t flags) {
        CEegStreamIndexEntry e;
        e.m_position = position;
        e.m_startTime = COleDateTime(day);
        e.m_firstSecond = first;
        e.m_endSecond = end;
        e.m_flags = flags;
        return e;
    };
    const uint32_t both = CEegStreamIndex::kRunStart | CEegStreamIndex::kRunStop;
    CEegStreamIndex index;
    index.Add(entry(0, 100.0, 0, 100, both | 0x10));
    index.Add(entry(100 * kBps, 200.0, 100, 200, both));
    index.Add(entry(200 * kBps, 300.0, 250, 300, both));
    CEegStreamIntervalArray cuts;
    // Out of order and overlapping; one covers an entry's start, one its end,
    // one lies inside, one touches the second entry's start only.
    for (auto [a, b] :
         {std::pair<uint32_t, uint32_t>{90, 100}, {20, 30}, {25, 40}, {120, 130}, {190, 260}}) {
        CEegStreamInterval c{a, b};
        cuts.Add(c);
    }
    const CEegStreamIndex cut = index.Cut(cuts, kBps);
    struct Want {
        int64_t position;
        double seconds;  // after the entry's start time
        uint32_t first, end, flags;
    };
    const std::vector<Want> want = {
        {0, 0, 0, 20, CEegStreamIndex::kRunStart | 0x10},      {40 * kBps, 40, 40, 90, 0x10},
        {100 * kBps, 0, 100, 120, CEegStreamIndex::kRunStart}, {130 * kBps, 30, 130, 190, 0},
        {210 * kBps, 10, 260, 300, CEegStreamIndex::kRunStop},
    };
    const double starts[] = {100.0, 100.0, 200.0, 200.0, 300.0};
    ASSERT_EQ(cut.GetSize(), static_cast<int>(want.size()));
    for (int i = 0; i < cut.GetSize(); ++i) {
        const CEegStreamIndexEntry& e = cut.GetAt(i);
        EXPECT_EQ(e.m_position, want[i].position) << i;
        EXPECT_NEAR((e.m_startTime.m_dt - starts[i]) * 86400.0, want[i].seconds, 1e-4) << i;
        EXPECT_EQ(e.m_firstSecond, want[i].first) << i;
        EXPECT_EQ(e.m_endSecond, want[i].end) << i;
        EXPECT_EQ(e.m_flags, want[i].flags) << i;
    }
    // No cuts: the same entries; everything cut: none.
    EXPECT_EQ(index.Cut(CEegStreamIntervalArray(), kBps).GetSize(), 3);
    CEegStreamIntervalArray all;
    CEegStreamInterval everything{0, 1000};
    all.Add(everything);
    EXPECT_EQ(index.Cut(all, kBps).GetSize(), 0);
}
