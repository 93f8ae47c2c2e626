#include "EegFile/events/BatteryLowEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CBatteryLowEvent::currentSchema = EventFormat::kEventVersion;

void CBatteryLowEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CBatteryLowEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_dVoltage << m_nPriority;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_dVoltage >> m_nPriority;
    return 1;
}

CString CBatteryLowEvent::AsString(const CEegFile* file) const {
    CString text;
    text.FormatDynamic(LoadText(EventText::idBatteryLow), m_dVoltage);
    return PositionPrefix(file) + text;
}
