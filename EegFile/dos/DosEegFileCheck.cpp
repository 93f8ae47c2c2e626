// The check of a legacy recording (CDosEegFile::CheckFile): what its log, data and
// cut files, MAXREAD, marks file, patient file and the files of its stations say,
// measured against each other, without changing a byte of any of them. Every file
// is opened for reading with all sharing allowed; the lock file's writer byte is
// asked about, never taken; nothing is created.
//
// The log is parsed by the parser every reader uses, told to report what it
// passes over; the recording object built over it answers times of day and loads
// the marks the way an opened recording does, without access control.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "EegFile/access/EegControlFileFormat.h"
#include "EegFile/dos/DosEegFile.h"
#include "EegFile/dos/DosFileException.h"
#include "EegFile/dos/DosPdbFile.h"
#include "EegFile/events/DataMarkDeleteEvent.h"
#include "Platform/File.h"

namespace {

namespace fmt = EegControlFileFormat;
using LogFormat::Line;

// Lines of the log reported one by one; a file that is no log at all would give
// one problem per line, and the rest are counted.
constexpr size_t kMaxLineProblems = 100;
// Seconds read at a time when a data file's contents are checked.
constexpr int kSecondsPerRead = 64;

constexpr UINT kReadShared = CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary;

CString NameOf(const CString& path) {
    return path.Mid(path.ReverseFind('/') + 1);
}

CString AtByte(const CString& name, int64_t byte) {
    CString s;
    s.Format("%s at byte %lld", name.GetString(), static_cast<long long>(byte));
    return s;
}

CString ErrorText(CException* e) {
    const CString text = e->GetErrorText();
    e->Delete();
    return text;
}

// The log parsed as every reader parses it, keeping what the parser drops: the
// lines it passes over or cannot read, each file line as it stands (the parser
// compacts its list) and the lines that set the rate, the storage mode and the
// last run's start or stop.
class CCheckedLog : public CDosLogFile {
public:
    struct Noted {
        int64_t start;
        CString what;
    };
    std::vector<Noted> m_Lines;
    int64_t m_nMoreLines = 0;
    std::map<int, int32_t> m_Files;  // number (cut files below 0) -> start second
    int64_t m_nRateLine = -1, m_nModeLine = -1, m_nRunLine = -1;
    bool m_bRunStarted = false;

protected:
    void OnLineProblem(const CString& what) override {
        if (m_Lines.size() < kMaxLineProblems)
            m_Lines.push_back({LineStart(), what});
        else
            ++m_nMoreLines;
    }

    CString ConvertTextToEvent(const char* text) override {
        using namespace LogFormat;
        const Line line{text, static_cast<int>(std::strlen(text))};
        if (IsLogEntry(line)) {
            int number = 0;
            if ((line.Keyword(kNewFile) || line.Keyword(kCutFile)) &&
                Scanner(line.From(kValueColumn)).Int(number)) {
                // As the parser lists it: a number met again moves its file.
                const int key = line.Keyword(kNewFile) ? number : -number;
                if (m_Files.size() < static_cast<size_t>(kMaxFiles) || m_Files.count(key))
                    m_Files[key] = SecondOffsetFromString(line.From(0));
            }
            const std::string_view v = line.From(kValueColumn);
            if (line.Keyword(kComment) &&
                (v.starts_with(kRecordingAt) || v.starts_with(kStoppedAt))) {
                m_nRunLine = LineStart();
                m_bRunStarted = v.starts_with(kRecordingAt);
            }
            if (line.Keyword(kSampleRate))
                m_nRateLine = LineStart();
            if (line.Keyword(kCompression))
                m_nModeLine = LineStart();
        }
        return CDosLogFile::ConvertTextToEvent(text);
    }
};

// Where byte offsets of the log lie: line numbers from 1, and whether the offset
// starts its line (a line longer than the parser reads is read in pieces).
struct LinePlace {
    int64_t line = 0;
    bool atStart = true;
};

std::map<int64_t, LinePlace> PlaceOffsets(const CString& logPath, std::vector<int64_t> offsets) {
    std::sort(offsets.begin(), offsets.end());
    std::map<int64_t, LinePlace> places;
    CFile log(logPath, kReadShared);
    std::vector<char> buffer(64 * 1024);
    int64_t position = 0;
    LinePlace here{1, true};
    size_t next = 0;
    while (next < offsets.size()) {
        const UINT got = log.Read(buffer.data(), static_cast<UINT>(buffer.size()));
        if (got == 0)
            break;
        for (UINT i = 0; i < got; ++i, ++position) {
            for (; next < offsets.size() && offsets[next] <= position; ++next)
                places[offsets[next]] = here;
            here.atStart = buffer[i] == '\n';
            here.line += here.atStart ? 1 : 0;
        }
    }
    for (; next < offsets.size(); ++next)
        places[offsets[next]] = here;
    return places;
}

// The recording's marks file, read only: a check never stores marks.
class CMarkFileReader : public CDataMarkBacking {
public:
    explicit CMarkFileReader(const CString& path) : m_path(path) {}
    CFile& BeginLoad() override {
        m_file.Abort();
        CFileException error;
        if (!m_file.Open(m_path, kReadShared, &error))
            throw new CFileException(error.m_cause, error.m_lOsError, m_path);
        return m_file;
    }
    CFile& BeginStore() override {
        AfxThrowFileException(CFileException::accessDenied, EACCES, m_path);
    }
    void End(bool) override { m_file.Abort(); }
    void Close() override { m_file.Abort(); }

private:
    CString m_path;
    CFile m_file;
};

// Whether a station holds the writer byte of the recording's lock file, as a
// recording station does for as long as it records.
bool WriterHoldsRecording(const char* path) {
    CFile lock;
    return lock.Open(fmt::SiblingPath(path, fmt::kLockExtension), kReadShared) &&
           lock.IsRangeLockedByOthers(fmt::kWriterByte, 1);
}

}  // namespace

class CDosEegFile::CCheck {
public:
    CCheck(const char* path, bool readData, CEegFileProblemList& problems)
        : m_Path(path),
          m_bReadData(readData),
          m_pLog(new CCheckedLog),
          m_File(m_pLog),
          m_Problems(problems) {}

    void Run() {
        {
            // A log that cannot be read at all is no recording to check.
            CFile probe;
            CFileException error;
            if (!probe.Open(m_Path, kReadShared, &error))
                throw new CFileException(error.m_cause, error.m_lOsError, m_Path);
        }
        try {
            m_pLog->OpenLog(m_Path, 0);
        } catch (CDosFileException* e) {
            // Parsed whole, and then refused: reported with the files below.
            if (!(m_pLog->getStatus() & CLogFile::stLastIsCutFile))
                throw;
            e->Delete();
        }
        m_bLive = WriterHoldsRecording(m_Path);
        PlaceLines();
        CheckLines();
        CheckParameters();
        CheckFiles();
        CheckUnlistedFiles();
        CheckMaxRead();
        CheckMarks();
        CheckPatientFile();
        CheckInterrupted();
    }

private:
    struct Listed {
        int number;
        int32_t start;
    };

    void Add(const CString& where, const CString& what) { m_Problems.push_back({where, what}); }

    CString LogLine(int64_t offset) const {
        CString s;
        s.Format("LOG line %lld", static_cast<long long>(m_Places.at(offset).line));
        return s;
    }

    CString FileName(int number) const {
        CLogFile::FileType f;
        f.fileNumber = number;
        return NameOf(m_pLog->GetFilePath(f));
    }

    void PlaceLines() {
        // Bytes after the last line end: a line still being written, or one whose
        // writer died in the middle of it. The parser leaves it unread.
        CFileStatus status;
        m_nLogBytes = CFile::GetStatus(m_Path, status) ? static_cast<int64_t>(status.m_size) : 0;
        if (m_nLogBytes > m_pLog->GetReadPosition())
            m_nUnfinished = m_pLog->GetReadPosition();
        std::vector<int64_t> offsets;
        for (const auto& n : m_pLog->m_Lines)
            offsets.push_back(n.start);
        for (int64_t o :
             {m_pLog->m_nRateLine, m_pLog->m_nModeLine, m_pLog->m_nRunLine, m_nUnfinished}) {
            if (o >= 0)
                offsets.push_back(o);
        }
        m_Places = PlaceOffsets(m_Path, offsets);
    }

    void CheckLines() {
        int64_t lastLongLine = 0;
        for (const auto& n : m_pLog->m_Lines) {
            const LinePlace& place = m_Places.at(n.start);
            if (place.atStart) {
                Add(LogLine(n.start), n.what);
            } else if (place.line != lastLongLine) {
                lastLongLine = place.line;
                Add(LogLine(n.start),
                    "longer than 299 characters: readers read the rest as a line of its own and "
                    "pass it over");
            }
        }
        if (m_pLog->m_nMoreLines > 0) {
            CString what;
            what.Format("%lld further lines have problems like those above (not listed)",
                        static_cast<long long>(m_pLog->m_nMoreLines));
            Add("LOG", what);
        }
        if (m_nLogBytes == 0 && !m_bLive)
            Add("LOG",
                "empty: it describes no recording (its writer stopped before its first "
                "line)");
        if (m_nUnfinished >= 0 && !m_bLive)
            Add(LogLine(m_nUnfinished),
                "the last line has no line end: readers do not read it (its writer stopped in "
                "the middle of it)");
    }

    void CheckParameters() {
        const int rate = m_pLog->Rate();
        const CString rateWhere = m_pLog->m_nRateLine >= 0 ? LogLine(m_pLog->m_nRateLine) : "LOG";
        CString what;
        if (rate < 1 || rate > CDosEegData::kMaxSamplesPerSecond) {
            what.Format(
                "the sample rate (SAMPLRT) is %d: readers take 1 to %d samples per second, "
                "so no second of the recording can be read",
                rate, CDosEegData::kMaxSamplesPerSecond);
            Add(rateWhere, what);
        }
        const int mode = m_pLog->GetCompressionType();
        if (mode < Compression::Uncompressed || mode > Compression::AdaptiveDelta) {
            what.Format(
                "the storage mode (COMPRSN) is %d, which is none of 0, 1 and 2: readers "
                "take the data files as uncompressed",
                mode);
            Add(m_pLog->m_nModeLine >= 0 ? LogLine(m_pLog->m_nModeLine) : CString("LOG"), what);
        }
        if (m_pLog->getStatus() & CLogFile::stFileListFull) {
            what.Format(
                "the log lists more than %d files or reaches data file %d: readers take "
                "no further file",
                LogFormat::kMaxFiles, LogFormat::kMaxDataFileNumber);
            Add("LOG", what);
        }
    }

    // Whether a stored second of this recording can be held and unpacked.
    bool SecondsReadable() const {
        const int b = m_pLog->GetBytesPerSecondFile();
        const int rate = m_pLog->Rate();
        return rate >= 1 && rate <= CDosEegData::kMaxSamplesPerSecond && b > 0 &&
               b <= CDosEegData::kRawSecondBytes;
    }

    std::vector<Listed> ListedFiles(bool cutFiles) const {
        std::vector<Listed> files;
        for (const auto& [number, start] : m_pLog->m_Files) {
            if ((number < 0) == cutFiles)
                files.push_back({number, start});
        }
        std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) {
            return a.start != b.start ? a.start < b.start : a.number < b.number;
        });
        return files;
    }

    // A file's size, -1 when there is no such file.
    int64_t SizeOf(int number) const {
        CLogFile::FileType f;
        f.fileNumber = number;
        CFileStatus status;
        if (!CFile::GetStatus(m_pLog->GetFilePath(f), status) ||
            (status.m_attribute & CFile::directory))
            return -1;
        return static_cast<int64_t>(status.m_size);
    }

    // A trailing piece of a second: never read. Returns the whole seconds.
    int64_t WholeSeconds(int number, int64_t size, bool beingWritten) {
        const int b = m_pLog->GetBytesPerSecondFile();
        const int64_t partial = size % b;
        if (partial > 0 && !beingWritten) {
            CString what;
            what.Format(
                "ends in %lld bytes of a second of %d bytes: readers do not read them "
                "(a writer stopped in the middle of the second)",
                static_cast<long long>(partial), b);
            Add(AtByte(FileName(number), size - partial), what);
        }
        return size / b;
    }

    void CheckDataFiles() {
        const std::vector<Listed> files = ListedFiles(false);
        const int32_t maxRead = m_pLog->getMaxReadPosition();
        const int b = m_pLog->GetBytesPerSecondFile();
        CString what;
        for (size_t i = 0; i < files.size(); ++i) {
            const Listed& f = files[i];
            const bool open = i + 1 == files.size();  // the log gives it no end
            const int64_t next = open ? 0 : files[i + 1].start;
            // A cut copied what was kept of its seconds into cut files; readers
            // pass it over, and the next cut deletes it.
            if (!open && f.number != m_pLog->getLastDataFileNumber() && next <= maxRead)
                continue;
            const int64_t size = SizeOf(f.number);
            if (size < 0) {
                if (open)
                    what.Format("missing: the log lists it for the seconds from %d on", f.start);
                else
                    what.Format(
                        "missing: the log lists it for seconds %d to %lld, which read "
                        "as zeros",
                        f.start, static_cast<long long>(next - 1));
                Add(FileName(f.number), what);
                continue;
            }
            if (!SecondsReadable())
                continue;
            const int64_t whole = WholeSeconds(f.number, size, open && m_bLive);
            const int64_t given = next - f.start;
            if (!open && whole < given) {
                what.Format(
                    "holds %lld s, but the log gives it %lld s (seconds %d to %lld): "
                    "seconds %lld to %lld read as zeros",
                    static_cast<long long>(whole), static_cast<long long>(given), f.start,
                    static_cast<long long>(next - 1), static_cast<long long>(f.start + whole),
                    static_cast<long long>(next - 1));
                Add(AtByte(FileName(f.number), whole * b), what);
            } else if (!open && whole > given) {
                what.Format(
                    "holds %lld s, but the next data file starts at second %lld: its "
                    "last %lld s overlap that file",
                    static_cast<long long>(whole), static_cast<long long>(next),
                    static_cast<long long>(whole - given));
                Add(AtByte(FileName(f.number), std::max<int64_t>(given, 0) * b), what);
            }
            CheckContents(f.number, f.start, whole);
        }
    }

    void CheckCutFiles() {
        const std::vector<Listed> files = ListedFiles(true);
        const int32_t maxRead = m_pLog->getMaxReadPosition();
        const int b = m_pLog->GetBytesPerSecondFile();
        CString what;
        for (size_t i = 0; i < files.size(); ++i) {
            const Listed& f = files[i];
            if (f.start >= maxRead) {
                what.Format("never read: it starts at second %d, not below MAXREAD (%d s)", f.start,
                            maxRead);
                Add(FileName(f.number), what);
                continue;
            }
            const int64_t size = SizeOf(f.number);
            if (size < 0) {
                what.Format("missing: the seconds it kept, from second %d on, read as a hole",
                            f.start);
                Add(FileName(f.number), what);
                continue;
            }
            if (!SecondsReadable())
                continue;
            const int64_t whole = WholeSeconds(f.number, size, false);
            const int64_t end = f.start + whole;
            const bool nextBelow = i + 1 < files.size() && files[i + 1].start < maxRead;
            if (whole == 0) {
                what.Format(
                    "holds no whole second: the seconds it kept, from second %d on, "
                    "read as a hole",
                    f.start);
                Add(FileName(f.number), what);
            } else if (nextBelow && end > files[i + 1].start) {
                what.Format(
                    "holds %lld s, but the next cut file starts at second %d: its last "
                    "%lld s overlap that file",
                    static_cast<long long>(whole), files[i + 1].start,
                    static_cast<long long>(end - files[i + 1].start));
                Add(AtByte(FileName(f.number), (files[i + 1].start - f.start) * int64_t{b}), what);
            } else if (end > maxRead) {
                what.Format(
                    "holds %lld s, reaching past MAXREAD (%d s): its last %lld s hide "
                    "the data files' seconds there",
                    static_cast<long long>(whole), maxRead, static_cast<long long>(end - maxRead));
                Add(AtByte(FileName(f.number), (maxRead - f.start) * int64_t{b}), what);
            }
            CheckContents(f.number, f.start, whole);
        }
        if (m_pLog->getStatus() & CLogFile::stLastIsCutFile) {
            const int last = m_pLog->getFile(m_pLog->getFileCount() - 1)->fileNumber;
            Add(FileName(last),
                "the recording's files end with this cut file, no data file follows it: readers "
                "refuse the recording (\"Error accessing DOS log file.\")");
        }
    }

    void CheckFiles() {
        CheckDataFiles();
        CheckCutFiles();
    }

    // Every whole second can be read and, in the delta modes, holds only what the
    // writer's packing writes.
    void CheckContents(int number, int32_t firstSecond, int64_t seconds) {
        if (!m_bReadData)
            return;
        const int b = m_pLog->GetBytesPerSecondFile();
        CLogFile::FileType file;
        file.fileNumber = number;
        const CString name = FileName(number);
        CFile in;
        CFileException error;
        if (!in.Open(m_pLog->GetFilePath(file), kReadShared, &error)) {
            Add(name, "cannot be opened: " + error.GetErrorText());
            return;
        }
        std::vector<char> buffer(static_cast<size_t>(b) * kSecondsPerRead);
        int64_t bad = 0, firstBadByte = 0, firstBadSecond = 0;
        for (int64_t s = 0; s < seconds;) {
            const int64_t count = std::min<int64_t>(kSecondsPerRead, seconds - s);
            const UINT wanted = static_cast<UINT>(count * b);
            UINT got = 0;
            try {
                got = in.Read(buffer.data(), wanted);
            } catch (CException* e) {
                Add(AtByte(name, s * b), "cannot be read: " + ErrorText(e));
                return;
            }
            for (int64_t i = 0; i < got / b; ++i) {
                const int at = m_File.m_pData->FindUnsoundByte(buffer.data() + i * b);
                if (at >= 0 && bad++ == 0) {
                    firstBadByte = (s + i) * b + at;
                    firstBadSecond = firstSecond + s + i;
                }
            }
            if (got < wanted)
                break;  // shortened meanwhile
            s += count;
        }
        if (bad > 0) {
            CString what;
            what.Format(
                "second %lld of the recording is damaged: it holds a code the writer "
                "never writes (storage mode %d)",
                static_cast<long long>(firstBadSecond), m_pLog->GetCompressionType());
            if (bad > 1) {
                CString more;
                more.Format("; %lld more damaged seconds in this file",
                            static_cast<long long>(bad - 1));
                what += more;
            }
            Add(AtByte(name, firstBadByte), what);
        }
    }

    // Data and cut files beside the log that no line lists: readers never read them.
    void CheckUnlistedFiles() {
        namespace fs = std::filesystem;
        const CString& folder = m_pLog->GetPath();
        const CString base = NameOf(m_pLog->GetDataFilePathCntStr());
        const CString stem = base.Left(base.GetLength() - 5);  // without ".%03d"
        std::error_code ec;
        fs::directory_iterator it(folder.IsEmpty() ? "." : folder.GetString(), ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() != static_cast<size_t>(stem.GetLength()) + 4 ||
                name.compare(0, stem.GetLength(), stem.GetString()) != 0 ||
                name[stem.GetLength()] != '.')
                continue;
            const std::string ext = name.substr(static_cast<size_t>(stem.GetLength()) + 1);
            const auto digit = [](char c) { return c >= '0' && c <= '9'; };
            const bool data = std::all_of(ext.begin(), ext.end(), digit);
            const bool cut = ext[0] == 'A' && std::all_of(ext.begin() + 1, ext.end(), digit);
            if (!data && !cut)
                continue;
            const int number = data ? std::stoi(ext) : -std::stoi(ext.substr(1));
            if (m_pLog->m_Files.count(number))
                continue;
            const int64_t size = SizeOf(number);
            // A writer makes its next data file just before it lists it.
            if (m_bLive && number == m_pLog->getLastDataFileNumber() + 1)
                continue;
            CString what = "present, but no line of the log lists it: readers never read it";
            if (size == 0)
                what += data ? " (empty: a writer stopped between making it and listing it)"
                             : " (empty)";
            else if (cut)
                what += " (a cut that stopped before it listed its files may have left it)";
            Add(CString(name.c_str()), what);
        }
    }

    void CheckMaxRead() {
        const int32_t maxRead = m_pLog->getMaxReadPosition();
        const int32_t length = m_pLog->getRecordLength();
        CString what;
        if (maxRead > length) {
            what.Format(
                "MAXREAD is %d s, beyond the recording's end at %d s: seconds %d to %d "
                "read as a hole",
                maxRead, length, length, maxRead - 1);
            Add("MAXREAD", what);
        }
        const bool cutBelow =
            std::any_of(m_pLog->m_Files.begin(), m_pLog->m_Files.end(),
                        [maxRead](const auto& f) { return f.first < 0 && f.second < maxRead; });
        if (maxRead > 0 && !cutBelow) {
            what.Format(
                "MAXREAD is %d s, but no cut file holds any second below it: seconds 0 "
                "to %d read as a hole",
                maxRead, maxRead - 1);
            Add("MAXREAD", what);
        }
    }

    CString Stamp(CEegTimeStamp at) const {
        return LogFormat::StringFromSampleOffset(at.GetSampleOffset(), m_pLog->Rate());
    }

    void CheckMarks() {
        const CString path = m_File.MarkFilePath(kMarkFileExtension);
        CFileStatus status;
        // Shorter than the version word and the flag: a marks file nobody wrote yet.
        if (!CFile::GetStatus(path, status) || status.m_size == 0)
            return;
        CString what;
        if (status.m_size < 8) {
            what.Format("%llu bytes, too short for its record: readers take it as no marks",
                        static_cast<unsigned long long>(status.m_size));
            Add("marks file", what);
            return;
        }
        m_File.RefreshHoles();
        m_File.m_pAccess->SetWithoutControl(1);
        m_File.m_pMarks->Attach(std::make_unique<CMarkFileReader>(path));
        try {
            m_File.m_pMarks->Synchronize(0, m_File.MarkGeometry());
        } catch (CException* e) {
            Add("marks file", "cannot be read: " + ErrorText(e));
            return;
        }
        const CEegTimeStamp end = m_File.GetEofTimeStamp();
        const CEegEventList& marks = m_File.m_pMarks->GetMarks();
        for (int i = 0; i < marks.GetSize(); ++i) {
            const auto* m = static_cast<const CDataMarkDeleteEvent*>(marks.GetAt(i));
            const CEegTimeStamp a = m->GetStartTimeStamp(), b = m->GetEndTimeStamp();
            if (b < a)
                what.Format("mark %d ends (%s) before it starts (%s)", i + 1, Stamp(b).GetString(),
                            Stamp(a).GetString());
            else if (!(b < end))
                what.Format("mark %d (%s to %s) reaches past the recording's end at %s", i + 1,
                            Stamp(a).GetString(), Stamp(b).GetString(), Stamp(end).GetString());
            else
                continue;
            Add("marks file", what);
        }
    }

    void CheckPatientFile() {
        const CString path = CDosPdbFile::GetPdbFileName(m_Path);
        CFileStatus status;
        if (!CFile::GetStatus(path, status))
            return;
        CDosPdbFile pdb(m_Path);
        CPatientInfo info;
        if (!pdb.Load(path))
            Add(NameOf(path), "cannot be read: readers show a default patient record");
        else if (!pdb.GetPatientInfo(info))
            Add(NameOf(path),
                "holds no patient entry (\"Last Name = ...\" and the like): readers show a "
                "default patient record");
    }

    // The stations the control file lists. Every station that holds the
    // recording keeps its lock file open, so when nobody has it open, every entry
    // is one a station left behind when it stopped. Returns a station listed as
    // writing ("" for none).
    CString CheckStations() {
        const CString controlPath = fmt::SiblingPath(m_Path, fmt::kControlExtension);
        CFile control;
        if (!control.Open(controlPath, kReadShared))
            return CString();
        CEegControlRecord record;
        try {
            ReadControlRecord(control, record);
        } catch (CException* e) {
            Add(NameOf(controlPath), "cannot be read (" + ErrorText(e) +
                                         "): stations cannot open the recording until it is "
                                         "removed");
            return CString();
        }
        CFile lock;
        const bool held = lock.Open(fmt::SiblingPath(m_Path, fmt::kLockExtension), kReadShared) &&
                          lock.IsOpenElsewhere();
        CString writer;
        for (const CEegStationEntry& s : record.m_Stations) {
            if (s.m_Mode == CEegAccessMode::eamWrite || s.m_Mode == CEegAccessMode::eamWriteMark)
                writer = s.m_Name;
            if (!held) {
                CString what;
                what.Format(
                    "station %s (opening %d) is listed but holds the recording no "
                    "longer: other stations are refused what it held until it is "
                    "cleaned up",
                    s.m_Name.GetString(), s.m_Number);
                Add(NameOf(controlPath), what);
            }
        }
        return writer;
    }

    // A run that was never closed: its writer died. A station that holds the
    // recording's writer byte is recording it now.
    void CheckInterrupted() {
        const CString controlPath = fmt::SiblingPath(m_Path, fmt::kControlExtension);
        const CString writer = CheckStations();
        const bool runOpen = m_pLog->m_nRunLine >= 0 && m_pLog->m_bRunStarted;
        if (m_bLive || (!runOpen && writer.IsEmpty()))
            return;
        const int32_t kept = m_pLog->getRecordLength();
        CString what;
        if (kept < 1) {
            what = "recording interrupted: no second kept";
        } else {
            const CTKTime last = m_File.GetTimeOfDay(static_cast<uint32_t>(kept - 1) *
                                                     static_cast<uint32_t>(m_pLog->Rate()));
            what.Format("recording interrupted: %d s kept, the last ", kept);
            CString time;
            if (last.IsNull())
                time = "at an unknown time of day (the log has no \"Recording at\" line)";
            else
                time.Format("at %04d-%02d-%02d %02d:%02d:%02d", last.m_wYear, last.m_wMonth,
                            last.m_wDay, last.m_wHour, last.m_wMinute, last.m_wSecond);
            what += time;
        }
        if (runOpen) {
            what +=
                "; the run started here was never stopped (no \"Stopped at\" line after it) "
                "and no station is recording it";
            Add(LogLine(m_pLog->m_nRunLine), what);
        } else {
            what += "; the control file says station " + writer +
                    " is writing, but no station is recording it";
            Add(NameOf(controlPath), what);
        }
    }

    const char* m_Path;
    bool m_bReadData;
    CCheckedLog* m_pLog;  // owned by m_File
    CDosEegFile m_File;
    CEegFileProblemList& m_Problems;
    bool m_bLive = false;
    int64_t m_nLogBytes = 0;
    int64_t m_nUnfinished = -1;  // the offset of an unfinished last line of the log
    std::map<int64_t, LinePlace> m_Places;
};

void CDosEegFile::CheckFile(const char* path, int readData, CEegFileProblemList& problems) {
    CCheck(path, readData != 0, problems).Run();
}
