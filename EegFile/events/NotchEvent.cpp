#include "EegFile/events/NotchEvent.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CNotchEvent::currentSchema = EventFormat::kEventVersion;

void CNotchEvent::InitNotch(int on, double frequency) {
    m_nOn = on;
    m_dFrequency = Validated(GetDefaultNotchFrequencyDomain(), frequency);
}

void CNotchEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CNotchEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nOn << m_dFrequency;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_nOn >> m_dFrequency;
    return 1;
}

CString CNotchEvent::AsString(const CEegFile* file) const {
    if (!m_nOn)
        return PositionPrefix(file) + LoadText(EventText::idNotchOff);
    return PositionPrefix(file) + GetDefaultNotchFrequencyDomain().Format(m_dFrequency) + " " +
           LoadText(EventText::idNotchOn);
}
