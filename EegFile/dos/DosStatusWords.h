// The record status words of legacy recordings, as the patient database's status
// column and the patient file's "Status!" key hold them, and the record status
// (CPatientInfo::RecordStatus) each stands for; also the sex letters. Shared by
// both stores so that they read and write the same words.
#pragma once

namespace DosStatusWords {

// The status a stored word gives, compared exactly: "READY TO RECORD" 0,
// "RECORDING" 1, "READY TO READ" and "READING" 2, "READY TO ARCHIVE" 3,
// "ARCHIVED", "ARCHIVING", "READY TO REVIEW" and "REVIEWING" 6; any other text
// (and nullptr) 5, unknown.
int ToRecordStatus(const char* word);

// The word a status is stored as: 1 "RECORDING" (only in the patient file:
// patientFile true), 2 "READY TO READ", 3 "READY TO ARCHIVE", 6 "ARCHIVED".
// nullptr for every other status: the stored word then stays as it is.
const char* ToWord(int status, bool patientFile);

// The sex as both stores keep it: "M" 0 and "F" 1, letter case ignored when read;
// any other text leaves the record's sex as it is (false). Written "M", "F" or "".
bool ToSex(const char* word, int& sex);
const char* SexWord(int sex);

}  // namespace DosStatusWords
