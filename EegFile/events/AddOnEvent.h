// CAddOnEvent: an opaque event of an add-on program. The library stores it and
// asks the add-on, through a registered callback, for its text. Data of up to 8
// bytes lives inside the event, larger data in an owned buffer of exactly its
// size. Not copyable.
#pragma once

#include <atomic>
#include <memory>

#include "EegFile/events/EegEvent.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/frame/CallBacks.h"

class CAddOnEvent : public CEegEvent {
public:
    using AsStringCallBack = CCall2Arg<CString, const CEegEvent&, const CEegFile*>;

    static const WORD currentSchema;

    explicit CAddOnEvent(const CEegTimeStamp& stamp = CEegTimeStamp::NullStamp,
                         unsigned short priority = 0xFFFF);
    CAddOnEvent(unsigned short dataSize, unsigned char addOnId, unsigned char addOnEventType,
                unsigned short addOnWord, const CEegTimeStamp& stamp, unsigned short priority);
    CAddOnEvent(const CAddOnEvent&) = delete;
    CAddOnEvent& operator=(const CAddOnEvent&) = delete;

    // Drops any data, stores the values, then SetDataSize(dataSize).
    void Init(unsigned short priority, unsigned char addOnId, unsigned char addOnEventType,
              unsigned short addOnWord, unsigned short dataSize);
    // The same size keeps the data; another drops it and makes room for size bytes
    // (contents undefined).
    void SetDataSize(unsigned short size);
    unsigned short GetDataSize() const { return m_wDataSize; }
    void* GetData() { return m_pData ? m_pData.get() : m_Inline; }
    const void* GetData() const { return m_pData ? m_pData.get() : m_Inline; }
    unsigned char GetAddOnID() const { return m_byAddOnId; }
    unsigned char GetAddOnEventType() const { return m_byAddOnEventType; }
    unsigned short GetAddOnWord() const { return m_wAddOnWord; }
    unsigned short GetPriority() const { return m_wPriority; }
    void SetPriority(unsigned short priority) { m_wPriority = priority; }

    // Replaces the text callback; NULL unregisters. The caller keeps the holder,
    // which must outlive its registration.
    static void SetAsStringCallBack(AsStringCallBack* callback) { m_pAsStringCallBack = callback; }

    void Serialize(CArchive& ar) override;
    // The callback's text, without the position; empty without a callback.
    CString AsString(const CEegFile* file) const override;

    static std::atomic<AsStringCallBack*> m_pAsStringCallBack;

private:
    int DoSerialize(CArchive& ar, WORD version);

    unsigned char m_byAddOnId = 0;
    unsigned char m_byAddOnEventType = 0;
    unsigned short m_wAddOnWord = 0;
    unsigned short m_wDataSize = 0;
    unsigned short m_wPriority;
    unsigned char m_Inline[EventFormat::kAddOnInlineSize] = {};
    std::unique_ptr<unsigned char[]> m_pData;  // only when the size is above the inline area
};
