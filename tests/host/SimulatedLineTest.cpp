// The host's scheduling against the in-process controller model: the real driver library
// on one side, the simulator's model behind a line that answers at once on the other, and
// the host's clock in the test's hand.
#include "host/DriverSession.h"

#include "FakeLine.h"
#include "sim/LineOptions.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

// A line whose far end is the controller model; replies are there as soon as asked for.
class ModelLine final : public SerialLine {
public:
    ModelLine(sim::Simulator& model, int& writes) : model_(model), writes_(writes) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        ++writes_;
        model_.Receive(data, size, sim::SimTime{0});
        return true;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        const sim::Bytes due = model_.TakeDue(sim::SimTime{0});
        const std::size_t n = std::min(capacity, due.size());
        std::copy_n(due.begin(), n, buffer);
        return n;
    }

private:
    sim::Simulator& model_;
    int& writes_;
};

sim::SimConfig DemoLine() {
    sim::SimConfig config;
    config.line.controllers = sim::DemoControllers();
    return config;
}

const char* const kConfig = R"(
[[port]]
name = "COM1"

[[node]]
name = "Hopper"
port = "COM1"
address = 1
scan_rate = 1

[[node]]
name = "Tank"
port = "COM1"
serial = 123456
scan_rate = 2

[[item]]
node = "Hopper"
name = "net"
operation = "Вес Нетто"

[[item]]
node = "Hopper"
name = "input0"
operation = "Дискретные входы"
input = 0

[[item]]
node = "Hopper"
name = "input7"
operation = "Дискретные входы"
input = 7

[[item]]
node = "Tank"
name = "net"
operation = "Вес Нетто"
)";

class SimulatedLineTest : public ::testing::Test {
protected:
    SimulatedLineTest()
        : session(
              ParseHostConfig(kConfig, "line.toml"), VEMOX_DRIVER_PATH, clock, {},
              [this](const PortConfig&) { return std::make_unique<ModelLine>(model, writes); }) {}

    int Completed() {
        int done = 0;
        for (const SessionItem& item : session.Items()) {
            done += static_cast<int>(item.host.Counts().completed);
        }
        return done;
    }

    ManualClock clock;
    sim::Simulator model{DemoLine()};
    int writes = 0;
    DriverSession session;
};

TEST_F(SimulatedLineTest, OneTickServesTheWholeBatch) {
    session.Scan();
    session.Cycle();
    // Three requests (the two input bits share one), each sent as soon as the reply to the
    // one before was delivered, all inside one tick of the host.
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(Completed(), 4);
    EXPECT_TRUE(session.AllIdle());
}

TEST_F(SimulatedLineTest, EachItemIsReadAtItsNodesRate) {
    session.Scan();
    session.Cycle();
    clock.Advance(999);
    session.Scan();
    session.Cycle();
    EXPECT_EQ(Completed(), 4) << "nothing is due before a second has passed";
    clock.Advance(1);
    session.Scan();
    session.Cycle();
    EXPECT_EQ(Completed(), 7) << "the hopper's three items again, not the tank's";
    clock.Advance(1000);
    session.Scan();
    session.Cycle();
    EXPECT_EQ(Completed(), 11);
    for (const SessionItem& item : session.Items()) {
        EXPECT_EQ(item.host.Shown().wQuality, 192) << item.config.FullName();
    }
}

} // namespace
} // namespace vemox::host
