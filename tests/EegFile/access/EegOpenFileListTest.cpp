#include "EegFile/access/EegOpenFileList.h"

#include "AccessTestSupport.h"
#include "Platform/Registry.h"

using testsupport::TempDir;

namespace {
const char kKey[] = "Software\\Clinic\\Review\\EegOpenFileList";

// Points the registry at a fresh folder and sets the host's key for one test.
struct ScopedRegistry {
    TempDir dir;
    testsupport::ScopedEnv root{"EEGFILE_REGISTRY_ROOT", dir.path().c_str()};
    explicit ScopedRegistry(const char* appKey = "Clinic", const char* profile = "Review") {
        SetAppRegistryKey(appKey, profile);
        GetTheEegOpenFileList().RemoveAll();
    }
    ~ScopedRegistry() {
        GetTheEegOpenFileList().RemoveAll();
        SetAppRegistryKey(nullptr, nullptr);
    }
    std::string Value() {
        CRegistryKey key;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (key.Open(kKey, false))
            key.QueryValue("EegOpenFileList", type, data);
        return type == REG_MULTI_SZ ? std::string(data.begin(), data.end()) : "<none>";
    }
    void SetValue(const std::string& bytes, DWORD type = REG_MULTI_SZ) {
        CRegistryKey key;
        ASSERT_TRUE(key.Open(kKey, true));
        ASSERT_TRUE(key.SetValue("EegOpenFileList", type, bytes.data(), bytes.size()));
    }
};

std::string Text(CPatientInfo::RecordStatus status) {
    return CPatientInfo::Format(status).str();
}

// The list as "name|status|qm;" per entry, the status as its number.
std::string Entries(const CEegOpenFileList& list) {
    std::string s;
    for (int i = 0; i < list.GetCount(); ++i) {
        s += list.GetFileName(i).str() + "|" + std::to_string(list.GetFileStatus(i)) + "|" +
             list.GetQmFileId(i).str() + ";";
    }
    return s;
}
}  // namespace

TEST(EegOpenFileList, StoresTheExactMultiStringAndRoundTripsBetweenProcesses) {
    ScopedRegistry reg;
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Store();
    EXPECT_EQ(reg.Value(), std::string(1, '\0'));  // an empty list is one NUL byte

    // One program of the station stores its list (an empty name is ignored)...
    accesstest::Child writer("STATION", [](accesstest::Child&) {
        CEegOpenFileList& mine = GetTheEegOpenFileList();
        mine.Add("/rec/one.eeg", CPatientInfo::rsRecording, "QM-1");
        mine.Add("", CPatientInfo::rsRecording, "ignored");
        mine.Add("/rec/two.eeg", CPatientInfo::rsReadyToArchive, "");
        mine.Store();
        return 0;
    });
    ASSERT_EQ(writer.Wait(), 0);
    EXPECT_EQ(reg.Value(), "/rec/one.eeg|" + Text(CPatientInfo::rsRecording) + "|QM-1" + '\0' +
                               "/rec/two.eeg|" + Text(CPatientInfo::rsReadyToArchive) + "|" + '\0' +
                               '\0');

    // ...another loads it, changes it and stores it back...
    list.Load();
    EXPECT_EQ(Entries(list), "/rec/one.eeg|1|QM-1;/rec/two.eeg|3|;");
    list.Remove("/rec/one.eeg");
    list.Add("/rec/three.eeg", CPatientInfo::rsReadyToRead, "Q|3");
    list.Store();

    // ...and a third loads exactly that.
    accesstest::Child reader("STATION", [](accesstest::Child& self) {
        GetTheEegOpenFileList().Load();
        char text[256] = {};
        std::snprintf(text, sizeof text, "%s", Entries(GetTheEegOpenFileList()).c_str());
        return self.Send(text) ? 0 : 2;
    });
    char loaded[256] = {};
    ASSERT_TRUE(reader.Receive(loaded));
    EXPECT_EQ(loaded, std::string("/rec/two.eeg|3|;/rec/three.eeg|2|Q|3;"));
    EXPECT_EQ(reader.Wait(), 0);
}

TEST(EegOpenFileList, LoadsStringsWithNoneOneOrMoreBars) {
    ScopedRegistry reg;
    CEegOpenFileList& list = GetTheEegOpenFileList();
    // No bar: a name only; one bar: the rest is the status text, here none
    // (5, unknown); a second bar: everything after it is the Qm file id.
    reg.SetValue(std::string("plain") + '\0' + "one|Custom text" + '\0' + "two|" +
                 Text(CPatientInfo::rsReadyToRead) + "|Q|x" + '\0' + '\0');
    list.Load();
    EXPECT_EQ(Entries(list), "plain|5|;one|5|;two|2|Q|x;");
    EXPECT_EQ(list.GetFileName(3), "");
    EXPECT_EQ(list.GetFileStatus(-1), CPatientInfo::rsUnknown);

    // A value without its final NULs still ends: the last two bytes become NULs.
    reg.SetValue("abc|" + Text(CPatientInfo::rsReadyToRead) + "ZZ");
    list.Load();
    EXPECT_EQ(Entries(list), "abc|2|;");
    // Another type, or one byte, gives an empty list.
    reg.SetValue(std::string("x") + '\0' + '\0', REG_SZ);
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);
    reg.SetValue(std::string(1, '\0'));
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(EegOpenFileList, RemoveTakesTheFirstOfEqualNamesAndNoKeyStoresNothing) {
    ScopedRegistry reg(nullptr, nullptr);
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Add("/r/x.eeg", CPatientInfo::rsReadyToRead, "1");
    list.Add("/r/X.eeg", CPatientInfo::rsReadyToRead, "2");
    list.Add("/r/x.eeg", CPatientInfo::rsReadyToRead, "3");
    list.Remove("/r/x.eeg");
    list.Remove("/r/none.eeg");
    EXPECT_EQ(Entries(list), "/r/X.eeg|2|2;/r/x.eeg|2|3;");  // names compare case-sensitively

    // Without an application key nothing is written or read.
    list.Store();
    EXPECT_TRUE(std::filesystem::is_empty(reg.dir.path()));
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);
}
