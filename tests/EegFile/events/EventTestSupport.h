// Helpers of the event tests: archive bytes through real files, a builder for
// hand-computed record bytes, one sample event of every type and a field-by-field
// comparison of two events.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EegBase/EegBase.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/Events.h"
#include "Platform/Archive.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace eventtest {

using Bytes = std::vector<unsigned char>;

// What f stores through an archive over a fresh file.
template <class F>
Bytes StoreBytes(const testsupport::TempDir& dir, F&& f) {
    const std::string path = dir.File("stored.bin");
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    CArchive ar(&file, CArchive::store);
    f(ar);
    ar.Close();
    file.Close();
    return testsupport::ReadBytes(path);
}

// Runs f over a loading archive of a file holding bytes.
template <class F>
void LoadBytes(const testsupport::TempDir& dir, const Bytes& bytes, F&& f) {
    const std::string path = dir.File("load.bin");
    testsupport::WriteBytes(path, bytes);
    CFile file(path.c_str(), CFile::modeRead);
    CArchive ar(&file, CArchive::load);
    f(ar);
}

// Little-endian bytes written out by hand, independent of CArchive.
class ByteBuilder {
public:
    ByteBuilder& u8(unsigned v) {
        m_b.push_back(static_cast<unsigned char>(v));
        return *this;
    }
    ByteBuilder& u16(unsigned v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    ByteBuilder& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    // A double given by its IEEE 754 bit pattern.
    ByteBuilder& f64(uint64_t bits) { return u32(static_cast<uint32_t>(bits)).u32(bits >> 32); }
    // A string shorter than 255 characters: one length byte and the characters.
    ByteBuilder& str(const char* s) {
        u8(static_cast<unsigned>(std::strlen(s)));
        for (const char* p = s; *p; ++p)
            u8(static_cast<unsigned char>(*p));
        return *this;
    }
    ByteBuilder& raw(const Bytes& b) {
        m_b.insert(m_b.end(), b.begin(), b.end());
        return *this;
    }
    // Class version word, base version word, type and sample offset.
    ByteBuilder& head(unsigned classVersion, unsigned type, uint32_t stamp) {
        return u16(classVersion ^ 0x5A5A).u16(0x5A5A).u32(type).u32(stamp);
    }
    const Bytes& bytes() const { return m_b; }
    operator Bytes() const { return m_b; }

private:
    Bytes m_b;
};

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

// Every field of two events of the same class, by their accessors.
inline void ExpectSameEvent(const CEegEvent& a, const CEegEvent& b) {
    SCOPED_TRACE(testing::Message() << "event type " << a.GetEventType());
    ASSERT_EQ(a.GetEventType(), b.GetEventType());
    EXPECT_EQ(a.GetTimeStamp(), b.GetTimeStamp());
    switch (a.GetEventType()) {
        case CEegEvent::etRecord: {
            int ra = 0, rb = 0;
            CTKTime ta, tb;
            EXPECT_EQ(static_cast<const CRecordEvent&>(a).GetRecordData(ra, ta),
                      static_cast<const CRecordEvent&>(b).GetRecordData(rb, tb));
            EXPECT_EQ(ra, rb);
            EXPECT_TRUE(ta == tb);
            break;
        }
        case CEegEvent::etCalibrate: {
            int oa, ob;
            double aa, ab, fa, fb;
            static_cast<const CCalibrateEvent&>(a).GetCalibrateData(oa, aa, fa);
            static_cast<const CCalibrateEvent&>(b).GetCalibrateData(ob, ab, fb);
            EXPECT_EQ(oa, ob);
            EXPECT_EQ(aa, ab);
            EXPECT_EQ(fa, fb);
            break;
        }
        case CEegEvent::etImpedance: {
            auto& x = static_cast<const CImpedanceEvent&>(a);
            auto& y = static_cast<const CImpedanceEvent&>(b);
            EXPECT_TRUE(x.GetImpedanceData() == y.GetImpedanceData());
            EXPECT_TRUE(x.GetImpInputDomain() == y.GetImpInputDomain());
            EXPECT_EQ(x.GetRecordingRef(), y.GetRecordingRef());
            break;
        }
        case CEegEvent::etRecordingRef:
            EXPECT_EQ(static_cast<const CRecordingRefEvent&>(a).GetRecordingReference(),
                      static_cast<const CRecordingRefEvent&>(b).GetRecordingReference());
            break;
        case CEegEvent::etMontage:
            EXPECT_TRUE(static_cast<const CMontageEvent&>(a).GetMontage() ==
                        static_cast<const CMontageEvent&>(b).GetMontage());
            break;
        case CEegEvent::etTraceInfo: {
            auto& x = static_cast<const CTraceInfoEvent&>(a);
            auto& y = static_cast<const CTraceInfoEvent&>(b);
            EXPECT_TRUE(x.GetTraceInfo() == y.GetTraceInfo());
            EXPECT_EQ(x.GetChannelNumber(), y.GetChannelNumber());
            break;
        }
        case CEegEvent::etNotch: {
            int oa, ob;
            double fa, fb;
            static_cast<const CNotchEvent&>(a).GetNotchData(oa, fa);
            static_cast<const CNotchEvent&>(b).GetNotchData(ob, fb);
            EXPECT_EQ(oa, ob);
            EXPECT_EQ(fa, fb);
            break;
        }
        case CEegEvent::etLinkedHighcut:
            EXPECT_EQ(static_cast<const CLinkedHighcutEvent&>(a).GetLinkedHighcut(),
                      static_cast<const CLinkedHighcutEvent&>(b).GetLinkedHighcut());
            break;
        case CEegEvent::etLinkedLowcut:
            EXPECT_EQ(static_cast<const CLinkedLowcutEvent&>(a).GetLinkedLowcut(),
                      static_cast<const CLinkedLowcutEvent&>(b).GetLinkedLowcut());
            break;
        case CEegEvent::etLinkedSensitivity:
            EXPECT_EQ(static_cast<const CLinkedSensitivityEvent&>(a).GetLinkedSensitivity(),
                      static_cast<const CLinkedSensitivityEvent&>(b).GetLinkedSensitivity());
            break;
        case CEegEvent::etSpeed:
            EXPECT_EQ(static_cast<const CSpeedEvent&>(a).GetSpeed(),
                      static_cast<const CSpeedEvent&>(b).GetSpeed());
            break;
        case CEegEvent::etBlock:
            break;
        case CEegEvent::etComment:
        case CEegEvent::etUser: {
            auto& x = static_cast<const CAnnotationEvent&>(a);
            auto& y = static_cast<const CAnnotationEvent&>(b);
            EXPECT_EQ(x.GetPriority(), y.GetPriority());
            EXPECT_STREQ(x.AsString(nullptr), y.AsString(nullptr));
            break;
        }
        case CEegEvent::etFlashRate:
            EXPECT_EQ(static_cast<const CFlashRateEvent&>(a).GetFlashRateData(),
                      static_cast<const CFlashRateEvent&>(b).GetFlashRateData());
            break;
        case CEegEvent::etFlashRun: {
            int ra, aa, ba, rb, ab, bb;
            static_cast<const CFlashRunEvent&>(a).GetFlashRunData(ra, aa, ba);
            static_cast<const CFlashRunEvent&>(b).GetFlashRunData(rb, ab, bb);
            EXPECT_EQ(ra, rb);
            EXPECT_EQ(aa, ab);
            EXPECT_EQ(ba, bb);
            break;
        }
        case CEegEvent::etTimer: {
            int oa, ob;
            unsigned sa, sb;
            static_cast<const CTimerEvent&>(a).GetTimerData(oa, sa);
            static_cast<const CTimerEvent&>(b).GetTimerData(ob, sb);
            EXPECT_EQ(oa, ob);
            EXPECT_EQ(sa, sb);
            break;
        }
        case CEegEvent::etDataDeletion: {
            auto& x = static_cast<const CDataDeletionEvent&>(a);
            auto& y = static_cast<const CDataDeletionEvent&>(b);
            EXPECT_EQ(x.IsDeletionStart(), y.IsDeletionStart());
            EXPECT_EQ(x.GetStartTimeStamp(), y.GetStartTimeStamp());
            EXPECT_EQ(x.GetEndTimeStamp(), y.GetEndTimeStamp());
            break;
        }
        case CEegEvent::etDataSegmentMark: {
            auto& x = static_cast<const CDataSegmentMarkEvent&>(a);
            auto& y = static_cast<const CDataSegmentMarkEvent&>(b);
            EXPECT_EQ(x.IsSegmentStart(), y.IsSegmentStart());
            EXPECT_EQ(x.IsDeleteSegment(), y.IsDeleteSegment());
            EXPECT_EQ(x.GetStartTimeStamp(), y.GetStartTimeStamp());
            EXPECT_EQ(x.GetEndTimeStamp(), y.GetEndTimeStamp());
            break;
        }
        case CEegEvent::etAddOn: {
            auto& x = static_cast<const CAddOnEvent&>(a);
            auto& y = static_cast<const CAddOnEvent&>(b);
            EXPECT_EQ(x.GetAddOnID(), y.GetAddOnID());
            EXPECT_EQ(x.GetAddOnEventType(), y.GetAddOnEventType());
            EXPECT_EQ(x.GetAddOnWord(), y.GetAddOnWord());
            EXPECT_EQ(x.GetPriority(), y.GetPriority());
            ASSERT_EQ(x.GetDataSize(), y.GetDataSize());
            EXPECT_EQ(0, std::memcmp(x.GetData(), y.GetData(), x.GetDataSize()));
            break;
        }
        case CEegEvent::etAnalysis: {
            auto& x = static_cast<const CAnalysisEvent&>(a);
            auto& y = static_cast<const CAnalysisEvent&>(b);
            EXPECT_EQ(x.GetAnalysisName(), y.GetAnalysisName());
            EXPECT_EQ(x.GetText(), y.GetText());
            EXPECT_EQ(x.GetAnalysisEventType(), y.GetAnalysisEventType());
            EXPECT_EQ(x.GetPriority(), y.GetPriority());
            ASSERT_EQ(x.GetDataSize(), y.GetDataSize());
            ASSERT_EQ(x.GetData() == nullptr, y.GetData() == nullptr);
            if (x.GetData()) {
                EXPECT_EQ(0, std::memcmp(x.GetData(), y.GetData(), x.GetDataSize()));
            }
            break;
        }
        case CEegEvent::etBookmark: {
            auto& x = static_cast<const CBookmarkEvent&>(a);
            auto& y = static_cast<const CBookmarkEvent&>(b);
            EXPECT_TRUE(x == y);
            EXPECT_EQ(x.GetOverrideMontage() == nullptr, y.GetOverrideMontage() == nullptr);
            if (x.GetOverrideMontage()) {
                EXPECT_EQ(x.GetOverrideMontage()->GetName(), y.GetOverrideMontage()->GetName());
            }
            break;
        }
        case CEegEvent::etDataMarkDelete: {
            auto& x = static_cast<const CDataMarkDeleteEvent&>(a);
            auto& y = static_cast<const CDataMarkDeleteEvent&>(b);
            EXPECT_EQ(x.GetEndTimeStamp(), y.GetEndTimeStamp());
            EXPECT_EQ(x.GetMarkType(), y.GetMarkType());
            EXPECT_EQ(x.GetComment(), y.GetComment());
            EXPECT_EQ(x.GetPriority(), y.GetPriority());
            break;
        }
        case CEegEvent::etSystem:
            EXPECT_STREQ(static_cast<const CSystemEvent&>(a).GetComment(),
                         static_cast<const CSystemEvent&>(b).GetComment());
            break;
        case CEegEvent::etVoice:
            EXPECT_TRUE(static_cast<const CVoiceEvent&>(a) == static_cast<const CVoiceEvent&>(b));
            break;
        case CEegEvent::etKeyPress:
            EXPECT_TRUE(static_cast<const CKeyPressEvent&>(a) ==
                        static_cast<const CKeyPressEvent&>(b));
            break;
        case CEegEvent::etBatteryLow:
            EXPECT_TRUE(static_cast<const CBatteryLowEvent&>(a) ==
                        static_cast<const CBatteryLowEvent&>(b));
            break;
        case CEegEvent::etPersyst: {
            auto& x = static_cast<const CPersystEvent&>(a);
            auto& y = static_cast<const CPersystEvent&>(b);
            EXPECT_EQ(x.GetPersystType(), y.GetPersystType());
            EXPECT_EQ(x.GetDuration(), y.GetDuration());
            EXPECT_EQ(x.GetOrigin(), y.GetOrigin());
            EXPECT_EQ(x.GetType(), y.GetType());
            EXPECT_EQ(x.GetComment(), y.GetComment());
            break;
        }
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
