#include "EegFile/events/CommentEvent.h"

#include "EegBase/ValueDomain.h"

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
