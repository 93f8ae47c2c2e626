#include <gtest/gtest.h>

#include "DosTestSupport.h"
#include "EegFile/frame/DeltaCoding.h"

using namespace dostest;
using namespace AmpInput;

namespace {

const std::vector<AmpInputType> k1020 = {Fp1, Fp2, F7, F3, Fz, F4, F8, T3, C3, Cz,
                                         C4,  T4,  T5, P3, Pz, P4, T6, O1, O2};

std::vector<AmpInputType> AllJacks() {
    std::vector<AmpInputType> v;
    for (int k = 0; k < 32; ++k)
        v.push_back(static_cast<AmpInputType>(k));
    return v;
}

// Reads seconds of a recording through a fresh log and data reader, as another
// station would.
std::vector<short> ReadAll(const std::string& logPath, int seconds,
                           std::vector<int>* results = nullptr) {
    CDosLogFile log(logPath.c_str(), 0);
    CDosEegData data(log);
    const int n = data.getSampleFrequency();
    std::vector<short> out(static_cast<size_t>(32) * n * seconds, 0x5555);
    for (int s = 0; s < seconds; ++s) {
        const int32_t got = data.readData(s, out.data() + static_cast<size_t>(32) * n * s);
        if (results)
            results->push_back(got);
    }
    return out;
}

}  // namespace

TEST(DosEegData, CodeConverters) {
    struct Case {
        short d;
        unsigned char code;
        short restored;
    } cases[] = {{15, 0x0F, 15},    {16, 0x24, 16},       {100, 0x46, 96},
                 {-100, 0x5A, -96}, {-1, 0x1F, -1},       {-16, 0x3C, -16},
                 {0, 0x00, 0},      {32767, 0xC7, 28672}, {-32768, 0x00, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<unsigned char>(CDosEegData::ConvertDelta(c.d)), c.code) << c.d;
        EXPECT_EQ(CDosEegData::RestoreDelta(static_cast<char>(c.code)), c.restored) << c.d;
    }
    // Threshold code: T 64, S 2.
    EXPECT_EQ(CDosEegData::ConvertDeltaR(63, 0, 64, 2), 63);
    EXPECT_EQ(CDosEegData::ConvertDeltaR(100, 0, 64, 2), 82);
    EXPECT_EQ(CDosEegData::RestoreDeltaR(82, 0, 64, 2), 100);
    EXPECT_EQ(CDosEegData::ConvertDeltaR(-101, 0, 64, 2), -82);
    EXPECT_EQ(CDosEegData::RestoreDeltaR(-82, 0, 64, 2), -100);
    EXPECT_EQ(CDosEegData::RestoreDeltaR(0x46, 1, 0, 0), 96);  // flag 1: the exponent code
}

TEST(DosEegData, StoredSecondBytes) {
    // Three samples per second of Fpz (slot 1) and F7 (slot 3); the other slots
    // carry samples that must not be stored.
    TempDir dir;
    std::vector<short> frames(32 * 3, 777);
    const short fpz[] = {100, 90, 300}, f7[] = {-5, -5, 27};
    for (int i = 0; i < 3; ++i) {
        frames[32 * i + 1] = fpz[i];
        frames[32 * i + 3] = f7[i];
    }
    const std::vector<std::vector<unsigned char>> expected = {
        // mode 0: frame by frame, the stored channels only
        {0x64, 0x00, 0xFB, 0xFF, 0x5A, 0x00, 0xFB, 0xFF, 0x2C, 0x01, 0x1B, 0x00},
        // mode 1: frame 0, then per frame one exponent code per channel: -10, 0; 210 -> 208, 32
        {0x64, 0x00, 0xFB, 0xFF, 0x16, 0x00, 0x4D, 0x28},
        // mode 2: Fpz's largest step 210 takes T 32, S 2 (-10 as it is, 210 as 121);
        // F7's 32 takes T 128, S 1
        {0x64, 0x00, 0x00, 0x20, 0x02, 0xF6, 0x79, 0xFB, 0xFF, 0x00, 0x80, 0x01, 0x00, 0x20},
    };
    for (int mode = 0; mode < 3; ++mode) {
        const std::string log = dir.File("EEG0000" + std::to_string(mode) + ".LOG");
        {
            CDosRecordingWriter w(log.c_str(), 3, mode, AmpStoring({Fpz, F7}),
                                  MontageOf({Fpz, F7}));
            ASSERT_TRUE(w.WriteSecond(frames.data()));
            w.Close();
        }
        EXPECT_EQ(ReadBytes(dir.File("EEG0000" + std::to_string(mode) + ".000")), expected[mode])
            << mode;
        std::vector<short> back = ReadAll(log, 1);
        EXPECT_EQ(back[32 * 2 + 1], mode == 1 ? 298 : 300) << mode;  // the exponent code's loss
        EXPECT_EQ(back[32 * 2 + 3], 27);
        EXPECT_EQ(back[32 * 1 + 0], 0) << "a slot not stored reads 0";
    }
}

TEST(DosEegData, EveryModeRoundTrips) {
    TempDir dir;
    const std::vector<std::vector<AmpInputType>> sets = {{Cz}, k1020, AllJacks()};
    int run = 0;
    for (int mode = 0; mode < 3; ++mode) {
        for (int rate : {100, 200, 256}) {
            for (const auto& inputs : sets) {
                SCOPED_TRACE("mode " + std::to_string(mode) + " rate " + std::to_string(rate) +
                             " channels " + std::to_string(inputs.size()));
                const std::string base = dir.File("EEG" + std::to_string(10000 + run++));
                const std::vector<short> frames = SmoothSeconds(rate, 3, run);
                {
                    CDosRecordingWriter w((base + ".LOG").c_str(), rate, mode, AmpStoring(inputs),
                                          MontageOf(inputs));
                    // Seconds 0-1 in the first data file, second 2 in the second.
                    ASSERT_TRUE(w.WriteSecond(frames.data()));
                    ASSERT_TRUE(w.WriteSecond(frames.data() + 32 * rate));
                    ASSERT_TRUE(w.StartDataFile());
                    ASSERT_TRUE(w.WriteSecond(frames.data() + 64 * rate));
                }
                std::vector<int> results;
                EXPECT_EQ(ReadAll(base + ".LOG", 4, &results), [&] {
                    auto e = OnlyStored(frames, inputs);
                    e.resize(e.size() + 32 * rate, 0);  // past the end: zeros
                    return e;
                }());
                EXPECT_EQ(results, (std::vector<int>{rate, rate, rate, 0}));
                if (mode == 2) {
                    // Byte for byte what the current format stores for the same second.
                    CDosLogFile log((base + ".LOG").c_str(), 0);
                    CDosEegData data(log);
                    std::vector<char> raw(static_cast<size_t>(data.getBytesPerSecond()));
                    ASSERT_EQ(data.readDataRaw(2, raw.data(), 0), static_cast<int>(raw.size()));
                    int slots[32], n = 0;
                    for (int k = 0; k < 32; ++k) {
                        if (data.GetChannelValidArray()[k])
                            slots[n++] = k;
                    }
                    std::vector<char> coded(raw.size());
                    DeltaCoding::EncodeSecond(frames.data() + 64 * rate, rate, slots, n,
                                              reinterpret_cast<uint8_t*>(coded.data()));
                    EXPECT_EQ(raw, coded);
                }
            }
        }
    }
}

TEST(DosEegData, DataFilesCutFilesAndMaxRead) {
    // A recording cut below second 40: cut file 1 keeps seconds 0-9, cut file 2
    // seconds 20-29; data file 0 holds seconds 0-59 (0-39 no longer served), data
    // file 1 seconds 60-70 with a last second half written, and data file 2 is
    // missing. Each stored second holds the value (file number + 10) * 100 + second.
    TempDir dir;
    const auto dataFile = [&](const std::string& ext, int number, double seconds) {
        std::vector<unsigned char> bytes;
        for (int s = 0; s < static_cast<int>(std::ceil(seconds)); ++s) {
            const int samples = s + 1 > seconds ? 50 : 100;
            for (int i = 0; i < samples; ++i) {
                const int v = (number + 10) * 100 + s;
                bytes.push_back(static_cast<unsigned char>(v));
                bytes.push_back(static_cast<unsigned char>(v >> 8));
            }
        }
        WriteBytes(dir.File("EEG00007" + ext), bytes);
    };
    dataFile(".000", 0, 60);
    dataFile(".001", 1, 10.5);
    dataFile(".A01", -1, 10);
    dataFile(".A02", -2, 10);
    ParsedLog p(
        dir.File("EEG00007.LOG"),
        Lines({"00:00:00.000  SAMPLRT 100", "00:00:00.000  COMPRSN 0", "00:00:00.000 CHANLCT 1 Cz",
               "00:00:00.000 NEWFILE 0", "00:00:00.000 MAXREAD 40", "00:00:00.000 CUTFILE 1",
               "00:00:20.000 CUTFILE 2", "00:01:00.000 NEWFILE 1", "00:01:10.000 NEWFILE 2"}));
    const CDosLogFile& log = p.log;
    EXPECT_EQ(log.GetRecordNumber(), 7);
    std::vector<std::string> files;
    for (int i = 0; i < log.getFileCount(); ++i) {
        const CLogFile::FileType& f = *log.getFile(i);
        files.push_back(std::to_string(f.fileNumber) + "@" + std::to_string(f.startSecond) + "+" +
                        std::to_string(f.lengthSeconds) + " skip " + std::to_string(f.skipSeconds));
    }
    EXPECT_EQ(files,
              (std::vector<std::string>{"-1@0+10 skip 0", "-2@20+10 skip 0", "0@0+60 skip 40",
                                        "1@60+10 skip 0", "2@70+0 skip 0"}));
    EXPECT_EQ(log.getRecordLength(), 70);
    EXPECT_EQ(log.getLastCutFileNumber(), 2);
    EXPECT_EQ(Describe(log.GetEventList()),
              (std::vector<std::string>{"1000 hole start", "2000 hole end", "3000 hole start",
                                        "4000 hole end"}));

    CDosEegData data(p.log);
    short frames[32 * 100];
    const struct {
        int second;
        int result;
        short value;
    } reads[] = {{5, 100, 905},   {15, 0, 0},      {25, 100, 805},  {35, 0, 0}, {39, 0, 0},
                 {45, 100, 1045}, {59, 100, 1059}, {65, 100, 1105}, {70, 0, 0}, {75, 0, 0}};
    for (const auto& r : reads) {
        std::fill(std::begin(frames), std::end(frames), short(0x5555));
        EXPECT_EQ(data.readData(r.second, frames), r.result) << r.second;
        EXPECT_EQ(frames[32 * 99 + Cz], r.value) << r.second;
        EXPECT_EQ(frames[32 * 99 + Fz], 0) << r.second;
    }
    char raw[200];
    EXPECT_EQ(data.readDataRaw(15, raw, 0), -1);
    EXPECT_EQ(data.readDataRaw(15, raw, 1), 200);
}

TEST(DosEegData, NewDataFiles) {
    // A writer's next data file: created, and its "NEWFILE" line written at the
    // recording's length; refused once number 999 is reached.
    struct Writer : CDosEegData {
        using CDosEegData::CDosEegData;
        using CDosEegData::createNewDataFile;
    };
    TempDir dir;
    WriteBytes(dir.File("EEG00001.004"),
               std::vector<unsigned char>(3 * 6400));  // 3 s, 16 slots at 200 Hz
    ParsedLog p(dir.File("EEG00001.LOG"),
                Lines({"00:00:00.000 CHNLCNT 16 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15",
                       "00:00:00.000 NEWFILE 4"}));
    Writer w(p.log);
    w.createNewDataFile();
    EXPECT_EQ(w.getStatus(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("EEG00001.005")));
    EXPECT_EQ(ReadText(p.path).substr(ReadText(p.path).size() - 24), "00:00:03.000 NEWFILE 5\r\n");
    EXPECT_EQ(p.log.getLastDataFileNumber(), 5);

    ParsedLog full(dir.File("EEG00002.LOG"), Lines({"00:00:00.000 NEWFILE 999"}));
    Writer refused(full.log);
    const size_t before = ReadText(full.path).size();
    refused.createNewDataFile();
    EXPECT_EQ(refused.getStatus(), CLogFile::stFileListFull | CLogFile::stNewFileFailed);
    EXPECT_EQ(ReadText(full.path).size(), before);
    EXPECT_FALSE(std::filesystem::exists(dir.File("EEG00002.1000")));
}
