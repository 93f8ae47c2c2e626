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

TEST(AverageReference, DistinctInputsRecordBytesAndDamage) {
    const AmpInputType members[] = {C3, C4, static_cast<AmpInputType>(52), C3, NoInput, Cz};
    const CAverageReference some(members, 6);
    ASSERT_EQ(some.GetInputCount(), 3);  // no repeats, no non-inputs, in order
    EXPECT_EQ(some.GetInput(2), Cz);
    EXPECT_EQ(some.GetInput(3), NoInput);
    EXPECT_TRUE(some.Contains(C4));
    EXPECT_FALSE(some.Contains(Pz));

    testsupport::TempDir dir;
    const std::string path = dir.File("avg");
    const AmpInputType inputs[] = {In1A, In2A};
    CAverageReference avg(inputs, 2), back;
    Store(path, avg);
    const Bytes expected = ByteWriter().U16(0x5A5A).Str("AvgRef").U16(2).I32(24).I32(25).bytes();
    EXPECT_EQ(testsupport::ReadBytes(path), expected);
    Load(path, back);
    EXPECT_EQ(back, avg);
    ExpectEveryPrefixIsEndOfFile<CAverageReference>(path, expected);

    // Counts beyond the 52 input codes are refused before any member is read, in the
    // short and the long form; so are repeated members and members that are no input.
    const Bytes head = ByteWriter().U16(0x5A5A).Str("A").bytes();
    for (const Bytes& bad : {ByteWriter().Append(head).U16(53).bytes(),
                             ByteWriter().Append(head).U16(0xFFFF).U32(0xFFFFFFFF).bytes(),
                             ByteWriter().Append(head).U16(2).I32(3).I32(3).bytes(),
                             ByteWriter().Append(head).U16(1).I32(-1).bytes()}) {
        ExpectLoadFails(path, bad, back, CArchiveException::badSchema);
    }
    EXPECT_EQ(back, avg);
}

TEST(EegMontage, ChannelsArePositionsWithAnActiveInput) {
    CEegMontage m = BipolarMontage();
    EXPECT_EQ(m.GetChannelCount(), 4);
    m.SetTraceInfo(7, CTraceInfo("ref only", NoInput, A1));  // no channel
    EXPECT_EQ(m.GetChannelCount(), 4);
    m.SetTraceInfo(0, CTraceInfo("Fp1-F3", NoInput, F3));
    EXPECT_EQ(m.GetChannelCount(), 3);

    // Positions outside 0-31 are ignored.
    const CEegMontage before = m;
    EXPECT_FALSE(m.SetTraceInfo(32, CTraceInfo("x", Cz, Pz)));
    EXPECT_FALSE(m.SetTraceInfo(-1, CTraceInfo("x", Cz, Pz)));
    EXPECT_EQ(m, before);
    EXPECT_FALSE(m.GetTraceInfo(32).HasActInput());
    EXPECT_FALSE(m.GetTraceInfo(-5).HasActInput());
}

TEST(EegMontage, EqualityComparesWholeMontages) {
    const CEegMontage a = BipolarMontage();
    CEegMontage b = a;
    b.SetName("Other");
    EXPECT_NE(a, b);
    b = a;
    CTraceInfo t = b.GetTraceInfo(20);  // an empty position differs in a non-input field
    t.SetColor(1);
    b.SetTraceInfo(20, t);
    EXPECT_NE(a, b);

    const AmpInputType members[] = {C3, C4};
    CAverageReference two(members, 2), one(members, 1);
    CEegMontage withTwo = a, withOne = a;
    withTwo.SetAvgRef(&two);
    withOne.SetAvgRef(one);
    EXPECT_NE(a, withTwo);
    EXPECT_NE(withOne, withTwo);
    withOne.SetAvgRef(nullptr);
    EXPECT_EQ(withOne, a);
}

TEST(EegMontage, RoundTripsAndRefusesDamagedRecordsWithoutChange) {
    testsupport::TempDir dir;
    const std::string path = dir.File("montage");
    const AmpInputType members[] = {A1, A2};
    CEegMontage plain = BipolarMontage(), withAvg = BipolarMontage(), back("to be replaced");
    withAvg.SetAvgRef(CAverageReference(members, 2, "Ears"));
    back.SetAvgRef(CAverageReference(members, 1));
    Store(path, plain);
    Load(path, back);  // loses the average reference it had
    EXPECT_EQ(back, plain);
    Store(path, withAvg);
    Load(path, back);
    EXPECT_EQ(back, withAvg);
    const Bytes good = testsupport::ReadBytes(path);
    ExpectEveryPrefixIsEndOfFile<CEegMontage>(path, good);

    back.SetName("kept");
    const CEegMontage before = back;
    Bytes version = good, trace = good;
    version[0] ^= 0x01;
    trace[2 + 1 + withAvg.GetName().GetLength() + 2] = 0x00;  // the first trace's version
    for (const Bytes& bad :
         {ByteWriter().U16(0x5A5A).Str("M").U16(33).bytes(),                          // 33 traces
          version, trace, ByteWriter().U16(0x5A5A).Str("M").U16(0).U8(2).bytes()}) {  // avg 2
        ExpectLoadFails(path, bad, back, CArchiveException::badSchema);
    }
    EXPECT_EQ(back, before);

    // Fewer than 32 stored traces leave the remaining positions empty.
    CTraceInfo t("Cz", Cz, NoInput);
    Store(dir.File("t"), t);
    testsupport::WriteBytes(path, ByteWriter()
                                      .U16(0x5A5A)
                                      .Str("short")
                                      .U16(1)
                                      .Append(testsupport::ReadBytes(dir.File("t")))
                                      .U8(0)
                                      .bytes());
    Load(path, back);
    EXPECT_EQ(back.GetChannelCount(), 1);
    EXPECT_EQ(back.GetTraceInfo(0), t);
}
