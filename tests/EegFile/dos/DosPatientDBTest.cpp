// The legacy patient database through the real unixODBC driver manager: SQLite's
// driver (the embedded default) and a PostgreSQL server of the test's own.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "DosTestSupport.h"
#include "EegFile/access/AccessTestSupport.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosPatientDB.h"
#include "OdbcTestSupport.h"
#include "Platform/OleDateTime.h"

using testsupport::TempDir;

namespace {

// A site: recordings in DATA, the database in Control beside it.
struct Site {
    TempDir dir;
    std::string data = dir.File("DATA");
    Site() {
        odbctest::UseTestConfiguration();
        std::filesystem::create_directory(data);
    }
    std::string Log(int number) const {
        char name[32];
        std::snprintf(name, sizeof name, "/EEG%05d.LOG", number);
        return data + name;
    }
};

// A record with every field the database keeps, texts at their columns' full size.
CPatientInfo FullRecord(char fill, CPatientInfo::RecordStatus status) {
    CPatientInfo info;
    const std::string s255(255, fill), s10000(10000, fill);
    for (auto field :
         {CPatientInfo::tfLastName, CPatientInfo::tfFirstName, CPatientInfo::tfMiddleInitial,
          CPatientInfo::tfPatientId, CPatientInfo::tfPhysician, CPatientInfo::tfTechnician})
        info.SetText(field, s255.c_str());
    for (auto field :
         {CPatientInfo::tfMedications, CPatientInfo::tfHistory, CPatientInfo::tfComments})
        info.SetText(field, s10000.c_str());
    info.SetSex(CPatientInfo::sexFemale);
    info.SetBirthDate(COleDateTime(1970, 3, 14, 0, 0, 0).m_dt);
    info.SetRecordDate(COleDateTime(2026, 12, 6, 10, 20, 30).m_dt);
    info.SetRecordStatus(status);
    return info;
}

void ExpectSameRecord(const CPatientInfo& a, const CPatientInfo& b) {
    for (int f = 0; f < CPatientInfo::tfRefPhysician; ++f) {
        const auto field = static_cast<CPatientInfo::TextField>(f);
        EXPECT_EQ(std::string(a.GetText(field)), std::string(b.GetText(field))) << "field " << f;
    }
    EXPECT_EQ(a.GetSex(), b.GetSex());
    EXPECT_EQ(a.GetRecordStatus(), b.GetRecordStatus());
    EXPECT_EQ(a.GetBirthDateStatus(), b.GetBirthDateStatus());
    EXPECT_NEAR(a.GetBirthDate(), b.GetBirthDate(), 1e-6);
    EXPECT_NEAR(a.GetRecordDate(), b.GetRecordDate(), 1.0 / 86400);
}

// Every field both ways through the by-path statics, the row as the columns hold
// it, and the status words in both directions.
// Where the database takes texts longer than a column (SQLite does), they read cut
// to the column's size.
void RoundTrip(const Site& site, bool overlongRows) {
    const std::string log = site.Log(42);
    CDosPatientDB rows;
    ASSERT_EQ(rows.AddRecord(42), 1);
    CPatientInfo written = FullRecord('x', CPatientInfo::rsReadyToArchive);
    ASSERT_EQ(CEegFile::SetPatientInfo(log.c_str(), written, 1), 1);
    EXPECT_FALSE(std::filesystem::exists(site.data + "/EEG00042.PDB"));  // the database took it
    CPatientInfo read;
    ASSERT_EQ(CEegFile::GetPatientInfo(log.c_str(), read), 1);
    written.SetLogNumber("42");
    ExpectSameRecord(written, read);

    ASSERT_EQ(rows.SeekToRecord(42), 1);
    EXPECT_EQ(std::string(rows.m_Status), "READY TO ARCHIVE");
    EXPECT_EQ(std::string(rows.m_BirthDate), "03/14/1970");
    EXPECT_EQ(std::string(rows.m_Sex), "F");

    struct Case {
        const char* stored;
        CPatientInfo::RecordStatus read;
        const char* writtenBack;  // what writing the status read leaves in the row
    };
    const Case cases[] = {{"READY TO RECORD", CPatientInfo::rsReadyToRecord, "READY TO RECORD"},
                          {"RECORDING", CPatientInfo::rsRecording, "RECORDING"},
                          {"READING", CPatientInfo::rsReadyToRead, "READY TO READ"},
                          {"READY TO ARCHIVE", CPatientInfo::rsReadyToArchive, "READY TO ARCHIVE"},
                          {"REVIEWING", CPatientInfo::rsArchived, "ARCHIVED"},
                          {"reading", CPatientInfo::rsUnknown, "reading"}};
    for (const Case& c : cases) {
        rows.Edit();
        rows.m_Status = c.stored;
        ASSERT_TRUE(rows.Update());
        CPatientInfo::RecordStatus status = CPatientInfo::rsAny, previous = CPatientInfo::rsAny;
        EXPECT_EQ(CEegFile::GetRecordStatus(log.c_str(), status), 1);
        EXPECT_EQ(status, c.read) << c.stored;
        EXPECT_EQ(CEegFile::SetRecordStatus(log.c_str(), c.read, c.read, &previous), 1);
        EXPECT_EQ(previous, c.read);
        ASSERT_EQ(rows.SeekToRecord(42), 1);
        EXPECT_EQ(std::string(rows.m_Status), c.writtenBack) << c.stored;
    }

    if (overlongRows) {
        rows.GetDatabase()->ExecuteSQL(("INSERT INTO [PATIENT] ([Log Number], [Last Name], "
                                        "[History]) VALUES (43, '" +
                                        std::string(300, 'L') + "', '" + std::string(10050, 'H') +
                                        "')")
                                           .c_str());
        ASSERT_EQ(CEegFile::GetPatientInfo(site.Log(43).c_str(), read), 1);
        EXPECT_EQ(std::string(read.GetLastName()), std::string(255, 'L'));
        EXPECT_EQ(std::string(read.GetHistory()), std::string(10000, 'H'));
    } else {
        ASSERT_EQ(rows.AddRecord(43), 1);
    }

    // The rows in turn, then deleted.
    int number = 0, seen = 0;
    CDosPatientDB all;
    while (all.GetNextPatientInfo(number, read))
        seen += number;
    EXPECT_EQ(seen, 42 + 43);
    EXPECT_EQ(rows.DeleteRecord(43), 1);
    EXPECT_EQ(rows.DeleteRecord(43), 0);
}

}  // namespace

TEST(DosPatientDB, SQLiteDatabaseOfTheDataFolder) {
    Site site;
    ASSERT_EQ(CDosPatientDB::SetDataSource(site.data.c_str()), 1);
    EXPECT_EQ(CDosPatientDB::PathsAreTheSame(CDosPatientDB::GetDbPath(), site.dir.File("Control")),
              1);
    EXPECT_EQ(CDosPatientDB::FileIsInDbDataDir(site.Log(42).c_str()), 1);
    EXPECT_EQ(CDosPatientDB::FileIsInDbDataDir((site.data + "/TEST.LOG").c_str()), 0);
    EXPECT_EQ(CDosPatientDB::FileIsInDbDataDir(site.dir.File("EEG00042.LOG").c_str()), 0);
    EXPECT_EQ(CDosPatientDB::NewGetRecordNumber("/x/eEg00042.log"), 42);
    EXPECT_EQ(CDosPatientDB::NewGetRecordNumber("/x/EEG0042A.LOG"), -1);
    RoundTrip(site, true);
    EXPECT_TRUE(std::filesystem::exists(site.dir.File("Control/Patient.db")));

    // No row and no patient file: the default record, ready to read. A write then
    // goes to the patient file.
    const std::string log = site.Log(44);
    dostest::WriteText(log, "");
    CPatientInfo::RecordStatus status = CPatientInfo::rsAny;
    EXPECT_EQ(CEegFile::GetRecordStatus(log.c_str(), status), 1);
    EXPECT_EQ(status, CPatientInfo::rsReadyToRead);
    CPatientInfo info;
    info.SetLastName("Doe");
    EXPECT_EQ(CEegFile::SetPatientInfo(log.c_str(), info, 0), 1);
    EXPECT_TRUE(std::filesystem::exists(site.data + "/EEG00044.PDB"));

    // Without the data source, nothing reaches the database and nothing throws.
    EXPECT_EQ(CDosPatientDB::SetDataSource(""), 1);
    EXPECT_EQ(CDosPatientDB::FileIsInDbDataDir(site.Log(42).c_str()), 0);
    EXPECT_EQ(CEegFile::GetPatientInfo(site.Log(42).c_str(), info), 1);
    EXPECT_EQ(info.GetRecordStatus(), CPatientInfo::rsReadyToRead);  // the default record
    EXPECT_EQ(CDosEegFile::GetPatientInfoFromDb(site.Log(42).c_str(), info), 0);
}

// Stations writing one database at once: rows of their own and one row they share.
// Every update is whole (the shared row's two names always agree), none is lost,
// and a station holding the database locked makes the others fail, not hang.
TEST(DosPatientDB, StationsWriteOneDatabaseAtOnce) {
    Site site;
    ASSERT_EQ(CDosPatientDB::SetDataSource(site.data.c_str()), 1);
    {
        CDosPatientDB rows;
        for (int n : {50, 51, 60})
            ASSERT_EQ(rows.AddRecord(n), 1);
    }
    constexpr int kUpdates = 5;
    std::vector<pid_t> children;
    for (int station = 0; station < 2; ++station) {
        const pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kUpdates; ++i) {
                CPatientInfo own;
                const std::string name = "S" + std::to_string(station) + "-" + std::to_string(i);
                own.SetLastName(name.c_str());
                failures +=
                    CDosEegFile::SetPatientInfoToDb(site.Log(50 + station).c_str(), own, 0) != 1;
                own.SetFirstName(name.c_str());
                failures += CDosEegFile::SetPatientInfoToDb(site.Log(60).c_str(), own, 0) != 1;
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed updates";
    }
    CPatientInfo info;
    for (int station = 0; station < 2; ++station) {
        ASSERT_EQ(CDosEegFile::GetPatientInfoFromDb(site.Log(50 + station).c_str(), info), 1);
        EXPECT_EQ(std::string(info.GetLastName()),
                  "S" + std::to_string(station) + "-" + std::to_string(kUpdates - 1));
    }
    ASSERT_EQ(CDosEegFile::GetPatientInfoFromDb(site.Log(60).c_str(), info), 1);
    EXPECT_EQ(std::string(info.GetLastName()), std::string(info.GetFirstName()));
    EXPECT_EQ(std::string(info.GetLastName()).substr(3), std::to_string(kUpdates - 1));

    // Another station holds the database locked: a write fails after the wait.
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        CDatabase db;
        db.OpenEx("ODBC;DSN=DOS Patient DB;");
        db.ExecuteSQL("BEGIN EXCLUSIVE");
        char c = 1;
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        db.ExecuteSQL("COMMIT");
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    info.SetLastName("while locked");
    EXPECT_EQ(CDosEegFile::SetPatientInfoToDb(site.Log(50).c_str(), info, 0), 0);
    (void)!write(release[1], &c, 1);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_EQ(CDosEegFile::SetPatientInfoToDb(site.Log(50).c_str(), info, 0), 1);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
    CDosPatientDB::SetDataSource("");
}

// The same code against a PostgreSQL server: only the data source differs.
TEST(DosPatientDB, PostgreSQLServerThroughItsDriver) {
    Site site;
    odbctest::PostgresServer server;
    ASSERT_TRUE(server.Running()) << "PostgreSQL did not start (needs the postgresql package)";
    CDosPatientDB::SetDataSource("");
    ASSERT_TRUE(OdbcInstaller::AddDataSource(
        "PostgreSQL ANSI", {"DSN=DOS Patient DB", CString("Servername=") + server.Socket().c_str(),
                            "Port=5432", "Database=postgres", "Username=eeg",
                            CString("DefaultDir=") + site.dir.File("Control").c_str()}));
    EXPECT_EQ(CDosPatientDB::PathsAreTheSame(CDosPatientDB::GetDbPath(), site.dir.File("Control")),
              1);
    RoundTrip(site, false);
    CDosPatientDB::SetDataSource("");
}

// Without a database, the members and the clean-up of a legacy recording work on
// its patient file.
TEST(DosEegFilePatient, MembersAndCleanUpOnThePatientFile) {
    TempDir dir;
    const std::string log = dir.File("EEG00080.LOG");
    dostest::WriteText(log, "");
    CPatientInfo record;
    record.SetLastName("Doe");
    record.SetRecordStatus(CPatientInfo::rsRecording);
    ASSERT_EQ(CEegFile::SetPatientInfo(log.c_str(), record, 1), 1);
    {
        CDosEegFile f;
        f.Open(log.c_str(), 0);
        EXPECT_EQ(std::string(f.GetPatientInfo().GetLastName()), "Doe");
        EXPECT_EQ(std::string(f.GetPatientInfo().GetLogNumber()), "80");
        EXPECT_EQ(f.GetRecordStatus(), CPatientInfo::rsRecording);
        f.SetRecordStatus(CPatientInfo::rsReadyToArchive, CPatientInfo::rsReadyToRead);
        EXPECT_EQ(f.GetRecordStatus(), CPatientInfo::rsRecording);  // not the status expected
        record.SetLastName("Roe");
        f.SetPatientInfo(record, 0);
        EXPECT_EQ(std::string(f.GetPatientInfo().GetLastName()), "Roe");
        EXPECT_EQ(f.GetRecordStatus(), CPatientInfo::rsRecording);  // status not written
    }
    // A recorder of this computer that died: its entry goes and the recording is
    // ready to read; a reader's clean-up gives the status and Qm file identifier.
    ::setenv("COMPUTERNAME", "ACQ", 1);
    int wasWriting = -1;
    for (int mode : {CEegAccessMode::eamWrite, CEegAccessMode::eamRead}) {
        accesstest::Station dead("ACQ", log);
        ASSERT_EQ(dead.Take(mode), 1);
        dead.Kill();
        CEegFile::CleanUpOpenFile(log.c_str(), CPatientInfo::rsReadyToArchive, "QM7", wasWriting);
        EXPECT_EQ(wasWriting, mode == CEegAccessMode::eamWrite ? 1 : 0);
        CPatientInfo::RecordStatus status = CPatientInfo::rsAny;
        CEegFile::GetRecordStatus(log.c_str(), status);
        EXPECT_EQ(status,
                  wasWriting ? CPatientInfo::rsReadyToRead : CPatientInfo::rsReadyToArchive);
    }
    ::unsetenv("COMPUTERNAME");
    CPatientInfo stored;
    ASSERT_EQ(CEegFile::GetPatientInfo(log.c_str(), stored), 1);
    EXPECT_EQ(stored.GetRecordStatus(), CPatientInfo::rsReadyToArchive);
    EXPECT_EQ(std::string(stored.GetQmFileId()), "QM7");
    EXPECT_EQ(std::string(stored.GetLastName()), "Roe");
}
