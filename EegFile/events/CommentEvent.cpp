#include "EegFile/events/CommentEvent.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"

const WORD CCommentEvent::currentSchema = EventFormat::kEventVersion;
const WORD CUserEvent::currentSchema = EventFormat::kEventVersion;

CAnnotationEvent::CAnnotationEvent(EventType type, CEegTimeStamp stamp, const char* text,
                                   short priority)
    : CEegEvent(type, stamp), m_strText(text ? text : "") {
    if (priority >= 0) {
        SetPriority(static_cast<unsigned short>(priority));
    } else {
        m_wPriority = static_cast<unsigned short>(
            static_cast<long>(GetDefaultEventPriorityDomain().GetDefault()) & 0xFFFF);
    }
}

unsigned short CAnnotationEvent::SetPriority(unsigned short priority) {
    const double constrained = GetDefaultEventPriorityDomain().Constrain(priority);
    m_wPriority = static_cast<unsigned short>(static_cast<long>(constrained) & 0xFFFF);
    return m_wPriority;
}

int CAnnotationEvent::SerializeFields(CArchive& ar, WORD version) {
    if (ar.IsStoring()) {
        ar << m_wPriority << m_strText;
        return 1;
    }
    if (version != 0)
        return 0;
    unsigned short priority = 0;
    ar >> priority >> m_strText;
    SetPriority(priority);
    return 1;
}

CString CAnnotationEvent::AsString(const CEegFile* file) const {
    CString text = PositionPrefix(file);
    if (m_nFormatPriority)
        text += GetDefaultEventPriorityDomain().Format(m_wPriority) + " ";
    return text + m_strText;
}

void CCommentEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CCommentEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return SerializeFields(ar, version);
}

void CUserEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CUserEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    return SerializeFields(ar, version);
}
