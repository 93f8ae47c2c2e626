// CSystemEvent: a system message.
#pragma once

#include "EegFile/events/EegEvent.h"

class CSystemEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CSystemEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp)
        : CEegEvent(etSystem, stamp) {}
    CSystemEvent(const CString& comment, CEegTimeStamp stamp)
        : CEegEvent(etSystem, stamp), m_strComment(comment) {}

    const char* GetComment() const { return m_strComment; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    CString m_strComment;
};
