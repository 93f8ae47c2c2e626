#include "EegFile/dos/KeyValueFile.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <string_view>

#include "EegBase/ReportExceptionOperation.h"
#include "Platform/Exception.h"
#include "Platform/File.h"
#include "Platform/System.h"

namespace {

constexpr char kBlanks[] = " \r\n";
constexpr char kEndOfText = 0x1A;
constexpr char kSeparator[] = " = ";
// The stations wrote their files in DOS text mode, whose line end is CR LF; writing
// the same keeps the files byte for byte as the stations leave them.
constexpr char kLineEnd[] = "\r\n";
// Between two tries of an open that another opener holds.
constexpr DWORD kRetryStepMs = 10;

std::atomic<DWORD> g_openWaitLimit{CKeyValueFile::kDefaultOpenWaitMs};

CKeyValueFile::OpenWaitObserver& Observer() {
    static CKeyValueFile::OpenWaitObserver observer;
    return observer;
}

std::string_view Trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlanks) + 1 - first);
}

void Report(CException* e, const char* operation, int line) {
    TKReportExceptionOperation(e, operation, "KeyValueFile", line, 0);
}

// Opens path, trying again while another opener's share mode excludes this open,
// up to the wait limit. FALSE, with error filled, for any other failure and when
// the limit passes.
BOOL OpenWaiting(CFile& file, const char* path, UINT flags, CFileException& error) {
    const uint32_t start = GetTickCount();
    const auto limit = static_cast<int32_t>(std::min<DWORD>(g_openWaitLimit, INT32_MAX));
    for (;;) {
        if (file.Open(path, flags, &error))
            return TRUE;
        if (error.m_cause != CFileException::sharingViolation ||
            TickDifference(GetTickCount(), start) >= limit) {
            return FALSE;
        }
        if (Observer())
            Observer()(path);
        Sleep(kRetryStepMs);
    }
}

// The whole file; false when it is too large to be a file of this kind. Throws
// CFileException.
bool ReadWhole(CFile& file, std::string& text) {
    const uint64_t length = file.GetLength();
    if (length > CKeyValueFile::kMaxFileBytes)
        return false;
    text.resize(length);
    text.resize(file.ReadAt(0, text.data(), static_cast<UINT>(length)));
    return true;
}

// Writes text to a file beside path, then renames it over path: a failure or a
// crash leaves the old file or the new one, never a part of either. Throws
// CFileException; the file beside is removed when the rename did not happen. The
// caller makes the rename durable (FlushFolderOf).
void ReplaceFile(const CString& path, const std::string& text) {
    const CString temporary = path + ".tmp";
    CFile out;
    try {
        CFileException error;
        if (!out.Open(temporary, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive,
                      &error)) {
            AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
        }
        out.Write(text.data(), static_cast<UINT>(text.size()));
        out.Flush();
        out.Close();
        CFile::Rename(temporary, path);
    } catch (CException*) {
        out.Abort();
        try {
            CFile::Remove(temporary);
        } catch (CException* e) {
            e->Delete();
        }
        throw;
    }
}

}  // namespace

// -- the table

const CString* CKeyValueFile::Table::Find(const std::string& key) const {
    const auto it = index.find(key);
    return it == index.end() ? nullptr : &entries[it->second].value;
}

bool CKeyValueFile::Table::Set(const std::string& key, const std::string& value) {
    const auto [it, added] = index.try_emplace(key, entries.size());
    if (added) {
        entries.push_back({CString(key), CString(value)});
        return true;
    }
    CString& stored = entries[it->second].value;
    if (stored.str() == value)
        return false;
    stored = CString(value);
    return true;
}

void CKeyValueFile::Parse(const std::string& text, Table& table) {
    const std::string_view all(text.data(), std::min(text.find(kEndOfText), text.size()));
    size_t pos = 0;
    while (pos < all.size()) {
        const size_t newline = all.find('\n', pos);
        const size_t end = newline == std::string_view::npos ? all.size() : newline;
        std::string_view line = all.substr(pos, end - pos);
        pos = end + 1;
        line = line.substr(0, line.find('\0'));
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals >= static_cast<size_t>(kLineReadLength))
            continue;
        std::string_view value = Trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        table.Set(std::string(Trimmed(line.substr(0, equals))), std::string(value));
    }
}

std::string CKeyValueFile::FileText(std::span<const Entry> entries) {
    std::string out;
    for (const Entry& e : entries) {
        std::string value = e.value.str();
        for (char& c : value) {
            if (c == '\r' || c == '\n' || c == kEndOfText)
                c = ' ';
        }
        out += e.key.str();
        out += kSeparator;
        if (!value.empty() && value.front() == ' ')
            out += '"' + value + '"';
        else
            out += value;
        out += kLineEnd;
    }
    out += kEndOfText;
    return out;
}

// -- reading

BOOL CKeyValueFile::Load(const char* path) {
    m_strPath = path;
    m_table = Table();
    CFile file;
    CFileException error;
    if (!OpenWaiting(file, m_strPath, CFile::modeRead | CFile::shareDenyWrite, error)) {
        if (error.m_cause != CFileException::fileNotFound)
            Report(&error, "Read Key File", __LINE__);
        return FALSE;
    }
    try {
        std::string text;
        if (!ReadWhole(file, text)) {
            CFileException tooLarge(CFileException::invalidFile, -1, m_strPath);
            Report(&tooLarge, "Read Key File", __LINE__);
            return FALSE;
        }
        Parse(text, m_table);
    } catch (CException* e) {
        Report(e, "Read Key File", __LINE__);
        e->Delete();
        m_table = Table();
        return FALSE;
    }
    return TRUE;
}

BOOL CKeyValueFile::GetValue(const char* key, CString& value) const {
    const CString* found = key ? m_table.Find(key) : nullptr;
    value = found ? *found : CString();
    return found != nullptr;
}

const CKeyValueFile::Entry& CKeyValueFile::GetEntry(int index) const {
    static const Entry kNone;
    if (index < 0 || index >= GetCount())
        return kNone;
    return m_table.entries[static_cast<size_t>(index)];
}

// -- writing

BOOL CKeyValueFile::SetValue(const char* key, const char* value) {
    const Entry entry{key, value};
    return SetValues({&entry, 1});
}

BOOL CKeyValueFile::SetValues(std::span<const Entry> entries) {
    if (m_strPath.IsEmpty())
        return FALSE;
    std::vector<std::pair<std::string, std::string>> changes;
    bool changed = false;
    for (const Entry& e : entries) {
        const std::string key(Trimmed(e.key.str()));
        // A key whose '=' would fall beyond the first read of its line would not
        // read back.
        if (key.empty() || key.size() > kMaxKeyLength ||
            key.find_first_of("=\r\n\x1A") != std::string::npos) {
            return FALSE;
        }
        std::string value = e.value.str();
        if (value.empty() || value.front() != ' ')
            value = std::string(Trimmed(value));
        const CString* stored = m_table.Find(key);
        changed = changed || !stored || stored->str() != value;
        changes.emplace_back(key, std::move(value));
    }
    if (!changed)
        return TRUE;

    // Held deny-all from here to the replacement, so that what another station
    // wrote since this object loaded is read and kept.
    CFile held;
    CFileException error;
    const UINT flags =
        CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::shareExclusive;
    if (!OpenWaiting(held, m_strPath, flags, error)) {
        Report(&error, "Write Key File", __LINE__);
        return FALSE;
    }
    try {
        std::string text;
        if (!ReadWhole(held, text)) {
            CFileException tooLarge(CFileException::invalidFile, -1, m_strPath);
            Report(&tooLarge, "Write Key File", __LINE__);
            return FALSE;
        }
        m_table = Table();
        Parse(text, m_table);
        Table updated = m_table;
        changed = false;
        for (const auto& [key, value] : changes)
            changed = updated.Set(key, value) || changed;
        if (!changed)
            return TRUE;
        text = FileText(updated.entries);
        if (text.size() > kMaxFileBytes) {
            CFileException tooLarge(CFileException::generic, -1, m_strPath);
            Report(&tooLarge, "Write Key File", __LINE__);
            return FALSE;
        }
        ReplaceFile(m_strPath, text);
        m_table = std::move(updated);
        CFile::FlushFolderOf(m_strPath);
    } catch (CException* e) {
        Report(e, "Write Key File", __LINE__);
        e->Delete();
        return FALSE;
    }
    return TRUE;
}

// -- the wait for other openers

void CKeyValueFile::SetOpenWaitLimit(DWORD milliseconds) {
    g_openWaitLimit = milliseconds;
}

DWORD CKeyValueFile::GetOpenWaitLimit() {
    return g_openWaitLimit;
}

void CKeyValueFile::SetOpenWaitObserver(OpenWaitObserver observer) {
    Observer() = std::move(observer);
}
