// CImpedanceValues: one impedance reading (kOhm) per measurable input: the jacks
// 0-31, Gnd, CRef and 1R-8R (input codes 0-41). An input that was not measured
// holds kNotMeasured; a reading counts as measured when it is above 0.
#pragma once

#include "EegBase/AmpInput.h"
#include "Platform/Object.h"

class CImpedanceValues : public CObject {
public:
    static constexpr int kInputCount = AmpInput::In8R + 1;  // codes 0-41
    static constexpr double kNotMeasured = -1.0;

    // Every input not measured.
    CImpedanceValues() { Reset(); }

    void Reset();
    // kNotMeasured for an input outside 0-41.
    double GetImpedance(AmpInput::AmpInputType input) const;
    // FALSE (nothing set) for an input outside 0-41.
    BOOL SetImpedance(AmpInput::AmpInputType input, double kOhm);
    BOOL IsMeasured(AmpInput::AmpInputType input) const { return GetImpedance(input) > 0.0; }
    int GetMeasuredCount() const;

    void Serialize(CArchive& ar) override;

    bool operator==(const CImpedanceValues& other) const;
    bool operator!=(const CImpedanceValues& other) const { return !(*this == other); }

private:
    double m_values[kInputCount];
};
