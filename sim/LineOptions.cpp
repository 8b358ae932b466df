#include "sim/LineOptions.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <toml++/toml.h>

namespace vemox::sim {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto pos = text.find(separator);
        parts.push_back(text.substr(0, pos));
        if (pos == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(pos + 1);
    }
}

std::pair<std::string_view, std::string_view> KeyValue(std::string_view item, char separator) {
    const auto pos = item.find(separator);
    if (pos == std::string_view::npos) {
        return {item, {}};
    }
    return {item.substr(0, pos), item.substr(pos + 1)};
}

std::int64_t Number(std::string_view text, std::int64_t min, std::int64_t max,
                    std::string_view what) {
    const std::string shown(text);
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        magnitude > static_cast<std::uint64_t>(INT64_MAX)) {
        throw LineError(std::string(what) + ": '" + shown + "' is not a number");
    }
    const auto value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (value < min || value > max) {
        throw LineError(std::string(what) + ": " + shown + " is outside " + std::to_string(min) +
                        ".." + std::to_string(max));
    }
    return value;
}

// Index of "counter3" or "point8" style keys, when `key` has that prefix.
std::optional<int> Indexed(std::string_view key, std::string_view prefix, int count) {
    if (key.size() != prefix.size() + 1 || key.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const int index = key.back() - '0';
    if (index < 0 || index >= count) {
        return std::nullopt;
    }
    return index;
}

double Rate(double value, std::string_view what) {
    if (!(value >= 0.0 && value <= 1.0)) {
        throw LineError(std::string(what) + ": a rate must lie in 0..1");
    }
    return value;
}

double Rate(std::string_view text, std::string_view what) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size()) {
        throw LineError(std::string(what) + ": rate '" + copy + "' is not a number");
    }
    return Rate(value, what);
}

FaultKind Kind(std::string_view name) {
    if (const auto kind = ParseFaultKind(name)) {
        return *kind;
    }
    throw LineError("unknown fault '" + std::string(name) + "' (" + AllFaultNames() + ")");
}

constexpr std::int64_t kI32Max = INT32_MAX;

} // namespace

void SetControllerKey(ControllerConfig& c, std::string_view key, std::string_view value) {
    const std::string what = "controller key " + std::string(key);
    const auto num = [&](std::int64_t min, std::int64_t max) {
        return Number(value, min, max, what);
    };
    if (key == "address" || key == "addr") {
        c.address = static_cast<int>(num(kMinAddress, kMaxAddress));
    } else if (key == "serial") {
        c.serial = static_cast<std::uint32_t>(num(0, kMaxSerial));
    } else if (key == "decimals") {
        c.decimals = static_cast<std::uint8_t>(num(0, 7));
    } else if (key == "net") {
        c.net = static_cast<std::int32_t>(num(-kMaxWeight, kMaxWeight));
    } else if (key == "tare") {
        c.tare = static_cast<std::int32_t>(num(-kMaxWeight, kMaxWeight));
    } else if (key == "from") {
        c.motion.from = static_cast<std::int32_t>(num(-kMaxWeight, kMaxWeight));
    } else if (key == "to") {
        c.motion.to = static_cast<std::int32_t>(num(-kMaxWeight, kMaxWeight));
    } else if (key == "period-ms") {
        c.motion.periodMs = static_cast<std::uint32_t>(num(0, kI32Max));
    } else if (key == "inputs") {
        c.inputs = static_cast<std::uint16_t>(num(0, 0xFFFF));
    } else if (key == "outputs") {
        c.outputs = static_cast<std::uint16_t>(num(0, 0xFFFF));
    } else if (key == "output-bytes") {
        c.outputBytes = static_cast<std::uint8_t>(num(1, 2));
    } else if (key == "state") {
        c.state = static_cast<std::uint8_t>(num(0, 0xFF));
    } else if (key == "dosing") {
        c.dosing = static_cast<std::uint8_t>(num(0, 0xFF));
    } else if (const auto counter = Indexed(key, "counter", kCounters)) {
        c.counters[*counter] = static_cast<std::uint64_t>(num(0, kCounterModulus - 1));
    } else if (const auto point = Indexed(key, "point", kWeightPoints)) {
        const auto [low, high] = KeyValue(value, ':');
        if (high.empty()) {
            throw LineError(what + ": give the levels as LOW:HIGH");
        }
        c.points[*point].low = static_cast<std::uint32_t>(Number(low, 0, kMaxWeight, what));
        c.points[*point].high = static_cast<std::uint32_t>(Number(high, 0, kMaxWeight, what));
    } else {
        throw LineError("unknown controller key '" + std::string(key) + "'");
    }
}

ControllerConfig ParseController(std::string_view text) {
    ControllerConfig c;
    bool serialGiven = false;
    for (const auto item : Split(text, ',')) {
        const auto [key, value] = KeyValue(item, '=');
        if (value.empty()) {
            throw LineError("controller: '" + std::string(item) + "' is not KEY=VALUE");
        }
        SetControllerKey(c, key, value);
        serialGiven = serialGiven || key == "serial";
    }
    if (!serialGiven) {
        c.serial = static_cast<std::uint32_t>(c.address);
    }
    return c;
}

std::map<FaultKind, double> ParseFaultRates(std::string_view text) {
    std::map<FaultKind, double> rates;
    for (const auto item : Split(text, ',')) {
        const auto [name, value] = KeyValue(item, '=');
        rates[Kind(name)] = Rate(value, name);
    }
    return rates;
}

std::map<std::uint64_t, Fault> ParseFaultScript(std::string_view text) {
    std::map<std::uint64_t, Fault> script;
    for (const auto item : Split(text, ',')) {
        const auto [exchange, rest] = KeyValue(item, ':');
        if (rest.empty()) {
            throw LineError("fault script: '" + std::string(item) + "' is not N:FAULT[=PARAM]");
        }
        const auto [name, param] = KeyValue(rest, '=');
        Fault fault{Kind(name), 0};
        if (!param.empty()) {
            fault.param = static_cast<std::uint32_t>(Number(param, 1, kI32Max, "fault script"));
        }
        script[static_cast<std::uint64_t>(Number(exchange, 1, INT64_MAX, "fault script"))] = fault;
    }
    return script;
}

namespace {

[[noreturn]] void FileError(const std::string& path, const toml::node& node,
                            const std::string& what) {
    throw LineError(path + ":" + std::to_string(node.source().begin.line) + ": " + what);
}

// A TOML value in the text form the command-line keys take.
std::string AsText(const std::string& path, const std::string& key, const toml::node& node) {
    if (const auto i = node.value_exact<std::int64_t>()) {
        return std::to_string(*i);
    }
    if (const auto s = node.value_exact<std::string>()) {
        return *s;
    }
    if (const auto* array = node.as_array(); array && array->size() == 2) {
        const auto low = (*array)[0].value_exact<std::int64_t>();
        const auto high = (*array)[1].value_exact<std::int64_t>();
        if (low && high) {
            return std::to_string(*low) + ":" + std::to_string(*high);
        }
    }
    FileError(path, node,
              key + ": expected an integer" +
                  (key.rfind("point", 0) == 0 ? " pair [LOW, HIGH]" : std::string()));
}

std::uint32_t Setting(const std::string& path, const std::string& key, const toml::node& node,
                      std::int64_t min, std::int64_t max) {
    const auto value = node.value_exact<std::int64_t>();
    if (!value || *value < min || *value > max) {
        FileError(path, node,
                  key + ": expected an integer in " + std::to_string(min) + ".." +
                      std::to_string(max));
    }
    return static_cast<std::uint32_t>(*value);
}

// Runs a parser on one value and tags its complaint with the file and line.
template <typename F> void At(const std::string& path, const toml::node& node, F&& parse) {
    try {
        parse();
    } catch (const LineError& e) {
        FileError(path, node, e.what());
    }
}

void LoadFaults(const std::string& path, const toml::table& table, FaultConfig& faults) {
    for (const auto& [k, node] : table) {
        const std::string key(k.str());
        if (key == "seed") {
            const auto value = node.value_exact<std::int64_t>();
            if (!value || *value < 0) {
                FileError(path, node, "seed: expected a non-negative integer");
            }
            faults.seed = static_cast<std::uint64_t>(*value);
        } else if (key == "rates") {
            const auto* rates = node.as_table();
            if (!rates) {
                FileError(path, node, "rates: expected a table of fault = probability");
            }
            for (const auto& [name, rate] : *rates) {
                At(path, rate, [&] {
                    const auto value = rate.value<double>();
                    if (!value) {
                        throw LineError(std::string(name.str()) + ": expected a number");
                    }
                    faults.rates[Kind(name.str())] = Rate(*value, name.str());
                });
            }
        } else if (key == "script") {
            const auto* entries = node.as_array();
            if (!entries) {
                FileError(path, node, "script: expected an array of \"N:FAULT[=PARAM]\"");
            }
            for (const auto& entry : *entries) {
                const auto text = entry.value_exact<std::string>();
                if (!text) {
                    FileError(path, entry, "script: expected \"N:FAULT[=PARAM]\"");
                }
                At(path, entry, [&] {
                    for (const auto& [n, fault] : ParseFaultScript(*text)) {
                        faults.script[n] = fault;
                    }
                });
            }
        } else if (key == "late-ms") {
            faults.settings.lateMs = Setting(path, key, node, 0, kI32Max);
        } else if (key == "split-pieces") {
            faults.settings.splitPieces = Setting(path, key, node, 2, 64);
        } else if (key == "split-gap-ms") {
            faults.settings.splitGapMs = Setting(path, key, node, 0, kI32Max);
        } else if (key == "junk-bytes") {
            faults.settings.junkBytes = Setting(path, key, node, 1, 64);
        } else {
            FileError(path, node, "unknown key '" + key + "' in [faults]");
        }
    }
}

} // namespace

void LoadLineFile(const std::string& path, SimConfig& config) {
    if (!std::ifstream(path)) {
        throw LineError(path + ": cannot be read: " + std::strerror(errno));
    }
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw LineError(path + ":" + std::to_string(e.source().begin.line) + ": " +
                        std::string(e.description()));
    }
    for (const auto& [k, node] : root) {
        const std::string key(k.str());
        if (key == "checksum") {
            const auto value = node.value_exact<bool>();
            if (!value) {
                FileError(path, node, "checksum: expected true or false");
            }
            config.line.checksum = *value;
        } else if (key == "echo") {
            const auto value = node.value_exact<bool>();
            if (!value) {
                FileError(path, node, "echo: expected true or false");
            }
            config.line.echo = *value;
        } else if (key == "baud") {
            config.timing.baud = Setting(path, key, node, 0, 4000000);
        } else if (key == "turnaround-ms") {
            config.timing.turnaround =
                std::chrono::milliseconds(Setting(path, key, node, 0, 60000));
        } else if (key == "faults") {
            const auto* table = node.as_table();
            if (!table) {
                FileError(path, node, "faults: expected a table");
            }
            LoadFaults(path, *table, config.faults);
        } else if (key == "controller") {
            const auto* list = node.as_array();
            if (!list || !list->is_array_of_tables()) {
                FileError(path, node, "controller: expected [[controller]] tables");
            }
            for (const auto& entry : *list) {
                ControllerConfig controller;
                const auto& table = *entry.as_table();
                for (const auto& [ck, value] : table) {
                    const std::string ckey(ck.str());
                    const std::string text = AsText(path, ckey, value);
                    At(path, value, [&] { SetControllerKey(controller, ckey, text); });
                }
                if (!table.contains("serial")) {
                    controller.serial = static_cast<std::uint32_t>(controller.address);
                }
                config.line.controllers.push_back(controller);
            }
        } else {
            FileError(path, node, "unknown key '" + key + "'");
        }
    }
}

std::vector<ControllerConfig> DemoControllers() {
    std::vector<ControllerConfig> demo(3);
    auto& hopper = demo[0]; // a filling hopper, weights in hundredths
    hopper.address = 1;
    hopper.serial = 100001;
    hopper.decimals = 2;
    hopper.tare = 15000;
    hopper.motion = {20000, 0, 250000};
    hopper.counters = {17, 4200000, 3, 12345, 0, 0, 0, 0, 0, 0};
    hopper.outputs = 0x0101;
    hopper.points[0] = {1000, 240000};
    hopper.points[1] = {500, 2000};

    auto& belt = demo[1]; // a scale that swings below zero, tenths, one output byte
    belt.address = 2;
    belt.serial = 100002;
    belt.decimals = 1;
    belt.tare = 500;
    belt.motion = {12000, -300, 4500};
    belt.counters = {5, 99000, 0, 0, 0, 0, 0, 0, 0, 0};
    belt.inputs = 0x8000;
    belt.outputBytes = 1;
    belt.outputs = 0x05;
    belt.points[2] = {100, 4000};
    belt.state = 0x40;

    auto& tank = demo[2]; // whole units; addressed by its serial number
    tank.address = 3;
    tank.serial = 123456;
    tank.tare = 320;
    tank.motion = {30000, 50, 980};
    tank.counters = {250, 61000, 0, 7, 0, 0, 0, 0, 0, 0};
    tank.inputs = 0x0A50;
    tank.points[8] = {50, 950};
    return demo;
}

void CheckConfig(const SimConfig& config) {
    if (const auto problem = CheckLine(config.line)) {
        throw LineError(*problem);
    }
    if (const auto problem = CheckFaults(config.faults)) {
        throw LineError(*problem);
    }
}

} // namespace vemox::sim
