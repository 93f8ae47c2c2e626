#include "EegFile/events/FlashRateEvent.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CFlashRateEvent::currentSchema = EventFormat::kEventVersion;

void CFlashRateEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CFlashRateEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_dRate;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_dRate;
    return 1;
}

CString CFlashRateEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idFlashRate) + " " +
           GetDefaultFlashFrequencyDomain().Format(m_dRate, 4, 1);
}
