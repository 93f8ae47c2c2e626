#include "EegFile/dos/LogFileFormat.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace LogFormat {

namespace {

bool HasStampShape(const char* t, int n) {
    return n > 8 && t[2] == ':' && t[5] == ':' && t[8] == '.';
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A digit's value as the stamp holds it; any other character gives what its code
// gives, in wrapping unsigned arithmetic, as the stamp is taken "as it stands".
uint32_t Digit(char c) {
    return static_cast<uint32_t>(static_cast<unsigned char>(c)) - static_cast<uint32_t>('0');
}

}  // namespace

Line TrimLine(char* text, int length, int* keywordOffset) {
    int lead = 0;
    while (lead < length && text[lead] == ' ')
        ++lead;
    int end = length;
    while (end > lead && (text[end - 1] == ' ' || text[end - 1] == '\r' || text[end - 1] == '\n'))
        --end;
    char* t = text + lead;
    int n = end - lead;
    int extra = 0;
    if (HasStampShape(t, n) && n > kKeywordColumn && t[kKeywordColumn - 1] == ' ') {
        while (kKeywordColumn + extra < n && t[kKeywordColumn + extra] == ' ')
            ++extra;
        if (extra > 0) {
            std::memmove(t + kKeywordColumn, t + kKeywordColumn + extra,
                         static_cast<size_t>(n - kKeywordColumn - extra));
            n -= extra;
        }
    }
    t[n] = '\0';
    if (keywordOffset)
        *keywordOffset = lead + kKeywordColumn + extra;
    return Line{t, n};
}

bool IsLogEntry(const Line& line) {
    return HasStampShape(line.text, line.length) && line.length > kKeywordColumn &&
           line.text[kKeywordColumn] != kDeletedMark;
}

bool IsBlottedOut(const Line& line) {
    return HasStampShape(line.text, line.length) && line.length > kKeywordColumn &&
           line.text[kKeywordColumn] == kDeletedMark;
}

bool StampIsWellFormed(std::string_view line) {
    if (line.size() <= kStampChars)
        return false;
    for (int i : {0, 1, 3, 4, 6, 7, 9, 10, 11}) {
        if (Digit(line[static_cast<size_t>(i)]) > 9)
            return false;
    }
    return line[2] == ':' && line[5] == ':' && line[8] == '.' && line[kStampChars] == ' ' &&
           Digit(line[3]) < 6 && Digit(line[6]) < 6;
}

bool IsImpedanceLine(const Line& line) {
    const std::string_view v = line.From(kValueColumn);
    return line.Keyword(kComment) && v.size() >= 3 && v[0] >= '0' && v[0] <= '3' && v[1] >= '0' &&
           v[1] <= '9' && v[2] == ' ';
}

uint32_t StampMilliseconds(std::string_view stamp) {
    char s[kStampChars];
    for (int i = 0; i < kStampChars; ++i)
        s[i] = i < static_cast<int>(stamp.size()) ? stamp[static_cast<size_t>(i)] : '0';
    const uint32_t hours = Digit(s[0]) * 10 + Digit(s[1]);
    const uint32_t minutes = Digit(s[3]) * 10 + Digit(s[4]);
    const uint32_t seconds = Digit(s[6]) * 10 + Digit(s[7]);
    const uint32_t millis = Digit(s[9]) * 100 + Digit(s[10]) * 10 + Digit(s[11]);
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
}

uint32_t SampleOffsetFromString(std::string_view stamp, int rate) {
    const uint32_t hundreds = rate > 0 ? static_cast<uint32_t>(rate / 100) : 0;
    return hundreds * StampMilliseconds(stamp) / 10;
}

int32_t SecondOffsetFromString(std::string_view stamp) {
    return static_cast<int32_t>(StampMilliseconds(stamp) / 1000);
}

CString StringFromSampleOffset(uint32_t offset, int rate) {
    // Below 100 samples per second the reader maps every stamp to offset 0; the
    // divisor of 1 only keeps the division defined.
    const long long hundreds = rate >= 100 ? rate / 100 : 1;
    const long long ms = static_cast<long long>(offset) * 10 / hundreds;
    CString s;
    s.Format("%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
             ms % 1000);
    return s;
}

void Scanner::SkipBlanks() {
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
        ++m_pos;
}

bool Scanner::Int(int& value) {
    SkipBlanks();
    const char* first = m_text.data() + m_pos;
    const char* last = m_text.data() + m_text.size();
    const char* p = first;
    if (p < last && *p == '+')
        ++p;
    long long v = 0;
    auto [end, ec] = std::from_chars(p, last, v);
    if (ec == std::errc::result_out_of_range) {
        while (end < last && *end >= '0' && *end <= '9')
            ++end;
        v = *p == '-' ? -LLONG_MAX : LLONG_MAX;
    } else if (ec != std::errc()) {
        return false;
    }
    value = static_cast<int>(v < -INT_MAX ? -INT_MAX : (v > INT_MAX ? INT_MAX : v));
    m_pos = static_cast<size_t>(end - m_text.data());
    return true;
}

bool Scanner::Unsigned(uint32_t& value) {
    int v = 0;
    if (!Int(v))
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool Scanner::Double(double& value) {
    SkipBlanks();
    const char* first = m_text.data() + m_pos;
    const char* last = m_text.data() + m_text.size();
    const char* p = first < last && *first == '+' ? first + 1 : first;
    double v = 0;
    auto [end, ec] = std::from_chars(p, last, v, std::chars_format::general);
    // Infinities and NaNs are no settings; they leave the default standing.
    if (ec != std::errc() || !std::isfinite(v))
        return false;
    value = v;
    m_pos = static_cast<size_t>(end - m_text.data());
    return true;
}

bool Scanner::Word(std::string_view& word) {
    SkipBlanks();
    const size_t start = m_pos;
    while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]))
        ++m_pos;
    if (m_pos == start)
        return false;
    word = m_text.substr(start, m_pos - start);
    return true;
}

std::string_view Scanner::Rest() {
    SkipBlanks();
    return m_text.substr(m_pos);
}

CString FormatFixed(double value, int width, int decimals) {
    char buf[64];
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return CString("0");
    const int n = static_cast<int>(end - buf);
    CString s(' ', width > n ? width - n : 0);
    s += CString(buf, n);
    return s;
}

int Truncated(double value) {
    if (!(value > -2147483648.0 && value < 2147483648.0))
        return 0;
    return static_cast<int>(value);
}

CString FitLine(const CString& line) {
    return line.GetLength() > kMaxLineChars ? line.Left(kMaxLineChars) : line;
}

CString OneLine(const char* text) {
    CString s(text ? text : "");
    for (int i = 0; i < s.GetLength(); ++i) {
        const char c = s[i];
        if (c == '\r' || c == '\n' || c == '\t')
            s.SetAt(i, ' ');
    }
    return s;
}

int RecordNumberOf(const char* path) {
    std::string_view name(path ? path : "");
    name = name.substr(name.find_last_of('/') + 1);
    name = name.substr(0, std::min(name.size(), name.find_last_of('.')));
    if (name.size() != 8 || (name[0] | 0x20) != 'e' || (name[1] | 0x20) != 'e' ||
        (name[2] | 0x20) != 'g')
        return -1;
    int number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9')
            return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

}  // namespace LogFormat
