#include "EegFile/dos/DosPdbFile.h"

#include <cstring>
#include <vector>

#include "EegFile/dos/DosStatusWords.h"
#include "Platform/File.h"
#include "Platform/OleDateTime.h"

namespace {

enum class Kind { text, birthDate, sex, status, date, time, qmSynched };

struct Key {
    const char* name;
    Kind kind;
    CPatientInfo::TextField field;  // for Kind::text
};

// The keys of the patient file, in the order a new file gets them.
constexpr Key kKeys[] = {
    {"Last Name", Kind::text, CPatientInfo::tfLastName},
    {"First Name", Kind::text, CPatientInfo::tfFirstName},
    {"M.I.", Kind::text, CPatientInfo::tfMiddleInitial},
    {"Patient I.D.", Kind::text, CPatientInfo::tfPatientId},
    {"Birth Date", Kind::birthDate, CPatientInfo::tfCount},
    {"Sex", Kind::sex, CPatientInfo::tfCount},
    {"Physician Name", Kind::text, CPatientInfo::tfPhysician},
    {"Technician Name", Kind::text, CPatientInfo::tfTechnician},
    {"Status!", Kind::status, CPatientInfo::tfCount},
    {"Date!", Kind::date, CPatientInfo::tfCount},
    {"Time!", Kind::time, CPatientInfo::tfCount},
    {"Medications", Kind::text, CPatientInfo::tfMedications},
    {"History", Kind::text, CPatientInfo::tfHistory},
    {"Comments", Kind::text, CPatientInfo::tfComments},
    {"Ref Physician", Kind::text, CPatientInfo::tfRefPhysician},
    {"Height", Kind::text, CPatientInfo::tfHeight},
    {"Weight", Kind::text, CPatientInfo::tfWeight},
    {"QmSynched", Kind::qmSynched, CPatientInfo::tfCount},
    {"QmFileIdKey", Kind::text, CPatientInfo::tfQmFileId},
    {"Title", Kind::text, CPatientInfo::tfTitle},
    {"SSN", Kind::text, CPatientInfo::tfSsn},
    {"Marital Status", Kind::text, CPatientInfo::tfMaritalStatus},
    {"Race", Kind::text, CPatientInfo::tfRace},
    {"Address Line1", Kind::text, CPatientInfo::tfAddressLine1},
    {"Address Line2", Kind::text, CPatientInfo::tfAddressLine2},
    {"Address City", Kind::text, CPatientInfo::tfAddressCity},
    {"Address State", Kind::text, CPatientInfo::tfAddressState},
    {"Address Zip", Kind::text, CPatientInfo::tfAddressZip},
    {"Address Zip4", Kind::text, CPatientInfo::tfAddressZip4},
    {"Phone Home", Kind::text, CPatientInfo::tfPhoneHome},
    {"Phone Work", Kind::text, CPatientInfo::tfPhoneWork},
    {"Phone Fax", Kind::text, CPatientInfo::tfPhoneFax},
    {"EMail", Kind::text, CPatientInfo::tfEMail},
};

constexpr char kPdbExtension[] = ".PDB";
constexpr char kPdbExtensionLower[] = ".pdb";
constexpr char kBirthDateFormat[] = "%m/%d/%Y";
constexpr char kTrue[] = "TRUE";
constexpr char kFalse[] = "FALSE";

const Key* FindKey(const char* name) {
    for (const Key& k : kKeys) {
        if (std::strcmp(k.name, name) == 0)
            return &k;
    }
    return nullptr;
}

// A stored day count as a date-time; invalid when not set or out of range.
COleDateTime DateOf(double days, CPatientInfo::DateStatus status) {
    COleDateTime d(days);
    if (status != CPatientInfo::dtValid)
        d.SetStatus(COleDateTime::invalid);
    return d;
}

// Puts the date (datePart) or the time of part into the record date; a record
// date not set counts as 1899-12-30 00:00.
void MergeRecordDate(CPatientInfo& info, const COleDateTime& part, bool datePart) {
    COleDateTime old = DateOf(info.GetRecordDate(), info.GetRecordDateStatus());
    if (old.GetStatus() != COleDateTime::valid)
        old = COleDateTime();
    const COleDateTime& date = datePart ? part : old;
    const COleDateTime& time = datePart ? old : part;
    const COleDateTime merged(date.GetYear(), date.GetMonth(), date.GetDay(), time.GetHour(),
                              time.GetMinute(), time.GetSecond());
    if (merged.GetStatus() == COleDateTime::valid)
        info.SetRecordDate(merged.m_dt);
}

}  // namespace

CDosPdbFile::CDosPdbFile(const char* logPath) {
    Load(GetPdbFileName(logPath));
}

CString CDosPdbFile::GetPdbFileName(const char* logPath) {
    const CString path(logPath);
    const int slash = path.ReverseFind('/');
    const int dot = path.ReverseFind('.');
    const CString base = dot > slash ? path.Left(dot) : path;
    // On Windows either spelling named one file; here the stations' spelling is
    // the one to create, and a file that was copied in lower case is still found.
    const CString upper = base + kPdbExtension;
    const CString lower = base + kPdbExtensionLower;
    CFileStatus status;
    if (!CFile::GetStatus(upper, status) && CFile::GetStatus(lower, status))
        return lower;
    return upper;
}

int CDosPdbFile::GetPatientInfo(CPatientInfo& info) const {
    int recognised = 0;
    for (int i = 0; i < GetCount(); ++i) {
        const Entry& e = GetEntry(i);
        recognised |= SetPatientEntry(e.key, e.value, info);
    }
    return recognised;
}

int CDosPdbFile::SetPatientEntry(const char* key, const char* value, CPatientInfo& info) {
    const Key* k = key ? FindKey(key) : nullptr;
    if (!k)
        return 0;
    if (!value)
        value = "";
    COleDateTime date;
    switch (k->kind) {
        case Kind::text:
            info.SetText(k->field, value);
            return 1;
        case Kind::birthDate:
            if (date.ParseDateTime(value))
                info.SetBirthDate(date.m_dt);
            return 0;
        case Kind::sex: {
            int sex = 0;
            if (DosStatusWords::ToSex(value, sex))
                info.SetSex(static_cast<CPatientInfo::Sex>(sex));
            return 0;
        }
        case Kind::status:
            info.SetRecordStatus(
                static_cast<CPatientInfo::RecordStatus>(DosStatusWords::ToRecordStatus(value)));
            return 1;
        case Kind::date:
        case Kind::time:
            if (date.ParseDateTime(value,
                                   k->kind == Kind::date ? VAR_DATEVALUEONLY : VAR_TIMEVALUEONLY))
                MergeRecordDate(info, date, k->kind == Kind::date);
            return 1;
        case Kind::qmSynched:
            info.SetQmSynched(std::strcmp(value, kTrue) == 0 ? 1 : 0);
            return 1;
    }
    return 0;
}

int CDosPdbFile::SetPatientInfo(const CPatientInfo& info, int includingStatus) {
    const COleDateTime birth = DateOf(info.GetBirthDate(), info.GetBirthDateStatus());
    const COleDateTime record = DateOf(info.GetRecordDate(), info.GetRecordDateStatus());
    const bool recordValid = record.GetStatus() == COleDateTime::valid;
    std::vector<Entry> entries;
    for (const Key& k : kKeys) {
        CString value;
        switch (k.kind) {
            case Kind::text:
                value = info.GetText(k.field);
                break;
            case Kind::birthDate:
                if (birth.GetStatus() == COleDateTime::valid)
                    value = birth.Format(kBirthDateFormat);
                break;
            case Kind::sex:
                value = DosStatusWords::SexWord(info.GetSex());
                break;
            case Kind::status: {
                const char* word = DosStatusWords::ToWord(info.GetRecordStatus(), true);
                if (!includingStatus || !word)
                    continue;
                value = word;
                break;
            }
            case Kind::date:
            case Kind::time:
                if (!includingStatus)
                    continue;
                if (recordValid)
                    value =
                        record.Format(k.kind == Kind::date ? VAR_DATEVALUEONLY : VAR_TIMEVALUEONLY);
                break;
            case Kind::qmSynched:
                value = info.GetQmSynched() ? kTrue : kFalse;
                break;
        }
        entries.push_back({k.name, value});
    }
    return SetValues(entries) ? 1 : 0;
}
