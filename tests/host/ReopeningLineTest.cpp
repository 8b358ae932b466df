// A port's device that goes missing and comes back, on the test's clock: tries every retry
// period, one notice per change, writes refused while there is no device.
#include "host/line/ReopeningLine.h"

#include "FakeLine.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vemox::host {
namespace {

using testing::FakeLine;
using testing::LineLog;

class ReopeningLineTest : public ::testing::Test {
protected:
    std::unique_ptr<ReopeningLine> Make() {
        return std::make_unique<ReopeningLine>(
            "COM1", "/dev/ttyUSB0",
            [this]() -> std::unique_ptr<SerialLine> {
                ++opens;
                if (!refusal.empty()) {
                    throw std::runtime_error("/dev/ttyUSB0: " + refusal);
                }
                device = std::make_shared<LineLog>();
                return std::make_unique<FakeLine>(device);
            },
            clock, 500, [this](const std::string& text) { notices.push_back(text); });
    }
    bool Write(SerialLine& line) {
        const std::uint8_t frame[] = {0xFF, 0x01, 0xC2, 0x8A, 0xFF, 0xFF};
        return line.Write(frame, sizeof frame);
    }

    ManualClock clock;
    std::string refusal; // the device cannot be opened for this reason
    std::shared_ptr<LineLog> device;
    int opens = 0;
    std::vector<std::string> notices;
};

TEST_F(ReopeningLineTest, AMissingDeviceIsTriedEveryPeriodAndEachChangeIsToldOnce) {
    refusal = "No such file or directory";
    const auto line = Make();
    EXPECT_FALSE(line->IsOpen());
    EXPECT_FALSE(Write(*line)) << "no device, no write";
    std::uint8_t buffer[16];
    EXPECT_EQ(line->Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(line->Waitable(), nullptr);
    EXPECT_EQ(opens, 1) << "not tried again before the period is over";

    clock.Advance(500);
    EXPECT_FALSE(Write(*line));
    EXPECT_EQ(opens, 2);
    refusal = "device busy (another program has it open)";
    clock.Advance(500);
    line->Read(buffer, sizeof buffer);
    refusal.clear();
    clock.Advance(499);
    EXPECT_FALSE(Write(*line));
    clock.Advance(1);
    EXPECT_TRUE(Write(*line)) << "the request goes out on the device that came back";
    EXPECT_EQ(opens, 4);
    EXPECT_EQ(line->Waitable(), line->Waitable()) << "waited on once open";
    EXPECT_NE(line->Waitable(), nullptr);

    const std::vector<std::string> expected = {
        "COM1: /dev/ttyUSB0: No such file or directory; trying again every 500 ms",
        "COM1: /dev/ttyUSB0: device busy (another program has it open); trying again every 500 ms",
        "COM1: /dev/ttyUSB0 opened"};
    EXPECT_EQ(notices, expected);
}

TEST_F(ReopeningLineTest, AFailedDeviceIsClosedAfterItsLastBytesAndReopened) {
    const auto line = Make();
    EXPECT_TRUE(line->IsOpen());
    EXPECT_TRUE(notices.empty()) << "a device there from the start goes unmentioned";
    const std::shared_ptr<LineLog> first = std::move(device);
    first->Arrive({0xFF, 0x01});
    first->failure = "Input/output error";
    std::uint8_t buffer[16];
    EXPECT_EQ(line->Read(buffer, sizeof buffer), 2u) << "what came before the failure is read";
    EXPECT_TRUE(line->IsOpen());
    EXPECT_EQ(line->Read(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_EQ(first.use_count(), 1) << "the failed device is closed";
    EXPECT_FALSE(Write(*line));

    clock.Advance(500);
    EXPECT_TRUE(Write(*line));
    EXPECT_NE(device, first);
    // A write that finds the device gone closes it as well.
    device->refuseWrites = true;
    device->failure = "hung up";
    EXPECT_FALSE(Write(*line));
    EXPECT_FALSE(line->IsOpen());

    const std::vector<std::string> expected = {
        "COM1: /dev/ttyUSB0 lost: Input/output error; trying again every 500 ms",
        "COM1: /dev/ttyUSB0 reopened",
        "COM1: /dev/ttyUSB0 lost: hung up; trying again every 500 ms"};
    EXPECT_EQ(notices, expected);
}

} // namespace
} // namespace vemox::host
