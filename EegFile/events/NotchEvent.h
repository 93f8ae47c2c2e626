// CNotchEvent: the notch filter switched on (at a frequency) or off.
#pragma once

#include "EegFile/events/EegEvent.h"

class CNotchEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CNotchEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, int on = 0,
                         double frequency = 0.0)
        : CEegEvent(etNotch, stamp) {
        InitNotch(on, frequency);
    }

    // A frequency outside the notch domain takes its default; the flag is stored as given.
    void InitNotch(int on, double frequency);
    void GetNotchData(int& on, double& frequency) const {
        on = m_nOn;
        frequency = m_dFrequency;
    }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nOn = 0;
    double m_dFrequency = 0.0;
};
