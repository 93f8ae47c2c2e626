// CEegEvent: the base of every event: its type (the class's identity in masks,
// archives and MakeEvent) and the sample position it stands at.
#pragma once

#include "EegFile/frame/EegTimeStamp.h"
#include "Platform/Object.h"
#include "Platform/String.h"

class CEegFile;

class CEegEvent : public CObject {
public:
    enum EventType : int {
        etRecord = 0,
        etCalibrate = 1,
        etImpedance = 2,
        etRecordingRef = 3,
        etMontage = 4,
        etTraceInfo = 5,
        etNotch = 6,
        etLinkedHighcut = 7,
        etLinkedLowcut = 8,
        etLinkedSensitivity = 9,
        etSpeed = 10,
        etBlock = 11,
        etComment = 12,
        etUser = 13,
        etFlashRate = 14,
        etFlashRun = 15,
        etTimer = 16,
        etDataDeletion = 17,
        etDataSegmentMark = 18,
        etAddOn = 19,
        etAnalysis = 20,
        etBookmark = 21,
        etDataMarkDelete = 22,
        etSystem = 23,
        etVoice = 24,
        etKeyPress = 25,
        etBatteryLow = 26,
        etPersyst = 27,
        etNone = 28,
    };

    explicit CEegEvent(EventType type = etNone, CEegTimeStamp stamp = CEegTimeStamp::NullStamp)
        : m_EventType(type), m_TimeStamp(stamp) {}
    ~CEegEvent() override = default;

    EventType GetEventType() const { return m_EventType; }
    const CEegTimeStamp& GetTimeStamp() const { return m_TimeStamp; }
    // Montage, trace, calibration, linked filter, sensitivity and speed changes.
    int IsParameterEvent() const;

    // One line of display text; the base gives the position prefix alone.
    virtual CString AsString(const CEegFile* file) const;

protected:
    // The position prefix of display text: "hh:mm:ss " with a file, else empty.
    CString PositionPrefix(const CEegFile* file) const;

    EventType m_EventType;
    CEegTimeStamp m_TimeStamp;
};
