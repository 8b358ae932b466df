#include "host/session/HostItem.h"

#include "contract/Constants.h"
#include "platform/Com.h"
#include "platform/VariantConvert.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

void Fill(OPCITEMSTATE& state, double value, std::uint16_t quality) {
    platform::Variant v = platform::Variant::Double(value);
    platform::VariantCopyFrom(state.vDataValue, v.get());
    state.wQuality = quality;
}

TEST(HostItemTest, ShowsTheLastFinishedReadWhileTheNextIsUnderWay) {
    HostItem item("Scale.net");
    std::uint32_t id = item.BeginTask();
    Fill(item.State(), 12.5, kQualityGood);
    item.ReadComplete(id, S_OK);
    EXPECT_FALSE(item.Busy());

    id = item.BeginTask();
    item.State().wQuality = kQualityBad; // what the driver does to a read in progress
    EXPECT_TRUE(item.Busy());
    EXPECT_EQ(item.Shown().wQuality, kQualityGood);
    EXPECT_DOUBLE_EQ(platform::VariantToDouble(item.Shown().vDataValue), 12.5);

    Fill(item.State(), 0, kQualityNotAnswer);
    item.ReadComplete(id, kOutcomeNotAnswer);
    EXPECT_EQ(item.Shown().wQuality, kQualityNotAnswer);
    EXPECT_EQ(item.LastResult(), kOutcomeNotAnswer);
    EXPECT_EQ(item.Counts().completed, 2u);
    EXPECT_EQ(item.Counts().failed, 1u);
}

TEST(HostItemTest, WritesAndStrayCompletionsLeaveTheShownValueAlone) {
    HostItem item("Scale.level");
    std::uint32_t id = item.BeginTask();
    Fill(item.State(), 7, kQualityGood);
    item.ReadComplete(id, S_OK);

    id = item.BeginTask();
    Fill(item.WriteState(), 99, kQualityGood);
    item.WriteComplete(id + 5, S_OK);
    EXPECT_TRUE(item.Busy()) << "a completion for another transaction does not end this one";
    item.WriteComplete(id, S_OK);
    EXPECT_FALSE(item.Busy());
    EXPECT_DOUBLE_EQ(platform::VariantToDouble(item.Shown().vDataValue), 7);
}

TEST(HostItemTest, CountsExchangesPerTask) {
    HostItem item("Scale.bit");
    item.ReportExchange(1, 2, 1);
    item.ReportExchange(0, 3, 0);
    EXPECT_EQ(item.Counts().answered, 1u);
    EXPECT_EQ(item.Counts().unanswered, 1u);
    EXPECT_EQ(item.Counts().repeats, 4u) << "2 repeats, then 3 writes without a reply";
}

} // namespace
} // namespace vemox::host
