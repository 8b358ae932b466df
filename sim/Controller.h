// One weighing controller as the simulator plays it: its identity on the line, its weights,
// counters, inputs and outputs, weight points, state byte and dosing control, and how it
// answers each command.
#pragma once

#include "sim/Frame.h"
#include "sim/Timing.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vemox::sim {

namespace cmd {
constexpr std::uint8_t kReadWeightPoint = 0xB1;
constexpr std::uint8_t kReadState = 0xBF;
constexpr std::uint8_t kReadNet = 0xC2;
constexpr std::uint8_t kReadGross = 0xC3;
constexpr std::uint8_t kReadInputs = 0xC4;
constexpr std::uint8_t kReadOutputs = 0xC5;
constexpr std::uint8_t kReadCounter = 0xC8;
constexpr std::uint8_t kWriteOutputs = 0xD0;
constexpr std::uint8_t kWriteWeightPoint = 0xD1;
constexpr std::uint8_t kWriteDosing = 0xDF;
} // namespace cmd

constexpr int kMinAddress = 1;
constexpr int kMaxAddress = 159;
constexpr std::uint32_t kMaxSerial = 999999;
constexpr int kCounters = 10;
constexpr int kWeightPoints = 9;
constexpr std::int64_t kMaxWeight = 999999;               // three BCD bytes
constexpr std::uint64_t kCounterModulus = 10000000000ULL; // five BCD bytes
constexpr std::uint8_t kStatusSign = 0x80;
constexpr std::uint8_t kStatusDecimals = 0x07;
constexpr std::uint8_t kStateDosing = 0x01;
constexpr std::uint16_t kInputFilling = 0x0001;

struct WeightPointLevels {
    std::uint32_t low = 0; // raw, at most 999999
    std::uint32_t high = 0;
};

// How the net weight moves: a filling cycle that ramps from `from` to `to` over `periodMs`
// and starts again. A period of 0 keeps the net weight at `net`.
struct Motion {
    std::uint32_t periodMs = 0;
    std::int32_t from = 0;
    std::int32_t to = 0;
};

struct ControllerConfig {
    int address = 1;
    std::uint32_t serial = 0;
    std::uint8_t decimals = 0; // decimal places of weights and levels, 0..7
    std::int32_t net = 0;      // raw net weight while not moving
    std::int32_t tare = 0;     // gross = net + tare
    Motion motion;
    std::array<std::uint64_t, kCounters> counters{};
    std::uint16_t inputs = 0;
    std::uint16_t outputs = 0;
    std::uint8_t outputBytes = 2; // width of the output mask on the wire, 1 or 2
    std::array<WeightPointLevels, kWeightPoints> points{};
    std::uint8_t state = 0;
    std::uint8_t dosing = 0;
};

class Controller {
public:
    explicit Controller(const ControllerConfig& config) : config_(config) {}

    const ControllerConfig& config() const { return config_; }

    // Answers the data that follow the command byte in the reply, or nothing when the
    // controller does not understand the request (unknown command, wrong length, number out
    // of range). `data` are the request bytes after the command, without checksum.
    std::optional<Bytes> Handle(std::uint8_t command, const Bytes& data, SimTime now);

    // The moving values at a given moment.
    std::int64_t NetAt(SimTime now) const;
    std::int64_t GrossAt(SimTime now) const { return NetAt(now) + config_.tare; }
    std::uint64_t CounterAt(int number, SimTime now) const;
    std::uint16_t InputsAt(SimTime now) const;
    std::uint8_t StateByte() const;
    std::uint16_t Outputs() const { return config_.outputs; }
    WeightPointLevels Point(int number) const { return config_.points.at(number); }
    std::uint8_t Dosing() const { return config_.dosing; }

private:
    std::uint64_t CyclesAt(SimTime now) const;
    void AppendWeight(Bytes& out, std::int64_t raw) const;

    ControllerConfig config_;
};

} // namespace vemox::sim
