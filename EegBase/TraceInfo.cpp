#include "EegBase/TraceInfo.h"

#include "EegBase/BaseFormat.h"
#include "EegBase/ValueDomain.h"

CTraceInfo::CTraceInfo()
    : m_dSensitivity(GetDefaultSensitivityDomain().GetDefault()),
      m_dHighCut(GetDefaultHighCutDomain().GetDefault()),
      m_dLowCut(GetDefaultLowCutDomain().GetDefault()) {}

CTraceInfo::CTraceInfo(const char* label, AmpInput::AmpInputType actInput,
                       AmpInput::AmpInputType refInput)
    : CTraceInfo() {
    m_strLabel = label;
    SetActInput(actInput);
    SetRefInput(refInput);
}

BOOL CTraceInfo::SetActInput(AmpInput::AmpInputType input) {
    if (input != AmpInput::NoInput && !AmpInput::IsInput(input))
        return FALSE;
    m_actInput = input;
    m_nAcFlag = AmpInput::IsJack(input) ? 1 : 0;
    return TRUE;
}

BOOL CTraceInfo::SetRefInput(AmpInput::AmpInputType input) {
    if (input != AmpInput::NoInput && !AmpInput::IsInput(input))
        return FALSE;
    m_refInput = input;
    return TRUE;
}

void CTraceInfo::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kTraceInfoVersion);
        ar << m_strLabel;
        StoreInput(ar, m_actInput);
        StoreInput(ar, m_refInput);
        ar << m_dSensitivity << m_dHighCut << m_dLowCut;
        ar << static_cast<int32_t>(m_nLinked) << static_cast<int32_t>(m_nColor);
        return;
    }
    LoadVersion(ar, kTraceInfoVersion);
    // Read into a copy so that a record that fails half way leaves this trace as it was.
    CTraceInfo t;
    ar >> t.m_strLabel;
    t.SetActInput(LoadInput(ar, true));
    t.SetRefInput(LoadInput(ar, true));
    ar >> t.m_dSensitivity >> t.m_dHighCut >> t.m_dLowCut;
    int32_t linked, color;
    ar >> linked >> color;
    t.m_nLinked = linked;
    t.m_nColor = color;
    *this = t;
}

bool CTraceInfo::operator==(const CTraceInfo& other) const {
    return m_strLabel == other.m_strLabel && m_actInput == other.m_actInput &&
           m_refInput == other.m_refInput && m_dSensitivity == other.m_dSensitivity &&
           m_dHighCut == other.m_dHighCut && m_dLowCut == other.m_dLowCut &&
           m_nLinked == other.m_nLinked && m_nColor == other.m_nColor;
}
