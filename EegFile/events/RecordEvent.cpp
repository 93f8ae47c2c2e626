#include "EegFile/events/RecordEvent.h"

#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"
#include "Platform/Time.h"

const WORD CRecordEvent::currentSchema = EventFormat::kRecordVersion;

CRecordEvent::CRecordEvent(CEegTimeStamp stamp, int recording, const CTKTime* time)
    : CEegEvent(etRecord, stamp) {
    InitRecord(recording, time);
}

void CRecordEvent::InitRecord(int recording, const CTKTime* time) {
    m_nRecording = recording;
    m_nHasTime = time ? 1 : 0;
    if (time)
        m_Time = *time;
}

int CRecordEvent::GetRecordData(int& recording, CTKTime& time) const {
    recording = m_nRecording;
    time = m_Time;
    return m_nHasTime;
}

void CRecordEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CRecordEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_nRecording << uint32_t{m_Time.m_wYear} << uint32_t{m_Time.m_wMonth}
           << uint32_t{m_Time.m_wDay} << uint32_t{m_Time.m_wHour} << uint32_t{m_Time.m_wMinute}
           << uint32_t{m_Time.m_wSecond};
        return 1;
    }
    if (version == 1) {
        uint32_t f[6];
        ar >> m_nRecording;
        for (uint32_t& v : f)
            ar >> v;
        m_Time = CTKTime(static_cast<int>(f[0]), static_cast<int>(f[1]), static_cast<int>(f[2]),
                         static_cast<int>(f[3]), static_cast<int>(f[4]), static_cast<int>(f[5]));
    } else if (version == 0) {
        int32_t seconds = 0;
        ar >> m_nRecording >> seconds;
        m_Time = CTKTime(CTime(seconds));
    } else {
        return 0;
    }
    m_nHasTime = m_Time.IsNull() ? 0 : 1;
    return 1;
}

CString CRecordEvent::AsString(const CEegFile* file) const {
    using namespace EventText;
    CString text = PositionPrefix(file);
    if (!m_nHasTime)
        return text + LoadText(m_nRecording ? idRecordStart : idRecordStop);
    return text + LoadText(m_nRecording ? idRecordStartAt : idRecordStopAt) + " " +
           m_Time.GetDateTimeText(LOCALE_USER_DEFAULT, DATE_SHORTDATE, TIME_NOSECONDS);
}
