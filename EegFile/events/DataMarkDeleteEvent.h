// CDataMarkDeleteEvent: a range (the time stamp is its start) marked for deletion
// of EEG and/or video data, with a note and an unchecked priority. Its text is
// the base's: the position alone.
#pragma once

#include "EegFile/events/EegEvent.h"

class CDataMarkDeleteEvent : public CEegEvent {
public:
    enum EMarkType : int {
        mtNone = 0,
        mtEeg = 1,
        mtVideo = 2,
        mtEegVideo = 3,
        mtNoAudio = 4,
    };

    static const WORD currentSchema;

    CDataMarkDeleteEvent(const CEegTimeStamp& start, const CEegTimeStamp& end, EMarkType type)
        : CEegEvent(etDataMarkDelete, start), m_EndStamp(end), m_MarkType(type) {}

    CEegTimeStamp GetStartTimeStamp() const { return m_TimeStamp; }
    CEegTimeStamp GetEndTimeStamp() const { return m_EndStamp; }
    EMarkType GetMarkType() const { return m_MarkType; }
    void SetMarkType(EMarkType type) { m_MarkType = type; }
    CString GetComment() const { return m_strComment; }
    void SetComment(const CString& comment) { m_strComment = comment; }
    unsigned short GetPriority() const { return m_wPriority; }
    void SetPriority(unsigned short priority) { m_wPriority = priority; }

    int IsEegMark() const { return m_MarkType == mtEeg || m_MarkType == mtEegVideo; }
    int IsVideoMark() const {
        return m_MarkType == mtVideo || m_MarkType == mtEegVideo || m_MarkType == mtNoAudio;
    }
    int IsNoAudioMark() const { return m_MarkType == mtNoAudio; }

    // Only version 2 records load.
    void Serialize(CArchive& ar) override;

protected:
    // An empty mark: end at the start, type none (what a stored list reads into).
    explicit CDataMarkDeleteEvent(const CEegTimeStamp& start)
        : CEegEvent(etDataMarkDelete, start), m_EndStamp(start), m_MarkType(mtNone) {}
    friend class CEegEvent;  // MakeEvent

private:
    int DoSerialize(CArchive& ar, WORD version);

    CEegTimeStamp m_EndStamp;
    EMarkType m_MarkType;
    CString m_strComment;
    unsigned short m_wPriority = 3;
};
