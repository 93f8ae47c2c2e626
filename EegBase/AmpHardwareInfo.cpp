#include "EegBase/AmpHardwareInfo.h"

#include <algorithm>

#include "EegBase/BaseFormat.h"

CAmpHardwareInfo::CAmpHardwareInfo()
    : m_inputDomain(GetDefaultActInputDomain()), m_refInputDomain(GetDefaultRecRefDomain()) {
    std::fill(std::begin(m_gains), std::end(m_gains), kDefaultGain);
}

int CAmpHardwareInfo::GetAmpChannelIndex(AmpInput::AmpInputType input) {
    if (AmpInput::IsJack(input))
        return input;
    if (AmpInput::IsDcInput(input))
        return AmpInput::DcToJack(input);
    return -1;
}

double CAmpHardwareInfo::GetInputGain(AmpInput::AmpInputType input) const {
    const int slot = GetAmpChannelIndex(input);
    return slot < 0 ? 0.0 : m_gains[slot];
}

BOOL CAmpHardwareInfo::SetInputGain(AmpInput::AmpInputType input, double gain) {
    const int slot = GetAmpChannelIndex(input);
    if (slot < 0)
        return FALSE;
    m_gains[slot] = gain;
    return TRUE;
}

void CAmpHardwareInfo::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kAmpHardwareInfoVersion);
        ar << static_cast<int32_t>(m_nAmplifierType)
           << static_cast<int32_t>(m_bActRefCanUseCommon ? 1 : 0);
        ar << m_dMaxHighCut << m_dMinLowCut;
        ar.WriteCount(kSlotCount);
        for (double g : m_gains)
            ar << g;
        m_inputDomain.Serialize(ar);
        m_refInputDomain.Serialize(ar);
        m_dcDomain.Serialize(ar);
        return;
    }
    LoadVersion(ar, kAmpHardwareInfoVersion);
    // Read into a fresh description so that a record that fails half way changes
    // nothing; slots beyond the stored gain count keep the default gain.
    CAmpHardwareInfo loaded;
    int32_t type, canUseCommon;
    ar >> type >> canUseCommon;
    loaded.m_nAmplifierType = type;
    loaded.m_bActRefCanUseCommon = canUseCommon != 0;
    ar >> loaded.m_dMaxHighCut >> loaded.m_dMinLowCut;
    const DWORD gains = LoadCount(ar, kSlotCount);
    for (DWORD i = 0; i < gains; ++i)
        ar >> loaded.m_gains[i];
    loaded.m_inputDomain.Serialize(ar);
    loaded.m_refInputDomain.Serialize(ar);
    loaded.m_dcDomain.Serialize(ar);
    *this = loaded;
}

bool CAmpHardwareInfo::operator==(const CAmpHardwareInfo& other) const {
    return m_nAmplifierType == other.m_nAmplifierType &&
           std::equal(std::begin(m_gains), std::end(m_gains), std::begin(other.m_gains)) &&
           m_dMaxHighCut == other.m_dMaxHighCut && m_dMinLowCut == other.m_dMinLowCut &&
           m_bActRefCanUseCommon == other.m_bActRefCanUseCommon &&
           m_inputDomain == other.m_inputDomain && m_refInputDomain == other.m_refInputDomain &&
           m_dcDomain == other.m_dcDomain;
}
