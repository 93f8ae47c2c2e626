// CKeyValueFile: a small text file of "key = value" lines, read whole into a table
// that keeps the order of the file, and rewritten whole when a value changes. The
// legacy stations keep per-recording records in this form (the patient file); keys
// this library does not know are kept and written back in their place.
//
// Reading. Lines end at LF; reading stops at the byte 0x1A (the DOS end of text)
// or at the end of the file. The stations read a line at most kLineReadLength
// characters at a time: a line whose first '=' is not among its first
// kLineReadLength characters is ignored, as is a line without '='. The key is the
// text before the first '=', the value the rest of the line however long; both are
// trimmed of blanks, CR and LF. A value of two or more characters between double
// quotes loses them. A NUL byte ends the text of its line. A key met again replaces
// the value of its first line, which keeps its place. Keys compare exactly.
//
// Writing. The key is trimmed, and so is the value unless it starts with a blank.
// A value equal to the one the table holds (or, read again for the write, the file
// holds) writes nothing: the file keeps its bytes and its modification time.
// Otherwise the entry is replaced (or appended) and the whole file rewritten: for
// each entry the key, " = ", the value with CR, LF and 0x1A made blanks (a value
// starting with a blank between double quotes, so that reading keeps its blanks)
// and CR LF; then the byte 0x1A. An empty table is the single byte 0x1A.
//
// Sharing. A write holds the file deny-all (shareExclusive) from reading its
// current text to replacing it, so another station's change made meanwhile is
// merged, not lost, and no CFile opener reads between; readers deny writers only.
// The new text goes to a file beside it that is then renamed over the path, so a
// failed write leaves the old file whole; the rename needs no share claim, and an
// opener that had opened the old file finds the path replaced and opens it again
// (CFile::Open). An open that meets another opener's share mode tries again every
// few milliseconds up to the wait limit (SetOpenWaitLimit), then fails.
//
// A file over kMaxFileBytes is not a file of this kind: Load refuses it, writes
// leave it alone, and no write makes one. Failures never throw: the operations
// return FALSE, and every failure but a missing file is reported through
// TKReportExceptionOperation. Not locked: one object per thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/String.h"
#include "Platform/Types.h"

class CKeyValueFile {
public:
    static constexpr int kLineReadLength = 252;
    // The longest key a write takes: its line's '=' (after " ") is still within
    // the first read. (A 251-character key read from a file is written back, but
    // its '=' then falls beyond the first read.)
    static constexpr size_t kMaxKeyLength = kLineReadLength - 2;
    static constexpr uint64_t kMaxFileBytes = uint64_t{1} << 20;
    static constexpr DWORD kDefaultOpenWaitMs = 10000;

    struct Entry {
        CString key;
        CString value;
    };

    CKeyValueFile() = default;
    virtual ~CKeyValueFile() = default;

    // Reads the file into the table (emptied first); later writes go to path.
    // FALSE, with an empty table, when the file is missing, stays held by another
    // opener past the wait limit, is too large, or cannot be read.
    BOOL Load(const char* path);
    const CString& GetFilePath() const { return m_strPath; }

    // The value of key; FALSE and an empty value when the table has no such key.
    BOOL GetValue(const char* key, CString& value) const;
    // The entries in file order; index is checked (an empty entry outside).
    int GetCount() const { return static_cast<int>(m_table.entries.size()); }
    const Entry& GetEntry(int index) const;

    // Sets one key and rewrites the file when its value changed. FALSE when
    // nothing was loaded before (no path), for a key that is empty, longer than
    // kMaxKeyLength or holds '=', CR, LF or 0x1A, or when the file could not be
    // written; the file is then as it was.
    BOOL SetValue(const char* key, const char* value);
    // Sets the keys in order and rewrites the file at most once: the file written
    // is the one SetValue of each would leave. All or nothing: one bad key refuses
    // the batch.
    BOOL SetValues(std::span<const Entry> entries);

    // How long an open waits for another opener to let go (default
    // kDefaultOpenWaitMs), for every object of the process.
    static void SetOpenWaitLimit(DWORD milliseconds);
    static DWORD GetOpenWaitLimit();
    // Called with the path each time an open finds the file held and waits; an
    // empty function for none. Set before files are used: not synchronised.
    using OpenWaitObserver = std::function<void(const char* path)>;
    static void SetOpenWaitObserver(OpenWaitObserver observer);

    // The bytes of a file holding these entries, as a write makes them.
    static std::string FileText(std::span<const Entry> entries);

private:
    struct Table {
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> index;

        const CString* Find(const std::string& key) const;
        // Replaces or appends; false when the key already had this value.
        bool Set(const std::string& key, const std::string& value);
    };

    static void Parse(const std::string& text, Table& table);

    CString m_strPath;
    Table m_table;
};
