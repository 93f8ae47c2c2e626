#include "Platform/Database.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "Platform/OdbcApi.h"

using OdbcApi::Succeeded;

namespace {

CDBException* MakeException(const OdbcApi::Diagnostics& d) {
    return new CDBException(d.rc, d.error.c_str(), d.states.c_str());
}

short Check(short rc, OdbcApi::HandleType type, void* handle) {
    if (!Succeeded(rc) && rc != OdbcApi::kNoData)
        throw MakeException(OdbcApi::Diagnose(rc, type, handle));
    return rc;
}

constexpr auto kStatement = OdbcApi::HandleType::Statement;

// A statement handle freed on every path.
class CStatement {
public:
    explicit CStatement(const CDatabase& db) {
        OdbcApi::Diagnostics failure;
        m_h =
            OdbcApi::NewStatement(db.ConnectionHandle(), CDatabase::kQueryTimeoutSeconds, failure);
        if (!m_h)
            throw MakeException(failure);
    }
    ~CStatement() { OdbcApi::FreeStatement(m_h); }
    void* Release() {
        void* h = m_h;
        m_h = nullptr;
        return h;
    }
    void* m_h = nullptr;
};

// Parameters bound to a statement; they stay put until it has run.
class CParameters {
public:
    void Add(const CFieldExchange::Value& v) { m_values.push_back(v); }
    void Bind(void* stmt) {
        m_lengths.assign(m_values.size(), 0);
        for (size_t i = 0; i < m_values.size(); ++i) {
            CFieldExchange::Value& v = m_values[i];
            const int n = static_cast<int>(i + 1);
            m_lengths[i] = v.text.GetLength();
            Check(v.isText ? OdbcApi::BindText(stmt, n, v.text, &m_lengths[i])
                           : OdbcApi::BindDouble(stmt, n, &v.number),
                  kStatement, stmt);
        }
    }

private:
    std::vector<CFieldExchange::Value> m_values;
    std::vector<long> m_lengths;
};

// Runs sql with the parameters; the number of rows it touched.
long Run(const CDatabase& db, const CString& sql, CParameters& params) {
    CStatement s(db);
    params.Bind(s.m_h);
    Check(OdbcApi::ExecDirect(s.m_h, static_cast<const char*>(sql)), kStatement, s.m_h);
    return OdbcApi::RowCount(s.m_h);
}

}  // namespace

// ---------------------------------------------------------------- CDatabase

CDatabase::CDatabase() = default;

CDatabase::~CDatabase() {
    Close();
}

BOOL CDatabase::OpenEx(const char* connect, DWORD) {
    Close();
    std::string text = connect ? connect : "";
    if (text.rfind("ODBC;", 0) == 0)
        text.erase(0, 5);
    // The driver manager keeps its own copy of the data sources for 20 s, which the
    // installer's writes do not refresh: a data source just added, changed or
    // removed would be seen as it was. The data source's driver is therefore read
    // here through the installer and named first; the driver reads the rest of the
    // data source itself, fresh.
    std::string upper = text;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.rfind("DSN=", 0) == 0 ? 0 : upper.find(";DSN=");
    if (at != std::string::npos && upper.find("DRIVER=") == std::string::npos) {
        const size_t from = at == 0 ? 4 : at + 5;
        const std::string dsn = text.substr(from, text.find(';', from) - from);
        const std::string driver = OdbcApi::DataSourceAttribute(dsn, "Driver");
        if (driver.empty())
            throw new CDBException(OdbcApi::kError, ("Data source name not found: " + dsn).c_str(),
                                   "State:IM002,Native:0,Origin:");
        text = "DRIVER={" + driver + "};" + text;
    }
    OdbcApi::Diagnostics failure;
    if (!OdbcApi::Connect(text, kLoginTimeoutSeconds, m_env, m_dbc, failure))
        throw MakeException(failure);
    m_quote = OdbcApi::IdentifierQuote(m_dbc);
    return TRUE;
}

void CDatabase::Close() {
    OdbcApi::Disconnect(m_env, m_dbc);
}

CString CDatabase::GetDatabaseName() const {
    return OdbcApi::DatabaseName(m_dbc).c_str();
}

void CDatabase::ExecuteSQL(const char* sql) {
    CParameters none;
    Run(*this, QuoteNames(sql), none);
}

bool CDatabase::HasTable(const char* table) const {
    std::string name = table;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    CStatement s(*this);
    Check(OdbcApi::Tables(s.m_h, name), kStatement, s.m_h);
    return Succeeded(OdbcApi::Fetch(s.m_h));
}

CString CDatabase::QuoteNames(const char* sql) const {
    std::string out;
    for (const char* p = sql; *p; ++p)
        out += *p == '[' || *p == ']' ? m_quote : *p;
    return CString(out.c_str());
}

// ---------------------------------------------------------------- field exchange

void RFX_Text(CFieldExchange* fx, const char* column, CString& value, int maxLength) {
    switch (fx->m_nOperation) {
        case CFieldExchange::Name:
            fx->m_names.push_back(column);
            fx->m_maxLengths.push_back(maxLength);
            break;
        case CFieldExchange::Save: {
            CFieldExchange::Value v;
            v.isText = true;
            v.text = value;
            fx->m_values.push_back(v);
            break;
        }
        case CFieldExchange::Load: {
            // The column's size bounds what is read: a longer value is cut to it, with
            // the driver's truncation notice for CheckRowsetError.
            std::string buffer(static_cast<size_t>(maxLength) + 1, '\0');
            bool isNull = false;
            const short rc = OdbcApi::GetText(fx->m_rs.m_stmt, ++fx->m_nField, buffer.data(),
                                              static_cast<long>(buffer.size()), isNull);
            value = isNull || !Succeeded(rc) ? "" : buffer.c_str();
            fx->m_rs.CheckRowsetError(rc);
            break;
        }
    }
}

void RFX_Double(CFieldExchange* fx, const char* column, double& value) {
    switch (fx->m_nOperation) {
        case CFieldExchange::Name:
            fx->m_names.push_back(column);
            fx->m_maxLengths.push_back(0);
            break;
        case CFieldExchange::Save: {
            CFieldExchange::Value v;
            v.number = value;
            fx->m_values.push_back(v);
            break;
        }
        case CFieldExchange::Load: {
            bool isNull = false;
            double number = 0;
            const short rc = OdbcApi::GetDouble(fx->m_rs.m_stmt, ++fx->m_nField, number, isNull);
            value = isNull || !Succeeded(rc) ? 0 : number;
            fx->m_rs.CheckRowsetError(rc);
            break;
        }
    }
}

// ---------------------------------------------------------------- CRecordset

CRecordset::CRecordset(CDatabase* db) : m_pDatabase(db) {}

CRecordset::~CRecordset() {
    Close();
}

void CRecordset::CheckRowsetError(RETCODE code) {
    if (code == OdbcApi::kSuccess || code == OdbcApi::kNoData)
        return;
    CDBException* e = MakeException(OdbcApi::Diagnose(code, kStatement, m_stmt));
    if (code == OdbcApi::kSuccessWithInfo && e->m_strStateNativeOrigin.Find("State:01004") < 0) {
        e->Delete();
        return;
    }
    throw e;
}

CDatabase& CRecordset::Connect() {
    if (!m_pDatabase) {
        auto db = std::make_unique<CDatabase>();
        db->OpenEx(GetDefaultConnect());
        m_ownDatabase = std::move(db);
        m_pDatabase = m_ownDatabase.get();
    }
    return *m_pDatabase;
}

void CRecordset::CollectNames() {
    if (!m_names.empty())
        return;
    CFieldExchange names(CFieldExchange::Name, *this);
    DoFieldExchange(&names);
    m_names = names.m_names;
    m_maxLengths = names.m_maxLengths;
}

void CRecordset::Select(bool byKey, double key) {
    Close();
    Connect();
    CollectNames();
    CString sql = "SELECT ";
    for (size_t i = 0; i < m_names.size(); ++i)
        sql += (i ? "," : "") + m_names[i];
    sql += " FROM " + GetDefaultSQL();
    if (byKey)
        sql += " WHERE " + m_names[0] + " = ?";
    sql = m_pDatabase->QuoteNames(sql);
    m_byKey = byKey;
    m_key = key;
    CStatement s(*m_pDatabase);
    if (byKey)
        Check(OdbcApi::BindDouble(s.m_h, 1, &m_key), kStatement, s.m_h);
    Check(OdbcApi::ExecDirect(s.m_h, static_cast<const char*>(sql)), kStatement, s.m_h);
    m_stmt = s.Release();
    Fetch();
}

void CRecordset::Open() {
    Select(false, 0);
}

void CRecordset::OpenWhereKey(double key) {
    Select(true, key);
}

void CRecordset::Close() {
    OdbcApi::FreeStatement(m_stmt);
    m_bEOF = true;
    m_mode = Mode::None;
}

void CRecordset::Fetch() {
    const short rc = OdbcApi::Fetch(m_stmt);
    m_bEOF = rc == OdbcApi::kNoData;
    if (m_bEOF)
        return;
    CheckRowsetError(rc);
    CFieldExchange load(CFieldExchange::Load, *this);
    DoFieldExchange(&load);
}

void CRecordset::MoveNext() {
    if (m_stmt && !m_bEOF)
        Fetch();
}

void CRecordset::MoveFirst() {
    Select(m_byKey, m_key);
}

std::vector<CFieldExchange::Value> CRecordset::Values() {
    CFieldExchange save(CFieldExchange::Save, *this);
    DoFieldExchange(&save);
    return save.m_values;
}

void CRecordset::Edit() {
    m_base = Values();
    m_mode = Mode::Edit;
}

void CRecordset::AddNew() {
    m_mode = Mode::AddNew;
}

BOOL CRecordset::Update() {
    const Mode mode = m_mode;
    m_mode = Mode::None;
    if (mode == Mode::None)
        return FALSE;
    Connect();
    CollectNames();
    const std::vector<CFieldExchange::Value> now = Values();
    CParameters params;
    CString sql;
    if (mode == Mode::AddNew) {
        sql = "INSERT INTO " + GetDefaultSQL() + " (";
        CString marks;
        for (size_t i = 0; i < now.size(); ++i) {
            sql += (i ? "," : "") + m_names[i];
            marks += i ? ",?" : "?";
            params.Add(now[i]);
        }
        sql += ") VALUES (" + marks + ")";
    } else {
        CString set;
        for (size_t i = 0; i < now.size(); ++i) {
            if (now[i] == m_base[i])
                continue;
            set += (set.IsEmpty() ? "" : ",") + m_names[i] + " = ?";
            params.Add(now[i]);
        }
        // Nothing changed: the row already holds what the caller wants.
        if (set.IsEmpty())
            return TRUE;
        sql = "UPDATE " + GetDefaultSQL() + " SET " + set + " WHERE " + m_names[0] + " = ?";
        params.Add(m_base[0]);
    }
    return Run(*m_pDatabase, m_pDatabase->QuoteNames(sql), params) > 0;
}

void CRecordset::Delete() {
    if (!m_pDatabase || m_bEOF)
        return;
    CollectNames();
    CParameters params;
    params.Add(Values()[0]);
    Run(*m_pDatabase,
        m_pDatabase->QuoteNames("DELETE FROM " + GetDefaultSQL() + " WHERE " + m_names[0] + " = ?"),
        params);
}

// ---------------------------------------------------------------- installer

namespace OdbcInstaller {

BOOL AddDataSource(const char* driver, const std::vector<CString>& attributes) {
    std::vector<std::string> list;
    std::string dsn;
    for (const CString& a : attributes) {
        list.emplace_back(static_cast<const char*>(a));
        if (a.Left(4).CompareNoCase("DSN=") == 0)
            dsn = a.Mid(4);
    }
    if (OdbcApi::ConfigDataSource(driver, list))
        return TRUE;
    // The drivers of this platform ship no set-up routine for the installer to call;
    // the entries it would write are written through the installer's own profile
    // calls instead, which is all such a routine does.
    if (dsn.empty() || !OdbcApi::WriteDataSource(dsn, driver))
        return FALSE;
    for (const std::string& a : list) {
        const size_t eq = a.find('=');
        if (eq != std::string::npos && eq > 0 && a.substr(0, eq) != "DSN" &&
            !OdbcApi::WriteDataSourceAttribute(dsn, a.substr(0, eq), a.substr(eq + 1)))
            return FALSE;
    }
    return TRUE;
}

BOOL RemoveDataSource(const char* dsn) {
    return OdbcApi::RemoveDataSource(dsn) ? TRUE : FALSE;
}

CString GetDataSourceAttribute(const char* dsn, const char* key) {
    return OdbcApi::DataSourceAttribute(dsn, key).c_str();
}

}  // namespace OdbcInstaller
