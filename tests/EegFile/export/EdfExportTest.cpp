#include <edflib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "EegFile/export/EdfExport.h"
#include "EegFile/export/ExportException.h"
#include "ExportTestSupport.h"
#include "TestSupport.h"

using namespace exporttest;

namespace {

double GainOf(int slot) {
    return slot == 3 ? kGain3 : CAmpHardwareInfo::kDefaultGain;
}

// Exports the whole test recording to out.edf in dir; returns the progress calls.
std::vector<int64_t> ExportAll(const testsupport::TempDir& dir) {
    MakeRecording(dir.File("rec.eeg"));
    CWinEegFile file;
    file.Open(dir.File("rec.eeg").c_str(), 0);
    CEdfExport exporter(file);
    std::vector<int64_t> calls;
    CVoidCall1ArgFn<int64_t> progress([&](int64_t n) { calls.push_back(n); });
    exporter.Write(dir.File("out.edf").c_str(), &progress);
    return calls;
}

std::string HeaderField(const std::vector<unsigned char>& b, size_t at, size_t width) {
    std::string s(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + width));
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

}  // namespace

TEST(EdfExport, HeaderBytesAndProgress) {
    testsupport::TempDir dir;
    const std::vector<int64_t> calls = ExportAll(dir);
    EXPECT_EQ(calls, std::vector<int64_t>{12});  // one block holds the whole recording

    const auto b = testsupport::ReadBytes(dir.File("out.edf"));
    ASSERT_GT(b.size(), 256u + 34 * 256);
    EXPECT_EQ(HeaderField(b, 8, 80), "P-1234 F 17-MAY-1980 Doe_Jane");
    EXPECT_EQ(HeaderField(b, 88, 21), "Startdate 01-JUL-2024");
    EXPECT_EQ(HeaderField(b, 168, 16), "01.07.2409.00.00");
    EXPECT_EQ(HeaderField(b, 192, 5), "EDF+C");
    EXPECT_EQ(HeaderField(b, 236, 8), "12");  // data records
    // Labels: input names, except the one a referential trace names.
    const char* labels[] = {"Fp1", "Fpz", "Fp2", "F7", "F3", "EEG Fz-Ref"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(HeaderField(b, 256 + 16 * static_cast<size_t>(i), 16), labels[i]);
    EXPECT_FALSE(std::ifstream(dir.File("out.edf.tmp")).good());
}

TEST(EdfExport, MneReadsSamplesAnnotationsAndStart) {
    if (RunCommand("/usr/bin/python3 -c 'import mne' 2>/dev/null && echo yes") != "yes\n")
        GTEST_SKIP() << "python3-mne is not installed";
    testsupport::TempDir dir;
    ExportAll(dir);
    std::ofstream(dir.File("read.py")) << R"(import sys, mne
r = mne.io.read_raw_edf(sys.argv[1], preload=True, verbose='error')
print(len(r.ch_names), r.info['sfreq'], r.n_times, r.info['meas_date'].strftime('%Y-%m-%d_%H:%M:%S'))
print(r.ch_names[1], r.ch_names[5])
for a in r.annotations:
    print('%.4f|%s' % (a['onset'], a['description']))
r.get_data().astype('<f8').tofile(sys.argv[2])
)";
    std::istringstream out(RunCommand("/usr/bin/python3 " + dir.File("read.py") + " " +
                                      dir.File("out.edf") + " " + dir.File("data.bin") + " 2>&1"));
    std::string when, name1, name5;
    int channels = 0, samples = 0;
    double rate = 0;
    out >> channels >> rate >> samples >> when >> name1 >> name5;
    ASSERT_EQ(channels, 32) << out.str();
    EXPECT_EQ(rate, 200.0);
    EXPECT_EQ(samples, static_cast<int>(kSeconds * kRate));
    EXPECT_EQ(when, "2024-07-01_09:00:00");
    EXPECT_EQ(name1, "Fpz");
    EXPECT_EQ(name5, "EEG");  // "EEG Fz-Ref": MNE drops what follows the blank in EEG labels
    std::string annotations, line;
    std::getline(out, line);
    while (std::getline(out, line))
        annotations += line + "\n";
    EXPECT_NE(annotations.find("2.5000|Spike here\n"), std::string::npos) << annotations;
    EXPECT_NE(annotations.find("4.0000|Data Deleted ->\n"), std::string::npos) << annotations;
    EXPECT_NE(annotations.find("6.0000|<- Data Deleted\n"), std::string::npos) << annotations;
    // A text over 40 characters comes in pieces at the same time.
    EXPECT_NE(annotations.find("9.2500|Eyes closed, then opened on request; pat\n"
                               "9.2500|ient drowsy after\n"),
              std::string::npos)
        << annotations;
    EXPECT_NE(annotations.find("0.0000|Montage Test bipolar\n"), std::string::npos);

    const auto raw = testsupport::ReadBytes(dir.File("data.bin"));
    ASSERT_EQ(raw.size(), 32u * kSeconds * kRate * sizeof(double));
    std::vector<double> volts(raw.size() / sizeof(double));
    std::memcpy(volts.data(), raw.data(), raw.size());
    int bad = 0;
    for (int c = 0; c < 32; ++c)
        for (uint32_t n = 0; n < kSeconds * kRate; ++n) {
            const double uv = volts[static_cast<size_t>(c) * kSeconds * kRate + n] * 1e6;
            bad += std::fabs(uv - Expected(n, c) * GainOf(c)) > GainOf(c);
        }
    EXPECT_EQ(bad, 0);
}

TEST(EdfExport, BiosigReadsHeaderEventsAndSamples) {
    if (RunCommand("command -v save2gdf").empty())
        GTEST_SKIP() << "biosig-tools is not installed";
    testsupport::TempDir dir;
    ExportAll(dir);
    const std::string json =
        RunCommand("save2gdf -n -JSON " + dir.File("out.edf") + " 2>/dev/null");
    for (const char* want :
         {"\"StartOfRecording\"\t: \"2024-07-01 09:00:00\"", "\"Id\"\t: \"P-1234\"",
          "\"Gender\"\t: \"Female\"", "\"Age\"\t: 44", "\"Name\"\t: \"Doe_Jane\"",
          "\"NumberOfRecords\"\t: 12", "\"Samplingrate\"\t: 200.000000",
          "\"Label\"\t: \"EEG Fz-Ref\"", "\"scaling\"\t: 1.694", "\"PhysicalUnit\"\t: \"uV\"",
          "\"POS\"\t: 2.500000", "\"Description\"\t: \"Spike here\"", "\"POS\"\t: 6.000000",
          "\"Description\"\t: \"<- Data Deleted\""})
        EXPECT_NE(json.find(want), std::string::npos) << want << "\n" << json.substr(0, 2000);

    RunCommand("cd " + dir.path().string() + " && save2gdf -CSV out.edf out.csv >/dev/null 2>&1");
    std::ifstream csv(dir.File("out.csv"));
    std::string line;
    ASSERT_TRUE(std::getline(csv, line)) << "no CSV written";
    EXPECT_EQ(line.rfind("\"Fp1 [uV]\",\"Fpz [uV]\"", 0), 0u) << line;
    uint32_t n = 0;
    int bad = 0;
    for (; std::getline(csv, line); ++n) {
        std::istringstream row(line);
        std::string cell;
        for (int c = 0; std::getline(row, cell, ','); ++c)
            bad += c >= 32 || std::fabs(std::stod(cell) - Expected(n, c) * GainOf(c)) > GainOf(c);
    }
    EXPECT_EQ(n, kSeconds * kRate);
    EXPECT_EQ(bad, 0);
}

TEST(EdfExport, WindowKeepsTrueTimesAroundHole) {
    testsupport::TempDir dir;
    MakeRecording(dir.File("rec.eeg"));
    CWinEegFile file;
    file.Open(dir.File("rec.eeg").c_str(), 0);
    // From 2.5 s for 6 s: the comment at 2.5 s opens the window, the hole [4, 6)
    // lies inside, the comment at 9.25 s outside; every annotation keeps its
    // time measured from the window's start.
    CEdfExport exporter(file, 2.5, 6.0);
    EXPECT_EQ(exporter.GetFirstSample(), 500u);
    EXPECT_EQ(exporter.GetSampleCount(), 1200u);
    exporter.Write(dir.File("w.edf").c_str());

    edf_hdr_struct hdr{};
    ASSERT_EQ(edfopen_file_readonly(dir.File("w.edf").c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS),
              0);
    EXPECT_EQ(hdr.datarecords_in_file, 6);
    EXPECT_EQ(hdr.starttime_hour * 10000 + hdr.starttime_minute * 100 + hdr.starttime_second,
              90002);
    EXPECT_EQ(hdr.starttime_subsecond, 5000000);  // half a second, in 100 ns
    std::vector<std::pair<long long, std::string>> notes;
    for (long long i = 0; i < hdr.annotations_in_file; ++i) {
        edf_annotation_struct a{};
        ASSERT_EQ(edf_get_annotation(hdr.handle, static_cast<int>(i), &a), 0);
        notes.emplace_back(a.onset, a.annotation);
    }
    using Note = std::pair<long long, std::string>;
    EXPECT_EQ(notes, (std::vector<Note>{{0, "Spike here"},
                                        {15000000, "Data Deleted ->"},
                                        {35000000, "<- Data Deleted"}}));
    std::vector<int> buf(1200);
    int bad = 0;
    for (int c = 0; c < 32; ++c) {
        ASSERT_EQ(edfread_digital_samples(hdr.handle, c, 1200, buf.data()), 1200);
        for (uint32_t k = 0; k < 1200; ++k)
            bad += buf[k] != Expected(500 + k, c);
    }
    EXPECT_EQ(bad, 0);
    edfclose_file(hdr.handle);
}

TEST(EdfExport, RefusesBadWindowsAndLeavesOldOutputOnFailure) {
    testsupport::TempDir dir;
    MakeRecording(dir.File("rec.eeg"));
    {
        CWinEegFile file;
        file.Open(dir.File("rec.eeg").c_str(), 2);
        for (int i = 0; i < 70; ++i)  // more than 64 annotation signals hold in one record
            file.AddEvent(new CCommentEvent(CEegTimeStamp(kRate * 11 + i), "x"));
        file.Close();
    }
    CWinEegFile file;
    file.Open(dir.File("rec.eeg").c_str(), 0);
    for (double from : {-1.0, 12.0, std::nan(""), 1e12}) {
        testsupport::ExpectThrows<CExportException>([&] { CEdfExport bad(file, from, 1); },
                                                    [](CExportException&) {});
    }
    const std::string out = dir.File("out.edf");
    testsupport::WriteBytes(out, {'o', 'l', 'd'});
    testsupport::ExpectThrows<CExportException>(
        [&] { CEdfExport(file, 11.0, 1.0).Write(out.c_str()); },
        [](CExportException& e) {
            EXPECT_NE(e.GetErrorText().Find("more events"), -1) << e.GetErrorText().GetString();
        });
    EXPECT_EQ(testsupport::ReadBytes(out), (std::vector<unsigned char>{'o', 'l', 'd'}));
    testsupport::ExpectThrows<CExportException>(
        [&] { CEdfExport(file).Write(dir.File("missing/out.edf").c_str()); },
        [](CExportException& e) { EXPECT_NE(e.GetErrorText().Find("cannot be created"), -1); });
    // The same window with room for its events is written.
    CEdfExport(file, 10.0, 2.0).Write(out.c_str());
    EXPECT_EQ(HeaderField(testsupport::ReadBytes(out), 192, 5), "EDF+C");
}

TEST(EdfExport, LongRecordingAcrossBlocksAndPartialLastSecond) {
    testsupport::TempDir dir;
    const std::string rec = dir.File("long.eeg");
    constexpr uint32_t kFrames = 40 * kRate + kRate / 2;  // 40.5 s
    {
        CWinEegFile file;
        file.Create(rec.c_str());
        file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, winfiletest::Amp32());
        file.StartRecording(winfiletest::Time(2024, 7, 1, 9, 0, 0));
        for (uint32_t at = 0; at < kFrames; at += kRate) {
            CEegDataChunk chunk =
                winfiletest::MakeChunk(at, std::min(kRate * 1u, kFrames - at), true);
            file.WriteEegData(chunk);
        }
        file.StopRecording();
        file.Close();
    }
    CWinEegFile file;
    file.Open(rec.c_str(), 0);
    const uint32_t length = file.GetLengthInSamples();
    ASSERT_GE(length, 40 * kRate);
    CEdfExport exporter(file);
    std::vector<int64_t> calls;
    CVoidCall1ArgFn<int64_t> progress([&](int64_t n) { calls.push_back(n); });
    exporter.Write(dir.File("long.edf").c_str(), &progress);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), static_cast<int64_t>(exporter.GetRecordCount()));
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
    EXPECT_GT(calls.size(), 1u);  // more than one block was read

    edf_hdr_struct hdr{};
    ASSERT_EQ(
        edfopen_file_readonly(dir.File("long.edf").c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS),
        0);
    const uint32_t records = (length + kRate - 1) / kRate;
    EXPECT_EQ(hdr.datarecords_in_file, records);
    // Recorded samples as written, the rest of the last record zeros.
    std::vector<int> buf(records * kRate);
    int bad = 0;
    for (int c = 0; c < 32; c += 7) {
        ASSERT_EQ(edfread_digital_samples(hdr.handle, c, static_cast<int>(buf.size()), buf.data()),
                  static_cast<int>(buf.size()));
        for (uint32_t n = 0; n < buf.size(); ++n)
            bad += buf[n] != (n < kFrames ? Sample(n, c, true) : 0);
    }
    EXPECT_EQ(bad, 0);
    edfclose_file(hdr.handle);
}
