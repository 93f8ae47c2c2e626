#include "EegFile/frame/EegTimeStamp.h"

#include <gtest/gtest.h>

#include "FakeEegFile.h"

TEST(EegTimeStamp, ComparesAsUnsignedAndWraps) {
    EXPECT_TRUE(CEegTimeStamp(0xFFFFFFFF) > CEegTimeStamp(0));
    EXPECT_TRUE(CEegTimeStamp(0x80000000) > CEegTimeStamp(0x7FFFFFFF));
    EXPECT_EQ(CEegTimeStamp::NullStamp.GetSampleOffset(), 0xFFFFFFFFu);
    EXPECT_EQ(CEegTimeStamp().GetSampleOffset(), 0u);
    CEegTimeStamp t(0xFFFFFFFE);
    t.Inc(3);
    EXPECT_EQ(t.GetSampleOffset(), 1u);
    EXPECT_EQ(CEegTimeStamp(5) <= CEegTimeStamp(5), 1);
    EXPECT_EQ(CEegTimeStamp(5) != CEegTimeStamp(5), 0);
}

TEST(EegTimeStamp, SecondsAgainstTheRecordingsRate) {
    CFakeEegFile file;
    file.m_SampleRate = 256.0;
    CEegTimeStamp t(512);
    EXPECT_DOUBLE_EQ(t.GetPositionInSeconds(file), 2.0);
    t.SetPositionInSeconds(file, 1.999);  // 511.744 samples, truncated
    EXPECT_EQ(t.GetSampleOffset(), 511u);
    t.SetPositionInSeconds(file, -3);
    EXPECT_EQ(t.GetSampleOffset(), 0u);
    t.SetPositionInSeconds(file, 1e12);
    EXPECT_EQ(t.GetSampleOffset(), 0xFFFFFFFFu);
    // A wall-clock time, to the second, through the recording (which starts at 09:00).
    t.SetTimeOfDay(file, COleDateTime(2026, 3, 14, 10, 0, 1));
    EXPECT_EQ(t.GetSampleOffset(), 256u * 3601u);
}

TEST(EegTimeStamp, FormatPosition) {
    CFakeEegFile file;
    file.m_SampleRate = 200.0;
    EXPECT_EQ(CEegTimeStamp(0).FormatPosition(file, 0), "00:00:00");
    EXPECT_EQ(CEegTimeStamp(0).FormatPosition(file, 1), "00:00:00.0");
    EXPECT_EQ(CEegTimeStamp(1450).FormatPosition(file, 2), "00:00:07.25");
    // With 3 decimals the fraction is cut to a multiple of 1/30 first.
    EXPECT_EQ(CEegTimeStamp(1450).FormatPosition(file, 3), "00:00:07.233");
    EXPECT_EQ(CEegTimeStamp(1444).FormatPosition(file, 1), "00:00:07.2");
    EXPECT_EQ(CEegTimeStamp(200 * 3723).FormatPosition(file, 0), "01:02:03");
    // Hours are not wrapped at 24.
    EXPECT_EQ(CEegTimeStamp(200u * 3600u * 100u).FormatPosition(file, 0), "100:00:00");
    EXPECT_EQ(CEegTimeStamp(200 * 59 + 199).FormatPosition(file, 2), "00:00:59.95");
    file.m_SampleRate = 0.0;  // no rate: not a number of seconds, shown as the start
    EXPECT_EQ(CEegTimeStamp(10).FormatPosition(file, 0), "00:00:00");
}
