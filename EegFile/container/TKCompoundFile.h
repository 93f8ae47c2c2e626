// CTKCompoundFile keeps named byte streams (a name of up to 15 characters and a
// copy number) inside one disk file, so that several stations can read a file
// while one appends to it. The layout is in TKCompoundFileFormat.h.
//
// Ownership: the container owns its file, its table of stream names with each
// stream's section list, the directory stream and every stream it opened. Lock
// hooks, observers and filters stay their owners'.
//
// Locking, outermost first: the container's recursive mutex (its own, or one its
// owner gives it), taken by every operation of the container and of its streams
// and held by a CTKStreamFile for its whole life; then the directory hook, then
// the writer hook (bytes 2 and 0 of the recording's lock file, see
// TKCompoundFileCallbacks.h). The file grows at its end only under the writer
// hook; an open-ended stream holds it from its opening to its closing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "EegFile/container/TKCompoundFileCallbacks.h"
#include "EegFile/container/TKCompoundFileFormat.h"
#include "EegFile/container/TKSectionList.h"
#include "EegFile/container/TKStream.h"
#include "EegFile/container/TKStreamNameTable.h"
#include "Platform/File.h"
#include "Platform/String.h"

class CTKCompoundFile {
public:
    // With mutex null the container makes its own; otherwise it uses (and does
    // not own) the owner's, which must outlive it.
    explicit CTKCompoundFile(std::recursive_mutex* mutex = nullptr);
    // Closes; a failure is reported (Platform/Report.h), not thrown.
    ~CTKCompoundFile();

    CTKCompoundFile(const CTKCompoundFile&) = delete;
    CTKCompoundFile& operator=(const CTKCompoundFile&) = delete;

    // Creates (or replaces) the file with an empty directory: 1024 bytes.
    // Operating-system failures throw CFileException with the path.
    void Create(const char* path);
    // Opens the file for reading and writing (for reading only when readOnly, or
    // when writing is not allowed) and loads the directory. Throws CFileException,
    // or CTKCompoundFileException for a file that is not a container.
    void Open(const char* path, int readOnly);
    // Opens the file without loading its directory and finds (name, copy) by
    // walking its sections from offset 0; null when no section starts it.
    CTKStream* OpenStreamByScan(const char* path, const char* name, int copy, int openEnded,
                                int readOnly, int allocationUnit, CTKSectionObserver* observer);
    // Commits and destroys every open stream, then closes the file. The first
    // failure is thrown after everything is released.
    void Close();
    // Closes without committing changed headers (only open-ended sections are
    // settled); ignores every failure.
    void Abort();
    // Flushes the file to disk when it is open for writing (not while deferred).
    void Flush();
    // While set, flushes (those of section commits too) are left out, for a
    // file that no other station can see yet, such as a recording rebuilt beside
    // the original: its owner clears it and flushes once before publishing it.
    void SetDeferFlush(int defer) { m_bDeferFlush = defer != 0; }

    // Creates (name, copy), or empties it when it exists; null when the container
    // is not open or read-only, or when an open-ended stream is open, or when
    // openEnded is asked while a writable stream is open.
    CTKStream* CreateStream(const char* name, int copy, int openEnded, int allocationUnit,
                            CTKSectionObserver* observer = nullptr);
    // Opens (name, copy) at position 0; null when the directory does not list it,
    // and when the open-ended rules above refuse it. A read-only stream is never
    // open-ended.
    CTKStream* OpenStream(const char* name, int copy, int openEnded, int readOnly,
                          int allocationUnit, CTKSectionObserver* observer = nullptr);
    // Commits and destroys the stream (an open-ended one also gives back the
    // writer hook).
    void CloseStream(CTKStream* stream);

    // Creates (name, copy) here and copies all of source into it; source stays
    // open. Returns 1, or 0 when the stream could not be created.
    int CopyStream(const char* name, int copy, CTKStream* source, int openEnded,
                   int allocationUnit);
    // Copies (sourceName, sourceCopy) of source into (name, copy) here. Returns
    // 1, or 0 when either stream is not available.
    int CopyStreamFrom(const char* name, int copy, CTKCompoundFile& source, const char* sourceName,
                       int sourceCopy, int openEnded, int allocationUnit);
    // Copies every stream of source that filter (when given) includes, each
    // open-ended into one section sized to its content.
    void CopyAllStreamsFrom(CTKCompoundFile& source, CTKStreamFilter* filter);

    // Bytes in (name, copy), including what other stations committed; 0 for an
    // unknown stream.
    int64_t GetStreamLength(const char* name, int copy);
    // Bytes of file that a stream of length bytes occupies.
    static int64_t ComputeDiskSpace(int64_t length, int openEnded, int allocationUnit);
    int64_t ComputeStreamDiskSpace(const char* name, int copy, int openEnded, int allocationUnit);
    int64_t ComputeAllStreamsDiskSpace(int openEnded, int allocationUnit, CTKStreamFilter* filter);

    // The owner's locks between stations; either may be null (no locking).
    void SetWriterHook(CTKLockHook* hook);
    void SetDirectoryHook(CTKLockHook* hook);

    std::recursive_mutex& GetMutex() const { return *m_pMutex; }
    BOOL IsOpen() const;
    BOOL IsReadOnly() const;
    CString GetPath() const;

private:
    friend class CTKStream;

    // The file, seen through a remembered file position, so that sequential
    // access costs no seek. Any failure forgets the position.
    UINT ReadAt(int64_t offset, void* buffer, UINT count);
    void WriteAt(int64_t offset, const void* buffer, UINT count);
    int64_t GetFileLength() const;
    void SetFileLength(int64_t length);

    // Reads a header; FALSE when the file ends before its 104 bytes.
    bool ReadHeader(int64_t offset, TKCompoundFileFormat::SectionHeader& header);
    void WriteHeader(const CTKSectionEntry& entry);
    void WriteTrailer(const CTKSectionEntry& entry);
    // A section entry from a valid header read at offset.
    std::unique_ptr<CTKSectionEntry> MakeEntry(const TKCompoundFileFormat::SectionHeader& header);
    // Follows next-section offsets from next and adds each section to list.
    void LoadChain(CTKSectionList& list, int64_t next);

    // Takes (1) or releases (0) a hook; returns the previous state (0 without one).
    static int SetHookState(CTKLockHook* hook, int state);
    int SetWriterHookState(int state) { return SetHookState(m_pWriterHook, state); }

    // Forgets the directory stream, its section list and records.
    void ResetDirectory();
    void LoadDirectory();
    void RefreshDirectory();
    void ReadDirectory();
    void WriteDirectory();
    void AddDirectoryRecord(const CTKSectionList& list);
    void ApplyDirectoryRecord(const TKCompoundFileFormat::DirectoryRecord& record);

    CTKStream* FindOpenStreams(bool anyWritable) const;
    // Makes a stream of list and registers it as open (taking the writer hook when
    // open-ended).
    CTKStream* AddStream(CTKSectionList* list, int readOnly, int openEnded, int allocationUnit,
                         CTKSectionObserver* observer);
    // Detaches the adapter, commits with a flush and frees the stream.
    void DestroyStream(CTKStream* stream);
    void ThrowCode(int code) const;

    std::unique_ptr<std::recursive_mutex> m_pOwnMutex;
    std::recursive_mutex* m_pMutex;
    bool m_bOpen = false;
    CFile m_file;
    bool m_bReadOnly = false;
    CString m_strPath;
    CTKStreamNameTable m_names;
    bool m_bOpenEndedWriter = false;
    std::vector<CTKStream*> m_streams;  // owned
    CTKLockHook* m_pWriterHook = nullptr;
    CTKLockHook* m_pDirectoryHook = nullptr;
    std::unique_ptr<CTKSectionList> m_pDirectoryList;
    CTKStream* m_pDirectoryStream = nullptr;  // owned
    std::vector<TKCompoundFileFormat::DirectoryRecord> m_records;
    size_t m_appliedRecords = 0;
    int64_t m_directoryLength = 0;

    bool m_bUnsynced = false;  // written since the last flush to disk
    bool m_bDeferFlush = false;
};
