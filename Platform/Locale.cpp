#include "Platform/Locale.h"

#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <string>
#include <vector>

#include "Platform/OleDateTime.h"

namespace {

// The longest date-time text worth reading; anything longer is not one.
constexpr size_t kMaxParseLength = 255;

std::string LangInfo(nl_item item) {
    const char* s = ::nl_langinfo(item);
    return s ? std::string(s) : std::string();
}

// strftime into a string. An empty result is "" whatever the reason; the buffer
// grows for long patterns, to a bound proportional to the pattern.
std::string StrFTime(const std::string& format, const struct tm& tm) {
    if (format.empty())
        return std::string();
    const size_t limit = 4096 + 64 * format.size();
    for (size_t size = 128; size <= limit; size *= 2) {
        std::string buffer(size, '\0');
        size_t n = ::strftime(buffer.data(), size, format.c_str(), &tm);
        if (n > 0) {
            buffer.resize(n);
            return buffer;
        }
    }
    return std::string();
}

// One element of a strftime pattern: a conversion ("%H", "%-d", "%OI") or literal text.
struct PatternItem {
    bool conversion = false;
    char letter = 0;  // the conversion character
    std::string text;
};

std::vector<PatternItem> SplitPattern(const std::string& format) {
    std::vector<PatternItem> items;
    size_t i = 0;
    while (i < format.size()) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] != '%') {
            size_t j = i + 1;
            while (j < format.size() && std::strchr("-_0^#", format[j]))
                ++j;
            while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])))
                ++j;
            if (j < format.size() && (format[j] == 'E' || format[j] == 'O'))
                ++j;
            if (j >= format.size())
                break;  // a dangling '%' is dropped
            items.push_back({true, format[j], format.substr(i, j + 1 - i)});
            i = j + 1;
        } else {
            size_t len = (format[i] == '%') ? 2 : 1;  // "%%" stays literal
            if (items.empty() || items.back().conversion)
                items.push_back({false, 0, ""});
            items.back().text += format.substr(i, len);
            i += len;
        }
    }
    return items;
}

std::string JoinPattern(const std::vector<PatternItem>& items) {
    std::string s;
    for (const auto& item : items)
        s += item.text;
    return s;
}

// Replaces the composite conversions by what they stand for in this locale, so the
// fields of a pattern can be edited one by one.
std::string ExpandPattern(const std::string& format, int depth = 0) {
    if (depth > 4)
        return format;  // a locale whose forms refer to each other
    std::string out;
    for (const auto& item : SplitPattern(format)) {
        if (!item.conversion) {
            out += item.text;
            continue;
        }
        std::string sub;
        switch (item.letter) {
            case 'D':
                sub = "%m/%d/%y";
                break;
            case 'F':
                sub = "%Y-%m-%d";
                break;
            case 'T':
                sub = "%H:%M:%S";
                break;
            case 'R':
                sub = "%H:%M";
                break;
            case 'r':
                sub = LangInfo(T_FMT_AMPM);
                if (sub.empty())
                    sub = "%I:%M:%S %p";
                break;
            case 'x':
                sub = LangInfo(D_FMT);
                break;
            case 'X':
                sub = LangInfo(T_FMT);
                break;
            case 'c':
                sub = LangInfo(D_T_FMT);
                break;
            default:
                out += item.text;
                continue;
        }
        out += ExpandPattern(sub, depth + 1);
    }
    return out;
}

enum class DateOrder { MDY, DMY, YMD };

// The order of day, month and year in the locale's short date.
DateOrder LocaleDateOrder() {
    std::string pattern = ExpandPattern("%x");
    size_t day = std::string::npos, month = day, year = day, pos = 0;
    for (const auto& item : SplitPattern(pattern)) {
        if (item.conversion) {
            if (std::strchr("de", item.letter) && day == std::string::npos)
                day = pos;
            if (std::strchr("mbBh", item.letter) && month == std::string::npos)
                month = pos;
            if (std::strchr("yYGC", item.letter) && year == std::string::npos)
                year = pos;
        }
        pos += item.text.size();
    }
    if (day == std::string::npos || month == std::string::npos || year == std::string::npos) {
        return DateOrder::MDY;
    }
    if (year < month && month < day)
        return DateOrder::YMD;
    if (day < month)
        return DateOrder::DMY;
    return DateOrder::MDY;
}

// The long date: the locale gives no such form, so it is built from its names in its
// order of day, month and year. forParsing uses strptime's spelling of the day.
std::string LongDatePattern(bool forParsing) {
    const char* day = forParsing ? "%d" : "%-d";
    switch (LocaleDateOrder()) {
        case DateOrder::DMY:
            return std::string("%A, ") + day + " %B %Y";
        case DateOrder::YMD:
            return std::string("%A, %Y %B ") + day;
        case DateOrder::MDY:
            break;
    }
    return std::string("%A, %B ") + day + ", %Y";
}

// Removes item i of a pattern with the literal that joins it to its neighbour: the
// one before it, or after it when it comes first.
void RemoveItem(std::vector<PatternItem>& items, size_t i) {
    if (i > 0 && !items[i - 1].conversion) {
        items.erase(items.begin() + static_cast<long>(i) - 1,
                    items.begin() + static_cast<long>(i) + 1);
    } else if (i + 1 < items.size() && !items[i + 1].conversion) {
        items.erase(items.begin() + static_cast<long>(i), items.begin() + static_cast<long>(i) + 2);
    } else {
        items.erase(items.begin() + static_cast<long>(i));
    }
}

// The locale's time pattern with the TIME_ flags applied.
std::string TimePattern(DWORD flags) {
    std::string pattern = ExpandPattern("%X");
    if (pattern.empty())
        pattern = "%H:%M:%S";
    std::vector<PatternItem> items = SplitPattern(pattern);
    const bool noMarker = (flags & (TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT)) != 0;
    auto dropped = [&](const PatternItem& item) {
        if (!item.conversion)
            return false;
        switch (item.letter) {
            case 'S':
                return (flags & (TIME_NOSECONDS | TIME_NOMINUTESORSECONDS)) != 0;
            case 'M':
                return (flags & TIME_NOMINUTESORSECONDS) != 0;
            case 'p':
            case 'P':
                return noMarker;
            default:
                return false;
        }
    };
    for (size_t i = 0; i < items.size();) {
        if (dropped(items[i])) {
            RemoveItem(items, i);
            i = 0;  // neighbours moved; start over, the pattern is a handful of items
            continue;
        }
        if ((flags & TIME_FORCE24HOURFORMAT) && items[i].conversion &&
            (items[i].letter == 'I' || items[i].letter == 'l')) {
            items[i].text.back() = items[i].letter == 'I' ? 'H' : 'k';
            items[i].letter = items[i].text.back();
        }
        ++i;
    }
    return JoinPattern(items);
}

struct tm MakeTm(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    COleDateTime date(year, month, day, 0, 0, 0);
    if (date.GetStatus() == COleDateTime::valid) {
        tm.tm_wday = date.GetDayOfWeek() - 1;
        tm.tm_yday = date.GetDayOfYear() - 1;
    }
    return tm;
}

// ---- Parsing ----

int TwoDigitYear(int yy) {
    return yy < 30 ? 2000 + yy : 1900 + yy;
}

bool AtEnd(const char* p) {
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    return *p == '\0';
}

bool HasConversion(const std::string& pattern, const char* letters) {
    for (const auto& item : SplitPattern(pattern)) {
        if (item.conversion && std::strchr(letters, item.letter))
            return true;
    }
    return false;
}

// The locale's own forms, read with strptime, which knows its names and separators.
bool ParseLocaleForms(const char* text, DateTimeTextFields& fields) {
    struct Form {
        std::string pattern;
        bool date;
        bool time;
    };
    const std::string dates[] = {"%x", LongDatePattern(true)};
    const std::string times[] = {"%X", TimePattern(TIME_NOSECONDS)};
    std::vector<Form> forms;
    for (const auto& d : dates) {
        for (const auto& t : times)
            forms.push_back({d + " " + t, true, true});
    }
    for (const auto& d : dates)
        forms.push_back({d, true, false});
    for (const auto& t : times)
        forms.push_back({t, false, true});
    forms.push_back({"%c", true, true});

    for (const auto& form : forms) {
        if (form.pattern.empty())
            continue;
        struct tm tm = {};
        const char* end = ::strptime(text, form.pattern.c_str(), &tm);
        if (!end || !AtEnd(end))
            continue;
        DateTimeTextFields f;
        if (form.date) {
            std::string expanded = ExpandPattern(form.pattern);
            f.hasDate = true;
            f.year = tm.tm_year + 1900;
            if (HasConversion(expanded, "y")) {
                f.year = TwoDigitYear(f.year % 100);
            } else if (f.year < 100) {
                // A short year where the locale writes four digits: the common
                // forms below read it with the two-digit rule.
                continue;
            }
            f.month = tm.tm_mon + 1;
            f.day = tm.tm_mday;
        }
        if (form.time) {
            f.hasTime = true;
            f.hour = tm.tm_hour;
            f.minute = tm.tm_min;
            f.second = tm.tm_sec;
        }
        fields = f;
        return true;
    }
    return false;
}

struct Token {
    enum Kind { kNumber, kWord, kSep } kind;
    int value = 0;
    int digits = 0;
    std::string text;  // a word, lower-cased
    char sep = 0;      // a separator; blanks are ' '
};

bool Tokenize(const char* s, std::vector<Token>& tokens) {
    while (*s) {
        unsigned char c = static_cast<unsigned char>(*s);
        if (std::isspace(c)) {
            while (*s && std::isspace(static_cast<unsigned char>(*s)))
                ++s;
            tokens.push_back({Token::kSep, 0, 0, "", ' '});
        } else if (c >= '0' && c <= '9') {
            Token t{Token::kNumber, 0, 0, "", 0};
            while (*s >= '0' && *s <= '9') {
                if (++t.digits > 9)
                    return false;  // no date field is that long
                t.value = t.value * 10 + (*s - '0');
                ++s;
            }
            tokens.push_back(t);
        } else if (std::isalpha(c) || c >= 0x80) {
            Token t{Token::kWord, 0, 0, "", 0};
            while (*s && (std::isalpha(static_cast<unsigned char>(*s)) ||
                          static_cast<unsigned char>(*s) >= 0x80)) {
                t.text += static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
                ++s;
            }
            tokens.push_back(t);
        } else if (std::strchr("/-.,:", c)) {
            tokens.push_back({Token::kSep, 0, 0, "", static_cast<char>(c)});
            ++s;
        } else {
            return false;
        }
    }
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names the common forms recognise: the locale's and English.
struct Names {
    std::vector<std::string> months[12];
    std::vector<std::string> weekdays;
    std::vector<std::string> am, pm;

    Names() {
        static const char* const kMonths[12] = {"january",   "february", "march",    "april",
                                                "may",       "june",     "july",     "august",
                                                "september", "october",  "november", "december"};
        static const char* const kDays[7] = {"sunday",   "monday", "tuesday", "wednesday",
                                             "thursday", "friday", "saturday"};
        for (int m = 0; m < 12; ++m) {
            months[m] = {kMonths[m], std::string(kMonths[m], 3),
                         Lower(LangInfo(static_cast<nl_item>(MON_1 + m))),
                         Lower(LangInfo(static_cast<nl_item>(ABMON_1 + m)))};
        }
        for (int d = 0; d < 7; ++d) {
            weekdays.push_back(kDays[d]);
            weekdays.push_back(std::string(kDays[d], 3));
            weekdays.push_back(Lower(LangInfo(static_cast<nl_item>(DAY_1 + d))));
            weekdays.push_back(Lower(LangInfo(static_cast<nl_item>(ABDAY_1 + d))));
        }
        am = {"am", Lower(LangInfo(AM_STR))};
        pm = {"pm", Lower(LangInfo(PM_STR))};
    }

    static bool In(const std::vector<std::string>& list, const std::string& word) {
        for (const auto& s : list) {
            if (!s.empty() && s == word)
                return true;
        }
        return false;
    }
    int Month(const std::string& word) const {
        for (int m = 0; m < 12; ++m) {
            if (In(months[m], word))
                return m + 1;
        }
        return 0;
    }
    // 1 for AM, 2 for PM, 0 otherwise.
    int Marker(const std::string& word) const { return In(am, word) ? 1 : In(pm, word) ? 2 : 0; }
};

bool ParseCommonForms(const char* text, DateTimeTextFields& fields) {
    std::vector<Token> t;
    if (!Tokenize(text, t))
        return false;
    // Blanks aside, the text starts with a field, and ends with one or an
    // abbreviation's point.
    while (!t.empty() && t.front().kind == Token::kSep && t.front().sep == ' ')
        t.erase(t.begin());
    while (!t.empty() && t.back().kind == Token::kSep && t.back().sep == ' ')
        t.pop_back();
    if (t.empty() || t.front().kind == Token::kSep)
        return false;
    if (t.back().kind == Token::kSep && t.back().sep != '.')
        return false;

    const Names names;
    const size_t n = t.size();
    auto sepAt = [&](size_t k, char c) {
        return k < n && t[k].kind == Token::kSep && t[k].sep == c;
    };
    auto numberAt = [&](size_t k) { return k < n && t[k].kind == Token::kNumber; };

    DateTimeTextFields f;
    int marker = 0;
    int monthName = 0;
    std::vector<Token> dateNumbers;
    for (size_t i = 0; i < n;) {
        const Token& tk = t[i];
        if (tk.kind == Token::kNumber) {
            if (sepAt(i + 1, ':') && numberAt(i + 2)) {
                if (f.hasTime)
                    return false;
                f.hasTime = true;
                f.hour = tk.value;
                f.minute = t[i + 2].value;
                i += 3;
                if (sepAt(i, ':') && numberAt(i + 1)) {
                    f.second = t[i + 1].value;
                    i += 2;
                    // Fractions of a second are below this clock's resolution.
                    if ((sepAt(i, '.') || sepAt(i, ',')) && numberAt(i + 1))
                        i += 2;
                }
                continue;
            }
            // An hour alone with its marker: "3 PM".
            size_t k = sepAt(i + 1, ' ') ? i + 2 : i + 1;
            if (!f.hasTime && k < n && t[k].kind == Token::kWord && names.Marker(t[k].text)) {
                f.hasTime = true;
                f.hour = tk.value;
                i = k;
                continue;
            }
            dateNumbers.push_back(tk);
            ++i;
        } else if (tk.kind == Token::kWord) {
            if (int m = names.Month(tk.text)) {
                if (monthName)
                    return false;
                monthName = m;
            } else if (int mk = names.Marker(tk.text)) {
                if (!f.hasTime || marker)
                    return false;
                marker = mk;
            } else if (Names::In(names.weekdays, tk.text)) {
                // The weekday follows from the date.
            } else if (tk.text == "t" && !dateNumbers.empty() && !f.hasTime) {
                // ISO 8601's separator of date and time.
            } else {
                return false;
            }
            ++i;
        } else {
            if (tk.sep == ':')
                return false;  // a colon outside a time
            ++i;
        }
    }

    if (marker) {
        if (f.hour < 1 || f.hour > 12)
            return false;
        f.hour = f.hour % 12 + (marker == 2 ? 12 : 0);
    }

    auto yearLike = [](const Token& x) { return x.digits >= 3 || x.value > 31; };
    const DateOrder order = LocaleDateOrder();
    const Token* year = nullptr;
    if (monthName) {
        if (dateNumbers.size() != 2)
            return false;
        const Token& a = dateNumbers[0];
        const Token& b = dateNumbers[1];
        const Token* day = nullptr;
        if (yearLike(a) && yearLike(b))
            return false;
        if (yearLike(a) || (!yearLike(b) && order == DateOrder::YMD)) {
            year = &a;
            day = &b;
        } else {
            day = &a;
            year = &b;
        }
        f.month = monthName;
        f.day = day->value;
    } else if (dateNumbers.size() == 3) {
        const Token& a = dateNumbers[0];
        const Token& b = dateNumbers[1];
        const Token& c = dateNumbers[2];
        if (yearLike(a) || order == DateOrder::YMD) {
            year = &a;
            f.month = b.value;
            f.day = c.value;
        } else if (order == DateOrder::DMY) {
            f.day = a.value;
            f.month = b.value;
            year = &c;
        } else {
            f.month = a.value;
            f.day = b.value;
            year = &c;
        }
    } else if (!dateNumbers.empty()) {
        return false;
    }
    if (year) {
        f.hasDate = true;
        f.year = year->digits <= 2 ? TwoDigitYear(year->value) : year->value;
    }
    if (!f.hasDate && !f.hasTime)
        return false;
    fields = f;
    return true;
}

}  // namespace

CString GetDateFormatText(LCID lcid, DWORD flags, int year, int month, int day, int dayOfWeek) {
    (void)lcid;       // every identifier means the user's locale
    (void)dayOfWeek;  // computed from the date
    if ((flags & DATE_SHORTDATE) && (flags & DATE_LONGDATE))
        return CString();
    if (COleDateTime(year, month, day, 0, 0, 0).GetStatus() != COleDateTime::valid) {
        return CString();
    }
    const struct tm tm = MakeTm(year, month, day, 0, 0, 0);
    return CString(StrFTime((flags & DATE_LONGDATE) ? LongDatePattern(false) : "%x", tm));
}

CString GetTimeFormatText(LCID lcid, DWORD flags, int hour, int minute, int second) {
    (void)lcid;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return CString();
    }
    const struct tm tm = MakeTm(2000, 1, 1, hour, minute, second);
    return CString(StrFTime(TimePattern(flags), tm));
}

CString GetLocaleDecimalSeparator() {
    const struct lconv* conv = std::localeconv();
    if (!conv || !conv->decimal_point || !*conv->decimal_point)
        return CString(".");
    return CString(conv->decimal_point);
}

bool ParseDateTimeText(const char* text, DateTimeTextFields& fields) {
    fields = DateTimeTextFields();
    if (!text || std::strlen(text) > kMaxParseLength || AtEnd(text))
        return false;
    return ParseLocaleForms(text, fields) || ParseCommonForms(text, fields);
}
