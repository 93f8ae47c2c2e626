#include "EegFile/events/CalibrateEvent.h"

#include "EegBase/ValueDomain.h"
#include "EegFile/events/EventFormat.h"
#include "EegFile/events/EventText.h"

const WORD CCalibrateEvent::currentSchema = EventFormat::kEventVersion;

CCalibrateEvent::CCalibrateEvent(CEegTimeStamp stamp, int on, double amplitude, double frequency)
    : CEegEvent(etCalibrate, stamp) {
    InitCalibrate(on, amplitude, frequency);
}

void CCalibrateEvent::InitCalibrate(int on, double amplitude, double frequency) {
    m_nOn = on;
    m_dAmplitude = Validated(GetDefaultCalAmplitudeDomain(), amplitude);
    m_dFrequency = Validated(GetDefaultCalFrequencyDomain(), frequency);
}

void CCalibrateEvent::GetCalibrateData(int& on, double& amplitude, double& frequency) const {
    on = m_nOn;
    amplitude = m_dAmplitude;
    frequency = m_dFrequency;
}

void CCalibrateEvent::Serialize(CArchive& ar) {
    if (!DoSerialize(ar, EventFormat::SerializeVersion(ar, currentSchema))) {
        EventFormat::ThrowBadSchema(ar);
    }
}

int CCalibrateEvent::DoSerialize(CArchive& ar, WORD version) {
    CEegEvent::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_dAmplitude << m_dFrequency << m_nOn;
        return 1;
    }
    if (version != 0)
        return 0;
    ar >> m_dAmplitude >> m_dFrequency >> m_nOn;
    return 1;
}

CString CCalibrateEvent::AsString(const CEegFile* file) const {
    CString text = PositionPrefix(file);
    if (!m_nOn)
        return text + LoadText(EventText::idCalibrationOff);
    return text + LoadText(EventText::idCalibrationOn) + " " +
           GetDefaultCalAmplitudeDomain().Format(m_dAmplitude) + " " +
           GetDefaultCalFrequencyDomain().Format(m_dFrequency);
}
