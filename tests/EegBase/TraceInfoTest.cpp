#include "EegBase/TraceInfo.h"

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

TEST(TraceInfo, ActiveInputSetsTheAcFlagAndNonInputsAreRefused) {
    CTraceInfo t("Fp1-F3", Fp1, F3);
    EXPECT_EQ(t.GetAcFlag(), 1);
    // The last jack is an AC input; DC inputs, ground and none are not.
    for (auto [input, ac] : {std::pair{In8A, 1}, {DC1, 0}, {Gnd, 0}, {Cz, 1}, {NoInput, 0}}) {
        EXPECT_TRUE(t.SetActInput(input));
        EXPECT_EQ(t.GetAcFlag(), ac) << input;
    }
    EXPECT_FALSE(t.HasActInput());
    EXPECT_FALSE(t.SetActInput(static_cast<AmpInputType>(52)));
    EXPECT_FALSE(t.SetActInput(static_cast<AmpInputType>(-2)));
    EXPECT_FALSE(t.SetRefInput(static_cast<AmpInputType>(1000)));
    EXPECT_EQ(t.GetActInput(), NoInput);
    EXPECT_EQ(t.GetRefInput(), F3);
}

TEST(TraceInfo, EqualityLooksAtEveryField) {
    const CTraceInfo a("C3", C3, A1);
    auto differs = [&](auto change) {
        CTraceInfo c = a;
        change(c);
        return c != a;
    };
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetLabel("C4"); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetActInput(C4); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetRefInput(A2); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetSensitivity(10); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetHighCut(35); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetLowCut(0.3); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetLinkedFlag(!c.GetLinkedFlag()); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetColor(11); }));
}

TEST(TraceInfo, RecordBytesRoundTripAndDamage) {
    testsupport::TempDir dir;
    const std::string path = dir.File("trace");
    CTraceInfo t("C3", C3, A1), back;
    t.SetSensitivity(7.0);
    t.SetHighCut(70.0);
    t.SetLowCut(1.6);
    t.SetLinkedFlag(1);
    t.SetColor(2);
    Store(path, t);
    const Bytes expected = {
        0x5A, 0x5A,                                      // version 0 XOR 0x5A5A
        0x02, 'C',  '3',                                 // label
        0x0A, 0x00, 0x00, 0x00,                          // active input C3 = 10
        0x08, 0x00, 0x00, 0x00,                          // reference input A1 = 8
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1C, 0x40,  // 7.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x51, 0x40,  // 70.0
        0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xF9, 0x3F,  // 1.6
        0x01, 0x00, 0x00, 0x00,                          // linked
        0x02, 0x00, 0x00, 0x00,                          // colour
    };
    EXPECT_EQ(testsupport::ReadBytes(path), expected);
    Load(path, back);
    EXPECT_EQ(back, t);
    EXPECT_EQ(back.GetAcFlag(), 1);  // from the active input, not stored
    ExpectEveryPrefixIsEndOfFile<CTraceInfo>(path, expected);

    CTraceInfo dc("DC3", DC3, Ref);
    Store(path, dc);
    Load(path, back);
    EXPECT_EQ(back, dc);
    EXPECT_EQ(back.GetAcFlag(), 0);

    Bytes version = expected, input = expected;
    version[0] = 0x5B;  // version 1 is unknown
    input[5] = 52;      // an active input that is no input code
    for (const Bytes& bad : {version, input}) {
        ExpectLoadFails(path, bad, back, CArchiveException::badSchema);
        EXPECT_EQ(back, dc);
    }
}
