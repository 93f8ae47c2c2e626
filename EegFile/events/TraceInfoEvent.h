// CTraceInfoEvent: the settings of one trace of the montage changed.
#pragma once

#include "EegBase/TraceInfo.h"
#include "EegFile/events/EegEvent.h"

class CTraceInfoEvent : public CEegEvent {
public:
    static const WORD currentSchema;

    // Applies InitTraceInfo when a trace is given; the channel is 0 otherwise.
    explicit CTraceInfoEvent(CEegTimeStamp stamp = CEegTimeStamp::NullStamp, int channel = 0,
                             const CTraceInfo* trace = nullptr)
        : CEegEvent(etTraceInfo, stamp) {
        if (trace)
            InitTraceInfo(channel, *trace);
    }

    void InitTraceInfo(int channel, const CTraceInfo& trace) {
        m_nChannel = channel;
        m_TraceInfo = trace;
    }
    const CTraceInfo& GetTraceInfo() const { return m_TraceInfo; }
    int GetChannelNumber() const { return m_nChannel; }

    void Serialize(CArchive& ar) override;
    CString AsString(const CEegFile* file) const override;

private:
    int DoSerialize(CArchive& ar, WORD version);

    CTraceInfo m_TraceInfo;
    int m_nChannel = 0;  // defined even when no trace was given
};
