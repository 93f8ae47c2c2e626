#include "EegFile/access/EegOpenFileList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "AccessTestSupport.h"
#include "Platform/Registry.h"
#include "TestSupport.h"

using testsupport::TempDir;

namespace {
// Points the registry at a fresh folder and sets the host's key for one test.
struct ScopedRegistry {
    TempDir dir;
    explicit ScopedRegistry(const char* appKey = "Clinic", const char* profile = "Review") {
        setenv("EEGFILE_REGISTRY_ROOT", dir.path().c_str(), 1);
        SetAppRegistryKey(appKey, profile);
    }
    ~ScopedRegistry() {
        SetAppRegistryKey(nullptr, nullptr);
        unsetenv("EEGFILE_REGISTRY_ROOT");
    }
    std::string Value() {
        CRegistryKey key;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (!key.Open("Software\\Clinic\\Review\\EegOpenFileList", false) ||
            !key.QueryValue("EegOpenFileList", type, data) || type != REG_MULTI_SZ) {
            return "<none>";
        }
        return std::string(data.begin(), data.end());
    }
    void SetValue(const std::string& bytes, DWORD type = REG_MULTI_SZ) {
        CRegistryKey key;
        ASSERT_TRUE(key.Open("Software\\Clinic\\Review\\EegOpenFileList", true));
        ASSERT_TRUE(key.SetValue("EegOpenFileList", type, bytes.data(), bytes.size()));
    }
};
const CString kReadyToRead = CPatientInfo::Format(CPatientInfo::rsReadyToRead);
}  // namespace

TEST(EegOpenFileList, StoresTheExactMultiString) {
    ScopedRegistry reg;
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.RemoveAll();
    list.Store();
    EXPECT_EQ(reg.Value(), std::string(1, '\0'));  // an empty list is one NUL byte

    list.Add("/data/a.eeg", CPatientInfo::rsReadyToRead, "QM7");
    list.Add("", CPatientInfo::rsRecording, "ignored");
    list.Add("/data/b.eeg", CPatientInfo::rsRecording, "");
    list.Store();
    const std::string expected =
        "/data/a.eeg|" + kReadyToRead.str() + "|QM7" + '\0' + "/data/b.eeg|" +
        CPatientInfo::Format(CPatientInfo::rsRecording).str() + "|" + '\0' + '\0';
    EXPECT_EQ(reg.Value(), expected);

    list.Load();
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetFileName(0), "/data/a.eeg");
    EXPECT_EQ(list.GetFileStatus(0), CPatientInfo::rsReadyToRead);
    EXPECT_EQ(list.GetQmFileId(0), "QM7");
    EXPECT_EQ(list.GetFileStatus(1), CPatientInfo::rsRecording);
    list.RemoveAll();
}

TEST(EegOpenFileList, LoadsStringsWithNoneOneOrMoreBars) {
    ScopedRegistry reg;
    reg.SetValue(std::string("plain") + '\0' + "one|Custom text" + '\0' + "two|" +
                 kReadyToRead.str() + "|Q|x" + '\0' + '\0');
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Load();
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetFileName(0), "plain");
    EXPECT_EQ(list.GetFileStatus(0), CPatientInfo::rsUnknown);
    EXPECT_EQ(list.GetQmFileId(0), "");
    EXPECT_EQ(list.GetFileName(1), "one");
    EXPECT_EQ(list.GetFileStatus(1), CPatientInfo::rsUnknown);  // not a status text
    EXPECT_EQ(list.GetFileName(2), "two");
    EXPECT_EQ(list.GetFileStatus(2), CPatientInfo::rsReadyToRead);
    EXPECT_EQ(list.GetQmFileId(2), "Q|x");  // everything after the second bar
    EXPECT_EQ(list.GetFileName(-1), "");
    EXPECT_EQ(list.GetFileName(3), "");
    EXPECT_EQ(list.GetFileStatus(3), CPatientInfo::rsUnknown);

    // A value without its final NUL still ends: the last two bytes are forced to NUL.
    reg.SetValue("abc|" + kReadyToRead.str() + "Z");
    list.Load();
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetFileName(0), "abc");
    // Another type, or one byte, gives an empty list.
    reg.SetValue(std::string("x") + '\0' + '\0', REG_SZ);
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);
    reg.SetValue(std::string(1, '\0'));
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(EegOpenFileList, RemoveTakesTheFirstOfEqualNames) {
    ScopedRegistry reg;
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.RemoveAll();
    list.Add("/r/x.eeg", CPatientInfo::rsReadyToRead, "1");
    list.Add("/r/X.eeg", CPatientInfo::rsReadyToRead, "2");
    list.Add("/r/x.eeg", CPatientInfo::rsReadyToRead, "3");
    list.Remove("/r/x.eeg");
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetQmFileId(0), "2");  // names compare case-sensitively
    EXPECT_EQ(list.GetQmFileId(1), "3");
    list.Remove("/r/none.eeg");
    EXPECT_EQ(list.GetCount(), 2);
    list.RemoveAll();
}

TEST(EegOpenFileList, WithoutAnApplicationKeyNothingIsReadOrWritten) {
    ScopedRegistry reg(nullptr, nullptr);
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.RemoveAll();
    list.Add("/r/x.eeg", CPatientInfo::rsReadyToRead, "");
    list.Store();
    EXPECT_TRUE(std::filesystem::is_empty(reg.dir.path()));
    list.Load();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(EegOpenFileList, RoundTripsThroughTheStoreBetweenProcesses) {
    ScopedRegistry reg;
    // One program of the station stores its list...
    accesstest::Child writer("STATION", [](accesstest::Child&) {
        CEegOpenFileList& list = GetTheEegOpenFileList();
        list.RemoveAll();
        list.Add("/rec/one.eeg", CPatientInfo::rsRecording, "QM-1");
        list.Add("/rec/two.eeg", CPatientInfo::rsReadyToArchive, "");
        list.Store();
        return 0;
    });
    ASSERT_EQ(writer.Wait(), 0);
    const std::string stored =
        "/rec/one.eeg|" + CPatientInfo::Format(CPatientInfo::rsRecording).str() + "|QM-1" + '\0' +
        "/rec/two.eeg|" + CPatientInfo::Format(CPatientInfo::rsReadyToArchive).str() + "|" + '\0' +
        '\0';
    EXPECT_EQ(reg.Value(), stored);

    // ...another loads it, changes it and stores it back...
    CEegOpenFileList& list = GetTheEegOpenFileList();
    list.Load();
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetFileName(0), "/rec/one.eeg");
    EXPECT_EQ(list.GetFileStatus(0), CPatientInfo::rsRecording);
    EXPECT_EQ(list.GetQmFileId(0), "QM-1");
    EXPECT_EQ(list.GetFileStatus(1), CPatientInfo::rsReadyToArchive);
    list.Remove("/rec/one.eeg");
    list.Add("/rec/three.eeg", CPatientInfo::rsReadyToRead, "Q|3");
    list.Store();

    // ...and a third sees exactly that.
    accesstest::Child reader("STATION", [](accesstest::Child&) {
        CEegOpenFileList& mine = GetTheEegOpenFileList();
        mine.Load();
        if (mine.GetCount() != 2)
            return 2;
        if (mine.GetFileName(0) != "/rec/two.eeg" || mine.GetQmFileId(0) != "")
            return 3;
        if (mine.GetFileName(1) != "/rec/three.eeg" ||
            mine.GetFileStatus(1) != CPatientInfo::rsReadyToRead || mine.GetQmFileId(1) != "Q|3")
            return 4;
        return 0;
    });
    EXPECT_EQ(reader.Wait(), 0);
    list.RemoveAll();
}
