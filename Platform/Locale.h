// The platform's locale services the library uses: date and time text in the user's
// locale, the parsing of such text, and the decimal separator. The user's locale is
// the C library's current locale (what the host set with setlocale); every locale
// identifier means that locale.
#pragma once

#include "Platform/String.h"
#include "Platform/Types.h"

using LCID = DWORD;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;
constexpr LCID LANG_USER_DEFAULT = LOCALE_USER_DEFAULT;

// Date formatter flags.
constexpr DWORD DATE_SHORTDATE = 0x1;
constexpr DWORD DATE_LONGDATE = 0x2;

// Time formatter flags.
constexpr DWORD TIME_NOMINUTESORSECONDS = 0x1;
constexpr DWORD TIME_NOSECONDS = 0x2;
constexpr DWORD TIME_NOTIMEMARKER = 0x4;
constexpr DWORD TIME_FORCE24HOURFORMAT = 0x8;

// The date in the locale's form: short (the locale's %x; also when no form flag is
// given) or long (weekday, day, month name and year in the locale's order of day,
// month and year). The day of the week is computed from the date; dayOfWeek is
// accepted for the platform's signature and corrected, as the platform does.
// An invalid date (years 100 to 9999 are valid) or both form flags give "".
CString GetDateFormatText(LCID lcid, DWORD flags, int year, int month, int day, int dayOfWeek);

// The time in the locale's form (its %X), with the TIME_ flags applied: a dropped
// field takes the separator before it with it, and a 24-hour clock has no marker.
// An invalid time gives "".
CString GetTimeFormatText(LCID lcid, DWORD flags, int hour, int minute, int second);

// The locale's decimal separator (localeconv), "." when the locale gives none.
CString GetLocaleDecimalSeparator();

// What ParseDateTimeText recognised. Fields not present are 0; the values are as
// written (with two-digit years completed and a 12-hour clock made 24-hour), not
// checked against the calendar: the caller validates.
struct DateTimeTextFields {
    bool hasDate = false;
    bool hasTime = false;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Reads a date, a time, or a date and a time from text, as the user's locale writes
// them: the locale's own forms (%x, %X, its time without seconds, its long date, %c),
// then the common forms: numeric dates in the locale's order of day, month and year
// with '/', '-' or '.' between the numbers (a first number of three or more digits
// or above 31 makes the order year, month, day, as in ISO 8601), month names
// (the locale's and English, full or abbreviated) with the day and the year, an
// ignored weekday name, "H:MM", "H:MM:SS" with an optional fraction that is dropped,
// an AM/PM marker, and ISO 8601's 'T' between date and time. A two-digit year
// means 1930 to 2029. Returns false for anything else, or for an empty text.
bool ParseDateTimeText(const char* text, DateTimeTextFields& fields);
