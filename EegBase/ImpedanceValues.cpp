#include "EegBase/ImpedanceValues.h"

#include <algorithm>

#include "EegBase/BaseFormat.h"

void CImpedanceValues::Reset() {
    std::fill(std::begin(m_values), std::end(m_values), kNotMeasured);
}

double CImpedanceValues::GetImpedance(AmpInput::AmpInputType input) const {
    if (input < 0 || input >= kInputCount)
        return kNotMeasured;
    return m_values[input];
}

BOOL CImpedanceValues::SetImpedance(AmpInput::AmpInputType input, double kOhm) {
    if (input < 0 || input >= kInputCount)
        return FALSE;
    m_values[input] = kOhm;
    return TRUE;
}

int CImpedanceValues::GetMeasuredCount() const {
    return static_cast<int>(
        std::count_if(std::begin(m_values), std::end(m_values), [](double v) { return v > 0.0; }));
}

void CImpedanceValues::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kImpedanceValuesVersion);
        ar.WriteCount(kInputCount);
        for (double v : m_values)
            ar << v;
        return;
    }
    LoadVersion(ar, kImpedanceValuesVersion);
    // Inputs beyond the stored count were not measured.
    CImpedanceValues loaded;
    const DWORD count = LoadCount(ar, kInputCount);
    for (DWORD i = 0; i < count; ++i)
        ar >> loaded.m_values[i];
    *this = loaded;
}

bool CImpedanceValues::operator==(const CImpedanceValues& other) const {
    return std::equal(std::begin(m_values), std::end(m_values), std::begin(other.m_values));
}
