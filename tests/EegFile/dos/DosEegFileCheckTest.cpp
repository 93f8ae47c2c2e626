// The check of a legacy recording: a sound one gives no problem, each kind of
// damage a problem that names its place, a writer killed mid-run an interrupted
// recording, and no check changes a byte or a time stamp of any file.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <map>

#include "DosTestSupport.h"
#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/dos/DosEegFile.h"
#include "Platform/Archive.h"

using namespace dostest;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 200;
const std::vector<AmpInputType> kInputs = {AmpInput::Fp1, AmpInput::F3, AmpInput::Cz, AmpInput::O2};

// Seconds whose slots step by up to the whole 16-bit range, by a few hundred or
// smoothly, so that every coding of every storage mode is written.
std::vector<short> Rough(int seconds) {
    std::vector<short> f(static_cast<size_t>(32) * kRate * seconds);
    uint32_t x = 12345;
    for (size_t i = 0; i < f.size(); ++i) {
        x = x * 1103515245u + 12345u;
        const size_t n = i / 32;
        switch (i % 3) {
            case 0:
                f[i] = static_cast<short>(x >> 16);
                break;
            case 1:
                f[i] = static_cast<short>((n % 2 ? 300 : -300) + static_cast<int>(x >> 28));
                break;
            default:
                f[i] = static_cast<short>(1000 * std::sin(0.05 * static_cast<double>(n)));
        }
    }
    return f;
}

CDataMarkDeleteEvent* Mark(uint32_t from, uint32_t to) {
    return new CDataMarkDeleteEvent(CEegTimeStamp(from * kRate), CEegTimeStamp(to * kRate - 1),
                                    CDataMarkDeleteEvent::mtEeg);
}

// A recording as stations leave it: a run of 30 s in three data files, seconds
// 5-7 cut out while it was still recorded (cut files, MAXREAD 20), a mark kept,
// a patient file.
void WriteSound(const std::string& log, int mode) {
    const std::vector<short> frames = Rough(30);
    const CTKTime start(2026, 12, 6, 10, 0, 0), stop(2026, 12, 6, 10, 0, 30);
    const CRecordEvent run(CEegTimeStamp(0), 1, &start), end(CEegTimeStamp(30 * kRate), 0, &stop);
    const CEegEvent* first = &run;
    const CEegEvent* last = &end;
    CDosRecordingWriter w(log.c_str(), kRate, mode, AmpStoring(kInputs), MontageOf(kInputs));
    w.WriteEvents(&first, 1);
    for (int s = 0; s < 30; ++s) {
        if (s % 10 == 0) {
            ASSERT_TRUE(w.StartDataFile());
        }
        ASSERT_TRUE(w.WriteSecond(frames.data() + static_cast<size_t>(32) * kRate * s));
        if (s == 19) {
            CDosEegFile f;
            f.Open(log.c_str(), 0);
            f.SetMarkForDelete(1);
            f.AddDataMark(Mark(5, 8));
            f.SetDeleteEegDataOnClose();
            f.DeleteMarkedEegData(nullptr);
        }
    }
    w.WriteEvents(&last, 1);
    w.Close();
    CDosEegFile f;
    f.Open(log.c_str(), 0);
    f.AddDataMark(Mark(25, 26));
    f.Close();
    CPatientInfo patient;
    patient.SetLastName("Doe");
    CDosEegFile::SetPatientInfo(log.c_str(), patient, 0);
}

// Every file of a folder: its bytes and its modification time.
using Snapshot = std::map<std::string, std::pair<std::vector<unsigned char>, fs::file_time_type>>;
Snapshot Take(const fs::path& folder) {
    Snapshot s;
    for (const auto& e : fs::directory_iterator(folder))
        s[e.path().filename().string()] = {ReadBytes(e.path().string()), e.last_write_time()};
    return s;
}

std::string Told(const CEegFileProblemList& problems) {
    std::string s;
    for (const auto& p : problems)
        s += std::string(p.m_where) + ": " + std::string(p.m_what) + "\n";
    return s;
}

// The check of the log at path, which must leave every file beside it as it was.
CEegFileProblemList Check(const std::string& path, int readData = 1) {
    const fs::path folder = fs::path(path).parent_path();
    const Snapshot before = Take(folder);
    CEegFileProblemList problems = CEegFile::CheckFile(path.c_str(), readData);
    EXPECT_TRUE(Take(folder) == before) << "the check changed a file of " << path;
    return problems;
}

// "LOG line N" of the first line of the log that holds text; of the line after the
// last with an empty text.
std::string LineOf(const std::string& log, const std::string& text) {
    const std::string t = ReadText(log);
    const size_t at = text.empty() ? t.size() : t.find(text);
    return "LOG line " + std::to_string(std::count(t.begin(), t.begin() + at, '\n') + 1);
}

bool Names(const CEegFileProblemList& problems, const std::string& where, const std::string& what) {
    for (const auto& p : problems) {
        if (std::string(p.m_where) == where &&
            std::string(p.m_what).find(what) != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

TEST(DosEegFileCheck, SoundRecordingsHaveNoProblem) {
    for (int mode : {0, 1, 2}) {
        TempDir dir;
        const std::string log = dir.File("EEG00041.LOG");
        WriteSound(log, mode);
        ASSERT_TRUE(fs::exists(dir.File("EEG00041.A02")) && !fs::exists(dir.File("EEG00041.000")));
        for (int readData : {1, 0}) {
            const CEegFileProblemList problems = Check(log, readData);
            EXPECT_TRUE(problems.empty()) << "mode " << mode << ":\n" << Told(problems);
        }
        // A reviewer's entry is no problem while the reviewer is there.
        CDosEegFile reviewer;
        reviewer.Open(log.c_str(), 0);
        const CEegFileProblemList problems = Check(log);
        EXPECT_TRUE(problems.empty()) << "mode " << mode << ", reviewed:\n" << Told(problems);
    }
    // A log that is not there is no recording to check.
    TempDir dir;
    ExpectFileError([&] { CEegFile::CheckFile(dir.File("EEG00001.LOG").c_str()); },
                    CFileException::fileNotFound);
}

TEST(DosEegFileCheck, EachDamageIsFoundWhereItIs) {
    TempDir sound;
    WriteSound(sound.File("EEG00041.LOG"), 2);
    const int b = 4 * (kRate + 4);
    const auto bytes = [](int n) { return " at byte " + std::to_string(n); };
    const std::string appended = LineOf(sound.File("EEG00041.LOG"), "");
    struct Case {
        const char* damage;
        std::function<void(const TempDir&)> make;
        std::string where, what;
    };
    const auto edit = [](const std::string& path, auto change) {
        std::vector<unsigned char> v = ReadBytes(path);
        change(v);
        WriteBytes(path, v);
    };
    const Case cases[] = {
        {"a data file cut short",
         [&](const TempDir& d) { fs::resize_file(d.File("EEG00041.002"), 8 * b + b / 2); },
         "EEG00041.002" + bytes(8 * b), "a second of"},
        {"a data file deleted", [](const TempDir& d) { fs::remove(d.File("EEG00041.002")); },
         "EEG00041.002", "missing"},
        {"a cut file deleted", [](const TempDir& d) { fs::remove(d.File("EEG00041.A01")); },
         "EEG00041.A01", "missing"},
        {"a code no writer writes",
         [&](const TempDir& d) {
             edit(d.File("EEG00041.002"), [&](auto& v) { v[3 * b + 2] = 7; });
         },
         "EEG00041.002" + bytes(3 * b + 2), "second 23 "},
        {"a file no line lists", [](const TempDir& d) { WriteText(d.File("EEG00041.003"), ""); },
         "EEG00041.003", "no line of the log lists it"},
        {"a garbage line",
         [](const TempDir& d) {
             std::string t = ReadText(d.File("EEG00041.LOG"));
             WriteText(d.File("EEG00041.LOG"), t.insert(t.find('\n') + 1, "garbage\r\n"));
         },
         "LOG line 2", "not a log entry"},
        {"an unknown keyword",
         [](const TempDir& d) {
             WriteText(d.File("EEG00041.LOG"), "00:00:01.000 FOOBAR 1\r\n", true);
         },
         appended, "FOOBAR"},
        {"a value that does not read",
         [](const TempDir& d) {
             WriteText(d.File("EEG00041.LOG"), "00:00:01.000 MONTRCE 40 x Fp1 Ref LINKED\r\n",
                       true);
         },
         appended, "could not convert trace"},
        {"a line too long",
         [](const TempDir& d) {
             WriteText(d.File("EEG00041.LOG"),
                       "00:00:01.000 COMMENT 3 " + std::string(400, 'x') + "\r\n", true);
         },
         appended, "longer than 299 characters"},
        {"a last line cut off",
         [](const TempDir& d) {
             WriteText(d.File("EEG00041.LOG"), "00:00:01.000 COMMENT 3 cut", true);
         },
         appended, "no line end"},
        {"an empty log", [](const TempDir& d) { WriteText(d.File("EEG00041.LOG"), ""); }, "LOG",
         "empty"},
        {"MAXREAD beyond the end",
         [](const TempDir& d) {
             WriteText(d.File("EEG00041.LOG"), "00:00:00.000 MAXREAD 100\r\n", true);
         },
         "MAXREAD", "beyond the recording's end at 30 s"},
        {"a broken marks file",
         [](const TempDir& d) { fs::resize_file(d.File("EEG00041.mkd"), 12); }, "marks file",
         "cannot be read"},
        {"a patient file of no patient",
         [](const TempDir& d) { WriteText(d.File("EEG00041.PDB"), "just text\r\n"); },
         "EEG00041.PDB", "no patient entry"},
        {"a reviewer's entry left behind",
         [](const TempDir& d) {
             CDosEegFile reviewer;
             reviewer.Open(d.File("EEG00041.LOG").c_str(), 0);
             reviewer.DisableFileAccess();  // closes without leaving the control file
         },
         "EEG00041.$co", "holds the recording no longer"},
        {"a writer listed but gone",
         [](const TempDir& d) {
             CFile f(d.File("EEG00041.$co").c_str(), CFile::modeCreate | CFile::modeWrite);
             CEegStationList stations;
             stations.Add(CEegStationEntry{"ELSEWHERE", 1, CEegAccessMode::eamWrite});
             WriteControlRecord(f, stations);
         },
         "EEG00041.$co", "recording interrupted: 30 s kept, the last at 2026-12-06 10:00:29"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        for (const auto& e : fs::directory_iterator(sound.path()))
            fs::copy(e.path(), dir.path() / e.path().filename());
        c.make(dir);
        const CEegFileProblemList problems = Check(dir.File("EEG00041.LOG"));
        EXPECT_TRUE(Names(problems, c.where, c.what))
            << c.damage << ": wanted " << c.where << ": ..." << c.what << "...\n"
            << Told(problems);
    }
}

TEST(DosEegFileCheck, AKilledWriterLeavesAnInterruptedRecording) {
    TempDir dir;
    const std::string log = dir.File("EEG00042.LOG");
    const std::vector<short> frames = Rough(5);
    const int b = 4 * (kRate + 4);
    Pipe ready, hold;
    const pid_t writer = Spawn([&] {
        KeepEnds({&ready}, {&hold});
        const CTKTime start(2026, 12, 6, 10, 0, 0);
        const CRecordEvent run(CEegTimeStamp(0), 1, &start);
        const CEegEvent* events[] = {&run};
        CDosRecordingWriter w(log.c_str(), kRate, 2, AmpStoring(kInputs), MontageOf(kInputs));
        w.WriteEvents(events, 1);
        for (int s = 0; s < 5; ++s)
            w.WriteSecond(frames.data() + static_cast<size_t>(32) * kRate * s);
        // Half of the next second, as a write cut off by the kill would leave it.
        WriteText(dir.File("EEG00042.000"), std::string(b / 2, '\0'), true);
        ready.Send('r');
        hold.Get();  // recording, until killed
        return 0;
    });
    KeepEnds({&hold}, {&ready});
    ASSERT_EQ(ready.Get(), 'r');
    // Being recorded: nothing is wrong, not even the second it is writing.
    CEegFileProblemList problems = Check(log);
    EXPECT_TRUE(problems.empty()) << Told(problems);

    ASSERT_EQ(::kill(writer, SIGKILL), 0);
    EXPECT_EQ(Reap(writer), -1);
    problems = Check(log);
    EXPECT_TRUE(Names(problems, LineOf(log, "Recording at"),
                      "recording interrupted: 5 s kept, the last at 2026-12-06 10:00:04; the run "
                      "started here was never stopped"))
        << Told(problems);
    EXPECT_TRUE(Names(problems, "EEG00042.000 at byte " + std::to_string(5 * b),
                      std::to_string(b / 2) + " bytes of a second"))
        << Told(problems);
    EXPECT_EQ(problems.size(), 2u) << Told(problems);
}
