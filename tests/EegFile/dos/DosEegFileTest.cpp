// A legacy recording through the recording interface only.
#include <gtest/gtest.h>

#include <cerrno>

#include "DosTestSupport.h"
#include "EegFile/dos/DosEegFile.h"
#include "Platform/FaultInjection.h"

using namespace dostest;
using namespace AmpInput;

namespace {

constexpr int kRate = 200;
const std::vector<AmpInputType> kInputs = {Fp1, Cz, O2, In1A};

CTKTime At(int hour, int minute, int second) {
    return CTKTime(2026, 12, 6, hour, minute, second);
}

// A recording of seconds (files of the given lengths), its frames and events.
void WriteRecording(const std::string& log, int mode, const std::vector<int>& files,
                    const std::vector<short>& frames, const std::vector<const CEegEvent*>& events) {
    CDosRecordingWriter w(log.c_str(), kRate, mode, AmpStoring(kInputs), MontageOf(kInputs));
    w.WriteEvents(events.data(), static_cast<int>(events.size()));
    int second = 0;
    for (int length : files) {
        ASSERT_TRUE(w.StartDataFile());
        for (int s = 0; s < length; ++s, ++second)
            ASSERT_TRUE(w.WriteSecond(frames.data() + static_cast<size_t>(32) * kRate * second));
    }
    w.Close();
}

std::vector<short> Read(CEegFile& f, uint32_t from, uint32_t count, int* result = nullptr) {
    CEegDataChunk chunk(static_cast<int>(count), 32);
    f.SetReadPosition(CEegTimeStamp(from));
    const int r = f.ReadEegData(chunk, count);
    if (result)
        *result = r;
    return std::vector<short>(chunk.GetData(), chunk.GetData() + 32 * chunk.GetNumberOfSamples());
}

std::vector<short> Slice(const std::vector<short>& frames, uint32_t from, uint32_t count) {
    std::vector<short> out(static_cast<size_t>(32) * count, 0);
    for (uint32_t i = 0; i < count && (from + i) * 32 < frames.size(); ++i)
        std::copy_n(frames.begin() + 32 * (from + i), 32, out.begin() + 32 * i);
    return out;
}

}  // namespace

TEST(DosEegFile, ReadsThroughTheRecordingInterface) {
    TempDir dir;
    const std::string path = dir.File("EEG00020.LOG");
    const std::vector<short> frames = OnlyStored(SmoothSeconds(kRate, 10, 5), kInputs);
    const CTKTime start = At(10, 0, 0), stop = At(10, 0, 6), again = At(10, 30, 0);
    CTraceInfo changed("x", Cz, Ref);
    const CRecordEvent run1(CEegTimeStamp(0), 1, &start), end1(CEegTimeStamp(6 * kRate), 0, &stop),
        run2(CEegTimeStamp(8 * kRate), 1, &again);
    const CSpeedEvent speed(CEegTimeStamp(kRate), 15);
    const CLinkedSensitivityEvent sensitivity(CEegTimeStamp(4 * kRate), 10);
    const CTraceInfoEvent trace(CEegTimeStamp(5 * kRate), 0, &changed);
    const CCommentEvent comment(CEegTimeStamp(3 * kRate), "eyes open", 3);
    WriteRecording(path, 2, {6, 4}, frames,
                   {&run1, &speed, &comment, &sensitivity, &trace, &end1, &run2});

    CDosEegFile dos;
    CEegFile& f = dos;
    ExpectDosError([&] { f.Open(path.c_str(), 1); }, 26);
    EXPECT_EQ(f.GetDisableFileAccess(), 1);
    EXPECT_TRUE(Read(f, 0, 10).empty());
    f.Open(path.c_str(), 0);
    EXPECT_EQ(f.IsOpen(), 1);
    EXPECT_EQ(f.GetSampleRate(), kRate);
    EXPECT_EQ(f.GetLengthInSeconds(), 10u);
    EXPECT_EQ(f.GetEofTimeStamp(), CEegTimeStamp(10 * kRate));
    EXPECT_EQ(f.GetAccessMode(), CEegAccessMode::eamRead);

    // Across the two data files; the last second and beyond: zeros, position on.
    EXPECT_EQ(Read(f, 5 * kRate + 10, 300), Slice(frames, 5 * kRate + 10, 300));
    int result = 0;
    EXPECT_EQ(Read(f, 9 * kRate, 1000, &result), Slice(frames, 9 * kRate, 1000));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(f.GetReadPosition(), CEegTimeStamp(9 * kRate + 1000));
    CEegDataChunk chunk(10, 32);
    EXPECT_EQ(f.ReadEegDataAt(CEegTimeStamp(kRate), chunk, 10), 1);
    EXPECT_EQ(f.GetReadPosition(), CEegTimeStamp(9 * kRate + 1000));

    // Settings in force.
    CEegMontage montage;
    ASSERT_EQ(f.GetMontageAt(CEegTimeStamp(4 * kRate), montage), 1);
    EXPECT_EQ(montage, MontageOf(kInputs));
    ASSERT_EQ(f.GetMontageAt(CEegTimeStamp(5 * kRate), montage), 1);
    EXPECT_EQ(montage.GetTraceInfo(0).GetLabel(), "x");
    double value = -1;
    EXPECT_EQ(f.GetPaperSpeedAt(CEegTimeStamp(0), value), 0);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(f.GetPaperSpeedAt(CEegTimeStamp(2 * kRate), value), 1);
    EXPECT_EQ(value, 15);
    EXPECT_EQ(f.GetLinkedSensitivityAt(CEegTimeStamp(3 * kRate), value), 0);
    EXPECT_EQ(f.GetLinkedSensitivityAt(CEegTimeStamp(4 * kRate), value), 1);
    EXPECT_EQ(value, 10);

    // Time of day across two runs with a half-hour pause.
    EXPECT_EQ(f.GetStartTime(), start);
    EXPECT_EQ(f.GetTimeOfDay(7 * kRate), At(10, 0, 7));
    EXPECT_EQ(f.GetTimeOfDay(9 * kRate + 100), At(10, 30, 1));
    EXPECT_EQ(f.GetSampleOffset(At(10, 30, 1)), 9u * kRate);
    EXPECT_EQ(f.GetSampleOffset(At(9, 0, 0)), 0u);
    EXPECT_FLOAT_EQ(f.GetTodElapsed(9 * kRate, 0), 1801.0f);
    EXPECT_FLOAT_EQ(f.GetTodElapsed(0, kRate / 2), 0.5f);

    // Events: added as a line, removed by blotting it out, as other stations see.
    CEegEventList comments;
    CEegEventMask onlyComments;
    onlyComments.SetAll(1);
    onlyComments.SetMask(CEegEvent::etComment, 0);
    f.GetEventList(comments, onlyComments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0,
                   0);
    ASSERT_EQ(comments.GetSize(), 1);
    EXPECT_EQ(f.AddEvent(new CCommentEvent(CEegTimeStamp(2 * kRate), "added", 4)), 1);
    // A list goes in with one write, all or nothing (a data-deletion event has no
    // line); the file takes its events and empties it either way.
    CEegEventList more;
    more.Add(new CCommentEvent(CEegTimeStamp(7 * kRate), "later", 3));
    more.Add(new CDataDeletionEvent(CEegTimeStamp(0), CEegTimeStamp(10), 1));
    ExpectDosError([&] { f.AddEvents(more); }, 24);
    EXPECT_EQ(more.GetSize(), 0);
    more.Add(new CCommentEvent(CEegTimeStamp(7 * kRate), "later", 3));
    more.Add(new CCommentEvent(CEegTimeStamp(kRate), "earlier", 3));
    FaultInjection::Arm(FaultInjection::Op::Flush, 2, EIO);  // a second flush would fail
    EXPECT_EQ(f.AddEvents(more), 2);
    FaultInjection::Disarm();
    EXPECT_EQ(more.GetSize(), 0);
    f.RemoveEvent(comments.GetAt(0));
    EXPECT_EQ(f.GetAccessMode(), CEegAccessMode::eamExclusive);
    f.Close();
    CDosEegFile other;
    other.Open(path.c_str(), 0);
    other.GetEventList(comments, onlyComments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp,
                       0, 0);
    ASSERT_EQ(comments.GetSize(), 3);
    EXPECT_EQ(Describe(*comments.GetAt(0)), "200 comment 3 'earlier'");
    EXPECT_EQ(Describe(*comments.GetAt(1)), "400 comment 4 'added'");
    EXPECT_EQ(Describe(*comments.GetAt(2)), "1400 comment 3 'later'");
}

TEST(DosEegFile, MarkedDataIsCutIntoCutFiles) {
    TempDir dir;
    const std::string path = dir.File("EEG00021.LOG");
    const std::string base = dir.File("EEG00021");
    const std::vector<short> frames = OnlyStored(SmoothSeconds(kRate, 1200, 9), kInputs);
    const CCommentEvent late(CEegTimeStamp(1000 * kRate), "late", 3);
    // The recorder stays open: after the first cut it records 100 seconds more.
    CDosRecordingWriter w(path.c_str(), kRate, 1, AmpStoring(kInputs), MontageOf(kInputs));
    const CEegEvent* lateEvent = &late;
    w.WriteEvents(&lateEvent, 1);
    const auto record = [&](int from, int to) {
        ASSERT_TRUE(w.StartDataFile());
        for (int s = from; s < to; ++s)
            ASSERT_TRUE(w.WriteSecond(frames.data() + static_cast<size_t>(32) * kRate * s));
    };
    record(0, 600);
    record(600, 1100);
    const int bytesPerSecond = 4 * (kRate + 1);
    const auto mark = [](uint32_t a, uint32_t b, const char* comment) {
        auto* m = new CDataMarkDeleteEvent(CEegTimeStamp(a * kRate), CEegTimeStamp(b * kRate - 1),
                                           CDataMarkDeleteEvent::mtEeg);
        m->SetComment(comment);
        return m;
    };
    // Keep seconds 50-1049: everything else is cut.
    const auto cutKeeping = [&](uint32_t a, uint32_t b, std::vector<int64_t>* progress) {
        CDosEegFile f;
        f.Open(path.c_str(), 0);
        f.SetMarkForDelete(0);
        f.AddDataMark(mark(a, b, "kept part"));
        f.SetDeleteEegDataOnClose();
        CVoidCall1ArgFn<int64_t> report([progress](int64_t p) {
            if (progress)
                progress->push_back(p);
        });
        f.DeleteMarkedEegData(&report);
    };

    // A cut that would need cut file 100 is refused before anything is written.
    const std::string log = ReadText(path);
    WriteText(path, log + "00:00:00.000 CUTFILE 97\r\n");
    cutKeeping(50, 1050, nullptr);
    EXPECT_FALSE(std::filesystem::exists(base + ".A98"));
    EXPECT_EQ(ReadText(path), log + "00:00:00.000 CUTFILE 97\r\n");
    WriteText(path, log);

    // A copy that fails part-way leaves the log and the data files as they were.
    FaultInjection::Arm(FaultInjection::Op::Write, 450, EIO);
    ExpectDosError([&] { cutKeeping(50, 1050, nullptr); }, 27);
    FaultInjection::Disarm();
    EXPECT_EQ(ReadText(path), log);
    EXPECT_FALSE(std::filesystem::exists(base + ".A01"));
    EXPECT_FALSE(std::filesystem::exists(base + ".A02"));
    EXPECT_EQ(std::filesystem::file_size(base + ".000"), 600u * bytesPerSecond);

    // The marks of the refused attempts are in the mark file; start afresh.
    EXPECT_TRUE(std::filesystem::remove(base + ".mkd"));
    std::vector<int64_t> progress;
    cutKeeping(50, 1050, &progress);
    EXPECT_EQ(progress, (std::vector<int64_t>{33, 66, 100}));
    // 1000 seconds at 200 Hz in mode 1: cut files of 400, 400 and 200 seconds; data
    // file 0 lies wholly below the new MAXREAD and goes, the last one stays.
    EXPECT_EQ(std::filesystem::file_size(base + ".A01"), 400u * bytesPerSecond);
    EXPECT_EQ(std::filesystem::file_size(base + ".A02"), 400u * bytesPerSecond);
    EXPECT_EQ(std::filesystem::file_size(base + ".A03"), 200u * bytesPerSecond);
    EXPECT_FALSE(std::filesystem::exists(base + ".000"));
    EXPECT_TRUE(std::filesystem::exists(base + ".001"));

    CDosEegFile f;
    f.Open(path.c_str(), 0);
    EXPECT_EQ(f.GetLengthInSeconds(), 1100u);
    EXPECT_EQ(Read(f, 100 * kRate, 2 * kRate), Slice(frames, 100 * kRate, 2 * kRate));
    EXPECT_EQ(Read(f, 1049 * kRate, kRate), Slice(frames, 1049 * kRate, kRate));
    EXPECT_EQ(Read(f, 10 * kRate, kRate), std::vector<short>(32 * kRate, 0));
    EXPECT_EQ(Read(f, 1060 * kRate, kRate), std::vector<short>(32 * kRate, 0));
    CDataDeletionEvent hole;
    ASSERT_EQ(f.InDeleteSegment(hole, CEegTimeStamp(10 * kRate)), 1);
    EXPECT_EQ(hole.GetEndTimeStamp(), CEegTimeStamp(50 * kRate));
    EXPECT_EQ(f.InDeleteSegment(hole, CEegTimeStamp(100 * kRate)), 0);
    CEegEventList events;
    f.GetEventList(events, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                   CEegTimeStamp::NullStamp, 0, 0);
    std::vector<std::string> comments;
    for (int i = 0; i < events.GetSize(); ++i) {
        if (events.GetAt(i)->GetEventType() == CEegEvent::etComment)
            comments.push_back(Describe(*events.GetAt(i)));
    }
    EXPECT_EQ(comments,
              (std::vector<std::string>{"10000 comment 3 'kept part'", "200000 comment 3 'late'"}));
    CEegEventList marks;
    f.GetDataMarkList(marks);
    EXPECT_EQ(marks.GetSize(), 0);  // used up by the cut
    f.Close();

    // Below MAXREAD nothing can be cut again, but what was recorded since can: keeping
    // 1120-1149 of the new stretch makes cut file 4 and moves MAXREAD to the new end.
    record(1100, 1200);
    cutKeeping(1120, 1150, nullptr);
    EXPECT_EQ(std::filesystem::file_size(base + ".A04"), 30u * bytesPerSecond);
    EXPECT_NE(ReadText(path).find("00:00:00.000 MAXREAD 1200\r\n"), std::string::npos);
    f.Open(path.c_str(), 0);
    EXPECT_EQ(f.GetLengthInSeconds(), 1200u);
    EXPECT_EQ(Read(f, 1049 * kRate, kRate), Slice(frames, 1049 * kRate, kRate));
    EXPECT_EQ(Read(f, 1120 * kRate, 30 * kRate), Slice(frames, 1120 * kRate, 30 * kRate));
    EXPECT_EQ(Read(f, 1110 * kRate, kRate), std::vector<short>(32 * kRate, 0));
    EXPECT_EQ(Read(f, 1160 * kRate, kRate), std::vector<short>(32 * kRate, 0));
    ASSERT_EQ(f.InDeleteSegment(hole, CEegTimeStamp(1100 * kRate)), 1);
    EXPECT_EQ(hole.GetEndTimeStamp(), CEegTimeStamp(1120 * kRate));
    EXPECT_EQ(f.InDeleteSegment(hole, CEegTimeStamp(1130 * kRate)), 0);
    w.Close();
}

TEST(DosEegFile, SynchronizeFollowsAGrowingRecording) {
    TempDir dir;
    const std::string path = dir.File("EEG00022.LOG");
    const std::vector<short> frames = OnlyStored(SmoothSeconds(kRate, 3, 2), kInputs);
    CDosRecordingWriter w(path.c_str(), kRate, 2, AmpStoring(kInputs), MontageOf(kInputs));
    ASSERT_TRUE(w.WriteSecond(frames.data()));
    CDosEegFile f;
    f.Open(path.c_str(), 0);
    EXPECT_EQ(f.GetLengthInSeconds(), 1u);
    // A second not yet written reads as zeros, and is read again once it is there.
    EXPECT_EQ(Read(f, kRate, kRate), std::vector<short>(32 * kRate, 0));
    ASSERT_TRUE(w.WriteSecond(frames.data() + 32 * kRate));
    ASSERT_TRUE(w.StartDataFile());
    ASSERT_TRUE(w.WriteSecond(frames.data() + 64 * kRate));
    w.Log().AddEvent(new CCommentEvent(CEegTimeStamp(2 * kRate), "new", 3));
    f.Synchronize();
    EXPECT_EQ(f.GetLengthInSeconds(), 3u);
    EXPECT_EQ(Read(f, 0, 3 * kRate), frames);
    EXPECT_EQ(f.GetNumberOfEvents(), 2);  // the montage and the comment
}

TEST(DosEegFile, RemoveEventsGoesOnPastAMissingLine) {
    TempDir dir;
    const std::string path = dir.File("EEG00023.LOG");
    const CCommentEvent a(CEegTimeStamp(0), "a", 3), b(CEegTimeStamp(kRate), "b", 3),
        c(CEegTimeStamp(2 * kRate), "c", 3);
    WriteRecording(path, 0, {1}, OnlyStored(SmoothSeconds(kRate, 1, 1), kInputs), {&a, &b, &c});
    CDosEegFile f, other;
    f.Open(path.c_str(), 0);
    CEegEventMask onlyComments;
    onlyComments.SetAll(1);
    onlyComments.SetMask(CEegEvent::etComment, 0);
    CEegEventList list;
    f.GetEventList(list, onlyComments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0, 0);
    ASSERT_EQ(list.GetSize(), 3);
    {
        // Another station's log object blots "b" out first.
        CDosLogFile log(path.c_str(), 0);
        log.DeleteEventFromLog(b);
    }
    ExpectDosError([&] { f.RemoveEvents(list); }, 25);
    EXPECT_EQ(list.GetSize(), 0);
    // Exclusive access stays with the station that removed events, till it closes.
    ExpectThrows<CEegFileException>([&] { other.Open(path.c_str(), 0); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 5); });
    f.Close();
    other.Open(path.c_str(), 0);
    EXPECT_EQ(other.GetNumberOfEvents(), 1);  // the montage alone
}

TEST(DosEegFile, TwoStationsMarkThenCut) {
    TempDir dir;
    const std::string path = dir.File("EEG00024.LOG");
    const std::vector<short> frames = OnlyStored(SmoothSeconds(kRate, 60, 3), kInputs);
    WriteRecording(path, 2, {60}, frames, {});
    const auto mark = [](uint32_t a, uint32_t b) {
        return new CDataMarkDeleteEvent(CEegTimeStamp(a * kRate), CEegTimeStamp(b * kRate - 1),
                                        CDataMarkDeleteEvent::mtEeg);
    };
    const auto marked = [](CEegFile& f) {
        CEegEventList segments;
        f.GetMarkedSegmentList(segments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
        return segments.GetSize();
    };
    ScopedEnv name("COMPUTERNAME", "STATION-A");
    CDosEegFile a;
    a.Open(path.c_str(), 0);
    a.SetMarkForDelete(1);
    a.AddDataMark(mark(10, 20));
    EXPECT_EQ(a.GetAccessMode(), CEegAccessMode::eamReadMark);
    // One station marks at a time: A gives up mark access and stays a reader.
    a.ClearMarkAccessMode();
    EXPECT_EQ(a.GetAccessMode(), CEegAccessMode::eamRead);

    // Station B, another process, sees A's mark and adds its own.
    Pipe done;
    const pid_t b = Spawn([&] {
        KeepEnds({&done}, {});
        ::setenv("COMPUTERNAME", "STATION-B", 1);
        CDosEegFile f;
        f.Open(path.c_str(), 0);
        if (marked(f) != 1)
            return 1;
        f.AddDataMark(mark(30, 40));
        const int both = marked(f);
        f.Close();
        done.Send('d');
        return both == 2 ? 0 : 2;
    });
    KeepEnds({}, {&done});
    EXPECT_EQ(done.Get(), 'd');
    EXPECT_EQ(Reap(b), 0);

    // A reads both marks again, then cuts them out.
    a.Close();
    a.Open(path.c_str(), 0);
    EXPECT_EQ(marked(a), 2);
    a.SetDeleteEegDataOnClose();
    a.DeleteMarkedEegData(nullptr);
    CDosEegFile after;
    after.Open(path.c_str(), 0);
    EXPECT_EQ(Read(after, 15 * kRate, kRate), std::vector<short>(32 * kRate, 0));
    EXPECT_EQ(Read(after, 35 * kRate, kRate), std::vector<short>(32 * kRate, 0));
    EXPECT_EQ(Read(after, 25 * kRate, kRate), Slice(frames, 25 * kRate, kRate));
    EXPECT_EQ(Read(after, 45 * kRate, kRate), Slice(frames, 45 * kRate, kRate));
    // Without record events there is no time of day.
    EXPECT_TRUE(after.GetStartTime().IsNull());
    EXPECT_TRUE(after.GetTimeOfDay(10 * kRate).IsNull());
}
