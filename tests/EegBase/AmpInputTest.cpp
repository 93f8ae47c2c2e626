#include "EegBase/AmpInput.h"

#include "BaseTestSupport.h"

using namespace AmpInput;

TEST(AmpInput, CodesAndNamesFollowTheLegacyInputTable) {
    const struct {
        int code;
        const char* name;
    } table[] = {{0, "Fp1"},  {11, "Cz"},   {23, "Aux"},   {24, "1A"}, {31, "8A"},
                 {32, "Gnd"}, {33, "CRef"}, {34, "1R"},    {41, "8R"}, {42, "DC1"},
                 {49, "DC8"}, {50, "Ref"},  {51, "AvgRef"}};
    for (const auto& e : table) {
        ASSERT_NE(GetName(e.code), nullptr) << e.code;
        EXPECT_STREQ(GetName(e.code), e.name) << e.code;
    }
    EXPECT_EQ(GetName(-1), nullptr);
    EXPECT_EQ(GetName(52), nullptr);

    // The name table holds every code once, in code order.
    const CDomainEnum<AmpInputType>& names = GetNameTable();
    ASSERT_EQ(names.GetSize(), kInputCount);
    for (int i = 0; i < names.GetSize(); ++i) {
        EXPECT_EQ(names.GetValue(i), i);
        EXPECT_STREQ(names.GetLabel(i), GetName(i));
    }
    EXPECT_EQ(names.FindLabelNoCase("cz"), Cz);
    EXPECT_EQ(names.FindLabelNoCase("dc8"), DC8);
    EXPECT_EQ(names.FindLabelNoCase("Cz "), -1);
    EXPECT_STREQ(names.GetLabelOf(In8R), "8R");
    EXPECT_EQ(names.GetLabelOf(static_cast<AmpInputType>(60)), nullptr);
}

TEST(AmpInput, DcInputsReplaceThePairJacks) {
    EXPECT_EQ(DcToJack(DC1), In1A);
    EXPECT_EQ(DcToJack(DC8), In8A);
    EXPECT_EQ(DcToJack(41), NoInput);
    EXPECT_EQ(DcToJack(50), NoInput);
    EXPECT_EQ(JackToDc(Aux), NoInput);
    EXPECT_EQ(JackToDc(Gnd), NoInput);
    for (int k = 0; k < kDcCount; ++k)  // and back, DC1 to 1A, DC8 to 8A
        EXPECT_EQ(JackToDc(DcToJack(DC1 + k)), DC1 + k);

    EXPECT_TRUE(IsJack(0) && IsJack(31) && !IsJack(32) && !IsJack(-1));
    EXPECT_TRUE(IsPairJack(24) && IsPairJack(31) && !IsPairJack(23) && !IsPairJack(32));
    EXPECT_TRUE(IsDcInput(42) && IsDcInput(49) && !IsDcInput(41) && !IsDcInput(50));
    EXPECT_TRUE(IsInput(0) && IsInput(51) && !IsInput(52) && !IsInput(-1));
}
