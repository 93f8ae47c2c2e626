#include "EegFile/events/DataMarkDeleteEvent.h"

#include "EegFile/events/EventFormat.h"

const WORD CDataMarkDeleteEvent::currentSchema = EventFormat::kDataMarkDeleteVersion;

void CDataMarkDeleteEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CDataMarkDeleteEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_EndStamp.GetSampleOffset() << m_MarkType << m_strComment << m_wPriority;
        return 1;
    }
    if (version != EventFormat::kDataMarkDeleteVersion)
        return 0;
    uint32_t end = 0;
    ar >> end >> m_MarkType >> m_strComment >> m_wPriority;
    m_EndStamp.SetSampleOffset(end);
    return 1;
}
