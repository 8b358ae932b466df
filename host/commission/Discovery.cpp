#include "host/commission/Discovery.h"

#include "contract/Constants.h"
#include "host/output/Report.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"
#include "protocol/Codec.h"

#include <algorithm>

namespace vemox::host {
namespace {

// The usual rates of these controllers' lines, slowest first.
constexpr std::uint32_t kAutoRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr std::int64_t kGraceMs = 1000;
// A short poll period, so the measured reply times are not rounded up to the period.
constexpr std::int64_t kScanExecuteMs = 2;
// A serial-number list longer than this is a typing mistake, not a plan: each silent serial
// number costs one time-out.
constexpr std::size_t kMaxSerials = 10000;
constexpr std::int64_t kBitsPerCharacter = 10;
constexpr std::uint8_t kStateBase = 2; // the state reply: command and state byte
constexpr int kFramingBytes = 3;       // start marker and end marker pair

[[noreturn]] void Refuse(const std::string& why) {
    throw ConfigError("scan: " + why);
}

std::uint32_t NumberOf(const std::string& text, std::uint32_t low, std::uint32_t high,
                       const std::string& what) {
    std::int32_t value = -1;
    if (!platform::ParseInt32(platform::Widen(text), value) || value < 0 ||
        static_cast<std::uint32_t>(value) < low || static_cast<std::uint32_t>(value) > high) {
        Refuse(what + " '" + text + "' is not a number " + std::to_string(low) + ".." +
               std::to_string(high));
    }
    return static_cast<std::uint32_t>(value);
}

// "5", "1-8" or "123456,200000-200099": every number in order, each once.
std::vector<std::uint32_t> NumbersOf(const std::string& text, std::uint32_t low, std::uint32_t high,
                                     const std::string& what) {
    std::vector<std::uint32_t> numbers;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const std::size_t dash = part.find('-');
        const std::uint32_t first = NumberOf(part.substr(0, dash), low, high, what);
        const std::uint32_t last =
            dash == std::string::npos ? first : NumberOf(part.substr(dash + 1), low, high, what);
        if (last < first || numbers.size() + (last - first) >= kMaxSerials) {
            Refuse(what + " range '" + part + "' is backwards or too long");
        }
        for (std::uint32_t n = first; n <= last; ++n) {
            if (std::find(numbers.begin(), numbers.end(), n) == numbers.end()) {
                numbers.push_back(n);
            }
        }
        start = comma + 1;
    }
    return numbers;
}

std::string ProbeName(const Probe& probe) {
    return (probe.network ? "address " : "serial ") + std::to_string(probe.id);
}

// How long a probe and its reply occupy the line at this rate.
std::int64_t LineTimeMs(std::uint32_t baud, bool network, bool crc) {
    const int bytes =
        LengthQuery(network, crc, 1) + LengthQuery(network, crc, kStateBase) + 2 * kFramingBytes;
    return (bytes * kBitsPerCharacter * 1000 + baud - 1) / baud;
}

HostConfig PassConfig(const HostConfig& base, const ScanPlan& plan, std::uint32_t baud, bool crc) {
    HostConfig config = base;
    PortConfig& port = config.ports.front();
    port.line.baud = baud;
    const bool network = plan.probes.front().network;
    const std::int64_t waitMs = plan.timeoutMs + LineTimeMs(baud, network, crc);
    // One short try per controller: a silent one costs one time-out, not three.
    config.driverSettings = {{kKeyWaitTimeout, platform::DecimalText(waitMs)},
                             {kKeyCountTry, u"1"},
                             {kKeyTimeNextSend, u"60000"},
                             {kKeyCalcCRC, crc ? kTextTrue : kTextFalse}};
    config.timing.executePeriodMs = kScanExecuteMs;
    config.nodes.clear();
    config.items.clear();
    for (const Probe& probe : plan.probes) {
        NodeConfig node;
        node.name = ProbeName(probe);
        node.portNumber = port.number;
        node.useAddress = probe.network;
        node.address = probe.network ? static_cast<int>(probe.id) : kAddressMin;
        node.serial = probe.network ? 0 : probe.id;
        config.nodes.push_back(node);
        ItemConfig item;
        item.node = node.name;
        item.name = "state";
        item.operation = &OperationAt(static_cast<int>(Operation::State));
        config.items.push_back(item);
    }
    return config;
}

std::string ProbesText(const ScanPlan& plan) {
    const Probe& first = plan.probes.front();
    const Probe& last = plan.probes.back();
    const std::string kind = first.network ? "addresses " : "serial numbers ";
    return plan.probes.size() == 1
               ? ProbeName(first)
               : kind + std::to_string(first.id) + " to " + std::to_string(last.id) + " (" +
                     std::to_string(plan.probes.size()) + ")";
}

} // namespace

void AddScanOptions(CLI::App& command, ScanChoice& choice) {
    command.add_option("--baud", choice.baud,
                       "line rate, a list (9600,19200), or auto: 1200 to 115200 "
                       "(default: the port's rate)");
    command
        .add_option("--crc", choice.crc,
                    "checksum on, off or auto: both (default: the driver setting)")
        ->check(CLI::IsMember({"on", "off", "auto"}));
    command.add_option("--addresses", choice.addresses, "addresses to probe, A-B (default 1-159)");
    command.add_option("--serial", choice.serials,
                       "probe these serial numbers instead of addresses, e.g. "
                       "123456,200000-200099");
    command
        .add_option("--timeout", choice.timeoutMs,
                    "reply time-out per probe, ms, on top of the time the probe and its reply "
                    "take on the line")
        ->check(CLI::Range(10, 60000))
        ->capture_default_str();
}

ScanPlan PlanOf(const ScanChoice& choice, std::uint32_t configuredBaud, bool configuredCrc) {
    ScanPlan plan;
    plan.timeoutMs = choice.timeoutMs;
    if (choice.baud == "auto") {
        plan.rates.assign(std::begin(kAutoRates), std::end(kAutoRates));
    } else if (!choice.baud.empty()) {
        plan.rates = NumbersOf(choice.baud, 1, 230400, "baud rate");
    } else {
        plan.rates = {configuredBaud};
    }
    for (const std::uint32_t baud : plan.rates) {
        if (!BaudRateSupported(baud)) {
            Refuse(std::to_string(baud) + " baud cannot be set on this system's serial ports");
        }
    }
    if (choice.crc == "auto") {
        plan.checksums = {true, false};
    } else {
        plan.checksums = {choice.crc.empty() ? configuredCrc : choice.crc == "on"};
    }
    plan.searching = plan.rates.size() > 1 || !choice.baud.empty() || !choice.crc.empty();
    if (!choice.serials.empty()) {
        if (!choice.addresses.empty()) {
            Refuse("give --addresses or --serial, not both");
        }
        for (const std::uint32_t serial :
             NumbersOf(choice.serials, kSerialMin, kSerialMax, "serial number")) {
            plan.probes.push_back({false, serial});
        }
    } else {
        const std::string range = choice.addresses.empty() ? std::to_string(kAddressMin) + "-" +
                                                                 std::to_string(kAddressMax)
                                                           : choice.addresses;
        for (const std::uint32_t address : NumbersOf(range, kAddressMin, kAddressMax, "address")) {
            plan.probes.push_back({true, address});
        }
    }
    return plan;
}

int Discover(const HostConfig& base, const ScanPlan& plan, const SessionMaker& open,
             const HostClock& clock, const RunHooks& hooks, std::ostream& out,
             std::ostream& progress) {
    const std::string port = base.ports.front().name;
    int found = 0;
    int passes = 0;
    bool finished = true;
    for (const std::uint32_t baud : plan.rates) {
        for (const bool crc : plan.checksums) {
            const std::string settings =
                std::to_string(baud) + " baud, checksum " + (crc ? "on" : "off");
            progress << "scanning " << port << " at " << settings << ", " << ProbesText(plan)
                     << "..." << std::endl;
            const std::unique_ptr<DriverSession> session = open(PassConfig(base, plan, baud, crc));
            std::vector<SessionItem*> all;
            for (SessionItem& item : session->Items()) {
                all.push_back(&item);
            }
            session->Read(all);
            const std::int64_t deadline =
                clock.NowMs() + static_cast<std::int64_t>(all.size()) * session->WatchdogMs() +
                kGraceMs;
            const RunEnd end =
                session->RunUntil([&] { return session->AllIdle(); }, deadline, false, hooks);
            ++passes;
            int answered = 0;
            for (const SessionItem& item : session->Items()) {
                if (IsGood(item)) {
                    ++answered;
                    out << port << " " << item.node->config.name << ": replied in "
                        << item.replyTimeMs << " ms"
                        << (plan.searching ? " (" + settings + ")" : "") << std::endl;
                }
            }
            found += answered;
            if (end != RunEnd::Done) {
                finished = false;
                break;
            }
            // The controllers of a line share one checksum mode: at a rate where they answered
            // in one, the other is not tried.
            if (answered > 0) {
                break;
            }
        }
        if (!finished) {
            break;
        }
    }
    out << found << " controller" << (found == 1 ? "" : "s") << " answered"
        << (plan.searching ? " (" + std::to_string(passes) + " settings tried)" : "")
        << (finished ? "" : " (scan not finished)") << std::endl;
    return found > 0 ? 0 : 1;
}

} // namespace vemox::host
