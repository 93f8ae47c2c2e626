#include "EegBase/ImpedanceValues.h"

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

TEST(ImpedanceValues, OneReadingPerMeasurableInput) {
    CImpedanceValues v;
    EXPECT_EQ(v.GetImpedance(Fp1), -1.0);
    EXPECT_TRUE(v.SetImpedance(Fp1, 4.5));
    EXPECT_TRUE(v.SetImpedance(Gnd, 1.9));
    EXPECT_TRUE(v.SetImpedance(In8R, 12.0));  // the last measurable input
    EXPECT_TRUE(v.SetImpedance(Cz, 0.0));     // a zero reading is not a measurement
    EXPECT_EQ(v.GetMeasuredCount(), 3);
    EXPECT_TRUE(v.IsMeasured(In8R));
    EXPECT_FALSE(v.IsMeasured(Cz));

    const CImpedanceValues before = v;
    EXPECT_FALSE(v.SetImpedance(DC1, 5.0));
    EXPECT_FALSE(v.SetImpedance(NoInput, 5.0));
    EXPECT_EQ(v.GetImpedance(DC1), -1.0);
    EXPECT_EQ(v, before);

    v.Reset();
    EXPECT_EQ(v.GetMeasuredCount(), 0);
}

TEST(ImpedanceValues, RoundTripAndDamage) {
    testsupport::TempDir dir;
    const std::string path = dir.File("imp");
    CImpedanceValues v;
    for (int code = 0; code < CImpedanceValues::kInputCount; code += 3) {
        v.SetImpedance(static_cast<AmpInputType>(code), code * 1.25);
    }
    Store(path, v);
    const Bytes good = testsupport::ReadBytes(path);
    EXPECT_EQ(good.size(), 2u + 2u + 42u * 8u);

    CImpedanceValues back;
    Load(path, back);
    EXPECT_EQ(back, v);
    EXPECT_EQ(back.GetImpedance(static_cast<AmpInputType>(39)), 39 * 1.25);
    ExpectEveryPrefixIsEndOfFile<CImpedanceValues>(path, good);

    ExpectLoadFails(path, ByteWriter().U16(0x5A5A).U16(43).bytes(), back,
                    CArchiveException::badSchema);
    ExpectLoadFails(path, ByteWriter().U16(0x5A58).U16(0).bytes(), back,
                    CArchiveException::badSchema);
    EXPECT_EQ(back, v);

    // A shorter record: the inputs it does not hold were not measured.
    testsupport::WriteBytes(path, ByteWriter().U16(0x5A5A).U16(1).F64(3.5).bytes());
    Load(path, back);
    EXPECT_EQ(back.GetImpedance(Fp1), 3.5);
    EXPECT_EQ(back.GetMeasuredCount(), 1);
}
