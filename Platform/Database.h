// The ODBC services the library uses, over unixODBC: a connection (CDatabase), a
// recordset of bound columns (CRecordset with DoFieldExchange and the RFX_
// functions), the failures as CDBException, and the installer's data-source calls.
//
// The recordset reads and writes rows by its first column, the key, rather than
// by cursor position: the drivers on this platform (SQLite's, PostgreSQL's) have
// no positioned update, and a statement naming the key is the same effect while
// the key is unique. Edit and Update write only the columns changed in between, so
// that stations changing different columns of one row never undo each other, and
// each Update is one statement, applied whole or not at all.
//
// Identifiers written as "[Name]" (the bracket quoting of the original SQL) are
// given the driver's own quote character.
//
// A CDatabase and the recordsets over it belong to one thread at a time.
#pragma once

#include <memory>
#include <vector>

#include "Platform/Exception.h"
#include "Platform/String.h"
#include "Platform/Types.h"

using RETCODE = short;

// An ODBC failure: the return code, the drivers' messages, and one
// "State:xxxxx,Native:n,Origin:[...]" entry per diagnostic record.
class CDBException : public CException {
public:
    CDBException(RETCODE code, const CString& error, const CString& stateNativeOrigin)
        : m_nRetCode(code), m_strError(error), m_strStateNativeOrigin(stateNativeOrigin) {}

    RETCODE m_nRetCode;
    CString m_strError;
    CString m_strStateNativeOrigin;

protected:
    CString MessageText() const override { return m_strError; }
};

class CDatabase {
public:
    enum { noOdbcDialog = 0x0008 };
    // Seconds a connection attempt or one statement may take before it fails.
    static constexpr int kLoginTimeoutSeconds = 10;
    static constexpr int kQueryTimeoutSeconds = 30;

    CDatabase();
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    // connect: "ODBC;DSN=name;..." (the "ODBC;" prefix is optional). Never prompts.
    // TRUE when connected; throws CDBException when the driver refuses.
    BOOL OpenEx(const char* connect, DWORD options = noOdbcDialog);
    void Close();
    BOOL IsOpen() const { return m_dbc != nullptr; }

    // What the driver calls its database (SQL_DATABASE_NAME): a directory, a file
    // or a server's database name, by driver.
    CString GetDatabaseName() const;
    void ExecuteSQL(const char* sql);
    // Whether a table of that name (brackets allowed) exists.
    bool HasTable(const char* table) const;
    // The SQL text with every "[Name]" in the driver's quotes.
    CString QuoteNames(const char* sql) const;

    void* ConnectionHandle() const { return m_dbc; }

private:
    void* m_env = nullptr;
    void* m_dbc = nullptr;
    char m_quote = '"';
};

class CRecordset;

// One pass over a recordset's fields, in exchange order, by the RFX_ functions.
class CFieldExchange {
public:
    enum Operation { Name, Load, Save };
    struct Value {
        bool isText = false;
        CString text;
        double number = 0;
        bool operator==(const Value& o) const {
            return isText == o.isText && text == o.text && number == o.number;
        }
    };

    CFieldExchange(Operation op, CRecordset& rs) : m_nOperation(op), m_rs(rs) {}

    Operation m_nOperation;
    CRecordset& m_rs;
    int m_nField = 0;               // column number of the field (1-based) in Load
    std::vector<CString> m_names;   // Name: the column names as written
    std::vector<int> m_maxLengths;  // Name: the text columns' sizes (0: a number)
    std::vector<Value> m_values;    // Save: the members' values
};

void RFX_Text(CFieldExchange* fx, const char* column, CString& value, int maxLength = 255);
void RFX_Double(CFieldExchange* fx, const char* column, double& value);

class CRecordset {
public:
    // db may be null: Open then connects with GetDefaultConnect and owns that link.
    explicit CRecordset(CDatabase* db = nullptr);
    virtual ~CRecordset();
    CRecordset(const CRecordset&) = delete;
    CRecordset& operator=(const CRecordset&) = delete;

    virtual CString GetDefaultConnect() = 0;
    // The table, as "[NAME]".
    virtual CString GetDefaultSQL() = 0;
    virtual void DoFieldExchange(CFieldExchange* fx) = 0;
    // Called with the result of every fetch and column read. A success with
    // information that the data was truncated (State 01004) throws, as does a
    // failure; other information passes.
    virtual void CheckRowsetError(RETCODE code);

    // Selects every row (in the table's order), or with OpenWhereKey the rows whose
    // key equals key, and moves to the first. Throws CDBException.
    void Open();
    void OpenWhereKey(double key);
    void Close();
    BOOL IsOpen() const { return m_stmt != nullptr; }
    BOOL IsEOF() const { return m_bEOF; }
    void MoveNext();
    // Runs the last selection again.
    void MoveFirst();

    // Edit: the fields as they stand now are the base Update compares with; AddNew:
    // a new row, every field written. Update returns TRUE when a row was written.
    void Edit();
    void AddNew();
    BOOL Update();
    // Deletes the rows of the current key.
    void Delete();

    CDatabase* GetDatabase() const { return m_pDatabase; }

protected:
    // The database, connected through GetDefaultConnect when none was given.
    CDatabase& Connect();

    CDatabase* m_pDatabase;

private:
    friend void RFX_Text(CFieldExchange*, const char*, CString&, int);
    friend void RFX_Double(CFieldExchange*, const char*, double&);
    enum class Mode { None, Edit, AddNew };

    void CollectNames();
    void Select(bool byKey, double key);
    void Fetch();
    std::vector<CFieldExchange::Value> Values();

    std::unique_ptr<CDatabase> m_ownDatabase;
    void* m_stmt = nullptr;
    bool m_bEOF = true;
    bool m_byKey = false;
    double m_key = 0;
    Mode m_mode = Mode::None;
    std::vector<CFieldExchange::Value> m_base;
    std::vector<CString> m_names;
    std::vector<int> m_maxLengths;
};

// The ODBC installer's data-source calls, on the configuration unixODBC reads
// (ODBCSYSINI for drivers, ODBCINI for user data sources).
namespace OdbcInstaller {
// Adds (or replaces) a data source: driver by name, attributes as "KEY=value"
// (the first "DSN=name"). TRUE when written.
BOOL AddDataSource(const char* driver, const std::vector<CString>& attributes);
BOOL RemoveDataSource(const char* dsn);
// A data source's attribute, "" when unset.
CString GetDataSourceAttribute(const char* dsn, const char* key);
}  // namespace OdbcInstaller
