// A small recording for the export tests: 32 smooth channels at 200 Hz from
// 2024-07-01 09:00:00, a known patient, a montage, comments and a hole, plus
// running a program and capturing what it prints.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "EegBase/EegMontage.h"
#include "EegFile/events/CommentEvent.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/events/LinkedSettingEvents.h"
#include "EegFile/events/MontageEvent.h"
#include "EegFile/events/RecordEvent.h"
#include "EegFile/winfile/WinFileTestSupport.h"

namespace exporttest {

using winfiletest::kRate;
using winfiletest::Sample;

constexpr uint32_t kSeconds = 12;
constexpr uint32_t kHoleStart = 4 * kRate, kHoleEnd = 6 * kRate;
constexpr double kGain3 = 1.694;  // input 3 has its own gain

// Channel 5 is named "EEG Fz-Ref" by a referential trace; the bipolar trace 1-2 must
// not rename channel 1. Comments at 2.5 s and 9.25 s, a hole over 4-6 s.
// With eegLike set the samples are Eeg's, else the smooth Sample's.
inline int16_t Eeg(uint32_t n, int slot) {
    return static_cast<int16_t>(300 * std::sin(2 * 3.14159265 * (5 + slot % 7) * n / kRate));
}

inline void MakeRecording(const std::string& path, bool eegLike = false) {
    CWinEegFile file;
    file.Create(path.c_str());
    CAmpHardwareInfo amp = winfiletest::Amp32();
    amp.SetInputGain(static_cast<AmpInput::AmpInputType>(3), kGain3);
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, amp);
    CPatientInfo patient;
    patient.SetLastName("Doe");
    patient.SetFirstName("Jane");
    patient.SetPatientId("P-1234");
    patient.SetSex(CPatientInfo::sexFemale);
    patient.SetBirthDate(COleDateTime(1980, 5, 17, 0, 0, 0).m_dt);
    file.SetPatientInfo(patient, 1);
    file.StartRecording(winfiletest::Time(2024, 7, 1, 9, 0, 0));
    const CTKTime start(2024, 7, 1, 9, 0, 0);
    file.AddEvent(new CRecordEvent(CEegTimeStamp(0), 1, &start));
    CEegMontage montage("Test bipolar");
    montage.SetTraceInfo(
        0, CTraceInfo("EEG Fz-Ref", static_cast<AmpInput::AmpInputType>(5), AmpInput::CRef));
    montage.SetTraceInfo(1, CTraceInfo("X-Y", static_cast<AmpInput::AmpInputType>(1),
                                       static_cast<AmpInput::AmpInputType>(2)));
    file.AddEvent(new CMontageEvent(CEegTimeStamp(0), &montage));
    file.AddEvent(new CLinkedSensitivityEvent(CEegTimeStamp(0), 10.0));
    for (uint32_t s = 0; s < kSeconds; ++s) {
        CEegDataChunk chunk = winfiletest::MakeChunk(s * kRate, kRate, true);
        for (uint32_t i = 0; eegLike && i < kRate; ++i)
            for (int c = 0; c < 32; ++c)
                chunk.GetFrame(i)[c] = Eeg(s * kRate + i, c);
        file.WriteEegData(chunk);
    }
    file.AddEvent(new CCommentEvent(CEegTimeStamp(kRate * 5 / 2), "Spike here"));
    file.AddEvent(new CCommentEvent(CEegTimeStamp(kRate * 37 / 4),
                                    "Eyes closed, then opened on request; patient drowsy after"));
    file.AddEvent(new CDataDeletionEvent(CEegTimeStamp(kHoleStart), CEegTimeStamp(kHoleEnd), 1));
    file.AddEvent(new CDataDeletionEvent(CEegTimeStamp(kHoleEnd), CEegTimeStamp(kHoleStart), 0));
    file.StopRecording();
    file.Close();
}

// The stored sample the exported file must hold: zero inside the hole.
inline int16_t Expected(uint32_t n, int slot) {
    return n >= kHoleStart && n < kHoleEnd ? 0 : Sample(n, slot, true);
}

// What command prints on its standard output; "" when it cannot run.
inline std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    ::pclose(p);
    return out;
}

}  // namespace exporttest
