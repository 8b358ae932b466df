// `monitor`: a line that another master polls, listened to without ever writing to it.
#include "host/commission/AdHoc.h"
#include "host/commission/Commands.h"
#include "host/commission/Monitor.h"
#include "host/session/SharedLibrary.h"

#include <iostream>

namespace vemox::host {
namespace {

int Monitor(const std::string& device, const LineChoice& choice) {
    SteadyClock clock;
    const PortConfig port = PortOf(choice, device);
    const std::unique_ptr<SerialLine> line = OpenConfiguredLine(port);
    // Bytes that waited in the device from before are not the line as it is now.
    line->DropInput();
    std::cout << "listening on " << device << " (" << port.line.baud << " baud, checksum "
              << (choice.noCrc ? "off" : "on") << "); Ctrl-C ends with a summary" << std::endl;
    LineMonitor monitor(!choice.noCrc, port.line.baud, HostTiming{}.replyGapMs,
                        [](const std::string& text) { std::cout << text << std::endl; });
    Listen(*line, clock, monitor, [&] { return InterruptRequested() || !line->Failure().empty(); });
    const std::string failure = line->Failure();
    if (!failure.empty()) {
        ErrorLine(Priority::Error, "vemox-host: " + device + " lost: " + failure);
    }
    std::cout << monitor.Summary() << std::flush;
    return failure.empty() ? kExitOk : kExitNotGood;
}

struct MonitorTarget {
    std::string device;
    LineChoice line;
};

} // namespace

void AddMonitorCommand(CLI::App& app, CommandAction& chosen) {
    const auto target = std::make_shared<MonitorTarget>();
    CLI::App* monitor = app.add_subcommand(
        "monitor", "listen to a line that another master polls, without ever writing to it: "
                   "requests and replies decoded with their timing, until Ctrl-C, then a "
                   "summary per controller");
    monitor->add_option("DEVICE", target->device, "device (/dev/ttyUSB0) or port name (COM3)")
        ->required();
    AddLineOptions(*monitor, target->line);
    monitor->footer("Example:\n  vemox-host monitor /dev/ttyUSB1 --baud 19200");
    monitor->callback(
        [target, &chosen] { chosen = [target] { return Monitor(target->device, target->line); }; });
}

} // namespace vemox::host
