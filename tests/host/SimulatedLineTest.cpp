// The host's scheduling against the in-process controller model: the real driver library
// on one side, the simulator's model behind a line that answers at once on the other, and
// the host's clock in the test's hand.
#include "host/session/DriverSession.h"

#include "FakeLine.h"
#include "sim/LineOptions.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

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

// The controller model on the host's clock, at 9600 baud with a 3 ms turnaround: a request
// reaches the model when written, reply bytes are readable once their wire time is over.
class TimedModelLine final : public SerialLine {
public:
    TimedModelLine(sim::Simulator& model, const ManualClock& clock,
                   std::vector<std::int64_t>& writes)
        : model_(model), clock_(clock), writes_(writes) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        writes_.push_back(clock_.NowMs());
        model_.Receive(data, size, std::chrono::milliseconds(clock_.NowMs()));
        return true;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        const sim::Bytes due = model_.TakeDue(std::chrono::milliseconds(clock_.NowMs()));
        const std::size_t n = std::min(capacity, due.size());
        std::copy_n(due.begin(), n, buffer);
        return n;
    }

private:
    sim::Simulator& model_;
    const ManualClock& clock_;
    std::vector<std::int64_t>& writes_;
};

sim::SimConfig TimedLine() {
    sim::SimConfig config = DemoLine();
    config.timing.baud = 9600;
    config.timing.turnaround = std::chrono::milliseconds(3);
    return config;
}

const char* const kBusyConfig = R"(
[host]
execute_ms = 50

[[port]]
name = "COM1"

[[node]]
name = "Hopper"
port = "COM1"
address = 1
scan_rate = 0

[[item]]
node = "Hopper"
name = "net"
operation = "Вес Нетто"
)";

class RunLoopTest : public ::testing::Test {
protected:
    RunLoopTest()
        : session(ParseHostConfig(kBusyConfig, "busy.toml"), VEMOX_DRIVER_PATH, clock, {},
                  [this](const PortConfig&) {
                      return std::make_unique<TimedModelLine>(model, clock, writes);
                  }) {}

    // Waits as poll() would: until the next reply byte is due, or the time-out.
    void WaitForNextByte(std::int64_t ms) {
        waits.push_back(ms);
        std::int64_t wake = clock.NowMs() + ms;
        if (const auto due = model.NextDue()) {
            const std::int64_t dueMs = (due->count() + 999'999) / 1'000'000;
            if (dueMs > clock.NowMs()) {
                wake = std::min(wake, dueMs);
            }
        }
        clock.Advance(wake - clock.NowMs());
    }

    ManualClock clock;
    sim::Simulator model{TimedLine()};
    std::vector<std::int64_t> writes;
    std::vector<std::int64_t> waits;
    DriverSession session;
};

TEST_F(RunLoopTest, EachReplyIsDeliveredOnArrivalAndTheNextRequestFollowsAtOnce) {
    RunHooks hooks;
    hooks.wait = [this](std::int64_t ms) { WaitForNextByte(ms); };
    EXPECT_EQ(session.RunUntil(nullptr, 1000, true, hooks), RunEnd::Deadline);

    // 10 reply bytes take 10.4 ms at 9600 baud, plus the turnaround: one exchange every
    // 14 ms or so, where waiting out the 50 ms period would allow only 20 in the second.
    ASSERT_GE(writes.size(), 60u);
    for (std::size_t i = 1; i < writes.size(); ++i) {
        EXPECT_LE(writes[i] - writes[i - 1], 15) << "request " << i;
    }
    for (const std::int64_t ms : waits) {
        EXPECT_TRUE(ms > 0 && ms <= 50) << ms << " ms: never past the next Execute";
    }
    const SessionItem& net = session.Items().front();
    EXPECT_EQ(net.host.Counts().failed, 0u);
    EXPECT_EQ(net.host.Shown().wQuality, 192);
}

TEST_F(RunLoopTest, ExecuteKeepsItsPeriodWhenNothingWakesTheHost) {
    RunHooks hooks;
    hooks.wait = [this](std::int64_t ms) { clock.Advance(ms); };
    session.RunUntil(nullptr, 1000, true, hooks);
    // Each reply is only looked at on the next period, which sends the next request.
    EXPECT_GE(writes.size(), 19u);
    EXPECT_LE(writes.size(), 21u);
    for (std::size_t i = 1; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i] - writes[i - 1], 50) << "request " << i;
    }
}

} // namespace
} // namespace vemox::host
