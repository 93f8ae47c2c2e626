// eegfile info FILE [--json]: what a recording holds and who holds it.
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/AmpInput.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/events/EegEventMask.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/events/RecordEvent.h"
#include "EegFile/winfile/WinEegFile.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

using nlohmann::ordered_json;

struct Section {
    uint32_t first, end;
    std::string start;
    bool runStart, runStop;
};

struct Run {
    uint32_t first, end;
    std::string start;
};

struct Hole {
    uint32_t first, end;  // seconds
};

struct Info {
    std::string path;
    bool legacy = false;
    double rate = 0;
    int channels = 0;
    std::vector<std::string> stored;
    std::vector<int> storedSlots;  // the slot of each, for matching dump's columns
    int compression = 0;
    int bytesPerSecond = 0;
    uint32_t samples = 0, seconds = 0;
    std::string startTime;
    std::vector<Section> sections;
    std::vector<Run> runs;
    std::vector<Hole> holes;
    // Seconds after the stored data that exist only because an event lies there.
    std::optional<Hole> pastData;
    // What a writer that died left: the check's "recording interrupted" finding.
    std::string interrupted;
    int status = 5;
    std::string lastName, firstName, patientId;
    int eventCount = 0;
    std::map<int, int> eventsByType;
    CEegStationList stations;
};

const char* CompressionName(int c) {
    return c == 2 ? "delta coded" : (c == 1 ? "exponent delta coded (legacy)" : "uncompressed");
}

Info Gather(const std::string& path) {
    Info info;
    info.path = path;
    // Read before opening, so the list shows the others and not this reader.
    info.stations = ReadStations(path);
    std::unique_ptr<CEegFile> file = OpenRecording(path, 0);

    info.rate = file->GetSampleRate();
    info.channels = file->GetMaxChannels();
    bool slot[32] = {};
    const CAmpInputDomain& inputs = file->GetAmpHardwareInfo().GetInputDomain();
    for (int i = 0; i < inputs.GetSize(); ++i) {
        const int s = CAmpHardwareInfo::GetAmpChannelIndex(inputs.GetAt(i));
        if (s >= 0 && s < 32)
            slot[s] = true;
    }
    for (int s = 0; s < 32; ++s)
        if (slot[s]) {
            info.stored.push_back(AmpInput::GetName(s));
            info.storedSlots.push_back(s);
        }
    info.compression = file->GetCompressionType();
    info.bytesPerSecond = file->GetBytesPerSecondFile();
    info.samples = file->GetLengthInSamples();
    info.seconds = file->GetLengthInSeconds();

    if (const auto* win = dynamic_cast<const CWinEegFile*>(file.get())) {
        const CEegStreamIndex& index = win->GetStreamIndex();
        uint32_t previousEnd = 0;
        for (int i = 0; i < index.GetSize(); ++i) {
            const CEegStreamIndexEntry& e = index.GetAt(i);
            const std::string start = DateTimeText(e.m_startTime);
            info.sections.push_back({e.m_firstSecond, e.m_endSecond, start,
                                     (e.m_flags & CEegStreamIndex::kRunStart) != 0,
                                     (e.m_flags & CEegStreamIndex::kRunStop) != 0});
            if (info.runs.empty() || (e.m_flags & CEegStreamIndex::kRunStart))
                info.runs.push_back({e.m_firstSecond, e.m_endSecond, start});
            else
                info.runs.back().end = e.m_endSecond;
            // Seconds that no section covers read as zeros: the holes cut out.
            if (e.m_firstSecond > previousEnd)
                info.holes.push_back({previousEnd, e.m_firstSecond});
            previousEnd = e.m_endSecond;
        }
        // A recording whose events run past its data is that long too. After a
        // cut that took the end, a deletion event lies there and the seconds are a
        // hole; otherwise they hold no data at all, only events (a writer that
        // died after adding an event ahead of its samples, say).
        if (info.seconds > previousEnd) {
            CEegEventList after;
            file->GetEventList(after, CEegEventMask(),
                               CEegTimeStamp(previousEnd * static_cast<uint32_t>(info.rate)),
                               CEegTimeStamp::NullStamp, 0, 0);
            bool cut = false;
            for (int i = 0; i < after.GetSize(); ++i)
                cut = cut || after.GetAt(i)->GetEventType() == CEegEvent::etDataDeletion;
            if (cut)
                info.holes.push_back({previousEnd, info.seconds});
            else
                info.pastData = Hole{previousEnd, info.seconds};
        }
    }
    if (dynamic_cast<const CDosEegFile*>(file.get())) {
        // A legacy recording keeps no sections: its runs are those of its record
        // events, its holes those of its data-deletion pairs.
        info.legacy = true;
        const uint32_t rate = info.rate >= 1 ? static_cast<uint32_t>(info.rate) : 1;
        CEegEventMask only;
        only.SetAll(1);
        only.SetMask(CEegEvent::etRecord, 0);
        only.SetMask(CEegEvent::etDataDeletion, 0);
        CEegEventList marks;
        file->GetEventList(marks, only, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0, 0);
        for (int i = 0; i < marks.GetSize(); ++i) {
            const CEegEvent* e = marks.GetAt(i);
            const uint32_t second = e->GetTimeStamp().GetSampleOffset() / rate;
            if (const auto* hole = dynamic_cast<const CDataDeletionEvent*>(e)) {
                if (hole->IsDeletionStart())
                    info.holes.push_back(
                        {second, hole->GetEndTimeStamp().GetSampleOffset() / rate});
                continue;
            }
            int recording = 0;
            CTKTime when;
            static_cast<const CRecordEvent*>(e)->GetRecordData(recording, when);
            if (!info.runs.empty() && info.runs.back().end == info.seconds)
                info.runs.back().end = second;  // the run before ends here
            if (recording)
                info.runs.push_back({second, info.seconds, TKTimeText(when)});
        }
    }
    const CTKTime start = file->GetStartTime();
    info.startTime = TKTimeText(start);
    if (info.startTime.empty() && !info.sections.empty())
        info.startTime = info.sections.front().start;

    const CPatientInfo& patient = file->GetPatientInfo();
    info.lastName = patient.GetLastName().str();
    info.firstName = patient.GetFirstName().str();
    info.patientId = patient.GetPatientId().str();
    info.status = file->GetRecordStatus();

    CEegEventList events;
    file->GetEventList(events, CEegEventMask(), CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp,
                       0, 0);
    info.eventCount = events.GetSize();
    for (int i = 0; i < events.GetSize(); ++i)
        ++info.eventsByType[events.GetAt(i)->GetEventType()];
    file->Close();
    // The structures only, not every sample: quick even for a day of data.
    for (const CEegFileProblem& p : CEegFile::CheckFile(path.c_str(), 0)) {
        if (CString(p.m_what).Left(21) == "recording interrupted")
            info.interrupted = p.m_what.GetString();
    }
    return info;
}

void PrintText(const Info& i) {
    std::printf("file:           %s\n", i.path.c_str());
    std::printf("format:         %s\n", i.legacy ? "legacy (text log and numbered data files)"
                                                 : "current (compound container)");
    std::printf("sample rate:    %g samples/s\n", i.rate);
    std::printf("channels:       %d per frame, %zu stored:", i.channels, i.stored.size());
    for (const std::string& s : i.stored)
        std::printf(" %s", s.c_str());
    std::printf("\ncompression:    %d (%s)\n", i.compression, CompressionName(i.compression));
    std::printf("bytes/second:   %d\n", i.bytesPerSecond);
    std::printf("length:         %u samples, %u s (%s)\n", i.samples, i.seconds,
                HhMmSs(i.seconds).c_str());
    std::printf("start time:     %s\n", i.startTime.empty() ? "-" : i.startTime.c_str());
    std::printf("recording runs: %zu\n", i.runs.size());
    for (size_t r = 0; r < i.runs.size(); ++r)
        std::printf("  run %zu: seconds %u-%u (%s), started %s\n", r + 1, i.runs[r].first,
                    i.runs[r].end, HhMmSs(i.runs[r].end - i.runs[r].first).c_str(),
                    i.runs[r].start.empty() ? "-" : i.runs[r].start.c_str());
    std::printf("holes:          %zu\n", i.holes.size());
    for (const Hole& h : i.holes)
        std::printf("  seconds %u-%u\n", h.first, h.end);
    if (i.pastData)
        std::printf("past the data:  seconds %u-%u hold no samples, only events\n",
                    i.pastData->first, i.pastData->end);
    if (!i.interrupted.empty())
        std::printf("%s\n", i.interrupted.c_str());
    std::printf("record status:  %d (%s)\n", i.status,
                RecordStatusName(static_cast<CPatientInfo::RecordStatus>(i.status)));
    std::string name = i.lastName;
    if (!i.firstName.empty())
        name += (name.empty() ? "" : ", ") + i.firstName;
    std::printf("patient:        %s, id %s\n", name.empty() ? "-" : name.c_str(),
                i.patientId.empty() ? "-" : i.patientId.c_str());
    std::printf("events:         %d\n", i.eventCount);
    for (const auto& [type, count] : i.eventsByType)
        std::printf("  %-20s %d\n", EventTypeName(type), count);
    std::printf("stations:       %d\n", i.stations.GetSize());
    for (int s = 0; s < i.stations.GetSize(); ++s)
        std::printf("  %s #%d: %s\n", i.stations[s].m_Name.GetString(), i.stations[s].m_Number,
                    AccessModeName(i.stations[s].m_Mode));
}

ordered_json InfoJson(const Info& i) {
    ordered_json json = {{"file", i.path},
                         {"format", i.legacy ? "legacy" : "current"},
                         {"sample_rate", i.rate},
                         {"channels", i.channels},
                         {"stored_count", i.stored.size()},
                         {"stored_slots", i.stored}};
    // Each stored channel's slot beside its label.
    json["stored_channels"] = ordered_json::array();
    for (size_t c = 0; c < i.stored.size(); ++c)
        json["stored_channels"].push_back({{"slot", i.storedSlots[c]}, {"label", i.stored[c]}});
    json["compression"] = i.compression;
    json["compression_name"] = CompressionName(i.compression);
    json["bytes_per_second"] = i.bytesPerSecond;
    json["length_samples"] = i.samples;
    json["length_seconds"] = i.seconds;
    json["length_hms"] = HhMmSs(i.seconds);
    json["start_time"] = i.startTime;
    json["runs"] = ordered_json::array();
    for (const Run& r : i.runs)
        json["runs"].push_back(
            {{"first_second", r.first}, {"end_second", r.end}, {"start_time", r.start}});
    json["sections"] = ordered_json::array();
    for (const Section& s : i.sections)
        json["sections"].push_back({{"first_second", s.first},
                                    {"end_second", s.end},
                                    {"start_time", s.start},
                                    {"run_start", s.runStart},
                                    {"run_stop", s.runStop}});
    json["holes"] = ordered_json::array();
    for (const Hole& h : i.holes)
        json["holes"].push_back({{"first_second", h.first}, {"end_second", h.end}});
    if (i.pastData)
        json["past_data"] = {{"first_second", i.pastData->first}, {"end_second", i.pastData->end}};
    else
        json["past_data"] = nullptr;
    json["interrupted"] =
        i.interrupted.empty() ? ordered_json(nullptr) : ordered_json(i.interrupted);
    json["record_status"] = i.status;
    json["record_status_name"] =
        RecordStatusName(static_cast<CPatientInfo::RecordStatus>(i.status));
    json["patient"] = {
        {"last_name", i.lastName}, {"first_name", i.firstName}, {"patient_id", i.patientId}};
    ordered_json byType = ordered_json::object();
    for (const auto& [type, count] : i.eventsByType)
        byType[EventTypeName(type)] = count;
    json["events"] = {{"total", i.eventCount}, {"by_type", byType}};
    json["stations"] = ordered_json::array();
    for (int s = 0; s < i.stations.GetSize(); ++s)
        json["stations"].push_back({{"name", i.stations[s].m_Name.str()},
                                    {"number", static_cast<int>(i.stations[s].m_Number)},
                                    {"mode", static_cast<int>(i.stations[s].m_Mode)},
                                    {"mode_name", AccessModeName(i.stations[s].m_Mode)}});
    return json;
}

}  // namespace

ordered_json RecordingInfo(const std::string& path) {
    return InfoJson(Gather(path));
}

void AddInfoCommand(CLI::App& app, Action& action) {
    struct Args {
        std::string path;
        bool json = false;
    };
    auto args = std::make_shared<Args>();
    CLI::App* cmd = app.add_subcommand("info", "Format, length, runs, patient, events, stations");
    cmd->add_option("FILE", args->path, "Recording")->required();
    cmd->add_flag("--json", args->json, "Print one JSON object");
    cmd->callback([args, &action] {
        action = [args] {
            SetSubject(args->path);
            const Info info = Gather(args->path);
            if (args->json)
                PrintJson(InfoJson(info));
            else
                PrintText(info);
            return kExitOk;
        };
    });
}

}  // namespace eegtool
