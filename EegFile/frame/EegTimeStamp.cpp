#include "EegFile/frame/EegTimeStamp.h"

#include <cmath>

#include "EegFile/frame/EegFile.h"
#include "EegFile/frame/TKTime.h"

CTKTime CEegTimeStamp::GetTimeOfDay(const CEegFile& file) const {
    return file.GetTimeOfDay(m_SampleOffset);
}

void CEegTimeStamp::SetTimeOfDay(const CEegFile& file, COleDateTime t) {
    const CTKTime time(t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(),
                       t.GetSecond());
    m_SampleOffset = file.GetSampleOffset(time);
}

double CEegTimeStamp::GetPositionInSeconds(const CEegFile& file) const {
    return static_cast<double>(m_SampleOffset) / file.GetSampleRate();
}

void CEegTimeStamp::SetPositionInSeconds(const CEegFile& file, double seconds) {
    const double samples = std::trunc(file.GetSampleRate() * seconds);
    // Out-of-range values would be undefined as an integer conversion; clamp them.
    if (!(samples > 0)) {
        m_SampleOffset = 0;
    } else if (samples >= 4294967295.0) {
        m_SampleOffset = 0xFFFFFFFFu;
    } else {
        m_SampleOffset = static_cast<uint32_t>(samples);
    }
}

CString CEegTimeStamp::FormatPosition(const CEegFile& file, unsigned short decimals) const {
    double s = GetPositionInSeconds(file);
    if (!(s > 0) || !std::isfinite(s))
        s = 0;
    const auto w = static_cast<long long>(s);

    CString text;
    text.Format("%02lld:%02lld:", w / 3600, (w / 60) % 60);
    CString seconds;
    if (decimals == 0) {
        seconds.Format("%02lld", w % 60);
    } else {
        // The fraction is cut to a multiple of 1 / (10 x decimals), then printed with
        // `decimals` digits, zero-padded to two integer digits.
        const int d = decimals;
        double f = std::fmod(s, 60.0);
        f = std::floor(f * 10 * d) / (10 * d);
        CString format;
        format.Format("%%.%df", d);
        CString digits;
        digits.FormatDynamic(format, f);
        const int width = d + 3;
        if (digits.GetLength() < width)
            digits = CString('0', width - digits.GetLength()) + digits;
        seconds = digits.Left(width);
    }
    return text + seconds;
}
