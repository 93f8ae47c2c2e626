#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "DosTestSupport.h"
#include "EegFile/dos/DosPdbFile.h"
#include "EegFile/dos/DosStatusWords.h"
#include "Platform/FaultInjection.h"
#include "Platform/OleDateTime.h"
#include "Platform/Report.h"

using namespace dostest;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
const std::string kEnd = "\032";  // the DOS end of text

std::vector<CKeyValueFile::Entry> ToEntries(const Pairs& pairs) {
    std::vector<CKeyValueFile::Entry> out;
    for (const auto& [k, v] : pairs)
        out.push_back({k.c_str(), v.c_str()});
    return out;
}

double Day(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return COleDateTime(y, mo, d, h, mi, s).m_dt;
}

// Counts the failures reported while it lives, and keeps them off stderr.
struct Reports {
    Reports() {
        old = SetExceptionReportCallback(
            [this](CException*, const char*, const char*, int) { ++count; });
    }
    ~Reports() { SetExceptionReportCallback(old); }
    ExceptionReportCallback old;
    int count = 0;
};

struct PdbDir {
    TempDir dir;
    std::string log = dir.File("EEG00042.LOG");
    std::string pdb = dir.File("EEG00042.PDB");
};

}  // namespace

TEST(DosPdbKeyValueFile, WritesTheBytesTheStationsWrite) {
    const std::string k250(CKeyValueFile::kMaxKeyLength, 'k');
    EXPECT_EQ(CKeyValueFile::FileText({}), kEnd);
    struct Case {
        std::string before;
        Pairs sets;
        std::string after;
    } cases[] = {
        {"", {{"Last Name", "Smith"}}, "Last Name = Smith\r\n" + kEnd},
        {"", {{" Height\r\n", "180 cm \r\n"}}, "Height = 180 cm\r\n" + kEnd},
        {"", {{"Comments", "  two  "}}, "Comments = \"  two  \"\r\n" + kEnd},
        {"", {{"History", "a\r\nb\nc\032d"}}, "History = a  b c d\r\n" + kEnd},
        {"", {{"Comments", " a\r\nb"}}, "Comments = \" a  b\"\r\n" + kEnd},
        {"", {{"M.I.", ""}}, "M.I. = \r\n" + kEnd},
        {"", {{k250, "v"}}, k250 + " = v\r\n" + kEnd},
        {"Zeta = z\r\nComments = \"  x\"\r\nLast Name = Old\r\n" + kEnd,
         {{"Last Name", "New"}, {"EMail", "a@b"}},
         "Zeta = z\r\nComments = \"  x\"\r\nLast Name = New\r\nEMail = a@b\r\n" + kEnd},
        {"A = 1\r\nB = 2\r\nA = 3\r\n", {{"B", "4"}}, "A = 3\r\nB = 4\r\n" + kEnd},
        {"A=1\nB = 2", {{"C", "3"}}, "A = 1\r\nB = 2\r\nC = 3\r\n" + kEnd},
        {"Zeta = z\r\nA = 1\r\n",
         {{"A", "2"}, {"New", " lead"}, {"A", "3"}, {"Zeta", "z"}, {"B", "x\ny"}},
         "Zeta = z\r\nA = 3\r\nNew = \" lead\"\r\nB = x y\r\n" + kEnd},
    };
    // Set one by one, and as one batch, which rewrites the file once.
    const std::string longKey(CKeyValueFile::kMaxKeyLength + 1, 'k');
    for (const Case& c : cases) {
        for (bool batch : {false, true}) {
            TempDir dir;
            const std::string path = dir.File("X.PDB");
            WriteText(path, c.before);  // empty: as no file
            CKeyValueFile f;
            f.Load(path.c_str());
            if (batch) {
                FaultInjection::Arm(FaultInjection::Op::Rename, 2, EIO);  // a second rewrite fails
                EXPECT_TRUE(f.SetValues(ToEntries(c.sets)));
                FaultInjection::Disarm();
                // A bad key refuses the whole batch.
                for (std::string bad : {"bad=key", "A\nB", " ", longKey.c_str()})
                    EXPECT_FALSE(f.SetValues(ToEntries({{"Q", "1"}, {bad, "2"}}))) << bad.size();
            } else {
                for (const auto& [k, v] : c.sets)
                    EXPECT_TRUE(f.SetValue(k.c_str(), v.c_str())) << k;
            }
            EXPECT_EQ(ReadText(path), c.after) << batch << " " << c.sets[0].first;
        }
    }
}

TEST(DosPdbKeyValueFile, ReadsLinesAsTheStationsWrite) {
    const std::string k251(251, 'k');
    const std::string v300(300, 'v');
    const struct {
        std::string text;
        Pairs entries;
    } cases[] = {
        {"Comments = \"  x\"\r\n", {{"Comments", "  x"}}},
        {"A = \"\"\r\nB = \"\r\nC = \"a\" b\"\r\n", {{"A", ""}, {"B", "\""}, {"C", "a\" b"}}},
        {"A = 1\r\nB = 2\r\nA = 3\r\n", {{"A", "3"}, {"B", "2"}}},
        {"no equals\r\n  Last Name  =  Smith \r\nlast name = x=y\r\n = e\r\n",
         {{"Last Name", "Smith"}, {"last name", "x=y"}, {"", "e"}}},
        {"A = 1\r\n\032B = 2\r\n", {{"A", "1"}}},
        {"A = 1\nB = 2", {{"A", "1"}, {"B", "2"}}},
        {std::string("A = 1") + '\0' + "junk = j\r\nB = 2\r\n", {{"A", "1"}, {"B", "2"}}},
        {"Comments = " + v300 + " \r\n", {{"Comments", v300}}},
        {k251 + "=v\r\n", {{k251, "v"}}},
        {k251 + "k=v\r\nA = 1\r\n", {{"A", "1"}}},
    };
    TempDir dir;
    const std::string path = dir.File("X.PDB");
    for (const auto& c : cases) {
        WriteText(path, c.text);
        CKeyValueFile f;
        EXPECT_TRUE(f.Load(path.c_str()));
        Pairs got;
        for (int i = 0; i < f.GetCount(); ++i)
            got.emplace_back(f.GetEntry(i).key.str(), f.GetEntry(i).value.str());
        EXPECT_EQ(got, c.entries) << c.text.substr(0, 40);
    }
}

TEST(DosPdbKeyValueFile, SameValueLeavesTheFileUntouched) {
    TempDir dir;
    const std::string path = dir.File("X.PDB");
    const std::string text = "A=1\nComments = \"  x\"\nB =  two words  \n";
    WriteText(path, "A = 0\r\n");
    CKeyValueFile stale;  // loaded before another station wrote what it sets
    stale.Load(path.c_str());
    WriteText(path, text);
    const auto old = std::filesystem::last_write_time(path) - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(path, old);
    const Pairs sames[] = {
        {{"A", "1"}}, {{" A ", "1 \r\n"}}, {{"Comments", "  x"}}, {{"A", "1"}, {"B", "two words"}}};
    for (const Pairs& same : sames) {
        CKeyValueFile f;
        f.Load(path.c_str());
        EXPECT_TRUE(f.SetValues(ToEntries(same)));
        EXPECT_EQ(ReadText(path), text) << same[0].first;
        EXPECT_EQ(std::filesystem::last_write_time(path), old);
    }
    EXPECT_TRUE(stale.SetValue("A", "1"));
    EXPECT_EQ(ReadText(path), text);
    EXPECT_EQ(std::filesystem::last_write_time(path), old);
}

TEST(DosPdbKeyValueFile, BadFilesAndFailedWritesLoseNothing) {
    std::string garbage(1 << 16, '\0');
    uint32_t seed = 12345;
    for (char& c : garbage)
        c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    std::string garbageToTheEnd = garbage;
    std::replace(garbageToTheEnd.begin(), garbageToTheEnd.end(), '\032', '=');
    const std::string tooLarge = "A = 1\r\n" + std::string(CKeyValueFile::kMaxFileBytes, ' ');
    using FaultInjection::Op;
    using SetUp = std::function<void(const std::string& path)>;
    const auto fail = [](Op op, int error) -> SetUp {
        return [=](const std::string&) { FaultInjection::Arm(op, 1, error); };
    };
    const SetUp none = [](const std::string&) {};
    const std::string file = "A = 1\r\n" + kEnd;
    const std::string huge(CKeyValueFile::kMaxFileBytes, 'v');
    const struct {
        const char* name;
        std::string bytes;
        SetUp setUp;
        std::string value;
        bool loads, writes;
    } cases[] = {
        {"garbage", garbage, none, "X", true, true},
        {"garbage without end byte", garbageToTheEnd, none, "X", true, true},
        {"no line end", std::string(200000, 'x'), none, "X", true, true},
        {"one endless line", "K=" + std::string(200000, 'v'), none, "X", true, true},
        {"NUL bytes", std::string(4096, '\0'), none, "X", true, true},
        {"too large", tooLarge, none, "X", false, false},
        {"write fails", file, fail(Op::Write, ENOSPC), "X", true, false},
        {"flush fails", file, fail(Op::Flush, EIO), "X", true, false},
        {"rename fails", file, fail(Op::Rename, EIO), "X", true, false},
        {"read-only", file, [](auto& p) { CFile::SetReadOnly(p.c_str(), true); }, "X", true, false},
        {"value too large", file, none, huge, true, false},
    };
    for (const auto& c : cases) {
        Reports reports;
        TempDir dir;
        const std::string path = dir.File("X.PDB");
        WriteText(path, c.bytes);
        CKeyValueFile f;
        EXPECT_EQ(f.Load(path.c_str()), c.loads) << c.name;
        const int count = f.GetCount();
        c.setUp(path);
        EXPECT_EQ(f.SetValue("Last Name", c.value.c_str()), c.writes) << c.name;
        FaultInjection::Disarm();
        CKeyValueFile again;
        again.Load(path.c_str());
        if (c.writes) {
            EXPECT_EQ(again.GetCount(), count + 1) << c.name;
            EXPECT_EQ(again.GetEntry(count).value, "X") << c.name;
        } else {
            EXPECT_EQ(ReadText(path), c.bytes) << c.name;
            EXPECT_GT(reports.count, 0) << c.name;
        }
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << c.name;
    }
    EXPECT_FALSE(CKeyValueFile().SetValue("A", "1"));  // no path
}

TEST(DosPdbFile, EveryKeyBothWays) {
    // Every text field but the log number holds "v" and its number, so that the
    // file shows which field each key carries.
    CPatientInfo info;
    for (int f = 0; f < CPatientInfo::tfCount; ++f) {
        if (f != CPatientInfo::tfLogNumber)
            info.SetText(static_cast<CPatientInfo::TextField>(f),
                         ("v" + std::to_string(f)).c_str());
    }
    info.SetComments("  v8");
    info.SetBirthDate(Day(1970, 4, 3));
    info.SetSex(CPatientInfo::sexFemale);
    info.SetRecordStatus(CPatientInfo::rsReadyToArchive);
    info.SetRecordDate(Day(2024, 3, 5, 14, 7, 9));
    info.SetQmSynched(1);
    const std::string head =
        "Last Name = v0\r\nFirst Name = v1\r\nM.I. = v2\r\nPatient I.D. = v3\r\n"
        "Birth Date = 04/03/1970\r\nSex = F\r\nPhysician Name = v4\r\nTechnician Name = v5\r\n";
    const std::string statusLines =
        "Status! = READY TO ARCHIVE\r\nDate! = 03/05/24\r\nTime! = 14:07:09\r\n";
    const std::string tail =
        "Medications = v6\r\nHistory = v7\r\nComments = \"  v8\"\r\nRef Physician = v9\r\n"
        "Height = v10\r\nWeight = v11\r\nQmSynched = TRUE\r\nQmFileIdKey = v12\r\n"
        "Title = v14\r\nSSN = v15\r\nMarital Status = v16\r\nRace = v17\r\n"
        "Address Line1 = v18\r\nAddress Line2 = v19\r\nAddress City = v20\r\n"
        "Address State = v21\r\nAddress Zip = v22\r\nAddress Zip4 = v23\r\n"
        "Phone Home = v24\r\nPhone Work = v25\r\nPhone Fax = v26\r\nEMail = v27\r\n" +
        kEnd;
    for (int including : {0, 1}) {
        PdbDir d;
        EXPECT_EQ(CDosPdbFile(d.log.c_str()).SetPatientInfo(info, including), 1);
        EXPECT_EQ(ReadText(d.pdb), head + (including ? statusLines : "") + tail);
        CPatientInfo back;
        EXPECT_EQ(CDosPdbFile(d.log.c_str()).GetPatientInfo(back), 1);
        if (including) {
            EXPECT_TRUE(back == info);
        }
    }

    using Set = std::function<void(CPatientInfo&)>;
    const struct {
        const char* key;
        const char* value;
        int result;
        Set expect;
    } entries[] = {
        {"Sex", "m", 0, [](auto& i) { i.SetSex(CPatientInfo::sexMale); }},
        {"Sex", "f", 0, [](auto& i) { i.SetSex(CPatientInfo::sexFemale); }},
        {"Sex", "male", 0, [](auto&) {}},
        {"Birth Date", "12/31/1999", 0, [](auto& i) { i.SetBirthDate(Day(1999, 12, 31)); }},
        {"Birth Date", "31.31.1999", 0, [](auto&) {}},
        {"QmSynched", "TRUE", 1, [](auto& i) { i.SetQmSynched(1); }},
        {"QmSynched", "true", 1, [](auto&) {}},
        {"Date!", "03/05/24", 1, [](auto& i) { i.SetRecordDate(Day(2024, 3, 5)); }},
        {"Time!", "2:07 PM", 1, [](auto& i) { i.SetRecordDate(Day(1899, 12, 30, 14, 7, 0)); }},
        {"Date!", "soon", 1, [](auto&) {}},
        {"Status!", "READING", 1, [](auto& i) { i.SetRecordStatus(CPatientInfo::rsReadyToRead); }},
        {"last name", "x", 0, [](auto&) {}},
        {"Unknown", "x", 0, [](auto&) {}},
        {nullptr, "x", 0, [](auto&) {}},
    };
    for (const auto& e : entries) {
        CPatientInfo got, expected;
        EXPECT_EQ(CDosPdbFile::SetPatientEntry(e.key, e.value, got), e.result) << e.key;
        e.expect(expected);
        EXPECT_TRUE(got == expected) << (e.key ? e.key : "null") << " = " << e.value;
    }
    // A file of only birth date and sex recognises nothing.
    PdbDir d;
    WriteText(d.pdb, "Sex = M\r\nBirth Date = 01/02/1990\r\n");
    CPatientInfo got;
    EXPECT_EQ(CDosPdbFile(d.log.c_str()).GetPatientInfo(got), 0);
    EXPECT_EQ(got.GetSex(), CPatientInfo::sexMale);
    EXPECT_EQ(got.GetBirthDate(), Day(1990, 1, 2));
}

TEST(DosPdbFile, StatusWordsBothWays) {
    using namespace DosStatusWords;
    const std::pair<const char*, int> words[] = {
        {"READY TO RECORD", 0},  {"RECORDING", 1}, {"READY TO READ", 2}, {"READING", 2},
        {"READY TO ARCHIVE", 3}, {"ARCHIVED", 6},  {"ARCHIVING", 6},     {"READY TO REVIEW", 6},
        {"REVIEWING", 6},        {"Archived", 5},  {nullptr, 5}};
    for (const auto& [word, status] : words)
        EXPECT_EQ(ToRecordStatus(word), status) << (word ? word : "null");
    const char* written[] = {nullptr, "RECORDING", "READY TO READ", "READY TO ARCHIVE",
                             nullptr, nullptr,     "ARCHIVED",      nullptr};
    for (int status = 0; status < 8; ++status)
        EXPECT_STREQ(ToWord(status, true), written[status]) << status;
    EXPECT_EQ(ToWord(CPatientInfo::rsRecording, false), nullptr);

    // Through the patient file: a word read is written back as the word of its
    // status, and a status without a word leaves the stored word.
    const std::pair<const char*, const char*> rewrites[] = {{"READING", "READY TO READ"},
                                                            {"Archived", "Archived"}};
    for (const auto& [word, rewritten] : rewrites) {
        PdbDir d;
        WriteText(d.pdb, std::string("Status! = ") + word + "\r\n");
        CDosPdbFile pdb(d.log.c_str());
        CPatientInfo info;
        pdb.GetPatientInfo(info);
        EXPECT_EQ(pdb.SetPatientInfo(info, 1), 1);
        CString stored;
        CDosPdbFile(d.log.c_str()).GetValue("Status!", stored);
        EXPECT_EQ(stored, rewritten) << word;
    }
}

TEST(DosPdbFile, FileNameBesideTheLog) {
    EXPECT_EQ(CDosPdbFile::GetPdbFileName("/d/EEG00042.LOG"), "/d/EEG00042.PDB");
    EXPECT_EQ(CDosPdbFile::GetPdbFileName("/d/x.y/EEG"), "/d/x.y/EEG.PDB");
    EXPECT_EQ(CDosPdbFile::GetPdbFileName("rel.log"), "rel.PDB");
    EXPECT_EQ(CDosPdbFile::GetPdbFileName(nullptr), ".PDB");
    // A file spelt in lower case is read and written, not a second one made.
    PdbDir d;
    const std::string lower = d.dir.File("EEG00042.pdb");
    WriteText(lower, "Zeta = z\r\n");
    CDosPdbFile pdb(d.log.c_str());
    EXPECT_EQ(pdb.GetCount(), 1);
    EXPECT_EQ(pdb.SetPatientInfo(CPatientInfo(), 0), 1);
    EXPECT_FALSE(std::filesystem::exists(d.pdb));
    EXPECT_EQ(ReadText(lower).substr(0, 24), "Zeta = z\r\nLast Name = \r\n");
}

TEST(DosPdbFile, HeldByAnotherProcess) {
    PdbDir d;
    const std::string before = "Zeta = z\r\nLast Name = Old\r\n" + kEnd;
    WriteText(d.pdb, before);
    Pipe toChild, toParent;
    const pid_t child = Spawn([&] {
        KeepEnds({&toParent}, {&toChild});
        CFile held(d.pdb.c_str(), CFile::modeReadWrite | CFile::shareExclusive);
        toParent.Send('h');
        toChild.Get();  // until told, or the parent is gone
        return 0;
    });
    KeepEnds({&toChild}, {&toParent});
    ASSERT_EQ(toParent.Get(), 'h');

    CPatientInfo info;
    info.SetLastName("New");
    CKeyValueFile::SetOpenWaitLimit(100);
    Reports reports;
    // Held past the wait limit: reading and writing fail, and say so.
    CDosPdbFile pdb(d.log.c_str());
    EXPECT_EQ(pdb.GetCount(), 0);
    EXPECT_EQ(pdb.SetPatientInfo(info, 1), 0);
    EXPECT_EQ(ReadText(d.pdb), before);
    EXPECT_EQ(reports.count, 2);
    // A write that finds the file held waits; the holder lets go once it waits.
    // The write reads the file under its hold, so the key this object could not
    // load is kept.
    CKeyValueFile::SetOpenWaitLimit(CKeyValueFile::kDefaultOpenWaitMs);
    int waits = 0;
    CKeyValueFile::SetOpenWaitObserver([&](const char*) {
        if (waits++ == 0)
            toChild.Send('r');
    });
    EXPECT_EQ(pdb.SetPatientInfo(info, 1), 1);
    CKeyValueFile::SetOpenWaitObserver({});
    EXPECT_GE(waits, 1);
    toChild.Close();  // lets the holder go even when the write never waited
    EXPECT_EQ(Reap(child), 0);
    EXPECT_EQ(ReadText(d.pdb).rfind("Zeta = z\r\nLast Name = New\r\nFirst Name = \r\n", 0), 0u);
}
