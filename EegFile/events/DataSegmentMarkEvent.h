// CDataSegmentMarkEvent: one end of a segment marked to be deleted, or saved, when
// marked data is cut. Each half carries the position of the other.
#pragma once

#include "EegFile/events/RangeEndEvent.h"

class CDataSegmentMarkEvent : public CRangeEndEvent {
public:
    static const WORD currentSchema;

    explicit CDataSegmentMarkEvent(const CEegTimeStamp& own = CEegTimeStamp::NullStamp,
                                   const CEegTimeStamp& other = CEegTimeStamp::NullStamp,
                                   int isStart = 1, int isDelete = 1)
        : CRangeEndEvent(etDataSegmentMark, own, other, isStart), m_nDelete(isDelete) {}

    void InitSegment(const CEegTimeStamp& other, int isStart, int isDelete) {
        SetEnds(other, isStart);
        m_nDelete = isDelete;
    }
    void InitSegment(const CEegTimeStamp& own, const CEegTimeStamp& other, int isStart,
                     int isDelete) {
        m_TimeStamp = own;
        InitSegment(other, isStart, isDelete);
    }
    int IsSegmentStart() const { return m_nStart ? 1 : 0; }
    int IsSegmentEnd() const { return m_nStart ? 0 : 1; }
    int IsDeleteSegment() const { return m_nDelete ? 1 : 0; }
    int IsSaveSegment() const { return m_nDelete ? 0 : 1; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nDelete;
};
