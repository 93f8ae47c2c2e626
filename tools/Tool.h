// What the subcommands of the `eegfile` program share: opening a recording,
// turning the library's exceptions into one line, times, progress, JSON of
// events and the stations holding a file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "EegBase/PatientInfo.h"
#include "EegFile/frame/EegFile.h"
#include "EegFile/frame/StationList.h"

namespace CLI {
class App;
}
class CEegEvent;
class CEegEventList;
class CEegMontage;

namespace eegtool {

// Exit codes: 0 done, 1 the file or the library refused, 2 the command line was wrong.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure the tool itself detects; main prints "eegfile: <path>: <what>".
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wrong value on the command line that the parser cannot see (exit 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Each subcommand registers itself and, when chosen, sets the action to run.
using Action = std::function<int()>;
void AddInfoCommand(CLI::App& app, Action& action);
void AddEventsCommand(CLI::App& app, Action& action);
void AddDumpCommand(CLI::App& app, Action& action);
void AddSimulateCommand(CLI::App& app, Action& action);
void AddMarkCommands(CLI::App& app, Action& action);
void AddConvertCommand(CLI::App& app, Action& action);
void AddPatientCommands(CLI::App& app, Action& action);
void AddFollowCommand(CLI::App& app, Action& action);
void AddExportCommands(CLI::App& app, Action& action);
void AddCheckCommand(CLI::App& app, Action& action);

// The path the running command works on, named in its error line.
void SetSubject(const std::string& path);
const std::string& GetSubject();

// The exception's message on one line: the station paragraph of an access
// refusal becomes "...: NAME1, NAME2".
std::string OneLine(const std::string& message);

// A recording opened for reading (forWriting 0) or writing: a legacy one for a
// path whose last extension is ".LOG", else a current one. A folder is refused
// with a ToolError.
std::unique_ptr<CEegFile> OpenRecording(const std::string& path, int forWriting);

// Refuses a missing path or a folder with a ToolError (the by-path commands,
// whose library calls only answer 0).
void CheckRecordingPath(const std::string& path);

// Holds a read entry in the recording's control file while it lives, so that
// nobody takes the file exclusively meanwhile; refused (CEegFileException 5
// with the holders) when someone already holds it exclusively.
class ReadGuard {
public:
    explicit ReadGuard(const std::string& path);
    ~ReadGuard();
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// "12.5", "90", "1:30", "01:02:03.5" as seconds; a UsageError otherwise.
double ParseSeconds(const std::string& text, const char* option);
// Seconds at rate as whole samples: truncated, except that a product within a
// millionth of a whole number is that number (9.995 s at 200/s is sample 1999,
// although 9.995 x 200 comes out just below it in floating point).
double SamplesOf(double seconds, double rate);
// Seconds as "hh:mm:ss" (whole seconds).
std::string HhMmSs(uint64_t seconds);
// A date-time as "YYYY-MM-DD hh:mm:ss", or "" when null or invalid.
std::string DateTimeText(const COleDateTime& time);
std::string TKTimeText(const CTKTime& time);

// The stations the control file beside path lists, read without taking any
// lock (a snapshot for display); empty when there is no control file.
CEegStationList ReadStations(const std::string& path);
const char* AccessModeName(int mode);

// Record status names for output and for `status --set`.
const char* RecordStatusName(CPatientInfo::RecordStatus status);
// A number 0-6 or a name ("ready-to-read", ...); a UsageError otherwise.
CPatientInfo::RecordStatus ParseRecordStatus(const std::string& text);

// A comma list of items, each a number 0..count-1 or (in any case) the name
// nameOf gives it; a UsageError naming `option` and `what` otherwise.
std::vector<int> ParseNamedList(const std::string& list, int count,
                                const std::function<const char*(int)>& nameOf,
                                const std::string& option, const std::string& what);

// Event type names ("comment", "montage", ...); ParseEventTypes takes a comma
// list of names or numbers.
const char* EventTypeName(int type);
std::vector<int> ParseEventTypes(const std::string& list);

// Every field of the event as one JSON object: its type, position and text
// (AsString with the file), then what its type carries.
nlohmann::ordered_json EventJson(const CEegEvent& event, const CEegFile& file);
nlohmann::ordered_json MontageJson(const CEegMontage& montage);
nlohmann::ordered_json PatientJson(const CPatientInfo& info);
// json as text, indented by two spaces: whole numbers as integers, bytes of a
// text that are not UTF-8 as U+FFFD. PrintJson puts it on stdout.
std::string JsonText(nlohmann::ordered_json json);
void PrintJson(nlohmann::ordered_json json);
// What `info --json` prints of the recording at path.
nlohmann::ordered_json RecordingInfo(const std::string& path);
// The events of types (empty: all) in [from, to] (NullStamp: open) of a
// recording, in time order; and a list of events as a JSON array of EventJson.
void SelectEvents(const CEegFile& file, const std::vector<int>& types, const CEegTimeStamp& from,
                  const CEegTimeStamp& to, CEegEventList& events);
nlohmann::ordered_json EventsJson(const CEegFile& file, const CEegEventList& events);

// A progress bar on stderr, drawn only when stderr is a terminal.
class Progress {
public:
    explicit Progress(const char* label);
    ~Progress();
    void Update(double fraction);  // 0 .. 1
    void Done();

private:
    std::string m_label;
    bool m_enabled;
    int m_last = -1;
};

}  // namespace eegtool
