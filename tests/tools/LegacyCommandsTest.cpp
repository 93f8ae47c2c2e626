// eegfile on a legacy recording (".LOG"): the commands that read, mark and cut
// behave as on a current one.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "EegBase/AmpHardwareInfo.h"
#include "EegFile/access/EegAccessControl.h"
#include "EegFile/dos/DosRecordingWriter.h"
#include "EegFile/events/Events.h"
#include "TestSupport.h"
#include "ToolTestSupport.h"
#include "tools/SimSignal.h"

using testsupport::TempDir;
using Json = nlohmann::json;
using tooltest::RunTool;

namespace {

constexpr int kRate = 200;
constexpr int kSeconds = 300;

// Fp1 and Cz of sample n, as the recording below stores them.
int16_t Value(uint32_t n, int slot) {
    return static_cast<int16_t>(std::lround(800 * std::sin(0.01 * n + slot)) + slot);
}

// 300 s at 200 Hz of Fp1 and Cz in mode 2, in data files of 120 s, with a run
// started at 0 and a comment at 5 s.
void WriteLegacy(const std::string& log) {
    const AmpInput::AmpInputType stored[] = {AmpInput::Fp1, AmpInput::Cz};
    CAmpHardwareInfo amp;
    amp.SetInputDomain(CAmpInputDomain(stored, 2));
    CEegMontage montage("Ref");
    montage.SetTraceInfo(0, CTraceInfo("Fp1", AmpInput::Fp1, AmpInput::Ref));
    montage.SetTraceInfo(1, CTraceInfo("Cz", AmpInput::Cz, AmpInput::Ref));
    CDosRecordingWriter w(log.c_str(), kRate, 2, amp, montage);
    const CTKTime start(2026, 12, 6, 9, 0, 0);
    const CRecordEvent run(CEegTimeStamp(0), 1, &start);
    const CCommentEvent comment(CEegTimeStamp(5 * kRate), "eyes closed", 3);
    const CEegEvent* events[] = {&run, &comment};
    w.WriteEvents(events, 2);
    std::vector<short> second(32 * kRate, 0);
    for (int s = 0; s < kSeconds; ++s) {
        if (s % 120 == 0) {
            ASSERT_TRUE(w.StartDataFile());
        }
        for (int i = 0; i < kRate; ++i) {
            const uint32_t n = static_cast<uint32_t>(s * kRate + i);
            second[32 * i + AmpInput::Fp1] = Value(n, AmpInput::Fp1);
            second[32 * i + AmpInput::Cz] = Value(n, AmpInput::Cz);
        }
        ASSERT_TRUE(w.WriteSecond(second.data()));
    }
    w.Close();
}

// Samples of raw dump output that differ from the recording (cut seconds: zeros).
int BadSamples(const std::string& raw, uint32_t cutFrom, uint32_t cutTo) {
    int bad = 0;
    for (uint32_t n = 0; n < kSeconds * kRate; ++n) {
        for (int k = 0; k < 2; ++k) {
            const auto v = tooltest::RawSample(raw, n, k, 2);
            const bool cut = n >= cutFrom * kRate && n < cutTo * kRate;
            bad += v != (cut ? 0 : Value(n, k ? AmpInput::Cz : AmpInput::Fp1));
        }
    }
    return bad;
}

}  // namespace

TEST(EegFileToolLegacy, ReadMarkAndCut) {
    TempDir dir;
    const std::string path = dir.File("EEG00030.LOG");
    WriteLegacy(path);

    const Json info = Json::parse(RunTool({"info", path, "--json"}).out);
    EXPECT_EQ(info.at("format"), "legacy");
    EXPECT_EQ(info.at("length_seconds"), kSeconds);
    EXPECT_EQ(info.at("stored_count"), 2);
    ASSERT_EQ(info.at("stored_channels").size(), 2u);
    EXPECT_EQ(info.at("stored_channels").at(1).at("slot"), AmpInput::Cz);
    EXPECT_EQ(info.at("stored_channels").at(1).at("label"), "Cz");
    ASSERT_EQ(info.at("runs").size(), 1u);
    EXPECT_EQ(info.at("runs").at(0).at("end_second"), kSeconds);
    const Json comments =
        Json::parse(RunTool({"events", path, "--json", "--types", "comment"}).out);
    ASSERT_EQ(comments.size(), 1u);
    EXPECT_EQ(comments.at(0).at("comment"), "eyes closed");
    EXPECT_EQ(comments.at(0).at("offset"), 5 * kRate);

    tooltest::Result raw = RunTool({"dump", path, "--format", "raw", "--channels", "Fp1,Cz"});
    ASSERT_EQ(raw.code, 0) << raw.err;
    ASSERT_EQ(raw.out.size(), size_t{kSeconds} * kRate * 2 * 2);
    EXPECT_EQ(BadSamples(raw.out, 0, 0), 0);

    // Seconds 100-199 cut: the rest goes into cut files, the data files it
    // supersedes go, and the cut seconds read as a hole of zeros.
    tooltest::Result r =
        RunTool({"mark", path, "--from", "100", "--to", "200", "--comment", "artifact"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = RunTool({"cut", path});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string base = dir.File("EEG00030");
    EXPECT_TRUE(std::filesystem::exists(base + ".A01"));
    EXPECT_TRUE(std::filesystem::exists(base + ".A02"));
    EXPECT_FALSE(std::filesystem::exists(base + ".000"));
    EXPECT_FALSE(std::filesystem::exists(base + ".001"));
    const Json after = Json::parse(RunTool({"info", path, "--json"}).out);
    EXPECT_EQ(after.at("length_seconds"), kSeconds);
    ASSERT_EQ(after.at("holes").size(), 1u) << RunTool({"info", path}).out;
    EXPECT_EQ(after.at("holes").at(0).at("first_second"), 100);
    EXPECT_EQ(after.at("holes").at(0).at("end_second"), 200);
    raw = RunTool({"dump", path, "--format", "raw", "--channels", "Fp1,Cz"});
    ASSERT_EQ(raw.out.size(), size_t{kSeconds} * kRate * 2 * 2);
    EXPECT_EQ(BadSamples(raw.out, 100, 200), 0);
    const Json notes = Json::parse(RunTool({"events", path, "--json", "--types", "comment"}).out);
    bool note = false;
    for (const Json& e : notes)
        note |= e.at("comment") == "artifact" && e.at("offset") == 100 * kRate;
    EXPECT_TRUE(note) << RunTool({"events", path}).out;

    // A missing log: one line, exit 1.
    r = RunTool({"info", dir.File("EEG00031.LOG")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.ErrLines().size(), 1u) << r.err;
}

// simulate writes a legacy recording for an OUT.LOG: the generator's samples in
// data files of the length asked for, and the session's events in the log.
TEST(EegFileToolLegacy, SimulateWritesLegacyRecordings) {
    TempDir dir;
    const std::string path = dir.File("EEG00040.LOG");
    tooltest::Result r = RunTool({"simulate", path, "--minutes", "1", "--channels", "12",
                                  "--compression", "2", "--seed", "4", "--file-seconds", "25"});
    ASSERT_EQ(r.code, 0) << r.err;
    eegsim::Options o;
    o.minutes = 1;
    o.channels = 12;
    o.compression = 2;
    o.seed = 4;
    const eegsim::Plan p = eegsim::MakePlan(o);
    for (const char* ext : {".000", ".001", ".002"})
        EXPECT_TRUE(std::filesystem::exists(dir.File(std::string("EEG00040") + ext))) << ext;
    const tooltest::Result raw = RunTool({"dump", path, "--format", "raw"});
    ASSERT_EQ(raw.out.size(), size_t{p.totalSamples} * 12 * 2) << raw.err;
    int bad = 0;
    for (uint32_t n = 0; n < p.totalSamples; ++n) {
        for (int s = 0; s < 12; ++s) {
            const auto v = tooltest::RawSample(raw.out, n, s, 12);
            bad += v != eegsim::Sample(p, n, s);
        }
    }
    EXPECT_EQ(bad, 0);
    const Json info = Json::parse(RunTool({"info", path, "--json"}).out);
    EXPECT_EQ(info.at("format"), "legacy");
    EXPECT_EQ(info.at("runs").size(), 2u);
    const Json events = Json::parse(
        RunTool({"events", path, "--json", "--types", "montage,impedance,bookmark"}).out);
    EXPECT_EQ(events.size(), 3u) << RunTool({"events", path}).out;

    // Storage mode 1 exists only in legacy recordings.
    r = RunTool({"simulate", dir.File("x.eeg"), "--minutes", "1", "--compression", "1"});
    EXPECT_EQ(r.code, 2) << r.err;
}

// Every command on a legacy path that is missing, a folder, garbage or held
// exclusively by another station: one line, exit 1, nothing changed. Missing data files are no
// fault: their seconds read as zeros.
TEST(EegFileToolLegacy, FailuresPrintOneLineAndLeaveFilesAlone) {
    TempDir dir;
    const std::string held = dir.File("EEG00050.LOG");
    WriteLegacy(held);
    const std::string missing = dir.File("EEG00051.LOG");
    const std::string folder = dir.File("EEG00052.LOG");
    std::filesystem::create_directory(folder);
    const std::string garbage = dir.File("EEG00053.LOG");
    std::vector<unsigned char> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>(i * 7919 % 251);
    testsupport::WriteBytes(garbage, noise);
    ::setenv("COMPUTERNAME", "HOLDER", 1);
    CEegAccessControl holder;
    holder.SetPaths(held.c_str());
    ASSERT_EQ(holder.TakeMode(CEegAccessMode::eamExclusive), 1);
    const std::vector<std::string> reviewer = {"COMPUTERNAME=REVIEWER"};
    const std::vector<std::vector<std::string>> commands = {{"info"},
                                                            {"events", "--json"},
                                                            {"dump", "--seconds", "1"},
                                                            {"follow", "--max-seconds", "0.1"},
                                                            {"mark", "--from", "1", "--to", "2"},
                                                            {"cut"},
                                                            {"status"},
                                                            {"patient"}};
    for (const auto& command : commands) {
        for (const std::string& path : {missing, folder, garbage, held}) {
            std::vector<std::string> args = command;
            args.insert(args.begin() + 1, path);
            const std::vector<unsigned char> bytes = std::filesystem::is_regular_file(path)
                                                         ? testsupport::ReadBytes(path)
                                                         : std::vector<unsigned char>();
            const tooltest::Result r = RunTool(args, reviewer);
            const std::string what = args[0] + " " + path;
            EXPECT_EQ(r.code, 1) << what << ": " << r.out;
            ASSERT_EQ(r.ErrLines().size(), 1u) << what << ": " << r.err;
            EXPECT_EQ(r.err.rfind("eegfile: " + path + ": ", 0), 0u) << r.err;
            if (path == held) {
                EXPECT_NE(r.err.find("HOLDER"), std::string::npos) << what << ": " << r.err;
            }
            if (!bytes.empty()) {
                EXPECT_EQ(testsupport::ReadBytes(path), bytes) << what;
            }
        }
    }
    holder.Release();
    ::unsetenv("COMPUTERNAME");
    EXPECT_FALSE(std::filesystem::exists(missing));

    // Its data files gone, a recording reads as zeros.
    for (const char* ext : {".000", ".001", ".002"})
        std::filesystem::remove(dir.File(std::string("EEG00050") + ext));
    const tooltest::Result raw = RunTool({"dump", held, "--format", "raw", "--seconds", "2"});
    EXPECT_EQ(raw.code, 0) << raw.err;
    EXPECT_EQ(raw.out, std::string(size_t{2} * kRate * 2 * 2, '\0'));
}

// convert: a legacy recording with a hole and two runs into a current one that
// reads sample for sample and event for event as the original.
TEST(EegFileToolLegacy, ConvertKeepsSamplesEventsAndHoles) {
    TempDir dir;
    const std::string legacy = dir.File("EEG00060.LOG");
    ASSERT_EQ(
        RunTool({"simulate", legacy, "--minutes", "1", "--channels", "6", "--file-seconds", "20"})
            .code,
        0);
    ASSERT_EQ(RunTool({"mark", legacy, "--from", "10", "--to", "15"}).code, 0);
    ASSERT_EQ(RunTool({"cut", legacy}).code, 0);
    const std::string out = dir.File("converted.eeg");
    tooltest::Result r = RunTool({"convert", legacy, out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(RunTool({"dump", out, "--format", "raw"}).out,
              RunTool({"dump", legacy, "--format", "raw"}).out);
    EXPECT_EQ(RunTool({"events", out, "--json"}).out, RunTool({"events", legacy, "--json"}).out);
    const Json info = Json::parse(RunTool({"info", out, "--json"}).out);
    EXPECT_EQ(info.at("format"), "current");
    EXPECT_EQ(info.at("runs").size(), 2u);
    EXPECT_EQ(info.at("start_time"),
              Json::parse(RunTool({"info", legacy, "--json"}).out).at("start_time"));
    EXPECT_FALSE(std::filesystem::exists(out + ".tmp"));
    EXPECT_EQ(Json::parse(RunTool({"patient", out, "--json"}).out).at("last_name"), "Simulated");

    // An OUT that exists is kept unless forced; a legacy OUT is refused.
    const std::vector<unsigned char> before = testsupport::ReadBytes(out);
    r = RunTool({"convert", legacy, out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.ErrLines().size(), 1u) << r.err;
    EXPECT_EQ(testsupport::ReadBytes(out), before);
    EXPECT_EQ(RunTool({"convert", legacy, dir.File("EEG00061.LOG")}).code, 2);
    EXPECT_EQ(RunTool({"convert", legacy, out, "--force"}).code, 0);
}

// follow sees a legacy recording grow while simulate writes it in another process.
TEST(EegFileToolLegacy, FollowShowsRecordingInProgress) {
    TempDir dir;
    const std::string path = dir.File("EEG00070.LOG");
    // 6 s written at twice real time, in data files of 2 s.
    tooltest::Process recorder(
        {"simulate", path, "--minutes", "0.1", "--speed", "2", "--file-seconds", "2"});
    ASSERT_EQ(recorder.ReadLine().rfind("recording ", 0), 0u);
    const tooltest::Result f = RunTool(
        {"follow", path, "--until-length", "1200", "--max-seconds", "60", "--interval", "100"});
    ASSERT_EQ(recorder.Wait().code, 0);
    ASSERT_EQ(f.code, 0) << f.err;
    std::vector<long> lengths;
    bool comment = false;
    size_t start = 0;
    while (start < f.out.size()) {
        const size_t end = f.out.find('\n', start);
        const std::string line = f.out.substr(start, end - start);
        start = end + 1;
        long n;
        if (std::sscanf(line.c_str(), "length %ld samples", &n) == 1)
            lengths.push_back(n);
        comment |= line.rfind("event comment:", 0) == 0;
    }
    ASSERT_GE(lengths.size(), 2u) << f.out;  // seen while growing
    for (size_t i = 1; i < lengths.size(); ++i)
        EXPECT_GT(lengths[i], lengths[i - 1]);
    EXPECT_EQ(lengths.back(), 1200);
    EXPECT_TRUE(comment) << f.out;
}

// The patient record and status of a legacy recording by path: the default record
// until one is set, then the patient file beside the log; the same --set on a
// current recording.
TEST(EegFileToolLegacy, PatientAndStatusByPath) {
    TempDir dir;
    const std::string log = dir.File("EEG00070.LOG");
    WriteLegacy(log);
    Json patient = Json::parse(RunTool({"patient", log, "--json"}).out);
    EXPECT_EQ(patient.at("last_name"), "Unknown Patient");
    EXPECT_EQ(RunTool({"status", log}).out, "ready-to-read (2)\n");

    tooltest::Result r = RunTool({"patient", log, "--set", "last-name=Doe", "--set",
                                  "birth-date=1980-02-29", "--set", "sex=F"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<unsigned char> bytes = testsupport::ReadBytes(dir.File("EEG00070.PDB"));
    const std::string pdb(bytes.begin(), bytes.end());
    EXPECT_NE(pdb.find("Last Name = Doe\r\nFirst Name = \r\n"), std::string::npos) << pdb;
    EXPECT_NE(pdb.find("Birth Date = 02/29/1980\r\nSex = F\r\n"), std::string::npos) << pdb;
    EXPECT_NE(pdb.find("Status! = READY TO READ\r\n"), std::string::npos) << pdb;
    EXPECT_EQ(RunTool({"status", log, "--set", "archived"}).code, 0);
    EXPECT_EQ(RunTool({"status", log}).out, "archived (6)\n");
    patient = Json::parse(RunTool({"patient", log, "--json"}).out);
    EXPECT_EQ(patient.at("last_name"), "Doe");
    EXPECT_EQ(patient.at("log_number"), "70");

    const std::string current = dir.File("x.eeg");
    ASSERT_EQ(RunTool({"simulate", current, "--minutes", "1"}).code, 0);
    EXPECT_EQ(RunTool({"patient", current, "--set", "history=none"}).code, 0);
    EXPECT_EQ(Json::parse(RunTool({"patient", current, "--json"}).out).at("history"), "none");
    for (const char* bad : {"colour=red", "sex=X", "birth-date=1980-02-30", "last-name"})
        EXPECT_EQ(RunTool({"patient", current, "--set", bad}).code, 2) << bad;
}
