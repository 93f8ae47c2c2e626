// CCalibrateEvent: the calibration signal switched on (with its amplitude and
// frequency) or off.
#pragma once

#include "EegFile/events/EegEvent.h"

class CCalibrateEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CCalibrateEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, int on = 0,
                             double amplitude = 0.0, double frequency = 0.0);

    // Amplitude and frequency each outside their domain take its default; the flag
    // is stored as given.
    void InitCalibrate(int on, double amplitude, double frequency);
    void GetCalibrateData(int& on, double& amplitude, double& frequency) const;

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nOn = 0;
    double m_dAmplitude = 0.0;
    double m_dFrequency = 0.0;
};
