#include "EegBase/EegMontage.h"

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

namespace {

CEegMontage BipolarMontage() {
    CEegMontage m("Double banana");
    m.SetTraceInfo(0, CTraceInfo("Fp1-F3", Fp1, F3));
    m.SetTraceInfo(1, CTraceInfo("F3-C3", F3, C3));
    m.SetTraceInfo(5, CTraceInfo("1A-1R", In1A, In1R));
    m.SetTraceInfo(31, CTraceInfo("DC1", DC1, NoInput));
    return m;
}

}  // namespace

TEST(AverageReference, KeepsDistinctInputCodesInOrder) {
    const AmpInputType inputs[] = {C3, C4, static_cast<AmpInputType>(52), C3, NoInput, Cz};
    CAverageReference avg(inputs, 6);
    EXPECT_EQ(avg.GetName(), "AvgRef");
    ASSERT_EQ(avg.GetInputCount(), 3);
    EXPECT_EQ(avg.GetInput(0), C3);
    EXPECT_EQ(avg.GetInput(1), C4);
    EXPECT_EQ(avg.GetInput(2), Cz);
    EXPECT_EQ(avg.GetInput(3), NoInput);
    EXPECT_EQ(avg.GetInput(-1), NoInput);
    EXPECT_TRUE(avg.Contains(C4));
    EXPECT_FALSE(avg.Contains(Pz));

    CAverageReference empty(nullptr, 0, "Nothing");
    EXPECT_EQ(empty.GetInputCount(), 0);
    EXPECT_EQ(empty.GetName(), "Nothing");
}

TEST(AverageReference, RecordBytesAndDamage) {
    testsupport::TempDir dir;
    const std::string path = dir.File("avg");
    const AmpInputType inputs[] = {In1A, In2A};
    CAverageReference avg(inputs, 2);
    Store(path, avg);
    const Bytes expected = ByteWriter()
                               .U16(0x5A5A)
                               .Str("AvgRef")
                               .U16(2)  // count
                               .I32(24)
                               .I32(25)
                               .bytes();
    EXPECT_EQ(testsupport::ReadBytes(path), expected);

    CAverageReference back;
    Load(path, back);
    EXPECT_EQ(back, avg);
    ExpectEveryPrefixIsEndOfFile<CAverageReference>(path, expected);

    // 53 members cannot be distinct input codes; the count is refused before any is read.
    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).Str("A").U16(53).bytes(), back,
                    CArchiveException::badSchema);
    // A count in the long form far beyond the limit.
    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).Str("A").U16(0xFFFF).U32(0xFFFFFFFF).bytes(),
                    back, CArchiveException::badSchema);
    // A repeated member.
    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).Str("A").U16(2).I32(3).I32(3).bytes(), back,
                    CArchiveException::badSchema);
    // A member that is no input.
    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).Str("A").U16(1).I32(-1).bytes(), back,
                    CArchiveException::badSchema);
    EXPECT_EQ(back, avg);
}

TEST(EegMontage, ChannelCountCountsPositionsWithAnActiveInput) {
    CEegMontage m;
    EXPECT_EQ(m.GetChannelCount(), 0);
    m = BipolarMontage();
    EXPECT_EQ(m.GetChannelCount(), 4);

    // A trace with only a reference input is no channel.
    m.SetTraceInfo(7, CTraceInfo("ref only", NoInput, A1));
    EXPECT_EQ(m.GetChannelCount(), 4);

    // Clearing every active input empties the montage and keeps its name.
    for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
        CTraceInfo t = m.GetTraceInfo(i);
        if (t.HasActInput()) {
            t.SetActInput(NoInput);
            m.SetTraceInfo(i, t);
        }
    }
    EXPECT_EQ(m.GetChannelCount(), 0);
    EXPECT_EQ(m.GetName(), "Double banana");
}

TEST(EegMontage, PositionsOutsideTheMontageAreIgnored) {
    CEegMontage m = BipolarMontage();
    const CEegMontage before = m;
    EXPECT_FALSE(m.SetTraceInfo(32, CTraceInfo("x", Cz, Pz)));
    EXPECT_FALSE(m.SetTraceInfo(-1, CTraceInfo("x", Cz, Pz)));
    EXPECT_EQ(m, before);
    EXPECT_FALSE(m.GetTraceInfo(32).HasActInput());
    EXPECT_FALSE(m.GetTraceInfo(-5).HasActInput());
    EXPECT_EQ(m.GetTraceInfo(31).GetActInput(), DC1);
}

TEST(EegMontage, EqualityComparesWholeMontages) {
    const CEegMontage a = BipolarMontage();
    CEegMontage b = a;
    EXPECT_EQ(a, b);

    b.SetName("Other");
    EXPECT_NE(a, b);

    b = a;
    CTraceInfo t = b.GetTraceInfo(20);  // an empty position differs in a non-input field
    t.SetColor(1);
    b.SetTraceInfo(20, t);
    EXPECT_NE(a, b);

    b = a;
    const AmpInputType members[] = {C3, C4};
    CAverageReference avg(members, 2);
    b.SetAvgRef(&avg);
    EXPECT_NE(a, b);
    CEegMontage c = a;
    c.SetAvgRef(avg);
    EXPECT_EQ(b, c);
    CAverageReference other(members, 1);
    c.SetAvgRef(&other);
    EXPECT_NE(b, c);
    c.SetAvgRef(nullptr);
    EXPECT_EQ(c.GetAvgRef(), nullptr);
    EXPECT_EQ(a, c);
}

TEST(EegMontage, CopiesAreIndependent) {
    const AmpInputType members[] = {C3};
    CAverageReference avg(members, 1);
    CEegMontage a = BipolarMontage();
    a.SetAvgRef(&avg);
    CEegMontage b(a);
    b.SetTraceInfo(0, CTraceInfo("changed", Oz, Pz));
    const AmpInputType others[] = {O1, O2};
    b.SetAvgRef(CAverageReference(others, 2));
    EXPECT_EQ(a.GetTraceInfo(0).GetLabel(), "Fp1-F3");
    ASSERT_NE(a.GetAvgRef(), nullptr);
    EXPECT_EQ(a.GetAvgRef()->GetInputCount(), 1);
}

TEST(EegMontage, RoundTripWithAndWithoutAverageReference) {
    testsupport::TempDir dir;
    const std::string path = dir.File("montage");

    CEegMontage plain = BipolarMontage();
    Store(path, plain);
    CEegMontage back("to be replaced");
    const AmpInputType members[] = {A1, A2};
    back.SetAvgRef(CAverageReference(members, 2));
    Load(path, back);
    EXPECT_EQ(back.GetName(), "Double banana");
    EXPECT_EQ(back.GetAvgRef(), nullptr);
    EXPECT_EQ(back.GetChannelCount(), 4);
    for (int i = 0; i < CEegMontage::kMaxTraces; ++i) {
        EXPECT_EQ(back.GetTraceInfo(i), plain.GetTraceInfo(i)) << "position " << i;
    }
    EXPECT_EQ(back, plain);

    CEegMontage withAvg = BipolarMontage();
    withAvg.SetAvgRef(CAverageReference(members, 2, "Ears"));
    Store(path, withAvg);
    Load(path, back);
    ASSERT_NE(back.GetAvgRef(), nullptr);
    EXPECT_EQ(back.GetAvgRef()->GetName(), "Ears");
    EXPECT_EQ(back.GetAvgRef()->GetInput(1), A2);
    EXPECT_EQ(back, withAvg);
}

TEST(EegMontage, DamagedRecordsAreRefusedAndChangeNothing) {
    testsupport::TempDir dir;
    const std::string path = dir.File("montage");
    CEegMontage m = BipolarMontage();
    const AmpInputType members[] = {C3, C4};
    m.SetAvgRef(CAverageReference(members, 2));
    Store(path, m);
    const Bytes good = testsupport::ReadBytes(path);
    ExpectEveryPrefixIsEndOfFile<CEegMontage>(path, good);

    CEegMontage into = BipolarMontage();
    into.SetName("kept");
    const CEegMontage before = into;

    // More than 32 traces.
    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).Str("M").U16(33).bytes(), into,
                    CArchiveException::badSchema);
    // An unknown montage version.
    Bytes bad = good;
    bad[0] ^= 0x01;
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    // A damaged trace record inside the montage: its version word.
    bad = good;
    const size_t firstTrace = 2 + 1 + m.GetName().GetLength() + 2;
    bad[firstTrace] = 0x00;
    ExpectLoadFails(path, bad, into, CArchiveException::badSchema);
    // The average reference's presence byte is neither 0 nor 1.
    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).Str("M").U16(0).U8(2).bytes(), into,
                    CArchiveException::badSchema);
    EXPECT_EQ(into, before);

    // Fewer than 32 stored traces leave the remaining positions empty.
    CTraceInfo t("Cz", Cz, NoInput);
    Bytes one = ByteWriter().U16(0x5A5A).Str("short").U16(1).bytes();
    {
        Store(dir.File("t"), t);
        const Bytes traceBytes = testsupport::ReadBytes(dir.File("t"));
        one.insert(one.end(), traceBytes.begin(), traceBytes.end());
        one.push_back(0);
    }
    testsupport::WriteBytes(path, one);
    Load(path, into);
    EXPECT_EQ(into.GetName(), "short");
    EXPECT_EQ(into.GetChannelCount(), 1);
    EXPECT_EQ(into.GetTraceInfo(0), t);
    EXPECT_FALSE(into.GetTraceInfo(1).HasActInput());
}
