// vemox-host: drives the driver library the way the OPC server does, against real serial
// lines, so that weights can be read without the server.
#include "config/Encodings.h"
#include "contract/Constants.h"
#include "host/ControllerLinks.h"
#include "host/DriverSession.h"
#include "host/HostConfig.h"
#include "host/ItemWrite.h"
#include "host/MqttGateway.h"
#include "host/Report.h"
#include "host/SharedLibrary.h"
#include "platform/Text.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <map>

namespace vemox::host {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotGood = 1;
constexpr int kExitCannotStart = 2;
constexpr std::int64_t kGraceMs = 1000;
constexpr std::int64_t kRedrawMs = 500;
constexpr std::size_t kLogLinesShown = 8;
constexpr int kScanFirstAddress = 1;
constexpr int kScanLastAddress = 159;
constexpr std::int64_t kScanExecuteMs = 2;

struct Options {
    std::string configPath;
    std::string driverPath;
    bool log = false;
    std::vector<std::string> deviceOverrides; // COMn=DEVICE
};

RunHooks RealTimeHooks(std::function<void()> afterCycle = {}) {
    return {{}, InterruptRequested, std::move(afterCycle)}; // waits on the real lines
}

std::string DriverPathOf(const Options& options) {
    if (!options.driverPath.empty()) {
        return options.driverPath;
    }
    return ExecutableDirectory() + "/" + DriverFileName();
}

void ApplyDeviceOverrides(const Options& options, HostConfig& config) {
    for (const std::string& entry : options.deviceOverrides) {
        const auto equals = entry.find('=');
        const int number = PortNumberOfName(entry.substr(0, equals));
        if (equals == std::string::npos || number < 0) {
            throw ConfigError("--device " + entry + ": expected COMn=DEVICE");
        }
        if (equals + 1 == entry.size()) {
            throw ConfigError("--device " + entry + ": no device given");
        }
        bool found = false;
        for (PortConfig& port : config.ports) {
            if (port.number == number) {
                port.device = entry.substr(equals + 1);
                found = true;
            }
        }
        if (!found) {
            throw ConfigError("--device " + entry + ": " + config.file +
                              " defines no such [[port]]");
        }
    }
}

// Ports whose devices come and go: changes go under the live table, or to standard error.
LogSink MakeNoticeSink(std::deque<std::string>* recent) {
    return [recent](const std::string& line) {
        if (recent) {
            recent->push_back(line);
            while (recent->size() > kLogLinesShown) {
                recent->pop_front();
            }
        } else {
            std::cerr << "vemox-host: " << line << std::endl;
        }
    };
}

// A port that cannot be opened does not stop the host: its controllers are reported as
// unreachable, which is what the operator needs to know, and its device is tried again.
LineOpener KeptLines(const HostClock& clock, const HostConfig& config,
                     std::deque<std::string>* recent = nullptr) {
    return ReopeningLines(clock, config.timing.reopenMs, MakeNoticeSink(recent));
}

HostConfig LoadWithOverrides(const Options& options) {
    if (options.configPath.empty()) {
        throw ConfigError("no configuration: give --config FILE");
    }
    HostConfig config = LoadHostConfig(options.configPath);
    ApplyDeviceOverrides(options, config);
    if (config.items.empty()) {
        throw ConfigError(config.file + ": no [[item]] sections, nothing to read");
    }
    return config;
}

// Driver log lines go to standard error, or into the lines shown under the live table.
LogSink MakeLogSink(const Options& options, std::deque<std::string>* recent) {
    if (!options.log) {
        return {};
    }
    return [recent](const std::string& line) {
        if (recent) {
            recent->push_back("log: " + line);
            while (recent->size() > kLogLinesShown) {
                recent->pop_front();
            }
        } else {
            std::cerr << "log: " << line << "\n";
        }
    };
}

std::int64_t ReadDeadline(const DriverSession& session, const HostClock& clock) {
    // Requests to one port go out one after another; every item may need the whole
    // watchdog time of its request.
    std::map<int, std::int64_t> perPort;
    std::int64_t longest = 0;
    for (const ItemConfig& item : session.Config().items) {
        const int port = session.Config().FindNode(item.node)->portNumber;
        longest = std::max(longest, perPort[port] += session.WatchdogMs());
    }
    return clock.NowMs() + longest + kGraceMs;
}

int CommandRun(const Options& options, bool plainRequested) {
    SteadyClock clock;
    const bool table = StdoutIsTerminal() && !plainRequested;
    std::deque<std::string> recent;
    HostConfig config = LoadWithOverrides(options);
    const LineOpener lines = KeptLines(clock, config, table ? &recent : nullptr);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, table ? &recent : nullptr), lines);
    if (!table) {
        for (const SessionItem& item : session.Items()) {
            if (item.config.WriteOnly()) {
                std::cout << item.config.FullName() << ": write-only, not read" << std::endl;
            }
        }
    }
    ControllerLinks links(session);
    // Publishing starts with polling: values go out as soon as the broker takes the
    // connection, whenever that is.
    std::unique_ptr<MqttGateway> mqtt;
    if (session.Config().mqtt) {
        mqtt = std::make_unique<MqttGateway>(*session.Config().mqtt, session, links, clock,
                                             RealTimeHooks(),
                                             MakeNoticeSink(table ? &recent : nullptr));
    }
    std::vector<std::uint32_t> printed(session.Items().size(), 0);
    std::int64_t lastDraw = -kRedrawMs;
    const auto show = [&] {
        if (table) {
            if (clock.NowMs() - lastDraw < kRedrawMs) {
                return;
            }
            lastDraw = clock.NowMs();
            std::string screen =
                "\x1b[H\x1b[J" + TableText(session.Items()) + "\n" + LinksTableText(links.Read());
            for (const std::string& line : recent) {
                screen += line + "\n";
            }
            screen += "Ctrl-C stops.\n";
            std::fputs(screen.c_str(), stdout);
            std::fflush(stdout);
            return;
        }
        std::size_t i = 0;
        for (const SessionItem& item : session.Items()) {
            if (item.host.Counts().completed != printed[i]) {
                printed[i] = item.host.Counts().completed;
                std::cout << PlainLine(item) << std::endl;
            }
            ++i;
        }
    };
    session.RunUntil({}, INT64_MAX, true, RealTimeHooks([&] {
                         if (mqtt) {
                             mqtt->AfterCycle();
                         }
                         show();
                     }));
    std::cout << "stopped\n";
    return kExitOk;
}

int CommandRead(const Options& options, bool json) {
    SteadyClock clock;
    HostConfig config = LoadWithOverrides(options);
    const LineOpener lines = KeptLines(clock, config);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), lines);
    // Diagnostic items are read after the others, so that they tell how those reads went.
    std::vector<SessionItem*> exchanges;
    std::vector<SessionItem*> diagnostics;
    for (SessionItem& item : session.Items()) {
        const bool diagnostic = item.config.operation->operation == Operation::LinkDiagnostics;
        (diagnostic ? diagnostics : exchanges).push_back(&item);
    }
    session.Read(exchanges);
    session.RunUntil([&] { return session.AllIdle(); }, ReadDeadline(session, clock), false,
                     RealTimeHooks());
    session.Read(diagnostics);
    bool allGood = true;
    for (const SessionItem& item : session.Items()) {
        allGood = allGood && IsGood(item);
    }
    if (json) {
        nlohmann::json document = ItemsJson(session.Items());
        document["controllers"] = LinksJson(ControllerLinks(session).Read());
        std::cout << document.dump(2) << std::endl;
    } else {
        for (const SessionItem& item : session.Items()) {
            std::cout << PlainLine(item) << "\n";
        }
    }
    const auto unreachable = UnreachableNodes(session.Items());
    for (const std::string& node : unreachable) {
        std::cerr << "vemox-host: unreachable controller: " << node << "\n";
    }
    return allGood ? kExitOk : kExitNotGood;
}

int CommandWrite(const Options& options, const std::string& itemName, const std::string& text) {
    SteadyClock clock;
    HostConfig config = LoadWithOverrides(options);
    const LineOpener lines = KeptLines(clock, config);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), lines);
    SessionItem* item = session.FindItem(itemName);
    if (!item) {
        std::cerr << "vemox-host: no item '" << itemName << "' (give NODE.ITEM)\n";
        return kExitCannotStart;
    }
    const WriteOutcome outcome =
        WriteItem(session, *item, ValueFromText(text), text, clock, RealTimeHooks());
    if (outcome.end != WriteEnd::Written) {
        std::cerr << "vemox-host: " << outcome.why << "\n";
        return outcome.end == WriteEnd::Refused ? kExitCannotStart : kExitNotGood;
    }
    std::cout << item->config.FullName() << " <- " << text << ": "
              << (outcome.finished ? OutcomeText(outcome.result) : "no outcome") << std::endl;
    return outcome.Acknowledged() ? kExitOk : kExitNotGood;
}

HostConfig ScanConfig(const Options& options, const std::string& portName, std::int32_t timeoutMs) {
    const int number = PortNumberOfName(portName);
    if (number < 0) {
        throw ConfigError("scan " + portName + ": expected a port name COM1 to COM100");
    }
    HostConfig config;
    if (!options.configPath.empty()) {
        config = LoadHostConfig(options.configPath);
        ApplyDeviceOverrides(options, config);
    }
    std::u16string crc = kTextTrue;
    for (const auto& [key, value] : config.driverSettings) {
        if (key == kKeyCalcCRC) {
            crc = value;
        }
    }
    PortConfig port;
    if (const PortConfig* known = config.FindPort(number)) {
        port = *known;
    } else {
        port.name = portName;
        port.number = number;
    }
    config.ports = {port};
    // One short try per address: a silent address costs one time-out, not three.
    config.driverSettings = {{kKeyWaitTimeout, platform::DecimalText(timeoutMs)},
                             {kKeyCountTry, u"1"},
                             {kKeyTimeNextSend, u"60000"},
                             {kKeyCalcCRC, crc}};
    // A short poll period, so the measured reply times are not rounded up to the period.
    config.timing.executePeriodMs = kScanExecuteMs;
    config.nodes.clear();
    config.items.clear();
    for (int address = kScanFirstAddress; address <= kScanLastAddress; ++address) {
        NodeConfig node;
        node.name = "address" + std::to_string(address);
        node.portNumber = number;
        node.address = address;
        config.nodes.push_back(node);
        ItemConfig item;
        item.node = node.name;
        item.name = "state";
        item.operation = &OperationAt(static_cast<int>(Operation::State));
        config.items.push_back(item);
    }
    return config;
}

int CommandScan(const Options& options, const std::string& portName, std::int32_t timeoutMs) {
    SteadyClock clock;
    HostConfig config = ScanConfig(options, portName, timeoutMs);
    // Overrides name ports of the file; a scan without a file takes COMn=DEVICE directly.
    if (options.configPath.empty()) {
        config.file = "the command line";
        ApplyDeviceOverrides(options, config);
    }
    // A scan is an operator at the line: a device that cannot be opened ends it at once.
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), OpenConfiguredLine);
    std::vector<SessionItem*> all;
    for (SessionItem& item : session.Items()) {
        all.push_back(&item);
    }
    std::cerr << "scanning " << portName << ", addresses " << kScanFirstAddress << " to "
              << kScanLastAddress << "...\n";
    session.Read(all);
    const std::int64_t deadline =
        clock.NowMs() + (kScanLastAddress - kScanFirstAddress + 1) * (session.WatchdogMs()) +
        kGraceMs;
    const RunEnd end =
        session.RunUntil([&] { return session.AllIdle(); }, deadline, false, RealTimeHooks());
    int found = 0;
    for (const SessionItem& item : session.Items()) {
        if (IsGood(item)) {
            ++found;
            std::cout << portName << " address " << item.node->config.address << ": replied in "
                      << item.replyTimeMs << " ms" << std::endl;
        }
    }
    std::cout << found << " controller" << (found == 1 ? "" : "s") << " answered"
              << (end == RunEnd::Done ? "" : " (scan not finished)") << std::endl;
    return found > 0 ? kExitOk : kExitNotGood;
}

} // namespace
} // namespace vemox::host

int main(int argc, char** argv) {
    using namespace vemox::host;
    PrepareConsole();
    InstallInterruptHandler();

    CLI::App app{"vemox-host: reads weighing controllers through the Vemox driver library"};
    app.set_version_flag("--version", VEMOX_VERSION);
    app.require_subcommand(1);
    Options options;
    app.add_option("-c,--config", options.configPath, "configuration file (TOML)");
    app.add_option("--driver", options.driverPath,
                   "driver library (default: the one beside this program)");
    app.add_flag("--log", options.log, "show the driver's log lines (Tx, Rx, failures)");
    app.add_option("--device", options.deviceOverrides,
                   "COMn=DEVICE: open DEVICE for port COMn instead of the configured one");

    bool plain = false;
    CLI::App* run = app.add_subcommand("run", "read every item at its scan rate until Ctrl-C");
    run->add_flag("--plain", plain, "plain lines even on a terminal");

    bool once = false;
    bool json = false;
    CLI::App* read = app.add_subcommand("read", "read every item once and exit");
    read->add_flag("--once", once, "read once (the only mode)")->required();
    read->add_flag("--json", json, "print the items as JSON");

    std::string itemName;
    std::string valueText;
    CLI::App* write = app.add_subcommand("write", "write a value to an item");
    write->add_option("ITEM", itemName, "NODE.ITEM, or ITEM when the name is unique")->required();
    write->add_option("VALUE", valueText, "true, false or a number")->required();

    std::string portName;
    std::int32_t timeoutMs = 250;
    CLI::App* scan = app.add_subcommand("scan", "probe addresses 1..159 on a port");
    scan->add_option("PORT", portName, "port name, e.g. COM1")->required();
    scan->add_option("--timeout", timeoutMs, "reply time-out per address, ms")
        ->check(CLI::Range(10, 60000));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is asked for and ends well; any other misuse is refused like a bad configuration.
        const int printed = app.exit(error);
        return printed == 0 ? kExitOk : kExitCannotStart;
    }
    try {
        if (*run) {
            return CommandRun(options, plain);
        }
        if (*read) {
            return CommandRead(options, json);
        }
        if (*write) {
            return CommandWrite(options, itemName, valueText);
        }
        return CommandScan(options, portName, timeoutMs);
    } catch (const std::exception& error) {
        std::cerr << "vemox-host: " << error.what() << "\n";
        return kExitCannotStart;
    }
}
