// The controller model: writes that change what later reads answer, requests that get
// silence, and values that move with the injected clock.
#include "SimTestSupport.h"

#include "sim/Line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vemox::sim {
namespace {

using namespace std::chrono_literals;
using testing::Ask;
using testing::ControllerA;
using testing::ControllerB;
using ::testing::ElementsAre;
using testing::LineOf;
using testing::Request;

// Reply body of a request body, both without checksum, on a checksummed line.
Bytes Body(Simulator& sim, const Bytes& request, SimTime at = SimTime{0}) {
    const Bytes reply = Ask(sim, Request(sim.line(), request), at);
    FrameParser parser;
    auto bodies = parser.Feed(reply.data(), reply.size());
    if (bodies.size() != 1) {
        return {};
    }
    bodies[0].pop_back();
    return bodies[0];
}

TEST(SimModel, OutputWriteIsReadBack) {
    Simulator sim(LineOf(true));
    EXPECT_THAT(Body(sim, {5, 0xD0, 0x0A, 0x80}), ElementsAre(5, 0xD0));
    EXPECT_THAT(Body(sim, {5, 0xC5}), ElementsAre(5, 0xC5, 0x0A, 0x80));
    // Serial addressing reaches the same controller.
    EXPECT_THAT(Body(sim, {0, 0x01, 0xE2, 0x40, 0xD0, 0x01, 0x00}),
                ElementsAre(0, 0x01, 0xE2, 0x40, 0xD0));
    EXPECT_THAT(Body(sim, {5, 0xC5}), ElementsAre(5, 0xC5, 0x01, 0x00));
}

TEST(SimModel, OneByteOutputsKeepTheLowByteOfAnyWrite) {
    Simulator sim(LineOf(true));
    EXPECT_THAT(Body(sim, {39, 0xD0, 0x81, 0x7F}), ElementsAre(39, 0xD0));
    EXPECT_THAT(Body(sim, {39, 0xC5}), ElementsAre(39, 0xC5, 0x81));
    EXPECT_THAT(Body(sim, {39, 0xD0, 0x02}), ElementsAre(39, 0xD0));
    EXPECT_THAT(Body(sim, {39, 0xC5}), ElementsAre(39, 0xC5, 0x02));
}

TEST(SimModel, OneMaskByteToTwoByteOutputsKeepsTheHighByte) {
    Simulator sim(LineOf(true));
    EXPECT_THAT(Body(sim, {5, 0xD0, 0xF0}), ElementsAre(5, 0xD0));
    EXPECT_THAT(Body(sim, {5, 0xC5}), ElementsAre(5, 0xC5, 0xF0, 0x03));
}

TEST(SimModel, WeightPointWriteIsReadBack) {
    Simulator sim(LineOf(true));
    EXPECT_THAT(Body(sim, {5, 0xD1, 8, 0x50, 0x02, 0x00, 0x99, 0x99, 0x99}), ElementsAre(5, 0xD1));
    EXPECT_THAT(Body(sim, {5, 0xB1, 8}),
                ElementsAre(5, 0xB1, 8, 0x50, 0x02, 0x00, 0x99, 0x99, 0x99));
    EXPECT_EQ(sim.line().controller(0).Point(8).low, 250u);
    EXPECT_EQ(sim.line().controller(0).Point(8).high, 999999u);
    // Other points and the other controller are untouched.
    EXPECT_THAT(Body(sim, {5, 0xB1, 2}),
                ElementsAre(5, 0xB1, 2, 0x00, 0x10, 0x00, 0x00, 0x50, 0x12));
    EXPECT_EQ(sim.line().controller(1).Point(8).high, 0u);
}

TEST(SimModel, DosingControlDrivesTheStateByte) {
    Simulator sim(LineOf(true));
    EXPECT_THAT(Body(sim, {5, 0xBF}), ElementsAre(5, 0xBF, 0x40));
    EXPECT_THAT(Body(sim, {5, 0xDF, 0x02}), ElementsAre(5, 0xDF, 0x02));
    EXPECT_THAT(Body(sim, {5, 0xBF}), ElementsAre(5, 0xBF, 0x41));
    EXPECT_THAT(Body(sim, {5, 0xDF, 0x00}), ElementsAre(5, 0xDF, 0x00));
    EXPECT_THAT(Body(sim, {5, 0xBF}), ElementsAre(5, 0xBF, 0x40));
}

struct Silent {
    const char* name;
    bool checksum;
    Bytes request; // body; sealed by the test when `seal` is set
    bool seal;
    Silence why;
};

class SimSilence : public ::testing::TestWithParam<Silent> {};

TEST_P(SimSilence, GetsNoReply) {
    const auto& s = GetParam();
    Simulator sim(LineOf(s.checksum));
    const Bytes frame = s.seal ? Request(sim.line(), s.request) : WrapFrame(s.request);
    std::vector<Silence> seen;
    sim.SetObserver([&](const Exchange& e) { seen.push_back(e.silence); });
    EXPECT_THAT(Ask(sim, frame), ElementsAre());
    EXPECT_EQ(sim.answered(), 0u);
    // An empty frame is no request at all; every other one is silent for its own reason.
    EXPECT_EQ(seen, s.why == Silence::None ? std::vector<Silence>{} : std::vector<Silence>{s.why});
    // The model was left as it was: a valid request afterwards still gets its answer.
    EXPECT_FALSE(Ask(sim, Request(sim.line(), {5, 0xC5})).empty());
    EXPECT_EQ(sim.line().controller(0).Outputs(), 0x0305);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SimSilence,
    ::testing::Values(
        Silent{"address_nobody_has", true, {6, 0xC2}, true, Silence::Nobody},
        Silent{"address_zero_short", true, {0, 0xC2}, true, Silence::BadFrame},
        Silent{"serial_nobody_has", true, {0, 0x01, 0xE2, 0x41, 0xC2}, true, Silence::Nobody},
        Silent{"bad_checksum", true, {5, 0xC2, 0x87}, false, Silence::BadFrame},
        Silent{"checksum_missing", true, {5, 0xC2}, false, Silence::BadFrame},
        Silent{"unknown_command", true, {5, 0xA0}, true, Silence::NotUnderstood},
        Silent{"counter_10", true, {5, 0xC8, 10}, true, Silence::NotUnderstood},
        Silent{"counter_without_number", true, {5, 0xC8}, true, Silence::NotUnderstood},
        Silent{"net_with_data", true, {5, 0xC2, 0}, true, Silence::NotUnderstood},
        Silent{"point_9", true, {5, 0xB1, 9}, true, Silence::NotUnderstood},
        Silent{"output_write_three_bytes", true, {5, 0xD0, 1, 2, 3}, true, Silence::NotUnderstood},
        Silent{"output_write_no_mask", true, {5, 0xD0}, true, Silence::NotUnderstood},
        Silent{
            "point_write_short", true, {5, 0xD1, 1, 0, 0, 0, 0, 0}, true, Silence::NotUnderstood},
        Silent{"point_write_not_bcd",
               true,
               {5, 0xD1, 1, 0x0A, 0, 0, 0, 0, 0},
               true,
               Silence::NotUnderstood},
        Silent{"point_write_point_9",
               true,
               {5, 0xD1, 9, 0, 0, 0, 0, 0, 0},
               true,
               Silence::NotUnderstood},
        Silent{"dosing_without_value", true, {5, 0xDF}, true, Silence::NotUnderstood},
        Silent{"checksum_on_a_line_without", false, {5, 0xC2, 0x86}, false, Silence::NotUnderstood},
        Silent{"empty_frame", false, {}, false, Silence::None}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(SimModel, WeightsRampOverEachCycleAndCountersFollow) {
    ControllerConfig c = ControllerA();
    c.decimals = 1;
    c.tare = 100;
    c.motion = {10000, -200, 800}; // 10 s from -20.0 to 80.0
    c.counters[0] = 5;
    c.counters[1] = 70;
    c.inputs = 0x8000;
    const Controller ctl(c);

    EXPECT_EQ(ctl.NetAt(0s), -200);
    EXPECT_EQ(ctl.NetAt(2500ms), 50);
    EXPECT_EQ(ctl.GrossAt(2500ms), 150);
    EXPECT_EQ(ctl.NetAt(9999ms), 799);
    EXPECT_EQ(ctl.NetAt(10s), -200); // the next cycle starts empty

    EXPECT_EQ(ctl.CounterAt(0, 9999ms), 5u);
    EXPECT_EQ(ctl.CounterAt(0, 30s), 8u);
    EXPECT_EQ(ctl.CounterAt(1, 30s), 70u + 3 * 1000);
    EXPECT_EQ(ctl.CounterAt(3, 30s), 9876543210ULL);

    EXPECT_EQ(ctl.InputsAt(0s), 0x8001); // filling
    EXPECT_EQ(ctl.InputsAt(4999ms), 0x8001);
    EXPECT_EQ(ctl.InputsAt(5s), 0x8000); // second half of the cycle
}

TEST(SimModel, MovingNetWeightOnTheWire) {
    ControllerConfig c = ControllerA();
    c.decimals = 2;
    c.motion = {1000, -500, 500};
    Simulator sim(LineOf(true, {c}));
    EXPECT_THAT(Body(sim, {5, 0xC2}, 100ms), ElementsAre(5, 0xC2, 0x00, 0x04, 0x00, 0x82));
    EXPECT_THAT(Body(sim, {5, 0xC2}, 900ms), ElementsAre(5, 0xC2, 0x00, 0x04, 0x00, 0x02));
}

TEST(SimModel, WeightsBeyondSixDigitsAreClampedAndCountersWrap) {
    ControllerConfig c = ControllerA();
    c.net = -999999;
    c.tare = -5;
    c.counters[1] = 9999999999ULL;
    c.motion = {0, 0, 0};
    const Controller ctl(c);
    Simulator sim(LineOf(true, {c}));
    EXPECT_THAT(Body(sim, {5, 0xC3}), ElementsAre(5, 0xC3, 0x99, 0x99, 0x99, 0x80));
    EXPECT_EQ(ctl.CounterAt(1, 0s), 9999999999ULL);

    c.motion = {1000, 0, 1};
    EXPECT_EQ(Controller(c).CounterAt(1, 1s), 0u); // one more unit wraps to 0
}

TEST(SimLine, RefusesLinesItCannotPlay) {
    const auto problem = [](std::vector<ControllerConfig> cs) {
        LineConfig line;
        line.controllers = std::move(cs);
        return CheckLine(line).value_or("");
    };
    ControllerConfig a = ControllerA();
    ControllerConfig b = ControllerB();
    EXPECT_EQ(problem({a, b}), "");
    EXPECT_THAT(problem({}), ::testing::HasSubstr("no controller"));
    b.address = 5;
    EXPECT_THAT(problem({a, b}), ::testing::HasSubstr("address 5"));
    b = ControllerB();
    b.serial = a.serial;
    EXPECT_THAT(problem({a, b}), ::testing::HasSubstr("serial number 123456"));
    a.address = 160;
    EXPECT_THAT(problem({a}), ::testing::HasSubstr("outside 1..159"));
    a = ControllerA();
    a.serial = 1000000;
    EXPECT_THAT(problem({a}), ::testing::HasSubstr("0..999999"));
    a = ControllerA();
    a.outputBytes = 3;
    EXPECT_THAT(problem({a}), ::testing::HasSubstr("1 or 2 bytes"));
}

} // namespace
} // namespace vemox::sim
