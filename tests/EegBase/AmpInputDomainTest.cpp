#include "EegBase/AmpInputDomain.h"

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

TEST(AmpInputDomain, HoldsDistinctInputsInOrder) {
    CAmpInputDomain empty(nullptr, 0);
    EXPECT_EQ(empty.GetSize(), 0);
    EXPECT_EQ(empty.GetAt(0), NoInput);

    const AmpInputType jacks[] = {Cz, Fp1, Cz, static_cast<AmpInputType>(99), DC2, NoInput};
    CAmpInputDomain d(jacks, 6);
    ASSERT_EQ(d.GetSize(), 3);
    EXPECT_EQ(d.GetAt(0), Cz);
    EXPECT_EQ(d.GetAt(1), Fp1);
    EXPECT_EQ(d.GetAt(2), DC2);
    EXPECT_EQ(d.Find(DC2), 2);
    EXPECT_EQ(d.Find(Pz), -1);
    EXPECT_FALSE(d.Add(Fp1));
    EXPECT_TRUE(d.Add(Pz));
    EXPECT_EQ(d.GetSize(), 4);
}

TEST(AmpInputDomain, DcDomainsAndReplacedJacks) {
    const AmpInputType stored[] = {Fp1, In1A, DC3, In4A, DC8};
    CAmpInputDomain d(stored, 5);

    const CDcInputDomain dc = d.GetDcDomain();
    ASSERT_EQ(dc.GetSize(), 2);
    EXPECT_EQ(dc.GetAt(0), DC3);
    EXPECT_EQ(dc.GetAt(1), DC8);

    const CAmpInputDomain replaced = d.GetReplacedDomain();
    ASSERT_EQ(replaced.GetSize(), 5);
    EXPECT_EQ(replaced.GetAt(2), In3A);
    EXPECT_EQ(replaced.GetAt(4), In8A);
    EXPECT_EQ(dc.GetReplacedDomain().GetAt(0), In3A);

    // A DC input and the jack it replaces collapse into one entry.
    const AmpInputType both[] = {In3A, DC3};
    EXPECT_EQ(CAmpInputDomain(both, 2).GetReplacedDomain().GetSize(), 1);

    // The other way: the jacks 1A and 4A become DC1 and DC4 when those are DC inputs.
    const AmpInputType dcInputs[] = {DC1, DC4, Fz};  // Fz is no DC input and is left out
    CDcInputDomain declared(dcInputs, 3);
    ASSERT_EQ(declared.GetSize(), 2);
    EXPECT_FALSE(declared.Add(In5A));
    const CAmpInputDomain withDc = d.GetDomainWithDc(declared);
    ASSERT_EQ(withDc.GetSize(), 5);
    EXPECT_EQ(withDc.GetAt(0), Fp1);
    EXPECT_EQ(withDc.GetAt(1), DC1);
    EXPECT_EQ(withDc.GetAt(2), DC3);
    EXPECT_EQ(withDc.GetAt(3), DC4);

    EXPECT_EQ(CAmpInputDomain::GetJackFromDC(DC5), In5A);
    EXPECT_EQ(CAmpInputDomain::GetJackFromDC(In5A), NoInput);
}

TEST(AmpInputDomain, DefaultDomainsAndNames) {
    const CAmpInputDomain& act = GetDefaultActInputDomain();
    ASSERT_EQ(act.GetSize(), 32);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(act.GetAt(i), i);

    const CAmpInputDomain& ref = GetDefaultRecRefDomain();
    EXPECT_EQ(ref.GetSize(), 33);
    EXPECT_TRUE(ref.Contains(CRef));
    EXPECT_FALSE(ref.Contains(Gnd));
    EXPECT_FALSE(ref.Contains(DC1));
    EXPECT_TRUE(ref.HasNameTable());
    EXPECT_EQ(ref.GetNameWidth(), 4);
    EXPECT_EQ(ref.GetJackName(CRef), "CRef");
    EXPECT_EQ(ref.GetJackName(In2A), "2A");

    CAmpInputDomain plain(nullptr, 0);
    EXPECT_FALSE(plain.HasNameTable());
    EXPECT_EQ(plain.GetJackName(Cz), "");
}

TEST(AmpInputDomain, RoundTripsKeepInputsNamesAndWidth) {
    testsupport::TempDir dir;
    const std::string path = dir.File("domain");
    const AmpInputType jacks[] = {O2, CRef, DC1, AvgRef};
    CAmpInputDomain d(jacks, 4);
    d.SetNameTable(TRUE, -6);
    const AmpInputType dcs[] = {DC2, DC7};
    CDcInputDomain dc(dcs, 2);
    CAmpInputDomain empty;
    Store(path, d, dc, empty);

    CAmpInputDomain backD, backEmpty(jacks, 2);
    CDcInputDomain backDc;
    Load(path, backD, backDc, backEmpty);
    ASSERT_EQ(backD.GetSize(), 4);
    EXPECT_EQ(backD.GetAt(3), AvgRef);
    EXPECT_TRUE(backD.HasNameTable());
    EXPECT_EQ(backD.GetNameWidth(), -6);
    EXPECT_EQ(backD, d);
    EXPECT_EQ(backDc, dc);
    EXPECT_EQ(backEmpty.GetSize(), 0);
}

TEST(AmpInputDomain, DamagedRecordsAreRefused) {
    testsupport::TempDir dir;
    const std::string path = dir.File("domain");
    const Bytes good = ByteWriter().U16(0x5A5A).U8(1).I32(4).U16(2).I32(Cz).I32(DC1).bytes();
    CAmpInputDomain d;
    testsupport::WriteBytes(path, good);
    Load(path, d);
    EXPECT_EQ(d.GetSize(), 2);
    ExpectEveryPrefixIsEndOfFile<CAmpInputDomain>(path, good);

    const CAmpInputDomain before = d;
    auto refused = [&](const Bytes& b) {
        ExpectLoadFails(path, b, d, CArchiveException::badSchema);
        EXPECT_EQ(d, before);
    };
    refused(ByteWriter().U16(0x5A5B).U8(0).I32(0).U16(0).bytes());   // version 1
    refused(ByteWriter().U16(0x5A5A).U8(2).I32(0).U16(0).bytes());   // name flag 2
    refused(ByteWriter().U16(0x5A5A).U8(0).I32(0).U16(53).bytes());  // too many
    refused(ByteWriter().U16(0x5A5A).U8(0).I32(0).U16(0xFFFF).U32(1u << 31).bytes());
    refused(ByteWriter().U16(0x5A5A).U8(0).I32(0).U16(2).I32(5).I32(5).bytes());  // repeat
    refused(ByteWriter().U16(0x5A5A).U8(0).I32(0).U16(1).I32(52).bytes());        // no input

    // A DC domain holds DC inputs only; the same record is fine as a general domain.
    const Bytes jackInDc = ByteWriter().U16(0x5A5A).U8(0).I32(0).U16(1).I32(In1A).bytes();
    CDcInputDomain dc;
    ExpectLoadFails(path, jackInDc, dc, CArchiveException::badSchema);
    testsupport::WriteBytes(path, jackInDc);
    Load(path, d);
    EXPECT_EQ(d.GetAt(0), In1A);
}
