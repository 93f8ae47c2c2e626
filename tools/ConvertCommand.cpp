// eegfile convert IN OUT: a recording (a legacy one, or a current one) into a new
// current-format recording, keeping every sample, every event at its sample
// offset, the holes (deletion pairs over seconds of zeros), the runs with their
// start times, and the patient record where the source has one.
//
// OUT is written beside itself as OUT.tmp, made durable and renamed over OUT, so
// a failure leaves OUT as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "EegBase/EegDataChunk.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/events/Events.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Archive.h"
#include "Platform/File.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

struct ConvertArgs {
    std::string in, out;
    bool force = false;
};

// Copies of the events, made by storing them and loading them back: every event
// class copies itself that way, whatever it holds.
std::vector<std::unique_ptr<CEegEvent>> CopyEvents(const CEegEventList& events,
                                                   const std::string& scratch) {
    {
        CFile file(scratch.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
        CArchive ar(&file, CArchive::store);
        const_cast<CEegEventList&>(events).Serialize(ar);
        ar.Close();
        file.Close();
    }
    CEegEventList loaded;
    try {
        CFile file(scratch.c_str(), CFile::modeRead | CFile::shareExclusive);
        CArchive ar(&file, CArchive::load);
        loaded.Serialize(ar);
        ar.Close();
        file.Close();
    } catch (CException*) {
        for (int i = 0; i < loaded.GetSize(); ++i)
            delete loaded.GetAt(i);
        CFile::Remove(scratch.c_str());
        throw;
    }
    CFile::Remove(scratch.c_str());
    std::vector<std::unique_ptr<CEegEvent>> out;
    for (int i = 0; i < loaded.GetSize(); ++i)
        out.emplace_back(const_cast<CEegEvent*>(loaded.GetAt(i)));
    return out;
}

// The source's patient record, when it has one: a legacy recording's stands in
// its site's patient database or its patient file (the default record that stands
// in for neither is not carried over).
bool SourcePatient(CEegFile& in, const std::string& path, CPatientInfo& patient) {
    if (CEegFile::IsDosRecordingPath(path.c_str()))
        return CDosEegFile::GetPatientInfoFromDb(path.c_str(), patient) ||
               CDosEegFile::GetPatientInfoFromPdb(path.c_str(), patient);
    patient = in.GetPatientInfo();
    return patient.GetRecordStatus() != CPatientInfo::rsUnknown;
}

int RunConvert(const ConvertArgs& args) {
    SetSubject(args.in);
    std::unique_ptr<CEegFile> in = OpenRecording(args.in, 0);
    SetSubject(args.out);
    if (CEegFile::IsDosRecordingPath(args.out.c_str()))
        throw UsageError("OUT must be a current-format recording, not a .LOG");
    struct stat st;
    if (::stat(args.out.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || !args.force))
        throw ToolError(S_ISDIR(st.st_mode) ? "is a folder" : "exists (use --force to replace it)");
    if (args.in == args.out)
        throw UsageError("IN and OUT are the same file");

    const int rate = static_cast<int>(in->GetSampleRate());
    if (rate < 1)
        throw ToolError("the recording has no sample rate");
    const uint32_t samples = in->GetLengthInSamples();
    CEegEventList all;
    in->GetEventList(all, CEegEventMask(), CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0,
                     0);
    const std::string temp = args.out + ".tmp";
    std::vector<std::unique_ptr<CEegEvent>> events = CopyEvents(all, temp + ".events");

    // The runs: a record event that starts one begins it at its offset.
    struct RunStart {
        uint32_t at;
        COleDateTime when;
    };
    std::vector<RunStart> runs;
    for (const auto& e : events) {
        int recording = 0;
        CTKTime when;
        if (e->GetEventType() == CEegEvent::etRecord &&
            static_cast<const CRecordEvent&>(*e).GetRecordData(recording, when) && recording)
            runs.push_back({e->GetTimeStamp().GetSampleOffset(), when.GetOleDateTime()});
    }
    if (runs.empty() || runs.front().at > 0)
        runs.insert(runs.begin(),
                    {0, in->GetStartTime().IsNull() ? COleDateTime::GetCurrentTime()
                                                    : in->GetStartTime().GetOleDateTime()});

    // The current format keeps compression 2 or none; the legacy exponent coding
    // becomes the adaptive delta coding, which keeps more.
    const Compression::CompressionType compression =
        in->GetCompressionType() == Compression::Uncompressed ? Compression::Uncompressed
                                                              : Compression::AdaptiveDelta;
    std::printf("converting %s: %u s at %d samples/s into %s\n", args.in.c_str(), samples / rate,
                rate, args.out.c_str());
    std::fflush(stdout);
    Progress progress("convert");
    try {
        CWinEegFile out;
        out.Create(temp.c_str());
        CPatientInfo patient;
        if (SourcePatient(*in, args.in, patient))
            out.SetPatientInfo(patient, 1);
        out.PrepareToWriteEeg(rate, compression, in->GetAmpHardwareInfo());
        out.SetWriteThreadOnOff(0);
        CEegDataChunk chunk(rate, 32);
        uint32_t n = 0;
        for (size_t r = 0; r < runs.size(); ++r) {
            out.StartRecording(runs[r].when);
            const uint32_t end = r + 1 < runs.size() ? std::min(runs[r + 1].at, samples) : samples;
            while (n < end) {
                const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(rate), end - n);
                in->ReadEegDataAt(CEegTimeStamp(n), chunk, count);
                chunk.SetNumberOfSamples(count);  // past the data: zeros, as read
                out.WriteEegData(chunk);
                n += count;
                progress.Update(static_cast<double>(n) / std::max<uint32_t>(samples, 1));
            }
            out.FlushWriteBuffer();
            out.StopRecording();
        }
        // All events with one append and one flush, not a flush per event.
        CEegEventList given;
        for (auto& e : events)
            given.Add(e.release());
        out.AddEvents(given);
        out.SetRecordStatus(CPatientInfo::rsReadyToRead, CPatientInfo::rsAny);
        out.Close();
    } catch (...) {
        // Nothing half-written stays behind; OUT is as it was.
        ::unlink(temp.c_str());
        throw;
    }
    in->Close();
    // The container flushed the new file at its commits; the rename puts it in
    // place whole, and the folder's flush keeps the rename.
    CFile::Rename(temp.c_str(), args.out.c_str());
    CFile::FlushFolderOf(args.out.c_str());
    progress.Done();
    std::printf("done: %u samples, %zu events\n", samples, events.size());
    return kExitOk;
}

}  // namespace

void AddConvertCommand(CLI::App& app, Action& action) {
    auto args = std::make_shared<ConvertArgs>();
    CLI::App* cmd = app.add_subcommand(
        "convert", "Convert a recording (legacy or current) into a new current one");
    cmd->add_option("IN", args->in, "Recording to read")->required();
    cmd->add_option("OUT", args->out, "Current-format recording to write")->required();
    cmd->add_flag("--force", args->force, "Replace an existing OUT");
    cmd->callback([args, &action] { action = [args] { return RunConvert(*args); }; });
}

}  // namespace eegtool
