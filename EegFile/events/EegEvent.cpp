#include "EegFile/events/EegEvent.h"

#include <new>

#include "EegBase/ValueDomain.h"
#include "EegFile/events/Events.h"
#include "EegFile/events/EventFormat.h"
#include "Platform/Archive.h"

const WORD CEegEvent::currentSchema = EventFormat::kEventVersion;

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

CEegEvent* CEegEvent::MakeEvent(EventType type, CEegTimeStamp stamp) {
    const CEegTimeStamp null = CEegTimeStamp::NullStamp;
    switch (type) {
        case etRecord:
            return new (std::nothrow) CRecordEvent(stamp, 0, nullptr);
        case etCalibrate:
            return new (std::nothrow) CCalibrateEvent(stamp, 0, 0.0, 0.0);
        case etImpedance:
            return new (std::nothrow) CImpedanceEvent(stamp, nullptr, nullptr, AmpInput::NoInput);
        case etRecordingRef:
            return new (std::nothrow) CRecordingRefEvent(stamp, AmpInput::NoInput);
        case etMontage:
            return new (std::nothrow) CMontageEvent(stamp, nullptr);
        case etTraceInfo:
            return new (std::nothrow) CTraceInfoEvent(stamp, 0, nullptr);
        case etNotch:
            return new (std::nothrow) CNotchEvent(stamp, 0, 0.0);
        case etLinkedHighcut:
            return new (std::nothrow) CLinkedHighcutEvent(stamp, 0.0);
        case etLinkedLowcut:
            return new (std::nothrow) CLinkedLowcutEvent(stamp, 0.0);
        case etLinkedSensitivity:
            return new (std::nothrow) CLinkedSensitivityEvent(stamp, 0.0);
        case etSpeed:
            return new (std::nothrow) CSpeedEvent(stamp, 0.0);
        case etBlock:
            return new (std::nothrow) CBlockEvent(stamp);
        case etComment:
            return new (std::nothrow) CCommentEvent(stamp, nullptr, -1);
        case etUser:
            return new (std::nothrow) CUserEvent(stamp, nullptr, -1);
        case etFlashRate:
            return new (std::nothrow) CFlashRateEvent(stamp, 0.0);
        case etFlashRun:
            return new (std::nothrow) CFlashRunEvent(stamp, -1, 0, 0);
        case etTimer:
            return new (std::nothrow) CTimerEvent(stamp, 0, 0);
        case etDataDeletion:
            return new (std::nothrow) CDataDeletionEvent(stamp, null, 1);
        case etDataSegmentMark:
            return new (std::nothrow) CDataSegmentMarkEvent(stamp, null, 1, 1);
        case etAddOn:
            return new (std::nothrow) CAddOnEvent(stamp, 0xFFFF);
        case etAnalysis:
            return new (std::nothrow) CAnalysisEvent(stamp, 0xFFFF);
        case etBookmark:
            return new (std::nothrow) CBookmarkEvent(stamp, null, nullptr);
        case etDataMarkDelete:
            return new (std::nothrow) CDataMarkDeleteEvent(stamp);
        case etSystem:
            return new (std::nothrow) CSystemEvent(stamp);
        case etVoice:
            return new (std::nothrow) CVoiceEvent(stamp);
        case etKeyPress:
            return new (std::nothrow) CKeyPressEvent(stamp, 5);
        case etBatteryLow:
            return new (std::nothrow) CBatteryLowEvent(stamp, 0.0, 5);
        case etPersyst:
            return new (std::nothrow) CPersystEvent(stamp);
        default:
            return nullptr;
    }
}

void CEegEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CEegEvent::DoSerialize(CArchive& ar, WORD version) {
    if (ar.IsStoring()) {
        ar << static_cast<int32_t>(m_EventType) << m_TimeStamp.GetSampleOffset();
        return 1;
    }
    if (version != EventFormat::kEventVersion)
        return 0;
    int32_t type = 0;
    uint32_t offset = 0;
    ar >> type >> offset;
    // The list's type word chose the class; a record type that names another
    // class is not taken, since every reader trusts an event's type to name its
    // class. The entry loads with its class's type, and so does the rest of
    // the list.
    (void)type;
    m_TimeStamp.SetSampleOffset(offset);
    return 1;
}

CString CEegEvent::PositionPrefix(const CEegFile* file) const {
    if (!file)
        return CString();
    return m_TimeStamp.FormatPosition(*file, 0) + " ";
}

CString CEegEvent::LoadText(UINT id) {
    CString text;
    text.LoadString(id);
    return text;
}

double CEegEvent::Validated(const CValueDomain& domain, double v) {
    return domain.IsValid(v) ? v : domain.GetDefault();
}

int CEegEvent::PriorityFromInt(int priority) {
    const CValueDomain& domain = GetDefaultEventPriorityDomain();
    return static_cast<int>(priority < 0 ? domain.GetDefault() : domain.Constrain(priority));
}

CString CEegEvent::AsString(const CEegFile* file) const {
    return PositionPrefix(file);
}
