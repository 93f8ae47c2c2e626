// The acquisition engine's settings, which a new recording takes its frame width,
// sample rate and storage (compression) type from. Fixed for the process.
#pragma once

#include "Platform/Types.h"

struct CEegEngineCfg {
    WORD m_nMaxChannels = 32;        // channel slots in each sample frame
    double m_dSampleRate = 200.0;    // samples per second per channel
    int32_t m_nCompressionType = 2;  // Compression::CompressionType: adaptive delta codes

    WORD GetMaxChannels() const { return m_nMaxChannels; }
    double GetSampleRate() const { return m_dSampleRate; }
    int32_t GetCompressionType() const { return m_nCompressionType; }
};

const CEegEngineCfg& GetEegEngineCfg();
