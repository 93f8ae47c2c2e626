#include <gtest/gtest.h>

#include "DosTestSupport.h"
#include "Platform/FaultInjection.h"

using namespace dostest;
using namespace AmpInput;

namespace {

CTKTime At(int hour, int minute, int second) {
    return CTKTime(2026, 12, 6, hour, minute, second);
}

CAmpHardwareInfo TestAmp() {
    CAmpHardwareInfo amp = AmpStoring({Fp1, F3, DC1});
    const AmpInputType dc[] = {DC1};
    amp.SetDcDomain(CDcInputDomain(dc, 1));
    amp.SetInputGain(F3, 1.694);
    CAmpInputDomain refs;
    for (int k = 0; k < 32; ++k) {
        if (k != In1A && k != In2A)
            refs.Add(static_cast<AmpInputType>(k));
    }
    refs.Add(CRef);
    amp.SetRefInputDomain(refs);
    return amp;
}

CEegMontage TestMontage() {
    CEegMontage m("Bip");
    const AmpInputType members[] = {Fp1, F3};
    m.SetAvgRef(CAverageReference(members, 2));
    m.SetTraceInfo(0, CTraceInfo("Fp1-Avg", Fp1, AvgRef));
    CTraceInfo dc("dc", DC1, Ref);
    dc.SetColor(11);
    m.SetTraceInfo(1, dc);
    return m;
}

CTraceInfo TestTrace() {
    CTraceInfo t("F3 x", F3, C3);
    t.SetLinkedFlag(0);
    t.SetSensitivity(10);
    t.SetHighCut(35);
    t.SetLowCut(0.5);
    t.SetColor(2);
    return t;
}

CEegEvent* TestBookmark() {
    auto* b = new CBookmarkEvent(CEegTimeStamp(0), CEegTimeStamp(1000), "a\nb");
    b->SetLinkedHighCut(35);
    b->SetLinkedLowCut(0.5);
    b->SetPaperSpeed(30);
    b->SetLinkedSens(7);
    return b;
}

CEegEvent* TestImpedance() {
    CImpedanceValues v;
    v.SetImpedance(Fp1, 5.7);
    v.SetImpedance(Cz, 1.5);
    v.SetImpedance(In1R, 12);
    const AmpInputType inputs[] = {Fp1, Cz, In1R};
    const CAmpInputDomain d(inputs, 3);
    return new CImpedanceEvent(CEegTimeStamp(2200), &v, &d, Cz);
}

}  // namespace

TEST(LogWriter, LinesAndTheirReading) {
    TempDir dir;
    const std::string path = dir.File("EEG00005.LOG");
    CDosLogFile log;
    log.CreateLog(path.c_str());
    const auto add = [&log](CEegEvent* e) { return [&log, e] { log.AddEvent(e); }; };
    const CTKTime start = At(4, 43, 52), stop = At(5, 0, 0);
    const CTraceInfo trace = TestTrace();
    const CEegMontage montage = TestMontage();
    const std::string notch(CNotchEvent(CEegTimeStamp(0), 1, 50.0).AsString(nullptr));
    CDWordArray cuts;
    cuts.Add(0);
    cuts.Add(20);
    const struct {
        std::function<void()> write;
        std::string bytes;
    } steps[] = {
        {[&] { log.SetSampleRate(200); }, "00:00:00.000  SAMPLRT 200\r\n"},
        {[&] { log.SetCompressionType(2); }, "00:00:00.000  COMPRSN 2\r\n"},
        {[&] { log.SetAmpInfo(TestAmp()); },
         "00:00:00.000 NONREFRNC  1A 2A\r\n00:00:00.000 AMPLOCUT 0.10\r\n00:00:00.000 AMPHICUT "
         "70\r\n"
         "00:00:00.000 DCINPUT 1 1A\r\n00:00:00.000 INPUTGAIN F3 1.694 uVperBit\r\n"},
        {add(new CCommentEvent(CEegTimeStamp(0), "x", 3)), "00:00:00.000 COMMENT 3 x\r\n"},
        {add(new CUserEvent(CEegTimeStamp(200), "u", 4)), "00:00:01.000 COMMENT 4 u\r\n"},
        {add(new CRecordEvent(CEegTimeStamp(400), 1, &start)),
         "00:00:02.000 COMMENT Recording at 12/06/26  04:43:52\r\n"},
        {add(new CRecordEvent(CEegTimeStamp(600), 0, &stop)),
         "00:00:03.000 COMMENT Stopped at 12/06/26  05:00:00\r\n"},
        {add(new CSpeedEvent(CEegTimeStamp(0), 30)), "00:00:00.000 MONTSPD 10\r\n"},
        {add(new CSpeedEvent(CEegTimeStamp(0), 7)), "00:00:00.000 MONTSPD 42\r\n"},
        {add(new CLinkedLowcutEvent(CEegTimeStamp(0), 0.5)), "00:00:00.000 MONTSTD 7 70 50\r\n"},
        {add(new CLinkedHighcutEvent(CEegTimeStamp(200), 35)), "00:00:01.000 MONTSTD 7 35 50\r\n"},
        {add(new CLinkedSensitivityEvent(CEegTimeStamp(200), 10)),
         "00:00:01.000 MONTSTD 10 35 50\r\n"},
        {add(TestBookmark()),
         "00:00:00.000 COMMENT BOOKMARK 00:00:05.000 35.0  0.50  30.0   7.0 a b\r\n"},
        {add(new CTraceInfoEvent(CEegTimeStamp(1200), 3, &trace)),
         "00:00:06.000 MONTRCE 3 F3_x F3 C3 UNLINKED 10 35 50 COLOR3 UNCOLOR1\r\n"},
        {add(new CMontageEvent(CEegTimeStamp(2000), &montage)),
         "00:00:10.000 MONTAGE 2 Bip\r\n00:00:10.000 CHANLCT 3 Fp1 F3 1A\r\n00:00:10.000 MONTREF "
         "AvgRef Fp1 F3\r\n"
         "00:00:10.000 MONTRCE 0 Fp1-Avg Fp1 AvgRef LINKED 7 70 100 COLOR1 UNCOLOR1\r\n"
         "00:00:10.000 MONDCIN 1 dc DC1 Ref UNCOLOR2\r\n"},
        {add(TestImpedance()),
         "00:00:11.000 COMMENT 00 Fp1--  5\r\n00:00:11.000 COMMENT 01  Cz*** <2\r\n00:00:11.000 "
         "COMMENT 02  1R-- 12\r\n"},
        {add(new CNotchEvent(CEegTimeStamp(0), 1, 50.0)), "00:00:00.000 COMMENT " + notch + "\r\n"},
        {[&] { EXPECT_EQ(log.writeNewFileEvent(5, 3), 0); }, "00:00:05.000 NEWFILE 3\r\n"},
        {[&] { EXPECT_EQ(log.UpdateAfterDataCut(40, 1, cuts), 0); },
         "00:00:00.000 MAXREAD 40\r\n00:00:00.000 CUTFILE 1\r\n00:00:20.000 CUTFILE 2\r\n"},
    };
    for (const auto& step : steps) {
        const size_t before = ReadText(path).size();
        step.write();
        EXPECT_EQ(ReadText(path).substr(before), step.bytes);
        EXPECT_EQ(log.GetReadPosition(), static_cast<int64_t>(before + step.bytes.size()));
    }
    // No line for a data-deletion event: refused, nothing written, not kept.
    const size_t length = ReadText(path).size();
    CDataDeletionEvent hole(CEegTimeStamp(0), CEegTimeStamp(10), 1);
    ExpectDosError([&] { log.AddEvent(&hole); }, 24);
    EXPECT_EQ(ReadText(path).size(), length);
    EXPECT_EQ(log.GetEventList().GetSize(), 18);  // 14 events and the cut's two holes

    // What another station reads of it.
    CDosLogFile reader(path.c_str(), 0);
    EXPECT_EQ(Describe(reader.GetEventList()),
              (std::vector<std::string>{
                  "0 comment 3 'x'",
                  "0 speed 30",
                  "0 speed 30",
                  "0 sensitivity 7",
                  "0 highcut 70",
                  "0 lowcut 0.5",
                  "0 bookmark to 1000 h35 l0.5 p30 s7 'a b'",
                  "0 comment 3 '" + notch + "'",
                  "0 hole start",
                  "200 comment 4 'u'",
                  "200 sensitivity 7",
                  "200 highcut 35",
                  "200 lowcut 0.5",
                  "200 sensitivity 10",
                  "200 highcut 35",
                  "200 lowcut 0.5",
                  "400 recording 2026-12-06 04:43:52",
                  "600 stopped 2026-12-06 05:00:00",
                  "1200 trace 3 [F3 x F3-C3 s10 h35 l0.5 c2]",
                  "2000 montage 'Bip' avg AvgRef Fp1 F3 0[Fp1-Avg Fp1-AvgRef s7 h70 l1 linked c0] "
                  "1[dc DC1-Ref s7 h70 l1 c11]",
                  "2200 recref Cz",
                  "2200 impedance ref Cz Fp1=5 Cz=1.9 1R=12",
                  "4000 hole end",
                  "4000 hole start",
                  "8000 hole end"}));
    const CAmpHardwareInfo& amp = reader.GetAmpHardwareInfo();
    ASSERT_EQ(amp.GetInputDomain().GetSize(), 3);
    EXPECT_EQ(amp.GetInputDomain().GetAt(2), DC1);
    EXPECT_EQ(amp.GetRefInputDomain().GetSize(), 31);
    EXPECT_EQ(amp.GetAmplifierType(), 0);
    EXPECT_EQ(amp.GetInputGain(F3), 1.694);
    EXPECT_EQ(reader.GetStoredChannelCount(), 3);
    EXPECT_EQ(reader.GetCompressionType(), 2);
    EXPECT_EQ(reader.getMaxReadPosition(), 40);
    // The writer's own file list is settled as the reader's is.
    ASSERT_EQ(reader.getFileCount(), log.getFileCount());
    for (int i = 0; i < reader.getFileCount(); ++i) {
        EXPECT_EQ(reader.getFile(i)->fileNumber, log.getFile(i)->fileNumber);
        EXPECT_EQ(reader.getFile(i)->skipSeconds, log.getFile(i)->skipSeconds);
    }
}

TEST(LogWriter, RemovalBlotsTheLineOut) {
    TempDir dir;
    const std::string path = dir.File("EEG00006.LOG");
    CDosLogFile log;
    log.CreateLog(path.c_str());
    auto* a = new CCommentEvent(CEegTimeStamp(200), "same", 3);
    auto* b = new CCommentEvent(CEegTimeStamp(200), "same", 6);
    auto* bookmark = TestBookmark();
    const CEegEvent* events[] = {a, b, bookmark};
    for (const CEegEvent* e : events)
        log.AddEvent(e);
    CDosLogFile other(path.c_str(), 0);  // a station that has read them all
    const std::string before = ReadText(path);
    log.RemoveEvent(b);
    std::string expected = before;
    expected[before.find("COMMENT 6 same")] = '?';
    EXPECT_EQ(ReadText(path), expected);
    log.RemoveEvent(bookmark);
    EXPECT_EQ(Describe(log.GetEventList()), (std::vector<std::string>{"200 comment 3 'same'"}));
    EXPECT_EQ(Describe(CDosLogFile(path.c_str(), 0).GetEventList()),
              (std::vector<std::string>{"200 comment 3 'same'"}));
    EXPECT_EQ(ReadText(path).size(), before.size());
    // The other station's copy of an event already blotted out has no line left.
    const CEegEvent* stale = other.GetEventList().GetAt(2);
    ASSERT_EQ(Describe(*stale), "200 comment 6 'same'");
    ExpectDosError([&] { other.RemoveEvent(stale); }, 25);
    EXPECT_EQ(other.GetEventList().GetSize(), 3);
    // Only comments, user events and bookmarks have lines that can go.
    CSpeedEvent speed(CEegTimeStamp(0), 30);
    ExpectDosError([&] { log.DeleteEventFromLog(speed); }, 20);
}

TEST(LogWriter, StationsAddInTurn) {
    TempDir dir;
    const std::string path = dir.File("EEG00007.LOG");
    CDosLogFile first, second;
    first.CreateLog(path.c_str());
    second.OpenLog(path.c_str(), 0);
    first.AddEvent(new CCommentEvent(CEegTimeStamp(200), "one", 3));
    second.AddEvent(new CCommentEvent(CEegTimeStamp(400), "two", 3));
    first.AddEvent(new CCommentEvent(CEegTimeStamp(600), "three", 3));
    // A station stopped in the middle of a line: the next line is still its own.
    WriteText(path, "00:00:04.000 COMMENT 3 cut sho", true);
    second.AddEvent(new CCommentEvent(CEegTimeStamp(1000), "four", 3));
    first.updateFromLog();
    const std::vector<std::string> all = {"200 comment 3 'one'", "400 comment 3 'two'",
                                          "600 comment 3 'three'", "800 comment 3 'cut sho'",
                                          "1000 comment 3 'four'"};
    EXPECT_EQ(Describe(CDosLogFile(path.c_str(), 0).GetEventList()), all);
    EXPECT_EQ(Describe(first.GetEventList()), all);
    // The writer of "four" skipped the line it ended for the stopped station.
    std::vector<std::string> seen = all;
    seen.erase(seen.begin() + 3);
    EXPECT_EQ(Describe(second.GetEventList()), seen);
}

TEST(LogWriter, WriteFaults) {
    TempDir dir;
    const std::string path = dir.File("EEG00008.LOG");
    CDosLogFile log;
    log.CreateLog(path.c_str());
    log.AddEvent(new CCommentEvent(CEegTimeStamp(0), "kept", 3));
    const std::string before = ReadText(path);
    CCommentEvent lost(CEegTimeStamp(200), "lost", 3);
    // A full disk: the line is not written at all, and the event not kept.
    FaultInjection::Arm(FaultInjection::Op::Write, 1, ENOSPC);
    ExpectDosError([&] { log.AddEvent(&lost); }, 23);
    FaultInjection::Disarm();
    EXPECT_EQ(ReadText(path), before);
    EXPECT_EQ(log.getStatus() & CLogFile::stLogWrite, CLogFile::stLogWrite);
    // A read-only log cannot be opened for writing.
    CDosLogFile other(path.c_str(), 0);
    CFile::SetReadOnly(path.c_str(), true);
    ExpectDosError([&] { other.AddEvent(&lost); }, 21);
    ExpectDosError([&] { other.RemoveEvent(other.GetEventList().GetAt(0)); }, 21);
    CFile::SetReadOnly(path.c_str(), false);
    EXPECT_EQ(other.getStatus() & CLogFile::stLogWrite, CLogFile::stLogWrite);
    EXPECT_EQ(other.GetEventList().GetSize(), 1);
    EXPECT_EQ(ReadText(path), before);
}
