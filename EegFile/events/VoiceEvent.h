// CVoiceEvent: a voice annotation kept in a separate audio file, named by a number,
// at a byte offset and length in that file.
#pragma once

#include <cstdint>

#include "EegFile/events/EegEvent.h"

class CVoiceEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // No file (-1), offset -1, length 0, the default priority.
    explicit CVoiceEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp);
    // A negative priority gives the domain's default, another its constrained value.
    CVoiceEvent(CEegTimeStamp stamp, int fileExtNum, int32_t startOffset, int32_t length,
                int priority);
    CVoiceEvent(CEegTimeStamp stamp, int32_t startOffset, int32_t length, int priority);
    CVoiceEvent(const CVoiceEvent&) = default;
    CVoiceEvent& operator=(const CVoiceEvent&) = delete;

    int GetFileExtNum() const { return m_nFileExtNum; }
    int32_t GetStartOffsetInBytes() const { return m_lStartOffset; }
    int32_t GetLengthInBytes() const { return m_lLength; }
    unsigned short GetPriority() const { return static_cast<unsigned short>(m_nPriority); }

    bool operator==(const CVoiceEvent& other) const;
    bool operator!=(const CVoiceEvent& other) const { return !(*this == other); }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    int m_nFileExtNum;
    int32_t m_lStartOffset;
    int32_t m_lLength;
    int32_t m_nPriority;
};
