// Helpers shared by the test programs: a temporary folder per test, file bytes,
// catching the library's heap exceptions, environment variables, and child
// processes that talk to the test through pipes.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Archive.h"
#include "Platform/Exception.h"
#include "Platform/File.h"

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

// What f stores through an archive (of bufSize bytes) over a fresh file.
template <class F>
std::vector<unsigned char> StoreBytes(const TempDir& dir, F&& f, int bufSize = 4096) {
    const std::string path = dir.File("stored.bin");
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    CArchive ar(&file, CArchive::store, bufSize);
    f(ar);
    ar.Close();
    file.Close();
    return ReadBytes(path);
}

// Runs f over a loading archive (of bufSize bytes) of a file holding bytes.
template <class F>
void LoadBytes(const TempDir& dir, const std::vector<unsigned char>& bytes, F&& f,
               int bufSize = 4096) {
    const std::string path = dir.File("load.bin");
    WriteBytes(path, bytes);
    CFile file(path.c_str(), CFile::modeRead);
    CArchive ar(&file, CArchive::load, bufSize);
    f(ar);
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

// An OS error ExpectFileError does not look at.
constexpr int kAnyOsError = -1000;

// f throws a CFileException with cause and, when given, the OS error and path.
inline void ExpectFileError(const std::function<void()>& f, int cause, int error = kAnyOsError,
                            const std::string& path = "") {
    ExpectThrows<CFileException>(f, [&](CFileException& e) {
        EXPECT_EQ(e.m_cause, cause);
        EXPECT_TRUE(error == kAnyOsError || e.m_lOsError == error) << e.m_lOsError;
        EXPECT_TRUE(path.empty() || e.m_strFileName.str() == path) << e.m_strFileName.str();
    });
}

// f throws a CArchiveException with cause and, when given, the file name.
inline void ExpectArchiveError(const std::function<void()>& f, int cause,
                               const std::string& path = "") {
    ExpectThrows<CArchiveException>(f, [&](CArchiveException& e) {
        EXPECT_EQ(e.m_cause, cause);
        EXPECT_TRUE(path.empty() || e.m_strFileName.str() == path) << e.m_strFileName.str();
    });
}

// Sets (value given) or clears an environment variable for one scope, then puts
// the old value back; TZ changes take effect at once.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
        ::tzset();
    }
    ~ScopedEnv() {
        m_old ? ::setenv(m_name.c_str(), m_old->c_str(), 1) : ::unsetenv(m_name.c_str());
        ::tzset();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Switches the C library's locale and puts back "C" and LOCPATH at the end.
class LocaleSwitch {
public:
    LocaleSwitch() : m_oldLocPath(std::getenv("LOCPATH") ? std::getenv("LOCPATH") : "") {}
    ~LocaleSwitch() {
        std::setlocale(LC_ALL, "C");
        m_oldLocPath.empty() ? ::unsetenv("LOCPATH") : ::setenv("LOCPATH", m_oldLocPath.c_str(), 1);
    }

    // Makes an installed locale of one of the names current, or else compiles the
    // source locale (for example "de_DE") into the test's folder and uses it.
    bool Use(std::initializer_list<const char*> installed, const std::string& source) {
        for (const char* name : installed) {
            if (std::setlocale(LC_ALL, name))
                return true;
        }
        // localedef warns (and exits non-zero) over harmless things: setlocale decides.
        const std::string name = source + ".UTF-8";
        const std::string command =
            "localedef -c -i " + source + " -f UTF-8 " + m_dir.File(name) + " >/dev/null 2>&1";
        if (std::system(command.c_str()) == -1)
            return false;
        ::setenv("LOCPATH", m_dir.path().c_str(), 1);
        return std::setlocale(LC_ALL, name.c_str()) != nullptr;
    }

private:
    TempDir m_dir;
    std::string m_oldLocPath;
};

// One direction of talk between two processes, in fixed-size records.
class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe2(m_fd, O_CLOEXEC), 0); }
    ~Pipe() { Close(); }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    template <class T>
    void Send(const T& value) {
        Transfer(1, const_cast<T*>(&value), sizeof value);
    }
    // False when the other side is gone.
    template <class T>
    bool Receive(T& value) {
        return Transfer(0, &value, sizeof value);
    }
    // A one-byte record; 0 once the other side is gone.
    char Get() {
        char c = 0;
        return Receive(c) ? c : 0;
    }
    // Closes the ends given (0 read, 1 write), by default both.
    void Close(std::initializer_list<int> ends = {0, 1}) {
        for (int i : ends) {
            if (m_fd[i] >= 0)
                ::close(m_fd[i]);
            m_fd[i] = -1;
        }
    }

private:
    bool Transfer(int end, void* data, size_t size) {
        auto* p = static_cast<char*>(data);
        for (size_t done = 0; done < size;) {
            const ssize_t n = end ? ::write(m_fd[1], p + done, size - done)
                                  : ::read(m_fd[0], p + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    int m_fd[2] = {-1, -1};
};

// Keeps only the pipe ends a process uses, so that a peer's end reads as end of
// file instead of a wait without end.
inline void KeepEnds(std::initializer_list<Pipe*> sending, std::initializer_list<Pipe*> receiving) {
    for (Pipe* p : sending)
        p->Close({0});
    for (Pipe* p : receiving)
        p->Close({1});
}

// Runs body in a child process, which exits with body's result (90 when it
// throws a library exception, whose message goes to stderr).
inline pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 91;
        try {
            rc = body();
        } catch (CException* e) {
            std::fprintf(stderr, "child: %s\n", e->GetErrorText().GetString());
            e->Delete();
            rc = 90;
        }
        ::_exit(rc);
    }
    EXPECT_GT(pid, 0);
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
inline int Reap(pid_t pid) {
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return got == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
