// vemox-host: drives the driver library the way the OPC server does, against real serial
// lines, so that weights can be read without the server.
#include "config/Encodings.h"
#include "contract/Constants.h"
#include "host/commission/AdHoc.h"
#include "host/commission/Discovery.h"
#include "host/commission/Monitor.h"
#include "host/commission/ReadSeries.h"
#include "host/commission/Trace.h"
#include "host/config/HostConfig.h"
#include "host/gateway/mqtt/MqttGateway.h"
#include "host/output/LinksText.h"
#include "host/output/Recording.h"
#include "host/output/Report.h"
#include "host/output/Sparkline.h"
#include "host/session/ControllerLinks.h"
#include "host/session/DriverSession.h"
#include "host/session/ItemWrite.h"
#include "host/session/SharedLibrary.h"
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

struct Options {
    std::string configPath;
    std::string driverPath;
    bool log = false;
    bool trace = false;
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

// The last few lines shown under the live table.
void ShowUnderTable(std::deque<std::string>& recent, std::string line) {
    recent.push_back(std::move(line));
    while (recent.size() > kLogLinesShown) {
        recent.pop_front();
    }
}

// Ports whose devices come and go: changes go under the live table, or to standard error.
LogSink MakeNoticeSink(std::deque<std::string>* recent) {
    return [recent](const std::string& line) {
        if (recent) {
            ShowUnderTable(*recent, line);
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
            ShowUnderTable(*recent, "log: " + line);
        } else {
            std::cerr << "log: " << line << "\n";
        }
    };
}

// With --trace: the host's view of its lines, on standard error or under the live table.
std::unique_ptr<LineTrace> MakeTrace(const Options& options, std::deque<std::string>* recent) {
    if (!options.trace) {
        return nullptr;
    }
    return std::make_unique<LineTrace>([recent](const std::string& line) {
        if (recent) {
            ShowUnderTable(*recent, line);
        } else {
            std::cerr << line << std::endl;
        }
    });
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

int CommandRun(const Options& options, bool plainRequested, const std::string& record) {
    SteadyClock clock;
    const bool table = StdoutIsTerminal() && !plainRequested;
    std::deque<std::string> recent;
    HostConfig config = LoadWithOverrides(options);
    const LineOpener lines = KeptLines(clock, config, table ? &recent : nullptr);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, table ? &recent : nullptr), lines);
    const auto trace = MakeTrace(options, table ? &recent : nullptr);
    TraceLines(session, trace.get());
    std::unique_ptr<Recording> recording;
    if (!record.empty()) {
        recording = std::make_unique<Recording>(record);
    }
    FinishedReads finished;
    Trends trends;
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
    std::int64_t lastDraw = -kRedrawMs;
    const auto show = [&] {
        const std::vector<FinishedReads::Read> reads = finished.Take(session.Items());
        for (const FinishedReads::Read& read : reads) {
            trends.Add(read);
            if (recording && !recording->Row(read)) {
                std::cerr << "vemox-host: --record " << record << ": cannot write, stopped\n";
                recording.reset();
            }
        }
        if (table) {
            if (clock.NowMs() - lastDraw < kRedrawMs) {
                return;
            }
            lastDraw = clock.NowMs();
            std::string screen = "\x1b[H\x1b[J" +
                                 TableText(session.Items(), trends.Texts(session.Items().size())) +
                                 "\n" + LinksTableText(links.Read());
            for (const std::string& line : recent) {
                screen += line + "\n";
            }
            screen += "Ctrl-C stops.\n";
            std::fputs(screen.c_str(), stdout);
            std::fflush(stdout);
            return;
        }
        for (const FinishedReads::Read& read : reads) {
            std::cout << PlainLine(*read.item) << std::endl;
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
    const auto trace = MakeTrace(options, nullptr);
    TraceLines(session, trace.get());
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

// An ad-hoc configuration (`adHoc`) is an operator at the line: a device that cannot be opened
// ends the command at once.
int CommandWrite(const Options& options, const std::string& itemName, const std::string& text,
                 std::optional<HostConfig> adHoc = std::nullopt) {
    SteadyClock clock;
    HostConfig config = adHoc ? std::move(*adHoc) : LoadWithOverrides(options);
    const LineOpener lines = adHoc ? LineOpener(OpenConfiguredLine) : KeptLines(clock, config);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), lines);
    const auto trace = MakeTrace(options, nullptr);
    TraceLines(session, trace.get());
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

// The port to scan with its line settings and driver settings: those of the file when it
// defines the port, else the defaults. PORT is COMn, or a device that stands for COM1.
HostConfig ScanBase(const Options& options, const std::string& target) {
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

int CommandScan(const Options& options, const std::string& target, const ScanChoice& choice) {
    SteadyClock clock;
    const HostConfig base = ScanBase(options, target);
    const ScanPlan plan = PlanOf(choice, base.ports.front().line.baud, base.ChecksumOn());
    const auto trace = MakeTrace(options, nullptr);
    // A scan is an operator at the line: a device that cannot be opened ends it at once.
    const SessionMaker open = [&](HostConfig config) {
        auto session =
            std::make_unique<DriverSession>(std::move(config), DriverPathOf(options), clock,
                                            MakeLogSink(options, nullptr), OpenConfiguredLine);
        TraceLines(*session, trace.get());
        return session;
    };
    return Discover(base, plan, open, clock, RealTimeHooks(), std::cout, std::cerr);
}

int CommandAdHocRead(const Options& options, const AdHocOptions& adHoc,
                     const std::vector<std::string>& words, const SeriesOptions& series) {
    SteadyClock clock;
    AdHocItem target = AdHocConfig(adHoc, words);
    DriverSession session(std::move(target.config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), OpenConfiguredLine);
    const auto trace = MakeTrace(options, nullptr);
    TraceLines(session, trace.get());
    SessionItem& item = *session.FindItem(target.item);
    if (item.config.WriteOnly()) {
        throw ConfigError("dosing control is only written; its read brings no value");
    }
    return ReadSeries(session, item, series, clock, RealTimeHooks(), std::cout);
}

int CommandMonitor(const std::string& device, const LineChoice& choice) {
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
        std::cerr << "vemox-host: " << device << " lost: " << failure << "\n";
    }
    std::cout << monitor.Summary() << std::flush;
    return failure.empty() ? kExitOk : kExitNotGood;
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
    // The program's options (--log, --trace, ...) may follow the command too.
    app.fallthrough();
    Options options;
    app.add_option("-c,--config", options.configPath, "configuration file (TOML)");
    app.add_option("--driver", options.driverPath,
                   "driver library (default: the one beside this program)");
    app.add_flag("--log", options.log, "show the driver's log lines (Tx, Rx, failures)");
    app.add_flag("--trace", options.trace,
                 "show each request and reply as the host saw it on the line: timed, decoded, "
                 "beside the raw bytes (run, read, write, scan; on standard error, or under the "
                 "live table)");
    app.add_option("--device", options.deviceOverrides,
                   "COMn=DEVICE: open DEVICE for port COMn instead of the configured one");

    bool plain = false;
    std::string record;
    CLI::App* run = app.add_subcommand("run", "read every item at its scan rate until Ctrl-C");
    run->add_flag("--plain", plain, "plain lines even on a terminal");
    run->add_option("--record", record,
                    "append one row per finished read to FILE: CSV, or JSON lines when FILE "
                    "ends in .jsonl");
    run->footer("Example:\n  vemox-host -c plant.toml run --record weights.csv");

    bool once = false;
    bool json = false;
    std::vector<std::string> readWords;
    AdHocOptions readAdHoc;
    SeriesOptions series;
    CLI::App* read = app.add_subcommand(
        "read", "read every configured item once (-c FILE --once), or one value of one "
                "controller straight from the command line (DEVICE --address N WHAT)");
    read->add_flag("--once", once, "read every configured item once");
    read->add_flag("--json", json, "print the items as JSON");
    read->add_option("WORDS", readWords,
                     std::string("without a file: DEVICE (a path, or COMn) and what to read: ") +
                         kAdHocWhat);
    AddAdHocOptions(*read, readAdHoc);
    AddSeriesOptions(*read, series);
    read->footer("Examples:\n"
                 "  vemox-host -c plant.toml read --once --json\n"
                 "  vemox-host read /dev/ttyUSB0 --address 5 net\n"
                 "  vemox-host read /dev/ttyUSB0 --serial 123456 counter 3 --baud 19200 --no-crc\n"
                 "  vemox-host read COM3 --address 2 point 2 upper --count 20 --interval 500\n"
                 "Counters 1 and 3 and weight-point levels are scaled by the weight's decimal "
                 "places: a net weight read goes first to bring them.");

    std::vector<std::string> writeWords;
    AdHocOptions writeAdHoc;
    CLI::App* write = app.add_subcommand(
        "write", "write a value to a configured item (ITEM VALUE), or to one controller straight "
                 "from the command line (DEVICE --address N WHAT VALUE)");
    write
        ->add_option("WORDS", writeWords,
                     "ITEM (NODE.ITEM, or ITEM when unique) and VALUE (true, false, on, off or "
                     "a number); without a file: DEVICE, output N, point N lower|upper or "
                     "dosing, and VALUE")
        ->required();
    AddAdHocOptions(*write, writeAdHoc);
    write->footer("Examples:\n"
                  "  vemox-host -c plant.toml write Hopper.output3 on\n"
                  "  vemox-host write /dev/ttyUSB0 --address 5 output 3 on\n"
                  "  vemox-host write /dev/ttyUSB0 --serial 123456 point 2 upper 250.5");

    std::string scanTarget;
    ScanChoice scanChoice;
    CLI::App* scan = app.add_subcommand(
        "scan", "probe addresses 1..159 on a line with a state read, one try each, and list "
                "the controllers that answer; with --baud auto --crc auto, at every usual rate "
                "in both checksum modes");
    scan->add_option("PORT", scanTarget, "port name (COM1) or device (/dev/ttyUSB0)")->required();
    AddScanOptions(*scan, scanChoice);
    scan->footer(
        "Examples:\n"
        "  vemox-host scan /dev/ttyUSB0\n"
        "  vemox-host scan /dev/ttyUSB0 --baud auto --crc auto --addresses 1-32\n"
        "  vemox-host scan COM3 --serial 123456,200000-200099\n"
        "At each rate the checksum is tried on first; once controllers answer, the rate's other "
        "mode is not tried.\n"
        "Serial numbers cannot be discovered: a controller's reply repeats the address section of "
        "the request it answers and no reply carries a serial number, so --serial only checks the "
        "numbers given (from the nameplates), one time-out for each that is silent.");

    std::string monitorDevice;
    LineChoice monitorLine;
    CLI::App* monitor = app.add_subcommand(
        "monitor", "listen to a line that another master polls, without ever writing to it: "
                   "requests and replies decoded with their timing, until Ctrl-C, then a "
                   "summary per controller");
    monitor->add_option("DEVICE", monitorDevice, "device (/dev/ttyUSB0) or port name (COM3)")
        ->required();
    AddLineOptions(*monitor, monitorLine);
    monitor->footer("Example:\n  vemox-host monitor /dev/ttyUSB1 --baud 19200");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is asked for and ends well; any other misuse is refused like a bad configuration.
        const int printed = app.exit(error);
        return printed == 0 ? kExitOk : kExitCannotStart;
    }
    try {
        const auto withoutFile = [&](const char* command) {
            if (!options.configPath.empty()) {
                throw ConfigError(std::string(command) +
                                  ": --address or --serial reads a controller without a "
                                  "configuration file; leave out -c");
            }
        };
        if (*run) {
            return CommandRun(options, plain, record);
        }
        if (*read) {
            if (!readAdHoc.Given() && readWords.empty()) {
                if (!once) {
                    throw ConfigError("read: give --once (with -c FILE), or DEVICE --address N "
                                      "WHAT");
                }
                return CommandRead(options, json);
            }
            withoutFile("read");
            series.json = json;
            return CommandAdHocRead(options, readAdHoc, readWords, series);
        }
        if (*write) {
            if (!writeAdHoc.Given()) {
                if (writeWords.size() != 2) {
                    throw ConfigError("write: give ITEM VALUE, or DEVICE --address N WHAT VALUE");
                }
                return CommandWrite(options, writeWords[0], writeWords[1]);
            }
            withoutFile("write");
            if (writeWords.size() < 3) {
                throw ConfigError("write: give DEVICE, what to write and the value, e.g. "
                                  "DEVICE --address 5 output 3 on");
            }
            const std::string value = writeWords.back();
            writeWords.pop_back();
            AdHocItem target = AdHocConfig(writeAdHoc, writeWords);
            return CommandWrite(options, target.item, value, std::move(target.config));
        }
        if (*monitor) {
            return CommandMonitor(monitorDevice, monitorLine);
        }
        return CommandScan(options, scanTarget, scanChoice);
    } catch (const std::exception& error) {
        std::cerr << "vemox-host: " << error.what() << "\n";
        return kExitCannotStart;
    }
}
