// CWinEegFile: data marks, marked segments, holes and cutting marked data out.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <memory>
#include <vector>

#include "EegBase/ReportExceptionOperation.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/events/CommentEvent.h"
#include "EegFile/events/DataDeletionEvent.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/MarkStreamBacking.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {

constexpr const char* kModule = "WinEegFile";
constexpr uint32_t kSecondsPerPiece = 180;  // one section of "EEGData"
constexpr int kEventBytesPerExtraEvent = 18;
constexpr int kArchiveBuffer = 4096;
constexpr double kSecondsPerDay = 86400.0;

// Passes a container's stream filter question to the recording.
class CTypeFilter : public CTKStreamFilter {
public:
    explicit CTypeFilter(std::function<int(const char*, int)> accept)
        : m_accept(std::move(accept)) {}
    int IncludeStream(const char* name, int copy) override { return m_accept(name, copy); }

private:
    std::function<int(const char*, int)> m_accept;
};

// Annotates the sections of the rebuilt "EEGData": each section is one piece of
// at most 180 seconds of one entry of the new index, and tells the entry's
// second numbers and start time advanced to the piece. Only the first piece of
// an entry carries its run start, only the last its run stop.
class CCutSectionObserver : public CTKSectionObserver {
public:
    explicit CCutSectionObserver(int bytesPerSecond) : m_bytesPerSecond(bytesPerSecond) {}
    void SetPiece(const CEegStreamIndexEntry* entry, uint32_t offset, bool last) {
        m_pEntry = entry;
        m_offset = offset;
        m_bLast = last;
    }
    int OnSectionHeader(CTKSectionEntry& e, int) override {
        if (!m_pEntry) {
            CEegStreamIndex::AnnotateDetached(e);
            return 1;
        }
        const uint64_t time =
            std::bit_cast<uint64_t>(m_pEntry->m_startTime.m_dt + m_offset / kSecondsPerDay);
        const uint32_t first = m_pEntry->m_firstSecond + m_offset;
        uint32_t flags = m_pEntry->m_flags;
        if (m_offset != 0)
            flags &= ~CEegStreamIndex::kRunStart;
        if (!m_bLast)
            flags &= ~CEegStreamIndex::kRunStop;
        e.m_annotationLength = CEegStreamIndex::kAnnotationLength;
        e.m_annotation[0] = static_cast<uint32_t>(time);
        e.m_annotation[1] = static_cast<uint32_t>(time >> 32);
        e.m_annotation[2] = static_cast<uint32_t>(m_pEntry->m_startTime.GetStatus());
        e.m_annotation[3] = first;
        e.m_annotation[4] = first + static_cast<uint32_t>(std::max(e.m_used, 0) / m_bytesPerSecond);
        e.m_annotation[5] = flags;
        return 1;
    }

private:
    int m_bytesPerSecond;
    const CEegStreamIndexEntry* m_pEntry = nullptr;
    uint32_t m_offset = 0;
    bool m_bLast = false;
};

class COwnedStreamFile : public CTKStreamFile {
public:
    explicit COwnedStreamFile(CTKStream* stream) : CTKStreamFile(stream, TRUE, nullptr) {}
};

CString StationNames(const CEegStationList& stations) {
    CString text;
    for (int i = 0; i < stations.GetSize(); ++i) {
        if (i > 0)
            text += "\n";
        text += stations[i].m_Name;
    }
    return text;
}
}  // namespace

// ---------------------------------------------------------------- the mark stream

void CWinEegFile::CreateSegmentMarkStream() {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    CloseSegmentMarkStream();
    m_MarkStore.Attach(
        CMarkStreamBacking::Make(m_Container.CreateStream(kMarkDeleteStream, 1, 0, kMarkUnit)));
}

void CWinEegFile::OpenSegmentMarkStream(int readOnly) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    CloseSegmentMarkStream();
    CTKStream* stream = m_Container.OpenStream(kMarkDeleteStream, 1, 0,
                                               readOnly || m_Container.IsReadOnly(), kMarkUnit);
    if (!stream && !readOnly)
        stream = m_Container.CreateStream(kMarkDeleteStream, 1, 0, kMarkUnit);
    m_MarkStore.Attach(CMarkStreamBacking::Make(stream));
    // Fewer bytes than the version word and the flag: a stream nobody wrote yet.
    if (stream && stream->GetLength() >= 8)
        m_MarkStore.Synchronize(0, MarkGeometry());
}

void CWinEegFile::CloseSegmentMarkStream() {
    std::lock_guard lock(m_FileLock);
    m_MarkStore.Close(m_bFileAccessDisabled);
}

// ---------------------------------------------------------------- access

int CWinEegFile::SetMarkAccessMode(int throwOnRefusal) {
    std::lock_guard lock(m_FileLock);
    return m_MarkStore.TakeMarkRight(throwOnRefusal);
}

void CWinEegFile::ClearMarkAccessMode() {
    std::lock_guard lock(m_FileLock);
    if (!m_AccessControl.DropMarkRight())
        ThrowEegFileException(CEegFileException::eAccessModeChangeFailure);
}

int CWinEegFile::GetMarkAccess(CString& holders) {
    std::lock_guard lock(m_FileLock);
    if (SetMarkAccessMode(0))
        return 1;
    holders = StationNames(m_AccessControl.GetStationList());
    return 0;
}

int CWinEegFile::GetExclusiveAccess(CString& holders) {
    std::lock_guard lock(m_FileLock);
    if (m_AccessControl.ChangeMode(CEegAccessMode::eamExclusive))
        return 1;
    holders = StationNames(m_AccessControl.GetStationList());
    return 0;
}

// ---------------------------------------------------------------- marks

CEegDataMarkStore::CGeometry CWinEegFile::MarkGeometry() const {
    CEegDataMarkStore::CGeometry g;
    g.holes = &m_EventStore.GetDeletionEvents();
    g.rate = static_cast<int>(GetSampleRate());
    g.lengthSeconds = GetLengthInSeconds();
    return g;
}

bool CWinEegFile::MarksEditable() {
    if (!Readable())
        return false;
    if (m_Container.IsReadOnly())
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    return true;
}

void CWinEegFile::SetMarkForDelete(int on) {
    m_MarkStore.EditMarkForDelete(*this, on);
}

int CWinEegFile::GetMarkForDelete() {
    std::lock_guard lock(m_FileLock);
    return Readable() ? m_MarkStore.GetMarkForDelete() : 0;
}

void CWinEegFile::AddDataMark(CDataMarkDeleteEvent* mark) {
    m_MarkStore.EditAddMark(*this, mark);
}

void CWinEegFile::RemoveDataMark(CDataMarkDeleteEvent* mark) {
    if (mark)
        m_MarkStore.EditReported(*this, "Remove Data Mark", kModule,
                               [&](const auto& g) { m_MarkStore.RemoveEqualMark(*mark, g); });
}

void CWinEegFile::RemoveAllDataMarks() {
    m_MarkStore.EditReported(*this, "Remove All Data Mark", kModule,
                           [&](const auto&) { m_MarkStore.RemoveAll(); });
}

void CWinEegFile::RemoveAllEegDataMarks() {
    m_MarkStore.EditReported(*this, "Remove All EEG Data Marks", kModule,
                           [&](const auto& g) { m_MarkStore.RemoveEegMarks(g); });
}

void CWinEegFile::RemoveAllVideoDataMarks() {
    m_MarkStore.EditReported(*this, "Remove All Video Data Marks", kModule,
                           [&](const auto& g) { m_MarkStore.RemoveVideoMarks(g); });
}

void CWinEegFile::SyncDataMarks() {
    m_MarkStore.EditReported(*this, "Sync Data Marks", kModule, [](const auto&) {}, 1);
}

void CWinEegFile::GetDataMarkList(CEegEventList& list) {
    std::lock_guard lock(m_FileLock);
    list.RemoveAll();
    if (Readable())
        m_MarkStore.ListMarks(list);
}

int CWinEegFile::IsEventValid(CDataMarkDeleteEvent* mark) {
    std::lock_guard lock(m_FileLock);
    return Readable() ? m_MarkStore.IsStored(mark) : 0;
}

void CWinEegFile::SetDeleteEegDataOnClose() {
    std::lock_guard lock(m_FileLock);
    m_bDeleteOnClose = 1;
}

int CWinEegFile::GetDeleteEegDataOnClose() const {
    std::lock_guard lock(m_FileLock);
    return m_bDeleteOnClose;
}

void CWinEegFile::GetMarkedSegmentList(CEegEventList& list, const CEegTimeStamp& from,
                                       const CEegTimeStamp& to, uint32_t maxCount) const {
    std::lock_guard lock(m_FileLock);
    list.RemoveAll();
    if (Readable())
        m_MarkStore.GetSegmentList(list, from, to, maxCount);
}

int CWinEegFile::InDeleteSegment(CDataDeletionEvent& segment, CEegTimeStamp at) {
    std::lock_guard lock(m_FileLock);
    if (!Readable())
        return 0;
    if (at == CEegTimeStamp::NullStamp)
        at = GetReadPosition();
    return CEegDataMarkStore::FindHole(m_EventStore.GetDeletionEvents(), at, segment);
}

// ---------------------------------------------------------------- cutting

void CWinEegFile::InitDeleteSegmentList(CEegStreamIntervalArray& intervals,
                                        const CEegEventList& segments, int rate) {
    std::lock_guard lock(m_FileLock);
    const uint32_t total =
        rate > 0 ? GetEofTimeStamp().GetSampleOffset() / static_cast<uint32_t>(rate) : 0;
    CEegDataMarkStore::CutIntervals(intervals, segments, m_EventStore.GetDeletionEvents(), rate,
                                    total);
}

CString CWinEegFile::GetTempFilePath(CString path) {
    const std::string p(path.GetString());
    const size_t slash = p.find_last_of('/');
    const size_t dot = p.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return CString((hasExtension ? p.substr(0, dot) : p).c_str()) + ".tmp";
}

int CWinEegFile::TypeFilterCallback(const char* name, int) {
    static const char* const kRebuilt[] = {kHeaderStream, kPatientStream, kEventListStream,
                                           kEegDataStream, kMarkDeleteStream};
    for (const char* rebuilt : kRebuilt) {
        if (name && std::strcmp(name, rebuilt) == 0)
            return 0;
    }
    return 1;
}

int64_t CWinEegFile::ComputeNewFileDiskSpace(const CEegStreamIndex& newIndex, int extraEvents) {
    std::lock_guard lock(m_FileLock);
    const int64_t events = m_Container.GetStreamLength(kEventListStream, 1) +
                           static_cast<int64_t>(kEventBytesPerExtraEvent) * extraEvents;
    int64_t space = 2 * (m_Container.ComputeStreamDiskSpace(kPatientStream, 1, 0, kPatientUnit) +
                         m_Container.ComputeStreamDiskSpace(kHeaderStream, 1, 0, kHeaderUnit) +
                         CTKCompoundFile::ComputeDiskSpace(events, 0, kEventListUnit));
    CTypeFilter filter(
        [this](const char* name, int copy) { return TypeFilterCallback(name, copy); });
    space += m_Container.ComputeAllStreamsDiskSpace(1, 0, &filter);
    space += m_Container.ComputeStreamDiskSpace(kMarkDeleteStream, 1, 0, kMarkUnit);
    const int64_t bps = m_DataStream.GetBytesPerSecond();
    const int64_t block = CTKCompoundFile::ComputeDiskSpace(kSecondsPerPiece * bps, 1, 0);
    for (int i = 0; i < newIndex.GetSize(); ++i) {
        const CEegStreamIndexEntry& e = newIndex.GetAt(i);
        const int64_t seconds =
            e.m_endSecond > e.m_firstSecond ? e.m_endSecond - e.m_firstSecond : 0;
        space += seconds / kSecondsPerPiece * block;
        if (seconds % kSecondsPerPiece)
            space += CTKCompoundFile::ComputeDiskSpace(seconds % kSecondsPerPiece * bps, 1, 0);
    }
    return space;
}

void CWinEegFile::CopySegmentDeletionsToTempFile(const char* tempPath,
                                                 const CEegStreamIndex& newIndex,
                                                 CVoidCall1Arg<int64_t>* progress) {
    std::lock_guard lock(m_FileLock);
    if (m_bFileAccessDisabled)
        return;
    CTKCompoundFile target;
    CEegDataMarkStore marks(m_AccessControl, m_FileLock);
    try {
        target.Create(tempPath);
        // Nobody sees the temporary file before the rename: one flush at the
        // end makes it durable, instead of one per section.
        target.SetDeferFlush(1);
        target.CopyStreamFrom(kPatientStream, 1, m_Container, kPatientStream, 1, 0, kPatientUnit);
        target.CopyStreamFrom(kHeaderStream, 1, m_Container, kHeaderStream, 1, 0, kHeaderUnit);
        target.CopyStreamFrom(kMarkDeleteStream, 1, m_Container, kMarkDeleteStream, 1, 0,
                              kMarkUnit);

        // The events of the rebuilt file: the recording's, its holes replaced
        // when a cut prepared new ones, and the comments below.
        CEegEventList events;
        std::vector<std::unique_ptr<CEegEvent>> comments;
        const CEegEventList& stored = m_EventStore.GetEvents();
        for (int i = 0; i < stored.GetSize(); ++i) {
            if (!m_bReplaceHoles || stored.GetAt(i)->GetEventType() != CEegEvent::etDataDeletion)
                events.Add(stored.GetAt(i));
        }
        if (m_bReplaceHoles) {
            for (const auto& hole : m_CutHoles)
                events.Add(hole.get());
        }

        // The EEG marks are used up by the cut; the notes they carried stay as comments.
        if (target.GetStreamLength(kMarkDeleteStream, 1) > 8) {
            marks.Attach(
                CMarkStreamBacking::Make(target.OpenStream(kMarkDeleteStream, 1, 0, 0, kMarkUnit)));
            const CEegDataMarkStore::CGeometry none;
            marks.Synchronize(0, none);
            const CEegEventList& markList = marks.GetMarks();
            for (int i = 0; i < markList.GetSize(); ++i) {
                const auto* m = static_cast<const CDataMarkDeleteEvent*>(markList.GetAt(i));
                if (!m->IsEegMark() || m->GetComment().IsEmpty())
                    continue;
                comments.push_back(std::make_unique<CCommentEvent>(
                    m->GetStartTimeStamp(), m->GetComment(), static_cast<short>(m->GetPriority())));
                events.Add(comments.back().get());
            }
            marks.RemoveEegMarks(none);
            marks.Synchronize(1, none);
            marks.Close(0);
        }

        {
            COwnedStreamFile file(target.CreateStream(kEventListStream, 1, 0, kEventListUnit));
            CArchive ar(&file, CArchive::store, kArchiveBuffer);
            events.Serialize(ar);
            ar.Close();
            file.Close();
        }

        const int bps = m_DataStream.GetBytesPerSecond();
        const int unit = static_cast<int>(kSecondsPerPiece) * bps;
        CCutSectionObserver observer(bps);
        CTKStream* data = target.CreateStream(kEegDataStream, 1, 0, unit, &observer);
        if (!data)
            ThrowEegFileException(CEegFileException::eDataStorageAllocationFailure);
        std::vector<unsigned char> buffer(static_cast<size_t>(unit));
        const int count = newIndex.GetSize();
        for (int i = 0; i < count; ++i) {
            const CEegStreamIndexEntry& e = newIndex.GetAt(i);
            const uint32_t seconds = e.m_endSecond - e.m_firstSecond;
            for (uint32_t offset = 0; offset < seconds; offset += kSecondsPerPiece) {
                const uint32_t piece = std::min(kSecondsPerPiece, seconds - offset);
                const UINT bytes = piece * static_cast<UINT>(bps);
                const UINT got = m_DataStream.ReadStoredBytes(
                    e.m_position + static_cast<int64_t>(offset) * bps, buffer.data(), bytes);
                // Seconds the old stream no longer holds read as zeros there; they
                // stay zeros here.
                std::fill(buffer.begin() + got, buffer.begin() + bytes, 0);
                observer.SetPiece(&e, offset, offset + piece >= seconds);
                data->Write(buffer.data(), bytes);
                data->Trim(0);
            }
            if (progress)
                progress->Call(static_cast<int64_t>(i + 1) * 100 / count);
        }
        observer.SetPiece(nullptr, 0, false);
        target.CloseStream(data);

        CTypeFilter filter(
            [this](const char* name, int copy) { return TypeFilterCallback(name, copy); });
        target.CopyAllStreamsFrom(m_Container, &filter);
        target.CopyStreamFrom(kPatientStream, 2, target, kPatientStream, 1, 0, kPatientUnit);
        target.CopyStreamFrom(kEventListStream, 2, target, kEventListStream, 1, 0, kEventListUnit);
        target.CopyStreamFrom(kHeaderStream, 2, target, kHeaderStream, 1, 0, kHeaderUnit);
        // The rebuilt file must be on disk before it replaces the original.
        target.SetDeferFlush(0);
        target.Flush();
        target.Close();
    } catch (CException*) {
        marks.Close(1);  // its stream, if any, goes with the container
        target.Abort();
        throw;
    }
}

void CWinEegFile::ReplaceWithTempFile(const CString& tempPath) {
    // Rename over the original: a failure or a crash leaves either the
    // original or the rebuilt recording at the path, never neither.
    int error = 0;
    try {
        CFile::Rename(tempPath, m_FilePath);
        CFile::FlushFolderOf(m_FilePath);
    } catch (CFileException* e) {
        error = e->m_lOsError;
        e->Delete();
    }
    const int listed = !m_AccessControl.GetWithoutControl();
    const CString path = m_FilePath;
    try {
        m_AccessControl.Release();
    } catch (CException*) {
        m_AccessControl.ReleaseWithoutUpdate();
        InitFlags();
        if (listed)
            RemoveFromOpenFileList();
        throw;
    }
    InitFlags();
    if (listed)
        RemoveFromOpenFileList();
    if (error)
        CFileException::ThrowOsError(error, path);
}

int64_t CWinEegFile::DeleteMarkedEegData(CVoidCall1Arg<int64_t>* progress) {
    if (m_bFileAccessDisabled)
        return 0;
    std::unique_lock lock(m_FileLock);
    CEegEventList segments;
    if (m_bEegStreamOpen) {
        m_MarkStore.RebuildSegments(MarkGeometry());
        GetMarkedSegmentList(segments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    }
    if (!m_bEegStreamOpen || m_bWriteEnabled || m_bHeaderPending || !m_bDeleteOnClose ||
        segments.GetSize() == 0) {
        lock.unlock();
        Close();
        return 0;
    }
    if (m_Container.IsReadOnly()) {
        lock.unlock();
        Close();
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    }
    int64_t space = 0;
    try {
        if (!m_AccessControl.ChangeMode(CEegAccessMode::eamExclusive)) {
            // The names are copied now: closing releases the station list.
            throw new CEegFileException(CEegFileException::eExclusiveAccessRequired,
                                        &m_AccessControl.GetStationList());
        }
        Synchronize();
        const uint32_t end = GetEofTimeStamp().GetSampleOffset();
        const int rate = static_cast<int>(GetSampleRate());
        CEegStreamIntervalArray intervals;
        InitDeleteSegmentList(intervals, segments, rate);
        segments.RemoveAll();  // the mark store is closed below
        const CEegStreamIndex newIndex =
            m_DataStream.GetIndex().Cut(intervals, m_DataStream.GetBytesPerSecond());
        const CString tempPath = GetTempFilePath(m_FilePath);

        m_EventStore.Synchronize();
        CloseSegmentMarkStream();

        // The holes of the cut recording are the gaps between its stored
        // stretches. They replace the old ones in the rebuilt event list only:
        // the event store, and with it the original file, stay as they are
        // until the rebuilt file has replaced the original.
        struct CCutHolesScope {
            CWinEegFile& file;
            ~CCutHolesScope() {
                file.m_CutHoles.clear();
                file.m_bReplaceHoles = false;
            }
        } holesScope{*this};
        m_CutHoles.clear();
        m_bReplaceHoles = true;
        const uint64_t r = static_cast<uint64_t>(rate);
        int added = 0;
        auto addHole = [&](uint64_t a, uint64_t b) {
            if (b < a + r)
                return;
            const CEegTimeStamp from(static_cast<uint32_t>(a));
            const CEegTimeStamp to(static_cast<uint32_t>(b));
            m_CutHoles.push_back(std::make_unique<CDataDeletionEvent>(from, to, 1));
            m_CutHoles.push_back(std::make_unique<CDataDeletionEvent>(to, from, 0));
            added += 2;
        };
        uint64_t kept = 0;
        for (int i = 0; i < newIndex.GetSize(); ++i) {
            const CEegStreamIndexEntry& e = newIndex.GetAt(i);
            addHole(kept, e.m_firstSecond * r);
            kept = e.m_endSecond * r;
        }
        addHole(kept, end);
        space = ComputeNewFileDiskSpace(newIndex, added);

        CopySegmentDeletionsToTempFile(tempPath, newIndex, progress);

        InitFlags();
        lock.unlock();
        CloseEegStream();
        lock.lock();
        CloseSegmentMarkStream();
        m_EventStore.Close(0);
        m_Container.Close();
        ReplaceWithTempFile(tempPath);
    } catch (CException*) {
        if (lock.owns_lock())
            lock.unlock();
        // A close that fails disables file access; the second one then gives
        // the container up without committing.
        for (int attempt = 0; attempt < 2 && m_Container.IsOpen(); ++attempt) {
            try {
                Close();
            } catch (CException* again) {
                again->Delete();
            }
        }
        throw;
    }
    return space;
}
