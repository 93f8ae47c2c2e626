// CDosPdbFile: the patient file of a legacy recording, a key/value text file
// beside the log with the extension ".PDB", and the mapping of its keys to the
// fields of CPatientInfo. Keys it does not know stay in the file.
//
// Dates: "Birth Date" is read by the platform's parser in the user's locale and
// written "%m/%d/%Y". "Date!" and "Time!" hold the record date's date and time in
// the user's locale (its short date and its time with seconds, as
// COleDateTime::Format gives them), the forms its parser reads first; they read
// back unchanged in the same locale (a locale whose short date has a two-digit
// year reads years 1930 to 2029).
//
// Failures never throw: the operations return 0 (see CKeyValueFile).
#pragma once

#include "EegBase/PatientInfo.h"
#include "EegFile/dos/KeyValueFile.h"
#include "Platform/String.h"

class CDosPdbFile : public CKeyValueFile {
public:
    // Loads the patient file of the log (GetPdbFileName); a missing or unreadable
    // file gives an empty table, and writes then create the file.
    explicit CDosPdbFile(const char* logPath);

    // Applies every stored key to info with SetPatientEntry, in file order; fields
    // of keys the file lacks keep their values. 1 when SetPatientEntry gave 1 for
    // any of them, else 0.
    int GetPatientInfo(CPatientInfo& info) const;
    // Writes every key of the record (with includingStatus also "Status!", "Date!"
    // and "Time!"), rewriting the file at most once. A status with no word of its
    // own leaves "Status!" as it is; a date not set is written empty. 1 on success
    // (also when nothing changed), 0 when the file could not be written.
    int SetPatientInfo(const CPatientInfo& info, int includingStatus);

    // Applies one stored key to info. 1 for a key of the patient file other than
    // "Birth Date" and "Sex", which are applied but give 0, as every other key
    // does. A date or sex that does not read leaves its field as it is.
    static int SetPatientEntry(const char* key, const char* value, CPatientInfo& info);

    // The log's path with its extension (the text after the last '.' of the last
    // component, if any) replaced by ".PDB", the spelling the stations write; when
    // only a file spelt ".pdb" exists, that one. Returned by value, not in a
    // shared buffer, so that threads may call it at once.
    static CString GetPdbFileName(const char* logPath);
};
