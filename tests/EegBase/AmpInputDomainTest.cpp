#include "EegBase/AmpInputDomain.h"

#include <vector>

#include "BaseTestSupport.h"

using namespace basetest;
using namespace AmpInput;

namespace {

std::vector<int> InputsOf(const CAmpInputDomain& d) {
    std::vector<int> v;
    for (int i = 0; i < d.GetSize(); ++i)
        v.push_back(d.GetAt(i));
    return v;
}

}  // namespace

TEST(AmpInputDomain, HoldsDistinctInputsAndSwapsDcInputsWithTheirJacks) {
    const AmpInputType jacks[] = {Cz, Fp1, Cz, static_cast<AmpInputType>(99), DC2, NoInput};
    CAmpInputDomain d(jacks, 6);
    EXPECT_EQ(InputsOf(d), (std::vector<int>{Cz, Fp1, DC2}));
    EXPECT_EQ(d.Find(DC2), 2);
    EXPECT_EQ(d.Find(Pz), -1);
    EXPECT_EQ(d.GetAt(3), NoInput);
    EXPECT_FALSE(d.Add(Fp1));
    EXPECT_TRUE(d.Add(Pz));

    const AmpInputType stored[] = {Fp1, In1A, DC3, In4A, DC8};
    const CAmpInputDomain s(stored, 5);
    EXPECT_EQ(InputsOf(s.GetDcDomain()), (std::vector<int>{DC3, DC8}));
    EXPECT_EQ(InputsOf(s.GetReplacedDomain()), (std::vector<int>{Fp1, In1A, In3A, In4A, In8A}));
    // A DC input and the jack it replaces collapse into one entry.
    const AmpInputType both[] = {In3A, DC3};
    EXPECT_EQ(InputsOf(CAmpInputDomain(both, 2).GetReplacedDomain()), (std::vector<int>{In3A}));
    // The other way: jacks 1A and 4A become DC1 and DC4 when those are DC inputs.
    const AmpInputType dcInputs[] = {DC1, DC4, Fz};  // Fz is no DC input and is left out
    CDcInputDomain declared(dcInputs, 3);
    EXPECT_FALSE(declared.Add(In5A));
    EXPECT_EQ(InputsOf(s.GetDomainWithDc(declared)), (std::vector<int>{Fp1, DC1, DC3, DC4, DC8}));
    EXPECT_EQ(CAmpInputDomain::GetJackFromDC(DC5), In5A);
    EXPECT_EQ(CAmpInputDomain::GetJackFromDC(In5A), NoInput);

    const CAmpInputDomain& ref = GetDefaultRecRefDomain();
    EXPECT_EQ(ref.GetSize(), 33);
    EXPECT_TRUE(ref.Contains(CRef) && !ref.Contains(Gnd) && !ref.Contains(DC1));
    EXPECT_EQ(ref.GetJackName(CRef), "CRef");
    EXPECT_EQ(ref.GetJackName(In2A), "2A");
    EXPECT_EQ(d.GetJackName(Cz), "");  // no name table
}

TEST(AmpInputDomain, RoundTripsAndRefusesDamagedRecords) {
    testsupport::TempDir dir;
    const std::string path = dir.File("domain");
    const AmpInputType jacks[] = {O2, CRef, DC1, AvgRef}, dcs[] = {DC2, DC7};
    CAmpInputDomain d(jacks, 4), empty, backD, backEmpty(jacks, 2);
    d.SetNameTable(TRUE, -6);
    CDcInputDomain dc(dcs, 2), backDc;
    Store(path, d, dc, empty);
    Load(path, backD, backDc, backEmpty);
    EXPECT_EQ(backD, d);
    EXPECT_EQ(backD.GetNameWidth(), -6);
    EXPECT_EQ(backDc, dc);
    EXPECT_EQ(backEmpty.GetSize(), 0);

    const Bytes good = ByteWriter().U16(0x5A5A).U8(1).I32(4).U16(2).I32(Cz).I32(DC1).bytes();
    testsupport::WriteBytes(path, good);
    Load(path, d);
    EXPECT_EQ(InputsOf(d), (std::vector<int>{Cz, DC1}));
    ExpectEveryPrefixIsEndOfFile<CAmpInputDomain>(path, good);
    const CAmpInputDomain before = d;
    auto record = [](unsigned version, unsigned names, unsigned count) {
        return ByteWriter().U16(0x5A5A ^ version).U8(names).I32(0).U16(count);
    };
    for (const Bytes& bad : {
             record(1, 0, 0).bytes(),                     // version 1
             record(0, 2, 0).bytes(),                     // name flag 2
             record(0, 0, 53).bytes(),                    // more than there are inputs
             record(0, 0, 0xFFFF).U32(1u << 31).bytes(),  // the same in the long form
             record(0, 0, 2).I32(5).I32(5).bytes(),       // a repeat
             record(0, 0, 1).I32(52).bytes(),             // no input
         }) {
        ExpectLoadFails(path, bad, d, CArchiveException::badSchema);
        EXPECT_EQ(d, before);
    }
    // A DC domain holds DC inputs only; the same record is fine as a general domain.
    const Bytes jackInDc = record(0, 0, 1).I32(In1A).bytes();
    ExpectLoadFails(path, jackInDc, backDc, CArchiveException::badSchema);
    testsupport::WriteBytes(path, jackInDc);
    Load(path, d);
    EXPECT_EQ(InputsOf(d), (std::vector<int>{In1A}));
}
