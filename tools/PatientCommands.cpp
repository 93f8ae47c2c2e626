// eegfile status FILE [--set STATUS]
// eegfile patient FILE [--json] [--set FIELD=VALUE ...]
//
// Both act by path, as list and archive programs do, without opening the
// recording; a read entry in its control file keeps others from taking it
// exclusively (to cut it, say) meanwhile.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "EegFile/frame/EegFileException.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

void CheckWritable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
}

struct StatusArgs {
    std::string path;
    std::string set;
};

int RunStatus(const StatusArgs& args) {
    SetSubject(args.path);
    const bool change = !args.set.empty();
    const CPatientInfo::RecordStatus wanted =
        change ? ParseRecordStatus(args.set) : CPatientInfo::rsUnknown;
    CheckRecordingPath(args.path);
    if (change)
        CheckWritable(args.path);
    ReadGuard guard(args.path);
    if (!change) {
        CPatientInfo::RecordStatus status = CPatientInfo::rsUnknown;
        if (!CEegFile::GetRecordStatus(args.path.c_str(), status))
            throw ToolError("no patient record could be read");
        std::printf("%s (%d)\n", RecordStatusName(status), static_cast<int>(status));
        return kExitOk;
    }
    CPatientInfo::RecordStatus previous = CPatientInfo::rsUnknown;
    if (!CEegFile::SetRecordStatus(args.path.c_str(), wanted, CPatientInfo::rsAny, &previous))
        throw ToolError("the record status could not be changed (no patient record)");
    std::printf("%s (%d), was %s (%d)\n", RecordStatusName(wanted), static_cast<int>(wanted),
                RecordStatusName(previous), static_cast<int>(previous));
    return kExitOk;
}

struct PatientArgs {
    std::string path;
    bool json = false;
    std::vector<std::string> set;
};

// The fields --set may change, by name.
void SetField(CPatientInfo& info, const std::string& assignment) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos)
        throw UsageError("--set wants FIELD=VALUE, not '" + assignment + "'");
    const std::string field = assignment.substr(0, eq), value = assignment.substr(eq + 1);
    static const struct {
        const char* name;
        CPatientInfo::TextField text;
    } texts[] = {{"last-name", CPatientInfo::tfLastName},
                 {"first-name", CPatientInfo::tfFirstName},
                 {"middle-initial", CPatientInfo::tfMiddleInitial},
                 {"patient-id", CPatientInfo::tfPatientId},
                 {"physician", CPatientInfo::tfPhysician},
                 {"technician", CPatientInfo::tfTechnician},
                 {"medications", CPatientInfo::tfMedications},
                 {"history", CPatientInfo::tfHistory},
                 {"comments", CPatientInfo::tfComments}};
    for (const auto& t : texts) {
        if (field == t.name) {
            info.SetText(t.text, value.c_str());
            return;
        }
    }
    if (field == "sex") {
        const CPatientInfo::Sex sex = value == "M" || value == "m"   ? CPatientInfo::sexMale
                                      : value == "F" || value == "f" ? CPatientInfo::sexFemale
                                      : value.empty() || value == "-"
                                          ? CPatientInfo::sexUnset
                                          : static_cast<CPatientInfo::Sex>(-2);
        if (!info.SetSex(sex))
            throw UsageError("sex must be M, F or - (unset), not '" + value + "'");
        return;
    }
    if (field == "birth-date") {
        int y = 0, m = 0, d = 0;
        char end = 0;
        const COleDateTime date = std::sscanf(value.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) == 3
                                      ? COleDateTime(y, m, d, 0, 0, 0)
                                      : COleDateTime(NAN);
        if (value.empty())
            info.SetBirthDateNull();
        else if (date.GetStatus() != COleDateTime::valid)
            throw UsageError("birth-date must be YYYY-MM-DD, not '" + value + "'");
        else
            info.SetBirthDate(date.m_dt);
        return;
    }
    throw UsageError("unknown field '" + field +
                     "' (last-name, first-name, middle-initial, patient-id, birth-date, sex, "
                     "physician, technician, medications, history, comments)");
}

int RunPatient(const PatientArgs& args) {
    SetSubject(args.path);
    CheckRecordingPath(args.path);
    CPatientInfo info;
    if (!args.set.empty()) {
        CheckWritable(args.path);
        ReadGuard guard(args.path);
        if (!CEegFile::GetPatientInfo(args.path.c_str(), info))
            throw ToolError("no patient record could be read");
        for (const std::string& assignment : args.set)
            SetField(info, assignment);
        // Written whole, status and record date as read: a legacy record made from
        // the default one (no database row, no patient file) keeps what was shown.
        if (!CEegFile::SetPatientInfo(args.path.c_str(), info, 1))
            throw ToolError("the patient record could not be written");
    }
    ReadGuard guard(args.path);
    if (!CEegFile::GetPatientInfo(args.path.c_str(), info))
        throw ToolError("no patient record could be read");
    if (args.json) {
        PrintJson(PatientJson(info));
        return kExitOk;
    }
    // The text form lists the filled fields of the same record.
    const auto line = [](const char* name, const std::string& value) {
        if (!value.empty())
            std::printf("%-16s %s\n", name, value.c_str());
    };
    line("name:", info.GetLastName().str() +
                      (info.GetFirstName().IsEmpty() ? "" : ", " + info.GetFirstName().str()));
    line("patient id:", info.GetPatientId().str());
    line("physician:", info.GetPhysician().str());
    line("technician:", info.GetTechnician().str());
    line("medications:", info.GetMedications().str());
    line("history:", info.GetHistory().str());
    line("comments:", info.GetComments().str());
    line("qm file id:", info.GetQmFileId().str());
    line("log number:", info.GetLogNumber().str());
    std::printf("%-16s %s (%d)\n", "record status:", RecordStatusName(info.GetRecordStatus()),
                static_cast<int>(info.GetRecordStatus()));
    if (info.GetBirthDateStatus() == CPatientInfo::dtValid)
        line("birth date:", DateTimeText(COleDateTime(info.GetBirthDate())).substr(0, 10));
    if (info.GetRecordDateStatus() == CPatientInfo::dtValid)
        line("record date:", DateTimeText(COleDateTime(info.GetRecordDate())));
    return kExitOk;
}

}  // namespace

void AddPatientCommands(CLI::App& app, Action& action) {
    auto status = std::make_shared<StatusArgs>();
    CLI::App* s = app.add_subcommand("status", "Show or set the record status");
    s->add_option("FILE", status->path, "Recording")->required();
    s->add_option("--set", status->set,
                  "New status: ready-to-record, recording, ready-to-read, ready-to-archive, "
                  "archived (or 0-3, 6)");
    s->callback([status, &action] { action = [status] { return RunStatus(*status); }; });

    auto patient = std::make_shared<PatientArgs>();
    CLI::App* p = app.add_subcommand("patient", "Show (or change) the patient record");
    p->add_option("FILE", patient->path, "Recording")->required();
    p->add_flag("--json", patient->json, "Print one JSON object");
    p->add_option("--set", patient->set,
                  "Change a field first: last-name, first-name, middle-initial, patient-id, "
                  "birth-date (YYYY-MM-DD), sex (M, F, -), physician, technician, medications, "
                  "history, comments (repeatable)");
    p->callback([patient, &action] { action = [patient] { return RunPatient(*patient); }; });
}

}  // namespace eegtool
