// CEegAccessControl within one process: paths, running without control, the
// byte locks and the failure paths. Objects of one process exclude each other
// through their own opens of the lock file, as processes do.

#include "EegFile/access/EegAccessControl.h"

#include <cerrno>

#include "AccessTestSupport.h"
#include "Platform/FaultInjection.h"

using accesstest::ControlFileStations;
using accesstest::LockProbe;
using accesstest::Recording;
using testsupport::ExpectFileError;
using testsupport::ReadBytes;
using Bytes = std::vector<unsigned char>;
namespace fmt = EegControlFileFormat;

namespace {
// The computer name an access control object reads at construction.
struct ComputerName {
    explicit ComputerName(const char* name) { ::setenv("COMPUTERNAME", name, 1); }
    ~ComputerName() { ::unsetenv("COMPUTERNAME"); }
};

struct FaultGuard {
    ~FaultGuard() { FaultInjection::Disarm(); }
};
}  // namespace

TEST(EegAccessControl, PathsTheStationListAsLastReadAndRunningWithoutControl) {
    EXPECT_EQ(fmt::SiblingPath("/d/rec.eeg", ".$co"), "/d/rec.$co");
    EXPECT_EQ(fmt::SiblingPath("/d.x/rec", ".$lo"), "/d.x/rec.$lo");
    EXPECT_EQ(fmt::SiblingPath("/d/rec.eeg.bak", ".$co"), "/d/rec.eeg.$co");

    Recording rec;
    ComputerName name("ALPHA");
    CEegAccessControl first, second;
    first.SetPaths(rec.path.c_str());
    second.SetPaths(rec.path.c_str());
    ASSERT_EQ(first.TakeMode(CEegAccessMode::eamWrite), 1);
    first.SetPaths("/elsewhere/x.eeg");  // ignored while access is held
    EXPECT_EQ(first.GetLockFilePath(), rec.lock.c_str());
    ASSERT_EQ(second.TakeMode(CEegAccessMode::eamRead), 1);
    first.Release();
    // The list as second last read, indexes clamped to it.
    EXPECT_EQ(second.GetStationCount(), 2);
    EXPECT_EQ(second.GetStationMode(-5), CEegAccessMode::eamWrite);
    EXPECT_EQ(second.GetStationMode(99), CEegAccessMode::eamRead);
    second.Release();
    second.Release();  // nothing held: nothing done
    EXPECT_EQ(first.ChangeMode(CEegAccessMode::eamWrite), 0);
    EXPECT_TRUE(rec.Clean());

    // Without control every mode is granted and no file is used.
    first.SetWithoutControl(1);
    EXPECT_EQ(first.TakeMode(CEegAccessMode::eamExclusive), 1);
    EXPECT_EQ(first.ChangeMode(CEegAccessMode::eamWriteMark), 1);
    EXPECT_EQ(first.GetAccessMode(), CEegAccessMode::eamWriteMark);
    EXPECT_EQ(first.SetLockState(fmt::kControlByte, 1, 100), 0);
    EXPECT_EQ(first.GetLockHeld(fmt::kControlByte), 0);
    int wasWriting = -1;
    EXPECT_EQ(first.RemoveStationEntries(rec.path.c_str(), wasWriting), 1);
    EXPECT_EQ(wasWriting, 0);
    first.Release();
    EXPECT_TRUE(std::filesystem::is_empty(rec.dir.path()));
}

TEST(EegAccessControl, ByteLocksRegionsAndNestedHooks) {
    Recording rec;
    ComputerName name("DELTA");
    CEegAccessControl a;
    a.SetPaths(rec.path.c_str());
    EXPECT_EQ(a.SetLockState(3, 1, 100), 0);  // no lock file open yet
    ASSERT_EQ(a.TakeMode(CEegAccessMode::eamRead), 1);
    LockProbe probe(rec.lock);

    // Region (t, c) is byte t + 5c - 2; other pairs and indexes lock nothing.
    for (int type : {0, 4, 5, -1}) {
        for (int copy : {1, 2, 3})
            EXPECT_EQ(a.SetLockState(type, copy, 1, 100), 0);
    }
    EXPECT_EQ(a.SetLockState(-1, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(13, 1, 100), 0);
    EXPECT_EQ(probe.Map(), "FFFBFFFBBFFFB");

    {
        FaultGuard guard;
        FaultInjection::Arm(FaultInjection::Op::Lock, 1, EIO);
        // A held byte is taken again without a lock call: the fault stays armed.
        EXPECT_EQ(a.SetLockState(3, 1, 100), 1);
        // Any other failure of a lock call names the lock file.
        ExpectFileError([&] { a.SetLockState(5, 1, 100); }, CFileException::hardIO, EIO, rec.lock);
        EXPECT_EQ(a.GetLockHeld(5), 0);
    }

    // Nested use: an inner take and restore leave the outer hold.
    const int outer = a.GetDirectoryHook()->SetLockState(1);
    const int inner = a.GetDirectoryHook()->SetLockState(1);
    a.GetDirectoryHook()->SetLockState(inner);
    EXPECT_EQ(probe.Map(), "FFBBFFFBBFFFB");
    a.GetDirectoryHook()->SetLockState(outer);
    EXPECT_EQ(probe.Map(), "FFFBFFFBBFFFB");
    EXPECT_EQ(a.GetWriterHook()->SetLockState(1), 0);

    // An explicit release, then the release of access frees the rest.
    EXPECT_EQ(a.SetLockState(4, 1, 0, 100), 1);
    EXPECT_EQ(probe.Map(), "BFFBFFFFBFFFB");
    a.Release();
    EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
}

TEST(EegAccessControl, FailuresLeaveTheFilesAsTheyWere) {
    Recording rec;
    ComputerName name("EPSILON");
    FaultGuard guard;
    CEegAccessControl ac, other;
    ac.SetPaths(rec.path.c_str());
    other.SetPaths(rec.path.c_str());
    ASSERT_EQ(other.TakeMode(CEegAccessMode::eamRead), 1);
    const Bytes before = ReadBytes(rec.control);

    // The control file cannot be opened, or written: the failure names the file,
    // the control byte is given back and no entry is left.
    FaultInjection::Arm(FaultInjection::Op::Open, 2, EMFILE);
    ExpectFileError([&] { ac.TakeMode(CEegAccessMode::eamRead); }, CFileException::tooManyOpenFiles,
                    EMFILE, rec.control);
    FaultInjection::Arm(FaultInjection::Op::Write, 1, ENOSPC);
    ExpectFileError([&] { ac.TakeMode(CEegAccessMode::eamRead); }, CFileException::diskFull,
                    ENOSPC);
    EXPECT_EQ(ReadBytes(rec.control), before);
    EXPECT_EQ(ac.GetAccessHeld(), 0);
    EXPECT_EQ(other.ChangeMode(CEegAccessMode::eamExclusive), 1);  // the byte is free
    ASSERT_EQ(other.ChangeMode(CEegAccessMode::eamRead), 1);

    // A failing unlock in Release (take the control byte, then its unlock
    // fails) is not reported: closing the lock file frees every byte anyway.
    ASSERT_EQ(ac.TakeMode(CEegAccessMode::eamRead), 1);
    ac.SetLockState(2, 1, 1, 100);
    FaultInjection::Arm(FaultInjection::Op::Lock, 2, EIO);
    ac.Release();
    EXPECT_EQ(ac.GetAccessHeld(), 0);
    EXPECT_EQ(ControlFileStations(rec.control), "EPSILON#1:0;");
    EXPECT_EQ(LockProbe(rec.lock).Map(), "FFFFFFFFFFFFF");

    // ReleaseWithoutUpdate leaves the entry; RemoveStationEntries clears every
    // entry of this computer, the other object's too, and reports the writer.
    ASSERT_EQ(ac.TakeMode(CEegAccessMode::eamWrite), 1);
    ac.ReleaseWithoutUpdate();
    EXPECT_EQ(ac.GetAccessHeld(), 0);
    EXPECT_EQ(ControlFileStations(rec.control), "EPSILON#1:0;EPSILON#2:2;");
    int wasWriting = 0;
    EXPECT_EQ(ac.RemoveStationEntries(rec.path.c_str(), wasWriting), 1);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_FALSE(rec.Exists(rec.control));
    EXPECT_TRUE(rec.Exists(rec.lock));  // the other object still has it open
    other.Release();
    EXPECT_TRUE(std::filesystem::is_empty(rec.dir.path()));
}
