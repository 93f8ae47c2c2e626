#include "EegFile/dos/DosStatusWords.h"

#include <strings.h>

#include <cstring>

#include "EegBase/PatientInfo.h"

namespace DosStatusWords {

namespace {

struct Word {
    const char* text;
    int status;
};

// Words other stations write for steps this library has no status of its own for
// (reading in progress, archiving, reviewing) read as the nearest status.
constexpr Word kWords[] = {
    {"READY TO RECORD", CPatientInfo::rsReadyToRecord},
    {"RECORDING", CPatientInfo::rsRecording},
    {"READY TO READ", CPatientInfo::rsReadyToRead},
    {"READING", CPatientInfo::rsReadyToRead},
    {"READY TO ARCHIVE", CPatientInfo::rsReadyToArchive},
    {"ARCHIVED", CPatientInfo::rsArchived},
    {"ARCHIVING", CPatientInfo::rsArchived},
    {"READY TO REVIEW", CPatientInfo::rsArchived},
    {"REVIEWING", CPatientInfo::rsArchived},
};

}  // namespace

int ToRecordStatus(const char* word) {
    if (word) {
        for (const Word& w : kWords) {
            if (std::strcmp(word, w.text) == 0)
                return w.status;
        }
    }
    return CPatientInfo::rsUnknown;
}

const char* ToWord(int status, bool patientFile) {
    switch (status) {
        case CPatientInfo::rsRecording:
            // Only the patient file is ever marked as being recorded.
            return patientFile ? "RECORDING" : nullptr;
        case CPatientInfo::rsReadyToRead:
            return "READY TO READ";
        case CPatientInfo::rsReadyToArchive:
            return "READY TO ARCHIVE";
        case CPatientInfo::rsArchived:
            return "ARCHIVED";
        default:
            return nullptr;
    }
}

bool ToSex(const char* word, int& sex) {
    if (word && strcasecmp(word, "M") == 0)
        sex = CPatientInfo::sexMale;
    else if (word && strcasecmp(word, "F") == 0)
        sex = CPatientInfo::sexFemale;
    else
        return false;
    return true;
}

const char* SexWord(int sex) {
    return sex == CPatientInfo::sexMale ? "M" : sex == CPatientInfo::sexFemale ? "F" : "";
}

}  // namespace DosStatusWords
