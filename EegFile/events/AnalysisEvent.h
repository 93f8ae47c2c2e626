// CAnalysisEvent: a result of an analysis program: its name, the display text,
// the program's event kind and its data. Owns its data; not copyable.
#pragma once

#include <memory>

#include "EegFile/events/EegEvent.h"

class CAnalysisEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    explicit CAnalysisEvent(const CEegTimeStamp& stamp = CEegTimeStamp::NullStamp,
                            unsigned short priority = 0xFFFF);
    // Copies dataSize bytes of data. Without data (or with size 0) the event holds
    // none and its size is 0, so size and data always agree.
    CAnalysisEvent(const CString& name, const CString& text, unsigned char analysisEventType,
                   unsigned short dataSize, const void* data, const CEegTimeStamp& stamp,
                   unsigned short priority);
    CAnalysisEvent(const CAnalysisEvent&) = delete;
    CAnalysisEvent& operator=(const CAnalysisEvent&) = delete;

    CString GetAnalysisName() const { return m_strName; }
    const CString& GetText() const { return m_strText; }
    unsigned char GetAnalysisEventType() const { return m_byEventType; }
    unsigned short GetDataSize() const { return m_wDataSize; }
    // NULL when the event holds no data.
    void* GetData() const { return m_pData.get(); }
    unsigned short GetPriority() const { return m_wPriority; }

    void Serialize(CArchive& ar) override;
    // The text alone, without the position.
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    CString m_strName;
    CString m_strText;
    unsigned char m_byEventType = 0;
    unsigned short m_wDataSize = 0;
    unsigned short m_wPriority;
    std::unique_ptr<unsigned char[]> m_pData;
};
