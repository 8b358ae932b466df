// One controller and one value straight from the command line, without a configuration file:
// `read /dev/ttyUSB0 --address 5 counter 3`. The words become the configuration a file with
// one port, one node and one item would give, read by the same parser, so an ad-hoc read is
// exactly what a configured item does.
#pragma once

#include "host/config/HostConfig.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vemox::host {

// How the line runs; shared by every command that opens a device without a file.
struct LineChoice {
    std::uint32_t baud = 9600;
    std::string parity = "none";
    int stopBits = 1;
    bool noCrc = false;
};
void AddLineOptions(CLI::App& command, LineChoice& line);

struct AdHocOptions {
    LineChoice line;
    std::optional<std::int64_t> address;
    std::optional<std::int64_t> serial;
    std::int64_t timeoutMs = 1000;
    std::int64_t tries = 3;

    // A controller named on the command line makes the command ad hoc.
    bool Given() const { return address.has_value() || serial.has_value(); }
};
// --address/--serial, the line options, --timeout and --tries.
void AddAdHocOptions(CLI::App& command, AdHocOptions& options);

// The port a device runs on with these line settings: COMn for the system's device of that
// port, anything else as the device of COM1. Throws ConfigError for settings the line cannot take.
PortConfig PortOf(const LineChoice& line, const std::string& device);

struct AdHocItem {
    HostConfig config;
    std::string item; // its full name
};

// `words` are the device (a path, or COMn for the system's device of that port) and what to
// read: net, gross, counter N, input N, output N, point N lower|upper, state N, dosing.
// Throws ConfigError naming what is wrong.
AdHocItem AdHocConfig(const AdHocOptions& options, const std::vector<std::string>& words);

// The words that name what can be read and written, for help texts and complaints; with
// `readOnly` only those a read can fetch.
std::string AdHocWhat(bool readOnly);

} // namespace vemox::host
