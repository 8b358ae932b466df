#include "host/output/Report.h"

#include "contract/Constants.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

TEST(ReportTest, QualitiesInWords) {
    EXPECT_EQ(QualityWords(kQualityGood), "good");
    EXPECT_EQ(QualityWords(kQualityNotAnswer), "bad: no reply");
    EXPECT_EQ(QualityWords(kQualityChecksum), "bad: checksum error");
    EXPECT_EQ(QualityWords(kQualityWrongReply), "bad: reply does not match the request");
    EXPECT_EQ(QualityWords(0x00D8), "good (0x00D8)");
    EXPECT_EQ(QualityWords(0x0044), "uncertain (0x0044)");
    EXPECT_EQ(OutcomeText(kOutcomeNotAnswer), "no reply");
    EXPECT_EQ(OutcomeText(static_cast<HRESULT>(0x80070005u)), "0x80070005");
}

TEST(ReportTest, TimeStampsInUtc) {
    FILETIME zero{0, 0};
    EXPECT_EQ(TimeStampText(zero), "-");
    // 2024-01-02 03:04:05.678 UTC.
    const std::int64_t ticks = 133486382456780000;
    FILETIME t{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    EXPECT_EQ(TimeStampText(t), "2024-01-02 03:04:05.678Z");
}

} // namespace
} // namespace vemox::host
