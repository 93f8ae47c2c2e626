#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "EegFile/events/EventTestSupport.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/FaultInjection.h"
#include "EventLogTestSupport.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using eventtest::Entry;
using eventtest::Hex;
using eventtest::Record;
using eventtest::operator+;
using eventlogtest::BlockEntry;
using eventlogtest::Bytes;
using eventlogtest::Log;
using eventlogtest::ReadStream;
using testsupport::ExpectThrows;
using testsupport::TempDir;

namespace {

const Bytes kVersion = Hex("5A 5A");

void WriteStream(const std::string& path, const char* name, const Bytes& bytes) {
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, 1, 1024, CFile::modeCreate);
    ASSERT_NE(f, nullptr);
    f->Write(bytes.data(), static_cast<UINT>(bytes.size()));
    f->Close();
    delete f;
}

// "type@offset;" per event, in list order.
std::string Summary(const CWinEegFile& file) {
    CEegEventList all;
    file.GetEventList(all, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    std::string s;
    for (int i = 0; i < all.GetSize(); ++i) {
        s += std::to_string(all[i]->GetEventType()) + "@" +
             std::to_string(all[i]->GetTimeStamp().GetSampleOffset()) + ";";
    }
    return s;
}

// The stored event at offset (the first there), or null.
const CEegEvent* StoredAt(const CWinEegFile& file, uint32_t at) {
    CEegEventList window;
    file.GetEventList(window, CEegEventMask::EmptyMask, CEegTimeStamp(at), CEegTimeStamp(at), 1, 0);
    return window.GetSize() ? window[0] : nullptr;
}

// A block event that counts its destruction.
int g_destroyed = 0;
class CCountedBlock : public CBlockEvent {
public:
    explicit CCountedBlock(uint32_t at) : CBlockEvent(CEegTimeStamp(at)) {}
    ~CCountedBlock() override { ++g_destroyed; }
};

CRecordEvent* RunEvent(uint32_t at, int recording, const CTKTime& time) {
    return new CRecordEvent(CEegTimeStamp(at), recording, &time);
}

}  // namespace

TEST(WinEegFileEvents, StreamIsAnAppendLogAndARemovalRewritesIt) {
    TempDir dir;
    const std::string path = dir.File("log.eeg");
    {
        CWinEegFile file;
        StartRecording(file, path, 3);
        // No event yet: the stream stays empty, without even a version word.
        file.Synchronize();
        EXPECT_TRUE(ReadStream(path, "EventList").empty());

        EXPECT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(1000))), 1);
        EXPECT_EQ(ReadStream(path, "EventList"), Log({1000}));
        // An earlier event goes to the stream's end, and into the list in time order.
        EXPECT_EQ(file.AddEvent(new CCommentEvent(CEegTimeStamp(16), "", 3)), 1);
        EXPECT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(500))), 1);
        const Bytes comment = Hex("A9 A5 5A 5A 5A 5A 0C 00 00 00 10 00 00 00 03 00 00");
        const Bytes appended = kVersion + BlockEntry(1000) + comment + BlockEntry(500);
        EXPECT_EQ(ReadStream(path, "EventList"), appended);
        EXPECT_EQ(Summary(file), "12@16;11@500;11@1000;");
        EXPECT_EQ(file.GetNumberOfEvents(), 3);
        EXPECT_EQ(file.GetEventStore().GetReadMark(), static_cast<int64_t>(appended.size()));
        EXPECT_EQ(file.GetEventStore().GetPendingCount(), 0);
        EXPECT_EQ(file.AddEvent(nullptr), 0);
        file.Close();
        // The changed list was copied to the backup at close.
        EXPECT_EQ(ReadStream(path, "EventList", 2), appended);
    }
    {
        CWinEegFile file;
        file.Open(path.c_str(), 0);
        EXPECT_EQ(Summary(file), "12@16;11@500;11@1000;");
        // Removing by an equal event (not the stored object) rewrites the stream
        // in time order; the station goes back to read access.
        const CBlockEvent twin(CEegTimeStamp(1000));
        file.RemoveEvent(&twin);
        EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamRead);
        EXPECT_EQ(Summary(file), "12@16;11@500;");
        EXPECT_EQ(
            ReadStream(path, "EventList"),
            kVersion + Hex("A9 A5 5A 5A 5A 5A 0C 00 00 00 10 00 00 00 03 00 00") + BlockEntry(500));
        // A stored pointer removes that very object, even beside an equal twin.
        file.AddEvent(new CBlockEvent(CEegTimeStamp(500)));
        CEegEventList both;
        file.GetEventList(both, CEegEventMask::EmptyMask, CEegTimeStamp(500), CEegTimeStamp(500), 0,
                          0);
        ASSERT_EQ(both.GetSize(), 2);
        const CEegEvent* second = both[1];
        file.RemoveEvent(second);
        CEegEventList left;
        file.GetEventList(left, CEegEventMask::EmptyMask, CEegTimeStamp(500), CEegTimeStamp(500), 0,
                          0);
        ASSERT_EQ(left.GetSize(), 1);
        EXPECT_EQ(left[0], both[0]);
        file.Close();
    }
}

TEST(WinEegFileEvents, EveryTypeRoundTripsThroughTheStream) {
    TempDir dir;
    const std::string path = dir.File("types.eeg");
    auto originals = eventtest::AllTypes();
    {
        CWinEegFile file;
        StartRecording(file, path, 1);
        for (auto& e : eventtest::AllTypes())
            ASSERT_EQ(file.AddEvent(e.release()), 1);
        file.Close();
    }
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    ASSERT_EQ(file.GetNumberOfEvents(), static_cast<int>(originals.size()));
    CEegEventList all;
    file.GetEventList(all, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    for (size_t i = 0; i < originals.size(); ++i) {
        ASSERT_EQ(all[static_cast<int>(i)]->GetEventType(), originals[i]->GetEventType());
        eventtest::ExpectSameEvent(*originals[i], *all[static_cast<int>(i)]);
    }
    // The side lists hold the record and the deletion events.
    ASSERT_EQ(file.GetEventStore().GetRecordEvents().GetSize(), 1);
    EXPECT_EQ(file.GetEventStore().GetRecordEvents()[0]->GetEventType(), CEegEvent::etRecord);
    ASSERT_EQ(file.GetEventStore().GetDeletionEvents().GetSize(), 1);
    EXPECT_EQ(file.GetEventStore().GetDeletionEvents()[0]->GetTimeStamp().GetSampleOffset(), 1800u);
    file.Close();
}

TEST(WinEegFileEvents, TimeOfDayAcrossTwoRunsWithAGap) {
    TempDir dir;
    const std::string path = dir.File("runs.eeg");
    {
        // Run 1 from 09:00:00 for 10 s (samples 0-1999), run 2 from 09:30:00 for
        // 10 s, each marked by record events as a recording program adds them.
        CWinEegFile rec;
        rec.Create(path.c_str());
        rec.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        EXPECT_TRUE(rec.GetStartTime().IsNull());
        EXPECT_TRUE(rec.GetTimeOfDay(500).IsNull());
        EXPECT_EQ(rec.GetSampleOffset(CTKTime(2024, 7, 1, 9, 0, 5)), 0u);
        EXPECT_FLOAT_EQ(rec.GetTodElapsed(700, 100), 3.0f);
        for (int run = 0; run < 2; ++run) {
            const uint32_t first = static_cast<uint32_t>(run) * 10 * kRate;
            rec.StartRecording(Time(2024, 7, 1, 9, 30 * run, 0));
            rec.AddEvent(RunEvent(first, 1, CTKTime(2024, 7, 1, 9, 30 * run, 0)));
            CEegDataChunk c = MakeChunk(first, 10 * kRate, true);
            rec.WriteEegData(c);
            rec.StopRecording();
            rec.AddEvent(RunEvent(first + 10 * kRate, 0, CTKTime(2024, 7, 1, 9, 30 * run, 10)));
        }
        rec.Close();
    }
    // The queries on the recording as another program opens it.
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    ASSERT_EQ(file.GetLengthInSamples(), 4000u);
    ASSERT_EQ(file.GetEventStore().GetRecordEvents().GetSize(), 4);

    EXPECT_TRUE(file.GetStartTime() == CTKTime(2024, 7, 1, 9, 0, 0));
    // 1.9 s after a record event counts as 1 s.
    EXPECT_TRUE(file.GetTimeOfDay(380) == CTKTime(2024, 7, 1, 9, 0, 1));
    EXPECT_TRUE(file.GetTimeOfDay(1999) == CTKTime(2024, 7, 1, 9, 0, 9));
    EXPECT_TRUE(file.GetTimeOfDay(2000) == CTKTime(2024, 7, 1, 9, 30, 0));
    EXPECT_TRUE(file.GetTimeOfDay(2390) == CTKTime(2024, 7, 1, 9, 30, 1));
    EXPECT_TRUE(file.GetTimeOfDay(4200) == CTKTime(2024, 7, 1, 9, 30, 11));

    EXPECT_EQ(file.GetSampleOffset(CTKTime(2024, 7, 1, 9, 0, 5)), 1000u);
    // In the gap: clamped to the offset of the run that follows.
    EXPECT_EQ(file.GetSampleOffset(CTKTime(2024, 7, 1, 9, 0, 30)), 2000u);
    EXPECT_EQ(file.GetSampleOffset(CTKTime(2024, 7, 1, 9, 30, 0)), 2000u);
    EXPECT_EQ(file.GetSampleOffset(CTKTime(2024, 7, 1, 9, 30, 5)), 3000u);
    EXPECT_EQ(file.GetSampleOffset(CTKTime(2024, 7, 1, 10, 0, 0)), 4000u + 1790u * 200u);
    EXPECT_EQ(file.GetSampleOffset(CTKTime(2024, 7, 1, 8, 59, 59)), 0u);

    // Across the gap the wall clock counts; the ends' parts of a second are added.
    EXPECT_FLOAT_EQ(file.GetTodElapsed(1000, 3000), 1800.0f);
    EXPECT_FLOAT_EQ(file.GetTodElapsed(3050, 1100), 1800.0f - 0.5f + 0.25f);
    // Within one run, samples count.
    EXPECT_FLOAT_EQ(file.GetTodElapsed(100, 700), 3.0f);
    EXPECT_FLOAT_EQ(file.GetTodElapsed(2100, 2150), 0.25f);

    file.Close();

    // A first record event away from offset 0 puts the start before it.
    CWinEegFile late;
    late.AddEvent(RunEvent(430, 1, CTKTime(2024, 7, 1, 9, 0, 2)));
    EXPECT_TRUE(late.GetStartTime() == CTKTime(2024, 7, 1, 9, 0, 0));
    EXPECT_TRUE(late.GetTimeOfDay(100) == CTKTime(2024, 7, 1, 9, 0, 0));
    EXPECT_TRUE(late.GetTimeOfDay(630) == CTKTime(2024, 7, 1, 9, 0, 3));
}

TEST(WinEegFileEvents, SettingsInForceReplayTheirEvents) {
    CWinEegFile file;
    double value = 42.0;
    EXPECT_EQ(file.GetPaperSpeedAt(CEegTimeStamp(1000), value), 0);
    file.AddEvent(new CSpeedEvent(CEegTimeStamp(100), 15.0));
    file.AddEvent(new CSpeedEvent(CEegTimeStamp(300), 60.0));
    file.AddEvent(new CLinkedSensitivityEvent(CEegTimeStamp(100), 10.0));
    file.AddEvent(new CLinkedLowcutEvent(CEegTimeStamp(200), 5.0));
    file.AddEvent(new CLinkedHighcutEvent(CEegTimeStamp(200), 35.0));
    // Before the first speed event: 0, and the output stays as it was.
    EXPECT_EQ(file.GetPaperSpeedAt(CEegTimeStamp(99), value), 0);
    EXPECT_EQ(value, 42.0);
    EXPECT_EQ(file.GetPaperSpeedAt(CEegTimeStamp(100), value), 1);
    EXPECT_EQ(value, 15.0);
    EXPECT_EQ(file.GetPaperSpeedAt(CEegTimeStamp(299), value), 1);
    EXPECT_EQ(value, 15.0);
    EXPECT_EQ(file.GetPaperSpeedAt(CEegTimeStamp(300), value), 1);
    EXPECT_EQ(value, 60.0);
    EXPECT_EQ(file.GetLinkedSensitivityAt(CEegTimeStamp(150), value), 1);
    EXPECT_EQ(value, 10.0);
    value = 42.0;
    EXPECT_EQ(file.GetLinkedLowCutAt(CEegTimeStamp(150), value), 0);
    EXPECT_EQ(file.GetLinkedHighCutAt(CEegTimeStamp(150), value), 0);
    EXPECT_EQ(value, 42.0);
    EXPECT_EQ(file.GetLinkedLowCutAt(CEegTimeStamp(200), value), 1);
    EXPECT_EQ(value, 5.0);
    EXPECT_EQ(file.GetLinkedHighCutAt(CEegTimeStamp(5000), value), 1);
    EXPECT_EQ(value, 35.0);

    // Montages: the montage in force with the trace changes made since it.
    const CEegMontage bipolar = eventtest::SampleMontage("Bipolar");
    const CEegMontage referential = eventtest::SampleMontage("Referential");
    const CTraceInfo before("O1-O2", AmpInput::O1, AmpInput::O2);
    const CTraceInfo same("F7-T3", AmpInput::F7, AmpInput::T3);
    const CTraceInfo changed("C3-P3", AmpInput::C3, AmpInput::P3);
    const CTraceInfo later("T4-T6", AmpInput::T4, AmpInput::T6);
    file.AddEvent(new CTraceInfoEvent(CEegTimeStamp(50), 3, &before));
    file.AddEvent(new CMontageEvent(CEegTimeStamp(100), &bipolar));
    file.AddEvent(new CTraceInfoEvent(CEegTimeStamp(100), 5, &same));
    file.AddEvent(new CTraceInfoEvent(CEegTimeStamp(150), 3, &changed));
    file.AddEvent(new CTraceInfoEvent(CEegTimeStamp(250), 3, &later));
    file.AddEvent(new CTraceInfoEvent(CEegTimeStamp(260), 99, &later));  // no such trace
    file.AddEvent(new CMontageEvent(CEegTimeStamp(300), &referential));

    CEegMontage montage("untouched");
    EXPECT_EQ(file.GetMontageAt(CEegTimeStamp(99), montage), 0);
    EXPECT_TRUE(montage == CEegMontage("untouched"));
    EXPECT_EQ(file.GetMontageAt(CEegTimeStamp(100), montage), 1);
    CEegMontage expected = bipolar;
    expected.SetTraceInfo(5, same);
    EXPECT_TRUE(montage == expected);
    EXPECT_EQ(file.GetMontageAt(CEegTimeStamp(200), montage), 1);
    expected.SetTraceInfo(3, changed);
    EXPECT_TRUE(montage == expected);
    EXPECT_EQ(file.GetMontageAt(CEegTimeStamp(299), montage), 1);
    expected.SetTraceInfo(3, later);
    EXPECT_TRUE(montage == expected);
    EXPECT_EQ(file.GetMontageAt(CEegTimeStamp(300), montage), 1);
    EXPECT_TRUE(montage == referential);
}

TEST(WinEegFileEvents, DisabledFileDestroysAddedEvents) {
    g_destroyed = 0;
    CWinEegFile file;
    file.DisableFileAccess();
    EXPECT_EQ(file.AddEvent(new CCountedBlock(10)), 0);
    EXPECT_EQ(g_destroyed, 1);
    CEegEventList added;
    added.Add(new CCountedBlock(20));
    added.Add(new CCountedBlock(30));
    EXPECT_EQ(file.AddEvents(added), 0);
    EXPECT_EQ(g_destroyed, 3);
    EXPECT_EQ(added.GetSize(), 0);
    EXPECT_EQ(file.GetNumberOfEvents(), 0);
    // Removal does nothing then, not even refuse.
    CEegEventList list;
    const CBlockEvent one(CEegTimeStamp(10));
    list.Add(&one);
    file.RemoveEvents(list);
    EXPECT_EQ(list.GetSize(), 1);
}

TEST(WinEegFileEvents, WindowingMovesLateEventsToTheEndOfTheSamples) {
    TempDir dir;
    const std::string path = dir.File("window.eeg");
    {
        CWinEegFile file;
        StartRecording(file, path, 2);
        ASSERT_EQ(file.GetLengthInSamples(), 400u);
        file.AddEvent(new CBlockEvent(CEegTimeStamp(900)));
        file.AddEvent(new CBlockEvent(CEegTimeStamp(100)));
        file.AddEvent(new CBlockEvent(CEegTimeStamp(500)));
        file.AddEvent(new CBlockEvent(CEegTimeStamp(400)));
        file.WindowEventOffsets();
        EXPECT_EQ(Summary(file), "11@100;11@400;11@400;11@400;");
        EXPECT_EQ(ReadStream(path, "EventList"), Log({100, 400, 400, 400}));
        file.Close();
    }
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(Summary(file), "11@100;11@400;11@400;11@400;");
    file.Close();
}

TEST(WinEegFileEvents, DamagedStreamsAreRefused) {
    TempDir dir;
    const std::string path = dir.File("bad.eeg");
    {
        CWinEegFile file;
        StartRecording(file, path, 1);
        file.AddEvent(new CBlockEvent(CEegTimeStamp(10)));
        file.Close();
    }
    auto expectOpenThrows = [&](const Bytes& bytes, auto check) {
        WriteStream(path, "EventList", bytes);
        CWinEegFile file;
        try {
            file.Open(path.c_str(), 0);
            ADD_FAILURE() << "opened";
        } catch (CException* e) {
            check(e);
            e->Delete();
        }
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(file.GetNumberOfEvents(), 0);
    };
    auto eegCode = [](int code) {
        return [code](CException* e) {
            auto* x = dynamic_cast<CEegFileException*>(e);
            ASSERT_NE(x, nullptr);
            EXPECT_EQ(x->GetErrorCode(), code);
        };
    };
    auto archiveCause = [](int cause) {
        return [cause](CException* e) {
            auto* x = dynamic_cast<CArchiveException*>(e);
            ASSERT_NE(x, nullptr);
            EXPECT_EQ(x->m_cause, cause);
        };
    };
    expectOpenThrows(Hex("5B 5A") + BlockEntry(10), eegCode(0));
    expectOpenThrows(Hex("5A 5B"), eegCode(0));
    expectOpenThrows(Hex("5A"), archiveCause(CArchiveException::endOfFile));
    Bytes cut = Log({10, 20});
    cut.resize(cut.size() - 3);
    expectOpenThrows(cut, archiveCause(CArchiveException::endOfFile));
    // Type word 28 ^ 0xA5A5.
    expectOpenThrows(kVersion + BlockEntry(10) + Hex("B9 A5") + Record(0, 28, 5),
                     archiveCause(CArchiveException::badSchema));
    // A huge string length in a comment must not allocate what it claims.
    expectOpenThrows(kVersion + Hex("A9 A5 5A 5A 5A 5A 0C 00 00 00 10 00 00 00 03 00 FF FE FF"),
                     archiveCause(CArchiveException::endOfFile));

    // A good stream opens again.
    WriteStream(path, "EventList", Log({10, 5}));
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(Summary(file), "11@5;11@10;");
    file.Close();
}

TEST(WinEegFileEvents, ReadOnlyRecordingKeepsAddedEventsInMemoryAndRefusesRemoval) {
    TempDir dir;
    const std::string path = dir.File("ro.eeg");
    {
        CWinEegFile file;
        StartRecording(file, path, 1);
        file.AddEvent(new CBlockEvent(CEegTimeStamp(10)));
        file.Close();
    }
    CFile::SetReadOnly(path.c_str(), true);
    const Bytes before = ReadStream(path, "EventList");
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    ASSERT_TRUE(file.IsReadOnly());
    EXPECT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(20))), 1);
    EXPECT_EQ(Summary(file), "11@10;11@20;");
    ExpectThrows<CEegFileException>([&] { file.RemoveEvent(StoredAt(file, 10)); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    CEegEventList list;
    file.GetEventList(list, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    ExpectThrows<CEegFileException>([&] { file.RemoveEvents(list); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(file.GetNumberOfEvents(), 2);
    file.Close();
    EXPECT_EQ(ReadStream(path, "EventList"), before);
}

TEST(WinEegFileEvents, FailedSynchronisationLeavesTheEventOut) {
    TempDir dir;
    const std::string path = dir.File("fault.eeg");
    CWinEegFile file;
    StartRecording(file, path, 1);
    ASSERT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(10))), 1);
    const Bytes one = Log({10});
    ASSERT_EQ(ReadStream(path, "EventList"), one);

    // The region lock fails: nothing reaches the stream.
    g_destroyed = 0;
    FaultInjection::Arm(FaultInjection::Op::Lock, 1, EIO);
    ExpectThrows<CFileException>([&] { file.AddEvent(new CCountedBlock(20)); },
                                 [](CFileException& e) { EXPECT_EQ(e.m_lOsError, EIO); });
    FaultInjection::Disarm();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(Summary(file), "11@10;");
    EXPECT_EQ(ReadStream(path, "EventList"), one);

    // The append's write fails: the event is out, and the next write puts the
    // whole list down again, without the failed event's bytes.
    FaultInjection::Arm(FaultInjection::Op::Write, 1, EIO, -1);
    ExpectThrows<CFileException>([&] { file.AddEvent(new CCountedBlock(30)); },
                                 [](CFileException& e) { EXPECT_EQ(e.m_lOsError, EIO); });
    FaultInjection::Disarm();
    EXPECT_EQ(g_destroyed, 2);
    EXPECT_EQ(Summary(file), "11@10;");
    ASSERT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(40))), 1);
    EXPECT_EQ(ReadStream(path, "EventList"), Log({10, 40}));
    file.Close();

    CWinEegFile again;
    again.Open(path.c_str(), 0);
    EXPECT_EQ(Summary(again), "11@10;11@40;");
    again.Close();
}

// A list of events goes in with one append and one flush, all or nothing; the
// file takes every event and the list is emptied either way.
TEST(WinEegFileEvents, AddEventsAppendsAListWithOneFlush) {
    TempDir dir;
    const std::string path = dir.File("batch.eeg");
    CWinEegFile file;
    StartRecording(file, path, 1);
    ASSERT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(10))), 1);
    CWinEegFile follower;
    follower.Open(path.c_str(), 0);

    CEegEventList list;
    for (uint32_t at : {30u, 20u, 40u})
        list.Add(new CBlockEvent(CEegTimeStamp(at)));
    FaultInjection::Arm(FaultInjection::Op::Flush, 2, EIO);  // a second flush would fail
    EXPECT_EQ(file.AddEvents(list), 3);
    FaultInjection::Disarm();
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(ReadStream(path, "EventList"), Log({10, 20, 30, 40}));
    follower.Synchronize();
    EXPECT_EQ(Summary(follower), "11@10;11@20;11@30;11@40;");

    // A failed append keeps none of them and destroys them all.
    g_destroyed = 0;
    list.Add(new CCountedBlock(60));
    list.Add(new CCountedBlock(50));
    FaultInjection::Arm(FaultInjection::Op::Write, 1, EIO, -1);
    ExpectThrows<CFileException>([&] { file.AddEvents(list); },
                                 [](CFileException& e) { EXPECT_EQ(e.m_lOsError, EIO); });
    FaultInjection::Disarm();
    EXPECT_EQ(g_destroyed, 2);
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(Summary(file), "11@10;11@20;11@30;11@40;");
    list.Add(new CBlockEvent(CEegTimeStamp(70)));
    EXPECT_EQ(file.AddEvents(list), 1);
    EXPECT_EQ(ReadStream(path, "EventList"), Log({10, 20, 30, 40, 70}));
    follower.Synchronize();
    EXPECT_EQ(Summary(follower), "11@10;11@20;11@30;11@40;11@70;");
    follower.Close();
    file.Close();
}

TEST(WinEegFileEvents, ThreadsAddingAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir.File("threads.eeg");
    constexpr int kPerThread = 150;
    {
        CWinEegFile file;
        StartRecording(file, path, 1);
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&file, t] {
                for (int i = 0; i < kPerThread; ++i)
                    file.AddEvent(new CBlockEvent(CEegTimeStamp(static_cast<uint32_t>(i * 3 + t))));
            });
        }
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(file.GetNumberOfEvents(), 3 * kPerThread);
        file.Close();
    }
    EXPECT_EQ(ReadStream(path, "EventList").size(), 2u + 14u * 3 * kPerThread);
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    ASSERT_EQ(file.GetNumberOfEvents(), 3 * kPerThread);
    CEegEventList all;
    file.GetEventList(all, CEegEventMask::EmptyMask, CEegTimeStamp::NullStamp,
                      CEegTimeStamp::NullStamp, 0, 0);
    for (int i = 0; i < all.GetSize(); ++i)
        EXPECT_EQ(all[i]->GetTimeStamp().GetSampleOffset(), static_cast<uint32_t>(i));
    file.Close();
}

TEST(WinEegFileEvents, EventAddedBeforePreparingReachesTheStream) {
    TempDir dir;
    const std::string path = dir.File("early.eeg");
    {
        CWinEegFile file;
        file.Create(path.c_str());
        EXPECT_EQ(file.AddEvent(new CBlockEvent(CEegTimeStamp(7))), 1);
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
        EXPECT_EQ(file.GetEventStore().GetPendingCount(), 1);
        file.Synchronize();
        EXPECT_EQ(file.GetEventStore().GetPendingCount(), 0);
        EXPECT_EQ(ReadStream(path, "EventList"), Log({7}));
        // From now on each add is appended at once.
        file.AddEvent(new CBlockEvent(CEegTimeStamp(9)));
        EXPECT_EQ(ReadStream(path, "EventList"), Log({7, 9}));
        file.Close();
    }
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(Summary(file), "11@7;11@9;");
    file.Close();
}

TEST(WinEegFileEvents, RemoveEventsTakesEachStoredEventOnce) {
    TempDir dir;
    const std::string path = dir.File("many.eeg");
    CWinEegFile file;
    StartRecording(file, path, 1);
    for (uint32_t at : {100u, 500u, 500u, 700u})
        file.AddEvent(new CBlockEvent(CEegTimeStamp(at)));
    file.AddEvent(new CCommentEvent(CEegTimeStamp(500), "keep", 3));
    CEegEventList twins;
    file.GetEventList(twins, CEegEventMask::EmptyMask, CEegTimeStamp(500), CEegTimeStamp(500), 2,
                      0);
    ASSERT_EQ(twins.GetSize(), 2);
    // The same stored object twice, and a copy of the caller's that matches the
    // other twin: each goes once, and nothing destroyed is looked at again.
    const CBlockEvent copy(CEegTimeStamp(500));
    const CCommentEvent otherText(CEegTimeStamp(500), "other", 3);
    CEegEventList list;
    list.Add(twins[0]);
    list.Add(&copy);
    list.Add(&otherText);
    list.Add(twins[0]);
    file.RemoveEvents(list);
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(Summary(file), "11@100;12@500;11@700;");
    EXPECT_EQ(file.GetAccessMode(), CEegAccessMode::eamWrite);
    EXPECT_EQ(ReadStream(path, "EventList"),
              kVersion + BlockEntry(100) +
                  Hex("A9 A5 5A 5A 5A 5A 0C 00 00 00 F4 01 00 00 03 00 'keep'") + BlockEntry(700));
    file.Close();
}
