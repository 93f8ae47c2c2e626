#include "EegFile/events/EegEvent.h"

int CEegEvent::IsParameterEvent() const {
    switch (m_EventType) {
        case etCalibrate:
        case etMontage:
        case etTraceInfo:
        case etLinkedHighcut:
        case etLinkedLowcut:
        case etLinkedSensitivity:
        case etSpeed:
            return 1;
        default:
            return 0;
    }
}

CString CEegEvent::PositionPrefix(const CEegFile* file) const {
    if (!file)
        return CString();
    return m_TimeStamp.FormatPosition(*file, 0) + " ";
}

CString CEegEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file);
}
