#include "host/commission/AdHoc.h"

#include "platform/Text.h"

#include <toml++/toml.h>

#include <algorithm>
#include <sstream>

namespace vemox::host {

namespace {

constexpr const char* kFromCommandLine = "the command line";

// What an ad-hoc word names: the operation, and the item key its number goes to.
struct WhatWord {
    std::string_view word;
    Operation operation;
    std::string_view key; // "" when the operation takes no number
    bool readable;        // dosing control is only written: its read brings no value
};
constexpr WhatWord kWhatWords[] = {
    {"net", Operation::NetWeight, "", true},
    {"gross", Operation::GrossWeight, "", true},
    {"counter", Operation::Counter, "counter", true},
    {"input", Operation::DigitalInputs, "input", true},
    {"output", Operation::DigitalOutputs, "output", true},
    {"point", Operation::WeightPoints, "point", true},
    {"state", Operation::State, "bit", true},
    {"dosing", Operation::DosingControl, "", false},
};

// "point N lower|upper": the word with what follows it.
std::string FormOf(const WhatWord& what) {
    return std::string(what.word) + (what.key.empty() ? "" : " N") +
           (what.operation == Operation::WeightPoints ? " lower|upper" : "");
}

[[noreturn]] void Refuse(const std::string& why) {
    throw ConfigError(why);
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The item section for the words after the device.
toml::table ItemOf(const std::vector<std::string>& what, const std::string& node) {
    const auto found = std::find_if(std::begin(kWhatWords), std::end(kWhatWords),
                                    [&](const WhatWord& w) { return w.word == what[0]; });
    if (found == std::end(kWhatWords)) {
        Refuse("'" + what[0] + "' is not something to read or write; give " + AdHocWhat(false));
    }
    const bool numbered = !found->key.empty();
    const bool leveled = found->operation == Operation::WeightPoints;
    const std::size_t expected = 1 + (numbered ? 1 : 0) + (leveled ? 1 : 0);
    std::string name = what[0];
    for (std::size_t i = 1; i < what.size(); ++i) {
        name += " " + what[i];
    }
    if (what.size() != expected || (numbered && !AllDigits(what[1])) ||
        (leveled && what[2] != "lower" && what[2] != "upper")) {
        Refuse("'" + name + "': give " + FormOf(*found));
    }
    toml::table item{{"node", node},
                     {"name", name},
                     {"operation", platform::Utf16ToUtf8(CaptionOf(found->operation))}};
    if (numbered) {
        item.insert(found->key, std::stoll(what[1]));
    }
    if (leveled) {
        item.insert("level", what[2]);
    }
    return item;
}

} // namespace

std::string AdHocWhat(bool readOnly) {
    std::string words;
    for (const WhatWord& what : kWhatWords) {
        if (what.readable || !readOnly) {
            words += (words.empty() ? "" : " | ") + FormOf(what);
        }
    }
    return words;
}

void AddLineOptions(CLI::App& command, LineChoice& line) {
    command.add_option("--baud", line.baud, "line rate")->capture_default_str();
    command.add_option("--parity", line.parity, "none, even or odd")
        ->check(CLI::IsMember({"none", "even", "odd"}))
        ->capture_default_str();
    command.add_option("--stop-bits", line.stopBits, "1 or 2")
        ->check(CLI::Range(1, 2))
        ->capture_default_str();
    command.add_flag("--no-crc", line.noCrc, "the line runs without checksum");
}

void AddAdHocOptions(CLI::App& command, AdHocOptions& options) {
    auto* address = command.add_option("--address", options.address,
                                       "the controller's network address (1..159)");
    command.add_option("--serial", options.serial, "the controller's serial number (0..999999)")
        ->excludes(address);
    AddLineOptions(command, options.line);
    command.add_option("--timeout", options.timeoutMs, "ms to wait for a reply")
        ->check(CLI::Range(1, 600000))
        ->capture_default_str();
    command.add_option("--tries", options.tries, "writes of a request before it fails")
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
}

namespace {

// The [[port]] section for the device; its name is what nodes refer to.
toml::table PortTable(const LineChoice& line, const std::string& device) {
    if (device.empty()) {
        Refuse("no device given");
    }
    // COMn stands for the system's device of that port; anything else is the device itself.
    const bool portName = PortNumberOfName(device) >= 0;
    toml::table port{{"name", portName ? device : std::string("COM1")},
                     {"baud", line.baud},
                     {"parity", line.parity},
                     {"stop_bits", line.stopBits}};
    if (!portName) {
        port.insert("device", device);
    }
    return port;
}

// The configuration of the sections, read by the configuration file's own parser.
HostConfig Parse(const toml::table& root) {
    std::ostringstream text;
    text << root;
    try {
        return ParseHostConfig(text.str(), kFromCommandLine);
    } catch (const ConfigError& error) {
        // "the command line:12: 'counter' = 12 is outside 0..9": the line is of no use here.
        const std::string what = error.what();
        const std::size_t line = what.find(": ", std::string(kFromCommandLine).size() + 1);
        Refuse(line == std::string::npos ? what : what.substr(line + 2));
    }
}

} // namespace

PortConfig PortOf(const LineChoice& line, const std::string& device) {
    return Parse(toml::table{{"port", toml::array{PortTable(line, device)}}}).ports.front();
}

AdHocItem AdHocConfig(const AdHocOptions& options, const std::vector<std::string>& words) {
    if (!options.Given()) {
        Refuse("name the controller: --address N or --serial N");
    }
    if (words.size() < 2) {
        Refuse("give the device and what to read: DEVICE " + AdHocWhat(false));
    }
    toml::table port = PortTable(options.line, words[0]);
    const std::string node = options.address ? "address " + std::to_string(*options.address)
                                             : "serial " + std::to_string(*options.serial);
    toml::table nodeTable{{"name", node}, {"port", port["name"].value_or(std::string())}};
    nodeTable.insert(options.address ? "address" : "serial",
                     options.address ? *options.address : *options.serial);
    const std::vector<std::string> what(words.begin() + 1, words.end());
    toml::table item = ItemOf(what, node);
    const std::string itemName = node + "." + item["name"].value_or(std::string());
    // A controller that stopped answering is asked again at once: the operator is waiting.
    const toml::table root{{"driver", toml::table{{"WaitTimeout", options.timeoutMs},
                                                  {"CountTry", options.tries},
                                                  {"TimeNextSend", 0},
                                                  {"CalcCRC", !options.line.noCrc}}},
                           {"port", toml::array{std::move(port)}},
                           {"node", toml::array{std::move(nodeTable)}},
                           {"item", toml::array{std::move(item)}}};
    return {Parse(root), itemName};
}

} // namespace vemox::host
