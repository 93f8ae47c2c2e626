// The unixODBC calls the library makes, behind plain C++ types. The driver
// manager's headers define Windows type names (ULONG, DWORD, BOOL) with widths
// that clash with the platform's, so they are included in OdbcApi.cpp alone.
#pragma once

#include <string>
#include <vector>

namespace OdbcApi {

constexpr short kSuccess = 0;
constexpr short kSuccessWithInfo = 1;
constexpr short kNoData = 100;
constexpr short kError = -1;

inline bool Succeeded(short rc) {
    return rc == kSuccess || rc == kSuccessWithInfo;
}

// The diagnostic records of the last call on a handle: the drivers' messages, one
// per line, and one "State:xxxxx,Native:n,Origin:" entry per record.
struct Diagnostics {
    short rc = kError;
    std::string error;
    std::string states;
};

enum class HandleType { Environment, Connection, Statement };
Diagnostics Diagnose(short rc, HandleType type, void* handle);

// Connects without prompting; env and dbc are set on success, else the failure is
// returned with them null.
bool Connect(const std::string& connect, int loginTimeoutSeconds, void*& env, void*& dbc,
             Diagnostics& failure);
void Disconnect(void*& env, void*& dbc);
std::string DatabaseName(void* dbc);
char IdentifierQuote(void* dbc);  // '"' when the driver gives none

// Statements. A text parameter's length lives in *length until the statement ran.
void* NewStatement(void* dbc, int queryTimeoutSeconds, Diagnostics& failure);
void FreeStatement(void*& stmt);
short BindDouble(void* stmt, int number, double* value);
short BindText(void* stmt, int number, const char* text, long* length);
short ExecDirect(void* stmt, const std::string& sql);
short Tables(void* stmt, const std::string& name);
short Fetch(void* stmt);
// At most size - 1 bytes of a column and a terminator; isNull for SQL NULL.
short GetText(void* stmt, int column, char* buffer, long size, bool& isNull);
short GetDouble(void* stmt, int column, double& value, bool& isNull);
long RowCount(void* stmt);

// The installer. The set-up call of a driver, then the profile calls.
bool ConfigDataSource(const std::string& driver, const std::vector<std::string>& attributes);
bool WriteDataSource(const std::string& dsn, const std::string& driver);
bool WriteDataSourceAttribute(const std::string& dsn, const std::string& key,
                              const std::string& value);
bool RemoveDataSource(const std::string& dsn);
std::string DataSourceAttribute(const std::string& dsn, const std::string& key);

}  // namespace OdbcApi
