#include "EegFile/events/TimerEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CTimerEvent::currentSchema = EventFormat::kEventVersion;

void CTimerEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CTimerEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_uSeconds << m_nOn;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_uSeconds >> m_nOn;
    return 1;
}

CString CTimerEvent::AsString(const CEegFile* file) const {
    if (!m_nOn)
        return PositionPrefix(file) + LoadText(EventText::idTimerOff);
    CString value;
    value.Format("%02u:%02u:%02u", m_uSeconds / 3600, (m_uSeconds / 60) % 60, m_uSeconds % 60);
    return PositionPrefix(file) + LoadText(EventText::idTimerOn) + " " + value;
}
