// CEegTimeStamp: a position in a recording, as an unsigned 32-bit sample offset
// from the first sample. It knows no file; conversions take the recording.
#pragma once

#include <cstdint>

#include "Platform/OleDateTime.h"
#include "Platform/String.h"

class CEegFile;
class CTKTime;

class CEegTimeStamp {
public:
    constexpr CEegTimeStamp() = default;
    constexpr CEegTimeStamp(uint32_t sampleOffset) : m_SampleOffset(sampleOffset) {}

    // The library-wide "no position": every bit set.
    static const CEegTimeStamp NullStamp;

    constexpr uint32_t GetSampleOffset() const { return m_SampleOffset; }
    constexpr void SetSampleOffset(uint32_t offset) { m_SampleOffset = offset; }
    // Adds n, wrapping modulo 2^32.
    constexpr void Inc(uint32_t n) { m_SampleOffset += n; }

    // Comparisons are of the unsigned offsets.
    friend constexpr int operator==(CEegTimeStamp a, CEegTimeStamp b) {
        return a.m_SampleOffset == b.m_SampleOffset;
    }
    friend constexpr int operator!=(CEegTimeStamp a, CEegTimeStamp b) {
        return a.m_SampleOffset != b.m_SampleOffset;
    }
    friend constexpr int operator<(CEegTimeStamp a, CEegTimeStamp b) {
        return a.m_SampleOffset < b.m_SampleOffset;
    }
    friend constexpr int operator>(CEegTimeStamp a, CEegTimeStamp b) {
        return a.m_SampleOffset > b.m_SampleOffset;
    }
    friend constexpr int operator<=(CEegTimeStamp a, CEegTimeStamp b) {
        return a.m_SampleOffset <= b.m_SampleOffset;
    }
    friend constexpr int operator>=(CEegTimeStamp a, CEegTimeStamp b) {
        return a.m_SampleOffset >= b.m_SampleOffset;
    }

    // Wall-clock time of this sample, as the recording reckons it.
    CTKTime GetTimeOfDay(const CEegFile& file) const;
    // Moves to the sample the recording gives for wall-clock time t (seconds kept,
    // milliseconds dropped).
    void SetTimeOfDay(const CEegFile& file, COleDateTime t);
    double GetPositionInSeconds(const CEegFile& file) const;
    // offset = sample rate x seconds, truncated toward zero (and kept in range).
    void SetPositionInSeconds(const CEegFile& file, double seconds);
    // Elapsed time from the start as hh:mm:ss, with `decimals` digits of seconds.
    CString FormatPosition(const CEegFile& file, unsigned short decimals) const;

private:
    uint32_t m_SampleOffset = 0;
};

inline constexpr CEegTimeStamp CEegTimeStamp::NullStamp{0xFFFFFFFFu};
