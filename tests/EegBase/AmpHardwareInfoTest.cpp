#include "EegBase/AmpHardwareInfo.h"

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

TEST(AmpHardwareInfo, GainsAreKeptPerChannelSlot) {
    for (int code : {-3, -1, 0, 31, 32, 41, 42, 49, 50, 60, INT32_MIN, INT32_MAX}) {
        int expected = -1;
        if (code >= 0 && code <= 31)
            expected = code;  // a jack is its own slot
        if (code >= 42 && code <= 49)
            expected = 24 + code - 42;  // DC k: the slot of jack 24+k
        EXPECT_EQ(CAmpHardwareInfo::GetAmpChannelIndex(static_cast<AmpInputType>(code)), expected)
            << "code " << code;
    }
    CAmpHardwareInfo info;
    const double defaultGain = info.GetInputGain(In2A);
    EXPECT_TRUE(info.SetInputGain(DC3, 1.694));  // DC3 is recorded in the slot of 3A
    EXPECT_EQ(info.GetInputGain(In3A), 1.694);
    EXPECT_TRUE(info.SetInputGain(In8A, 3.0));
    EXPECT_EQ(info.GetInputGain(DC8), 3.0);
    EXPECT_EQ(info.GetInputGain(In2A), defaultGain);
    // Inputs without a slot have no gain and take none.
    const CAmpHardwareInfo before = info;
    EXPECT_FALSE(info.SetInputGain(Gnd, 9.0));
    EXPECT_FALSE(info.SetInputGain(In1R, 9.0));
    EXPECT_FALSE(info.SetInputGain(NoInput, 9.0));
    EXPECT_EQ(info.GetInputGain(CRef), 0.0);
    EXPECT_EQ(info, before);
}

TEST(AmpHardwareInfo, RoundTripsAndRefusesDamagedRecords) {
    testsupport::TempDir dir;
    const std::string path = dir.File("amp");
    CAmpHardwareInfo info, back;
    info.SetAmplifierType(3);
    info.SetMaxHighCut(50.0);
    info.SetMinLowCut(0.05);
    info.SetActRefCanUseCommon(FALSE);
    for (int jack = 0; jack < 32; ++jack)
        info.SetInputGain(static_cast<AmpInputType>(jack), 0.5 + jack / 8.0);
    const AmpInputType stored[] = {Fp1, Fp2, Cz, DC1}, refs[] = {A1, A2, CRef}, dcs[] = {DC1};
    info.SetInputDomain(CAmpInputDomain(stored, 4));
    info.SetRefInputDomain(CAmpInputDomain(refs, 3));
    info.SetDcDomain(CDcInputDomain(dcs, 1));
    Store(path, info);
    Load(path, back);
    EXPECT_EQ(back, info);
    EXPECT_EQ(back.GetInputGain(In8A), 0.5 + 31 / 8.0);
    EXPECT_EQ(back.GetDcDomain().GetAt(0), DC1);

    // Version 2, type 4, flag 4, two cuts 16, then the gain count, 32 gains and three domains.
    const Bytes good = testsupport::ReadBytes(path);
    ASSERT_EQ(good[26], 32);
    ExpectEveryPrefixIsEndOfFile<CAmpHardwareInfo>(path, good);
    Bytes count = good, version = good, lastDomain = good;
    count[26] = 33;
    version[1] = 0x00;                   // version 0x5A00 ^ 0x5A5A
    lastDomain[good.size() - 1] = 0x7F;  // the last byte of the DC domain's last input
    for (const Bytes& bad : {count, version, lastDomain}) {
        ExpectLoadFails(path, bad, back, CArchiveException::badSchema);
        EXPECT_EQ(back, info);
    }
}
