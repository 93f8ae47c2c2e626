// The legacy patient record by path through the real ODBC driver manager and
// SQLite's driver: CEegFile::GetPatientInfo of a recording whose row is in a
// database of 100 rows, then of 10 000 rows (the time must not grow with the
// table), and of a recording with a patient file and no row (the fallback).
// Each is the median (and 90th percentile) of 1000 calls at random rows; each
// call connects, finds the row by its key and reads it, as a station does.
//
// The data source is registered in an ODBC configuration of the benchmark's own
// folder, never the machine's.
//
// Usage: PatientDbBench [folder ($TMPDIR or /tmp)]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "EegFile/dos/DosPatientDB.h"
#include "EegFile/frame/EegFile.h"
#include "Platform/Exception.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Log(const fs::path& data, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "EEG%05d.LOG", number);
    return (data / name).string();
}

// Median and 90th percentile of calls of GetPatientInfo at random record numbers.
void Measure(const char* what, const fs::path& data, int rows, bool expectRow) {
    std::mt19937 random(7);
    std::vector<double> us;
    int found = 0;
    for (int i = 0; i < 1000; ++i) {
        const int number = 1 + static_cast<int>(random() % rows);
        CPatientInfo info;
        const auto start = Clock::now();
        CEegFile::GetPatientInfo(Log(data, number).c_str(), info);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        found += info.GetLastName() == "Row" ? 1 : 0;
    }
    std::sort(us.begin(), us.end());
    std::printf("  %-44s median %7.0f us, p90 %7.0f us  (%s)\n", what, us[500], us[900],
                (found == 1000) == expectRow ? "records as expected" : "WRONG RECORDS");
}

void AddRows(int from, int to) {
    CDatabase db;
    db.OpenEx("ODBC;DSN=DOS Patient DB;");
    CDosPatientDB rows(&db);
    db.ExecuteSQL("BEGIN");
    for (int n = from; n <= to; ++n)
        rows.AddRecord(n);
    db.ExecuteSQL("UPDATE [PATIENT] SET [Last Name] = 'Row', [Status_] = 'READY TO READ'");
    db.ExecuteSQL("COMMIT");
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path folder = fs::path(argc > 1 ? argv[1]
                                     : tmp    ? tmp
                                              : "/tmp") /
                            ("PatientDbBench." + std::to_string(getpid()));
    fs::create_directories(folder / "DATA");
    std::string driver = "libsqlite3odbc.so";
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc/", "/usr/lib/aarch64-linux-gnu/odbc/"})
        if (fs::exists(std::string(dir) + driver))
            driver = dir + driver;
    std::ofstream(folder / "odbcinst.ini") << "[SQLite3]\nDriver=" << driver << "\n";
    std::ofstream(folder / "odbc.ini") << "";
    std::ofstream(folder / "user.ini") << "";
    ::setenv("ODBCSYSINI", folder.c_str(), 1);
    ::setenv("ODBCINI", (folder / "user.ini").c_str(), 1);

    int status = 0;
    try {
        if (!CDosPatientDB::SetDataSource((folder / "DATA").c_str()))
            throw new CDBException(-1, "the data source could not be registered", "");
        std::printf("PatientDbBench: GetPatientInfo by path, SQLite through unixODBC\n");
        AddRows(1, 100);
        Measure("row in a table of 100 rows", folder / "DATA", 100, true);
        AddRows(101, 10000);
        Measure("row in a table of 10 000 rows (target: 5 ms)", folder / "DATA", 10000, true);
        // No row: the database is asked, then the patient file is read.
        const fs::path other = folder / "OTHER";
        fs::create_directories(other);
        std::ofstream(other / "EEG00001.PDB") << "Last Name = Row\r\nStatus! = READING\r\n\x1a";
        Measure("no row, a patient file beside the log", other, 1, true);
    } catch (CException* e) {
        std::fprintf(stderr, "PatientDbBench: %s\n", e->GetErrorText().GetString());
        e->Delete();
        status = 1;
    }
    CDosPatientDB::SetDataSource("");
    fs::remove_all(folder);
    return status;
}
