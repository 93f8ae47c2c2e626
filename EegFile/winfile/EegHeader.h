// CEegHeader: the header record of a current-format recording, held at the start
// of copy 1 of the "Header" stream: the recording's frame width, sample rate,
// storage (compression) type and amplifier description.
//
// Stored record (archive encoding, little-endian, no gaps):
//   WORD    file version XOR 0x5A5A (version 0: 0x5A5A)
//   string  signature "TarnvikOkenEEG" (length byte 14, the characters)
//   WORD    header version XOR 0x5A5A (version 1: 0x5A5B)
//   WORD    maximum channels (header version 1 only; version 0 means 32)
//   double  sample rate
//   int32   compression type
//   CAmpHardwareInfo record (the base library's own)
// Writing always writes file version 0 and header version 1.
#pragma once

#include "EegBase/AmpHardwareInfo.h"
#include "EegFile/frame/EegEnums.h"
#include "Platform/Object.h"
#include "Platform/Types.h"

class CEegHeader : public CObject {
public:
    static constexpr WORD kVersionMask = 0x5A5A;
    static constexpr WORD kFileVersion = 0;
    static constexpr WORD kHeaderVersion = 1;
    static constexpr const char* kSignature = "TarnvikOkenEEG";
    // Frame width a header version 0 record implies.
    static constexpr WORD kDefaultMaxChannels = 32;
    // The format's coding buffers hold one second of at most this many frames.
    static constexpr int kMaxSampleRate = 400;

    // Frame width, sample rate and compression type of the acquisition engine's
    // settings; a default amplifier description.
    CEegHeader();

    const CAmpHardwareInfo& GetAmpHardwareInfo() const { return m_ampInfo; }
    void SetAmpHardwareInfo(const CAmpHardwareInfo& info) { m_ampInfo = info; }
    WORD GetMaxChannels() const { return m_nMaxChannels; }
    void SetMaxChannels(WORD channels) { m_nMaxChannels = channels; }
    double GetSampleRate() const { return m_dSampleRate; }
    void SetSampleRate(double rate) { m_dSampleRate = rate; }
    Compression::CompressionType GetCompressionType() const { return m_nCompressionType; }
    void SetCompressionType(Compression::CompressionType type) { m_nCompressionType = type; }
    // Whether the last record loaded carried the signature exactly (case-sensitive).
    BOOL IsSignatureValid() const { return m_bSignatureValid; }

    // Storing writes the record above. Loading reads it into a fresh header and
    // takes it over only when it is whole; it refuses:
    //   a file version other than 0, or an amplifier record of a schema this
    //   build does not know: CEegFileException 3;
    //   a header version other than 0 and 1, or a sample rate that is not a number
    //   from 1 to kMaxSampleRate: CEegFileException 1;
    //   after an otherwise good record (whose fields are kept), a signature that
    //   is not exactly kSignature: CEegFileException 9.
    // A short stream raises the archive's end-of-file exception.
    void Serialize(CArchive& ar) override;

    // Whether rate lies in the range the format stores (1 .. kMaxSampleRate once
    // truncated to an integer; not a NaN).
    static bool IsSupportedSampleRate(double rate);

private:
    void Load(CArchive& ar);

    CAmpHardwareInfo m_ampInfo;
    WORD m_nMaxChannels;
    double m_dSampleRate;
    Compression::CompressionType m_nCompressionType;
    BOOL m_bSignatureValid = TRUE;
};
