// CTimerEvent: a timer switched on (with its value in seconds) or off.
#pragma once

#include "EegFile/events/EegEvent.h"

class CTimerEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CTimerEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, int on = 0,
                         unsigned int seconds = 0)
        : CEegEvent(etTimer, stamp), m_nOn(on), m_uSeconds(seconds) {}

    void InitTimer(int on, unsigned int seconds) {
        m_nOn = on;
        m_uSeconds = seconds;
    }
    void GetTimerData(int& on, unsigned int& seconds) const {
        on = m_nOn;
        seconds = m_uSeconds;
    }

    void Serialize(CArchive& ar) override;
    // "hh:mm:ss" of the seconds when on; hours are not wrapped.
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nOn;
    uint32_t m_uSeconds;
};
