// CPatientInfo: the patient record that travels with a recording: the patient's
// particulars, the clinical texts, the recording's workflow status (record status),
// its record date, the Qm file identifier and the legacy log number text.
//
// Dates are kept as the framework's date-time value, a day count since
// 1899-12-30 as a double (fraction = time of day), with a status as COleDateTime
// keeps one: valid, invalid or null (not set).
#pragma once

#include "Platform/Object.h"
#include "Platform/String.h"
#include "Platform/Types.h"

class CPatientInfo : public CObject {
public:
    enum RecordStatus : int32_t {
        rsReadyToRecord = 0,
        rsRecording = 1,
        rsReadyToRead = 2,
        rsReadyToArchive = 3,
        rsAny = 4,  // only as the expected status of a status change: any status
        rsUnknown = 5,
        rsArchived = 6,
    };
    enum Sex : int32_t { sexUnset = -1, sexMale = 0, sexFemale = 1 };
    enum DateStatus : int32_t { dtValid = 0, dtInvalid = 1, dtNull = 2 };

    // The text fields, in the order the record stores them (append only).
    enum TextField {
        tfLastName,
        tfFirstName,
        tfMiddleInitial,
        tfPatientId,
        tfPhysician,
        tfTechnician,
        tfMedications,
        tfHistory,
        tfComments,
        tfRefPhysician,
        tfHeight,
        tfWeight,
        tfQmFileId,
        tfLogNumber,
        tfTitle,
        tfSsn,
        tfMaritalStatus,
        tfRace,
        tfAddressLine1,
        tfAddressLine2,
        tfAddressCity,
        tfAddressState,
        tfAddressZip,
        tfAddressZip4,
        tfPhoneHome,
        tfPhoneWork,
        tfPhoneFax,
        tfEMail,
        tfCount
    };

    CPatientInfo() { Initialize(); }

    // Empty texts, no dates, sex unset, status ready to record, not Qm-synchronised.
    void Initialize();

    // The status's text; each value 0-6 its own, any other value "Status n".
    static CString Format(RecordStatus status);

    // "" for a field outside the enumeration.
    const CString& GetText(TextField field) const;
    void SetText(TextField field, const char* text);

    const CString& GetLastName() const { return GetText(tfLastName); }
    void SetLastName(const char* s) { SetText(tfLastName, s); }
    const CString& GetFirstName() const { return GetText(tfFirstName); }
    void SetFirstName(const char* s) { SetText(tfFirstName, s); }
    const CString& GetMiddleInitial() const { return GetText(tfMiddleInitial); }
    void SetMiddleInitial(const char* s) { SetText(tfMiddleInitial, s); }
    const CString& GetPatientId() const { return GetText(tfPatientId); }
    void SetPatientId(const char* s) { SetText(tfPatientId, s); }
    const CString& GetPhysician() const { return GetText(tfPhysician); }
    void SetPhysician(const char* s) { SetText(tfPhysician, s); }
    const CString& GetTechnician() const { return GetText(tfTechnician); }
    void SetTechnician(const char* s) { SetText(tfTechnician, s); }
    const CString& GetMedications() const { return GetText(tfMedications); }
    void SetMedications(const char* s) { SetText(tfMedications, s); }
    const CString& GetHistory() const { return GetText(tfHistory); }
    void SetHistory(const char* s) { SetText(tfHistory, s); }
    const CString& GetComments() const { return GetText(tfComments); }
    void SetComments(const char* s) { SetText(tfComments, s); }
    const CString& GetQmFileId() const { return GetText(tfQmFileId); }
    void SetQmFileId(const char* s) { SetText(tfQmFileId, s); }
    const CString& GetLogNumber() const { return GetText(tfLogNumber); }
    void SetLogNumber(const char* s) { SetText(tfLogNumber, s); }

    RecordStatus GetRecordStatus() const { return m_status; }
    // Values 0-6; any other is refused (FALSE) and the status kept.
    BOOL SetRecordStatus(RecordStatus status);

    Sex GetSex() const { return m_sex; }
    // sexUnset, sexMale or sexFemale; any other is refused (FALSE).
    BOOL SetSex(Sex sex);

    double GetBirthDate() const { return m_dtBirth; }
    DateStatus GetBirthDateStatus() const { return m_birthStatus; }
    // A NaN day count is kept as an invalid date (day count 0).
    void SetBirthDate(double days) { SetDate(m_dtBirth, m_birthStatus, days); }
    void SetBirthDateNull() { SetDateNull(m_dtBirth, m_birthStatus); }

    double GetRecordDate() const { return m_dtRecord; }
    DateStatus GetRecordDateStatus() const { return m_recordStatus; }
    void SetRecordDate(double days) { SetDate(m_dtRecord, m_recordStatus, days); }
    void SetRecordDateNull() { SetDateNull(m_dtRecord, m_recordStatus); }

    int GetQmSynched() const { return m_nQmSynched; }
    void SetQmSynched(int synched) { m_nQmSynched = synched; }

    void Serialize(CArchive& ar) override;

    // Every field equal (day counts exactly).
    bool operator==(const CPatientInfo& other) const;
    bool operator!=(const CPatientInfo& other) const { return !(*this == other); }

private:
    static void SetDate(double& day, DateStatus& status, double days);
    static void SetDateNull(double& day, DateStatus& status) {
        day = 0.0;
        status = dtNull;
    }

    CString m_text[tfCount];
    double m_dtBirth = 0.0;
    DateStatus m_birthStatus = dtNull;
    Sex m_sex = sexUnset;
    RecordStatus m_status = rsReadyToRecord;
    double m_dtRecord = 0.0;
    DateStatus m_recordStatus = dtNull;
    int m_nQmSynched = 0;
};
