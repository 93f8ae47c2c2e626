// The legacy log's text layout, in one place for its parser and its writer.
//
// A log line, once leading and trailing blanks (and the line end) are trimmed:
//   columns 0-11  time stamp "HH:MM:SS.mmm" (':' at 2 and 5, '.' at 8)
//   column  12    a blank
//   column  13 on the keyword; most are 7 characters and a blank, so that their
//                 value starts at column 21
// A line with '?' where the keyword starts has been blotted out (a removed event)
// and is skipped, as is every line without the stamp's shape.
//
// Nothing here reads or writes files, allocates without bound or depends on the
// C library's locale: the log's numbers always use '.' and its words blanks.
#pragma once

#include <cstdint>
#include <string_view>

#include "Platform/String.h"

namespace LogFormat {

constexpr int kMaxLineChars = 299;  // a longer line is read as several lines
constexpr int kLineBuffer = kMaxLineChars + 1;
constexpr int kStampChars = 12;
constexpr int kKeywordColumn = 13;
constexpr int kValueColumn = 21;
constexpr char kDeletedMark = '?';
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kZeroStamp = "00:00:00.000";

// The file list and the data file names.
constexpr int kMaxFiles = 1100;
constexpr int kMaxDataFileNumber = 999;
constexpr const char* kDataFileExtension = ".%03d";
constexpr const char* kCutFileExtension = ".A%02d";

// The writer's linked settings before any is written, the defaults of "MONTSTD".
constexpr int kDefaultSensitivity = 7;
constexpr int kDefaultHighCut = 70;
constexpr int kDefaultLowCutX100 = 100;

// Keywords. A keyword matches a line when the line's text at column 13 begins
// with it (a prefix comparison over the keyword's length).
inline constexpr std::string_view kComment = "COMMENT";
inline constexpr std::string_view kEvent = "EVENT";
inline constexpr std::string_view kSleep = "SLEEP";
inline constexpr std::string_view kMontage = "MONTAGE";
inline constexpr std::string_view kTrace = "MONTRCE";
inline constexpr std::string_view kDcTrace = "MONDCIN";
inline constexpr std::string_view kAvgRef = "MONTREF";
inline constexpr std::string_view kLinked = "MONTSTD";
inline constexpr std::string_view kSpeed = "MONTSPD";
inline constexpr std::string_view kSampleRate = "SAMPLRT";
inline constexpr std::string_view kCompression = "COMPRSN";
inline constexpr std::string_view kStoredInputs = "CHANLCT";
inline constexpr std::string_view kOldStoredInputs = "CHNLCNT";
inline constexpr std::string_view kMaxRead = "MAXREAD";
inline constexpr std::string_view kDcInputs = "DCINPUT";
inline constexpr std::string_view kAmpLowCut = "AMPLOCUT";
inline constexpr std::string_view kAmpHighCut = "AMPHICUT";
inline constexpr std::string_view kInputGain = "INPUTGAIN";
inline constexpr std::string_view kNonRefInputs = "NONREFRNC";
inline constexpr std::string_view kNewFile = "NEWFILE";
inline constexpr std::string_view kCutFile = "CUTFILE";
inline constexpr std::string_view kDcDevice = "DCDEVICE";
inline constexpr std::string_view kMontageInsert = "MONTINS";
inline constexpr std::string_view kMontageDelete = "MONTDEL";
inline constexpr std::string_view kVideoSync = "VIDEOSYNC";

// Texts after "COMMENT ".
inline constexpr std::string_view kStoppedAt = "Stopped at";
inline constexpr std::string_view kRecordingAt = "Recording at";
inline constexpr std::string_view kBookmark = "BOOKMARK";
constexpr int kStoppedTimeColumn = 32;    // after "Stopped at "
constexpr int kRecordingTimeColumn = 34;  // after "Recording at "
constexpr int kBookmarkColumn = 30;       // the end stamp, then four numbers
constexpr int kBookmarkTextColumn = 66;   // 36 characters after the end stamp
constexpr int kInputGainColumn = 23;
constexpr int kImpedanceNameColumn = 24;
constexpr int kImpedanceMarkColumn = 28;
constexpr const char* kInputGainText = "1.694 uVperBit";
constexpr double kMarkedInputGain = 1.694;
constexpr int kCommentTypeError = 5;  // parse errors become comments of this type
constexpr int kCommentTypeDefault = 3;

// One trimmed log line: the text and its length, with column access that reads
// past the end as an empty text.
struct Line {
    const char* text = "";
    int length = 0;

    char At(int column) const { return column >= 0 && column < length ? text[column] : '\0'; }
    // The text from column on ("" beyond the end).
    std::string_view From(int column) const {
        return column < length
                   ? std::string_view(text + column, static_cast<size_t>(length - column))
                   : std::string_view();
    }
    // Whether the keyword at column 13 begins with kw.
    bool Keyword(std::string_view kw) const { return From(kKeywordColumn).starts_with(kw); }
};

// Trims a line read from the log in place (leading blanks; trailing blanks, CRs
// and LFs). The writer puts two blanks after the stamp of some lines (" SAMPLRT",
// " COMPRSN", " CHANLCT"); those blanks are folded into one here so that the
// keyword stands at column 13 and the writer's own lines read back. Returns the
// line; keywordOffset (when given) receives the keyword's offset in the untrimmed
// text, where a removal writes its mark.
Line TrimLine(char* text, int length, int* keywordOffset = nullptr);

// Whether a trimmed line is a log entry: the stamp's shape, longer than 13
// characters, and not blotted out.
bool IsLogEntry(const Line& line);
// Whether a trimmed line is an entry that a removal blotted out ('?' at column 13).
bool IsBlottedOut(const Line& line);
// Whether a line begins with "HH:MM:SS.mmm " in digits, minutes and seconds below
// 60. The parser takes any stamp of the entry's shape as its characters stand.
bool StampIsWellFormed(std::string_view line);

// A "COMMENT" line whose text is two digits (the first 0-3) and a blank: a line of
// an impedance block.
bool IsImpedanceLine(const Line& line);

// Milliseconds of a stamp, from its digits as they stand (no range checks); a
// stamp shorter than 12 characters is completed with '0' characters.
uint32_t StampMilliseconds(std::string_view stamp);
// (floor(rate / 100) * ms) / 10 in unsigned 32-bit arithmetic: the log's stamps
// are exact for rates that are multiples of 100.
uint32_t SampleOffsetFromString(std::string_view stamp, int rate);
int32_t SecondOffsetFromString(std::string_view stamp);
// "%02ld:%02ld:%02ld.%03ld" of offset * 10 / floor(rate / 100) milliseconds;
// hours are not wrapped at 24.
CString StringFromSampleOffset(uint32_t offset, int rate);

// A cursor over a line's text with the reads of formatted scanning ("%d", "%s",
// "%f"): each skips blanks and tabs first, and a read that fails leaves the
// cursor and the target as they were, so the caller's defaults stand. Integers
// are clamped to +-INT_MAX, so that any of them can be negated.
class Scanner {
public:
    explicit Scanner(std::string_view text) : m_text(text) {}

    bool Int(int& value);
    bool Unsigned(uint32_t& value);  // "%u": a leading '-' negates, as scanf does
    bool Double(double& value);
    bool Word(std::string_view& word);
    // What is left after the blanks at the cursor.
    std::string_view Rest();
    // Characters consumed so far.
    int Position() const { return static_cast<int>(m_pos); }

private:
    void SkipBlanks();
    std::string_view m_text;
    size_t m_pos = 0;
};

// "%*.*f" without the locale: the log always writes '.'.
CString FormatFixed(double value, int width, int decimals);
// A setting written as a whole number: truncated toward zero; 0 for what no int holds.
int Truncated(double value);
// The line cut to what the reader takes as one line.
CString FitLine(const CString& line);
// Text that stays on one line of the log: CRs, LFs and tabs become blanks.
CString OneLine(const char* text);

// A recording's record number from its path: the base name (without folder and
// extension) must be "EEG" (any letter case) and five digits; -1 otherwise.
int RecordNumberOf(const char* path);

}  // namespace LogFormat
