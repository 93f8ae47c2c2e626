// Helpers of the legacy-format tests: logs from hand-written lines, events told as
// one line of text each, amplifiers and seconds of samples.
#pragma once

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegFile/dos/DosEegData.h"
#include "EegFile/dos/DosFileException.h"
#include "EegFile/dos/DosLogFile.h"
#include "EegFile/dos/DosRecordingWriter.h"
#include "EegFile/events/Events.h"
#include "TestSupport.h"

namespace dostest {

using namespace testsupport;
using AmpInput::AmpInputType;

// The lines, each ended with CR LF.
inline std::string Lines(std::initializer_list<std::string> lines) {
    std::string s;
    for (const auto& l : lines)
        s += l + "\r\n";
    return s;
}

inline void WriteText(const std::string& path, const std::string& text, bool append = false) {
    std::ofstream f(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    f << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A parsed log and the path it was written to.
struct ParsedLog {
    explicit ParsedLog(const std::string& path_, const std::string& text) : path(path_) {
        WriteText(path, text);
        log.OpenLog(path.c_str(), 0);
    }
    std::string path;
    CDosLogFile log;
};

inline std::string Num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

inline std::string Input(int code) {
    const char* n = AmpInput::GetName(code);
    return n ? n : std::to_string(code);
}

inline std::string Trace(const CTraceInfo& t) {
    return "[" + std::string(t.GetLabel()) + " " + Input(t.GetActInput()) + "-" +
           Input(t.GetRefInput()) + " s" + Num(t.GetSensitivity()) + " h" + Num(t.GetHighCut()) +
           " l" + Num(t.GetLowCut()) + (t.GetLinkedFlag() ? " linked" : "") + " c" +
           std::to_string(t.GetColor()) + "]";
}

// One line per event: its position in samples, its kind and what it carries.
inline std::string Describe(const CEegEvent& e) {
    std::string s = std::to_string(e.GetTimeStamp().GetSampleOffset()) + " ";
    switch (e.GetEventType()) {
        case CEegEvent::etComment: {
            const auto& c = static_cast<const CCommentEvent&>(e);
            return s + "comment " + std::to_string(c.GetPriority()) + " '" + c.GetComment() + "'";
        }
        case CEegEvent::etRecord: {
            int on = 0;
            CTKTime t;
            static_cast<const CRecordEvent&>(e).GetRecordData(on, t);
            char b[64];
            std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", t.m_wYear, t.m_wMonth,
                          t.m_wDay, t.m_wHour, t.m_wMinute, t.m_wSecond);
            return s + (on ? "recording " : "stopped ") + b;
        }
        case CEegEvent::etBookmark: {
            const auto& b = static_cast<const CBookmarkEvent&>(e);
            return s + "bookmark to " + std::to_string(b.GetEndStamp().GetSampleOffset()) + " h" +
                   Num(b.GetLinkedHighCut()) + " l" + Num(b.GetLinkedLowCut()) + " p" +
                   Num(b.GetPaperSpeed()) + " s" + Num(b.GetLinkedSens()) + " '" + b.GetComment() +
                   "'";
        }
        case CEegEvent::etSpeed:
            return s + "speed " + Num(static_cast<const CSpeedEvent&>(e).GetSpeed());
        case CEegEvent::etLinkedSensitivity:
            return s + "sensitivity " +
                   Num(static_cast<const CLinkedSensitivityEvent&>(e).GetLinkedSensitivity());
        case CEegEvent::etLinkedHighcut:
            return s + "highcut " +
                   Num(static_cast<const CLinkedHighcutEvent&>(e).GetLinkedHighcut());
        case CEegEvent::etLinkedLowcut:
            return s + "lowcut " + Num(static_cast<const CLinkedLowcutEvent&>(e).GetLinkedLowcut());
        case CEegEvent::etTraceInfo: {
            const auto& t = static_cast<const CTraceInfoEvent&>(e);
            return s + "trace " + std::to_string(t.GetChannelNumber()) + " " +
                   Trace(t.GetTraceInfo());
        }
        case CEegEvent::etMontage: {
            const CEegMontage& m = static_cast<const CMontageEvent&>(e).GetMontage();
            s += "montage '" + std::string(m.GetName()) + "'";
            if (const CAverageReference* a = m.GetAvgRef()) {
                s += " avg " + std::string(a->GetName());
                for (int i = 0; i < a->GetInputCount(); ++i)
                    s += " " + Input(a->GetInput(i));
            }
            for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
                if (m.GetTraceInfo(i).HasActInput())
                    s += " " + std::to_string(i) + Trace(m.GetTraceInfo(i));
            }
            return s;
        }
        case CEegEvent::etImpedance: {
            const auto& imp = static_cast<const CImpedanceEvent&>(e);
            s += "impedance ref " + Input(imp.GetRecordingRef());
            for (int i = 0; i < imp.GetImpInputDomain().GetSize(); ++i) {
                const AmpInputType in = imp.GetImpInputDomain().GetAt(i);
                s += " " + Input(in) + "=" + Num(imp.GetImpedanceData().GetImpedance(in));
            }
            return s;
        }
        case CEegEvent::etRecordingRef:
            return s + "recref " +
                   Input(static_cast<const CRecordingRefEvent&>(e).GetRecordingReference());
        case CEegEvent::etDataDeletion: {
            const auto& d = static_cast<const CDataDeletionEvent&>(e);
            return s + (d.IsDeletionStart() ? "hole start" : "hole end");
        }
        default:
            return s + "type " + std::to_string(e.GetEventType());
    }
}

inline std::vector<std::string> Describe(const CEegEventList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.GetSize(); ++i)
        out.push_back(Describe(*list.GetAt(i)));
    return out;
}

// An amplifier that stores these inputs (in this order).
inline CAmpHardwareInfo AmpStoring(const std::vector<AmpInputType>& inputs) {
    CAmpHardwareInfo amp;
    CAmpInputDomain d(inputs.data(), static_cast<int>(inputs.size()));
    d.SetNameTable(TRUE, 0);
    amp.SetInputDomain(d);
    return amp;
}

// A montage of one referential trace per stored input.
inline CEegMontage MontageOf(const std::vector<AmpInputType>& inputs) {
    CEegMontage m("Referential");
    for (size_t i = 0; i < inputs.size(); ++i)
        m.SetTraceInfo(static_cast<int>(i),
                       CTraceInfo(Input(inputs[i]).c_str(), inputs[i], AmpInput::Ref));
    return m;
}

// Seconds of 32-slot frames whose steps stay below 16, so that every storage mode
// keeps them exactly; every slot differs, stored or not.
inline std::vector<short> SmoothSeconds(int rate, int seconds, int seed) {
    std::vector<short> f(static_cast<size_t>(32) * rate * seconds);
    for (size_t i = 0; i < f.size() / 32; ++i) {
        for (int k = 0; k < 32; ++k)
            f[i * 32 + k] = static_cast<short>(std::lround(
                1000 * std::sin(0.013 * static_cast<double>(i) + k + seed) + 40 * k - 600));
    }
    return f;
}

// frames with the slots that are not stored set to 0.
inline std::vector<short> OnlyStored(std::vector<short> frames,
                                     const std::vector<AmpInputType>& inputs) {
    bool stored[32] = {};
    for (AmpInputType in : inputs)
        stored[CAmpHardwareInfo::GetAmpChannelIndex(in)] = true;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!stored[i % 32])
            frames[i] = 0;
    }
    return frames;
}

template <class F>
void ExpectDosError(F&& f, int code) {
    ExpectThrows<CDosFileException>(
        f, [code](CDosFileException& e) { EXPECT_EQ(e.GetErrorCode(), code); });
}

}  // namespace dostest
