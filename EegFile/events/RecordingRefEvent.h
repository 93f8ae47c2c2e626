// CRecordingRefEvent: the recording reference input changed.
#pragma once

#include "EegBase/AmpInput.h"
#include "EegFile/events/EegEvent.h"

class CRecordingRefEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CRecordingRefEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp,
                                AmpInput::AmpInputType recRef = AmpInput::NoInput)
        : CEegEvent(etRecordingRef, stamp), m_RecRef(recRef) {}

    void InitRecordingReference(AmpInput::AmpInputType recRef) { m_RecRef = recRef; }
    AmpInput::AmpInputType GetRecordingReference() const { return m_RecRef; }

    void Serialize(CArchive& ar) override;
    // The jack's name from the recording-reference domain (its number when it has
    // none), padded to the domain's name width.
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    AmpInput::AmpInputType m_RecRef;
};
