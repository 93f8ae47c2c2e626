// CFile over real files: data, share modes, the read-only attribute, Remove against
// openers, and byte-range locks, within one process and between processes. A forked
// child shares its parent's open file descriptions, and with them their OFD locks, so
// each process opens its own files after the fork; pipes (never sleeps) order the steps.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "Platform/FaultInjection.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace {
using testsupport::ExpectFileError;
using testsupport::kAnyOsError;
using testsupport::ReadBytes;
using testsupport::Reap;
using testsupport::TempDir;
using testsupport::WriteBytes;

constexpr UINT kShared =
    CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareDenyNone;

// The two pipes between a parent and one child: child to parent, parent to child.
struct Talk {
    testsupport::Pipe up, down;
};

// Runs body in a child; each side keeps only the pipe ends it uses, so that it
// sees the other go.
pid_t Spawn(Talk& talk, const std::function<int()>& body) {
    const pid_t pid = testsupport::Spawn([&] {
        testsupport::KeepEnds({&talk.up}, {&talk.down});
        return body();
    });
    testsupport::KeepEnds({&talk.down}, {&talk.up});
    return pid;
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
    auto shares = [](UINT m, UINT deny) {
        return (m & 0x70) == CFile::shareDenyNone || (m & 0x70) == deny;
    };
    auto allows = [&](UINT a, UINT b) {  // a shares every access b has
        return ((b & 3) == CFile::modeWrite || shares(a, CFile::shareDenyWrite)) &&
               ((b & 3) == CFile::modeRead || shares(a, CFile::shareDenyRead));
    };
    return allows(held, next) && allows(next, held);
}

// Tries every mode against a held open.
void CheckAgainstHolder(const std::string& path, UINT held) {
    for (UINT next : AllModes()) {
        CFile f;
        EXPECT_EQ(OpenCause(f, path, next),
                  Compatible(held, next) ? CFileException::none : CFileException::sharingViolation)
            << "held 0x" << std::hex << held << ", opened 0x" << next;
    }
}

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}
}  // namespace

TEST(File, ReadWriteSeekOpenAndTheirFailures) {
    TempDir dir;
    const std::string path = dir.File("data.bin"), missing = dir.File("missing.dat");
    std::vector<unsigned char> bytes(256), back(300, 0xEE);
    std::iota(bytes.begin(), bytes.end(), 0);
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    f.Write(bytes.data(), 256);
    f.SeekToBegin();
    EXPECT_EQ(f.Read(back.data(), 300), 256u);  // fewer only at the end
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
    EXPECT_EQ(f.Read(back.data(), 1), 0u);
    EXPECT_EQ(f.Seek(-6, CFile::end), 250u);
    EXPECT_EQ(f.Read(back.data(), 10), 6u);
    EXPECT_EQ(back[0], 250);
    const uint64_t far = (uint64_t{1} << 32) + 5;  // past 4 GiB (a sparse file)
    EXPECT_EQ(f.Seek(static_cast<int64_t>(far), CFile::begin), far);
    f.Write("\xAB", 1);
    EXPECT_EQ(f.GetLength(), far + 1);
    EXPECT_EQ(f.Seek(-1, CFile::current), far);
    EXPECT_EQ(f.Read(back.data(), 1), 1u);
    EXPECT_EQ(back[0], 0xAB);
    // Positional reads and writes leave the file position where it was.
    EXPECT_EQ(f.Seek(7, CFile::begin), 7u);
    f.WriteAt(far - 1, "\xCD", 1);
    EXPECT_EQ(f.ReadAt(far - 1, back.data(), 4), 2u);  // fewer only at the end
    EXPECT_EQ(back[0], 0xCD);
    EXPECT_EQ(back[1], 0xAB);
    EXPECT_EQ(f.GetPosition(), 7u);
    EXPECT_EQ(f.Read(back.data(), 1), 1u);
    EXPECT_EQ(back[0], 7);
    f.SetLength(100);
    EXPECT_EQ(f.SeekToEnd(), 100u);
    f.Flush();
    ExpectFileError([&] { f.Seek(-1, CFile::begin); }, CFileException::badSeek, EINVAL, path);
    ExpectFileError([&] { f.Seek(0, 3); }, CFileException::badSeek);
    f.Close();
    f.Close();  // closing a closed file does nothing
    ExpectFileError([&] { f.GetLength(); }, CFileException::invalidFile);
    bytes.resize(100);
    EXPECT_EQ(ReadBytes(path), bytes);

    ExpectFileError([&] { CFile g(missing.c_str(), CFile::modeReadWrite); },
                    CFileException::fileNotFound, ENOENT, missing);
    EXPECT_EQ(OpenCause(f, missing, CFile::modeRead), CFileException::fileNotFound);
    EXPECT_EQ(OpenCause(f, path + "/x", CFile::modeRead), CFileException::badPath);
    EXPECT_EQ(OpenCause(f, dir.path().string(), CFile::modeRead), CFileException::accessDenied);
    EXPECT_EQ(OpenCause(f, path, 3), CFileException::generic);  // no such access
    EXPECT_EQ(OpenCause(f, path, CFile::modeRead | 0x50), CFileException::generic);
    // modeNoTruncate keeps the contents, modeCreate alone empties the file.
    ASSERT_EQ(OpenCause(f, path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite),
              CFileException::none);
    EXPECT_EQ(f.GetLength(), 100u);
    // A write-only open refuses to read although its descriptor could.
    ExpectFileError([&] { f.Read(back.data(), 1); }, CFileException::invalidFile, EBADF);
    f.Close();
    ASSERT_EQ(OpenCause(f, path, CFile::modeCreate | CFile::modeRead), CFileException::none);
    EXPECT_EQ(f.GetLength(), 0u);
    ExpectFileError([&] { f.Write("x", 1); }, CFileException::invalidFile);
    f.Close();

    CFileStatus st;
    EXPECT_TRUE(CFile::GetStatus(dir.path().c_str(), st));
    EXPECT_EQ(st.m_attribute & CFile::directory, CFile::directory);
    EXPECT_FALSE(CFile::GetStatus(missing.c_str(), st));
}

TEST(FileShareMode, EveryModeAgainstEveryHeldOpenInOneProcess) {
    TempDir dir;
    const std::string path = dir.File("shared.dat");
    WriteBytes(path, {1, 2, 3, 4});
    for (UINT held : AllModes()) {
        CFile holder;
        ASSERT_EQ(OpenCause(holder, path, held), CFileException::none) << held;
        CheckAgainstHolder(path, held);
    }
    // A refused open truncates nothing; the constructor throws the refusal.
    CFile holder(path.c_str(), CFile::modeRead | CFile::shareDenyWrite), f;
    EXPECT_EQ(OpenCause(f, path, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone),
              CFileException::sharingViolation);
    EXPECT_EQ(ReadBytes(path).size(), 4u);
    ExpectFileError([&] { CFile g(path.c_str(), CFile::modeWrite | CFile::shareDenyNone); },
                    CFileException::sharingViolation, kAnyOsError, path);
    // Closing the holder lets the next open in; no failed attempt left anything behind.
    holder.Close();
    EXPECT_EQ(OpenCause(f, path, CFile::modeReadWrite | CFile::shareExclusive),
              CFileException::none);
}

TEST(FileShareMode, EveryModeAgainstAnOpenOfAnotherProcess) {
    TempDir dir;
    const std::string path = dir.File("shared.dat");
    WriteBytes(path, {7});
    Talk talk;
    // The child holds each mode in turn while the parent tries every mode.
    const pid_t child = Spawn(talk, [&] {
        for (UINT held : AllModes()) {
            CFile holder;
            if (OpenCause(holder, path, held) != CFileException::none)
                return 2;
            talk.up.Send('h');
            if (talk.down.Get() != 'n')
                return 3;
        }
        return 0;
    });
    for (UINT held : AllModes()) {
        ASSERT_EQ(talk.up.Get(), 'h') << "child failed to hold 0x" << std::hex << held;
        CheckAgainstHolder(path, held);
        talk.down.Send('n');
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
    struct stat sb;
    ASSERT_EQ(::stat(path.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0222, 0u);

    CFile f;
    for (UINT mode :
         {UINT{CFile::modeWrite}, UINT{CFile::modeReadWrite}, CFile::modeCreate | CFile::modeWrite,
          CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite,
          CFile::modeCreate | CFile::modeRead}) {
        EXPECT_EQ(OpenCause(f, path, mode | CFile::shareDenyNone), CFileException::accessDenied);
    }
    // Windows does not delete a read-only file either.
    ExpectFileError([&] { CFile::Remove(path.c_str()); }, CFileException::accessDenied, EACCES);
    EXPECT_EQ(ReadBytes(path), (std::vector<unsigned char>{'a', 'b', 'c'}));
    ASSERT_EQ(OpenCause(f, path, CFile::modeRead), CFileException::none);
    f.Close();

    CFile::SetReadOnly(path.c_str(), false);
    ASSERT_TRUE(CFile::GetStatus(path.c_str(), st));
    EXPECT_EQ(st.m_attribute, CFile::normal);
    ASSERT_EQ(OpenCause(f, path, CFile::modeReadWrite), CFileException::none);
    f.Write("x", 1);
    f.Close();
    EXPECT_EQ(ReadBytes(path), (std::vector<unsigned char>{'x', 'b', 'c'}));
    ExpectFileError([&] { CFile::SetReadOnly(dir.File("none").c_str(), true); },
                    CFileException::fileNotFound);
}

TEST(FileRemove, RefusedWhileAnotherOpenHoldsTheFile) {
    TempDir dir;
    const std::string path = dir.File("control.$co");
    WriteBytes(path, {1});
    {
        CFile holder(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
        ExpectFileError([&] { CFile::Remove(path.c_str()); }, CFileException::sharingViolation,
                        kAnyOsError, path);
        EXPECT_TRUE(Exists(path));
    }
    CFile::Remove(path.c_str());
    EXPECT_FALSE(Exists(path));
    ExpectFileError([&] { CFile::Remove(path.c_str()); }, CFileException::fileNotFound, ENOENT);
    ExpectFileError([&] { CFile::Remove(dir.path().c_str()); }, CFileException::accessDenied);
}

// A station opens the lock file while another deletes it. The opener must end
// with the file the path names (or with fileNotFound), never with a descriptor
// on the unlinked file, where its byte locks would exclude nobody.
TEST(FileRemove, OpenerRacingRemoveNeverKeepsAnUnlinkedFile) {
    constexpr int kRounds = 100;
    TempDir dir;
    const std::string path = dir.File("rec.$lo");
    for (const bool create : {false, true}) {
        SCOPED_TRACE(create ? "modeCreate" : "plain open");
        const UINT flags = create ? kShared : CFile::modeReadWrite | CFile::shareDenyNone;
        Talk talk;
        // Per round the child says 'r' as it starts to open, then reports 'o' (opened; then, told
        // to, '1' when its file is the one the path names, else '0'), 'n' (not found) or 'x'.
        const pid_t child = Spawn(talk, [&] {
            while (talk.down.Get() == 'g') {
                talk.up.Send('r');
                CFile f;
                const int cause = OpenCause(f, path, flags);
                talk.up.Send(cause == CFileException::none           ? 'o'
                             : cause == CFileException::fileNotFound ? 'n'
                                                                     : 'x');
                if (cause != CFileException::none)
                    continue;
                if (talk.down.Get() != 'c')
                    return 2;
                struct stat byFd, byPath;
                talk.up.Send(::fstat(f.m_hFile, &byFd) == 0 && ::stat(path.c_str(), &byPath) == 0 &&
                                     byFd.st_ino == byPath.st_ino && byFd.st_dev == byPath.st_dev
                                 ? '1'
                                 : '0');
            }
            return 0;
        });
        for (int round = 0; round < kRounds; ++round) {
            if (!Exists(path))
                WriteBytes(path, {1});
            talk.down.Send('g');
            // Even rounds remove at once, mostly before the child opens; odd rounds
            // wait until the child is about to open and then skew the start by a
            // varying stretch of work, to land inside its open.
            if (round % 2) {
                ASSERT_EQ(talk.up.Get(), 'r');
                volatile int spin = 0;
                while (spin < (round % 64) * 200)
                    spin = spin + 1;
            }
            bool removed = true;
            try {
                CFile::Remove(path.c_str());
            } catch (CException* e) {
                auto* fe = dynamic_cast<CFileException*>(e);
                removed = false;
                EXPECT_TRUE(fe && fe->m_cause == CFileException::sharingViolation);
                e->Delete();
            }
            if (round % 2 == 0) {
                ASSERT_EQ(talk.up.Get(), 'r');
            }
            const char result = talk.up.Get();
            ASSERT_TRUE(result == 'o' || result == 'n') << "round " << round << ": " << result;
            // Not found only without modeCreate, after a Remove that went through; a plain
            // open that succeeded held the file, so the Remove failed.
            EXPECT_TRUE(result == 'n' ? !create && removed : create || !removed) << round;
            if (result == 'o') {
                talk.down.Send('c');
                ASSERT_EQ(talk.up.Get(), '1') << "round " << round;
            }
        }
        talk.down.Close({1});
        EXPECT_EQ(Reap(child), 0);
    }
}

TEST(FileLock, RangesExcludeOtherOpensOfOneProcess) {
    TempDir dir;
    const std::string path = dir.File("rec.$lo");
    CFile a(path.c_str(), kShared), b(path.c_str(), kShared);
    a.LockRange(10, 5);
    // Asking takes nothing, needs no write access, and a's own lock is no other's.
    CFile reader(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
    EXPECT_TRUE(reader.IsRangeLockedByOthers(14, 1));
    EXPECT_FALSE(reader.IsRangeLockedByOthers(15, 1));
    EXPECT_FALSE(a.IsRangeLockedByOthers(10, 5));
    EXPECT_TRUE(reader.IsOpenElsewhere());
    EXPECT_FALSE(b.TryLockRange(12, 1));
    EXPECT_FALSE(b.TryLockRange(0, 11));
    ExpectFileError([&] { b.LockRange(14, 1); }, CFileException::lockViolation, EAGAIN, path);
    EXPECT_TRUE(b.TryLockRange(15, 1));
    EXPECT_TRUE(b.TryLockRange(9, 1));
    EXPECT_FALSE(a.TryLockRange(15, 1));
    a.UnlockRange(10, 5);
    EXPECT_TRUE(b.TryLockRange(12, 1));
    b.Close();  // closing drops b's locks
    EXPECT_TRUE(a.TryLockRange(9, 7));
    // The locks leave the share mode alone.
    CFile c;
    EXPECT_EQ(OpenCause(c, path, CFile::modeReadWrite | CFile::shareDenyNone),
              CFileException::none);
    // Zero lengths (to infinity in POSIX) and ranges into the share bytes are refused.
    for (auto [pos, count] :
         {std::pair<uint64_t, uint64_t>{0, 0}, {uint64_t{1} << 62, 1}, {1, uint64_t{1} << 62}}) {
        ExpectFileError([&] { a.TryLockRange(pos, count); }, CFileException::generic, EINVAL);
    }
    a.Close();
    c.Close();
    EXPECT_FALSE(reader.IsOpenElsewhere());
}

TEST(FileLock, AnotherProcessHoldsItsLocksAndTheFileUntilCloseOrDeath) {
    TempDir dir;
    const std::string path = dir.File("rec.$lo");
    Talk talk;
    // Locks byte 1 and gives it up by closing; then locks byte 3 and waits to be killed.
    const pid_t child = Spawn(talk, [&] {
        {
            CFile f(path.c_str(), kShared);
            f.LockRange(1, 1);
            talk.up.Send('l');
            if (talk.down.Get() != 'c')
                return 2;
        }
        talk.up.Send('c');
        CFile f(path.c_str(), kShared);
        f.LockRange(3, 1);
        talk.up.Send('l');
        talk.down.Get();
        return 3;
    });
    ASSERT_EQ(talk.up.Get(), 'l');
    // The child's open keeps the file from being removed.
    ExpectFileError([&] { CFile::Remove(path.c_str()); }, CFileException::sharingViolation);
    {
        CFile mine(path.c_str(), kShared);
        EXPECT_FALSE(mine.TryLockRange(1, 1));
        EXPECT_TRUE(mine.TryLockRange(2, 1));
        talk.down.Send('c');
        ASSERT_EQ(talk.up.Get(), 'c');
        EXPECT_TRUE(mine.TryLockRange(1, 1));
        ASSERT_EQ(talk.up.Get(), 'l');
        EXPECT_FALSE(mine.TryLockRange(3, 1));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        EXPECT_EQ(Reap(child), -1);
        EXPECT_TRUE(mine.TryLockRange(3, 1));
    }
    // Its death let go of the file as well.
    CFile::Remove(path.c_str());
    EXPECT_FALSE(Exists(path));
}

TEST(File, FlushFolderOfMakesARenameDurableAndReportsFailures) {
    TempDir dir;
    const std::string from = dir.File("new.tmp");
    const std::string to = dir.File("rec.eeg");
    WriteBytes(from, {1, 2, 3});
    WriteBytes(to, {9});
    CFile::Rename(from.c_str(), to.c_str());
    CFile::FlushFolderOf(to.c_str());
    EXPECT_EQ(ReadBytes(to), (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(from));

    auto cause = [](const std::function<void()>& f) {
        try {
            f();
        } catch (CException* e) {
            auto* x = dynamic_cast<CFileException*>(e);
            const int c = x ? x->m_cause : -2;
            e->Delete();
            return c;
        }
        return -1;
    };
    EXPECT_EQ(cause([&] { CFile::FlushFolderOf(dir.File("gone/rec.eeg").c_str()); }),
              CFileException::fileNotFound);
    FaultInjection::Arm(FaultInjection::Op::Flush, 1, EIO);
    EXPECT_EQ(cause([&] { CFile::FlushFolderOf(to.c_str()); }), CFileException::hardIO);
    FaultInjection::Disarm();
}
