// CEegEvent: the base of every event: its type (the class's identity in masks,
// archives and MakeEvent) and the sample position it stands at. Events are plain
// heap objects; whoever keeps the lists that hold them deletes them.
#pragma once

#include "EegFile/frame/EegTimeStamp.h"
#include "Platform/Object.h"
#include "Platform/String.h"
#include "Platform/Types.h"

class CArchive;
class CEegFile;
class CValueDomain;

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

    static const WORD currentSchema;

    explicit CEegEvent(EventType type = etNone, CEegTimeStamp stamp = CEegTimeStamp::NullStamp)
        : m_EventType(type), m_TimeStamp(stamp) {}
    ~CEegEvent() override = default;

    EventType GetEventType() const { return m_EventType; }
    const CEegTimeStamp& GetTimeStamp() const { return m_TimeStamp; }
    // Moves the event. A list keeps each element's position from when it was
    // added: take the event out of every list first and add it again after.
    void SetTimeStamp(const CEegTimeStamp& stamp) { m_TimeStamp = stamp; }
    // Montage, trace, calibration, linked filter, sensitivity and speed changes.
    int IsParameterEvent() const;

    // A new empty event of type's class, as a stored list is read back into; NULL
    // for a type above 27 or when memory runs out. The caller owns the result.
    static CEegEvent* MakeEvent(EventType type, CEegTimeStamp stamp);

    // The base part of a record: its version word, the type and the sample offset.
    // Loading refuses (bad schema) another version and a stored type that is not
    // this object's class, so an event's type always names its class.
    void Serialize(CArchive& ar) override;

    // One line of display text; the base gives the position prefix alone.
    virtual CString AsString(const CEegFile* file) const;

protected:
    // The position prefix of display text: "hh:mm:ss " with a file, else empty.
    CString PositionPrefix(const CEegFile* file) const;
    // Text number id of the host's string table; "" when it has none.
    static CString LoadText(UINT id);
    // v when the domain allows it, else the domain's default.
    static double Validated(const CValueDomain& domain, double v);
    // A 32-bit priority from a caller's int: negative gives the priority domain's
    // default, anything else its constrained value.
    static int PriorityFromInt(int priority);

    EventType m_EventType;
    CEegTimeStamp m_TimeStamp;

private:
    int DoSerialize(CArchive& ar, WORD version);
};
