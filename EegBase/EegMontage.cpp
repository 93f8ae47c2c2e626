#include "EegBase/EegMontage.h"

#include "EegBase/BaseFormat.h"

int CEegMontage::GetChannelCount() const {
    int count = 0;
    for (const CTraceInfo& t : m_traces) {
        if (t.HasActInput())
            ++count;
    }
    return count;
}

const CTraceInfo& CEegMontage::GetTraceInfo(int index) const {
    static const CTraceInfo kEmpty;
    if (index < 0 || index >= kMaxTraces)
        return kEmpty;
    return m_traces[index];
}

BOOL CEegMontage::SetTraceInfo(int index, const CTraceInfo& trace) {
    if (index < 0 || index >= kMaxTraces)
        return FALSE;
    m_traces[index] = trace;
    return TRUE;
}

void CEegMontage::SetAvgRef(const CAverageReference* avgRef) {
    if (avgRef) {
        m_avgRef = *avgRef;
    } else {
        m_avgRef.reset();
    }
}

void CEegMontage::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kMontageVersion);
        ar << m_strName;
        ar.WriteCount(kMaxTraces);
        for (CTraceInfo& t : m_traces)
            t.Serialize(ar);
        StoreByteFlag(ar, m_avgRef.has_value());
        if (m_avgRef)
            m_avgRef->Serialize(ar);
        return;
    }
    LoadVersion(ar, kMontageVersion);
    // Read into a fresh montage so that a record that fails half way changes nothing;
    // positions beyond the stored count stay empty.
    CEegMontage loaded;
    ar >> loaded.m_strName;
    const DWORD count = LoadCount(ar, kMaxTraces);
    for (DWORD i = 0; i < count; ++i)
        loaded.m_traces[i].Serialize(ar);
    if (LoadByteFlag(ar)) {
        loaded.m_avgRef.emplace();
        loaded.m_avgRef->Serialize(ar);
    }
    *this = loaded;
}

bool CEegMontage::operator==(const CEegMontage& other) const {
    if (m_strName != other.m_strName || m_avgRef != other.m_avgRef)
        return false;
    for (int i = 0; i < kMaxTraces; ++i) {
        if (m_traces[i] != other.m_traces[i])
            return false;
    }
    return true;
}
