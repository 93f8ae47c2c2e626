#include "EegFile/events/FlashRunEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CFlashRunEvent::currentSchema = EventFormat::kEventVersion;

void CFlashRunEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CFlashRunEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nRun << m_nFlagA << m_nFlagB;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_nRun >> m_nFlagA >> m_nFlagB;
    return 1;
}

CString CFlashRunEvent::AsString(const CEegFile* file) const {
    using namespace EventText;
    CString label;
    if (m_nFlagB) {
        label = LoadText(m_nFlagA ? idFlashRunBStart : idFlashRunBEnd);
    } else if (m_nFlagA) {
        if (m_nRun >= 0) {
            // A stored run number may be the largest int; 1-based it wraps, as an
            // int sum would, rather than overflow.
            const int shown = static_cast<int>(static_cast<unsigned>(m_nRun) + 1u);
            label.FormatDynamic(LoadText(idFlashRunNumber), shown);
        } else {
            label = LoadText(idFlashRun);
        }
    } else {
        label = LoadText(m_nRun < 0 ? idFlashStop : idFlashStopNumber);
    }
    return PositionPrefix(file) + label;
}
