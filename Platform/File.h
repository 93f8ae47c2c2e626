// CFile: the framework's binary file over a POSIX descriptor, with the Windows
// behaviours the library depends on:
//  - share modes: an open that denies read or write to others, or that wants an
//    access another opener denies, fails with sharingViolation (emulated among
//    every CFile opener of the machine, see File.cpp);
//  - the read-only attribute (no write permission bit) refuses write access, even
//    to root;
//  - byte-range locks that belong to the open file, as Windows handles do;
//  - removing a file that another CFile holds open fails with sharingViolation.
// Failures throw CFileException with the path and the errno.
#pragma once

#include <cstdint>

#include "Platform/Exception.h"
#include "Platform/Object.h"
#include "Platform/String.h"
#include "Platform/Types.h"

struct CFileStatus {
    int64_t m_mtime = 0;  // last write, seconds since 1970 UTC
    uint64_t m_size = 0;
    BYTE m_attribute = 0;  // CFile::Attribute bits
    CString m_szFullName;
};

class CFile : public CObject {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,  // as the framework maps it: deny all
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum Attribute : BYTE {
        normal = 0x00,
        readOnly = 0x01,
        hidden = 0x02,
        system = 0x04,
        volume = 0x08,
        directory = 0x10,
        archive = 0x20,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
    static constexpr int hFileNull = -1;

    CFile();
    // Opens or throws CFileException.
    CFile(const char* path, UINT openFlags);
    // Closes without throwing.
    ~CFile() override;

    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Returns FALSE and fills *error (when given) instead of throwing. A share-mode
    // conflict gives sharingViolation (OS error -1); write access to, or truncation
    // of, a read-only file gives accessDenied (EACCES), as does a directory. An
    // open of a file unlinked or replaced meanwhile opens the path again. A
    // share mode beyond shareDenyNone, or access bits 3, give generic (EINVAL).
    virtual BOOL Open(const char* path, UINT openFlags, CFileException* error = nullptr);
    // Closes (dropping this open's share mode and byte locks); throws when close fails.
    virtual void Close();
    // Closes and ignores every failure.
    virtual void Abort();

    virtual uint64_t GetPosition() const;
    virtual uint64_t Seek(int64_t offset, UINT from);
    void SeekToBegin() { Seek(0, begin); }
    uint64_t SeekToEnd() { return Seek(0, end); }
    virtual uint64_t GetLength() const;
    virtual void SetLength(uint64_t newLength);

    // Reads up to count bytes; fewer only at the end of the file. Read on a modeWrite
    // open and Write on a modeRead open throw invalidFile (EBADF).
    virtual UINT Read(void* buffer, UINT count);
    // Writes all count bytes or throws (diskFull on ENOSPC).
    virtual void Write(const void* buffer, UINT count);
    // Positional forms of Read and Write (pread/pwrite): the file position is
    // neither used nor moved, so a caller that jumps between places saves the seek.
    UINT ReadAt(uint64_t position, void* buffer, UINT count);
    void WriteAt(uint64_t position, const void* buffer, UINT count);
    // Makes written data durable (fdatasync), as FlushFileBuffers does.
    virtual void Flush();

    // Byte-range lock of this open of the file (the file must be open for writing);
    // throws lockViolation when another open holds part of it. count must be > 0
    // and the range below 2^62 (generic, EINVAL otherwise).
    virtual void LockRange(uint64_t position, uint64_t count);
    virtual void UnlockRange(uint64_t position, uint64_t count);
    // As LockRange, but returns FALSE instead of throwing when another open holds the range.
    BOOL TryLockRange(uint64_t position, uint64_t count);
    // Whether another open holds a lock on part of the range. Takes no lock, so a
    // reader that must change nothing can ask, with the file open for reading only.
    BOOL IsRangeLockedByOthers(uint64_t position, uint64_t count);
    // Whether another CFile open has this file open. Asks without claiming
    // anything, so no other opener is refused meanwhile.
    BOOL IsOpenElsewhere();

    virtual CString GetFileName() const;   // last component
    virtual CString GetFileTitle() const;  // last component without its extension
    virtual CString GetFilePath() const;   // as given to Open or SetFilePath
    virtual void SetFilePath(const char* path);

    BOOL IsOpen() const { return m_hFile != hFileNull; }

    static BOOL GetStatus(const char* path, CFileStatus& status);
    // Sets or clears the read-only attribute (the write permission bits).
    static void SetReadOnly(const char* path, bool readOnly);
    // Fails with sharingViolation while another CFile holds the file open, and with
    // accessDenied for a read-only file, as on Windows.
    static void Remove(const char* path);
    // Renames, replacing newPath when it exists (atomic on POSIX).
    static void Rename(const char* oldPath, const char* newPath);
    // Makes the entries of the folder holding path durable (fsync of the folder),
    // so that a rename into it survives a crash. Fails as Flush does.
    static void FlushFolderOf(const char* path);

    int m_hFile = hFileNull;

protected:
    CString m_strFileName;
    UINT m_openFlags = 0;

private:
    UINT ReadSome(void* buffer, UINT count, int64_t position);
    void WriteAll(const void* buffer, UINT count, int64_t position);
};
