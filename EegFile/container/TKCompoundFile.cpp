#include "EegFile/container/TKCompoundFile.h"

#include <algorithm>
#include <cstring>

#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/container/TKCompoundFileScopes.h"
#include "EegFile/container/TKStreamFile.h"
#include "Platform/Archive.h"
#include "Platform/Report.h"

namespace fmt = TKCompoundFileFormat;

CTKCompoundFile::CTKCompoundFile(std::recursive_mutex* mutex)
    : m_pOwnMutex(mutex ? nullptr : std::make_unique<std::recursive_mutex>()),
      m_pMutex(mutex ? mutex : m_pOwnMutex.get()) {}

CTKCompoundFile::~CTKCompoundFile() {
    try {
        Close();
    } catch (CException* e) {
        ReportException(e, "Close compound file", __FILE__, __LINE__);
        e->Delete();
    }
}

void CTKCompoundFile::ThrowCode(int code) const {
    CTKCompoundFileException::Throw(code, m_strPath);
}

BOOL CTKCompoundFile::IsOpen() const {
    std::lock_guard lock(*m_pMutex);
    return m_bOpen;
}

BOOL CTKCompoundFile::IsReadOnly() const {
    std::lock_guard lock(*m_pMutex);
    return m_bReadOnly;
}

CString CTKCompoundFile::GetPath() const {
    std::lock_guard lock(*m_pMutex);
    return m_strPath;
}

void CTKCompoundFile::SetWriterHook(CTKLockHook* hook) {
    std::lock_guard lock(*m_pMutex);
    m_pWriterHook = hook;
}

void CTKCompoundFile::SetDirectoryHook(CTKLockHook* hook) {
    std::lock_guard lock(*m_pMutex);
    m_pDirectoryHook = hook;
}

int CTKCompoundFile::SetHookState(CTKLockHook* hook, int state) {
    return hook ? hook->SetLockState(state) : 0;
}

// --- File access ---------------------------------------------------------------

// Positional I/O: a stream's data and its section header lie apart, and each
// append touches both, so seeking between them would double the system calls.
UINT CTKCompoundFile::ReadAt(int64_t offset, void* buffer, UINT count) {
    return m_file.ReadAt(static_cast<uint64_t>(offset), buffer, count);
}

void CTKCompoundFile::WriteAt(int64_t offset, const void* buffer, UINT count) {
    m_bUnsynced = true;
    m_file.WriteAt(static_cast<uint64_t>(offset), buffer, count);
}

int64_t CTKCompoundFile::GetFileLength() const {
    return static_cast<int64_t>(m_file.GetLength());
}

void CTKCompoundFile::SetFileLength(int64_t length) {
    m_bUnsynced = true;
    m_file.SetLength(static_cast<uint64_t>(length));
}

void CTKCompoundFile::Flush() {
    std::lock_guard lock(*m_pMutex);
    // A flush with nothing written since the last one would make nothing more
    // durable; skipping it keeps readers' seeks across sections free.
    if (!m_bOpen || m_bReadOnly || !m_bUnsynced || m_bDeferFlush)
        return;
    m_file.Flush();
    m_bUnsynced = false;
}

bool CTKCompoundFile::ReadHeader(int64_t offset, fmt::SectionHeader& header) {
    unsigned char raw[fmt::kHeaderSize];
    if (offset < 0 || ReadAt(offset, raw, sizeof raw) != sizeof raw)
        return false;
    fmt::DecodeHeader(raw, header);
    return true;
}

void CTKCompoundFile::WriteHeader(const CTKSectionEntry& e) {
    fmt::SectionHeader h;
    fmt::PutName(h.name, m_names.GetName(e.m_nameNumber));
    h.offset = e.m_offset;
    h.next = e.m_next;
    h.linked = e.m_linked;
    h.free = e.m_free;
    h.size = e.m_size;
    h.used = e.m_used;
    h.copy = e.m_copy;
    h.headerSize = e.m_headerSize;
    h.sequence = e.m_sequence;
    h.annotationLength = e.m_annotationLength;
    std::copy(std::begin(e.m_annotation), std::end(e.m_annotation), h.annotation);
    unsigned char raw[fmt::kHeaderSize];
    fmt::EncodeHeader(h, raw);
    WriteAt(e.m_offset, raw, sizeof raw);
}

void CTKCompoundFile::WriteTrailer(const CTKSectionEntry& e) {
    unsigned char raw[fmt::kTrailerSize];
    fmt::EncodeTrailer(e.m_offset, e.m_size, raw);
    WriteAt(e.m_offset + e.m_size - fmt::kTrailerSize, raw, sizeof raw);
}

std::unique_ptr<CTKSectionEntry> CTKCompoundFile::MakeEntry(const fmt::SectionHeader& h) {
    auto e = std::make_unique<CTKSectionEntry>();
    e->m_offset = h.offset;
    e->m_streamStart = -1;
    e->m_next = h.next;
    e->m_linked = h.linked;
    e->m_free = h.free;
    e->m_size = h.size;
    e->m_used = h.used;
    e->m_nameNumber = m_names.Lookup(h.name);
    e->m_copy = h.copy;
    e->m_headerSize = h.headerSize;
    e->m_sequence = h.sequence;
    e->m_annotationLength = h.annotationLength;
    std::copy(std::begin(h.annotation), std::end(h.annotation), e->m_annotation);
    return e;
}

void CTKCompoundFile::LoadChain(CTKSectionList& list, int64_t next) {
    for (int64_t offset = next; offset >= 0;) {
        fmt::SectionHeader h;
        if (!ReadHeader(offset, h))
            ThrowCode(CTKCompoundFileException::unexpectedEndOfFile);
        const int64_t fileLength = GetFileLength();
        if (!fmt::IsValidHeader(h, offset, fileLength) || h.copy != list.GetCopy() ||
            m_names.Find(h.name) != list.GetNameNumber()) {
            ThrowCode(CTKCompoundFileException::invalidSectionHeader);
        }
        // Sections may overlap in a forged file; no chain holds more sections
        // than the file has room for, whatever the headers say.
        if (list.GetSectionCount() >= fileLength / fmt::kMinSectionSize) {
            ThrowCode(CTKCompoundFileException::invalidSectionHeader);
        }
        if (h.sequence != list.GetSectionCount())
            ThrowCode(CTKCompoundFileException::sequenceError);
        auto e = MakeEntry(h);
        const CTKSectionEntry* last = list.GetLastInUse();
        e->m_streamStart = last ? last->GetStreamEnd() : 0;
        list.Add(std::move(e));
        offset = h.next;
    }
}

// --- Directory -------------------------------------------------------------------

void CTKCompoundFile::ResetDirectory() {
    delete m_pDirectoryStream;
    m_pDirectoryStream = nullptr;
    m_pDirectoryList.reset();
    m_records.clear();
    m_appliedRecords = 0;
    m_directoryLength = 0;
}

void CTKCompoundFile::LoadDirectory() {
    fmt::SectionHeader h;
    if (!ReadHeader(0, h) || std::strcmp(h.name, fmt::kDirectoryName) != 0 ||
        h.copy != fmt::kDirectoryCopy) {
        ThrowCode(CTKCompoundFileException::badDirectoryStream);
    }
    if (!fmt::IsValidHeader(h, 0, GetFileLength())) {
        ThrowCode(CTKCompoundFileException::invalidSectionHeader);
    }
    auto e = MakeEntry(h);
    e->m_streamStart = 0;
    m_pDirectoryList = std::make_unique<CTKSectionList>(e->m_nameNumber, fmt::kDirectoryCopy);
    m_pDirectoryList->Add(std::move(e));
    m_pDirectoryStream = new CTKStream(this, m_pDirectoryList.get(), m_bReadOnly, 0, nullptr);
    m_pDirectoryStream->SetAllocationUnit(fmt::kDirectoryAllocationUnit);
    RefreshDirectory();
}

void CTKCompoundFile::RefreshDirectory() {
    if (!m_pDirectoryStream)
        return;
    CTKHookScope directory(m_pDirectoryHook);
    m_pDirectoryStream->Refresh();
    const int64_t length = m_pDirectoryStream->GetLength();
    if (length > m_directoryLength) {
        ReadDirectory();
        for (; m_appliedRecords < m_records.size(); ++m_appliedRecords) {
            ApplyDirectoryRecord(m_records[m_appliedRecords]);
        }
        m_directoryLength = length;
    }
    directory.Restore();
}

void CTKCompoundFile::ReadDirectory() {
    m_pDirectoryStream->Seek(0);
    CTKStreamFile file(m_pDirectoryStream, FALSE, nullptr);
    file.SetFilePath(m_strPath);
    CArchive ar(&file, CArchive::load, fmt::kDirectoryArchiveBuffer);
    WORD schema = 0;
    ar >> schema;
    if (schema != (fmt::kDirectorySchema ^ fmt::kVersionXor)) {
        AfxThrowArchiveException(CArchiveException::badSchema, m_strPath);
    }
    // A count beyond the records the stream holds (a rewrite that a kill cut
    // short, or a forged count) reads the records present, and nothing is
    // allocated for more than the stream holds.
    DWORD count = ar.ReadCount();
    const uint64_t length = file.GetLength(), at = ar.GetPosition();
    count = static_cast<DWORD>(
        std::min<uint64_t>(count, at < length ? (length - at) / fmt::kDirectoryRecordSize : 0));
    std::vector<fmt::DirectoryRecord> records;
    for (DWORD i = 0; i < count; ++i) {
        unsigned char raw[fmt::kDirectoryRecordSize];
        ar.EnsureRead(raw, sizeof raw);
        fmt::DirectoryRecord r;
        fmt::DecodeRecord(raw, r);
        records.push_back(r);
    }
    ar.Close();
    file.Close();
    m_records = std::move(records);
    m_appliedRecords = std::min(m_appliedRecords, m_records.size());
}

void CTKCompoundFile::WriteDirectory() {
    // Written over the old directory from its start, never emptied first: a
    // station killed between emptying and writing would leave a file whose
    // streams are all lost. The directory only grows (records are only added),
    // so every state a kill can leave holds the old records whole, and the count
    // that goes out first is cut to the records present when read.
    m_pDirectoryStream->Seek(0);
    CTKStreamFile file(m_pDirectoryStream, FALSE, nullptr);
    file.SetFilePath(m_strPath);
    CArchive ar(&file, CArchive::store, fmt::kDirectoryArchiveBuffer);
    ar << static_cast<WORD>(fmt::kDirectorySchema ^ fmt::kVersionXor);
    ar.WriteCount(static_cast<DWORD>(m_records.size()));
    for (const fmt::DirectoryRecord& r : m_records) {
        unsigned char raw[fmt::kDirectoryRecordSize];
        fmt::EncodeRecord(r, raw);
        ar.Write(raw, sizeof raw);
    }
    ar.Close();
    m_pDirectoryStream->Commit(TRUE);
    m_directoryLength = m_pDirectoryStream->GetLength();
    file.Close();
}

void CTKCompoundFile::AddDirectoryRecord(const CTKSectionList& list) {
    fmt::DirectoryRecord r;
    fmt::PutName(r.name, m_names.GetName(list.GetNameNumber()));
    r.firstSection = list.GetInUseCount() > 0 ? list.GetInUse(0)->m_offset : -1;
    r.copy = list.GetCopy();
    m_records.push_back(r);
    m_appliedRecords = m_records.size();
    WriteDirectory();
}

void CTKCompoundFile::ApplyDirectoryRecord(const fmt::DirectoryRecord& r) {
    // Offset 0 is the directory's own section: a record naming it is ignored, so
    // that no two section lists ever share a section.
    if (r.firstSection <= 0)
        return;
    fmt::SectionHeader h;
    if (!ReadHeader(r.firstSection, h))
        ThrowCode(CTKCompoundFileException::unexpectedEndOfFile);
    if (!fmt::IsValidHeader(h, r.firstSection, GetFileLength()) || h.name[0] == 0) {
        ThrowCode(CTKCompoundFileException::invalidSectionHeader);
    }
    const int number = m_names.Lookup(h.name);
    if (m_names.FindList(number, h.copy))
        return;
    CTKSectionList* list = m_names.AddList(number, h.copy);
    auto e = MakeEntry(h);
    e->m_streamStart = 0;
    list->Add(std::move(e));
}

// --- Create, open, close ----------------------------------------------------------

void CTKCompoundFile::Create(const char* path) {
    std::lock_guard lock(*m_pMutex);
    Close();
    m_names.RemoveAll();
    m_bReadOnly = false;
    m_strPath = path;
    CFileException error;
    if (!m_file.Open(path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyNone,
                     &error)) {
        throw new CFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
    }
    m_bOpen = true;
    CTKHookScope directory(m_pDirectoryHook);
    ResetDirectory();
    try {
        const int number = m_names.Lookup(fmt::kDirectoryName);
        m_pDirectoryList = std::make_unique<CTKSectionList>(number, fmt::kDirectoryCopy);
        m_pDirectoryStream = new CTKStream(this, m_pDirectoryList.get(), 0, 0, nullptr);
        m_pDirectoryStream->SetAllocationUnit(fmt::kDirectoryAllocationUnit);
        WriteDirectory();
    } catch (...) {
        ResetDirectory();
        throw;
    }
    directory.Restore();
}

void CTKCompoundFile::Open(const char* path, int readOnly) {
    std::lock_guard lock(*m_pMutex);
    Close();
    m_names.RemoveAll();
    m_strPath = path;
    m_bReadOnly = readOnly != 0;
    CFileException error;
    bool opened = false;
    if (!m_bReadOnly) {
        opened = m_file.Open(path, CFile::modeReadWrite | CFile::shareDenyNone, &error);
    }
    if (!opened) {
        if (!m_file.Open(path, CFile::modeRead | CFile::shareDenyNone, &error)) {
            throw new CFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
        }
        m_bReadOnly = true;
    }
    m_bOpen = true;
    CTKHookScope directory(m_pDirectoryHook);
    try {
        LoadDirectory();
    } catch (...) {
        ResetDirectory();
        throw;
    }
    directory.Restore();
}

CTKStream* CTKCompoundFile::OpenStreamByScan(const char* path, const char* name, int copy,
                                             int openEnded, int readOnly, int allocationUnit,
                                             CTKSectionObserver* observer) {
    std::lock_guard lock(*m_pMutex);
    Close();
    m_names.RemoveAll();
    m_strPath = path;
    m_bReadOnly = readOnly != 0;
    CFileException error;
    const UINT mode = m_bReadOnly ? CFile::modeRead : CFile::modeReadWrite;
    if (!m_file.Open(path, mode | CFile::shareDenyNone, &error)) {
        throw new CFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
    }
    m_bOpen = true;
    if (readOnly)
        openEnded = 0;
    copy = std::max(copy, 1);
    const int number = m_names.Lookup(name);
    if (number < 0)
        return nullptr;

    CTKHookScope directory(m_pDirectoryHook);
    const int64_t fileLength = GetFileLength();
    fmt::SectionHeader h;
    bool found = false;
    // Sections follow each other without gaps; each is at least 512 bytes, so the
    // walk ends within the file.
    for (int64_t offset = 0; ReadHeader(offset, h); offset += h.size) {
        if (!fmt::IsValidHeader(h, offset, fileLength)) {
            ThrowCode(CTKCompoundFileException::invalidSectionHeader);
        }
        if (m_names.GetName(number) == h.name && h.copy == copy && h.sequence == 0) {
            found = true;
            break;
        }
    }
    if (!found) {
        directory.Restore();
        return nullptr;
    }
    CTKSectionList* list = m_names.AddList(number, copy);
    auto e = MakeEntry(h);
    e->m_streamStart = 0;
    list->Add(std::move(e));
    if (h.next >= 0)
        LoadChain(*list, h.next);
    CTKStream* stream = AddStream(list, readOnly, openEnded, allocationUnit, observer);
    stream->Seek(0);
    directory.Restore();
    return stream;
}

void CTKCompoundFile::Close() {
    std::lock_guard lock(*m_pMutex);
    if (!m_bOpen)
        return;
    CTKFirstException errors;
    std::vector<CTKStream*> streams;
    streams.swap(m_streams);
    for (CTKStream* s : streams)
        errors.Run([&] { DestroyStream(s); });
    m_bOpenEndedWriter = false;
    // Given back only after the open-ended sections are settled: their trailers
    // lie beyond the file's end until then.
    errors.Run([&] { SetWriterHookState(0); });
    ResetDirectory();
    m_bOpen = false;
    errors.Run([&] { m_file.Close(); });
    m_bUnsynced = false;
    m_strPath.Empty();
    errors.Rethrow();
}

void CTKCompoundFile::Abort() {
    std::lock_guard lock(*m_pMutex);
    if (!m_bOpen)
        return;
    m_bOpen = false;
    std::vector<CTKStream*> streams;
    streams.swap(m_streams);
    CTKFirstException ignored;
    for (CTKStream* s : streams) {
        s->m_bHeaderDirty = 0;
        ignored.Run([&] { DestroyStream(s); });
    }
    m_bOpenEndedWriter = false;
    ignored.Run([&] { SetWriterHookState(0); });
    ResetDirectory();
    m_file.Abort();
    m_bUnsynced = false;
    m_strPath.Empty();
}

// --- Streams ---------------------------------------------------------------------

CTKStream* CTKCompoundFile::FindOpenStreams(bool anyWritable) const {
    for (CTKStream* s : m_streams) {
        if (!anyWritable || !s->m_bReadOnly)
            return s;
    }
    return nullptr;
}

CTKStream* CTKCompoundFile::AddStream(CTKSectionList* list, int readOnly, int openEnded,
                                      int allocationUnit, CTKSectionObserver* observer) {
    auto* stream = new CTKStream(this, list, readOnly, openEnded, observer);
    try {
        stream->Refresh();
        if (allocationUnit > 0)
            stream->SetAllocationUnit(allocationUnit);
        m_streams.push_back(stream);
        if (openEnded) {
            m_bOpenEndedWriter = true;
            SetWriterHookState(1);
        }
    } catch (...) {
        std::erase(m_streams, stream);
        if (openEnded)
            m_bOpenEndedWriter = false;
        delete stream;
        throw;
    }
    return stream;
}

void CTKCompoundFile::DestroyStream(CTKStream* stream) {
    std::unique_ptr<CTKStream, void (*)(CTKStream*)> owned(stream, [](CTKStream* s) { delete s; });
    if (CTKStreamFile* adapter = stream->m_pAdapter) {
        stream->m_pAdapter = nullptr;
        adapter->DetachStream();
    }
    stream->Commit(TRUE);
}

CTKStream* CTKCompoundFile::CreateStream(const char* name, int copy, int openEnded,
                                         int allocationUnit, CTKSectionObserver* observer) {
    std::lock_guard lock(*m_pMutex);
    if (!m_bOpen || m_bReadOnly || !m_pDirectoryStream)
        return nullptr;
    if (m_bOpenEndedWriter || (openEnded && FindOpenStreams(true)))
        return nullptr;
    if (CTKStreamNameTable::CutName(name).IsEmpty())
        return nullptr;

    CTKHookScope directory(m_pDirectoryHook);
    RefreshDirectory();
    const int number = m_names.Lookup(name);
    copy = std::max(copy, 1);
    CTKSectionList* list = m_names.FindList(number, copy);
    const bool madeNow = list == nullptr;
    if (madeNow)
        list = m_names.AddList(number, copy);

    auto* stream = new CTKStream(this, list, 0, openEnded, observer);
    const size_t recordCount = m_records.size();
    try {
        if (allocationUnit > 0)
            stream->SetAllocationUnit(allocationUnit);
        m_streams.push_back(stream);
        if (openEnded) {
            m_bOpenEndedWriter = true;
            SetWriterHookState(1);
        }
        stream->Refresh();
        stream->Truncate();
        // An open-ended section grows at the file's end, where the directory
        // would place a section it needs for the new record: the directory
        // makes its room first, with a record that readers skip, and takes the
        // section's offset once it is known.
        const bool reserve = madeNow && openEnded;
        if (reserve)
            AddDirectoryRecord(*list);
        if (list->GetInUseCount() == 0)
            stream->AllocateNextSection();
        if (reserve) {
            m_records.back().firstSection = list->GetInUse(0)->m_offset;
            WriteDirectory();
        } else if (madeNow) {
            AddDirectoryRecord(*list);
        }
    } catch (...) {
        // Nothing is left behind: no stream, no section list without a record.
        std::erase(m_streams, stream);
        if (openEnded) {
            m_bOpenEndedWriter = false;
            CTKFirstException ignored;
            ignored.Run([&] { SetWriterHookState(0); });
        }
        delete stream;
        if (madeNow) {
            m_records.resize(std::min(m_records.size(), recordCount));
            m_appliedRecords = std::min(m_appliedRecords, m_records.size());
            m_names.RemoveList(list);
        }
        throw;
    }
    directory.Restore();
    return stream;
}

CTKStream* CTKCompoundFile::OpenStream(const char* name, int copy, int openEnded, int readOnly,
                                       int allocationUnit, CTKSectionObserver* observer) {
    std::lock_guard lock(*m_pMutex);
    if (readOnly)
        openEnded = 0;
    if (!m_bOpen || !m_pDirectoryStream)
        return nullptr;
    if ((m_bOpenEndedWriter && !readOnly) || (openEnded && FindOpenStreams(true)))
        return nullptr;

    CTKHookScope directory(m_pDirectoryHook);
    RefreshDirectory();
    CTKSectionList* list = m_names.FindList(m_names.Find(name), std::max(copy, 1));
    if (!list) {
        directory.Restore();
        return nullptr;
    }
    CTKStream* stream = AddStream(list, readOnly, openEnded, allocationUnit, observer);
    stream->Seek(0);
    directory.Restore();
    return stream;
}

void CTKCompoundFile::CloseStream(CTKStream* stream) {
    std::lock_guard lock(*m_pMutex);
    const auto it = std::find(m_streams.begin(), m_streams.end(), stream);
    if (it == m_streams.end())
        return;
    m_streams.erase(it);
    CTKFirstException errors;
    if (stream->m_bOpenEnded) {
        m_bOpenEndedWriter = false;
        errors.Run([&] { stream->Commit(TRUE); });
        errors.Run([&] { SetWriterHookState(0); });
    }
    errors.Run([&] { DestroyStream(stream); });
    errors.Rethrow();
}

// --- Copying and measuring ---------------------------------------------------------

int CTKCompoundFile::CopyStream(const char* name, int copy, CTKStream* source, int openEnded,
                                int allocationUnit) {
    std::lock_guard lock(*m_pMutex);
    if (!source)
        return 0;
    CTKStream* target = CreateStream(name, copy, openEnded, allocationUnit);
    if (!target)
        return 0;
    CTKFirstException errors;
    errors.Run([&] {
        source->Seek(0);
        unsigned char piece[fmt::kCopyPieceSize];
        for (;;) {
            const UINT got = source->Read(piece, sizeof piece);
            if (got < 1)
                break;
            target->Write(piece, got);
        }
    });
    errors.Run([&] { CloseStream(target); });
    errors.Rethrow();
    return 1;
}

int CTKCompoundFile::CopyStreamFrom(const char* name, int copy, CTKCompoundFile& source,
                                    const char* sourceName, int sourceCopy, int openEnded,
                                    int allocationUnit) {
    std::lock_guard lock(*m_pMutex);
    CTKStream* from = source.OpenStream(sourceName, sourceCopy, 0, 1, 0);
    if (!from)
        return 0;
    int copied = 0;
    CTKFirstException errors;
    errors.Run([&] { copied = CopyStream(name, copy, from, openEnded, allocationUnit); });
    errors.Run([&] { source.CloseStream(from); });
    errors.Rethrow();
    return copied;
}

void CTKCompoundFile::CopyAllStreamsFrom(CTKCompoundFile& source, CTKStreamFilter* filter) {
    std::lock_guard lock(*m_pMutex);
    std::vector<std::pair<CString, int>> streams;
    {
        std::lock_guard sourceLock(*source.m_pMutex);
        for (const CTKSectionList* list : source.m_names.GetAllLists()) {
            streams.emplace_back(source.m_names.GetName(list->GetNameNumber()), list->GetCopy());
        }
    }
    for (const auto& [name, copy] : streams) {
        if (filter && !filter->IncludeStream(name, copy))
            continue;
        CopyStreamFrom(name, copy, source, name, copy, 1, 0);
    }
}

int64_t CTKCompoundFile::GetStreamLength(const char* name, int copy) {
    std::lock_guard lock(*m_pMutex);
    CTKSectionList* list = m_names.FindList(m_names.Find(name), std::max(copy, 1));
    if (!list)
        return 0;
    const bool inUse = std::any_of(m_streams.begin(), m_streams.end(),
                                   [list](const CTKStream* s) { return s->m_pList == list; });
    if (!inUse && m_bOpen) {
        // No open stream keeps this list current: bring it up to date (a list made
        // from the directory knows only the stream's first section).
        std::unique_ptr<CTKStream, void (*)(CTKStream*)> probe(
            new CTKStream(this, list, 1, 0, nullptr), [](CTKStream* s) { delete s; });
        probe->Refresh();
        return probe->GetLength();
    }
    const CTKSectionEntry* last = list->GetLastInUse();
    return last ? last->GetStreamEnd() : 0;
}

int64_t CTKCompoundFile::ComputeDiskSpace(int64_t length, int openEnded, int allocationUnit) {
    const int64_t piece = openEnded
                              ? fmt::kMaxSectionData
                              : (allocationUnit < 1 ? fmt::kDefaultAllocationUnit : allocationUnit);
    const int64_t sectionSize = fmt::SectionSizeForUnit(piece);
    if (length < 0)
        length = 0;
    int64_t space = length / piece * sectionSize;
    const int64_t rest = length % piece;
    if (rest >= 1)
        space += openEnded ? fmt::SectionSizeForUnit(rest) : sectionSize;
    return space;
}

int64_t CTKCompoundFile::ComputeStreamDiskSpace(const char* name, int copy, int openEnded,
                                                int allocationUnit) {
    return ComputeDiskSpace(GetStreamLength(name, copy), openEnded, allocationUnit);
}

int64_t CTKCompoundFile::ComputeAllStreamsDiskSpace(int openEnded, int allocationUnit,
                                                    CTKStreamFilter* filter) {
    std::lock_guard lock(*m_pMutex);
    int64_t space = 0;
    for (const CTKSectionList* list : m_names.GetAllLists()) {
        const CString name = m_names.GetName(list->GetNameNumber());
        if (filter && !filter->IncludeStream(name, list->GetCopy()))
            continue;
        space +=
            ComputeDiskSpace(GetStreamLength(name, list->GetCopy()), openEnded, allocationUnit);
    }
    return space;
}
