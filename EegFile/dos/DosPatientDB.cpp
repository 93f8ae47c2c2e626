#include "EegFile/dos/DosPatientDB.h"

#include <cmath>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/dos/DosStatusWords.h"
#include "EegFile/dos/LogFileFormat.h"
#include "Platform/OleDateTime.h"
#include "Platform/System.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kControlFolder = "Control";
constexpr int kLongText = 10000;

std::mutex g_dbPathLock;
CString g_dbPath;  // the kept database folder; guarded by g_dbPathLock

// A folder as an absolute, normalised path without a trailing separator.
fs::path Folder(const char* path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec).lexically_normal();
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path())
        p = p.parent_path();
    return p;
}

// The "Control" folder beside a folder.
CString ControlBeside(const fs::path& folder) {
    return CString((folder.parent_path() / kControlFolder).string().c_str());
}

CString DateText(const COleDateTime& t, DWORD part) {
    return t.GetStatus() == COleDateTime::valid ? t.Format(part) : CString();
}

}  // namespace

CDosPatientDB::CDosPatientDB(CDatabase* db) : CRecordset(db) {}

CString CDosPatientDB::GetDefaultConnect() {
    return "ODBC;DSN=DOS Patient DB;";
}

CString CDosPatientDB::GetDefaultSQL() {
    return "[PATIENT]";
}

void CDosPatientDB::DoFieldExchange(CFieldExchange* fx) {
    RFX_Double(fx, "[Log Number]", m_LogNumber);
    RFX_Text(fx, "[Owner_]", m_Owner);
    RFX_Text(fx, "[File Name]", m_FileName);
    RFX_Text(fx, "[Last Name]", m_LastName);
    RFX_Text(fx, "[First Name]", m_FirstName);
    RFX_Text(fx, "[M#I#]", m_MiddleInitial);
    RFX_Text(fx, "[Patient I#D#]", m_PatientId);
    RFX_Text(fx, "[Birth Date]", m_BirthDate);
    RFX_Text(fx, "[Sex]", m_Sex);
    RFX_Text(fx, "[Physician Name]", m_Physician);
    RFX_Text(fx, "[Technician Name]", m_Technician);
    RFX_Text(fx, "[Medications]", m_Medications, kLongText);
    RFX_Text(fx, "[History]", m_History, kLongText);
    RFX_Text(fx, "[Comments]", m_Comments, kLongText);
    RFX_Text(fx, "[Status_]", m_Status);
    RFX_Text(fx, "[Date_]", m_Date);
    RFX_Text(fx, "[Time_]", m_Time);
    RFX_Text(fx, "[Record Length_]", m_RecordLength);
    RFX_Text(fx, "[Test Type_]", m_TestType);
    RFX_Text(fx, "[Current Users_]", m_CurrentUsers);
}

void CDosPatientDB::CheckRowsetError(RETCODE code) {
    try {
        CRecordset::CheckRowsetError(code);
    } catch (CDBException* e) {
        if (e->m_nRetCode != 1 /* success with information */ ||
            e->m_strStateNativeOrigin.Find("State:01004") < 0)
            throw;
        e->Delete();
    }
}

void CDosPatientDB::EnsureTable() {
    // Once a database is known to have the table it is not asked again: the
    // question costs a catalogue query on every connection, and one more wait
    // while another station holds the database locked.
    static std::mutex lock;
    static std::set<std::string> known;
    CDatabase& db = Connect();
    const std::string name(static_cast<const char*>(db.GetDatabaseName()));
    {
        std::lock_guard guard(lock);
        if (known.count(name))
            return;
    }
    if (db.HasTable(GetDefaultSQL())) {
        std::lock_guard guard(lock);
        known.insert(name);
        return;
    }
    CFieldExchange names(CFieldExchange::Name, *this);
    DoFieldExchange(&names);
    CString sql = "CREATE TABLE " + GetDefaultSQL() + " (";
    for (size_t i = 0; i < names.m_names.size(); ++i) {
        CString type;
        if (names.m_maxLengths[i] == 0)
            type = i == 0 ? "DOUBLE PRECISION PRIMARY KEY" : "DOUBLE PRECISION";
        else
            type.Format("VARCHAR(%d)", names.m_maxLengths[i]);
        sql += (i ? ", " : "") + names.m_names[i] + " " + type;
    }
    db.ExecuteSQL(sql + ")");
    std::lock_guard guard(lock);
    known.insert(name);
}

int CDosPatientDB::SeekToRecord(int number) {
    EnsureTable();
    OpenWhereKey(number);
    return IsEOF() ? 0 : 1;
}

void CDosPatientDB::TransferInfo(CPatientInfo& info) const {
    info.Initialize();
    CString number;
    number.Format("%d", static_cast<int>(m_LogNumber));
    info.SetLogNumber(number);
    info.SetLastName(m_LastName);
    info.SetFirstName(m_FirstName);
    info.SetMiddleInitial(m_MiddleInitial);
    info.SetPatientId(m_PatientId);
    COleDateTime birth;
    if (!m_BirthDate.IsEmpty()) {
        birth.ParseDateTime(m_BirthDate);
        info.SetBirthDate(birth.GetStatus() == COleDateTime::valid ? birth.m_dt : NAN);
    }
    int sex = 0;
    if (DosStatusWords::ToSex(m_Sex, sex))
        info.SetSex(static_cast<CPatientInfo::Sex>(sex));
    info.SetPhysician(m_Physician);
    info.SetTechnician(m_Technician);
    info.SetMedications(m_Medications);
    info.SetHistory(m_History);
    info.SetComments(m_Comments);
    info.SetRecordStatus(static_cast<CPatientInfo::RecordStatus>(ConvertDosStatusToWin(m_Status)));
    const CString when = m_Date + " " + m_Time;
    if (!m_Date.IsEmpty() || !m_Time.IsEmpty()) {
        COleDateTime record;
        record.ParseDateTime(when);
        info.SetRecordDate(record.GetStatus() == COleDateTime::valid ? record.m_dt : NAN);
    }
}

int CDosPatientDB::GetPatientInfo(int number, CPatientInfo& info) {
    if (!SeekToRecord(number)) {
        info.Initialize();
        return 0;
    }
    TransferInfo(info);
    return 1;
}

int CDosPatientDB::GetCurrentPatientInfo(int& number, CPatientInfo& info) {
    if (!IsOpen() || IsEOF()) {
        info.Initialize();
        return 0;
    }
    number = static_cast<int>(m_LogNumber);
    TransferInfo(info);
    return 1;
}

int CDosPatientDB::GetNextPatientInfo(int& number, CPatientInfo& info) {
    if (!IsOpen()) {
        EnsureTable();
        Open();
    } else {
        MoveNext();
    }
    return GetCurrentPatientInfo(number, info);
}

int CDosPatientDB::SetPatientInfo(int number, CPatientInfo& info, int includingStatus) {
    if (!SeekToRecord(number))
        return 0;
    Edit();
    m_LastName = info.GetLastName();
    m_FirstName = info.GetFirstName();
    m_MiddleInitial = info.GetMiddleInitial();
    m_PatientId = info.GetPatientId();
    m_BirthDate = info.GetBirthDateStatus() == CPatientInfo::dtValid
                      ? COleDateTime(info.GetBirthDate()).Format("%m/%d/%Y")
                      : CString();
    m_Sex = DosStatusWords::SexWord(info.GetSex());
    m_Physician = info.GetPhysician();
    m_Technician = info.GetTechnician();
    m_Medications = info.GetMedications();
    m_History = info.GetHistory();
    m_Comments = info.GetComments();
    if (includingStatus) {
        if (const char* word = DosStatusWords::ToWord(info.GetRecordStatus(), false))
            m_Status = word;
        const COleDateTime record = info.GetRecordDateStatus() == CPatientInfo::dtValid
                                        ? COleDateTime(info.GetRecordDate())
                                        : COleDateTime(NAN);
        m_Date = DateText(record, VAR_DATEVALUEONLY);
        m_Time = DateText(record, VAR_TIMEVALUEONLY);
    }
    return Update();
}

int CDosPatientDB::DeleteRecord(int number) {
    try {
        if (!SeekToRecord(number))
            return 0;
        Delete();
        return 1;
    } catch (CDBException* e) {
        e->Delete();
        return 0;
    }
}

int CDosPatientDB::AddRecord(int number) {
    EnsureTable();
    Close();
    m_LogNumber = number;
    for (CString* text :
         {&m_Owner, &m_FileName, &m_LastName, &m_FirstName, &m_MiddleInitial, &m_PatientId,
          &m_BirthDate, &m_Sex, &m_Physician, &m_Technician, &m_Medications, &m_History,
          &m_Comments, &m_Status, &m_Date, &m_Time, &m_RecordLength, &m_TestType, &m_CurrentUsers})
        text->Empty();
    AddNew();
    return Update();
}

// ---------------------------------------------------------------- statics

int CDosPatientDB::SetDataSource(const char* dataDir) {
    std::lock_guard lock(g_dbPathLock);
    if (!dataDir || !*dataDir) {
        g_dbPath.Empty();
        return OdbcInstaller::RemoveDataSource(kDataSourceName);
    }
    const CString control = ControlBeside(Folder(dataDir));
    if (!g_dbPath.IsEmpty() && PathsAreTheSame(control, g_dbPath))
        return 1;
    if (!ConfigDataSource(control))
        return 0;
    g_dbPath = control;
    return 1;
}

int CDosPatientDB::ConfigDataSource(const char* dbDir) {
    const fs::path folder = Folder(dbDir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    CString computer = GetComputerName();
    if (computer.IsEmpty())
        computer = "default";
    // The SQLite driver takes the database file and its wait for another station's
    // lock (ms); "DefaultDir" records the folder the database stands for.
    CString database, timeout;
    database.Format("Database=%s", (folder / kDatabaseFile).string().c_str());
    timeout.Format("Timeout=%d", kBusyTimeoutMs);
    return OdbcInstaller::AddDataSource(
        kDefaultDriver,
        {CString("DSN=") + kDataSourceName, database,
         CString("DefaultDir=") + folder.string().c_str(), timeout, CString("UID=") + computer});
}

CString CDosPatientDB::GetDbPath() {
    std::lock_guard lock(g_dbPathLock);
    if (!g_dbPath.IsEmpty())
        return g_dbPath;
    try {
        CDatabase db;
        db.OpenEx(CString("ODBC;DSN=") + kDataSourceName + ";");
        // A driver names a folder (a table per file), a database file, or a
        // server's database; for the last, the data source's "DefaultDir" says
        // which folder's recordings it holds.
        const fs::path name(static_cast<const char*>(db.GetDatabaseName()));
        std::error_code ec;
        if (!name.empty() && fs::is_directory(name, ec))
            g_dbPath = name.string().c_str();
        else if (name.is_absolute() && fs::is_regular_file(name, ec))
            g_dbPath = name.parent_path().string().c_str();
        else
            g_dbPath = OdbcInstaller::GetDataSourceAttribute(kDataSourceName, "DefaultDir");
    } catch (CException* e) {
        e->Delete();
    }
    return g_dbPath;
}

// The file system decides: two paths are the same folder when they name one
// existing folder (letter case counts on Linux, as the file system makes it count),
// or, when either is missing, when their absolute, normalised texts are equal.
int CDosPatientDB::PathsAreTheSame(CString a, CString b) {
    if (a.IsEmpty() || b.IsEmpty())
        return 0;
    const fs::path pa = Folder(a), pb = Folder(b);
    std::error_code ec;
    if (fs::exists(pa, ec) && fs::exists(pb, ec))
        return fs::equivalent(pa, pb, ec) ? 1 : 0;
    return pa == pb ? 1 : 0;
}

int CDosPatientDB::FileIsInDbDataDir(const char* path) {
    if (NewGetRecordNumber(path) <= 0)
        return 0;
    return PathsAreTheSame(ControlBeside(Folder(path).parent_path()), GetDbPath());
}

int CDosPatientDB::NewGetRecordNumber(const char* path) {
    return LogFormat::RecordNumberOf(path);
}

int CDosPatientDB::ConvertDosStatusToWin(const CString& word) {
    return DosStatusWords::ToRecordStatus(word);
}
