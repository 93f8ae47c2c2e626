// CDataDeletionEvent: one end of a range of samples deleted from the recording.
// Deletions come in pairs; each half carries the position of the other.
#pragma once

#include "EegFile/events/RangeEndEvent.h"

class CDataDeletionEvent : public CRangeEndEvent {
public:
    static const WORD currentSchema;

    explicit CDataDeletionEvent(const CEegTimeStamp& own = CEegTimeStamp::NullStamp,
                                const CEegTimeStamp& other = CEegTimeStamp::NullStamp,
                                int isStart = 1)
        : CRangeEndEvent(etDataDeletion, own, other, isStart) {}

    void InitDeletion(const CEegTimeStamp& other, int isStart) { SetEnds(other, isStart); }
    void InitDeletion(const CEegTimeStamp& own, const CEegTimeStamp& other, int isStart) {
        m_TimeStamp = own;
        InitDeletion(other, isStart);
    }
    int IsDeletionStart() const { return m_nStart ? 1 : 0; }
    int IsDeletionEnd() const { return m_nStart ? 0 : 1; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);
};
