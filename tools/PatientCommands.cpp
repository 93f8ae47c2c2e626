// eegfile status FILE [--set STATUS]
// eegfile patient FILE [--json]
//
// Both act by path, as list and archive programs do, without opening the
// recording; a read entry in its control file keeps others from taking it
// exclusively (to cut it, say) meanwhile.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "EegFile/frame/EegFileException.h"
#include "tools/Json.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

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
    if (change) {
        struct stat st;
        if (::stat(args.path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
            ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    }
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
};

int RunPatient(const PatientArgs& args) {
    SetSubject(args.path);
    CheckRecordingPath(args.path);
    ReadGuard guard(args.path);
    CPatientInfo info;
    if (!CEegFile::GetPatientInfo(args.path.c_str(), info))
        throw ToolError("no patient record could be read");
    JsonWriter json;
    WritePatientJson(json, info);
    if (args.json) {
        std::printf("%s\n", json.str().c_str());
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
    CLI::App* p = app.add_subcommand("patient", "Show the patient record");
    p->add_option("FILE", patient->path, "Recording")->required();
    p->add_flag("--json", patient->json, "Print one JSON object");
    p->callback([patient, &action] { action = [patient] { return RunPatient(*patient); }; });
}

}  // namespace eegtool
