#include "EegBase/ValueDomain.h"

#include <cmath>
#include <initializer_list>

#include "BaseTestSupport.h"

TEST(ValueDomain, DefaultsAndLegacySettingsAreAllowed) {
    for (const CValueDomain* d : std::initializer_list<const CValueDomain*>{
             &GetDefaultEventPriorityDomain(), &GetDefaultSensitivityDomain(),
             &GetDefaultHighCutDomain(), &GetDefaultLowCutDomain(), &GetDefaultPaperSpeedDomain(),
             &GetDefaultNotchFrequencyDomain(), &GetDefaultFlashFrequencyDomain(),
             &GetDefaultCalFrequencyDomain(), &GetDefaultCalAmplitudeDomain()}) {
        EXPECT_TRUE(d->IsValid(d->GetDefault())) << d->GetUnits().GetString();
        EXPECT_EQ(d->Constrain(std::nan("")), d->GetDefault());
        EXPECT_FALSE(d->IsValid(std::nan("")));
        EXPECT_FALSE(d->IsValid(INFINITY));
    }
    // The settings that legacy logs write as their defaults are allowed as they are.
    EXPECT_TRUE(GetDefaultSensitivityDomain().IsValid(7));
    EXPECT_TRUE(GetDefaultHighCutDomain().IsValid(50));
    EXPECT_TRUE(GetDefaultLowCutDomain().IsValid(50 / 100.0));
    EXPECT_TRUE(GetDefaultPaperSpeedDomain().IsValid(30));
}

TEST(ValueDomain, ListsAllowTheirValuesAndConstrainToTheNearest) {
    const CValueDomain& sens = GetDefaultSensitivityDomain();
    EXPECT_TRUE(sens.IsValid(1) && sens.IsValid(1000));
    EXPECT_FALSE(sens.IsValid(0.999) || sens.IsValid(1001) || sens.IsValid(8));
    EXPECT_EQ(sens.Constrain(8), 7);
    EXPECT_EQ(sens.Constrain(9), 10);
    EXPECT_EQ(sens.Constrain(0), 1);
    EXPECT_EQ(sens.Constrain(5000), 1000);
    const CValueDomain& low = GetDefaultLowCutDomain();
    EXPECT_TRUE(low.IsValid(160 / 100.0));  // computed values match within rounding
    EXPECT_FALSE(low.IsValid(0.16));
    EXPECT_TRUE(GetDefaultHighCutDomain().IsValid(0));  // off
    EXPECT_FALSE(GetDefaultHighCutDomain().IsValid(101));
    const CValueDomain& notch = GetDefaultNotchFrequencyDomain();
    EXPECT_FALSE(notch.IsValid(55));
    EXPECT_EQ(notch.Constrain(55), 50);  // a tie goes to the lower value
    EXPECT_EQ(notch.Constrain(55.01), 60);
    EXPECT_EQ(notch.Constrain(-1e300), 50);
    EXPECT_EQ(notch.Constrain(1e300), 60);
}

TEST(ValueDomain, RangesAndWholeNumberPriority) {
    const CValueDomain& prio = GetDefaultEventPriorityDomain();
    EXPECT_TRUE(prio.IsValid(1) && prio.IsValid(9));
    EXPECT_FALSE(prio.IsValid(0) || prio.IsValid(10) || prio.IsValid(5.5));
    EXPECT_EQ(prio.Constrain(-32768), 1);
    EXPECT_EQ(prio.Constrain(65535), 9);
    EXPECT_EQ(prio.Constrain(5.4), 5);
    const CValueDomain& flash = GetDefaultFlashFrequencyDomain();
    EXPECT_TRUE(flash.IsValid(0.5) && flash.IsValid(13.3) && flash.IsValid(60));
    EXPECT_FALSE(flash.IsValid(0.49) || flash.IsValid(60.01));
    EXPECT_EQ(flash.Constrain(100), 60);
}

TEST(ValueDomain, TextCarriesTheUnits) {
    EXPECT_EQ(GetDefaultSensitivityDomain().Format(7), "7 uV/mm");
    EXPECT_EQ(GetDefaultLowCutDomain().Format(0.3), "0.3 Hz");
    EXPECT_EQ(GetDefaultLowCutDomain().Format(1), "1 Hz");
    EXPECT_EQ(GetDefaultHighCutDomain().Format(0), "Off");
    EXPECT_EQ(GetDefaultCalAmplitudeDomain().Format(50), "50 uV");
    EXPECT_EQ(GetDefaultEventPriorityDomain().Format(3), "3");
    EXPECT_EQ(GetDefaultSensitivityDomain().FormatValue(150), "150");
    const CPaperSpeedDomain speed = GetDefaultPaperSpeedDomain();  // through a copy
    EXPECT_EQ(speed.FormatWithUnits(7.5), "7.5 mm/s");
    // Width and decimals given by the caller, as the flash rate is shown.
    EXPECT_EQ(GetDefaultFlashFrequencyDomain().Format(1, 4, 1), " 1.0 Hz");
    EXPECT_EQ(GetDefaultFlashFrequencyDomain().Format(2.25, 0, 2), "2.25 Hz");
    EXPECT_EQ(GetDefaultHighCutDomain().Format(0, 4, 1), " Off");
}
