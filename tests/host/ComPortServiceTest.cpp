#include "host/line/ComPortService.h"

#include "FakeLine.h"
#include "fakes/HostFakes.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

using testing::FakeLine;
using testing::FakeReceiver;
using testing::LineLog;

class ComPortServiceTest : public ::testing::Test {
protected:
    ComPortServiceTest() : service(clock, 50) {
        service.Attach(0, std::make_unique<FakeLine>(line));
    }
    std::uint8_t Write(TComPortNum port, IKibReceiveData* who,
                       std::vector<std::uint8_t> bytes = {0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}) {
        return service.WriteData(port, bytes.data(), static_cast<std::int32_t>(bytes.size()), who);
    }

    ManualClock clock;
    std::shared_ptr<LineLog> line = std::make_shared<LineLog>();
    ComPortService service;
    FakeReceiver driver;
    FakeReceiver other;
};

TEST_F(ComPortServiceTest, GrantIsExclusiveUntilReleasedByItsHolder) {
    EXPECT_FALSE(service.CapturePort(7, &driver)) << "a port without a line is never granted";
    ASSERT_TRUE(service.CapturePort(0, &driver));
    EXPECT_FALSE(service.CapturePort(0, &other));
    EXPECT_FALSE(service.CapturePort(0, &driver)) << "a held port is not granted twice";
    service.ReleasePort(0, &other);
    EXPECT_TRUE(service.Captured(0)) << "only the holder gives the port back";
    service.ReleasePort(0, &driver);
    EXPECT_TRUE(service.CapturePort(0, &other));
}

TEST_F(ComPortServiceTest, WritesAreRefusedWithoutGrantOrWhenTheLineFails) {
    EXPECT_NE(Write(0, &driver), 0) << "no grant";
    EXPECT_NE(Write(3, &driver), 0) << "no such port";
    ASSERT_TRUE(service.CapturePort(0, &driver));
    EXPECT_NE(Write(0, &other), 0) << "someone else's grant";
    EXPECT_EQ(Write(0, &driver), 0);
    ASSERT_EQ(line->writes.size(), 1u);
    EXPECT_EQ(line->writes[0], (std::vector<std::uint8_t>{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}));
    line->refuseWrites = true;
    EXPECT_NE(Write(0, &driver), 0);
    EXPECT_TRUE(driver.received.empty()) << "not from inside the driver's call";
    // The holder's refused request ends at once, as one that got no reply; the refusals
    // without a grant above end nothing.
    EXPECT_EQ(service.DeliverReplies(), 1);
    ASSERT_EQ(driver.received.size(), 1u);
    EXPECT_TRUE(driver.received[0].bytes.empty());
    EXPECT_EQ(service.Statistics(0)->writes, 1u);
    EXPECT_EQ(service.Statistics(0)->refusedWrites, 3u) << "a port without a line has no count";
}

TEST_F(ComPortServiceTest, RepliesWaitForDeliveryOnePerCall) {
    int deliveredDuringService = 0;
    driver.onReceive = [&] { ++deliveredDuringService; };
    line->Arrive({0xFF, 0x01, 0xBF, 0x03, 0xFF, 0xFF, 0xFF, 0x02, 0xBF});
    service.ServicePort(0, &driver);
    EXPECT_EQ(deliveredDuringService, 0) << "nothing reaches the driver inside its own cycle";
    EXPECT_EQ(service.DeliverReplies(), 1);
    ASSERT_EQ(driver.received.size(), 1u);
    EXPECT_EQ(driver.received[0].bytes,
              (std::vector<std::uint8_t>{0xFF, 0x01, 0xBF, 0x03, 0xFF, 0xFF}));

    clock.Advance(10);
    line->Arrive({0x04, 0xFF, 0xFF});
    service.ServicePort(0, &driver);
    EXPECT_EQ(service.DeliverReplies(), 1);
    ASSERT_EQ(driver.received.size(), 2u);
    EXPECT_EQ(driver.received[1].port, 0);
    EXPECT_EQ(driver.received[1].bytes,
              (std::vector<std::uint8_t>{0xFF, 0x02, 0xBF, 0x04, 0xFF, 0xFF}));
    EXPECT_EQ(service.DeliverReplies(), 0);
}

TEST_F(ComPortServiceTest, ReplyTimeIsMeasuredFromTheWrite) {
    ASSERT_TRUE(service.CapturePort(0, &driver));
    clock.Advance(100);
    ASSERT_EQ(Write(0, &driver), 0);
    clock.Advance(37);
    line->Arrive({0xFF, 0x01, 0xBF, 0x03, 0xFF, 0xFF});
    service.ServicePort(0, &driver);
    EXPECT_EQ(service.Statistics(0)->lastReplyMs - service.Statistics(0)->lastWriteMs, 37);
}

TEST_F(ComPortServiceTest, GatherCollectsOnlyForTheHolderOfAGrantedLine) {
    auto idle = std::make_shared<LineLog>();
    service.Attach(1, std::make_unique<FakeLine>(idle));
    idle->Arrive({0xFF, 0x07, 0xBF, 0x01, 0xFF, 0xFF});
    line->Arrive({0xFF, 0x01, 0xBF, 0x03, 0xFF});
    EXPECT_FALSE(service.Gather());
    EXPECT_EQ(line->incoming.size(), 5u) << "bytes nobody asked for stay on the line";

    ASSERT_TRUE(service.CapturePort(0, &driver));
    EXPECT_FALSE(service.Gather()) << "half a reply is not delivered";
    EXPECT_TRUE(line->incoming.empty());
    line->Arrive({0xFF});
    EXPECT_TRUE(service.Gather());
    EXPECT_EQ(service.DeliverReplies(), 1);
    ASSERT_EQ(driver.received.size(), 1u);
    EXPECT_EQ(driver.received[0].bytes,
              (std::vector<std::uint8_t>{0xFF, 0x01, 0xBF, 0x03, 0xFF, 0xFF}));
    EXPECT_EQ(idle->incoming.size(), 6u) << "the other port was never granted";
}

TEST_F(ComPortServiceTest, AReplyWithoutEndMarkerIsDueAtTheGap) {
    ASSERT_TRUE(service.CapturePort(0, &driver));
    EXPECT_FALSE(service.NextGapEndMs()) << "nothing received, nothing to wait for";
    clock.Advance(200);
    line->Arrive({0x12, 0x34});
    EXPECT_FALSE(service.Gather());
    EXPECT_EQ(service.NextGapEndMs(), 250);
    clock.Advance(20);
    line->Arrive({0x56});
    EXPECT_FALSE(service.Gather());
    EXPECT_EQ(service.NextGapEndMs(), 270) << "each byte restarts the gap";
    clock.Advance(50);
    EXPECT_TRUE(service.Gather());
    EXPECT_FALSE(service.NextGapEndMs());
    EXPECT_EQ(service.DeliverReplies(), 1);
    EXPECT_EQ(driver.received[0].bytes, (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
}

TEST_F(ComPortServiceTest, WhatArrivedBeforeARequestIsDroppedWhenItIsWritten) {
    ASSERT_TRUE(service.CapturePort(0, &driver));
    // A whole late reply gathered but not delivered, half of another in the assembler, and
    // bytes not yet read from the line.
    line->Arrive({0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF, 0xFF, 0x05});
    ASSERT_TRUE(service.Gather());
    line->Arrive({0xC2, 0x45});
    EXPECT_NE(Write(0, &other), 0);
    EXPECT_EQ(line->incoming.size(), 2u) << "a refused write drops nothing";

    ASSERT_EQ(Write(0, &driver), 0);
    EXPECT_TRUE(line->incoming.empty());
    EXPECT_FALSE(service.NextGapEndMs()) << "no partial reply left";
    EXPECT_EQ(service.DeliverReplies(), 0) << "no gathered reply left";

    line->Arrive({0xFF, 0x05, 0xC2, 0x46, 0x23, 0x01, 0x00, 0x0D, 0xFF, 0xFF});
    ASSERT_TRUE(service.Gather());
    EXPECT_EQ(service.DeliverReplies(), 1);
    ASSERT_EQ(driver.received.size(), 1u);
    EXPECT_EQ(driver.received[0].bytes, (std::vector<std::uint8_t>{0xFF, 0x05, 0xC2, 0x46, 0x23,
                                                                   0x01, 0x00, 0x0D, 0xFF, 0xFF}));
}

} // namespace
} // namespace vemox::host
