// CBlockEvent: a block boundary; no fields of its own.
#pragma once

#include "EegFile/events/EegEvent.h"

class CBlockEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CBlockEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp)
        : CEegEvent(etBlock, stamp) {}

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);
};
