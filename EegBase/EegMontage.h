// CEegMontage: a named arrangement of up to 32 traces (positions 0-31) with an
// optional average reference. A position whose trace has no active input is
// empty; the channel count is the number of positions that are not.
#pragma once

#include <optional>

#include "EegBase/AverageReference.h"
#include "EegBase/TraceInfo.h"
#include "Platform/Object.h"
#include "Platform/String.h"

class CEegMontage : public CObject {
public:
    static constexpr int kMaxTraces = 32;

    // No name, every position empty, no average reference.
    CEegMontage() = default;
    explicit CEegMontage(const char* name) : m_strName(name) {}

    const CString& GetName() const { return m_strName; }
    void SetName(const char* name) { m_strName = name; }

    // Positions whose trace has an active input.
    int GetChannelCount() const;

    // The trace at position index; outside 0-31 an empty trace.
    const CTraceInfo& GetTraceInfo(int index) const;
    // Replaces the trace at position index; outside 0-31 nothing is set (FALSE).
    BOOL SetTraceInfo(int index, const CTraceInfo& trace);

    // NULL when the montage has none.
    const CAverageReference* GetAvgRef() const { return m_avgRef ? &*m_avgRef : nullptr; }
    // Copies avgRef; NULL removes the average reference.
    void SetAvgRef(const CAverageReference* avgRef);
    void SetAvgRef(const CAverageReference& avgRef) { m_avgRef = avgRef; }

    void Serialize(CArchive& ar) override;

    // Whole montages: name, the 32 traces and the average reference (or its absence).
    bool operator==(const CEegMontage& other) const;
    bool operator!=(const CEegMontage& other) const { return !(*this == other); }

private:
    CString m_strName;
    CTraceInfo m_traces[kMaxTraces];
    std::optional<CAverageReference> m_avgRef;
};
