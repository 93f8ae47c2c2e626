#include "EegFile/events/BookmarkEvent.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"

const WORD CBookmarkEvent::currentSchema = EventFormat::kEventVersion;

namespace {
constexpr uint32_t kDefaultLength = 100;  // samples, when the end given is unusable
}

CBookmarkEvent::CBookmarkEvent(CEegTimeStamp start, CEegTimeStamp end, const char* comment)
    : CEegEvent(etBookmark, start),
      m_EndStamp(end),
      m_dHighCut(GetDefaultHighCutDomain().GetDefault()),
      m_dLowCut(GetDefaultLowCutDomain().GetDefault()),
      m_dPaperSpeed(GetDefaultPaperSpeedDomain().GetDefault()),
      m_dSensitivity(GetDefaultSensitivityDomain().GetDefault()) {
    InitComment(comment);
}

CBookmarkEvent::CBookmarkEvent(const CBookmarkEvent& other)
    : CEegEvent(other),
      m_EndStamp(other.m_EndStamp),
      m_dHighCut(other.m_dHighCut),
      m_dLowCut(other.m_dLowCut),
      m_dPaperSpeed(other.m_dPaperSpeed),
      m_dSensitivity(other.m_dSensitivity),
      m_strComment(other.m_strComment) {
    if (other.GetOverrideMontage())
        m_Montage = other.m_Montage;
}

void CBookmarkEvent::SetEndStamp(CEegTimeStamp end) {
    if (end != CEegTimeStamp::NullStamp && end > m_TimeStamp) {
        m_EndStamp = end;
    } else {
        m_EndStamp = m_TimeStamp;
        m_EndStamp.Inc(kDefaultLength);
    }
}

void CBookmarkEvent::SetLinkedHighCut(double hz) {
    m_dHighCut = Validated(GetDefaultHighCutDomain(), hz);
}
void CBookmarkEvent::SetLinkedLowCut(double hz) {
    m_dLowCut = Validated(GetDefaultLowCutDomain(), hz);
}
void CBookmarkEvent::SetLinkedSens(double uvPerMm) {
    m_dSensitivity = Validated(GetDefaultSensitivityDomain(), uvPerMm);
}
void CBookmarkEvent::SetPaperSpeed(double mmPerS) {
    m_dPaperSpeed = Validated(GetDefaultPaperSpeedDomain(), mmPerS);
}

const CEegMontage* CBookmarkEvent::GetOverrideMontage() const {
    return m_Montage.GetChannelCount() != 0 ? &m_Montage : nullptr;
}

void CBookmarkEvent::SetOverrideMontage(const CEegMontage* montage) {
    if (montage) {
        m_Montage = *montage;
        return;
    }
    for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
        CTraceInfo trace = m_Montage.GetTraceInfo(i);
        if (trace.GetActInput() != AmpInput::NoInput) {
            trace.SetActInput(AmpInput::NoInput);
            m_Montage.SetTraceInfo(i, trace);
        }
    }
}

bool CBookmarkEvent::operator==(const CBookmarkEvent& other) const {
    if (m_TimeStamp != other.m_TimeStamp || m_EndStamp != other.m_EndStamp ||
        m_dHighCut != other.m_dHighCut || m_dLowCut != other.m_dLowCut ||
        m_dSensitivity != other.m_dSensitivity || m_dPaperSpeed != other.m_dPaperSpeed ||
        m_strComment != other.m_strComment) {
        return false;
    }
    const CEegMontage* right = other.GetOverrideMontage();
    return right ? m_Montage == *right : m_Montage.GetChannelCount() == 0;
}

void CBookmarkEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CBookmarkEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_EndStamp.GetSampleOffset() << m_strComment
           << (GetOverrideMontage() ? m_Montage.GetName() : CString());
        m_Montage.Serialize(ar);
        ar << m_dHighCut << m_dLowCut << m_dPaperSpeed << m_dSensitivity;
        return 1;
    }
    if (version != 0)
        return 0;
    uint32_t end = 0;
    CString name;
    ar >> end >> m_strComment >> name;
    m_EndStamp.SetSampleOffset(end);
    m_Montage.SetName(name);
    m_Montage.Serialize(ar);
    ar >> m_dHighCut >> m_dLowCut >> m_dPaperSpeed >> m_dSensitivity;
    return 1;
}

CString CBookmarkEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + m_strComment;
}
