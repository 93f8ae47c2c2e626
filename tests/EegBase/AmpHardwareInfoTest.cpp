#include "EegBase/AmpHardwareInfo.h"

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

TEST(AmpHardwareInfo, ChannelIndexOfEveryCode) {
    for (int code = -3; code <= 60; ++code) {
        int expected = -1;
        if (code >= 0 && code <= 31)
            expected = code;  // a jack is its own slot
        if (code >= 42 && code <= 49)
            expected = 24 + code - 42;  // DC k: slot of jack 24+k
        EXPECT_EQ(CAmpHardwareInfo::GetAmpChannelIndex(static_cast<AmpInputType>(code)), expected)
            << "code " << code;
    }
    EXPECT_EQ(CAmpHardwareInfo::GetAmpChannelIndex(static_cast<AmpInputType>(INT32_MIN)), -1);
    EXPECT_EQ(CAmpHardwareInfo::GetAmpChannelIndex(static_cast<AmpInputType>(INT32_MAX)), -1);
}

TEST(AmpHardwareInfo, DefaultsDescribeThe32JackAmplifier) {
    CAmpHardwareInfo info;
    EXPECT_EQ(info.GetAmplifierType(), 0);
    EXPECT_EQ(info.GetMaxHighCut(), 70.0);
    EXPECT_EQ(info.GetMinLowCut(), 0.16);
    EXPECT_TRUE(info.GetActRefCanUseCommon());
    for (int jack = 0; jack < 32; ++jack) {
        EXPECT_EQ(info.GetInputGain(static_cast<AmpInputType>(jack)), 0.1418);
    }
    EXPECT_EQ(info.GetInputDomain(), GetDefaultActInputDomain());
    EXPECT_EQ(info.GetRefInputDomain().GetSize(), 33);
    EXPECT_EQ(info.GetDcDomain().GetSize(), 0);
}

TEST(AmpHardwareInfo, GainsAreKeptPerChannelSlot) {
    CAmpHardwareInfo info;
    EXPECT_TRUE(info.SetInputGain(DC3, 1.694));  // DC3 is recorded in the slot of 3A
    EXPECT_EQ(info.GetInputGain(In3A), 1.694);
    EXPECT_EQ(info.GetInputGain(DC3), 1.694);
    EXPECT_EQ(info.GetInputGain(In2A), 0.1418);

    EXPECT_TRUE(info.SetInputGain(Fp1, 2.0));
    EXPECT_TRUE(info.SetInputGain(In8A, 3.0));
    EXPECT_EQ(info.GetInputGain(Fp1), 2.0);
    EXPECT_EQ(info.GetInputGain(DC8), 3.0);

    // Inputs without a slot have no gain and take none.
    const CAmpHardwareInfo before = info;
    EXPECT_FALSE(info.SetInputGain(Gnd, 9.0));
    EXPECT_FALSE(info.SetInputGain(In1R, 9.0));
    EXPECT_FALSE(info.SetInputGain(NoInput, 9.0));
    EXPECT_EQ(info.GetInputGain(CRef), 0.0);
    EXPECT_EQ(info, before);
}

TEST(AmpHardwareInfo, RoundTripRestoresEveryField) {
    testsupport::TempDir dir;
    const std::string path = dir.File("amp");
    CAmpHardwareInfo info;
    info.SetAmplifierType(3);
    info.SetMaxHighCut(50.0);
    info.SetMinLowCut(0.05);
    info.SetActRefCanUseCommon(FALSE);
    for (int jack = 0; jack < 32; ++jack) {
        info.SetInputGain(static_cast<AmpInputType>(jack), 0.5 + jack / 8.0);
    }
    const AmpInputType stored[] = {Fp1, Fp2, Cz, DC1};
    info.SetInputDomain(CAmpInputDomain(stored, 4));
    const AmpInputType refs[] = {A1, A2, CRef};
    info.SetRefInputDomain(CAmpInputDomain(refs, 3));
    const AmpInputType dcs[] = {DC1};
    info.SetDcDomain(CDcInputDomain(dcs, 1));
    Store(path, info);

    CAmpHardwareInfo back;
    Load(path, back);
    EXPECT_EQ(back.GetAmplifierType(), 3);
    EXPECT_EQ(back.GetMaxHighCut(), 50.0);
    EXPECT_EQ(back.GetMinLowCut(), 0.05);
    EXPECT_FALSE(back.GetActRefCanUseCommon());
    for (int jack = 0; jack < 32; ++jack) {
        EXPECT_EQ(back.GetInputGain(static_cast<AmpInputType>(jack)), 0.5 + jack / 8.0);
    }
    EXPECT_EQ(back.GetInputDomain().GetSize(), 4);
    EXPECT_EQ(back.GetInputDomain().GetAt(3), DC1);
    EXPECT_EQ(back.GetRefInputDomain(), info.GetRefInputDomain());
    EXPECT_EQ(back.GetDcDomain().GetAt(0), DC1);
    EXPECT_EQ(back, info);
}

TEST(AmpHardwareInfo, DamagedRecordsAreRefused) {
    testsupport::TempDir dir;
    const std::string path = dir.File("amp");
    CAmpHardwareInfo info;
    info.SetAmplifierType(1);
    Store(path, info);
    const Bytes good = testsupport::ReadBytes(path);
    // Version 2, type 4, flag 4, two cuts 16, count 2, 32 gains 256, three domains.
    EXPECT_EQ(good[0], 0x5A);
    EXPECT_EQ(good[1], 0x5A);
    EXPECT_EQ(good[26], 32);
    ExpectEveryPrefixIsEndOfFile<CAmpHardwareInfo>(path, good);

    CAmpHardwareInfo into;
    into.SetAmplifierType(7);
    const CAmpHardwareInfo before = into;
    Bytes bad = good;
    bad[26] = 33;  // gain count
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    bad = good;
    bad[1] = 0x00;  // version 0x5A00 ^ 0x5A5A
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    EXPECT_EQ(into, before);

    // The three domains follow the gains; damage in the last one is still caught.
    bad = good;
    bad.back() = 0x7F;  // last byte of the (empty) DC domain's count word
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    EXPECT_EQ(into, before);
}
