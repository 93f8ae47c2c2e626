#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "EegBase/BaseTestSupport.h"
#include "EegFile/frame/EegFileException.h"
#include "EegFile/winfile/EegHeader.h"
#include "TestSupport.h"

using basetest::Bytes;
using basetest::ByteWriter;
using testsupport::TempDir;

namespace {

CAmpHardwareInfo SmallAmplifier() {
    CAmpHardwareInfo info;
    info.SetAmplifierType(3);
    const AmpInput::AmpInputType inputs[] = {AmpInput::Fp1, AmpInput::Cz, AmpInput::O2};
    info.SetInputDomain(CAmpInputDomain(inputs, 3));
    info.SetMaxHighCut(100.0);
    return info;
}

Bytes AmpBytes(TempDir& dir, CAmpHardwareInfo& info) {
    const std::string path = dir.File("amp");
    basetest::Store(path, info);
    return testsupport::ReadBytes(path);
}

// The record as the format lays it out, built by hand.
ByteWriter HeaderStart(unsigned fileWord, const std::string& signature, unsigned headerWord) {
    ByteWriter w;
    w.U16(fileWord).Str(signature).U16(headerWord);
    return w;
}

void ExpectCode(const std::string& path, const Bytes& bytes, int code) {
    testsupport::WriteBytes(path, bytes);
    CEegHeader header;
    testsupport::ExpectThrows<CEegFileException>(
        [&] { basetest::Load(path, header); },
        [&](CEegFileException& e) { EXPECT_EQ(e.GetErrorCode(), code); });
}

}  // namespace

TEST(EegHeader, NewHeaderTakesTheEngineSettings) {
    CEegHeader header;
    EXPECT_EQ(header.GetMaxChannels(), 32);
    EXPECT_EQ(header.GetSampleRate(), 200.0);
    EXPECT_EQ(header.GetCompressionType(), Compression::AdaptiveDelta);
}

TEST(EegHeader, StoredBytesAndRoundTrip) {
    TempDir dir;
    CAmpHardwareInfo amp = SmallAmplifier();
    CEegHeader header;
    header.SetSampleRate(256.0);
    header.SetCompressionType(Compression::Uncompressed);
    header.SetMaxChannels(19);
    header.SetAmpHardwareInfo(amp);
    const std::string path = dir.File("header");
    basetest::Store(path, header);

    // 5A 5A, 0E "TarnvikOkenEEG", 5B 5A, 13 00, 256.0 = 0x4070000000000000,
    // 00 00 00 00, then the amplifier's own record.
    Bytes expected = {0x5A, 0x5A, 0x0E, 'T', 'a', 'r',  'n',  'v',  'i',  'k',  'O',
                      'k',  'e',  'n',  'E', 'E', 'G',  0x5B, 0x5A, 0x13, 0x00, 0,
                      0,    0,    0,    0,   0,   0x70, 0x40, 0,    0,    0,    0};
    const Bytes ampBytes = AmpBytes(dir, amp);
    expected.insert(expected.end(), ampBytes.begin(), ampBytes.end());
    EXPECT_EQ(testsupport::ReadBytes(path), expected);

    CEegHeader back;
    basetest::Load(path, back);
    EXPECT_EQ(back.GetSampleRate(), 256.0);
    EXPECT_EQ(back.GetCompressionType(), Compression::Uncompressed);
    EXPECT_EQ(back.GetMaxChannels(), 19);
    EXPECT_TRUE(back.GetAmpHardwareInfo() == amp);
    EXPECT_TRUE(back.IsSignatureValid());

    // Every proper prefix is a short stream: the archive's end of file.
    basetest::ExpectEveryPrefixIsEndOfFile<CEegHeader>(dir.File("prefix"), expected);
}

TEST(EegHeader, VersionZeroParameterBlockMeans32Channels) {
    TempDir dir;
    CAmpHardwareInfo amp = SmallAmplifier();
    ByteWriter w = HeaderStart(0x5A5A, "TarnvikOkenEEG", 0x5A5A);
    w.F64(128.0).I32(7).Append(AmpBytes(dir, amp));
    const std::string path = dir.File("v0");
    testsupport::WriteBytes(path, w.bytes());
    CEegHeader header;
    header.SetMaxChannels(5);
    basetest::Load(path, header);
    EXPECT_EQ(header.GetMaxChannels(), 32);
    EXPECT_EQ(header.GetSampleRate(), 128.0);
    EXPECT_EQ(header.GetCompressionType(), 7);  // any other value: stored uncoded
    EXPECT_TRUE(header.GetAmpHardwareInfo() == amp);
}

TEST(EegHeader, RefusalsByCode) {
    TempDir dir;
    CAmpHardwareInfo amp = SmallAmplifier();
    const Bytes ampBytes = AmpBytes(dir, amp);
    const std::string path = dir.File("bad");
    auto body = [&](ByteWriter w, double rate) {
        w.U16(32).F64(rate).I32(2).Append(ampBytes);
        return w.bytes();
    };

    // File version 1: unknown header format, before anything else is read.
    ExpectCode(path, Bytes{0x5B, 0x5A}, CEegFileException::eUnknownEegFileHeaderFormat);
    // Header version 2: unknown parameter format.
    ExpectCode(path, body(HeaderStart(0x5A5A, "TarnvikOkenEEG", 0x5A58), 200.0),
               CEegFileException::eUnknownEegParameterFormat);
    // Sample rates the format cannot hold.
    for (double rate : {0.0, 0.5, -200.0, 401.0, 1e300, std::numeric_limits<double>::quiet_NaN()})
        ExpectCode(path, body(HeaderStart(0x5A5A, "TarnvikOkenEEG", 0x5A5B), rate),
                   CEegFileException::eUnknownEegParameterFormat);
    // An amplifier record of a newer schema: unknown header format.
    Bytes newerAmp = ampBytes;
    newerAmp[0] ^= 0x01;
    {
        ByteWriter w = HeaderStart(0x5A5A, "TarnvikOkenEEG", 0x5A5B);
        w.U16(32).F64(200.0).I32(2).Append(newerAmp);
        ExpectCode(path, w.bytes(), CEegFileException::eUnknownEegFileHeaderFormat);
    }

    // A signature that differs in case is refused after the whole record is read;
    // the fields are kept.
    testsupport::WriteBytes(path, body(HeaderStart(0x5A5A, "TarnvikOkenEEg", 0x5A5B), 400.9));
    CEegHeader header;
    testsupport::ExpectThrows<CEegFileException>(
        [&] { basetest::Load(path, header); },
        [&](CEegFileException& e) {
            EXPECT_EQ(e.GetErrorCode(), CEegFileException::eInvalidFileSignature);
        });
    EXPECT_FALSE(header.IsSignatureValid());
    EXPECT_EQ(header.GetSampleRate(), 400.9);
    EXPECT_TRUE(header.GetAmpHardwareInfo() == amp);

    // A refused record leaves the header as it was.
    CEegHeader kept;
    kept.SetSampleRate(250.0);
    ExpectCode(path, body(HeaderStart(0x5A5A, "TarnvikOkenEEG", 0x5A5B), 0.0),
               CEegFileException::eUnknownEegParameterFormat);
    testsupport::ExpectThrows<CEegFileException>([&] { basetest::Load(path, kept); },
                                                 [](CEegFileException&) {});
    EXPECT_EQ(kept.GetSampleRate(), 250.0);
}
