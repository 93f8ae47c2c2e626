#include "EegFile/events/DataSegmentMarkEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CDataSegmentMarkEvent::currentSchema = EventFormat::kEventVersion;

void CDataSegmentMarkEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CDataSegmentMarkEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nDelete << m_nStart << m_Other.GetSampleOffset();
        return 1;
    }
    if (version != 0)
        return 0;
    uint32_t other = 0;
    ar >> m_nDelete >> m_nStart >> other;
    m_Other.SetSampleOffset(other);
    return 1;
}

CString CDataSegmentMarkEvent::AsString(const CEegFile* file) const {
    const CString label =
        LoadText(m_nDelete ? EventText::idDeleteSegment : EventText::idSaveSegment);
    return EndText(file, label);
}
