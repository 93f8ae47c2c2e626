#include "EegFile/events/ImpedanceEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CImpedanceEvent::currentSchema = EventFormat::kImpedanceVersion;

CImpedanceEvent::CImpedanceEvent(CEegTimeStamp stamp, const CImpedanceValues* values,
                                 const CAmpInputDomain* inputs, AmpInput::AmpInputType recRef)
    : CEegEvent(etImpedance, stamp), m_Inputs(nullptr, 0), m_RecRef(recRef) {
    if (values)
        m_Values = *values;
    if (inputs)
        m_Inputs = *inputs;
}

void CImpedanceEvent::InitImpedance(const CImpedanceValues& values, const CAmpInputDomain& inputs,
                                    AmpInput::AmpInputType recRef) {
    m_Values = values;
    m_Inputs = inputs;
    m_RecRef = recRef;
}

void CImpedanceEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CImpedanceEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        m_Values.Serialize(ar);
        ar << m_RecRef;
        m_Inputs.Serialize(ar);
        return 1;
    }
    if (version == 1) {
        m_Values.Serialize(ar);
        ar >> m_RecRef;
        m_Inputs.Serialize(ar);
        return 1;
    }
    if (version == 0) {
        m_Values.Serialize(ar);
        m_RecRef = AmpInput::NoInput;
        m_Inputs = GetDefaultActInputDomain();
        return 1;
    }
    return 0;
}

CString CImpedanceEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idImpedance);
}
