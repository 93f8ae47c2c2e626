#include "EegFile/events/KeyPressEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CKeyPressEvent::currentSchema = EventFormat::kEventVersion;

void CKeyPressEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CKeyPressEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nPriority;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_nPriority;
    return 1;
}

CString CKeyPressEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idKeyPress);
}
