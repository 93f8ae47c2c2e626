#include "EegFile/container/TKStream.h"

#include <algorithm>
#include <memory>

#include "EegFile/container/TKCompoundFile.h"
#include "EegFile/container/TKCompoundFileException.h"
#include "EegFile/container/TKCompoundFileScopes.h"
#include "EegFile/container/TKStreamFile.h"

namespace fmt = TKCompoundFileFormat;

CTKStream::CTKStream(CTKCompoundFile* container, CTKSectionList* list, int readOnly, int openEnded,
                     CTKSectionObserver* observer)
    : m_pMutex(&container->GetMutex()),
      m_pContainer(container),
      m_pList(list),
      m_allocationSize(fmt::SectionSizeForUnit(fmt::kDefaultAllocationUnit)),
      m_bOpenEnded(openEnded ? 1 : 0),
      m_pObserver(observer),
      m_bReadOnly(readOnly ? 1 : 0) {
    if (CTKSectionEntry* last = m_pList->GetLastInUse()) {
        m_pCurrent = last;
        m_length = last->GetStreamEnd();
    }
    Locate(0);
}

CTKStream::~CTKStream() {
    if (m_pAdapter) {
        CTKStreamFile* adapter = m_pAdapter;
        m_pAdapter = nullptr;
        adapter->DetachStream();
    }
}

void CTKStream::AttachAdapter(CTKStreamFile* adapter) {
    std::lock_guard lock(*m_pMutex);
    if (m_pAdapter && m_pAdapter != adapter) {
        CTKStreamFile* previous = m_pAdapter;
        m_pAdapter = nullptr;
        previous->DetachStream();
    }
    m_pAdapter = adapter;
}

int CTKStream::GetCopy() const {
    std::lock_guard lock(*m_pMutex);
    return m_pList->GetCopy();
}

int64_t CTKStream::GetPosition() const {
    std::lock_guard lock(*m_pMutex);
    return m_position;
}

int64_t CTKStream::GetLength() const {
    std::lock_guard lock(*m_pMutex);
    return m_length;
}

void CTKStream::SetKeepWritesWhole(int keep) {
    std::lock_guard lock(*m_pMutex);
    m_bKeepWritesWhole = keep ? 1 : 0;
}

void CTKStream::SetCommitOnGrowth(int commit) {
    std::lock_guard lock(*m_pMutex);
    m_bCommitOnGrowth = commit ? 1 : 0;
}

void CTKStream::SetSectionObserver(CTKSectionObserver* observer) {
    std::lock_guard lock(*m_pMutex);
    m_pObserver = observer;
}

CTKSectionObserver* CTKStream::GetSectionObserver() const {
    std::lock_guard lock(*m_pMutex);
    return m_pObserver;
}

void CTKStream::SetAllocationUnit(int unit) {
    std::lock_guard lock(*m_pMutex);
    m_allocationSize = fmt::SectionSizeForUnit(unit);
}

int CTKStream::GetSectionCount() const {
    std::lock_guard lock(*m_pMutex);
    return m_pList->GetInUseCount();
}

CTKSectionEntry CTKStream::GetSection(int index) const {
    std::lock_guard lock(*m_pMutex);
    return *m_pList->GetInUse(index);
}

int CTKStream::GetHighestSequence() const {
    std::lock_guard lock(*m_pMutex);
    return m_pList->GetHighestInUse();
}

void CTKStream::Close() {
    m_pContainer->CloseStream(this);
}

// --- Positions -------------------------------------------------------------

int64_t CTKStream::ComputeRoomEnd() const {
    if (!m_pCurrent)
        return m_length;
    if (m_pCurrent != m_pList->GetLastInUse())
        return m_dataEnd;
    if (m_bTrimmed && m_pCurrent->m_used > 0)
        return m_dataEnd;
    return m_sectionStart + m_pCurrent->m_size - fmt::kSectionOverhead;
}

void CTKStream::SetCurrent(int index) {
    m_pCurrent = m_pList->GetInUse(index);
    m_currentIndex = index;
    m_sectionStart = m_pCurrent->m_streamStart;
    m_dataEnd = m_pCurrent->GetStreamEnd();
    m_roomEnd = ComputeRoomEnd();
    m_dataFileOffset = m_pCurrent->m_offset + fmt::kHeaderSize;
}

void CTKStream::Locate(int64_t p) {
    p = std::clamp<int64_t>(p, 0, m_length);
    const int index = m_pList->FindInUse(p);
    if (index >= 0) {
        SetCurrent(index);
        m_position = p;
        return;
    }
    m_pCurrent = nullptr;
    m_currentIndex = -1;
    m_position = m_length;
    m_sectionStart = m_dataEnd = m_roomEnd = m_length;
    m_dataFileOffset = 0;
    if (p != m_length)
        m_pContainer->ThrowCode(CTKCompoundFileException::missingSectionEntry);
}

int CTKStream::Seek(int64_t p) {
    std::lock_guard lock(*m_pMutex);
    // Inside the current section (or at the end of a last section with room
    // left) only the position moves: no file access.
    if (m_pCurrent && ((m_sectionStart <= p && p < m_dataEnd) ||
                       (p == m_length && p == m_dataEnd && m_dataEnd < m_roomEnd))) {
        m_position = p;
        return 1;
    }
    Commit(TRUE);
    Locate(p);
    return 1;
}

// --- Reading and writing -----------------------------------------------------

UINT CTKStream::Read(void* buffer, UINT count) {
    std::lock_guard lock(*m_pMutex);
    auto* out = static_cast<unsigned char*>(buffer);
    UINT total = 0;
    int64_t n = count;
    while (n > 0) {
        const int64_t k = std::min(n, m_dataEnd - m_position);
        if (k < 1 || !m_pCurrent)
            break;
        const UINT want = static_cast<UINT>(k);
        const UINT got =
            m_pContainer->ReadAt(m_dataFileOffset + (m_position - m_sectionStart), out, want);
        total += got;
        // A section that ends before its used count says (a cut file) ends the read.
        if (got < want)
            break;
        out += got;
        n -= got;
        Seek(m_position + got);
    }
    return total;
}

void CTKStream::Write(const void* buffer, UINT count) {
    std::lock_guard lock(*m_pMutex);
    if (m_bReadOnly)
        return;
    const auto* in = static_cast<const unsigned char*>(buffer);
    int64_t n = count;
    while (n > 0) {
        const int64_t k = std::min(FindRoom(n), n);
        if (k < 1 || !m_pCurrent)
            m_pContainer->ThrowCode(CTKCompoundFileException::missingSectionEntry);
        m_pContainer->WriteAt(m_dataFileOffset + (m_position - m_sectionStart), in,
                              static_cast<UINT>(k));
        m_bDataDirty = 1;
        Advance(k);
        in += k;
        n -= k;
    }
}

int64_t CTKStream::FindRoom(int64_t n) {
    const int64_t room = m_roomEnd - m_position;
    int64_t least = 1;
    if (m_bKeepWritesWhole) {
        const int64_t whole =
            m_bOpenEnded ? fmt::kMaxSectionData : m_allocationSize - fmt::kSectionOverhead;
        least = std::min(n, whole);
    }
    if (m_pCurrent && room >= least)
        return room;
    if (m_pCurrent)
        Commit(TRUE);
    AllocateNextSection();
    return m_roomEnd - m_position;
}

void CTKStream::Advance(int64_t k) {
    const int64_t q = m_position + k;
    if (q > m_dataEnd) {
        m_dataEnd = q;
        if (q > m_length)
            m_length = q;
        m_pCurrent->m_used = static_cast<int32_t>(m_dataEnd - m_sectionStart);
        m_bHeaderDirty = 1;
    }
    Seek(q);
    if (m_bCommitOnGrowth && m_bHeaderDirty && !m_bOpenEnded)
        Commit(FALSE);
}

// --- Sections ----------------------------------------------------------------

void CTKStream::CallObserver(CTKSectionEntry& entry) {
    if (m_pObserver)
        m_pObserver->OnSectionHeader(entry, 1);
}

void CTKStream::AllocateNextSection() {
    m_bTrimmed = 0;
    if (m_pList->GetReleasedCount() > 0) {
        ReuseReleasedSection();
    } else {
        AppendNewSection();
    }
}

namespace {
// One step of giving back what a refused write began: done as far as the disk
// lets it; the first failure is the one the caller hears of.
template <class Step>
void AsFarAsTheDiskLets(Step&& step) {
    try {
        step();
    } catch (CException* again) {
        again->Delete();
    }
}
}  // namespace

void CTKStream::RestoreLink(CTKSectionEntry* previous, int64_t next, int linked) {
    if (!previous || (previous->m_next == next && previous->m_linked == linked))
        return;
    previous->m_next = next;
    previous->m_linked = linked;
    AsFarAsTheDiskLets([&] { m_pContainer->WriteHeader(*previous); });
}

void CTKStream::ReuseReleasedSection() {
    Seek(m_length);
    CTKSectionEntry* previous = m_pList->GetLastInUse();
    const CTKSectionEntry asReleased = *m_pList->GetReleased(0);
    const int64_t previousNext = previous ? previous->m_next : 0;
    const int previousLinked = previous ? previous->m_linked : 0;
    CTKSectionEntry* reused = m_pList->TakeFirstReleased();
    try {
        CallObserver(*reused);
        // The reused section's header goes out before the link to it: a reader
        // that follows the link then never finds a free section at its end.
        m_pContainer->WriteHeader(*reused);
        m_pContainer->WriteTrailer(*reused);
        if (previous) {
            previous->m_linked = 1;
            previous->m_next = reused->m_offset;
            m_pContainer->WriteHeader(*previous);
        }
    } catch (CException*) {
        // All or nothing, as a new section is: the section goes back to the
        // released ones as it was, on disk as far as the disk lets us, so that
        // this stream's view and the file's chain stay one.
        RestoreLink(previous, previousNext, previousLinked);
        *reused = asReleased;  // its sequence puts it first among the released again
        m_pList->ReleaseLastInUse();
        AsFarAsTheDiskLets([&] {
            m_pContainer->WriteHeader(asReleased);
            m_pContainer->WriteTrailer(asReleased);
        });
        throw;
    }
    Locate(m_length);
}

void CTKStream::AppendNewSection() {
    auto entry = std::make_unique<CTKSectionEntry>();
    entry->m_streamStart = m_length;
    entry->m_nameNumber = m_pList->GetNameNumber();
    entry->m_copy = m_pList->GetCopy();
    entry->m_sequence = m_pList->GetHighestInUse() + 1;
    entry->m_size = m_bOpenEnded ? fmt::kOpenEndedSectionSize : m_allocationSize;

    // An open-ended stream holds the writer hook for its whole life and lets the
    // file grow as it writes; any other stream takes it here, reads the file's
    // length under it, and extends the file to the new section's end at once, so
    // that no other station can place a section on the same bytes.
    CTKHookScope writer(m_bOpenEnded ? nullptr : m_pContainer->m_pWriterHook);
    entry->m_offset = m_pContainer->GetFileLength();
    CTKSectionEntry* previous = m_pList->GetLastInUse();
    const int64_t previousNext = previous ? previous->m_next : 0;
    const int previousLinked = previous ? previous->m_linked : 0;
    try {
        if (!m_bOpenEnded)
            m_pContainer->SetFileLength(entry->m_offset + entry->m_size);
        CallObserver(*entry);
        m_pContainer->WriteHeader(*entry);
        if (!m_bOpenEnded)
            m_pContainer->WriteTrailer(*entry);
        if (previous) {
            previous->m_next = entry->m_offset;
            previous->m_linked = 1;
            m_pContainer->WriteHeader(*previous);
        }
    } catch (CException*) {
        // A full disk fails the header after the file has grown (extending a
        // file reserves no blocks). The section is given back, still under the
        // writer hook, so that the file ends with its last whole section and
        // every reader walks it as before.
        // Each step on its own: a header the disk refuses again must not keep
        // the file from being cut back.
        RestoreLink(previous, previousNext, previousLinked);
        AsFarAsTheDiskLets([&] { m_pContainer->SetFileLength(entry->m_offset); });
        throw;
    }
    writer.Restore();
    m_pList->Add(std::move(entry));
    Locate(m_length);
}

void CTKStream::Commit(int flushFile) {
    std::lock_guard lock(*m_pMutex);
    if (m_pCurrent) {
        // An open-ended section is settled to the size its data needs. A section
        // that already has a real size keeps it: shrinking it would leave bytes
        // between it and the next section that belong to no section.
        const bool nominal = m_bOpenEnded && m_pCurrent->m_size == fmt::kOpenEndedSectionSize;
        if (m_bHeaderDirty || nominal) {
            if (nominal)
                m_pCurrent->m_size = fmt::SectionSizeForData(m_pCurrent->m_used);
            CallObserver(*m_pCurrent);
            if (nominal)
                m_pContainer->WriteTrailer(*m_pCurrent);
            m_pContainer->WriteHeader(*m_pCurrent);
            m_roomEnd = ComputeRoomEnd();
        }
    }
    if (flushFile)
        m_pContainer->Flush();
    m_bDataDirty = 0;
    m_bHeaderDirty = 0;
}

void CTKStream::MarkHeaderDirty() {
    std::lock_guard lock(*m_pMutex);
    if (m_bReadOnly)
        return;
    // The dirty flag belongs to the current section: make that the last one.
    Seek(m_length);
    if (m_pCurrent)
        m_bHeaderDirty = 1;
}

void CTKStream::Truncate() {
    std::lock_guard lock(*m_pMutex);
    if (m_bReadOnly)
        return;
    std::vector<CTKSectionEntry*> released;
    CTKSectionEntry* first = m_pList->GetInUseCount() > 0 ? m_pList->GetInUse(0) : nullptr;
    if (first) {
        // The first section goes out first and then the released ones from the
        // front, so that a reader never follows a link to a released section.
        // Its header is the cut on disk: this stream's view changes only once
        // it is written, so a refused write leaves both as they were.
        CTKSectionEntry emptied = *first;
        emptied.m_used = 0;
        emptied.m_linked = 0;
        m_pContainer->WriteHeader(emptied);
        while (m_pList->GetInUseCount() > 1) {
            released.insert(released.begin(), m_pList->GetLastInUse());
            m_pList->ReleaseLastInUse();
        }
        first->m_used = 0;
        first->m_linked = 0;
    }
    m_bHeaderDirty = 0;
    m_length = 0;
    Locate(0);
    if (first) {
        m_pContainer->WriteTrailer(*first);
        for (CTKSectionEntry* e : released) {
            m_pContainer->WriteHeader(*e);
            m_pContainer->WriteTrailer(*e);
        }
    }
}

void CTKStream::Refresh() {
    std::lock_guard lock(*m_pMutex);
    Seek(m_length);
    CTKSectionEntry* e = m_pList->GetLastInUse();
    if (!e)
        return;
    bool changed = false;
    // A writer that follows the rules never shows a link to a free section, so
    // the walk ends; a corrupt file could make it go back and forth for ever.
    const int64_t limit = 64 + 4 * static_cast<int64_t>(m_pList->GetSectionCount());
    for (int64_t step = 0;; ++step) {
        if (step > limit)
            m_pContainer->ThrowCode(CTKCompoundFileException::invalidSectionHeader);
        fmt::SectionHeader h;
        if (!m_pContainer->ReadHeader(e->m_offset, h)) {
            m_pContainer->ThrowCode(CTKCompoundFileException::unexpectedEndOfFile);
        }
        if (!fmt::IsPlausibleHeader(h, e->m_offset) || h.copy != e->m_copy ||
            m_pContainer->m_names.Find(h.name) != e->m_nameNumber) {
            m_pContainer->ThrowCode(CTKCompoundFileException::invalidSectionHeader);
        }
        if (h.used != e->m_used) {
            e->m_used = h.used;
            e->m_annotationLength = h.annotationLength;
            std::copy(std::begin(h.annotation), std::end(h.annotation), e->m_annotation);
            changed = true;
        }
        if (h.size != e->m_size)
            e->m_size = h.size;
        e->m_next = h.next;
        e->m_linked = h.linked ? 1 : 0;
        if (h.linked) {
            if (m_pList->GetReleasedCount() > 0 && m_pList->GetReleased(0)->m_offset == h.next) {
                e = m_pList->TakeFirstReleased();
                changed = true;
                continue;
            }
            // Released sections that are not the next on the chain are a view
            // that no longer holds; the chain on disk is the truth.
            m_pList->DropReleased();
            m_pContainer->LoadChain(*m_pList, h.next);
            changed = true;
            break;
        }
        if (h.free) {
            changed = true;
            if (m_pList->GetInUseCount() == 1) {
                e->m_used = 0;
                break;
            }
            m_pList->ReleaseLastInUse();
            e = m_pList->GetLastInUse();
            continue;
        }
        break;
    }
    if (!changed)
        return;
    const CTKSectionEntry* last = m_pList->GetLastInUse();
    m_length = last ? last->GetStreamEnd() : 0;
    Locate(m_length);
}

void CTKStream::Trim(int minimumPiece) {
    std::lock_guard lock(*m_pMutex);
    m_bTrimmed = 1;
    Locate(m_length);
    if (!m_pCurrent || m_pCurrent->m_used == 0) {
        m_bTrimmed = 0;
        m_roomEnd = ComputeRoomEnd();
        return;
    }
    if (m_bOpenEnded) {
        m_bHeaderDirty = 1;
        Commit(TRUE);
        return;
    }
    CTKSectionEntry* e = m_pCurrent;
    const int32_t newSize = fmt::SectionSizeForData(e->m_used);
    const int32_t spare = e->m_size - newSize;
    if (spare < fmt::kMinSectionSize || spare - fmt::kSectionOverhead < minimumPiece ||
        m_pList->GetReleasedCount() > 0) {
        if (m_bHeaderDirty)
            Commit(TRUE);
        return;
    }
    const int64_t oldEnd = e->m_offset + e->m_size;
    // The new layout is written on a copy and taken over only once the header
    // that settles it is on disk: a write that fails (a full disk) leaves the
    // section as the disk still describes it, so a later commit cannot write a
    // size whose trailer and spare section were never written.
    CTKSectionEntry trimmed = *e;
    trimmed.m_size = newSize;
    CallObserver(trimmed);
    CTKHookScope writer(m_pContainer->m_pWriterHook);
    const bool atFileEnd = oldEnd == m_pContainer->GetFileLength();
    std::unique_ptr<CTKSectionEntry> r;
    if (!atFileEnd) {
        // The spare bytes stay on this stream's chain as a released section.
        r = std::make_unique<CTKSectionEntry>(trimmed);
        r->m_offset = e->m_offset + newSize;
        r->m_streamStart = m_length;
        r->m_next = -1;
        r->m_linked = 0;
        r->m_free = 1;
        r->m_size = spare;
        r->m_used = 0;
        r->m_annotationLength = 0;
        std::fill(std::begin(r->m_annotation), std::end(r->m_annotation), 0u);
        r->m_sequence = m_pList->GetHighestInUse() + 1;
        trimmed.m_next = r->m_offset;
        trimmed.m_linked = 0;
        m_pContainer->WriteHeader(*r);
        m_pContainer->WriteTrailer(*r);
    }
    m_pContainer->WriteTrailer(trimmed);
    m_pContainer->WriteHeader(trimmed);
    *e = trimmed;
    if (r)
        m_pList->Add(std::move(r));
    m_bHeaderDirty = 0;
    // The file is cut only after the header says the section is shorter, so a
    // reader never sees a section that reaches beyond the file.
    if (atFileEnd)
        m_pContainer->SetFileLength(e->m_offset + newSize);
    writer.Restore();
    Locate(m_length);
}
