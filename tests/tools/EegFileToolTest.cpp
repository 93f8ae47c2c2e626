// The eegfile program, run as its own process against real files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "EegFile/access/EegAccessControl.h"
#include "TestSupport.h"
#include "ToolTestSupport.h"
#include "tools/SimSignal.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using Json = nlohmann::json;
using tooltest::RunTool;

namespace {

// Simulates into path with these options; fails the test when it does not work.
eegsim::Plan Simulate(const std::string& path, const eegsim::Options& o) {
    const tooltest::Result r =
        RunTool({"simulate", path, "--minutes", std::to_string(o.minutes), "--rate",
                 std::to_string(o.rate), "--channels", std::to_string(o.channels), "--compression",
                 std::to_string(o.compression), "--seed", std::to_string(o.seed)});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return eegsim::MakePlan(o);
}

eegsim::Options Opts(double minutes, int rate, int channels, int compression, uint32_t seed) {
    eegsim::Options o;
    o.minutes = minutes;
    o.rate = rate;
    o.channels = channels;
    o.compression = compression;
    o.seed = seed;
    return o;
}

// "YYYY-MM-DD hh:mm:ss" as seconds of the day count (enough to take differences).
long SecondsOf(const std::string& t) {
    int y, mo, d, h, mi, s;
    if (std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
        return -1;
    return ((y * 372L + mo * 31L + d) * 24 + h) * 3600L + mi * 60L + s;
}

size_t CountLines(const std::string& s) {
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

}  // namespace

// What simulate writes through the write thread and the coding reads back as
// exactly the samples the generator makes, in both codings, and unstored slots
// read as zeros.
TEST(EegFileTool, DumpEqualsGeneratedSamples) {
    TempDir dir;
    const std::string delta = dir.File("delta.eeg");
    const eegsim::Plan p = Simulate(delta, Opts(1, 200, 21, 2, 7));
    const tooltest::Result raw = RunTool({"dump", delta, "--format", "raw"});
    ASSERT_EQ(raw.code, 0) << raw.err;
    ASSERT_EQ(raw.out.size(), size_t{p.totalSamples} * 21 * 2);
    int bad = 0;
    for (uint32_t n = 0; n < p.totalSamples; ++n) {
        for (int s = 0; s < 21; ++s) {
            const auto v = tooltest::RawSample(raw.out, n, s, 21);
            bad += v != eegsim::Sample(p, n, s);
        }
    }
    EXPECT_EQ(bad, 0);

    const std::string plain = dir.File("plain.eeg");
    const eegsim::Plan q = Simulate(plain, Opts(0.25, 256, 8, 0, 3));
    const tooltest::Result csv =
        RunTool({"dump", plain, "--from", "2.5", "--seconds", "3", "--channels", "O1,fp1,7"});
    ASSERT_EQ(csv.code, 0) << csv.err;
    std::string expected = "sample,O1,Fp1,F8\n";
    for (uint32_t n = 640; n < 640 + 768; ++n)
        expected += std::to_string(n) + ",0," + std::to_string(eegsim::Sample(q, n, 0)) + "," +
                    std::to_string(eegsim::Sample(q, n, 7)) + "\n";
    EXPECT_EQ(csv.out, expected);

    // Past the end nothing but the header; a window running over the end stops there.
    EXPECT_EQ(RunTool({"dump", plain, "--from", "100"}).out, "sample,Fp1,Fpz,Fp2,F7,F3,Fz,F4,F8\n");
    EXPECT_EQ(CountLines(RunTool({"dump", plain, "--from", "14", "--seconds", "5"}).out), 1u + 256);
}

// info --json parses and carries the recording's facts; the text form agrees.
TEST(EegFileTool, InfoDescribesSimulatedRecording) {
    TempDir dir;
    const std::string path = dir.File("info.eeg");
    const eegsim::Plan p = Simulate(path, Opts(1, 200, 21, 2, 7));
    const tooltest::Result r = RunTool({"info", path, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j.at("format"), "current");
    EXPECT_EQ(j.at("sample_rate"), 200);
    EXPECT_TRUE(j.at("sample_rate").is_number_integer());  // a whole double, printed as one
    EXPECT_EQ(j.at("channels"), 32);
    EXPECT_EQ(j.at("stored_count"), 21);
    ASSERT_EQ(j.at("stored_slots").size(), 21u);
    EXPECT_EQ(j.at("stored_slots").at(0), "Fp1");
    EXPECT_EQ(j.at("stored_slots").at(20), "O1");
    ASSERT_EQ(j.at("stored_channels").size(), 21u);
    EXPECT_EQ(j.at("stored_channels").at(20).at("slot"), 20);
    EXPECT_EQ(j.at("stored_channels").at(20).at("label"), "O1");
    EXPECT_EQ(j.at("compression"), 2);
    EXPECT_EQ(j.at("bytes_per_second"), (200 + 4) * 21);
    EXPECT_EQ(j.at("length_samples"), 12000);
    EXPECT_EQ(j.at("length_seconds"), 60);
    EXPECT_EQ(j.at("length_hms"), "00:01:00");
    EXPECT_EQ(j.at("record_status"), 2);
    EXPECT_EQ(j.at("patient").at("last_name"), "Simulated");
    EXPECT_EQ(j.at("patient").at("patient_id"), "SIM-00007");
    EXPECT_TRUE(j.at("holes").empty());
    EXPECT_TRUE(j.at("stations").empty());

    // Two runs meeting at the pause; the second starts a pause later on the clock.
    const Json& runs = j.at("runs");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs.at(0).at("first_second"), 0);
    EXPECT_EQ(runs.at(0).at("end_second"), p.secondRunStart / 200);
    EXPECT_EQ(runs.at(1).at("first_second"), p.secondRunStart / 200);
    EXPECT_EQ(runs.at(1).at("end_second"), 60);
    EXPECT_EQ(SecondsOf(runs.at(1).at("start_time").get<std::string>()) -
                  SecondsOf(runs.at(0).at("start_time").get<std::string>()),
              static_cast<long>(p.secondRunStart / 200 + p.pauseSeconds));
    EXPECT_EQ(j.at("start_time"), runs.at(0).at("start_time"));

    // Every scheduled event is there, counted by type.
    const Json& by = j.at("events").at("by_type");
    EXPECT_EQ(by.at("record"), 4);  // start, stop, start, stop
    EXPECT_EQ(by.at("montage"), 1);
    EXPECT_EQ(by.at("flash-rate"), p.photic.size());
    EXPECT_EQ(by.at("flash-run"), 2);
    EXPECT_EQ(by.at("bookmark"), 1);
    EXPECT_EQ(by.at("impedance"), 1);
    EXPECT_EQ(by.at("trace-info"), 1);
    double total = 0;
    for (const Json& count : by)
        total += count.get<double>();
    EXPECT_EQ(j.at("events").at("total"), total);

    const tooltest::Result text = RunTool({"info", path});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_NE(text.out.find("length:         12000 samples, 60 s (00:01:00)\n"), std::string::npos);
    EXPECT_NE(text.out.find("recording runs: 2\n"), std::string::npos);
}

// events --json parses and carries each event's own fields; the filters select
// by type and window, and the text form lists the same events.
TEST(EegFileTool, EventsCarryTheirFields) {
    TempDir dir;
    const std::string path = dir.File("events.eeg");
    const eegsim::Plan p = Simulate(path, Opts(1, 200, 21, 2, 5));
    const tooltest::Result r = RunTool({"events", path, "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json all = Json::parse(r.out);
    ASSERT_TRUE(all.is_array());
    std::vector<double> rates;
    int bookmarks = 0, montages = 0, impedances = 0;
    double last = -1;
    for (const Json& e : all) {
        EXPECT_GE(e.at("offset").get<double>(), last) << "time order";
        last = e.at("offset").get<double>();
        EXPECT_EQ(e.at("seconds"), e.at("offset").get<double>() / 200);
        EXPECT_FALSE(e.at("text").get<std::string>().empty());
        const std::string type = e.at("type").get<std::string>();
        if (type == "flash-rate")
            rates.push_back(e.at("rate").get<double>());
        if (type == "bookmark") {
            ++bookmarks;
            EXPECT_EQ(e.at("offset"), p.bookmark.from);
            EXPECT_EQ(e.at("end"), p.bookmark.to);
            EXPECT_EQ(e.at("comment"), "Sharp transient, review");
            EXPECT_EQ(e.at("sensitivity"), 5);
            EXPECT_TRUE(e.at("override_montage").is_null());
        }
        if (type == "montage") {
            ++montages;
            EXPECT_EQ(e.at("montage").at("name"), "Longitudinal bipolar");
            ASSERT_FALSE(e.at("montage").at("traces").empty());
            EXPECT_EQ(e.at("montage").at("traces").at(0).at("trace").at("label"), "Fp1-F7");
            EXPECT_EQ(e.at("montage").at("traces").at(0).at("trace").at("reference"), "F7");
        }
        if (type == "impedance") {
            ++impedances;
            EXPECT_EQ(e.at("offset"), p.secondRunStart);
            EXPECT_EQ(e.at("inputs").size(), 21u);
            EXPECT_EQ(e.at("impedances").size(), 21u);
            EXPECT_EQ(e.at("recording_ref"), "CRef");
        }
    }
    std::vector<double> planned;
    for (const eegsim::PhoticBlock& b : p.photic)
        planned.push_back(b.hz);
    EXPECT_EQ(rates, planned);
    EXPECT_EQ(bookmarks, 1);
    EXPECT_EQ(montages, 1);
    EXPECT_EQ(impedances, 1);

    const tooltest::Result text = RunTool({"events", path});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(CountLines(text.out), all.size());

    // Comments from the second eyes-open change to the end, by name and number.
    const uint32_t from = p.eyesOpen[0].to;
    for (const char* types : {"comment", "12"}) {
        const Json some = Json::parse(RunTool({"events", path, "--json", "--types", types, "--from",
                                               std::to_string(from / 200.0), "--to", "1:00"})
                                          .out);
        ASSERT_FALSE(some.empty());
        for (const Json& e : some) {
            EXPECT_EQ(e.at("type"), "comment");
            EXPECT_GE(e.at("offset").get<double>(), from);
            EXPECT_EQ(e.at("priority"), 5);
        }
        EXPECT_EQ(some.at(0).at("comment"), "Eyes closed");
    }
}

// Every command on a missing file, a folder, a damaged file, a read-only file
// and a file another process holds exclusively: one line naming the file, exit
// 1 (or 0 where reading a read-only file is all it does), the file's bytes as
// they were.
TEST(EegFileTool, FailuresPrintOneLineAndLeaveFileAlone) {
    TempDir dir;
    const std::string good = dir.File("good.eeg");
    Simulate(good, Opts(0.1, 200, 4, 2, 1));
    const std::string damaged = dir.File("damaged.eeg");
    std::vector<unsigned char> bytes = ReadBytes(good);
    for (size_t i = 0; i < bytes.size(); i += 7)
        bytes[i] ^= 0x5A;
    testsupport::WriteBytes(damaged, bytes);
    const std::string readOnly = dir.File("readonly.eeg");
    std::filesystem::copy_file(good, readOnly);
    ::chmod(readOnly.c_str(), 0444);
    const std::string held = dir.File("held.eeg");
    std::filesystem::copy_file(good, held);
    const std::string missing = dir.File("missing.eeg");
    const std::string folder = dir.File("folder.eeg");
    std::filesystem::create_directory(folder);

    // This process holds held.eeg exclusively under another station's name.
    ::setenv("COMPUTERNAME", "HOLDER", 1);
    CEegAccessControl holder;
    holder.SetPaths(held.c_str());
    ASSERT_EQ(holder.TakeMode(CEegAccessMode::eamExclusive), 1);
    const std::vector<std::string> reviewer = {"COMPUTERNAME=REVIEWER"};

    struct Command {
        std::vector<std::string> args;  // FILE is inserted after the first
        bool writes;
    };
    const std::vector<Command> commands = {
        {{"info"}, false},
        {{"info", "--json"}, false},
        {{"events", "--json"}, false},
        {{"dump", "--seconds", "1"}, false},
        {{"status"}, false},
        {{"patient", "--json"}, false},
        {{"follow", "--max-seconds", "0.1"}, false},
        {{"status", "--set", "archived"}, true},
        {{"mark", "--from", "1", "--to", "2"}, true},
        {{"cut"}, true},
        {{"simulate", "--minutes", "0.1"}, true},
    };
    for (const Command& c : commands) {
        for (const std::string& path : {missing, folder, damaged, readOnly, held}) {
            if (c.args[0] == "simulate" && path == missing)
                continue;  // creating it is what simulate is for
            std::vector<std::string> args = c.args;
            args.insert(args.begin() + 1, path);
            const std::vector<unsigned char> before = std::filesystem::is_regular_file(path)
                                                          ? ReadBytes(path)
                                                          : std::vector<unsigned char>();
            const tooltest::Result r = RunTool(args, reviewer);
            const std::string what = args[0] + " " + args[1];
            if (path == readOnly && !c.writes) {
                EXPECT_EQ(r.code, 0) << what << ": " << r.err;
                EXPECT_EQ(r.err, "") << what;
            } else {
                EXPECT_EQ(r.code, 1) << what << ": " << r.out;
                ASSERT_EQ(r.ErrLines().size(), 1u) << what << ": " << r.err;
                EXPECT_EQ(r.err.rfind("eegfile: " + path + ": ", 0), 0u) << r.err;
                EXPECT_GT(r.err.size(), ("eegfile: " + path + ": \n").size()) << what;
            }
            if (path == held && c.args[0] != "simulate") {
                EXPECT_NE(r.err.find("HOLDER"), std::string::npos) << what << ": " << r.err;
            }
            if (!before.empty())
                EXPECT_EQ(ReadBytes(path), before) << what;
            else
                EXPECT_EQ(std::filesystem::is_regular_file(path), false) << what;
        }
    }
    // Replacing is refused too while the file is read-only or held.
    for (const std::string& path : {readOnly, held}) {
        const std::vector<unsigned char> before = ReadBytes(path);
        const tooltest::Result r = RunTool({"simulate", path, "--force"}, reviewer);
        EXPECT_EQ(r.code, 1);
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
        EXPECT_EQ(r.err.find("HOLDER") != std::string::npos, path == held) << r.err;
        EXPECT_EQ(ReadBytes(path), before);
    }
    holder.Release();
    ::unsetenv("COMPUTERNAME");
    // Nobody left an entry behind: the control and lock files are gone.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find(".$"), std::string::npos) << e.path();
}

// A wrong command line exits 2 with its complaint on stderr and touches nothing.
TEST(EegFileTool, UsageErrorsExitTwo) {
    TempDir dir;
    const std::string path = dir.File("u.eeg");
    Simulate(path, Opts(0.1, 200, 4, 2, 1));
    const std::vector<unsigned char> before = ReadBytes(path);
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"nonsense"},
        {"info"},
        {"info", path, "--bogus"},
        {"events", path, "--types", "comment,sneeze"},
        {"events", path, "--from", "1:xx"},
        {"dump", path, "--format", "wav"},
        {"dump", path, "--channels", "Q9"},
        {"dump", path, "--seconds", "-1"},
        {"mark", path, "--from", "5", "--to", "2"},
        {"mark", path, "--to", "2"},
        {"status", path, "--set", "lost"},
        {"simulate", dir.File("n.eeg"), "--compression", "1"},
        {"simulate", dir.File("n.eeg"), "--rate", "1000"},
        {"follow", path, "--interval", "0"},
        {"check"},
        {"check", path, "--bogus"},
    };
    for (const auto& args : wrong) {
        const tooltest::Result r = RunTool(args);
        std::string what;
        for (const std::string& a : args)
            what += a + " ";
        EXPECT_EQ(r.code, 2) << what << r.err;
        EXPECT_FALSE(r.err.empty()) << what;
        EXPECT_EQ(r.out, "") << what;
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_FALSE(std::filesystem::exists(dir.File("n.eeg")));
    EXPECT_EQ(RunTool({"--help"}).code, 0);

    // check: 0 and "sound" for a sound file, 1 and each problem for a damaged one.
    tooltest::Result sound = RunTool({"check", path});
    EXPECT_EQ(sound.code, 0) << sound.err;
    EXPECT_EQ(sound.out, path + ": sound\n");
    std::vector<unsigned char> damaged = before;
    damaged.resize(damaged.size() + 4096, 0);
    testsupport::WriteBytes(dir.File("d.eeg"), damaged);
    tooltest::Result bad = RunTool({"check", dir.File("d.eeg"), "--json"});
    EXPECT_EQ(bad.code, 1) << bad.err;
    const Json json = Json::parse(bad.out);
    EXPECT_EQ(json["sound"], false);
    ASSERT_EQ(json["problems"].size(), 1u) << bad.out;
    EXPECT_EQ(json["problems"][0]["where"], "byte " + std::to_string(before.size()));
    EXPECT_EQ(RunTool({"check", dir.File("none.eeg")}).code, 1);
    // A recording whose end was cut is sound, not interrupted.
    ASSERT_EQ(RunTool({"mark", path, "--from", "3", "--to", "6"}).code, 0);
    ASSERT_EQ(RunTool({"cut", path}).code, 0);
    sound = RunTool({"check", path});
    EXPECT_EQ(sound.code, 0) << sound.out;
}

// follow, in one process, sees the events and the growing length of the
// recording that simulate writes in another; a SIGTERM ends a follow cleanly,
// leaving no entry in the control file.
TEST(EegFileTool, FollowShowsRecordingInProgress) {
    TempDir dir;
    const std::string path = dir.File("live.eeg");
    // 6 s of recording written at twice real time.
    tooltest::Process recorder({"simulate", path, "--minutes", "0.1", "--speed", "2"},
                               {"COMPUTERNAME=RECORDER"});
    ASSERT_EQ(recorder.ReadLine().rfind("recording ", 0), 0u);  // prepared: readers may open

    // info names the station recording it, with its mode.
    const Json during = Json::parse(RunTool({"info", path, "--json"}).out);
    ASSERT_EQ(during.at("stations").size(), 1u);
    EXPECT_EQ(during.at("stations").at(0).at("name"), "RECORDER");
    EXPECT_EQ(during.at("stations").at(0).at("mode_name"), "write");

    const tooltest::Result f = RunTool(
        {"follow", path, "--until-length", "1200", "--max-seconds", "60", "--interval", "100"});
    const tooltest::Result sim = recorder.Wait();
    ASSERT_EQ(sim.code, 0) << sim.err;
    ASSERT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(f.err, "");
    std::vector<long> lengths;
    std::set<std::string> eventTypes;
    size_t start = 0;
    while (start < f.out.size()) {
        const size_t end = f.out.find('\n', start);
        const std::string line = f.out.substr(start, end - start);
        start = end + 1;
        long n;
        if (std::sscanf(line.c_str(), "length %ld samples", &n) == 1)
            lengths.push_back(n);
        char type[64];
        if (std::sscanf(line.c_str(), "event %63[^:]:", type) == 1)
            eventTypes.insert(type);
    }
    ASSERT_GE(lengths.size(), 2u) << f.out;  // seen while growing
    for (size_t i = 1; i < lengths.size(); ++i)
        EXPECT_GT(lengths[i], lengths[i - 1]);
    EXPECT_LT(lengths.front(), 1200);
    EXPECT_EQ(lengths.back(), 1200);
    EXPECT_TRUE(eventTypes.count("montage")) << f.out;
    EXPECT_TRUE(eventTypes.count("comment")) << f.out;
    EXPECT_TRUE(eventTypes.count("record")) << f.out;

    tooltest::Process follower({"follow", path, "--interval", "100"});
    ASSERT_EQ(follower.ReadLine().rfind("following ", 0), 0u);
    follower.Signal(SIGTERM);
    const tooltest::Result stopped = follower.Wait();
    EXPECT_EQ(stopped.code, 0) << stopped.err;
    EXPECT_NE(stopped.out.find("stopped\n"), std::string::npos);

    // A simulation ended by SIGTERM closes what it recorded (whole seconds) and
    // says so on one line.
    const std::string cut = dir.File("interrupted.eeg");
    tooltest::Process sim2({"simulate", cut, "--minutes", "1", "--speed", "1"});
    ASSERT_EQ(sim2.ReadLine().rfind("recording ", 0), 0u);
    sim2.Signal(SIGTERM);
    const tooltest::Result ended = sim2.Wait();
    EXPECT_EQ(ended.code, 1);
    ASSERT_EQ(ended.ErrLines().size(), 1u) << ended.err;
    EXPECT_NE(ended.err.find("interrupted"), std::string::npos);
    const Json info = Json::parse(RunTool({"info", cut, "--json"}).out);
    EXPECT_LT(info.at("length_samples").get<double>(), 12000);
    EXPECT_EQ(info.at("length_samples").get<long>() % 200, 0);
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().string().find(".$"), std::string::npos) << e.path();
}

// Marking and cutting through the tool: the cut seconds become a hole that
// reads as zeros, everything else keeps its samples and positions.
TEST(EegFileTool, MarkAndCut) {
    TempDir dir;
    const std::string path = dir.File("cut.eeg");
    const eegsim::Plan p = Simulate(path, Opts(1, 200, 8, 2, 11));

    tooltest::Result r =
        RunTool({"mark", path, "--from", "10.4", "--to", "19.5", "--comment", "artifact"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = RunTool({"cut", path});
    ASSERT_EQ(r.code, 0) << r.err;
    const Json info = Json::parse(RunTool({"info", path, "--json"}).out);
    EXPECT_EQ(info.at("length_samples"), 12000);
    ASSERT_EQ(info.at("holes").size(), 1u);
    EXPECT_EQ(info.at("holes").at(0).at("first_second"), 10);
    EXPECT_EQ(info.at("holes").at(0).at("end_second"), 20);
    const tooltest::Result raw = RunTool({"dump", path, "--format", "raw", "--channels", "0,7"});
    ASSERT_EQ(raw.code, 0) << raw.err;
    ASSERT_EQ(raw.out.size(), 12000u * 2 * 2);
    int bad = 0;
    for (uint32_t n = 0; n < 12000; ++n) {
        for (int k = 0; k < 2; ++k) {
            const auto v = tooltest::RawSample(raw.out, n, k, 2);
            const bool cut = n >= 2000 && n < 4000;
            bad += v != (cut ? 0 : eegsim::Sample(p, n, k * 7));
        }
    }
    EXPECT_EQ(bad, 0);
    // The mark's note became a comment at its start.
    const Json comments =
        Json::parse(RunTool({"events", path, "--json", "--types", "comment"}).out);
    bool note = false;
    for (const Json& e : comments)
        note |= e.at("comment") == "artifact" && e.at("offset") == 2080;
    EXPECT_TRUE(note) << RunTool({"events", path}).out;
    EXPECT_EQ(RunTool({"cut", path}).out, "nothing is marked; the file is unchanged\n");

    // Keep marks: all but the kept seconds is cut, the stretch after the last
    // kept second included; a cut mark is then refused unless forced.
    const std::string keep = dir.File("keep.eeg");
    const eegsim::Plan k = Simulate(keep, Opts(1, 200, 8, 2, 12));
    ASSERT_EQ(RunTool({"mark", keep, "--from", "10", "--to", "20", "--keep"}).code, 0);
    ASSERT_EQ(RunTool({"mark", keep, "--from", "30", "--to", "40", "--keep"}).code, 0);
    const tooltest::Result refused = RunTool({"mark", keep, "--from", "50", "--to", "55"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.ErrLines().size(), 1u) << refused.err;
    ASSERT_EQ(RunTool({"cut", keep}).code, 0);
    const Json kept = Json::parse(RunTool({"info", keep, "--json"}).out);
    ASSERT_EQ(kept.at("holes").size(), 3u) << RunTool({"info", keep}).out;
    const double holes[3][2] = {{0, 10}, {20, 30}, {40, 60}};
    for (int h = 0; h < 3; ++h) {
        EXPECT_EQ(kept.at("holes").at(h).at("first_second"), holes[h][0]);
        EXPECT_EQ(kept.at("holes").at(h).at("end_second"), holes[h][1]);
    }
    // The kept stretch starts exactly at sample 2000.
    const std::string csv =
        RunTool({"dump", keep, "--from", "9.75", "--seconds", "0.5", "--channels", "O1,Fp1"}).out;
    EXPECT_NE(csv.find("\n1999,0,0\n2000,0," + std::to_string(eegsim::Sample(k, 2000, 0)) + "\n"),
              std::string::npos);
    EXPECT_EQ(CountLines(csv), 101u);
    // A time a hair below a whole sample in floating point still means that sample.
    EXPECT_EQ(
        RunTool({"dump", keep, "--from", "9.995", "--seconds", "0.01", "--channels", "Fp1"}).out,
        "sample,Fp1\n1999,0\n2000," + std::to_string(eegsim::Sample(k, 2000, 0)) + "\n");
}

// The record status and the patient record read and change by path.
TEST(EegFileTool, StatusAndPatientByPath) {
    TempDir dir;
    const std::string path = dir.File("status.eeg");
    Simulate(path, Opts(0.1, 200, 4, 2, 11));
    EXPECT_EQ(RunTool({"status", path}).out, "ready-to-read (2)\n");
    EXPECT_EQ(RunTool({"status", path, "--set", "ready-to-archive"}).out,
              "ready-to-archive (3), was ready-to-read (2)\n");
    EXPECT_EQ(RunTool({"status", path}).out, "ready-to-archive (3)\n");
    const Json patient = Json::parse(RunTool({"patient", path, "--json"}).out);
    EXPECT_EQ(patient.at("last_name"), "Simulated");
    EXPECT_EQ(patient.at("patient_id"), "SIM-00011");
    EXPECT_EQ(patient.at("record_status"), 3);
    EXPECT_EQ(patient.at("birth_date"), "1980-05-17");
    // A byte that is not UTF-8 (older files hold Latin-1 text) prints as U+FFFD
    // rather than failing the command.
    ASSERT_EQ(RunTool({"patient", path, "--set", "first-name=Ren\xE9"}).code, 0);
    const tooltest::Result latin1 = RunTool({"patient", path, "--json"});
    ASSERT_EQ(latin1.code, 0) << latin1.err;
    EXPECT_EQ(Json::parse(latin1.out).at("first_name"), "Ren\xEF\xBF\xBD");
}
