// The fault hook of the file layer: which call fails, with which errno and
// cause, how often, and that every file operation consults it.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/FaultInjection.h"
#include "Platform/File.h"
#include "TestSupport.h"

namespace {
using FaultInjection::Op;

// Leaves the hook disarmed whatever the test did.
struct DisarmOnExit {
    ~DisarmOnExit() { FaultInjection::Disarm(); }
};

using testsupport::ExpectFileError;
}  // namespace

TEST(FaultInjection, FailsTheNthCallOfTheArmedOperationAsOftenAsAskedInAnyThread) {
    DisarmOnExit disarm;
    testsupport::TempDir dir;
    const std::string path = dir.File("f.dat");
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);

    FaultInjection::Arm(Op::Write, 3, ENOSPC);
    f.Write("a", 1);
    f.Seek(0, CFile::current);  // other operations are not counted
    f.Write("b", 1);
    ExpectFileError([&] { f.Write("c", 1); }, CFileException::diskFull, ENOSPC, path);
    f.Write("d", 1);  // once only
    EXPECT_EQ(testsupport::ReadBytes(path), (std::vector<unsigned char>{'a', 'b', 'd'}));

    FaultInjection::Arm(Op::Flush, 1, EIO, -1);  // until disarmed
    for (int i = 0; i < 3; ++i)
        ExpectFileError([&] { f.Flush(); }, CFileException::hardIO, EIO, path);
    FaultInjection::Disarm();
    f.Flush();

    // Calls of all threads count: the 50th to 59th of 200 writes fail.
    FaultInjection::Arm(Op::Write, 50, ENOSPC, 10);
    std::atomic<int> failures{0};
    auto writer = [&] {
        for (int i = 0; i < 100; ++i) {
            try {
                f.Write("x", 1);
            } catch (CException* e) {
                ++failures;
                e->Delete();
            }
        }
    };
    std::thread t1(writer), t2(writer);
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 10);
    EXPECT_EQ(f.GetLength(), 3u + 190u);
}

TEST(FaultInjection, EveryFileOperationConsultsTheHook) {
    DisarmOnExit disarm;
    testsupport::TempDir dir;
    const std::string path = dir.File("f.dat"), other = dir.File("g.dat");
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyNone);
    char buf[3] = {};
    auto check = [&](Op op, int error, int cause, const std::function<void()>& call) {
        FaultInjection::Arm(op, 1, error);
        ExpectFileError(call, cause, error, path);
    };
    check(Op::Open, ENOENT, CFileException::fileNotFound,
          [&] { CFile g(path.c_str(), CFile::modeRead | CFile::shareDenyNone); });
    check(Op::Read, EIO, CFileException::hardIO, [&] { f.Read(buf, 3); });
    check(Op::Write, ENOSPC, CFileException::diskFull, [&] { f.Write(buf, 3); });
    check(Op::Read, EIO, CFileException::hardIO, [&] { f.ReadAt(0, buf, 3); });
    check(Op::Write, ENOSPC, CFileException::diskFull, [&] { f.WriteAt(9, buf, 3); });
    check(Op::Seek, EINVAL, CFileException::badSeek, [&] { f.Seek(1, CFile::begin); });
    check(Op::SetLength, EFBIG, CFileException::diskFull, [&] { f.SetLength(1); });
    check(Op::Flush, EIO, CFileException::hardIO, [&] { f.Flush(); });
    check(Op::Lock, ENOLCK, CFileException::lockViolation, [&] { f.LockRange(0, 1); });
    check(Op::Lock, ENOLCK, CFileException::lockViolation, [&] { f.UnlockRange(0, 1); });
    check(Op::Rename, EACCES, CFileException::accessDenied,
          [&] { CFile::Rename(path.c_str(), other.c_str()); });
    check(Op::Remove, EACCES, CFileException::accessDenied, [&] { CFile::Remove(path.c_str()); });
    // The failed Rename and Remove left the file where it was.
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(other));

    // Open reports the injected error without throwing; Close throws it but the
    // file is closed all the same.
    CFile g;
    CFileException e;
    FaultInjection::Arm(Op::Open, 1, EMFILE);
    EXPECT_FALSE(g.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone, &e));
    EXPECT_EQ(e.m_cause, CFileException::tooManyOpenFiles);
    EXPECT_EQ(e.m_lOsError, EMFILE);
    FaultInjection::Arm(Op::Close, 1, EIO);
    ExpectFileError([&] { f.Close(); }, CFileException::hardIO, EIO, path);
    EXPECT_FALSE(f.IsOpen());
}
