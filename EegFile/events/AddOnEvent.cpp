#include "EegFile/events/AddOnEvent.h"

#include <cstring>

std::atomic<CAddOnEvent::AsStringCallBack*> CAddOnEvent::m_pAsStringCallBack{nullptr};

const WORD CAddOnEvent::currentSchema = EventFormat::kEventVersion;

CAddOnEvent::CAddOnEvent(const CEegTimeStamp& stamp, unsigned short priority)
    : CEegEvent(etAddOn, stamp), m_wPriority(priority) {}

CAddOnEvent::CAddOnEvent(unsigned short dataSize, unsigned char addOnId,
                         unsigned char addOnEventType, unsigned short addOnWord,
                         const CEegTimeStamp& stamp, unsigned short priority)
    : CEegEvent(etAddOn, stamp), m_wPriority(priority) {
    Init(priority, addOnId, addOnEventType, addOnWord, dataSize);
}

void CAddOnEvent::Init(unsigned short priority, unsigned char addOnId, unsigned char addOnEventType,
                       unsigned short addOnWord, unsigned short dataSize) {
    m_pData.reset();
    m_wDataSize = 0;
    m_wPriority = priority;
    m_byAddOnId = addOnId;
    m_byAddOnEventType = addOnEventType;
    m_wAddOnWord = addOnWord;
    SetDataSize(dataSize);
}

void CAddOnEvent::SetDataSize(unsigned short size) {
    if (size == m_wDataSize)
        return;
    m_pData.reset();
    if (size > EventFormat::kAddOnInlineSize)
        m_pData.reset(new unsigned char[size]);
    m_wDataSize = size;
}

void CAddOnEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CAddOnEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_byAddOnId << m_byAddOnEventType << m_wAddOnWord << m_wPriority << m_wDataSize;
        ar.Write(GetData(), m_wDataSize);
        return 1;
    }
    if (version != 0)
        return 0;
    unsigned short size = 0;
    ar >> m_byAddOnId >> m_byAddOnEventType >> m_wAddOnWord >> m_wPriority >> size;
    const std::vector<unsigned char> data = EventFormat::ReadBlock(ar, size);
    SetDataSize(size);
    if (size > 0)
        std::memcpy(GetData(), data.data(), size);
    return 1;
}

CString CAddOnEvent::AsString(const CEegFile* file) const {
    AsStringCallBack* callback = m_pAsStringCallBack.load();
    return callback ? callback->Call(*this, file) : CString();
}
