#include "EegBase/ValueDomain.h"

#include <algorithm>
#include <cmath>

namespace {

bool SameValue(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

// "%.*f", then trailing zeros (and a bare point) dropped: 1.60 -> 1.6, 70.0 -> 70.
CString TrimmedNumber(double v, int decimals) {
    CString s;
    s.Format("%.*f", decimals, v);
    if (s.Find('.') >= 0) {
        s.TrimRight('0');
        s.TrimRight('.');
    }
    if (s == "-0")
        s = "0";
    return s;
}

}  // namespace

CValueDomain CValueDomain::MakeList(const char* units, std::initializer_list<double> values,
                                    double defaultValue, int decimals) {
    CValueDomain d;
    d.m_strUnits = units;
    d.m_isList = true;
    d.m_values.assign(values.begin(), values.end());
    std::sort(d.m_values.begin(), d.m_values.end());
    d.m_low = d.m_values.empty() ? 0.0 : d.m_values.front();
    d.m_high = d.m_values.empty() ? 0.0 : d.m_values.back();
    d.m_default = defaultValue;
    d.m_decimals = decimals;
    return d;
}

CValueDomain CValueDomain::MakeRange(const char* units, double low, double high,
                                     double defaultValue, int decimals, bool wholeNumbers) {
    CValueDomain d;
    d.m_strUnits = units;
    d.m_low = low;
    d.m_high = high;
    d.m_default = defaultValue;
    d.m_decimals = decimals;
    d.m_wholeNumbers = wholeNumbers;
    return d;
}

CValueDomain& CValueDomain::SetOffText(double value, const char* word) {
    m_hasOff = true;
    m_offValue = value;
    m_strOff = word;
    return *this;
}

BOOL CValueDomain::IsValid(double v) const {
    if (std::isnan(v))
        return FALSE;
    if (m_isList) {
        return std::any_of(m_values.begin(), m_values.end(),
                           [v](double x) { return SameValue(v, x); });
    }
    if (v < m_low || v > m_high)
        return FALSE;
    return !m_wholeNumbers || v == std::floor(v);
}

double CValueDomain::Constrain(double v) const {
    if (std::isnan(v))
        return m_default;
    if (m_isList) {
        if (m_values.empty())
            return m_default;
        // Beyond the ends the distances can round to a tie; the end is the answer.
        if (v <= m_values.front())
            return m_values.front();
        if (v >= m_values.back())
            return m_values.back();
        double best = m_values.front();
        for (double x : m_values) {
            if (std::fabs(x - v) < std::fabs(best - v))
                best = x;
        }
        return best;
    }
    if (m_wholeNumbers)
        v = std::round(v);
    return std::clamp(v, m_low, m_high);
}

bool CValueDomain::IsOffValue(double v) const {
    return m_hasOff && SameValue(v, m_offValue);
}

CString CValueDomain::FormatValue(double v) const {
    return TrimmedNumber(v, m_decimals);
}

CString CValueDomain::Format(double v) const {
    if (IsOffValue(v))
        return m_strOff;
    CString s = FormatValue(v);
    if (!m_strUnits.IsEmpty())
        s += " " + m_strUnits;
    return s;
}

CString CValueDomain::Format(double v, int width, int decimals) const {
    CString s;
    if (IsOffValue(v)) {
        s.Format("%*s", width, m_strOff.GetString());
        return s;
    }
    s.Format("%*.*f", width, decimals, v);
    if (!m_strUnits.IsEmpty())
        s += " " + m_strUnits;
    return s;
}

const CValueDomain& GetDefaultEventPriorityDomain() {
    static const CValueDomain d = CValueDomain::MakeRange("", 1, 9, 5, 0, true);
    return d;
}

const CValueDomain& GetDefaultSensitivityDomain() {
    static const CValueDomain d = CValueDomain::MakeList(
        "uV/mm", {1, 2, 3, 5, 7, 10, 15, 20, 30, 50, 70, 100, 150, 200, 300, 500, 700, 1000}, 7, 0);
    return d;
}

const CValueDomain& GetDefaultHighCutDomain() {
    static const CValueDomain d =
        CValueDomain::MakeList("Hz", {0, 15, 30, 35, 40, 50, 70, 100}, 70, 0).SetOffText(0, "Off");
    return d;
}

const CValueDomain& GetDefaultLowCutDomain() {
    static const CValueDomain d =
        CValueDomain::MakeList("Hz", {0.1, 0.3, 0.5, 1, 1.6, 5, 10}, 1, 2);
    return d;
}

const CPaperSpeedDomain& GetDefaultPaperSpeedDomain() {
    static const CPaperSpeedDomain d(
        CValueDomain::MakeList("mm/s", {5, 7, 7.5, 10, 15, 20, 30, 60}, 30, 1));
    return d;
}

const CValueDomain& GetDefaultNotchFrequencyDomain() {
    static const CValueDomain d = CValueDomain::MakeList("Hz", {50, 60}, 50, 0);
    return d;
}

const CValueDomain& GetDefaultFlashFrequencyDomain() {
    static const CValueDomain d = CValueDomain::MakeRange("Hz", 0.5, 60, 1, 1);
    return d;
}

const CValueDomain& GetDefaultCalFrequencyDomain() {
    static const CValueDomain d = CValueDomain::MakeRange("Hz", 0.1, 100, 1, 1);
    return d;
}

const CValueDomain& GetDefaultCalAmplitudeDomain() {
    static const CValueDomain d = CValueDomain::MakeRange("uV", 1, 5000, 100, 1);
    return d;
}
