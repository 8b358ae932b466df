// Finding the controllers on a line: a state read to every address (or to given serial
// numbers), one short try each, at one line rate and checksum mode or, with `auto`, at every
// usual rate in both modes, for a line whose settings nobody wrote down.
#pragma once

#include "host/session/DriverSession.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vemox::host {

// The scan as typed.
struct ScanChoice {
    std::string baud;      // "": the port's rate; "auto"; or rates "9600,19200"
    std::string crc;       // "": the configured mode; "on", "off" or "auto"
    std::string addresses; // "": 1-159; "A-B" or "A"
    std::string serials;   // "": scan addresses; else "123456,200000-200099"
    std::int64_t timeoutMs = 250;
    bool json = false; // one JSON object per controller found
};
void AddScanOptions(CLI::App& command, ScanChoice& choice);

// One controller to probe: a network address, or a serial number.
struct Probe {
    bool network = true;
    std::uint32_t id = 1;
};

struct ScanPlan {
    std::vector<std::uint32_t> rates;
    std::vector<bool> checksums; // modes in the order they are tried
    std::vector<Probe> probes;
    std::int64_t timeoutMs = 250;
    // A list of settings to try: each controller is reported with its rate and mode.
    bool searching = false;
};

// Throws ConfigError for a choice that names no usable rate, mode, address or serial number.
ScanPlan PlanOf(const ScanChoice& choice, std::uint32_t configuredBaud, bool configuredCrc);

using SessionMaker = std::function<std::unique_ptr<DriverSession>(HostConfig)>;

// Where a scan reports. Each controller goes to `finds` the moment it answers: a plain line,
// or with `json` one JSON object per line and nothing else there, the summary then going to
// `notes` with the settings tried. When `notes` is a terminal (`live`), a progress line there
// is redrawn in place and cleared before each find and at the end.
struct ScanOutput {
    std::ostream& finds;
    std::ostream& notes;
    bool json = false;
    bool live = false;
};

// Runs the plan on the one port of `base` (its driver settings and line settings are the
// starting point); answers the exit status: 0 when any controller answered.
int Discover(const HostConfig& base, const ScanPlan& plan, const SessionMaker& open,
             const HostClock& clock, const RunHooks& hooks, const ScanOutput& output);

} // namespace vemox::host
