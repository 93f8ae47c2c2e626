// CFlashRunEvent: a photic stimulation run. The two flags choose the event's text;
// the run number (negative: none) is shown 1-based. Operations take run number,
// flag A, flag B; the record stores them in field order (run, A, B).
#pragma once

#include "EegFile/events/EegEvent.h"

class CFlashRunEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CFlashRunEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, int run = -1,
                            int flagA = 0, int flagB = 0)
        : CEegEvent(etFlashRun, stamp) {
        InitFlashRun(run, flagA, flagB);
    }

    void InitFlashRun(int run, int flagA, int flagB) {
        m_nRun = run;
        m_nFlagA = flagA;
        m_nFlagB = flagB;
    }
    void GetFlashRunData(int& run, int& flagA, int& flagB) const {
        run = m_nRun;
        flagA = m_nFlagA;
        flagB = m_nFlagB;
    }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nFlagA = 0;
    int m_nFlagB = 0;
    int m_nRun = -1;
};
