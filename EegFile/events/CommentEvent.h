// CCommentEvent and CUserEvent: a text annotation and a named user event, each
// with a priority limited by the event-priority domain. They share their fields,
// record layout and text through CAnnotationEvent, which is never built alone.
#pragma once

#include "EegFile/events/EegEvent.h"

class CAnnotationEvent : public CEegEvent {
public:
    // Stores the low 16 bits of the priority domain's constrained value; returns it.
    unsigned short SetPriority(unsigned short priority);
    unsigned short GetPriority() const { return m_wPriority; }
    void SetFormatPriority(int on) { m_nFormatPriority = on; }
    int GetFormatPriority() const { return m_nFormatPriority; }

    // Priority text and a blank before the text when the format priority is set.
    CString AsString(const CEegFile* file) const override;

protected:
    // priority < 0 stores the domain's default.
    CAnnotationEvent(EventType type, CEegTimeStamp stamp, const char* text, short priority);

    // The record's fields: priority (2), text (string). A loaded priority goes
    // through SetPriority, so a stored value outside the domain is constrained.
    int SerializeFields(CArchive& ar, WORD version);

    int m_nFormatPriority = 0;  // shown in the text when set; never stored
    unsigned short m_wPriority = 0;
    CString m_strText;
};

class CCommentEvent : public CAnnotationEvent {
public:
    static const WORD currentSchema;

    explicit CCommentEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                           const char* text = nullptr, short priority = -1)
        : CAnnotationEvent(etComment, stamp, text, priority) {}

    // NULL or "" gives an empty comment.
    void InitComment(const char* text) { m_strText = text ? text : ""; }
    const char* GetComment() const { return m_strText; }

    void Serialize(CArchive& ar) override;

private:
    int DoSerialize(CArchive& ar, WORD version);
};

class CUserEvent : public CAnnotationEvent {
public:
    static const WORD currentSchema;

    explicit CUserEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, const char* text = nullptr,
                        short priority = -1)
        : CAnnotationEvent(etUser, stamp, text, priority) {}

    void InitUserEvent(const char* text) { m_strText = text ? text : ""; }
    const char* GetUserEvent() const { return m_strText; }

    void Serialize(CArchive& ar) override;

private:
    int DoSerialize(CArchive& ar, WORD version);
};
