#include "EegFile/events/BlockEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CBlockEvent::currentSchema = EventFormat::kEventVersion;

void CBlockEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CBlockEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return ar.IsStoring() || version == 0 ? 1 : 0;
}

CString CBlockEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idBlock);
}
