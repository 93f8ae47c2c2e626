#include <gtest/gtest.h>

#include "DosTestSupport.h"
#include "EegFile/dos/DosInputNames.h"
#include "Platform/StringTable.h"

using namespace dostest;
using namespace AmpInput;

TEST(LogFile, StampsAndNames) {
    EXPECT_EQ(LogFormat::SampleOffsetFromString("00:00:01.000", 256), 200u);  // whole hundreds
    EXPECT_EQ(LogFormat::SampleOffsetFromString("01:02:03.450", 200), 744690u);
    EXPECT_EQ(LogFormat::SampleOffsetFromString("00:00:01", 200), 200u);  // completed with '0'
    EXPECT_EQ(LogFormat::SecondOffsetFromString("25:00:00.999"), 90000);
    EXPECT_EQ(std::string(LogFormat::StringFromSampleOffset(744690, 200)), "01:02:03.450");
    EXPECT_EQ(std::string(LogFormat::StringFromSampleOffset(200u * 3600 * 30, 200)),
              "30:00:00.000");
    const auto& active = DosInputNames::ActiveInputs();
    EXPECT_EQ(active.GetSize(), 40);
    EXPECT_EQ(DosInputNames::ReferenceInputs().GetSize(), 34);
    EXPECT_EQ(DosInputNames::StoredInputOutput().GetSize(), 42);
    EXPECT_EQ(DosInputNames::ImpedanceInputs().GetSize(), 42);
    EXPECT_EQ(DosInputNames::ConvertTextToInput(" cz\r\n", active), Cz);
    EXPECT_EQ(DosInputNames::ConvertTextToInput("DC3", active), DC3);
    EXPECT_EQ(DosInputNames::ConvertTextToInput("Gnd", active), NoInput);
    EXPECT_EQ(DosInputNames::ConvertTextToInput("AvgRef", DosInputNames::ReferenceInputs()),
              AvgRef);
    EXPECT_EQ(DosInputNames::ConvertTextToInput("CRef", DosInputNames::ImpedanceInputs()), 40);
    EXPECT_EQ(std::string(DosInputNames::InputToText(DC8, DosInputNames::StoredInputOutput())),
              "DC8Ref");
    EXPECT_EQ(std::string(DosInputNames::InputToText(Gnd, active)), "32");
    EXPECT_EQ(DosInputNames::ImpedancePositionToInput(33), In2R);
    EXPECT_EQ(DosInputNames::ImpedancePositionToInput(41), Gnd);
}

TEST(LogFile, ParameterLines) {
    TempDir dir;
    ParsedLog p(
        dir.File("EEG00042.LOG"),
        Lines({"00:00:00.000  SAMPLRT 100", "00:00:00.000  COMPRSN 1", "00:00:00.000 DCINPUT 1 1A",
               "00:00:00.000 CHANLCT 3 Fp1 cz 1A", "00:00:00.000 CHANLCT 2 O1 O2",
               "00:00:00.000 AMPLOCUT 0.16", "00:00:00.000 AMPHICUT 35",
               "00:00:00.000 INPUTGAIN Fp1 1.694 uVperBit",
               "00:00:00.000 INPUTGAIN F3 2.0 uVperBit", "00:00:00.000 INPUTGAIN Xy 1.694 uVperBit",
               "00:00:00.000 NONREFRNC  1A 2A", "00:00:00.000 DCDEVICE 1", "00:00:00.000 MONTINS 1",
               "00:00:00.000 MONTDEL 1", "00:00:00.000 VIDEOSYNC 1", "00:00:00.000 NOSUCHKW 5",
               "00:00:00.000 MAXREAD 0"}));
    const CLogFile& log = p.log;
    EXPECT_EQ(log.GetSampleRate(), 100.0);
    EXPECT_EQ(log.GetCompressionType(), 1);
    EXPECT_EQ(log.GetStoredChannelCount(), 3);
    EXPECT_EQ(log.GetBytesPerSecondFile(), 3 * 101);
    const CAmpHardwareInfo& amp = log.GetAmpHardwareInfo();
    EXPECT_EQ(amp.GetMaxHighCut(), 50.0);
    EXPECT_EQ(amp.GetAmplifierType(), 1);
    EXPECT_EQ(amp.GetInputGain(Fp1), 1.694);
    EXPECT_EQ(amp.GetInputGain(F3), CAmpHardwareInfo::kDefaultGain);
    const AmpInputType stored[] = {Fp1, Cz, DC1};
    EXPECT_EQ(amp.GetInputDomain().GetSize(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(amp.GetInputDomain().GetAt(i), stored[i]);
    EXPECT_EQ(amp.GetDcDomain().GetSize(), 1);
    for (int k = 0; k < 32; ++k)
        EXPECT_EQ(log.GetChannelValidArray()[k], k == Fp1 || k == Cz || k == In1A) << k;
    // The listed inputs may not serve as reference: 31 of the usual 33 remain.
    EXPECT_EQ(amp.GetRefInputDomain().GetSize(), 31);
    EXPECT_FALSE(amp.GetRefInputDomain().Contains(In2A));
    EXPECT_TRUE(amp.GetRefInputDomain().Contains(CRef));
    EXPECT_EQ(
        Describe(log.GetEventList()),
        (std::vector<std::string>{"0 comment 5 'ERROR: could not convert Xy to gain input jack'"}));

    // The older stored-input form; a list without channels is reported.
    ParsedLog old(dir.File("EEG00043.LOG"),
                  Lines({"00:00:00.000 CHNLCNT 0", "00:00:00.000 CHNLCNT 4 5 0 2 40"}));
    EXPECT_EQ(old.log.GetStoredChannelCount(), 3);
    for (int k = 0; k < 32; ++k)
        EXPECT_EQ(old.log.GetChannelValidArray()[k], k == 0 || k == 2 || k == 5) << k;
    EXPECT_EQ(Describe(old.log.GetEventList()),
              (std::vector<std::string>{"0 comment 5 'ERROR: could not convert channel list'"}));
}

TEST(LogFile, EventLines) {
    // One line (or block) each, at the default 200 samples per second.
    const struct {
        std::vector<std::string> lines;
        std::vector<std::string> events;
    } cases[] = {
        {{"00:00:01.000 COMMENT 5 word"}, {"200 comment 5 'word'"}},
        {{"00:00:01.000 COMMENT eyes open"}, {"200 comment 3 'eyes open'"}},
        {{"00:00:01.000 EVENT word"}, {"200 comment 3 'word'"}},
        {{"00:00:01.000 SLEEP stage 2"}, {"200 comment 3 'stage 2'"}},
        {{"00:00:01.000 COMMENT"}, {"200 comment 3 ''"}},
        {{"00:00:02.000 MONTSPD 10"}, {"400 speed 30"}},
        {{"00:00:02.000 MONTSTD 10 35 50"},
         {"400 sensitivity 10", "400 highcut 35", "400 lowcut 0.5"}},
        {{"00:00:02.000 MONTSTD"}, {"400 sensitivity 7", "400 highcut 70", "400 lowcut 1"}},
        {{"00:00:03.000 COMMENT BOOKMARK 00:00:05.000 35.0  0.50  15.0  10.0 look here"},
         {"600 bookmark to 1000 h35 l0.5 p15 s10 'look here'"}},
        {{"00:00:03.000 COMMENT BOOKMARK 00:00:05.000 35.0  0.50  15.0 1000.0 wide"},
         {"600 bookmark to 1000 h35 l0.5 p15 s1000 'wide'"}},
        {{"00:00:04.000 COMMENT Recording at 12/06/26  04:43:52"},
         {"800 recording 2026-12-06 04:43:52"}},
        {{"00:00:04.000 COMMENT Stopped at 12/06/26  05:00:00"},
         {"800 stopped 2026-12-06 05:00:00"}},
        {{"00:00:04.000 COMMENT Recording at nonsense"},
         {"800 comment 5 'ERROR: could not convert Record Event'"}},
        {{"00:00:06.000 MONTRCE 3 F3_x F3 C3 UNLINKED 10 35 50 COLOR3 UNCOLOR1 extra"},
         {"1200 trace 3 [F3 x F3-C3 s10 h35 l0.5 c2]"}},
        {{"00:00:06.000 MONTRCE 4 _ Fp1 Ref LINKED 7 70 100 COLOR2 UNCOLOR1"},
         {"1200 trace 4 [ Fp1-Ref s7 h70 l1 linked c1]"}},
        {{"00:00:06.000 MONDCIN 5 dc DC2 Ref UNCOLOR2"},
         {"1200 trace 5 [dc DC2-Ref s7 h70 l1 c11]"}},
        {{"00:00:06.000 MONTRCE 32 x Fp1 Ref LINKED 7 70 100 COLOR1 UNCOLOR1"},
         {"1200 comment 5 'ERROR: could not convert trace'"}},
        {{"00:00:10.000 MONTAGE 3 My Montage", "00:00:10.000 CHANLCT 2 Fp1 F3",
          "00:00:10.000 MONTREF MyAvg Fp1 F3 Xx", "00:00:10.000 MONTREF Second Fp1",
          "00:00:10.000 MONTRCE 0 Fp1-Avg Fp1 MyAvg LINKED 7 70 100 COLOR1 UNCOLOR1",
          "00:00:10.000 MONTRCE 1 F3-Fp1 F3 Fp1 LINKED 7 70 100 COLOR2 UNCOLOR1",
          "00:00:10.000 COMMENT 3 same time",
          "00:00:12.000 MONTRCE 2 x Fp1 MyAvg LINKED 7 70 100 COLOR1 UNCOLOR1"},
         {"2000 comment 5 'ERROR: could not convert Xx to AvgRef jack'",
          "2000 comment 5 'Only one average reference allowed: Second not included'",
          "2000 montage 'My Montage' avg MyAvg Fp1 F3 0[Fp1-Avg Fp1-AvgRef s7 h70 l1 linked c0] "
          "1[F3-Fp1 F3-Fp1 s7 h70 l1 linked c1]",
          "2000 comment 3 'same time'", "2400 trace 2 [x Fp1-AvgRef s7 h70 l1 linked c0]"}},
        {{"00:00:13.000 MONTAGE 1 Empty",
          "00:00:13.000 MONTRCE 40 bad Fp1 Ref LINKED 7 70 100 A B"},
         {"2600 comment 5 'ERROR: could not convert trace'",
          "2600 comment 5 'ERROR: could not convert montage'"}},
        {{"00:00:11.000 COMMENT 00 Fp1-- 5", "00:00:11.000 COMMENT 01  Cz-- <2",
          "00:00:11.000 COMMENT 02 CRe*** 12", "00:00:11.000 COMMENT 03  1R*** 7",
          "00:00:11.000 COMMENT 3 after"},
         {"2200 recref CRef", "2200 impedance ref CRef Fp1=5 Cz=1.9 1R=7 CRef=12",
          "2200 comment 3 'after'"}},
        {{"00:00:11.000 COMMENT 00  Cz*** 5"}, {"2200 recref Cz", "2200 impedance ref Cz Cz=5"}},
        {{"00:00:11.000 COMMENT 00  Xx-- 5"},
         {"2200 comment 5 'ERROR: could not convert impedance'"}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string text;
        for (const auto& l : c.lines)
            text += l + "\r\n";
        ParsedLog p(dir.File("EEG00001.LOG"), text);
        EXPECT_EQ(Describe(p.log.GetEventList()), c.events) << c.lines[0];
    }
}

TEST(LogFile, MalformedLinesAreSkipped) {
    // None of these is an entry, or each names nothing the parser can use: no
    // event, no parameter and no file comes of them, and parsing goes on.
    const std::string longLine = "00:00:01.000 COMMENT 3 " + std::string(400, 'y');
    const std::string binary("\x01\xff\x00\x7f:\x80\x00\r\x1b", 9);
    const std::vector<std::string> bad = {
        "",
        "garbage",
        "00:00:01.000",
        "00:00:01.000 ",
        "00-00:01.000 COMMENT x",
        "00:00:01,000 COMMENT x",
        "00:00:01.000 ?OMMENT blotted out",
        "00:00:01.000 COMM",
        "00:00:01.000 NOSUCH 5",
        binary,
        "00:00:00.000 CHANLCT -5 Fp1",
        "00:00:00.000 CHANLCT 99999",
        "00:00:00.000 DCINPUT x",
        "00:00:00.000 NEWFILE",
        "00:00:00.000 NEWFILE x",
        "00:00:00.000 CUTFILE",
        "00:00:00.000 AMPLOCUT x",
    };
    TempDir dir;
    std::string text;
    for (const auto& l : bad)
        text += l + "\r\n";
    text += longLine + "\r\n" + "00:00:02.000 COMMENT 3 still read\r\n";
    ParsedLog p(dir.File("EEG00001.LOG"), text);
    const CLogFile& log = p.log;
    EXPECT_EQ(log.getFileCount(), 0);
    EXPECT_EQ(log.GetStoredChannelCount(), 32);
    EXPECT_EQ(log.GetSampleRate(), 200.0);
    EXPECT_EQ(log.GetAmpHardwareInfo().GetDcDomain().GetSize(), 0);
    // A line longer than 299 characters is read in pieces: the first is cut short,
    // the rest is no entry.
    EXPECT_EQ(Describe(log.GetEventList()),
              (std::vector<std::string>{"0 comment 5 'ERROR: could not convert x to DC input jack'",
                                        "200 comment 3 '" + std::string(299 - 23, 'y') + "'",
                                        "400 comment 3 'still read'"}));
    // Values out of range stay bounded.
    ParsedLog q(dir.File("EEG00002.LOG"),
                Lines({"00:00:00.000  SAMPLRT 99999999999", "00:00:00.000 MAXREAD -7",
                       "00:00:00.000 CHNLCNT 2147483647 3", "99:99:99.999 CUTFILE -2147483648",
                       "00:00:00.000 NEWFILE 5"}));
    EXPECT_EQ(q.log.GetSampleRate(), 2147483647.0);
    EXPECT_EQ(q.log.GetBytesPerSecondFile(), 2147483647);
    EXPECT_EQ(q.log.getMaxReadPosition(), 2147483647);
    CDosEegData data(q.log);
    short frames[32 * 400] = {};
    EXPECT_EQ(data.readData(0, frames), 0);  // no second this large can be held

    // A log of binary garbage: lines of any length, NULs, no line ends.
    std::string garbage(1 << 16, '\0');
    uint32_t x = 12345;
    for (char& c : garbage) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    ParsedLog g(dir.File("EEG00003.LOG"), garbage);
    EXPECT_LE(g.log.GetReadPosition(), static_cast<int64_t>(garbage.size()));
    EXPECT_LE(g.log.getFileCount(), LogFormat::kMaxFiles);
}

TEST(LogFile, FollowsAGrowingLog) {
    TempDir dir;
    const std::string path = dir.File("EEG00001.LOG");
    ParsedLog p(path, "00:00:01.000 COMMENT 3 first\r\n00:00:02.000 COMMENT 3 sec");
    CLogFile& log = p.log;
    // The last line has no line end yet: it waits.
    EXPECT_EQ(Describe(log.GetEventList()), (std::vector<std::string>{"200 comment 3 'first'"}));
    EXPECT_EQ(log.GetReadPosition(), 30);
    log.updateFromLog();
    EXPECT_EQ(log.GetEventList().GetSize(), 1);
    WriteText(
        path,
        "ond\r\n00:00:03.000 NEWFILE 0\r\n00:00:03.000 NEWFILE 1\r\n00:00:04.000 NEWFILE 1\r\n",
        true);
    log.updateFromLog();
    EXPECT_EQ(Describe(log.GetEventList()),
              (std::vector<std::string>{"200 comment 3 'first'", "400 comment 3 'second'"}));
    // A repeated NEWFILE moves its file; file 0, empty and not the last, is dropped.
    ASSERT_EQ(log.getFileCount(), 1);
    EXPECT_EQ(log.getFile(0)->fileNumber, 1);
    EXPECT_EQ(log.getFile(0)->startSecond, 4);
    EXPECT_EQ(log.GetReadPosition(), static_cast<int64_t>(ReadText(path).size()));

    // The file list holds 1100 files at most.
    std::string many;
    for (int i = 2; i < 1300; ++i)
        many += "00:00:05.000 NEWFILE " + std::to_string(i) + "\r\n";
    WriteText(path, many, true);
    log.updateFromLog();
    EXPECT_EQ(log.getStatus() & CLogFile::stFileListFull, CLogFile::stFileListFull);
    EXPECT_EQ(log.getLastDataFileNumber(), 1100);  // the last one the list took
    EXPECT_EQ(log.getFileCount(), 1);
}

TEST(LogFile, LogFaults) {
    TempDir dir;
    {
        CDosLogFile log;
        ExpectDosError([&] { log.OpenLog(dir.File("EEG00001.LOG").c_str(), 0); }, 21);
        EXPECT_EQ(log.exists(), 0);
        // Created when asked to.
        log.OpenLog(dir.File("EEG00001.LOG").c_str(), 1);
        EXPECT_EQ(log.getLogFileCreated(), 1);
        EXPECT_EQ(log.getStatus(), 0);
    }
    {
        // A log cut to nothing under a reader, and one whose list ends in a cut file.
        ParsedLog p(dir.File("EEG00002.LOG"), Lines({"00:00:01.000 COMMENT 3 x"}));
        // Shorter, but not empty: nothing new until it grows past what was read.
        WriteText(p.path, "00:00:09");
        p.log.updateFromLog();
        WriteText(p.path,
                  Lines({"00:00:02.000 COMMENT 3 replaced", "00:00:03.000 COMMENT 3 then"}));
        p.log.updateFromLog();
        EXPECT_EQ(Describe(p.log.GetEventList()),
                  (std::vector<std::string>{"200 comment 3 'x'", "600 comment 3 'then'"}));
        WriteText(p.path, "");
        ExpectDosError([&] { p.log.updateFromLog(); }, 22);
        EXPECT_EQ(p.log.getStatus() & CLogFile::stLogAccess, CLogFile::stLogAccess);
        CDosLogFile log;
        WriteText(dir.File("EEG00003.LOG"),
                  Lines({"00:00:00.000 MAXREAD 10", "00:00:00.000 CUTFILE 1"}));
        ExpectDosError([&] { log.OpenLog(dir.File("EEG00003.LOG").c_str(), 0); }, 22);
        EXPECT_EQ(log.getStatus() & CLogFile::stLastIsCutFile, CLogFile::stLastIsCutFile);
        // Cut file 1 (number -1) is no data file, though no data file is listed yet.
        ASSERT_EQ(log.getFileCount(), 1);
        EXPECT_EQ(log.getFile(0)->skipSeconds, 0);
    }
    // The codes' messages.
    const char* texts[] = {"Could not open DOS log file.",
                           "Error accessing DOS log file.",
                           "Error writing to DOS log file.",
                           "Event is undefined in DOS log file.",
                           "Could not find event in DOS log file.",
                           "Not allowed to append to a DOS file.",
                           "Error deleting marked data."};
    for (int code = 20; code <= 28; ++code) {
        CDosFileException e(code);
        char buffer[200];
        e.GetErrorMessage(buffer, sizeof buffer);
        const std::string text = code == 20   ? std::string(AfxLoadString(116))
                                 : code == 28 ? "Unknown error type."
                                              : texts[code - 21];
        EXPECT_EQ(std::string(buffer), "Tarnvik EEG File Error: " + text) << code;
    }
}
