// CFile over real files: data round trips, the Windows share modes, the
// read-only attribute, Remove against openers, and byte-range locks, within one
// process and between processes.
//
// Processes are made with fork(). A forked child shares every open file
// description of its parent, and OFD locks belong to the description: a file
// the parent has open when it forks is held by the child too. So each process
// opens its own files after the fork, and pipes (never sleeps) order the steps.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Platform/File.h"
#include "TestSupport.h"

namespace {
using testsupport::ExpectThrows;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// One direction of talk between two processes, a byte at a time.
class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe2(m_fd, O_CLOEXEC), 0); }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void Send(char c) { EXPECT_EQ(::write(m_fd[1], &c, 1), 1); }
    // 0 at end of file (the other side is gone).
    char Receive() {
        char c = 0;
        ssize_t n;
        do {
            n = ::read(m_fd[0], &c, 1);
        } while (n < 0 && errno == EINTR);
        return n == 1 ? c : 0;
    }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

private:
    void CloseEnd(int i) {
        if (m_fd[i] >= 0)
            ::close(m_fd[i]);
        m_fd[i] = -1;
    }
    int m_fd[2] = {-1, -1};
};

// Runs body in a child process, which exits with body's result (1 when it throws).
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 1;
        try {
            rc = body();
        } catch (CException* e) {
            e->Delete();
        }
        ::_exit(rc);
    }
    EXPECT_GT(pid, 0);
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
int Reap(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Opens f; returns CFileException::none or the cause of the failure.
int OpenCause(CFile& f, const std::string& path, UINT flags) {
    CFileException e;
    return f.Open(path.c_str(), flags, &e) ? CFileException::none : e.m_cause;
}

// Every access with every share mode.
std::vector<UINT> AllModes() {
    std::vector<UINT> modes;
    for (UINT access : {CFile::modeRead, CFile::modeWrite, CFile::modeReadWrite}) {
        for (UINT share : {CFile::shareCompat, CFile::shareExclusive, CFile::shareDenyWrite,
                           CFile::shareDenyRead, CFile::shareDenyNone}) {
            modes.push_back(access | share);
        }
    }
    return modes;
}

// Windows' rule, in the FILE_SHARE_READ / FILE_SHARE_WRITE terms the framework
// passes it: an open must share every access the other has, both ways.
bool Compatible(UINT held, UINT next) {
    auto reads = [](UINT m) { return (m & 3) != CFile::modeWrite; };
    auto writes = [](UINT m) { return (m & 3) != CFile::modeRead; };
    auto sharesRead = [](UINT m) {
        return (m & 0x70) == CFile::shareDenyWrite || (m & 0x70) == CFile::shareDenyNone;
    };
    auto sharesWrite = [](UINT m) {
        return (m & 0x70) == CFile::shareDenyRead || (m & 0x70) == CFile::shareDenyNone;
    };
    return (!reads(next) || sharesRead(held)) && (!writes(next) || sharesWrite(held)) &&
           (!reads(held) || sharesRead(next)) && (!writes(held) || sharesWrite(next));
}

// Tries every mode against a held open; returns the number of mismatches.
int CheckAgainstHolder(const std::string& path, UINT held) {
    int wrong = 0;
    for (UINT next : AllModes()) {
        CFile f;
        const int cause = OpenCause(f, path, next);
        const int expected =
            Compatible(held, next) ? CFileException::none : CFileException::sharingViolation;
        if (cause != expected) {
            ADD_FAILURE() << "held 0x" << std::hex << held << ", opened 0x" << next << ": cause "
                          << std::dec << cause << ", expected " << expected;
            ++wrong;
        }
    }
    return wrong;
}

struct stat StatOf(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}
}  // namespace

TEST(File, ReadWriteSeekRoundTrip) {
    TempDir dir;
    const std::string path = dir.File("data.bin");
    std::vector<unsigned char> bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<unsigned char>(i);

    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    f.Write(bytes.data(), 256);
    EXPECT_EQ(f.GetPosition(), 256u);
    f.SeekToBegin();
    std::vector<unsigned char> back(300, 0xEE);
    EXPECT_EQ(f.Read(back.data(), 300), 256u);  // fewer only at the end
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
    EXPECT_EQ(f.Read(back.data(), 1), 0u);

    EXPECT_EQ(f.Seek(-6, CFile::end), 250u);
    EXPECT_EQ(f.Read(back.data(), 10), 6u);
    EXPECT_EQ(back[0], 250);
    EXPECT_EQ(back[5], 255);

    // Offsets past 4 GiB (a sparse file).
    const uint64_t far = (uint64_t{1} << 32) + 5;
    EXPECT_EQ(f.Seek(static_cast<int64_t>(far), CFile::begin), far);
    const unsigned char mark = 0xAB;
    f.Write(&mark, 1);
    EXPECT_EQ(f.GetLength(), far + 1);
    EXPECT_EQ(f.Seek(-1, CFile::current), far);
    unsigned char got = 0;
    EXPECT_EQ(f.Read(&got, 1), 1u);
    EXPECT_EQ(got, 0xAB);

    f.SetLength(100);
    EXPECT_EQ(f.GetLength(), 100u);
    EXPECT_EQ(f.SeekToEnd(), 100u);
    f.Flush();

    ExpectThrows<CFileException>([&] { f.Seek(-1, CFile::begin); },
                                 [&](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::badSeek);
                                     EXPECT_EQ(e.m_lOsError, EINVAL);
                                     EXPECT_EQ(e.m_strFileName.str(), path);
                                 });
    ExpectThrows<CFileException>(
        [&] { f.Seek(0, 3); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::badSeek); });

    EXPECT_EQ(f.GetFileName().str(), "data.bin");
    EXPECT_EQ(f.GetFileTitle().str(), "data");
    EXPECT_EQ(f.GetFilePath().str(), path);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    f.Close();  // closing a closed file does nothing
    ExpectThrows<CFileException>(
        [&] { f.GetLength(); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::invalidFile); });

    std::vector<unsigned char> expected(bytes);
    expected.resize(100, 0);
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST(File, OpenModesAndFailures) {
    TempDir dir;
    const std::string path = dir.File("f.dat");
    const std::string missing = dir.File("missing.dat");

    CFile f;
    CFileException e;
    EXPECT_FALSE(f.Open(missing.c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e.m_lOsError, ENOENT);
    EXPECT_EQ(e.m_strFileName.str(), missing);
    EXPECT_FALSE(f.IsOpen());
    ExpectThrows<CFileException>([&] { CFile g(missing.c_str(), CFile::modeReadWrite); },
                                 [&](CFileException& x) {
                                     EXPECT_EQ(x.m_cause, CFileException::fileNotFound);
                                     EXPECT_EQ(x.m_lOsError, ENOENT);
                                     EXPECT_EQ(x.m_strFileName.str(), missing);
                                 });

    WriteBytes(path, {1, 2, 3});
    EXPECT_EQ(OpenCause(f, path + "/x", CFile::modeRead), CFileException::badPath);
    EXPECT_EQ(OpenCause(f, dir.path().string(), CFile::modeRead), CFileException::accessDenied);
    EXPECT_EQ(OpenCause(f, path, 3), CFileException::generic);  // no such access
    EXPECT_EQ(OpenCause(f, path, CFile::modeRead | 0x50), CFileException::generic);

    // modeNoTruncate keeps the contents, modeCreate alone empties the file.
    ASSERT_EQ(OpenCause(f, path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite),
              CFileException::none);
    EXPECT_EQ(f.GetLength(), 3u);
    // A write-only open refuses to read although its descriptor could.
    unsigned char b;
    ExpectThrows<CFileException>([&] { f.Read(&b, 1); },
                                 [](CFileException& x) {
                                     EXPECT_EQ(x.m_cause, CFileException::invalidFile);
                                     EXPECT_EQ(x.m_lOsError, EBADF);
                                 });
    f.Close();
    ASSERT_EQ(OpenCause(f, path, CFile::modeCreate | CFile::modeRead), CFileException::none);
    EXPECT_EQ(f.GetLength(), 0u);
    ExpectThrows<CFileException>(
        [&] { f.Write(&b, 1); },
        [](CFileException& x) { EXPECT_EQ(x.m_cause, CFileException::invalidFile); });
    f.Close();

    CFileStatus st;
    EXPECT_TRUE(CFile::GetStatus(path.c_str(), st));
    EXPECT_EQ(st.m_size, 0u);
    EXPECT_EQ(st.m_attribute, CFile::normal);
    EXPECT_GT(st.m_mtime, 0);
    EXPECT_TRUE(CFile::GetStatus(dir.path().c_str(), st));
    EXPECT_EQ(st.m_attribute & CFile::directory, CFile::directory);
    EXPECT_FALSE(CFile::GetStatus(missing.c_str(), st));
}

TEST(FileShareMode, EveryModeAgainstEveryHeldOpenInOneProcess) {
    TempDir dir;
    const std::string path = dir.File("shared.dat");
    WriteBytes(path, {7});
    for (UINT held : AllModes()) {
        CFile holder;
        ASSERT_EQ(OpenCause(holder, path, held), CFileException::none) << held;
        CheckAgainstHolder(path, held);
    }
    // No failed attempt left anything behind: the file can be had exclusively.
    CFile f;
    EXPECT_EQ(OpenCause(f, path, CFile::modeReadWrite | CFile::shareExclusive),
              CFileException::none);
}

TEST(FileShareMode, TheCasesThatMatter) {
    TempDir dir;
    const std::string path = dir.File("shared.dat");
    WriteBytes(path, {1, 2, 3, 4});
    CFile f;

    {  // Denying write keeps writers out, not readers.
        CFile holder(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
        EXPECT_EQ(OpenCause(f, path, CFile::modeWrite | CFile::shareDenyNone),
                  CFileException::sharingViolation);
        // Refused before truncating anything.
        EXPECT_EQ(OpenCause(f, path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone),
                  CFileException::sharingViolation);
        EXPECT_EQ(ReadBytes(path).size(), 4u);
        EXPECT_EQ(OpenCause(f, path, CFile::modeRead | CFile::shareDenyNone), CFileException::none);
        f.Close();
    }
    {  // Denying read keeps readers out.
        CFile holder(path.c_str(), CFile::modeWrite | CFile::shareDenyRead);
        EXPECT_EQ(OpenCause(f, path, CFile::modeRead | CFile::shareDenyNone),
                  CFileException::sharingViolation);
        EXPECT_EQ(OpenCause(f, path, CFile::modeWrite | CFile::shareDenyNone),
                  CFileException::none);
        f.Close();
    }
    {  // shareDenyNone lets everyone with shareDenyNone in, but a writer keeps a
       // new shareDenyWrite opener out, and the thrower is the constructor.
        CFile holder(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
        CFile a(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
        CFile b(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
        ExpectThrows<CFileException>(
            [&] { CFile c(path.c_str(), CFile::modeRead | CFile::shareDenyWrite); },
            [&](CFileException& e) {
                EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
                EXPECT_EQ(e.m_strFileName.str(), path);
            });
    }
    {  // Closing the holder lets the next open in.
        CFile holder(path.c_str(), CFile::modeRead | CFile::shareExclusive);
        EXPECT_EQ(OpenCause(f, path, CFile::modeRead | CFile::shareDenyNone),
                  CFileException::sharingViolation);
        holder.Close();
        EXPECT_EQ(OpenCause(f, path, CFile::modeRead | CFile::shareExclusive),
                  CFileException::none);
        f.Close();
    }
}

TEST(FileShareMode, EveryModeAgainstAnOpenOfAnotherProcess) {
    TempDir dir;
    const std::string path = dir.File("shared.dat");
    WriteBytes(path, {7});
    const std::vector<UINT> modes = AllModes();
    Pipe toParent, toChild;
    // The child holds each mode in turn while the parent tries every mode.
    const pid_t child = Spawn([&] {
        toChild.CloseWrite();
        toParent.CloseRead();
        for (UINT held : modes) {
            CFile holder;
            if (OpenCause(holder, path, held) != CFileException::none)
                return 2;
            toParent.Send('h');
            if (toChild.Receive() != 'n')
                return 3;
        }
        return 0;
    });
    toParent.CloseWrite();
    toChild.CloseRead();
    for (UINT held : modes) {
        ASSERT_EQ(toParent.Receive(), 'h') << "child failed to hold 0x" << std::hex << held;
        CheckAgainstHolder(path, held);
        toChild.Send('n');
    }
    EXPECT_EQ(Reap(child), 0);
    CFile f;
    EXPECT_EQ(OpenCause(f, path, CFile::modeReadWrite | CFile::shareExclusive),
              CFileException::none);
}

TEST(File, ReadOnlyAttributeRefusesWritingEvenToRoot) {
    // Tests run as root, whom the system lets write any file: CFile refuses by itself.
    TempDir dir;
    const std::string path = dir.File("ro.dat");
    WriteBytes(path, {'a', 'b', 'c'});
    CFile::SetReadOnly(path.c_str(), true);
    CFileStatus st;
    ASSERT_TRUE(CFile::GetStatus(path.c_str(), st));
    EXPECT_EQ(st.m_attribute, CFile::readOnly);
    EXPECT_EQ(StatOf(path).st_mode & 0222, 0u);

    CFile f;
    for (UINT mode :
         {UINT{CFile::modeWrite}, UINT{CFile::modeReadWrite}, CFile::modeCreate | CFile::modeWrite,
          CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite,
          CFile::modeCreate | CFile::modeRead}) {
        CFileException e;
        EXPECT_FALSE(f.Open(path.c_str(), mode | CFile::shareDenyNone, &e)) << mode;
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.m_lOsError, EACCES);
    }
    EXPECT_EQ(ReadBytes(path), (std::vector<unsigned char>{'a', 'b', 'c'}));
    // Windows does not delete a read-only file either.
    ExpectThrows<CFileException>([&] { CFile::Remove(path.c_str()); },
                                 [](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::accessDenied);
                                     EXPECT_EQ(e.m_lOsError, EACCES);
                                 });
    ASSERT_EQ(OpenCause(f, path, CFile::modeRead), CFileException::none);
    char buf[3];
    EXPECT_EQ(f.Read(buf, 3), 3u);
    f.Close();

    CFile::SetReadOnly(path.c_str(), false);
    ASSERT_TRUE(CFile::GetStatus(path.c_str(), st));
    EXPECT_EQ(st.m_attribute, CFile::normal);
    ASSERT_EQ(OpenCause(f, path, CFile::modeReadWrite), CFileException::none);
    f.Write("x", 1);
    f.Close();
    EXPECT_EQ(ReadBytes(path), (std::vector<unsigned char>{'x', 'b', 'c'}));

    ExpectThrows<CFileException>(
        [&] { CFile::SetReadOnly(dir.File("none").c_str(), true); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::fileNotFound); });
}

TEST(FileRemove, RefusedWhileAnotherOpenHoldsTheFile) {
    TempDir dir;
    const std::string path = dir.File("control.$co");
    WriteBytes(path, {1});
    {
        CFile holder(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
        ExpectThrows<CFileException>([&] { CFile::Remove(path.c_str()); },
                                     [&](CFileException& e) {
                                         EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
                                         EXPECT_EQ(e.m_strFileName.str(), path);
                                     });
        EXPECT_TRUE(Exists(path));
    }
    CFile::Remove(path.c_str());
    EXPECT_FALSE(Exists(path));
    ExpectThrows<CFileException>([&] { CFile::Remove(path.c_str()); },
                                 [](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
                                     EXPECT_EQ(e.m_lOsError, ENOENT);
                                 });
    ExpectThrows<CFileException>(
        [&] { CFile::Remove(dir.path().c_str()); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::accessDenied); });

    // Held by another process.
    WriteBytes(path, {1});
    Pipe toParent, toChild;
    const pid_t child = Spawn([&] {
        toChild.CloseWrite();
        toParent.CloseRead();
        CFile holder(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
        toParent.Send('o');
        if (toChild.Receive() != 'c')
            return 2;
        holder.Close();
        toParent.Send('c');
        return 0;
    });
    toParent.CloseWrite();
    toChild.CloseRead();
    ASSERT_EQ(toParent.Receive(), 'o');
    ExpectThrows<CFileException>(
        [&] { CFile::Remove(path.c_str()); },
        [](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::sharingViolation); });
    EXPECT_TRUE(Exists(path));
    toChild.Send('c');
    ASSERT_EQ(toParent.Receive(), 'c');
    CFile::Remove(path.c_str());
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(Reap(child), 0);
}

// A station opens the lock file while another deletes it. The opener must end
// with the file the path names (or with fileNotFound), never with a descriptor
// on the unlinked file, where its byte locks would exclude nobody.
TEST(FileRemove, OpenerRacingRemoveNeverKeepsAnUnlinkedFile) {
    constexpr int kRounds = 300;
    TempDir dir;
    const std::string path = dir.File("rec.$lo");
    for (const bool create : {false, true}) {
        SCOPED_TRACE(create ? "modeCreate" : "plain open");
        const UINT flags = CFile::modeReadWrite | CFile::shareDenyNone |
                           (create ? CFile::modeCreate | CFile::modeNoTruncate : 0);
        Pipe toParent, toChild;
        // Per round the child says 'r' as it starts to open, then reports 'o' (opened; then, told
        // to, '1' when its file is the one the path names, else '0'), 'n' (not found) or 'x'
        // (other).
        const pid_t child = Spawn([&] {
            toChild.CloseWrite();
            toParent.CloseRead();
            while (toChild.Receive() == 'g') {
                toParent.Send('r');
                CFile f;
                const int cause = OpenCause(f, path, flags);
                if (cause != CFileException::none) {
                    toParent.Send(cause == CFileException::fileNotFound ? 'n' : 'x');
                    continue;
                }
                toParent.Send('o');
                if (toChild.Receive() != 'c')
                    return 2;
                struct stat byFd, byPath;
                const bool same = ::fstat(f.m_hFile, &byFd) == 0 &&
                                  ::stat(path.c_str(), &byPath) == 0 &&
                                  byFd.st_ino == byPath.st_ino && byFd.st_dev == byPath.st_dev;
                toParent.Send(same ? '1' : '0');
            }
            return 0;
        });
        toParent.CloseWrite();
        toChild.CloseRead();
        int removed = 0, opened = 0;
        for (int round = 0; round < kRounds; ++round) {
            if (!Exists(path))
                WriteBytes(path, {1});
            toChild.Send('g');
            // Even rounds remove at once, mostly before the child opens; odd rounds
            // wait until the child is about to open and then skew the start by a
            // varying stretch of work, to land inside its open.
            if (round % 2) {
                ASSERT_EQ(toParent.Receive(), 'r');
                volatile int spin = 0;
                while (spin < (round % 64) * 200)
                    spin = spin + 1;
            }
            bool removedNow = true;
            try {
                CFile::Remove(path.c_str());
            } catch (CException* e) {
                auto* fe = dynamic_cast<CFileException*>(e);
                removedNow = false;
                EXPECT_TRUE(fe && fe->m_cause == CFileException::sharingViolation);
                e->Delete();
            }
            removed += removedNow;
            if (round % 2 == 0) {
                ASSERT_EQ(toParent.Receive(), 'r');
            }
            const char result = toParent.Receive();
            ASSERT_TRUE(result == 'o' || result == 'n') << "round " << round << ": " << result;
            if (result == 'n') {
                EXPECT_FALSE(create);
                EXPECT_TRUE(removedNow);
                continue;
            }
            ++opened;
            // A plain open that succeeded held the file, so the Remove failed.
            if (!create) {
                EXPECT_FALSE(removedNow) << "round " << round;
            }
            toChild.Send('c');
            ASSERT_EQ(toParent.Receive(), '1') << "round " << round;
        }
        toChild.CloseWrite();
        EXPECT_EQ(Reap(child), 0);
        // Which way the rounds went varies from run to run; each was checked above.
        std::printf("%s: %d removed, %d opened\n", create ? "create" : "open", removed, opened);
    }
}

TEST(FileLock, RangesExcludeOtherOpensOfOneProcess) {
    TempDir dir;
    const std::string path = dir.File("rec.$lo");
    const UINT flags =
        CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareDenyNone;
    CFile a(path.c_str(), flags), b(path.c_str(), flags);
    a.LockRange(10, 5);
    EXPECT_FALSE(b.TryLockRange(12, 1));
    EXPECT_FALSE(b.TryLockRange(0, 11));
    ExpectThrows<CFileException>([&] { b.LockRange(14, 1); },
                                 [&](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::lockViolation);
                                     EXPECT_EQ(e.m_lOsError, EAGAIN);
                                     EXPECT_EQ(e.m_strFileName.str(), path);
                                 });
    EXPECT_TRUE(b.TryLockRange(15, 1));
    EXPECT_TRUE(b.TryLockRange(9, 1));
    EXPECT_FALSE(a.TryLockRange(15, 1));
    a.UnlockRange(10, 5);
    EXPECT_TRUE(b.TryLockRange(12, 1));
    EXPECT_FALSE(a.TryLockRange(12, 1));
    b.Close();  // closing drops b's locks
    EXPECT_TRUE(a.TryLockRange(9, 7));

    // The locks leave the share mode alone.
    CFile c;
    EXPECT_EQ(OpenCause(c, path, CFile::modeReadWrite | CFile::shareDenyNone),
              CFileException::none);
    // Zero lengths (to infinity in POSIX) and ranges into the share bytes are refused.
    for (auto [pos, count] :
         {std::pair<uint64_t, uint64_t>{0, 0}, {uint64_t{1} << 62, 1}, {1, uint64_t{1} << 62}}) {
        ExpectThrows<CFileException>([&] { a.TryLockRange(pos, count); },
                                     [](CFileException& e) {
                                         EXPECT_EQ(e.m_cause, CFileException::generic);
                                         EXPECT_EQ(e.m_lOsError, EINVAL);
                                     });
    }
}

TEST(FileLock, RangesExcludeOtherProcessesUntilCloseOrDeath) {
    TempDir dir;
    const std::string path = dir.File("rec.$lo");
    const UINT flags =
        CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareDenyNone;
    Pipe toParent, toChild;
    // Locks byte 1 and gives it up by closing; then locks byte 3 and waits to be killed.
    const pid_t child = Spawn([&] {
        toChild.CloseWrite();
        toParent.CloseRead();
        {
            CFile f(path.c_str(), flags);
            f.LockRange(1, 1);
            toParent.Send('l');
            if (toChild.Receive() != 'c')
                return 2;
        }
        toParent.Send('c');
        CFile f(path.c_str(), flags);
        f.LockRange(3, 1);
        toParent.Send('l');
        toChild.Receive();
        return 3;
    });
    toParent.CloseWrite();
    toChild.CloseRead();
    ASSERT_EQ(toParent.Receive(), 'l');
    CFile mine(path.c_str(), flags);
    EXPECT_FALSE(mine.TryLockRange(1, 1));
    EXPECT_TRUE(mine.TryLockRange(2, 1));
    toChild.Send('c');
    ASSERT_EQ(toParent.Receive(), 'c');
    EXPECT_TRUE(mine.TryLockRange(1, 1));
    ASSERT_EQ(toParent.Receive(), 'l');
    EXPECT_FALSE(mine.TryLockRange(3, 1));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    EXPECT_EQ(Reap(child), -1);
    EXPECT_TRUE(mine.TryLockRange(3, 1));
}
