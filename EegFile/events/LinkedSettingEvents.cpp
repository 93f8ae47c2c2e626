#include "EegFile/events/LinkedSettingEvents.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

namespace LinkedDomains {
const CValueDomain& HighCut() {
    return GetDefaultHighCutDomain();
}
const CValueDomain& LowCut() {
    return GetDefaultLowCutDomain();
}
const CValueDomain& Sensitivity() {
    return GetDefaultSensitivityDomain();
}
// The paper speed's text is FormatWithUnits, which is the domain's Format.
const CValueDomain& PaperSpeed() {
    return GetDefaultPaperSpeedDomain();
}
}  // namespace LinkedDomains

template <CEegEvent::EventType Type, const CValueDomain& (*Domain)(), UINT TextId>
const WORD CLinkedValueEvent<Type, Domain, TextId>::currentSchema = EventFormat::kEventVersion;

template <CEegEvent::EventType Type, const CValueDomain& (*Domain)(), UINT TextId>
void CLinkedValueEvent<Type, Domain, TextId>::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

template <CEegEvent::EventType Type, const CValueDomain& (*Domain)(), UINT TextId>
int CLinkedValueEvent<Type, Domain, TextId>::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_dValue;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_dValue;
    return 1;
}

template <CEegEvent::EventType Type, const CValueDomain& (*Domain)(), UINT TextId>
CString CLinkedValueEvent<Type, Domain, TextId>::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(TextId) + " " + Domain().Format(m_dValue);
}

template class CLinkedValueEvent<CEegEvent::etLinkedHighcut, LinkedDomains::HighCut,
                                 EventText::idLinkedHighcut>;
template class CLinkedValueEvent<CEegEvent::etLinkedLowcut, LinkedDomains::LowCut,
                                 EventText::idLinkedLowcut>;
template class CLinkedValueEvent<CEegEvent::etLinkedSensitivity, LinkedDomains::Sensitivity,
                                 EventText::idLinkedSensitivity>;
template class CLinkedValueEvent<CEegEvent::etSpeed, LinkedDomains::PaperSpeed,
                                 EventText::idPaperSpeed>;
