#include "EegFile/winfile/EegHeader.h"

#include <cmath>

#include "EegBase/EegEngineCfg.h"
#include "EegFile/frame/EegFileException.h"
#include "Platform/Archive.h"

CEegHeader::CEegHeader()
    : m_nMaxChannels(GetEegEngineCfg().GetMaxChannels()),
      m_dSampleRate(GetEegEngineCfg().GetSampleRate()),
      m_nCompressionType(
          static_cast<Compression::CompressionType>(GetEegEngineCfg().GetCompressionType())) {}

bool CEegHeader::IsSupportedSampleRate(double rate) {
    return rate >= 1.0 && rate < kMaxSampleRate + 1.0;  // false for a NaN
}

void CEegHeader::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << static_cast<WORD>(kFileVersion ^ kVersionMask);
        ar << CString(kSignature);
        ar << static_cast<WORD>(kHeaderVersion ^ kVersionMask);
        ar << m_nMaxChannels << m_dSampleRate << static_cast<int32_t>(m_nCompressionType);
        m_ampInfo.Serialize(ar);
        return;
    }
    Load(ar);
    if (!m_bSignatureValid)
        ThrowEegFileException(CEegFileException::eInvalidFileSignature);
}

void CEegHeader::Load(CArchive& ar) {
    WORD word;
    ar >> word;
    if ((word ^ kVersionMask) != kFileVersion)
        ThrowEegFileException(CEegFileException::eUnknownEegFileHeaderFormat);

    CString signature;
    ar >> signature;
    const BOOL signatureValid = signature == kSignature ? TRUE : FALSE;

    ar >> word;
    const WORD headerVersion = static_cast<WORD>(word ^ kVersionMask);
    WORD maxChannels = kDefaultMaxChannels;
    if (headerVersion == 1)
        ar >> maxChannels;
    else if (headerVersion != 0)
        ThrowEegFileException(CEegFileException::eUnknownEegParameterFormat);

    double rate;
    int32_t compression;
    ar >> rate >> compression;
    if (!IsSupportedSampleRate(rate))
        ThrowEegFileException(CEegFileException::eUnknownEegParameterFormat);

    CAmpHardwareInfo ampInfo;
    try {
        ampInfo.Serialize(ar);
    } catch (CArchiveException* e) {
        if (e->m_cause != CArchiveException::badSchema)
            throw;
        e->Delete();
        ThrowEegFileException(CEegFileException::eUnknownEegFileHeaderFormat);
    }

    m_ampInfo = ampInfo;
    m_nMaxChannels = maxChannels;
    m_dSampleRate = rate;
    m_nCompressionType = static_cast<Compression::CompressionType>(compression);
    m_bSignatureValid = signatureValid;
}
