#include "EegFile/events/TraceInfoEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CTraceInfoEvent::currentSchema = EventFormat::kEventVersion;

void CTraceInfoEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CTraceInfoEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    // The trace's record comes before the version is looked at, as it always has.
    m_TraceInfo.Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nChannel;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_nChannel;
    return 1;
}

CString CTraceInfoEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + m_TraceInfo.GetLabel() + " " + LoadText(EventText::idTraceInfo);
}
