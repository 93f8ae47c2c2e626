#include "EegFile/events/MontageEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CMontageEvent::currentSchema = EventFormat::kEventVersion;

void CMontageEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CMontageEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    // The montage's record comes before the version is looked at, as it always has.
    m_Montage.Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_Montage.GetName();
        return 1;
    }
    if (version != 0)
        return 0;
    CString name;
    ar >> name;
    m_Montage.SetName(name);
    return 1;
}

CString CMontageEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idMontage) + " " + m_Montage.GetName();
}
