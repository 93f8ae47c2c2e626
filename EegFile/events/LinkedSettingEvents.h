// The linked (montage-wide) display settings that change as events: high cut, low
// cut, sensitivity and paper speed. Each holds one value that its domain limits:
// a value outside the domain takes the domain's default. The four differ only in
// their type, domain and label, so one template holds the logic and each class
// adds its own names.
#pragma once

#include "EegFile/events/EegEvent.h"
#include "EegFile/events/EventText.h"

// The record of each is the base part, then the value (8 bytes), read back as
// stored, without the domain check.
template <CEegEvent::EventType Type, const CValueDomain& (*Domain)(), UINT TextId>
class CLinkedValueEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

protected:
    CLinkedValueEvent(CEegTimeStamp stamp, double value) : CEegEvent(Type, stamp) {
        SetValue(value);
    }
    void SetValue(double value) { m_dValue = Validated(Domain(), value); }

    double m_dValue = 0.0;

private:
    int DoSerialize(CArchive& ar, WORD version);
};

namespace LinkedDomains {
// Plain functions, so the templates can take them as constant arguments.
const CValueDomain& HighCut();
const CValueDomain& LowCut();
const CValueDomain& Sensitivity();
const CValueDomain& PaperSpeed();
}  // namespace LinkedDomains

class CLinkedHighcutEvent
    : public CLinkedValueEvent<CEegEvent::etLinkedHighcut, LinkedDomains::HighCut,
                               EventText::idLinkedHighcut> {
public:
    explicit CLinkedHighcutEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double hz = 0.0)
        : CLinkedValueEvent(stamp, hz) {}
    void InitLinkedHighcut(double hz) { SetValue(hz); }
    double GetLinkedHighcut() const { return m_dValue; }
};

class CLinkedLowcutEvent
    : public CLinkedValueEvent<CEegEvent::etLinkedLowcut, LinkedDomains::LowCut,
                               EventText::idLinkedLowcut> {
public:
    explicit CLinkedLowcutEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double hz = 0.0)
        : CLinkedValueEvent(stamp, hz) {}
    void InitLinkedLowcut(double hz) { SetValue(hz); }
    double GetLinkedLowcut() const { return m_dValue; }
};

class CLinkedSensitivityEvent
    : public CLinkedValueEvent<CEegEvent::etLinkedSensitivity, LinkedDomains::Sensitivity,
                               EventText::idLinkedSensitivity> {
public:
    explicit CLinkedSensitivityEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                                     double uvPerMm = 0.0)
        : CLinkedValueEvent(stamp, uvPerMm) {}
    void InitLinkedSensitivity(double uvPerMm) { SetValue(uvPerMm); }
    double GetLinkedSensitivity() const { return m_dValue; }
};

class CSpeedEvent : public CLinkedValueEvent<CEegEvent::etSpeed, LinkedDomains::PaperSpeed,
                                             EventText::idPaperSpeed> {
public:
    explicit CSpeedEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double mmPerS = 0.0)
        : CLinkedValueEvent(stamp, mmPerS) {}
    void InitSpeed(double mmPerS) { SetValue(mmPerS); }
    double GetSpeed() const { return m_dValue; }
};
