#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/events/CommentEvent.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"
#include "Platform/FaultInjection.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using testsupport::ExpectThrows;
using testsupport::ReadBytes;
using testsupport::TempDir;

namespace {

constexpr uint32_t R = kRate;

// The protected cutting helpers, for the checks that need them one by one.
class CTestWinEegFile : public CWinEegFile {
public:
    using CWinEegFile::ClearMarkAccessMode;
    using CWinEegFile::ComputeNewFileDiskSpace;
    using CWinEegFile::GetTempFilePath;
    using CWinEegFile::InitDeleteSegmentList;
    using CWinEegFile::SetMarkAccessMode;
    using CWinEegFile::TypeFilterCallback;
};

// A 32-channel recording of `seconds` seconds of smooth samples (exact through
// the delta coding), then the given events written as its event list.
void MakeRecording(const std::string& path, uint32_t seconds,
                   const std::vector<CEegEvent*>& events = {}) {
    {
        CWinEegFile file;
        file.Create(path.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        file.StartRecording(Time(2024, 7, 1, 9, 0, 0));
        for (uint32_t s = 0; s < seconds; s += 10) {
            CEegDataChunk c = MakeChunk(s * R, std::min(10u, seconds - s) * R, true);
            file.WriteEegData(c);
        }
        file.StopRecording();
        file.Close();
    }
    if (events.empty())
        return;
    CEegEventList list;
    for (CEegEvent* e : events)
        list.Add(e);
    CTKStreamFile* f =
        CWinEegFile::OpenStreamFile(path.c_str(), "EventList", 1, 32400, CFile::modeCreate);
    ASSERT_NE(f, nullptr);
    CArchive ar(f, CArchive::store, 4096);
    list.Serialize(ar);
    ar.Close();
    f->Close();
    delete f;
    for (CEegEvent* e : events)
        delete e;
}

std::vector<uint8_t> ReadStream(const std::string& path, const char* name) {
    std::vector<uint8_t> bytes;
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, 1, 1024, CFile::modeRead);
    if (!f)
        return bytes;
    bytes.resize(f->GetLength());
    bytes.resize(f->Read(bytes.data(), static_cast<UINT>(bytes.size())));
    f->Close();
    delete f;
    return bytes;
}

void WriteStream(const std::string& path, const char* name, const std::vector<uint8_t>& bytes) {
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, 1, 4096, CFile::modeCreate);
    ASSERT_NE(f, nullptr);
    f->Write(bytes.data(), static_cast<UINT>(bytes.size()));
    f->Close();
    delete f;
}

CDataMarkDeleteEvent* Mark(uint32_t from, uint32_t to,
                           CDataMarkDeleteEvent::EMarkType type = CDataMarkDeleteEvent::mtEeg,
                           const char* comment = "") {
    auto* m = new CDataMarkDeleteEvent(CEegTimeStamp(from), CEegTimeStamp(to), type);
    m->SetComment(comment);
    return m;
}

// The marked segments as [start, end) sample pairs.
std::vector<std::pair<uint32_t, uint32_t>> Segments(const CWinEegFile& file) {
    CEegEventList list;
    file.GetMarkedSegmentList(list, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (int i = 0; i < list.GetSize(); ++i) {
        const auto* s = static_cast<const CDataSegmentMarkEvent*>(list.GetAt(i));
        EXPECT_TRUE(s->IsSegmentStart());
        out.emplace_back(s->GetStartTimeStamp().GetSampleOffset(),
                         s->GetEndTimeStamp().GetSampleOffset());
    }
    return out;
}

using Seconds = std::vector<std::pair<uint32_t, uint32_t>>;
Seconds Intervals(const CEegStreamIntervalArray& a) {
    Seconds out;
    for (int i = 0; i < a.GetSize(); ++i)
        out.emplace_back(a[i].m_firstSecond, a[i].m_endSecond);
    return out;
}

// Counts the samples of seconds [from, to) that are not as recorded (or, with
// zeros, not zero).
int BadSamples(CWinEegFile& file, uint32_t from, uint32_t to, bool zeros) {
    CEegDataChunk chunk(R, 32);
    int bad = 0;
    for (uint32_t s = from; s < to; ++s) {
        file.SetReadPosition(CEegTimeStamp(s * R));
        if (!file.ReadEegData(chunk, R) || chunk.GetNumberOfSamples() != R) {
            bad += R;
            continue;
        }
        if (!zeros) {
            bad += CountMismatches(chunk, s * R, true);
            continue;
        }
        for (uint32_t i = 0; i < R; ++i)
            for (int k = 0; k < 32; ++k)
                bad += chunk.GetFrame(i)[k] != 0;
    }
    return bad;
}

// Every event of an open recording as (type, sample offset), comments with
// their text.
std::multiset<std::pair<uint32_t, std::string>> EventsOf(const CWinEegFile& file) {
    CEegEventList list;
    file.GetEventList(list, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    std::multiset<std::pair<uint32_t, std::string>> out;
    for (int i = 0; i < list.GetSize(); ++i) {
        const CEegEvent* e = list.GetAt(i);
        std::string what = std::to_string(e->GetEventType());
        if (const auto* c = dynamic_cast<const CCommentEvent*>(e))
            what.append(":").append(c->GetComment());
        if (const auto* d = dynamic_cast<const CDataDeletionEvent*>(e))
            what.append(":")
                .append(std::to_string(d->GetStartTimeStamp().GetSampleOffset()))
                .append("-")
                .append(std::to_string(d->GetEndTimeStamp().GetSampleOffset()));
        out.emplace(e->GetTimeStamp().GetSampleOffset(), what);
    }
    return out;
}

std::pair<uint32_t, uint32_t> HoleAt(CWinEegFile& file, uint32_t at) {
    CDataDeletionEvent hole;
    if (!file.InDeleteSegment(hole, CEegTimeStamp(at)))
        return {0, 0};
    return {hole.GetStartTimeStamp().GetSampleOffset(), hole.GetEndTimeStamp().GetSampleOffset()};
}

std::vector<CEegEvent*> SomeEvents() {
    return {new CCommentEvent(CEegTimeStamp(5 * R), "five", 3),
            new CCommentEvent(CEegTimeStamp(25 * R + 17), "in the cut", 3),
            new CCommentEvent(CEegTimeStamp(35 * R), "thirty-five", 3),
            new CCommentEvent(CEegTimeStamp(59 * R + 100), "last", 3)};
}

}  // namespace

TEST(WinEegFileMarks, SegmentsFollowMarksInWholeSeconds) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, 60);
    CTestWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamRead);
    EXPECT_EQ(file.GetMarkForDelete(), 0);
    file.SetMarkForDelete(1);
    EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamReadMark);

    // 10.4 s to 12.2 s: seconds 10, 11 and 12 whole.
    file.AddDataMark(Mark(2080, 2440));
    EXPECT_EQ(Segments(file), (Seconds{{2000, 2600}}));
    // Beyond the end: up to the last whole second; from the last second on: nothing.
    file.AddDataMark(Mark(50 * R, 70 * R));
    file.AddDataMark(Mark(60 * R, 61 * R));
    EXPECT_EQ(Segments(file), (Seconds{{2000, 2600}, {10000, 12000}}));
    // Two marks touching at a second boundary become one segment.
    file.AddDataMark(Mark(20 * R, 24 * R + 199));
    file.AddDataMark(Mark(25 * R, 29 * R));
    EXPECT_EQ(Segments(file), (Seconds{{2000, 2600}, {4000, 6000}, {10000, 12000}}));
    // A video mark adds no segment; a mark inside a segment changes nothing.
    file.AddDataMark(Mark(30 * R, 40 * R, CDataMarkDeleteEvent::mtVideo));
    file.AddDataMark(Mark(21 * R, 22 * R));
    EXPECT_EQ(Segments(file).size(), 3u);

    // Segments listed from a position include one that began before it.
    CEegEventList list;
    file.GetMarkedSegmentList(list, CEegTimeStamp(23 * R), CEegTimeStamp(55 * R), 0);
    ASSERT_EQ(list.GetSize(), 2);
    EXPECT_EQ(list.GetAt(0)->GetTimeStamp().GetSampleOffset(), 4000u);
    EXPECT_EQ(list.GetAt(1)->GetTimeStamp().GetSampleOffset(), 10000u);

    CEegStreamIntervalArray cut;
    CEegEventList all;
    file.GetMarkedSegmentList(all, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    file.InitDeleteSegmentList(cut, all, kRate);
    EXPECT_EQ(Intervals(cut), (Seconds{{10, 13}, {20, 30}, {50, 60}}));

    // Removing a mark (by an equal copy) rebuilds the segments from the others.
    CDataMarkDeleteEvent copy(CEegTimeStamp(20 * R), CEegTimeStamp(24 * R + 199),
                              CDataMarkDeleteEvent::mtEeg);
    file.RemoveDataMark(&copy);
    EXPECT_EQ(Segments(file), (Seconds{{2000, 2600}, {4200, 4600}, {5000, 6000}, {10000, 12000}}));
    CEegEventList marks;
    file.GetDataMarkList(marks);
    ASSERT_EQ(marks.GetSize(), 6);
    auto* stored =
        const_cast<CDataMarkDeleteEvent*>(static_cast<const CDataMarkDeleteEvent*>(marks.GetAt(0)));
    EXPECT_EQ(file.IsEventValid(stored), 1);
    EXPECT_EQ(file.IsEventValid(&copy), 0);

    // Keep marks: changing the flag discards every mark; the seconds outside the
    // kept ones are cut.
    file.SetMarkForDelete(0);
    file.GetDataMarkList(marks);
    EXPECT_EQ(marks.GetSize(), 0);
    file.AddDataMark(Mark(10 * R, 20 * R - 1));
    file.AddDataMark(Mark(30 * R, 40 * R - 1, CDataMarkDeleteEvent::mtEegVideo));
    file.GetMarkedSegmentList(all, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    file.InitDeleteSegmentList(cut, all, kRate);
    EXPECT_EQ(Intervals(cut), (Seconds{{0, 10}, {20, 30}, {40, 60}}));

    // EEG-and-video marks lose their EEG part; video marks go with video removal.
    file.RemoveAllEegDataMarks();
    file.GetDataMarkList(marks);
    ASSERT_EQ(marks.GetSize(), 1);
    EXPECT_EQ(static_cast<const CDataMarkDeleteEvent*>(marks.GetAt(0))->GetMarkType(),
              CDataMarkDeleteEvent::mtVideo);
    EXPECT_TRUE(Segments(file).empty());
    file.AddDataMark(Mark(1 * R, 2 * R, CDataMarkDeleteEvent::mtEegVideo));
    file.RemoveAllVideoDataMarks();
    file.GetDataMarkList(marks);
    ASSERT_EQ(marks.GetSize(), 1);
    EXPECT_EQ(static_cast<const CDataMarkDeleteEvent*>(marks.GetAt(0))->GetMarkType(),
              CDataMarkDeleteEvent::mtEeg);
    file.RemoveAllDataMarks();
    file.GetDataMarkList(marks);
    EXPECT_EQ(marks.GetSize(), 0);

    // Not open: nothing is marked, nothing throws, and the mark stays the caller's.
    file.Close();
    std::unique_ptr<CDataMarkDeleteEvent> unused(Mark(0, R));
    file.AddDataMark(unused.get());
    EXPECT_EQ(file.IsEventValid(unused.get()), 0);
    EXPECT_EQ(file.GetMarkForDelete(), 0);
    EXPECT_TRUE(Segments(file).empty());
}

TEST(WinEegFileMarks, MarkStreamBytesAndDamagedStreams) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, 20);
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetMarkForDelete(1);
        CDataMarkDeleteEvent* m = Mark(2080, 2440, CDataMarkDeleteEvent::mtEeg, "ab");
        m->SetPriority(3);
        file.AddDataMark(m);
        file.Close();
    }
    const std::vector<uint8_t> expected = {
        0x39, 0x5A,              // version 99
        0x01, 0x00, 0x00, 0x00,  // mark for delete
        0xB3, 0xA5,              // type 22 of the entry
        0x58, 0x5A,              // mark record version 2
        0x5A, 0x5A,              // event version 0
        0x16, 0x00, 0x00, 0x00,  // type 22
        0x20, 0x08, 0x00, 0x00,  // start 2080
        0x88, 0x09, 0x00, 0x00,  // end 2440
        0x01, 0x00, 0x00, 0x00,  // EEG mark
        0x02, 'a',  'b',         // comment
        0x03, 0x00,              // priority
    };
    const std::vector<uint8_t> stored = ReadStream(path, "MarkDelete");
    EXPECT_EQ(stored, expected);

    // Read back on opening, segment included.
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        EXPECT_EQ(file.GetMarkForDelete(), 1);
        EXPECT_EQ(Segments(file), (Seconds{{2000, 2600}}));
        file.Close();
    }

    // A wrong version word is code 0; a truncated record and an entry of another
    // type are the archive's faults; each leaves the file closable and closed.
    std::vector<uint8_t> bad = expected;
    bad[0] = 0x3A;
    WriteStream(path, "MarkDelete", bad);
    {
        CWinEegFile file;
        ExpectThrows<CEegFileException>(
            [&] { file.Open(path.c_str(), 0); },
            [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 0); });
        EXPECT_FALSE(file.IsOpen());
    }
    bad = expected;
    bad.resize(bad.size() - 3);
    WriteStream(path, "MarkDelete", bad);
    {
        CWinEegFile file;
        ExpectThrows<CArchiveException>(
            [&] { file.Open(path.c_str(), 0); },
            [](CArchiveException& e) { EXPECT_EQ(e.m_cause, CArchiveException::endOfFile); });
    }
    bad = expected;
    bad[6] = 0xA9;  // a comment's type word
    WriteStream(path, "MarkDelete", bad);
    {
        CWinEegFile file;
        ExpectThrows<CArchiveException>(
            [&] { file.Open(path.c_str(), 0); },
            [](CArchiveException& e) { EXPECT_EQ(e.m_cause, CArchiveException::badSchema); });
    }
    // Fewer than 8 bytes: a stream nobody wrote; it opens with no marks.
    WriteStream(path, "MarkDelete", {0x39, 0x5A, 0x01});
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetMarkForDelete(), 0);
    EXPECT_TRUE(Segments(file).empty());
}

TEST(WinEegFileMarks, TwoStationsMarkThenTheCutKeepsOffsetsAndLeavesHoles) {
    accesstest::Recording rec;
    const std::string& path = rec.path;
    MakeRecording(path, 60, SomeEvents());
    const int32_t go = 1;

    // Station A marks seconds 20-30 for deletion with a note and stays open.
    accesstest::Child a("STATION_A", [&](accesstest::Child& self) {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetMarkForDelete(1);
        file.AddDataMark(Mark(20 * R, 30 * R - 1, CDataMarkDeleteEvent::mtEeg, "artifact"));
        file.AddEvent(new CCommentEvent(CEegTimeStamp(45 * R + 5), "added by A", 3));
        int32_t step = 0;
        self.Send(go);
        self.Receive(step);
        file.Close();
        self.Send(go);
        return 0;
    });
    int32_t reply = 0;
    ASSERT_TRUE(a.Receive(reply));

    // Station B sees A's mark; it may not mark while A holds mark access.
    accesstest::Child b("STATION_B", [&](accesstest::Child& self) {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        CEegEventList marks;
        file.GetDataMarkList(marks);
        int32_t result = marks.GetSize() == 1 && Segments(file) == Seconds{{4000, 6000}};
        CString holders;
        result += 10 * (file.GetMarkAccess(holders) == 0 && holders.Find("STATION_A") >= 0);
        try {
            file.AddDataMark(Mark(40 * R, 45 * R - 1));
        } catch (CException* e) {
            auto* x = dynamic_cast<CEegFileException*>(e);
            result += 100 * (x && x->GetErrorCode() == 8);
            e->Delete();
        }
        self.Send(result);
        int32_t step = 0;
        self.Receive(step);  // A has closed
        file.AddDataMark(Mark(40 * R, 45 * R - 1));
        file.AddDataMark(Mark(0, 3 * R, CDataMarkDeleteEvent::mtVideo, "video only"));
        self.Send(go);
        self.Receive(step);
        file.Close();
        self.Send(go);
        return 0;
    });
    ASSERT_TRUE(b.Receive(reply));
    EXPECT_EQ(reply, 111);
    a.Send(go);
    ASSERT_TRUE(a.Receive(reply));
    EXPECT_EQ(a.Wait(), 0);
    b.Send(go);
    ASSERT_TRUE(b.Receive(reply));

    // While B holds the file the cut is refused, the station named, the file untouched.
    ::setenv("COMPUTERNAME", "CUTTER", 1);
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetDeleteEegDataOnClose();
        const std::vector<uint8_t> before = ReadBytes(path);
        ExpectThrows<CEegFileException>([&] { file.DeleteMarkedEegData(nullptr); },
                                        [](CEegFileException& e) {
                                            EXPECT_EQ(e.GetErrorCode(), 7);
                                            ASSERT_EQ(e.GetStationNames().size(), 2u);
                                            EXPECT_EQ(e.GetStationNames()[0], "STATION_B");
                                        });
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(ReadBytes(path), before);
    }
    b.Send(go);
    ASSERT_TRUE(b.Receive(reply));
    EXPECT_EQ(b.Wait(), 0);

    // The cut, with progress reports.
    const auto sizeBefore = std::filesystem::file_size(path);
    std::vector<int64_t> progress;
    CVoidCall1ArgFn<int64_t> report([&](int64_t p) { progress.push_back(p); });
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        CEegEventList marks;
        file.GetDataMarkList(marks);
        EXPECT_EQ(marks.GetSize(), 3);
        file.SetDeleteEegDataOnClose();
        file.DeleteMarkedEegData(&report);
        EXPECT_FALSE(file.IsOpen());
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(rec.Clean());
    EXPECT_FALSE(std::filesystem::exists(rec.dir.File("rec.tmp")));
    EXPECT_LT(std::filesystem::file_size(path), sizeBefore);

    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetLengthInSeconds(), 60u);
    EXPECT_EQ(BadSamples(file, 0, 20, false), 0);
    EXPECT_EQ(BadSamples(file, 20, 30, true), 0);
    EXPECT_EQ(BadSamples(file, 30, 40, false), 0);
    EXPECT_EQ(BadSamples(file, 40, 45, true), 0);
    EXPECT_EQ(BadSamples(file, 45, 60, false), 0);
    EXPECT_EQ(HoleAt(file, 25 * R), (std::pair<uint32_t, uint32_t>{4000, 6000}));
    EXPECT_EQ(HoleAt(file, 20 * R), (std::pair<uint32_t, uint32_t>{4000, 6000}));
    EXPECT_EQ(HoleAt(file, 42 * R), (std::pair<uint32_t, uint32_t>{8000, 9000}));
    EXPECT_EQ(HoleAt(file, 30 * R), (std::pair<uint32_t, uint32_t>{0, 0}));
    EXPECT_EQ(HoleAt(file, 35 * R), (std::pair<uint32_t, uint32_t>{0, 0}));
    EXPECT_EQ(HoleAt(file, 19 * R), (std::pair<uint32_t, uint32_t>{0, 0}));
    file.SetReadPosition(CEegTimeStamp(41 * R));
    CDataDeletionEvent hole;
    EXPECT_EQ(file.InDeleteSegment(hole, CEegTimeStamp::NullStamp), 1);

    // Every event keeps its offset; the note became a comment; the holes are events.
    const std::multiset<std::pair<uint32_t, std::string>> expected = {
        {5 * R, "12:five"},
        {20 * R, "12:artifact"},
        {20 * R, "17:4000-6000"},
        {25 * R + 17, "12:in the cut"},
        {30 * R, "17:4000-6000"},
        {35 * R, "12:thirty-five"},
        {40 * R, "17:8000-9000"},
        {45 * R, "17:8000-9000"},
        {45 * R + 5, "12:added by A"},
        {59 * R + 100, "12:last"},
    };
    EXPECT_EQ(EventsOf(file), expected);
    // The EEG marks were used up; the video mark stays.
    CEegEventList marks;
    file.GetDataMarkList(marks);
    ASSERT_EQ(marks.GetSize(), 1);
    EXPECT_EQ(static_cast<const CDataMarkDeleteEvent*>(marks.GetAt(0))->GetComment(),
              CString("video only"));
    EXPECT_TRUE(Segments(file).empty());

    // A second cut on a file with holes: a mark over a hole adds no segment there.
    file.AddDataMark(Mark(15 * R, 35 * R - 1));
    file.AddDataMark(Mark(50 * R, 55 * R - 1));
    EXPECT_EQ(Segments(file), (Seconds{{3000, 4000}, {6000, 7000}, {10000, 11000}}));
    file.SetDeleteEegDataOnClose();
    file.DeleteMarkedEegData(nullptr);
    file.Open(path.c_str(), 0);
    EXPECT_EQ(BadSamples(file, 0, 15, false), 0);
    EXPECT_EQ(BadSamples(file, 15, 35, true), 0);
    EXPECT_EQ(BadSamples(file, 35, 40, false), 0);
    EXPECT_EQ(BadSamples(file, 40, 45, true), 0);
    EXPECT_EQ(BadSamples(file, 45, 50, false), 0);
    EXPECT_EQ(BadSamples(file, 50, 55, true), 0);
    EXPECT_EQ(BadSamples(file, 55, 60, false), 0);
    EXPECT_EQ(HoleAt(file, 16 * R), (std::pair<uint32_t, uint32_t>{3000, 7000}));
    EXPECT_EQ(HoleAt(file, 41 * R), (std::pair<uint32_t, uint32_t>{8000, 9000}));
    EXPECT_EQ(HoleAt(file, 54 * R), (std::pair<uint32_t, uint32_t>{10000, 11000}));
    const auto events = EventsOf(file);
    EXPECT_EQ(events.count({35 * R, "12:thirty-five"}), 1u);
    EXPECT_EQ(events.count({35 * R, "17:3000-7000"}), 1u);
    EXPECT_EQ(events.count({59 * R + 100, "12:last"}), 1u);
    EXPECT_EQ(events.count({45 * R + 5, "12:added by A"}), 1u);
    EXPECT_EQ(events.size(), 12u);
}

TEST(WinEegFileMarks, WithoutDeleteOnCloseTheCutOnlyCloses) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, 30);
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.AddDataMark(Mark(10 * R, 20 * R - 1));
        file.Close();
    }
    const std::vector<uint8_t> before = ReadBytes(path);
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetDeleteEegDataOnClose(), 0);
    EXPECT_EQ(file.DeleteMarkedEegData(nullptr), 0);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadBytes(path), before);
    // Set, but nothing marked: closes too, and the flag outlives the close.
    file.Open(path.c_str(), 0);
    file.RemoveAllDataMarks();
    file.SetDeleteEegDataOnClose();
    file.DeleteMarkedEegData(nullptr);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetDeleteEegDataOnClose(), 1);
    file.Open(path.c_str(), 0);
    EXPECT_EQ(BadSamples(file, 0, 30, false), 0);
    // Open for writing (recording): marks may be set, but the cut only closes.
    file.Close();
    file.Open(path.c_str(), 1);
    file.AddDataMark(Mark(10 * R, 20 * R - 1));
    EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamWriteMark);
    file.DeleteMarkedEegData(nullptr);
    EXPECT_FALSE(file.IsOpen());
    file.Open(path.c_str(), 0);
    EXPECT_EQ(BadSamples(file, 0, 30, false), 0);
}

TEST(WinEegFileMarks, CutHelpers) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, 400, SomeEvents());
    CTestWinEegFile file;
    EXPECT_EQ(file.GetTempFilePath("/a/rec.eeg"), CString("/a/rec.tmp"));
    EXPECT_EQ(file.GetTempFilePath("/a.b/rec"), CString("/a.b/rec.tmp"));
    EXPECT_EQ(file.GetTempFilePath("rec.x.eeg"), CString("rec.x.tmp"));
    for (const char* rebuilt : {"Header", "Patient", "EventList", "EEGData", "MarkDelete"})
        EXPECT_EQ(file.TypeFilterCallback(rebuilt, 1), 0) << rebuilt;
    EXPECT_EQ(file.TypeFilterCallback("SegMark", 1), 1);
    EXPECT_EQ(file.TypeFilterCallback("VideoIndex", 2), 1);

    // A further stream is carried over unchanged.
    const std::vector<uint8_t> extra = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    WriteStream(path, "VideoIndex", extra);

    // The space of the rebuilt file. Sections take their data plus 128 bytes,
    // rounded up to 512: 100 s of 6528 bytes -> 653312; the 250 s after the cut
    // as 180 s (1175552) and 70 s (457216).
    file.Open(path.c_str(), 0);
    file.SetMarkForDelete(1);
    file.AddDataMark(Mark(100 * R, 150 * R - 1));
    const int bps = file.GetBytesPerSecondFile();
    ASSERT_EQ(bps, (kRate + 4) * 32);
    CEegEventList segments;
    file.GetMarkedSegmentList(segments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    CEegStreamIntervalArray cut;
    file.InitDeleteSegmentList(cut, segments, kRate);
    EXPECT_EQ(Intervals(cut), (Seconds{{100, 150}}));
    const CEegStreamIndex newIndex = file.GetStreamIndex().Cut(cut, bps);
    ASSERT_EQ(newIndex.GetSize(), 2);
    const int64_t space = file.ComputeNewFileDiskSpace(newIndex, 2);
    EXPECT_EQ(space - file.ComputeNewFileDiskSpace(CEegStreamIndex(), 2),
              653312 + 1175552 + 457216);
    file.SetDeleteEegDataOnClose();
    EXPECT_EQ(file.DeleteMarkedEegData(nullptr), space);
    // Beyond the streams counted: the directory's section and the empty "SegMark".
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)), space + 1024 + 512);
    EXPECT_EQ(ReadStream(path, "VideoIndex"), extra);

    // The new index: the stretches keep their second numbers and start times.
    file.Open(path.c_str(), 0);
    const CEegStreamIndex& index = file.GetStreamIndex();
    ASSERT_EQ(index.GetSize(), 2);
    EXPECT_EQ(index.GetAt(0).m_firstSecond, 0u);
    EXPECT_EQ(index.GetAt(0).m_endSecond, 100u);
    EXPECT_EQ(index.GetAt(1).m_firstSecond, 150u);
    EXPECT_EQ(index.GetAt(1).m_endSecond, 400u);
    EXPECT_EQ(index.GetAt(1).m_position, 100 * bps);
    EXPECT_NEAR((index.GetAt(1).m_startTime.m_dt - index.GetAt(0).m_startTime.m_dt) * 86400.0,
                150.0, 1e-3);
    EXPECT_EQ(index.GetAt(0).m_flags & CEegStreamIndex::kRunStart, CEegStreamIndex::kRunStart);
    EXPECT_EQ(BadSamples(file, 95, 100, false), 0);
    EXPECT_EQ(BadSamples(file, 100, 150, true), 0);
    EXPECT_EQ(BadSamples(file, 150, 400, false), 0);
}

// A cut that fails at any write of the rebuilt file, or at the rename, leaves
// the original complete: same samples, events and marks, and openable.
TEST(WinEegFileMarks, FailedCutLeavesTheOriginal) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, 200, SomeEvents());
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetMarkForDelete(1);
        file.AddDataMark(Mark(20 * R, 30 * R - 1, CDataMarkDeleteEvent::mtEeg, "note"));
        file.Close();
    }
    const std::vector<uint8_t> eventBytes = ReadStream(path, "EventList");
    const std::vector<uint8_t> markBytes = ReadStream(path, "MarkDelete");
    ASSERT_GT(markBytes.size(), 8u);
    auto expectOriginal = [&](const std::string& when) {
        EXPECT_EQ(ReadStream(path, "EventList"), eventBytes) << when;
        EXPECT_EQ(ReadStream(path, "MarkDelete"), markBytes) << when;
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        EXPECT_EQ(BadSamples(file, 0, 200, false), 0) << when;
        EXPECT_EQ(EventsOf(file).size(), 4u) << when;
        EXPECT_EQ(Segments(file), (Seconds{{4000, 6000}})) << when;
        file.Close();
    };
    auto cut = [&](FaultInjection::Op op, int nth, int error) {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetDeleteEegDataOnClose();
        FaultInjection::Arm(op, nth, error);
        bool failed = false;
        try {
            file.DeleteMarkedEegData(nullptr);
        } catch (CException* e) {
            failed = true;
            e->Delete();
        }
        FaultInjection::Disarm();
        EXPECT_FALSE(file.IsOpen());
        return failed;
    };

    // The rename fails: the file exception names the recording; the rebuilt
    // file stays beside it, access is released.
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetDeleteEegDataOnClose();
        FaultInjection::Arm(FaultInjection::Op::Rename, 1, EACCES);
        ExpectThrows<CFileException>([&] { file.DeleteMarkedEegData(nullptr); },
                                     [&](CFileException& e) {
                                         EXPECT_EQ(e.m_cause, CFileException::accessDenied);
                                         EXPECT_EQ(e.m_strFileName, CString(path.c_str()));
                                     });
        FaultInjection::Disarm();
        EXPECT_FALSE(file.IsOpen());
        EXPECT_TRUE(std::filesystem::exists(dir.File("rec.tmp")));
        EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$co")));
    }
    expectOriginal("rename");

    // Every write from the first on, until the cut gets through.
    int failures = 0;
    for (int nth = 1; nth < 2000; nth += (nth < 40 ? 1 : 7)) {
        if (!cut(FaultInjection::Op::Write, nth, ENOSPC))
            break;
        ++failures;
        expectOriginal("write " + std::to_string(nth));
    }
    EXPECT_GT(failures, 30);
    // The last run got through: the cut is there.
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(BadSamples(file, 20, 30, true), 0);
    EXPECT_EQ(BadSamples(file, 30, 200, false), 0);
    EXPECT_EQ(HoleAt(file, 20 * R), (std::pair<uint32_t, uint32_t>{4000, 6000}));
}

TEST(WinEegFileMarks, KeepMarksFromTwoStations) {
    accesstest::Recording rec;
    const std::string& path = rec.path;
    MakeRecording(path, 60, SomeEvents());
    auto station = [&](const char* name, uint32_t from, uint32_t to, int setKeep) {
        accesstest::Child child(name, [&](accesstest::Child&) {
            CWinEegFile file;
            file.Open(path.c_str(), 0);
            if (setKeep)
                file.SetMarkForDelete(0);
            file.AddDataMark(Mark(from * R, to * R - 1));
            file.Close();
            return 0;
        });
        return child.Wait();
    };
    // The flag is stored: set it to delete first, so that keeping is a change.
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetMarkForDelete(1);
        file.AddDataMark(Mark(0, 5 * R));
        file.Close();
    }
    EXPECT_EQ(station("KEEPER_A", 10, 20, 1), 0);
    EXPECT_EQ(station("KEEPER_B", 30, 40, 0), 0);

    ::setenv("COMPUTERNAME", "CUTTER", 1);
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetMarkForDelete(), 0);
    EXPECT_EQ(Segments(file), (Seconds{{2000, 4000}, {6000, 8000}}));
    file.SetDeleteEegDataOnClose();
    file.DeleteMarkedEegData(nullptr);
    file.Open(path.c_str(), 0);
    EXPECT_EQ(BadSamples(file, 0, 10, true), 0);
    EXPECT_EQ(BadSamples(file, 10, 20, false), 0);
    EXPECT_EQ(BadSamples(file, 20, 30, true), 0);
    EXPECT_EQ(BadSamples(file, 30, 40, false), 0);
    EXPECT_EQ(BadSamples(file, 40, 60, true), 0);
    EXPECT_EQ(HoleAt(file, 0), (std::pair<uint32_t, uint32_t>{0, 2000}));
    EXPECT_EQ(HoleAt(file, 59 * R), (std::pair<uint32_t, uint32_t>{8000, 12000}));
    const auto events = EventsOf(file);
    EXPECT_EQ(events.count({5 * R, "12:five"}), 1u);
    EXPECT_EQ(events.count({59 * R + 100, "12:last"}), 1u);
    EXPECT_EQ(events.size(), 4u + 6u);
}

TEST(WinEegFileMarks, MarkAccessAndReadOnlyRecordings) {
    accesstest::Recording rec;
    const std::string& path = rec.path;
    MakeRecording(path, 20);
    {
        CTestWinEegFile file;
        file.Open(path.c_str(), 0);
        file.SetMarkForDelete(1);
        file.AddDataMark(Mark(2 * R, 4 * R - 1));
        EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamReadMark);
        file.ClearMarkAccessMode();
        EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamRead);
        EXPECT_EQ(file.SetMarkAccessMode(1), 1);
        EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamReadMark);
        CString holders;
        EXPECT_EQ(file.GetExclusiveAccess(holders), 1);
        EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamExclusive);
        EXPECT_EQ(file.SetMarkAccessMode(1), 1);  // exclusive allows marking
        file.Close();
    }
    // Another station holding mark access: refused without throwing, then with code 8.
    const int32_t go = 1;
    accesstest::Child holder("HOLDER", [&](accesstest::Child& self) {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        CString none;
        const int32_t got = file.GetMarkAccess(none);
        self.Send(got);
        int32_t step = 0;
        self.Receive(step);
        file.Close();
        return 0;
    });
    int32_t got = 0;
    ASSERT_TRUE(holder.Receive(got));
    EXPECT_EQ(got, 1);
    {
        CTestWinEegFile file;
        file.Open(path.c_str(), 0);
        EXPECT_EQ(file.SetMarkAccessMode(0), 0);
        ExpectThrows<CEegFileException>([&] { file.SetMarkAccessMode(1); },
                                        [](CEegFileException& e) {
                                            EXPECT_EQ(e.GetErrorCode(), 8);
                                            EXPECT_EQ(e.GetStationNames()[0], "HOLDER");
                                        });
        CString holders;
        EXPECT_EQ(file.GetExclusiveAccess(holders), 0);
        EXPECT_GE(holders.Find("HOLDER"), 0);
        file.Close();
    }
    holder.Send(go);
    EXPECT_EQ(holder.Wait(), 0);

    // A read-only file shows its marks; changing them is code 12, and the mark
    // handed over stays the caller's, untouched.
    CFile::SetReadOnly(path.c_str(), true);
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.IsReadOnly(), 1);
    EXPECT_EQ(Segments(file), (Seconds{{400, 800}}));
    std::unique_ptr<CDataMarkDeleteEvent> refused(Mark(0, R, CDataMarkDeleteEvent::mtEeg, "mine"));
    ExpectThrows<CEegFileException>([&] { file.AddDataMark(refused.get()); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    EXPECT_EQ(file.IsEventValid(refused.get()), 0);
    EXPECT_EQ(std::string(refused->GetComment()), "mine");
    ExpectThrows<CEegFileException>([&] { file.SetMarkForDelete(0); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    file.SetDeleteEegDataOnClose();
    ExpectThrows<CEegFileException>([&] { file.DeleteMarkedEegData(nullptr); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    EXPECT_FALSE(file.IsOpen());
    CFile::SetReadOnly(path.c_str(), false);
}
