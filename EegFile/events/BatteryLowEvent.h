// CBatteryLowEvent: a low-battery warning with the voltage measured (unchecked).
#pragma once

#include <cstdint>

#include "EegFile/events/EegEvent.h"

class CBatteryLowEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // A negative priority gives the domain's default, another its constrained value.
    CBatteryLowEvent(CEegTimeStamp stamp, double voltage, int priority)
        : CEegEvent(etBatteryLow, stamp),
          m_dVoltage(voltage),
          m_nPriority(PriorityFromInt(priority)) {}
    CBatteryLowEvent(const CBatteryLowEvent&) = default;
    CBatteryLowEvent& operator=(const CBatteryLowEvent&) = delete;

    double GetVoltage() const { return m_dVoltage; }
    void SetVoltage(double voltage) { m_dVoltage = voltage; }
    unsigned short GetPriority() const { return static_cast<unsigned short>(m_nPriority); }

    bool operator==(const CBatteryLowEvent& other) const {
        return m_EventType == other.m_EventType && m_TimeStamp == other.m_TimeStamp &&
               m_dVoltage == other.m_dVoltage && m_nPriority == other.m_nPriority;
    }
    bool operator!=(const CBatteryLowEvent& other) const { return !(*this == other); }

    void Serialize(CArchive& ar) override;
    // The string-table text used as a format with the voltage.
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    double m_dVoltage;
    int32_t m_nPriority;
};
