// CEegAccessControl within one process: the control file's bytes, the paths,
// damaged control files, running without control, the byte-lock service and
// the failure paths. Stations of one process exclude each other through their
// own opens of the lock file, exactly as processes do; several stations as
// processes are in EegAccessControlStationsTest.cpp.

#include "EegFile/access/EegAccessControl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "AccessTestSupport.h"
#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Exception.h"
#include "Platform/FaultInjection.h"
#include "Platform/File.h"
#include "TestSupport.h"

using accesstest::ControlFileStations;
using accesstest::LockProbe;
using testsupport::ExpectThrows;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using Bytes = std::vector<unsigned char>;
namespace fmt = EegControlFileFormat;

namespace {
// The computer name an access control object reads at construction.
struct ComputerName {
    explicit ComputerName(const char* name) { ::setenv("COMPUTERNAME", name, 1); }
    ~ComputerName() { ::unsetenv("COMPUTERNAME"); }
};

struct Recording {
    TempDir dir;
    std::string path = dir.File("rec.eeg");
    std::string control = dir.File("rec.$co");
    std::string lock = dir.File("rec.$lo");
    bool Exists(const std::string& p) const { return std::filesystem::exists(p); }
};

void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
void Append32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
Bytes Header(const std::string& signature = fmt::kSignature, uint16_t schema = 0x5A5A) {
    Bytes b{static_cast<unsigned char>(schema), static_cast<unsigned char>(schema >> 8),
            static_cast<unsigned char>(signature.size())};
    Append(b, signature);
    return b;
}
void AppendEntry(Bytes& b, const std::string& name, uint32_t number, uint32_t mode) {
    b.push_back(static_cast<unsigned char>(name.size()));
    Append(b, name);
    Append32(b, number);
    Append32(b, mode);
}

struct FaultGuard {
    ~FaultGuard() { FaultInjection::Disarm(); }
};
}  // namespace

TEST(EegAccessControl, ControlFileBytesNumbersAndTheLastRelease) {
    Recording rec;
    ComputerName name("ALPHA");
    CEegAccessControl first, second;
    first.SetPaths(rec.path.c_str());
    second.SetPaths(rec.path.c_str());
    EXPECT_EQ(first.GetControlFilePath(), rec.control.c_str());
    EXPECT_EQ(first.GetLockFilePath(), rec.lock.c_str());

    ASSERT_EQ(first.TakeMode(CEegAccessMode::eamWrite), 1);
    Bytes expected = Header();
    Append32(expected, 1);
    AppendEntry(expected, "ALPHA", 1, 2);
    ASSERT_EQ(expected.size(), 35u);  // 2 + 1 + 14 + 4 + (1 + 5 + 4 + 4)
    EXPECT_EQ(ReadBytes(rec.control), expected);
    EXPECT_TRUE(rec.Exists(rec.lock));
    EXPECT_EQ(ReadBytes(rec.lock).size(), 0u);  // never written

    // The same computer again: number 2, and the grant sees the first entry.
    ASSERT_EQ(second.TakeMode(CEegAccessMode::eamRead), 1);
    EXPECT_EQ(second.GetStationNumber(), 2);
    Bytes two = Header();
    Append32(two, 2);
    AppendEntry(two, "ALPHA", 1, 2);
    AppendEntry(two, "ALPHA", 2, 0);
    EXPECT_EQ(ReadBytes(rec.control), two);
    EXPECT_EQ(second.TakeMode(CEegAccessMode::eamWrite), 0);  // the first writes
    EXPECT_EQ(second.GetAccessHeld(), 0);                     // taking again released the old entry
    ASSERT_EQ(second.TakeMode(CEegAccessMode::eamRead), 1);
    EXPECT_EQ(second.GetStationNumber(), 2);

    // Releasing the first keeps the second; the shorter list is written over
    // the longer one and the old tail stays behind it, unread.
    first.Release();
    EXPECT_EQ(first.GetAccessHeld(), 0);
    EXPECT_EQ(first.GetStationNumber(), 0);
    Bytes one = Header();
    Append32(one, 1);
    AppendEntry(one, "ALPHA", 2, 0);
    const Bytes after = ReadBytes(rec.control);
    ASSERT_EQ(after.size(), two.size());
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 35), one);
    EXPECT_EQ(Bytes(after.begin() + 35, after.end()), Bytes(two.begin() + 35, two.end()));
    EXPECT_EQ(ControlFileStations(rec.control), "ALPHA#2:0;");
    EXPECT_EQ(second.GetStationCount(), 2);  // as this object last read the file
    EXPECT_EQ(second.GetStationName(-5), "ALPHA");
    EXPECT_EQ(second.GetStationMode(99), CEegAccessMode::eamRead);

    second.Release();
    EXPECT_FALSE(rec.Exists(rec.control));
    EXPECT_FALSE(rec.Exists(rec.lock));
    second.Release();  // nothing held: nothing done
    EXPECT_EQ(first.ChangeMode(CEegAccessMode::eamWrite), 0);
}

TEST(EegAccessControl, PathsAndModeChangesOfOneStation) {
    EXPECT_EQ(fmt::SiblingPath("/d/rec.eeg", ".$co"), "/d/rec.$co");
    EXPECT_EQ(fmt::SiblingPath("/d.x/rec", ".$lo"), "/d.x/rec.$lo");
    EXPECT_EQ(fmt::SiblingPath("/d/rec.eeg.bak", ".$co"), "/d/rec.eeg.$co");

    Recording rec;
    ComputerName name("BETA");
    CEegAccessControl ac;
    ac.SetPaths(rec.path.c_str());
    ASSERT_EQ(ac.TakeMode(CEegAccessMode::eamRead), 1);
    ac.SetPaths("/elsewhere/x.eeg");  // ignored while access is held
    EXPECT_EQ(ac.GetControlFilePath(), rec.control.c_str());
    EXPECT_EQ(ac.ChangeMode(CEegAccessMode::eamReadMark), 1);
    EXPECT_EQ(ac.GetAccessMode(), CEegAccessMode::eamReadMark);
    EXPECT_EQ(ac.ChangeMode(CEegAccessMode::eamExclusive), 1);  // alone
    EXPECT_EQ(ac.ChangeMode(static_cast<CEegAccessControl::Mode>(7)), 0);
    EXPECT_EQ(ControlFileStations(rec.control), "BETA#1:4;");
    ac.Release();
    EXPECT_FALSE(rec.Exists(rec.control));

    // A mode that is no mode is refused, and leaves no file behind.
    EXPECT_EQ(ac.TakeMode(static_cast<CEegAccessControl::Mode>(5)), 0);
    EXPECT_FALSE(rec.Exists(rec.control));
    EXPECT_FALSE(rec.Exists(rec.lock));
}

TEST(EegAccessControl, DamagedControlFiles) {
    Recording rec;
    ComputerName name("GAMMA");
    CEegAccessControl ac;
    ac.SetPaths(rec.path.c_str());
    auto expectCode10 = [&](const Bytes& bytes) {
        WriteBytes(rec.control, bytes);
        ExpectThrows<CEegFileException>(
            [&] { ac.TakeMode(CEegAccessMode::eamRead); },
            [](CEegFileException& e) {
                EXPECT_EQ(e.GetErrorCode(), 10);
                EXPECT_NE(e.GetErrorText().Find("Invalid control file signature."), -1);
            });
        EXPECT_EQ(ReadBytes(rec.control), bytes);  // left as it was
        EXPECT_EQ(ac.GetAccessHeld(), 0);
    };
    Bytes other = Header("TK-EEG-Kontrol");
    Append32(other, 0);
    expectCode10(other);
    Bytes schema = Header(fmt::kSignature, 0x5A5B);
    Append32(schema, 0);
    expectCode10(schema);
    expectCode10({0x5A});  // too short for the schema word
    Bytes cutSignature = Header();
    cutSignature.resize(8);
    expectCode10(cutSignature);

    // A count beyond the file, below zero, or an entry cut short: the archive's
    // end of file, before anything is allocated for the count.
    auto expectEndOfFile = [&](const Bytes& bytes) {
        WriteBytes(rec.control, bytes);
        ExpectThrows<CArchiveException>(
            [&] { ac.TakeMode(CEegAccessMode::eamRead); },
            [](CArchiveException& e) { EXPECT_EQ(e.m_cause, CArchiveException::endOfFile); });
        EXPECT_EQ(ReadBytes(rec.control), bytes);
    };
    Bytes huge = Header();
    Append32(huge, 0x7FFFFFFF);
    AppendEntry(huge, "X", 1, 0);
    expectEndOfFile(huge);
    Bytes negative = Header();
    Append32(negative, 0xFFFFFFFF);
    expectEndOfFile(negative);
    Bytes cutEntry = Header();
    Append32(cutEntry, 2);
    AppendEntry(cutEntry, "STATION-X", 1, 0);
    AppendEntry(cutEntry, "STATION-Y", 1, 0);
    cutEntry.resize(cutEntry.size() - 3);
    expectEndOfFile(cutEntry);

    // Every failure gave the control byte back and closed the lock file: the
    // probe can take the control byte, and removing the lock file works.
    {
        LockProbe probe(rec.lock);
        EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
    }
    CFile::Remove(rec.lock.c_str());

    // An empty control file lists no station: even exclusive is granted.
    WriteBytes(rec.control, {});
    ASSERT_EQ(ac.TakeMode(CEegAccessMode::eamExclusive), 1);
    EXPECT_EQ(ControlFileStations(rec.control), "GAMMA#1:4;");
    // A mode unknown to this library in another entry refuses every request.
    Bytes unknown = Header();
    Append32(unknown, 2);
    AppendEntry(unknown, "GAMMA", 1, 4);
    AppendEntry(unknown, "OLD", 1, 9);
    WriteBytes(rec.control, unknown);
    EXPECT_EQ(ac.ChangeMode(CEegAccessMode::eamRead), 0);
    ac.Release();
    EXPECT_EQ(ControlFileStations(rec.control), "OLD#1:9;");
}

TEST(EegAccessControl, WithoutControlEveryModeIsGrantedAndNothingIsUsed) {
    Recording rec;
    CEegAccessControl ac;
    ac.SetPaths(rec.path.c_str());
    ac.SetWithoutControl(1);
    EXPECT_EQ(ac.TakeMode(CEegAccessMode::eamExclusive), 1);
    EXPECT_EQ(ac.ChangeMode(CEegAccessMode::eamWriteMark), 1);
    EXPECT_EQ(ac.GetAccessMode(), CEegAccessMode::eamWriteMark);
    EXPECT_EQ(ac.SetLockState(fmt::kControlByte, 1, 100), 0);
    EXPECT_EQ(ac.GetLockHeld(fmt::kControlByte), 0);
    int wasWriting = -1;
    EXPECT_EQ(ac.RemoveStationEntries(rec.path.c_str(), wasWriting), 1);
    EXPECT_EQ(wasWriting, 0);
    ac.Release();
    EXPECT_TRUE(std::filesystem::is_empty(rec.dir.path()));
}

TEST(EegAccessControl, ByteLocksRegionsAndTimeOuts) {
    Recording rec;
    ComputerName name("DELTA");
    CEegAccessControl a, b;
    a.SetPaths(rec.path.c_str());
    b.SetPaths(rec.path.c_str());
    EXPECT_EQ(a.SetLockState(3, 1, 100), 0);  // no lock file open yet
    ASSERT_EQ(a.TakeMode(CEegAccessMode::eamRead), 1);
    ASSERT_EQ(b.TakeMode(CEegAccessMode::eamRead), 1);
    LockProbe probe(rec.lock);

    // Region (t, c) is byte t + 5c - 2; other pairs lock nothing.
    EXPECT_EQ(a.SetLockState(0, 1, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(4, 1, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(0, 2, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(4, 2, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(5, 1, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(0, 3, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(-1, 1, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(-1, 1, 100), 0);
    EXPECT_EQ(a.SetLockState(13, 1, 100), 0);
    EXPECT_EQ(probe.Map(), "FFFBFFFBBFFFB");

    // Taking a held byte again returns 1 without a lock call (the armed fault
    // would otherwise fire).
    {
        FaultGuard guard;
        FaultInjection::Arm(FaultInjection::Op::Lock, 1, EIO);
        EXPECT_EQ(a.SetLockState(3, 1, 100), 1);
        // Any other failure of a lock call names the lock file.
        ExpectThrows<CFileException>([&] { a.SetLockState(5, 1, 100); },
                                     [&](CFileException& e) {
                                         EXPECT_EQ(e.m_cause, CFileException::hardIO);
                                         EXPECT_EQ(e.m_strFileName, rec.lock.c_str());
                                     });
        EXPECT_EQ(a.GetLockHeld(5), 0);
    }

    // A busy byte times out with the container's code, naming the lock file;
    // the waiter's own state is unchanged.
    ExpectThrows<CTKCompoundFileException>(
        [&] { b.SetLockState(3, 1, 50); },
        [&](CTKCompoundFileException& e) {
            EXPECT_EQ(e.m_nError, 1);
            EXPECT_EQ(e.m_strFileName, rec.lock.c_str());
            EXPECT_NE(e.GetErrorText().Find("File locking timeout."), -1);
        });
    EXPECT_EQ(b.GetLockHeld(3), 0);
    // Nested use: an inner take and restore leave the outer hold.
    const int outer = a.GetDirectoryHook()->SetLockState(1);
    const int inner = a.GetDirectoryHook()->SetLockState(1);
    a.GetDirectoryHook()->SetLockState(inner);
    EXPECT_EQ(probe.Free(fmt::kDirectoryByte), false);
    a.GetDirectoryHook()->SetLockState(outer);
    EXPECT_EQ(probe.Free(fmt::kDirectoryByte), true);
    EXPECT_EQ(a.GetWriterHook()->SetLockState(1), 0);
    EXPECT_EQ(probe.Free(fmt::kWriterByte), false);

    // Giving back: an explicit release, then the release of access frees the rest.
    EXPECT_EQ(a.SetLockState(4, 1, 0, 100), 1);
    EXPECT_EQ(probe.Map(), "BFFBFFFFBFFFB");
    a.Release();
    EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
    probe.Close();
    b.Release();
    EXPECT_FALSE(rec.Exists(rec.lock));
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
    ExpectThrows<CFileException>([&] { ac.TakeMode(CEegAccessMode::eamRead); },
                                 [&](CFileException& e) {
                                     EXPECT_EQ(e.m_cause, CFileException::tooManyOpenFiles);
                                     EXPECT_EQ(e.m_strFileName, rec.control.c_str());
                                 });
    FaultInjection::Arm(FaultInjection::Op::Write, 1, ENOSPC);
    ExpectThrows<CFileException>(
        [&] { ac.TakeMode(CEegAccessMode::eamRead); },
        [&](CFileException& e) { EXPECT_EQ(e.m_cause, CFileException::diskFull); });
    EXPECT_EQ(ReadBytes(rec.control), before);
    EXPECT_EQ(ac.GetAccessHeld(), 0);
    EXPECT_EQ(other.ChangeMode(CEegAccessMode::eamExclusive), 1);  // the byte is free

    // A failing unlock while the lock file is closed is not reported; the
    // close frees the bytes all the same.
    ASSERT_EQ(other.ChangeMode(CEegAccessMode::eamRead), 1);
    ASSERT_EQ(ac.TakeMode(CEegAccessMode::eamRead), 1);
    ac.SetLockState(2, 1, 1, 100);
    // Release: take the control byte (1st), unlock it (2nd, fails), unlock the region.
    FaultInjection::Arm(FaultInjection::Op::Lock, 2, EIO);
    ac.Release();
    EXPECT_EQ(ac.GetAccessHeld(), 0);
    EXPECT_EQ(ControlFileStations(rec.control), "EPSILON#1:0;");
    {
        LockProbe probe(rec.lock);
        EXPECT_EQ(probe.Map(), "FFFFFFFFFFFFF");
    }

    // ReleaseWithoutUpdate leaves the entry; RemoveStationEntries clears every
    // entry of this computer and reports whether one could write.
    ASSERT_EQ(ac.TakeMode(CEegAccessMode::eamWrite), 1);
    ac.ReleaseWithoutUpdate();
    EXPECT_EQ(ac.GetAccessHeld(), 0);
    EXPECT_EQ(ControlFileStations(rec.control), "EPSILON#1:0;EPSILON#2:2;");
    int wasWriting = 0;
    EXPECT_EQ(ac.RemoveStationEntries(rec.path.c_str(), wasWriting), 1);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_FALSE(rec.Exists(rec.control));
    // The other object of this computer lost its entry too, and still holds the
    // lock file open, which therefore stays until it leaves.
    EXPECT_TRUE(rec.Exists(rec.lock));
    other.Release();
    EXPECT_TRUE(std::filesystem::is_empty(rec.dir.path()));
}
