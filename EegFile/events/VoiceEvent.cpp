#include "EegFile/events/VoiceEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CVoiceEvent::currentSchema = EventFormat::kEventVersion;

CVoiceEvent::CVoiceEvent(CEegTimeStamp stamp) : CVoiceEvent(stamp, -1, -1, 0, -1) {}

CVoiceEvent::CVoiceEvent(CEegTimeStamp stamp, int fileExtNum, int32_t startOffset, int32_t length,
                         int priority)
    : CEegEvent(etVoice, stamp),
      m_nFileExtNum(fileExtNum),
      m_lStartOffset(startOffset),
      m_lLength(length),
      m_nPriority(PriorityFromInt(priority)) {}

CVoiceEvent::CVoiceEvent(CEegTimeStamp stamp, int32_t startOffset, int32_t length, int priority)
    : CVoiceEvent(stamp, -1, startOffset, length, priority) {}

bool CVoiceEvent::operator==(const CVoiceEvent& other) const {
    return m_EventType == other.m_EventType && m_TimeStamp == other.m_TimeStamp &&
           m_nFileExtNum == other.m_nFileExtNum && m_lStartOffset == other.m_lStartOffset &&
           m_lLength == other.m_lLength && m_nPriority == other.m_nPriority;
}

void CVoiceEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CVoiceEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nFileExtNum << m_lStartOffset << m_lLength << m_nPriority;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_nFileExtNum >> m_lStartOffset >> m_lLength >> m_nPriority;
    return 1;
}

CString CVoiceEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file) + LoadText(EventText::idVoice);
}
