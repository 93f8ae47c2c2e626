// AsString of every event class, with and without a recording, with the host's
// string table and the add-on callback.
#include <gtest/gtest.h>

#include "EegFile/frame/FakeEegFile.h"
#include "EventTestSupport.h"
#include "Platform/StringTable.h"

using namespace eventtest;

TEST(EventText, EveryClassWithAndWithoutARecording) {
    // The text of each AllTypes() event without a recording, in type order.
    const char* const texts[28] = {
        nullptr,  // the record event's time text is the locale's: below
        "Calibration On 50 uV 10 Hz",
        "Impedance",
        "Recording Reference CRef",
        "Montage Bipolar",
        "T3-T5 Trace Change",
        "60 Hz Notch On",
        "High Cut 35 Hz",
        "Low Cut 5 Hz",
        "Sensitivity 10 uV/mm",
        "Paper Speed 15 mm/s",
        "Block",
        "Eyes closed",
        "Seizure",
        "Flash Rate 12.5 Hz",
        "Photic Run 3",
        "Timer On 01:02:05",
        "Data Deleted ->",
        "<- Save Segment",
        "",  // add-on: no callback registered
        "Spike found",
        "Look here",
        "",  // data mark: the position alone
        "Disk almost full",
        "Voice Annotation",
        "Key Press",
        "Battery Low (3.50 V)",
        "Spike 2.5 Hz",
    };
    CFakeEegFile file;  // 200 samples per second
    auto events = AllTypes();
    const CString recordTime =
        CTKTime(2024, 3, 15, 10, 20, 30)
            .GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, TIME_NOSECONDS);
    ASSERT_FALSE(recordTime.IsEmpty());
    for (int type = 0; type < 28; ++type) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        const CEegEvent& e = *events[static_cast<size_t>(type)];
        const CString bare =
            type == 0 ? "Recording Started at " + recordTime : CString(texts[type]);
        EXPECT_EQ(Text(e), bare);
        CString position;
        position.Format("00:00:%02u ", e.GetTimeStamp().GetSampleOffset() / 200);
        // Add-on and analysis texts never carry the position.
        const bool noPosition = type == CEegEvent::etAddOn || type == CEegEvent::etAnalysis;
        EXPECT_EQ(Text(e, &file), noPosition ? bare : position + bare);
    }
    EXPECT_EQ(Text(CBlockEvent(CEegTimeStamp(18000)), &file), "00:01:30 Block");  // at 90 s
}

TEST(EventText, ChoicesWithinAClass) {
    CTKTime when(2024, 3, 15, 10, 20, 30);
    const CString time = when.GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, TIME_NOSECONDS);
    const CEegTimeStamp t1(1), t2(2);
    EXPECT_EQ(Text(CRecordEvent(t1, 1, nullptr)), "Recording Started");
    EXPECT_EQ(Text(CRecordEvent(t1, 0, nullptr)), "Recording Stopped");
    EXPECT_EQ(Text(CRecordEvent(t1, 0, &when)), "Recording Stopped at " + time);
    EXPECT_EQ(Text(CCalibrateEvent(t1, 0, 50.0, 10.0)), "Calibration Off");
    EXPECT_EQ(Text(CNotchEvent(t1, 0, 60.0)), "Notch Off");
    EXPECT_EQ(Text(CTimerEvent(t1, 0, 3725)), "Timer Off");
    EXPECT_EQ(Text(CTimerEvent(t1, 1, 360000)), "Timer On 100:00:00");
    EXPECT_EQ(Text(CLinkedHighcutEvent(t1, 0.0)), "High Cut Off");
    EXPECT_EQ(Text(CLinkedLowcutEvent(t1, 0.3)), "Low Cut 0.3 Hz");
    EXPECT_EQ(Text(CFlashRateEvent(t1, 2.0)), "Flash Rate  2.0 Hz");
    // Flash runs: flag B, then flag A, then the run number choose the text.
    EXPECT_EQ(Text(CFlashRunEvent(t1, 4, 1, 1)), "Flash Run Start");
    EXPECT_EQ(Text(CFlashRunEvent(t1, 4, 0, 1)), "Flash Run End");
    EXPECT_EQ(Text(CFlashRunEvent(t1, 0, 1, 0)), "Photic Run 1");
    EXPECT_EQ(Text(CFlashRunEvent(t1, -1, 1, 0)), "Photic Run");
    EXPECT_EQ(Text(CFlashRunEvent(t1, -1, 0, 0)), "Photic Stop");
    EXPECT_EQ(Text(CFlashRunEvent(t1, 0, 0, 0)), "Photic Run Stop");
    EXPECT_EQ(Text(CFlashRunEvent(t1, 2147483647, 1, 0)), "Photic Run -2147483648");
    EXPECT_EQ(Text(CDataDeletionEvent(t2, t1, 0)), "<- Data Deleted");
    EXPECT_EQ(Text(CDataSegmentMarkEvent(t1, t2, 1, 1)), "Delete Segment ->");
    // The jack's name right-justified in the domain's width of 4; a value with no
    // name is written as a number.
    EXPECT_EQ(Text(CRecordingRefEvent(t1, AmpInput::Fp1)), "Recording Reference  Fp1");
    EXPECT_EQ(Text(CRecordingRefEvent(t1, AmpInput::NoInput)), "Recording Reference   -1");
    // The priority shows only with the format flag.
    CUserEvent user(t1, "Seizure", 8);
    user.SetFormatPriority(1);
    EXPECT_EQ(Text(user), "8 Seizure");
}

TEST(EventText, HostStringsAndTheAddOnCallback) {
    AfxSetString(83, "Blk");
    AfxSetString(1020, "Akku %.1f");
    EXPECT_EQ(Text(CBlockEvent(CEegTimeStamp(1))), "Blk");
    EXPECT_EQ(Text(CBatteryLowEvent(CEegTimeStamp(1), 3.46, 1)), "Akku 3.5");
    AfxSetString(83, "");
    CFakeEegFile file;
    EXPECT_EQ(Text(CBlockEvent(CEegTimeStamp(400)), &file), "00:00:02 ");
    AfxSetString(83, nullptr);
    AfxSetString(1020, nullptr);
    EXPECT_EQ(Text(CBlockEvent(CEegTimeStamp(1))), "Block");

    CAddOnEvent addOn(2, 7, 1, 0, CEegTimeStamp(600), 3);
    int calls = 0;
    CCall2ArgFn<CString, const CEegEvent&, const CEegFile*> callback(
        [&](const CEegEvent& e, const CEegFile* f) -> CString {
            ++calls;
            EXPECT_EQ(&e, &addOn);
            EXPECT_EQ(f, &file);
            CString s;
            s.Format("add-on %u", static_cast<const CAddOnEvent&>(e).GetAddOnID());
            return s;
        });
    CAddOnEvent::SetAsStringCallBack(&callback);
    EXPECT_EQ(Text(addOn, &file), "add-on 7");
    EXPECT_EQ(calls, 1);
    CAddOnEvent::SetAsStringCallBack(nullptr);
    EXPECT_EQ(Text(addOn, &file), "");
    EXPECT_EQ(calls, 1);
}
