#include "EegBase/PatientInfo.h"

#include <cmath>

#include "EegBase/BaseFormat.h"

void CPatientInfo::Initialize() {
    for (CString& s : m_text)
        s.Empty();
    SetDateNull(m_dtBirth, m_birthStatus);
    SetDateNull(m_dtRecord, m_recordStatus);
    m_sex = sexUnset;
    m_status = rsReadyToRecord;
    m_nQmSynched = 0;
}

CString CPatientInfo::Format(RecordStatus status) {
    switch (status) {
        case rsReadyToRecord:
            return "Ready to record";
        case rsRecording:
            return "Recording";
        case rsReadyToRead:
            return "Ready to read";
        case rsReadyToArchive:
            return "Ready to archive";
        case rsAny:
            return "Any status";
        case rsUnknown:
            return "Unknown";
        case rsArchived:
            return "Archived";
    }
    CString s;
    s.Format("Status %d", static_cast<int>(status));
    return s;
}

const CString& CPatientInfo::GetText(TextField field) const {
    static const CString kEmpty;
    if (field < 0 || field >= tfCount)
        return kEmpty;
    return m_text[field];
}

void CPatientInfo::SetText(TextField field, const char* text) {
    if (field < 0 || field >= tfCount)
        return;
    m_text[field] = text;
}

BOOL CPatientInfo::SetRecordStatus(RecordStatus status) {
    if (status < rsReadyToRecord || status > rsArchived)
        return FALSE;
    m_status = status;
    return TRUE;
}

BOOL CPatientInfo::SetSex(Sex sex) {
    if (sex != sexUnset && sex != sexMale && sex != sexFemale)
        return FALSE;
    m_sex = sex;
    return TRUE;
}

void CPatientInfo::SetDate(double& day, DateStatus& status, double days) {
    if (std::isnan(days)) {
        day = 0.0;
        status = dtInvalid;
    } else {
        day = days;
        status = dtValid;
    }
}

namespace {

void StoreDate(CArchive& ar, double day, int32_t status) {
    ar << day << status;
}

void LoadDate(CArchive& ar, double& day, CPatientInfo::DateStatus& status) {
    int32_t s;
    ar >> day >> s;
    if (s < CPatientInfo::dtValid || s > CPatientInfo::dtNull)
        BaseFormat::ThrowBadSchema(ar);
    status = static_cast<CPatientInfo::DateStatus>(s);
}

}  // namespace

void CPatientInfo::Serialize(CArchive& ar) {
    using namespace BaseFormat;
    if (ar.IsStoring()) {
        StoreVersion(ar, kPatientInfoVersion);
        for (const CString& s : m_text)
            ar << s;
        StoreDate(ar, m_dtBirth, m_birthStatus);
        ar << static_cast<int32_t>(m_sex) << static_cast<int32_t>(m_status);
        StoreDate(ar, m_dtRecord, m_recordStatus);
        ar << static_cast<int32_t>(m_nQmSynched);
        return;
    }
    LoadVersion(ar, kPatientInfoVersion);
    // Read into a fresh record so that a record that fails half way changes nothing.
    CPatientInfo loaded;
    for (CString& s : loaded.m_text)
        ar >> s;
    LoadDate(ar, loaded.m_dtBirth, loaded.m_birthStatus);
    int32_t sex, status;
    ar >> sex >> status;
    if (!loaded.SetSex(static_cast<Sex>(sex)) ||
        !loaded.SetRecordStatus(static_cast<RecordStatus>(status))) {
        ThrowBadSchema(ar);
    }
    LoadDate(ar, loaded.m_dtRecord, loaded.m_recordStatus);
    int32_t qm;
    ar >> qm;
    loaded.m_nQmSynched = qm;
    *this = loaded;
}

bool CPatientInfo::operator==(const CPatientInfo& other) const {
    for (int i = 0; i < tfCount; ++i) {
        if (m_text[i] != other.m_text[i])
            return false;
    }
    return m_dtBirth == other.m_dtBirth && m_birthStatus == other.m_birthStatus &&
           m_sex == other.m_sex && m_status == other.m_status && m_dtRecord == other.m_dtRecord &&
           m_recordStatus == other.m_recordStatus && m_nQmSynched == other.m_nQmSynched;
}
