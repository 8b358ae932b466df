// Controllers and helpers shared by the simulator's tests.
#pragma once

#include "sim/Simulator.h"

#include <chrono>

namespace vemox::sim::testing {

using namespace std::chrono_literals;

// Address 5, serial number 123456 (01 E2 40), whole units, two-byte outputs.
inline ControllerConfig ControllerA() {
    ControllerConfig c;
    c.address = 5;
    c.serial = 123456;
    c.net = 12345;
    c.tare = 655;
    c.counters[3] = 9876543210ULL;
    c.inputs = 0x8421;
    c.outputs = 0x0305;
    c.points[2] = {1000, 125000};
    c.state = 0x40;
    return c;
}

// Address 39 (whose input request carries the checksum 0xFF), hundredths, a negative net
// weight and a one-byte output mask.
inline ControllerConfig ControllerB() {
    ControllerConfig c;
    c.address = 39;
    c.serial = 7;
    c.decimals = 2;
    c.net = -12345;
    c.tare = 20000;
    c.inputs = 0x00FF;
    c.outputs = 0x05;
    c.outputBytes = 1;
    return c;
}

inline SimConfig LineOf(bool checksum, std::vector<ControllerConfig> controllers = {
                                           ControllerA(), ControllerB()}) {
    SimConfig config;
    config.line.checksum = checksum;
    config.line.controllers = std::move(controllers);
    return config;
}

// Sends one request frame at `at` and collects every reply byte, however late.
inline Bytes Ask(Simulator& sim, const Bytes& frame, SimTime at = SimTime{0}) {
    sim.Receive(frame.data(), frame.size(), at);
    return sim.TakeDue(SimTime::max());
}

// A request frame from a body, sealed the way the line expects.
inline Bytes Request(const Line& line, Bytes body) {
    line.Seal(body);
    return WrapFrame(body);
}

} // namespace vemox::sim::testing
