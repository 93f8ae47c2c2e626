// Helpers shared by the test programs: a temporary folder per test, file bytes,
// and catching the library's heap exceptions.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Platform/Exception.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "eegfile-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (!made)
            throw std::runtime_error("mkdtemp failed");
        m_path = made;
    }
    ~TempDir() {
        std::error_code ec;
        // Read-only files must be removable by non-root runs too.
        for (auto& e : std::filesystem::recursive_directory_iterator(m_path, ec)) {
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Runs f, expecting it to throw a heap exception of type E; returns a copy of the
// fields the test needs through check, and frees the exception.
template <class E, class F, class Check>
void ExpectThrows(F&& f, Check&& check) {
    try {
        f();
        ADD_FAILURE() << "expected an exception";
    } catch (CException* e) {
        E* typed = dynamic_cast<E*>(e);
        EXPECT_NE(typed, nullptr) << "wrong exception type: " << e->GetErrorText().GetString();
        if (typed)
            check(*typed);
        e->Delete();
    }
}

}  // namespace testsupport
