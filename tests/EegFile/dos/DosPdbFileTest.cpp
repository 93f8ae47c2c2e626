#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "DosTestSupport.h"
#include "EegFile/dos/KeyValueFile.h"
#include "Platform/FaultInjection.h"
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
