#include "host/gateway/modbus/ModbusMapCommand.h"

#include "host/config/LinkFigureNames.h"
#include "host/config/ModbusMap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <memory>
#include <tuple>

namespace vemox::host {
namespace {

using Row = std::array<std::string, 8>;
const Row kHeader = {"item", "unit", "table", "address", "type", "word order", "scale", "writable"};

std::string ScaleText(int decimals) {
    return decimals == 0 ? "1" : "1e-" + std::to_string(decimals);
}

std::vector<Row> Rows(const HostConfig& config) {
    const ModbusConfig& modbus = *config.modbus;
    const char* order = modbus.wordOrder == ModbusWordOrder::Big ? "big" : "little";
    std::vector<Row> rows;
    for (const ModbusEntry& entry : BuildModbusMap(config)) {
        const bool word = IsRegisterTable(entry.table);
        rows.push_back({config.items[entry.item].FullName(), std::to_string(entry.unit),
                        ModbusTableName(entry.table), std::to_string(entry.address),
                        ModbusTypeName(entry.type), word ? order : "-",
                        word ? ScaleText(entry.decimals) : "-", entry.writable ? "yes" : "no"});
    }
    for (std::size_t n = 0; n < config.nodes.size(); ++n) {
        int address = kModbusDiagnosticsAddress;
        for (const LinkFigure figure : kModbusDiagnostics) {
            rows.push_back({config.nodes[n].name + ".$" + std::string(LinkFigureKey(figure)),
                            std::to_string(modbus.unitIds[n]),
                            ModbusTableName(ModbusTable::InputRegisters), std::to_string(address),
                            ModbusTypeName(ModbusType::Uint32), order, "1", "no"});
            address += kModbusRegistersPerValue;
        }
    }
    // By unit, table and address, as a SCADA engineer reads a map.
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        const auto key = [](const Row& r) {
            return std::tuple(std::stoi(r[1]), r[2], std::stoi(r[3]));
        };
        return key(a) < key(b);
    });
    return rows;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// Characters as a terminal shows them, not bytes: node and item names may be Cyrillic.
std::size_t Shown(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

std::string ModbusMapText(const HostConfig& config, bool csv) {
    std::vector<Row> rows = Rows(config);
    rows.insert(rows.begin(), kHeader);
    std::string text;
    if (csv) {
        for (const Row& row : rows) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                text += (i ? "," : "") + CsvField(row[i]);
            }
            text += "\n";
        }
        return text;
    }
    std::array<std::size_t, std::tuple_size<Row>::value> widths{};
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], Shown(row[i]));
        }
    }
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line +=
                row[i] + std::string(i + 1 < row.size() ? widths[i] - Shown(row[i]) + 2 : 0, ' ');
        }
        text += line + "\n";
    }
    return text;
}

void AddModbusMapCommand(CLI::App& app, CommandAction& chosen) {
    struct Choice {
        std::string config;
        bool csv = false;
    };
    const auto choice = std::make_shared<Choice>();
    CLI::App* command =
        app.add_subcommand("modbus-map", "print where each item stands for Modbus TCP clients");
    command->add_option("CONFIG", choice->config, "the configuration file, with a [modbus] section")
        ->required();
    command->add_flag("--csv", choice->csv, "CSV with a header row, for a SCADA package");
    command->footer("Example:\n  vemox-host modbus-map plant.toml --csv > plant-modbus.csv");
    command->callback([choice, &chosen] {
        chosen = [choice] {
            const HostConfig config = LoadHostConfig(choice->config);
            if (!config.modbus) {
                std::cerr << "vemox-host: " << choice->config
                          << ": no [modbus] section, so no Modbus map\n";
                return kExitCannotStart;
            }
            std::cout << ModbusMapText(config, choice->csv);
            return kExitOk;
        };
    });
}

} // namespace vemox::host
