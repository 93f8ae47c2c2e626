// Value domains: the allowed values of a display or stimulation setting, with a
// default, a validity test, a constrain operation and the value's text with units.
//
// One class serves every setting. A list domain allows the values of a clinical
// list (sensitivities, filters, paper speeds, notch); a range domain allows any
// value between two bounds, optionally whole numbers only (flash and calibration
// settings, event priority). A domain may give one value a word of its own
// ("Off" for a high cut of 0). The shared domains are built once, on first use,
// and never change, so any thread may read them.
#pragma once

#include <initializer_list>
#include <vector>

#include "Platform/String.h"
#include "Platform/Types.h"

class CValueDomain {
public:
    // Allows exactly the listed values; decimals is the precision of their text.
    static CValueDomain MakeList(const char* units, std::initializer_list<double> values,
                                 double defaultValue, int decimals);
    // Allows every value in [low, high]; with wholeNumbers only integers.
    static CValueDomain MakeRange(const char* units, double low, double high, double defaultValue,
                                  int decimals, bool wholeNumbers = false);
    // Gives value (which must be allowed) the text word instead of number and units.
    CValueDomain& SetOffText(double value, const char* word);

    double GetDefault() const { return m_default; }
    // Whether v is an allowed value; list values match within a relative 1e-9, so a
    // value computed as, say, 160 / 100.0 matches the listed 1.6. NaN is never valid.
    BOOL IsValid(double v) const;
    // The allowed value closest to v: a list's nearest entry (the lower on a tie),
    // a range's bound or v rounded as the range requires. NaN gives the default.
    double Constrain(double v) const;

    // The value's text: the number with at most the domain's decimals (trailing zeros
    // dropped), a blank and the units ("0.3 Hz", "7 uV/mm"), or the off word.
    CString Format(double v) const;
    // As Format, with the number printed "%*.*f" with width and decimals.
    CString Format(double v, int width, int decimals) const;
    // The number alone, as Format prints it.
    CString FormatValue(double v) const;

    const CString& GetUnits() const { return m_strUnits; }
    BOOL IsList() const { return m_isList; }
    // List domains: the allowed values in ascending order.
    int GetSize() const { return static_cast<int>(m_values.size()); }
    double GetAt(int i) const { return m_values[static_cast<size_t>(i)]; }
    // The smallest and largest allowed values.
    double GetMin() const { return m_low; }
    double GetMax() const { return m_high; }

protected:
    CValueDomain() = default;

private:
    bool IsOffValue(double v) const;

    CString m_strUnits;
    bool m_isList = false;
    std::vector<double> m_values;  // list domains, ascending
    double m_low = 0.0;
    double m_high = 0.0;
    double m_default = 0.0;
    int m_decimals = 0;
    bool m_wholeNumbers = false;
    bool m_hasOff = false;
    double m_offValue = 0.0;
    CString m_strOff;
};

// Paper speeds in mm/s.
class CPaperSpeedDomain : public CValueDomain {
public:
    explicit CPaperSpeedDomain(const CValueDomain& domain) : CValueDomain(domain) {}
    // The speed with its units, such as "30 mm/s".
    CString FormatWithUnits(double speed) const { return Format(speed); }
};

// The shared domains.
const CValueDomain& GetDefaultEventPriorityDomain();    // whole numbers 1-9, default 5
const CValueDomain& GetDefaultSensitivityDomain();      // uV/mm, default 7
const CValueDomain& GetDefaultHighCutDomain();          // Hz, 0 is "Off", default 70
const CValueDomain& GetDefaultLowCutDomain();           // Hz, default 1
const CPaperSpeedDomain& GetDefaultPaperSpeedDomain();  // mm/s, default 30
const CValueDomain& GetDefaultNotchFrequencyDomain();   // 50 or 60 Hz, default 50
const CValueDomain& GetDefaultFlashFrequencyDomain();   // 0.5-60 Hz, default 1
const CValueDomain& GetDefaultCalFrequencyDomain();     // 0.1-100 Hz, default 1
const CValueDomain& GetDefaultCalAmplitudeDomain();     // 1-5000 uV, default 100
