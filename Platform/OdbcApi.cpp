#include "Platform/OdbcApi.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>

static_assert(sizeof(SQLLEN) == sizeof(long), "SQLLEN is passed as long");

namespace OdbcApi {

namespace {
SQLSMALLINT Type(HandleType t) {
    return t == HandleType::Environment  ? SQL_HANDLE_ENV
           : t == HandleType::Connection ? SQL_HANDLE_DBC
                                         : SQL_HANDLE_STMT;
}
SQLCHAR* Text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}
}  // namespace

Diagnostics Diagnose(short rc, HandleType type, void* handle) {
    Diagnostics d;
    d.rc = rc;
    for (SQLSMALLINT i = 1; handle && i <= 20; ++i) {
        SQLCHAR state[6] = {0};
        SQLINTEGER native = 0;
        SQLCHAR text[1024] = {0};
        SQLSMALLINT length = 0;
        if (!Succeeded(
                SQLGetDiagRec(Type(type), handle, i, state, &native, text, sizeof text, &length)))
            break;
        if (!d.error.empty())
            d.error += "\n";
        d.error += reinterpret_cast<const char*>(text);
        char entry[64];
        std::snprintf(entry, sizeof entry,
                      "State:%s,Native:%d,Origin:", reinterpret_cast<const char*>(state),
                      static_cast<int>(native));
        d.states += entry;
    }
    if (d.error.empty())
        d.error = "ODBC call failed (" + std::to_string(rc) + ")";
    return d;
}

bool Connect(const std::string& connect, int loginTimeoutSeconds, void*& env, void*& dbc,
             Diagnostics& failure) {
    env = dbc = nullptr;
    SQLHENV e = nullptr;
    SQLHDBC c = nullptr;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e))) {
        failure = Diagnostics{kError, "The ODBC driver manager cannot be used", ""};
        return false;
    }
    SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, e, &c);
    if (!Succeeded(rc)) {
        failure = Diagnose(rc, HandleType::Environment, e);
        SQLFreeHandle(SQL_HANDLE_ENV, e);
        return false;
    }
    SQLSetConnectAttr(c, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(loginTimeoutSeconds)), 0);
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    rc = SQLDriverConnect(c, nullptr, Text(connect), SQL_NTS, out, sizeof out, &outLength,
                          SQL_DRIVER_NOPROMPT);
    if (!Succeeded(rc)) {
        failure = Diagnose(rc, HandleType::Connection, c);
        SQLFreeHandle(SQL_HANDLE_DBC, c);
        SQLFreeHandle(SQL_HANDLE_ENV, e);
        return false;
    }
    env = e;
    dbc = c;
    return true;
}

void Disconnect(void*& env, void*& dbc) {
    if (dbc) {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        dbc = nullptr;
    }
    if (env) {
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        env = nullptr;
    }
}

std::string DatabaseName(void* dbc) {
    char name[4096] = {0};
    SQLSMALLINT length = 0;
    if (!dbc || !Succeeded(SQLGetInfo(dbc, SQL_DATABASE_NAME, name, sizeof name, &length)))
        return std::string();
    return name;
}

char IdentifierQuote(void* dbc) {
    char quote[8] = {0};
    SQLSMALLINT length = 0;
    if (dbc &&
        Succeeded(SQLGetInfo(dbc, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &length)) &&
        quote[0] != ' ' && quote[0] != '\0')
        return quote[0];
    return '"';
}

void* NewStatement(void* dbc, int queryTimeoutSeconds, Diagnostics& failure) {
    SQLHSTMT s = nullptr;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &s);
    if (!Succeeded(rc)) {
        failure = Diagnose(rc, HandleType::Connection, dbc);
        return nullptr;
    }
    SQLSetStmtAttr(s, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(queryTimeoutSeconds)), 0);
    return s;
}

void FreeStatement(void*& stmt) {
    if (stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    stmt = nullptr;
}

short BindDouble(void* stmt, int number, double* value) {
    return SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(number), SQL_PARAM_INPUT, SQL_C_DOUBLE,
                            SQL_DOUBLE, 0, 0, value, 0, nullptr);
}

short BindText(void* stmt, int number, const char* text, long* length) {
    return SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(number), SQL_PARAM_INPUT, SQL_C_CHAR,
                            SQL_VARCHAR, static_cast<SQLULEN>(*length > 0 ? *length : 1), 0,
                            const_cast<char*>(text), *length, length);
}

short ExecDirect(void* stmt, const std::string& sql) {
    return SQLExecDirect(stmt, Text(sql), SQL_NTS);
}

short Tables(void* stmt, const std::string& name) {
    return SQLTables(stmt, nullptr, 0, nullptr, 0, Text(name), SQL_NTS, nullptr, 0);
}

short Fetch(void* stmt) {
    return SQLFetch(stmt);
}

short GetText(void* stmt, int column, char* buffer, long size, bool& isNull) {
    SQLLEN indicator = 0;
    buffer[0] = '\0';
    const SQLRETURN rc =
        SQLGetData(stmt, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, buffer, size, &indicator);
    isNull = indicator == SQL_NULL_DATA;
    return rc;
}

short GetDouble(void* stmt, int column, double& value, bool& isNull) {
    SQLLEN indicator = 0;
    value = 0;
    const SQLRETURN rc =
        SQLGetData(stmt, static_cast<SQLUSMALLINT>(column), SQL_C_DOUBLE, &value, 0, &indicator);
    isNull = indicator == SQL_NULL_DATA;
    return rc;
}

long RowCount(void* stmt) {
    SQLLEN rows = 0;
    return Succeeded(SQLRowCount(stmt, &rows)) ? rows : 0;
}

bool ConfigDataSource(const std::string& driver, const std::vector<std::string>& attributes) {
    std::string list;
    for (const std::string& a : attributes)
        list.append(a).push_back('\0');
    list.push_back('\0');
    return SQLConfigDataSource(nullptr, ODBC_ADD_DSN, driver.c_str(), list.c_str());
}

bool WriteDataSource(const std::string& dsn, const std::string& driver) {
    return SQLWriteDSNToIni(dsn.c_str(), driver.c_str());
}

bool WriteDataSourceAttribute(const std::string& dsn, const std::string& key,
                              const std::string& value) {
    return SQLWritePrivateProfileString(dsn.c_str(), key.c_str(), value.c_str(), "odbc.ini");
}

bool RemoveDataSource(const std::string& dsn) {
    const bool removed = SQLRemoveDSNFromIni(dsn.c_str());
    // The removal leaves the driver manager's cache of the file as it was, so a
    // connection in the same second would still find the data source; deleting
    // the section through the profile call empties that cache.
    SQLWritePrivateProfileString(dsn.c_str(), nullptr, nullptr, "odbc.ini");
    return removed;
}

std::string DataSourceAttribute(const std::string& dsn, const std::string& key) {
    char value[4096] = {0};
    SQLGetPrivateProfileString(dsn.c_str(), key.c_str(), "", value, sizeof value, "odbc.ini");
    return value;
}

}  // namespace OdbcApi
