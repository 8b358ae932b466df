#include "host/config/HostConfig.h"

#include "host/config/LinkFigureNames.h"

#include "contract/Constants.h"
#include "host/config/ConfigReader.h"
#include "host/config/ModbusSection.h"
#include "host/config/MqttSection.h"
#include "platform/Text.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

namespace vemox::host {
namespace {

constexpr int kPortCount = 100; // the driver carries port numbers 0 to 99
constexpr int kMinAddress = 1;
constexpr int kMaxAddress = 159;
constexpr std::int64_t kMaxSerial = 999999;
constexpr std::int64_t kMaxScanSeconds = 9999; // the pages' limit

void ReadPort(const ConfigReader& reader, const toml::table& table, HostConfig& config);
void ReadNode(const ConfigReader& reader, const toml::table& table, HostConfig& config);
void ReadItem(const ConfigReader& reader, const toml::table& table, std::set<std::string>& names,
              HostConfig& config);

void ReadDriver(const ConfigReader& reader, const toml::table& root, HostConfig& config) {
    // Start from the driver's own defaults, so the pairs always describe every setting.
    config.driverSettings = {{kKeyWaitTimeout, u"3000"},
                             {kKeyCountTry, u"3"},
                             {kKeyTimeNextSend, u"60000"},
                             {kKeyCalcCRC, kTextTrue}};
    const toml::node* node = root.get("driver");
    if (!node) {
        return;
    }
    const toml::table* table = node->as_table();
    if (!table) {
        reader.Fail(node->source(), "'driver' must be a [driver] section");
    }
    reader.OnlyKeys(*table, "[driver]", {"WaitTimeout", "CountTry", "TimeNextSend", "CalcCRC"});
    const std::int64_t int32Max = 2147483647;
    const auto setText = [&](std::u16string_view key, std::u16string value) {
        for (auto& pair : config.driverSettings) {
            if (pair.first == key) {
                pair.second = std::move(value);
            }
        }
    };
    if (auto v = reader.Integer(*table, "WaitTimeout", 1, int32Max)) {
        setText(kKeyWaitTimeout, platform::DecimalText(*v));
    }
    if (auto v = reader.Integer(*table, "CountTry", 1, 255)) {
        setText(kKeyCountTry, platform::DecimalText(*v));
    }
    if (auto v = reader.Integer(*table, "TimeNextSend", 0, int32Max)) {
        setText(kKeyTimeNextSend, platform::DecimalText(*v));
    }
    if (const toml::node* crc = table->get("CalcCRC")) {
        if (!crc->is_boolean()) {
            reader.Fail(crc->source(), "'CalcCRC' must be true or false");
        }
        setText(kKeyCalcCRC, crc->value_or(true) ? kTextTrue : kTextFalse);
    }
}

void ReadHostTiming(const ConfigReader& reader, const toml::table& root, HostConfig& config) {
    const toml::node* node = root.get("host");
    if (!node) {
        return;
    }
    const toml::table* table = node->as_table();
    if (!table) {
        reader.Fail(node->source(), "'host' must be a [host] section");
    }
    reader.OnlyKeys(*table, "[host]", {"execute_ms", "reply_gap_ms", "reopen_ms"});
    if (auto v = reader.Integer(*table, "execute_ms", 1, 1000)) {
        config.timing.executePeriodMs = *v;
    }
    if (auto v = reader.Integer(*table, "reply_gap_ms", 1, 10000)) {
        config.timing.replyGapMs = *v;
    }
    if (auto v = reader.Integer(*table, "reopen_ms", 10, 3600000)) {
        config.timing.reopenMs = *v;
    }
}

void ReadPorts(const ConfigReader& reader, const toml::table& root, HostConfig& config) {
    const toml::array* sections = reader.Sections(root, "port");
    if (!sections) {
        return;
    }
    for (const toml::node& element : *sections) {
        reader.Collect([&] { ReadPort(reader, *element.as_table(), config); });
    }
}

void ReadPort(const ConfigReader& reader, const toml::table& table, HostConfig& config) {
    reader.OnlyKeys(table, "[[port]]",
                    {"name", "device", "baud", "data_bits", "parity", "stop_bits"});
    const std::string name = reader.RequiredText(table, "name", "[[port]]");
    const int number = PortNumberOfName(name);
    if (number < 0) {
        reader.Fail(table.get("name")->source(), "port name '" + name + "' is not COM1 to COM100");
    }
    if (config.FindPort(number)) {
        reader.Fail(table.get("name")->source(), "port " + name + " is defined twice");
    }
    // Known by its name from here on, so that its nodes are not refused for its other faults.
    PortConfig& port = config.ports.emplace_back();
    port.name = name;
    port.number = number;
    port.device = reader.Text(table, "device").value_or("");
    if (table.get("device") && port.device.empty()) {
        reader.Fail(table.get("device")->source(),
                    "'device' is empty: name the device, or leave the key out for the "
                    "system's device of " +
                        port.name);
    }
    port.line.baud =
        static_cast<std::uint32_t>(reader.Integer(table, "baud", 1200, 230400).value_or(9600));
    if (!BaudRateSupported(port.line.baud)) {
        reader.Fail(table.get("baud")->source(),
                    "baud = " + std::to_string(port.line.baud) +
                        " cannot be set on this system's serial ports");
    }
    port.line.dataBits = static_cast<int>(reader.Integer(table, "data_bits", 5, 8).value_or(8));
    port.line.stopBits = static_cast<int>(reader.Integer(table, "stop_bits", 1, 2).value_or(1));
    const std::string parity = reader.Text(table, "parity").value_or("none");
    if (parity == "none") {
        port.line.parity = 'N';
    } else if (parity == "even") {
        port.line.parity = 'E';
    } else if (parity == "odd") {
        port.line.parity = 'O';
    } else {
        reader.Fail(table.get("parity")->source(),
                    "parity must be \"none\", \"even\" or \"odd\", not \"" + parity + "\"");
    }
}

void ReadNodes(const ConfigReader& reader, const toml::table& root, HostConfig& config) {
    const toml::array* sections = reader.Sections(root, "node");
    if (!sections) {
        return;
    }
    for (const toml::node& element : *sections) {
        reader.Collect([&] { ReadNode(reader, *element.as_table(), config); });
    }
}

void ReadNode(const ConfigReader& reader, const toml::table& table, HostConfig& config) {
    reader.OnlyKeys(
        table, "[[node]]",
        {"name", "port", "address", "serial", "scan_rate", "description", "unit_id", "decimals"});
    const std::string name = reader.RequiredText(table, "name", "[[node]]");
    if (name.find('.') != std::string::npos) {
        reader.Fail(table.get("name")->source(), "a node name may not contain '.'");
    }
    if (config.FindNode(name)) {
        reader.Fail(table.get("name")->source(), "node '" + name + "' is defined twice");
    }
    // Known by its name from here on, so that its items are not refused for its other faults.
    NodeConfig& node = config.nodes.emplace_back();
    node.name = name;
    const std::string portName = reader.RequiredText(table, "port", "[[node]]");
    node.portNumber = PortNumberOfName(portName);
    if (node.portNumber < 0 || !config.FindPort(node.portNumber)) {
        reader.Fail(table.get("port")->source(), "node '" + node.name + "' names port '" +
                                                     portName +
                                                     "', which no [[port]] section defines");
    }
    const auto address = reader.Integer(table, "address", kMinAddress, kMaxAddress);
    const auto serial = reader.Integer(table, "serial", 0, kMaxSerial);
    if (address.has_value() == serial.has_value()) {
        reader.Fail(table.source(), "node '" + node.name +
                                        "' needs exactly one of 'address' (1..159) and "
                                        "'serial' (0..999999)");
    }
    node.useAddress = address.has_value();
    node.address = static_cast<int>(address.value_or(kMinAddress));
    node.serial = static_cast<std::uint32_t>(serial.value_or(0));
    node.scanSeconds = static_cast<std::int32_t>(
        reader.Integer(table, "scan_rate", 0, kMaxScanSeconds).value_or(1));
    node.description = reader.Text(table, "description").value_or("");
    if (auto unit = reader.Integer(table, "unit_id", kModbusFirstUnit, kModbusLastUnit)) {
        node.unitId = static_cast<int>(*unit);
    }
    node.decimals =
        static_cast<int>(reader.Integer(table, "decimals", 0, kModbusMostDecimals).value_or(0));
}

// The parameter an operation needs, as the item section names it.
struct ParameterRule {
    Operation operation;
    std::string_view key;
    int high;
};
constexpr ParameterRule kParameterRules[] = {
    {Operation::Counter, "counter", 9},
    {Operation::DigitalInputs, "input", 15},
    {Operation::DigitalOutputs, "output", 15},
    {Operation::WeightPoints, "point", 8},
    {Operation::State, "bit", 7},
};

// A diagnostic item names the figure it reads: `counter = "no_answer"`, or the caption the item
// page lists ("Нет ответа").
constexpr std::string_view kLinkFigureKey = "counter";

int ReadLinkFigure(const ConfigReader& reader, const toml::table& table, const std::string& item) {
    const std::string name = reader.Text(table, kLinkFigureKey).value_or("");
    if (const auto figure = LinkFigureByName(name)) {
        return static_cast<int>(*figure);
    }
    std::string known;
    for (int i = 0; i < kLinkFigureCount; ++i) {
        known +=
            std::string(i ? ", " : "") + std::string(LinkFigureKey(static_cast<LinkFigure>(i)));
    }
    const toml::node* given = table.get(kLinkFigureKey);
    reader.Fail(given ? given->source() : table.source(), "item '" + item +
                                                              "' needs counter = one of " + known +
                                                              " (or the figure's caption)");
    return 0;
}

void ReadItems(const ConfigReader& reader, const toml::table& root, HostConfig& config) {
    const toml::array* sections = reader.Sections(root, "item");
    if (!sections) {
        return;
    }
    std::set<std::string> names;
    for (const toml::node& element : *sections) {
        reader.Collect([&] { ReadItem(reader, *element.as_table(), names, config); });
    }
}

void ReadItem(const ConfigReader& reader, const toml::table& table, std::set<std::string>& names,
              HostConfig& config) {
    reader.OnlyKeys(table, "[[item]]",
                    {"node", "name", "operation", "counter", "input", "output", "point", "level",
                     "bit", "scan_rate", "description", "modbus"});
    ItemConfig item;
    item.node = reader.RequiredText(table, "node", "[[item]]");
    item.name = reader.RequiredText(table, "name", "[[item]]");
    if (!config.FindNode(item.node)) {
        reader.Fail(table.get("node")->source(), "item '" + item.name + "' names node '" +
                                                     item.node +
                                                     "', which no [[node]] section defines");
    }
    if (!names.insert(item.FullName()).second) {
        reader.Fail(table.get("name")->source(), "item '" + item.FullName() + "' is defined twice");
    }
    const std::string caption = reader.RequiredText(table, "operation", "[[item]]");
    item.operation = FindOperation(platform::Utf8ToUtf16(caption));
    if (!item.operation) {
        std::string known;
        for (int i = 0; i < kOperationCount; ++i) {
            known += (i ? ", \"" : "\"") + platform::Utf16ToUtf8(OperationAt(i).caption) + "\"";
        }
        reader.Fail(table.get("operation")->source(),
                    "unknown operation \"" + caption + "\"; the operations are " + known);
    }
    const bool diagnostic = item.operation->operation == Operation::LinkDiagnostics;
    if (diagnostic) {
        item.parameter = ReadLinkFigure(reader, table, item.FullName());
    }
    // Exactly the parameter the operation uses, so that a value meant for another
    // operation is not silently ignored.
    for (const ParameterRule& rule : kParameterRules) {
        if (diagnostic && std::string_view(rule.key) == kLinkFigureKey) {
            continue; // a diagnostic item names its figure with the same key
        }
        const bool wanted = rule.operation == item.operation->operation;
        const toml::node* given = table.get(rule.key);
        if (wanted) {
            const auto value = reader.Integer(table, rule.key, 0, rule.high);
            if (!value) {
                reader.Fail(table.source(), "item '" + item.FullName() + "' needs '" +
                                                std::string(rule.key) + "' (0.." +
                                                std::to_string(rule.high) + ")");
            }
            item.parameter = static_cast<int>(*value);
        } else if (given) {
            reader.Fail(given->source(), "'" + std::string(rule.key) +
                                             "' does not belong to the operation \"" + caption +
                                             "\"");
        }
    }
    const toml::node* level = table.get("level");
    if (item.operation->operation == Operation::WeightPoints) {
        const std::string text = reader.Text(table, "level").value_or("");
        if (text != "lower" && text != "upper") {
            reader.Fail(level ? level->source() : table.source(),
                        "item '" + item.FullName() + "' needs level = \"lower\" or \"upper\"");
        }
        item.level = text == "upper" ? 1 : 0;
    } else if (level) {
        reader.Fail(level->source(), "'level' belongs to weight points only");
    }
    if (auto seconds = reader.Integer(table, "scan_rate", 0, kMaxScanSeconds)) {
        item.scanSeconds = static_cast<std::int32_t>(*seconds);
    }
    item.description = reader.Text(table, "description").value_or("");
    if (auto address = reader.Integer(table, "modbus", 0, kModbusLastAddress)) {
        item.modbusAddress = static_cast<int>(*address);
    }
    config.items.push_back(std::move(item));
}

} // namespace

const PortConfig* HostConfig::FindPort(int number) const {
    for (const auto& port : ports) {
        if (port.number == number) {
            return &port;
        }
    }
    return nullptr;
}

const NodeConfig* HostConfig::FindNode(const std::string& name) const {
    for (const auto& node : nodes) {
        if (node.name == name) {
            return &node;
        }
    }
    return nullptr;
}

bool HostConfig::ChecksumOn() const {
    for (const auto& [key, value] : driverSettings) {
        if (key == kKeyCalcCRC) {
            return value == kTextTrue;
        }
    }
    return true;
}

std::vector<std::string> HostConfig::Gateways() const {
    std::vector<std::string> names;
    if (mqtt) {
        names.emplace_back("mqtt");
    }
    if (modbus) {
        names.emplace_back("modbus");
    }
    return names;
}

int PortNumberOfName(std::string_view name) {
    if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "COM") {
        return -1;
    }
    int number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return -1;
        }
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= kPortCount ? number - 1 : -1;
}

HostConfig ParseHostConfig(std::string_view text, const std::string& fileName) {
    const ConfigReader reader(fileName);
    toml::table root;
    try {
        root = toml::parse(text, fileName);
    } catch (const toml::parse_error& error) {
        reader.Fail(error.source(), std::string(error.description()));
    }
    reader.Collect([&] {
        reader.OnlyKeys(root, "the file",
                        {"driver", "host", "port", "node", "item", "mqtt", "modbus"});
    });
    HostConfig config;
    config.file = fileName;
    reader.Collect([&] { ReadDriver(reader, root, config); });
    reader.Collect([&] { ReadHostTiming(reader, root, config); });
    reader.Collect([&] { ReadPorts(reader, root, config); });
    reader.Collect([&] { ReadNodes(reader, root, config); });
    reader.Collect([&] { ReadItems(reader, root, config); });
    reader.Collect([&] { config.mqtt = ReadMqttSection(reader, root, config.items); });
    reader.Collect([&] { config.modbus = ReadModbusSection(reader, root, config); });
    reader.ThrowCollected();
    return config;
}

HostConfig LoadHostConfig(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        throw ConfigError(path + ": is a directory, not a configuration file");
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        throw ConfigError(path + ": " + std::strerror(errno));
    }
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, got);
    }
    if (std::ferror(file.get())) {
        throw ConfigError(path + ": cannot be read");
    }
    return ParseHostConfig(text, path);
}

} // namespace vemox::host
