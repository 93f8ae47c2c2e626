// Helpers of the event tests: archive bytes through real files, hand-computed
// record bytes written as hex, one sample event of every type and a
// field-by-field comparison of two events.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <functional>
#include <tuple>
#include <type_traits>
#include <vector>

#include "EegBase/BaseTestSupport.h"
#include "EegBase/EegBase.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/Events.h"
#include "Platform/Archive.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace eventtest {

using Bytes = std::vector<unsigned char>;

using testsupport::LoadBytes;
using testsupport::StoreBytes;

// Bytes written out by hand as hex digits (blanks ignored); 'text' stands for a
// short string as archives hold it: a length byte, then the characters.
inline Bytes Hex(std::string_view s) {
    Bytes b;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ' ')
            continue;
        if (s[i] == '\'') {
            const size_t end = s.find('\'', i + 1);
            b.push_back(static_cast<unsigned char>(end - i - 1));
            b.insert(b.end(), s.begin() + static_cast<long>(i) + 1,
                     s.begin() + static_cast<long>(end));
            i = end;
            continue;
        }
        b.push_back(
            static_cast<unsigned char>(std::stoi(std::string(s.substr(i, 2)), nullptr, 16)));
        ++i;
    }
    return b;
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// An event record: class version and base version words (each ^ 0x5A5A), type
// and sample offset, then body.
inline Bytes Record(unsigned version, uint32_t type, uint32_t stamp, std::string_view body = "") {
    return basetest::ByteWriter().U16(version ^ 0x5A5A).U16(0x5A5A).U32(type).U32(stamp).bytes() +
           Hex(body);
}
// A list entry: the type word (^ 0xA5A5), then the record.
inline Bytes Entry(const Bytes& record) {
    return Bytes{static_cast<unsigned char>(record[4] ^ 0xA5),
                 static_cast<unsigned char>(record[5] ^ 0xA5)} +
           record;
}

inline CEegMontage SampleMontage(const char* name) {
    CEegMontage montage(name);
    montage.SetTraceInfo(0, CTraceInfo("Fp1-F3", AmpInput::Fp1, AmpInput::F3));
    montage.SetTraceInfo(3, CTraceInfo("Cz-Pz", AmpInput::Cz, AmpInput::Pz));
    return montage;
}

// One event of every type, each with values away from MakeEvent's, at stamps
// 100, 200, ... in type order.
inline std::vector<std::unique_ptr<CEegEvent>> AllTypes() {
    std::vector<std::unique_ptr<CEegEvent>> v;
    auto at = [](int type) { return CEegTimeStamp(static_cast<uint32_t>(100 * (type + 1))); };
    CTKTime time(2024, 3, 15, 10, 20, 30);
    v.emplace_back(new CRecordEvent(at(0), 1, &time));
    v.emplace_back(new CCalibrateEvent(at(1), 1, 50.0, 10.0));
    CImpedanceValues values;
    values.SetImpedance(AmpInput::Fp1, 4.5);
    values.SetImpedance(AmpInput::Gnd, 12.0);
    const AmpInput::AmpInputType jacks[] = {AmpInput::Fp1, AmpInput::Fp2, AmpInput::CRef};
    CAmpInputDomain inputs(jacks, 3);
    v.emplace_back(new CImpedanceEvent(at(2), &values, &inputs, AmpInput::CRef));
    v.emplace_back(new CRecordingRefEvent(at(3), AmpInput::CRef));
    CEegMontage montage = SampleMontage("Bipolar");
    v.emplace_back(new CMontageEvent(at(4), &montage));
    CTraceInfo trace("T3-T5", AmpInput::T3, AmpInput::T5);
    v.emplace_back(new CTraceInfoEvent(at(5), 7, &trace));
    v.emplace_back(new CNotchEvent(at(6), 1, 60.0));
    v.emplace_back(new CLinkedHighcutEvent(at(7), 35.0));
    v.emplace_back(new CLinkedLowcutEvent(at(8), 5.0));
    v.emplace_back(new CLinkedSensitivityEvent(at(9), 10.0));
    v.emplace_back(new CSpeedEvent(at(10), 15.0));
    v.emplace_back(new CBlockEvent(at(11)));
    v.emplace_back(new CCommentEvent(at(12), "Eyes closed", 8));
    v.emplace_back(new CUserEvent(at(13), "Seizure", 2));
    v.emplace_back(new CFlashRateEvent(at(14), 12.5));
    v.emplace_back(new CFlashRunEvent(at(15), 2, 1, 0));
    v.emplace_back(new CTimerEvent(at(16), 1, 3725));
    v.emplace_back(new CDataDeletionEvent(at(17), CEegTimeStamp(5000), 1));
    v.emplace_back(new CDataSegmentMarkEvent(at(18), CEegTimeStamp(900), 0, 0));
    auto* addOn = new CAddOnEvent(12, 7, 3, 0x1234, at(19), 9);
    for (int i = 0; i < 12; ++i)
        static_cast<unsigned char*>(addOn->GetData())[i] = 0xA0 + i;
    v.emplace_back(addOn);
    const unsigned char data[] = {1, 2, 3};
    v.emplace_back(new CAnalysisEvent("Spike", "Spike found", 5, 3, data, at(20), 6));
    auto* bookmark = new CBookmarkEvent(at(21), CEegTimeStamp(2300), "Look here");
    CEegMontage review = SampleMontage("Review");
    bookmark->SetOverrideMontage(&review);
    bookmark->SetLinkedHighCut(15.0);
    bookmark->SetLinkedLowCut(0.5);
    bookmark->SetPaperSpeed(60.0);
    bookmark->SetLinkedSens(3.0);
    v.emplace_back(bookmark);
    auto* mark =
        new CDataMarkDeleteEvent(at(22), CEegTimeStamp(2500), CDataMarkDeleteEvent::mtEegVideo);
    mark->SetComment("artefact");
    mark->SetPriority(7);
    v.emplace_back(mark);
    v.emplace_back(new CSystemEvent("Disk almost full", at(23)));
    v.emplace_back(new CVoiceEvent(at(24), 3, 1000, 5000, 4));
    v.emplace_back(new CKeyPressEvent(at(25), 2));
    v.emplace_back(new CBatteryLowEvent(at(26), 3.5, 8));
    v.emplace_back(
        new CPersystEvent(CPersystEvent::EPersystType{9}, "Spike 2.5 Hz", 1.5, 3, 11, at(27)));
    return v;
}

// A field as the comparison below wants it: texts by content, getters with
// output parameters by the values they give, data by its bytes.
template <class V>
V Value(const V& v) {
    return v;
}
inline std::string Value(const char* s) {
    return s ? s : "";
}
template <class T, class... A>
std::tuple<A...> Value(const T& e, void (T::*get)(A&...) const) {
    std::tuple<A...> t;
    std::apply([&](A&... out) { (e.*get)(out...); }, t);
    return t;
}
template <class T>
std::string DataOf(const T& e) {
    return e.GetData() ? std::string(static_cast<const char*>(e.GetData()), e.GetDataSize()) : "-";
}
inline std::tuple<int, int, CTKTime> RecordData(const CRecordEvent& e) {
    std::tuple<int, int, CTKTime> t;
    std::get<0>(t) = e.GetRecordData(std::get<1>(t), std::get<2>(t));
    return t;
}
inline CString Text(const CEegEvent& e, const CEegFile* file = nullptr) {
    return e.AsString(file);
}
inline CString MontageName(const CBookmarkEvent& e) {
    return e.GetOverrideMontage() ? e.GetOverrideMontage()->GetName() : CString("-");
}
// Compares a and b, of class T, by each getter in turn.
template <class T, class... G>
void Same(const CEegEvent& a, const CEegEvent& b, G... getters) {
    auto field = [](const T& e, auto get) {
        if constexpr (std::is_invocable_v<decltype(get), const T&>)
            return Value(std::invoke(get, e));
        else
            return Value(e, get);
    };
    int i = 0;
    auto check = [&](auto get) {
        EXPECT_EQ(field(static_cast<const T&>(a), get), field(static_cast<const T&>(b), get))
            << "getter " << i++;
    };
    (check(getters), ...);
}
template <class T>
void Equal(const CEegEvent& a, const CEegEvent& b) {
    EXPECT_TRUE(static_cast<const T&>(a) == static_cast<const T&>(b));
}

// Every field of two events of the same class, by their accessors.
inline void ExpectSameEvent(const CEegEvent& a, const CEegEvent& b) {
    SCOPED_TRACE(testing::Message() << "event type " << a.GetEventType());
    ASSERT_EQ(a.GetEventType(), b.GetEventType());
    EXPECT_EQ(a.GetTimeStamp(), b.GetTimeStamp());
    using E = CEegEvent;
    switch (a.GetEventType()) {
        case E::etRecord:
            return Same<CRecordEvent>(a, b, RecordData);
        case E::etCalibrate:
            return Same<CCalibrateEvent>(a, b, &CCalibrateEvent::GetCalibrateData);
        case E::etImpedance:
            return Same<CImpedanceEvent>(a, b, &CImpedanceEvent::GetImpedanceData,
                                         &CImpedanceEvent::GetImpInputDomain,
                                         &CImpedanceEvent::GetRecordingRef);
        case E::etRecordingRef:
            return Same<CRecordingRefEvent>(a, b, &CRecordingRefEvent::GetRecordingReference);
        case E::etMontage:
            return Same<CMontageEvent>(a, b, &CMontageEvent::GetMontage);
        case E::etTraceInfo:
            return Same<CTraceInfoEvent>(a, b, &CTraceInfoEvent::GetTraceInfo,
                                         &CTraceInfoEvent::GetChannelNumber);
        case E::etNotch:
            return Same<CNotchEvent>(a, b, &CNotchEvent::GetNotchData);
        case E::etLinkedHighcut:
            return Same<CLinkedHighcutEvent>(a, b, &CLinkedHighcutEvent::GetLinkedHighcut);
        case E::etLinkedLowcut:
            return Same<CLinkedLowcutEvent>(a, b, &CLinkedLowcutEvent::GetLinkedLowcut);
        case E::etLinkedSensitivity:
            return Same<CLinkedSensitivityEvent>(a, b,
                                                 &CLinkedSensitivityEvent::GetLinkedSensitivity);
        case E::etSpeed:
            return Same<CSpeedEvent>(a, b, &CSpeedEvent::GetSpeed);
        case E::etBlock:
            return;
        case E::etComment:
        case E::etUser:
            return Same<CAnnotationEvent>(a, b, &CAnnotationEvent::GetPriority,
                                          [](const CEegEvent& e) { return Text(e); });
        case E::etFlashRate:
            return Same<CFlashRateEvent>(a, b, &CFlashRateEvent::GetFlashRateData);
        case E::etFlashRun:
            return Same<CFlashRunEvent>(a, b, &CFlashRunEvent::GetFlashRunData);
        case E::etTimer:
            return Same<CTimerEvent>(a, b, &CTimerEvent::GetTimerData);
        case E::etDataDeletion:
            return Same<CDataDeletionEvent>(a, b, &CDataDeletionEvent::IsDeletionStart,
                                            &CDataDeletionEvent::GetStartTimeStamp,
                                            &CDataDeletionEvent::GetEndTimeStamp);
        case E::etDataSegmentMark:
            return Same<CDataSegmentMarkEvent>(a, b, &CDataSegmentMarkEvent::IsSegmentStart,
                                               &CDataSegmentMarkEvent::IsDeleteSegment,
                                               &CDataSegmentMarkEvent::GetStartTimeStamp,
                                               &CDataSegmentMarkEvent::GetEndTimeStamp);
        case E::etAddOn:
            return Same<CAddOnEvent>(a, b, &CAddOnEvent::GetAddOnID,
                                     &CAddOnEvent::GetAddOnEventType, &CAddOnEvent::GetAddOnWord,
                                     &CAddOnEvent::GetPriority, DataOf<CAddOnEvent>);
        case E::etAnalysis:
            return Same<CAnalysisEvent>(a, b, &CAnalysisEvent::GetAnalysisName,
                                        &CAnalysisEvent::GetText,
                                        &CAnalysisEvent::GetAnalysisEventType,
                                        &CAnalysisEvent::GetPriority, DataOf<CAnalysisEvent>);
        case E::etBookmark:
            Equal<CBookmarkEvent>(a, b);
            return Same<CBookmarkEvent>(a, b, MontageName);
        case E::etDataMarkDelete:
            return Same<CDataMarkDeleteEvent>(
                a, b, &CDataMarkDeleteEvent::GetEndTimeStamp, &CDataMarkDeleteEvent::GetMarkType,
                &CDataMarkDeleteEvent::GetComment, &CDataMarkDeleteEvent::GetPriority);
        case E::etSystem:
            return Same<CSystemEvent>(a, b, &CSystemEvent::GetComment);
        case E::etVoice:
            return Equal<CVoiceEvent>(a, b);
        case E::etKeyPress:
            return Equal<CKeyPressEvent>(a, b);
        case E::etBatteryLow:
            return Equal<CBatteryLowEvent>(a, b);
        case E::etPersyst:
            return Same<CPersystEvent>(a, b, &CPersystEvent::GetPersystType,
                                       &CPersystEvent::GetDuration, &CPersystEvent::GetOrigin,
                                       &CPersystEvent::GetType, &CPersystEvent::GetComment);
        default:
            ADD_FAILURE() << "no such event type";
    }
}

// Deletes the events a list holds (lists never own them).
inline void DeleteEvents(CEegEventList& list) {
    for (int i = 0; i < list.GetSize(); ++i)
        delete list.GetAt(i);
    list.RemoveAll();
}

}  // namespace eventtest
