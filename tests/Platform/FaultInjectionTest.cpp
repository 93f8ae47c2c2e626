// The fault hook of the file layer: which call fails, with which errno and
// cause, how often, and that every file operation consults it.

#include <gtest/gtest.h>

#include <cerrno>
#include <atomic>
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
using testsupport::ExpectThrows;
using testsupport::ReadBytes;
using testsupport::TempDir;

// Leaves the hook disarmed whatever the test did.
struct DisarmOnExit {
    ~DisarmOnExit() { FaultInjection::Disarm(); }
};

void ExpectFileError(const std::function<void()>& f, int cause, int error,
                     const std::string& path) {
    ExpectThrows<CFileException>(f, [&](CFileException& e) {
        EXPECT_EQ(e.m_cause, cause);
        EXPECT_EQ(e.m_lOsError, error);
        EXPECT_EQ(e.m_strFileName.str(), path);
    });
}
}  // namespace

TEST(FaultInjection, FailsTheNthCallOfTheArmedOperationOnce) {
    DisarmOnExit disarm;
    TempDir dir;
    const std::string path = dir.File("f.dat");
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);

    FaultInjection::Arm(Op::Write, 3, ENOSPC);
    f.Write("a", 1);
    f.Seek(0, CFile::current);  // other operations are not counted
    f.Write("b", 1);
    ExpectFileError([&] { f.Write("c", 1); }, CFileException::diskFull, ENOSPC, path);
    f.Write("d", 1);  // once only
    EXPECT_EQ(ReadBytes(path), (std::vector<unsigned char>{'a', 'b', 'd'}));

    FaultInjection::Arm(Op::Read, 2, EIO);
    f.SeekToBegin();
    char c;
    f.Write("e", 1);
    EXPECT_EQ(f.Read(&c, 1), 1u);
    ExpectFileError([&] { f.Read(&c, 1); }, CFileException::hardIO, EIO, path);
    EXPECT_EQ(f.Read(&c, 1), 1u);

    // Disarm before the nth call: nothing fails.
    FaultInjection::Arm(Op::Write, 2, EIO);
    f.Write("f", 1);
    FaultInjection::Disarm();
    f.Write("g", 1);
    f.Write("h", 1);
}

TEST(FaultInjection, TimesRepeatsTheFailure) {
    DisarmOnExit disarm;
    TempDir dir;
    const std::string path = dir.File("f.dat");
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);

    FaultInjection::Arm(Op::Seek, 2, EINVAL, 2);
    f.SeekToBegin();
    ExpectFileError([&] { f.SeekToEnd(); }, CFileException::badSeek, EINVAL, path);
    ExpectFileError([&] { f.SeekToBegin(); }, CFileException::badSeek, EINVAL, path);
    EXPECT_EQ(f.SeekToEnd(), 0u);

    FaultInjection::Arm(Op::Flush, 1, EIO, -1);  // until disarmed
    for (int i = 0; i < 5; ++i) {
        ExpectFileError([&] { f.Flush(); }, CFileException::hardIO, EIO, path);
    }
    FaultInjection::Disarm();
    f.Flush();
}

TEST(FaultInjection, CountsCallsOfAllThreads) {
    DisarmOnExit disarm;
    TempDir dir;
    const std::string path = dir.File("f.dat");
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
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
    EXPECT_EQ(f.GetLength(), 190u);
}

TEST(FaultInjection, EveryFileOperationConsultsTheHook) {
    DisarmOnExit disarm;
    TempDir dir;
    const std::string path = dir.File("f.dat");
    const std::string other = dir.File("g.dat");
    CFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyNone);
    f.Write("abc", 3);
    char buf[3];

    struct Case {
        Op op;
        int error;
        int cause;
        std::function<void()> call;
        bool repeatable;  // the real call can follow the failed one
    };
    const std::vector<Case> cases = {
        {Op::Open, ENOENT, CFileException::fileNotFound,
         [&] { CFile g(path.c_str(), CFile::modeRead | CFile::shareDenyNone); }, true},
        {Op::Read, EIO, CFileException::hardIO, [&] { f.Read(buf, 3); }, true},
        {Op::Write, ENOSPC, CFileException::diskFull, [&] { f.Write(buf, 3); }, true},
        {Op::Seek, EINVAL, CFileException::badSeek, [&] { f.Seek(1, CFile::begin); }, true},
        {Op::SetLength, EFBIG, CFileException::diskFull, [&] { f.SetLength(1); }, true},
        {Op::Flush, EIO, CFileException::hardIO, [&] { f.Flush(); }, true},
        {Op::Lock, ENOLCK, CFileException::lockViolation, [&] { f.LockRange(0, 1); }, true},
        {Op::Lock, ENOLCK, CFileException::lockViolation, [&] { f.UnlockRange(0, 1); }, true},
        {Op::Rename, EACCES, CFileException::accessDenied,
         [&] { CFile::Rename(path.c_str(), other.c_str()); }, false},
        {Op::Remove, EACCES, CFileException::accessDenied, [&] { CFile::Remove(path.c_str()); },
         false},
    };
    for (const Case& c : cases) {
        FaultInjection::Arm(c.op, 1, c.error);
        ExpectFileError(c.call, c.cause, c.error, path);
        if (c.repeatable)
            c.call();  // disarmed again: the real call goes through
    }
    // The failed Rename and Remove left the file where it was.
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(other));
    f.Close();
    CFile::Rename(path.c_str(), other.c_str());

    // Open reports the injected error without throwing; Close throws it but the
    // file is closed all the same.
    CFile g;
    CFileException e;
    FaultInjection::Arm(Op::Open, 1, EMFILE);
    EXPECT_FALSE(g.Open(other.c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::tooManyOpenFiles);
    EXPECT_EQ(e.m_lOsError, EMFILE);
    ASSERT_TRUE(g.Open(other.c_str(), CFile::modeRead, &e));
    FaultInjection::Arm(Op::Close, 1, EIO);
    ExpectFileError([&] { g.Close(); }, CFileException::hardIO, EIO, other);
    EXPECT_FALSE(g.IsOpen());
}
