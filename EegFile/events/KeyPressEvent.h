// CKeyPressEvent: a key was pressed at this position.
#pragma once

#include <cstdint>

#include "EegFile/events/EegEvent.h"

class CKeyPressEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // A negative priority gives the domain's default, another its constrained value.
    CKeyPressEvent(CEegTimeStamp stamp, int priority)
        : CEegEvent(etKeyPress, stamp), m_nPriority(PriorityFromInt(priority)) {}
    CKeyPressEvent(const CKeyPressEvent&) = default;
    CKeyPressEvent& operator=(const CKeyPressEvent&) = delete;

    unsigned short GetPriority() const { return static_cast<unsigned short>(m_nPriority); }

    bool operator==(const CKeyPressEvent& other) const {
        return m_EventType == other.m_EventType && m_TimeStamp == other.m_TimeStamp &&
               m_nPriority == other.m_nPriority;
    }
    bool operator!=(const CKeyPressEvent& other) const { return !(*this == other); }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int32_t m_nPriority;
};
