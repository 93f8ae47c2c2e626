// CFlashRateEvent: the photic stimulation frequency changed (stored unchecked).
#pragma once

#include "EegFile/events/EegEvent.h"

class CFlashRateEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CFlashRateEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, double hz = 0.0)
        : CEegEvent(etFlashRate, stamp), m_dRate(hz) {}

    void InitFlashRate(double hz) { m_dRate = hz; }
    double GetFlashRateData() const { return m_dRate; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    double m_dRate;
};
