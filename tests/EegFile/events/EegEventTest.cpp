// The event classes: MakeEvent, constructors, the domain rules of the setters,
// owned data, and the equality operators.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "EventTestSupport.h"

using namespace eventtest;

TEST(EegEvent, MakeEventBuildsEveryTypeAndNothingElse) {
    const CEegTimeStamp at(42);
    for (int type = 0; type <= 27; ++type) {
        std::unique_ptr<CEegEvent> e(
            CEegEvent::MakeEvent(static_cast<CEegEvent::EventType>(type), at));
        ASSERT_NE(e, nullptr) << type;
        EXPECT_EQ(e->GetEventType(), type);
        EXPECT_EQ(e->GetTimeStamp(), at);
        const bool parameter = type == 1 || type == 4 || type == 5 || (type >= 7 && type <= 10);
        EXPECT_EQ(e->IsParameterEvent(), parameter ? 1 : 0) << type;
    }
    EXPECT_EQ(CEegEvent::MakeEvent(CEegEvent::etNone, at), nullptr);
    EXPECT_EQ(CEegEvent::MakeEvent(static_cast<CEegEvent::EventType>(1000), at), nullptr);

    std::unique_ptr<CEegEvent> persyst(CEegEvent::MakeEvent(CEegEvent::etPersyst, at));
    auto& p = static_cast<CPersystEvent&>(*persyst);
    EXPECT_EQ(p.GetOrigin(), 2);
    EXPECT_EQ(p.GetType(), 0);
    EXPECT_EQ(p.GetDuration(), 0.0);
    EXPECT_FALSE(p.GetEventDeleted());
    p.SetEventDeleted(true);
    EXPECT_TRUE(static_cast<const CPersystEvent&>(p).GetEventDeleted());

    std::unique_ptr<CEegEvent> mark(CEegEvent::MakeEvent(CEegEvent::etDataMarkDelete, at));
    auto& m = static_cast<CDataMarkDeleteEvent&>(*mark);
    EXPECT_EQ(m.GetEndTimeStamp(), at);
    EXPECT_EQ(m.GetMarkType(), CDataMarkDeleteEvent::mtNone);
    EXPECT_EQ(m.GetPriority(), 3);

    std::unique_ptr<CEegEvent> key(CEegEvent::MakeEvent(CEegEvent::etKeyPress, at));
    EXPECT_EQ(static_cast<CKeyPressEvent&>(*key).GetPriority(), 5);
    std::unique_ptr<CEegEvent> run(CEegEvent::MakeEvent(CEegEvent::etFlashRun, at));
    int r, a, b;
    static_cast<CFlashRunEvent&>(*run).GetFlashRunData(r, a, b);
    EXPECT_EQ(r, -1);
}

TEST(EegEvent, SettersApplyTheirDomains) {
    // Doubles outside the domain take its default; valid ones are kept.
    CLinkedHighcutEvent high(CEegTimeStamp(1), 33.0);
    EXPECT_EQ(high.GetLinkedHighcut(), GetDefaultHighCutDomain().GetDefault());
    high.InitLinkedHighcut(35.0);
    EXPECT_EQ(high.GetLinkedHighcut(), 35.0);
    EXPECT_EQ(CLinkedLowcutEvent(CEegTimeStamp(1), 0.3).GetLinkedLowcut(), 0.3);
    EXPECT_EQ(CLinkedLowcutEvent(CEegTimeStamp(1), 0.4).GetLinkedLowcut(), 1.0);
    EXPECT_EQ(CLinkedSensitivityEvent(CEegTimeStamp(1), 4.0).GetLinkedSensitivity(), 7.0);
    EXPECT_EQ(CSpeedEvent(CEegTimeStamp(1), 7.5).GetSpeed(), 7.5);
    EXPECT_EQ(CSpeedEvent(CEegTimeStamp(1), 8.0).GetSpeed(), 30.0);

    int on = 0;
    double amp = 0, freq = 0;
    CCalibrateEvent cal(CEegTimeStamp(1), 7, 20000.0, 50.0);
    cal.GetCalibrateData(on, amp, freq);
    EXPECT_EQ(on, 7);
    EXPECT_EQ(amp, 100.0);  // above the range: default
    EXPECT_EQ(freq, 50.0);
    CNotchEvent notch(CEegTimeStamp(1), 1, 55.0);
    notch.GetNotchData(on, freq);
    EXPECT_EQ(freq, 50.0);
    notch.InitNotch(0, 60.0);
    notch.GetNotchData(on, freq);
    EXPECT_EQ(on, 0);
    EXPECT_EQ(freq, 60.0);

    // Flash rate, battery voltage, add-on, analysis and mark priorities: unchecked.
    EXPECT_EQ(CFlashRateEvent(CEegTimeStamp(1), 500.0).GetFlashRateData(), 500.0);
    CBatteryLowEvent battery(CEegTimeStamp(1), -3.0, 1);
    EXPECT_EQ(battery.GetVoltage(), -3.0);
    CAddOnEvent addOn(CEegTimeStamp(1), 0xFFFF);
    EXPECT_EQ(addOn.GetPriority(), 0xFFFF);

    // Comment and user priorities: negative gives the default, others constrained.
    EXPECT_EQ(CCommentEvent(CEegTimeStamp(1), "x", -1).GetPriority(), 5);
    EXPECT_EQ(CCommentEvent(CEegTimeStamp(1), "x", 7).GetPriority(), 7);
    EXPECT_EQ(CUserEvent(CEegTimeStamp(1), "x", 40).GetPriority(), 9);
    CCommentEvent comment(CEegTimeStamp(1), nullptr, 0);
    EXPECT_EQ(comment.GetPriority(), 1);
    EXPECT_EQ(comment.SetPriority(12), 9);
    EXPECT_STREQ(comment.GetComment(), "");
    comment.InitComment("text");
    EXPECT_STREQ(comment.GetComment(), "text");
    comment.InitComment(nullptr);
    EXPECT_STREQ(comment.GetComment(), "");

    // Voice, key press and battery priorities: 32-bit fields, low 16 bits read.
    EXPECT_EQ(CVoiceEvent(CEegTimeStamp(1)).GetPriority(), 5);
    EXPECT_EQ(CVoiceEvent(CEegTimeStamp(1), 10, 20, -4).GetPriority(), 5);
    EXPECT_EQ(CVoiceEvent(CEegTimeStamp(1), 10, 20, -4).GetFileExtNum(), -1);
    EXPECT_EQ(CKeyPressEvent(CEegTimeStamp(1), 0).GetPriority(), 1);
    EXPECT_EQ(CBatteryLowEvent(CEegTimeStamp(1), 1.0, 70000).GetPriority(), 9);
}

TEST(EegEvent, BookmarkEndMontageAndEquality) {
    CBookmarkEvent bm(CEegTimeStamp(1000), CEegTimeStamp(5), "c");
    EXPECT_EQ(bm.GetEndStamp(), CEegTimeStamp(5));  // the constructor does not check
    EXPECT_EQ(bm.GetLinkedHighCut(), 70.0);
    EXPECT_EQ(bm.GetLinkedLowCut(), 1.0);
    EXPECT_EQ(bm.GetPaperSpeed(), 30.0);
    EXPECT_EQ(bm.GetLinkedSens(), 7.0);
    bm.SetEndStamp(CEegTimeStamp::NullStamp);
    EXPECT_EQ(bm.GetEndStamp(), CEegTimeStamp(1100));
    bm.SetEndStamp(CEegTimeStamp(1000));
    EXPECT_EQ(bm.GetEndStamp(), CEegTimeStamp(1100));
    bm.SetEndStamp(CEegTimeStamp(1001));
    EXPECT_EQ(bm.GetEndStamp(), CEegTimeStamp(1001));
    bm.SetLinkedSens(4.0);
    EXPECT_EQ(bm.GetLinkedSens(), 7.0);

    EXPECT_EQ(bm.GetOverrideMontage(), nullptr);
    CEegMontage montage = SampleMontage("Review");
    bm.SetOverrideMontage(&montage);
    ASSERT_NE(bm.GetOverrideMontage(), nullptr);
    EXPECT_TRUE(*bm.GetOverrideMontage() == montage);

    CBookmarkEvent copy(bm);
    EXPECT_TRUE(copy == bm);
    EXPECT_FALSE(copy != bm);
    copy.InitComment("other");
    EXPECT_FALSE(copy == bm);

    CBookmarkEvent plain(CEegTimeStamp(1000), CEegTimeStamp(1001), "c");
    plain.SetLinkedSens(4.0);
    EXPECT_FALSE(plain == bm);  // bm has a montage, plain none
    EXPECT_FALSE(bm == plain);  // the right side has none, the left one has channels
    bm.SetOverrideMontage(nullptr);
    EXPECT_EQ(bm.GetOverrideMontage(), nullptr);
    EXPECT_TRUE(bm == plain);
    EXPECT_TRUE(plain == bm);
    // Clearing keeps the name: the record still carries it.
    CBookmarkEvent copyCleared(bm);
    EXPECT_TRUE(copyCleared == bm);
}

TEST(EegEvent, OwnedDataAndRanges) {
    CAddOnEvent addOn(CEegTimeStamp(1), 3);
    addOn.SetDataSize(8);
    EXPECT_EQ(addOn.GetDataSize(), 8);
    void* inlineArea = addOn.GetData();
    addOn.SetDataSize(9);
    void* buffer = addOn.GetData();
    EXPECT_NE(buffer, inlineArea);
    std::memset(buffer, 0x5C, 9);
    addOn.SetDataSize(9);
    EXPECT_EQ(addOn.GetData(), buffer);
    EXPECT_EQ(static_cast<unsigned char*>(addOn.GetData())[8], 0x5C);
    addOn.SetDataSize(2);
    EXPECT_EQ(addOn.GetData(), inlineArea);
    addOn.Init(4, 1, 2, 3, 100);
    EXPECT_EQ(addOn.GetDataSize(), 100);
    EXPECT_EQ(addOn.GetPriority(), 4);
    EXPECT_EQ(addOn.GetAddOnWord(), 3);

    const char bytes[] = "abc";
    CAnalysisEvent withData("n", "t", 1, 3, bytes, CEegTimeStamp(1), 2);
    ASSERT_NE(withData.GetData(), nullptr);
    EXPECT_EQ(0, std::memcmp(withData.GetData(), "abc", 3));
    CAnalysisEvent noData("n", "t", 1, 3, nullptr, CEegTimeStamp(1), 2);
    EXPECT_EQ(noData.GetData(), nullptr);
    EXPECT_EQ(noData.GetDataSize(), 0);

    CDataDeletionEvent end(CEegTimeStamp(2000), CEegTimeStamp(1000), 0);
    EXPECT_EQ(end.GetStartTimeStamp(), CEegTimeStamp(1000));
    EXPECT_EQ(end.GetEndTimeStamp(), CEegTimeStamp(2000));
    EXPECT_EQ(end.IsDeletionEnd(), 1);
    CDataSegmentMarkEvent seg(CEegTimeStamp(10), CEegTimeStamp(20), 1, 0);
    EXPECT_EQ(seg.GetEndTimeStamp(), CEegTimeStamp(20));
    EXPECT_EQ(seg.IsSaveSegment(), 1);
    seg.InitSegment(CEegTimeStamp(30), CEegTimeStamp(5), 0, 1);
    EXPECT_EQ(seg.GetStartTimeStamp(), CEegTimeStamp(5));
    EXPECT_EQ(seg.GetTimeStamp(), CEegTimeStamp(30));
    EXPECT_EQ(seg.IsDeleteSegment(), 1);

    using M = CDataMarkDeleteEvent;
    const int expected[5][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 1, 1}};
    for (int t = 0; t < 5; ++t) {
        M mark(CEegTimeStamp(1), CEegTimeStamp(2), static_cast<M::EMarkType>(t));
        EXPECT_EQ(mark.IsEegMark(), expected[t][0]) << t;
        EXPECT_EQ(mark.IsVideoMark(), expected[t][1]) << t;
        EXPECT_EQ(mark.IsNoAudioMark(), expected[t][2]) << t;
    }

    CTKTime when(2023, 1, 2, 3, 4, 5);
    CRecordEvent record(CEegTimeStamp(1), 1, nullptr);
    int recording = 0;
    CTKTime got;
    EXPECT_EQ(record.GetRecordData(recording, got), 0);
    EXPECT_FALSE(got.IsNull());  // the current time, kept when none is given
    record.InitRecord(0, &when);
    EXPECT_EQ(record.GetRecordData(recording, got), 1);
    EXPECT_TRUE(got == when);

    CVoiceEvent voice(CEegTimeStamp(1), 2, 3, 4, 5);
    CVoiceEvent voiceCopy(voice);
    EXPECT_TRUE(voice == voiceCopy);
    EXPECT_FALSE(voice != voiceCopy);
    EXPECT_TRUE(voice != CVoiceEvent(CEegTimeStamp(1), 2, 3, 4, 6));
    EXPECT_TRUE(CKeyPressEvent(CEegTimeStamp(1), 3) != CKeyPressEvent(CEegTimeStamp(2), 3));
    EXPECT_TRUE(CBatteryLowEvent(CEegTimeStamp(1), 3.0, 3) ==
                CBatteryLowEvent(CEegTimeStamp(1), 3.0, 3));
    EXPECT_TRUE(CBatteryLowEvent(CEegTimeStamp(1), 3.0, 3) !=
                CBatteryLowEvent(CEegTimeStamp(1), 3.25, 3));
}

// The Persyst comment's decimal separator, in a child process so that switching
// the locale touches no other test.
TEST(EegEvent, PersystCommentTakesAPointForTheLocaleSeparator) {
    EXPECT_EQ(
        CPersystEvent(CPersystEvent::EPersystType{1}, "2.5, 3", CEegTimeStamp(1)).GetComment(),
        "2.5, 3");
    CPersystEvent typed(CPersystEvent::EPersystType{1}, "x", CEegTimeStamp(1));
    EXPECT_EQ(typed.GetType(), 4);
    EXPECT_EQ(typed.GetOrigin(), 2);
    CPersystEvent timed(CPersystEvent::EPersystType{1}, "x", 2.0, CEegTimeStamp(1));
    EXPECT_EQ(timed.GetType(), 0);
    EXPECT_EQ(timed.GetDuration(), 2.0);

    testsupport::TempDir dir;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A comma locale: an installed one, or de_DE compiled into the folder.
        const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
        bool have = false;
        for (const char* n : names)
            have = have || std::setlocale(LC_ALL, n);
        if (!have && ::access("/usr/bin/localedef", X_OK) == 0) {
            const std::string out = dir.File("de_DE.UTF-8");
            const std::string cmd =
                "/usr/bin/localedef -c -i de_DE -f UTF-8 '" + out + "' >/dev/null 2>&1";
            if (std::system(cmd.c_str()) >= 0) {
                ::setenv("LOCPATH", dir.path().c_str(), 1);
                have = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
            }
        }
        if (!have)
            ::_exit(2);
        const CPersystEvent e(CPersystEvent::EPersystType{1}, "2,5 Hz, 3", CEegTimeStamp(1));
        ::_exit(e.GetComment() == "2.5 Hz. 3" ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        ASSERT_EQ(errno, EINTR);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "no comma locale available";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
