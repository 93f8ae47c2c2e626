#include "EegFile/events/RecordingRefEvent.h"

#include "EegBase/AmpInputDomain.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CRecordingRefEvent::currentSchema = EventFormat::kEventVersion;

void CRecordingRefEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CRecordingRefEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_RecRef;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_RecRef;
    return 1;
}

CString CRecordingRefEvent::AsString(const CEegFile* file) const {
    const CAmpInputDomain& domain = GetDefaultRecRefDomain();
    CString jack;
    if (domain.HasNameTable())
        jack = domain.GetJackName(m_RecRef);
    if (jack.IsEmpty())
        jack.Format("%d", static_cast<int>(m_RecRef));
    const int width = domain.GetNameWidth();
    const int pad = (width < 0 ? -width : width) - jack.GetLength();
    if (pad > 0)
        jack = width > 0 ? CString(' ', pad) + jack : jack + CString(' ', pad);
    return PositionPrefix(file) + LoadText(EventText::idRecordingRef) + " " + jack;
}
