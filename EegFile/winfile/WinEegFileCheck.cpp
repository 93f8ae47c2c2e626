// The check of a current-format recording. It reads the container's bytes
// itself, section by section, rather than through CTKCompoundFile: the
// container refuses a damaged file at the first fault, while a check must say
// where every fault is and what is still sound around it. The records inside the
// streams are then read through the library's own readers, so that what the
// check accepts is exactly what a station can load.
//
// It never writes: the file, the control file and the lock file are opened for
// reading only, and no station entry or open-file list entry is made.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/container/TKCompoundFileFormat.h"
#include "EegFile/container/TKStreamFile.h"
#include "EegFile/events/EegEvent.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/winfile/EegDataLayout.h"
#include "EegFile/winfile/EegHeader.h"
#include "EegFile/winfile/EegStreamIndex.h"
#include "EegFile/winfile/WinEegFile.h"
#include "Platform/Archive.h"
#include "Platform/File.h"

namespace {

namespace fmt = TKCompoundFileFormat;

constexpr WORD kMarkStreamVersion = 99 ^ 0x5A5A;
constexpr int kMarkStreamPrefix = 6;  // version word and mark-for-delete flag

CString Text(CException* e) {
    CString text = e->GetErrorText();
    e->Delete();
    return text;
}

CString Format(const char* format, auto... values) {
    CString s;
    s.Format(format, values...);
    return s;
}

struct Section {
    fmt::SectionHeader h;
    bool reached = false;  // on its stream's chain
};

// A stream as the walk found it: its sections by sequence, and whether its
// chain from the first section is whole.
using StreamKey = std::pair<std::string, int>;

class CRecordingCheck {
public:
    CRecordingCheck(const char* path, bool readData, CEegFileProblemList& problems)
        : m_path(path), m_readData(readData), m_problems(problems) {}

    void Run() {
        // A file that cannot be opened at all is the caller's error, not a problem.
        CFileException error;
        if (!m_file.Open(m_path, CFile::modeRead | CFile::shareDenyNone, &error))
            AfxThrowFileException(error.m_cause, error.m_lOsError, m_path);
        m_length = static_cast<int64_t>(m_file.GetLength());
        WalkSections();
        CheckChains();
        CheckDirectory();
        m_file.Close();
        if (!m_containerSound)
            return;  // the library would refuse it; what follows reads through the library
        CheckRecords();
        CheckControlFile();
        CheckData();
    }

private:
    void Add(const CString& where, const CString& what) { m_problems.push_back({where, what}); }

    CString SectionWhere(const fmt::SectionHeader& h) const {
        return Format("%s copy %d, section %d at byte %lld", h.name, h.copy, h.sequence,
                      static_cast<long long>(h.offset));
    }

    // Every section from offset 0 to the end of the file: a header that fails its
    // checks ends the walk, since the next section's place depends on its size.
    void WalkSections() {
        int64_t p = 0;
        while (p < m_length) {
            unsigned char raw[fmt::kHeaderSize] = {};
            const UINT got = m_length - p >= fmt::kHeaderSize
                                 ? m_file.ReadAt(static_cast<uint64_t>(p), raw, sizeof raw)
                                 : 0;
            fmt::SectionHeader h;
            fmt::DecodeHeader(raw, h);
            if (got != sizeof raw || !fmt::IsValidHeader(h, p, m_length)) {
                ReportTail(p, got == sizeof raw ? &h : nullptr);
                return;
            }
            unsigned char trailer[fmt::kTrailerSize];
            const int64_t t = p + h.size - fmt::kTrailerSize;
            if (m_file.ReadAt(static_cast<uint64_t>(t), trailer, sizeof trailer) !=
                    sizeof trailer ||
                std::memcmp(trailer, fmt::kTrailerMagic, 8) != 0 ||
                Le64(trailer + fmt::TrailerField::kOffset) != p ||
                Le32(trailer + fmt::TrailerField::kSize) != h.size)
                Add(SectionWhere(h), "the trailer does not match the header");
            m_sections[p] = Section{h};
            m_streams[{h.name, h.copy}].push_back(p);
            p += h.size;
        }
    }

    void ReportTail(int64_t p, const fmt::SectionHeader* h) {
        m_containerSound = p > 0 && m_containerSound;
        const int64_t rest = m_length - p;
        m_tailStart = p;
        const CString where = Format("byte %lld", static_cast<long long>(p));
        if (h && std::strcmp(h->magic, "SctHdr") == 0 && h->offset == p &&
            h->size == fmt::kOpenEndedSectionSize) {
            Add(where, Format("%s copy %d: an open-ended section that was never settled (%lld "
                              "bytes; its writer stopped before committing it)",
                              h->name, h->copy, static_cast<long long>(rest)));
            return;
        }
        if (h && fmt::IsPlausibleHeader(*h, p) && p + h->size > m_length) {
            Add(SectionWhere(*h), Format("the file ends inside it (%lld of %d bytes present; "
                                         "the file was cut short)",
                                         static_cast<long long>(rest), h->size));
            return;
        }
        if (AllZero(p, rest)) {
            Add(where, Format("%lld bytes of zeros after the last section: the file grew for a "
                              "section that was never written",
                              static_cast<long long>(rest)));
            return;
        }
        Add(where, p == 0 ? CString("not a container: no section header at the start")
                          : Format("no valid section header; the %lld bytes from here belong "
                                   "to no stream (a writer stopped while growing or trimming "
                                   "the file, or the file is damaged here)",
                                   static_cast<long long>(rest)));
    }

    bool AllZero(int64_t from, int64_t count) {
        unsigned char buffer[65536];
        while (count > 0) {
            const UINT n = static_cast<UINT>(std::min<int64_t>(count, sizeof buffer));
            const UINT got = m_file.ReadAt(static_cast<uint64_t>(from), buffer, n);
            if (got == 0)
                return false;
            for (UINT i = 0; i < got; ++i) {
                if (buffer[i])
                    return false;
            }
            from += got;
            count -= got;
        }
        return true;
    }

    // Each stream's chain: one first section, then next links in sequence order
    // to sections of the same stream; the sections in use linked but the last,
    // released ones after them; no section left off its chain.
    void CheckChains() {
        for (auto& [key, offsets] : m_streams) {
            const CString name = Format("%s copy %d", key.first.c_str(), key.second);
            std::vector<int64_t> firsts;
            for (int64_t o : offsets) {
                if (m_sections[o].h.sequence == 0)
                    firsts.push_back(o);
            }
            if (firsts.size() != 1) {
                Add(name, firsts.empty() ? CString("no first section (sequence 0)")
                                         : Format("%d first sections", int(firsts.size())));
                m_containerSound = false;
                if (firsts.empty())
                    continue;
            }
            int64_t at = firsts[0];
            int sequence = 0;
            bool inUse = true;
            std::set<int64_t> seen;
            std::vector<int64_t>& chain = m_chains[key];
            while (at >= 0) {
                Section& s = m_sections[at];
                s.reached = true;
                seen.insert(at);
                chain.push_back(at);
                const fmt::SectionHeader& h = s.h;
                if (h.sequence != sequence) {
                    Add(SectionWhere(h),
                        Format("sequence %d where %d was due", h.sequence, sequence));
                    m_containerSound = false;
                }
                if (!inUse && (h.linked || !h.free))
                    Add(SectionWhere(h), "a section holding data after the stream's last one");
                if (h.free && h.used)
                    Add(SectionWhere(h), "a released section with data in it");
                inUse = inUse && h.linked && !h.free;
                if (h.next < 0) {
                    if (h.linked) {
                        Add(SectionWhere(h), "linked to a next section but has none");
                        m_containerSound = false;
                    }
                    break;
                }
                auto next = m_sections.find(h.next);
                if (next == m_sections.end() || next->second.h.copy != h.copy ||
                    std::strcmp(next->second.h.name, h.name) != 0 || seen.count(h.next)) {
                    Add(SectionWhere(h),
                        Format("the next section (byte %lld) is not this stream's next one",
                               static_cast<long long>(h.next)));
                    m_containerSound = false;
                    break;
                }
                at = h.next;
                ++sequence;
            }
        }
        for (auto& [offset, s] : m_sections) {
            if (!s.reached && s.h.sequence != 0)
                Add(SectionWhere(s.h), "on no stream's chain (its space is lost to the file)");
        }
    }

    // The bytes of a stream along its chain, as far as the walk found it whole.
    std::vector<unsigned char> StreamBytes(const char* name, int copy) {
        std::vector<unsigned char> bytes;
        auto it = m_chains.find({name, copy});
        if (it == m_chains.end())
            return bytes;
        for (int64_t o : it->second) {
            const fmt::SectionHeader& h = m_sections[o].h;
            if (h.free)
                continue;
            const size_t at = bytes.size();
            bytes.resize(at + static_cast<size_t>(h.used));
            if (m_file.ReadAt(static_cast<uint64_t>(o + fmt::kHeaderSize), bytes.data() + at,
                              static_cast<UINT>(h.used)) != static_cast<UINT>(h.used))
                bytes.resize(at);
        }
        return bytes;
    }

    // The directory: section 0 is its first, its schema is known, and its
    // records and the streams found agree both ways.
    void CheckDirectory() {
        auto first = m_sections.find(0);
        if (first == m_sections.end() ||
            std::strcmp(first->second.h.name, fmt::kDirectoryName) != 0 ||
            first->second.h.copy != fmt::kDirectoryCopy) {
            if (first != m_sections.end())
                Add("byte 0", "the first section is not the directory");
            m_containerSound = false;
            return;
        }
        const std::vector<unsigned char> d = StreamBytes(fmt::kDirectoryName, fmt::kDirectoryCopy);
        const CString where = "Directory";
        if (d.size() < 4 || Le16(d.data()) != (fmt::kDirectorySchema ^ fmt::kVersionXor)) {
            Add(where, "no directory schema word");
            m_containerSound = false;
            return;
        }
        uint64_t count = Le16(d.data() + 2);
        size_t at = 4;
        if (count == 0xFFFF) {
            count = d.size() >= 8 ? static_cast<uint32_t>(Le32(d.data() + 4)) : UINT64_MAX;
            at = 8;
        }
        const uint64_t present = at <= d.size() ? (d.size() - at) / fmt::kDirectoryRecordSize : 0;
        if (count > present) {
            Add(where,
                "more records counted than the stream holds (a rewrite its writer did not "
                "finish; stations read the records present)");
            count = present;
        }
        std::set<StreamKey> listed;
        for (uint64_t i = 0; i < count; ++i, at += fmt::kDirectoryRecordSize) {
            fmt::DirectoryRecord r;
            fmt::DecodeRecord(d.data() + at, r);
            if (r.firstSection < 0)
                continue;
            auto s = m_sections.find(r.firstSection);
            const CString rw = Format("Directory record %d (%s copy %d)", int(i), r.name, r.copy);
            if (r.firstSection >= m_tailStart) {
                Add(rw,
                    "its stream was being created when its writer stopped (its first "
                    "section lies in the tail after the last section)");
                continue;
            }
            if (s == m_sections.end() || s->second.h.sequence != 0) {
                Add(rw, Format("its first section (byte %lld) is not a stream's first section",
                               static_cast<long long>(r.firstSection)));
                m_containerSound = false;
                continue;
            }
            listed.insert({s->second.h.name, s->second.h.copy});
        }
        for (auto& [key, offsets] : m_streams) {
            if (key != StreamKey{fmt::kDirectoryName, fmt::kDirectoryCopy} && !listed.count(key))
                Add(Format("%s copy %d", key.first.c_str(), key.second),
                    "not in the directory (no station can open it)");
        }
    }

    // A stream's records through the library's readers; a stream that cannot be
    // opened is a problem, a missing optional one is not.
    template <class F>
    void WithStream(const char* name, int copy, bool required, F&& read) {
        const CString where = Format("%s copy %d", name, copy);
        CTKStreamFile* file = nullptr;
        try {
            file = CWinEegFile::OpenStreamFile(m_path, name, copy, 0, CFile::modeRead);
        } catch (CException* e) {
            Add(where, Text(e));
            return;
        }
        if (!file) {
            if (required)
                Add(where, "missing");
            return;
        }
        std::unique_ptr<CTKStreamFile> owned(file);
        try {
            CArchive ar(file, CArchive::load, 4096);
            ar.m_strFileName = m_path;
            read(ar, *file, where);
        } catch (CException* e) {
            // Backups are made at close, stream by stream; one that ends short was
            // being made when its writer stopped. Stations read only copy 1.
            auto* a = dynamic_cast<CArchiveException*>(e);
            if (copy == 2 && a && a->m_cause == CArchiveException::endOfFile) {
                e->Delete();
                Add(where, "the backup ends short (its writer stopped while making it)");
            } else {
                Add(where, Text(e));
            }
        }
        try {
            owned->Close();
        } catch (CException* e) {
            e->Delete();
        }
    }

    // Event entries one by one from the archive's position to the stream's end,
    // so that a damaged one is named by its byte offset and number.
    void CheckEntries(CArchive& ar, CFile& file, const CString& where, const char* what) {
        const uint64_t length = file.GetLength();
        int index = 0;
        while (!ar.IsBufferEmpty() || file.GetPosition() < length) {
            const uint64_t at = ar.GetPosition();
            try {
                std::unique_ptr<CEegEvent> e(CEegEventList::LoadEntry(ar));
                if (e->GetEventType() == CEegEvent::etDataDeletion)
                    m_lastDeletion = std::max(m_lastDeletion, e->GetTimeStamp().GetSampleOffset());
            } catch (CException* e) {
                // A record that runs into the stream's end is one its writer was
                // storing when it stopped; stations read the records before it.
                auto* a = dynamic_cast<CArchiveException*>(e);
                const bool cut = a && a->m_cause == CArchiveException::endOfFile;
                Add(where, Format("%s %d at byte %llu: %s", what, index,
                                  static_cast<unsigned long long>(at),
                                  cut ? "incomplete (its writer stopped while storing it)"
                                      : Text(e).GetString()));
                if (cut)
                    e->Delete();
                return;
            }
            ++index;
        }
    }

    void CheckRecords() {
        std::vector<unsigned char> copies[2];
        for (int copy = 1; copy <= 2; ++copy) {
            WithStream(CWinEegFile::kHeaderStream, copy, copy == 1,
                       [&](CArchive& ar, CFile&, const CString& where) {
                           CEegHeader header;
                           header.Serialize(ar);
                           if (!header.IsSignatureValid())
                               Add(where, "the header's signature is not valid");
                           if (copy == 1) {
                               m_rate = static_cast<int>(header.GetSampleRate());
                               m_compression = header.GetCompressionType();
                               m_amp = header.GetAmpHardwareInfo();
                               m_headerRead = true;
                           }
                       });
            WithStream(CWinEegFile::kPatientStream, copy, copy == 1,
                       [&](CArchive& ar, CFile&, const CString&) {
                           CPatientInfo info;
                           info.Serialize(ar);
                       });
            WithStream(CWinEegFile::kEventListStream, copy, copy == 1,
                       [&](CArchive& ar, CFile& file, const CString& where) {
                           if (file.GetLength() == 0)
                               return;  // no event was ever stored
                           WORD version = 0;
                           ar >> version;
                           if ((version ^ 0x5A5A) != 0) {
                               Add(where, "unknown event list version");
                               return;
                           }
                           CheckEntries(ar, file, where, "event");
                       });
        }
        WithStream(CWinEegFile::kMarkDeleteStream, 1, false,
                   [&](CArchive& ar, CFile& file, const CString& where) {
                       if (file.GetLength() < 8)
                           return;  // counts as empty
                       WORD version = 0;
                       int32_t flag = 0;
                       ar >> version >> flag;
                       if (version != kMarkStreamVersion) {
                           Add(where, "unknown marks version");
                           return;
                       }
                       static_assert(kMarkStreamPrefix == sizeof version + sizeof flag);
                       CheckEntries(ar, file, where, "mark");
                   });
    }

    // The stations named in the control file, and whether any of them still
    // holds the recording (a holder keeps the lock file open).
    void CheckControlFile() {
        const CString control =
            EegControlFileFormat::SiblingPath(m_path, EegControlFileFormat::kControlExtension);
        const CString lock =
            EegControlFileFormat::SiblingPath(m_path, EegControlFileFormat::kLockExtension);
        CFile file;
        if (!file.Open(control, CFile::modeRead | CFile::shareDenyNone))
            return;  // no station has it open
        CEegControlRecord record;
        try {
            ReadControlRecord(file, record);
        } catch (CException* e) {
            Add(CString(control), Text(e));
            return;
        }
        // Asking claims nothing: a probe that denied sharing, even for an
        // instant, could refuse a station opening the recording just then.
        CFile probe;
        m_held = probe.Open(lock, CFile::modeRead | CFile::shareDenyNone) &&
                 probe.IsOpenElsewhere();
        for (const CEegStationEntry& s : record.m_Stations) {
            if (s.m_Mode == CEegAccessMode::eamWrite || s.m_Mode == CEegAccessMode::eamWriteMark ||
                s.m_Mode == CEegAccessMode::eamExclusive)
                m_writerEntry = true;
            if (!m_held)
                Add(CString(control),
                    Format("station %s (opening %d) is listed but holds the recording no longer",
                           s.m_Name.GetString(), s.m_Number));
        }
    }

    // The data stream's sections against their annotations, every second read
    // back, and whether the last run ended.
    void CheckData() {
        if (!m_headerRead)
            return;
        CEegDataLayout layout;
        try {
            layout.Configure(m_compression, m_rate, m_amp);
        } catch (CException* e) {
            Add("Header copy 1", Text(e));
            return;
        }
        const int bps = layout.GetBytesPerSecond();
        auto it = m_chains.find({CWinEegFile::kEegDataStream, 1});
        if (it == m_chains.end() || bps <= 0)
            return;  // prepared but never recorded
        uint32_t end = 0, lastFirst = 0, lastEnd = 0;
        const fmt::SectionHeader* last = nullptr;
        for (int64_t o : it->second) {
            const fmt::SectionHeader& h = m_sections[o].h;
            if (h.free)
                continue;
            const CString where = SectionWhere(h);
            const uint32_t first = h.annotation[3], stop = h.annotation[4];
            if (h.used % bps)
                Add(where, Format("holds %d bytes, not whole seconds of %d", h.used, bps));
            if (h.annotationLength != 24)
                Add(where, "no time annotation");
            else if (stop < first || stop - first != static_cast<uint32_t>(h.used / bps))
                Add(where,
                    Format("annotated seconds %u-%u but holds %d s", first, stop, h.used / bps));
            else if (first < end && !(h.annotation[5] & CEegStreamIndex::kRunStart))
                Add(where, Format("second %u again (the seconds before end at %u)", first, end));
            end = std::max(end, stop);
            if (h.used > 0) {
                last = &h;
                lastFirst = first;
                lastEnd = stop;
            }
        }
        // A run that ends where a cut took the rest of the recording lost its
        // stop flag to the cut; a deletion event stands at the old end then.
        const bool stopped = !last || (last->annotation[5] & CEegStreamIndex::kRunStop) ||
                             m_lastDeletion >= lastEnd * static_cast<uint32_t>(m_rate);
        if (!stopped && !m_held)
            Add("EEGData copy 1", Interrupted(*last, lastFirst, lastEnd));
        else if (m_writerEntry && !m_held)
            Add("EEGData copy 1", "recording interrupted: a writer is listed but gone");
        if (m_readData)
            ReadEverySecond();
    }

    CString Interrupted(const fmt::SectionHeader& h, uint32_t first, uint32_t stop) const {
        double days = 0;
        static_assert(sizeof days == 8);
        uint64_t bits = (static_cast<uint64_t>(h.annotation[1]) << 32) | h.annotation[0];
        std::memcpy(&days, &bits, sizeof days);
        // The annotation is the file's word: a time outside the calendar's range
        // (years 100 to 9999) is not shown.
        CString at = "at an unknown time";
        if (days > -657434.0 && days < 2958466.0) {
            COleDateTime when(days);
            when += COleDateTimeSpan(0, 0, 0, stop > first ? stop - first - 1 : 0);
            at = when.Format("%Y-%m-%d %H:%M:%S");
        }
        return Format(
            "recording interrupted: its last run has no end; %u s kept, the last "
            "kept second began %s",
            stop, at.GetString());
    }

    // Every stored second through the reader, as a reviewer would read it.
    void ReadEverySecond() {
        CWinEegFile recording;
        recording.SetForceOpenAsReadOnly(1);
        try {
            recording.Open(m_path, 0);
            const uint32_t seconds = recording.GetStreamIndex().GetStoredSeconds();
            const int rate = static_cast<int>(recording.GetSampleRate());
            CEegDataChunk chunk(rate, 32);
            for (uint32_t s = 0; s < seconds; ++s) {
                recording.SetReadPosition(CEegTimeStamp(s * static_cast<uint32_t>(rate)));
                if (!recording.ReadEegData(chunk, static_cast<uint32_t>(rate))) {
                    Add("EEGData copy 1", Format("second %u cannot be read", s));
                    break;
                }
            }
            recording.Close();
        } catch (CException* e) {
            Add("recording", Text(e));
        }
    }

    static uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
    static int32_t Le32(const unsigned char* p) {
        return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                    static_cast<uint32_t>(p[2]) << 16 |
                                    static_cast<uint32_t>(p[3]) << 24);
    }
    static int64_t Le64(const unsigned char* p) {
        return static_cast<int64_t>(static_cast<uint32_t>(Le32(p)) |
                                    static_cast<uint64_t>(static_cast<uint32_t>(Le32(p + 4)))
                                        << 32);
    }

    const char* m_path;
    bool m_readData;
    CEegFileProblemList& m_problems;
    CFile m_file;
    int64_t m_length = 0;
    std::map<int64_t, Section> m_sections;
    std::map<StreamKey, std::vector<int64_t>> m_streams;  // offsets in file order
    bool m_containerSound = true;
    bool m_held = false;
    bool m_writerEntry = false;
    int64_t m_tailStart = INT64_MAX;  // where the bytes after the last whole section begin
    uint32_t m_lastDeletion = 0;      // the last data deletion event's sample offset
    std::map<StreamKey, std::vector<int64_t>> m_chains;  // offsets in sequence order
    bool m_headerRead = false;
    int m_rate = 0;
    Compression::CompressionType m_compression{};
    CAmpHardwareInfo m_amp;
};

}  // namespace

void CWinEegFile::CheckFile(const char* path, int readData, CEegFileProblemList& problems) {
    CRecordingCheck(path, readData != 0, problems).Run();
}
