#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
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
using Status = CPatientInfo::RecordStatus;

namespace {

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
std::vector<uint8_t> RecordBytes(const std::string& last, const std::string& first,
                                 const std::string& qm, int32_t status) {
    std::vector<uint8_t> b = {0x5A, 0x5A};
    auto text = [&](const std::string& s) {
        b.push_back(static_cast<uint8_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    };
    auto int32 = [&](int32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    };
    for (int field = 0; field < CPatientInfo::tfCount; ++field)
        text(field == 0 ? last : field == 1 ? first : field == 12 ? qm : "");
    auto nullDate = [&] {
        b.insert(b.end(), 8, 0);
        int32(2);
    };
    nullDate();
    int32(-1);
    int32(status);
    nullDate();
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

std::vector<uint8_t> StreamBytes(const std::string& path, const char* name, int copy = 1) {
    std::vector<uint8_t> bytes;
    CTKStreamFile* f = CWinEegFile::OpenStreamFile(path.c_str(), name, copy, 0, CFile::modeRead);
    if (!f)
        return bytes;
    bytes.resize(f->GetLength());
    bytes.resize(f->Read(bytes.data(), static_cast<UINT>(bytes.size())));
    f->Close();
    delete f;
    return bytes;
}

void ReplacePatientStream(const std::string& path, const std::vector<uint8_t>& bytes) {
    CTKStreamFile* f =
        CWinEegFile::OpenStreamFile(path.c_str(), "Patient", 1, 16000, CFile::modeCreate);
    ASSERT_NE(f, nullptr);
    f->Write(bytes.data(), static_cast<UINT>(bytes.size()));
    f->Close();
    delete f;
}

Status StoredStatus(const std::string& path) {
    Status s = CPatientInfo::rsAny;
    EXPECT_EQ(CEegFile::GetRecordStatus(path.c_str(), s), 1);
    return s;
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

// No station listed beside the recording (a control file a failed registration
// created may stay, empty).
bool NoStations(const std::string& controlPath) {
    const std::string s = ControlFileStations(controlPath);
    return s == "<none>" || s.empty();
}

// The recording station: records on command while the test works on the record
// by path, and reports its own view of the record.
enum class Cmd : int32_t { Record, Report, Close };
struct Seen {
    int32_t status = -1;
    char last[32] = {};
    char qm[32] = {};
};

int RecordOnCommand(accesstest::Child& self, const std::string& path) {
    CWinEegFile file;
    file.Create(path.c_str());
    file.SetPatientInfo(Record("Doe", "Jane", "", CPatientInfo::rsReadyToRecord), 1);
    file.PrepareToWriteEeg(kRate, Compression::AdaptiveDelta, Amp32());
    file.SetRecordStatus(CPatientInfo::rsRecording, CPatientInfo::rsReadyToRecord);
    file.SetWriteThreadOnOff(1);
    file.StartRecording(Time(2024, 3, 4, 5, 6, 7));
    uint32_t written = 0;
    Cmd cmd;
    self.Send(written);
    while (self.Receive(cmd)) {
        if (cmd == Cmd::Record) {
            CEegDataChunk c = MakeChunk(written * kRate, 2 * kRate, true);
            file.WriteEegData(c);
            file.FlushWriteBuffer();
            written += 2;
            self.Send(written);
        } else if (cmd == Cmd::Report) {
            const CPatientInfo& info = file.GetPatientInfo();
            Seen seen;
            seen.status = info.GetRecordStatus();
            std::snprintf(seen.last, sizeof seen.last, "%s", info.GetLastName().GetString());
            std::snprintf(seen.qm, sizeof seen.qm, "%s", info.GetQmFileId().GetString());
            self.Send(seen);
        } else {
            file.StopRecording();
            file.SetWriteThreadOnOff(0);
            file.Close();
            self.Send(written);
            return 0;
        }
    }
    return 1;
}

}  // namespace

TEST(WinEegFilePatient, ChangesByPathWhileAnotherStationRecords) {
    accesstest::Recording rec;
    accesstest::Child recorder(
        "RECORDER", [&](accesstest::Child& self) { return RecordOnCommand(self, rec.path); });
    uint32_t written = 0;
    ASSERT_TRUE(recorder.Receive(written));
    ::setenv("COMPUTERNAME", "REVIEWER", 1);
    const char* path = rec.path.c_str();
    // Each step runs while the recorder writes two more seconds.
    auto whileRecording = [&](auto&& step) {
        ASSERT_TRUE(recorder.Send(Cmd::Record));
        step();
        ASSERT_TRUE(recorder.Receive(written));
    };

    whileRecording([&] {
        CPatientInfo info;
        ASSERT_EQ(CEegFile::GetPatientInfo(path, info), 1);
        EXPECT_EQ(info, Record("Doe", "Jane", "", CPatientInfo::rsRecording));
    });
    whileRecording([&] {
        CPatientInfo info = Record("Roe", "Jane", "", CPatientInfo::rsReadyToArchive);
        EXPECT_EQ(CEegFile::SetPatientInfo(path, info, 1), 1);
    });
    EXPECT_EQ(StoredStatus(rec.path), CPatientInfo::rsReadyToArchive);
    whileRecording([&] {
        // Without the status: the stored one is kept, and handed back in info.
        CPatientInfo info = Record("Poe", "Jane", "", CPatientInfo::rsArchived);
        EXPECT_EQ(CEegFile::SetPatientInfo(path, info, 0), 1);
        EXPECT_EQ(info.GetRecordStatus(), CPatientInfo::rsReadyToArchive);
    });
    whileRecording([&] {
        CPatientInfo before;
        EXPECT_EQ(CEegFile::SetStatusForArchive(path, CPatientInfo::rsArchived, "QM-1", before), 1);
        EXPECT_EQ(before, Record("Poe", "Jane", "", CPatientInfo::rsReadyToArchive));
    });
    whileRecording([&] {
        CPatientInfo before;
        EXPECT_EQ(CEegFile::SetQmFileId(path, "QM-2", before), 1);
        EXPECT_EQ(before, Record("Poe", "Jane", "QM-1", CPatientInfo::rsArchived));
    });
    // This station's passing entries are gone; the recorder's stays.
    EXPECT_EQ(ControlFileStations(rec.control), "RECORDER#1:2;");

    ASSERT_TRUE(recorder.Send(Cmd::Report));
    Seen seen;
    ASSERT_TRUE(recorder.Receive(seen));
    EXPECT_EQ(seen.status, CPatientInfo::rsArchived);
    EXPECT_STREQ(seen.last, "Poe");
    EXPECT_STREQ(seen.qm, "QM-2");
    ASSERT_TRUE(recorder.Send(Cmd::Close));
    ASSERT_TRUE(recorder.Receive(written));
    EXPECT_EQ(recorder.Wait(), 0);
    EXPECT_TRUE(rec.Clean());

    // The samples recorded meanwhile are whole, and the backup copy taken at
    // close holds the record as changed by path.
    EXPECT_EQ(ReadableSeconds(rec.path, written), static_cast<int>(written));
    EXPECT_EQ(StreamBytes(rec.path, "Patient", 2), StreamBytes(rec.path, "Patient", 1));
    CWinEegFile reader;
    reader.Open(path, 0);
    EXPECT_EQ(reader.GetPatientInfo(), Record("Poe", "Jane", "QM-2", CPatientInfo::rsArchived));
    ::unsetenv("COMPUTERNAME");
}

TEST(WinEegFilePatient, StoredBytesAreRewrittenFromTheStart) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, Record("Doe", "Jane", "", CPatientInfo::rsReadyToRead), 2);
    EXPECT_EQ(StreamBytes(path, "Patient"), RecordBytes("Doe", "Jane", "", 2));

    CPatientInfo before;
    ASSERT_EQ(
        CEegFile::SetStatusForArchive(path.c_str(), CPatientInfo::rsReadyToArchive, "Q7", before),
        1);
    const std::vector<uint8_t> longer = RecordBytes("Doe", "Jane", "Q7", 3);
    EXPECT_EQ(StreamBytes(path, "Patient"), longer);

    // A shorter record overwrites the start; the stream keeps its length and
    // the old tail, which nothing reads.
    ASSERT_EQ(CEegFile::SetQmFileId(path.c_str(), "", before), 1);
    std::vector<uint8_t> expected = RecordBytes("Doe", "Jane", "", 3);
    expected.insert(expected.end(), longer.end() - 2, longer.end());
    EXPECT_EQ(StreamBytes(path, "Patient"), expected);
    CPatientInfo info;
    ASSERT_EQ(CEegFile::GetPatientInfo(path.c_str(), info), 1);
    EXPECT_EQ(info, Record("Doe", "Jane", "", CPatientInfo::rsReadyToArchive));

    // A record longer than its section: the identifier change goes on into a
    // section at the end of the file, the full change rewrites from the start.
    const std::string longId(20000, 'q');
    ASSERT_EQ(CEegFile::SetQmFileId(path.c_str(), longId.c_str(), before), 1);
    ASSERT_EQ(CEegFile::GetPatientInfo(path.c_str(), info), 1);
    EXPECT_EQ(info.GetQmFileId(), CString(longId.c_str()));
    CPatientInfo big = Record("Big", std::string(30000, 'f').c_str(), "", CPatientInfo::rsArchived);
    ASSERT_EQ(CEegFile::SetPatientInfo(path.c_str(), big, 1), 1);
    ASSERT_EQ(CEegFile::GetPatientInfo(path.c_str(), info), 1);
    EXPECT_EQ(info, big);
    EXPECT_EQ(ReadableSeconds(path, 2), 2);
    CWinEegFile file;
    file.Open(path.c_str(), 0);
    EXPECT_EQ(file.GetPatientInfo(), big);
}

TEST(WinEegFilePatient, RecordStatusRules) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, Record("Doe", "Jane", "", CPatientInfo::rsReadyToRead), 1);
    const char* p = path.c_str();
    Status prev = CPatientInfo::rsAny;
    // Expected "any" always sets; a mismatch changes nothing; both report the old status.
    EXPECT_EQ(
        CEegFile::SetRecordStatus(p, CPatientInfo::rsReadyToArchive, CPatientInfo::rsAny, &prev),
        1);
    EXPECT_EQ(prev, CPatientInfo::rsReadyToRead);
    const std::vector<uint8_t> stored = StreamBytes(path, "Patient");
    EXPECT_EQ(
        CEegFile::SetRecordStatus(p, CPatientInfo::rsArchived, CPatientInfo::rsRecording, &prev),
        1);
    EXPECT_EQ(prev, CPatientInfo::rsReadyToArchive);
    EXPECT_EQ(StreamBytes(path, "Patient"), stored);
    EXPECT_EQ(CEegFile::SetRecordStatus(p, CPatientInfo::rsArchived, CPatientInfo::rsReadyToArchive,
                                        nullptr),
              1);
    EXPECT_EQ(StoredStatus(path), CPatientInfo::rsArchived);

    // Status 5 whenever the record cannot be read: a missing file, a file that is
    // no container, an empty file, a container without "Patient".
    const std::string garbage = dir.File("garbage.eeg");
    testsupport::WriteBytes(garbage, std::vector<unsigned char>(3000, 0xA7));
    const std::string empty = dir.File("empty.eeg");
    testsupport::WriteBytes(empty, {});
    const std::string bare = dir.File("bare.eeg");
    {
        CWinEegFile file;
        file.Create(bare.c_str());
    }
    for (const std::string& bad : {dir.File("none.eeg"), garbage, empty, bare}) {
        SCOPED_TRACE(bad);
        const std::vector<uint8_t> bytes = ReadBytes(bad);
        Status s = CPatientInfo::rsReadyToRead;
        EXPECT_EQ(CEegFile::GetRecordStatus(bad.c_str(), s), 0);
        EXPECT_EQ(s, CPatientInfo::rsUnknown);
        prev = CPatientInfo::rsReadyToRead;
        EXPECT_EQ(CEegFile::SetRecordStatus(bad.c_str(), CPatientInfo::rsArchived,
                                            CPatientInfo::rsAny, &prev),
                  0);
        EXPECT_EQ(prev, CPatientInfo::rsUnknown);
        CPatientInfo info = Record("X", "", "", CPatientInfo::rsArchived);
        EXPECT_EQ(CEegFile::SetPatientInfo(bad.c_str(), info, 1), 0);
        EXPECT_EQ(CEegFile::SetQmFileId(bad.c_str(), "Q", info), 0);
        EXPECT_EQ(info, CPatientInfo());
        EXPECT_EQ(ReadBytes(bad), bytes);
        EXPECT_FALSE(std::filesystem::exists(dir.File("none.eeg")));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$co")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$lo")));
}

TEST(WinEegFilePatient, CleanUpAfterAFailedStation) {
    accesstest::Recording rec;
    MakeRecording(rec.path, Record("Doe", "Jane", "", CPatientInfo::rsRecording), 1);
    accesstest::Station other("OTHER", rec.path);
    ASSERT_EQ(other.Take(CEegAccessMode::eamRead), 1);
    ::setenv("COMPUTERNAME", "ACQ", 1);
    // A station of this computer that died holding mode `mode`.
    auto diedHolding = [&](int mode) {
        accesstest::Station dead("ACQ", rec.path);
        ASSERT_EQ(dead.Take(mode), 1);
        dead.Kill();
    };
    int wasWriting = -1;

    diedHolding(CEegAccessMode::eamWrite);
    diedHolding(CEegAccessMode::eamRead);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;ACQ#1:2;ACQ#2:0;");
    CEegFile::CleanUpOpenFile(rec.path.c_str(), CPatientInfo::rsReadyToArchive, "QM", wasWriting);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;");
    CPatientInfo info;
    ASSERT_EQ(CEegFile::GetPatientInfo(rec.path.c_str(), info), 1);
    EXPECT_EQ(info, Record("Doe", "Jane", "", CPatientInfo::rsReadyToRead));

    // A writer leaves a status other than "recording" as it is.
    ASSERT_EQ(CEegFile::SetRecordStatus(rec.path.c_str(), CPatientInfo::rsArchived,
                                        CPatientInfo::rsAny, nullptr),
              1);
    diedHolding(CEegAccessMode::eamWriteMark);
    CEegFile::CleanUpOpenFile(rec.path.c_str(), CPatientInfo::rsReadyToRead, "QM", wasWriting);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_EQ(StoredStatus(rec.path), CPatientInfo::rsArchived);

    // A reader with status "unknown": the record stays byte for byte.
    diedHolding(CEegAccessMode::eamReadMark);
    const std::vector<uint8_t> stored = StreamBytes(rec.path, "Patient");
    CEegFile::CleanUpOpenFile(rec.path.c_str(), CPatientInfo::rsUnknown, "QM", wasWriting);
    EXPECT_EQ(wasWriting, 0);
    EXPECT_EQ(StreamBytes(rec.path, "Patient"), stored);
    EXPECT_EQ(ControlFileStations(rec.control), "OTHER#1:0;");

    // A reader with a status: the record takes it and the identifier.
    diedHolding(CEegAccessMode::eamRead);
    CEegFile::CleanUpOpenFile(rec.path.c_str(), CPatientInfo::rsReadyToArchive, "QM9", wasWriting);
    EXPECT_EQ(wasWriting, 0);
    ASSERT_EQ(CEegFile::GetPatientInfo(rec.path.c_str(), info), 1);
    EXPECT_EQ(info, Record("Doe", "Jane", "QM9", CPatientInfo::rsReadyToArchive));

    other.Release();
    EXPECT_TRUE(rec.Clean());
    ::unsetenv("COMPUTERNAME");
}

TEST(WinEegFilePatient, MembersOnAnOpenRecording) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, Record("Doe", "Jane", "", CPatientInfo::rsReadyToRead), 1);
    {
        CWinEegFile file;
        file.Open(path.c_str(), 1);
        file.SetPatientInfo(Record("Roe", "Jim", "", CPatientInfo::rsArchived), 0);
        EXPECT_EQ(StoredStatus(path), CPatientInfo::rsReadyToRead);
        EXPECT_EQ(file.GetPatientInfo(), Record("Roe", "Jim", "", CPatientInfo::rsReadyToRead));
        file.SetRecordStatus(CPatientInfo::rsArchived, CPatientInfo::rsRecording);
        EXPECT_EQ(file.GetRecordStatus(), CPatientInfo::rsReadyToRead);
        file.SetRecordStatus(CPatientInfo::rsReadyToArchive, CPatientInfo::rsReadyToRead);
        EXPECT_EQ(StoredStatus(path), CPatientInfo::rsReadyToArchive);
        file.SetRecordStatus(CPatientInfo::rsRecording, CPatientInfo::rsAny);
        EXPECT_EQ(StoredStatus(path), CPatientInfo::rsRecording);
        // A change by path shows at the next read of the open recording.
        CPatientInfo before;
        ASSERT_EQ(CEegFile::SetQmFileId(path.c_str(), "QM5", before), 1);
        EXPECT_EQ(file.GetPatientInfo().GetQmFileId(), CString("QM5"));

        // A record of an unknown version: reading throws code 2, a status change
        // fails quietly and leaves the bytes.
        std::vector<uint8_t> bad = StreamBytes(path, "Patient");
        bad[1] ^= 0x0F;
        ReplacePatientStream(path, bad);
        ExpectThrows<CEegFileException>(
            [&] { file.GetRecordStatus(); },
            [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 2); });
        file.SetRecordStatus(CPatientInfo::rsArchived, CPatientInfo::rsAny);
        EXPECT_EQ(StreamBytes(path, "Patient"), bad);
        file.SetPatientInfo(Record("Roe", "Jim", "", CPatientInfo::rsReadyToRead), 1);
        EXPECT_EQ(StreamBytes(path, "Patient"), RecordBytes("Roe", "Jim", "", 2));

        // Without file access: status 5, no write; the record changes in memory only.
        file.DisableFileAccess();
        EXPECT_EQ(file.GetRecordStatus(), CPatientInfo::rsUnknown);
        file.SetRecordStatus(CPatientInfo::rsArchived, CPatientInfo::rsAny);
        file.SetPatientInfo(Record("Mem", "", "", CPatientInfo::rsArchived), 1);
        EXPECT_EQ(file.GetPatientInfo(), Record("Mem", "", "", CPatientInfo::rsArchived));
        EXPECT_EQ(StreamBytes(path, "Patient"), RecordBytes("Roe", "Jim", "", 2));
    }
    // Closing without file access left this writer's entry; the clean-up removes
    // it and leaves a status other than "recording" as it is.
    int wasWriting = 0;
    CEegFile::CleanUpOpenFile(path.c_str(), CPatientInfo::rsUnknown, "", wasWriting);
    EXPECT_EQ(wasWriting, 1);
    EXPECT_EQ(StreamBytes(path, "Patient"), RecordBytes("Roe", "Jim", "", 2));
    // A read-only file: the record reads, every change by path answers 0 and
    // touches nothing, SetPatientInfo on the open recording raises code 12.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const std::vector<uint8_t> bytes = ReadBytes(path);
    CWinEegFile file;
    file.Open(path.c_str(), 1);
    EXPECT_EQ(file.GetRecordStatus(), CPatientInfo::rsReadyToRead);
    ExpectThrows<CEegFileException>(
        [&] { file.SetPatientInfo(Record("X", "", "", CPatientInfo::rsArchived), 1); },
        [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 12); });
    file.SetRecordStatus(CPatientInfo::rsArchived, CPatientInfo::rsAny);
    EXPECT_EQ(file.GetRecordStatus(), CPatientInfo::rsReadyToRead);
    CPatientInfo info = Record("X", "", "", CPatientInfo::rsArchived);
    EXPECT_EQ(CEegFile::SetPatientInfo(path.c_str(), info, 1), 0);
    EXPECT_EQ(CEegFile::SetRecordStatus(path.c_str(), CPatientInfo::rsArchived, CPatientInfo::rsAny,
                                        nullptr),
              0);
    EXPECT_EQ(CEegFile::SetStatusForArchive(path.c_str(), CPatientInfo::rsArchived, "Q", info), 0);
    EXPECT_EQ(StoredStatus(path), CPatientInfo::rsReadyToRead);
    file.Close();
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$co")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$lo")));
}

TEST(WinEegFilePatient, HeldRecordsAndDamagedRecords) {
    accesstest::Recording rec;
    MakeRecording(rec.path, Record("Doe", "Jane", "", CPatientInfo::rsReadyToRead), 1);
    const char* path = rec.path.c_str();
    Status prev = CPatientInfo::rsAny;
    {
        // An exclusive holder leaves the change without a lock file: it goes ahead.
        accesstest::Station holder("EXCL", rec.path);
        ASSERT_EQ(holder.Take(CEegAccessMode::eamExclusive), 1);
        EXPECT_EQ(CEegFile::SetRecordStatus(path, CPatientInfo::rsReadyToArchive,
                                            CPatientInfo::rsAny, &prev),
                  1);
        EXPECT_EQ(prev, CPatientInfo::rsReadyToRead);
        EXPECT_EQ(StoredStatus(rec.path), CPatientInfo::rsReadyToArchive);
        EXPECT_EQ(ControlFileStations(rec.control), "EXCL#1:4;");
        holder.Release();
    }
    {
        // A station holding the patient region: reading by path takes no lock;
        // a change waits for the region, gives up and leaves no entry.
        accesstest::Station holder("HOLDER", rec.path);
        ASSERT_EQ(holder.Take(CEegAccessMode::eamRead), 1);
        ASSERT_EQ(
            holder.Do(accesstest::Op::Lock,
                      EegControlFileFormat::RegionByte(CEegStreamType::estPatient, 1), 1, 1000),
            0);
        EXPECT_EQ(StoredStatus(rec.path), CPatientInfo::rsReadyToArchive);
        EXPECT_EQ(
            CEegFile::SetRecordStatus(path, CPatientInfo::rsArchived, CPatientInfo::rsAny, &prev),
            0);
        EXPECT_EQ(prev, CPatientInfo::rsUnknown);
        EXPECT_EQ(ControlFileStations(rec.control), "HOLDER#1:0;");
        holder.Release();
    }
    EXPECT_EQ(StoredStatus(rec.path), CPatientInfo::rsReadyToArchive);
    EXPECT_TRUE(rec.Clean());

    // An unknown record version or status is code 2, a short record the
    // archive's end of file; a full rewrite needs no read and repairs it.
    const std::vector<uint8_t> good = StreamBytes(rec.path, "Patient");
    std::vector<uint8_t> badVersion = good, badStatus = good;
    badVersion[1] ^= 0x0F;
    badStatus[good.size() - 20] = 9;  // the record status field
    for (const auto& bytes : {badVersion, badStatus}) {
        ReplacePatientStream(rec.path, bytes);
        CPatientInfo info;
        auto code2 = [](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), 2); };
        ExpectThrows<CEegFileException>([&] { CEegFile::GetPatientInfo(path, info); }, code2);
        Status s = CPatientInfo::rsAny;
        ExpectThrows<CEegFileException>([&] { CEegFile::GetRecordStatus(path, s); }, code2);
        EXPECT_EQ(s, CPatientInfo::rsUnknown);
        ExpectThrows<CEegFileException>(
            [&] { CEegFile::SetRecordStatus(path, s, CPatientInfo::rsAny, nullptr); }, code2);
        ExpectThrows<CEegFileException>([&] { CEegFile::SetPatientInfo(path, info, 0); }, code2);
        EXPECT_EQ(StreamBytes(rec.path, "Patient"), bytes);
        EXPECT_TRUE(rec.Clean());
    }
    ReplacePatientStream(rec.path, std::vector<uint8_t>(good.begin(), good.begin() + 10));
    CPatientInfo info;
    auto endOfFile = [](CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
    };
    ExpectThrows<CArchiveException>([&] { CEegFile::GetPatientInfo(path, info); }, endOfFile);
    ExpectThrows<CArchiveException>([&] { CEegFile::SetQmFileId(path, "Q", info); }, endOfFile);
    EXPECT_TRUE(rec.Clean());
    info = Record("New", "", "", CPatientInfo::rsReadyToRead);
    ASSERT_EQ(CEegFile::SetPatientInfo(path, info, 1), 1);
    EXPECT_EQ(StoredStatus(rec.path), CPatientInfo::rsReadyToRead);
    EXPECT_EQ(ReadableSeconds(rec.path, 1), 1);
}

TEST(WinEegFilePatient, FailedWritesAndDamagedFilesNeverCrash) {
    TempDir dir;
    const std::string path = dir.File("rec.eeg");
    MakeRecording(path, Record("Doe", "Jane", "", CPatientInfo::rsReadyToRead), 1);
    // Each write of a change in turn fails: the change answers 0 or completes,
    // the record stays readable and no entry or lock file is left.
    int failed = 0;
    for (int n = 1; n <= 8; ++n) {
        SCOPED_TRACE(n);
        const Status next = n % 2 ? CPatientInfo::rsArchived : CPatientInfo::rsReadyToRead;
        FaultInjection::Arm(FaultInjection::Op::Write, n, ENOSPC);
        const int result =
            CEegFile::SetRecordStatus(path.c_str(), next, CPatientInfo::rsAny, nullptr);
        FaultInjection::Disarm();
        failed += result == 0;
        const Status now = StoredStatus(path);
        if (result == 1) {
            EXPECT_EQ(now, next);
        }
        EXPECT_TRUE(NoStations(dir.File("rec.$co")));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$co")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("rec.$lo")));
    EXPECT_GT(failed, 0);
    EXPECT_EQ(ReadableSeconds(path, 1), 1);

    // Damaged and truncated copies: every static answers or throws, never crashes.
    const std::vector<unsigned char> good = ReadBytes(path);
    std::mt19937 random(7);
    const std::string bad = dir.File("bad.eeg");
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
        for (int op = 0; op < 4; ++op) {
            try {
                if (op == 0)
                    CEegFile::GetRecordStatus(bad.c_str(), s);
                if (op == 1)
                    CEegFile::SetStatusForArchive(bad.c_str(), CPatientInfo::rsArchived, "Q", info);
                if (op == 2)
                    CEegFile::SetPatientInfo(bad.c_str(), info, 0);
                if (op == 3)
                    CEegFile::CleanUpOpenFile(bad.c_str(), CPatientInfo::rsReadyToArchive, "Q",
                                              wasWriting);
            } catch (CException* e) {
                e->Delete();
            }
        }
        EXPECT_TRUE(NoStations(dir.File("bad.$co")));
    }
}
