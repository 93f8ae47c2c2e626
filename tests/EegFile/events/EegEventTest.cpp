// The event classes: MakeEvent, the domain rules of the setters, owned data, and
// the equality operators.
#include <gtest/gtest.h>

#include "EventTestSupport.h"

using namespace eventtest;

TEST(EegEvent, MakeEventBuildsEveryTypeAndNothingElse) {
    const CEegTimeStamp at(42);
    std::vector<std::unique_ptr<CEegEvent>> made;
    for (int type = 0; type <= 27; ++type) {
        made.emplace_back(CEegEvent::MakeEvent(static_cast<CEegEvent::EventType>(type), at));
        ASSERT_NE(made.back(), nullptr) << type;
        EXPECT_EQ(made.back()->GetEventType(), type);
        EXPECT_EQ(made.back()->GetTimeStamp(), at);
        const bool parameter = type == 1 || type == 4 || type == 5 || (type >= 7 && type <= 10);
        EXPECT_EQ(made.back()->IsParameterEvent(), parameter ? 1 : 0) << type;
    }
    EXPECT_EQ(CEegEvent::MakeEvent(CEegEvent::etNone, at), nullptr);
    EXPECT_EQ(CEegEvent::MakeEvent(static_cast<CEegEvent::EventType>(1000), at), nullptr);
    // Fields a record does not store start defined.
    EXPECT_FALSE(static_cast<CPersystEvent&>(*made[CEegEvent::etPersyst]).GetEventDeleted());
    EXPECT_EQ(static_cast<CUserEvent&>(*made[CEegEvent::etUser]).GetFormatPriority(), 0);
}

TEST(EegEvent, SettersApplyTheirDomains) {
    const CEegTimeStamp t(1);
    // Doubles outside the domain take its default; valid ones are kept.
    CLinkedHighcutEvent high(t, 33.0);
    EXPECT_EQ(high.GetLinkedHighcut(), GetDefaultHighCutDomain().GetDefault());
    high.InitLinkedHighcut(35.0);
    EXPECT_EQ(high.GetLinkedHighcut(), 35.0);
    EXPECT_EQ(CLinkedLowcutEvent(t, 0.3).GetLinkedLowcut(), 0.3);
    EXPECT_EQ(CLinkedLowcutEvent(t, 0.4).GetLinkedLowcut(), 1.0);
    EXPECT_EQ(CLinkedSensitivityEvent(t, 4.0).GetLinkedSensitivity(), 7.0);
    EXPECT_EQ(CSpeedEvent(t, 7.5).GetSpeed(), 7.5);
    EXPECT_EQ(CSpeedEvent(t, 8.0).GetSpeed(), 30.0);
    // Above the amplitude range: its default.
    EXPECT_EQ(Value(CCalibrateEvent(t, 7, 20000.0, 50.0), &CCalibrateEvent::GetCalibrateData),
              std::make_tuple(7, 100.0, 50.0));
    CNotchEvent notch(t, 1, 55.0);
    EXPECT_EQ(Value(notch, &CNotchEvent::GetNotchData), std::make_tuple(1, 50.0));
    notch.InitNotch(0, 60.0);
    EXPECT_EQ(Value(notch, &CNotchEvent::GetNotchData), std::make_tuple(0, 60.0));
    // Comment and user priorities: negative gives the default, others constrained.
    EXPECT_EQ(CCommentEvent(t, "x", -1).GetPriority(), 5);
    EXPECT_EQ(CCommentEvent(t, "x", 7).GetPriority(), 7);
    EXPECT_EQ(CUserEvent(t, "x", 40).GetPriority(), 9);
    CCommentEvent comment(t, nullptr, 0);
    EXPECT_EQ(comment.GetPriority(), 1);
    EXPECT_EQ(comment.SetPriority(12), 9);
    EXPECT_STREQ(comment.GetComment(), "");
    comment.InitComment("text");
    comment.InitComment(nullptr);
    EXPECT_STREQ(comment.GetComment(), "");
    // Voice, key press and battery priorities: 32-bit fields, low 16 bits read.
    EXPECT_EQ(CVoiceEvent(t).GetPriority(), 5);
    EXPECT_EQ(CVoiceEvent(t, 10, 20, -4).GetPriority(), 5);
    EXPECT_EQ(CVoiceEvent(t, 10, 20, -4).GetFileExtNum(), -1);
    EXPECT_EQ(CKeyPressEvent(t, 0).GetPriority(), 1);
    EXPECT_EQ(CBatteryLowEvent(t, 1.0, 70000).GetPriority(), 9);
}

TEST(EegEvent, BookmarkEndMontageAndEquality) {
    CBookmarkEvent bm(CEegTimeStamp(1000), CEegTimeStamp(5), "c");
    EXPECT_EQ(bm.GetEndStamp(), CEegTimeStamp(5));  // the constructor does not check
    // The end: none or not after the start gives start + 100.
    for (uint32_t end : {CEegTimeStamp::NullStamp.GetSampleOffset(), 1000u, 1001u}) {
        bm.SetEndStamp(CEegTimeStamp(end));
        EXPECT_EQ(bm.GetEndStamp(), CEegTimeStamp(end == 1001 ? 1001 : 1100)) << end;
    }
    bm.SetLinkedSens(4.0);  // outside the domain: its default
    EXPECT_EQ(bm.GetLinkedSens(), 7.0);

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
}

TEST(EegEvent, OwnedDataAndRanges) {
    // Add-on data: the same size keeps it; a size beyond the 8 bytes inside the
    // event gets a buffer of its own (the sanitizer checks its bounds).
    CAddOnEvent addOn(CEegTimeStamp(1), 3);
    addOn.SetDataSize(9);
    std::memset(addOn.GetData(), 0x5C, 9);
    addOn.SetDataSize(9);
    EXPECT_EQ(static_cast<unsigned char*>(addOn.GetData())[8], 0x5C);
    addOn.Init(4, 1, 2, 3, 100);
    std::memset(addOn.GetData(), 0, 100);
    CAnalysisEvent noData("n", "t", 1, 3, nullptr, CEegTimeStamp(1), 2);
    EXPECT_EQ(noData.GetData(), nullptr);
    EXPECT_EQ(noData.GetDataSize(), 0);

    // Start and end of ranges, whichever end the event stands at.
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
    const int kinds[5][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 1, 1}};
    for (int t = 0; t < 5; ++t) {
        M mark(CEegTimeStamp(1), CEegTimeStamp(2), static_cast<M::EMarkType>(t));
        EXPECT_EQ(mark.IsEegMark(), kinds[t][0]) << t;
        EXPECT_EQ(mark.IsVideoMark(), kinds[t][1]) << t;
        EXPECT_EQ(mark.IsNoAudioMark(), kinds[t][2]) << t;
    }
    // Without a time a record event keeps the current time but says it has none.
    CRecordEvent record(CEegTimeStamp(1), 1, nullptr);
    EXPECT_EQ(std::get<0>(RecordData(record)), 0);
    EXPECT_FALSE(std::get<2>(RecordData(record)).IsNull());

    CVoiceEvent voice(CEegTimeStamp(1), 2, 3, 4, 5);
    EXPECT_TRUE(voice == CVoiceEvent(voice));
    EXPECT_TRUE(voice != CVoiceEvent(CEegTimeStamp(1), 2, 3, 4, 6));
    EXPECT_TRUE(CKeyPressEvent(CEegTimeStamp(1), 3) != CKeyPressEvent(CEegTimeStamp(2), 3));
    EXPECT_TRUE(CBatteryLowEvent(CEegTimeStamp(1), 3.0, 3) !=
                CBatteryLowEvent(CEegTimeStamp(1), 3.25, 3));
}

TEST(EegEvent, PersystCommentTakesAPointForTheLocaleSeparator) {
    using P = CPersystEvent;
    EXPECT_EQ(P(P::EPersystType{1}, "2.5, 3", CEegTimeStamp(1)).GetComment(), "2.5, 3");
    EXPECT_EQ(P(P::EPersystType{1}, "x", CEegTimeStamp(1)).GetType(), 4);
    EXPECT_EQ(P(P::EPersystType{1}, "x", 2.0, CEegTimeStamp(1)).GetType(), 0);
    testsupport::LocaleSwitch locale;  // puts back "C" at the end
    if (!locale.Use({"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}, "de_DE"))
        GTEST_SKIP() << "no comma locale available";
    EXPECT_EQ(P(P::EPersystType{1}, "2,5 Hz, 3", CEegTimeStamp(1)).GetComment(), "2.5 Hz. 3");
}
