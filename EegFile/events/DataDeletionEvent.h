// CDataDeletionEvent: one end of a range of samples deleted from the recording.
// Deletions come in pairs; each half carries the position of the other.
#pragma once

#include "EegFile/events/EegEvent.h"

class CDataDeletionEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CDataDeletionEvent(const CEegTimeStamp& own = CEegTimeStamp::NullStamp,
                                const CEegTimeStamp& other = CEegTimeStamp::NullStamp,
                                int isStart = 1)
        : CEegEvent(etDataDeletion, own), m_nStart(isStart), m_Other(other) {}

    void InitDeletion(const CEegTimeStamp& other, int isStart) {
        m_Other = other;
        m_nStart = isStart;
    }
    void InitDeletion(const CEegTimeStamp& own, const CEegTimeStamp& other, int isStart) {
        m_TimeStamp = own;
        InitDeletion(other, isStart);
    }
    int IsDeletionStart() const { return m_nStart ? 1 : 0; }
    int IsDeletionEnd() const { return m_nStart ? 0 : 1; }
    CEegTimeStamp GetStartTimeStamp() const { return m_nStart ? m_TimeStamp : m_Other; }
    CEegTimeStamp GetEndTimeStamp() const { return m_nStart ? m_Other : m_TimeStamp; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nStart;
    CEegTimeStamp m_Other;
};
