#include "EegFile/events/PersystEvent.h"

#include "EegFile/events/EventFormat.h"
#include "Platform/Locale.h"

const WORD CPersystEvent::currentSchema = EventFormat::kEventVersion;

namespace {
constexpr unsigned short kDefaultOrigin = 2;
constexpr unsigned short kCommentTypeCode = 4;
}  // namespace

CPersystEvent::CPersystEvent(CEegTimeStamp stamp)
    : CPersystEvent(EPersystType{0}, CString(), 0.0, kDefaultOrigin, 0, stamp) {}

CPersystEvent::CPersystEvent(EPersystType type, const CString& comment, CEegTimeStamp stamp)
    : CPersystEvent(type, comment, 0.0, kDefaultOrigin, kCommentTypeCode, stamp) {}

CPersystEvent::CPersystEvent(EPersystType type, const CString& comment, double duration,
                             CEegTimeStamp stamp)
    : CPersystEvent(type, comment, duration, kDefaultOrigin, 0, stamp) {}

CPersystEvent::CPersystEvent(EPersystType type, const CString& comment, double duration,
                             unsigned short origin, unsigned short typeCode, CEegTimeStamp stamp)
    : CEegEvent(etPersyst, stamp),
      m_Type(type),
      m_dDuration(duration),
      m_wOrigin(origin),
      m_wTypeCode(typeCode),
      m_strComment(NormaliseDecimals(comment)) {}

// The product writes numbers with the user's decimal separator; comments keep "."
// so they read the same on every station.
CString CPersystEvent::NormaliseDecimals(const CString& comment) {
    if (comment.IsEmpty())
        return comment;
    const CString separator = GetLocaleDecimalSeparator().Left(20);
    CString normalised = comment;
    if (!separator.IsEmpty() && separator != ".")
        normalised.Replace(separator, ".");
    return normalised;
}

void CPersystEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CPersystEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_Type << m_dDuration << m_wOrigin << m_wTypeCode << m_strComment;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_Type >> m_dDuration >> m_wOrigin >> m_wTypeCode >> m_strComment;
    m_bDeleted = false;
    return 1;
}

CString CPersystEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + m_strComment;
}
