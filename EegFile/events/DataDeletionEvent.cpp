#include "EegFile/events/DataDeletionEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CDataDeletionEvent::currentSchema = EventFormat::kEventVersion;

void CDataDeletionEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CDataDeletionEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nStart << m_Other.GetSampleOffset();
        return 1;
    }
    if (version != 0)
        return 0;
    uint32_t other = 0;
    ar >> m_nStart >> other;
    m_Other.SetSampleOffset(other);
    return 1;
}

CString CDataDeletionEvent::AsString(const CEegFile* file) const {
    const CString label = LoadText(EventText::idDataDeletion);
    return EndText(file, label);
}
