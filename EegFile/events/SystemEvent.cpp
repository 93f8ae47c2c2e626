#include "EegFile/events/SystemEvent.h"

#include "EegFile/events/EventFormat.h"

const WORD CSystemEvent::currentSchema = EventFormat::kEventVersion;

void CSystemEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CSystemEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_strComment;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_strComment;
    return 1;
}

CString CSystemEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + m_strComment;
}
