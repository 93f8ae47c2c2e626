#include "EegBase/TraceInfo.h"

#include "BaseTestSupport.h"
#include "EegBase/ValueDomain.h"

using namespace basetest;

TEST(TraceInfo, DefaultTraceHasNoInputsAndDefaultSettings) {
    CTraceInfo t;
    EXPECT_EQ(t.GetActInput(), AmpInput::NoInput);
    EXPECT_EQ(t.GetRefInput(), AmpInput::NoInput);
    EXPECT_FALSE(t.HasActInput());
    EXPECT_EQ(t.GetAcFlag(), 0);
    EXPECT_EQ(t.GetSensitivity(), GetDefaultSensitivityDomain().GetDefault());
    EXPECT_EQ(t.GetHighCut(), GetDefaultHighCutDomain().GetDefault());
    EXPECT_EQ(t.GetLowCut(), GetDefaultLowCutDomain().GetDefault());
}

TEST(TraceInfo, ActiveInputSetsTheAcFlagAndRefusesNonInputs) {
    CTraceInfo t("Fp1-F3", AmpInput::Fp1, AmpInput::F3);
    EXPECT_EQ(t.GetAcFlag(), 1);
    EXPECT_TRUE(t.HasActInput());

    EXPECT_TRUE(t.SetActInput(AmpInput::In8A));  // last jack
    EXPECT_EQ(t.GetAcFlag(), 1);
    EXPECT_TRUE(t.SetActInput(AmpInput::DC1));  // a DC trace is not an AC trace
    EXPECT_EQ(t.GetAcFlag(), 0);
    EXPECT_TRUE(t.SetActInput(AmpInput::Gnd));
    EXPECT_EQ(t.GetAcFlag(), 0);
    EXPECT_TRUE(t.SetActInput(AmpInput::Cz));
    EXPECT_EQ(t.GetAcFlag(), 1);
    EXPECT_TRUE(t.SetActInput(AmpInput::NoInput));
    EXPECT_EQ(t.GetAcFlag(), 0);
    EXPECT_FALSE(t.HasActInput());

    // Values that are no input code leave the trace as it was.
    EXPECT_TRUE(t.SetActInput(AmpInput::O1));
    EXPECT_FALSE(t.SetActInput(static_cast<AmpInput::AmpInputType>(52)));
    EXPECT_FALSE(t.SetActInput(static_cast<AmpInput::AmpInputType>(-2)));
    EXPECT_FALSE(t.SetRefInput(static_cast<AmpInput::AmpInputType>(1000)));
    EXPECT_EQ(t.GetActInput(), AmpInput::O1);
    EXPECT_EQ(t.GetRefInput(), AmpInput::F3);
    EXPECT_TRUE(t.SetRefInput(AmpInput::AvgRef));
    EXPECT_EQ(t.GetRefInput(), AmpInput::AvgRef);
}

TEST(TraceInfo, EqualityLooksAtEveryField) {
    CTraceInfo a("C3", AmpInput::C3, AmpInput::A1);
    CTraceInfo b = a;
    EXPECT_EQ(a, b);
    auto differs = [&](auto change) {
        CTraceInfo c = a;
        change(c);
        return c != a;
    };
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetLabel("C4"); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetActInput(AmpInput::C4); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetRefInput(AmpInput::A2); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetSensitivity(10); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetHighCut(35); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetLowCut(0.3); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetLinkedFlag(!c.GetLinkedFlag()); }));
    EXPECT_TRUE(differs([](CTraceInfo& c) { c.SetColor(11); }));
}

TEST(TraceInfo, RecordBytesAreTheDocumentedLayout) {
    testsupport::TempDir dir;
    const std::string path = dir.File("trace");
    CTraceInfo t("C3", AmpInput::C3, AmpInput::A1);
    t.SetSensitivity(7.0);
    t.SetHighCut(70.0);
    t.SetLowCut(1.0);
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
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,  // 1.0
        0x01, 0x00, 0x00, 0x00,                          // linked
        0x02, 0x00, 0x00, 0x00,                          // colour
    };
    EXPECT_EQ(testsupport::ReadBytes(path), expected);
}

TEST(TraceInfo, RoundTripRestoresEveryField) {
    testsupport::TempDir dir;
    const std::string path = dir.File("trace");
    CTraceInfo t("DC trace with a long label", AmpInput::DC3, AmpInput::Ref);
    t.SetSensitivity(150);
    t.SetHighCut(0);
    t.SetLowCut(1.6);
    t.SetLinkedFlag(0);
    t.SetColor(10);
    Store(path, t);

    CTraceInfo back;
    Load(path, back);
    EXPECT_EQ(back.GetLabel(), "DC trace with a long label");
    EXPECT_EQ(back.GetActInput(), AmpInput::DC3);
    EXPECT_EQ(back.GetRefInput(), AmpInput::Ref);
    EXPECT_EQ(back.GetAcFlag(), 0);
    EXPECT_EQ(back.GetSensitivity(), 150);
    EXPECT_EQ(back.GetHighCut(), 0);
    EXPECT_EQ(back.GetLowCut(), 1.6);
    EXPECT_EQ(back.GetLinkedFlag(), 0);
    EXPECT_EQ(back.GetColor(), 10);
    EXPECT_EQ(back, t);

    // An AC trace gets its flag back from its active input.
    CTraceInfo ac("Cz", AmpInput::Cz, AmpInput::NoInput);
    Store(path, ac);
    Load(path, back);
    EXPECT_EQ(back.GetAcFlag(), 1);
    EXPECT_EQ(back.GetRefInput(), AmpInput::NoInput);
}

TEST(TraceInfo, DamagedRecordsAreRefused) {
    testsupport::TempDir dir;
    const std::string path = dir.File("trace");
    CTraceInfo t("Fp1", AmpInput::Fp1, AmpInput::CRef);
    Store(path, t);
    const Bytes good = testsupport::ReadBytes(path);
    ExpectEveryPrefixIsEndOfFile<CTraceInfo>(path, good);

    // Version 1 is unknown.
    Bytes bad = good;
    bad[0] = 0x5B;
    CTraceInfo into("keep", AmpInput::O2, AmpInput::A1);
    const CTraceInfo before = into;
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    EXPECT_EQ(into, before);

    // An active input that is no input code.
    bad = good;
    bad[6] = 52;  // first byte of the active input, after the version and "Fp1"
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    EXPECT_EQ(into, before);
}
