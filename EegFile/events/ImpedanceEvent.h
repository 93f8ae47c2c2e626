// CImpedanceEvent: an impedance measurement: the readings, the inputs it covers
// and the recording reference in use. Owns its input domain; not copyable.
#pragma once

#include "EegBase/AmpInput.h"
#include "EegBase/AmpInputDomain.h"
#include "EegBase/ImpedanceValues.h"
#include "EegFile/events/EegEvent.h"

class CImpedanceEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // Copies what is given; the input domain is empty otherwise.
    explicit CImpedanceEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                             const CImpedanceValues* values = nullptr,
                             const CAmpInputDomain* inputs = nullptr,
                             AmpInput::AmpInputType recRef = AmpInput::NoInput);
    CImpedanceEvent(const CImpedanceEvent&) = delete;
    CImpedanceEvent& operator=(const CImpedanceEvent&) = delete;

    void InitImpedance(const CImpedanceValues& values, const CAmpInputDomain& inputs,
                       AmpInput::AmpInputType recRef);
    const CImpedanceValues& GetImpedanceData() const { return m_Values; }
    const CAmpInputDomain& GetImpInputDomain() const { return m_Inputs; }
    AmpInput::AmpInputType GetRecordingRef() const { return m_RecRef; }

    // Version 0 records hold the readings only: the reference becomes none and the
    // inputs the default active-input domain.
    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    CImpedanceValues m_Values;
    CAmpInputDomain m_Inputs;
    AmpInput::AmpInputType m_RecRef = AmpInput::NoInput;
};
