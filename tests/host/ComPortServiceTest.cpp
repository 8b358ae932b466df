#include "host/ComPortService.h"

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

} // namespace
} // namespace vemox::host
