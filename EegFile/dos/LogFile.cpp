// The log's parser: paths, the file list, the line loop of updateFromLog and the
// single-line events. Input lists, montages and impedances are in
// LogFileInputs.cpp, the writer in LogFileWriter.cpp.
#include "EegFile/dos/LogFile.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "EegFile/dos/DosFileException.h"
#include "EegFile/events/Events.h"
#include "Platform/File.h"
#include "Platform/OleDateTime.h"

using namespace LogFormat;

const char* const CLogFile::fileNameCntStr = "EEG%05d";
const char* const CLogFile::DeletedFileNameCntStr = "DDD%05d";

CLogFile::CLogFile() {
    ResetVariables();
}

CLogFile::~CLogFile() {
    for (int i = 0; i < m_EventList.GetSize(); ++i)
        delete m_EventList.GetAt(i);
}

void CLogFile::ResetVariables() {
    for (int i = 0; i < m_EventList.GetSize(); ++i)
        delete m_EventList.GetAt(i);
    m_EventList.RemoveAll();
    m_TimeOfDay.RemoveAll();
    m_nStatus = stOk;
    m_bLogCreated = 0;
    m_nVideoSync = 0;
    m_nMaxRead = 0;
    m_nStoredChannels = AmpInput::kJackCount;
    m_nChannelValid.fill(1);
    m_AmpInfo = CAmpHardwareInfo();
    m_wMaxChannels = AmpInput::kJackCount;
    m_dSampleRate = 200.0;
    m_nCompression = Compression::Uncompressed;
    m_Montage = CEegMontage();
    m_CoveredData = CEegTimeStamp(0);
    m_bStoredInputsSeen = m_bRefInputsSeen = m_bDcInputsSeen = m_bRateSeen = false;
    m_nReadPosition = m_nLineStart = m_nPendingStart = 0;
    m_nFileCount = 0;
    m_nLastDataFile = -1;
    m_nLastCutFile = 0;
    m_nLinkedSensitivity = kDefaultSensitivity;
    m_nLinkedHighCut = kDefaultHighCut;
    m_nLinkedLowCutX100 = kDefaultLowCutX100;
}

// -- paths

void CLogFile::SetPaths(const char* path) {
    const CString p(path);
    const int slash = p.ReverseFind('/');
    m_strDirectory = p.Left(slash + 1);
    const CString name = p.Mid(slash + 1);
    const int dot = name.ReverseFind('.');
    m_strBaseName = dot >= 0 ? name.Left(dot) : name;
    // The log keeps the name it was given: on Windows ".log" and ".LOG" were one
    // file, here only the given spelling names it.
    m_strLogPath = p;
    m_strDataFormat = m_strDirectory + m_strBaseName + kDataFileExtension;
    m_strCutFormat = m_strDirectory + m_strBaseName + kCutFileExtension;

    m_nRecordNumber = LogFormat::RecordNumberOf(p);
}

void CLogFile::ClearPaths() {
    m_strDirectory.Empty();
    m_strBaseName.Empty();
    m_strLogPath.Empty();
    m_strDataFormat.Empty();
    m_strCutFormat.Empty();
    m_nRecordNumber = -1;
}

CString CLogFile::GetFilePath(const FileType& file) const {
    // The path is built here rather than by filling the format, which would read
    // a '%' in a folder name as a conversion.
    CString ext;
    if (file.fileNumber >= 0)
        ext.Format(kDataFileExtension, file.fileNumber);
    else
        ext.Format(".A%02lld", -static_cast<long long>(file.fileNumber));
    return m_strDirectory + m_strBaseName + ext;
}

// -- parameters

int CLogFile::Rate() const {
    const double r = m_dSampleRate;
    if (!(r >= 1.0))
        return 0;
    return r >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(r);
}

int CLogFile::GetBytesPerSecondFile() const {
    const long long n = Rate();
    const long long k = std::clamp(m_nStoredChannels, 0, AmpInput::kJackCount);
    long long b;
    switch (m_nCompression) {
        case Compression::DeltaExponent:
            b = k * (n + 1);
            break;
        case Compression::AdaptiveDelta:
            b = k * (n + 4);
            break;
        default:
            b = 2 * k * n;
            break;
    }
    return n < 1 ? 0 : static_cast<int>(std::min<long long>(b, INT_MAX));
}

int32_t CLogFile::getRecordLength() const {
    if (m_nFileCount == 0)
        return 0;
    const FileType& last = m_Files[static_cast<size_t>(m_nFileCount - 1)];
    return static_cast<int32_t>(std::clamp<long long>(
        static_cast<long long>(last.startSecond) + last.lengthSeconds, INT32_MIN, INT32_MAX));
}

uint32_t CLogFile::GetEofTimeStamp() const {
    const int32_t length = getRecordLength();
    return length > 0 ? static_cast<uint32_t>(length) * static_cast<uint32_t>(Rate()) : 0;
}

// -- files

int32_t CLogFile::fileLengthInSeconds(const FileType& file) {
    const int b = GetBytesPerSecondFile();
    CFileStatus status;
    if (b <= 0 || !CFile::GetStatus(GetFilePath(file), status) ||
        (status.m_attribute & CFile::directory))
        return 0;
    return static_cast<int32_t>(
        std::min<uint64_t>(status.m_size / static_cast<uint64_t>(b), INT32_MAX));
}

void CLogFile::fileToList(int number, int32_t startSecond, int measure) {
    if (number == INT_MIN)
        return;  // no cut file number to negate
    FileType* entry = nullptr;
    if (number <= m_nLastDataFile || number < 0) {
        for (int i = 0; i < m_nFileCount && !entry; ++i) {
            if (m_Files[static_cast<size_t>(i)].fileNumber == number)
                entry = &m_Files[static_cast<size_t>(i)];
        }
    }
    if (!entry) {
        if (m_nFileCount >= kMaxFiles) {
            setStatus(stFileListFull);
            return;
        }
        entry = &m_Files[static_cast<size_t>(m_nFileCount++)];
        if (number > m_nLastDataFile)
            m_nLastDataFile = number;
    }
    entry->fileNumber = number;
    entry->startSecond = startSecond;
    entry->skipSeconds = 0;
    entry->lengthSeconds = 0;
    if (measure)
        entry->lengthSeconds = fileLengthInSeconds(*entry);
    if (-number > m_nLastCutFile)
        m_nLastCutFile = -number;
}

void CLogFile::updateLastFile() {
    if (m_nFileCount > 0) {
        FileType& last = m_Files[static_cast<size_t>(m_nFileCount - 1)];
        last.lengthSeconds = fileLengthInSeconds(last);
    }
}

// -- reading

void CLogFile::Fail(int statusBits, int code) {
    m_nStatus |= statusBits;
    CloseFile();
    ThrowDosFileException(code);
}

void CLogFile::updateFromLog() {
    const StatusType opened = OpenFile("r", shareDenyNone);
    if (opened != stOk)
        Fail(opened, CDosFileException::eLogOpenFailure);
    const int64_t length = logFileLength();
    if (length < 0 || (length == 0 && m_nReadPosition > 0))
        Fail(stLogAccess, CDosFileException::eLogAccessFailure);
    // A log shorter than what was parsed (replaced meanwhile) counts as having
    // nothing new; the line grammar finds its footing again at the next line.
    if (length <= m_nReadPosition) {
        CloseFile();
        updateLastFile();
        return;
    }
    if (m_nReadPosition != 0 && seek(m_nReadPosition, seekBegin) != m_nReadPosition)
        Fail(stLogAccess, CDosFileException::eLogAccessFailure);
    const int firstNew = m_nFileCount;
    ParseOpenLog();
    CloseFile();
    SettleFileList(firstNew);
}

bool CLogFile::ReadNextLine(char* buffer) {
    const int64_t start = logFilePosition();
    if (readLogLine(buffer, kLineBuffer) != 0)
        return false;
    m_nLineStart = start;
    return true;
}

void CLogFile::ParseOpenLog() {
    char line[kLineBuffer];
    try {
        bool have = ReadNextLine(line);
        if (have)
            updateLastFile();  // the last file may have grown meanwhile
        while (have) {
            const CString next = ConvertTextToEvent(line);
            const int64_t position = logFilePosition();
            if (position < 0)
                Fail(stLogAccess, CDosFileException::eLogAccessFailure);
            m_nReadPosition = position;
            if (next.IsEmpty()) {
                have = ReadNextLine(line);
            } else {
                const int n = std::min(next.GetLength(), kMaxLineChars);
                std::memcpy(line, next.GetString(), static_cast<size_t>(n));
                line[n] = '\0';
                m_nLineStart = m_nPendingStart;
            }
        }
    } catch (CException*) {
        CloseFile();
        throw;
    }
}

void CLogFile::SettleFileList(int firstNew) {
    const uint64_t rate = static_cast<uint64_t>(Rate());
    const auto samples = [rate](long long seconds) {
        return CEegTimeStamp(static_cast<uint32_t>(
            std::clamp<long long>(seconds, 0, UINT32_MAX / std::max<uint64_t>(rate, 1)) * rate));
    };
    const auto addHole = [this](CEegTimeStamp from, CEegTimeStamp to) {
        AddParsedEvent(new CDataDeletionEvent(from, to, 1));
        AddParsedEvent(new CDataDeletionEvent(to, from, 0));
    };
    // Cut files below MAXREAD hold what was kept of the seconds there; the
    // seconds between them were cut out, and read back as holes.
    for (int i = firstNew; i < m_nFileCount; ++i) {
        FileType& f = m_Files[static_cast<size_t>(i)];
        f.lengthSeconds = fileLengthInSeconds(f);
        if (f.fileNumber < 0 && f.startSecond < m_nMaxRead) {
            const CEegTimeStamp s = samples(f.startSecond);
            if (m_CoveredData < s)
                addHole(m_CoveredData, s);
            m_CoveredData = samples(static_cast<long long>(f.startSecond) + f.lengthSeconds);
        }
    }
    const CEegTimeStamp m = samples(m_nMaxRead);
    if (m_CoveredData < m) {
        addHole(m_CoveredData, m);
        m_CoveredData = m;
    }

    // Data files wholly below MAXREAD serve nothing (but the last one, which a
    // recording may still extend).
    const auto end = [](const FileType& f) {
        return static_cast<long long>(f.startSecond) + f.lengthSeconds;
    };
    int kept = 0;
    for (int i = 0; i < m_nFileCount; ++i) {
        const FileType& f = m_Files[static_cast<size_t>(i)];
        const bool keep = f.fileNumber < 0 ? f.startSecond < m_nMaxRead
                                           : (f.lengthSeconds > 0 && end(f) > m_nMaxRead) ||
                                                 f.fileNumber == m_nLastDataFile;
        if (keep)
            m_Files[static_cast<size_t>(kept++)] = f;
    }
    m_nFileCount = kept;
    for (int i = 0; i < m_nFileCount; ++i) {
        FileType& f = m_Files[static_cast<size_t>(i)];
        const bool last = f.fileNumber >= 0 && f.fileNumber == m_nLastDataFile;
        const bool hidden = f.startSecond < m_nMaxRead && (end(f) > m_nMaxRead || last);
        f.skipSeconds = hidden ? m_nMaxRead - f.startSecond : 0;
    }
    std::stable_sort(m_Files.begin(), m_Files.begin() + m_nFileCount,
                     [](const FileType& a, const FileType& b) {
                         const long long sa = static_cast<long long>(a.startSecond) + a.skipSeconds;
                         const long long sb = static_cast<long long>(b.startSecond) + b.skipSeconds;
                         return sa != sb ? sa < sb : a.fileNumber < b.fileNumber;
                     });
    if (m_nFileCount > 0 && m_Files[static_cast<size_t>(m_nFileCount - 1)].fileNumber < 0)
        Fail(stLastIsCutFile, CDosFileException::eLogAccessFailure);
    updateLastFile();
}

// -- lines

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

CString CLogFile::ConvertTextToEvent(const char* text) {
    const Line line{text, static_cast<int>(std::strlen(text))};
    if (!IsLogEntry(line)) {
        if (line.length > 0 && !IsBlottedOut(line))
            OnLineProblem(
                "not a log entry (a time stamp HH:MM:SS.mmm, a blank and a "
                "keyword): readers pass it over");
        return CString();
    }
    if (!StampIsWellFormed(line.From(0)))
        OnLineProblem(
            "the time stamp is not HH:MM:SS.mmm in digits and a blank: readers "
            "take the entry at a wrong time");
    const uint32_t at = SampleOffsetFromString(line.From(0), Rate());
    if (line.Keyword(kComment)) {
        const std::string_view v = line.From(kValueColumn);
        if (IsImpedanceLine(line))
            return BuildImpedanceEvent(line, at);
        if (v.starts_with(kStoppedAt) || v.starts_with(kRecordingAt))
            BuildRecordEvent(line, at);
        else if (v.starts_with(kBookmark))
            BuildBookmarkEvent(line, at);
        else
            BuildCommentEvent(line, at);
    } else if (line.Keyword(kEvent) || line.Keyword(kSleep)) {
        BuildCommentEvent(line, at);
    } else if (line.Keyword(kMontage)) {
        return BuildMontageEvent(line, at);
    } else if (line.Keyword(kTrace) || line.Keyword(kDcTrace)) {
        BuildTraceInfoEvent(line, at);
    } else if (line.Keyword(kLinked)) {
        BuildLinkedEvents(line, at);
    } else if (line.Keyword(kSpeed)) {
        BuildSpeedEvent(line, at);
    } else {
        DecodeParameter(line, at);
    }
    return CString();
}

void CLogFile::AddParsedEvent(CEegEvent* event) {
    AddEventToArray(event);
}

void CLogFile::AddEventToArray(const CEegEvent* event) {
    m_EventList.Add(event);
    if (event->GetEventType() == CEegEvent::etRecord)
        m_TimeOfDay.Add(event);
}

void CLogFile::AddErrorComment(uint32_t at, const CString& text) {
    OnLineProblem("a value does not read: readers show the comment \"" + text + "\" instead");
    AddParsedEvent(new CCommentEvent(CEegTimeStamp(at), text, kCommentTypeError));
}

void CLogFile::Decode(const Line& line, CString& text, int& type) {
    const std::string_view rest = line.From(kKeywordColumn);
    const size_t blank = rest.find(' ');
    std::string_view t =
        blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    type = kCommentTypeDefault;
    if (t.size() > 2 && IsDigit(t[0]) && t[1] == ' ') {
        type = t[0] - '0';
        t.remove_prefix(2);
    }
    text = CString(t);
}

void CLogFile::BuildCommentEvent(const Line& line, uint32_t at) {
    CString text;
    int type;
    Decode(line, text, type);
    AddParsedEvent(new CCommentEvent(CEegTimeStamp(at), text, static_cast<short>(type)));
}

void CLogFile::BuildRecordEvent(const Line& line, uint32_t at) {
    const std::string_view v = line.From(kValueColumn);
    std::string_view text;
    int started = 0;
    if (v.starts_with(std::string(kStoppedAt) + ' ')) {
        text = line.From(kStoppedTimeColumn);
    } else if (v.starts_with(std::string(kRecordingAt) + ' ')) {
        text = line.From(kRecordingTimeColumn);
        started = 1;
    }
    COleDateTime when;
    const CTKTime time =
        !text.empty() && when.ParseDateTime(CString(text)) ? CTKTime(when) : CTKTime::Null();
    if (time.IsNull()) {
        AddErrorComment(at, "ERROR: could not convert Record Event");
        return;
    }
    AddParsedEvent(new CRecordEvent(CEegTimeStamp(at), started, &time));
}

void CLogFile::BuildBookmarkEvent(const Line& line, uint32_t at) {
    Scanner s(line.From(kBookmarkColumn));
    std::string_view end;
    double high = 50.0, low = 1.0, speed = 30.0, sensitivity = 7.0;
    int textColumn = kBookmarkTextColumn;
    if (s.Word(end) && s.Double(high) && s.Double(low) && s.Double(speed) &&
        s.Double(sensitivity)) {
        // A setting wider than its column (a sensitivity of 1000.0, say) pushes the
        // text to the right; it then starts after the last number's blank.
        textColumn = std::max(textColumn, kBookmarkColumn + s.Position() + 1);
    }
    const uint32_t endAt = SampleOffsetFromString(end, Rate());
    auto* bookmark =
        new CBookmarkEvent(CEegTimeStamp(at), CEegTimeStamp(endAt), CString(line.From(textColumn)));
    bookmark->SetLinkedHighCut(std::trunc(high * 100) / 100);
    bookmark->SetLinkedLowCut(std::trunc(low * 100 + 0.1) / 100);
    bookmark->SetPaperSpeed(std::trunc(speed * 100 + 0.1) / 100);
    bookmark->SetLinkedSens(std::trunc(sensitivity * 100) / 100);
    AddParsedEvent(bookmark);
}

void CLogFile::BuildLinkedEvents(const Line& line, uint32_t at) {
    Scanner s(line.From(kValueColumn));
    int sensitivity = kDefaultSensitivity, high = kDefaultHighCut, lowX100 = kDefaultLowCutX100;
    (void)(s.Int(sensitivity) && s.Int(high) && s.Int(lowX100));
    const CEegTimeStamp stamp(at);
    AddParsedEvent(new CLinkedSensitivityEvent(stamp, sensitivity));
    AddParsedEvent(new CLinkedHighcutEvent(stamp, high));
    AddParsedEvent(new CLinkedLowcutEvent(stamp, lowX100 / 100.0));
    // A station that adds one linked setting writes all three: it carries on from
    // the settings in force, not from the defaults.
    m_nLinkedSensitivity = sensitivity;
    m_nLinkedHighCut = high;
    m_nLinkedLowCutX100 = lowX100;
}

void CLogFile::BuildSpeedEvent(const Line& line, uint32_t at) {
    double divisor = 0.0;
    Scanner(line.From(kValueColumn)).Double(divisor);
    // No divisor: a speed of 0, which the speed domain turns into its default.
    AddParsedEvent(new CSpeedEvent(CEegTimeStamp(at), divisor != 0.0 ? 300.0 / divisor : 0.0));
}

void CLogFile::DecodeParameter(const Line& line, uint32_t at) {
    Scanner s(line.From(kValueColumn));
    if (line.Keyword(kSampleRate)) {
        int rate = 0;
        s.Int(rate);
        m_dSampleRate = rate;
        m_bRateSeen = true;
        if (m_dSampleRate == 100.0)
            m_AmpInfo.SetMaxHighCut(50.0);
    } else if (line.Keyword(kCompression)) {
        int mode = 0;
        s.Int(mode);
        m_nCompression = mode;
    } else if (line.Keyword(kStoredInputs)) {
        DecodeInputList(line, at);
    } else if (line.Keyword(kOldStoredInputs)) {
        DecodeOldInputList(line, at);
    } else if (line.Keyword(kMaxRead)) {
        uint32_t maxRead = 0;
        s.Unsigned(maxRead);
        m_nMaxRead = static_cast<int32_t>(std::min<uint32_t>(maxRead, INT32_MAX));
    } else if (line.Keyword(kDcInputs)) {
        DecodeDCInputs(line, at);
    } else if (line.Keyword(kAmpLowCut)) {
        double lowCut = 0.0;
        s.Double(lowCut);
        m_AmpInfo.SetAmplifierType(lowCut == 0.16 ? 1 : 0);
    } else if (line.Keyword(kInputGain)) {
        DecodeInputGain(line, at);
    } else if (line.Keyword(kNonRefInputs)) {
        DecodeNonRefInputs(line, at);
    } else if (line.Keyword(kNewFile) || line.Keyword(kCutFile)) {
        // A file line without its number names no file: it is passed over rather
        // than taken as file -1, which would stand for a cut file.
        int number = 0;
        if (s.Int(number))
            fileToList(line.Keyword(kNewFile) ? number : -number,
                       SecondOffsetFromString(line.From(0)), 0);
        else
            OnLineProblem("a file line without its file number: it lists no file");
    } else if (!line.Keyword(kAmpHighCut) && !line.Keyword(kDcDevice) &&
               !line.Keyword(kMontageInsert) && !line.Keyword(kMontageDelete) &&
               !line.Keyword(kVideoSync)) {
        // AMPHICUT, DCDEVICE, MONTINS, MONTDEL and VIDEOSYNC carry nothing this
        // library uses; any other keyword is not a log entry it knows.
        const std::string_view rest = line.From(kKeywordColumn);
        OnLineProblem("unknown keyword \"" + CString(rest.substr(0, rest.find(' '))) +
                      "\": readers pass the line over");
    }
}
