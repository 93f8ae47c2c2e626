#include "EegFile/events/AnalysisEvent.h"

#include <cstring>

#include "EegFile/events/EventFormat.h"

const WORD CAnalysisEvent::currentSchema = EventFormat::kEventVersion;

CAnalysisEvent::CAnalysisEvent(const CEegTimeStamp& stamp, unsigned short priority)
    : CEegEvent(etAnalysis, stamp), m_wPriority(priority) {}

CAnalysisEvent::CAnalysisEvent(const CString& name, const CString& text,
                               unsigned char analysisEventType, unsigned short dataSize,
                               const void* data, const CEegTimeStamp& stamp,
                               unsigned short priority)
    : CEegEvent(etAnalysis, stamp),
      m_strName(name),
      m_strText(text),
      m_byEventType(analysisEventType),
      m_wPriority(priority) {
    if (data && dataSize > 0) {
        m_pData.reset(new unsigned char[dataSize]);
        std::memcpy(m_pData.get(), data, dataSize);
        m_wDataSize = dataSize;
    }
}

void CAnalysisEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CAnalysisEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_strName << m_strText << m_byEventType << m_wPriority << m_wDataSize;
        if (m_wDataSize != 0)
            ar.Write(m_pData.get(), m_wDataSize);
        return 1;
    }
    if (version != 0)
        return 0;
    unsigned short size = 0;
    ar >> m_strName >> m_strText >> m_byEventType >> m_wPriority >> size;
    m_pData.reset();
    m_wDataSize = 0;
    if (size != 0) {
        const std::vector<unsigned char> data = EventFormat::ReadBlock(ar, size);
        m_pData.reset(new unsigned char[size]);
        std::memcpy(m_pData.get(), data.data(), size);
        m_wDataSize = size;
    }
    return 1;
}

CString CAnalysisEvent::AsString(const CEegFile*) const {
    return m_strText;
}
