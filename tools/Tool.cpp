#include "tools/Tool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

#include "EegBase/AmpInput.h"
#include "EegBase/EegMontage.h"
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/LogFileFormat.h"
#include "EegFile/events/Events.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/File.h"
#include "Platform/Report.h"

namespace eegtool {

using nlohmann::ordered_json;

namespace {

std::string g_subject;

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A file without any write permission bit is read-only, whoever runs the tool.
bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

}  // namespace

void SetSubject(const std::string& path) {
    g_subject = path;
}

const std::string& GetSubject() {
    return g_subject;
}

// The legacy parser skips every line that is not a log entry, so a file of
// anything else would open as an empty recording. A log that has text but no entry
// in its first megabyte is not a recording's log; an empty one is a recording that
// has just been created.
bool HasNoLogEntry(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;  // Open reports why
    std::string text(1 << 20, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), in));
    std::fclose(in);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        // Lines are read at most 299 characters at a time, as the parser does.
        const size_t length = std::min<size_t>(end - start, 299);
        std::string line = text.substr(start, length);
        if (LogFormat::IsLogEntry(LogFormat::TrimLine(line.data(), static_cast<int>(line.size()))))
            return false;
        start += length;
    }
    return !text.empty();
}

void CheckLegacyLog(const std::string& path) {
    if (CEegFile::IsDosRecordingPath(path.c_str()) && HasNoLogEntry(path))
        throw ToolError("not a recording's log: none of its lines is a log entry");
}

std::string OneLine(const std::string& message) {
    // Lines starting with a tab are the station names that follow a heading
    // line ending in ':'; they become a comma list on that line.
    std::string out;
    bool inNames = false;
    size_t start = 0;
    while (start <= message.size()) {
        size_t end = message.find('\n', start);
        if (end == std::string::npos)
            end = message.size();
        std::string line = message.substr(start, end - start);
        start = end + 1;
        const bool isName = !line.empty() && line[0] == '\t';
        while (!line.empty() &&
               (line.front() == '\t' || line.front() == ' ' || line.front() == '\r'))
            line.erase(0, 1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
            line.pop_back();
        for (char& c : line)
            if (c == '\t')
                c = ' ';
        if (line.empty())
            continue;
        if (!out.empty())
            out += isName && inNames ? ", " : " ";
        out += line;
        inNames = isName || (!line.empty() && line.back() == ':');
    }
    return out;
}

void CheckRecordingPath(const std::string& path) {
    if (IsFolder(path))
        throw ToolError("is a folder, not a recording");
    if (!Exists(path))
        throw ToolError(std::string("cannot open: ") + std::strerror(ENOENT));
    CheckLegacyLog(path);
}

std::unique_ptr<CEegFile> OpenRecording(const std::string& path, int forWriting) {
    if (IsFolder(path))
        throw ToolError("is a folder, not a recording");
    std::unique_ptr<CEegFile> file;
    if (CEegFile::IsDosRecordingPath(path.c_str())) {
        CheckLegacyLog(path);
        file = std::make_unique<CDosEegFile>();
    } else
        file = std::make_unique<CWinEegFile>();
    file->Open(path.c_str(), forWriting);
    return file;
}

struct ReadGuard::Impl {
    CEegAccessControl access;
};

ReadGuard::ReadGuard(const std::string& path) {
    // A read-only recording is opened without any control file; so is it here.
    if (IsReadOnlyFile(path))
        return;
    m_impl = std::make_unique<Impl>();
    m_impl->access.SetPaths(path.c_str());
    if (!m_impl->access.TakeMode(CEegAccessMode::eamRead))
        ThrowEegFileException(CEegFileException::eReadAccessRequired,
                              &m_impl->access.GetStationList());
}

ReadGuard::~ReadGuard() {
    if (!m_impl)
        return;
    try {
        m_impl->access.Release();
    } catch (CException* e) {
        // The entry stays behind; the next clean-up of this station removes it.
        e->Delete();
    }
}

double ParseSeconds(const std::string& text, const char* option) {
    // [[hh:]mm:]ss[.fraction]
    double total = 0;
    size_t start = 0;
    int parts = 0;
    while (true) {
        const size_t colon = text.find(':', start);
        const std::string part =
            text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        char* end = nullptr;
        errno = 0;
        const double v = part.empty() ? -1 : std::strtod(part.c_str(), &end);
        const bool last = colon == std::string::npos;
        if (part.empty() || errno || *end || !std::isfinite(v) || v < 0 ||
            (!last && part.find('.') != std::string::npos) || ++parts > 3)
            throw UsageError(std::string(option) + ": not a time: '" + text + "'");
        total = total * 60 + v;
        if (last)
            break;
        start = colon + 1;
    }
    return total;
}

double SamplesOf(double seconds, double rate) {
    const double s = seconds * rate;
    const double nearest = std::round(s);
    return std::fabs(s - nearest) < 1e-6 ? nearest : std::floor(s);
}

std::string HhMmSs(uint64_t seconds) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
    return buf;
}

std::string DateTimeText(const COleDateTime& time) {
    if (time.GetStatus() != COleDateTime::valid || time.m_dt == 0)
        return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", time.GetYear(), time.GetMonth(),
                  time.GetDay(), time.GetHour(), time.GetMinute(), time.GetSecond());
    return buf;
}

std::string TKTimeText(const CTKTime& time) {
    return time.IsNull() ? std::string() : DateTimeText(time.GetOleDateTime());
}

CEegStationList ReadStations(const std::string& path) {
    CEegStationList stations;
    const CString controlPath =
        EegControlFileFormat::SiblingPath(path.c_str(), EegControlFileFormat::kControlExtension);
    CFile file;
    if (!file.Open(controlPath, CFile::modeRead | CFile::shareDenyNone))
        return stations;
    CEegControlRecord record;
    ReadControlRecord(file, record);
    file.Close();
    return record.m_Stations;
}

const char* AccessModeName(int mode) {
    switch (mode) {
        case CEegAccessMode::eamRead:
            return "read";
        case CEegAccessMode::eamReadMark:
            return "read+mark";
        case CEegAccessMode::eamWrite:
            return "write";
        case CEegAccessMode::eamWriteMark:
            return "write+mark";
        case CEegAccessMode::eamExclusive:
            return "exclusive";
        default:
            return "unknown";
    }
}

namespace {

const char* const kStatusNames[] = {"ready-to-record",  "recording", "ready-to-read",
                                    "ready-to-archive", "any",       "unknown",
                                    "archived"};

const char* const kEventNames[] = {
    "record",     "calibrate",   "impedance",      "recording-ref", "montage",
    "trace-info", "notch",       "linked-highcut", "linked-lowcut", "linked-sensitivity",
    "speed",      "block",       "comment",        "user",          "flash-rate",
    "flash-run",  "timer",       "data-deletion",  "segment-mark",  "add-on",
    "analysis",   "bookmark",    "data-mark",      "system",        "voice",
    "key-press",  "battery-low", "persyst"};

bool SameNoCase(const std::string& a, const char* b) {
    return ::strcasecmp(a.c_str(), b) == 0;
}

std::string Hex(const void* data, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; p && i < size; ++i) {
        out += kHex[p[i] >> 4];
        out += kHex[p[i] & 15];
    }
    return out;
}

std::string InputName(int code) {
    const char* name = AmpInput::GetName(code);
    return name ? name : (code == AmpInput::NoInput ? "" : std::to_string(code));
}

ordered_json StampJson(CEegTimeStamp stamp) {
    if (stamp == CEegTimeStamp::NullStamp)
        return nullptr;
    return stamp.GetSampleOffset();
}

ordered_json TraceJson(const CTraceInfo& t) {
    return {{"label", t.GetLabel().str()},
            {"active", InputName(t.GetActInput())},
            {"reference", InputName(t.GetRefInput())},
            {"sensitivity", t.GetSensitivity()},
            {"high_cut", t.GetHighCut()},
            {"low_cut", t.GetLowCut()},
            {"linked", t.GetLinkedFlag()},
            {"color", t.GetColor()}};
}

// Whole numbers held as doubles (a rate of 200/s, a high cut of 70 Hz) print as
// integers, "200" rather than "200.0", as they always have: scripts reading the
// output may take them for integers.
void WholeNumbersAsIntegers(ordered_json& json) {
    if (json.is_structured()) {
        for (ordered_json& item : json)
            WholeNumbersAsIntegers(item);
    } else if (json.is_number_float()) {
        const double v = json.get<double>();
        // Larger ones keep their exponent form (1e+16), as before.
        if (v == std::trunc(v) && std::fabs(v) < 9007199254740992.0)
            json = static_cast<int64_t>(v);
    }
}

}  // namespace

const char* RecordStatusName(CPatientInfo::RecordStatus status) {
    const int s = static_cast<int>(status);
    return s >= 0 && s <= 6 ? kStatusNames[s] : "unknown";
}

CPatientInfo::RecordStatus ParseRecordStatus(const std::string& text) {
    for (int s = 0; s <= 6; ++s) {
        if (s == CPatientInfo::rsAny || s == CPatientInfo::rsUnknown)
            continue;  // only meaningful as an expectation or a failed read
        if (text == std::to_string(s) || SameNoCase(text, kStatusNames[s]))
            return static_cast<CPatientInfo::RecordStatus>(s);
    }
    throw UsageError("--set: not a record status: '" + text +
                     "' (ready-to-record, recording, ready-to-read, ready-to-archive, archived "
                     "or 0-3, 6)");
}

const char* EventTypeName(int type) {
    return type >= 0 && type < 28 ? kEventNames[type] : "none";
}

std::vector<int> ParseNamedList(const std::string& list, int count,
                                const std::function<const char*(int)>& nameOf,
                                const std::string& option, const std::string& what) {
    std::vector<int> values;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        const std::string item = list.substr(start, comma - start);
        start = comma + 1;
        int found = -1;
        for (int v = 0; v < count && found < 0; ++v)
            if (item == std::to_string(v) || SameNoCase(item, nameOf(v)))
                found = v;
        if (found < 0)
            throw UsageError(option + ": not " + what + ": '" + item + "'");
        values.push_back(found);
    }
    return values;
}

std::vector<int> ParseEventTypes(const std::string& list) {
    return ParseNamedList(
        list, 28, [](int t) { return kEventNames[t]; }, "--types", "an event type");
}

ordered_json MontageJson(const CEegMontage& montage) {
    ordered_json traces = ordered_json::array();
    for (int i = 0; i < 32; ++i) {
        const CTraceInfo& t = montage.GetTraceInfo(i);
        if (t.HasActInput())
            traces.push_back({{"position", i}, {"trace", TraceJson(t)}});
    }
    ordered_json average;  // null when the montage has none
    if (const CAverageReference* avg = montage.GetAvgRef()) {
        ordered_json inputs = ordered_json::array();
        for (int i = 0; i < avg->GetInputCount(); ++i)
            inputs.push_back(InputName(avg->GetInput(i)));
        average = {{"name", avg->GetName().str()}, {"inputs", inputs}};
    }
    return {{"name", montage.GetName().str()}, {"traces", traces}, {"average_reference", average}};
}

ordered_json PatientJson(const CPatientInfo& info) {
    static const char* const kFields[] = {"last_name",
                                          "first_name",
                                          "middle_initial",
                                          "patient_id",
                                          "physician",
                                          "technician",
                                          "medications",
                                          "history",
                                          "comments",
                                          "ref_physician",
                                          "height",
                                          "weight",
                                          "qm_file_id",
                                          "log_number",
                                          "title",
                                          "ssn",
                                          "marital_status",
                                          "race",
                                          "address_line1",
                                          "address_line2",
                                          "city",
                                          "state",
                                          "zip",
                                          "zip4",
                                          "phone_home",
                                          "phone_work",
                                          "phone_fax",
                                          "email"};
    static_assert(sizeof kFields / sizeof kFields[0] == CPatientInfo::tfCount);
    ordered_json json = ordered_json::object();
    for (int f = 0; f < CPatientInfo::tfCount; ++f)
        json[kFields[f]] = info.GetText(static_cast<CPatientInfo::TextField>(f)).str();
    json["record_status"] = static_cast<int>(info.GetRecordStatus());
    json["record_status_name"] = RecordStatusName(info.GetRecordStatus());
    json["sex"] = info.GetSex() == CPatientInfo::sexMale     ? "male"
                  : info.GetSex() == CPatientInfo::sexFemale ? "female"
                                                             : "";
    json["birth_date"] = info.GetBirthDateStatus() == CPatientInfo::dtValid
                             ? DateTimeText(COleDateTime(info.GetBirthDate())).substr(0, 10)
                             : std::string();
    json["record_date"] = info.GetRecordDateStatus() == CPatientInfo::dtValid
                              ? DateTimeText(COleDateTime(info.GetRecordDate()))
                              : std::string();
    json["qm_synched"] = info.GetQmSynched();
    return json;
}

ordered_json EventJson(const CEegEvent& e, const CEegFile& file) {
    const int type = e.GetEventType();
    const uint32_t offset = e.GetTimeStamp().GetSampleOffset();
    const double rate = file.GetSampleRate();
    ordered_json json = {{"type", EventTypeName(type)},
                         {"type_number", type},
                         {"offset", StampJson(e.GetTimeStamp())},
                         {"seconds", rate > 0 ? offset / rate : 0.0},
                         {"text", e.AsString(&file).str()}};

    switch (type) {
        case CEegEvent::etRecord: {
            int recording = 0;
            CTKTime time;
            const int hasTime = static_cast<const CRecordEvent&>(e).GetRecordData(recording, time);
            json["recording"] = recording != 0;
            json["has_time"] = hasTime != 0;
            json["time"] = TKTimeText(time);
            break;
        }
        case CEegEvent::etCalibrate: {
            int on = 0;
            double amplitude = 0, frequency = 0;
            static_cast<const CCalibrateEvent&>(e).GetCalibrateData(on, amplitude, frequency);
            json["on"] = on != 0;
            json["amplitude"] = amplitude;
            json["frequency"] = frequency;
            break;
        }
        case CEegEvent::etImpedance: {
            const auto& ev = static_cast<const CImpedanceEvent&>(e);
            ordered_json impedances = ordered_json::object();
            for (int in = 0; in <= AmpInput::In8R; ++in) {
                const auto input = static_cast<AmpInput::AmpInputType>(in);
                if (ev.GetImpedanceData().IsMeasured(input))
                    impedances[InputName(in)] = ev.GetImpedanceData().GetImpedance(input);
            }
            ordered_json inputs = ordered_json::array();
            for (int i = 0; i < ev.GetImpInputDomain().GetSize(); ++i)
                inputs.push_back(InputName(ev.GetImpInputDomain().GetAt(i)));
            json["impedances"] = impedances;
            json["inputs"] = inputs;
            json["recording_ref"] = InputName(ev.GetRecordingRef());
            break;
        }
        case CEegEvent::etRecordingRef:
            json["recording_ref"] =
                InputName(static_cast<const CRecordingRefEvent&>(e).GetRecordingReference());
            break;
        case CEegEvent::etMontage:
            json["montage"] = MontageJson(static_cast<const CMontageEvent&>(e).GetMontage());
            break;
        case CEegEvent::etTraceInfo: {
            const auto& ev = static_cast<const CTraceInfoEvent&>(e);
            json["channel"] = ev.GetChannelNumber();
            json["trace"] = TraceJson(ev.GetTraceInfo());
            break;
        }
        case CEegEvent::etNotch: {
            int on = 0;
            double hz = 0;
            static_cast<const CNotchEvent&>(e).GetNotchData(on, hz);
            json["on"] = on != 0;
            json["frequency"] = hz;
            break;
        }
        case CEegEvent::etLinkedHighcut:
            json["value"] = static_cast<const CLinkedHighcutEvent&>(e).GetLinkedHighcut();
            break;
        case CEegEvent::etLinkedLowcut:
            json["value"] = static_cast<const CLinkedLowcutEvent&>(e).GetLinkedLowcut();
            break;
        case CEegEvent::etLinkedSensitivity:
            json["value"] = static_cast<const CLinkedSensitivityEvent&>(e).GetLinkedSensitivity();
            break;
        case CEegEvent::etSpeed:
            json["value"] = static_cast<const CSpeedEvent&>(e).GetSpeed();
            break;
        case CEegEvent::etComment:
        case CEegEvent::etUser: {
            const auto& ev = static_cast<const CAnnotationEvent&>(e);
            json["priority"] = static_cast<int>(ev.GetPriority());
            json["comment"] = type == CEegEvent::etComment
                                  ? static_cast<const CCommentEvent&>(e).GetComment()
                                  : static_cast<const CUserEvent&>(e).GetUserEvent();
            break;
        }
        case CEegEvent::etFlashRate:
            json["rate"] = static_cast<const CFlashRateEvent&>(e).GetFlashRateData();
            break;
        case CEegEvent::etFlashRun: {
            int run = 0, a = 0, b = 0;
            static_cast<const CFlashRunEvent&>(e).GetFlashRunData(run, a, b);
            json["run"] = run;
            json["flag_a"] = a;
            json["flag_b"] = b;
            break;
        }
        case CEegEvent::etTimer: {
            int on = 0;
            unsigned int seconds = 0;
            static_cast<const CTimerEvent&>(e).GetTimerData(on, seconds);
            json["on"] = on != 0;
            json["timer_seconds"] = seconds;
            break;
        }
        case CEegEvent::etDataDeletion: {
            const auto& ev = static_cast<const CDataDeletionEvent&>(e);
            json["start_flag"] = ev.IsDeletionStart() != 0;
            json["start"] = StampJson(ev.GetStartTimeStamp());
            json["end"] = StampJson(ev.GetEndTimeStamp());
            break;
        }
        case CEegEvent::etDataSegmentMark: {
            const auto& ev = static_cast<const CDataSegmentMarkEvent&>(e);
            json["start_flag"] = ev.IsSegmentStart() != 0;
            json["delete"] = ev.IsDeleteSegment() != 0;
            json["start"] = StampJson(ev.GetStartTimeStamp());
            json["end"] = StampJson(ev.GetEndTimeStamp());
            break;
        }
        case CEegEvent::etAddOn: {
            const auto& ev = static_cast<const CAddOnEvent&>(e);
            json["add_on_id"] = static_cast<int>(ev.GetAddOnID());
            json["add_on_event_type"] = static_cast<int>(ev.GetAddOnEventType());
            json["add_on_word"] = static_cast<int>(ev.GetAddOnWord());
            json["priority"] = static_cast<int>(ev.GetPriority());
            json["data"] = Hex(ev.GetData(), ev.GetDataSize());
            break;
        }
        case CEegEvent::etAnalysis: {
            const auto& ev = static_cast<const CAnalysisEvent&>(e);
            json["analysis_name"] = ev.GetAnalysisName().str();
            json["analysis_text"] = ev.GetText().str();
            json["analysis_event_type"] = static_cast<int>(ev.GetAnalysisEventType());
            json["priority"] = static_cast<int>(ev.GetPriority());
            json["data"] = Hex(ev.GetData(), ev.GetDataSize());
            break;
        }
        case CEegEvent::etBookmark: {
            const auto& ev = static_cast<const CBookmarkEvent&>(e);
            json["end"] = StampJson(ev.GetEndStamp());
            json["high_cut"] = ev.GetLinkedHighCut();
            json["low_cut"] = ev.GetLinkedLowCut();
            json["sensitivity"] = ev.GetLinkedSens();
            json["paper_speed"] = ev.GetPaperSpeed();
            json["comment"] = ev.GetComment();
            const CEegMontage* m = ev.GetOverrideMontage();
            json["override_montage"] = m ? MontageJson(*m) : ordered_json();
            break;
        }
        case CEegEvent::etDataMarkDelete: {
            const auto& ev = static_cast<const CDataMarkDeleteEvent&>(e);
            json["end"] = StampJson(ev.GetEndTimeStamp());
            json["mark_type"] = static_cast<int>(ev.GetMarkType());
            json["eeg"] = ev.IsEegMark() != 0;
            json["video"] = ev.IsVideoMark() != 0;
            json["no_audio"] = ev.IsNoAudioMark() != 0;
            json["comment"] = ev.GetComment().str();
            json["priority"] = static_cast<int>(ev.GetPriority());
            break;
        }
        case CEegEvent::etSystem:
            json["comment"] = static_cast<const CSystemEvent&>(e).GetComment();
            break;
        case CEegEvent::etVoice: {
            const auto& ev = static_cast<const CVoiceEvent&>(e);
            json["file_ext_num"] = ev.GetFileExtNum();
            json["start_offset_bytes"] = static_cast<int64_t>(ev.GetStartOffsetInBytes());
            json["length_bytes"] = static_cast<int64_t>(ev.GetLengthInBytes());
            json["priority"] = static_cast<int>(ev.GetPriority());
            break;
        }
        case CEegEvent::etKeyPress:
            json["priority"] =
                static_cast<int>(static_cast<const CKeyPressEvent&>(e).GetPriority());
            break;
        case CEegEvent::etBatteryLow: {
            const auto& ev = static_cast<const CBatteryLowEvent&>(e);
            json["voltage"] = ev.GetVoltage();
            json["priority"] = static_cast<int>(ev.GetPriority());
            break;
        }
        case CEegEvent::etPersyst: {
            const auto& ev = static_cast<const CPersystEvent&>(e);
            json["persyst_type"] = static_cast<int>(ev.GetPersystType());
            json["duration"] = ev.GetDuration();
            json["origin"] = static_cast<int>(ev.GetOrigin());
            json["type_code"] = static_cast<int>(ev.GetType());
            json["comment"] = ev.GetComment().str();
            json["deleted"] = ev.GetEventDeleted();
            break;
        }
        default:
            break;  // block events carry nothing of their own
    }
    return json;
}

std::string JsonText(ordered_json json) {
    WholeNumbersAsIntegers(json);
    // Texts from recordings have no declared encoding (older files hold Latin-1
    // names and comments); replace makes a byte that is not UTF-8 print as
    // U+FFFD, where the default would throw. Valid UTF-8 is written as it is.
    return json.dump(2, ' ', false, ordered_json::error_handler_t::replace);
}

void PrintJson(ordered_json json) {
    std::printf("%s\n", JsonText(std::move(json)).c_str());
}

void SelectEvents(const CEegFile& file, const std::vector<int>& types, const CEegTimeStamp& from,
                  const CEegTimeStamp& to, CEegEventList& events) {
    CEegEventMask mask;  // no bit set: every type
    if (!types.empty()) {
        mask.SetAll(1);
        for (int t : types)
            mask.SetMask(static_cast<CEegEvent::EventType>(t), 0);
    }
    file.GetEventList(events, mask, from, to, 0, 0);
}

ordered_json EventsJson(const CEegFile& file, const CEegEventList& events) {
    ordered_json json = ordered_json::array();
    for (int i = 0; i < events.GetSize(); ++i)
        json.push_back(EventJson(*events.GetAt(i), file));
    return json;
}

Progress::Progress(const char* label) : m_label(label), m_enabled(::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
    Done();
}

void Progress::Update(double fraction) {
    if (!m_enabled)
        return;
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
    if (percent == m_last)
        return;
    m_last = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", m_label.c_str(), filled,
                 "########################################", kWidth - filled, "", percent);
    std::fflush(stderr);
}

void Progress::Done() {
    if (m_enabled && m_last >= 0) {
        std::fputc('\n', stderr);
        m_last = -1;
    }
}

}  // namespace eegtool
