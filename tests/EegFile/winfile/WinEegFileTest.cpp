#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/EegHeader.h"
#include "Platform/Archive.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using testsupport::ExpectThrows;
using testsupport::TempDir;

namespace {

// Reads the whole recording in pieces of `piece` samples and counts mismatches.
int ReadAllMismatches(CWinEegFile& file, uint32_t piece, bool smooth, uint32_t* read) {
    CEegDataChunk chunk(static_cast<int>(piece), 32);
    file.SetReadPosition(CEegTimeStamp(0));
    int bad = 0;
    *read = 0;
    while (file.ReadEegData(chunk, piece) && chunk.GetNumberOfSamples() > 0) {
        bad += CountMismatches(chunk, *read, smooth);
        *read += chunk.GetNumberOfSamples();
    }
    return bad;
}

// The annotations of every "EEGData" section of a closed recording.
std::vector<CTKSectionEntry> DataSections(const std::string& path) {
    CTKCompoundFile container;
    container.Open(path.c_str(), 1);
    std::vector<CTKSectionEntry> out;
    if (CTKStream* s = container.OpenStream("EEGData", 1, 0, 1, 0)) {
        for (int i = 0; i < s->GetSectionCount(); ++i)
            out.push_back(s->GetSection(i));
        container.CloseStream(s);
    }
    container.Close();
    return out;
}

void RecordTwoRuns(const std::string& path, Compression::CompressionType compression, bool smooth,
                   const COleDateTime& t1, const COleDateTime& t2) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.PrepareToWriteEeg(kRate, compression, Amp32());
    file.SetWriteThreadOnOff(1);
    uint32_t n = 0;
    file.StartRecording(t1);
    for (int i = 0; i < 10; ++i, n += 100) {  // 5 s in half seconds
        CEegDataChunk c = MakeChunk(n, 100, smooth);
        file.WriteEegData(c);
    }
    file.StopRecording();
    // The pause: samples given between runs are ignored.
    CEegDataChunk ignored = MakeChunk(0, 50, smooth);
    file.WriteEegData(ignored);
    EXPECT_EQ(file.GetLengthInSamples(), 1000u);
    file.StartRecording(t2);
    for (int i = 0; i < 4; ++i, n += 150) {  // 3 s in 0.75 s chunks
        CEegDataChunk c = MakeChunk(n, 150, smooth);
        file.WriteEegData(c);
    }
    file.StopRecording();
    file.SetWriteThreadOnOff(0);
    EXPECT_EQ(file.GetLengthInSamples(), 1600u);
    file.Close();
}

}  // namespace

TEST(WinEegFile, TwoRunsWithThreadReadBackExactly) {
    const COleDateTime t1 = Time(2024, 3, 1, 10, 0, 0);
    const COleDateTime t2 = Time(2024, 3, 1, 11, 30, 15);
    for (auto compression : {Compression::Uncompressed, Compression::AdaptiveDelta}) {
        SCOPED_TRACE(compression);
        TempDir dir;
        const std::string path = dir.File("rec.eeg");
        const bool smooth = compression == Compression::AdaptiveDelta;
        RecordTwoRuns(path, compression, smooth, t1, t2);

        CWinEegFile file;
        file.Open(path.c_str(), 0);
        EXPECT_EQ(file.GetLengthInSamples(), 1600u);
        EXPECT_EQ(file.GetLengthInSeconds(), 8u);
        EXPECT_EQ(file.GetCompressionType(), compression);
        EXPECT_EQ(file.GetBytesPerSecondFile(), compression == 2 ? 32 * 204 : 32 * 400);
        for (uint32_t piece : {73u, 200u, 1000u}) {
            uint32_t read = 0;
            EXPECT_EQ(ReadAllMismatches(file, piece, smooth, &read), 0) << piece;
            EXPECT_EQ(read, 1600u);
        }
        // A read inside a second, then across a run boundary, at a given position.
        CEegDataChunk chunk(300, 32);
        EXPECT_EQ(file.ReadEegDataAt(CEegTimeStamp(917), chunk, 300), 1);
        EXPECT_EQ(chunk.GetNumberOfSamples(), 300u);
        EXPECT_EQ(CountMismatches(chunk, 917, smooth), 0);
        file.SetReadPosition(CEegTimeStamp(1590));
        EXPECT_EQ(file.ReadEegData(chunk, 300), 1);
        EXPECT_EQ(chunk.GetNumberOfSamples(), 10u);
        EXPECT_EQ(file.ReadEegData(chunk, 300), 0);

        const CEegStreamIndex& index = file.GetStreamIndex();
        ASSERT_EQ(index.GetSize(), 2);
        EXPECT_EQ(index.GetAt(0).m_firstSecond, 0u);
        EXPECT_EQ(index.GetAt(0).m_endSecond, 5u);
        EXPECT_EQ(index.GetAt(0).m_startTime, t1);
        EXPECT_EQ(index.GetAt(1).m_firstSecond, 5u);
        EXPECT_EQ(index.GetAt(1).m_endSecond, 8u);
        EXPECT_EQ(index.GetAt(1).m_startTime, t2);
        EXPECT_TRUE(index.GetAt(0).m_flags & CEegStreamIndex::kRunStart);
        EXPECT_TRUE(index.GetAt(1).m_flags & CEegStreamIndex::kRunStart);
        file.Close();

        // On disk: each run's last section carries the run-stop flag.
        int stops = 0;
        for (const CTKSectionEntry& s : DataSections(path)) {
            if (s.m_annotation[5] & CEegStreamIndex::kRunStop) {
                ++stops;
                EXPECT_TRUE(s.m_annotation[4] == 5 || s.m_annotation[4] == 8) << s.m_annotation[4];
            }
        }
        EXPECT_EQ(stops, 2);

        // Reopened for writing, a third run continues the numbering.
        CWinEegFile writer;
        writer.Open(path.c_str(), 1);
        EXPECT_EQ(writer.GetLengthInSamples(), 1600u);
        writer.StartRecording(Time(2024, 3, 1, 12, 0, 0));
        CEegDataChunk more = MakeChunk(1600, 400, smooth);
        writer.WriteEegData(more);
        writer.StopRecording();
        writer.Close();
        CWinEegFile again;
        again.Open(path.c_str(), 0);
        uint32_t read = 0;
        EXPECT_EQ(ReadAllMismatches(again, 333, smooth, &read), 0);
        EXPECT_EQ(read, 2000u);
        ASSERT_EQ(again.GetStreamIndex().GetSize(), 3);
        EXPECT_EQ(again.GetStreamIndex().GetAt(2).m_firstSecond, 8u);
        EXPECT_EQ(again.GetStreamIndex().GetAt(2).m_endSecond, 10u);
    }
}

TEST(WinEegFile, WritePathFlushPadDiscardAndBufferReads) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    {
        CWinEegFile file;
        file.Create(path.c_str());
        // Stored plainly: the padded second's jump to zeros would be coded approximately.
        file.PrepareToWriteEeg(kRate, Compression::Uncompressed, Amp32());
        CEegDataChunk early = MakeChunk(0, 200, true);
        file.WriteEegData(early);
        EXPECT_EQ(file.GetLengthInSamples(), 0u);  // before StartRecording: ignored
        EXPECT_TRUE(file.IsEmpty());

        // The thread holds the samples in the buffer, so reads come from there.
        file.SetWriteThreadOnOff(1);
        file.StartRecording(Time(2024, 1, 2, 3, 4, 5));
        CEegDataChunk c = MakeChunk(0, 500, true);
        file.WriteEegData(c);
        EXPECT_EQ(file.GetLengthInSamples(), 500u);
        CEegDataChunk out(500, 32);
        file.SetReadPosition(CEegTimeStamp(400));
        EXPECT_EQ(file.ReadEegData(out, 10), 0);  // below rate / 5: not worth a copy
        EXPECT_EQ(out.GetNumberOfSamples(), 0u);
        EXPECT_EQ(file.ReadEegData(out, 40), 1);
        EXPECT_EQ(out.GetNumberOfSamples(), 40u);
        EXPECT_EQ(CountMismatches(out, 400, true), 0);
        EXPECT_EQ(file.GetReadPosition().GetSampleOffset(), 440u);

        file.FlushWriteBuffer();
        EXPECT_EQ(file.GetStreamIndex().GetStoredSeconds(), 2u);
        EXPECT_EQ(file.GetLengthInSamples(), 500u);
        // A read spanning the stored seconds and the buffer.
        file.SetReadPosition(CEegTimeStamp(350));
        EXPECT_EQ(file.ReadEegData(out, 500), 1);
        EXPECT_EQ(out.GetNumberOfSamples(), 150u);
        EXPECT_EQ(CountMismatches(out, 350, true), 0);

        EXPECT_EQ(file.PadPartialSecond(), 100);
        EXPECT_EQ(file.GetLengthInSamples(), 600u);
        EXPECT_EQ(file.PadPartialSecond(), 0);
        file.DiscardWriteBufferData();  // the padded samples go too
        EXPECT_EQ(file.GetLengthInSamples(), 400u);

        CEegDataChunk half = MakeChunk(400, 100, true);
        file.WriteEegData(half);
        EXPECT_EQ(file.PadPartialSecond(), 100);
        file.FlushWriteBuffer();
        EXPECT_EQ(file.GetStreamIndex().GetStoredSeconds(), 3u);
        file.StopRecording();
        file.Close();
    }
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    ASSERT_EQ(file.GetLengthInSamples(), 600u);
    CEegDataChunk out(600, 32);
    EXPECT_EQ(file.ReadEegData(out, 600), 1);
    out.SetNumberOfSamples(500);
    EXPECT_EQ(CountMismatches(out, 0, true), 0);
    int nonZero = 0;
    for (uint32_t i = 500; i < 600; ++i)
        for (int s = 0; s < 32; ++s)
            nonZero += out.GetFrame(i)[s] != 0;
    EXPECT_EQ(nonZero, 0);
}

TEST(WinEegFile, WriteBufferOverflowAndSize) {
    TempDir dir;
    for (int requested : {0, 1000}) {
        const std::string path = dir.File("rec" + std::to_string(requested) + ".eeg");
        CWinEegFile file;
        const uint32_t capacity = requested == 0 ? 6000 : 3000;  // frames
        if (requested)
            file.SetEegWriteBufferSize(requested);  // raised to the minimum, 192000 bytes
        file.Create(path.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        file.SetWriteThreadOnOff(1);
        file.StartRecording(Time(2024, 1, 2, 3, 4, 5));
        CEegDataChunk tooBig = MakeChunk(0, capacity + 1, true);
        ExpectThrows<CEegFileException>(
            [&] { file.WriteEegData(tooBig); },
            [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 11); });
        EXPECT_EQ(file.GetLengthInSamples(), 0u);
        CEegDataChunk fits = MakeChunk(0, capacity, true);
        file.WriteEegData(fits);
        EXPECT_EQ(file.GetLengthInSamples(), capacity);
        file.StopRecording();
        file.SetWriteThreadOnOff(0);
        file.Close();
        CWinEegFile reader;
        reader.Open(path.c_str(), 0);
        uint32_t read = 0;
        EXPECT_EQ(ReadAllMismatches(reader, 1000, true, &read), 0);
        EXPECT_EQ(read, capacity);
    }
}

TEST(WinEegFile, RunStopFlagReachesDiskWhenTheSectionCannotShrink) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    {
        CWinEegFile file;
        file.Create(path.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        // 178 of the section's 180 seconds: too little room left to give back,
        // so stopping finds nothing to shrink and, every write having committed
        // its header, no dirty header either.
        file.StartRecording(Time(2024, 5, 6, 7, 8, 9));
        for (uint32_t s = 0; s < 178; ++s) {
            CEegDataChunk c = MakeChunk(s * kRate, kRate, true);
            file.WriteEegData(c);
        }
        file.StopRecording();
        // A second run, whose section is shrunk when it stops.
        file.StartRecording(Time(2024, 5, 6, 9, 0, 0));
        CEegDataChunk c = MakeChunk(178 * kRate, 2 * kRate, true);
        file.WriteEegData(c);
        file.StopRecording();
        file.Close();
    }
    const std::vector<CTKSectionEntry> sections = DataSections(path);
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].m_annotation[3], 0u);
    EXPECT_EQ(sections[0].m_annotation[4], 178u);
    EXPECT_EQ(sections[0].m_annotation[5], CEegStreamIndex::kRunStart | CEegStreamIndex::kRunStop);
    EXPECT_EQ(sections[1].m_annotation[3], 178u);
    EXPECT_EQ(sections[1].m_annotation[4], 180u);
    EXPECT_EQ(sections[1].m_annotation[5], CEegStreamIndex::kRunStart | CEegStreamIndex::kRunStop);
}
