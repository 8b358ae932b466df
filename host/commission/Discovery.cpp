#include "host/commission/Discovery.h"

#include "contract/Constants.h"
#include "host/output/Report.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"
#include "protocol/Codec.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>

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

// "addresses 1-159 (159)", "serial numbers 123456, 123450-123455 (7)": the probes in the order
// they go out, consecutive numbers joined into ranges.
std::string ProbesText(const ScanPlan& plan) {
    const std::vector<Probe>& probes = plan.probes;
    if (probes.size() == 1) {
        return ProbeName(probes.front());
    }
    std::string runs;
    for (std::size_t first = 0; first < probes.size();) {
        std::size_t last = first;
        while (last + 1 < probes.size() && probes[last + 1].id == probes[last].id + 1) {
            ++last;
        }
        runs += (runs.empty() ? "" : ", ") + std::to_string(probes[first].id) +
                (last > first ? "-" + std::to_string(probes[last].id) : "");
        first = last + 1;
    }
    return (probes.front().network ? "addresses " : "serial numbers ") + runs + " (" +
           std::to_string(probes.size()) + ")";
}

// The operator's view of a running scan: lines that stay, and on a terminal one progress line
// below them that is drawn over in place.
class ScanDisplay {
public:
    explicit ScanDisplay(const ScanOutput& output) : output_(output) {}

    void Note(const std::string& line) {
        Clear();
        output_.notes << line << std::endl;
    }
    void Find(const std::string& line) {
        Clear();
        output_.finds << line << std::endl;
    }
    void Progress(const std::string& line) {
        if (!output_.live || line == shown_) {
            return;
        }
        // Blanks cover what a longer line before left; no terminal control sequences needed.
        const std::size_t blanks = shown_.size() > line.size() ? shown_.size() - line.size() : 0;
        output_.notes << '\r' << line << std::string(blanks, ' ') << std::flush;
        shown_ = line + std::string(blanks, ' ');
    }
    void Clear() {
        if (!shown_.empty()) {
            output_.notes << '\r' << std::string(shown_.size(), ' ') << '\r' << std::flush;
            shown_.clear();
        }
    }

private:
    const ScanOutput& output_;
    std::string shown_; // the progress line on the screen, "" when none
};

struct PassSettings {
    std::uint32_t baud;
    bool crc;
    std::string Text() const {
        return std::to_string(baud) + " baud, checksum " + (crc ? "on" : "off");
    }
};

std::string FindText(const std::string& port, const SessionItem& item, const Probe& probe,
                     const PassSettings& pass, bool searching, bool json) {
    if (json) {
        return nlohmann::json{{"port", port},
                              {probe.network ? "address" : "serial", probe.id},
                              {"reply_ms", item.replyTimeMs},
                              {"baud", pass.baud},
                              {"checksum", pass.crc}}
            .dump();
    }
    return port + " " + item.node->config.name + ": replied in " +
           std::to_string(item.replyTimeMs) + " ms" + (searching ? " (" + pass.Text() + ")" : "");
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
    command.add_flag("--json", choice.json,
                     "one JSON object per line for each controller that answers, the summary on "
                     "standard error");
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
             const HostClock& clock, const RunHooks& hooks, const ScanOutput& output) {
    ScanDisplay display(output);
    const std::string port = base.ports.front().name;
    int found = 0;
    int passes = 0;
    bool finished = true;
    for (const std::uint32_t baud : plan.rates) {
        for (const bool crc : plan.checksums) {
            const PassSettings pass{baud, crc};
            display.Note("scanning " + port + " at " + pass.Text() + ", " + ProbesText(plan) +
                         "...");
            const std::unique_ptr<DriverSession> session = open(PassConfig(base, plan, baud, crc));
            std::vector<SessionItem*> all;
            for (SessionItem& item : session->Items()) {
                all.push_back(&item);
            }
            session->Read(all);
            const std::int64_t deadline =
                clock.NowMs() + static_cast<std::int64_t>(all.size()) * session->WatchdogMs() +
                kGraceMs;
            // Probes go out in order, so the first one still busy is the one on the line.
            std::vector<bool> told(all.size(), false);
            int answered = 0;
            RunHooks passHooks = hooks;
            passHooks.afterCycle = [&] {
                if (hooks.afterCycle) {
                    hooks.afterCycle();
                }
                std::optional<std::size_t> current;
                for (std::size_t i = 0; i < all.size(); ++i) {
                    if (all[i]->host.Busy()) {
                        current = current.value_or(i);
                    } else if (!told[i] && all[i]->host.EverCompleted()) {
                        told[i] = true;
                        if (IsGood(*all[i])) {
                            ++answered;
                            display.Find(FindText(port, *all[i], plan.probes[i], pass,
                                                  plan.searching, output.json));
                        }
                    }
                }
                if (current) {
                    display.Progress(pass.Text() + ": " + ProbeName(plan.probes[*current]) + ", " +
                                     std::to_string(found + answered) + " found");
                }
            };
            const RunEnd end =
                session->RunUntil([&] { return session->AllIdle(); }, deadline, false, passHooks);
            ++passes;
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
    const std::string summary =
        std::to_string(found) + " controller" + (found == 1 ? "" : "s") + " answered" +
        (plan.searching ? " (" + std::to_string(passes) + " settings tried)" : "") +
        (finished ? "" : " (scan not finished)");
    if (output.json) {
        display.Note(summary);
    } else {
        display.Find(summary);
    }
    return found > 0 ? 0 : 1;
}

} // namespace vemox::host
