// CDosPatientDB: the legacy patient database, one row per recording keyed by its
// record number ("[Log Number]"), reached through ODBC under the data source
// "DOS Patient DB". All stations of a site share it.
//
// The embedded default is SQLite through its ODBC driver: the database is the file
// "Patient.db" in the "Control" folder beside the data folder (for recordings in
// /site/DATA, /site/Control/Patient.db), created with its table when missing. A
// site whose stations share one database over the network points the data source
// at a PostgreSQL server instead, with the attribute "DefaultDir" naming the
// folder the database stands for; only the data source differs.
//
// A row is found by a query on its key rather than by moving through the table
// row by row: the same row while the record number is unique, in a time that does
// not grow with the table. Updates write only the columns that changed, in one
// statement. A database that another station holds locked makes an operation fail
// after the driver's wait (the data source's "Timeout", set here to a few seconds),
// never hang.
#pragma once

#include "EegBase/PatientInfo.h"
#include "Platform/Database.h"

class CDosPatientDB : public CRecordset {
public:
    static constexpr const char* kDataSourceName = "DOS Patient DB";
    static constexpr const char* kDefaultDriver = "SQLite3";
    static constexpr const char* kDatabaseFile = "Patient.db";
    static constexpr int kBusyTimeoutMs = 2000;

    explicit CDosPatientDB(CDatabase* db = nullptr);

    CString GetDefaultConnect() override;  // "ODBC;DSN=DOS Patient DB;"
    CString GetDefaultSQL() override;      // "[PATIENT]"
    void DoFieldExchange(CFieldExchange* fx) override;
    // Data truncated to a column's size (State 01004) is taken as read.
    void CheckRowsetError(RETCODE code) override;

    // Moves to the row of the record number; 0 when there is none. The rows that
    // follow are those of the same number.
    int SeekToRecord(int number);
    // On failure the record is initialised and 0 returned.
    int GetPatientInfo(int number, CPatientInfo& info);
    int GetCurrentPatientInfo(int& number, CPatientInfo& info);
    // Moves to the next row first; 0 at the end.
    int GetNextPatientInfo(int& number, CPatientInfo& info);
    // The patient's fields, and with includingStatus the status word and the record
    // date and time; the update's result, 0 when the row is not found.
    int SetPatientInfo(int number, CPatientInfo& info, int includingStatus);
    // 1 when the row was deleted; database failures give 0.
    int DeleteRecord(int number);
    // Adds an empty row for the record number (for a site's admission program, and
    // tests); 1 when added.
    int AddRecord(int number);

    // Registers the database of a data folder as the data source ("" removes it);
    // 1 when it is registered.
    static int SetDataSource(const char* dataDir);
    // Adds the data source for a database folder (created when missing).
    static int ConfigDataSource(const char* dbDir);
    // Whether a recording's row lives in the database: a record number above 0 and
    // the "Control" folder beside its folder the database folder.
    static int FileIsInDbDataDir(const char* path);
    // The database folder, asked of the data source once and then kept; "" while
    // the data source cannot be opened (asked again next time).
    static CString GetDbPath();
    static int PathsAreTheSame(CString a, CString b);
    // The number in a name "EEGnnnnn" (any letter case), else -1.
    static int NewGetRecordNumber(const char* path);
    static int ConvertDosStatusToWin(const CString& word);

    // The columns, in exchange order.
    double m_LogNumber = 0;
    CString m_Owner, m_FileName, m_LastName, m_FirstName, m_MiddleInitial, m_PatientId, m_BirthDate,
        m_Sex, m_Physician, m_Technician, m_Medications, m_History, m_Comments, m_Status, m_Date,
        m_Time, m_RecordLength, m_TestType, m_CurrentUsers;

private:
    void TransferInfo(CPatientInfo& info) const;
    // Creates the table when the database has none.
    void EnsureTable();
};
