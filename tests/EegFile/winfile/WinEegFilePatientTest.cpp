#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <random>

#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/FaultInjection.h"
#include "TestSupport.h"
#include "WinFileTestSupport.h"

using namespace winfiletest;
using accesstest::ControlFileStations;
using testsupport::ExpectThrows;
using testsupport::ReadBytes;
using testsupport::TempDir;
using Bytes = std::vector<uint8_t>;
using Status = CPatientInfo::RecordStatus;

namespace {

constexpr Status kToRecord = CPatientInfo::rsReadyToRecord, kRecording = CPatientInfo::rsRecording,
                 kToRead = CPatientInfo::rsReadyToRead, kToArchive = CPatientInfo::rsReadyToArchive,
                 kAny = CPatientInfo::rsAny, kUnknown = CPatientInfo::rsUnknown,
                 kArchived = CPatientInfo::rsArchived;

CPatientInfo Record(const char* last, const char* first, const char* qm, Status status) {
    CPatientInfo info;
    info.SetLastName(last);
    info.SetFirstName(first);
    info.SetQmFileId(qm);
    info.SetRecordStatus(status);
    return info;
}

// The stored record, byte by byte: version word 0 ^ 0x5A5A, 28 length-prefixed
// texts (last name 0, first name 1, Qm file id 12), birth date (day 0.0,
// status 2 = not set), sex -1, record status, record date, Qm synchronised 0.
Bytes RecordBytes(const std::string& last, const std::string& first, const std::string& qm,
                  int32_t status) {
    Bytes b = {0x5A, 0x5A};
    auto int32 = [&](int32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    };
    auto unsetDate = [&] {
        b.insert(b.end(), 8, 0);
        int32(2);
    };
    for (int field = 0; field < CPatientInfo::tfCount; ++field) {
        const std::string& s = field == 0 ? last : field == 1 ? first : field == 12 ? qm : "";
        b.push_back(static_cast<uint8_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    }
    unsetDate();
    int32(-1);
    int32(status);
    unsetDate();
    int32(0);
    return b;
}

void MakeRecording(const std::string& path, const CPatientInfo& info, uint32_t seconds) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.SetPatientInfo(info, 1);
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.StartRecording(Time(2024, 3, 4, 5, 6, 7));
    CEegDataChunk c = MakeChunk(0, seconds * kRate, true);
    file.WriteEegData(c);
    file.StopRecording();
    file.Close();
}

Bytes StreamBytes(const std::string& path, int copy = 1);

// The stream's first bytes, as many as expected has: a record is written over
// the one before, and bytes past its end are never read.
Bytes StreamStart(const std::string& path, const Bytes& expected) {
    Bytes bytes = StreamBytes(path);
    bytes.resize(std::min(bytes.size(), expected.size()));
    return bytes;
}

Bytes StreamBytes(const std::string& path, int copy) {
    Bytes bytes;
    CTKStreamFile* f =
        CWinEegFile::OpenStreamFile(path.c_str(), "Patient", copy, 0, CFile::modeRead);
    if (!f)
        return bytes;
    bytes.resize(f->GetLength());
    bytes.resize(f->Read(bytes.data(), static_cast<UINT>(bytes.size())));
    f->Close();
    delete f;
    return bytes;
}

void ReplacePatientStream(const std::string& path, const Bytes& bytes) {
    CTKStreamFile* f =
        CWinEegFile::OpenStreamFile(path.c_str(), "Patient", 1, 0, CFile::modeCreate);
    ASSERT_NE(f, nullptr);
    f->Write(bytes.data(), static_cast<UINT>(bytes.size()));
    f->Close();
    delete f;
}

// The by-path statics, through CEegFile as applications call them.
CPatientInfo Stored(const std::string& path) {
    CPatientInfo info;
    EXPECT_EQ(CEegFile::GetPatientInfo(path.c_str(), info), 1);
    return info;
}
Status StoredStatus(const std::string& path) {
    Status s = kAny;
    EXPECT_EQ(CEegFile::GetRecordStatus(path.c_str(), s), 1);
    return s;
}
int SetStatus(const std::string& path, Status status, Status expected, Status* prev = nullptr) {
    return CEegFile::SetRecordStatus(path.c_str(), status, expected, prev);
}

// The whole seconds that read back exactly, -1 when any sample differs.
int ReadableSeconds(const std::string& path, uint32_t seconds) {
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    CEegDataChunk chunk(seconds * kRate, 32);
    if (file.ReadEegData(chunk, seconds * kRate) != 1 || CountMismatches(chunk, 0, true) != 0)
        return -1;
    return static_cast<int>(chunk.GetNumberOfSamples() / kRate);
}

// No station listed beside the recording (a control file that a failed
// registration created may stay, empty).
bool NoStations(const std::string& controlPath) {
    const std::string s = ControlFileStations(controlPath);
    return s == "<none>" || s.empty();
}

// The recording station: records two seconds per command while the test works
// on the record by path; on 0 it sends its own view of the record and closes.
int RecordOnCommand(accesstest::Child& self, const std::string& path) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.SetPatientInfo(Record("Doe", "Jane", "", kToRecord), 1);
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.SetRecordStatus(kRecording, kToRecord);
    file.SetWriteThreadOnOff(1);
    file.StartRecording(Time(2024, 3, 4, 5, 6, 7));
    uint32_t written = 0;
    int32_t more = 1;
    while (self.Send(written) && self.Receive(more) && more) {
        CEegDataChunk c = MakeChunk(written * kRate, 2 * kRate, true);
        file.WriteEegData(c);
        file.FlushWriteBuffer();
        written += 2;
    }
    const CPatientInfo& seen = file.GetPatientInfo();
    char view[64];
    std::snprintf(view, sizeof view, "%s/%s/%d", seen.GetLastName().GetString(),
                  seen.GetQmFileId().GetString(), seen.GetRecordStatus());
    file.StopRecording();
    file.Close();
    return self.Send(view) && self.Send(written) ? 0 : 1;
}

}  // namespace

TEST(WinEegFilePatient, ChangesByPathWhileAnotherStationRecords) {
    accesstest::Recording rec;
    accesstest::Child recorder(
        "RECORDER", [&](accesstest::Child& self) { return RecordOnCommand(self, rec.path); });
    uint32_t written = 0;
    ASSERT_TRUE(recorder.Receive(written));
    ::setenv("COMPUTERNAME", "REVIEWER", 1);
    // Each step runs while the recorder writes two more seconds.
    auto whileRecording = [&](auto&& step) {
        ASSERT_TRUE(recorder.Send(int32_t{1}));
        step();
        ASSERT_TRUE(recorder.Receive(written));
    };
    const char* path = rec.path.c_str();
    whileRecording([&] { EXPECT_EQ(Stored(rec.path), Record("Doe", "Jane", "", kRecording)); });
    whileRecording([&] {
        CPatientInfo info = Record("Roe", "Jane", "", kToArchive);
        EXPECT_EQ(CEegFile::SetPatientInfo(path, info, 1), 1);
    });
    EXPECT_EQ(StoredStatus(rec.path), kToArchive);
    whileRecording([&] {
        // Without the status: the stored one is kept, and handed back in info.
        CPatientInfo info = Record("Poe", "Jane", "", kArchived);
        EXPECT_EQ(CEegFile::SetPatientInfo(path, info, 0), 1);
        EXPECT_EQ(info.GetRecordStatus(), kToArchive);
    });
    whileRecording([&] {
        CPatientInfo before;
        EXPECT_EQ(CEegFile::SetStatusForArchive(path, kArchived, "QM-1", before), 1);
        EXPECT_EQ(before, Record("Poe", "Jane", "", kToArchive));
    });
    whileRecording([&] {
        CPatientInfo before;
        EXPECT_EQ(CEegFile::SetQmFileId(path, "QM-2", before), 1);
        EXPECT_EQ(before, Record("Poe", "Jane", "QM-1", kArchived));
    });
    // This station's passing entries are gone; the recorder's stays.
    EXPECT_EQ(ControlFileStations(rec.control), "RECORDER#1:2;");

    ASSERT_TRUE(recorder.Send(int32_t{0}));
    char view[64] = {};
    ASSERT_TRUE(recorder.Receive(view));
    EXPECT_STREQ(view, "Poe/QM-2/6");
    ASSERT_TRUE(recorder.Receive(written));
    EXPECT_EQ(recorder.Wait(), 0);
    EXPECT_TRUE(rec.Clean());
    // The samples recorded meanwhile are whole; the backup copy taken at close
    // holds the record as changed by path.
    EXPECT_EQ(ReadableSeconds(rec.path, written), static_cast<int>(written));
    EXPECT_EQ(StreamBytes(rec.path, 2), StreamBytes(rec.path, 1));
    EXPECT_EQ(StreamBytes(rec.path), RecordBytes("Poe", "Jane", "QM-2", kArchived));
    ::unsetenv("COMPUTERNAME");
}

TEST(WinEegFilePatient, StoredBytesAreRewrittenFromTheStart) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, Record("Doe", "Jane", "", kToRead), 2);
    EXPECT_EQ(StreamBytes(path), RecordBytes("Doe", "Jane", "", 2));
    CPatientInfo before;
    ASSERT_EQ(CEegFile::SetStatusForArchive(path.c_str(), kToArchive, "Q7", before), 1);
    const Bytes longer = RecordBytes("Doe", "Jane", "Q7", 3);
    EXPECT_EQ(StreamBytes(path), longer);
    // A shorter record overwrites the start; the stream keeps its length and
    // the old tail, which nothing reads.
    ASSERT_EQ(CEegFile::SetQmFileId(path.c_str(), "", before), 1);
    Bytes expected = RecordBytes("Doe", "Jane", "", 3);
    expected.insert(expected.end(), longer.end() - 2, longer.end());
    EXPECT_EQ(StreamBytes(path), expected);
    EXPECT_EQ(Stored(path), Record("Doe", "Jane", "", kToArchive));

    // Records longer than a section: the identifier change goes on into a
    // section at the end of the file, the full change rewrites from the start.
    const std::string longId(20000, 'q');
    ASSERT_EQ(CEegFile::SetQmFileId(path.c_str(), longId.c_str(), before), 1);
    EXPECT_EQ(Stored(path).GetQmFileId(), CString(longId.c_str()));
    CPatientInfo big = Record("Big", std::string(30000, 'f').c_str(), "", kArchived);
    ASSERT_EQ(CEegFile::SetPatientInfo(path.c_str(), big, 1), 1);
    EXPECT_EQ(Stored(path), big);
    EXPECT_EQ(ReadableSeconds(path, 2), 2);
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetPatientInfo(), big);
}

TEST(WinEegFilePatient, RecordStatusRules) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, Record("Doe", "Jane", "", kToRead), 1);
    // Expected "any" always sets; a mismatch changes nothing; both report the old status.
    Status prev = kAny;
    EXPECT_EQ(SetStatus(path, kToArchive, kAny, &prev), 1);
    EXPECT_EQ(prev, kToRead);
    const Bytes stored = StreamBytes(path);
    EXPECT_EQ(SetStatus(path, kArchived, kRecording, &prev), 1);
    EXPECT_EQ(prev, kToArchive);
    EXPECT_EQ(StreamBytes(path), stored);
    EXPECT_EQ(SetStatus(path, kArchived, kToArchive), 1);
    EXPECT_EQ(StoredStatus(path), kArchived);

    // Status 5 whenever the record cannot be read: a missing file, a file that is
    // no container, an empty file, a container without "Patient".
    const std::string garbage = dir.File("garbage.eeg"), empty = dir.File("empty.eeg"),
                      bare = dir.File("bare.eeg"), none = dir.File("none.eeg");
    testsupport::WriteBytes(garbage, std::vector<unsigned char>(3000, 0xA7));
    testsupport::WriteBytes(empty, {});
    CWinEegFile().Create(bare.c_str());
    for (const std::string& bad : {none, garbage, empty, bare}) {
        SCOPED_TRACE(bad);
        const Bytes bytes = ReadBytes(bad);
        Status s = kToRead;
        EXPECT_EQ(CEegFile::GetRecordStatus(bad.c_str(), s), 0);
        EXPECT_EQ(s, kUnknown);
        prev = kToRead;
        EXPECT_EQ(SetStatus(bad, kArchived, kAny, &prev), 0);
        EXPECT_EQ(prev, kUnknown);
        CPatientInfo info = Record("X", "", "", kArchived);
        EXPECT_EQ(CEegFile::SetPatientInfo(bad.c_str(), info, 1), 0);
        EXPECT_EQ(CEegFile::SetQmFileId(bad.c_str(), "Q", info), 0);
        EXPECT_EQ(info, CPatientInfo());
        EXPECT_EQ(ReadBytes(bad), bytes);
    }
    EXPECT_FALSE(std::filesystem::exists(none));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

TEST(WinEegFilePatient, CleanUpAfterAFailedStation) {
    accesstest::Recording rec;
    MakeRecording(rec.path, Record("Doe", "Jane", "", kRecording), 1);
    accesstest::Station other("OTHER", rec.path);
    ASSERT_EQ(other.Take(CEegAccessMode::eamRead), 1);
    ::setenv("COMPUTERNAME", "ACQ", 1);
    // A station of this computer that died holding mode.
    auto diedHolding = [&](int mode) {
        accesstest::Station dead("ACQ", rec.path);
        ASSERT_EQ(dead.Take(mode), 1);
        dead.Kill();
    };
    int wasWriting = -1;
    diedHolding(CEegAccessMode::eamWrite);
    diedHolding(CEegAccessMode::eamRead);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;ACQ#1:2;ACQ#2:0;");
    CEegFile::CleanUpOpenFile(rec.path.c_str(), kToArchive, "QM", wasWriting);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;");
    EXPECT_EQ(Stored(rec.path), Record("Doe", "Jane", "", kToRead));

    // A writer leaves a status other than "recording" as it is.
    ASSERT_EQ(SetStatus(rec.path, kArchived, kAny), 1);
    diedHolding(CEegAccessMode::eamWriteMark);
    CEegFile::CleanUpOpenFile(rec.path.c_str(), kToRead, "QM", wasWriting);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_EQ(StoredStatus(rec.path), kArchived);
    // A reader with status "unknown": the record stays byte for byte.
    diedHolding(CEegAccessMode::eamReadMark);
    const Bytes stored = StreamBytes(rec.path);
    CEegFile::CleanUpOpenFile(rec.path.c_str(), kUnknown, "QM", wasWriting);
    EXPECT_EQ(wasWriting, 0);
    EXPECT_EQ(StreamBytes(rec.path), stored);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;");
    // A reader with a status: the record takes it and the identifier.
    diedHolding(CEegAccessMode::eamRead);
    CEegFile::CleanUpOpenFile(rec.path.c_str(), kToArchive, "QM9", wasWriting);
    EXPECT_EQ(wasWriting, 0);
    EXPECT_EQ(Stored(rec.path), Record("Doe", "Jane", "QM9", kToArchive));
    other.Release();
    EXPECT_TRUE(rec.Clean());
    ::unsetenv("COMPUTERNAME");
}

TEST(WinEegFilePatient, MembersOnAnOpenRecording) {
    accesstest::Recording rec;
    const std::string& path = rec.path;
    MakeRecording(path, Record("Doe", "Jane", "", kToRead), 1);
    {
        CWinEegFile file;
        file.Open(path.c_str(), 1);
        file.SetPatientInfo(Record("Roe", "Jim", "", kArchived), 0);
        EXPECT_EQ(StoredStatus(path), kToRead);
        EXPECT_EQ(file.GetPatientInfo(), Record("Roe", "Jim", "", kToRead));
        file.SetRecordStatus(kArchived, kRecording);
        EXPECT_EQ(file.GetRecordStatus(), kToRead);
        file.SetRecordStatus(kToArchive, kToRead);
        EXPECT_EQ(StoredStatus(path), kToArchive);
        file.SetRecordStatus(kRecording, kAny);
        EXPECT_EQ(StoredStatus(path), kRecording);
        // A change by path shows at the next read of the open recording.
        CPatientInfo before;
        ASSERT_EQ(CEegFile::SetQmFileId(path.c_str(), "QM5", before), 1);
        EXPECT_EQ(file.GetPatientInfo().GetQmFileId(), CString("QM5"));

        // A record of an unknown version: reading throws code 2, a status change
        // fails quietly and leaves the bytes, a full write repairs it.
        Bytes bad = StreamBytes(path);
        bad[1] ^= 0x0F;
        ReplacePatientStream(path, bad);
        ExpectThrows<CEegFileException>(
            [&] { file.GetRecordStatus(); },
            [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 2); });
        file.SetRecordStatus(kArchived, kAny);
        EXPECT_EQ(StreamBytes(path), bad);
        file.SetPatientInfo(Record("Roe", "Jim", "", kToRead), 1);
        EXPECT_EQ(StreamStart(path, RecordBytes("Roe", "Jim", "", 2)),
                  RecordBytes("Roe", "Jim", "", 2));

        // Without file access: status 5, no write; the record changes in memory only.
        file.DisableFileAccess();
        EXPECT_EQ(file.GetRecordStatus(), kUnknown);
        file.SetRecordStatus(kArchived, kAny);
        file.SetPatientInfo(Record("Mem", "", "", kArchived), 1);
        EXPECT_EQ(file.GetPatientInfo(), Record("Mem", "", "", kArchived));
        EXPECT_EQ(StreamStart(path, RecordBytes("Roe", "Jim", "", 2)),
                  RecordBytes("Roe", "Jim", "", 2));
    }
    // Closing without file access left this writer's entry; the clean-up removes
    // it and leaves a status other than "recording" as it is.
    int wasWriting = 0;
    CEegFile::CleanUpOpenFile(path.c_str(), kUnknown, "", wasWriting);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_TRUE(rec.Clean());
    EXPECT_EQ(StreamStart(path, RecordBytes("Roe", "Jim", "", 2)),
              RecordBytes("Roe", "Jim", "", 2));

    // A read-only file: the record reads, every change by path answers 0 and
    // touches nothing, SetPatientInfo on the open recording raises code 12.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const Bytes bytes = ReadBytes(path);
    CWinEegFile file;
    file.Open(path.c_str(), 1);
    EXPECT_EQ(file.GetRecordStatus(), kToRead);
    ExpectThrows<CEegFileException>([&] { file.SetPatientInfo(Record("X", "", "", kArchived), 1); },
                                    [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    file.SetRecordStatus(kArchived, kAny);
    EXPECT_EQ(file.GetRecordStatus(), kToRead);
    CPatientInfo info = Record("X", "", "", kArchived);
    EXPECT_EQ(CEegFile::SetPatientInfo(path.c_str(), info, 1), 0);
    EXPECT_EQ(SetStatus(path, kArchived, kAny), 0);
    EXPECT_EQ(CEegFile::SetStatusForArchive(path.c_str(), kArchived, "Q", info), 0);
    file.Close();
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_TRUE(rec.Clean());
}

TEST(WinEegFilePatient, HeldRecordsAndDamagedRecords) {
    accesstest::Recording rec;
    MakeRecording(rec.path, Record("Doe", "Jane", "", kToRead), 1);
    const char* path = rec.path.c_str();
    Status prev = kAny;
    {
        // An exclusive holder leaves the change without a lock file: it goes ahead.
        accesstest::Station holder("EXCL", rec.path);
        ASSERT_EQ(holder.Take(CEegAccessMode::eamExclusive), 1);
        EXPECT_EQ(SetStatus(rec.path, kToArchive, kAny, &prev), 1);
        EXPECT_EQ(prev, kToRead);
        EXPECT_EQ(StoredStatus(rec.path), kToArchive);
        EXPECT_EQ(ControlFileStations(rec.control), "EXCL#1:4;");
        holder.Release();
    }
    {
        // A station holding the patient region: reading by path takes no lock;
        // a change waits for the region, gives up and leaves no entry.
        accesstest::Station holder("HOLDER", rec.path);
        ASSERT_EQ(holder.Take(CEegAccessMode::eamRead), 1);
        const int region = EegControlFileFormat::RegionByte(CEegStreamType::estPatient, 1);
        ASSERT_EQ(holder.Do(accesstest::Op::Lock, region, 1, 1000), 0);
        EXPECT_EQ(StoredStatus(rec.path), kToArchive);
        EXPECT_EQ(SetStatus(rec.path, kArchived, kAny, &prev), 0);
        EXPECT_EQ(prev, kUnknown);
        EXPECT_EQ(ControlFileStations(rec.control), "HOLDER#1:0;");
        holder.Release();
    }
    EXPECT_EQ(StoredStatus(rec.path), kToArchive);
    EXPECT_TRUE(rec.Clean());

    // An unknown record version or status is code 2, a short record the
    // archive's end of file; a full rewrite needs no read and repairs it.
    const Bytes good = StreamBytes(rec.path);
    Bytes badVersion = good, badStatus = good;
    badVersion[1] ^= 0x0F;
    badStatus[good.size() - 20] = 9;  // the record status field
    auto code2 = [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 2); };
    CPatientInfo info;
    for (const Bytes& bytes : {badVersion, badStatus}) {
        ReplacePatientStream(rec.path, bytes);
        ExpectThrows<CEegFileException>([&] { CEegFile::GetPatientInfo(path, info); }, code2);
        Status s = kAny;
        ExpectThrows<CEegFileException>([&] { CEegFile::GetRecordStatus(path, s); }, code2);
        EXPECT_EQ(s, kUnknown);
        ExpectThrows<CEegFileException>([&] { SetStatus(rec.path, kToRead, kAny); }, code2);
        ExpectThrows<CEegFileException>([&] { CEegFile::SetPatientInfo(path, info, 0); }, code2);
        EXPECT_EQ(StreamBytes(rec.path), bytes);
        EXPECT_TRUE(rec.Clean());
    }
    ReplacePatientStream(rec.path, Bytes(good.begin(), good.begin() + 10));
    auto endOfFile = [](CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    };
    ExpectThrows<CArchiveException>([&] { CEegFile::GetPatientInfo(path, info); }, endOfFile);
    ExpectThrows<CArchiveException>([&] { CEegFile::SetQmFileId(path, "Q", info); }, endOfFile);
    EXPECT_TRUE(rec.Clean());
    info = Record("New", "", "", kToRead);
    ASSERT_EQ(CEegFile::SetPatientInfo(path, info, 1), 1);
    EXPECT_EQ(Stored(rec.path), info);
    EXPECT_EQ(ReadableSeconds(rec.path, 1), 1);
}

TEST(WinEegFilePatient, FailedWritesAndDamagedFilesNeverCrash) {
    accesstest::Recording rec;
    MakeRecording(rec.path, Record("Doe", "Jane", "", kToRead), 1);
    // Each write of a change in turn fails: the change answers 0 or completes,
    // the record stays readable and lists no station.
    int failed = 0;
    for (int n = 1; n <= 8; ++n) {
        SCOPED_TRACE(n);
        const Status next = n % 2 ? kArchived : kToRead;
        FaultInjection::Arm(FaultInjection::Op::Write, n, ENOSPC);
        const int result = SetStatus(rec.path, next, kAny);
        FaultInjection::Disarm();
        failed += result == 0;
        const Status now = StoredStatus(rec.path);
        if (result == 1) {
            EXPECT_EQ(now, next);
        }
        EXPECT_TRUE(NoStations(rec.control));
    }
    EXPECT_GT(failed, 0);
    EXPECT_TRUE(rec.Clean());
    EXPECT_EQ(ReadableSeconds(rec.path, 1), 1);

    // Damaged and truncated copies: every static answers or throws, never crashes.
    const std::vector<unsigned char> good = ReadBytes(rec.path);
    std::mt19937 random(7);
    const std::string bad = rec.dir.File("bad.eeg");
    for (int round = 0; round < 150; ++round) {
        std::vector<unsigned char> bytes = good;
        if (round % 3 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int k = 0; k < 4; ++k)
                bytes[random() % 3072] ^= static_cast<unsigned char>(1 + random() % 255);
        }
        testsupport::WriteBytes(bad, bytes);
        CPatientInfo info;
        Status s;
        int wasWriting = 0;
        auto survives = [](auto&& call) {
            try {
                call();
            } catch (CException* e) {
                e->Delete();
            }
        };
        survives([&] { CEegFile::GetRecordStatus(bad.c_str(), s); });
        survives([&] { CEegFile::SetStatusForArchive(bad.c_str(), kArchived, "Q", info); });
        survives([&] { CEegFile::SetPatientInfo(bad.c_str(), info, 0); });
        survives([&] { CEegFile::CleanUpOpenFile(bad.c_str(), kToArchive, "Q", wasWriting); });
        EXPECT_TRUE(NoStations(rec.dir.File("bad.$co")));
    }
}
