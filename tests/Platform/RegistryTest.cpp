#include "Platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(Registry, KeysAreFoldersAndValuesKeepTypeAndBytes) {
    TempDir dir;
    testsupport::ScopedEnv root("EEGFILE_REGISTRY_ROOT", (dir.path() / "root").c_str());
    CRegistryKey key;
    EXPECT_FALSE(key.Open("Software\\A/B\\..", false));  // missing and not created
    ASSERT_TRUE(key.Open("Software\\A/B\\..", true));
    // "/" and a leading "." cannot name folders: they are escaped.
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "root/Software/A%2FB/%2E."));

    const BYTE bytes[] = {0, 1, 2, 0xFF};
    ASSERT_TRUE(key.SetValue("Value/1", REG_BINARY, bytes, sizeof bytes));
    DWORD type = 0;
    std::vector<BYTE> back;
    CRegistryKey again;
    ASSERT_TRUE(again.Open("Software\\A/B\\..", false));
    ASSERT_TRUE(again.QueryValue("Value/1", type, back));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(back, std::vector<BYTE>(bytes, bytes + 4));
    EXPECT_FALSE(again.QueryValue("missing", type, back));

    // A damaged value file (shorter than its type word) reads as no value.
    WriteBytes((dir.path() / "root/Software/A%2FB/%2E./broken.value").string(), {7, 0});
    EXPECT_FALSE(again.QueryValue("broken", type, back));
    EXPECT_TRUE(again.DeleteValue("Value/1"));
    EXPECT_FALSE(again.QueryValue("Value/1", type, back));
}

TEST(Registry, ApplicationPathNeedsAKeyOrProfile) {
    CString path;
    SetAppRegistryKey(nullptr, nullptr);
    EXPECT_FALSE(GetAppRegistryPath(path));
    SetAppRegistryKey("Clinic", "Review");
    ASSERT_TRUE(GetAppRegistryPath(path));
    EXPECT_EQ(path, "Software\\Clinic\\Review");
    SetAppRegistryKey("", "Review");
    ASSERT_TRUE(GetAppRegistryPath(path));
    EXPECT_EQ(path, "Software\\Review");
    SetAppRegistryKey(nullptr, nullptr);
}
