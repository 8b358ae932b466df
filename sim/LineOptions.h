// Describing a simulated line in text: the `--controller` and fault options of vemox-sim and
// the same keys in a TOML line file, plus the demo line.
#pragma once

#include "sim/Simulator.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace vemox::sim {

// A description the simulator cannot play; the message says where and what.
class LineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One controller key: address (or addr), serial, decimals, net, tare, from, to, period-ms,
// inputs, outputs, output-bytes, state, dosing, counter0..counter9, point0..point8 as LOW:HIGH.
// Numbers are decimal or 0x-prefixed hexadecimal.
void SetControllerKey(ControllerConfig& controller, std::string_view key, std::string_view value);

// "addr=5,serial=123456,decimals=2": the keys above, comma separated. Without a serial key the
// serial number is the address, so that controllers given only by address stay distinct.
ControllerConfig ParseController(std::string_view text);

// "no-reply=0.05,bad-crc=0.01": fault names with their probability per answered exchange.
std::map<FaultKind, double> ParseFaultRates(std::string_view text);

// "3:no-reply,7:late=300,9:split=3": exchange number, fault, optional parameter.
std::map<std::uint64_t, Fault> ParseFaultScript(std::string_view text);

// Reads a TOML line file into `config` (top-level line settings, [faults], [[controller]]);
// controller tables take the keys above, with the same default serial number.
void LoadLineFile(const std::string& path, SimConfig& config);

// Three controllers with moving weights; the one with address 3 and serial number 123456 is
// meant to be addressed by its serial number.
std::vector<ControllerConfig> DemoControllers();

// Throws LineError when the line or its faults cannot be played.
void CheckConfig(const SimConfig& config);

} // namespace vemox::sim
