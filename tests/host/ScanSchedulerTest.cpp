#include "host/session/ScanScheduler.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

using Indexes = std::vector<std::size_t>;

TEST(ScanSchedulerTest, ReadsEachEntryAtItsOwnRate) {
    ScanScheduler scheduler;
    scheduler.Add(1000, 0);
    scheduler.Add(3000, 0);
    const auto idle = [](std::size_t) { return false; };
    EXPECT_EQ(scheduler.TakeDue(0, idle), (Indexes{0, 1}));
    EXPECT_EQ(scheduler.TakeDue(999, idle), Indexes{});
    EXPECT_EQ(scheduler.TakeDue(1000, idle), Indexes{0});
    EXPECT_EQ(scheduler.TakeDue(2010, idle), Indexes{0}) << "keeps its rhythm, not 2010 + 1000";
    EXPECT_EQ(scheduler.TakeDue(3000, idle), (Indexes{0, 1}));
}

TEST(ScanSchedulerTest, BusyEntryWaitsAndResumesWithoutBurst) {
    ScanScheduler scheduler;
    scheduler.Add(1000, 0);
    bool busy = true;
    const auto isBusy = [&](std::size_t) { return busy; };
    EXPECT_EQ(scheduler.TakeDue(0, isBusy), Indexes{});
    EXPECT_EQ(scheduler.TakeDue(5500, isBusy), Indexes{});
    busy = false;
    EXPECT_EQ(scheduler.TakeDue(5500, isBusy), Indexes{0});
    EXPECT_EQ(scheduler.TakeDue(5600, isBusy), Indexes{}) << "no catching up on missed reads";
    EXPECT_EQ(scheduler.TakeDue(6500, isBusy), Indexes{0});
}

TEST(ScanSchedulerTest, RateZeroReadsAgainOnceDone) {
    ScanScheduler scheduler;
    scheduler.Add(0, 0);
    EXPECT_EQ(scheduler.TakeDue(0, [](std::size_t) { return false; }), Indexes{0});
    EXPECT_EQ(scheduler.TakeDue(0, [](std::size_t) { return true; }), Indexes{});
    EXPECT_EQ(scheduler.TakeDue(1, [](std::size_t) { return false; }), Indexes{0});
}

} // namespace
} // namespace vemox::host
