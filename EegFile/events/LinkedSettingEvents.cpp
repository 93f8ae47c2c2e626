#include "EegFile/events/LinkedSettingEvents.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

namespace {

// The record of a one-value event: the base part, then the value (8), read back
// as stored, without the domain check.
int SerializeValue(CArchive& ar, WORD version, double& value) {
    if (ar.IsStoring()) {
        ar << value;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> value;
    return 1;
}

}  // namespace

const WORD CLinkedHighcutEvent::currentSchema = EventFormat::kEventVersion;
const WORD CLinkedLowcutEvent::currentSchema = EventFormat::kEventVersion;
const WORD CLinkedSensitivityEvent::currentSchema = EventFormat::kEventVersion;
const WORD CSpeedEvent::currentSchema = EventFormat::kEventVersion;

void CLinkedHighcutEvent::InitLinkedHighcut(double hz) {
    m_dValue = Validated(GetDefaultHighCutDomain(), hz);
}
void CLinkedLowcutEvent::InitLinkedLowcut(double hz) {
    m_dValue = Validated(GetDefaultLowCutDomain(), hz);
}
void CLinkedSensitivityEvent::InitLinkedSensitivity(double uvPerMm) {
    m_dValue = Validated(GetDefaultSensitivityDomain(), uvPerMm);
}
void CSpeedEvent::InitSpeed(double mmPerS) {
    m_dValue = Validated(GetDefaultPaperSpeedDomain(), mmPerS);
}

void CLinkedHighcutEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}
void CLinkedLowcutEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}
void CLinkedSensitivityEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}
void CSpeedEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CLinkedHighcutEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return SerializeValue(ar, version, m_dValue);
}
int CLinkedLowcutEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return SerializeValue(ar, version, m_dValue);
}
int CLinkedSensitivityEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return SerializeValue(ar, version, m_dValue);
}
int CSpeedEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return SerializeValue(ar, version, m_dValue);
}

CString CLinkedHighcutEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idLinkedHighcut) + " " +
           GetDefaultHighCutDomain().Format(m_dValue);
}
CString CLinkedLowcutEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idLinkedLowcut) + " " +
           GetDefaultLowCutDomain().Format(m_dValue);
}
CString CLinkedSensitivityEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idLinkedSensitivity) + " " +
           GetDefaultSensitivityDomain().Format(m_dValue);
}
CString CSpeedEvent::AsString(const CEegFile* file) const {
    const CPaperSpeedDomain domain(GetDefaultPaperSpeedDomain());
    return PositionPrefix(file) + LoadText(EventText::idPaperSpeed) + " " +
           domain.FormatWithUnits(m_dValue);
}
