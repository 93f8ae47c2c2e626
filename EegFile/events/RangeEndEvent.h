// CRangeEndEvent: what the two halves of a marked or deleted range share. Each
// half stands at its own end and carries the position of the other.
#pragma once

#include "EegFile/events/EegEvent.h"

class CRangeEndEvent : public CEegEvent {
public:
    CEegTimeStamp GetStartTimeStamp() const { return m_nStart ? m_TimeStamp : m_Other; }
    CEegTimeStamp GetEndTimeStamp() const { return m_nStart ? m_Other : m_TimeStamp; }

protected:
    CRangeEndEvent(EventType type, const CEegTimeStamp& own, const CEegTimeStamp& other,
                   int isStart)
        : CEegEvent(type, own), m_nStart(isStart), m_Other(other) {}

    void SetEnds(const CEegTimeStamp& other, int isStart) {
        m_Other = other;
        m_nStart = isStart;
    }
    // "label ->" at the start, "<- label" at the end, after the position.
    CString EndText(const CEegFile* file, const CString& label) const {
        return PositionPrefix(file) + (m_nStart ? label + " ->" : "<- " + label);
    }

    int m_nStart;
    CEegTimeStamp m_Other;
};
