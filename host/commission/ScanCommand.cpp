// `scan`: which controllers answer on a line, at which rates and checksum modes.
#include "config/Encodings.h"
#include "contract/Constants.h"
#include "host/commission/AdHoc.h"
#include "host/commission/Commands.h"
#include "host/commission/Discovery.h"

#include <iostream>

namespace vemox::host {
namespace {

// The port to scan with its line settings and driver settings: those of the file when it
// defines the port, else the defaults. PORT is COMn, or a device that stands for COM1.
HostConfig ScanBase(const HostOptions& options, const std::string& target) {
    HostConfig config;
    if (!options.configPath.empty()) {
        config = LoadHostConfig(options.configPath);
        ApplyDeviceOverrides(options, config);
    } else {
        config.file = "the command line";
        config.driverSettings = {{kKeyCalcCRC, kTextTrue}};
    }
    const int number = PortNumberOfName(target);
    PortConfig port;
    if (const PortConfig* known = config.FindPort(number)) {
        port = *known;
    } else if (number >= 0) {
        port.name = target;
        port.number = number;
    } else {
        port = PortOf({}, target);
    }
    config.ports = {port};
    // Overrides name ports of the file; a scan without a file takes COMn=DEVICE directly.
    if (options.configPath.empty()) {
        ApplyDeviceOverrides(options, config);
    }
    return config;
}

int Scan(const HostOptions& options, const std::string& target, const ScanChoice& choice) {
    SteadyClock clock;
    const auto trace = MakeTrace(options, nullptr);
    const HostConfig base = ScanBase(options, target);
    const ScanPlan plan = PlanOf(choice, base.ports.front().line.baud, base.ChecksumOn());
    // A scan is an operator at the line: a device that cannot be opened ends it at once.
    const SessionMaker open = [&](HostConfig config) {
        auto session =
            std::make_unique<DriverSession>(std::move(config), DriverPathOf(options), clock,
                                            MakeLogSink(options, nullptr), OpenConfiguredLine);
        TraceLines(*session, trace.get());
        return session;
    };
    return Discover(base, plan, open, clock, RealTimeHooks(),
                    {std::cout, std::cerr, choice.json, StderrIsTerminal()});
}

struct ScanTarget {
    std::string port;
    ScanChoice choice;
};

} // namespace

void AddScanCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen) {
    const auto target = std::make_shared<ScanTarget>();
    CLI::App* scan = app.add_subcommand(
        "scan", "probe addresses 1..159 on a line with a state read, one try each, and list "
                "the controllers that answer; with --baud auto --crc auto, at every usual rate "
                "in both checksum modes");
    scan->add_option("PORT", target->port, "port name (COM1) or device (/dev/ttyUSB0)")->required();
    AddScanOptions(*scan, target->choice);
    scan->footer(
        "Examples:\n"
        "  vemox-host scan /dev/ttyUSB0\n"
        "  vemox-host scan /dev/ttyUSB0 --baud auto --crc auto --addresses 1-32\n"
        "  vemox-host scan COM3 --serial 123456,200000-200099\n"
        "  vemox-host scan /dev/ttyUSB0 --json > found.jsonl\n"
        "At each rate the checksum is tried on first; once controllers answer, the rate's other "
        "mode is not tried.\n"
        "Serial numbers cannot be discovered: a controller's reply repeats the address section of "
        "the request it answers and no reply carries a serial number, so --serial only checks the "
        "numbers given (from the nameplates), one time-out for each that is silent.");
    scan->callback([target, &options, &chosen] {
        chosen = [target, &options] { return Scan(options, target->port, target->choice); };
    });
}

} // namespace vemox::host
