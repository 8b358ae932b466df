#include "host/config/ModbusSection.h"

#include "contract/Constants.h"
#include "host/config/ModbusMap.h"
#include "host/config/WritableList.h"

#include <set>

namespace vemox::host {
namespace {

// "127.0.0.1:1502", "0.0.0.0:502", "[::1]:1502".
void ReadListen(const ConfigReader& reader, const toml::table& table, ModbusConfig& modbus) {
    const auto text = reader.Text(table, "listen");
    if (!text) {
        return;
    }
    modbus.listen = *text;
    const auto fail = [&](const std::string& why) {
        reader.Fail(table.get("listen")->source(), "listen '" + modbus.listen + "': " + why);
    };
    const std::size_t colon = modbus.listen.rfind(':');
    if (colon == std::string::npos) {
        fail("give the address and the port, as \"127.0.0.1:1502\"");
    }
    std::string host = modbus.listen.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        fail("write an IPv6 address in brackets, as \"[::1]:1502\"");
    }
    if (host.empty()) {
        fail("names no address (0.0.0.0 listens on every one)");
    }
    const int port = PortNumber(std::string_view(modbus.listen).substr(colon + 1));
    if (port == 0) {
        fail("the port must be a number 1..65535");
    }
    modbus.host = host;
    modbus.port = port;
}

template <typename Choice>
Choice ReadChoice(const ConfigReader& reader, const toml::table& table, std::string_view key,
                  std::initializer_list<std::pair<std::string_view, Choice>> choices) {
    const auto text = reader.Text(table, key);
    std::string known;
    for (const auto& [name, choice] : choices) {
        if (!text || *text == name) {
            return choice;
        }
        known += (known.empty() ? "\"" : " or \"") + std::string(name) + "\"";
    }
    reader.Fail(table.get(key)->source(),
                std::string(key) + " must be " + known + ", not \"" + *text + "\"");
}

// A node's own unit_id, else its network address; nodes found by serial number take the
// lowest ids left.
void AssignUnits(const ConfigReader& reader, const toml::table& root, const HostConfig& config,
                 ModbusConfig& modbus) {
    const toml::array& sections = *root.get("node")->as_array();
    std::set<int> used;
    modbus.unitIds.assign(config.nodes.size(), 0);
    const auto take = [&](std::size_t n, int unit) {
        if (!used.insert(unit).second) {
            const toml::table& table = *sections[n].as_table();
            const toml::node* given = table.get("unit_id");
            reader.Fail(given ? given->source() : table.source(),
                        "node '" + config.nodes[n].name + "' takes Modbus unit " +
                            std::to_string(unit) + ", which another node has (give 'unit_id')");
        }
        modbus.unitIds[n] = unit;
    };
    for (std::size_t n = 0; n < config.nodes.size(); ++n) {
        const NodeConfig& node = config.nodes[n];
        if (node.unitId || node.useAddress) {
            take(n, node.unitId.value_or(node.address));
        }
    }
    for (std::size_t n = 0; n < config.nodes.size(); ++n) {
        if (modbus.unitIds[n] == 0) {
            int unit = kModbusFirstUnit;
            while (used.count(unit)) {
                ++unit;
            }
            if (unit > kModbusLastUnit) {
                reader.Fail(sections[n].source(),
                            "node '" + config.nodes[n].name + "' finds no free Modbus unit id");
            }
            take(n, unit);
        }
    }
}

} // namespace

std::optional<ModbusConfig> ReadModbusSection(const ConfigReader& reader, const toml::table& root,
                                              const HostConfig& config) {
    const toml::table* table = reader.Section(root, "modbus");
    if (!table) {
        return std::nullopt;
    }
    reader.OnlyKeys(
        *table, "[modbus]",
        {"listen", "max_clients", "idle_timeout_s", "word_order", "format", "writable"});
    ModbusConfig modbus;
    ReadListen(reader, *table, modbus);
    modbus.maxClients = reader.Integer(*table, "max_clients", 1, kModbusMostClients)
                            .value_or(kModbusDefaultMaxClients);
    modbus.idleTimeoutS =
        reader.Integer(*table, "idle_timeout_s", 1, kModbusMostIdleS).value_or(kModbusDefaultIdleS);
    modbus.wordOrder = ReadChoice<ModbusWordOrder>(
        reader, *table, "word_order",
        {{"big", ModbusWordOrder::Big}, {"little", ModbusWordOrder::Little}});
    modbus.format = ReadChoice<ModbusFormat>(
        reader, *table, "format",
        {{"float32", ModbusFormat::Float32}, {"int32", ModbusFormat::Int32}});
    modbus.writable = ReadWritableList(reader, *table, config.items);
    if (!config.nodes.empty()) {
        AssignUnits(reader, root, config, modbus);
    }
    // The map is built once here to refuse a clash with its line; the server builds it again.
    HostConfig withModbus = config;
    withModbus.modbus = modbus;
    try {
        BuildModbusMap(withModbus);
    } catch (const ModbusMapClash& clash) {
        const toml::table& item = *(*root.get("item")->as_array())[clash.Item()].as_table();
        const toml::node* given = item.get("modbus");
        reader.Fail(given ? given->source() : item.source(), clash.what());
    }
    return modbus;
}

} // namespace vemox::host
