#include "host/session/DriverSession.h"
#include "config/PropertySets.h"

#include "FakeLine.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "platform/VariantConvert.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

using testing::FakeLine;
using testing::LineLog;

const char* const kConfig = R"(
[driver]
WaitTimeout = 1000
CountTry = 2

[[port]]
name = "COM3"

[[node]]
name = "Scale"
port = "COM3"
serial = 4321
scan_rate = 2

[[item]]
node = "Scale"
name = "net"
operation = "Вес Нетто"

[[item]]
node = "Scale"
name = "bit5"
operation = "Состояние"
bit = 5
scan_rate = 1
)";

class DriverSessionTest : public ::testing::Test {
protected:
    DriverSession Open() {
        return DriverSession(
            ParseHostConfig(kConfig, "session.toml"), VEMOX_DRIVER_PATH, clock,
            [this](const std::string& text) { log.push_back(text); },
            [this](const PortConfig& port) {
                opened.push_back(port.number);
                return std::make_unique<FakeLine>(line);
            });
    }
    std::int32_t Property(PItemProperties props, std::int32_t id) {
        platform::Variant value;
        EXPECT_TRUE(GetProperty(id, props, value.get())) << id;
        return platform::VariantToInt32(value.get());
    }

    ManualClock clock;
    std::shared_ptr<LineLog> line = std::make_shared<LineLog>();
    std::vector<int> opened;
    std::vector<std::string> log;
};

TEST_F(DriverSessionTest, ConnectsThroughTheLibraryWithTheConfiguredSettings) {
    DriverSession session = Open();
    EXPECT_EQ(opened, std::vector<int>{2});
    // The watchdog time comes back from inside the library: WaitTimeout x CountTry + 3000.
    EXPECT_EQ(session.WatchdogMs(), 1000 * 2 + 3000);
    EXPECT_EQ(session.Ports().References(), 1) << "the driver keeps the port service";
}

// Each session loads the library and unloads it again, as a host does when it reloads its
// configuration: the driver of every later load comes up as the first did.
TEST_F(DriverSessionTest, SessionsOneAfterAnotherEachLoadTheLibraryAfresh) {
    for (int session = 0; session < 4; ++session) {
        SCOPED_TRACE("session " + std::to_string(session));
        DriverSession driver = Open();
        EXPECT_EQ(driver.WatchdogMs(), 1000 * 2 + 3000);
        EXPECT_EQ(driver.Ports().References(), 1);
    }
    EXPECT_EQ(opened, (std::vector<int>{2, 2, 2, 2}));
}

TEST_F(DriverSessionTest, ItemsCarryTheSetsThePagesWouldBuild) {
    DriverSession session = Open();
    SessionItem* bit = session.FindItem("bit5");
    ASSERT_NE(bit, nullptr);
    EXPECT_EQ(session.FindItem("Scale.bit5"), bit);
    EXPECT_EQ(session.FindItem("Other.bit5"), nullptr);
    PItemProperties node = bit->node->properties.get();
    EXPECT_EQ(Property(node, kPropComPort), 2);
    EXPECT_EQ(Property(node, kPropUseAddress), 0);
    EXPECT_EQ(Property(node, kPropSerial), 4321);
    EXPECT_EQ(Property(bit->properties.get(), kPropStateBit), 5);
    EXPECT_EQ(Property(bit->properties.get(), kPropScanRate), 1000);
    platform::Variant rate;
    EXPECT_FALSE(GetProperty(kPropScanRate, session.FindItem("net")->properties.get(), rate.get()))
        << "an item at its node's rate stores none of its own";
}

} // namespace
} // namespace vemox::host
