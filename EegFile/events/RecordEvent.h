// CRecordEvent: recording starts (or resumes) or stops here, with the wall-clock time.
#pragma once

#include "EegFile/events/EegEvent.h"
#include "EegFile/frame/TKTime.h"

class CRecordEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // Without a time the time field holds the current system time, and the event
    // has no time.
    explicit CRecordEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, int recording = 0,
                          const CTKTime* time = nullptr);

    // Has-time becomes whether time is given; without one the time field is kept.
    void InitRecord(int recording, const CTKTime* time);
    // Copies the flag and the time; returns has-time.
    int GetRecordData(int& recording, CTKTime& time) const;

    // The record holds no has-time flag: loading marks the time present when the
    // stored time is a date (year not 0), since time-of-day queries use it.
    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nRecording = 0;
    int m_nHasTime = 0;
    CTKTime m_Time;
};
